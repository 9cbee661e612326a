// Operating-system settings: boot configuration, product identity, startup
// commands, crash recovery, environment, time zone and clock, cron jobs,
// partitions, swap, memory configuration, routes, protocols, network
// connections, shares and the proxy.
#include <algorithm>
#include <cctype>
#include <chrono>
#include <ctime>
#include <set>

#include "wmi/linux/os_common.h"
#include "wmi/schema/schema_table.h"
#include "wmi/linux/system_info.h"

namespace wmi::lnx {

namespace {

std::unique_ptr<InstanceCursor> Many(std::vector<Object> v) { return std::make_unique<VectorCursor>(std::move(v)); }

std::optional<std::string> MountSourceOf(const Context& ctx, const std::string& point) {
    std::optional<std::string> out;
    if (auto mi = ctx.read("/proc/self/mountinfo"))
        for (const auto& m : ParseMountInfo(*mi))
            if (m.mountPoint == point) out = m.source;
    return out;
}

// --- boot ---

std::unique_ptr<InstanceCursor> BootConfiguration(const Context& ctx, const SchemaPtr& schema) {
    Row r(schema);
    r.set("Name", "BootConfiguration");
    auto bootDev = MountSourceOf(ctx, "/boot");
    if (!bootDev) bootDev = MountSourceOf(ctx, "/");
    r.set("Caption", bootDev).set("Description", bootDev);
    if (ctx.fs().isDirectory("/boot")) r.set("BootDirectory", "/boot");
    if (ctx.fs().isDirectory("/etc")) r.set("ConfigurationPath", "/etc");
    if (ctx.fs().isDirectory("/tmp")) r.set("ScratchDirectory", "/tmp").set("TempDirectory", "/tmp");
    return SingleInstance(r.build());
}

std::unique_ptr<InstanceCursor> ComputerSystemProduct(const Context& ctx, const SchemaPtr& schema) {
    if (!ctx.fs().isDirectory("/sys/class/dmi/id")) return Many({});
    Row r(schema);
    r.set("Caption", "Computer System Product").set("Description", "Computer System Product");
    r.set("Name", DmiField(ctx, "product_name")).set("Vendor", DmiField(ctx, "sys_vendor"));
    r.set("Version", DmiField(ctx, "product_version")).set("IdentifyingNumber", DmiField(ctx, "product_serial"));
    r.set("SKUNumber", DmiField(ctx, "product_sku"));
    if (auto uuid = DmiField(ctx, "product_uuid")) {
        std::string u = *uuid;
        for (char& c : u) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        r.set("UUID", u);
    }
    return SingleInstance(r.build());
}

// --- autostart entries ---

void AddAutostart(const Context& ctx, const SchemaPtr& schema, const std::string& dir, const std::string& user,
                  const std::optional<std::string>& sid, std::vector<Object>& out) {
    for (const auto& f : ctx.fs().listDir(dir)) {
        if (f.size() < 9 || f.compare(f.size() - 8, 8, ".desktop") != 0) continue;
        auto text = ctx.read(JoinPath(dir, f), 256 * 1024);
        if (!text) continue;
        auto ini = ParseIni(*text);
        const IniSection* e = FindSection(ini, "Desktop Entry");
        if (!e) continue;
        // Hidden entries are deletions; disabled ones do not start.
        if (e->get("Hidden").value_or("") == "true" || e->get("X-GNOME-Autostart-enabled").value_or("") == "false")
            continue;
        auto exec = e->get("Exec");
        if (!exec) continue;
        std::string name = e->get("Name").value_or(f.substr(0, f.size() - 8));
        Row r(schema);
        r.set("Name", name).set("Caption", name).set("Description", name);
        r.set("Command", *exec).set("Location", dir).set("User", user).set("UserSID", sid);
        out.push_back(r.build());
    }
}

std::unique_ptr<InstanceCursor> StartupCommands(const Context& ctx, const SchemaPtr& schema) {
    std::vector<Object> out;
    AddAutostart(ctx, schema, "/etc/xdg/autostart", "All Users", std::nullopt, out);
    auto domain = ctx.shortHostName();
    if (auto pw = ctx.read("/etc/passwd"))
        for (const auto& u : ParsePasswd(*pw))
            if (!u.home.empty() && u.home != "/")
                AddAutostart(ctx, schema, JoinPath(u.home, ".config/autostart"), AccountCaption(domain, u.name),
                             "S-1-22-1-" + std::to_string(u.uid), out);
    return Many(std::move(out));
}

// --- crash recovery ---

std::unique_ptr<InstanceCursor> RecoveryConfiguration(const Context& ctx, const SchemaPtr& schema) {
    auto panic = ctx.readInt("/proc/sys/kernel/panic");
    if (!panic) return Many({});
    Row r(schema);
    auto name = OsInstanceName(ctx);
    r.set("Name", name).set("Caption", name).set("Description", name);
    // kernel.panic is the delay before the automatic restart; 0 waits forever.
    r.set("AutoReboot", *panic != 0);
    // A loaded crash kernel writes a dump at a panic; what the dump holds is
    // makedumpfile's choice, so DebugInfoType stays open.
    if (auto crash = ctx.readInt("/sys/kernel/kexec_crash_loaded")) r.set("WriteDebugInfo", *crash == 1);
    if (auto kd = ctx.read("/etc/default/kdump-tools", 64 * 1024)) {
        auto kv = ParseOsRelease(*kd);
        std::string dir = kv.count("KDUMP_COREDIR") && !kv["KDUMP_COREDIR"].empty() ? kv["KDUMP_COREDIR"] : "/var/crash";
        r.set("DebugFilePath", dir).set("ExpandedDebugFilePath", dir);
    }
    return SingleInstance(r.build());
}

// --- environment ---

// Persistent settings, as Windows keeps them per system and per user: the
// system's /etc/environment and environment.d, each user's environment.d
// and ~/.pam_environment. A process's own environment is no setting.
std::unique_ptr<InstanceCursor> Environment(const Context& ctx, const SchemaPtr& schema) {
    std::vector<Object> out;
    auto add = [&](const std::string& user, bool system, const std::string& text) {
        for (const auto& [name, value] : ParseOsRelease(text)) {
            if (name.find_first_of(" \t") != std::string::npos) continue;  // pam_env's DEFAULT= form
            Row r(schema);
            r.set("Name", name).set("VariableValue", value).set("UserName", user).set("SystemVariable", system);
            const std::string caption = Cat(user, "\\", name);
            r.set("Caption", caption).set("Description", caption).set("Status", "OK");
            out.push_back(r.build());
        }
    };
    auto addDir = [&](const std::string& user, bool system, const std::string& dir) {
        for (const auto& f : ctx.fs().listDir(dir))
            if (f.size() > 5 && f.compare(f.size() - 5, 5, ".conf") == 0)
                if (auto t = ctx.read(JoinPath(dir, f), 256 * 1024)) add(user, system, *t);
    };
    if (auto t = ctx.read("/etc/environment", 256 * 1024)) add("<SYSTEM>", true, *t);
    addDir("<SYSTEM>", true, "/etc/environment.d");
    auto domain = ctx.shortHostName();
    if (auto pw = ctx.read("/etc/passwd"))
        for (const auto& u : ParsePasswd(*pw)) {
            if (u.home.empty() || u.home == "/") continue;
            std::string user = AccountCaption(domain, u.name);
            addDir(user, false, JoinPath(u.home, ".config/environment.d"));
            if (auto t = ctx.read(JoinPath(u.home, ".pam_environment"), 256 * 1024)) add(user, false, *t);
        }
    return Many(std::move(out));
}

// --- time ---

std::optional<std::string> ZoneName(const Context& ctx) {
    if (auto t = ctx.readText("/etc/timezone")) return t;
    if (auto link = ctx.fs().readLink("/etc/localtime")) {
        std::size_t p = link->find("zoneinfo/");
        if (p != std::string::npos) return link->substr(p + 9);
    }
    return std::nullopt;
}

void SetRule(Row& r, const char* prefix, const std::optional<TzRule>& rule) {
    std::string p = prefix;
    TzRule z{0, 0, 0, 0};
    const TzRule& x = rule ? *rule : z;
    r.setU32(p + "Month", static_cast<std::uint64_t>(x.month));
    r.setU32(p + "Day", static_cast<std::uint64_t>(x.week));
    r.set(p + "DayOfWeek", x.weekday);
    int s = x.seconds < 0 ? 0 : x.seconds;
    r.setU32(p + "Hour", static_cast<std::uint64_t>(s / 3600));
    r.setU32(p + "Minute", static_cast<std::uint64_t>(s / 60 % 60));
    r.setU32(p + "Second", static_cast<std::uint64_t>(s % 60));
    r.setU32(p + "Millisecond", 0).setU32(p + "Year", 0);
}

std::unique_ptr<InstanceCursor> TimeZone(const Context& ctx, const SchemaPtr& schema) {
    auto data = ctx.read(ctx.fs().resolve("/etc/localtime"), 1 << 20);
    if (!data) return Many({});
    auto tz = ParseTzif(*data);
    if (!tz) return Many({});
    Row r(schema);
    auto zone = ZoneName(ctx);
    r.set("Caption", zone).set("Description", zone).set("SettingID", zone);
    r.set("Bias", tz->standardOffsetSeconds / 60);
    r.setU32("StandardBias", 0);
    r.set("StandardName", tz->standardName);
    if (tz->hasDaylight()) {
        r.set("DaylightName", tz->daylightName);
        r.set("DaylightBias", -(tz->daylightOffsetSeconds - tz->standardOffsetSeconds) / 60);
        SetRule(r, "Daylight", tz->daylightStart);
        SetRule(r, "Standard", tz->standardStart);
    } else {
        // Month 0: the zone keeps standard time all year.
        r.set("DaylightBias", 0);
        SetRule(r, "Daylight", std::nullopt);
        SetRule(r, "Standard", std::nullopt);
    }
    return SingleInstance(r.build());
}

Object TimeRow(const SchemaPtr& schema, const std::tm& tm, int ms) {
    Row r(schema);
    int month = tm.tm_mon + 1;
    int firstDow = DayOfWeek(tm.tm_year + 1900, month, 1);
    r.setU32("Year", static_cast<std::uint64_t>(tm.tm_year + 1900)).setU32("Month", static_cast<std::uint64_t>(month));
    r.setU32("Day", static_cast<std::uint64_t>(tm.tm_mday)).setU32("DayOfWeek", static_cast<std::uint64_t>(tm.tm_wday));
    r.setU32("Hour", static_cast<std::uint64_t>(tm.tm_hour)).setU32("Minute", static_cast<std::uint64_t>(tm.tm_min));
    r.setU32("Second", static_cast<std::uint64_t>(tm.tm_sec)).setU32("Milliseconds", static_cast<std::uint64_t>(ms));
    r.setU32("Quarter", static_cast<std::uint64_t>((month - 1) / 3 + 1));
    r.setU32("WeekInMonth", static_cast<std::uint64_t>((tm.tm_mday + firstDow - 1) / 7 + 1));
    return r.build();
}

std::vector<Object> Clock(const Context& ctx, bool local, bool utc) {
    std::vector<Object> out;
    if (!ctx.fs().isLiveRoot()) return out;  // a copied tree has no clock
    auto now = std::chrono::system_clock::now();
    std::time_t t = std::chrono::system_clock::to_time_t(now);
    int ms = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000);
    std::tm tm{};
    if (local && ::localtime_r(&t, &tm)) out.push_back(TimeRow(LookupOsSchema("Win32_LocalTime"), tm, ms));
    if (utc && ::gmtime_r(&t, &tm)) out.push_back(TimeRow(LookupOsSchema("Win32_UTCTime"), tm, ms));
    return out;
}

// --- cron ---

// The set bits of a cron field over [lo, hi]; nothing for forms a bit mask
// cannot hold. Values equal to wrap (7 for Sunday) count as lo.
std::optional<std::uint64_t> CronBits(const std::string& field, int lo, int hi, int wrap = -1) {
    std::uint64_t bits = 0;
    std::size_t start = 0;
    while (start <= field.size()) {
        std::size_t comma = field.find(',', start);
        std::string part = field.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        start = comma == std::string::npos ? field.size() + 1 : comma + 1;
        int step = 1;
        if (std::size_t slash = part.find('/'); slash != std::string::npos) {
            auto s = ParseInt(part.substr(slash + 1));
            if (!s || *s <= 0) return std::nullopt;
            step = static_cast<int>(*s);
            part = part.substr(0, slash);
        }
        int a, b;
        if (part == "*") {
            a = lo, b = hi;
        } else if (std::size_t dash = part.find('-'); dash != std::string::npos) {
            auto x = ParseInt(part.substr(0, dash)), y = ParseInt(part.substr(dash + 1));
            if (!x || !y) return std::nullopt;
            a = static_cast<int>(*x), b = static_cast<int>(*y);
        } else {
            auto x = ParseInt(part);
            if (!x) return std::nullopt;  // names such as "mon" are left undecoded
            a = b = static_cast<int>(*x);
        }
        for (int v = a; v <= b; v += step) {
            int n = v == wrap ? lo : v;
            if (n < lo || n > hi) return std::nullopt;
            bits |= 1ull << (n - lo);
        }
    }
    return bits;
}

std::unique_ptr<InstanceCursor> ScheduledJobs(const Context& ctx, const SchemaPtr& schema) {
    std::vector<std::pair<CronEntry, std::string>> jobs;  // entry, table path
    auto addTable = [&](const std::string& path, bool system, const std::string& owner) {
        auto text = ctx.read(path, 1 << 20);
        if (!text) return;
        for (auto& e : ParseCrontab(*text, system)) {
            if (!system) e.user = owner;
            jobs.emplace_back(std::move(e), path);
        }
    };
    addTable("/etc/crontab", true, "");
    for (const auto& f : ctx.fs().listDir("/etc/cron.d"))
        if (f[0] != '.' && f.find('~') == std::string::npos) addTable("/etc/cron.d/" + f, true, "");
    for (const char* dir : {"/var/spool/cron/crontabs", "/var/spool/cron"})
        for (const auto& f : ctx.fs().listDir(dir))
            if (!ctx.fs().isDirectory(std::string(dir) + "/" + f) && f[0] != '.') addTable(std::string(dir) + "/" + f, false, f);
    auto offset = ctx.utcOffsetMinutes(std::time(nullptr)).value_or(0);
    std::vector<Object> out;
    std::uint64_t id = 0;
    for (const auto& [e, path] : jobs) {
        Row r(schema);
        r.setU32("JobId", ++id);
        r.set("Command", e.command).set("Owner", e.user);
        std::string schedule = e.special.empty() ? e.minute + " " + e.hour + " " + e.dayOfMonth + " " + e.month + " " + e.dayOfWeek : e.special;
        r.set("Name", path).set("Caption", schedule + " " + e.command).set("Description", schedule);
        r.set("RunRepeatedly", e.special != "@reboot").set("InteractWithDesktop", false);
        r.set("Status", "OK");
        if (e.special.empty() && e.month == "*") {
            auto minute = ParseInt(e.minute), hour = ParseInt(e.hour);
            if (minute && hour && *minute >= 0 && *minute < 60 && *hour >= 0 && *hour < 24) {
                char buf[40];
                std::snprintf(buf, sizeof buf, "********%02d%02d00.000000%c%03d", static_cast<int>(*hour),
                              static_cast<int>(*minute), offset < 0 ? '-' : '+', std::abs(offset));
                r.set("StartTime", std::string(buf));
            }
            // Windows counts Monday as bit 0 and Sunday as bit 6.
            if (e.dayOfMonth == "*")
                if (auto dow = CronBits(e.dayOfWeek, 0, 6, 7))
                    r.setU32("DaysOfWeek", ((*dow >> 1) & 0x3F) | ((*dow & 1) << 6));
            if (e.dayOfWeek == "*" && e.dayOfMonth != "*")
                if (auto dom = CronBits(e.dayOfMonth, 1, 31)) r.setU32("DaysOfMonth", *dom);
        }
        out.push_back(r.build());
    }
    return Many(std::move(out));
}

// --- partitions ---

std::vector<std::string> DiskNames(const Context& ctx) {
    std::vector<std::string> out;
    for (const auto& name : ctx.fs().listDir("/sys/block")) {
        if (ctx.fs().resolve("/sys/block/" + name).find("/devices/virtual/") != std::string::npos) continue;
        if (StartsWith(name, "loop") || StartsWith(name, "ram") || StartsWith(name, "zram") || StartsWith(name, "fd") ||
            StartsWith(name, "sr"))
            continue;
        if (StartsWith(name, "mmcblk") && (name.find("boot") != std::string::npos || name.find("rpmb") != std::string::npos))
            continue;
        if (ctx.readInt("/sys/block/" + name + "/hidden").value_or(0) == 1) continue;
        if (ctx.readInt("/sys/block/" + name + "/device/type").value_or(0) == 5) continue;
        out.push_back(name);
    }
    return out;
}

std::string PartitionType(const std::map<std::string, std::string>& udev) {
    auto get = [&](const char* k) {
        auto it = udev.find(k);
        return it == udev.end() ? std::string() : ToLowerAscii(it->second);
    };
    std::string scheme = get("E:ID_PART_ENTRY_SCHEME"), type = get("E:ID_PART_ENTRY_TYPE");
    if (scheme == "gpt") {
        if (type == "c12a7328-f81f-11d2-ba4b-00a0c93ec93b") return "GPT: System";
        if (type == "ebd0a0a2-b9e5-4433-87c0-68b6b72699c7") return "GPT: Basic Data";
        if (type == "e3c9e316-0b5c-4db8-817d-f92df00215ae") return "GPT: Reserved";
        return "GPT: Unknown";
    }
    if (scheme == "dos") {
        if (type == "0x7") return "Installable File System";
        if (type == "0x5" || type == "0xf") return "Extended Partition";
        if (type == "0xb" || type == "0xc") return "Win95 w/Extended Int 13";
        return "Unknown";
    }
    return {};
}

std::map<std::string, std::string> UdevData(const Context& ctx, const std::string& dev) {
    std::map<std::string, std::string> out;
    auto id = ctx.readText(dev + "/dev");
    if (!id) return out;
    if (auto t = ctx.read("/run/udev/data/b" + *id, 64 * 1024))
        for (const auto& line : SplitLines(*t)) {
            std::size_t eq = line.find('=');
            if (eq != std::string::npos) out[line.substr(0, eq)] = line.substr(eq + 1);
        }
    return out;
}

std::unique_ptr<InstanceCursor> DiskPartitions(const Context& ctx, const SchemaPtr& schema) {
    std::vector<Object> out;
    auto disks = DiskNames(ctx);
    auto host = ctx.shortHostName();
    for (std::size_t d = 0; d < disks.size(); ++d) {
        std::string b = "/sys/block/" + disks[d];
        std::vector<std::pair<std::int64_t, std::string>> parts;
        for (const auto& e : ctx.fs().listDir(b))
            if (auto n = ctx.readInt(Cat(b, "/", e, "/partition"))) parts.emplace_back(*n, e);
        std::sort(parts.begin(), parts.end());
        for (std::size_t i = 0; i < parts.size(); ++i) {
            std::string p = b + "/" + parts[i].second;
            auto sectors = ctx.readUInt(p + "/size");
            if (!sectors) continue;  // gone
            Row r(schema);
            r.set("SystemCreationClassName", "Win32_ComputerSystem").set("SystemName", host);
            std::string id = "Disk #" + std::to_string(d) + ", Partition #" + std::to_string(i);
            r.set("DeviceID", id).set("Name", id);
            r.set("Description", "/dev/" + parts[i].second);
            r.setU32("DiskIndex", d).setU32("Index", i);
            r.setU64("Size", *sectors * 512).setU64("BlockSize", 512).setU64("NumberOfBlocks", *sectors);
            if (auto start = ctx.readUInt(p + "/start")) r.setU64("StartingOffset", *start * 512);
            auto udev = UdevData(ctx, p);
            std::string type = PartitionType(udev);
            if (!type.empty()) r.set("Type", type);
            auto scheme = udev.count("E:ID_PART_ENTRY_SCHEME") ? udev["E:ID_PART_ENTRY_SCHEME"] : "";
            if (scheme == "gpt") r.set("PrimaryPartition", true);
            if (scheme == "dos") {
                r.set("PrimaryPartition", parts[i].first <= 4);
                auto flags = ParseUInt(udev.count("E:ID_PART_ENTRY_FLAGS") ? udev["E:ID_PART_ENTRY_FLAGS"] : "", 16);
                bool active = flags && (*flags & 0x80) != 0;  // no flags field: not the active partition
                r.set("Bootable", active).set("BootPartition", active);
            }
            out.push_back(r.build());
        }
    }
    return Many(std::move(out));
}

// --- swap ---

std::vector<SwapEntry> Swaps(const Context& ctx) {
    auto t = ctx.read("/proc/swaps");
    return t ? ParseSwaps(*t) : std::vector<SwapEntry>{};
}

std::unique_ptr<InstanceCursor> PageFiles(const Context& ctx, const SchemaPtr& schema) {
    std::vector<Object> out;
    for (const auto& s : Swaps(ctx)) {
        Row r(schema);
        r.set("Name", s.path).set("Caption", s.path).set("Description", s.path).set("Path", s.path);
        r.set("CreationClassName", "Win32_PageFile").set("CSCreationClassName", "Win32_ComputerSystem");
        r.set("CSName", ctx.shortHostName()).set("FileType", s.type == "file" ? "Swap File" : "Swap Partition");
        r.set("FileName", BaseName(s.path)).set("Status", "OK");
        r.setU64("FileSize", s.sizeKB * 1024);
        r.setU32("InitialSize", s.sizeKB / 1024).setU32("MaximumSize", s.sizeKB / 1024);
        r.setU32("FreeSpace", (s.sizeKB - std::min(s.usedKB, s.sizeKB)) / 1024);
        out.push_back(r.build());
    }
    return Many(std::move(out));
}

std::unique_ptr<InstanceCursor> PageFileUsage(const Context& ctx, const SchemaPtr& schema) {
    std::vector<Object> out;
    for (const auto& s : Swaps(ctx)) {
        Row r(schema);
        r.set("Name", s.path).set("Caption", s.path).set("Description", s.path).set("Status", "OK");
        r.setU32("AllocatedBaseSize", s.sizeKB / 1024).setU32("CurrentUsage", s.usedKB / 1024);
        r.set("TempPageFile", false);
        out.push_back(r.build());
    }
    return Many(std::move(out));
}

// Configured swap: the swap lines of /etc/fstab, sized where active.
std::unique_ptr<InstanceCursor> PageFileSettings(const Context& ctx, const SchemaPtr& schema) {
    std::vector<Object> out;
    auto fstab = ctx.read("/etc/fstab");
    if (!fstab) return Many({});
    auto active = Swaps(ctx);
    for (const auto& line : SplitLines(*fstab)) {
        auto w = SplitWhitespace(line);
        if (w.size() < 3 || w[0][0] == '#' || w[2] != "swap") continue;
        Row r(schema);
        std::string path = UnescapeOctal(w[0]);
        r.set("Name", path).set("Caption", path).set("Description", path).set("SettingID", path);
        std::string resolved = StartsWith(path, "/") ? ctx.fs().resolve(path) : path;
        for (const auto& s : active)
            if (s.path == path || s.path == resolved) r.setU32("InitialSize", s.sizeKB / 1024).setU32("MaximumSize", s.sizeKB / 1024);
        out.push_back(r.build());
    }
    return Many(std::move(out));
}

std::unique_ptr<InstanceCursor> LogicalMemoryConfiguration(const Context& ctx, const SchemaPtr& schema) {
    auto t = ctx.read("/proc/meminfo");
    if (!t) return Many({});
    auto m = ParseMemInfo(*t);
    auto get = [&](const char* k) -> std::optional<std::uint64_t> {
        auto it = m.find(k);
        return it == m.end() ? std::nullopt : std::optional<std::uint64_t>(it->second);
    };
    Row r(schema);
    r.set("Name", "LogicalMemoryConfiguration").set("SettingID", "LogicalMemoryConfiguration");
    r.set("Caption", "Logical Memory Configuration").set("Description", "Logical Memory Configuration");
    auto total = get("MemTotal"), swap = get("SwapTotal"), swapFree = get("SwapFree");
    auto avail = get("MemAvailable");
    if (!avail) avail = get("MemFree");
    r.setU32("TotalPhysicalMemory", total).setU32("TotalPageFileSpace", swap);
    if (total && swap) r.setU32("TotalVirtualMemory", *total + *swap);
    if (avail && swapFree) r.setU32("AvailableVirtualMemory", *avail + *swapFree);
    return SingleInstance(r.build());
}

// --- network ---

std::unique_ptr<InstanceCursor> RouteTable(const Context& ctx, const SchemaPtr& schema) {
    std::vector<Object> out;
    auto t = ctx.read("/proc/net/route");
    if (!t) return Many({});
    for (const auto& e : ParseRoutes(*t)) {
        if (!(e.flags & 0x1)) continue;  // RTF_UP
        Row r(schema);
        r.set("Destination", e.destination).set("Mask", e.mask).set("NextHop", e.gateway);
        r.set("Name", e.destination).set("Caption", e.destination);
        r.set("Description", e.destination + " - " + e.mask + " - " + e.gateway);
        if (auto idx = ctx.readInt("/sys/class/net/" + e.iface + "/ifindex")) r.set("InterfaceIndex", *idx);
        r.set("Metric1", e.metric);
        for (const char* m : {"Metric2", "Metric3", "Metric4", "Metric5"}) r.set(m, -1);  // unused
        r.setU32("Type", (e.flags & 0x2) ? 4u : 3u);  // RTF_GATEWAY: indirect, else direct
        out.push_back(r.build());
    }
    return Many(std::move(out));
}

struct ProtocolTraits {
    const char* name;
    const char* caption;
    bool stream;
    std::optional<std::uint64_t> maxMessage;
};

std::unique_ptr<InstanceCursor> NetworkProtocols(const Context& ctx, const SchemaPtr& schema) {
    auto t = ctx.read("/proc/net/protocols");
    if (!t) return Many({});
    static const ProtocolTraits kKnown[] = {
        {"TCP", "TCP/IP", true, std::nullopt},
        {"TCPv6", "TCP/IPv6", true, std::nullopt},
        {"UDP", "UDP/IP", false, 65507},
        {"UDPv6", "UDP/IPv6", false, 65527},
    };
    std::vector<Object> out;
    auto lines = SplitLines(*t);
    for (std::size_t i = 1; i < lines.size(); ++i) {
        std::string name = FirstWord(lines[i]);
        if (name.empty()) continue;
        Row r(schema);
        r.set("Name", name).set("Status", "OK");
        const ProtocolTraits* k = nullptr;
        for (const auto& p : kKnown)
            if (name == p.name) k = &p;
        if (k) {
            // What each protocol guarantees by its definition (RFC 793, RFC 768).
            r.set("Caption", k->caption).set("Description", k->caption);
            r.set("ConnectionlessService", !k->stream).set("GuaranteesDelivery", k->stream);
            r.set("GuaranteesSequencing", k->stream).set("MessageOriented", !k->stream);
            r.set("PseudoStreamOriented", false).set("SupportsGracefulClosing", k->stream);
            r.set("SupportsExpeditedData", k->stream).set("SupportsBroadcasting", !k->stream && name == "UDP");
            r.set("SupportsMulticasting", !k->stream).set("SupportsConnectData", false).set("SupportsDisconnectData", false);
            r.set("SupportsEncryption", false);
            r.setU32("MaximumMessageSize", k->maxMessage.value_or(0));
        } else {
            r.set("Caption", name).set("Description", name);
        }
        out.push_back(r.build());
    }
    return Many(std::move(out));
}

bool IsNetworkFs(const std::string& t) {
    static const std::set<std::string> k = {"nfs", "nfs4", "cifs", "smb3", "smbfs", "ncpfs", "afs", "ceph", "glusterfs",
                                            "9p", "fuse.sshfs", "fuse.davfs2", "davfs", "fuse.glusterfs", "fuse.rclone"};
    return k.count(t) > 0;
}

// The kernel's clients of network file-sharing protocols, as registered in
// /proc/filesystems.
std::unique_ptr<InstanceCursor> NetworkClients(const Context& ctx, const SchemaPtr& schema) {
    auto t = ctx.read("/proc/filesystems");
    if (!t) return Many({});
    static const std::map<std::string, const char*> kNames = {
        {"nfs", "NFS client"}, {"nfs4", "NFS version 4 client"}, {"cifs", "SMB/CIFS client"},
        {"smb3", "SMB 3 client"}, {"ceph", "Ceph client"}, {"9p", "9P client"}, {"afs", "AFS client"},
        {"ncpfs", "NetWare client"}, {"glusterfs", "GlusterFS client"}};
    std::vector<Object> out;
    for (const auto& line : SplitLines(*t)) {
        auto w = SplitWhitespace(line);
        if (w.empty()) continue;
        auto it = kNames.find(w.back());
        if (it == kNames.end()) continue;
        Row r(schema);
        r.set("Name", w.back()).set("Caption", it->second).set("Description", it->second).set("Status", "OK");
        out.push_back(r.build());
    }
    return Many(std::move(out));
}

std::unique_ptr<InstanceCursor> NetworkConnections(const Context& ctx, const SchemaPtr& schema) {
    auto mi = ctx.read("/proc/self/mountinfo");
    if (!mi) return Many({});
    std::set<std::string> persistent;
    if (auto fstab = ctx.read("/etc/fstab"))
        for (const auto& line : SplitLines(*fstab)) {
            auto w = SplitWhitespace(line);
            if (w.size() >= 2 && w[0][0] != '#') persistent.insert(UnescapeOctal(w[1]));
        }
    std::vector<Object> out;
    for (const auto& m : ParseMountInfo(*mi)) {
        if (!IsNetworkFs(m.fsType)) continue;
        Row r(schema);
        std::string remote = UnescapeOctal(m.source), local = UnescapeOctal(m.mountPoint);
        std::string name = Cat(remote, " (", local, ")");
        r.set("Name", name).set("Caption", name).set("Description", name);
        r.set("LocalName", local).set("RemoteName", remote).set("RemotePath", remote);
        r.set("ProviderName", m.fsType).set("ResourceType", "Disk").set("DisplayType", "Share");
        r.set("ConnectionState", "Connected").set("ConnectionType", "Current Connection").set("Status", "OK");
        r.set("Persistent", persistent.count(local) > 0);
        std::string opts = "," + m.superOptions + ",";
        std::size_t u = opts.find(",username=");
        if (u == std::string::npos) u = opts.find(",user=");
        if (u != std::string::npos) {
            std::size_t b = opts.find('=', u) + 1;
            r.set("UserName", opts.substr(b, opts.find(',', b) - b));
        }
        out.push_back(r.build());
    }
    return Many(std::move(out));
}

std::unique_ptr<InstanceCursor> Shares(const Context& ctx, const SchemaPtr& schema) {
    std::vector<Object> out;
    if (auto smb = ctx.read("/etc/samba/smb.conf", 1 << 20)) {
        auto ini = ParseIni(*smb);
        for (const auto& s : ini) {
            std::string lower = ToLowerAscii(s.name);
            if (lower.empty() || lower == "global") continue;
            if (s.get("available", true).value_or("yes") == "no") continue;
            Row r(schema);
            r.set("Name", s.name);
            auto path = s.get("path", true);
            if (!path) path = s.get("directory", true);
            r.set("Path", path);
            auto comment = s.get("comment", true);
            r.set("Caption", comment.value_or(s.name)).set("Description", comment);
            bool printable = lower == "printers" || s.get("printable", true).value_or("no") == "yes" ||
                             s.get("print ok", true).value_or("no") == "yes";
            r.setU32("Type", printable ? 1u : 0u);  // print queue, disk drive
            if (auto max = s.get("max connections", true)) {
                auto n = ParseUInt(*max);
                if (n) {
                    r.set("AllowMaximum", *n == 0);
                    if (*n > 0) r.setU32("MaximumAllowed", *n);
                }
            } else {
                r.set("AllowMaximum", true);  // samba's default: no limit
            }
            r.set("Status", "OK");
            out.push_back(r.build());
        }
    }
    if (auto ex = ctx.read("/etc/exports", 1 << 20)) {
        for (const auto& e : ParseExports(*ex)) {
            Row r(schema);
            r.set("Name", e.path).set("Path", e.path).set("Caption", e.path);
            std::string clients;
            for (const auto& c : e.clients) clients += (clients.empty() ? "" : " ") + c;
            if (!clients.empty()) r.set("Description", "NFS: " + clients);
            r.setU32("Type", 0u).set("AllowMaximum", true).set("Status", "OK");
            out.push_back(r.build());
        }
    }
    return Many(std::move(out));
}

// "http://user@host:3128/" as host and port.
bool SplitProxy(std::string url, std::string& host, std::optional<std::uint64_t>& port) {
    std::size_t scheme = url.find("://");
    if (scheme != std::string::npos) url = url.substr(scheme + 3);
    url = url.substr(0, url.find('/'));
    if (std::size_t at = url.rfind('@'); at != std::string::npos) url = url.substr(at + 1);
    std::size_t colon = url.rfind(':');
    if (colon != std::string::npos && url.find(']') == std::string::npos) {
        port = ParseUInt(url.substr(colon + 1));
        url = url.substr(0, colon);
    }
    host = url;
    return !host.empty();
}

std::unique_ptr<InstanceCursor> Proxy(const Context& ctx, const SchemaPtr& schema) {
    Row r(schema);
    r.set("ServerName", ctx.shortHostName());
    std::optional<std::string> url;
    if (auto env = ctx.read("/etc/environment", 256 * 1024)) {
        auto kv = ParseOsRelease(*env);
        for (const char* k : {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY"})
            if (!url && kv.count(k) && !kv[k].empty()) url = kv[k];
    }
    // apt's own setting: Acquire::http::Proxy "http://host:port/";
    if (!url) {
        std::vector<std::string> files = {"/etc/apt/apt.conf"};
        for (const auto& f : ctx.fs().listDir("/etc/apt/apt.conf.d")) files.push_back("/etc/apt/apt.conf.d/" + f);
        for (const auto& f : files) {
            auto t = ctx.read(f, 256 * 1024);
            if (!t || url) continue;
            for (const auto& line : SplitLines(*t)) {
                std::string l = Trim(line);
                if (!StartsWith(ToLowerAscii(l), "acquire::http::proxy ")) continue;
                std::size_t a = l.find('"'), b = l.rfind('"');
                if (a != std::string::npos && b > a) url = l.substr(a + 1, b - a - 1);
            }
        }
    }
    if (url) {
        std::string host;
        std::optional<std::uint64_t> port;
        if (SplitProxy(*url, host, port)) {
            r.set("ProxyServer", host).setU32("ProxyPortNumber", port);
            r.set("Caption", *url).set("Description", *url);
        }
    }
    return SingleInstance(r.build());
}

}  // namespace

void RegisterOsSettingClasses(Registry& r) {
    r.add("Win32_BootConfiguration", BootConfiguration);
    r.add("Win32_ComputerSystemProduct", ComputerSystemProduct);
    r.add("Win32_StartupCommand", StartupCommands);
    r.add("Win32_OSRecoveryConfiguration", RecoveryConfiguration);
    r.add("Win32_Environment", Environment);
    r.add("Win32_TimeZone", TimeZone);
    r.add("Win32_CurrentTime", [](const Context& ctx, const SchemaPtr&) { return Many(Clock(ctx, true, true)); });
    r.add("Win32_LocalTime", [](const Context& ctx, const SchemaPtr&) { return Many(Clock(ctx, true, false)); });
    r.add("Win32_UTCTime", [](const Context& ctx, const SchemaPtr&) { return Many(Clock(ctx, false, true)); });
    r.add("Win32_ScheduledJob", ScheduledJobs);
    r.add("Win32_DiskPartition", DiskPartitions);
    r.add("Win32_PageFile", PageFiles);
    r.add("Win32_PageFileUsage", PageFileUsage);
    r.add("Win32_PageFileSetting", PageFileSettings);
    r.add("Win32_LogicalMemoryConfiguration", LogicalMemoryConfiguration);
    r.add("Win32_IP4RouteTable", RouteTable);
    r.add("Win32_NetworkProtocol", NetworkProtocols);
    r.add("Win32_NetworkClient", NetworkClients);
    r.add("Win32_NetworkConnection", NetworkConnections);
    r.add("Win32_Share", Shares);
    r.add("Win32_Proxy", Proxy);
}

}  // namespace wmi::lnx
