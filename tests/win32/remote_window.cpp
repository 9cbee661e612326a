#include "remote_window.h"

#include <algorithm>

namespace kestrane::wintest {

namespace {
constexpr std::size_t kMemSize = 1 << 20;
constexpr std::size_t kTextOffset = 4096;
constexpr int kTextChars = 32768;
}  // namespace

std::string Utf8(const std::wstring& w) {
    if (w.empty()) return {};
    int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr, 0, nullptr, nullptr);
    std::string s(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), s.data(), n, nullptr, nullptr);
    return s;
}

std::wstring Wide(const std::string& s) {
    if (s.empty()) return {};
    int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
    std::wstring w(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), w.data(), n);
    return w;
}

RemoteProcess::RemoteProcess(DWORD pid) {
    process_ = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE | PROCESS_QUERY_INFORMATION,
                           FALSE, pid);
    if (process_) mem_ = VirtualAllocEx(process_, nullptr, kMemSize, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
}

RemoteProcess::~RemoteProcess() {
    if (mem_) VirtualFreeEx(process_, mem_, 0, MEM_RELEASE);
    if (process_) CloseHandle(process_);
}

void RemoteProcess::write(std::size_t offset, const void* data, std::size_t size) {
    SIZE_T done = 0;
    WriteProcessMemory(process_, at(offset), data, size, &done);
}

void RemoteProcess::read(std::size_t offset, void* data, std::size_t size) const {
    SIZE_T done = 0;
    ReadProcessMemory(process_, at(offset), data, size, &done);
}

int RemoteProcess::listCount(HWND lv) const { return static_cast<int>(SendMessageW(lv, LVM_GETITEMCOUNT, 0, 0)); }

int RemoteProcess::columnCount(HWND lv) const {
    HWND header = reinterpret_cast<HWND>(SendMessageW(lv, LVM_GETHEADER, 0, 0));
    return header ? static_cast<int>(SendMessageW(header, HDM_GETITEMCOUNT, 0, 0)) : 0;
}

std::string RemoteProcess::listCell(HWND lv, int row, int column) {
    LVITEMW item{};
    item.iSubItem = column;
    item.pszText = reinterpret_cast<LPWSTR>(at(kTextOffset));
    item.cchTextMax = kTextChars;
    write(0, &item, sizeof item);
    const LRESULT n = SendMessageW(lv, LVM_GETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(at(0)));
    std::wstring text(static_cast<std::size_t>(std::max<LRESULT>(n, 0)), L'\0');
    if (n > 0) read(kTextOffset, text.data(), static_cast<std::size_t>(n) * sizeof(wchar_t));
    return Utf8(text);
}

std::vector<std::vector<std::string>> RemoteProcess::listRows(HWND lv, int maxRows) {
    std::vector<std::vector<std::string>> rows;
    const int n = std::min(listCount(lv), maxRows), cols = std::max(columnCount(lv), 1);
    for (int r = 0; r < n; ++r) {
        std::vector<std::string> cells;
        for (int c = 0; c < cols; ++c) cells.push_back(listCell(lv, r, c));
        rows.push_back(std::move(cells));
    }
    return rows;
}

std::vector<std::string> RemoteProcess::headerCaptions(HWND lv) {
    HWND header = reinterpret_cast<HWND>(SendMessageW(lv, LVM_GETHEADER, 0, 0));
    std::vector<std::string> out;
    for (int i = 0; i < columnCount(lv); ++i) {
        HDITEMW hd{};
        hd.mask = HDI_TEXT;
        hd.pszText = reinterpret_cast<LPWSTR>(at(kTextOffset));
        hd.cchTextMax = kTextChars;
        write(0, &hd, sizeof hd);
        SendMessageW(header, HDM_GETITEMW, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(at(0)));
        std::wstring text(1024, L'\0');
        read(kTextOffset, text.data(), text.size() * sizeof(wchar_t));
        text.resize(wcsnlen(text.c_str(), text.size()));
        out.push_back(Utf8(text));
    }
    return out;
}

int RemoteProcess::headerArrow(HWND lv, int column) {
    HWND header = reinterpret_cast<HWND>(SendMessageW(lv, LVM_GETHEADER, 0, 0));
    HDITEMW hd{};
    hd.mask = HDI_FORMAT;
    write(0, &hd, sizeof hd);
    SendMessageW(header, HDM_GETITEMW, static_cast<WPARAM>(column), reinterpret_cast<LPARAM>(at(0)));
    read(0, &hd, sizeof hd);
    return (hd.fmt & HDF_SORTUP) ? 1 : (hd.fmt & HDF_SORTDOWN) ? -1 : 0;
}

void RemoteProcess::clickHeader(HWND lv, int column) {
    HWND header = reinterpret_cast<HWND>(SendMessageW(lv, LVM_GETHEADER, 0, 0));
    auto middle = [&] {
        RECT rc{};
        write(0, &rc, sizeof rc);
        SendMessageW(header, HDM_GETITEMRECT, static_cast<WPARAM>(column), reinterpret_cast<LPARAM>(at(0)));
        read(0, &rc, sizeof rc);
        POINT p{(rc.left + rc.right) / 2, (rc.top + rc.bottom) / 2};
        MapWindowPoints(header, lv, &p, 1);
        return p;
    };
    // A header beyond the list's edge takes no click: scroll to it first, as
    // a user would.
    RECT client;
    GetClientRect(lv, &client);
    POINT p = middle();
    if (p.x < 0 || p.x >= client.right) {
        SendMessageW(lv, LVM_SCROLL, static_cast<WPARAM>(p.x - client.right / 2), 0);
        p = middle();
    }
    MapWindowPoints(lv, header, &p, 1);
    const LPARAM point = MAKELPARAM(p.x, p.y);
    SendMessageW(header, WM_MOUSEMOVE, 0, point);
    SendMessageW(header, WM_LBUTTONDOWN, MK_LBUTTON, point);
    SendMessageW(header, WM_LBUTTONUP, 0, point);
}

void RemoteProcess::selectRows(HWND lv, const std::vector<int>& rows) {
    LVITEMW item{};
    item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    item.state = 0;
    write(0, &item, sizeof item);
    SendMessageW(lv, LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(at(0)));
    for (int r : rows) {
        item.state = LVIS_SELECTED | LVIS_FOCUSED;
        write(0, &item, sizeof item);
        SendMessageW(lv, LVM_SETITEMSTATE, static_cast<WPARAM>(r), reinterpret_cast<LPARAM>(at(0)));
    }
}

std::vector<int> RemoteProcess::selectedRows(HWND lv) const {
    std::vector<int> out;
    int i = -1;
    while ((i = static_cast<int>(SendMessageW(lv, LVM_GETNEXTITEM, static_cast<WPARAM>(i), LVNI_SELECTED))) >= 0)
        out.push_back(i);
    return out;
}

std::string RemoteProcess::treeText(HWND tv, HTREEITEM item) {
    TVITEMW it{};
    it.mask = TVIF_TEXT | TVIF_PARAM;
    it.hItem = item;
    it.pszText = reinterpret_cast<LPWSTR>(at(kTextOffset));
    it.cchTextMax = kTextChars;
    write(0, &it, sizeof it);
    SendMessageW(tv, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(at(0)));
    std::wstring text(1024, L'\0');
    read(kTextOffset, text.data(), text.size() * sizeof(wchar_t));
    text.resize(wcsnlen(text.c_str(), text.size()));
    return Utf8(text);
}

std::vector<RemoteProcess::TreeItem> RemoteProcess::treeItems(HWND tv) {
    std::vector<TreeItem> out;
    auto next = [tv](HTREEITEM i, WPARAM how) {
        return reinterpret_cast<HTREEITEM>(SendMessageW(tv, TVM_GETNEXTITEM, how, reinterpret_cast<LPARAM>(i)));
    };
    // Depth-first, children in order.
    std::vector<std::pair<HTREEITEM, int>> stack;
    for (HTREEITEM i = next(nullptr, TVGN_ROOT); i; i = next(i, TVGN_NEXT)) stack.emplace_back(i, 0);
    std::reverse(stack.begin(), stack.end());
    while (!stack.empty()) {
        auto [item, depth] = stack.back();
        stack.pop_back();
        TVITEMW it{};
        it.mask = TVIF_PARAM;
        it.hItem = item;
        write(0, &it, sizeof it);
        SendMessageW(tv, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(at(0)));
        read(0, &it, sizeof it);
        out.push_back({item, treeText(tv, item), it.lParam, depth});
        std::vector<std::pair<HTREEITEM, int>> kids;
        for (HTREEITEM c = next(item, TVGN_CHILD); c; c = next(c, TVGN_NEXT)) kids.emplace_back(c, depth + 1);
        stack.insert(stack.end(), kids.rbegin(), kids.rend());
    }
    return out;
}

std::string RemoteProcess::statusText(HWND sb, int pane) {
    std::wstring zero(1024, L'\0');
    write(kTextOffset, zero.data(), zero.size() * sizeof(wchar_t));
    SendMessageW(sb, SB_GETTEXTW, static_cast<WPARAM>(pane), reinterpret_cast<LPARAM>(at(kTextOffset)));
    std::wstring text(1024, L'\0');
    read(kTextOffset, text.data(), text.size() * sizeof(wchar_t));
    text.resize(wcsnlen(text.c_str(), text.size()));
    return Utf8(text);
}

std::vector<HWND> TopWindows(DWORD pid, const wchar_t* className, const wchar_t* title) {
    struct Ctx {
        DWORD pid;
        const wchar_t *cls, *title;
        std::vector<HWND> out;
    } ctx{pid, className, title, {}};
    EnumWindows(
        [](HWND w, LPARAM lp) -> BOOL {
            auto* c = reinterpret_cast<Ctx*>(lp);
            DWORD owner = 0;
            GetWindowThreadProcessId(w, &owner);
            if (owner != c->pid || !IsWindowVisible(w)) return TRUE;
            wchar_t cls[64] = L"", title[256] = L"";
            GetClassNameW(w, cls, 64);
            GetWindowTextW(w, title, 256);
            if (wcscmp(cls, c->cls) == 0 && (!c->title || wcscmp(title, c->title) == 0))
                c->out.push_back(w);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&ctx));
    return ctx.out;
}

std::string WindowText(HWND w) {
    std::wstring text(4096, L'\0');
    int n = GetWindowTextW(w, text.data(), static_cast<int>(text.size()));
    text.resize(static_cast<std::size_t>(std::max(n, 0)));
    return Utf8(text);
}

std::string DialogText(HWND dlg) {
    std::string out;
    EnumChildWindows(
        dlg,
        [](HWND w, LPARAM lp) -> BOOL {
            wchar_t cls[32] = L"";
            GetClassNameW(w, cls, 32);
            if (_wcsicmp(cls, L"Static") == 0) {
                std::string t = WindowText(w);
                auto* s = reinterpret_cast<std::string*>(lp);
                if (!t.empty()) *s += (s->empty() ? "" : " ") + t;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&out));
    return out;
}

}  // namespace kestrane::wintest
