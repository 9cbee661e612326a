// The fleet store: captures of many computers kept in an engine (SQLite, or
// PostgreSQL for a team), each browsable like the snapshot it was taken as.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "fleet/database.h"
#include "wmi/snapshot/snapshot.h"

namespace kestrane::fleet {

// The schema this program writes; a store with a higher one is refused.
constexpr int kSchemaVersion = 1;

struct ComputerSummary {
    std::string name;
    std::int64_t lastCapture = 0;  // 0: none yet
    std::string started;           // of that capture, "YYYY-MM-DDTHH:MM:SSZ"
    std::string status;            // complete, failed, cancelled
    std::int64_t instances = 0;
};

struct CaptureInfo {
    std::int64_t id = 0;
    std::string computer, started, finished, source, status;
    std::optional<std::int64_t> errorNumber;  // signed, as wmi::Error shows it
    std::string errorText;
    std::int64_t instances = 0;
};

// An outcome that stored no instances.
struct CaptureFailure {
    std::string status;  // "failed" or "cancelled"
    std::optional<std::int64_t> errorNumber;
    std::string errorText;
};

// A condition of `report`: PROPERTY=VALUE, PROPERTY<VALUE or PROPERTY>VALUE.
struct Condition {
    std::string property;
    char op = '=';
    std::string value;
};
// "P=V", "P<V" or "P>V"; nullopt when none of them.
std::optional<Condition> ParseCondition(const std::string& text);

struct ReportRow {
    std::string computer;
    std::vector<nlohmann::ordered_json> values;  // as recorded; null when absent
};
struct Report {
    std::string className;                // as recorded
    std::vector<wmi::PropertyDecl> columns;  // after the computer
};

class Store {
public:
    // A PostgreSQL connection URI (postgresql://, postgres://) or a SQLite
    // file. Applies the migrations the store lacks; refuses a store that is
    // newer than this program or is not a Kestrane store.
    static std::unique_ptr<Store> Open(const std::string& spec);
    // $XDG_DATA_HOME/kestrane/fleet.sqlite (~/.local/share when unset).
    static std::string DefaultPath();

    explicit Store(std::unique_ptr<Database> db);
    Database& db() { return *db_; }

    // Stores one snapshot (its JSON text, checked by the snapshot loader
    // first) as a complete capture of `computer` (the file's own computer
    // when empty), in one transaction. Returns the capture number.
    std::int64_t addSnapshot(const std::string& jsonText, const std::string& source, const std::string& computer = "",
                             const std::string& started = "", const std::string& finished = "");
    // Records a capture that stored nothing, with why.
    std::int64_t addFailure(const std::string& computer, const std::string& source, const std::string& started,
                            const std::string& finished, const CaptureFailure& failure);

    std::vector<ComputerSummary> computers();
    std::vector<CaptureInfo> captures(const std::string& computer);
    // NAME, NAME@latest, NAME@N (capture number) or NAME@DATE (the last
    // capture started on or before it: YYYY-MM-DD means to the day's end).
    // Only a complete capture is found; anything else is a StoreError that
    // says what exists.
    CaptureInfo resolve(const std::string& nameAtWhen);
    // The capture as the snapshot file it was (or would have been) written as.
    std::string snapshotText(std::int64_t capture);
    std::shared_ptr<wmi::SnapshotProvider> open(std::int64_t capture);
    // Keeps the last `n` complete captures of each computer (and the failed
    // and cancelled ones after the oldest of them); returns how many went.
    std::int64_t keep(int n);

    // The class's instances in the latest complete capture of each computer,
    // filtered and picked by the engine. `onHeader` comes first, then each
    // row as the engine gives it, ordered by computer, so nothing need be
    // held.
    void report(const std::string& className, const std::vector<Condition>& where,
                const std::vector<std::string>& properties, const std::function<void(const Report&)>& onHeader,
                const std::function<void(ReportRow&)>& onRow);

private:
    void migrate();
    std::int64_t computerId(const std::string& name);

    std::unique_ptr<Database> db_;
};

// Now in UTC as the store writes times: "YYYY-MM-DDTHH:MM:SSZ".
std::string IsoNowUtc();
// A DMTF datetime as such a time (UTC); "" when it is not one.
std::string IsoFromDmtf(const std::string& dmtf);

}  // namespace kestrane::fleet
