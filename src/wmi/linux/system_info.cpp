#include "wmi/linux/system_info.h"

#include <algorithm>
#include <set>

namespace wmi::lnx {

std::optional<std::string> DmiField(const Context& ctx, const char* name) {
    return ctx.readText(std::string("/sys/class/dmi/id/") + name);
}

std::vector<SmbiosStructure> ReadSmbios(const Context& ctx) {
    auto raw = ctx.read("/sys/firmware/dmi/tables/DMI", 1 << 20);
    if (!raw) return {};
    return ParseSmbios(*raw);
}

const SmbiosStructure* FirstOfType(const std::vector<SmbiosStructure>& table, int type) {
    for (const auto& s : table)
        if (s.type == type) return &s;
    return nullptr;
}

std::vector<const LogicalCpu*> CpuTopology::inPackage(int package) const {
    std::vector<const LogicalCpu*> out;
    for (const auto& c : cpus)
        if (c.package == package) out.push_back(&c);
    return out;
}

int CpuTopology::coresIn(int package) const {
    std::set<int> cores;
    for (const auto& c : cpus)
        if (c.package == package) cores.insert(c.core);
    return static_cast<int>(cores.size());
}

CpuTopology ReadCpuTopology(const Context& ctx) {
    CpuTopology t;
    if (auto text = ctx.read("/proc/cpuinfo")) t.records = ParseCpuInfo(*text);
    std::vector<int> ids;
    if (auto online = ctx.read("/sys/devices/system/cpu/online", 4096)) ids = ParseCpuList(*online);
    if (ids.empty()) {
        for (const auto& r : t.records)
            if (auto p = r.get("processor"); p && ParseInt(*p)) ids.push_back(static_cast<int>(*ParseInt(*p)));
    }
    for (int id : ids) {
        LogicalCpu c;
        c.id = id;
        for (const auto& r : t.records) {
            auto p = r.get("processor");
            if (p && ParseInt(*p) == id) {
                c.info = &r;
                break;
            }
        }
        std::string base = "/sys/devices/system/cpu/cpu" + std::to_string(id) + "/topology/";
        auto pkg = ctx.readInt(base + "physical_package_id");
        if (!pkg && c.info)
            if (auto v = c.info->get("physical id")) pkg = ParseInt(*v);
        auto core = ctx.readInt(base + "core_id");
        if (!core && c.info)
            if (auto v = c.info->get("core id")) core = ParseInt(*v);
        // Without any topology every logical processor is its own core in package 0.
        c.package = static_cast<int>(pkg.value_or(0));
        c.core = static_cast<int>(core.value_or(id));
        t.cpus.push_back(c);
        if (std::find(t.packages.begin(), t.packages.end(), c.package) == t.packages.end())
            t.packages.push_back(c.package);
    }
    std::sort(t.packages.begin(), t.packages.end());
    return t;
}

namespace {
std::optional<std::uint64_t> ParseSizeKB(const std::string& s) {
    std::string t = Trim(s);
    if (t.empty()) return std::nullopt;
    std::uint64_t mult = 1;
    char unit = t.back();
    if (unit == 'K') t.pop_back();
    else if (unit == 'M') { t.pop_back(); mult = 1024; }
    else if (unit == 'G') { t.pop_back(); mult = 1024 * 1024; }
    else {
        auto bytes = ParseUInt(t);
        if (!bytes) return std::nullopt;
        return *bytes / 1024;
    }
    auto v = ParseUInt(t);
    if (!v) return std::nullopt;
    return *v * mult;
}
}  // namespace

std::vector<CacheInfo> ReadCaches(const Context& ctx, const CpuTopology& topo) {
    std::vector<CacheInfo> out;
    std::set<int> online;
    for (const auto& c : topo.cpus) online.insert(c.id);
    std::set<std::tuple<int, std::string, std::vector<int>>> seen;
    for (const auto& cpu : topo.cpus) {
        std::string dir = "/sys/devices/system/cpu/cpu" + std::to_string(cpu.id) + "/cache";
        for (const auto& idx : ctx.fs().listDir(dir)) {
            if (!StartsWith(idx, "index")) continue;
            std::string base = Cat(dir, "/", idx, "/");
            std::vector<int> shared;
            if (auto list = ctx.read(base + "shared_cpu_list", 4096)) shared = ParseCpuList(*list);
            // A cache shared with an online processor listed earlier was read there;
            // on large machines this saves most of the reads.
            if (!shared.empty() && shared.front() < cpu.id && online.count(shared.front())) continue;
            auto level = ctx.readInt(base + "level");
            auto type = ctx.readText(base + "type");
            auto size = ctx.readText(base + "size");
            if (!level || !type || !size) continue;  // vanished or unreadable
            auto kb = ParseSizeKB(*size);
            if (!kb) continue;
            CacheInfo c;
            c.level = static_cast<int>(*level);
            c.type = *type;
            c.sizeKB = *kb;
            c.sharedCpus = shared.empty() ? std::vector<int>{cpu.id} : shared;
            if (auto w = ctx.readInt(base + "ways_of_associativity")) c.ways = static_cast<int>(*w);
            if (auto l = ctx.readInt(base + "coherency_line_size")) c.lineSize = static_cast<int>(*l);
            c.package = cpu.package;
            if (seen.insert({c.level, c.type, c.sharedCpus}).second) out.push_back(std::move(c));
        }
    }
    return out;
}

std::optional<int> ArchitectureCode(const std::string& m) {
    if (m == "x86_64") return 9;
    if (m == "i386" || m == "i486" || m == "i586" || m == "i686" || m == "x86") return 0;
    if (m == "aarch64" || m == "arm64") return 12;
    if (StartsWith(m, "arm")) return 5;
    if (StartsWith(m, "mips")) return 1;
    if (m == "alpha") return 2;
    if (StartsWith(m, "ppc") || StartsWith(m, "powerpc")) return 3;
    if (m == "ia64") return 6;
    return std::nullopt;  // e.g. riscv64, s390x: WMI defines no code
}

std::optional<int> MachineWordBits(const std::string& m) {
    static const char* k64[] = {"x86_64", "aarch64", "arm64", "ppc64", "ppc64le", "riscv64", "s390x",
                                "mips64", "ia64", "alpha", "sparc64", "loongarch64"};
    static const char* k32[] = {"i386", "i486", "i586", "i686", "x86", "ppc", "s390", "mips", "riscv32", "sparc"};
    for (const char* a : k64)
        if (m == a) return 64;
    for (const char* a : k32)
        if (m == a) return 32;
    if (StartsWith(m, "arm") && m != "arm64") return 32;
    return std::nullopt;
}

}  // namespace wmi::lnx
