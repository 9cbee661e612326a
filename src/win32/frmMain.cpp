#include "win32/frmMain.h"

#include <windowsx.h>

#include <algorithm>
#include <span>

#include "catalogue/catalogue.h"
#include "core/platform.h"
#include "win32/buffered_paint.h"
#include "win32/resource.h"
#include "window/tool_bars.h"

namespace kestrane::win32 {

namespace {

constexpr wchar_t kClassName[] = L"KestraneMain";
constexpr wchar_t kProgressClass[] = L"KestraneProgress";
constexpr const char* kWebAddress = "https://kestrane.example.org";
constexpr const char* kCredit = "Made with care by the Kestrane team";

// The main bar's commands, in the order of window::MainToolButtons().
const int kMainCommands[] = {IDM_SUMMARY, IDM_CONNECT, IDM_REFRESH, IDM_EXIT, IDM_ABOUT};

int WindowDpi(HWND hwnd) {
    using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
    static auto getDpi = reinterpret_cast<GetDpiForWindowFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
    if (getDpi && hwnd) {
        if (UINT d = getDpi(hwnd)) return static_cast<int>(d);
    }
    HDC dc = GetDC(nullptr);
    int d = GetDeviceCaps(dc, LOGPIXELSX);
    ReleaseDC(nullptr, dc);
    return d > 0 ? d : 96;
}

// Moves a control only when its place changes: the layout runs again at
// every change of the status bar's texts, and under Wine each move costs a
// round trip to the server and a repaint even when nothing moves.
bool Place(HWND control, int x, int y, int cx, int cy) {
    RECT r;
    GetWindowRect(control, &r);
    MapWindowPoints(nullptr, GetParent(control), reinterpret_cast<POINT*>(&r), 2);
    if (r.left == x && r.top == y && r.right - r.left == cx && r.bottom - r.top == cy) return false;
    MoveWindow(control, x, y, cx, cy, TRUE);
    return true;
}

// Icons flow again to the list's new width: Wine's list view does not
// arrange a virtual list by itself.
void PlaceList(HWND list, int x, int y, int cx, int cy) {
    if (Place(list, x, y, cx, cy) && (GetWindowLongPtrW(list, GWL_STYLE) & LVS_TYPEMASK) == LVS_ICON)
        ListView_Arrange(list, LVA_ALIGNTOP);
}

// About a quarter of a second's reading under Wine.
constexpr unsigned long long kListFirstBytes = 8ull << 20;

unsigned long long FileSize(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(WideFromUtf8(path).c_str(), GetFileExInfoStandard, &data)) return 0;
    return (static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

void SetColumnWidth(HWND list, int column, int width) {
    if (ListView_GetColumnWidth(list, column) != width) ListView_SetColumnWidth(list, column, width);
}

}  // namespace

frmMain::frmMain(SettingsStore& settings, SecretStore& secrets, wmi::Backends backends)
    : settings_(settings), core_(*this, settings, secrets, std::move(backends)) {}

SIZE frmMain::normalSize(const StartupSettings& s) const {
    RECT rc{0, 0, px(11415), px(9150)};  // the design size of the client area
    AdjustWindowRectEx(&rc, WS_OVERLAPPEDWINDOW, TRUE, 0);
    return {std::max<LONG>(s.width ? px(*s.width) : rc.right - rc.left, 1),
            std::max<LONG>(s.height ? px(*s.height) : rc.bottom - rc.top, 1)};
}

frmMain::~frmMain() {
    if (boldFont_) DeleteObject(boldFont_);
}

bool frmMain::ShowThisForm(int showCommand, const std::string& snapshotFile) {
    HINSTANCE inst = GetModuleHandleW(nullptr);
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = WndProc;
    wc.hInstance = inst;
    wc.hIcon = LoadIconW(inst, MAKEINTRESOURCEW(IDI_KESTRANE));
    wc.hIconSm = static_cast<HICON>(LoadImageW(inst, MAKEINTRESOURCEW(IDI_KESTRANE), IMAGE_ICON,
                                               GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), 0));
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszMenuName = MAKEINTRESOURCEW(IDR_MAINMENU);
    wc.lpszClassName = kClassName;
    RegisterClassExW(&wc);
    WNDCLASSEXW pc = wc;
    pc.lpfnWndProc = ProgressProc;
    pc.lpszMenuName = nullptr;
    pc.hIcon = pc.hIconSm = nullptr;
    pc.lpszClassName = kProgressClass;
    RegisterClassExW(&pc);
    accel_ = LoadAcceleratorsW(inst, MAKEINTRESOURCEW(IDR_ACCEL));

    // Made at its size: under Wine, resizing it later moves the X window and
    // every control again.
    dpi_ = WindowDpi(nullptr);
    const SIZE size = normalSize(ReadStartupSettings(settings_));
    hwnd_ = CreateWindowExW(0, kClassName, WideFromUtf8(window::kTitle).c_str(), WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN,
                            CW_USEDEFAULT, CW_USEDEFAULT, size.cx, size.cy, nullptr, nullptr, inst, this);
    if (!hwnd_) return false;
    Form_Load();
    setStatus(kPaneCredit, kCredit);
    StartupSettings s = pendingGeometry_.value_or(StartupSettings{});
    int cmd = showCommand;
    if (s.state == WindowState::Maximized) cmd = SW_SHOWMAXIMIZED;
    else if (s.state == WindowState::Minimized) cmd = SW_SHOWMINIMIZED;
    // A snapshot that reads quickly is listed before the window is shown, so
    // that it is painted once: under Wine every paint of the tool bars,
    // status panes and lists costs tens of milliseconds. A large one, this
    // computer or a remote one show the window first.
    const bool listFirst =
        !snapshotFile.empty() && !core_.loginNeedsPassword() && FileSize(snapshotFile) <= kListFirstBytes;
    showCommand_ = cmd;
    const bool opened = listFirst && core_.openSnapshot(snapshotFile);
    if (!IsWindowVisible(hwnd_)) {
        SettleBeforeShown(lvwMain_);
        ShowWindow(hwnd_, cmd);
        UpdateWindow(hwnd_);
    }
    if (opened) return true;
    // Connecting without the password would only be refused.
    if (core_.loginNeedsPassword()) mnuFleConnectTo_Click();
    if (!listFirst && !snapshotFile.empty() && core_.openSnapshot(snapshotFile)) return true;
    // The root summary, as the tree's first selection.
    core_.openNode(kRootKey);
    return true;
}

void frmMain::createControls() {
    HINSTANCE inst = GetModuleHandleW(nullptr);
    dpi_ = WindowDpi(hwnd_);
    images_ = std::make_unique<ImageLists>(dpi_);
    buildToolBars();
    treMain_ = CreateWindowExW(WS_EX_CLIENTEDGE, WC_TREEVIEWW, L"",
                               WS_CHILD | WS_VISIBLE | WS_TABSTOP | TVS_HASLINES | TVS_HASBUTTONS |
                                   TVS_LINESATROOT | TVS_SHOWSELALWAYS,
                               0, 0, 10, 10, hwnd_, reinterpret_cast<HMENU>(IDC_TREE), inst, nullptr);
    TreeView_SetImageList(treMain_, images_->small(), TVSIL_NORMAL);
    lvwMain_ = CreateWindowExW(WS_EX_CLIENTEDGE, WC_LISTVIEWW, L"",
                               WS_CHILD | WS_VISIBLE | WS_TABSTOP | LVS_REPORT | LVS_OWNERDATA |
                                   LVS_SHOWSELALWAYS,
                               0, 0, 10, 10, hwnd_, reinterpret_cast<HMENU>(IDC_LIST), inst, nullptr);
    ListView_SetExtendedListViewStyle(lvwMain_, LVS_EX_FULLROWSELECT | LVS_EX_LABELTIP);
    ListView_SetImageList(lvwMain_, images_->small(), LVSIL_SMALL);
    LOGFONTW lf{};
    HFONT listFont = reinterpret_cast<HFONT>(SendMessageW(lvwMain_, WM_GETFONT, 0, 0));
    GetObjectW(listFont ? static_cast<HGDIOBJ>(listFont) : GetStockObject(DEFAULT_GUI_FONT), sizeof lf, &lf);
    lf.lfWeight = FW_BOLD;
    boldFont_ = CreateFontIndirectW(&lf);
    buildStatusBar();
    buildProgressArea();
    for (HWND c : {tlbMain_, tlbMainSub1_, tlbMainSub2_, treMain_, lvwMain_, sbrMain_}) PaintBuffered(c);
}

void frmMain::buildToolBars() {
    HINSTANCE inst = GetModuleHandleW(nullptr);
    auto make = [&](int id, std::span<const window::ToolButton> buttons, const int* commands, int base) {
        HWND bar = CreateWindowExW(0, TOOLBARCLASSNAMEW, L"",
                                   WS_CHILD | WS_VISIBLE | TBSTYLE_FLAT | TBSTYLE_TOOLTIPS | CCS_NORESIZE |
                                       CCS_NODIVIDER | CCS_NOPARENTALIGN,
                                   0, 0, 10, 10, hwnd_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), inst,
                                   nullptr);
        SendMessageW(bar, TB_BUTTONSTRUCTSIZE, sizeof(TBBUTTON), 0);
        SendMessageW(bar, TB_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(images_->small()));
        SendMessageW(bar, TB_SETMAXTEXTROWS, 0, 0);  // the text is the tool tip
        int i = 0;
        for (const window::ToolButton& b : buttons) {
            const std::wstring tip = WideFromUtf8(b.text);
            TBBUTTON tb{};
            tb.iBitmap = std::max(images_->index(b.image), 0);
            tb.idCommand = commands ? commands[i] : base + i;
            tb.fsState = TBSTATE_ENABLED;
            tb.fsStyle = BTNS_BUTTON;
            tb.iString = SendMessageW(bar, TB_ADDSTRINGW, 0, reinterpret_cast<LPARAM>((tip + L'\0').c_str()));
            SendMessageW(bar, TB_ADDBUTTONSW, 1, reinterpret_cast<LPARAM>(&tb));
            ++i;
        }
        SendMessageW(bar, TB_AUTOSIZE, 0, 0);
        return bar;
    };
    tlbMain_ = make(IDC_TOOLBAR, window::MainToolButtons(), kMainCommands, 0);
    tlbMainSub1_ = make(IDC_TOOLBAR_SUB1, window::CategoryButtons(1), nullptr, IDM_SUB1_BASE);
    tlbMainSub2_ = make(IDC_TOOLBAR_SUB2, window::CategoryButtons(2), nullptr, IDM_SUB2_BASE);
}

void frmMain::buildStatusBar() {
    sbrMain_ = CreateWindowExW(0, STATUSCLASSNAMEW, L"", WS_CHILD | WS_VISIBLE | SBARS_SIZEGRIP | SBARS_TOOLTIPS, 0,
                               0, 0, 0, hwnd_, reinterpret_cast<HMENU>(IDC_STATUS), GetModuleHandleW(nullptr),
                               nullptr);
    // Every pane exists before it is given text; ArrangeControls sizes them.
    int edges[kPaneCount];
    for (int i = 0; i < kPaneCount; ++i) edges[i] = (i + 1) * 100;
    SendMessageW(sbrMain_, SB_SETPARTS, kPaneCount, reinterpret_cast<LPARAM>(edges));
    setStatus(kPaneNode, "Kestrane");
    setStatus(kPaneAddress, kWebAddress);
    setStatus(kPaneVersion, "Version");
}

void frmMain::buildProgressArea() {
    HINSTANCE inst = GetModuleHandleW(nullptr);
    const int w = px(4500), h = px(1500);
    picMain_ = CreateWindowExW(WS_EX_DLGMODALFRAME, kProgressClass, L"", WS_CHILD | WS_CLIPSIBLINGS, 0, 0, w, h, hwnd_,
                               reinterpret_cast<HMENU>(IDC_PROGRESS_AREA), inst, this);
    const int m = px(120), row = px(300);
    HWND text = CreateWindowExW(0, WC_STATICW, L"Please wait while processing...", WS_CHILD | WS_VISIBLE, m, m,
                                w - 2 * m, row, picMain_, reinterpret_cast<HMENU>(IDC_PROGRESS_TEXT), inst, nullptr);
    pbrMain_ = CreateWindowExW(0, PROGRESS_CLASSW, L"", WS_CHILD | WS_VISIBLE | PBS_MARQUEE, m, m + row, w - 2 * m,
                               row, picMain_, reinterpret_cast<HMENU>(IDC_PROGRESS_BAR), inst, nullptr);
    lblListedCount_ = CreateWindowExW(0, WC_STATICW, L"Listed 0", WS_CHILD | WS_VISIBLE, m, m + 2 * row + m,
                                      w - 4 * m - px(1100), row, picMain_,
                                      reinterpret_cast<HMENU>(IDC_LISTED_COUNT), inst, nullptr);
    cmdCancel_ = CreateWindowExW(0, WC_BUTTONW, L"&Cancel", WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON,
                                 w - 2 * m - px(1100), m + 2 * row + m / 2, px(1100), row + m, picMain_,
                                 reinterpret_cast<HMENU>(IDC_CANCEL), inst, nullptr);
    HFONT font = reinterpret_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
    NONCLIENTMETRICSW ncm{};
    ncm.cbSize = sizeof ncm;
    if (SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof ncm, &ncm, 0)) {
        ncm.lfMessageFont.lfHeight = -MulDiv(9, dpi_, 72);
        font = CreateFontIndirectW(&ncm.lfMessageFont);
    }
    for (HWND c : {text, lblListedCount_, cmdCancel_}) SendMessageW(c, WM_SETFONT, reinterpret_cast<WPARAM>(font), 0);
}

void frmMain::setStatus(int pane, const std::string& text) {
    if (!sbrMain_) return;
    SendMessageW(sbrMain_, SB_SETTEXTW, static_cast<WPARAM>(pane), reinterpret_cast<LPARAM>(WideFromUtf8(text).c_str()));
}

// Geometry -------------------------------------------------------------------

void frmMain::ArrangeControls() {
    if (!hwnd_ || !treMain_) return;
    RECT outer, client, status;
    GetWindowRect(hwnd_, &outer);
    GetClientRect(hwnd_, &client);
    SendMessageW(sbrMain_, WM_SIZE, 0, 0);
    GetWindowRect(sbrMain_, &status);
    SIZE s1{}, s2{}, sm{};
    SendMessageW(tlbMain_, TB_GETMAXSIZE, 0, reinterpret_cast<LPARAM>(&sm));
    SendMessageW(tlbMainSub1_, TB_GETMAXSIZE, 0, reinterpret_cast<LPARAM>(&s1));
    SendMessageW(tlbMainSub2_, TB_GETMAXSIZE, 0, reinterpret_cast<LPARAM>(&s2));
    const int gap = MulDiv(6, dpi_, 96);
    const int bandPx = std::max<int>(sm.cy, s1.cy) + s2.cy + MulDiv(4, dpi_, 96);
    RECT pic;
    GetWindowRect(picMain_, &pic);

    LayoutInput in;
    in.windowWidth = tw(outer.right - outer.left);
    in.windowHeight = tw(outer.bottom - outer.top);
    in.clientWidth = tw(client.right);
    in.statusHeight = tw(status.bottom - status.top);
    in.clientHeight = tw(client.bottom);
    in.bandHeight = tw(bandPx);
    in.progressWidth = tw(pic.right - pic.left);
    in.progressHeight = tw(pic.bottom - pic.top);
    in.band = band_rect_;
    in.tree = tree_rect_;
    in.list = list_rect_;
    LayoutResult r = kestrane::ArrangeControls(in);
    band_rect_ = r.band;
    tree_rect_ = r.tree;
    list_rect_ = r.list;

    Place(tlbMain_, 2, 2, sm.cx, sm.cy);
    Place(tlbMainSub1_, 2 + sm.cx + gap, 2, s1.cx, s1.cy);
    Place(tlbMainSub2_, 2, 2 + std::max<int>(sm.cy, s1.cy), s2.cx, s2.cy);
    Place(treMain_, px(r.tree.left), px(r.tree.top), px(r.tree.width), px(r.tree.height));
    PlaceList(lvwMain_, px(r.list.left), px(r.list.top), px(r.list.width), px(r.list.height));
    // The progress area is centred on the whole window.
    POINT origin{outer.left, outer.top};
    ScreenToClient(hwnd_, &origin);
    SetWindowPos(picMain_, HWND_TOP, px(r.progress.left) + origin.x, px(r.progress.top) + origin.y, 0, 0,
                 SWP_NOSIZE | SWP_NOACTIVATE);

    // Status panes: the computer's name and the listing's outcome keep their
    // room; the address and the credit give way first.
    const int width = client.right;
    HDC dc = GetDC(sbrMain_);
    HGDIOBJ oldFont = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(sbrMain_, WM_GETFONT, 0, 0)));
    auto textWidth = [this, dc](int pane) {
        const int len = LOWORD(SendMessageW(sbrMain_, SB_GETTEXTLENGTHW, static_cast<WPARAM>(pane), 0));
        if (len == 0) return 0;
        std::wstring text(static_cast<std::size_t>(len) + 1, L'\0');
        SendMessageW(sbrMain_, SB_GETTEXTW, static_cast<WPARAM>(pane), reinterpret_cast<LPARAM>(text.data()));
        SIZE sz{};
        GetTextExtentPoint32W(dc, text.c_str(), len, &sz);
        return static_cast<int>(sz.cx) + MulDiv(12, dpi_, 96);
    };
    int widths[kPaneCount];
    const int fixed[] = {std::max(textWidth(kPaneNode), MulDiv(160, dpi_, 96)), textWidth(kPaneAddress),
                         textWidth(kPaneVersion), 0, textWidth(kPaneReasons), textWidth(kPaneNote),
                         textWidth(kPaneSource)};
    int used = 0;
    for (int i = 0; i < kPaneCount; ++i)
        if (i != kPaneCredit) used += fixed[i];
    int credit = std::max(width - used, 0), edge = 0;
    for (int i = 0; i < kPaneCount; ++i) {
        edge += i == kPaneCredit ? credit : fixed[i];
        widths[i] = i == kPaneCount - 1 ? -1 : edge;
    }
    SelectObject(dc, oldFont);
    ReleaseDC(sbrMain_, dc);
    int shown[kPaneCount];
    if (SendMessageW(sbrMain_, SB_GETPARTS, kPaneCount, reinterpret_cast<LPARAM>(shown)) != kPaneCount ||
        !std::equal(widths, widths + kPaneCount, shown))
        SendMessageW(sbrMain_, SB_SETPARTS, kPaneCount, reinterpret_cast<LPARAM>(widths));
    if (core_.list().columns().size() == 2) {
        SetColumnWidth(lvwMain_, 0, px(r.firstColumn));
        SetColumnWidth(lvwMain_, 1, px(r.secondColumn));
    }
}

void frmMain::Form_MouseMove(bool leftButton, int xPixels) {
    SplitterInput in;
    in.x = tw(xPixels);
    in.leftButton = leftButton;
    in.treeWidth = tree_rect_.width;
    in.listLeft = list_rect_.left;
    RECT client;
    GetClientRect(hwnd_, &client);
    in.clientWidth = tw(client.right);
    in.sizingPointer = sizingPointer_;
    SplitterResult r = SplitterMove(in);
    sizingPointer_ = r.sizingPointer;
    if (sizingPointer_) SetCursor(LoadCursorW(nullptr, IDC_SIZEWE));
    if (r.treeWidth) {
        tree_rect_.width = *r.treeWidth;
        list_rect_.width = *r.listWidth;
        list_rect_.left = *r.listLeft;
        MoveWindow(treMain_, px(tree_rect_.left), px(tree_rect_.top), px(tree_rect_.width), px(tree_rect_.height), TRUE);
        PlaceList(lvwMain_, px(list_rect_.left), px(list_rect_.top), px(list_rect_.width), px(list_rect_.height));
    }
}

// Window procedure -----------------------------------------------------------

LRESULT CALLBACK frmMain::WndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    frmMain* self = reinterpret_cast<frmMain*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (msg == WM_NCCREATE) {
        self = static_cast<frmMain*>(reinterpret_cast<CREATESTRUCTW*>(lp)->lpCreateParams);
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
        self->hwnd_ = hwnd;
    }
    if (!self) return DefWindowProcW(hwnd, msg, wp, lp);
    return self->handle(msg, wp, lp);
}

// The progress area's Cancel reaches the main window.
LRESULT CALLBACK frmMain::ProgressProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_COMMAND) return SendMessageW(GetParent(hwnd), msg, wp, lp);
    return DefWindowProcW(hwnd, msg, wp, lp);
}

LRESULT frmMain::handle(UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
    case WM_CREATE:
        createControls();
        return 0;
    case WM_SIZE:
        ArrangeControls();
        return 0;
    case WM_DPICHANGED: {
        const RECT* rc = reinterpret_cast<const RECT*>(lp);
        dpi_ = HIWORD(wp);
        SetWindowPos(hwnd_, nullptr, rc->left, rc->top, rc->right - rc->left, rc->bottom - rc->top,
                     SWP_NOZORDER | SWP_NOACTIVATE);
        return 0;
    }
    case WM_MOUSEMOVE:
        Form_MouseMove((wp & MK_LBUTTON) != 0, GET_X_LPARAM(lp));
        return 0;
    case WM_LBUTTONDOWN:
        if (sizingPointer_) SetCapture(hwnd_);
        Form_MouseMove(true, GET_X_LPARAM(lp));
        return 0;
    case WM_LBUTTONUP:
        ReleaseCapture();
        return 0;
    case WM_SETCURSOR:
        if (reinterpret_cast<HWND>(wp) == hwnd_ && LOWORD(lp) == HTCLIENT && sizingPointer_) {
            SetCursor(LoadCursorW(nullptr, IDC_SIZEWE));
            return TRUE;
        }
        break;
    case WM_COMMAND:
        onCommand(LOWORD(wp));
        return 0;
    case WM_TIMER:
        if (wp == kFlashTimer) flash("");
        return 0;
    case WM_NOTIFY:
        return onNotify(reinterpret_cast<NMHDR*>(lp));
    case WM_CONTEXTMENU:
        if (reinterpret_cast<HWND>(wp) == lvwMain_) {
            HMENU menu = LoadMenuW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDR_LISTMENU));
            POINT pt{GET_X_LPARAM(lp), GET_Y_LPARAM(lp)};
            if (pt.x == -1 && pt.y == -1) GetCursorPos(&pt);
            TrackPopupMenu(GetSubMenu(menu, 0), TPM_RIGHTBUTTON, pt.x, pt.y, 0, hwnd_, nullptr);
            DestroyMenu(menu);
            return 0;
        }
        break;
    case WM_CLOSE:
        if (core_.busy()) {
            // Let the running listing stop at its next instance, then close.
            core_.cancel();
            if (!closing_) {
                closing_ = true;
                core_.runWhenIdle([this] { PostMessageW(hwnd_, WM_CLOSE, 0, 0); });
            }
            return 0;
        }
        Form_Unload();
        DestroyWindow(hwnd_);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(hwnd_, msg, wp, lp);
}

LRESULT frmMain::onNotify(NMHDR* hdr) {
    if (hdr->hwndFrom == treMain_ && hdr->code == TVN_SELCHANGEDW) {
        auto* nm = reinterpret_cast<NMTREEVIEWW*>(hdr);
        if (!settingSelection_ && nm->itemNew.hItem)
            core_.request(static_cast<int>(nm->itemNew.lParam), GetDoubleClickTime());
        return 0;
    }
    if (hdr->hwndFrom != lvwMain_) return 0;
    switch (hdr->code) {
    case LVN_GETDISPINFOW: {
        LVITEMW& item = reinterpret_cast<NMLVDISPINFOW*>(hdr)->item;
        const ListModel& list = core_.list();
        if (item.iItem < 0 || static_cast<std::size_t>(item.iItem) >= list.rowCount()) return 0;
        const ListRow& row = list.row(static_cast<std::size_t>(item.iItem));
        if ((item.mask & LVIF_TEXT) && item.pszText && item.cchTextMax > 0) {
            const std::string* text = nullptr;
            if (item.iSubItem == 0) text = &row.text;
            else if (static_cast<std::size_t>(item.iSubItem) <= row.sub.size()) text = &row.sub[item.iSubItem - 1];
            int n = 0;
            if (text && !text->empty())
                n = MultiByteToWideChar(CP_UTF8, 0, text->data(), static_cast<int>(text->size()), item.pszText,
                                        item.cchTextMax - 1);
            // A cell longer than the view's buffer is cut, never left unterminated.
            if (n == 0 && text && !text->empty()) {
                std::wstring w = WideFromUtf8(*text);
                n = static_cast<int>(std::min<std::size_t>(w.size(), static_cast<std::size_t>(item.cchTextMax - 1)));
                w.copy(item.pszText, static_cast<std::size_t>(n));
            }
            item.pszText[n] = L'\0';
        }
        if (item.mask & LVIF_IMAGE) item.iImage = images_->index(row.icon);
        return 0;
    }
    case NM_CUSTOMDRAW:
        return onCustomDraw(reinterpret_cast<NMLVCUSTOMDRAW*>(hdr));
    case LVN_COLUMNCLICK:
        lvwMain_ColumnClick(reinterpret_cast<NMLISTVIEW*>(hdr)->iSubItem);
        return 0;
    case NM_DBLCLK:
    case NM_RETURN:
        lvwMain_DblClick();
        return 0;
    case LVN_ODFINDITEMW:
        return -1;
    }
    return 0;
}

LRESULT frmMain::onCustomDraw(NMLVCUSTOMDRAW* cd) {
    if (cd->nmcd.dwDrawStage == CDDS_PREPAINT) return CDRF_NOTIFYITEMDRAW;
    if (cd->nmcd.dwDrawStage == CDDS_ITEMPREPAINT) return CDRF_NOTIFYSUBITEMDRAW;
    if (cd->nmcd.dwDrawStage == (CDDS_ITEMPREPAINT | CDDS_SUBITEM)) {
        const std::size_t r = cd->nmcd.dwItemSpec;
        if (r >= core_.list().rowCount()) return CDRF_DODEFAULT;
        const ListRow& row = core_.list().row(r);
        const bool bold = cd->iSubItem == 0 ? row.bold : (cd->iSubItem == 1 && row.subBold);
        SelectObject(cd->nmcd.hdc, bold ? boldFont_ : reinterpret_cast<HFONT>(SendMessageW(lvwMain_, WM_GETFONT, 0, 0)));
        return CDRF_NEWFONT;
    }
    return CDRF_DODEFAULT;
}

void frmMain::onCommand(int id) {
    for (int bar : {1, 2}) {
        const auto buttons = window::CategoryButtons(bar);
        const int index = id - (bar == 1 ? IDM_SUB1_BASE : IDM_SUB2_BASE);
        if (index >= 0 && index < static_cast<int>(buttons.size())) {
            core_.openNode(buttons[static_cast<std::size_t>(index)].text);
            return;
        }
    }
    switch (id) {
    case IDM_CONNECT: core_.runWhenIdle([this] { mnuFleConnectTo_Click(); }); break;
    case IDM_OPEN_SNAPSHOT: core_.runWhenIdle([this] { mnuFleOpenSnapshot_Click(); }); break;
    case IDM_SAVE_SNAPSHOT: core_.runWhenIdle([this] { mnuFleSaveSnapshot_Click(); }); break;
    case IDM_COMPARE_WITH: core_.runWhenIdle([this] { mnuFleCompareWith_Click(); }); break;
    case IDM_EXPORT: core_.runWhenIdle([this] { mnuFleExport_Click(); }); break;
    case IDM_EXIT: mnuFleExit_Click(); break;
    case IDM_FIND: mnuEdtFind_Click(); break;
    case IDM_FIND_NEXT: findNext(false); break;
    case IDM_FIND_PREVIOUS: findNext(true); break;
    case IDM_COPY: mnuEdtCopy_Click(false); break;
    case IDM_COPY_VALUE: mnuEdtCopy_Click(true); break;
    case IDM_SELECT_ALL: mnuEdtSelectAll_Click(); break;
    case IDM_VERTICAL: mnuViewVertical_Click(); break;
    case IDM_HORIZONTAL: mnuViewHorizontal_Click(); break;
    case IDM_REFRESH: core_.runWhenIdle([this] { mnuViewRefresh_Click(); }); break;
    case IDM_LEVEL1: case IDM_LEVEL2: case IDM_LEVEL3: {
        const int level = id - IDM_LEVEL1 + 1;
        core_.runWhenIdle([this, level] {
            core_.setLevel(level);
            Form_Load();
        });
        break;
    }
    case IDM_ABOUT: mnuHlpAbout_Click(); break;
    case IDM_SUMMARY: core_.openNode(kRootKey); break;
    case IDC_CANCEL: core_.cancel(); break;
    }
}

int RunMessageLoop(frmMain& form) {
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (form.accel_ && TranslateAcceleratorW(form.hwnd_, form.accel_, &msg)) continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return static_cast<int>(msg.wParam);
}

}  // namespace kestrane::win32
