#include "wmi/linux/os_common.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>

namespace wmi::lnx {

std::optional<std::string> OsInstanceName(const Context& ctx) {
    std::optional<std::string> text = ReadFirst(ctx, {"/etc/os-release", "/usr/lib/os-release"}, 64 * 1024);
    if (!text) return std::nullopt;
    auto osr = ParseOsRelease(*text);
    std::string caption = osr.count("PRETTY_NAME") && !osr["PRETTY_NAME"].empty() ? osr["PRETTY_NAME"] : osr["NAME"];
    if (caption.empty()) return std::nullopt;
    std::string root;
    if (auto mi = ctx.read("/proc/self/mountinfo"))
        for (const auto& m : ParseMountInfo(*mi))
            if (m.mountPoint == "/") root = m.source;
    return caption + "|/|" + root;
}

long ClockTicks(const Context& ctx) {
    if (ctx.fs().isLiveRoot()) {
        long t = ::sysconf(_SC_CLK_TCK);
        if (t > 0) return t;
    }
    return 100;
}

std::optional<std::int64_t> BootTime(const Context& ctx) {
    auto stat = ctx.read("/proc/stat");
    return stat ? ParseBootTime(*stat) : std::nullopt;
}

std::optional<double> NowSeconds(const Context& ctx) {
    if (!ctx.fs().isLiveRoot()) return std::nullopt;
    auto now = std::chrono::system_clock::now().time_since_epoch();
    return std::chrono::duration<double>(now).count();
}

std::vector<std::string> NumericEntries(const Context& ctx, const std::string& dir) {
    std::vector<std::string> out;
    for (auto& n : ctx.fs().listDir(dir))
        if (!n.empty() && std::all_of(n.begin(), n.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)); }))
            out.push_back(n);
    std::sort(out.begin(), out.end(), [](const std::string& a, const std::string& b) {
        return a.size() != b.size() ? a.size() < b.size() : a < b;
    });
    return out;
}

std::optional<std::uint64_t> CountProcesses(const Context& ctx) {
    std::uint64_t n = 0;
    for (const auto& pid : NumericEntries(ctx, "/proc"))
        if (ctx.fs().exists("/proc/" + pid + "/stat") || ctx.fs().exists("/proc/" + pid + "/comm")) ++n;
    if (n == 0) return std::nullopt;
    return n;
}

std::string AccountCaption(const std::optional<std::string>& domain, const std::string& name) {
    return domain ? *domain + "\\" + name : name;
}

std::optional<std::string> ReadFirst(const Context& ctx, std::initializer_list<const char*> paths, std::size_t maxBytes) {
    for (const char* p : paths)
        if (auto t = ctx.read(p, maxBytes)) return t;
    return std::nullopt;
}

}  // namespace wmi::lnx
