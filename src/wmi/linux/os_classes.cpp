// Win32_OperatingSystem: os-release, the kernel's identification under
// /proc/sys/kernel, /proc/meminfo, /proc/stat and the process list.
#include <algorithm>
#include <cctype>
#include <ctime>
#include <future>
#include <map>
#include <mutex>

#include "wmi/linux/answer_cache.h"
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

// The system's LANG setting ("de_DE.UTF-8"), C and POSIX left out.
std::optional<std::string> SystemLang(const Context& ctx) {
    for (const char* path : {"/etc/locale.conf", "/etc/default/locale"}) {
        auto text = ctx.read(path, 64 * 1024);
        if (!text) continue;
        auto kv = ParseOsRelease(*text);
        auto lang = Get(kv, "LANG");
        if (!lang || *lang == "C" || *lang == "POSIX" || StartsWith(*lang, "C.")) continue;
        return lang;
    }
    return std::nullopt;
}

std::optional<std::string> UiLanguage(const std::optional<std::string>& lang) {
    if (!lang) return std::nullopt;
    std::string tag = lang->substr(0, lang->find_first_of(".@"));
    for (char& c : tag)
        if (c == '_') c = '-';
    return tag;
}

// The Windows code page of the locale's character set, as CodeSet gives it
// ("65001" for UTF-8); Null for sets without one here.
std::optional<std::string> CodePage(const std::string& lang) {
    auto dot = lang.find('.');
    if (dot == std::string::npos) return std::nullopt;
    std::string cs = ToLowerAscii(lang.substr(dot + 1, lang.find('@', dot) - dot - 1));
    cs.erase(std::remove(cs.begin(), cs.end(), '-'), cs.end());
    static const std::map<std::string, const char*> pages = {
        {"utf8", "65001"},      {"iso88591", "28591"},  {"iso88592", "28592"}, {"iso88595", "28595"},
        {"iso88597", "28597"},  {"iso88599", "28599"},  {"iso885915", "28605"}, {"koi8r", "20866"}};
    auto it = pages.find(cs);
    if (it == pages.end()) return std::nullopt;
    return std::string(it->second);
}

// The language identifier (LCID) of a locale, four hex digits as Locale
// gives it; Null for locales not listed.
std::optional<std::string> LanguageId(const std::string& lang) {
    static const std::map<std::string, const char*> ids = {
        {"cs_CZ", "0405"}, {"da_DK", "0406"}, {"de_AT", "0C07"}, {"de_CH", "0807"}, {"de_DE", "0407"},
        {"el_GR", "0408"}, {"en_AU", "0C09"}, {"en_CA", "1009"}, {"en_GB", "0809"}, {"en_IE", "1809"},
        {"en_NZ", "1409"}, {"en_US", "0409"}, {"es_ES", "0C0A"}, {"es_MX", "080A"}, {"fi_FI", "040B"},
        {"fr_BE", "080C"}, {"fr_CA", "0C0C"}, {"fr_CH", "100C"}, {"fr_FR", "040C"}, {"hu_HU", "040E"},
        {"it_IT", "0410"}, {"ja_JP", "0411"}, {"ko_KR", "0412"}, {"nb_NO", "0414"}, {"nl_BE", "0813"},
        {"nl_NL", "0413"}, {"pl_PL", "0415"}, {"pt_BR", "0416"}, {"pt_PT", "0816"}, {"ru_RU", "0419"},
        {"sk_SK", "041B"}, {"sv_SE", "041D"}, {"tr_TR", "041F"}, {"uk_UA", "0422"}, {"zh_CN", "0804"},
        {"zh_TW", "0404"}};
    auto it = ids.find(lang.substr(0, lang.find_first_of(".@")));
    if (it == ids.end()) return std::nullopt;
    return std::string(it->second);
}

// The name under which the oldest package list's time is kept between runs.
constexpr const char* kPackageListsAnswer = "dpkg-oldest-list";

// On the computer's own root the answer is also kept between runs. dpkg
// replaces a list by renaming a new one over it, which changes the
// directory's stamp, so an unchanged stamp means unchanged lists.
std::optional<std::int64_t> ScanPackageLists(const Context& ctx, const std::string& dir) {
    // Taken before the scan: lists changed during it change the stamp too.
    auto stamp = ctx.fs().isLiveRoot() ? ctx.fs().directoryStamp(dir) : std::nullopt;
    if (stamp) {
        if (auto kept = CachedAnswer(kPackageListsAnswer, *stamp)) {
            if (*kept == "none") return std::nullopt;
            if (auto t = ParseInt(*kept)) return t;
        }
    }
    auto oldest = ctx.fs().oldestModificationTime(dir, ".list");
    if (stamp) StoreAnswer(kPackageListsAnswer, *stamp, oldest ? std::to_string(*oldest) : "none");
    return oldest;
}

// The earliest time a package still installed was unpacked: dpkg rewrites a
// package's file list at each unpack, so the oldest list stands in for the
// installation where no installer left its log.
// Looking at every list costs milliseconds, more than the whole summary
// otherwise takes, so the answer is kept for the program's run while the
// directory does not change (an unpack changes it), and a second caller
// while the lists are being looked at waits for that answer.
std::optional<std::int64_t> OldestPackageList(const Context& ctx) {
    const std::string dir = "/var/lib/dpkg/info";
    auto dirTime = ctx.fs().modificationTime(dir);
    if (!dirTime) return std::nullopt;
    const auto key = ctx.fs().hostPath(dir);
    if (!key) return ctx.fs().oldestModificationTime(dir, ".list");
    using Answer = std::shared_future<std::optional<std::int64_t>>;
    // Never destroyed: a warm-up thread may still use them while the program exits.
    static auto* mutex = new std::mutex;
    static auto* known = new std::map<std::string, std::pair<std::int64_t, Answer>>;  // host path -> (dir time, oldest)
    std::promise<std::optional<std::int64_t>> mine;
    Answer theirs;
    {
        std::lock_guard<std::mutex> lock(*mutex);
        auto& entry = (*known)[*key];
        if (entry.second.valid() && entry.first == *dirTime) theirs = entry.second;
        else entry = {*dirTime, mine.get_future().share()};
    }
    if (theirs.valid()) return theirs.get();
    try {
        auto oldest = ScanPackageLists(ctx, dir);
        mine.set_value(oldest);
        return oldest;
    } catch (...) {
        mine.set_exception(std::current_exception());
        throw;
    }
}

// Whether the install date is a matter of looking at every package list:
// not when an installer's log tells it, nor when the last run's answer for
// the lists as they are now was kept.
bool InstallDateNeedsScan(const Context& ctx) {
    if (ctx.fs().modificationTime("/var/log/installer") || ctx.fs().modificationTime("/var/log/anaconda") ||
        ctx.read("/var/log/pacman.log", 256))
        return false;
    const std::string dir = "/var/lib/dpkg/info";
    auto stamp = ctx.fs().isLiveRoot() ? ctx.fs().directoryStamp(dir) : std::nullopt;
    if (!stamp) return ctx.fs().isDirectory(dir);
    return !CachedAnswer(kPackageListsAnswer, *stamp);
}

// Where the system records its installation: the installers' log
// directories are written once, at the end (Debian/Ubuntu, Fedora/RHEL);
// pacman's log begins with the first package ever installed (Arch).
std::optional<std::string> InstallDate(const Context& ctx) {
    if (auto t = ctx.fs().modificationTime("/var/log/installer")) return ctx.dmtf(*t);
    if (auto a = ctx.fs().modificationTime("/var/log/anaconda")) return ctx.dmtf(*a);
    if (auto log = ctx.read("/var/log/pacman.log", 256)) return ParsePacmanLogStart(*log);
    if (auto oldest = OldestPackageList(ctx)) return ctx.dmtf(*oldest);
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

    if (ctx.wants("LastBootUpTime"))
        if (auto stat = ctx.read("/proc/stat"))
            if (auto bt = ParseBootTime(*stat)) r.set("LastBootUpTime", ctx.dmtf(*bt));
    if (ctx.fs().isLiveRoot()) {
        std::time_t now = std::time(nullptr);
        r.set("LocalDateTime", ctx.dmtf(now));
        if (auto off = ctx.utcOffsetMinutes(now)) r.set("CurrentTimeZone", *off);
    }
    if (ctx.wants("InstallDate")) r.set("InstallDate", InstallDate(ctx));

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
    // A process may use the lower half of the virtual address space (the
    // kernel keeps the upper half), in KB.
    if (auto cpuinfo = ctx.wants("MaxProcessMemorySize") ? ctx.read("/proc/cpuinfo", 4u << 20) : std::nullopt) {
        auto recs = ParseCpuInfo(*cpuinfo);
        if (auto sizes = recs.empty() ? std::nullopt : recs.front().get("address sizes")) {
            auto comma = sizes->find(',');
            auto bits = comma == std::string::npos ? std::nullopt : ParseUInt(FirstWord(sizes->substr(comma + 1)));
            if (bits && *bits > 11 && *bits <= 64) r.setU64("MaxProcessMemorySize", (1ull << (*bits - 1)) / 1024);
        }
    }

    // A reader that named its properties (the summary) is spared the costly
    // ones it does not show: counting processes looks at every one of them.
    if (ctx.wants("NumberOfProcesses")) r.setU32("NumberOfProcesses", CountProcesses(ctx));
    if (ctx.wants("MaxNumberOfProcesses")) r.setU32("MaxNumberOfProcesses", ctx.readUInt("/proc/sys/kernel/pid_max"));

    std::optional<std::string> utmp;
    if (ctx.wants("NumberOfUsers")) {
        utmp = ctx.read("/run/utmp", 1 << 20);
        if (!utmp) utmp = ctx.read("/var/run/utmp", 1 << 20);
    }
    if (utmp) {
        int sessions = 0;
        for (const auto& e : ParseUtmp(*utmp))
            if (e.type == 7 && !e.user.empty()) ++sessions;
        r.set("NumberOfUsers", sessions);
    }

    CpuTopology topo;
    if (ctx.wants("DataExecutionPrevention_Available")) topo = ReadCpuTopology(ctx);
    if (!topo.records.empty() && topo.records[0].get("flags")) {
        auto flags = SplitWhitespace(*topo.records[0].get("flags"));
        bool nx = false;
        for (const auto& f : flags) nx = nx || f == "nx";
        r.set("DataExecutionPrevention_Available", nx);
    }
    if (ctx.wantsAny({"MUILanguages", "CodeSet", "Locale"})) {
        const auto lang = SystemLang(ctx);
        if (auto tag = UiLanguage(lang)) r.setStrings("MUILanguages", {*tag});
        if (lang) r.set("CodeSet", CodePage(*lang)).set("Locale", LanguageId(*lang));
    }
    return SingleInstance(r.build());
}

}  // namespace

void RegisterOsClasses(Registry& reg) {
    reg.add("Win32_OperatingSystem", OperatingSystem, [](const Context& ctx) { InstallDate(ctx); },
            InstallDateNeedsScan);
}

}  // namespace wmi::lnx
