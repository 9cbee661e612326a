#include "remote_window.h"

#include <algorithm>
#include <functional>

namespace kestrane::wintest {

namespace {
constexpr std::size_t kMemSize = 1 << 20;
constexpr std::size_t kTextOffset = 4096;
constexpr int kTextChars = 32768;

HWND Header(HWND lv) { return reinterpret_cast<HWND>(SendMessageW(lv, LVM_GETHEADER, 0, 0)); }
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

template <class T>
LRESULT RemoteProcess::send(HWND w, UINT msg, WPARAM wp, T& data) {
    SIZE_T done = 0;
    WriteProcessMemory(process_, mem_, &data, sizeof data, &done);
    const LRESULT r = SendMessageW(w, msg, wp, reinterpret_cast<LPARAM>(mem_));
    ReadProcessMemory(process_, mem_, &data, sizeof data, &done);
    return r;
}

wchar_t* RemoteProcess::textBuffer() const { return reinterpret_cast<wchar_t*>(static_cast<char*>(mem_) + kTextOffset); }

std::string RemoteProcess::text(std::size_t chars) const {
    std::wstring t(chars, L'\0');
    SIZE_T done = 0;
    ReadProcessMemory(process_, textBuffer(), t.data(), chars * sizeof(wchar_t), &done);
    t.resize(wcsnlen(t.c_str(), chars));
    return Utf8(t);
}

std::string RemoteProcess::listCell(HWND lv, int row, int column) {
    LVITEMW item{};
    item.iSubItem = column;
    item.pszText = textBuffer();
    item.cchTextMax = kTextChars;
    const LRESULT n = send(lv, LVM_GETITEMTEXTW, static_cast<WPARAM>(row), item);
    return n > 0 ? text(static_cast<std::size_t>(n)) : "";
}

std::vector<std::vector<std::string>> RemoteProcess::listRows(HWND lv) {
    std::vector<std::vector<std::string>> rows(static_cast<std::size_t>(listCount(lv)));
    const int columns = std::max(static_cast<int>(SendMessageW(Header(lv), HDM_GETITEMCOUNT, 0, 0)), 1);
    for (std::size_t r = 0; r < rows.size(); ++r)
        for (int c = 0; c < columns; ++c) rows[r].push_back(listCell(lv, static_cast<int>(r), c));
    return rows;
}

std::vector<std::string> RemoteProcess::headerCaptions(HWND lv) {
    std::vector<std::string> out;
    const int n = static_cast<int>(SendMessageW(Header(lv), HDM_GETITEMCOUNT, 0, 0));
    for (int i = 0; i < n; ++i) {
        HDITEMW hd{};
        hd.mask = HDI_TEXT;
        hd.pszText = textBuffer();
        hd.cchTextMax = kTextChars;
        send(Header(lv), HDM_GETITEMW, static_cast<WPARAM>(i), hd);
        out.push_back(text(1024));
    }
    return out;
}

int RemoteProcess::headerArrow(HWND lv, int column) {
    HDITEMW hd{};
    hd.mask = HDI_FORMAT;
    send(Header(lv), HDM_GETITEMW, static_cast<WPARAM>(column), hd);
    return (hd.fmt & HDF_SORTUP) ? 1 : (hd.fmt & HDF_SORTDOWN) ? -1 : 0;
}

void RemoteProcess::clickHeader(HWND lv, int column) {
    HWND header = Header(lv);
    auto middle = [&] {
        RECT rc{};
        send(header, HDM_GETITEMRECT, static_cast<WPARAM>(column), rc);
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
    send(lv, LVM_SETITEMSTATE, static_cast<WPARAM>(-1), item);
    for (int r : rows) {
        item.state = LVIS_SELECTED | LVIS_FOCUSED;
        send(lv, LVM_SETITEMSTATE, static_cast<WPARAM>(r), item);
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
    it.mask = TVIF_TEXT;
    it.hItem = item;
    it.pszText = textBuffer();
    it.cchTextMax = kTextChars;
    send(tv, TVM_GETITEMW, 0, it);
    return text(1024);
}

std::vector<RemoteProcess::TreeItem> RemoteProcess::treeItems(HWND tv) {
    std::vector<TreeItem> out;
    std::function<void(HTREEITEM)> walk = [&](HTREEITEM first) {
        for (HTREEITEM i = first; i; i = TreeView_GetNextSibling(tv, i)) {
            out.push_back({i, treeText(tv, i)});
            walk(TreeView_GetChild(tv, i));
        }
    };
    walk(TreeView_GetRoot(tv));
    return out;
}

std::string RemoteProcess::statusText(HWND sb, int pane) {
    // An empty pane writes nothing: the buffer starts empty.
    wchar_t none = 0;
    SIZE_T done = 0;
    WriteProcessMemory(process_, textBuffer(), &none, sizeof none, &done);
    SendMessageW(sb, SB_GETTEXTW, static_cast<WPARAM>(pane), reinterpret_cast<LPARAM>(textBuffer()));
    return text(1024);
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
