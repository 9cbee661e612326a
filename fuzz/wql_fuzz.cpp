// Queries come from the tree and from scripts: anything but the one form
// must fail with 0x80041017, and what is accepted must read back the same.
#include <cstdint>
#include <string>

#include "fuzz_input.h"
#include "wmi/services.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view query(reinterpret_cast<const char*>(data), size);
    std::string cls;
    try {
        cls = wmi::ParseWqlClass(query);
    } catch (const wmi::Error& e) {
        fuzz::Check(e.unsignedNumber() == wmi::WBEM_E_INVALID_QUERY, "rejection is 0x80041017");
        return 0;
    }
    fuzz::Check(!cls.empty(), "an accepted query names a class");
    std::string again;
    try {
        again = wmi::ParseWqlClass("SELECT * FROM " + cls);
    } catch (const wmi::Error&) {
        fuzz::Fail("the class of an accepted query is accepted again");
    }
    fuzz::Check(again == cls, "the class reads back unchanged");
    return 0;
}
