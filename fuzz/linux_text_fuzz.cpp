// The Linux provider's text parsers read /proc, /sys and /etc files that a
// fixture tree, a mounted disk image or a hostile container may fill with
// anything: each must return what it can, never crash or run away.
#include <cstdint>
#include <string>

#include "fuzz_input.h"
#include "wmi/linux/parsers.h"

namespace lnx = wmi::lnx;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);

    (void)lnx::Trim(text);
    (void)lnx::SplitWhitespace(text);
    (void)lnx::SplitLines(text);
    (void)lnx::ParseInt(text);
    (void)lnx::ParseUInt(text);
    (void)lnx::ParseUInt(text, 16);
    (void)lnx::ParseDouble(text);
    (void)lnx::ParseKeyValueLines(text);
    (void)lnx::ParseKeyValueLines(text, ':');
    auto cpus = lnx::ParseCpuList(text);
    fuzz::Check(cpus.size() <= size * 65537 + 1, "a CPU list stays proportional to its text");

    for (const auto& rec : lnx::ParseCpuInfo(text)) {
        for (const auto& [key, value] : rec.fields) fuzz::Check(rec.get(key).has_value(), "a field is found by its key");
    }
    (void)lnx::ParseMemInfo(text);
    for (const auto& m : lnx::ParseMountInfo(text)) (void)m.mountPoint.size();
    std::string octal = lnx::UnescapeOctal(text);
    fuzz::Check(octal.size() <= text.size(), "unescaping never grows");
    std::string hex = lnx::UnescapeHex(text);
    fuzz::Check(hex.size() <= text.size(), "unescaping never grows");
    (void)lnx::ParseOsRelease(text);
    (void)lnx::ParseBootTime(text);
    (void)lnx::ParseCpuBusyTimes(text);
    (void)lnx::ParsePacmanLogStart(text);
    (void)lnx::ParseNodevFileSystems(text);
    if (auto d = lnx::ParseDmiDate(text)) {
        fuzz::Check(d->month >= 1 && d->month <= 12 && d->day >= 1 && d->day <= 31, "a DMI date is a date");
    }
    (void)lnx::ParseInterrupts(text);
    (void)lnx::ParseDma(text);
    for (const auto& r : lnx::ParseResourceTree(text)) fuzz::Check(r.depth >= 0, "nesting depth");
    (void)lnx::ParseInputDevices(text);
    (void)lnx::ParseAsoundCards(text);

    // The ids databases are looked up with numbers from the device itself.
    fuzz::Input in(data, size);
    unsigned vendor = in.integer<std::uint16_t>();
    unsigned device = in.integer<std::uint16_t>();
    (void)lnx::LookupIdNames(in.rest(), vendor, device);
    return 0;
}
