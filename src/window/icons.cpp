#include "window/icons.h"

#include <algorithm>

namespace kestrane::window {

namespace {

// Drawn pictures are grouped by colour so that related keys look related.
constexpr IconPicture kPictures[] = {
        {"Crest", "computer", "K", 0x1f5f99, "the program's crest"},
        {"CDDrive", "drive-optical", "CD", 0x6d6d6d, "an optical disc drive"},
        {"BlueChip", nullptr, "IRQ", 0x2b6cb0, "an interrupt line (IRQ)"},
        {"Info2", "dialog-information", "i", 0x2f855a, "information (details)"},
        {"Info1", "dialog-information", "i", 0x38a169, "information"},
        {"Slot", nullptr, "SL", 0x805ad5, "an expansion slot"},
        {"Computer", "computer", "PC", 0x1f5f99, "a computer"},
        {"MotherBoard", nullptr, "MB", 0x276749, "a motherboard"},
        {"Startup", "system-run", "SU", 0xb7791f, "a program run at start-up"},
        {"PCMCIA", "media-flash", "PC", 0x805ad5, "a PC Card slot"},
        {"Driver", nullptr, "DR", 0x4a5568, "a device driver"},
        {"Info", nullptr, "\xE2\x80\xA2", 0x3182ce, "a property (bullet)"},
        {"Registry", nullptr, "RG", 0x9b2c2c, "the registry"},
        {"NoInfo", "dialog-warning", "!", 0xc05621, "no information (warning)"},
        {"Zone", "preferences-system-time", "TZ", 0x2c7a7b, "a time zone"},
        {"Processor", nullptr, "CPU", 0x2b6cb0, "a processor"},
        {"FloppyDrive", "media-floppy", "FD", 0x6d6d6d, "a floppy disk drive"},
        {"ParallelPort", nullptr, "LPT", 0x805ad5, "a parallel port"},
        {"Group", "folder", "G", 0xb7791f, "a closed folder"},
        {"OpenGroup", "folder-open", "G", 0xd69e2e, "an open folder"},
        {"Fan", nullptr, "FN", 0x2c7a7b, "a fan"},
        {"Files", nullptr, "PF", 0x4a5568, "page files"},
        {"EventLog", "text-x-generic", "EV", 0x9c4221, "an event log"},
        {"Input", "input-keyboard", "IN", 0x553c9a, "an input device"},
        {"Refrigeration", nullptr, "RF", 0x2c7a7b, "a cooling unit"},
        {"Keyboard", "input-keyboard", "KB", 0x553c9a, "a keyboard"},
        {"PointingDevice", "input-mouse", "PT", 0x553c9a, "a pointing device"},
        {"Chip", nullptr, "IC", 0x276749, "a chip"},
        {"COM", nullptr, "COM", 0x975a16, "a COM component"},
        {"DCOM", nullptr, "DC", 0x975a16, "a DCOM application"},
        {"Printer", "printer", "PR", 0x4a5568, "a printer"},
        {"Windows", nullptr, "OS", 0x1f5f99, "the operating system"},
        {"BlueTooth", "bluetooth", "BT", 0x2b6cb0, "Bluetooth"},
        {"Service", "system-run", "SV", 0x4a5568, "a service"},
        {"Mouse", "input-mouse", "MS", 0x553c9a, "a mouse"},
        {"Modem", "modem", "MD", 0x4a5568, "a modem"},
        {"Partition", nullptr, "PT", 0x6b46c1, "a disk partition"},
        {"Partiton", nullptr, "PT", 0x6b46c1, "a disk partition"},
        {"HDD", "drive-harddisk", "HD", 0x4a5568, "a hard disk"},
        {"Battery", "battery", "BA", 0x2f855a, "a battery"},
        {"Desktop", "user-desktop", "DT", 0x2b6cb0, "the desktop"},
        {"Telephone", "phone", "TL", 0x4a5568, "a telephone"},
        {"DisplayAdapter", "video-display", "VC", 0x2c5282, "a display adapter"},
        {"Security", "security-high", "SC", 0x9b2c2c, "security (a shield)"},
        {"Dependencies", nullptr, "DP", 0x718096, "dependencies"},
        {"Device", "computer", "DV", 0x4a5568, "a device"},
        {"Font", "font-x-generic", "Aa", 0x4a5568, "a font"},
        {"Device1", nullptr, "DV", 0x2d3748, "a system device"},
        {"Infrared", nullptr, "IR", 0x9b2c2c, "an infrared port"},
        {"SCSI", nullptr, "SCS", 0x4a5568, "a SCSI controller"},
        {"USB", "media-removable", "USB", 0x2b6cb0, "a USB device"},
        {"Adapter", "network-wired", "NA", 0x2c7a7b, "a network adapter"},
        {"Power", "battery", "PW", 0xb7791f, "power"},
        {"Memory", nullptr, "RAM", 0x276749, "memory"},
        {"Sound", "audio-card", "SD", 0x805ad5, "a sound device"},
        {"Port", nullptr, "PO", 0x805ad5, "a port"},
        {"Scheduler", "x-office-calendar", "SJ", 0x2c7a7b, "a scheduled job (calendar)"},
        {"MSI", "package-x-generic", "MSI", 0x975a16, "an installer package"},
        {"Setup", "system-software-install", "AP", 0x975a16, "installed software"},
        {"ODBC", nullptr, "DB", 0x975a16, "a database driver"},
        {"MassStorage", "drive-harddisk", "MS", 0x4a5568, "mass storage"},
        {"File", "text-x-generic", "F", 0x718096, "a file"},
        {"NetworkConnection", "network-wired", "NC", 0x2c7a7b, "a network connection"},
        {"Codec", "audio-x-generic", "CO", 0x805ad5, "a codec"},
        {"Share", "folder-remote", "SH", 0xb7791f, "a shared folder"},
        {"Network", "network-workgroup", "NW", 0x2c7a7b, "a network"},
        {"StartMenu", nullptr, "SM", 0x2b6cb0, "the Start menu"},
        {"Users", "system-users", "US", 0x2f855a, "users"},
        {"PNP", nullptr, "PnP", 0x4a5568, "a plug-and-play device"},
        {"Settings", "preferences-system", "ST", 0x718096, "settings"},
        {"Process", "system-run", "PS", 0x2b6cb0, "a process"},
        {"Display", "video-display", "DS", 0x2c5282, "a display"},
        {"Connect", "network-server", "\xE2\x86\x92", 0x2f855a, "connect to a computer (arrow)"},
        {"Refresh1", "view-refresh", "\xE2\x86\xBB", 0x2b6cb0, "refresh (circular arrow)"},
        {"Exit", "application-exit", "\xC3\x97", 0x9b2c2c, "exit (a cross)"},
        {"About", "help-about", "?", 0x2b6cb0, "about (question mark)"},
        {"Exit1", "application-exit", "\xC3\x97", 0xc53030, "exit (a red cross)"},
        {"Refresh", "view-refresh", "\xE2\x86\xBB", 0x2b6cb0, "refresh (circular arrow)"},
        {"Password", "dialog-password", "PW", 0x9b2c2c, "a password"},
};

}  // namespace

std::span<const IconPicture> IconTable() { return kPictures; }

const IconPicture* FindIcon(std::string_view key) {
    auto it = std::find_if(std::begin(kPictures), std::end(kPictures),
                           [key](const IconPicture& p) { return key == p.key; });
    return it == std::end(kPictures) ? nullptr : it;
}

}  // namespace kestrane::window
