#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "format/decoders.h"
#include "format/property_fixture.h"

namespace kestrane {
namespace {

using test::Arr;
using test::Prop;
using test::RecordingSink;
using test::Row;
using wmi::Value;

using Decoder = std::string (*)(const wmi::Property&, ArrayRowSink&, std::string_view, std::string_view);

constexpr int U16 = wmi::CIM_UINT16, U32 = wmi::CIM_UINT32;

struct Case {
    Decoder decode;
    int cimType;
    Value value;
    const char* expected;
    const char* origin = "";
};

TEST(ScalarDecoders, FormsFallbacksAndCodes) {
    const std::vector<Case> cases = {
        // suffix form: empty label versus the value fallback
        {GetStatusInfo, U16, 6, " (6)"},
        {GetConfigManagerErrorCode, U32, 32, "32 (32)"},
        {GetConfigManagerErrorCode, U32, 25, "Windows is still setting up this device. (25)"},
        {GetConfigManagerErrorCode, U32, 26, "Windows is still setting up this device. (26)"},
        {GetAssociativity, U16, 9, "9 (9)"},
        {GetProtocol, U32, 16, "16 (16)"},
        {GetLogonType, U32, 1, " (1)"},
        // codes the class reference published later, beside the old texts
        {GetLogonType, U32, 10, "Remote Interactive (10)"},
        {GetLogonType, U32, 6, "Proxy (6)"},
        {GetLogonType, U32, 14, " (14)"},
        {GetPointingType, U16, 6, "Glide Point (6)"},
        {GetPortType, U16, 0, "None (0)"},
        {GetPortType, U16, 84, " (84)"},
        {GetAssociativity, U16, 7, "8-way Set-Associative (7)"},
        {GetWritePolicy, U16, 6, "Determination Per I/O (6)"},
        // the origin picks the table, by exact letter case
        {GetAvailability, U16, 3, "Available (3)", "CIM_DMA"},
        {GetAvailability, U16, 3, "Running/Full Power (3)", "CIM_LogicalDevice"},
        {GetAvailability, U16, 3, "Running/Full Power (3)", "cim_dma"},
        {GetAvailability, U16, 22, "22 (22)", "CIM_DMA"},
        {GetAvailability, U16, 22, " (22)"},
        // label-parenthesis form: nothing at all for an unknown code
        {GetDriveType, U32, 3, "Local Disk(3)"},
        {GetDriveType, U32, 7, ""},
        {GetMediaType, U32, 12, "Fixed hard disk media(12)"},
        // sparse tables
        {GetFamily, U16, 28, "Athlon (28)"},
        {GetFamily, U16, 20, "Intel(R) Celeron(R) M processor (20)"},
        {GetFamily, U16, 22, " (22)"},  // still unassigned
        {GetTypeDetail, U16, 128, "Synchronous (128)"},
        {GetTypeDetail, U16, 132, " (132)"},
        {GetVoltageCaps, U32, 3, " (3)"},
        {GetDeviceInterface, U16, 160, "Bus mouse DB-9 (160)"},
        {GetVideoArchitecture, U16, 100, "100 (100)"},
        // uint32 all bits set is -1, whatever form the number arrives in
        {GetBusType, U32, 4294967295LL, "Undefined (-1)"},
        {GetBusType, U32, "4294967295", "Undefined (-1)"},
        {GetBusType, U32, -1, "Undefined (-1)"},
        {GetBusType, U32, 2147483648LL, " (-2147483648)"},
        {GetBusType, U16, 65535, " (65535)"},
        // bit flags
        {GetAttributes, U32, 0, " (0)"},
        {GetAttributes, U32, 4, "Default (4)"},
        {GetAttributes, U32, 584, "Shared, Local, Do complete first (584)"},
        {GetAttributes, U32, 8192 + 1, "Queued, Published (8193)"},
        {GetAttributes, U32, 16384, " (16384)"},
        {GetAttributes, U32, 16384 + 8, "Shared (16392)"},
        {GetAttributes, U32, 4294967295LL,
         "Queued, Direct, Default, Shared, Network, Hidden, Local, Enable device queue, Keep printed jobs, "
         "Do complete first, Work Offline, Enable bi-directonal printing, Raw only, Published (-1)"},
        // unit suffix
        {GetEstimatedChargeRemaining, U16, 100, "100 %"},
        {GetEstimatedChargeRemaining, U16, 0, "0 %"},
        // values that are not plain integers
        {GetStatusInfo, U16, "3", "Enabled (3)"},
        {GetStatusInfo, U16, 3.0, "Enabled (3)"},
        {GetStatusInfo, U16, " 4 ", "Disabled (4)"},
        {GetStatusInfo, U16, 3.5, " (3.5)"},
        {GetCpuStatus, U16, "abc", "Unknown (0)"},
        {GetCpuStatus, U16, "", "Unknown (0)"},
        {GetStatusInfo, U16, Value(), ""},
        {GetStatusInfo, U16, Arr({3}), ""},
        {GetDriveType, U32, Value(), ""},
        {GetAttributes, U32, Value(), ""},
    };
    for (const Case& c : cases) {
        Prop p("X", c.cimType, c.value, false, c.origin);
        RecordingSink sink;
        EXPECT_EQ(c.decode(p.view(), sink, "key", "text"), c.expected) << wmi::ValueText(c.value);
        EXPECT_TRUE(sink.rows.empty());
    }
}

struct ArrayCase {
    Decoder decode;
    Value value;
    std::vector<std::string> elements;
    const char* result;
};

TEST(ArrayDecoders, ElementFormsAndResults) {
    const std::vector<ArrayCase> cases = {
        {GetCapabilities, Arr({3, 4, 7}), {"Random Access(3)", "Supports Writing(4)", "Supports Removable Media(7)"},
         "Supports Removable Media(7)"},
        // a code the table lacks keeps its number, in the same shape
        {GetCapabilities, Arr({3, 99}), {"Random Access(3)", "(99)"}, "(99)"},
        {GetBiosCharacteristics, Arr({7, 99, 9}), {"PCI is supported(7)", "(99)", "Plug and Play is supported(9)"},
         "Plug and Play is supported(9)"},
        {GetPowerManagementCapabilities, Arr({3}), {"Enabled(3)"}, "Enabled(3)"},
        {GetBiosCharacteristics, Arr({4, 7, 9}),
         {"ISA is supported(4)", "PCI is supported(7)", "Plug and Play is supported(9)"},
         "Plug and Play is supported(9)"},
        {GetConnectorType, Arr({0}), {"Unknown (0)"}, "Unknown (0)"},
        {GetConnectorType, Arr({83, 94}), {"PC-98 (83)", "On Board Sound Input from CD-ROM (94)"},
         "On Board Sound Input from CD-ROM (94)"},
        {GetConnectorType, Arr({95}), {" (95)"}, " (95)"},
        {GetBiosCharacteristics, Arr({39, 40, 48, 64}),
         {"Smart Battery supported(39)", "Reserved for BIOS vendor(40)", "Reserved for system vendor(48)", "(64)"}, "(64)"},
        // these two return the label alone
        {GetMixedVoltageSupport, Arr({2, 3}), {"3.3 V (2)", "5 V (3)"}, "5 V"},
        {GetMixedVoltageSupport, Arr({3, 9}), {"5 V (3)", " (9)"}, ""},
        {GetSRAMType, Arr({2, 9}), {"Non-Burst (2)", "9 (9)"}, "9"},
        {GetSRAMType, Arr({9, 2}), {"9 (9)", "Non-Burst (2)"}, "Non-Burst"},
        // any element type, shown as itself
        {GetArrayValues, Arr({"a b", true, false, 5, -1, 2.5}), {"a b", "True", "False", "5", "-1", "2.5"}, "2.5"},
        {GetArrayValues, Arr({Value(), "x"}), {"", "x"}, "x"},
        // no elements, no rows
        {GetCapabilities, Arr({}), {}, ""},
        {GetSRAMType, Arr({}), {}, ""},
        {GetArrayValues, Arr({}), {}, ""},
    };
    for (const ArrayCase& c : cases) {
        Prop p("X", U16, c.value, true);
        RecordingSink sink;
        EXPECT_EQ(c.decode(p.view(), sink, "K", "Caption"), c.result);
        EXPECT_EQ(sink.elements(), c.elements);
        // the caller's key and text and the icon go on the first row only
        for (std::size_t i = 0; i < sink.rows.size(); ++i) {
            const Row& r = sink.rows[i];
            const Row expected = i == 0 ? Row{"K", "Caption", "Info", r.element} : Row{"", "", "", r.element};
            EXPECT_EQ(r, expected);
        }
    }
}

TEST(ArrayDecoders, ScalarValueIsOneCodeWithoutRows) {
    const std::vector<ArrayCase> cases = {
        {GetCapabilities, 3, {}, "Random Access(3)"},
        {GetCapabilities, 99, {}, "(99)"},
        {GetSRAMType, 9, {}, "9"},
        {GetConnectorType, 1, {}, "Other (1)"},
        {GetArrayValues, "x", {}, "x"},
        {GetArrayValues, Value(), {}, ""},
    };
    for (const ArrayCase& c : cases) {
        Prop p("X", U16, c.value, false);
        RecordingSink sink;
        EXPECT_EQ(c.decode(p.view(), sink, "K", "Caption"), c.result);
        EXPECT_TRUE(sink.rows.empty());
    }
}

}  // namespace
}  // namespace kestrane
