// What the window does when a node is selected, and what it keeps between
// runs: loading, the tree, the list and the listing host.
#include <algorithm>

#include "backends/backends.h"
#include "catalogue/catalogue.h"
#include "core/platform.h"
#include "core/version.h"
#include "format/format.h"
#include "win32/frmMain.h"
#include "win32/resource.h"
#include "wmi/connection.h"

namespace kestrane::win32 {

namespace {
enum Pane { kPaneNode, kPaneAddress, kPaneVersion, kPaneCredit, kPaneReasons, kPaneNote, kPaneSource };
}

void frmMain::Form_Load() {
    Login login = ReadLogin(settings_, secrets_);
    state_.gstrComputer = login.computer;
    state_.gstrUserName = login.userName;
    state_.gstrPassword = login.password;
    // A snapshot named as the computer is browsed as one; when it cannot be
    // read, the selection says why.
    snapshot_.reset();
    if (NamesSnapshotFile(state_.gstrComputer)) {
        try {
            snapshot_ = wmi::LoadSnapshot(state_.gstrComputer);
        } catch (const std::exception&) {
        }
    }
    tree_.clear();
    list_.clearRows();
    list_.setDefaultColumns();
    syncList();

    StartupSettings s = ReadStartupSettings(settings_);
    const bool first = !pendingGeometry_;
    pendingGeometry_ = s;
    if (first && s.state == WindowState::Normal) {
        // The design size of the client area.
        RECT rc{0, 0, px(11415), px(9150)};
        AdjustWindowRectEx(&rc, WS_OVERLAPPEDWINDOW, TRUE, 0);
        int w = s.width ? px(*s.width) : rc.right - rc.left;
        int h = s.height ? px(*s.height) : rc.bottom - rc.top;
        SetWindowPos(hwnd_, nullptr, 0, 0, std::max(w, 1), std::max(h, 1), SWP_NOMOVE | SWP_NOZORDER);
    }
    list_rect_.width = s.rightPaneWidth;
    tree_rect_.width = s.leftPaneWidth;
    state_.gbytLevel = s.level;
    HMENU menu = GetMenu(hwnd_);
    for (int i = 0; i < 3; ++i) CheckMenuItem(menu, IDM_LEVEL1 + i, MF_BYCOMMAND | (i == 0 ? MF_CHECKED : MF_UNCHECKED));

    BuildCategoryTree(tree_, state_);
    rebuildTreeView();
    showRootAndSource();
    setStatus(kPaneVersion, StatusBarVersionText());
    mnuViewVertical_Click();
    ArrangeControls();
    if (s.dataWidth > 0) ListView_SetColumnWidth(lvwMain_, 0, px(s.dataWidth));
}

void frmMain::Form_Unload() {
    ShutdownValues v;
    WINDOWPLACEMENT wp{};
    wp.length = sizeof wp;
    GetWindowPlacement(hwnd_, &wp);
    v.state = IsIconic(hwnd_) ? WindowState::Minimized : IsZoomed(hwnd_) ? WindowState::Maximized : WindowState::Normal;
    RECT outer;
    GetWindowRect(hwnd_, &outer);
    v.width = tw(outer.right - outer.left);
    v.height = tw(outer.bottom - outer.top);
    v.leftPaneWidth = tree_rect_.width;
    v.rightPaneWidth = list_rect_.width;
    v.dataWidth = tw(ListView_GetColumnWidth(lvwMain_, 0));
    WriteShutdownSettings(settings_, v);
    saveSettings();
}

// Without a word the window would come back next time as it was before.
void frmMain::saveSettings() {
    if (settings_.sync()) return;
    const std::string where = settings_.location();
    Message(hwnd_, "The settings could not be saved" + (where.empty() ? std::string() : " to " + where) +
                       ". The next start uses the settings saved before.",
            MB_OK | MB_ICONWARNING);
}

// Tree -----------------------------------------------------------------------

void frmMain::rebuildTreeView() {
    settingSelection_ = true;
    TreeView_DeleteAllItems(treMain_);
    items_.assign(tree_.size(), nullptr);
    for (int i : tree_.preorder()) {
        const TreeNode& n = tree_.node(i);
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
        if (tree_.node(static_cast<int>(i)).expanded) TreeView_Expand(treMain_, items_[i], TVE_EXPAND);
    if (tree_.selected() >= 0) TreeView_SelectItem(treMain_, items_[static_cast<std::size_t>(tree_.selected())]);
    settingSelection_ = false;
}

std::string frmMain::selectedNodeKey() const {
    HTREEITEM item = TreeView_GetSelection(treMain_);
    if (!item) return {};
    TVITEMW tv{};
    tv.mask = TVIF_PARAM;
    tv.hItem = item;
    TreeView_GetItem(treMain_, &tv);
    return tree_.node(static_cast<int>(tv.lParam)).key;
}

void frmMain::showRootAndSource() {
    int root = tree_.find(kRootKey);
    if (root >= 0) {
        std::string text = snapshot_ ? snapshot_->computer() : RootText(state_.gstrComputer);
        tree_.setText(root, text);
        std::wstring w = WideFromUtf8(text);
        TVITEMW tv{};
        tv.mask = TVIF_TEXT;
        tv.hItem = items_[static_cast<std::size_t>(root)];
        tv.pszText = w.data();
        SendMessageW(treMain_, TVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&tv));
    }
    std::string source;
    if (snapshot_) {
        source = "Snapshot of " + snapshot_->computer();
        if (!snapshot_->captured().empty()) source += ", captured " + FormatWMIDate(snapshot_->captured());
    }
    setStatus(kPaneSource, source);
}

// List -----------------------------------------------------------------------

void frmMain::syncColumns() {
    if (list_.columnGeneration() == columnGeneration_) return;
    columnGeneration_ = list_.columnGeneration();
    SendMessageW(lvwMain_, WM_SETREDRAW, FALSE, 0);
    while (ListView_DeleteColumn(lvwMain_, 0)) {
    }
    int i = 0;
    for (const ListColumn& c : list_.columns()) {
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

void frmMain::syncList() {
    syncColumns();
    LONG_PTR style = GetWindowLongPtrW(lvwMain_, GWL_STYLE);
    LONG_PTR wanted = list_.headersHidden() ? (style | LVS_NOCOLUMNHEADER) : (style & ~LVS_NOCOLUMNHEADER);
    if (wanted != style) SetWindowLongPtrW(lvwMain_, GWL_STYLE, wanted);
    ListView_SetItemCountEx(lvwMain_, static_cast<int>(list_.rowCount()), LVSICF_NOSCROLL);
    list_.resetChangeMark();
}

void frmMain::setListMode(int mode) {
    listMode_ = mode;
    LONG_PTR style = GetWindowLongPtrW(lvwMain_, GWL_STYLE) & ~LVS_TYPEMASK;
    SetWindowLongPtrW(lvwMain_, GWL_STYLE, style | (mode == 0 ? LVS_ICON : LVS_REPORT));
}

// One column per property: fit each to what the first screens of rows hold.
void frmMain::fitColumns() {
    const std::size_t ncols = list_.columns().size();
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
        int best = width(list_.columns()[c].caption) + pad;
        for (std::size_t r = 0; r < std::min<std::size_t>(list_.rowCount(), 60); ++r) {
            const ListRow& row = list_.row(r);
            const std::string& cell = c == 0 ? row.text : (c - 1 < row.sub.size() ? row.sub[c - 1] : row.text);
            if (c == 0 || c - 1 < row.sub.size()) best = std::max(best, width(cell));
        }
        ListView_SetColumnWidth(lvwMain_, static_cast<int>(c), std::min(best, cap));
    }
    SelectObject(dc, old);
    ReleaseDC(lvwMain_, dc);
}

// ListingHost ----------------------------------------------------------------

void frmMain::setListedCount(long count) {
    listedCount_ = count;
    SetWindowTextW(lblListedCount_, (L"Listed " + std::to_wstring(count)).c_str());
}

void frmMain::setProgressVisible(bool visible) {
    if (visible) {
        SendMessageW(pbrMain_, PBM_SETMARQUEE, TRUE, 30);
        ArrangeControls();
        SetWindowPos(picMain_, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_SHOWWINDOW);
    } else {
        SendMessageW(pbrMain_, PBM_SETMARQUEE, FALSE, 0);
        ShowWindow(picMain_, SW_HIDE);
    }
}

void frmMain::yieldToUser(bool) {
    // Look for input every 15 ms: a long listing spends its time listing,
    // the view catches up in batches, and Cancel is still seen at once.
    const DWORD now = GetTickCount();
    if (now - lastYield_ < 15) return;
    lastYield_ = now;
    syncList();
    UpdateWindow(lblListedCount_);
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            PostQuitMessage(static_cast<int>(msg.wParam));
            state_.gblnCancel = true;
            break;
        }
        if (accel_ && TranslateAcceleratorW(hwnd_, accel_, &msg)) continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

// Selection ------------------------------------------------------------------

wmi::Services frmMain::GetWMIServices() {
    if (snapshot_) return wmi::Services(snapshot_);
    return wmi::GetWMIServices(state_, backends_);
}

void frmMain::runWhenIdle(std::function<void()> f) {
    if (busy_) {
        state_.gblnCancel = true;
        deferred_.push_back(std::move(f));
        return;
    }
    f();
}

void frmMain::finishBusy() {
    busy_ = false;
    auto pending = std::move(deferred_);
    deferred_.clear();
    for (auto& f : pending) f();
}

void frmMain::setBusy(bool busy) {
    busy_ = busy || busy_;
    EnableWindow(lvwMain_, !busy);
    EnableWindow(treMain_, !busy);
    if (!busy) SetFocus(treMain_);
}

void frmMain::treMain_NodeClick(int node) {
    if (node < 0 || static_cast<std::size_t>(node) >= items_.size()) return;
    setBusy(true);
    try {
        list_.clearRows();
        syncList();
        setStatus(kPaneNote, "");
        setStatus(kPaneReasons, "");
        // A new selection lists in the order the computer gives.
        sortColumn_ = -1;
        horizontalListing_ = false;
        listedCount_ = 0;
        listingComplete_ = true;
        state_.gblnCancel = false;
        tree_.setSelected(node);
        settingSelection_ = true;
        TreeView_SelectItem(treMain_, items_[static_cast<std::size_t>(node)]);
        settingSelection_ = false;

        const TreeNode& n = tree_.node(node);
        const NodeKind kind = ClassifyNodeKey(n.key);
        ListingNode ln{n.key, n.text, n.image};
        std::shared_ptr<wmi::Provider> listedFrom;
        auto services = [this, &listedFrom] {
            wmi::Services s = GetWMIServices();
            listedFrom = s.provider();
            return s;
        };
        switch (kind) {
        case NodeKind::Root:
            setListMode(3);
            ShowRootSummary(list_, *this, services);
            break;
        case NodeKind::Category:
            setListMode(0);
            for (int c : n.children) {
                const TreeNode& ch = tree_.node(c);
                list_.addRow(ch.key, ch.text, ch.image);
            }
            break;
        case NodeKind::Class:
            setListMode(3);
            break;
        }
        setStatus(kPaneNode, n.text);
        if (state_.gblnHorizontal)
            List_Items_Horizontally(ln, list_, *this, services);
        else
            List_Items_Vertically(ln, list_, *this, services);
        syncList();
        if (listedFrom && kind == NodeKind::Class) {
            std::string reasons;
            for (const std::string& r : listedFrom->reasons(n.key)) reasons += (reasons.empty() ? "" : "; ") + r;
            setStatus(kPaneReasons, reasons);
        }
        ArrangeControls();
        fitColumns();
        if (kind == NodeKind::Class) {
            horizontalListing_ = state_.gblnHorizontal;
            const std::string count =
                listedCount_ == 1 ? std::string("1 instance") : std::to_string(listedCount_) + " instances";
            setStatus(kPaneNote, listingComplete_ ? count : "Incomplete (cancelled): " + count + " listed");
        }
        setBusy(false);
    } catch (const std::exception& ex) {
        syncList();
        ArrangeControls();
        if (listedCount_ > 0)
            setStatus(kPaneNote, "Incomplete: " + std::to_string(listedCount_) + " listed before the error");
        setBusy(false);
        setProgressVisible(false);
        if (auto* we = dynamic_cast<const wmi::Error*>(&ex)) {
            if (we->unsignedNumber() == wmi::WBEM_E_INVALID_CLASS)
                Message(hwnd_, "This feature is NOT supported by the computer...!", MB_OK | MB_ICONWARNING);
            else
                Message(hwnd_, we->displayText());
        } else {
            // Failures outside WMI still say what happened, with the generic number.
            Message(hwnd_, std::string("-2147467259:") + ex.what());
        }
    }
    finishBusy();
}

}  // namespace kestrane::win32
