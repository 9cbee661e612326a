// Win32_Process and Win32_Thread from /proc, read ahead in key order.
#include <cmath>
#include <cstdio>

#include "wmi/linux/process_info.h"
#include "wmi/linux/read_ahead.h"

namespace wmi::lnx {

namespace {

// A status figure ("1234 kB") in bytes.
std::optional<std::uint64_t> FigureBytes(std::optional<std::string_view> field) {
    if (!field) return std::nullopt;
    auto [number, unit] = FirstTwoWords(*field);
    if (number.empty()) return std::nullopt;
    auto v = ParseUInt(number);
    if (!v) return std::nullopt;
    return unit == "kB" ? *v * 1024 : *v;
}

}  // namespace

std::optional<std::uint64_t> ProcessInfo::statusBytes(const char* key) const { return FigureBytes(statusField(key)); }

std::optional<std::uint64_t> ProcessInfo::commitBytes() const {
    auto data = statusBytes("VmData"), stack = statusBytes("VmStk");
    if (!data || !stack) return std::nullopt;
    return *data + *stack;
}

std::optional<std::uint64_t> WindowsPriority(const ProcStat& s) {
    // The kernel's priority field is -1 - rt_priority for real-time tasks
    // (-2..-100) and 20 + nice for the others.
    if (s.priority <= -2 && s.priority >= -100) return 16 + static_cast<std::uint64_t>(-2 - s.priority) * 15 / 98;
    if (s.nice < -20 || s.nice > 19) return std::nullopt;
    if (s.nice <= -11) return 13;
    if (s.nice < 0) return 10;
    if (s.nice == 0) return 8;
    return s.nice <= 10 ? 6 : 4;
}

std::string ProcessInfo::name() const {
    if (exe) {
        std::string n = BaseName(*exe);
        const std::string deleted = " (deleted)";
        if (n.size() > deleted.size() && n.compare(n.size() - deleted.size(), deleted.size(), deleted) == 0)
            n.resize(n.size() - deleted.size());
        if (!n.empty()) return n;
    }
    return stat.comm;
}

std::optional<ProcessInfo> ReadProcess(const Context& ctx, const std::string& dir, bool withDetails, bool withStatus) {
    const auto files = ctx.fs().openDirectory(dir);
    auto statText = files->read("stat", 4096);
    if (!statText) return std::nullopt;  // gone
    auto stat = ParseProcStat(*statText);
    if (!stat) return std::nullopt;
    ProcessInfo p;
    p.stat = std::move(*stat);
    // PF_KTHREAD: the kernel shows no memory map, executable, command line,
    // descriptor or audit session for a kernel thread, so their files need
    // no reading (a third of the processes of an idle computer).
    const bool kernelThread = withDetails && (p.stat.flags & 0x00200000) != 0;
    if (withStatus && !kernelThread)
        if (auto st = files->read("status", 64 * 1024)) p.statusText = std::move(*st);
    if (!withDetails) return p;
    auto readIo = [&] {
        if (auto io = files->read("io", 4096)) {
            auto get = [&](const char* k) -> std::optional<std::uint64_t> {
                auto v = FindKeyValue(*io, k, ':');
                return v ? ParseUInt(*v) : std::nullopt;
            };
            p.readOps = get("syscr"), p.readBytes = get("rchar"), p.writeOps = get("syscw"), p.writeBytes = get("wchar");
        }
    };
    if (kernelThread) {
        readIo();
        return p;
    }
    if (auto exe = files->readLink("exe")) p.exe = *exe;
    if (auto cmd = files->read("cmdline", 256 * 1024)) p.args = ParseCmdline(*cmd);
    // An unreadable descriptor table lists as empty; only a process with no
    // descriptors at all truly has zero, and those are kernel threads, which
    // have no table to count.
    if (auto fds = files->countEntries("fd")) p.fdCount = fds;
    readIo();
    if (auto text = files->read("sessionid", 64))
        if (auto s = ParseUInt(*text); s && *s != 0xFFFFFFFFull) p.auditSession = s;
    return p;
}

namespace {

// The memory lines of a status file, found in one pass over it (asked for
// one by one, each would be a search of the whole file): for each key the
// last line whose key, trimmed, it is, as FindKeyValue reads them.
struct StatusMemory {
    std::optional<std::string_view> size, peak, rss, hwm, anon, swap, data, stack;

    explicit StatusMemory(std::string_view text) {
        auto blank = [](char c) { return c == ' ' || (c >= '\t' && c <= '\r') || c == '\0'; };
        auto trim = [&](std::string_view v) {
            while (!v.empty() && blank(v.front())) v.remove_prefix(1);
            while (!v.empty() && blank(v.back())) v.remove_suffix(1);
            return v;
        };
        const std::pair<std::string_view, std::optional<std::string_view>*> wanted[] = {
            {"VmPeak", &peak}, {"VmSize", &size}, {"VmHWM", &hwm},  {"VmRSS", &rss},
            {"RssAnon", &anon}, {"VmData", &data}, {"VmStk", &stack}, {"VmSwap", &swap}};
        while (!text.empty()) {
            const std::size_t eol = std::min(text.find('\n'), text.size());
            const std::string_view line = text.substr(0, eol);
            text.remove_prefix(std::min(eol + 1, text.size()));
            const std::size_t colon = line.find(':');
            if (colon == std::string_view::npos) continue;
            const std::string_view key = trim(line.substr(0, colon));
            if (key.size() < 5 || (key[0] != 'V' && key[0] != 'R')) continue;
            for (const auto& [name, field] : wanted)
                if (key == name) *field = trim(line.substr(colon + 1));
        }
    }
};

struct ProcessQuery {
    std::optional<std::string> osName, host, kernel;
    std::optional<std::int64_t> boot;
    long hz = 100;
};

ProcessQuery MakeQuery(const Context& ctx) {
    ProcessQuery q;
    q.osName = OsInstanceName(ctx);
    q.host = ctx.shortHostName();
    q.kernel = ctx.readText("/proc/sys/kernel/osrelease");
    q.boot = BootTime(ctx);
    q.hz = ClockTicks(ctx);
    return q;
}

std::optional<Object> ProcessInstance(const Context& ctx, const SchemaPtr& schema, const ProcessQuery& q,
                                      const std::string& pid) {
    auto p = ReadProcess(ctx, "/proc/" + pid, true);
    if (!p) return std::nullopt;
    Row r(schema);
    std::string name = p->name();
    r.set("Name", name).set("Caption", name).set("Description", name);
    r.set("CreationClassName", "Win32_Process").set("CSCreationClassName", "Win32_ComputerSystem");
    r.set("OSCreationClassName", "Win32_OperatingSystem");
    r.set("CSName", q.host).set("OSName", q.osName).set("WindowsVersion", q.kernel);
    r.set("Handle", pid);
    r.setU32("ProcessId", static_cast<std::uint64_t>(p->stat.pid));
    r.setU32("ParentProcessId", static_cast<std::uint64_t>(p->stat.ppid));
    if (!p->args.empty()) r.set("CommandLine", JoinCommandLine(p->args));
    r.set("ExecutablePath", p->exe);
    if (q.boot) {
        const auto hz = static_cast<std::uint64_t>(q.hz);
        std::string when = ctx.dmtf(*q.boot + static_cast<std::int64_t>(p->stat.startTime / hz));
        // The start counts clock ticks: keep the fraction of a second.
        char micro[24];
        std::snprintf(micro, sizeof micro, "%06llu", static_cast<unsigned long long>(p->stat.startTime % hz * 1'000'000 / hz));
        if (when.size() > 21 && when[14] == '.') when.replace(15, 6, micro);
        r.set("CreationDate", when);
    }
    r.setU32("Priority", WindowsPriority(p->stat));
    r.setU64("KernelModeTime", TicksTo100ns(p->stat.stime, q.hz));
    r.setU64("UserModeTime", TicksTo100ns(p->stat.utime, q.hz));
    r.setU32("ThreadCount", static_cast<std::uint64_t>(p->stat.numThreads));
    r.setU32("HandleCount", p->fdCount);
    r.setU32("PageFaults", p->stat.minflt + p->stat.majflt);
    // Kernel threads have no user memory: their sizes are Null, not zero.
    if (const StatusMemory m(p->statusText); m.size) {
        r.setU64("VirtualSize", FigureBytes(m.size));
        r.setU64("PeakVirtualSize", FigureBytes(m.peak));
        r.setU64("WorkingSetSize", FigureBytes(m.rss));
        if (auto hwm = FigureBytes(m.hwm)) r.setU32("PeakWorkingSetSize", *hwm / 1024);  // in KB
        // Private memory: anonymous pages, resident or swapped out.
        auto anon = FigureBytes(m.anon), swap = FigureBytes(m.swap);
        if (anon && swap) r.setU64("PrivatePageCount", *anon + *swap);
        // "Page file usage" is the commit charge (data and stack), in KB;
        // Linux keeps no peak of it, so PeakPageFileUsage stays Null.
        auto data = FigureBytes(m.data), stack = FigureBytes(m.stack);
        if (data && stack) r.setU32("PageFileUsage", (*data + *stack) / 1024);
    }
    r.setU32("SessionId", p->auditSession);
    r.setU64("ReadOperationCount", p->readOps).setU64("ReadTransferCount", p->readBytes);
    r.setU64("WriteOperationCount", p->writeOps).setU64("WriteTransferCount", p->writeBytes);
    return std::move(r).build();
}

std::unique_ptr<InstanceCursor> Processes(const Context& ctx, const SchemaPtr& schema) {
    auto q = std::make_shared<ProcessQuery>(MakeQuery(ctx));
    return MakeReadAheadCursor(NumericEntries(ctx, "/proc"),
                               [ctx, schema, q](const std::string& pid) { return ProcessInstance(ctx, schema, *q, pid); });
}

// Windows thread states: 2 running, 5 waiting, 4 terminated.
std::optional<int> ThreadState(char s) {
    switch (s) {
    case 'R': return 2;
    case 'S': case 'D': case 'I': case 'T': case 't': case 'W': case 'P': return 5;
    case 'Z': case 'X': case 'x': return 4;
    default: return std::nullopt;
    }
}

std::optional<Object> ThreadInstance(const Context& ctx, const SchemaPtr& schema, const ProcessQuery& q,
                                     const std::string& key) {
    const std::size_t slash = key.find('/');
    const std::string pid = key.substr(0, slash), tid = key.substr(slash + 1);
    auto p = ReadProcess(ctx, "/proc/" + pid + "/task/" + tid, false, false);
    if (!p) return std::nullopt;
    Row r(schema);
    r.set("CreationClassName", "Win32_Thread").set("CSCreationClassName", "Win32_ComputerSystem");
    r.set("OSCreationClassName", "Win32_OperatingSystem").set("ProcessCreationClassName", "Win32_Process");
    r.set("CSName", q.host).set("OSName", q.osName);
    r.set("Handle", tid).set("ProcessHandle", pid);
    r.set("Name", p->stat.comm).set("Caption", p->stat.comm);
    r.setU32("Priority", WindowsPriority(p->stat));
    r.setU32("PriorityBase", WindowsPriority(p->stat));
    // Win32_Thread counts its times in milliseconds.
    std::uint64_t msPerTick = 1000 / static_cast<std::uint64_t>(q.hz);
    r.setU64("KernelModeTime", p->stat.stime * msPerTick);
    r.setU64("UserModeTime", p->stat.utime * msPerTick);
    if (auto st = ThreadState(p->stat.state)) r.setU32("ThreadState", static_cast<std::uint64_t>(*st));
    // The processor time the thread has been given, not its age.
    r.setU64("ElapsedTime", (p->stat.utime + p->stat.stime) * msPerTick);
    return std::move(r).build();
}

// Every thread of every process, read ahead like the processes: the threads
// are the ones there when the query starts, in process and thread order.
std::unique_ptr<InstanceCursor> Threads(const Context& ctx, const SchemaPtr& schema) {
    auto q = std::make_shared<ProcessQuery>(MakeQuery(ctx));
    std::vector<std::string> keys;
    for (const auto& pid : NumericEntries(ctx, "/proc"))
        for (const auto& tid : NumericEntries(ctx, "/proc/" + pid + "/task")) keys.push_back(pid + "/" + tid);
    return MakeReadAheadCursor(std::move(keys), [ctx, schema, q](const std::string& key) {
        return ThreadInstance(ctx, schema, *q, key);
    });
}

}  // namespace

void RegisterProcessClasses(Registry& r) {
    r.add("Win32_Process", Processes);
    r.add("Win32_Thread", Threads);
    // The parameter class of process creation has instances on no computer.
    r.add("Win32_ProcessStartup", [](const Context&, const SchemaPtr&) -> std::unique_ptr<InstanceCursor> {
        return std::make_unique<VectorCursor>(std::vector<Object>{});
    });
}

}  // namespace wmi::lnx
