#include "window/window.h"

#include <algorithm>
#include <cctype>
#include <chrono>

#include "catalogue/catalogue.h"
#include "export/html_export.h"
#include "window/sort.h"
#include "wmi/connection.h"

namespace kestrane::window {

long long FrontEnd::nowMs() const {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

std::string InstanceCountText(long count, bool complete) {
    const std::string n = count == 1 ? std::string("1 instance") : std::to_string(count) + " instances";
    return complete ? n : "Incomplete (cancelled): " + n + " listed";
}

std::string ReasonsText(const std::vector<std::string>& reasons) {
    std::string text;
    for (const std::string& r : reasons) {
        if (!text.empty()) text += "; ";
        text += r;
    }
    return text;
}

WindowCore::WindowCore(FrontEnd& ui, SettingsStore& settings, SecretStore& secrets, wmi::Backends backends)
    : ui_(ui), settings_(settings), secrets_(secrets), backends_(std::move(backends)) {}

// Start-up and shutdown ---------------------------------------------------------

StartupSettings WindowCore::load() {
    Login login = ReadLogin(settings_, secrets_);
    state_.gstrComputer = login.computer;
    state_.gstrUserName = login.userName;
    state_.gstrPassword = login.password;
    // A password kept for the last session only is gone now: connecting
    // without it would only be refused.
    needsPassword_ = !login.userName.empty() && login.password.empty() && !wmi::IsLocalComputer(login.computer) &&
                     !IsSnapshotPath(login.computer) && !secrets_.read(kPasswordSecretKey).has_value();
    // A snapshot named as the computer is browsed as one; when it cannot be
    // read, the selection says why.
    snapshot_.close();
    if (IsSnapshotPath(state_.gstrComputer)) {
        try {
            snapshot_.open(state_.gstrComputer);
        } catch (const std::exception&) {
        }
    }
    StartupSettings s = ReadStartupSettings(settings_);
    state_.gbytLevel = s.level;
    state_.gblnHorizontal = false;
    tree_.clear();
    BuildCategoryTree(tree_, state_);
    ui_.treeRebuilt();
    list_.clearRows();
    list_.setDefaultColumns();
    ui_.listChanged();
    status_ = {};
    status_.panel = "Kestrane";
    showRootAndSource();
    return s;
}

void WindowCore::unload(const ShutdownValues& values) {
    WriteShutdownSettings(settings_, values);
    saveSettings();
}

void WindowCore::setLevel(int level) {
    WriteLevel(settings_, level);
    saveSettings();
}

// Without a word the window would come back next time as it was before.
void WindowCore::saveSettings() {
    if (settings_.sync()) return;
    const std::string where = settings_.location();
    say(MessageKind::Warning, "The settings could not be saved" + (where.empty() ? std::string() : " to " + where) +
                                  ". The next start uses the settings saved before.");
}

// Selection ------------------------------------------------------------------------

void WindowCore::request(int node, long long doubleClickMs) {
    const long long now = ui_.nowMs();
    if (node == lastRequestedNode_ && now - lastRequestMs_ < doubleClickMs) return;
    lastRequestedNode_ = node;
    lastRequestMs_ = now;
    runWhenIdle([this, node] { select(node); });
}

void WindowCore::runWhenIdle(std::function<void()> f) {
    if (busy_) {
        state_.gblnCancel = true;
        deferred_.push_back(std::move(f));
        return;
    }
    f();
}

void WindowCore::setBusy(bool busy) {
    busy_ = busy;
    ui_.setInputEnabled(!busy);
}

void WindowCore::finishBusy() {
    setBusy(false);
    auto pending = std::move(deferred_);
    deferred_.clear();
    for (auto& f : pending) f();
}

wmi::Services WindowCore::services() {
    if (snapshot_.isOpen()) return wmi::Services(snapshot_.provider());
    return wmi::GetWMIServices(state_, backends_);
}

void WindowCore::clearList() {
    list_.clearRows();
    list_.setDefaultColumns();
    list_.setHeadersHidden(false);
    sortColumn_ = -1;
    sortDescending_ = false;
    horizontalListing_ = false;
    comparison_.clear();
    ui_.listChanged();
}

void WindowCore::select(int node) {
    if (node < 0 || static_cast<std::size_t>(node) >= tree_.size()) return;
    setBusy(true);
    ui_.setProgress("Listed 0", 0, 0);
    // A new selection lists in the order the computer gives.
    clearList();
    status_.note.clear();
    status_.reasons.clear();
    listedCount_ = 0;
    listingComplete_ = true;
    state_.gblnCancel = false;
    tree_.setSelected(node);
    ui_.treeSelectionChanged(node);

    const TreeNode& n = tree_.node(node);
    const NodeKind kind = ClassifyNodeKey(n.key);
    ListingNode ln{n.key, n.text, n.image};
    std::shared_ptr<wmi::Provider> listedFrom;
    auto factory = [this, &listedFrom] {
        wmi::Services s = services();
        listedFrom = s.provider();
        return s;
    };
    try {
        switch (kind) {
        case NodeKind::Root:
            ui_.setListMode(ListMode::Report);
            ShowRootSummary(list_, *this, factory);
            break;
        case NodeKind::Category:
            ui_.setListMode(ListMode::Icons);
            for (int c : n.children) {
                const TreeNode& ch = tree_.node(c);
                list_.addRow(ch.key, ch.text, ch.image);
            }
            break;
        case NodeKind::Class:
            ui_.setListMode(ListMode::Report);
            break;
        }
        status_.panel = n.text;
        ui_.statusChanged();
        if (state_.gblnHorizontal)
            List_Items_Horizontally(ln, list_, *this, factory);
        else
            List_Items_Vertically(ln, list_, *this, factory);
        showListedCount();
        ui_.listChanged();
        ui_.listingFinished();
        if (listedFrom && kind == NodeKind::Class) status_.reasons = ReasonsText(listedFrom->reasons(n.key));
        if (kind == NodeKind::Class) {
            horizontalListing_ = state_.gblnHorizontal;
            status_.note = InstanceCountText(listedCount_, listingComplete_);
        }
        ui_.statusChanged();
    } catch (const std::exception& ex) {
        showListedCount();
        ui_.listChanged();
        ui_.listingFinished();
        if (listedCount_ > 0) status_.note = "Incomplete: " + std::to_string(listedCount_) + " listed before the error";
        ui_.statusChanged();
        ui_.setProgressVisible(false);
        setBusy(false);
        if (auto* we = dynamic_cast<const wmi::Error*>(&ex); we && we->unsignedNumber() == wmi::WBEM_E_INVALID_CLASS)
            say(MessageKind::Warning, "This feature is NOT supported by the computer...!");
        else
            sayError(ex, true);
    }
    finishBusy();
}

void WindowCore::sayError(const std::exception& ex, bool numbered) {
    if (auto* we = dynamic_cast<const wmi::Error*>(&ex))
        say(MessageKind::Critical, we->displayText());
    else
        // Failures outside WMI still say what happened, with the generic number.
        say(MessageKind::Critical, (numbered ? std::string("-2147467259:") : std::string()) + ex.what());
}

void WindowCore::refresh(int node) {
    if (node >= 0 && tree_.selected() >= 0) select(node);
}

void WindowCore::openRow(std::size_t row) {
    if (row >= list_.rowCount()) return;
    const std::string& key = list_.row(row).key;
    const int n = key.empty() ? -1 : tree_.find(key);
    if (n >= 0) select(n);
}

void WindowCore::openNode(const std::string& key) {
    const int n = tree_.find(key);
    if (n >= 0) runWhenIdle([this, n] { select(n); });
}

void WindowCore::setListedCount(long count) {
    listedCount_ = count;
    // The count is shown at each look for input and at the end: under Wine
    // a window-system call per instance cost more than listing it.
    if (count == 0) showListedCount();
}

void WindowCore::showListedCount() { ui_.setProgress("Listed " + std::to_string(listedCount_), 0, 0); }

void WindowCore::yieldToUser(bool) {
    // Input can only be seen by looking; look every 30 ms, so a long listing
    // spends its time listing (under Wine a look takes 5 to 10 ms), the view
    // catches up in batches of rows rather than row by row, and Cancel is
    // still seen at once.
    if (ui_.nowMs() - lastYieldMs_ < 30) return;
    showListedCount();
    ui_.listChanged();
    ui_.processEvents();
    // Counted from the end of the look: under Wine a look can take longer
    // than the interval, and counted from its start the listing got one instance
    // per look.
    lastYieldMs_ = ui_.nowMs();
}

std::string WindowCore::selectedNodeKey() const {
    return tree_.selected() >= 0 ? tree_.node(tree_.selected()).key : std::string();
}

// Sort, copy, export --------------------------------------------------------------

bool WindowCore::sortBy(int column) {
    if (!horizontalListing_ || busy_ || column < 0 || list_.rowCount() == 0 ||
        static_cast<std::size_t>(column) >= std::max<std::size_t>(list_.columns().size(), 1))
        return false;
    sortDescending_ = column == sortColumn_ ? !sortDescending_ : false;
    sortColumn_ = column;
    list_.reorderRows(SortedOrder(list_, static_cast<std::size_t>(column), sortDescending_));
    ui_.listReordered();
    return true;
}

CopiedRows WindowCore::copy(const std::vector<std::size_t>& rows, bool valueOnly, int currentColumn) const {
    std::optional<std::size_t> column;
    if (valueOnly)
        column = horizontalListing_ ? static_cast<std::size_t>(std::max(currentColumn, 0)) : std::size_t{1};
    return CopyRows(list_, rows, horizontalListing_, column);
}

std::string WindowCore::exportSuggestion() const {
    if (!comparison_.empty()) return "Differences.html";
    return tree_.selected() >= 0 ? tree_.node(tree_.selected()).text + ".html" : std::string("Kestrane.html");
}

void WindowCore::exportTo(const std::string& path) {
    std::optional<std::string> heading;
    if (!comparison_.empty())
        heading = comparison_;
    else if (tree_.selected() >= 0)
        heading = tree_.node(tree_.selected()).text;
    try {
        SaveToFile(heading, list_, path);
    } catch (const std::exception& ex) {
        say(MessageKind::Critical, ex.what());
    }
}

// Computers and snapshots -------------------------------------------------------------

void WindowCore::showRootAndSource() {
    const int root = tree_.find(kRootKey);
    if (root >= 0) {
        tree_.setText(root, snapshot_.isOpen() ? snapshot_.computer() : RootText(state_.gstrComputer));
        ui_.treeTextChanged(root);
    }
    status_.source = snapshot_.statusText();
    ui_.statusChanged();
}

namespace {

#ifdef _WIN32
// Names only SSH or WS-Management would reach, which the Windows build leaves out.
bool NeedsRemoteProtocol(const std::string& computer) {
    std::string lower = computer;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return lower.rfind("ssh://", 0) == 0 || lower.rfind("http://", 0) == 0 || lower.rfind("https://", 0) == 0;
}
#else
bool NeedsRemoteProtocol(const std::string&) { return false; }
#endif

}  // namespace

void WindowCore::connected(bool accepted) {
    if (!accepted) {
        showRootAndSource();
        return;
    }
    // The dialog has changed the login already: an unreadable file is said
    // and the window goes on without it.
    OpenSnapshot opened;
    openNamedSnapshot(state_.gstrComputer, opened);
    useLogin(std::move(opened));
}

bool WindowCore::connectTo(const AppState& edited) {
    if (NeedsRemoteProtocol(edited.gstrComputer)) {
        say(MessageKind::Warning,
            "This build of Kestrane cannot reach \"" + edited.gstrComputer +
                "\": SSH and WS-Management are not part of the Windows build. Give a computer name or address "
                "(reached through DCOM) or the path of a snapshot file.");
        return false;
    }
    OpenSnapshot opened;
    if (!openNamedSnapshot(edited.gstrComputer, opened)) return false;
    state_.gstrComputer = edited.gstrComputer;
    state_.gstrUserName = edited.gstrUserName;
    state_.gstrPassword = edited.gstrPassword;
    useLogin(std::move(opened));
    return true;
}

bool WindowCore::openNamedSnapshot(const std::string& computer, OpenSnapshot& opened) {
    if (!IsSnapshotPath(computer)) return true;
    try {
        opened.open(computer);
    } catch (const std::exception& e) {
        say(MessageKind::Critical, e.what());
        return false;
    }
    return true;
}

void WindowCore::useLogin(OpenSnapshot opened) {
    // What the status bar and the list said belonged to the computer before.
    ui_.flash("");
    status_.note.clear();
    status_.reasons.clear();
    snapshot_ = std::move(opened);
    needsPassword_ = false;
    clearList();  // the previous computer's rows
    if (!WriteLogin(settings_, secrets_, {state_.gstrComputer, state_.gstrUserName, state_.gstrPassword}))
        ui_.flash("No keyring answered: the password is kept for this session only.");
    showRootAndSource();
}

bool WindowCore::openSnapshot(const std::string& path) {
    try {
        snapshot_.open(path);
    } catch (const std::exception& e) {
        say(MessageKind::Critical, e.what());
        return false;
    }
    openRecorded(snapshot_.provider(), "");
    return true;
}

void WindowCore::openRecorded(std::shared_ptr<wmi::SnapshotProvider> recorded, const std::string& origin) {
    if (recorded != snapshot_.provider()) snapshot_.open(std::move(recorded), origin);
    ui_.flash("");
    status_.note.clear();
    showRootAndSource();
    if (tree_.size() > 0) select(0);
}

std::string WindowCore::snapshotSuggestion() {
    // The name the snapshot records: a remote computer's own, not the
    // address it answers at (http://host:5985/wsman).
    std::string name;
    if (!snapshot_.isOpen() && !wmi::IsLocalComputer(state_.gstrComputer)) {
        try {
            name = services().provider()->computerName();
        } catch (const std::exception&) {
            // Not reachable now: the name shown will do.
        }
    }
    if (name.empty()) {
        const int root = tree_.find(kRootKey);
        name = root >= 0 ? tree_.node(root).text : std::string("Kestrane");
    }
    return name + ".json";
}

void WindowCore::saveSnapshot(const std::string& chosen) {
    const std::string file = WithJsonExtension(chosen);
    setBusy(true);
    state_.gblnCancel = false;
    status_.note.clear();
    ui_.statusChanged();
    ui_.setProgressVisible(true);
    try {
        wmi::Services s = services();
        std::string computer = snapshot_.isOpen() ? snapshot_.computer() : s.provider()->computerName();
        if (computer.empty()) computer = RootText(state_.gstrComputer);
        auto res = SaveSnapshot(file, *s.provider(), computer,
                                [this](std::size_t i, std::size_t total, const std::string& name) {
                                    ui_.setProgress(name, i, total);
                                    ui_.processEvents();
                                    return !state_.gblnCancel;
                                });
        status_.note = res.cancelled ? std::string("Snapshot not saved: cancelled")
                                     : "Snapshot of " + computer + " saved to " + file + " (" +
                                           std::to_string(res.recorded.size()) + " classes)";
        ui_.statusChanged();
    } catch (const std::exception& e) {
        status_.note = "Snapshot not saved";
        ui_.statusChanged();
        sayError(e, false);
    }
    ui_.setProgressVisible(false);
    ui_.setProgress("Listed 0", 0, 0);
    finishBusy();
}

}  // namespace kestrane::window
