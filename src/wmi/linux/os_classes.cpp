// Win32_OperatingSystem: os-release, the kernel's identification under
// /proc/sys/kernel, /proc/meminfo, /proc/stat and the process list.
#include <cctype>
#include <ctime>

#include "wmi/linux/os_common.h"
#include "wmi/linux/system_info.h"

namespace wmi::lnx {

namespace {

std::optional<std::string> Get(const std::map<std::string, std::string>& m, const char* key) {
    auto it = m.find(key);
    if (it == m.end() || it->second.empty()) return std::nullopt;
    return it->second;
}

// The source device of the mount at a mount point (the last, visible one).
std::optional<std::string> MountSource(const std::vector<MountEntry>& mounts, const std::string& point) {
    std::optional<std::string> out;
    for (const auto& m : mounts)
        if (m.mountPoint == point) out = m.source;
    return out;
}

std::optional<std::string> UiLanguage(const Context& ctx) {
    for (const char* path : {"/etc/locale.conf", "/etc/default/locale"}) {
        auto text = ctx.read(path, 64 * 1024);
        if (!text) continue;
        auto kv = ParseOsRelease(*text);
        auto lang = Get(kv, "LANG");
        if (!lang || *lang == "C" || *lang == "POSIX" || StartsWith(*lang, "C.")) continue;
        std::string tag = lang->substr(0, lang->find_first_of(".@"));
        for (char& c : tag)
            if (c == '_') c = '-';
        return tag;
    }
    return std::nullopt;
}

std::unique_ptr<InstanceCursor> OperatingSystem(const Context& ctx, const SchemaPtr& schema) {
    Row r(schema);
    r.set("CreationClassName", "Win32_OperatingSystem");
    r.set("CSCreationClassName", "Win32_ComputerSystem");
    r.set("CSName", ctx.shortHostName());
    r.set("OSType", 36);  // LINUX in the CIM operating system types

    std::map<std::string, std::string> osr;
    if (auto t = ctx.read("/etc/os-release", 64 * 1024)) osr = ParseOsRelease(*t);
    else if (auto u = ctx.read("/usr/lib/os-release", 64 * 1024)) osr = ParseOsRelease(*u);
    auto caption = Get(osr, "PRETTY_NAME");
    if (!caption) caption = Get(osr, "NAME");
    r.set("Caption", caption);
    r.set("Manufacturer", Get(osr, "VENDOR_NAME"));
    r.set("BuildNumber", Get(osr, "BUILD_ID"));
    r.set("Version", ctx.readText("/proc/sys/kernel/osrelease"));
    r.set("BuildType", ctx.readText("/proc/sys/kernel/version"));

    std::vector<MountEntry> mounts;
    if (auto mi = ctx.read("/proc/self/mountinfo")) mounts = ParseMountInfo(*mi);
    auto rootDev = MountSource(mounts, "/");
    r.set("SystemDevice", rootDev);
    auto bootDev = MountSource(mounts, "/boot/efi");
    if (!bootDev) bootDev = MountSource(mounts, "/boot");
    if (!bootDev) bootDev = rootDev;
    r.set("BootDevice", bootDev);
    if (caption) r.set("Name", *caption + "|/|" + rootDev.value_or(""));

    if (auto mid = ctx.readText("/etc/machine-id")) r.set("SerialNumber", mid);

    auto machine = ctx.machine();
    if (machine)
        if (auto bits = MachineWordBits(*machine)) r.set("OSArchitecture", std::to_string(*bits) + "-bit");

    if (auto stat = ctx.read("/proc/stat"))
        if (auto bt = ParseBootTime(*stat)) r.set("LastBootUpTime", ctx.dmtf(*bt));
    if (ctx.fs().isLiveRoot()) {
        std::time_t now = std::time(nullptr);
        r.set("LocalDateTime", ctx.dmtf(now));
        if (auto off = ctx.utcOffsetMinutes(now)) r.set("CurrentTimeZone", *off);
    }
    // Where the system records its installation: the installers' log
    // directories are written once, at the end (Debian/Ubuntu, Fedora/RHEL);
    // pacman's log begins with the first package ever installed (Arch).
    if (auto t = ctx.fs().modificationTime("/var/log/installer")) r.set("InstallDate", ctx.dmtf(*t));
    else if (auto a = ctx.fs().modificationTime("/var/log/anaconda")) r.set("InstallDate", ctx.dmtf(*a));
    else if (auto log = ctx.read("/var/log/pacman.log", 256)) r.set("InstallDate", ParsePacmanLogStart(*log));

    if (auto mem = ctx.read("/proc/meminfo")) {
        auto m = ParseMemInfo(*mem);
        auto val = [&](const char* k) -> std::optional<std::uint64_t> {
            auto it = m.find(k);
            if (it == m.end()) return std::nullopt;
            return it->second;
        };
        auto total = val("MemTotal");
        auto avail = val("MemAvailable");
        if (!avail) avail = val("MemFree");
        auto swapTotal = val("SwapTotal");
        auto swapFree = val("SwapFree");
        r.setU64("TotalVisibleMemorySize", total);
        r.setU64("FreePhysicalMemory", avail);
        r.setU64("TotalSwapSpaceSize", swapTotal);
        r.setU64("SizeStoredInPagingFiles", swapTotal);
        r.setU64("FreeSpaceInPagingFiles", swapFree);
        if (total && swapTotal) r.setU64("TotalVirtualMemorySize", *total + *swapTotal);
        if (avail && swapFree) r.setU64("FreeVirtualMemory", *avail + *swapFree);
    }

    r.setU32("NumberOfProcesses", CountProcesses(ctx));
    r.setU32("MaxNumberOfProcesses", ctx.readUInt("/proc/sys/kernel/pid_max"));

    auto utmp = ctx.read("/run/utmp", 1 << 20);
    if (!utmp) utmp = ctx.read("/var/run/utmp", 1 << 20);
    if (utmp) {
        int sessions = 0;
        for (const auto& e : ParseUtmp(*utmp))
            if (e.type == 7 && !e.user.empty()) ++sessions;
        r.set("NumberOfUsers", sessions);
    }

    CpuTopology topo = ReadCpuTopology(ctx);
    if (!topo.records.empty() && topo.records[0].get("flags")) {
        auto flags = SplitWhitespace(*topo.records[0].get("flags"));
        bool nx = false;
        for (const auto& f : flags) nx = nx || f == "nx";
        r.set("DataExecutionPrevention_Available", nx);
    }
    if (auto lang = UiLanguage(ctx)) r.setStrings("MUILanguages", {*lang});
    return SingleInstance(r.build());
}

}  // namespace

void RegisterOsClasses(Registry& reg) { reg.add("Win32_OperatingSystem", OperatingSystem); }

}  // namespace wmi::lnx
