// The operating-system files the provider reads: account databases, unit
// and desktop files, package and schedule databases, /proc statistics and
// logs. Any of them may be hand-edited, truncated or hostile.
#include <cstdint>
#include <string>

#include "fuzz_input.h"
#include "wmi/linux/os_parsers.h"

namespace lnx = wmi::lnx;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);

    if (auto st = lnx::ParseProcStat(text)) fuzz::Check(st->comm.size() <= size, "the name lies in the line");
    (void)lnx::ParsePasswd(text);
    (void)lnx::ParseGroup(text);
    (void)lnx::ParseShadow(text);
    (void)lnx::ParseSpaceSeparatedKeys(text);
    auto sections = lnx::ParseIni(text);
    for (const auto& s : sections) {
        for (const auto& [key, value] : s.entries) fuzz::Check(s.get(key).has_value(), "an entry is found by its key");
        fuzz::Check(lnx::FindSection(sections, s.name) != nullptr, "a section is found by its name");
    }
    for (const auto& p : lnx::ParseDpkgStatus(text)) {
        (void)p.summary();
        (void)lnx::DpkgIsInstalled(p);
    }
    (void)lnx::ParsePosixTz(text);
    (void)lnx::ParseCrontab(text, false);
    (void)lnx::ParseCrontab(text, true);
    (void)lnx::ParseSwaps(text);
    (void)lnx::ParseRoutes(text);
    (void)lnx::ParsePartitions(text);
    (void)lnx::ParseModules(text);
    (void)lnx::ParseExports(text);
    (void)lnx::ParseSnmp(text);
    (void)lnx::ParseNetDev(text);
    (void)lnx::ParseDiskStats(text);
    (void)lnx::ParseProcStatSummary(text);
    (void)lnx::ParseVmstat(text);
    if (auto line = lnx::ParseSyslogLine(text)) {
        fuzz::Check(line->month >= 0 && line->month <= 12, "a log month is a month");
    }
    return 0;
}
