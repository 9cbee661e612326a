// Pure parsers of the text and binary formats the Linux provider reads. None
// of them touches a file: each takes the bytes and returns what they say.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace wmi::lnx {

// --- small text helpers ---
std::string Trim(std::string_view s);
std::vector<std::string> SplitWhitespace(std::string_view s);
std::vector<std::string> SplitLines(std::string_view s);
std::optional<std::int64_t> ParseInt(std::string_view s);  // decimal, whole text after trim
std::optional<std::uint64_t> ParseUInt(std::string_view s, int base = 10);
std::optional<double> ParseDouble(std::string_view s);
bool StartsWith(std::string_view s, std::string_view prefix);

// Pieces joined into one string with a single allocation ("/sys/" + a + "/b").
template <class... Parts>
std::string Cat(const Parts&... parts) {
    std::string out;
    out.reserve((std::string_view(parts).size() + ...));
    (out.append(std::string_view(parts)), ...);
    return out;
}
// "KEY=value" lines (uevent, os-release without quotes); later keys win.
std::map<std::string, std::string> ParseKeyValueLines(std::string_view text, char sep = '=');
// One key's value as ParseKeyValueLines would map it, without the map.
std::optional<std::string_view> FindKeyValue(std::string_view text, std::string_view key, char sep = '=');
// The first two whitespace-separated words of s (empty where missing).
std::pair<std::string_view, std::string_view> FirstTwoWords(std::string_view s);
// "0-3,8,10-11" as a list of numbers; empty on malformed input.
std::vector<int> ParseCpuList(std::string_view text);

// --- /proc/cpuinfo: one record per "processor" block, keys in file order ---
struct CpuInfoRecord {
    std::vector<std::pair<std::string, std::string>> fields;
    // The value of a key, or nothing.
    std::optional<std::string> get(std::string_view key) const;
};
std::vector<CpuInfoRecord> ParseCpuInfo(std::string_view text);

// --- /proc/meminfo: values as written (kB for the sized ones) ---
std::map<std::string, std::uint64_t> ParseMemInfo(std::string_view text);

// --- /proc/self/mountinfo ---
struct MountEntry {
    int id = 0;
    int parentId = 0;
    unsigned major = 0;
    unsigned minor = 0;
    std::string root;
    std::string mountPoint;
    std::string options;  // per-mount: "rw,relatime"
    std::string fsType;
    std::string source;
    std::string superOptions;
};
std::vector<MountEntry> ParseMountInfo(std::string_view text);
// Undoes the kernel's octal escapes ("\040" for a blank).
std::string UnescapeOctal(std::string_view s);
// Undoes udev's "\x20" escapes of /dev/disk/by-label names.
std::string UnescapeHex(std::string_view s);

// --- /etc/os-release: shell-style assignments, quotes removed ---
std::map<std::string, std::string> ParseOsRelease(std::string_view text);

// --- /proc/stat: boot time in seconds since the epoch ---
std::optional<std::int64_t> ParseBootTime(std::string_view procStat);

// --- /proc/stat: per-processor time counters ("cpuN" lines) ---
struct CpuBusyTimes {
    std::uint64_t busy = 0;   // user, nice, system, irq, softirq, steal
    std::uint64_t total = 0;  // busy plus idle and iowait
};
std::map<int, CpuBusyTimes> ParseCpuBusyTimes(std::string_view procStat);

// --- the first time stamp of a pacman log, "[2023-01-05T10:11:12+0100]" or
// the older "[2023-01-05 10:11]": DMTF text with the log's own offset (UTC
// for the older form, which records none) ---
std::optional<std::string> ParsePacmanLogStart(std::string_view text);

// --- /proc/filesystems: the names marked "nodev" ---
std::set<std::string> ParseNodevFileSystems(std::string_view text);

// --- DMI dates "MM/DD/YYYY" (two-digit years are 19xx) ---
struct Date {
    int year = 0, month = 0, day = 0;
};
std::optional<Date> ParseDmiDate(std::string_view text);

// --- SCSI VPD page 0x80 (unit serial number) ---
std::optional<std::string> ParseVpdSerial(std::string_view page);

// --- utmp records (Linux glibc layout, 384 bytes each) ---
struct UtmpEntry {
    int type = 0;  // 7 = USER_PROCESS
    int pid = 0;
    std::string line;
    std::string user;
    std::string host;
};
std::vector<UtmpEntry> ParseUtmp(std::string_view bytes);

// --- pci.ids / usb.ids: vendor and device names ---
struct IdNames {
    std::optional<std::string> vendor;
    std::optional<std::string> device;
};
IdNames LookupIdNames(std::string_view idsText, unsigned vendor, unsigned device);

// --- SMBIOS (the raw table of /sys/firmware/dmi/tables/DMI) ---
struct SmbiosStructure {
    int type = 0;
    int handle = 0;
    std::string formatted;             // the formatted area, header included
    std::vector<std::string> strings;  // string 1 is strings[0]
    std::optional<int> byteAt(std::size_t offset) const;
    std::optional<int> wordAt(std::size_t offset) const;
    std::optional<std::uint32_t> dwordAt(std::size_t offset) const;
    std::optional<std::uint64_t> qwordAt(std::size_t offset) const;
    // The string a byte at offset points to; nothing for 0 or out of range.
    std::optional<std::string> stringAt(std::size_t offset) const;
};
std::vector<SmbiosStructure> ParseSmbios(std::string_view table);
// The version of a "_SM_" or "_SM3_" entry point.
std::optional<std::pair<int, int>> ParseSmbiosEntryVersion(std::string_view entry);

// --- EDID 1.x base block ---
struct Edid {
    std::string manufacturerId;  // three letters, e.g. "DEL"
    unsigned productCode = 0;
    std::uint32_t serialNumber = 0;
    int week = 0;
    int year = 0;
    int versionMajor = 0, versionMinor = 0;
    int widthCm = 0, heightCm = 0;
    std::optional<std::string> monitorName;
    std::optional<std::string> serialText;
    int preferredWidth = 0, preferredHeight = 0;
    bool digital = false;
};
// Nothing if the header or the checksum of the first block is wrong.
std::optional<Edid> ParseEdid(std::string_view bytes);

// --- /proc/interrupts, /proc/dma, /proc/ioports, /proc/iomem ---
struct IrqLine {
    std::string irq;  // "0", "NMI", ...
    std::vector<std::uint64_t> counts;
    std::string description;  // the rest: chip, type and device names
};
std::vector<IrqLine> ParseInterrupts(std::string_view text);
struct DmaLine {
    int channel = 0;
    std::string owner;
};
std::vector<DmaLine> ParseDma(std::string_view text);
struct ResourceRange {
    std::uint64_t start = 0;
    std::uint64_t end = 0;
    std::string name;
    int depth = 0;  // nesting by indentation
};
std::vector<ResourceRange> ParseResourceTree(std::string_view text);

// --- /proc/bus/input/devices ---
struct InputDevice {
    std::string bus, vendor, product, version;
    std::string name;
    std::string phys;
    std::string sysfs;
    std::vector<std::string> handlers;
    std::map<std::string, std::string> bits;  // "EV", "KEY", "REL", ...
};
std::vector<InputDevice> ParseInputDevices(std::string_view text);

// --- /proc/asound/cards ---
struct SoundCard {
    int index = 0;
    std::string id;      // short id in brackets
    std::string driver;  // after the id: "HDA-Intel"
    std::string name;    // the second line
};
std::vector<SoundCard> ParseAsoundCards(std::string_view text);

}  // namespace wmi::lnx
