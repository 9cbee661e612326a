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
    {20, "Intel(R) Celeron(R) M processor"},
    {21, "Intel(R) Pentium(R) 4 HT processor"},
    {24, "K5 Family"},
    {25, "K6 Family"},
    {26, "K6-2"},
    {27, "K6-III"},
    {28, "Athlon"},
    {29, "AMD(R) Duron(TM) Processor"},
    {30, "AMD29000 Family"},
    {31, "K6-2+"},
    {32, "Power PC Family"},
    {33, "Power PC 601"},
    {34, "Power PC 603"},
    {35, "Power PC 603+"},
    {36, "Power PC 604"},
    {37, "Power PC 620"},
    {38, "Power PC X704"},
    {39, "Power PC 750"},
    {40, "Intel(R) Core(TM) Duo processor"},
    {41, "Intel(R) Core(TM) Duo mobile processor"},
    {42, "Intel(R) Core(TM) Solo mobile processor"},
    {43, "Intel(R) Atom(TM) processor"},
    {48, "Alpha Family"},
    {49, "Alpha 21064"},
    {50, "Alpha 21066"},
    {51, "Alpha 21164"},
    {52, "Alpha 21164PC"},
    {53, "Alpha 21164a"},
    {54, "Alpha 21264"},
    {55, "Alpha 21364"},
    {56, "AMD Turion(TM) II Ultra Dual-Core Mobile M Processor Family"},
    {57, "AMD Turion(TM) II Dual-Core Mobile M Processor Family"},
    {58, "AMD Athlon(TM) II Dual-Core Mobile M Processor Family"},
    {59, "AMD Opteron(TM) 6100 Series Processor"},
    {60, "AMD Opteron(TM) 4100 Series Processor"},
    {64, "MIPS Family"},
    {65, "MIPS R4000"},
    {66, "MIPS R4200"},
    {67, "MIPS R4400"},
    {68, "MIPS R4600"},
    {69, "MIPS R10000"},
    {80, "SPARC Family"},
    {81, "SuperSPARC"},
    {82, "microSPARC II"},
    {83, "microSPARC IIep"},
    {84, "UltraSPARC"},
    {85, "UltraSPARC II"},
    {86, "UltraSPARC IIi"},
    {87, "UltraSPARC III"},
    {88, "UltraSPARC IIIi"},
    {96, "68040"},
    {97, "68xxx Family"},
    {98, "68000"},
    {99, "68010"},
    {100, "68020"},
    {101, "68030"},
    {112, "Hobbit Family"},
    {120, "Crusoe(TM) TM5000 Family"},
    {121, "Crusoe(TM) TM3000 Family"},
    {122, "Efficeon(TM) TM8000 Family"},
    {128, "Weitek"},
    {130, "Itanium(TM) Processor"},
    {131, "AMD Athlon(TM) 64 Processor Family"},
    {132, "AMD Opteron(TM) Processor Family"},
    {133, "AMD Sempron(TM) Processor Family"},
    {134, "AMD Turion(TM) 64 Mobile Technology"},
    {135, "Dual-Core AMD Opteron(TM) Processor Family"},
    {136, "AMD Athlon(TM) 64 X2 Dual-Core Processor Family"},
    {137, "AMD Turion(TM) 64 X2 Mobile Technology"},
    {138, "Quad-Core AMD Opteron(TM) Processor Family"},
    {139, "Third-Generation AMD Opteron(TM) Processor Family"},
    {140, "AMD Phenom(TM) FX Quad-Core Processor Family"},
    {141, "AMD Phenom(TM) X4 Quad-Core Processor Family"},
    {142, "AMD Phenom(TM) X2 Dual-Core Processor Family"},
    {143, "AMD Athlon(TM) X2 Dual-Core Processor Family"},
    {144, "PA-RISC Family"},
    {145, "PA-RISC 8500"},
    {146, "PA-RISC 8000"},
    {147, "PA-RISC 7300LC"},
    {148, "PA-RISC 7200"},
    {149, "PA-RISC 7100LC"},
    {150, "PA-RISC 7100"},
    {160, "V30 Family"},
    {161, "Quad-Core Intel(R) Xeon(R) processor 3200 Series"},
    {162, "Dual-Core Intel(R) Xeon(R) processor 3000 Series"},
    {163, "Quad-Core Intel(R) Xeon(R) processor 5300 Series"},
    {164, "Dual-Core Intel(R) Xeon(R) processor 5100 Series"},
    {165, "Dual-Core Intel(R) Xeon(R) processor 5000 Series"},
    {166, "Dual-Core Intel(R) Xeon(R) processor LV"},
    {167, "Dual-Core Intel(R) Xeon(R) processor ULV"},
    {168, "Dual-Core Intel(R) Xeon(R) processor 7100 Series"},
    {169, "Quad-Core Intel(R) Xeon(R) processor 5400 Series"},
    {170, "Quad-Core Intel(R) Xeon(R) processor"},
    {171, "Dual-Core Intel(R) Xeon(R) processor 5200 Series"},
    {172, "Dual-Core Intel(R) Xeon(R) processor 7200 Series"},
    {173, "Quad-Core Intel(R) Xeon(R) processor 7300 Series"},
    {174, "Quad-Core Intel(R) Xeon(R) processor 7400 Series"},
    {175, "Multi-Core Intel(R) Xeon(R) processor 7400 Series"},
    {176, "Pentium III Xeon"},
    {177, "Pentium(R) III Processor with Intel(R) SpeedStep(TM) Technology"},
    {178, "Pentium(R) 4"},
    {179, "Intel(R) Xeon(TM)"},
    {180, "AS400 Family"},
    {181, "Intel(R) Xeon(TM) processor MP"},
    {182, "AMD Athlon(TM) XP Family"},
    {183, "AMD Athlon(TM) MP Family"},
    {184, "Intel(R) Itanium(R) 2"},
    {185, "Intel(R) Pentium(R) M processor"},
    {186, "Intel(R) Celeron(R) D processor"},
    {187, "Intel(R) Pentium(R) D processor"},
    {188, "Intel(R) Pentium(R) Processor Extreme Edition"},
    {189, "Intel(R) Core(TM) Solo Processor"},
    {190, "K7"},
    {191, "Intel(R) Core(TM)2 Duo Processor"},
    {192, "Intel(R) Core(TM)2 Solo processor"},
    {193, "Intel(R) Core(TM)2 Extreme processor"},
    {194, "Intel(R) Core(TM)2 Quad processor"},
    {195, "Intel(R) Core(TM)2 Extreme mobile processor"},
    {196, "Intel(R) Core(TM)2 Duo mobile processor"},
    {197, "Intel(R) Core(TM)2 Solo mobile processor"},
    {198, "Intel(R) Core(TM) i7 processor"},
    {199, "Dual-Core Intel(R) Celeron(R) Processor"},
    {200, "IBM390 Family"},
    {201, "ESA/390 G4"},
    {202, "ESA/390 G5"},
    {203, "ESA/390 G6"},
    {204, "z/Architectur base"},
    {205, "Intel(R) Core(TM) i5 processor"},
    {206, "Intel(R) Core(TM) i3 processor"},
    {207, "Intel(R) Core(TM) i9 processor"},
    {210, "VIA C7(TM)-M Processor Family"},
    {211, "VIA C7(TM)-D Processor Family"},
    {212, "VIA C7(TM) Processor Family"},
    {213, "VIA Eden(TM) Processor Family"},
    {214, "Multi-Core Intel(R) Xeon(R) processor"},
    {215, "Dual-Core Intel(R) Xeon(R) processor 3xxx Series"},
    {216, "Quad-Core Intel(R) Xeon(R) processor 3xxx Series"},
    {217, "VIA Nano(TM) Processor Family"},
    {218, "Dual-Core Intel(R) Xeon(R) processor 5xxx Series"},
    {219, "Quad-Core Intel(R) Xeon(R) processor 5xxx Series"},
    {221, "Dual-Core Intel(R) Xeon(R) processor 7xxx Series"},
    {222, "Quad-Core Intel(R) Xeon(R) processor 7xxx Series"},
    {223, "Multi-Core Intel(R) Xeon(R) processor 7xxx Series"},
    {224, "Multi-Core Intel(R) Xeon(R) processor 3400 Series"},
    {230, "Embedded AMD Opteron(TM) Quad-Core Processor Family"},
    {231, "AMD Phenom(TM) Triple-Core Processor Family"},
    {232, "AMD Turion(TM) Ultra Dual-Core Mobile Processor Family"},
    {233, "AMD Turion(TM) Dual-Core Mobile Processor Family"},
    {234, "AMD Athlon(TM) Dual-Core Processor Family"},
    {235, "AMD Sempron(TM) SI Processor Family"},
    {236, "AMD Phenom(TM) II Processor Family"},
    {237, "AMD Athlon(TM) II Processor Family"},
    {238, "Six-Core AMD Opteron(TM) Processor Family"},
    {239, "AMD Sempron(TM) M Processor Family"},
    {250, "i860"},
    {251, "i960"},
    {254, "Reserved (SMBIOS Extension)"},
    {255, "Reserved (Un-initialized Flash Content - Lo)"},
    {260, "SH-3"},
    {261, "SH-4"},
    {280, "ARM"},
    {281, "StrongARM"},
    {300, "6x86"},
    {301, "MediaGX"},
    {302, "MII"},
    {320, "WinChip"},
    {350, "DSP"},
    {500, "Video Processor"},
    {65534, "Reserved (For Future Special Purpose Assignment)"},
    {65535, "Reserved (Un-initialized Flash Content - Hi)"},
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
    {12, "Slot M"},    {13, "Socket 423"}, {14, "Socket A (Socket 462)"}, {15, "Socket 478"},
    {16, "Socket 754"}, {17, "Socket 940"}, {18, "Socket 939"},
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
    "Reserved for BIOS vendor(", "Reserved for BIOS vendor(", "Reserved for BIOS vendor(",
    "Reserved for BIOS vendor(", "Reserved for BIOS vendor(", "Reserved for BIOS vendor(",
    "Reserved for BIOS vendor(", "Reserved for BIOS vendor(",
    "Reserved for system vendor(", "Reserved for system vendor(", "Reserved for system vendor(",
    "Reserved for system vendor(", "Reserved for system vendor(", "Reserved for system vendor(",
    "Reserved for system vendor(", "Reserved for system vendor(", "Reserved for system vendor(",
    "Reserved for system vendor(", "Reserved for system vendor(", "Reserved for system vendor(",
    "Reserved for system vendor(", "Reserved for system vendor(", "Reserved for system vendor(",
    "Reserved for system vendor(",
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

constexpr CodeEntry kPointingType[] = {
    {1, "Other"},       {2, "Unknown"},     {3, "Mouse"},        {4, "Track Ball"},
    {5, "Track Point"}, {6, "Glide Point"}, {7, "Touch Pad"},   {8, "Touch Screen"}, {9, "Mouse - Optical Sensor"},
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
