// Facts the operating-system classes share: the names every instance carries,
// the kernel's clock and the process list.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "wmi/linux/os_parsers.h"
#include "wmi/linux/provider_core.h"

namespace wmi::lnx {

// Win32_OperatingSystem's Name ("caption|/|root device"), as processes and
// threads name their system.
std::optional<std::string> OsInstanceName(const Context& ctx);

// Clock ticks per second of /proc times (USER_HZ). On the live root it is
// asked of the system; elsewhere it is the kernel ABI's fixed 100.
long ClockTicks(const Context& ctx);
// Boot time in seconds since the epoch, from /proc/stat.
std::optional<std::int64_t> BootTime(const Context& ctx);
// Seconds since the epoch now; only meaningful on the live root.
std::optional<double> NowSeconds(const Context& ctx);

// The numeric entries of a /proc-like directory, ascending.
std::vector<std::string> NumericEntries(const Context& ctx, const std::string& dir);

// The processes under /proc: numbered directories with a process's files
// (stat, comm); one without them ended while it was listed. Nothing when none is found, since
// a running system has at least the reader itself.
std::optional<std::uint64_t> CountProcesses(const Context& ctx);

// "HOST\\name" the way Windows names a local account.
std::string AccountCaption(const std::optional<std::string>& domain, const std::string& name);

// Reads the first readable of several files.
std::optional<std::string> ReadFirst(const Context& ctx, std::initializer_list<const char*> paths,
                                     std::size_t maxBytes = 1 << 20);

}  // namespace wmi::lnx
