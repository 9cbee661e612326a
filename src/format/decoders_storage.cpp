// Drives, media, controllers, buses, DMA channels, interrupts, memory,
// caches, slots, ports and on-board devices.
#include "format/decoder_kinds.h"
#include "format/decoders.h"

namespace kestrane {

using namespace decode;

namespace {

// Drives and media ----------------------------------------------------------

constexpr CodeEntry kDriveType[] = {
    {0, "Unknown("},        {1, "No Root Directory("}, {2, "Removable Disk("}, {3, "Local Disk("},
    {4, "Network Drive("}, {5, "Compact Disc("},      {6, "RAM Disk("},
};

// The texts are the management schema's own, odd spacing included.
constexpr CodeEntry kMediaType[] = {
    {0, "Format is unknown("},
    {1, "51/4-Inch Floppy Disk - 1.2Mb - 512 bytes/sector("},
    {2, "31/2-Inch Floppy Disk - 1.44Mb -512 bytes/sector("},
    {3, "31/2-Inch Floppy Disk - 2.88Mb - 512 bytes/sector("},
    {4, "31/2-Inch Floppy Disk - 20.8Mb - 512 bytes/sector("},
    {5, "31/2-Inch Floppy Disk - 720Kb - 512 bytes/sector("},
    {6, "51/4-Inch Floppy Disk - 360Kb - 512 bytes/sector("},
    {7, "51/4-Inch Floppy Disk - 320Kb - 512 bytes/sector("},
    {8, "51/4-Inch Floppy Disk - 320Kb - 1024 bytes/sector("},
    {9, "51/4-Inch Floppy Disk - 180Kb - 512 bytes/sector("},
    {10, "51/4-Inch Floppy Disk - 160Kb - 512 bytes/sector("},
    {11, "Removable media other than floppy("},
    {12, "Fixed hard disk media("},
    {13, "31/2-Inch Floppy Disk - 120Mb - 512 bytes/sector("},
    {14, "31/2-Inch Floppy Disk - 640Kb - 512 bytes/sector("},
    {15, "51/4-Inch Floppy Disk - 640Kb - 512 bytes/sector("},
    {16, "51/4-Inch Floppy Disk - 720Kb - 512 bytes/sector("},
    {17, "31/2-Inch Floppy Disk - 1.2Mb - 512 bytes/sector("},
    {18, "31/2-Inch Floppy Disk - 1.23Mb - 1024 bytes/sector("},
    {19, "51/4-Inch Floppy Disk - 1.23Mb - 1024 bytes/sector("},
    {20, "31/2-Inch Floppy Disk - 128Mb - 512 bytes/sector("},
    {21, "31/2-Inch Floppy Disk - 230Mb - 512 bytes/sector("},
    {22, "8-Inch Floppy Disk - 256Kb - 128 bytes/sector("},
};

// Controllers and buses -----------------------------------------------------

constexpr std::string_view kProtocolTexts[] = {
    "Other",
    "Unknown",
    "EISA",
    "ISA",
    "PCI",
    "ATA/ATAPI",
    "Flexible Diskette",
    "1496",
    "SCSI Parallel Interface",
    "SCSI Fibre Channel Protocol",
    "SCSI Serial Bus Protocol",
    "SCSI Serial Bus Protocol-2 (1394)",
    "SCSI Serial Storage Architecture",
    "VESA",
    "PCMCIA",
    "Universal Serial Bus",
    "Parallel Protocol",
    "ESCON",
    "Diagnostic",
    "I2C",
    "Power",
    "HIPPI",
    "MultiBus",
    "VME",
    "IPI",
    "IEEE-488",
    "RS232",
    "IEEE 802.3 10BASE5",
    "IEEE 802.3 10BASE2",
    "IEEE 802.3 1BASE5",
    "IEEE 802.3 10BROAD36",
    "IEEE 802.3 100BASEVG",
    "IEEE 802.5 Token-Ring",
    "ANSI X3T9.5 FDDI",
    "MCA",
    "ESDI",
    "IDE",
    "CMD",
    "ST506",
    "DSSI",
    "QIC2",
    "Enhanced ATA/IDE",
    "AGP",
    "TWIRP (two-way infrared)",
    "FIR (fast infrared)",
    "SIR",
    "IrBus",
};
constexpr auto kProtocolSupported = Consecutive(1, kProtocolTexts);

constexpr CodeEntry kBusType[] = {
    {-1, "Undefined"},   {0, "Internal"},          {1, "ISA"},
    {2, "EISA"},         {3, "MicroChannel"},      {4, "TurboChannel"},
    {5, "PCI Bus"},      {6, "VME Bus"},           {7, "NuBus"},
    {8, "PCMCIA Bus"},   {9, "C Bus"},             {10, "MPI Bus"},
    {11, "MPSA Bus"},    {12, "Internal Processor"}, {13, "Internal Power Bus"},
    {14, "PNP ISA Bus"}, {15, "PNP Bus"},          {16, "Maximum Interface Type"},
};

// DMA channels --------------------------------------------------------------

constexpr CodeEntry kByteMode[] = {
    {1, "Other"},
    {2, "Unknown"},
    {3, "Not execute in 'count by byte' mode"},
    {4, "Execute in 'count by byte' mode"},
};

constexpr CodeEntry kChannelTiming[] = {
    {1, "Other"}, {2, "Unknown"}, {3, "ISA Compatible"}, {4, "Type A"}, {5, "Type B"}, {6, "Type F"},
};

constexpr CodeEntry kTypeCTiming[] = {
    {1, "Other"}, {2, "Unknown"}, {3, "ISA Compatible"}, {4, "Not Supported"}, {5, "Supported"},
};

constexpr CodeEntry kWordMode[] = {
    {1, "Other"},
    {2, "Unknown"},
    {3, "Not execute in 'count by word' mode"},
    {4, "Execute in 'count by word' mode"},
};

// Interrupt lines -----------------------------------------------------------

constexpr CodeEntry kTriggerType[] = {{1, "Other"}, {2, "Unknown"}, {3, "Level"}, {4, "Edge"}};

constexpr CodeEntry kTriggerLevel[] = {{1, "Other"}, {2, "Unknown"}, {3, "Active Low"}, {4, "Active High"}};

// Memory modules and arrays ---------------------------------------------------

constexpr CodeEntry kFormFactor[] = {
    {0, "Unknown"}, {1, "Other"}, {2, "SIP"},   {3, "DIP"},   {4, "ZIP"},   {5, "SOJ"},    {6, "Proprietary"},
    {7, "SIMM"},    {8, "DIMM"},  {9, "TSOP"},  {10, "PGA"},  {11, "RIMM"}, {12, "SODIMM"},
    {13, "SRIMM"},  {14, "SMD"},  {15, "SSMP"}, {16, "QFP"},  {17, "TQFP"}, {18, "SOIC"},
    {19, "LCC"},    {20, "PLCC"}, {21, "BGA"},  {22, "FPBGA"}, {23, "LGA"},
};

constexpr CodeEntry kInterleavePosition[] = {
    {0, "Non-interleaved"}, {1, "First position"}, {2, "Second position"},
};

// 19 has no text of its own.
constexpr CodeEntry kMemoryType[] = {
    {0, "Unknown"},  {1, "Other"},   {2, "DRAM"},    {3, "Synchronous DRAM"}, {4, "Cache DRAM"},
    {5, "EDO"},      {6, "EDRAM"},   {7, "VRAM"},    {8, "SRAM"},             {9, "RAM"},
    {10, "ROM"},     {11, "Flash"},  {12, "EEPROM"}, {13, "FEPROM"},          {14, "EPROM"},
    {15, "CDRAM"},   {16, "3DRAM"},  {17, "SDRAM"},  {18, "SGRAM"},           {19, "RDRAM"},
    {20, "DDRAM"},   {21, "DDR2"},   {22, "DDR2 FB-DIMM"}, {24, "DDR3"},      {25, "FBD2"},
    {26, "DDR4"},
};

// The SMBIOS memory device types (Type 17) WMI passes on: the class
// reference's list, then those SMBIOS 3 added.
constexpr CodeEntry kSmbiosMemoryType[] = {
    {0, "Unknown"},  {1, "Other"},   {2, "DRAM"},    {3, "Synchronous DRAM"}, {4, "Cache DRAM"},
    {5, "EDO"},      {6, "EDRAM"},   {7, "VRAM"},    {8, "SRAM"},             {9, "RAM"},
    {10, "ROM"},     {11, "Flash"},  {12, "EEPROM"}, {13, "FEPROM"},          {14, "EPROM"},
    {15, "CDRAM"},   {16, "3DRAM"},  {17, "SDRAM"},  {18, "SGRAM"},           {19, "RDRAM"},
    {20, "DDR"},     {21, "DDR2"},   {22, "DDR2 FB-DIMM"}, {24, "DDR3"},      {25, "FBD2"},
    {26, "DDR4"},    {27, "LPDDR"},  {28, "LPDDR2"}, {29, "LPDDR3"},          {30, "LPDDR4"},
    {31, "Logical non-volatile device"}, {32, "HBM"}, {33, "HBM2"},           {34, "DDR5"},
    {35, "LPDDR5"},  {36, "HBM3"},
};

// Single bits, each compared with the whole value.
constexpr CodeEntry kTypeDetail[] = {
    {1, "Reserved"},       {2, "Other"},          {4, "Unknown"},     {8, "Fast-paged"},
    {16, "Static column"}, {32, "Pseudo-static"}, {64, "RAMBUS"},     {128, "Synchronous"},
    {256, "CMOS"},         {512, "EDO"},          {1024, "Window DRAM"}, {2048, "Cache DRAM"},
    {4096, "Non-volatile"},
};

constexpr CodeEntry kUse[] = {
    {0, "Reserved"},      {1, "Other"},        {2, "Unknown"},          {3, "System memory"},
    {4, "Video memory"},  {5, "Flash memory"}, {6, "Non-volatile RAM"}, {7, "Cache memory"},
};

constexpr CodeEntry kLocation[] = {
    {0, "Reserved"},
    {1, "Other"},
    {2, "Unknown"},
    {3, "System board or motherboard"},
    {4, "ISA add-on card"},
    {5, "EISA add-on card"},
    {6, "PCI add-on card"},
    {7, "MCA add-on card"},
    {8, "PCMCIA add-on card"},
    {9, "Proprietary add-on card"},
    {10, "NuBus"},
    {11, "PC-98/C20 add-on card"},
    {12, "PC-98/C24 add-on card"},
    {13, "PC-98/E add-on card"},
    {14, "PC-98/Local bus add-on card"},
};

constexpr CodeEntry kCacheLocation[] = {
    {0, "Internal"}, {1, "External"}, {2, "Reserved"}, {3, "Unknown"},
};

constexpr CodeEntry kErrorCorrectType[] = {
    {0, "Reserved"}, {1, "Other"},          {2, "Unknown"},        {3, "None"},
    {4, "Parity"},   {5, "Single-bit ECC"}, {6, "Multi-bit ECC"},
};

// Caches --------------------------------------------------------------------

constexpr CodeEntry kCacheType[] = {
    {1, "Other"}, {2, "Unknown"}, {3, "Instruction"}, {4, "Data"}, {5, "Unified"},
};

constexpr CodeEntry kLevel[] = {
    {1, "Other"}, {2, "Unknown"}, {3, "Primary"}, {4, "Secondary"}, {5, "Tertiary"}, {6, "Not Applicable"},
};

constexpr CodeEntry kWritePolicy[] = {
    {1, "Other"}, {2, "Unknown"}, {3, "Write Back"}, {4, "Write Through"}, {5, "Varies with Address"},
    {6, "Determination Per I/O"},
};

constexpr CodeEntry kAssociativity[] = {
    {1, "Other"},
    {2, "Unknown"},
    {3, "Direct Mapped"},
    {4, "2-way Set-Associative"},
    {5, "4-way Set-Associative"},
    {6, "Fully Associative"},
    {7, "8-way Set-Associative"},
    {8, "16-way Set-Associative"},
};

constexpr CodeEntry kSRAMType[] = {
    {0, "Other"},          {1, "Unknown"},     {2, "Non-Burst"},    {3, "Burst"},
    {4, "Pipeline Burst"}, {5, "Synchronous"}, {6, "Asynchronous"},
};

// Slots, ports and on-board devices -----------------------------------------

constexpr CodeEntry kMixedVoltageSupport[] = {{0, "Unknown"}, {1, "Other"}, {2, "3.3 V"}, {3, "5 V"}};

// Connector kinds; ports number the same list from 1.
constexpr std::string_view kConnectorTexts[] = {
    "Unknown",
    "Other",
    "Male",
    "Female",
    "Shielded",
    "Unshielded",
    "SCSI (A) High-Density (50 pins)",
    "SCSI (A) Low-Density (50 pins)",
    "SCSI (P) High-Density (68 pins)",
    "SCSI SCA-I (80 pins)",
    "SCSI SCA-II (80 pins)",
    "SCSI Fibre Channel (DB-9, Copper)",
    "SCSI Fibre Channel (Fibre)",
    "SCSI Fibre Channel SCA-II (40 pins)",
    "SCSI Fibre Channel SCA-II (20 pins)",
    "SCSI Fibre Channel BNC",
    "ATA 3-1/2 Inch (40 pins)",
    "ATA 2-1/2 Inch (44 pins)",
    "ATA-2",
    "ATA-3",
    "ATA/66",
    "DB-9",
    "DB-15",
    "DB-25",
    "DB-36",
    "RS-232C",
    "RS-422",
    "RS-423",
    "RS-485",
    "RS-449",
    "V.35",
    "X.21",
    "IEEE-488",
    "AUI",
    "UTP Category 3",
    "UTP Category 4",
    "UTP Category 5",
    "BNC",
    "RJ11",
    "RJ45",
    "Fiber MIC",
    "Apple AUI",
    "Apple GeoPort",
    "PCI",
    "ISA",
    "EISA",
    "VESA",
    "PCMCIA",
    "PCMCIA Type I",
    "PCMCIA Type II",
    "PCMCIA Type III",
    "ZV Port",
    "CardBus",
    "USB",
    "IEEE 1394",
    "HIPPI",
    "HSSDC (6 pins)",
    "GBIC",
    "DIN",
    "Mini-DIN",
    "Micro-DIN",
    "PS/2",
    "Infrared",
    "HP-HIL",
    "Access.bus",
    "NuBus",
    "Centronics",
    "Mini-Centronics",
    "Mini-Centronics Type-14",
    "Mini-Centronics Type-20",
    "Mini-Centronics Type-26",
    "Bus Mouse",
    "ADB",
    "AGP",
    "VME Bus",
    "VME64",
    "Proprietary",
    "Proprietary Processor Card Slot",
    "Proprietary Memory Card Slot",
    "Proprietary I/O Riser Slot",
    "PCI-66MHZ",
    "AGP2X",
    "AGP4X",
};
// Connector kinds the class reference added later; ports have no such codes.
constexpr std::string_view kLaterConnectorTexts[] = {
    "PC-98",
    "PC-98Hireso",
    "PC-H98",
    "PC-98Note",
    "PC-98Full",
    "Mini-Jack",
    "On Board Floppy",
    "9 Pin Dual Inline (pin 10 cut)",
    "25 Pin Dual Inline (pin 26 cut)",
    "50 Pin Dual Inline",
    "68 Pin Dual Inline",
    "On Board Sound Input from CD-ROM",
};
constexpr std::size_t kConnectorCount = std::size(kConnectorTexts);
constexpr auto kConnectorType = Join(Consecutive(0, kConnectorTexts),
                                     Consecutive(static_cast<std::int32_t>(kConnectorCount), kLaterConnectorTexts));
constexpr CodeEntry kNoPort[] = {{0, "None"}};
constexpr auto kPortType = Join(std::to_array(kNoPort), Consecutive(1, kConnectorTexts));

constexpr CodeEntry kCurrentUsage[] = {
    {0, "Reserved"}, {1, "Other"}, {2, "Unknown"}, {3, "Available"}, {4, "In use"},
};

constexpr CodeEntry kDeviceType[] = {
    {1, "Other"}, {2, "Unknown"}, {3, "Video"}, {4, "SCSI Controller"}, {5, "Ethernet"}, {6, "Token Ring"},
    {7, "Sound"},
};

}  // namespace

std::string GetDriveType(const wmi::Property& objProperty, ArrayRowSink&, std::string_view, std::string_view) {
    return ParenForm(objProperty, kDriveType);
}

std::string GetMediaType(const wmi::Property& objProperty, ArrayRowSink&, std::string_view, std::string_view) {
    return ParenForm(objProperty, kMediaType);
}

std::string GetProtocolSupported(const wmi::Property& objProperty) {
    return SuffixForm(objProperty, kProtocolSupported, Fallback::None);
}

std::string GetBusType(const wmi::Property& objProperty, ArrayRowSink&, std::string_view, std::string_view) {
    return SuffixForm(objProperty, kBusType, Fallback::None);
}

std::string GetByteMode(const wmi::Property& objProperty, ArrayRowSink&, std::string_view, std::string_view) {
    return SuffixForm(objProperty, kByteMode, Fallback::None);
}

std::string GetChannelTiming(const wmi::Property& objProperty, ArrayRowSink&, std::string_view,
                             std::string_view) {
    return SuffixForm(objProperty, kChannelTiming, Fallback::None);
}

std::string GetTypeCTiming(const wmi::Property& objProperty, ArrayRowSink&, std::string_view, std::string_view) {
    return SuffixForm(objProperty, kTypeCTiming, Fallback::None);
}

std::string GetWordMode(const wmi::Property& objProperty, ArrayRowSink&, std::string_view, std::string_view) {
    return SuffixForm(objProperty, kWordMode, Fallback::None);
}

std::string GetTriggerType(const wmi::Property& objProperty, ArrayRowSink&, std::string_view, std::string_view) {
    return SuffixForm(objProperty, kTriggerType, Fallback::None);
}

std::string GetTriggerLevel(const wmi::Property& objProperty, ArrayRowSink&, std::string_view,
                            std::string_view) {
    return SuffixForm(objProperty, kTriggerLevel, Fallback::None);
}

std::string GetFormFactor(const wmi::Property& objProperty, ArrayRowSink&, std::string_view, std::string_view) {
    return SuffixForm(objProperty, kFormFactor, Fallback::None);
}

std::string GetInterleavePosition(const wmi::Property& objProperty, ArrayRowSink&, std::string_view,
                                  std::string_view) {
    return SuffixForm(objProperty, kInterleavePosition, Fallback::None);
}

std::string GetMemoryType(const wmi::Property& objProperty, ArrayRowSink&, std::string_view, std::string_view) {
    return SuffixForm(objProperty, kMemoryType, Fallback::None);
}

std::string GetSmbiosMemoryType(const wmi::Property& objProperty, ArrayRowSink&, std::string_view, std::string_view) {
    return SuffixForm(objProperty, kSmbiosMemoryType, Fallback::None);
}

std::string GetTypeDetail(const wmi::Property& objProperty, ArrayRowSink&, std::string_view, std::string_view) {
    return SuffixForm(objProperty, kTypeDetail, Fallback::None);
}

std::string GetUse(const wmi::Property& objProperty, ArrayRowSink&, std::string_view, std::string_view) {
    return SuffixForm(objProperty, kUse, Fallback::None);
}

std::string GetLocation(const wmi::Property& objProperty, ArrayRowSink&, std::string_view, std::string_view) {
    return SuffixForm(objProperty, kLocation, Fallback::None);
}

std::string GetCacheLocation(const wmi::Property& objProperty, ArrayRowSink&, std::string_view, std::string_view) {
    return SuffixForm(objProperty, kCacheLocation, Fallback::None);
}

std::string GetErrorCorrectType(const wmi::Property& objProperty, ArrayRowSink&, std::string_view,
                                std::string_view) {
    return SuffixForm(objProperty, kErrorCorrectType, Fallback::None);
}

std::string GetCacheType(const wmi::Property& objProperty, ArrayRowSink&, std::string_view, std::string_view) {
    return SuffixForm(objProperty, kCacheType, Fallback::None);
}

std::string GetLevel(const wmi::Property& objProperty, ArrayRowSink&, std::string_view, std::string_view) {
    return SuffixForm(objProperty, kLevel, Fallback::None);
}

std::string GetWritePolicy(const wmi::Property& objProperty, ArrayRowSink&, std::string_view, std::string_view) {
    return SuffixForm(objProperty, kWritePolicy, Fallback::None);
}

std::string GetAssociativity(const wmi::Property& objProperty, ArrayRowSink&, std::string_view,
                             std::string_view) {
    return SuffixForm(objProperty, kAssociativity, Fallback::Value);
}

std::string GetSRAMType(const wmi::Property& objProperty, ArrayRowSink& rows, std::string_view strItemKey,
                        std::string_view strItemText) {
    return ArrayRows(objProperty, rows, strItemKey, strItemText,
                     {ElementForm::Suffix, kSRAMType, Fallback::Value, ArrayResult::Label});
}

std::string GetMixedVoltageSupport(const wmi::Property& objProperty, ArrayRowSink& rows,
                                   std::string_view strItemKey, std::string_view strItemText) {
    return ArrayRows(objProperty, rows, strItemKey, strItemText,
                     {ElementForm::Suffix, kMixedVoltageSupport, Fallback::None, ArrayResult::Label});
}

std::string GetConnectorType(const wmi::Property& objProperty, ArrayRowSink& rows, std::string_view strItemKey,
                             std::string_view strItemText) {
    return ArrayRows(objProperty, rows, strItemKey, strItemText,
                     {ElementForm::Suffix, kConnectorType, Fallback::None, ArrayResult::ElementText});
}

std::string GetPortType(const wmi::Property& objProperty, ArrayRowSink&, std::string_view, std::string_view) {
    return SuffixForm(objProperty, kPortType, Fallback::None);
}

std::string GetCurrentUsage(const wmi::Property& objProperty, ArrayRowSink&, std::string_view,
                            std::string_view) {
    return SuffixForm(objProperty, kCurrentUsage, Fallback::None);
}

std::string GetDeviceType(const wmi::Property& objProperty, ArrayRowSink&, std::string_view, std::string_view) {
    return SuffixForm(objProperty, kDeviceType, Fallback::None);
}

}  // namespace kestrane
