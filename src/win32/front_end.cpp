// What the window core asks of the window: loading and closing, and drawing
// the tree, the list, the progress area and the status bar as the core says.
#include <algorithm>

#include "core/platform.h"
#include "core/version.h"
#include "win32/frmMain.h"
#include "win32/resource.h"

namespace kestrane::win32 {

void frmMain::Form_Load() {
    const StartupSettings s = core_.load();
    const bool first = !pendingGeometry_;
    pendingGeometry_ = s;
    if (first && s.state == WindowState::Normal) {
        const SIZE size = normalSize(s);
        RECT now;
        GetWindowRect(hwnd_, &now);
        if (now.right - now.left != size.cx || now.bottom - now.top != size.cy)
            SetWindowPos(hwnd_, nullptr, 0, 0, size.cx, size.cy, SWP_NOMOVE | SWP_NOZORDER);
    }
    list_rect_.width = s.rightPaneWidth;
    tree_rect_.width = s.leftPaneWidth;
    HMENU menu = GetMenu(hwnd_);
    for (int i = 0; i < 3; ++i) CheckMenuItem(menu, IDM_LEVEL1 + i, MF_BYCOMMAND | (i == 0 ? MF_CHECKED : MF_UNCHECKED));
    setStatus(kPaneVersion, StatusBarVersionText());
    mnuViewVertical_Click();
    ArrangeControls();
    if (s.dataWidth > 0) ListView_SetColumnWidth(lvwMain_, 0, px(s.dataWidth));
}

void frmMain::Form_Unload() {
    ShutdownValues v;
    v.state = IsIconic(hwnd_) ? WindowState::Minimized : IsZoomed(hwnd_) ? WindowState::Maximized : WindowState::Normal;
    RECT outer;
    GetWindowRect(hwnd_, &outer);
    v.width = tw(outer.right - outer.left);
    v.height = tw(outer.bottom - outer.top);
    v.leftPaneWidth = tree_rect_.width;
    v.rightPaneWidth = list_rect_.width;
    v.dataWidth = tw(ListView_GetColumnWidth(lvwMain_, 0));
    core_.unload(v);
}

// Tree -----------------------------------------------------------------------

void frmMain::treeRebuilt() {
    const TreeModel& tree = core_.tree();
    settingSelection_ = true;
    TreeView_DeleteAllItems(treMain_);
    items_.assign(tree.size(), nullptr);
    for (int i : tree.preorder()) {
        const TreeNode& n = tree.node(i);
        std::wstring text = WideFromUtf8(n.text);
        TVINSERTSTRUCTW ins{};
        ins.hParent = n.parent < 0 ? TVI_ROOT : items_[static_cast<std::size_t>(n.parent)];
        ins.hInsertAfter = TVI_LAST;
        ins.item.mask = TVIF_TEXT | TVIF_PARAM | TVIF_IMAGE | TVIF_SELECTEDIMAGE;
        ins.item.pszText = text.data();
        ins.item.lParam = i;
        ins.item.iImage = ins.item.iSelectedImage = std::max(images_->index(n.image), 0);
        items_[static_cast<std::size_t>(i)] =
            reinterpret_cast<HTREEITEM>(SendMessageW(treMain_, TVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&ins)));
    }
    for (std::size_t i = 0; i < items_.size(); ++i)
        if (tree.node(static_cast<int>(i)).expanded) TreeView_Expand(treMain_, items_[i], TVE_EXPAND);
    if (tree.selected() >= 0) TreeView_SelectItem(treMain_, items_[static_cast<std::size_t>(tree.selected())]);
    settingSelection_ = false;
}

void frmMain::treeTextChanged(int node) {
    if (node < 0 || static_cast<std::size_t>(node) >= items_.size()) return;
    std::wstring w = WideFromUtf8(core_.tree().node(node).text);
    TVITEMW tv{};
    tv.mask = TVIF_TEXT;
    tv.hItem = items_[static_cast<std::size_t>(node)];
    tv.pszText = w.data();
    SendMessageW(treMain_, TVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&tv));
}

void frmMain::treeSelectionChanged(int node) {
    if (node < 0 || static_cast<std::size_t>(node) >= items_.size()) return;
    settingSelection_ = true;
    TreeView_SelectItem(treMain_, items_[static_cast<std::size_t>(node)]);
    settingSelection_ = false;
}

// List -----------------------------------------------------------------------

void frmMain::syncColumns() {
    const ListModel& list = core_.list();
    if (list.columnGeneration() == columnGeneration_) return;
    columnGeneration_ = list.columnGeneration();
    SendMessageW(lvwMain_, WM_SETREDRAW, FALSE, 0);
    while (ListView_DeleteColumn(lvwMain_, 0)) {
    }
    int i = 0;
    for (const ListColumn& c : list.columns()) {
        std::wstring caption = WideFromUtf8(c.caption);
        LVCOLUMNW col{};
        col.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
        col.pszText = caption.data();
        col.cx = MulDiv(120, dpi_, 96);
        col.iSubItem = i;
        SendMessageW(lvwMain_, LVM_INSERTCOLUMNW, static_cast<WPARAM>(i++), reinterpret_cast<LPARAM>(&col));
    }
    SendMessageW(lvwMain_, WM_SETREDRAW, TRUE, 0);
}

// The header's arrow follows the core's sort; new columns carry none.
void frmMain::showSortArrow() {
    const int column = core_.sortColumn();
    const bool descending = core_.sortDescending();
    if (column == arrowColumn_ && descending == arrowDescending_ && columnGeneration_ == arrowGeneration_) return;
    arrowColumn_ = column;
    arrowDescending_ = descending;
    arrowGeneration_ = columnGeneration_;
    HWND header = ListView_GetHeader(lvwMain_);
    for (int i = 0; i < Header_GetItemCount(header); ++i) {
        HDITEMW hd{};
        hd.mask = HDI_FORMAT;
        SendMessageW(header, HDM_GETITEMW, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&hd));
        hd.fmt &= ~(HDF_SORTUP | HDF_SORTDOWN);
        if (i == column) hd.fmt |= descending ? HDF_SORTDOWN : HDF_SORTUP;
        SendMessageW(header, HDM_SETITEMW, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&hd));
    }
}

void frmMain::listChanged() { showRows(false); }

// Under Wine each new count costs the view its scroll bars and size, and
// drawing every visible row again cost more than listing them: a long
// listing spent most of its time here. So while the core lists, rows only
// added behind those shown are counted twice a second once the view
// is full, and only they are drawn; anything else redraws the view.
void frmMain::showRows(bool now) {
    syncColumns();
    ListModel& list = core_.list();
    LONG_PTR style = GetWindowLongPtrW(lvwMain_, GWL_STYLE);
    LONG_PTR wanted = list.headersHidden() ? (style | LVS_NOCOLUMNHEADER) : (style & ~LVS_NOCOLUMNHEADER);
    if (wanted != style) SetWindowLongPtrW(lvwMain_, GWL_STYLE, wanted);
    const std::size_t rows = list.rowCount();
    const bool added = list.structureGeneration() == shownStructure_ && rows >= shownRows_ &&
                       list.firstChangedRow() >= shownRows_;
    const DWORD tick = GetTickCount();
    const bool full = static_cast<std::size_t>(std::max(ListView_GetCountPerPage(lvwMain_), 0)) < shownRows_;
    if (!now && added && core_.busy() && (rows == shownRows_ || (full && tick - shownTick_ < 500))) return;
    ListView_SetItemCountEx(lvwMain_, static_cast<int>(rows), LVSICF_NOSCROLL | (added ? LVSICF_NOINVALIDATEALL : 0));
    // Windows lays a virtual list's icons out by itself; Wine keeps them all
    // at the origin until told to arrange them.
    if ((wanted & LVS_TYPEMASK) == LVS_ICON) ListView_Arrange(lvwMain_, LVA_ALIGNTOP);
    shownRows_ = rows;
    shownStructure_ = list.structureGeneration();
    shownTick_ = tick;
    list.resetChangeMark();
    showSortArrow();
}

void frmMain::listReordered() {
    // The selection named rows of the order before.
    ListView_SetItemState(lvwMain_, -1, 0, LVIS_SELECTED | LVIS_FOCUSED);
    listChanged();
    InvalidateRect(lvwMain_, nullptr, TRUE);
}

void frmMain::listingFinished() {
    showRows(true);
    ArrangeControls();
    fitColumns();
}

void frmMain::setListMode(window::ListMode mode) {
    // The large pictures wait for the first category listed: drawing them
    // delayed every start.
    if (mode == window::ListMode::Icons && !ListView_GetImageList(lvwMain_, LVSIL_NORMAL))
        ListView_SetImageList(lvwMain_, images_->large(), LVSIL_NORMAL);
    LONG_PTR style = GetWindowLongPtrW(lvwMain_, GWL_STYLE) & ~LVS_TYPEMASK;
    SetWindowLongPtrW(lvwMain_, GWL_STYLE, style | (mode == window::ListMode::Icons ? LVS_ICON : LVS_REPORT));
}

// One column per property: fit each to what the first screens of rows hold.
void frmMain::fitColumns() {
    const ListModel& list = core_.list();
    const std::size_t ncols = list.columns().size();
    if (ncols <= 2) return;
    HDC dc = GetDC(lvwMain_);
    HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(lvwMain_, WM_GETFONT, 0, 0)));
    const int pad = MulDiv(16, dpi_, 96), cap = MulDiv(360, dpi_, 96);
    auto width = [&](const std::string& s) {
        std::wstring w = WideFromUtf8(s);
        SIZE sz{};
        GetTextExtentPoint32W(dc, w.c_str(), static_cast<int>(w.size()), &sz);
        return static_cast<int>(sz.cx) + pad;
    };
    for (std::size_t c = 0; c < ncols; ++c) {
        // Room for the sort arrow beside the caption.
        int best = width(list.columns()[c].caption) + pad;
        for (std::size_t r = 0; r < std::min<std::size_t>(list.rowCount(), 60); ++r) {
            const ListRow& row = list.row(r);
            if (c == 0) best = std::max(best, width(row.text));
            else if (c - 1 < row.sub.size()) best = std::max(best, width(row.sub[c - 1]));
        }
        ListView_SetColumnWidth(lvwMain_, static_cast<int>(c), std::min(best, cap));
    }
    SelectObject(dc, old);
    ReleaseDC(lvwMain_, dc);
}

// Busy and progress ----------------------------------------------------------

void frmMain::setInputEnabled(bool enabled) {
    EnableWindow(lvwMain_, enabled);
    EnableWindow(treMain_, enabled);
    if (enabled) SetFocus(treMain_);
}

void frmMain::setProgressVisible(bool visible) {
    if (visible) {
        if (marquee_) SendMessageW(pbrMain_, PBM_SETMARQUEE, TRUE, 30);
        ArrangeControls();
        SetWindowPos(picMain_, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_SHOWWINDOW);
    } else {
        SendMessageW(pbrMain_, PBM_SETMARQUEE, FALSE, 0);
        ShowWindow(picMain_, SW_HIDE);
    }
}

void frmMain::setProgress(const std::string& text, std::size_t step, std::size_t total) {
    const bool marquee = total == 0;
    if (marquee != marquee_) {
        marquee_ = marquee;
        const LONG_PTR style = GetWindowLongPtrW(pbrMain_, GWL_STYLE);
        SetWindowLongPtrW(pbrMain_, GWL_STYLE, marquee ? style | PBS_MARQUEE : style & ~PBS_MARQUEE);
        SendMessageW(pbrMain_, PBM_SETMARQUEE, marquee && IsWindowVisible(picMain_), 30);
    }
    if (!marquee) {
        SendMessageW(pbrMain_, PBM_SETRANGE32, 0, static_cast<LPARAM>(total));
        SendMessageW(pbrMain_, PBM_SETPOS, step, 0);
    }
    SetWindowTextW(lblListedCount_, WideFromUtf8(text).c_str());
}

void frmMain::processEvents() {
    UpdateWindow(lblListedCount_);
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            // For the message loop, once the work has stopped.
            PostQuitMessage(static_cast<int>(msg.wParam));
            core_.cancel();
            break;
        }
        if (accel_ && TranslateAcceleratorW(hwnd_, accel_, &msg)) continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

// Status bar and messages ----------------------------------------------------

void frmMain::statusChanged() {
    const window::Status& st = core_.status();
    // A new outcome outranks a passing message.
    if (st.note != shownNote_) flashed_.clear();
    shownNote_ = st.note;
    setStatus(kPaneNode, st.panel);
    setStatus(kPaneNote, flashed_.empty() ? st.note : flashed_);
    setStatus(kPaneSource, st.source);
    setStatus(kPaneReasons, st.reasons);
    ArrangeControls();
}

void frmMain::flash(const std::string& text) {
    flashed_ = text;
    if (text.empty())
        KillTimer(hwnd_, kFlashTimer);
    else
        SetTimer(hwnd_, kFlashTimer, 8000, nullptr);
    setStatus(kPaneNote, text.empty() ? core_.status().note : text);
    ArrangeControls();
}

bool frmMain::message(window::MessageKind kind, const std::string& text, bool ask) {
    // A message about a snapshot read before the window was shown comes with it.
    if (!IsWindowVisible(hwnd_)) {
        ShowWindow(hwnd_, showCommand_);
        UpdateWindow(hwnd_);
    }
    UINT icon = MB_ICONINFORMATION;
    if (kind == window::MessageKind::Warning) icon = MB_ICONWARNING;
    if (kind == window::MessageKind::Critical) icon = MB_ICONERROR;
    if (kind == window::MessageKind::Question) icon = MB_ICONQUESTION;
    const int answer = Message(hwnd_, text, icon | (ask ? MB_YESNO : MB_OK));
    return answer == IDYES || answer == IDOK;
}

}  // namespace kestrane::win32
