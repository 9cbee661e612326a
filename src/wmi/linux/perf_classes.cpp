// Performance counters: Win32_PerfRawData_* from the kernel's counters
// (/proc/stat, /proc/meminfo, /proc/vmstat, /proc/diskstats, /proc/net/snmp,
// /proc/net/dev, /proc/<pid>), and Win32_PerfFormattedData_* computed from
// two raw samples that each query takes kSampleInterval apart (the
// processors' kProcessorInterval).
//
// Raw values keep Windows' conventions so that the usual formulas apply:
// times are in 100 ns units, "% Processor Time" holds the idle time (an
// inverse timer), elapsed times hold their start as a 100 ns count since
// 1601, and 32-bit counters wrap as 32-bit counters do.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <set>
#include <thread>
#include <unordered_map>

#include "wmi/linux/process_info.h"
#include "wmi/schema/schema_table.h"

namespace wmi::lnx {

namespace {

constexpr auto kSampleInterval = std::chrono::milliseconds(100);
// /proc/stat counts each processor's time in 1/100 s: one second gives the
// processor shares 1 % steps.
constexpr auto kProcessorInterval = std::chrono::milliseconds(1000);
constexpr std::uint64_t k100nsPerSecond = 10'000'000;
constexpr std::uint64_t kEpoch1601In100ns = 116'444'736'000'000'000ull;

enum class Kind {
    Raw,         // the value as it is now
    Rate,        // change per second
    PctTime,     // share of the interval spent, 100 ns units
    PctTimeInv,  // 100 minus that share (idle time counters)
    PctBase,     // 100 * value / base
    Elapsed,     // seconds since the start the value holds
    Avg,         // change of value per change of base
    AvgSeconds,  // the same for a time in ns, in seconds
    CpuShare,    // share of the processor's own ticks ("@" keys of the sample)
    CpuShareInv, // 100 minus that share
    QueueLen,    // change of a time integral per elapsed time
};

struct Counter {
    const char* name;
    Kind kind;
    // PctBase, Avg: the base; CpuShare: the tick key; PctTimeInv: the
    // counter it inverts, when not its own.
    const char* base = nullptr;
    bool capAt100 = false;
};

struct Sample {
    std::string name;
    std::map<std::string, std::uint64_t> v;
    // What pairs the two samples of a formatted value when names repeat
    // (processes, threads): the id and start time. Empty: the name.
    std::string id = {};
    const std::string& key() const { return id.empty() ? name : id; }
};

struct Snapshot {
    std::vector<Sample> items;
    std::unordered_map<std::string, std::size_t> byKey;
    std::optional<std::uint64_t> perfTime;  // monotonic nanoseconds
    std::optional<std::uint64_t> sys100ns;  // wall clock, 100 ns since 1601
};

struct PerfSet {
    const char* set;  // "PerfOS_Processor"
    std::vector<Counter> counters;
    std::vector<Sample> (*sample)(const Context&);
    std::chrono::milliseconds interval = kSampleInterval;
};

std::optional<std::uint64_t> Get(const std::map<std::string, std::uint64_t>& m, const char* k) {
    auto it = m.find(k);
    return it == m.end() ? std::nullopt : std::optional<std::uint64_t>(it->second);
}

std::uint64_t TicksToHns(const Context& ctx, std::uint64_t ticks) { return TicksTo100ns(ticks, ClockTicks(ctx)); }

std::uint64_t Sys100nsNow() {
    auto now = std::chrono::system_clock::now().time_since_epoch();
    return kEpoch1601In100ns + static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(now).count() / 100);
}

std::optional<std::uint64_t> BootIn100ns(const Context& ctx) {
    auto bt = BootTime(ctx);
    if (!bt || *bt < 0) return std::nullopt;
    return kEpoch1601In100ns + static_cast<std::uint64_t>(*bt) * k100nsPerSecond;
}

// --- samplers ---

std::vector<Sample> ProcessorSample(const Context& ctx) {
    std::vector<Sample> out;
    auto stat = ctx.read("/proc/stat");
    if (!stat) return out;
    auto s = ParseProcStatSummary(*stat);
    std::vector<std::uint64_t> irqPerCpu, softPerCpu;
    if (auto t = ctx.read("/proc/interrupts"))
        for (const auto& l : ParseInterrupts(*t)) {
            if (irqPerCpu.size() < l.counts.size()) irqPerCpu.resize(l.counts.size());
            for (std::size_t i = 0; i < l.counts.size(); ++i) irqPerCpu[i] += l.counts[i];
        }
    if (auto t = ctx.read("/proc/softirqs")) {
        auto lines = SplitLines(*t);
        for (std::size_t k = 1; k < lines.size(); ++k) {
            auto w = SplitWhitespace(lines[k]);
            if (softPerCpu.size() + 1 < w.size()) softPerCpu.resize(w.size() - 1);
            for (std::size_t i = 1; i < w.size(); ++i) softPerCpu[i - 1] += ParseUInt(w[i]).value_or(0);
        }
    }
    std::uint64_t irqTotal = 0, softTotal = 0;
    for (auto v : irqPerCpu) irqTotal += v;
    for (auto v : softPerCpu) softTotal += v;
    std::uint64_t cpuCount = 0;
    for (const auto& c : s.cpus) cpuCount += c.name != "cpu";
    for (auto c : s.cpus) {
        Sample x;
        // The formatted shares divide ticks by the processor's own ticks, so
        // that user and privileged time add up to processor time; steal
        // time belongs to no one here. Keys with "@" are in no schema.
        x.v["@idle"] = c.idle + c.iowait;
        x.v["@user"] = c.user + c.nice;
        x.v["@priv"] = c.system + c.irq + c.softirq;
        x.v["@irq"] = c.irq;
        x.v["@dpc"] = c.softirq;
        x.v["@all"] = x.v["@idle"] + x.v["@user"] + x.v["@priv"];
        std::optional<std::size_t> idx;
        if (c.name == "cpu") {
            // The total line sums every processor; as an average it formats
            // like one processor, as Windows' _Total does.
            x.name = "_Total";
            if (cpuCount > 1)
                for (std::uint64_t* f : {&c.user, &c.nice, &c.system, &c.idle, &c.iowait, &c.irq, &c.softirq, &c.steal}) *f /= cpuCount;
        } else {
            x.name = c.name.substr(3);
            if (auto n = ParseUInt(x.name)) idx = static_cast<std::size_t>(*n);
        }
        std::uint64_t idle = TicksToHns(ctx, c.idle + c.iowait);
        x.v["PercentProcessorTime"] = idle;
        x.v["PercentIdleTime"] = idle;
        x.v["PercentUserTime"] = TicksToHns(ctx, c.user + c.nice);
        // Windows counts interrupt and deferred-call time as privileged.
        x.v["PercentPrivilegedTime"] = TicksToHns(ctx, c.system + c.irq + c.softirq);
        x.v["PercentInterruptTime"] = TicksToHns(ctx, c.irq);
        x.v["PercentDPCTime"] = TicksToHns(ctx, c.softirq);
        if (idx && *idx < irqPerCpu.size()) x.v["InterruptsPersec"] = irqPerCpu[*idx];
        if (idx && *idx < softPerCpu.size()) x.v["DPCsQueuedPersec"] = softPerCpu[*idx];
        if (!idx && !irqPerCpu.empty()) x.v["InterruptsPersec"] = irqTotal;
        if (!idx && !softPerCpu.empty()) x.v["DPCsQueuedPersec"] = softTotal;
        out.push_back(std::move(x));
    }
    // Windows lists the processors first and the total last.
    if (!out.empty() && out.front().name == "_Total") std::rotate(out.begin(), out.begin() + 1, out.end());
    return out;
}

std::vector<Sample> MemorySample(const Context& ctx) {
    auto t = ctx.read("/proc/meminfo");
    if (!t) return {};
    auto m = ParseMemInfo(*t);
    std::map<std::string, std::uint64_t> vm;
    if (auto v = ctx.read("/proc/vmstat")) vm = ParseVmstat(*v);
    Sample x;
    auto kb = [&](const char* k) { return Get(m, k); };
    auto avail = kb("MemAvailable");
    if (!avail) avail = kb("MemFree");
    if (avail) {
        x.v["AvailableBytes"] = *avail * 1024;
        x.v["AvailableKBytes"] = *avail;
        x.v["AvailableMBytes"] = *avail / 1024;
    }
    if (auto c = kb("Cached")) x.v["CacheBytes"] = *c * 1024;
    if (auto c = kb("Committed_AS")) {
        x.v["CommittedBytes"] = *c * 1024;
        x.v["PercentCommittedBytesInUse"] = *c;  // in kB, like its base
    }
    if (auto c = kb("CommitLimit")) {
        x.v["CommitLimit"] = *c * 1024;
        x.v["PercentCommittedBytesInUse_Base"] = *c;
    }
    if (auto s = kb("SUnreclaim")) x.v["PoolNonpagedBytes"] = *s * 1024;
    if (auto s = kb("SReclaimable")) x.v["PoolPagedBytes"] = *s * 1024;
    if (auto f = Get(vm, "pgfault")) x.v["PageFaultsPersec"] = *f;
    if (auto f = Get(vm, "pgmajfault")) x.v["PageReadsPersec"] = *f;
    auto in = Get(vm, "pswpin"), out = Get(vm, "pswpout");
    if (in) x.v["PagesInputPersec"] = *in;
    if (out) x.v["PagesOutputPersec"] = *out;
    if (in && out) x.v["PagesPersec"] = *in + *out;
    return {x};
}

std::optional<std::uint64_t> ThreadTotal(const Context& ctx) {
    // The fourth field of loadavg: runnable/total scheduling entities.
    auto t = ctx.readText("/proc/loadavg");
    if (!t) return std::nullopt;
    auto w = SplitWhitespace(*t);
    if (w.size() < 4) return std::nullopt;
    std::size_t slash = w[3].find('/');
    return slash == std::string::npos ? std::nullopt : ParseUInt(w[3].substr(slash + 1));
}

std::vector<Sample> SystemSample(const Context& ctx) {
    Sample x;
    if (auto t = ctx.read("/proc/stat")) {
        auto s = ParseProcStatSummary(*t);
        if (s.contextSwitches) x.v["ContextSwitchesPersec"] = *s.contextSwitches;
        // procs_running counts the threads on a processor as well as the
        // ready ones; Windows' queue holds only the ready ones, and a ready
        // thread waits only while every processor is busy.
        std::uint64_t cpus = 0;
        for (const auto& c : s.cpus) cpus += c.name != "cpu";
        if (s.running && cpus) x.v["ProcessorQueueLength"] = *s.running > cpus ? *s.running - cpus : 0;
    }
    if (auto n = CountProcesses(ctx)) x.v["Processes"] = *n;
    if (auto th = ThreadTotal(ctx)) x.v["Threads"] = *th;
    if (auto b = BootIn100ns(ctx)) x.v["SystemUpTime"] = *b;
    return {x};
}

std::vector<Sample> PagingFileSample(const Context& ctx) {
    std::vector<Sample> out;
    auto t = ctx.read("/proc/swaps");
    if (!t) return out;
    std::uint64_t used = 0, size = 0;
    for (const auto& s : ParseSwaps(*t)) {
        Sample x;
        x.name = s.path;
        x.v["PercentUsage"] = s.usedKB;
        x.v["PercentUsage_Base"] = s.sizeKB;
        used += s.usedKB, size += s.sizeKB;
        out.push_back(std::move(x));
    }
    if (!out.empty()) out.push_back({"_Total", {{"PercentUsage", used}, {"PercentUsage_Base", size}}});
    return out;
}

std::vector<Sample> ObjectsSample(const Context& ctx) {
    Sample x;
    if (auto n = CountProcesses(ctx)) x.v["Processes"] = *n;
    if (auto th = ThreadTotal(ctx)) x.v["Threads"] = *th;
    // System V semaphore sets and shared memory segments.
    auto count = [&](const char* path) -> std::optional<std::uint64_t> {
        auto t = ctx.read(path);
        if (!t) return std::nullopt;
        auto lines = SplitLines(*t);
        std::uint64_t n = 0;
        for (std::size_t i = 1; i < lines.size(); ++i)
            if (!Trim(lines[i]).empty()) ++n;
        return n;
    };
    if (auto s = count("/proc/sysvipc/sem")) x.v["Semaphores"] = *s;
    if (auto s = count("/proc/sysvipc/shm")) x.v["Sections"] = *s;
    return {x};
}

void ProcessCounters(const Context& ctx, const ProcessInfo& p, std::optional<std::int64_t> boot, Sample& x) {
    long hz = ClockTicks(ctx);
    x.v["PercentProcessorTime"] = TicksTo100ns(p.stat.utime + p.stat.stime, hz);
    x.v["PercentUserTime"] = TicksTo100ns(p.stat.utime, hz);
    x.v["PercentPrivilegedTime"] = TicksTo100ns(p.stat.stime, hz);
    x.v["IDProcess"] = static_cast<std::uint64_t>(p.stat.pid);
    if (auto prio = WindowsPriority(p.stat)) x.v["PriorityBase"] = *prio;
    if (boot && *boot >= 0)
        x.v["ElapsedTime"] = kEpoch1601In100ns + static_cast<std::uint64_t>(*boot) * k100nsPerSecond +
                             TicksTo100ns(p.stat.startTime, hz);
}

std::vector<Sample> ProcessSample(const Context& ctx) {
    std::vector<Sample> out;
    auto boot = BootTime(ctx);
    std::map<std::string, int> seen;
    for (const auto& pid : NumericEntries(ctx, "/proc")) {
        auto p = ReadProcess(ctx, "/proc/" + pid, true);
        if (!p) continue;  // gone
        Sample x;
        std::string name = p->name();
        int n = seen[name]++;
        x.name = n ? name + "#" + std::to_string(n) : name;  // Windows' way with equal names
        x.id = Cat(pid, "@", std::to_string(p->stat.startTime));
        ProcessCounters(ctx, *p, boot, x);
        x.v["CreatingProcessID"] = static_cast<std::uint64_t>(p->stat.ppid);
        x.v["ThreadCount"] = static_cast<std::uint64_t>(std::max(0L, p->stat.numThreads));
        x.v["PageFaultsPersec"] = p->stat.minflt + p->stat.majflt;
        if (p->fdCount) x.v["HandleCount"] = *p->fdCount;
        auto put = [&](const char* prop, const char* key) {
            if (auto b = p->statusBytes(key)) x.v[prop] = *b;
        };
        put("VirtualBytes", "VmSize");
        put("VirtualBytesPeak", "VmPeak");
        put("WorkingSet", "VmRSS");
        put("WorkingSetPeak", "VmHWM");
        put("WorkingSetPrivate", "RssAnon");
        if (auto commit = p->commitBytes()) x.v["PageFileBytes"] = *commit;
        if (auto anon = p->statusBytes("RssAnon"), swap = p->statusBytes("VmSwap"); anon && swap)
            x.v["PrivateBytes"] = *anon + *swap;  // anonymous pages, resident or swapped
        if (p->readBytes) x.v["IOReadBytesPersec"] = *p->readBytes;
        if (p->writeBytes) x.v["IOWriteBytesPersec"] = *p->writeBytes;
        if (p->readOps) x.v["IOReadOperationsPersec"] = *p->readOps;
        if (p->writeOps) x.v["IOWriteOperationsPersec"] = *p->writeOps;
        if (p->readBytes && p->writeBytes) x.v["IODataBytesPersec"] = *p->readBytes + *p->writeBytes;
        if (p->readOps && p->writeOps) x.v["IODataOperationsPersec"] = *p->readOps + *p->writeOps;
        out.push_back(std::move(x));
    }
    // Windows adds the idle process (the processors' idle time) and the
    // total of the counters that add up.
    if (auto stat = ctx.read("/proc/stat")) {
        for (const auto& c : ParseProcStatSummary(*stat).cpus)
            if (c.name == "cpu") {
                Sample idle{"Idle", {}};
                const long hz = ClockTicks(ctx);
                idle.v["PercentProcessorTime"] = TicksTo100ns(c.idle + c.iowait, hz);
                idle.v["PercentPrivilegedTime"] = idle.v["PercentProcessorTime"];
                idle.v["PercentUserTime"] = 0;
                idle.v["IDProcess"] = 0;
                out.insert(out.begin(), std::move(idle));
            }
    }
    if (!out.empty()) {
        Sample total{"_Total", {}};
        for (const auto& s : out)
            for (const auto& [k, v] : s.v)
                if (k != "IDProcess" && k != "CreatingProcessID" && k != "PriorityBase" && k != "ElapsedTime")
                    total.v[k] += v;
        total.v["IDProcess"] = 0;
        out.push_back(std::move(total));
    }
    return out;
}

std::vector<Sample> ThreadSample(const Context& ctx) {
    std::vector<Sample> out;
    auto boot = BootTime(ctx);
    for (const auto& pid : NumericEntries(ctx, "/proc")) {
        auto owner = ReadProcess(ctx, "/proc/" + pid, true);
        if (!owner) continue;
        std::string pname = owner->name();
        int index = 0;
        for (const auto& tid : NumericEntries(ctx, "/proc/" + pid + "/task")) {
            auto t = ReadProcess(ctx, Cat("/proc/", pid, "/task/", tid), false);
            if (!t) continue;
            Sample x;
            x.name = pname + "/" + std::to_string(index++);
            x.id = Cat(tid, "@", std::to_string(t->stat.startTime));
            ProcessCounters(ctx, *t, boot, x);
            x.v["IDProcess"] = ParseUInt(pid).value_or(0);
            x.v["IDThread"] = static_cast<std::uint64_t>(t->stat.pid);
            if (x.v.count("PriorityBase")) x.v["PriorityCurrent"] = x.v["PriorityBase"];
            auto vol = t->statusField("voluntary_ctxt_switches"), inv = t->statusField("nonvoluntary_ctxt_switches");
            if (vol && inv) x.v["ContextSwitchesPersec"] = ParseUInt(*vol).value_or(0) + ParseUInt(*inv).value_or(0);
            switch (t->stat.state) {
            case 'R': x.v["ThreadState"] = 2; break;
            case 'Z': case 'X': x.v["ThreadState"] = 4; break;
            case 'S': case 'D': case 'I': case 'T': case 't': x.v["ThreadState"] = 5; break;
            default: break;
            }
            out.push_back(std::move(x));
        }
    }
    return out;
}

// uptimeMs: since boot, from /proc/uptime; idle time is what the disk's busy
// time leaves of it.
void DiskCounters(const DiskStatLine& d, std::optional<std::uint64_t> uptimeMs, Sample& x) {
    std::uint64_t rb = d.sectorsRead * 512, wb = d.sectorsWritten * 512;
    x.v["DiskReadsPersec"] = d.reads;
    x.v["DiskWritesPersec"] = d.writes;
    x.v["DiskTransfersPersec"] = d.reads + d.writes;
    x.v["DiskReadBytesPersec"] = rb;
    x.v["DiskWriteBytesPersec"] = wb;
    x.v["DiskBytesPersec"] = rb + wb;
    x.v["AvgDiskBytesPerRead"] = rb;
    x.v["AvgDiskBytesPerRead_Base"] = d.reads;
    x.v["AvgDiskBytesPerWrite"] = wb;
    x.v["AvgDiskBytesPerWrite_Base"] = d.writes;
    x.v["AvgDiskBytesPerTransfer"] = rb + wb;
    x.v["AvgDiskBytesPerTransfer_Base"] = d.reads + d.writes;
    x.v["CurrentDiskQueueLength"] = d.inFlight;
    // Windows' % Disk Time is the read and the write time together (the
    // average queue length times 100), so it is never below either; the
    // busy time (io_ticks) only tells the idle time. In 100 ns units.
    x.v["AvgDiskQueueLength"] = (d.readMs + d.writeMs) * 10'000;
    x.v["AvgDiskReadQueueLength"] = d.readMs * 10'000;
    x.v["AvgDiskWriteQueueLength"] = d.writeMs * 10'000;
    x.v["PercentDiskTime"] = (d.readMs + d.writeMs) * 10'000;
    if (uptimeMs && *uptimeMs >= d.ioMs) x.v["PercentIdleTime"] = (*uptimeMs - d.ioMs) * 10'000;
    // Milliseconds spent on reads and writes, in ns (Frequency_PerfTime),
    // per operation.
    x.v["AvgDisksecPerRead"] = d.readMs * 1'000'000;
    x.v["AvgDisksecPerRead_Base"] = d.reads;
    x.v["AvgDisksecPerWrite"] = d.writeMs * 1'000'000;
    x.v["AvgDisksecPerWrite_Base"] = d.writes;
    x.v["AvgDisksecPerTransfer"] = (d.readMs + d.writeMs) * 1'000'000;
    x.v["AvgDisksecPerTransfer_Base"] = d.reads + d.writes;
    x.v["PercentDiskReadTime"] = d.readMs * 10'000;
    x.v["PercentDiskWriteTime"] = d.writeMs * 10'000;
}

void AddTotal(std::vector<Sample>& out) {
    if (out.empty()) return;
    Sample total{"_Total", {}};
    for (const auto& s : out)
        for (const auto& [k, v] : s.v) total.v[k] += v;
    out.push_back(std::move(total));
}

std::optional<std::uint64_t> UptimeMs(const Context& ctx) {
    auto t = ctx.readText("/proc/uptime");
    if (!t) return std::nullopt;
    auto w = SplitWhitespace(*t);
    if (w.empty()) return std::nullopt;
    // "12345.67": seconds with hundredths.
    auto dot = w[0].find('.');
    auto secs = ParseUInt(w[0].substr(0, dot));
    if (!secs) return std::nullopt;
    std::uint64_t ms = *secs * 1000;
    if (dot != std::string::npos) {
        auto f = ParseUInt((w[0].substr(dot + 1) + "000").substr(0, 3));
        if (!f) return std::nullopt;
        ms += *f;
    }
    return ms;
}

std::vector<Sample> PhysicalDiskSample(const Context& ctx) {
    std::vector<Sample> out;
    auto t = ctx.read("/proc/diskstats");
    if (!t) return out;
    auto uptime = UptimeMs(ctx);
    auto stats = ParseDiskStats(*t);
    int index = 0;
    for (const auto& name : ctx.fs().listDir("/sys/block")) {
        if (ctx.fs().resolve("/sys/block/" + name).find("/devices/virtual/") != std::string::npos) continue;
        if (StartsWith(name, "loop") || StartsWith(name, "ram") || StartsWith(name, "zram") || StartsWith(name, "fd") ||
            StartsWith(name, "sr") || ctx.readInt("/sys/block/" + name + "/device/type").value_or(0) == 5)
            continue;
        for (const auto& d : stats)
            if (d.name == name) {
                Sample x;
                x.name = std::to_string(index) + " " + name;  // Windows: disk number and volumes
                DiskCounters(d, uptime, x);
                out.push_back(std::move(x));
            }
        ++index;
    }
    AddTotal(out);
    return out;
}

std::vector<Sample> LogicalDiskSample(const Context& ctx) {
    std::vector<Sample> out;
    auto t = ctx.read("/proc/diskstats");
    auto mi = ctx.read("/proc/self/mountinfo");
    if (!t || !mi) return out;
    auto uptime = UptimeMs(ctx);
    auto stats = ParseDiskStats(*t);
    std::set<std::pair<unsigned, unsigned>> done;
    for (const auto& m : ParseMountInfo(*mi)) {
        if (m.major == 0 || !done.insert({m.major, m.minor}).second) continue;
        for (const auto& d : stats)
            if (d.major == m.major && d.minor == m.minor) {
                Sample x;
                x.name = UnescapeOctal(m.mountPoint);
                DiskCounters(d, uptime, x);
                if (auto vs = ctx.fs().volumeStats(x.name, m.fsType); vs && vs->totalBlocks) {
                    std::uint64_t mb = 1024 * 1024;
                    x.v["FreeMegabytes"] = vs->availableBlocks * vs->fragmentSize / mb;
                    x.v["PercentFreeSpace"] = vs->availableBlocks * vs->fragmentSize / mb;
                    x.v["PercentFreeSpace_Base"] = vs->totalBlocks * vs->fragmentSize / mb;
                }
                out.push_back(std::move(x));
            }
    }
    AddTotal(out);
    return out;
}

using SnmpMap = std::map<std::string, std::map<std::string, std::int64_t>>;

std::vector<Sample> SnmpSample(const Context& ctx, const char* proto,
                               const std::vector<std::pair<const char*, std::vector<const char*>>>& map) {
    auto t = ctx.read("/proc/net/snmp");
    if (!t) return {};
    SnmpMap snmp = ParseSnmp(*t);
    auto it = snmp.find(proto);
    if (it == snmp.end()) return {};
    Sample x;
    for (const auto& [prop, keys] : map) {
        std::uint64_t sum = 0;
        bool all = true;
        for (const char* k : keys) {
            auto f = it->second.find(k);
            if (f == it->second.end() || f->second < 0) all = false;
            else sum += static_cast<std::uint64_t>(f->second);
        }
        if (all) x.v[prop] = sum;
    }
    return {x};
}

std::vector<Sample> IpSample(const Context& ctx) {
    return SnmpSample(ctx, "Ip", {{"DatagramsReceivedPersec", {"InReceives"}},
                                  {"DatagramsSentPersec", {"OutRequests"}},
                                  {"DatagramsPersec", {"InReceives", "OutRequests"}},
                                  {"DatagramsForwardedPersec", {"ForwDatagrams"}},
                                  {"DatagramsReceivedHeaderErrors", {"InHdrErrors"}},
                                  {"DatagramsReceivedAddressErrors", {"InAddrErrors"}},
                                  {"DatagramsReceivedUnknownProtocol", {"InUnknownProtos"}},
                                  {"DatagramsReceivedDiscarded", {"InDiscards"}},
                                  {"DatagramsReceivedDeliveredPersec", {"InDelivers"}},
                                  {"DatagramsOutboundDiscarded", {"OutDiscards"}},
                                  {"DatagramsOutboundNoRoute", {"OutNoRoutes"}},
                                  {"FragmentsReceivedPersec", {"ReasmReqds"}},
                                  {"FragmentsReassembledPersec", {"ReasmOKs"}},
                                  {"FragmentReassemblyFailures", {"ReasmFails"}},
                                  {"FragmentedDatagramsPersec", {"FragOKs"}},
                                  {"FragmentationFailures", {"FragFails"}},
                                  {"FragmentsCreatedPersec", {"FragCreates"}}});
}

std::vector<Sample> TcpSample(const Context& ctx) {
    return SnmpSample(ctx, "Tcp", {{"ConnectionsActive", {"ActiveOpens"}},
                                   {"ConnectionsPassive", {"PassiveOpens"}},
                                   {"ConnectionFailures", {"AttemptFails"}},
                                   {"ConnectionsReset", {"EstabResets"}},
                                   {"ConnectionsEstablished", {"CurrEstab"}},
                                   {"SegmentsReceivedPersec", {"InSegs"}},
                                   {"SegmentsSentPersec", {"OutSegs"}},
                                   {"SegmentsPersec", {"InSegs", "OutSegs"}},
                                   {"SegmentsRetransmittedPersec", {"RetransSegs"}}});
}

std::vector<Sample> UdpSample(const Context& ctx) {
    return SnmpSample(ctx, "Udp", {{"DatagramsReceivedPersec", {"InDatagrams"}},
                                   {"DatagramsSentPersec", {"OutDatagrams"}},
                                   {"DatagramsPersec", {"InDatagrams", "OutDatagrams"}},
                                   {"DatagramsNoPortPersec", {"NoPorts"}},
                                   {"DatagramsReceivedErrors", {"InErrors"}}});
}

std::vector<Sample> IcmpSample(const Context& ctx) {
    return SnmpSample(ctx, "Icmp", {{"MessagesReceivedPersec", {"InMsgs"}},
                                    {"MessagesReceivedErrors", {"InErrors"}},
                                    {"MessagesSentPersec", {"OutMsgs"}},
                                    {"MessagesOutboundErrors", {"OutErrors"}},
                                    {"MessagesPersec", {"InMsgs", "OutMsgs"}},
                                    {"ReceivedDestUnreachable", {"InDestUnreachs"}},
                                    {"ReceivedTimeExceeded", {"InTimeExcds"}},
                                    {"ReceivedParameterProblem", {"InParmProbs"}},
                                    {"ReceivedSourceQuench", {"InSrcQuenchs"}},
                                    {"ReceivedRedirectPersec", {"InRedirects"}},
                                    {"ReceivedEchoPersec", {"InEchos"}},
                                    {"ReceivedEchoReplyPersec", {"InEchoReps"}},
                                    {"ReceivedTimestampPersec", {"InTimestamps"}},
                                    {"ReceivedTimestampReplyPersec", {"InTimestampReps"}},
                                    {"ReceivedAddressMask", {"InAddrMasks"}},
                                    {"ReceivedAddressMaskReply", {"InAddrMaskReps"}},
                                    {"SentDestinationUnreachable", {"OutDestUnreachs"}},
                                    {"SentTimeExceeded", {"OutTimeExcds"}},
                                    {"SentParameterProblem", {"OutParmProbs"}},
                                    {"SentSourceQuench", {"OutSrcQuenchs"}},
                                    {"SentRedirectPersec", {"OutRedirects"}},
                                    {"SentEchoPersec", {"OutEchos"}},
                                    {"SentEchoReplyPersec", {"OutEchoReps"}},
                                    {"SentTimestampPersec", {"OutTimestamps"}},
                                    {"SentTimestampReplyPersec", {"OutTimestampReps"}},
                                    {"SentAddressMask", {"OutAddrMasks"}},
                                    {"SentAddressMaskReply", {"OutAddrMaskReps"}}});
}

std::vector<Sample> InterfaceSample(const Context& ctx) {
    std::vector<Sample> out;
    auto t = ctx.read("/proc/net/dev");
    if (!t) return out;
    for (const auto& d : ParseNetDev(*t)) {
        Sample x;
        x.name = d.name;
        x.v["BytesReceivedPersec"] = d.rxBytes;
        x.v["BytesSentPersec"] = d.txBytes;
        x.v["BytesTotalPersec"] = d.rxBytes + d.txBytes;
        x.v["PacketsReceivedPersec"] = d.rxPackets;
        x.v["PacketsSentPersec"] = d.txPackets;
        x.v["PacketsPersec"] = d.rxPackets + d.txPackets;
        x.v["PacketsReceivedErrors"] = d.rxErrors;
        x.v["PacketsReceivedDiscarded"] = d.rxDrop;
        x.v["PacketsOutboundErrors"] = d.txErrors;
        x.v["PacketsOutboundDiscarded"] = d.txDrop;
        x.v["PacketsReceivedNonUnicastPersec"] = d.rxMulticast;
        if (d.rxPackets >= d.rxMulticast) x.v["PacketsReceivedUnicastPersec"] = d.rxPackets - d.rxMulticast;
        // Mbit/s while the link is up; -1 or absent otherwise.
        if (auto sp = ctx.readInt("/sys/class/net/" + d.name + "/speed"); sp && *sp > 0)
            x.v["CurrentBandwidth"] = static_cast<std::uint64_t>(*sp) * 1'000'000;
        out.push_back(std::move(x));
    }
    return out;
}

// --- the counter sets ---

const std::vector<PerfSet>& Sets() {
    using K = Kind;
    static const std::vector<PerfSet> sets = {
        {"PerfOS_Processor",
         {{"PercentProcessorTime", K::CpuShareInv, "@idle"}, {"PercentIdleTime", K::CpuShare, "@idle"},
          {"PercentUserTime", K::CpuShare, "@user"}, {"PercentPrivilegedTime", K::CpuShare, "@priv"},
          {"PercentInterruptTime", K::CpuShare, "@irq"}, {"PercentDPCTime", K::CpuShare, "@dpc"},
          {"InterruptsPersec", K::Rate}, {"DPCsQueuedPersec", K::Rate}},
         ProcessorSample, kProcessorInterval},
        {"PerfOS_Memory",
         {{"AvailableBytes", K::Raw}, {"AvailableKBytes", K::Raw}, {"AvailableMBytes", K::Raw}, {"CacheBytes", K::Raw},
          {"CommittedBytes", K::Raw}, {"CommitLimit", K::Raw},
          {"PercentCommittedBytesInUse", K::PctBase, "PercentCommittedBytesInUse_Base"},
          {"PoolNonpagedBytes", K::Raw}, {"PoolPagedBytes", K::Raw}, {"PageFaultsPersec", K::Rate},
          {"PageReadsPersec", K::Rate}, {"PagesInputPersec", K::Rate}, {"PagesOutputPersec", K::Rate},
          {"PagesPersec", K::Rate}},
         MemorySample},
        {"PerfOS_System",
         {{"ContextSwitchesPersec", K::Rate}, {"ProcessorQueueLength", K::Raw}, {"Processes", K::Raw},
          {"Threads", K::Raw}, {"SystemUpTime", K::Elapsed}},
         SystemSample},
        {"PerfOS_PagingFile", {{"PercentUsage", K::PctBase, "PercentUsage_Base"}}, PagingFileSample},
        {"PerfOS_Objects",
         {{"Processes", K::Raw}, {"Threads", K::Raw}, {"Semaphores", K::Raw}, {"Sections", K::Raw}},
         ObjectsSample},
        {"PerfProc_Process",
         {{"PercentProcessorTime", K::PctTime}, {"PercentUserTime", K::PctTime}, {"PercentPrivilegedTime", K::PctTime},
          {"IDProcess", K::Raw}, {"CreatingProcessID", K::Raw}, {"PriorityBase", K::Raw}, {"ElapsedTime", K::Elapsed},
          {"ThreadCount", K::Raw}, {"HandleCount", K::Raw}, {"PageFaultsPersec", K::Rate}, {"VirtualBytes", K::Raw},
          {"VirtualBytesPeak", K::Raw}, {"WorkingSet", K::Raw}, {"WorkingSetPeak", K::Raw},
          {"WorkingSetPrivate", K::Raw}, {"PageFileBytes", K::Raw}, {"PrivateBytes", K::Raw}, {"IOReadBytesPersec", K::Rate},
          {"IOWriteBytesPersec", K::Rate}, {"IOReadOperationsPersec", K::Rate}, {"IOWriteOperationsPersec", K::Rate},
          {"IODataBytesPersec", K::Rate}, {"IODataOperationsPersec", K::Rate}},
         ProcessSample},
        {"PerfProc_Thread",
         {{"PercentProcessorTime", K::PctTime}, {"PercentUserTime", K::PctTime}, {"PercentPrivilegedTime", K::PctTime},
          {"IDProcess", K::Raw}, {"IDThread", K::Raw}, {"PriorityBase", K::Raw}, {"PriorityCurrent", K::Raw},
          {"ElapsedTime", K::Elapsed}, {"ContextSwitchesPersec", K::Rate}, {"ThreadState", K::Raw}},
         ThreadSample},
        {"PerfDisk_PhysicalDisk",
         {{"DiskReadsPersec", K::Rate}, {"DiskWritesPersec", K::Rate}, {"DiskTransfersPersec", K::Rate},
          {"DiskReadBytesPersec", K::Rate}, {"DiskWriteBytesPersec", K::Rate}, {"DiskBytesPersec", K::Rate},
          {"AvgDiskBytesPerRead", K::Avg, "AvgDiskBytesPerRead_Base"},
          {"AvgDiskBytesPerWrite", K::Avg, "AvgDiskBytesPerWrite_Base"},
          {"AvgDiskBytesPerTransfer", K::Avg, "AvgDiskBytesPerTransfer_Base"}, {"CurrentDiskQueueLength", K::Raw},
          {"AvgDiskQueueLength", K::QueueLen}, {"AvgDiskReadQueueLength", K::QueueLen},
          {"AvgDiskWriteQueueLength", K::QueueLen}, {"PercentDiskTime", K::PctTime, nullptr, true},
          {"PercentIdleTime", K::PctTimeInv, "PercentDiskTime"}, {"PercentDiskReadTime", K::PctTime, nullptr, true},
          {"PercentDiskWriteTime", K::PctTime, nullptr, true},
          {"AvgDisksecPerRead", K::AvgSeconds, "AvgDisksecPerRead_Base"},
          {"AvgDisksecPerWrite", K::AvgSeconds, "AvgDisksecPerWrite_Base"},
          {"AvgDisksecPerTransfer", K::AvgSeconds, "AvgDisksecPerTransfer_Base"}},
         PhysicalDiskSample},
        {"PerfDisk_LogicalDisk",
         {{"AvgDiskBytesPerRead", K::Avg, "AvgDiskBytesPerRead_Base"},
          {"AvgDiskBytesPerWrite", K::Avg, "AvgDiskBytesPerWrite_Base"},
          {"AvgDiskBytesPerTransfer", K::Avg, "AvgDiskBytesPerTransfer_Base"}, {"CurrentDiskQueueLength", K::Raw},
          {"AvgDiskQueueLength", K::QueueLen}, {"AvgDiskReadQueueLength", K::QueueLen},
          {"AvgDiskWriteQueueLength", K::QueueLen}, {"PercentDiskTime", K::PctTime, nullptr, true},
          {"PercentIdleTime", K::PctTimeInv, "PercentDiskTime"}, {"PercentDiskReadTime", K::PctTime, nullptr, true},
          {"PercentDiskWriteTime", K::PctTime, nullptr, true},
          {"AvgDisksecPerRead", K::AvgSeconds, "AvgDisksecPerRead_Base"},
          {"AvgDisksecPerWrite", K::AvgSeconds, "AvgDisksecPerWrite_Base"},
          {"AvgDisksecPerTransfer", K::AvgSeconds, "AvgDisksecPerTransfer_Base"}, {"FreeMegabytes", K::Raw},
          {"PercentFreeSpace", K::PctBase, "PercentFreeSpace_Base"}},
         LogicalDiskSample},
        {"Tcpip_IP", {}, IpSample},
        {"Tcpip_TCP", {{"ConnectionsEstablished", K::Raw}}, TcpSample},
        {"Tcpip_UDP", {}, UdpSample},
        {"Tcpip_ICMP", {}, IcmpSample},
        {"Tcpip_NetworkInterface", {{"CurrentBandwidth", K::Raw}}, InterfaceSample},
    };
    return sets;
}

// How a counter without an entry of its own is formatted: "Persec" names are
// rates, the rest are counts shown as they are.
Kind KindOf(const PerfSet& set, const std::string& prop, const Counter** found) {
    for (const auto& c : set.counters)
        if (prop == c.name) {
            *found = &c;
            return c.kind;
        }
    *found = nullptr;
    bool rate = prop.size() > 6 && ToLowerAscii(prop.substr(prop.size() - 6)) == "persec";
    return rate ? Kind::Rate : Kind::Raw;
}

Snapshot TakeSnapshot(const Context& ctx, const PerfSet& set) {
    Snapshot s;
    if (ctx.fs().isLiveRoot()) {
        s.perfTime = static_cast<std::uint64_t>(
            std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch()).count());
        s.sys100ns = Sys100nsNow();
    }
    s.items = set.sample(ctx);
    for (std::size_t i = 0; i < s.items.size(); ++i) s.byKey.emplace(s.items[i].key(), i);
    return s;
}

void SetHeader(Row& r, const Snapshot& s, const std::string& name) {
    if (name.empty()) r.set("Name", Value());
    else r.set("Name", name);
    if (s.perfTime) {
        r.setU64("Timestamp_PerfTime", s.perfTime).setU64("Frequency_PerfTime", 1'000'000'000ull);
        r.setU64("Timestamp_Sys100NS", s.sys100ns).setU64("Frequency_Sys100NS", k100nsPerSecond);
        r.setU64("Timestamp_Object", s.sys100ns).setU64("Frequency_Object", k100nsPerSecond);
    }
}

void SetCounter(Row& r, const PropertyDecl& d, std::uint64_t v) {
    if (d.cimType == CIM_UINT32) r.setU32(d.name, v & 0xFFFFFFFFull);  // a 32-bit counter wraps
    else r.setU64(d.name, v);
}

Object RawRow(const SchemaPtr& schema, const Snapshot& s, const Sample& x) {
    Row r(schema);
    SetHeader(r, s, x.name);
    for (const auto& d : schema->properties()) {
        auto it = x.v.find(d.name);
        if (it != x.v.end()) SetCounter(r, d, it->second);
    }
    // Percent-of-time counters on Windows have the timestamp as their base.
    for (const char* p : {"PercentDiskTime_Base", "PercentIdleTime_Base", "PercentDiskReadTime_Base", "PercentDiskWriteTime_Base"})
        if (schema->indexOf(p) >= 0 && x.v.count(std::string(p).substr(0, std::strlen(p) - 5))) r.setU64(p, s.sys100ns);
    return r.build();
}

Object FormattedRow(const SchemaPtr& schema, const PerfSet& set, const Snapshot& a, const Snapshot& b, const Sample& x) {
    Row r(schema);
    SetHeader(r, b, x.name);
    const Sample* before = nullptr;
    if (auto f = a.byKey.find(x.key()); f != a.byKey.end()) before = &a.items[f->second];
    std::optional<double> dt;  // seconds between the samples
    if (a.perfTime && b.perfTime && *b.perfTime > *a.perfTime)
        dt = static_cast<double>(*b.perfTime - *a.perfTime) / 1e9;
    for (const auto& d : schema->properties()) {
        const Counter* c = nullptr;
        Kind kind = KindOf(set, d.name, &c);
        // Some counters are computed from another sample key.
        const bool fromBase = c && c->base && (kind == Kind::CpuShare || kind == Kind::CpuShareInv || kind == Kind::PctTimeInv);
        const std::string key = fromBase ? c->base : d.name;
        auto it = x.v.find(key);
        if (it == x.v.end()) continue;
        std::uint64_t now = it->second;
        std::optional<std::uint64_t> then;
        if (before)
            if (auto f = before->v.find(key); f != before->v.end()) then = f->second;
        auto delta = [&]() -> std::optional<double> {
            if (!then || now < *then) return std::nullopt;  // new, or the counter was reset
            return static_cast<double>(now - *then);
        };
        std::optional<double> out;
        switch (kind) {
        case Kind::Raw: out = static_cast<double>(now); break;
        case Kind::Rate:
            if (auto dv = delta(); dv && dt) out = *dv / *dt;
            break;
        case Kind::PctTime:
        case Kind::PctTimeInv:
            if (auto dv = delta(); dv && dt) {
                double pct = 100.0 * *dv / (*dt * 1e7);
                if (kind == Kind::PctTimeInv) pct = 100.0 - pct;
                if (kind == Kind::PctTimeInv || (c && c->capAt100)) pct = std::clamp(pct, 0.0, 100.0);
                out = std::max(pct, 0.0);
            }
            break;
        case Kind::QueueLen:
            if (auto dv = delta(); dv && dt) out = *dv / (*dt * 1e7);
            break;
        case Kind::PctBase:
            if (auto base = x.v.find(c->base); base != x.v.end() && base->second > 0)
                out = 100.0 * static_cast<double>(now) / static_cast<double>(base->second);
            break;
        case Kind::Avg:
        case Kind::AvgSeconds:
            if (auto dv = delta(); dv && before) {
                auto b1 = before->v.find(c->base), b2 = x.v.find(c->base);
                if (b1 != before->v.end() && b2 != x.v.end() && b2->second >= b1->second)
                    out = b2->second == b1->second ? 0.0 : *dv / static_cast<double>(b2->second - b1->second);
                if (out && kind == Kind::AvgSeconds) *out /= 1e9;
            }
            break;
        case Kind::CpuShare:
        case Kind::CpuShareInv:
            if (auto dv = delta(); dv && before) {
                auto t1 = before->v.find("@all"), t2 = x.v.find("@all");
                if (t1 != before->v.end() && t2 != x.v.end() && t2->second > t1->second) {
                    double pct = 100.0 * *dv / static_cast<double>(t2->second - t1->second);
                    out = std::clamp(kind == Kind::CpuShareInv ? 100.0 - pct : pct, 0.0, 100.0);
                }
            }
            break;
        case Kind::Elapsed:
            if (b.sys100ns && *b.sys100ns >= now) out = static_cast<double>(*b.sys100ns - now) / 1e7;
            break;
        }
        if (out) {
            double v = std::floor(*out + 0.5);
            if (d.cimType == CIM_UINT32) r.setU32(d.name, static_cast<std::uint64_t>(v));
            else r.setU64(d.name, static_cast<std::uint64_t>(v));
        }
    }
    return r.build();
}

// Walks one or more counter sets lazily; formatted data takes its first
// samples of every set at once, waits kSampleInterval once, and takes each
// second sample as the walk reaches its set.
class PerfCursor : public InstanceCursor {
public:
    PerfCursor(const Context& ctx, std::vector<std::pair<const PerfSet*, bool>> plan) : ctx_(ctx), plan_(std::move(plan)) {
        bool anyFormatted = false;
        for (const auto& [set, formatted] : plan_) {
            if (formatted) {
                first_[set] = TakeSnapshot(ctx_, *set);
                anyFormatted = true;
            }
        }
        // One wait, as long as the slowest set needs.
        std::chrono::milliseconds wait{0};
        for (const auto& [set, formatted] : plan_)
            if (formatted) wait = std::max(wait, set->interval);
        if (anyFormatted && ctx_.fs().isLiveRoot()) std::this_thread::sleep_for(wait);
    }

    std::optional<Object> next() override {
        while (true) {
            if (i_ < current_.items.size()) {
                const auto& [set, formatted] = plan_[step_ - 1];
                const Sample& x = current_.items[i_++];
                if (formatted) return FormattedRow(schema_, *set, first_[set], current_, x);
                return RawRow(schema_, current_, x);
            }
            if (step_ >= plan_.size()) return std::nullopt;
            const auto& [set, formatted] = plan_[step_++];
            schema_ = LookupOsSchema(std::string(formatted ? "Win32_PerfFormattedData_" : "Win32_PerfRawData_") + set->set);
            current_ = TakeSnapshot(ctx_, *set);
            i_ = 0;
        }
    }

private:
    Context ctx_;
    std::vector<std::pair<const PerfSet*, bool>> plan_;
    std::map<const PerfSet*, Snapshot> first_;
    std::size_t step_ = 0, i_ = 0;
    Snapshot current_;
    SchemaPtr schema_;
};

}  // namespace

void RegisterPerfClasses(Registry& r) {
    for (const auto& set : Sets()) {
        const PerfSet* s = &set;
        r.add(std::string("Win32_PerfRawData_") + set.set, [s](const Context& ctx, const SchemaPtr&) {
            return std::make_unique<PerfCursor>(ctx, std::vector<std::pair<const PerfSet*, bool>>{{s, false}});
        });
        r.add(std::string("Win32_PerfFormattedData_") + set.set, [s](const Context& ctx, const SchemaPtr&) {
                return std::make_unique<PerfCursor>(ctx, std::vector<std::pair<const PerfSet*, bool>>{{s, true}});
            });
    }
    // The abstract classes answer with the instances of their subclasses.
    auto plan = [](bool raw, bool formatted) {
        std::vector<std::pair<const PerfSet*, bool>> p;
        for (const auto& set : Sets()) {
            if (raw) p.emplace_back(&set, false);
            if (formatted) p.emplace_back(&set, true);
        }
        return p;
    };
    r.add("Win32_Perf", [plan](const Context& ctx, const SchemaPtr&) { return std::make_unique<PerfCursor>(ctx, plan(true, true)); });
    r.add("Win32_PerfRawData", [plan](const Context& ctx, const SchemaPtr&) { return std::make_unique<PerfCursor>(ctx, plan(true, false)); });
    r.add("Win32_PerfFormattedData", [plan](const Context& ctx, const SchemaPtr&) { return std::make_unique<PerfCursor>(ctx, plan(false, true)); });
}

}  // namespace wmi::lnx
