#include <gtest/gtest.h>

#include <optional>
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

std::string ProtocolSupported(const wmi::Property& p, ArrayRowSink&, std::string_view, std::string_view) {
    return GetProtocolSupported(p);
}

enum class Shape { Suffix, SuffixFallback, Paren, ArrayParen, ArraySuffix, ArraySuffixFallback };

bool IsArrayShape(Shape s) { return s >= Shape::ArrayParen; }

// One decoder's table as seen from outside: how many codes carry a label,
// the first and last of them, and the unlabelled codes in between.
struct Census {
    const char* name;
    Decoder decode;
    int cimType;
    Shape shape;
    int count;
    int first;
    const char* firstText;
    int last;
    const char* lastText;
    std::vector<int> gaps = {};
    bool sparse = false;  // too many gaps to list; count and ends only
    const char* origin = "";
};

constexpr int U16 = wmi::CIM_UINT16, U32 = wmi::CIM_UINT32, U8 = wmi::CIM_UINT8;
using enum Shape;

const std::vector<Census>& Tables() {
    static const std::vector<Census> tables = {
        {"ConfigManagerErrorCode", GetConfigManagerErrorCode, U32, SuffixFallback, 32, 0,
         "This device is working properly.", 31,
         "This device is not working properly because Windows cannot load the drivers required for this device."},
        {"Availability", GetAvailability, U16, Suffix, 21, 1, "Other", 21, "Quiesced"},
        {"Availability", GetAvailability, U16, SuffixFallback, 5, 1, "Other", 5, "In Use and Available/Shareable",
         {}, false, "CIM_DMA"},
        {"StatusInfo", GetStatusInfo, U16, Suffix, 5, 1, "Other", 5, "Not Applicable"},
        {"Capabilities", GetCapabilities, U16, ArrayParen, 13, 0, "Unknown(", 12,
         "Ejection Prior to Drive Dismount Not Required("},
        {"PowerManagementCapabilities", GetPowerManagementCapabilities, U16, ArrayParen, 8, 0, "Unknown(", 7,
         "Timed Power On Supported("},
        {"DriveType", GetDriveType, U32, Paren, 7, 0, "Unknown(", 6, "RAM Disk("},
        {"MediaType", GetMediaType, U32, Paren, 23, 0, "Format is unknown(", 22,
         "8-Inch Floppy Disk - 256Kb - 128 bytes/sector("},
        {"ProtocolSupported", ProtocolSupported, U16, Suffix, 47, 1, "Other", 47, "IrBus"},
        {"BusType", GetBusType, U32, Suffix, 18, -1, "Undefined", 16, "Maximum Interface Type"},
        {"ByteMode", GetByteMode, U16, Suffix, 4, 1, "Other", 4, "Execute in 'count by byte' mode"},
        {"ChannelTiming", GetChannelTiming, U16, Suffix, 6, 1, "Other", 6, "Type F"},
        {"TypeCTiming", GetTypeCTiming, U16, Suffix, 5, 1, "Other", 5, "Supported"},
        {"WordMode", GetWordMode, U16, Suffix, 4, 1, "Other", 4, "Execute in 'count by word' mode"},
        {"TriggerType", GetTriggerType, U16, Suffix, 4, 1, "Other", 4, "Edge"},
        {"TriggerLevel", GetTriggerLevel, U16, Suffix, 4, 1, "Other", 4, "Active High"},
        {"FormFactor", GetFormFactor, U16, Suffix, 24, 0, "Unknown", 23, "LGA"},
        {"InterleavePosition", GetInterleavePosition, U16, Suffix, 3, 0, "Non-interleaved", 2, "Second position"},
        {"MemoryType", GetMemoryType, U16, Suffix, 26, 0, "Unknown", 26, "DDR4", {23}},
        {"SMBIOSMemoryType", GetSmbiosMemoryType, U32, Suffix, 36, 0, "Unknown", 36, "HBM3", {23}},
        {"TypeDetail", GetTypeDetail, U16, Suffix, 13, 1, "Reserved", 4096, "Non-volatile", {}, true},
        {"Use", GetUse, U16, Suffix, 8, 0, "Reserved", 7, "Cache memory"},
        {"Location", GetLocation, U16, Suffix, 15, 0, "Reserved", 14, "PC-98/Local bus add-on card"},
        {"Location", GetCacheLocation, U16, Suffix, 4, 0, "Internal", 3, "Unknown"},
        {"ErrorCorrectType", GetErrorCorrectType, U16, Suffix, 7, 0, "Reserved", 6, "Multi-bit ECC"},
        {"CacheType", GetCacheType, U16, Suffix, 5, 1, "Other", 5, "Unified"},
        {"Level", GetLevel, U16, Suffix, 6, 1, "Other", 6, "Not Applicable"},
        {"WritePolicy", GetWritePolicy, U16, Suffix, 6, 1, "Other", 6, "Determination Per I/O"},
        {"Associativity", GetAssociativity, U16, SuffixFallback, 8, 1, "Other", 8, "16-way Set-Associative"},
        {"SupportedSRAM", GetSRAMType, U16, ArraySuffixFallback, 7, 0, "Other", 6, "Asynchronous"},
        {"VccMixedVoltageSupport", GetMixedVoltageSupport, U16, ArraySuffix, 4, 0, "Unknown", 3, "5 V"},
        {"ConnectorType", GetConnectorType, U16, ArraySuffix, 95, 0, "Unknown", 94, "On Board Sound Input from CD-ROM"},
        {"PortType", GetPortType, U16, Suffix, 84, 0, "None", 83, "AGP4X"},
        {"CurrentUsage", GetCurrentUsage, U16, Suffix, 5, 0, "Reserved", 4, "In use"},
        {"DeviceType", GetDeviceType, U16, Suffix, 7, 1, "Other", 7, "Sound"},
        {"Family", GetFamily, U16, Suffix, 187, 1, "Other", 500, "Video Processor", {}, true},
        {"Architecture", GetArchitecture, U16, SuffixFallback, 8, 0, "x86", 12, "ARM64", {4, 7, 8, 10, 11}},
        {"CpuStatus", GetCpuStatus, U16, SuffixFallback, 8, 0, "Unknown", 7, "Other"},
        {"ProcessorType", GetProcessorType, U16, Suffix, 6, 1, "Other", 6, "Video Processor"},
        {"UpgradeMethod", GetUpgradeMethod, U16, Suffix, 18, 1, "Other", 18, "Socket 939"},
        {"VoltageCaps", GetVoltageCaps, U32, Suffix, 3, 1, "5 V", 4, "2.9 V", {3}},
        {"BiosCharacteristics", GetBiosCharacteristics, U16, ArrayParen, 64, 0, "Reserved(", 63,
         "Reserved for system vendor("},
        {"ChassisBootupState", GetChassisBootupState, U16, SuffixFallback, 6, 1, "Other", 6, "Non recoverable"},
        {"PowerSupplyState", GetPowerSupplyState, U16, Suffix, 6, 1, "Other", 6, "Non-recoverable"},
        {"ThermalState", GetThermalState, U16, Suffix, 6, 1, "Other", 6, "Non-recoverable"},
        {"PowerOnPasswordStatus", GetPasswordStatus, U16, SuffixFallback, 4, 0, "Disabled", 3, "Unknown"},
        {"AdminPasswordStatus", GetAdminPasswordStatus, U16, Suffix, 4, 0, "Disabled", 3, "Unknown"},
        {"ResetCapability", GetResetCapability, U16, Suffix, 5, 1, "Other", 5, "Not Implemented"},
        {"WakeUpType", GetWakeUpType, U16, SuffixFallback, 9, 0, "Reserved", 8, "AC Power Restored"},
        {"Chemistry", GetChemistry, U16, Suffix, 8, 1, "Other", 8, "Lithium Polymer"},
        {"BatteryStatus", GetBatteryStatus, U16, Suffix, 11, 1, "Other", 11, "Partially Charged"},
        {"VideoArchitecture", GetVideoArchitecture, U16, SuffixFallback, 13, 1, "Other", 160, "PC-98", {}, true},
        {"VideoMemoryType", GetVideoMemoryType, U16, SuffixFallback, 13, 1, "Other", 13, "SGRAM"},
        {"ScanMode", GetScanMode, U16, SuffixFallback, 4, 1, "Other", 4, "Non Interlaced"},
        {"DeviceInterface", GetDeviceInterface, U16, Suffix, 11, 1, "Other", 162, "USB", {}, true},
        {"Handedness", GetHandedness, U16, Suffix, 4, 0, "Unknown", 3, "Left Handed Operation"},
        {"PointingType", GetPointingType, U16, Suffix, 9, 1, "Other", 9, "Mouse - Optical Sensor"},
        {"PrinterStatus", GetPrinterStatus, U16, Suffix, 18, 1, "Other", 18, "Manual Feed"},
        {"Color", GetColor, U32, Suffix, 2, 1, "Monochrome", 2, "Color"},
        {"MediaType", GetPrinterMediaType, U32, Suffix, 3, 1, "Standard", 3, "Glossy"},
        {"ICMIntent", GetICMIntent, U32, Suffix, 3, 1, "Saturation", 3, "Exact Color"},
        {"ICMMethod", GetICMMethod, U32, Suffix, 4, 1, "Disabled", 4, "Device"},
        {"Orientation", GetOrientation, U32, Suffix, 2, 1, "Portrait", 2, "Landscape"},
        {"SoftwareElementState", GetSoftwareElementState, U16, Suffix, 4, 0, "Deployable", 3, "Running"},
        {"TargetOperatingSystem", GetTargetOperatingSystem, U16, Suffix, 62, 0, "Unknown", 62, "TPF", {60}},
        {"ForegroundApplicationBoost", GetForegroundApplicationBoost, U8, Suffix, 3, 0, "None", 2,
         "Maximum(Default)"},
        {"NetConnectionStatus", GetNetConnectionStatus, U16, Suffix, 13, 0, "Disconnected", 12,
         "Credentials Required"},
        {"Protocol", GetProtocol, U32, SuffixFallback, 14, 1, "Other", 14, "bgp"},
        {"SIDType", GetSIDType, U8, Suffix, 9, 1, "Sid Type User", 9, "Sid Type Computer"},
        {"LogonType", GetLogonType, U32, Suffix, 13, 0, "System", 13, "Cached Unlock", {1}},
    };
    return tables;
}

bool EndsWith(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// The label a decoder shows for `code`, or nothing when its table lacks the
// code; fails the test when the text does not have the decoder's shape.
std::optional<std::string> LabelOf(const Census& c, int code) {
    const bool array = IsArrayShape(c.shape);
    Prop p(c.name, c.cimType, array ? Arr({code}) : Value(code), array, c.origin);
    RecordingSink sink;
    const std::string result = c.decode(p.view(), sink, {}, {});
    std::string text = result;
    if (array) {
        if (sink.rows.size() != 1) {
            ADD_FAILURE() << c.name << " " << code << ": " << sink.rows.size() << " rows";
            return std::nullopt;
        }
        text = sink.rows[0].element;
    }
    const std::string n = std::to_string(code);
    if (c.shape == Paren || c.shape == ArrayParen) {
        // An unknown code: nothing for a scalar, the bare "(code)" in an array.
        if (text.empty() || (c.shape == ArrayParen && text == "(" + n + ")")) {
            if (c.shape == ArrayParen && text.empty()) ADD_FAILURE() << c.name << " " << code << ": hidden";
            return std::nullopt;
        }
        if (!EndsWith(text, "(" + n + ")")) ADD_FAILURE() << c.name << ": " << text;
        return text.substr(0, text.size() - n.size() - 1);
    }
    if (!EndsWith(text, " (" + n + ")")) {
        ADD_FAILURE() << c.name << ": " << text;
        return std::nullopt;
    }
    std::string label = text.substr(0, text.size() - n.size() - 3);
    const bool fallback = c.shape == SuffixFallback || c.shape == ArraySuffixFallback;
    if (fallback ? label == n : label.empty()) return std::nullopt;
    return label;
}

TEST(DecoderTables, CountsEndsAndGaps) {
    for (const Census& c : Tables()) {
        SCOPED_TRACE(std::string(c.name) + " " + c.origin);
        int count = 0, first = 0, last = 0;
        std::string firstText, lastText;
        std::vector<int> gaps;
        for (int code = -100; code <= 5000; ++code) {
            auto label = LabelOf(c, code);
            if (!label) {
                if (count > 0) gaps.push_back(code);
                continue;
            }
            if (count++ == 0) first = code, firstText = *label;
            last = code, lastText = *label;
        }
        std::erase_if(gaps, [&](int g) { return g > last; });
        EXPECT_EQ(count, c.count);
        EXPECT_EQ(first, c.first);
        EXPECT_EQ(firstText, c.firstText);
        EXPECT_EQ(last, c.last);
        EXPECT_EQ(lastText, c.lastText);
        if (!c.sparse) {
            EXPECT_EQ(gaps, c.gaps);
        }
    }
}

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
