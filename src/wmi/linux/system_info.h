// Facts several classes share: DMI identification, the SMBIOS table and the
// processor topology.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "wmi/linux/provider_core.h"

namespace wmi::lnx {

// A field of /sys/class/dmi/id ("sys_vendor"); nothing when unreadable
// (several fields are readable by root only) or empty.
std::optional<std::string> DmiField(const Context& ctx, const char* name);

// The raw SMBIOS structures; empty when the table cannot be read (root only
// on most systems).
std::vector<SmbiosStructure> ReadSmbios(const Context& ctx);
const SmbiosStructure* FirstOfType(const std::vector<SmbiosStructure>& table, int type);

struct LogicalCpu {
    int id = 0;
    int package = 0;
    int core = 0;
    const CpuInfoRecord* info = nullptr;  // its /proc/cpuinfo block, if any
};

struct CpuTopology {
    std::vector<CpuInfoRecord> records;
    std::vector<LogicalCpu> cpus;  // online ones, by id
    std::vector<int> packages;     // distinct package ids, ascending
    std::vector<const LogicalCpu*> inPackage(int package) const;
    int coresIn(int package) const;
};

CpuTopology ReadCpuTopology(const Context& ctx);

struct CacheInfo {
    int level = 0;
    std::string type;  // "Data", "Instruction", "Unified"
    std::uint64_t sizeKB = 0;
    std::optional<int> ways;
    std::optional<int> lineSize;
    std::vector<int> sharedCpus;
    int package = 0;
};
// Every distinct cache of the online processors (a cache shared by several
// logical processors once).
std::vector<CacheInfo> ReadCaches(const Context& ctx, const CpuTopology& topo);

// The PCI function a device of /sys sits on or below ("0000:00:03.0" for a
// virtio disk or adapter), found by walking up its resolved path.
std::optional<std::string> PciFunctionOf(const Context& ctx, const std::string& sysPath);
// A PCI function's Plug and Play id as Win32_PnPEntity gives it
// ("PCI\VEN_1AF4&DEV_1000&SUBSYS_00011AF4&REV_00\0000:00:03.0") and its
// device name from pci.ids.
struct PciIdentity {
    std::string pnpDeviceId;
    std::optional<std::string> vendorName, deviceName;
};
std::optional<PciIdentity> PciIdentityOf(const Context& ctx, const std::string& address);

// A Plug and Play (ACPI) device's instance id as Windows gives it
// ("ACPI\PNP0501\1": its first id and its unique id), from its directory
// under /sys/devices (a /sys/bus/pnp/devices entry, resolved).
std::optional<std::string> PnpInstanceId(const Context& ctx, const std::string& deviceDir);

// The monitor on a connected DRM connector ("card0-eDP-1"), from its EDID:
// its instance id as Win32_PnPEntity lists it ("DISPLAY\LEN40BA\card0-eDP-1"),
// its hardware code ("LEN40BA"), its maker's letters and its name.
struct MonitorIdentity {
    std::string instanceId, code, manufacturerId, name;
};
std::optional<MonitorIdentity> MonitorOf(const Context& ctx, const std::string& connector);

// The WMI architecture code of a kernel machine name (9 for x86_64 ...).
std::optional<int> ArchitectureCode(const std::string& machine);
// 64 or 32 for a kernel machine name.
std::optional<int> MachineWordBits(const std::string& machine);

}  // namespace wmi::lnx
