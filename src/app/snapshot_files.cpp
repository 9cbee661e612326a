#include "app/snapshot_files.h"

#include "backends/backends.h"
#include "catalogue/catalogue.h"
#include "format/format.h"

namespace kestrane::app {

void OpenSnapshot::open(const std::string& path) { provider_ = wmi::LoadSnapshot(path); }

QString OpenSnapshot::statusText() const {
    if (!provider_) return {};
    QString text = QString("Snapshot of %1").arg(QString::fromStdString(provider_->computer()));
    if (!provider_->captured().empty())
        text += QString(", captured %1").arg(QString::fromStdString(FormatWMIDate(provider_->captured())));
    return text;
}

wmi::CaptureResult SaveSnapshot(const std::string& path, wmi::Provider& provider, const std::string& computer,
                                const wmi::CaptureProgress& step) {
    return wmi::CaptureSnapshot(path, provider, SnapshotClassNames(), computer, wmi::DmtfNowUtc(), step);
}

bool IsSnapshotPath(const QString& computer) { return NamesSnapshotFile(computer.toStdString()); }

}  // namespace kestrane::app
