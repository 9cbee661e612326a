// Property values reach the formatter from snapshot files and providers:
// any name, CIM type, array flag and value kind must give a text, never a
// crash, and array rows must agree with the elements.
#include <cstdint>
#include <iterator>
#include <string>
#include <string_view>

#include "format/format.h"
#include "fuzz_input.h"

namespace {

// The names the formatter decodes specially, so the fuzzer reaches every
// decoder without guessing them letter by letter.
constexpr std::string_view kNames[] = {
    "AdapterRAM", "AddressWidth", "AdminPasswordStatus", "Age", "AllocatedBaseSize", "Architecture",
    "Associativity", "Attributes", "Availability", "AvailableVirtualMemory", "BatteryRechargeTime",
    "BatteryStatus", "BiosCharacteristics", "BitsPerPel", "BitsPerPixel", "BusType", "ByteMode",
    "BytesPerSector", "CacheType", "Capabilities", "Capacity", "ChannelTiming",
    "ChassisBootupState", "Chemistry", "Color", "ConfigManagerErrorCode", "ConnectorType",
    "CpuStatus", "CurrentBitsPerPixel", "CurrentClockSpeed", "CurrentHorizontalResolution",
    "CurrentRefreshRate", "CurrentSRAM", "CurrentScanMode", "CurrentSize", "CurrentTimeZone",
    "CurrentUsage", "CurrentVerticalResolution", "CurrentVoltage", "CursorBlinkRate", "DataWidth",
    "DesignVoltage", "DeviceInterface", "DeviceType", "DisplayFrequency", "DoubleSpeedThreshold",
    "DriveType", "ErrorCorrectType", "EstimatedChargeRemaining", "EstimatedRunTime",
    "ExpectedBatteryLife", "ExpectedLife", "ExtClock", "ExtendedPrinterStatus", "Family",
    "ForegroundApplicationBoost", "FormFactor", "FreePhysicalMemory", "FreeSpace",
    "FreeVirtualMemory", "FrontPanelResetStatus", "Handedness", "HorizontalResolution", "ICMIntent",
    "ICMMethod", "IconSpacing", "InitialSize", "InstalledSize", "InterleavePosition",
    "KeyboardPasswordStatus", "Level", "LoadPercentage", "Location", "LogPixels", "LogonType",
    "MaxCacheSize", "MaxCapacity", "MaxClockSpeed", "MaxDataWidth", "MaxRechargeTime",
    "MaxRefreshRate", "MaximumSize", "MediaType", "MemoryType", "MinRefreshRate",
    "NetConnectionStatus", "Orientation", "PaperLength", "PaperSizesSupported", "PaperWidth",
    "PeakUsage", "PelsHeight", "PelsWidth", "PixelsPerXLogicalInch", "PixelsPerYLogicalInch",
    "PointingType", "PortType", "PowerManagementCapabilities", "PowerOnPasswordStatus",
    "PowerSupplyState", "PrinterStatus", "ProcessorType", "ProposedSize", "Protocol",
    "ProtocolSupported", "QuadSpeedThreshold", "RefreshRate", "ResetCapability", "SIDType",
    "ScanMode", "ScreenSaverTimeout", "Size", "SoftwareElementState", "Speed", "StatusInfo",
    "SupportedSRAM", "SystemStartupDelay", "TargetOperatingSystem", "ThermalState",
    "TimeToFullCharge", "TotalPageFileSpace", "TotalPhysicalMemory", "TotalVirtualMemory",
    "TotalWidth", "TriggerLevel", "TriggerType", "TypeCTiming", "TypeDetail", "UpgradeMethod",
    "Use", "UserInputDelay", "VccMixedVoltageSupport", "VerticalResolution", "VideoArchitecture",
    "VideoMemoryType", "VoltageCaps", "VppMixedVoltageSupport", "WakeUpType", "WordMode",
    "WritePolicy",
};

constexpr int kCimTypes[] = {2, 3, 4, 5, 8, 11, 13, 16, 17, 18, 19, 20, 21, 101, 102, 103};

wmi::Value Scalar(fuzz::Input& in) {
    switch (in.byte() % 6) {
    case 0: return wmi::Value();
    case 1: return wmi::Value((in.byte() & 1) != 0);
    case 2: return wmi::Value(static_cast<long long>(in.integer<std::int64_t>()));
    case 3: return wmi::Value(in.integer<double>());
    case 4: return wmi::Value(static_cast<long long>(static_cast<std::int8_t>(in.byte())));
    default: return wmi::Value(std::string(in.piece()));
    }
}

class CountingSink : public kestrane::ArrayRowSink {
public:
    void addRow(const std::string&, const std::string&, const std::string&, const std::string&) override {
        ++rows;
    }
    std::size_t rows = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::Input in(data, size);
    wmi::PropertyDecl decl;
    std::uint8_t how = in.byte();
    if (how & 0x80)
        decl.name = std::string(in.piece());
    else
        decl.name = std::string(kNames[in.byte() % std::size(kNames)]);
    decl.cimType = (how & 0x40) ? static_cast<int>(in.integer<std::int16_t>())
                                : kCimTypes[in.byte() % std::size(kCimTypes)];
    decl.isArray = (how & 0x20) != 0;
    decl.origin = "CIM_Fuzz";

    wmi::Value value;
    std::size_t elements = 0;
    if (decl.isArray && (how & 0x10) == 0) {
        wmi::Value::Array items;
        elements = in.byte() % 24;
        for (std::size_t i = 0; i < elements; ++i) items.push_back(Scalar(in));
        value = wmi::Value(std::move(items));
    } else {
        value = Scalar(in);
    }
    std::string_view className = (how & 0x08) ? std::string_view("Win32_PrinterConfiguration") : in.piece();

    CountingSink rows;
    wmi::Property prop(decl, value);
    std::string text = kestrane::FormatPropertyValue(prop, rows, "Key", "Text", className);
    if (value.isNull()) fuzz::Check(text.empty() && rows.rows == 0, "Null shows as nothing");
    if (!decl.isArray) fuzz::Check(rows.rows == 0, "a scalar adds no rows");
    if (decl.isArray && value.isArray()) fuzz::Check(rows.rows <= elements, "at most one row per element");
    return 0;
}
