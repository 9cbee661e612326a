// The menu and tool bar commands of the main window.
#include <algorithm>

#include "backends/backends.h"
#include "catalogue/catalogue.h"
#include "core/platform.h"
#include "export/html_export.h"
#include "win32/clipboard.h"
#include "window/copy.h"
#include "window/sort.h"
#include "win32/frmMain.h"
#include "win32/resource.h"

namespace kestrane::win32 {

namespace {

enum Pane { kPaneNode, kPaneAddress, kPaneVersion, kPaneCredit, kPaneReasons, kPaneNote, kPaneSource };

constexpr wchar_t kSnapshotFilter[] = L"Snapshots (*.json)\0*.json\0All files (*.*)\0*.*\0";
constexpr wchar_t kHtmlFilter[] = L"HTML (*.html)\0*.html\0All files (*.*)\0*.*\0";

// Names only SSH or WS-Management would reach.
bool NeedsRemoteProtocol(const std::string& computer) {
    std::string lower = computer;
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return lower.rfind("ssh://", 0) == 0 || lower.rfind("http://", 0) == 0 || lower.rfind("https://", 0) == 0;
}

}  // namespace

void frmMain::mnuFleConnectTo_Click() {
    AppState edited = state_;
    if (!ConnectDialog(hwnd_, edited)) return;
    if (NeedsRemoteProtocol(edited.gstrComputer)) {
        Message(hwnd_,
                "This build of Kestrane cannot reach \"" + edited.gstrComputer +
                    "\": SSH and WS-Management are not part of the Windows build. Give a computer name or address "
                    "(reached through DCOM) or the path of a snapshot file.",
                MB_OK | MB_ICONWARNING);
        return;
    }
    std::shared_ptr<wmi::SnapshotProvider> snapshot;
    if (NamesSnapshotFile(edited.gstrComputer)) {
        try {
            snapshot = wmi::LoadSnapshot(edited.gstrComputer);
        } catch (const std::exception& e) {
            // The computer browsed so far stays.
            Message(hwnd_, e.what());
            return;
        }
    }
    state_.gstrComputer = edited.gstrComputer;
    state_.gstrUserName = edited.gstrUserName;
    state_.gstrPassword = edited.gstrPassword;
    snapshot_ = snapshot;
    setStatus(kPaneNote, "");
    if (!WriteLogin(settings_, secrets_, {state_.gstrComputer, state_.gstrUserName, state_.gstrPassword}))
        setStatus(kPaneNote, "Credential Manager refused the password: it is kept for this session only.");
    saveSettings();
    showRootAndSource();
}

bool frmMain::openSnapshotFile(const std::string& path) {
    try {
        snapshot_ = wmi::LoadSnapshot(path);
    } catch (const std::exception& e) {
        Message(hwnd_, e.what());
        return false;
    }
    setStatus(kPaneNote, "");
    showRootAndSource();
    if (!tree_.topLevel().empty()) treMain_NodeClick(tree_.topLevel().front());
    return true;
}

void frmMain::mnuFleOpenSnapshot_Click() {
    std::string file = OpenFileDialog(hwnd_, L"Kestrane - Open Snapshot", kSnapshotFilter);
    if (!file.empty()) openSnapshotFile(file);
}

void frmMain::mnuFleSaveSnapshot_Click() {
    const int root = tree_.find(kRootKey);
    std::string suggested = (root >= 0 ? tree_.node(root).text : std::string("Kestrane")) + ".json";
    std::string file = SaveFileDialog(hwnd_, L"Kestrane - Save Snapshot", kSnapshotFilter, suggested, L"json", true);
    if (file.empty()) return;

    setBusy(true);
    state_.gblnCancel = false;
    setStatus(kPaneNote, "");
    setProgressVisible(true);
    try {
        wmi::Services services = GetWMIServices();
        std::string computer = snapshot_ ? snapshot_->computer() : services.provider()->computerName();
        if (computer.empty()) computer = RootText(state_.gstrComputer);
        auto res = wmi::CaptureSnapshot(
            file, *services.provider(), SnapshotClassNames(), computer, wmi::DmtfNowUtc(),
            [this](std::size_t i, std::size_t total, const std::string& name) {
                SendMessageW(pbrMain_, PBM_SETMARQUEE, FALSE, 0);
                SetWindowLongPtrW(pbrMain_, GWL_STYLE, GetWindowLongPtrW(pbrMain_, GWL_STYLE) & ~PBS_MARQUEE);
                SendMessageW(pbrMain_, PBM_SETRANGE32, 0, static_cast<LPARAM>(total));
                SendMessageW(pbrMain_, PBM_SETPOS, i, 0);
                SetWindowTextW(lblListedCount_, WideFromUtf8(name).c_str());
                lastYield_ = 0;
                yieldToUser(true);
                return !state_.gblnCancel;
            });
        setStatus(kPaneNote, res.cancelled ? std::string("Snapshot not saved: cancelled")
                                           : "Snapshot of " + computer + " saved to " + file + " (" +
                                                 std::to_string(res.recorded.size()) + " classes)");
    } catch (const wmi::Error& e) {
        setStatus(kPaneNote, "Snapshot not saved");
        Message(hwnd_, e.displayText());
    } catch (const std::exception& e) {
        setStatus(kPaneNote, "Snapshot not saved");
        Message(hwnd_, e.what());
    }
    setProgressVisible(false);
    SetWindowLongPtrW(pbrMain_, GWL_STYLE, GetWindowLongPtrW(pbrMain_, GWL_STYLE) | PBS_MARQUEE);
    SetWindowTextW(lblListedCount_, L"Listed 0");
    setBusy(false);
    finishBusy();
}

void frmMain::mnuFleExport_Click() {
    const int sel = tree_.selected();
    std::string suggested = (sel >= 0 ? tree_.node(sel).text : std::string("Kestrane")) + ".html";
    // The export is added to the end of an existing file: nothing to replace,
    // nothing to ask; the title says so.
    std::string file = SaveFileDialog(hwnd_, L"Kestrane - Export (appended to an existing file)", kHtmlFilter,
                                      suggested, L"html", false);
    if (file.empty()) return;
    std::optional<std::string> heading;
    if (sel >= 0) heading = tree_.node(sel).text;
    try {
        SaveToFile(heading, list_, file);
    } catch (const std::exception& ex) {
        Message(hwnd_, ex.what());
    }
}

void frmMain::mnuFleExit_Click() {
    if (Message(hwnd_, "Are you sure you want to close this program?", MB_YESNO | MB_ICONQUESTION) == IDYES)
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
        showFindHit(finder_.setText(list_, find_.text));
    }
}

void frmMain::findNext(bool backwards) {
    if (finder_.text().empty()) {
        mnuEdtFind_Click();
        return;
    }
    showFindHit(backwards ? finder_.previous(list_) : finder_.next(list_));
}

void frmMain::showFindHit(const window::Finder::Hit& hit) {
    if (hit.row >= 0) selectRow(static_cast<std::size_t>(hit.row));
    setStatus(kPaneNote, hit.row >= 0 ? finder_.status(hit) : "\"" + finder_.text() + "\" not found");
}

void frmMain::mnuEdtCopy_Click(bool valueOnly) {
    std::vector<std::size_t> rows = selectedRows();
    if (rows.empty()) {
        int focused = ListView_GetNextItem(lvwMain_, -1, LVNI_FOCUSED);
        if (focused < 0) return;
        rows.push_back(static_cast<std::size_t>(focused));
    }
    std::optional<std::size_t> column;
    if (valueOnly) column = horizontalListing_ ? std::size_t{0} : std::size_t{1};
    window::CopiedRows copied = window::CopyRows(list_, rows, horizontalListing_, column);
    if (!PutOnClipboard(hwnd_, copied.text, copied.html)) Message(hwnd_, "The clipboard could not be opened.");
}

// View -----------------------------------------------------------------------

void frmMain::mnuViewVertical_Click() {
    state_.gblnHorizontal = false;
    CheckMenuItem(GetMenu(hwnd_), IDM_VERTICAL, MF_BYCOMMAND | MF_CHECKED);
    CheckMenuItem(GetMenu(hwnd_), IDM_HORIZONTAL, MF_BYCOMMAND | MF_UNCHECKED);
}

void frmMain::mnuViewHorizontal_Click() {
    state_.gblnHorizontal = true;
    CheckMenuItem(GetMenu(hwnd_), IDM_VERTICAL, MF_BYCOMMAND | MF_UNCHECKED);
    CheckMenuItem(GetMenu(hwnd_), IDM_HORIZONTAL, MF_BYCOMMAND | MF_CHECKED);
}

void frmMain::mnuViewRefresh_Click() {
    if (tree_.selected() >= 0) treMain_NodeClick(tree_.selected());
    InvalidateRect(treMain_, nullptr, TRUE);
    InvalidateRect(lvwMain_, nullptr, TRUE);
}

void frmMain::mnuLevel_Click(int index) {
    WriteLevel(settings_, index);
    saveSettings();
    Form_Load();
}

void frmMain::mnuHlpAbout_Click() { AboutDialog(hwnd_); }

void frmMain::lvwMain_ColumnClick(int column) {
    if (!horizontalListing_ || busy_ || column < 0 || list_.rowCount() == 0) return;
    sortDescending_ = column == sortColumn_ ? !sortDescending_ : false;
    sortColumn_ = column;
    ListView_SetItemState(lvwMain_, -1, 0, LVIS_SELECTED | LVIS_FOCUSED);
    list_.reorderRows(window::SortedOrder(list_, static_cast<std::size_t>(column), sortDescending_));
    HWND header = ListView_GetHeader(lvwMain_);
    for (int i = 0; i < Header_GetItemCount(header); ++i) {
        HDITEMW hd{};
        hd.mask = HDI_FORMAT;
        SendMessageW(header, HDM_GETITEMW, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&hd));
        hd.fmt &= ~(HDF_SORTUP | HDF_SORTDOWN);
        if (i == column) hd.fmt |= sortDescending_ ? HDF_SORTDOWN : HDF_SORTUP;
        SendMessageW(header, HDM_SETITEMW, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&hd));
    }
    InvalidateRect(lvwMain_, nullptr, TRUE);
}

void frmMain::lvwMain_DblClick() {
    const int focused = ListView_GetNextItem(lvwMain_, -1, LVNI_FOCUSED | LVNI_SELECTED);
    if (focused < 0) return;
    const std::string& key = list_.row(static_cast<std::size_t>(focused)).key;
    const int n = key.empty() ? -1 : tree_.find(key);
    if (n >= 0) runWhenIdle([this, n] { treMain_NodeClick(n); });
}

}  // namespace kestrane::win32
