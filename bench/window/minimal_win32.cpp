// The yardstick for kestrane.exe's start under Wine: a Win32 window of the
// same shape (menu, a tree beside a two-column list view, status bar, the
// common controls 6 manifest) and nothing else, built with the same compiler
// and flags by scripts/bench-windows-window.sh. Its window has kestrane.exe's
// class name and child ids, so that kestrane_window_test.exe --bench times
// it exactly as it times kestrane.exe, until its one row is listed.
#include <windows.h>
#include <commctrl.h>

#include <initializer_list>

#include "win32/resource.h"

namespace {

LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_NOTIFY && reinterpret_cast<NMHDR*>(lp)->code == LVN_GETDISPINFOW) {
        LVITEMW& item = reinterpret_cast<NMLVDISPINFOW*>(lp)->item;
        if (item.mask & LVIF_TEXT) lstrcpynW(item.pszText, item.iSubItem ? L"value" : L"Name", item.cchTextMax);
        return 0;
    }
    if (msg == WM_DESTROY) PostQuitMessage(0);
    if (msg == WM_CLOSE) DestroyWindow(hwnd);
    return msg == WM_CLOSE ? 0 : DefWindowProcW(hwnd, msg, wp, lp);
}

HWND Child(const wchar_t* cls, DWORD style, int id, HWND parent, int x, int w) {
    return CreateWindowExW(WS_EX_CLIENTEDGE, cls, L"", WS_CHILD | WS_VISIBLE | style, x, 0, w, 500, parent,
                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr), nullptr);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE inst, HINSTANCE, PWSTR, int show) {
    INITCOMMONCONTROLSEX icc{sizeof icc, ICC_TREEVIEW_CLASSES | ICC_LISTVIEW_CLASSES | ICC_BAR_CLASSES};
    InitCommonControlsEx(&icc);
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = Proc;
    wc.hInstance = inst;
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = L"KestraneMain";
    RegisterClassExW(&wc);
    HMENU bar = CreateMenu(), file = CreatePopupMenu();
    AppendMenuW(file, MF_STRING, 1, L"E&xit");
    AppendMenuW(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(file), L"&File");
    HWND main = CreateWindowExW(0, wc.lpszClassName, L"Minimal", WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, CW_USEDEFAULT,
                                CW_USEDEFAULT, 761, 610, nullptr, bar, inst, nullptr);
    HWND tree = Child(WC_TREEVIEWW, TVS_HASLINES | TVS_HASBUTTONS | TVS_LINESATROOT, IDC_TREE, main, 0, 240);
    TVINSERTSTRUCTW ins{};
    ins.hParent = TVI_ROOT;
    ins.hInsertAfter = TVI_LAST;
    ins.item.mask = TVIF_TEXT;
    ins.item.pszText = const_cast<wchar_t*>(L"This computer");
    HTREEITEM root = TreeView_InsertItem(tree, &ins);
    for (const wchar_t* name : {L"Hardware", L"Operating System", L"Software", L"Network", L"Users"}) {
        ins.hParent = root;
        ins.item.pszText = const_cast<wchar_t*>(name);
        TreeView_InsertItem(tree, &ins);
    }
    TreeView_Expand(tree, root, TVE_EXPAND);
    HWND list = Child(WC_LISTVIEWW, LVS_REPORT | LVS_OWNERDATA, IDC_LIST, main, 244, 500);
    for (int i = 0; i < 2; ++i) {
        LVCOLUMNW col{};
        col.mask = LVCF_TEXT | LVCF_WIDTH;
        col.pszText = const_cast<wchar_t*>(i ? L"Value" : L"Name");
        col.cx = 200;
        ListView_InsertColumn(list, i, &col);
    }
    CreateWindowExW(0, STATUSCLASSNAMEW, L"Ready", WS_CHILD | WS_VISIBLE | SBARS_SIZEGRIP, 0, 0, 0, 0, main,
                    reinterpret_cast<HMENU>(IDC_STATUS), inst, nullptr);
    ShowWindow(main, show);
    UpdateWindow(main);
    ListView_SetItemCountEx(list, 1, 0);
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return 0;
}
