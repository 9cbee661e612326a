// One process (or thread) as read from /proc, shared by the process classes
// and the process performance counters.
#pragma once

#include <optional>
#include <string>

#include "wmi/linux/os_common.h"

namespace wmi::lnx {

struct ProcessInfo {
    ProcStat stat;
    std::string statusText;                     // /proc/<pid>/status, parsed on demand
    std::optional<std::string> exe;             // the executable's path, when the link is readable
    std::vector<std::string> args;
    std::optional<std::uint64_t> fdCount;
    std::optional<std::uint64_t> readOps, readBytes, writeOps, writeBytes;  // /proc/<pid>/io
    std::optional<std::uint64_t> auditSession;

    // A field of the status file ("Threads"), trimmed.
    std::optional<std::string_view> statusField(std::string_view key) const {
        return FindKeyValue(statusText, key, ':');
    }
    // A "VmRSS:  1234 kB" field in bytes.
    std::optional<std::uint64_t> statusBytes(const char* key) const;
    // The name a user knows the process by: the executable's file name, else
    // the kernel's (possibly shortened) command name.
    std::string name() const;
    // The commit charge (what Windows calls page file use): private
    // writable memory, data and stack, whether resident or not.
    std::optional<std::uint64_t> commitBytes() const;
};

// Windows' priorities run 0-31. Nice values map onto the base priorities
// of Windows' priority classes (13 high, 10 above normal, 8 normal, 6 below
// normal, 4 idle); real-time tasks onto 16-31.
std::optional<std::uint64_t> WindowsPriority(const ProcStat& s);

// dir is "/proc/<pid>" or "/proc/<pid>/task/<tid>". Nothing when the process
// has gone. withDetails reads the command line, descriptors and I/O too;
// withStatus false leaves the status file unread. A kernel thread's details
// are its I/O counters alone: it has no memory, executable, command line,
// descriptors or audit session of its own.
std::optional<ProcessInfo> ReadProcess(const Context& ctx, const std::string& dir, bool withDetails,
                                       bool withStatus = true);

// Ticks to 100-nanosecond units.
inline std::uint64_t TicksTo100ns(std::uint64_t ticks, long hz) {
    return ticks * (10'000'000ull / static_cast<std::uint64_t>(hz));
}

}  // namespace wmi::lnx
