// DMTF datetimes come from providers and snapshot files unchecked.
#include <cstdint>
#include <string>

#include "format/format.h"
#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view dmtf(reinterpret_cast<const char*>(data), size);
    std::string out = kestrane::FormatWMIDate(dmtf);
    // "mm/dd/yyyy HH:MM:SS" at most, and nothing at all for nothing.
    fuzz::Check(out.size() <= 19, "date text is bounded");
    fuzz::Check(dmtf.empty() == out.empty(), "only an empty date gives an empty text");
    return 0;
}
