#include <gtest/gtest.h>

#include "format/decoders.h"
#include "format/property_fixture.h"

namespace kestrane {
namespace {

using Decoder = std::string (*)(const wmi::Property&, ArrayRowSink&, std::string_view, std::string_view);

#define D(f) {#f, f}
const std::map<std::string, Decoder> kDecoders = {
    D(GetArrayValues), D(GetAssociativity), D(GetAttributes), D(GetAvailability), D(GetBiosCharacteristics),
    D(GetBusType), D(GetCapabilities), D(GetConfigManagerErrorCode), D(GetConnectorType), D(GetCpuStatus),
    D(GetDeviceInterface), D(GetDriveType), D(GetEstimatedChargeRemaining), D(GetFamily), D(GetLogonType),
    D(GetMediaType), D(GetMixedVoltageSupport), D(GetPointingType), D(GetPortType),
    D(GetPowerManagementCapabilities), D(GetProtocol), D(GetSRAMType), D(GetStatusInfo), D(GetTypeDetail),
    D(GetVideoArchitecture), D(GetVoltageCaps), D(GetWritePolicy)};
#undef D

// The cases and why each is there: tests/fixtures/format/decoders.txt.
TEST(Decoders, FormsFallbacksAndCodes) {
    test::CheckCases("decoders.txt", [](const test::Case& c, ArrayRowSink& sink) {
        wmi::PropertyDecl decl = c.prop.decl;
        decl.origin = c.extra;
        return kDecoders.at(c.what)(wmi::Property(decl, c.prop.value), sink, "K", "Caption");
    });
}

}  // namespace
}  // namespace kestrane
