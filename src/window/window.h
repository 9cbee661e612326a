// What the main window does, without a toolkit: the tree and the list it
// shows, what a selection lists, busy and cancel, find, sort, copy, export,
// Connect To, snapshots, the status texts and the settings read at start and
// written at close. A front end (Qt, Win32) draws the models and wires its
// controls to these calls; it implements FrontEnd, which is all the core
// asks of it.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "catalogue/tree_model.h"
#include "core/app_state.h"
#include "core/settings.h"
#include "listing/list_model.h"
#include "listing/listing.h"
#include "wmi/services.h"
#include "window/copy.h"
#include "window/find.h"
#include "window/snapshots.h"

#ifdef KESTRANE_HAVE_STORE
#include "fleet/store.h"
#endif

namespace kestrane::window {

enum class MessageKind { Information, Warning, Critical, Question };
enum class ListMode { Icons, Report };

// The window's title.
inline constexpr const char* kTitle = "Kestrane - System Information Tool";

// What the core asks of the front end. Every call comes on the thread that
// called into the core.
class FrontEnd {
public:
    virtual ~FrontEnd() = default;
    // The list model's rows or columns changed: added during a listing (in
    // batches), replaced, cleared or put in a new order.
    virtual void listChanged() = 0;
    // The rows were put in a new order (a sort); columns unchanged.
    virtual void listReordered() { listChanged(); }
    // A listing has ended (complete or not): show the header as the list
    // says and fit the columns.
    virtual void listingFinished() {}
    // Large icons for a category, the report for the rest.
    virtual void setListMode(ListMode mode) = 0;
    // Tree and list take no input while the core lists or records.
    virtual void setInputEnabled(bool enabled) = 0;
    // The progress area with its Cancel button.
    virtual void setProgressVisible(bool visible) = 0;
    // The progress area's text ("Listed N", or the class being recorded) and
    // bar: `total` 0 shows activity without an end.
    virtual void setProgress(const std::string& text, std::size_t step, std::size_t total) = 0;
    // Lets the user act (Cancel, closing the window) while the core works;
    // the core calls it every 30 ms or so.
    virtual void processEvents() = 0;
    // The tree model was rebuilt (start, level change).
    virtual void treeRebuilt() = 0;
    // A node's text changed (the root names the computer).
    virtual void treeTextChanged(int node) = 0;
    // The core selected this node (the tree's current item follows).
    virtual void treeSelectionChanged(int node) = 0;
    // One of status()'s texts changed.
    virtual void statusChanged() = 0;
    // A passing message in the status bar; "" takes it away.
    virtual void flash(const std::string& text) = 0;
    // A message box titled "Kestrane"; with `ask`, Yes and No, and true for
    // Yes; else OK.
    virtual bool message(MessageKind kind, const std::string& text, bool ask = false) = 0;
    // Milliseconds of a steady clock (tests may set the time).
    virtual long long nowMs() const;
};

// The texts of the status bar that follow what is listed.
struct Status {
    std::string panel;    // the selected node's text
    std::string note;     // "3 instances", "Incomplete (cancelled): ...", the save's outcome
    std::string source;   // "Snapshot of NAME, captured DATE"; "" for a live computer
    std::string reasons;  // why some of the listed class's values are missing
};

// "N instances", with "Incomplete (cancelled): ... listed" when a listing
// stopped early.
std::string InstanceCountText(long count, bool complete);
// Reasons joined with "; ".
std::string ReasonsText(const std::vector<std::string>& reasons);

class WindowCore : private ListingHost {
public:
    WindowCore(FrontEnd& ui, SettingsStore& settings, SecretStore& secrets, wmi::Backends backends);

    AppState& state() { return state_; }
    const AppState& state() const { return state_; }
    const TreeModel& tree() const { return tree_; }
    const ListModel& list() const { return list_; }
    // For a view that keeps the model's change marks.
    ListModel& list() { return list_; }
    const OpenSnapshot& snapshot() const { return snapshot_; }
    const Status& status() const { return status_; }
    SettingsStore& settings() { return settings_; }

    // Start-up (and a level change): the login, a snapshot named as the
    // computer, the tree at the stored level, an empty list. Returns the
    // stored window settings for the front end to apply.
    StartupSettings load();
    // A remembered remote login whose password is nowhere (no keyring):
    // the front end asks for it with the Connect To dialog before listing.
    bool loginNeedsPassword() const { return needsPassword_; }
    // Stores the window's values at close; says so when they cannot be
    // written.
    void unload(const ShutdownValues& values);
    // A level from the menu: stored, then load() again.
    void setLevel(int level);

    // Selection --------------------------------------------------------------
    // A node asked for from the tree: runs select() when idle, cancelling a
    // running listing. A double-click asks twice within the interval; the
    // second is dropped so it cannot cancel the listing the first started.
    void request(int node, long long doubleClickMs);
    // What the tree's selection lists (treMain_NodeClick).
    void select(int node);
    // Lists `node` again when the tree has a selection.
    void refresh(int node);
    // A double-click on a list row: the node its key names, if any.
    void openRow(std::size_t row);
    // The category tool bars' buttons: the node of that text.
    void openNode(const std::string& key);
    // Runs `f` now, or after the running listing, which it cancels.
    void runWhenIdle(std::function<void()> f);
    bool busy() const { return busy_; }
    void cancel() { state_.gblnCancel = true; }
    // Whether the list holds one row per instance (sorting applies).
    bool horizontalListing() const { return horizontalListing_; }
    void setHorizontal(bool horizontal) { state_.gblnHorizontal = horizontal; }

    // Sort, find, copy, export --------------------------------------------------
    // A header click: ascending, then descending on the same column. False
    // when the list cannot be sorted now.
    bool sortBy(int column);
    int sortColumn() const { return sortColumn_; }
    bool sortDescending() const { return sortDescending_; }
    Finder& finder() { return finder_; }
    // The selected rows; `valueOnly` copies the value column (in the table,
    // `currentColumn`).
    CopiedRows copy(const std::vector<std::size_t>& rows, bool valueOnly, int currentColumn) const;
    // Appends the list to an HTML file, headed by the selected node's text;
    // a failure is said in a message box.
    void exportTo(const std::string& path);
    // The file name the Export dialog offers.
    std::string exportSuggestion() const;

    // Computers and snapshots -----------------------------------------------------
    // After the Connect To dialog, which edits state(): stores the login,
    // opens a snapshot path, empties the list (its rows were the previous
    // computer's) and renames the root. `accepted` false only renames.
    void connected(bool accepted);
    // Connect To for a dialog that edits a copy of state(): the login is
    // taken only when the computer can be browsed. False (after saying why)
    // for a snapshot file that cannot be read or a protocol this build
    // cannot speak; the computer browsed so far then stays.
    bool connectTo(const AppState& edited);
    // Browses a recorded computer and lists its summary; false (after saying
    // why) when the file cannot be read.
    bool openSnapshot(const std::string& path);
    // Records the current computer into `path` (".json" added when it has
    // no extension) with progress and cancel; a cancelled or failed save
    // leaves no file and an existing one unchanged.
    void saveSnapshot(const std::string& path);
    // The file name the Save Snapshot dialog offers: the computer's own name.
    std::string snapshotSuggestion();
    // Opens a recorded computer that the caller loaded (a stored capture):
    // as openSnapshot, `origin` saying where it came from in the status bar.
    void openRecorded(std::shared_ptr<wmi::SnapshotProvider> recorded, const std::string& origin);

    // Compare With: lists what differs between `before` (a snapshot file or
    // a stored capture) and what the window shows now, class by class with
    // progress and Cancel, leaving out values that change by themselves. The
    // list exports like any listing. False (after saying why) when `before`
    // cannot be read.
    bool compareWith(const std::string& snapshotPath);
    void compareWith(wmi::Provider& before, const std::string& label);
    // The heading of the list when it shows differences ("" otherwise).
    const std::string& comparison() const { return comparison_; }

#ifdef KESTRANE_HAVE_STORE
    // Open Store: the store's computers (name, last capture, status); empty
    // after saying why when the store cannot be opened.
    std::vector<fleet::ComputerSummary> storeComputers(const std::string& store);
    // Browses NAME's latest complete capture (or NAME@WHEN) like a snapshot.
    bool openStored(const std::string& store, const std::string& nameAtWhen);
    // Compare With a stored capture.
    bool compareWithStored(const std::string& store, const std::string& nameAtWhen);
#endif

    // The settings file, for messages ("" when there is none).
    std::string settingsLocation() const { return settings_.location(); }

private:
    // ListingHost
    bool cancelRequested() const override { return state_.gblnCancel; }
    void setListedCount(long count) override;
    void setProgressVisible(bool visible) override { ui_.setProgressVisible(visible); }
    void yieldToUser(bool always) override;
    void showListedCount();
    std::string selectedNodeKey() const override;
    void listingEnded(bool complete) override { listingComplete_ = complete; }

    wmi::Services services();
    void showRootAndSource();
    // A snapshot file named as the computer, into `opened`; false after
    // saying why it cannot be read. Any other name needs nothing opened.
    bool openNamedSnapshot(const std::string& computer, OpenSnapshot& opened);
    void useLogin(OpenSnapshot opened);
    void clearList();
    void setBusy(bool busy);
    void finishBusy();
    void saveSettings();
    void say(MessageKind kind, const std::string& text) { ui_.message(kind, text); }
    void sayError(const std::exception& e, bool numbered);

    FrontEnd& ui_;
    SettingsStore& settings_;
    SecretStore& secrets_;
    wmi::Backends backends_;
    AppState state_;
    TreeModel tree_;
    ListModel list_;
    OpenSnapshot snapshot_;
    Status status_;
    Finder finder_;

    bool busy_ = false;
    std::vector<std::function<void()>> deferred_;
    long long lastYieldMs_ = 0;
    int lastRequestedNode_ = -1;
    long long lastRequestMs_ = 0;
    long listedCount_ = 0;
    bool listingComplete_ = true;
    bool horizontalListing_ = false;
    int sortColumn_ = -1;
    bool sortDescending_ = false;
    bool needsPassword_ = false;
    std::string comparison_;
};

}  // namespace kestrane::window
