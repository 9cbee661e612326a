// Why a class's values may be missing: each source the provider could not
// read, as one short sentence for the user. Checked on request from the same
// files the collectors read, so the instances never depend on them.
#include <algorithm>
#include <array>
#include <string_view>

#include <unistd.h>

#include "wmi/linux/linux_provider.h"
#include "wmi/linux/provider_core.h"

namespace wmi::lnx {

namespace {

constexpr std::string_view kSmbiosNeedsRoot = "SMBIOS tables need root: run as root to see serial numbers";
constexpr std::string_view kNoSmbios = "This computer has no SMBIOS table (virtual machine)";
constexpr std::string_view kNoSystemd = "systemd is not running: service states are unknown";
constexpr std::string_view kShadowNeedsRoot =
    "The shadow password file needs root: run as root to see locked accounts and password expiry";
constexpr std::string_view kJournalNeedsGroup =
    "The system journal needs root or the adm or systemd-journal group: its events are left out";
constexpr std::string_view kNoJournalReader =
    "This build has no journal reader: events come from the text logs only";
constexpr std::string_view kProcessesNeedRoot =
    "Other users' processes hide their executable paths: run as root to see them";

// Classes whose values come from the firmware's SMBIOS table or the DMI
// files the kernel makes of it.
constexpr std::array kSmbiosClasses = {
    "Win32_BaseBoard",       "Win32_BIOS",           "Win32_CacheMemory",          "Win32_ComputerSystem",
    "Win32_ComputerSystemProduct", "Win32_MemoryArray", "Win32_MemoryDevice",      "Win32_OnBoardDevice",
    "Win32_PhysicalMemory",  "Win32_PhysicalMemoryArray", "Win32_PortConnector",   "Win32_Processor",
    "Win32_SMBIOSMemory",    "Win32_SystemSlot",
};

bool Is(std::string_view className, std::initializer_list<std::string_view> names) {
    return std::find(names.begin(), names.end(), className) != names.end();
}

// Present but not readable by this user.
bool Closed(const Context& ctx, const std::string& path) { return ctx.fs().exists(path) && !ctx.read(path, 1); }

void SmbiosReasons(const Context& ctx, std::vector<std::string>& out) {
    const std::string table = "/sys/firmware/dmi/tables/DMI";
    if (Closed(ctx, table) || Closed(ctx, "/sys/class/dmi/id/product_serial")) {
        out.emplace_back(kSmbiosNeedsRoot);
    } else if (!ctx.fs().exists(table) && !ctx.fs().exists("/sys/class/dmi/id")) {
        out.emplace_back(kNoSmbios);
    }
}

void JournalReasons(const Context& ctx, std::vector<std::string>& out) {
    bool any = false, closed = false;
    for (const char* base : {"/var/log/journal", "/run/log/journal"}) {
        for (const auto& machine : ctx.fs().listDir(base)) {
            const std::string dir = JoinPath(base, machine);
            for (const auto& f : ctx.fs().listDir(dir)) {
                if (f.rfind("system", 0) != 0 || f.find(".journal") == std::string::npos) continue;
                any = true;
                closed = closed || !ctx.read(JoinPath(dir, f), 1);
            }
        }
    }
    if (!any) return;
    if (!JournalReaderBuiltIn())
        out.emplace_back(kNoJournalReader);
    else if (closed)
        out.emplace_back(kJournalNeedsGroup);
}

}  // namespace

std::vector<std::string> MissingValueReasons(const Context& ctx, std::string_view className) {
    std::vector<std::string> out;
    if (std::find(kSmbiosClasses.begin(), kSmbiosClasses.end(), className) != kSmbiosClasses.end())
        SmbiosReasons(ctx, out);
    if (Is(className, {"Win32_Service", "Win32_BaseService"}) && !ctx.fs().isDirectory("/run/systemd/system"))
        out.emplace_back(kNoSystemd);
    if (Is(className, {"Win32_UserAccount", "Win32_Account"}) && Closed(ctx, "/etc/shadow"))
        out.emplace_back(kShadowNeedsRoot);
    if (Is(className, {"Win32_NTLogEvent", "Win32_NTEventlogFile"})) JournalReasons(ctx, out);
    // The first process belongs to root; its executable is hidden from anyone
    // else. (A container may hide it from root too, which running as root
    // would not mend.)
    if (Is(className, {"Win32_Process"}) && ctx.fs().isLiveRoot() && ::geteuid() != 0 &&
        ctx.fs().exists("/proc/1") && !ctx.fs().readLink("/proc/1/exe"))
        out.emplace_back(kProcessesNeedRoot);
    return out;
}

}  // namespace wmi::lnx
