// Reading and driving another process's window from outside: list-view,
// tree-view, header and status-bar text through memory in that process, as
// neither Windows nor Wine copies those structures across processes.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <string>
#include <vector>

namespace kestrane::wintest {

std::string Utf8(const std::wstring& w);
std::wstring Wide(const std::string& s);

class RemoteProcess {
public:
    explicit RemoteProcess(DWORD pid);
    ~RemoteProcess();
    RemoteProcess(const RemoteProcess&) = delete;
    RemoteProcess& operator=(const RemoteProcess&) = delete;
    bool ok() const { return mem_ != nullptr; }

    int listCount(HWND lv) const { return static_cast<int>(SendMessageW(lv, LVM_GETITEMCOUNT, 0, 0)); }
    std::string listCell(HWND lv, int row, int column);
    std::vector<std::vector<std::string>> listRows(HWND lv);
    std::vector<std::string> headerCaptions(HWND lv);
    // The sort arrow a column's header shows: 1 up, -1 down, 0 none.
    int headerArrow(HWND lv, int column);
    // A left click on the middle of a column's header, as the mouse gives it.
    void clickHeader(HWND lv, int column);
    void selectRows(HWND lv, const std::vector<int>& rows);
    std::vector<int> selectedRows(HWND lv) const;

    struct TreeItem {
        HTREEITEM item;
        std::string text;
    };
    // Every item in tree order.
    std::vector<TreeItem> treeItems(HWND tv);
    std::string treeText(HWND tv, HTREEITEM item);
    std::string statusText(HWND sb, int pane);

private:
    // A message whose structure lives in the other process: written there,
    // sent, and read back.
    template <class T>
    LRESULT send(HWND w, UINT msg, WPARAM wp, T& data);
    // Text the other process wrote into its buffer, up to `chars` characters.
    std::string text(std::size_t chars) const;
    wchar_t* textBuffer() const;
    HANDLE process_ = nullptr;
    void* mem_ = nullptr;
};

// Visible top-level windows of a process by class (and exact title, when given).
std::vector<HWND> TopWindows(DWORD pid, const wchar_t* className, const wchar_t* title = nullptr);
std::string WindowText(HWND w);
// The texts of a dialog's static controls, joined by blanks.
std::string DialogText(HWND dlg);

}  // namespace kestrane::wintest
