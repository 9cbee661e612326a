#include "format/format.h"

#include <cmath>
#include <initializer_list>
#include <unordered_map>

#include "format/decoders.h"
#include "format/number_text.h"

namespace kestrane {

namespace {

using Decoder = std::string (*)(const wmi::Property&, ArrayRowSink&, std::string_view, std::string_view);

enum class Op : unsigned char {
    Decode,     // a decoder
    Unit,       // value text + unit
    Divided,    // value as a number / factor, as text + unit
    Bytes,      // FormatBytes(value * factor)
    Minutes,    // FormatDuration(value * 60)
    Pow2Bits,   // 2^value * 8 + unit
    MediaType,  // printer or storage media, by class
    Location,   // cache or memory-array location, by class
    Level,      // a cache's level; elsewhere (the processor's family level) a plain number
    Nothing,    // shown as nothing, no rows
};

struct Action {
    Op op = Op::Unit;
    Decoder decoder = nullptr;
    std::string_view unit;
    double factor = 1;
};

constexpr Action Dec(Decoder d) { return {Op::Decode, d, {}, 1}; }
constexpr Action Unit(std::string_view unit) { return {Op::Unit, nullptr, unit, 1}; }
constexpr Action Divided(double by, std::string_view unit) { return {Op::Divided, nullptr, unit, by}; }
constexpr Action Bytes(double times) { return {Op::Bytes, nullptr, {}, times}; }
constexpr Action Of(Op op, std::string_view unit = {}) { return {op, nullptr, unit, 1}; }

std::string ProtocolSupported(const wmi::Property& p, ArrayRowSink&, std::string_view, std::string_view) {
    return GetProtocolSupported(p);
}

struct Row {
    std::initializer_list<std::string_view> names;
    Action action;
};

using ActionMap = std::unordered_map<std::string_view, Action>;

// Rows are taken in order and emplace keeps an existing key, so a name that
// appears twice acts as its first row says.
ActionMap BuildMap(std::initializer_list<Row> rows) {
    ActionMap map;
    for (const Row& row : rows)
        for (std::string_view name : row.names) map.emplace(name, row.action);
    return map;
}

const ActionMap& ArrayUint16() {
    static const ActionMap map = BuildMap({
        {{"Capabilities"}, Dec(GetCapabilities)},
        {{"PowerManagementCapabilities"}, Dec(GetPowerManagementCapabilities)},
        {{"BiosCharacteristics"}, Dec(GetBiosCharacteristics)},
        {{"ConnectorType"}, Dec(GetConnectorType)},
        {{"VccMixedVoltageSupport", "VppMixedVoltageSupport"}, Dec(GetMixedVoltageSupport)},
        {{"SupportedSRAM", "CurrentSRAM"}, Dec(GetSRAMType)},
        // Hundreds of paper codes with no readable names: not worth a row each.
        {{"PaperSizesSupported"}, Of(Op::Nothing)},
    });
    return map;
}

const ActionMap& ScalarUint16() {
    static const ActionMap map = BuildMap({
        {{"Availability"}, Dec(GetAvailability)},
        {{"DeviceInterface"}, Dec(GetDeviceInterface)},
        {{"Handedness"}, Dec(GetHandedness)},
        {{"PointingType"}, Dec(GetPointingType)},
        {{"Capabilities"}, Dec(GetCapabilities)},
        {{"ProtocolSupported"}, Dec(ProtocolSupported)},
        {{"StatusInfo"}, Dec(GetStatusInfo)},
        {{"SoftwareElementState"}, Dec(GetSoftwareElementState)},
        {{"ByteMode"}, Dec(GetByteMode)},
        {{"ChannelTiming"}, Dec(GetChannelTiming)},
        {{"TypeCTiming"}, Dec(GetTypeCTiming)},
        {{"WordMode"}, Dec(GetWordMode)},
        {{"TriggerType"}, Dec(GetTriggerType)},
        {{"TriggerLevel"}, Dec(GetTriggerLevel)},
        {{"TotalWidth", "DataWidth"}, Unit(" bits")},
        {{"FormFactor"}, Dec(GetFormFactor)},
        {{"InterleavePosition"}, Dec(GetInterleavePosition)},
        {{"MemoryType"}, Dec(GetMemoryType)},
        {{"TypeDetail"}, Dec(GetTypeDetail)},
        {{"DeviceType"}, Dec(GetDeviceType)},
        {{"Use"}, Dec(GetUse)},
        {{"CurrentVoltage"}, Divided(10, " V")},  // tenths of a volt
        {{"Chemistry"}, Dec(GetChemistry)},
        {{"EstimatedChargeRemaining"}, Dec(GetEstimatedChargeRemaining)},
        {{"BatteryStatus"}, Dec(GetBatteryStatus)},
        {{"ChassisBootupState"}, Dec(GetChassisBootupState)},
        {{"SystemStartupDelay"}, Unit(" Seconds")},
        {{"PowerOnPasswordStatus", "KeyboardPasswordStatus", "FrontPanelResetStatus"}, Dec(GetPasswordStatus)},
        {{"Associativity"}, Dec(GetAssociativity)},
        {{"VideoArchitecture"}, Dec(GetVideoArchitecture)},
        {{"VideoMemoryType"}, Dec(GetVideoMemoryType)},
        {{"ScanMode", "CurrentScanMode"}, Dec(GetScanMode)},
        {{"Family"}, Dec(GetFamily)},
        {{"AddressWidth"}, Unit(" bits")},
        {{"Architecture"}, Dec(GetArchitecture)},
        {{"CpuStatus"}, Dec(GetCpuStatus)},
        {{"LoadPercentage"}, Unit(" %")},
        {{"WakeUpType"}, Dec(GetWakeUpType)},
        {{"ExtendedPrinterStatus", "PrinterStatus"}, Dec(GetPrinterStatus)},
        {{"TargetOperatingSystem"}, Dec(GetTargetOperatingSystem)},
        {{"CacheType"}, Dec(GetCacheType)},
        {{"ErrorCorrectType"}, Dec(GetErrorCorrectType)},
        {{"Level"}, Of(Op::Level)},
        {{"WritePolicy"}, Dec(GetWritePolicy)},
        {{"Location"}, Of(Op::Location)},
        {{"PortType"}, Dec(GetPortType)},
        {{"ProcessorType"}, Dec(GetProcessorType)},
        {{"UpgradeMethod"}, Dec(GetUpgradeMethod)},
        {{"CurrentUsage"}, Dec(GetCurrentUsage)},
        {{"MaxDataWidth"}, Of(Op::Pow2Bits, " bits")},
        {{"NetConnectionStatus"}, Dec(GetNetConnectionStatus)},
        {{"PowerSupplyState"}, Dec(GetPowerSupplyState)},
        {{"AdminPasswordStatus"}, Dec(GetAdminPasswordStatus)},
        {{"ResetCapability"}, Dec(GetResetCapability)},
        {{"ThermalState"}, Dec(GetThermalState)},
    });
    return map;
}

const ActionMap& ScalarUint32() {
    static const ActionMap map = BuildMap({
        {{"ConfigManagerErrorCode"}, Dec(GetConfigManagerErrorCode)},
        {{"DriveType"}, Dec(GetDriveType)},
        {{"MediaType"}, Of(Op::MediaType)},
        {{"BusType"}, Dec(GetBusType)},
        {{"Speed"}, Unit(" nanoseconds")},
        {{"ExtClock", "CurrentClockSpeed"}, Unit(" MHz")},
        {{"MaxClockSpeed"}, Divided(1000, " GHz")},  // delivered in MHz
        {{"TimeToFullCharge", "BatteryRechargeTime", "EstimatedRunTime", "ExpectedBatteryLife", "ExpectedLife",
          "MaxRechargeTime"},
         Of(Op::Minutes)},
        {{"BytesPerSector", "AdapterRAM"}, Bytes(1)},
        {{"TotalVirtualMemory", "TotalPhysicalMemory", "TotalPageFileSpace", "AvailableVirtualMemory"},
         Bytes(1024)},
        {{"IconSpacing", "CurrentVerticalResolution", "CurrentHorizontalResolution", "VerticalResolution",
          "HorizontalResolution", "PelsWidth", "PelsHeight", "PixelsPerYLogicalInch", "PixelsPerXLogicalInch"},
         Unit(" pixels")},
        {{"RefreshRate", "MinRefreshRate", "MaxRefreshRate", "CurrentRefreshRate", "DisplayFrequency"},
         Unit(" Hz")},
        {{"CurrentBitsPerPixel", "BitsPerPixel", "BitsPerPel"}, Unit(" bits per pixel")},
        {{"LogPixels"}, Unit(" pixels per logical inch")},
        {{"Attributes"}, Dec(GetAttributes)},
        {{"SMBIOSMemoryType"}, Dec(GetSmbiosMemoryType)},
        {{"CursorBlinkRate"}, Unit(" ms")},
        {{"ScreenSaverTimeout"}, Unit(" secs.")},
        {{"ProposedSize", "MaximumSize", "CurrentSize", "PeakUsage", "CurrentUsage", "AllocatedBaseSize",
          "InitialSize"},
         Unit(" MB")},
        {{"UserInputDelay", "Age"}, Unit(" secs.")},
        {{"Protocol"}, Dec(GetProtocol)},
        {{"LogonType"}, Dec(GetLogonType)},
        {{"QuadSpeedThreshold", "DoubleSpeedThreshold"}, Unit(" Mickeys")},
        {{"MaxCacheSize", "InstalledSize", "L2CacheSize", "L3CacheSize"}, Unit(" KB")},
        {{"MaxCapacity"}, Bytes(1024)},
        {{"VoltageCaps"}, Dec(GetVoltageCaps)},
        {{"Color"}, Dec(GetColor)},
        {{"ICMIntent"}, Dec(GetICMIntent)},
        {{"ICMMethod"}, Dec(GetICMMethod)},
        {{"Orientation"}, Dec(GetOrientation)},
        {{"PaperWidth", "PaperLength"}, Divided(10, " mm")},  // tenths of a millimetre
    });
    return map;
}

std::string WithUnit(std::string text, std::string_view unit) {
    text += unit;
    return text;
}

std::string NumberWithUnit(double number, std::string_view unit) {
    std::string out;
    AppendNumber(out, number);
    out += unit;
    return out;
}

std::string Perform(const Action& action, const wmi::Property& p, ArrayRowSink& rows, std::string_view key,
                    std::string_view text, std::string_view className) {
    switch (action.op) {
    case Op::Decode:
        return action.decoder(p, rows, key, text);
    case Op::Unit:
        return WithUnit(wmi::ValueText(p.value()), action.unit);
    case Op::Divided:
        return NumberWithUnit(ReadNumber(p.value()) / action.factor, action.unit);
    case Op::Bytes:
        return FormatBytes(ReadNumber(p.value()) * action.factor);
    case Op::Minutes:
        return FormatDuration(ReadNumber(p.value()) * 60);
    case Op::Pow2Bits:
        return NumberWithUnit(std::exp2(ReadNumber(p.value())) * 8, action.unit);
    case Op::MediaType:
        return className == "Win32_PrinterConfiguration" ? GetPrinterMediaType(p, rows, {}, {})
                                                         : GetMediaType(p, rows, {}, {});
    case Op::Location:
        // Win32_CacheMemory numbers its locations in a table of its own.
        return className == "Win32_CacheMemory" ? GetCacheLocation(p, rows, {}, {}) : GetLocation(p, rows, {}, {});
    case Op::Level:
        // Win32_Processor.Level is a family number (6 on most x86), which
        // the cache table would misread as "Not Applicable".
        return className == "Win32_Processor" ? wmi::ValueText(p.value()) : GetLevel(p, rows, {}, {});
    case Op::Nothing:
        return {};
    }
    return {};
}

std::string FromTable(const ActionMap& map, const wmi::Property& p, ArrayRowSink& rows, std::string_view key,
                      std::string_view text, std::string_view className) {
    auto it = map.find(p.name());
    if (it == map.end()) return wmi::ValueText(p.value());
    return Perform(it->second, p, rows, key, text, className);
}

// Operating-system figures WMI delivers in kilobytes whose names would
// otherwise pass for byte counts ("...Size", "...FreeSpace...").
bool IsKilobyteFigure(const std::string& name) {
    return name == "TotalVisibleMemorySize" || name == "TotalVirtualMemorySize" || name == "TotalSwapSpaceSize" ||
           name == "SizeStoredInPagingFiles" || name == "FreeSpaceInPagingFiles" ||
           name == "MaxProcessMemorySize";
}

std::string FormatUint64(const wmi::Property& p) {
    const std::string& name = p.name();
    if (IsKilobyteFigure(name)) return FormatBytes(ReadNumber(p.value()) * 1024);
    if (name == "Capacity" || name.find("FreeSpace") != std::string::npos ||
        name.find("Size") != std::string::npos)
        return FormatBytes(ReadNumber(p.value()));
    if (name == "FreeVirtualMemory" || name == "FreePhysicalMemory")
        return FormatBytes(ReadNumber(p.value()) * 1024);  // delivered in KB
    if (name == "DesignVoltage")
        return NumberWithUnit(ReadNumber(p.value()) / 1000, " V");  // millivolts
    return wmi::ValueText(p.value());
}

}  // namespace

std::string FormatPropertyValue(const wmi::Property& objProperty, ArrayRowSink& rows, std::string_view strItemKey,
                                std::string_view strItemText, std::string_view strClassName) {
    const wmi::Value& value = objProperty.value();
    if (value.isNull()) return {};

    if (objProperty.isArray()) {
        if (objProperty.cimType() == wmi::CIM_UINT16) {
            auto it = ArrayUint16().find(objProperty.name());
            if (it != ArrayUint16().end())
                return Perform(it->second, objProperty, rows, strItemKey, strItemText, strClassName);
        }
        return GetArrayValues(objProperty, rows, strItemKey, strItemText);
    }

    // Rows belong to array values only, whatever a scalar decoder might add.
    NullSink noRows;
    const std::string& name = objProperty.name();
    switch (objProperty.cimType()) {
    case wmi::CIM_SINT16:
        if (name == "CurrentTimeZone") {
            // Minutes east of UTC; a negative offset carries its own sign.
            std::string text = wmi::ValueText(value);
            if (text.empty() || text.front() != '-') text.insert(text.begin(), '+');
            return WithUnit(std::move(text), " Minutes");
        }
        return wmi::ValueText(value);
    case wmi::CIM_SINT32:
        if (name == "RefreshRate") return WithUnit(wmi::ValueText(value), " Hz");
        return wmi::ValueText(value);
    case wmi::CIM_STRING:
        return wmi::ValueText(value);
    case wmi::CIM_BOOLEAN:
        return wmi::ValueText(value) == "True" ? "Yes" : "No";
    case wmi::CIM_UINT8:
        if (name == "SIDType") return GetSIDType(objProperty, noRows);
        if (name == "ForegroundApplicationBoost") return GetForegroundApplicationBoost(objProperty, noRows);
        return wmi::ValueText(value);
    case wmi::CIM_UINT16:
        return FromTable(ScalarUint16(), objProperty, noRows, {}, {}, strClassName);
    case wmi::CIM_UINT32:
        return FromTable(ScalarUint32(), objProperty, noRows, {}, {}, strClassName);
    case wmi::CIM_UINT64:
        return FormatUint64(objProperty);
    case wmi::CIM_DATETIME:
        return FormatWMIDate(wmi::ValueText(value));
    default:
        return wmi::ValueText(value);
    }
}

std::string FormatBytes(double bytes) {
    std::string out;
    if (bytes < 1024) {
        AppendNumber(out, bytes);
        out += " bytes";
        return out;
    }
    double unit = 1073741824;
    std::string_view name = " GB (";
    if (bytes < 1048576) {
        unit = 1024;
        name = " KB (";
    } else if (bytes < 1073741824) {
        unit = 1048576;
        name = " MB (";
    }
    AppendFixed2(out, bytes / unit);
    out += name;
    AppendNumber(out, bytes);
    out += " bytes)";
    return out;
}

namespace {

// Halves to even, whatever the floating-point environment says.
double RoundHalfEven(double x) {
    const double fl = std::floor(x);
    const double diff = x - fl;
    if (diff > 0.5) return fl + 1;
    if (diff < 0.5) return fl;
    return std::fmod(fl, 2) == 0 ? fl : fl + 1;
}

// Whole minutes and the seconds left over, as "m mins, s secs".
void AppendMinutes(std::string& out, double seconds) {
    const double minutes = std::trunc(RoundHalfEven(seconds) / 60);
    AppendNumber(out, minutes);
    out += " mins, ";
    AppendNumber(out, seconds - minutes * 60);
    out += " secs";
}

void AppendHours(std::string& out, double seconds) {
    const double hours = std::trunc(RoundHalfEven(seconds) / 3600);
    AppendNumber(out, hours);
    out += " hours, ";
    AppendMinutes(out, seconds - hours * 3600);
}

}  // namespace

std::string FormatDuration(double seconds) {
    std::string out;
    if (!std::isfinite(seconds)) return out;
    if (seconds < 60) {
        AppendNumber(out, seconds);
        out += " secs";
    } else if (seconds < 3600) {
        AppendMinutes(out, seconds);
    } else if (seconds < 86400) {
        AppendHours(out, seconds);
    } else {
        const double days = std::trunc(RoundHalfEven(seconds) / 86400);
        AppendNumber(out, days);
        out += " days, ";
        AppendHours(out, seconds - days * 86400);
    }
    return out;
}

std::string FormatWMIDate(std::string_view dmtf) {
    if (dmtf.empty()) return {};
    // Fixed columns of yyyymmddHHMMSS; a short string gives short pieces.
    auto cut = [dmtf](std::size_t pos, std::size_t len) {
        return pos < dmtf.size() ? dmtf.substr(pos, len) : std::string_view{};
    };
    std::string out;
    out.reserve(20);
    out += cut(4, 2);
    out += '/';
    out += cut(6, 2);
    out += '/';
    out += cut(0, 4);
    out += ' ';
    out += cut(8, 2);
    out += ':';
    out += cut(10, 2);
    out += ':';
    out += cut(12, 2);
    return out;
}

std::string FormatPropertyName(std::string_view name) {
    auto upper = [](char c) { return c >= 'A' && c <= 'Z'; };
    auto lower = [](char c) { return c >= 'a' && c <= 'z'; };
    std::string s(name);
    // The scan stops at the original length, as the label has always been
    // made, so the last capitals of a long name may stay joined.
    const std::size_t n = s.size();
    std::size_t i = 1;  // 0-based; the first letter never gets a blank
    while (i < n) {
        if (upper(s[i]) && (lower(s[i - 1]) || (i + 1 < s.size() && lower(s[i + 1])))) {
            s.insert(s.begin() + static_cast<std::ptrdiff_t>(i), ' ');
            i += 2;
        } else {
            ++i;
        }
    }
    return s;
}

}  // namespace kestrane
