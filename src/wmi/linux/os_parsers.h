// Pure parsers of the operating-system files the provider reads: process
// files, account databases, time zone data, package and service databases,
// schedules, network statistics and logs. None of them touches a file.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace wmi::lnx {

// --- /proc/<pid>/stat (and task/<tid>/stat) ---
struct ProcStat {
    int pid = 0;
    std::string comm;
    char state = '?';
    int ppid = 0;
    int session = 0;
    std::uint64_t flags = 0;  // the kernel's PF_* flags
    std::uint64_t minflt = 0, majflt = 0;
    std::uint64_t utime = 0, stime = 0;  // clock ticks
    long priority = 0, nice = 0;
    long numThreads = 0;
    std::uint64_t startTime = 0;  // ticks after boot
    std::uint64_t vsize = 0;      // bytes
    std::uint64_t rss = 0;        // pages
};
// Nothing when the line is not a stat line (a name may hold blanks and
// parentheses; the last ")" ends it).
std::optional<ProcStat> ParseProcStat(std::string_view text);

// --- /proc/<pid>/cmdline: NUL-separated arguments ---
std::vector<std::string> ParseCmdline(std::string_view bytes);
// The arguments as one command line, joined with blanks.
std::string JoinCommandLine(const std::vector<std::string>& args);

// --- /etc/passwd, /etc/group, /etc/shadow ---
struct PasswdEntry {
    std::string name, password, gecos, home, shell;
    std::uint32_t uid = 0, gid = 0;
};
std::vector<PasswdEntry> ParsePasswd(std::string_view text);
struct GroupEntry {
    std::string name;
    std::uint32_t gid = 0;
    std::vector<std::string> members;
};
std::vector<GroupEntry> ParseGroup(std::string_view text);
struct ShadowEntry {
    std::string name, password;
    std::optional<std::int64_t> lastChange, minDays, maxDays, warnDays, inactiveDays, expireDay;  // days since 1970
};
std::vector<ShadowEntry> ParseShadow(std::string_view text);

// --- utmp / wtmp records with their times, and lastlog ---
struct UtmpRecord {
    int type = 0;
    int pid = 0;
    std::string line, id, user, host;
    std::int32_t session = 0;
    std::int64_t seconds = 0;
    std::int64_t microseconds = 0;
};
std::vector<UtmpRecord> ParseUtmpRecords(std::string_view bytes);
struct LastlogEntry {
    std::int64_t time = 0;  // 0: never logged in
    std::string line, host;
};
// The record of one uid (records are 292 bytes, indexed by uid).
std::optional<LastlogEntry> LastlogFor(std::string_view bytes, std::uint32_t uid);

// --- login.defs-style "KEY value" lines ---
std::map<std::string, std::string> ParseSpaceSeparatedKeys(std::string_view text);

// --- INI-like files: systemd units, desktop entries, smb.conf ---
struct IniSection {
    std::string name;
    std::vector<std::pair<std::string, std::string>> entries;  // in file order
    // The last value of a key (case-sensitive unless noCase), or nothing.
    std::optional<std::string> get(std::string_view key, bool noCase = false) const;
};
// '#' and ';' start comments; "\" at a line's end continues it (systemd).
std::vector<IniSection> ParseIni(std::string_view text);
const IniSection* FindSection(const std::vector<IniSection>& sections, std::string_view name, bool noCase = false);

// --- dpkg's status database ---
struct DpkgPackage {
    std::string package, version, architecture, status, maintainer, description, section, source, homepage;
    std::optional<std::uint64_t> installedSizeKB;
    std::string summary() const;  // the description's first line
};
// Stanzas without a Package field, or with a line that is neither a field
// nor a continuation, are skipped.
std::vector<DpkgPackage> ParseDpkgStatus(std::string_view text);
// "install ok installed" and the other states that leave files on disk.
bool DpkgIsInstalled(const DpkgPackage& p);

// --- TZif time zone data ---
struct TzRule {  // "Mm.w.d/time" of a POSIX TZ string
    int month = 0, week = 0, weekday = 0;
    int seconds = 7200;  // local time of the change
};
struct TimeZoneInfo {
    std::string standardName;
    std::string daylightName;            // empty without daylight time
    int standardOffsetSeconds = 0;       // east of UTC
    int daylightOffsetSeconds = 0;
    std::optional<TzRule> daylightStart, standardStart;
    bool hasDaylight() const { return !daylightName.empty(); }
};
// From the POSIX TZ string ("CET-1CEST,M3.5.0,M10.5.0/3").
std::optional<TimeZoneInfo> ParsePosixTz(std::string_view tz);
// From a TZif file: its footer rule (version 2 and later), else the last
// transition types of version 1 data. Nothing on a malformed file.
std::optional<TimeZoneInfo> ParseTzif(std::string_view bytes);

// --- cron tables ---
struct CronEntry {
    std::string minute, hour, dayOfMonth, month, dayOfWeek;
    std::string user;     // system tables name the user in a sixth field
    std::string command;
    std::string special;  // "@reboot", "@daily" ... when used
};
std::vector<CronEntry> ParseCrontab(std::string_view text, bool systemTable);

// --- /proc/swaps ---
struct SwapEntry {
    std::string path, type;
    std::uint64_t sizeKB = 0, usedKB = 0;
    int priority = 0;
};
std::vector<SwapEntry> ParseSwaps(std::string_view text);

// --- /proc/net/route (addresses in host order of a little-endian hex dump) ---
struct RouteEntry {
    std::string iface;
    std::string destination, gateway, mask;  // dotted quads
    unsigned flags = 0;
    int metric = 0;
};
std::vector<RouteEntry> ParseRoutes(std::string_view text);

// --- /proc/partitions ---
struct PartitionLine {
    unsigned major = 0, minor = 0;
    std::uint64_t blocks = 0;  // 1 KiB blocks
    std::string name;
};
std::vector<PartitionLine> ParsePartitions(std::string_view text);

// --- /proc/modules ---
struct ModuleLine {
    std::string name;
    std::uint64_t size = 0;
    int refCount = 0;
    std::vector<std::string> usedBy;
    std::string state;  // Live, Loading, Unloading
};
std::vector<ModuleLine> ParseModules(std::string_view text);

// --- /etc/exports ---
struct ExportEntry {
    std::string path;
    std::vector<std::string> clients;  // "host(options)"
};
std::vector<ExportEntry> ParseExports(std::string_view text);

// --- /proc/net/snmp, /proc/net/netstat: "Proto: names" / "Proto: values" pairs ---
std::map<std::string, std::map<std::string, std::int64_t>> ParseSnmp(std::string_view text);

// --- /proc/net/dev ---
struct NetDevLine {
    std::string name;
    std::uint64_t rxBytes = 0, rxPackets = 0, rxErrors = 0, rxDrop = 0, rxMulticast = 0;
    std::uint64_t txBytes = 0, txPackets = 0, txErrors = 0, txDrop = 0;
};
std::vector<NetDevLine> ParseNetDev(std::string_view text);

// --- /proc/diskstats ---
struct DiskStatLine {
    unsigned major = 0, minor = 0;
    std::string name;
    std::uint64_t reads = 0, readsMerged = 0, sectorsRead = 0, readMs = 0;
    std::uint64_t writes = 0, writesMerged = 0, sectorsWritten = 0, writeMs = 0;
    std::uint64_t inFlight = 0, ioMs = 0, weightedMs = 0;
};
std::vector<DiskStatLine> ParseDiskStats(std::string_view text);

// --- /proc/stat cpu lines and counters ---
struct KernelCpuTimes {
    std::string name;  // "cpu" for the total, "cpu0" ...
    std::uint64_t user = 0, nice = 0, system = 0, idle = 0, iowait = 0, irq = 0, softirq = 0, steal = 0;
};
struct ProcStatSummary {
    std::vector<KernelCpuTimes> cpus;
    std::optional<std::uint64_t> interrupts, contextSwitches, processesCreated, running, blocked, bootTime;
};
ProcStatSummary ParseProcStatSummary(std::string_view text);

// --- /proc/vmstat ---
std::map<std::string, std::uint64_t> ParseVmstat(std::string_view text);

// --- classic text logs (syslog "Mon dd HH:MM:SS host tag[pid]: msg", or
// RFC 3339 time stamps) ---
struct SyslogLine {
    // Broken-down local time; year 0 when the line does not say it.
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    std::optional<int> offsetMinutes;  // when the stamp gives one
    std::string host, tag, message;
    std::optional<int> pid;
};
std::optional<SyslogLine> ParseSyslogLine(std::string_view line);

// --- days and weeks for time rules ---
// 0 = Sunday.
int DayOfWeek(int year, int month, int day);
std::int64_t DaysFromCivil(int year, int month, int day);

}  // namespace wmi::lnx
