#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "format/format.h"
#include "format/number_text.h"
#include "format/property_fixture.h"

namespace kestrane {
namespace {

using test::Arr;
using test::Prop;
using test::RecordingSink;
using test::Row;
using wmi::Value;

constexpr int S16 = wmi::CIM_SINT16, S32 = wmi::CIM_SINT32, STR = wmi::CIM_STRING, BOOL = wmi::CIM_BOOLEAN,
              U8 = wmi::CIM_UINT8, U16 = wmi::CIM_UINT16, U32 = wmi::CIM_UINT32, U64 = wmi::CIM_UINT64,
              S64 = wmi::CIM_SINT64, R64 = wmi::CIM_REAL64, DT = wmi::CIM_DATETIME, REF = wmi::CIM_REFERENCE;

struct Case {
    int cimType;
    const char* name;
    Value value;
    const char* expected;
    const char* className = "";
};

TEST(FormatPropertyValue, ScalarDispatch) {
    const std::vector<Case> cases = {
        // sint16: the time zone keeps its own minus sign
        {S16, "CurrentTimeZone", 330, "+330 Minutes"},
        {S16, "CurrentTimeZone", 0, "+0 Minutes"},
        {S16, "CurrentTimeZone", -300, "-300 Minutes"},
        {S16, "currentTimeZone", 330, "330"},
        {S16, "Bias", -60, "-60"},
        // sint32: every other name shows its value
        {S32, "RefreshRate", 60, "60 Hz"},
        {S32, "Priority", -7, "-7"},
        // strings, booleans and what takes the default
        {STR, "Caption", " as is ", " as is "},
        {STR, "Availability", "3", "3"},
        {BOOL, "Primary", true, "Yes"},
        {BOOL, "Primary", false, "No"},
        {BOOL, "Primary", "True", "Yes"},
        {BOOL, "Primary", "true", "No"},
        {R64, "Anything", 2.5, "2.5"},
        {S64, "Size", "-5", "-5"},
        {REF, "Antecedent", "\\\\HOST\\root\\cimv2:Win32_X", "\\\\HOST\\root\\cimv2:Win32_X"},
        {DT, "InstallDate", "20031017143015.000000+330", "10/17/2003 14:30:15"},
        // uint8
        {U8, "SIDType", 7, "Sid TypeInvalid (7)"},
        {U8, "ForegroundApplicationBoost", 2, "Maximum(Default) (2)"},
        {U8, "Other", 7, "7"},
        // uint16: decoders, units and computed figures
        {U16, "Availability", 3, "Running/Full Power (3)"},
        {U16, "ProtocolSupported", 47, "IrBus (47)"},
        {U16, "ExtendedPrinterStatus", 18, "Manual Feed (18)"},
        {U16, "CurrentUsage", 4, "In use (4)"},
        {U16, "Capabilities", 3, "Random Access(3)"},
        {U16, "Capabilities", 99, "(99)"},
        {U16, "DataWidth", 64, "64 bits"},
        {U16, "SystemStartupDelay", 30, "30 Seconds"},
        {U16, "LoadPercentage", 5, "5 %"},
        {U16, "CurrentVoltage", 33, "3.3 V"},
        {U16, "MaxDataWidth", 0, "8 bits"},
        {U16, "MaxDataWidth", 2, "32 bits"},
        {U16, "MaxDataWidth", 3, "64 bits"},
        {U16, "MaxDataWidth", 40, "8796093022208 bits"},
        {U16, "MaxClockSpeed", 2400, "2400"},
        {U16, "availability", 3, "3"},
        // uint32
        {U32, "ConfigManagerErrorCode", 0, "This device is working properly. (0)"},
        {U32, "BusType", 4294967295LL, "Undefined (-1)"},
        {U32, "Speed", 70, "70 nanoseconds"},
        {U32, "CurrentClockSpeed", 2400, "2400 MHz"},
        {U32, "MaxClockSpeed", 2400, "2.4 GHz"},
        {U32, "MaxClockSpeed", 3000, "3 GHz"},
        {U32, "TimeToFullCharge", 90, "1 hours, 30 mins, 0 secs"},
        {U32, "ExpectedLife", 1440, "1 days, 0 hours, 0 mins, 0 secs"},
        {U32, "BytesPerSector", 512, "512 bytes"},
        {U32, "TotalPhysicalMemory", 1024, "1.00 MB (1048576 bytes)"},
        {U32, "MaxCapacity", 4194304, "4.00 GB (4294967296 bytes)"},
        {U32, "PelsWidth", 1920, "1920 pixels"},
        {U32, "RefreshRate", 75, "75 Hz"},
        {U32, "BitsPerPel", 32, "32 bits per pixel"},
        {U32, "LogPixels", 96, "96 pixels per logical inch"},
        {U32, "Attributes", 584, "Shared, Local, Do complete first (584)"},
        {U32, "ScreenSaverTimeout", 600, "600 secs."},
        {U32, "CurrentUsage", 300, "300 MB"},
        {U32, "Age", 5, "5 secs."},
        {U32, "DoubleSpeedThreshold", 6, "6 Mickeys"},
        {U32, "MaxCacheSize", 512, "512 KB"},
        {U32, "PaperWidth", 2159, "215.9 mm"},
        {U32, "Color", 2, "Color (2)"},
        {U32, "NumberOfCores", 8, "8"},
        // MediaType: the printer's own codes only for that exact class
        {U32, "MediaType", 12, "Fixed hard disk media(12)"},
        {U32, "MediaType", 2, "Transparency (2)", "Win32_PrinterConfiguration"},
        {U32, "MediaType", 12, "Fixed hard disk media(12)", "win32_printerconfiguration"},
        // Location: caches have a table of their own
        {U16, "Location", 0, "Internal (0)", "Win32_CacheMemory"},
        {U16, "Location", 3, "Unknown (3)", "Win32_CacheMemory"},
        {U16, "Location", 0, "Reserved (0)", "Win32_PhysicalMemoryArray"},
        {U16, "Location", 3, "System board or motherboard (3)", "Win32_PhysicalMemoryArray"},
        {U32, "L2CacheSize", 1024, "1024 KB", "Win32_Processor"},
        {U32, "L3CacheSize", 32768, "32768 KB", "Win32_Processor"},
        // Level: a cache's level, but the processor's is a family number
        {U16, "Level", 6, "Not Applicable (6)", "Win32_CacheMemory"},
        {U16, "Level", 3, "Primary (3)", "Win32_CacheMemory"},
        {U16, "Level", 6, "6", "Win32_Processor"},
        // codes published after the first tables
        {U16, "Architecture", 9, "x64 (9)", "Win32_Processor"},
        {U16, "Architecture", 12, "ARM64 (12)", "Win32_Processor"},
        {U16, "MemoryType", 26, "DDR4 (26)", "Win32_PhysicalMemory"},
        {U16, "Family", 198, "Intel(R) Core(TM) i7 processor (198)", "Win32_Processor"},
        {U16, "UpgradeMethod", 18, "Socket 939 (18)", "Win32_Processor"},
        {U32, "SMBIOSMemoryType", 34, "DDR5 (34)", "Win32_PhysicalMemory"},
        {U32, "SMBIOSMemoryType", 99, " (99)", "Win32_PhysicalMemory"},  // unknown: today's shape
        {U32, "L3CacheSize", 8192, "8192 KB", "Win32_Processor"},
        {U32, "mediaType", 12, "12", "Win32_PrinterConfiguration"},
        // uint64, delivered as decimal strings
        {U64, "FreeSpace", "1023", "1023 bytes"},
        {U64, "Size", "1024", "1.00 KB (1024 bytes)"},
        {U64, "Capacity", "1048576", "1.00 MB (1048576 bytes)"},
        {U64, "BlockSize", "512", "512 bytes"},
        {U64, "PageFileSize", 2048, "2.00 KB (2048 bytes)"},
        {U64, "capacity", "1048576", "1048576"},
        {U64, "DesignCapacity", "5000", "5000"},
        {U64, "FreePhysicalMemory", "1048576", "1.00 GB (1073741824 bytes)"},
        // kilobyte figures whose names look like byte counts
        {U64, "TotalVisibleMemorySize", "1048576", "1.00 GB (1073741824 bytes)"},
        {U64, "FreeSpaceInPagingFiles", "1", "1.00 KB (1024 bytes)"},
        {U64, "SizeStoredInPagingFiles", "2048", "2.00 MB (2097152 bytes)"},
        {U64, "TotalSwapSpaceSize", "3145728", "3.00 GB (3221225472 bytes)"},
        {U64, "FreeVirtualMemory", "1", "1.00 KB (1024 bytes)"},
        {U64, "DesignVoltage", "12000", "12 V"},
        {U64, "DesignVoltage", "12345", "12.345 V"},
        {U64, "MaxProcessMemorySize", "134217728", "128.00 GB (137438953472 bytes)"},
        {U64, "Size", "not a number", "0 bytes"},
        {U64, "NumberOfBlocks", "18446744073709551615", "18446744073709551615"},
        // Null shows nothing on both paths
        {U16, "Availability", Value(), ""},
        {STR, "Caption", Value(), ""},
    };
    for (const Case& c : cases) {
        Prop p(c.name, c.cimType, c.value);
        RecordingSink sink;
        EXPECT_EQ(FormatPropertyValue(p.view(), sink, "key", "text", c.className), c.expected)
            << c.name << " = " << wmi::ValueText(c.value);
        EXPECT_TRUE(sink.rows.empty()) << c.name;
    }
}

struct ArrayCase {
    int cimType;
    const char* name;
    Value value;
    std::vector<std::string> elements;
    const char* expected;
};

TEST(FormatPropertyValue, ArrayDispatch) {
    const std::vector<ArrayCase> cases = {
        {U16, "Capabilities", Arr({3, 4}), {"Random Access(3)", "Supports Writing(4)"}, "Supports Writing(4)"},
        {U16, "PowerManagementCapabilities", Arr({1}), {"Not Supported(1)"}, "Not Supported(1)"},
        {U16, "BiosCharacteristics", Arr({7}), {"PCI is supported(7)"}, "PCI is supported(7)"},
        {U16, "ConnectorType", Arr({39}), {"RJ45 (39)"}, "RJ45 (39)"},
        {U16, "VppMixedVoltageSupport", Arr({2}), {"3.3 V (2)"}, "3.3 V"},
        {U16, "CurrentSRAM", Arr({2}), {"Non-Burst (2)"}, "Non-Burst"},
        {U16, "PaperSizesSupported", Arr({1, 7}), {}, ""},
        {U16, "Availability", Arr({3}), {"3"}, "3"},
        {U32, "Capabilities", Arr({3}), {"3"}, "3"},
        {U32, "PaperSizesSupported", Arr({1}), {"1"}, "1"},
        {STR, "IPAddress", Arr({"10.0.0.1", "fe80::1"}), {"10.0.0.1", "fe80::1"}, "fe80::1"},
        {U16, "Capabilities", Arr({}), {}, ""},
        {U16, "Capabilities", Value(), {}, ""},
    };
    for (const ArrayCase& c : cases) {
        Prop p(c.name, c.cimType, c.value, true);
        RecordingSink sink;
        EXPECT_EQ(FormatPropertyValue(p.view(), sink, "K", "Caption", "Win32_X"), c.expected) << c.name;
        EXPECT_EQ(sink.elements(), c.elements) << c.name;
        if (!sink.rows.empty()) {
            EXPECT_EQ(sink.rows[0], (Row{"K", "Caption", "Info", c.elements[0]}));
        }
    }
}

TEST(FormatPropertyValue, OddValuesNeverThrow) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const std::vector<Value> values = {Value(),  "",    "abc", "-", "1e999", "-1", -1, 0, 4294967296LL,
                                       1e300,    -1e300, nan,  true, Arr({}), Arr({Value(), "x", Arr({1})})};
    const std::vector<std::pair<int, const char*>> props = {
        {S16, "CurrentTimeZone"}, {U16, "MaxDataWidth"},   {U16, "CurrentVoltage"},  {U16, "Availability"},
        {U16, "Capabilities"},    {U32, "MaxClockSpeed"},  {U32, "ExpectedLife"},    {U32, "TotalPhysicalMemory"},
        {U32, "Attributes"},      {U32, "MediaType"},      {U32, "PaperLength"},     {U64, "Size"},
        {U64, "DesignVoltage"},   {DT, "InstallDate"},     {BOOL, "Primary"},        {U8, "SIDType"},
    };
    for (const auto& [type, name] : props) {
        for (const Value& v : values) {
            for (bool isArray : {false, true}) {
                Prop p(name, type, v, isArray);
                RecordingSink sink;
                EXPECT_NO_THROW(FormatPropertyValue(p.view(), sink, "k", "t")) << name;
            }
        }
    }
}

TEST(ReadNumber, AgreesWithTheLeadingNumericPart) {
    for (const char* text : {"0", "-0", "12", "-12", "999999999999999999", "9999999999999999999",
                             "18446744073709551615", "1.5", "  7", "+5", "12abc", "abc", "", "-", "1e3"}) {
        EXPECT_EQ(ReadNumber(Value(text)), wmi::ValueNumber(Value(text))) << text;
    }
}

TEST(FormatBytes, Thresholds) {
    const std::vector<std::pair<double, const char*>> cases = {
        {0, "0 bytes"},
        {1023, "1023 bytes"},
        {1023.5, "1023.5 bytes"},
        {1024, "1.00 KB (1024 bytes)"},
        {1536, "1.50 KB (1536 bytes)"},
        {3200, "3.13 KB (3200 bytes)"},  // 3.125: a true half rounds up
        {1048575, "1024.00 KB (1048575 bytes)"},
        {1048576, "1.00 MB (1048576 bytes)"},
        {1073741823, "1024.00 MB (1073741823 bytes)"},
        {1073741824, "1.00 GB (1073741824 bytes)"},
        {500107862016, "465.76 GB (500107862016 bytes)"},
        {2e15, "1862645.15 GB (2e+15 bytes)"},
    };
    for (const auto& [bytes, expected] : cases) EXPECT_EQ(FormatBytes(bytes), expected) << bytes;
}

TEST(FormatDuration, Boundaries) {
    const std::vector<std::pair<double, const char*>> cases = {
        {0, "0 secs"},
        {59, "59 secs"},
        {59.5, "59.5 secs"},
        {60, "1 mins, 0 secs"},
        {119.5, "2 mins, -0.5 secs"},  // minutes count the rounded seconds
        {3599, "59 mins, 59 secs"},
        {3600, "1 hours, 0 mins, 0 secs"},
        {5400, "1 hours, 30 mins, 0 secs"},
        {86399, "23 hours, 59 mins, 59 secs"},
        {86400, "1 days, 0 hours, 0 mins, 0 secs"},
        {90061, "1 days, 1 hours, 1 mins, 1 secs"},
        {-5, "-5 secs"},
        {std::nan(""), ""},
    };
    for (const auto& [seconds, expected] : cases) EXPECT_EQ(FormatDuration(seconds), expected) << seconds;
}

TEST(FormatWMIDate, CutsFixedColumns) {
    const std::vector<std::pair<const char*, const char*>> cases = {
        {"20031017143015.000000+330", "10/17/2003 14:30:15"},
        {"20031017143015", "10/17/2003 14:30:15"},
        {"", ""},
        {"2003", "//2003 ::"},
        {"200310", "10//2003 ::"},
        {"20031017143", "10/17/2003 14:3:"},
        {"20", "//20 ::"},
    };
    for (const auto& [dmtf, expected] : cases) EXPECT_EQ(FormatWMIDate(dmtf), expected) << dmtf;
}

TEST(FormatPropertyName, SplitsWords) {
    const std::vector<std::pair<const char*, const char*>> cases = {
        {"CurrentClockSpeed", "Current Clock Speed"},
        {"DeviceID", "Device ID"},
        {"MACAddress", "MAC Address"},
        {"Name", "Name"},
        {"IPAddress", "IP Address"},
        {"SCSIBus", "SCSI Bus"},
        {"ID", "ID"},
        {"A", "A"},
        {"", ""},
        {"lowerCase", "lower Case"},
        {"Win32Name", "Win32 Name"},
        // the scan ends at the original length, so late capitals stay joined
        {"aBcDeF", "a Bc DeF"},
    };
    for (const auto& [name, expected] : cases) EXPECT_EQ(FormatPropertyName(name), expected) << name;
}

}  // namespace
}  // namespace kestrane
