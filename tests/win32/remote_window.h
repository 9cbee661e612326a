// Reading and driving another process's window from outside: list-view,
// tree-view, header and status-bar text through memory in that process, as
// neither Windows nor Wine copies those structures across processes.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

namespace kestrane::wintest {

inline std::string Utf8(const std::wstring& w) {
    if (w.empty()) return {};
    int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr, 0, nullptr, nullptr);
    std::string s(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), s.data(), n, nullptr, nullptr);
    return s;
}

inline std::wstring Wide(const std::string& s) {
    if (s.empty()) return {};
    int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
    std::wstring w(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), w.data(), n);
    return w;
}

class RemoteProcess {
public:
    explicit RemoteProcess(DWORD pid)
        : process_(OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE | PROCESS_QUERY_INFORMATION,
                               FALSE, pid)) {
        if (process_) mem_ = VirtualAllocEx(process_, nullptr, kMemSize, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    }
    ~RemoteProcess() {
        if (mem_) VirtualFreeEx(process_, mem_, 0, MEM_RELEASE);
        if (process_) CloseHandle(process_);
    }
    RemoteProcess(const RemoteProcess&) = delete;
    RemoteProcess& operator=(const RemoteProcess&) = delete;
    bool ok() const { return mem_ != nullptr; }

    int listCount(HWND lv) const { return static_cast<int>(SendMessageW(lv, LVM_GETITEMCOUNT, 0, 0)); }

    std::string listCell(HWND lv, int row, int column) {
        LVITEMW item{};
        item.iSubItem = column;
        item.pszText = textBuffer();
        item.cchTextMax = kTextChars;
        const LRESULT n = send(lv, LVM_GETITEMTEXTW, static_cast<WPARAM>(row), item);
        return n > 0 ? text(static_cast<std::size_t>(n)) : "";
    }

    std::vector<std::vector<std::string>> listRows(HWND lv) {
        std::vector<std::vector<std::string>> rows(static_cast<std::size_t>(listCount(lv)));
        const int columns = std::max(static_cast<int>(SendMessageW(Header(lv), HDM_GETITEMCOUNT, 0, 0)), 1);
        for (std::size_t r = 0; r < rows.size(); ++r)
            for (int c = 0; c < columns; ++c) rows[r].push_back(listCell(lv, static_cast<int>(r), c));
        return rows;
    }

    std::vector<std::string> headerCaptions(HWND lv) {
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

    // The sort arrow a column's header shows: 1 up, -1 down, 0 none.
    int headerArrow(HWND lv, int column) {
        HDITEMW hd{};
        hd.mask = HDI_FORMAT;
        send(Header(lv), HDM_GETITEMW, static_cast<WPARAM>(column), hd);
        return (hd.fmt & HDF_SORTUP) ? 1 : (hd.fmt & HDF_SORTDOWN) ? -1 : 0;
    }

    // A left click on the middle of a column's header, as the mouse gives it.
    void clickHeader(HWND lv, int column) {
        HWND header = Header(lv);
        auto middle = [&] {
            RECT rc{};
            send(header, HDM_GETITEMRECT, static_cast<WPARAM>(column), rc);
            POINT p{(rc.left + rc.right) / 2, (rc.top + rc.bottom) / 2};
            MapWindowPoints(header, lv, &p, 1);
            return p;
        };
        // A header beyond the list's edge takes no click: scroll to it first,
        // as a user would.
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

    POINT itemPosition(HWND lv, int row) {
        POINT p{-1, -1};
        send(lv, LVM_GETITEMPOSITION, static_cast<WPARAM>(row), p);
        return p;
    }

    void selectRows(HWND lv, const std::vector<int>& rows) {
        LVITEMW item{};
        item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
        send(lv, LVM_SETITEMSTATE, static_cast<WPARAM>(-1), item);
        for (int r : rows) {
            item.state = LVIS_SELECTED | LVIS_FOCUSED;
            send(lv, LVM_SETITEMSTATE, static_cast<WPARAM>(r), item);
        }
    }

    std::vector<int> selectedRows(HWND lv) const {
        std::vector<int> out;
        for (int i = -1; (i = static_cast<int>(SendMessageW(lv, LVM_GETNEXTITEM, static_cast<WPARAM>(i), LVNI_SELECTED))) >= 0;)
            out.push_back(i);
        return out;
    }

    struct TreeItem {
        HTREEITEM item;
        std::string text;
    };
    // Every item in tree order.
    std::vector<TreeItem> treeItems(HWND tv) {
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

    std::string treeText(HWND tv, HTREEITEM item) {
        TVITEMW it{};
        it.mask = TVIF_TEXT;
        it.hItem = item;
        it.pszText = textBuffer();
        it.cchTextMax = kTextChars;
        send(tv, TVM_GETITEMW, 0, it);
        return text(1024);
    }

    std::string statusText(HWND sb, int pane) {
        // An empty pane writes nothing: the buffer starts empty.
        wchar_t none = 0;
        SIZE_T done = 0;
        WriteProcessMemory(process_, textBuffer(), &none, sizeof none, &done);
        SendMessageW(sb, SB_GETTEXTW, static_cast<WPARAM>(pane), reinterpret_cast<LPARAM>(textBuffer()));
        return text(1024);
    }

private:
    static constexpr std::size_t kMemSize = 1 << 20, kTextOffset = 4096;
    static constexpr int kTextChars = 32768;

    static HWND Header(HWND lv) { return reinterpret_cast<HWND>(SendMessageW(lv, LVM_GETHEADER, 0, 0)); }

    // A message whose structure lives in the other process: written there,
    // sent, and read back.
    template <class T>
    LRESULT send(HWND w, UINT msg, WPARAM wp, T& data) {
        SIZE_T done = 0;
        WriteProcessMemory(process_, mem_, &data, sizeof data, &done);
        const LRESULT r = SendMessageW(w, msg, wp, reinterpret_cast<LPARAM>(mem_));
        ReadProcessMemory(process_, mem_, &data, sizeof data, &done);
        return r;
    }

    wchar_t* textBuffer() const { return reinterpret_cast<wchar_t*>(static_cast<char*>(mem_) + kTextOffset); }

    // Text the other process wrote into its buffer, up to `chars` characters.
    std::string text(std::size_t chars) const {
        std::wstring t(chars, L'\0');
        SIZE_T done = 0;
        ReadProcessMemory(process_, textBuffer(), t.data(), chars * sizeof(wchar_t), &done);
        t.resize(wcsnlen(t.c_str(), chars));
        return Utf8(t);
    }

    HANDLE process_ = nullptr;
    void* mem_ = nullptr;
};

// Visible top-level windows of a process by class (and exact title, when given).
inline std::vector<HWND> TopWindows(DWORD pid, const wchar_t* className, const wchar_t* title = nullptr) {
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
            if (wcscmp(cls, c->cls) == 0 && (!c->title || wcscmp(title, c->title) == 0)) c->out.push_back(w);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&ctx));
    return ctx.out;
}

inline std::string WindowText(HWND w) {
    std::wstring text(4096, L'\0');
    text.resize(static_cast<std::size_t>(std::max(GetWindowTextW(w, text.data(), static_cast<int>(text.size())), 0)));
    return Utf8(text);
}

// The texts of a dialog's static controls, joined by blanks.
inline std::string DialogText(HWND dlg) {
    std::string out;
    EnumChildWindows(
        dlg,
        [](HWND w, LPARAM lp) -> BOOL {
            wchar_t cls[32] = L"";
            GetClassNameW(w, cls, 32);
            auto* s = reinterpret_cast<std::string*>(lp);
            if (std::string t = WindowText(w); _wcsicmp(cls, L"Static") == 0 && !t.empty())
                *s += (s->empty() ? "" : " ") + t;
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&out));
    return out;
}

}  // namespace kestrane::wintest
