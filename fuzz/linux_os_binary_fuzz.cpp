// Binary operating-system files: TZif time zone data, utmp/wtmp and
// lastlog records, and NUL-separated process command lines.
#include <cstdint>
#include <string>

#include "fuzz_input.h"
#include "wmi/linux/os_parsers.h"

namespace lnx = wmi::lnx;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    if (auto tz = lnx::ParseTzif(bytes)) (void)tz->hasDaylight();
    auto records = lnx::ParseUtmpRecords(bytes);
    fuzz::Check(records.size() <= size / 384, "only whole records count");
    auto args = lnx::ParseCmdline(bytes);
    (void)lnx::JoinCommandLine(args);

    fuzz::Input in(data, size);
    auto uid = in.integer<std::uint32_t>();
    (void)lnx::LastlogFor(in.rest(), uid % 4096);
    (void)lnx::LastlogFor(bytes, uid);

    // Civil dates from anywhere in a file must not overflow.
    fuzz::Input d(data, size);
    int y = d.integer<std::int16_t>(), m = d.byte() % 14, day = d.byte() % 33;
    (void)lnx::DayOfWeek(y, m, day);
    (void)lnx::DaysFromCivil(y, m, day);
    return 0;
}
