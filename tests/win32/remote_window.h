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

    int listCount(HWND lv) const;
    int columnCount(HWND lv) const;
    std::string listCell(HWND lv, int row, int column);
    std::vector<std::vector<std::string>> listRows(HWND lv, int maxRows = 100000);
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
        LPARAM param;
        int depth;
    };
    // Every item in tree order.
    std::vector<TreeItem> treeItems(HWND tv);
    std::string treeText(HWND tv, HTREEITEM item);
    std::string statusText(HWND sb, int pane);

private:
    void write(std::size_t offset, const void* data, std::size_t size);
    void read(std::size_t offset, void* data, std::size_t size) const;
    char* at(std::size_t offset) const { return static_cast<char*>(mem_) + offset; }
    HANDLE process_ = nullptr;
    void* mem_ = nullptr;
};

// Visible top-level windows of a process by class (and exact title, when given).
std::vector<HWND> TopWindows(DWORD pid, const wchar_t* className, const wchar_t* title = nullptr);
std::string WindowText(HWND w);
// The texts of a dialog's static controls, joined by blanks.
std::string DialogText(HWND dlg);

}  // namespace kestrane::wintest
