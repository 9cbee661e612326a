// EDID blocks come from the monitor through the kernel, byte for byte.
#include <cstdint>
#include <string>

#include "fuzz_input.h"
#include "wmi/linux/parsers.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    auto edid = wmi::lnx::ParseEdid(bytes);
    if (!edid) return 0;
    fuzz::Check(size >= 128, "a parsed EDID has its whole base block");
    fuzz::Check(edid->manufacturerId.size() == 3, "the manufacturer is three letters");
    if (edid->monitorName) fuzz::Check(edid->monitorName->size() <= 13, "a descriptor text fits its descriptor");
    if (edid->serialText) fuzz::Check(edid->serialText->size() <= 13, "a descriptor text fits its descriptor");
    return 0;
}
