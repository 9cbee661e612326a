// Compare With and the fleet store in the window.
#include <algorithm>

#include "catalogue/catalogue.h"
#include "fleet/diff.h"
#include "window/window.h"
#include "wmi/error.h"

namespace kestrane::window {

bool WindowCore::compareWith(const std::string& snapshotPath) {
    std::shared_ptr<wmi::SnapshotProvider> before;
    try {
        before = wmi::LoadSnapshot(snapshotPath);
    } catch (const std::exception& e) {
        say(MessageKind::Critical, e.what());
        return false;
    }
    compareWith(*before, "the snapshot " + snapshotPath);
    return true;
}

void WindowCore::compareWith(wmi::Provider& before, const std::string& label) {
    setBusy(true);
    clearList();
    ui_.flash("");
    status_.note.clear();
    status_.reasons.clear();
    state_.gblnCancel = false;
    ui_.setListMode(ListMode::Report);
    ui_.setProgressVisible(true);
    std::vector<fleet::ClassDiff> diffs;
    std::vector<std::string> notCompared;
    bool cancelled = false;
    try {
        wmi::Services s = services();
        const std::string now = snapshot_.isOpen() ? snapshot_.computer() : RootText(state_.gstrComputer);
        const std::vector<std::string> classes = SnapshotClassNames();
        for (std::size_t i = 0; i < classes.size(); ++i) {
            ui_.setProgress(classes[i], i, classes.size());
            ui_.processEvents();
            if (state_.gblnCancel) {
                cancelled = true;
                break;
            }
            try {
                for (auto& d : fleet::Diff(before, *s.provider(), {classes[i]}, {})) diffs.push_back(std::move(d));
            } catch (const wmi::Error& e) {
                // One class the computer will not give is no reason to lose the rest.
                notCompared.push_back(classes[i] + ": " + e.displayText());
            }
        }
        fleet::DiffToList(diffs, list_);
        std::size_t n = 0;
        for (const auto& d : diffs) n += d.instances.size();
        comparison_ = "Differences between " + label + " and " + now;
        status_.panel = comparison_;
        const std::string count = n == 0 ? std::string("No differences")
                                         : std::to_string(n) + (n == 1 ? " instance differs" : " instances differ");
        status_.note = cancelled ? "Incomplete (cancelled): " + count + " in the classes compared" : count;
        if (!notCompared.empty()) status_.reasons = "Not compared: " + ReasonsText(notCompared);
    } catch (const std::exception& e) {
        ui_.listChanged();
        ui_.listingFinished();
        ui_.statusChanged();
        ui_.setProgressVisible(false);
        setBusy(false);
        sayError(e, true);
        finishBusy();
        return;
    }
    ui_.listChanged();
    ui_.listingFinished();
    ui_.statusChanged();
    ui_.setProgressVisible(false);
    ui_.setProgress("Listed 0", 0, 0);
    finishBusy();
}

#ifdef KESTRANE_HAVE_STORE

std::vector<fleet::ComputerSummary> WindowCore::storeComputers(const std::string& store) {
    try {
        return fleet::Store::Open(store)->computers();
    } catch (const std::exception& e) {
        say(MessageKind::Critical, e.what());
        return {};
    }
}

namespace {

// The capture's provider and the words the status bar and headings use for it.
std::pair<std::shared_ptr<wmi::SnapshotProvider>, std::string> OpenCapture(const std::string& store,
                                                                           const std::string& nameAtWhen) {
    auto s = fleet::Store::Open(store);
    const fleet::CaptureInfo c = s->resolve(nameAtWhen);
    // The store as its engine names it: a password in a URI stays out of sight.
    return {s->open(c.id), "capture " + std::to_string(c.id) + " of " + c.computer + " in " + s->db().name()};
}

}  // namespace

bool WindowCore::openStored(const std::string& store, const std::string& nameAtWhen) {
    try {
        auto [recorded, label] = OpenCapture(store, nameAtWhen);
        openRecorded(std::move(recorded), "from " + label);
    } catch (const std::exception& e) {
        say(MessageKind::Critical, e.what());
        return false;
    }
    return true;
}

bool WindowCore::compareWithStored(const std::string& store, const std::string& nameAtWhen) {
    std::shared_ptr<wmi::SnapshotProvider> before;
    std::string label;
    try {
        std::tie(before, label) = OpenCapture(store, nameAtWhen);
    } catch (const std::exception& e) {
        say(MessageKind::Critical, e.what());
        return false;
    }
    compareWith(*before, label);
    return true;
}

#endif

}  // namespace kestrane::window
