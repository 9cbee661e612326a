// Capturing many computers into a store at once: a bounded pool of workers,
// each computer recorded whole in one transaction or recorded as failed or
// cancelled with why.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "fleet/store.h"
#include "wmi/services.h"

namespace kestrane::fleet {

struct Target {
    std::string computer;  // anything --computer accepts
    std::string user;      // "" for the run's login
};

// One computer a line, '#' starts a comment, an optional user after the name.
// Throws kestrane::FileError naming the file and line.
std::vector<Target> ReadHostsFile(const std::string& path);

struct TargetResult {
    std::string computer;
    std::string status;  // complete, failed, cancelled
    std::int64_t instances = 0;
    double seconds = 0;
    std::optional<std::int64_t> errorNumber;
    std::string errorText;
};

struct FleetProgress {
    std::size_t done = 0, total = 0, failed = 0;
    double perSecond = 0;
    std::string slowest;  // the computer running longest, "" when none runs
    double slowestSeconds = 0;
};

constexpr int kDefaultJobs = 16;
constexpr int kMaxJobs = 64;

struct FleetCaptureOptions {
    int jobs = kDefaultJobs;
    std::string user, password;
    // Connects to one computer (its name, user, password); the CLI passes the
    // program's back-ends with the host-key and certificate rules of a single
    // computer.
    std::function<std::shared_ptr<wmi::Provider>(const std::string&, const std::string&, const std::string&)> connect;
    std::vector<std::string> classes;  // what a capture records
    const std::atomic<bool>* cancel = nullptr;  // set by Ctrl+C
    std::function<void(const FleetProgress&)> progress;  // from the workers, serialized
    std::string tempDir;  // where each capture is assembled ("" for the system's)
};

// Captures every target, `jobs` at a time (1 to kMaxJobs). One computer's
// failure never stops the others. Results in the order of `targets`.
std::vector<TargetResult> CaptureFleet(Store& store, const std::vector<Target>& targets,
                                       const FleetCaptureOptions& options);

}  // namespace kestrane::fleet
