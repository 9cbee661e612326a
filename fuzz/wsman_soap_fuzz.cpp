// What a Windows computer sends over WS-Management: SOAP faults, enumeration
// pages with instances, and CIM-XML classes. Each must end as a result or
// one SoapError, never a crash; accepted instances carry every declared
// property.
#include <cstdint>
#include <string>

#include "fuzz_input.h"
#include "wmi/wsman/soap.h"

namespace ws = wmi::wsman;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view xml(reinterpret_cast<const char*>(data), size);
    if (auto e = ws::FaultOf(xml)) fuzz::Check(e->number() != 0, "a fault has a number");
    wmi::SchemaPtr schema;
    try {
        schema = ws::ParseCimXmlClass(xml, "Win32_Fuzz");
        fuzz::Check(schema->className().size() == 10, "the class is the one asked for");
    } catch (const ws::SoapError&) {
    }
    if (!schema) {
        schema = std::make_shared<const wmi::ClassSchema>(
            "Win32_Fuzz", std::vector<wmi::PropertyDecl>{{"A", wmi::CIM_UINT16, true, "X"},
                                                         {"D", wmi::CIM_DATETIME, false, "X"},
                                                         {"N", wmi::CIM_STRING, false, "X"},
                                                         {"R", wmi::CIM_REFERENCE, false, "X"},
                                                         {"U", wmi::CIM_UINT64, false, "X"}});
    }
    try {
        ws::Page p = ws::ParsePage(xml, [&](const std::string&) { return schema; });
        for (const auto& o : p.objects) fuzz::Check(o.values().size() == schema->size(), "every property present");
    } catch (const ws::SoapError&) {
    }
    std::string text(xml.substr(0, 64));
    if (auto d = ws::DmtfFromXsDateTime(text)) fuzz::Check(d->size() == 25, "a DMTF datetime has 25 characters");
    if (auto d = ws::DmtfFromXsDuration(text)) fuzz::Check(d->size() == 25, "a DMTF interval has 25 characters");
    return 0;
}
