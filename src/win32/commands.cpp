// The menu and tool bar commands of the main window: the dialogs are the
// window's, what the commands do is the core's.
#include "catalogue/catalogue.h"
#include "core/platform.h"
#include "win32/clipboard.h"
#include "win32/frmMain.h"
#include "win32/resource.h"

namespace kestrane::win32 {

namespace {

constexpr wchar_t kSnapshotFilter[] = L"Snapshots (*.json)\0*.json\0All files (*.*)\0*.*\0";
constexpr wchar_t kHtmlFilter[] = L"HTML (*.html)\0*.html\0All files (*.*)\0*.*\0";

}  // namespace

// File -----------------------------------------------------------------------

void frmMain::mnuFleConnectTo_Click() {
    AppState edited = core_.state();
    if (ConnectDialog(hwnd_, edited)) core_.connectTo(edited);
}

void frmMain::mnuFleOpenSnapshot_Click() {
    std::string file = OpenFileDialog(hwnd_, L"Kestrane - Open Snapshot", kSnapshotFilter);
    if (!file.empty()) core_.openSnapshot(file);
}

void frmMain::mnuFleSaveSnapshot_Click() {
    std::string file = SaveFileDialog(hwnd_, L"Kestrane - Save Snapshot", kSnapshotFilter, core_.snapshotSuggestion(),
                                      L"json", true);
    if (!file.empty()) core_.saveSnapshot(file);
}

void frmMain::mnuFleCompareWith_Click() {
    std::string file = OpenFileDialog(hwnd_, L"Kestrane - Compare With", kSnapshotFilter);
    if (!file.empty()) core_.compareWith(file);
}

void frmMain::mnuFleExport_Click() {
    // The export is added to the end of an existing file: nothing to replace,
    // nothing to ask; the title says so.
    std::string file = SaveFileDialog(hwnd_, L"Kestrane - Export (appended to an existing file)", kHtmlFilter,
                                      core_.exportSuggestion(), L"html", false);
    if (!file.empty()) core_.exportTo(file);
}

void frmMain::mnuFleExit_Click() {
    if (message(window::MessageKind::Question, "Are you sure you want to close this program?", true))
        PostMessageW(hwnd_, WM_CLOSE, 0, 0);
}

// Edit -----------------------------------------------------------------------

std::vector<std::size_t> frmMain::selectedRows() const {
    std::vector<std::size_t> rows;
    int i = -1;
    while ((i = ListView_GetNextItem(lvwMain_, i, LVNI_SELECTED)) >= 0) rows.push_back(static_cast<std::size_t>(i));
    return rows;
}

void frmMain::selectRow(std::size_t row) {
    ListView_SetItemState(lvwMain_, -1, 0, LVIS_SELECTED | LVIS_FOCUSED);
    ListView_SetItemState(lvwMain_, static_cast<int>(row), LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
    ListView_EnsureVisible(lvwMain_, static_cast<int>(row), FALSE);
}

void frmMain::mnuEdtSelectAll_Click() { ListView_SetItemState(lvwMain_, -1, LVIS_SELECTED, LVIS_SELECTED); }

void frmMain::mnuEdtFind_Click() {
    if (auto req = FindDialog(hwnd_, find_)) {
        find_ = *req;
        showFindHit(core_.finder().setText(core_.list(), find_.text));
    }
}

void frmMain::findNext(bool backwards) {
    window::Finder& finder = core_.finder();
    if (finder.text().empty()) {
        mnuEdtFind_Click();
        return;
    }
    showFindHit(backwards ? finder.previous(core_.list()) : finder.next(core_.list()));
}

void frmMain::showFindHit(const window::Finder::Hit& hit) {
    if (hit.row >= 0) selectRow(static_cast<std::size_t>(hit.row));
    flash(core_.finder().status(hit));
}

void frmMain::mnuEdtCopy_Click(bool valueOnly) {
    std::vector<std::size_t> rows = selectedRows();
    if (rows.empty()) {
        int focused = ListView_GetNextItem(lvwMain_, -1, LVNI_FOCUSED);
        if (focused < 0) return;
        rows.push_back(static_cast<std::size_t>(focused));
    }
    // A list view row has no current cell: the value is the first column's.
    const window::CopiedRows copied = core_.copy(rows, valueOnly, 0);
    if (!PutOnClipboard(hwnd_, copied.text, copied.html))
        message(window::MessageKind::Critical, "The clipboard could not be opened.", false);
}

// View -----------------------------------------------------------------------

void frmMain::mnuViewVertical_Click() {
    core_.setHorizontal(false);
    CheckMenuItem(GetMenu(hwnd_), IDM_VERTICAL, MF_BYCOMMAND | MF_CHECKED);
    CheckMenuItem(GetMenu(hwnd_), IDM_HORIZONTAL, MF_BYCOMMAND | MF_UNCHECKED);
}

void frmMain::mnuViewHorizontal_Click() {
    core_.setHorizontal(true);
    CheckMenuItem(GetMenu(hwnd_), IDM_VERTICAL, MF_BYCOMMAND | MF_UNCHECKED);
    CheckMenuItem(GetMenu(hwnd_), IDM_HORIZONTAL, MF_BYCOMMAND | MF_CHECKED);
}

void frmMain::mnuViewRefresh_Click() {
    core_.refresh(core_.tree().selected());
    InvalidateRect(treMain_, nullptr, TRUE);
    InvalidateRect(lvwMain_, nullptr, TRUE);
}

void frmMain::mnuHlpAbout_Click() { AboutDialog(hwnd_); }

void frmMain::lvwMain_ColumnClick(int column) { core_.sortBy(column); }

void frmMain::lvwMain_DblClick() {
    const int focused = ListView_GetNextItem(lvwMain_, -1, LVNI_FOCUSED | LVNI_SELECTED);
    if (focused >= 0) core_.runWhenIdle([this, focused] { core_.openRow(static_cast<std::size_t>(focused)); });
}

}  // namespace kestrane::win32
