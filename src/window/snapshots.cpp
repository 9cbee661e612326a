#include "window/snapshots.h"

#include "backends/backends.h"
#include "catalogue/catalogue.h"
#include "format/format.h"

namespace kestrane::window {

void OpenSnapshot::open(const std::string& path) {
    provider_ = wmi::LoadSnapshot(path);
    origin_.clear();
}

void OpenSnapshot::open(std::shared_ptr<wmi::SnapshotProvider> recorded, std::string origin) {
    provider_ = std::move(recorded);
    origin_ = std::move(origin);
}

std::string OpenSnapshot::statusText() const {
    if (!provider_) return {};
    std::string text = "Snapshot of " + provider_->computer();
    if (!provider_->captured().empty()) text += ", captured " + FormatWMIDate(provider_->captured());
    if (!origin_.empty()) text += ", " + origin_;
    return text;
}

wmi::CaptureResult SaveSnapshot(const std::string& path, wmi::Provider& provider, const std::string& computer,
                                const wmi::CaptureProgress& step) {
    return wmi::CaptureSnapshot(path, provider, SnapshotClassNames(), computer, wmi::DmtfNowUtc(), step);
}

bool IsSnapshotPath(const std::string& computer) { return NamesSnapshotFile(computer); }

std::string WithJsonExtension(const std::string& path) {
    const std::size_t slash = path.find_last_of("/\\");
    const std::size_t dot = path.rfind('.');
    const bool hasExtension = dot != std::string::npos && (slash == std::string::npos || dot > slash + 1) &&
                              dot + 1 < path.size();
    return hasExtension ? path : path + ".json";
}

}  // namespace kestrane::window
