// Recorded computers in the window: the snapshot being browsed, and
// recording the current computer into a new one.
#pragma once

#include <memory>
#include <string>

#include "wmi/snapshot/snapshot.h"

namespace kestrane::window {

class OpenSnapshot {
public:
    // Loads the file; on failure throws kestrane::FileError naming it and
    // keeps what was open before.
    void open(const std::string& path);
    // A recorded computer loaded elsewhere (a stored capture); `origin` ends
    // the status text (", from STORE").
    void open(std::shared_ptr<wmi::SnapshotProvider> recorded, std::string origin);
    void close() { provider_.reset(); }
    bool isOpen() const { return provider_ != nullptr; }
    const std::shared_ptr<wmi::SnapshotProvider>& provider() const { return provider_; }
    // The recorded computer's name.
    std::string computer() const { return provider_ ? provider_->computer() : std::string(); }
    // "Snapshot of NAME, captured DATE"; without the date when none is
    // recorded; "" when no snapshot is open.
    std::string statusText() const;

private:
    std::shared_ptr<wmi::SnapshotProvider> provider_;
    std::string origin_;
};

// Records every class of the catalogue the provider answers. `step` hears of
// each class before it is read and may stop the recording; a stopped or
// failed recording leaves no file behind (and an existing one untouched).
wmi::CaptureResult SaveSnapshot(const std::string& path, wmi::Provider& provider, const std::string& computer,
                                const wmi::CaptureProgress& step);

// Whether a computer string names a snapshot file rather than a computer.
bool IsSnapshotPath(const std::string& computer);

// The file name offered when saving: the computer's name with ".json"; a
// name the user gives without an extension gets ".json" too.
std::string WithJsonExtension(const std::string& path);

}  // namespace kestrane::window
