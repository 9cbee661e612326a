// Processors, the BIOS, the computer system and chassis, power supplies and
// batteries, video controllers and displays, pointing devices.
#include "format/decoder_kinds.h"
#include "format/decoders.h"

namespace kestrane {

using namespace decode;

namespace {

// Processors ------------------------------------------------------------------

constexpr CodeEntry kFamily[] = {
    {1, "Other"},
    {2, "Unknown"},
    {3, "8086"},
    {4, "80286"},
    {5, "80386"},
    {6, "80486"},
    {7, "8087"},
    {8, "80287"},
    {9, "80387"},
    {10, "80487"},
    {11, "Pentium Family"},
    {12, "Pentium Pro"},
    {13, "Pentium II"},
    {14, "Pentium MMX"},
    {15, "Celeron"},
    {16, "Pentium II Xeon"},
    {17, "Pentium III"},
    {18, "M1 Family"},
    {19, "M2 Family"},
    {24, "K5 Family"},
    {25, "K6 Family"},
    {26, "K6-2"},
    {27, "K6-III"},
    {28, "Athlon"},
    {32, "Power PC Family"},
    {33, "Power PC 601"},
    {34, "Power PC 603"},
    {35, "Power PC 603+"},
    {36, "Power PC 604"},
    {48, "Alpha Family"},
    {64, "MIPS Family"},
    {80, "SPARC Family"},
    {96, "68040"},
    {97, "68xxx Family"},
    {98, "68000"},
    {99, "68010"},
    {100, "68020"},
    {101, "68030"},
    {112, "Hobbit Family"},
    {128, "Weitek"},
    {144, "PA-RISC Family"},
    {160, "V30 Family"},
    {176, "Pentium III Xeon"},
    {180, "AS400 Family"},
    {200, "IBM390 Family"},
    {250, "i860"},
    {251, "i960"},
    {260, "SH-3"},
    {261, "SH-4"},
    {280, "ARM"},
    {281, "StrongARM"},
    {300, "6x86"},
    {301, "MediaGX"},
    {302, "MII"},
    {320, "WinChip"},
};

constexpr CodeEntry kArchitecture[] = {{0, "x86"}, {1, "MIPS"},  {2, "Alpha"}, {3, "PowerPC"},
                                       {5, "ARM"}, {6, "ia64"}, {9, "x64"},   {12, "ARM64"}};

constexpr CodeEntry kCpuStatus[] = {
    {0, "Unknown"},
    {1, "CPU Enabled"},
    {2, "CPU Disabled by User via BIOS Setup"},
    {3, "CPU Disabled By BIOS (POST Error)"},
    {4, "CPU is Idle"},
    {5, "Reserved"},
    {6, "Reserved"},
    {7, "Other"},
};

constexpr CodeEntry kProcessorType[] = {
    {1, "Other"},          {2, "Unknown"},       {3, "Central Processor"},
    {4, "Math Processor"}, {5, "DSP Processor"}, {6, "Video Processor"},
};

constexpr CodeEntry kUpgradeMethod[] = {
    {1, "Other"},      {2, "Unknown"},   {3, "Daughter Board"}, {4, "ZIF Socket"},
    {5, "Replacement/Piggy Back"},       {6, "None"},           {7, "LIF Socket"},
    {8, "Slot 1"},     {9, "Slot 2"},    {10, "370 Pin Socket"}, {11, "Slot A"},
    {12, "Slot M"},
};

// Single bits, each compared with the whole value.
constexpr CodeEntry kVoltageCaps[] = {{1, "5 V"}, {2, "3.3 V"}, {4, "2.9 V"}};

// BIOS ------------------------------------------------------------------------

constexpr std::string_view kBiosCharacteristicTexts[] = {
    "Reserved(",
    "Reserved(",
    "Unknown(",
    "BIOS Characteristics Not Supported(",
    "ISA is supported(",
    "MCA is supported(",
    "EISA is supported(",
    "PCI is supported(",
    "PC Card (PCMCIA) is supported(",
    "Plug and Play is supported(",
    "APM is supported(",
    "BIOS is Upgradable (Flash)(",
    "BIOS shadowing is allowed(",
    "VL-VESA is supported(",
    "ESCD support is available(",
    "Boot from CD is supported(",
    "Selectable Boot is supported(",
    "BIOS ROM is socketed(",
    "Boot From PC Card (PCMCIA) is supported(",
    "EDD (Enhanced Disk Drive) Specification is supported(",
    "Int 13h - Japanese Floppy for NEC 9800 1.2mb (3.5, 1k Bytes/Sector, 360 RPM) is supported(",
    "Int 13h - Japanese Floppy for Toshiba 1.2mb (3.5, 360 RPM) is supported(",
    "Int 13h - 5.25 / 360 KB Floppy Services are supported(",
    "Int 13h - 5.25 /1.2MB Floppy Services are supported(",
    "Int 13h - 3.5 / 720 KB Floppy Services are supported(",
    "Int 13h - 3.5 / 2.88 MB Floppy Services are supported(",
    "Int 5h, Print Screen Service is supported(",
    "Int 9h, 8042 Keyboard services are supported(",
    "Int 14h, Serial Services are supported(",
    "Int 17h, printer services are supported(",
    "Int 10h, CGA/Mono Video Services are supported(",
    "NEC PC-98(",
    "ACPI supported(",
    "USB Legacy is supported(",
    "AGP is supported(",
    "I2O boot is supported(",
    "LS-120 boot is supported(",
    "ATAPI ZIP Drive boot is supported(",
    "1394 boot is supported(",
    "Smart Battery supported(",
};
constexpr auto kBiosCharacteristics = Consecutive(0, kBiosCharacteristicTexts);

// Computer system and chassis -------------------------------------------------

// "Safes" is the text the system has always shown.
constexpr CodeEntry kChassisBootupState[] = {
    {1, "Other"}, {2, "Unknown"}, {3, "Safes"}, {4, "Warning"}, {5, "Critical"}, {6, "Non recoverable"},
};

constexpr CodeEntry kHealthState[] = {
    {1, "Other"}, {2, "Unknown"}, {3, "Safe"}, {4, "Warning"}, {5, "Critical"}, {6, "Non-recoverable"},
};

constexpr CodeEntry kPasswordStatus[] = {
    {0, "Disabled"}, {1, "Enabled"}, {2, "Not Implemented"}, {3, "Unknown"},
};

constexpr CodeEntry kResetCapability[] = {
    {1, "Other"}, {2, "Unknown"}, {3, "Disabled"}, {4, "Enabled"}, {5, "Not Implemented"},
};

constexpr CodeEntry kWakeUpType[] = {
    {0, "Reserved"},   {1, "Other"},        {2, "Unknown"},      {3, "APM Timer"}, {4, "Modem Ring"},
    {5, "LAN Remote"}, {6, "Power Switch"}, {7, "PCI PME#"},     {8, "AC Power Restored"},
};

// Batteries -------------------------------------------------------------------

constexpr CodeEntry kChemistry[] = {
    {1, "Other"},       {2, "Unknown"},  {3, "Lead Acid"},       {4, "Nickel Cadmium"},
    {5, "Nickel Metal Hydride"},         {6, "Lithium-ion"},     {7, "Zinc air"},
    {8, "Lithium Polymer"},
};

constexpr CodeEntry kBatteryStatus[] = {
    {1, "Other"},
    {2, "Unknown"},
    {3, "Fully Charged"},
    {4, "Low"},
    {5, "Critical"},
    {6, "Charging"},
    {7, "Charging and High"},
    {8, "Charging and Low"},
    {9, "Charging and Critical"},
    {10, "Undefined"},
    {11, "Partially Charged"},
};

// Video controllers and displays ----------------------------------------------

constexpr CodeEntry kVideoArchitecture[] = {
    {1, "Other"}, {2, "Unknown"}, {3, "CGA"},   {4, "EGA"},    {5, "VGA"},   {6, "SVGA"},
    {7, "MDA"},   {8, "HGC"},     {9, "MCGA"},  {10, "8514A"}, {11, "XGA"},  {12, "Linear Frame Buffer"},
    {160, "PC-98"},
};

constexpr CodeEntry kVideoMemoryType[] = {
    {1, "Other"},   {2, "Unknown"},  {3, "VRAM"},    {4, "DRAM"},
    {5, "SRAM"},    {6, "WRAM"},     {7, "EDO RAM"}, {8, "Burst Synchronous DRAM"},
    {9, "Pipelined Burst SRAM"},     {10, "CDRAM"},  {11, "3DRAM"},
    {12, "SDRAM"},  {13, "SGRAM"},
};

constexpr CodeEntry kScanMode[] = {{1, "Other"}, {2, "Unknown"}, {3, "Interlaced"}, {4, "Non Interlaced"}};

// Pointing devices ------------------------------------------------------------

constexpr CodeEntry kDeviceInterface[] = {
    {1, "Other"},
    {2, "Unknown"},
    {3, "Serial"},
    {4, "PS/2"},
    {5, "Infrared"},
    {6, "HP-HIL"},
    {7, "Bus mouse"},
    {8, "ADB (Apple Desktop Bus)"},
    {160, "Bus mouse DB-9"},
    {161, "Bus mouse micro-DIN"},
    {162, "USB"},
};

constexpr CodeEntry kHandedness[] = {
    {0, "Unknown"}, {1, "Not Applicable"}, {2, "Right Handed Operation"}, {3, "Left Handed Operation"},
};

// 6 has no text of its own.
constexpr CodeEntry kPointingType[] = {
    {1, "Other"},       {2, "Unknown"},     {3, "Mouse"},        {4, "Track Ball"},
    {5, "Track Point"}, {7, "Touch Pad"},   {8, "Touch Screen"}, {9, "Mouse - Optical Sensor"},
};

}  // namespace

std::string GetFamily(const wmi::Property& objProperty, ArrayRowSink&, std::string_view, std::string_view) {
    return SuffixForm(objProperty, kFamily, Fallback::None);
}

std::string GetArchitecture(const wmi::Property& objProperty, ArrayRowSink&, std::string_view,
                            std::string_view) {
    return SuffixForm(objProperty, kArchitecture, Fallback::Value);
}

std::string GetCpuStatus(const wmi::Property& objProperty, ArrayRowSink&, std::string_view, std::string_view) {
    return SuffixForm(objProperty, kCpuStatus, Fallback::Value);
}

std::string GetProcessorType(const wmi::Property& objProperty, ArrayRowSink&, std::string_view,
                             std::string_view) {
    return SuffixForm(objProperty, kProcessorType, Fallback::None);
}

std::string GetUpgradeMethod(const wmi::Property& objProperty, ArrayRowSink&, std::string_view,
                             std::string_view) {
    return SuffixForm(objProperty, kUpgradeMethod, Fallback::None);
}

std::string GetVoltageCaps(const wmi::Property& objProperty, ArrayRowSink&, std::string_view, std::string_view) {
    return SuffixForm(objProperty, kVoltageCaps, Fallback::None);
}

std::string GetBiosCharacteristics(const wmi::Property& objProperty, ArrayRowSink& rows,
                                   std::string_view strItemKey, std::string_view strItemText) {
    return ArrayRows(objProperty, rows, strItemKey, strItemText,
                     {ElementForm::Paren, kBiosCharacteristics, Fallback::None, ArrayResult::ElementText});
}

std::string GetChassisBootupState(const wmi::Property& objProperty, ArrayRowSink&, std::string_view,
                                  std::string_view) {
    return SuffixForm(objProperty, kChassisBootupState, Fallback::Value);
}

std::string GetPowerSupplyState(const wmi::Property& objProperty, ArrayRowSink&, std::string_view,
                                std::string_view) {
    return SuffixForm(objProperty, kHealthState, Fallback::None);
}

std::string GetThermalState(const wmi::Property& objProperty, ArrayRowSink&, std::string_view,
                            std::string_view) {
    return SuffixForm(objProperty, kHealthState, Fallback::None);
}

std::string GetPasswordStatus(const wmi::Property& objProperty, ArrayRowSink&, std::string_view,
                              std::string_view) {
    return SuffixForm(objProperty, kPasswordStatus, Fallback::Value);
}

std::string GetAdminPasswordStatus(const wmi::Property& objProperty, ArrayRowSink&, std::string_view,
                                   std::string_view) {
    return SuffixForm(objProperty, kPasswordStatus, Fallback::None);
}

std::string GetResetCapability(const wmi::Property& objProperty, ArrayRowSink&, std::string_view,
                               std::string_view) {
    return SuffixForm(objProperty, kResetCapability, Fallback::None);
}

std::string GetWakeUpType(const wmi::Property& objProperty, ArrayRowSink&, std::string_view, std::string_view) {
    return SuffixForm(objProperty, kWakeUpType, Fallback::Value);
}

std::string GetChemistry(const wmi::Property& objProperty, ArrayRowSink&, std::string_view, std::string_view) {
    return SuffixForm(objProperty, kChemistry, Fallback::None);
}

std::string GetBatteryStatus(const wmi::Property& objProperty, ArrayRowSink&, std::string_view,
                             std::string_view) {
    return SuffixForm(objProperty, kBatteryStatus, Fallback::None);
}

std::string GetVideoArchitecture(const wmi::Property& objProperty, ArrayRowSink&, std::string_view,
                                 std::string_view) {
    return SuffixForm(objProperty, kVideoArchitecture, Fallback::Value);
}

std::string GetVideoMemoryType(const wmi::Property& objProperty, ArrayRowSink&, std::string_view,
                               std::string_view) {
    return SuffixForm(objProperty, kVideoMemoryType, Fallback::Value);
}

std::string GetScanMode(const wmi::Property& objProperty, ArrayRowSink&, std::string_view, std::string_view) {
    return SuffixForm(objProperty, kScanMode, Fallback::Value);
}

std::string GetDeviceInterface(const wmi::Property& objProperty, ArrayRowSink&, std::string_view,
                               std::string_view) {
    return SuffixForm(objProperty, kDeviceInterface, Fallback::None);
}

std::string GetHandedness(const wmi::Property& objProperty, ArrayRowSink&, std::string_view, std::string_view) {
    return SuffixForm(objProperty, kHandedness, Fallback::None);
}

std::string GetPointingType(const wmi::Property& objProperty, ArrayRowSink&, std::string_view,
                            std::string_view) {
    return SuffixForm(objProperty, kPointingType, Fallback::None);
}

}  // namespace kestrane
