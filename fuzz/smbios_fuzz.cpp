// The SMBIOS table is firmware data read as raw bytes; lengths and string
// numbers in it cannot be trusted.
#include <cstdint>
#include <string>

#include "fuzz_input.h"
#include "wmi/linux/parsers.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    (void)wmi::lnx::ParseSmbiosEntryVersion(bytes);
    for (const auto& s : wmi::lnx::ParseSmbios(bytes)) {
        fuzz::Check(s.formatted.size() <= size, "a structure lies inside the table");
        // Collectors read fixed offsets whatever the structure's length says.
        for (std::size_t off = 0; off < s.formatted.size() + 9; ++off) {
            (void)s.byteAt(off);
            (void)s.wordAt(off);
            (void)s.dwordAt(off);
            (void)s.qwordAt(off);
            (void)s.stringAt(off);
        }
    }
    return 0;
}
