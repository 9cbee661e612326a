// Snapshots: one computer's classes recorded in a JSON file, answered like a
// live computer (docs/snapshot-format.md describes the file).
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "wmi/provider.h"

namespace wmi {

namespace snapshot_detail {
struct ClassData;
}

// A loaded snapshot. Immutable; enumerations run independently of each other
// and of the provider's lifetime.
class SnapshotProvider : public Provider {
public:
    struct Class {
        std::string name;  // as spelled in the file
        std::shared_ptr<const snapshot_detail::ClassData> data;
    };

    SnapshotProvider(std::string computer, std::string captured, std::vector<Class> classes);
    ~SnapshotProvider() override;

    // 0x80041010 for a class the snapshot does not hold.
    std::unique_ptr<InstanceCursor> enumerate(std::string_view className) override;

    // The recorded computer's name, and when it was recorded (DMTF, or "").
    const std::string& computer() const { return computer_; }
    const std::string& captured() const { return captured_; }
    // The classes in file order, spelled as in the file.
    std::vector<std::string> classNames() const;
    // nullptr for a class the snapshot does not hold.
    SchemaPtr schemaOf(std::string_view className) const;
    std::size_t instanceCount(std::string_view className) const;

private:
    const Class* find(std::string_view className) const;

    std::string computer_;
    std::string captured_;
    std::vector<Class> classes_;
    std::unordered_map<std::string, std::size_t> index_;  // lower-cased name -> classes_
};

// Reads a snapshot file; throws kestrane::FileError naming the file, the
// line and column where known, and the class, property and instance at fault.
std::shared_ptr<SnapshotProvider> LoadSnapshot(const std::string& path);
// The same from text already in memory; `path` only names it in errors.
std::shared_ptr<SnapshotProvider> ParseSnapshot(std::string_view text, const std::string& path);

// ---- Recording --------------------------------------------------------

struct SnapshotClass {
    std::string name;
    // The delivery order; may be null when every instance carries its own.
    SchemaPtr schema;
    std::vector<Object> instances;
};

struct SnapshotData {
    std::string computer;
    std::string captured;  // DMTF datetime or ""
    std::vector<SnapshotClass> classes;
};

// Writes a snapshot file through a temporary file in the same directory, so a
// failure never leaves a partial file in place of an existing one. Throws
// kestrane::FileError naming the file (and class, property, instance when a
// value cannot be recorded under its declared type).
class SnapshotWriter {
public:
    SnapshotWriter(std::string path, const std::string& computer, const std::string& captured);
    ~SnapshotWriter();  // discards the temporary file unless committed
    SnapshotWriter(const SnapshotWriter&) = delete;
    SnapshotWriter& operator=(const SnapshotWriter&) = delete;

    // Records one class. Its property list is `schema` (may be null) followed
    // by whatever further properties the instances carry. Errors from the
    // cursor propagate and leave nothing of the class recorded.
    void addClass(std::string_view name, const SchemaPtr& schema, InstanceCursor& instances);
    // Finishes the file and puts it in place.
    void commit();

private:
    void fail(const std::string& what);

    std::string path_;
    std::string tempPath_;
    struct Out;
    std::unique_ptr<Out> out_;
    std::vector<std::string> lowerNames_;
    bool committed_ = false;
};

void WriteSnapshot(const std::string& path, const SnapshotData& data);

struct CaptureResult {
    std::vector<std::string> recorded;
    std::vector<std::string> skipped;  // classes the provider does not have
    bool cancelled = false;            // stopped by the progress callback; no file written
};

// Told before each class: its 0-based position, the number of classes and
// its name. Returning false stops the capture.
using CaptureProgress = std::function<bool(std::size_t index, std::size_t total, const std::string& className)>;

// Enumerates each class through the provider and records it. A class that
// fails with 0x80041010 (at any point) is skipped; any other wmi::Error
// propagates and no file is written. Names repeated ignoring case are
// recorded once.
// With `progress`, a stop leaves no file (an existing one stays as it was).
CaptureResult CaptureSnapshot(const std::string& path, Provider& provider,
                              const std::vector<std::string>& classNames,
                              const std::string& computer, const std::string& captured,
                              const CaptureProgress& progress = {});

// The current time in UTC as a DMTF datetime, for "captured".
std::string DmtfNowUtc();

// Whether text is a DMTF datetime ("yyyymmddHHMMSS.mmmmmmsUUU", sign + or -)
// or interval ("ddddddddHHMMSS.mmmmmm:000"); '*' stands for an unknown field.
bool IsDmtfDatetime(std::string_view text);

}  // namespace wmi
