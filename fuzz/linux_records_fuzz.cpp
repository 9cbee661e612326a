// Binary records the provider reads: utmp login records and SCSI vital
// product data pages.
#include <cstdint>
#include <string>

#include "fuzz_input.h"
#include "wmi/linux/parsers.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    auto entries = wmi::lnx::ParseUtmp(bytes);
    fuzz::Check(entries.size() <= size / 384, "only whole records count");
    if (auto serial = wmi::lnx::ParseVpdSerial(bytes)) fuzz::Check(serial->size() <= size, "serial lies in the page");
    return 0;
}
