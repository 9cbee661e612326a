// Win32_DiskDrive and Win32_CDROMDrive from /sys/block, Win32_LogicalDisk and
// Win32_MappedLogicalDisk from the mount table, labels and UUIDs from
// /dev/disk links.
#include <algorithm>
#include <array>
#include <cctype>
#include <map>
#include <set>

#include "wmi/linux/system_info.h"

namespace wmi::lnx {

namespace {

struct BlockDevice {
    std::string name;        // "sda"
    std::string devicePath;  // resolved sysfs path of the block device
};

// SCSI peripheral type 5 is a CD/DVD drive.
bool IsOptical(const Context& ctx, const std::string& name) {
    if (StartsWith(name, "sr")) return true;
    auto type = ctx.readInt("/sys/block/" + name + "/device/type");
    return type && *type == 5;
}

// Physical block devices: everything under /sys/block that is not a virtual
// device (loop, ram, zram, device-mapper, md) nor hidden.
std::vector<BlockDevice> PhysicalBlockDevices(const Context& ctx) {
    std::vector<BlockDevice> out;
    for (const auto& name : ctx.fs().listDir("/sys/block")) {
        // By name first: a machine may have hundreds of loop devices.
        if (StartsWith(name, "loop") || StartsWith(name, "ram") || StartsWith(name, "zram")) continue;
        std::string path = ctx.fs().resolve("/sys/block/" + name);
        if (path.find("/devices/virtual/") != std::string::npos) continue;
        // eMMC boot and replay-protected areas are parts of the one card, not disks.
        if (StartsWith(name, "mmcblk") && (name.find("boot") != std::string::npos || name.find("rpmb") != std::string::npos))
            continue;
        if (ctx.readInt("/sys/block/" + name + "/hidden").value_or(0) == 1) continue;
        out.push_back({name, path});
    }
    return out;
}

std::optional<std::string> InterfaceType(const std::string& path) {
    if (path.find("/usb") != std::string::npos) return "USB";
    if (path.find("/firewire") != std::string::npos || path.find("/fw") != std::string::npos) return "1394";
    if (path.find("/ata") != std::string::npos) return "IDE";
    // Windows reports NVMe and other SCSI-port disks as SCSI.
    if (path.find("/nvme") != std::string::npos || path.find("/target") != std::string::npos) return "SCSI";
    return std::nullopt;
}

// "H:C:T:L" of a SCSI device path, if it has one.
std::optional<std::array<int, 4>> ScsiAddress(const std::string& path) {
    std::size_t p = path.find("/target");
    if (p == std::string::npos) return std::nullopt;
    std::size_t s = path.find('/', p + 1);
    if (s == std::string::npos) return std::nullopt;
    std::size_t e = path.find('/', s + 1);
    std::string hctl = path.substr(s + 1, e == std::string::npos ? std::string::npos : e - s - 1);
    std::array<int, 4> out{};
    std::size_t i = 0;
    for (int k = 0; k < 4; ++k) {
        std::size_t c = hctl.find(':', i);
        auto v = ParseInt(hctl.substr(i, c == std::string::npos ? std::string::npos : c - i));
        if (!v || *v < 0 || *v > 65535) return std::nullopt;
        out[static_cast<std::size_t>(k)] = static_cast<int>(*v);
        if (k < 3 && c == std::string::npos) return std::nullopt;
        i = c + 1;
    }
    return out;
}

std::optional<std::string> Serial(const Context& ctx, const std::string& name) {
    std::string b = "/sys/block/" + name;
    if (auto s = ctx.readText(b + "/device/serial")) return s;  // NVMe
    if (auto s = ctx.readText(b + "/serial")) return s;         // virtio
    if (auto page = ctx.read(b + "/device/vpd_pg80", 4096)) return ParseVpdSerial(*page);
    return std::nullopt;
}

std::optional<std::string> VendorText(const Context& ctx, const std::string& name) {
    auto v = ctx.readText("/sys/block/" + name + "/device/vendor");
    // virtio and some buses give a numeric id here, not a maker's name.
    if (!v || StartsWith(*v, "0x")) return std::nullopt;
    return v;
}

std::optional<Object> DiskInstance(const Context& ctx, const SchemaPtr& schema, const BlockDevice& dev, int index) {
    std::string b = "/sys/block/" + dev.name;
    auto sectors = ctx.readUInt(b + "/size");
    if (!sectors) return std::nullopt;  // the disk went away while listing
    Row r(schema);
    SetSystemKeys(r, ctx, "Win32_DiskDrive");
    std::string devNode = "/dev/" + dev.name;
    r.set("DeviceID", devNode).set("Name", devNode);
    r.set("Index", index);
    auto model = ctx.readText(b + "/device/model");
    // A virtio disk is a PCI function of its own: without a model it is
    // named, and identified, as that function.
    std::optional<PciIdentity> pci;
    if (ctx.fs().resolve(b + "/device").find("/virtio") != std::string::npos)
        if (auto fn = PciFunctionOf(ctx, b + "/device")) pci = PciIdentityOf(ctx, *fn);
    const auto title = model ? model : pci ? pci->deviceName : std::nullopt;
    // Windows gives the model the name the device reports, as the caption.
    r.set("Caption", title).set("Model", title);
    if (pci) r.set("PNPDeviceID", pci->pnpDeviceId);
    auto maker = VendorText(ctx, dev.name);
    // An NVMe drive is its own PCI function: its maker is that function's vendor.
    if (!maker && dev.devicePath.find("/nvme/") != std::string::npos) {
        std::string pci = "/sys/block/" + dev.name + "/device/device/";
        if (auto v = ctx.readUInt(pci + "vendor", 16); v && *v <= 0xFFFF)
            maker = ctx.pciNames(static_cast<unsigned>(*v), 0).vendor;
    }
    r.set("Manufacturer", maker);
    r.set("Description", std::string("Disk drive"));
    std::uint64_t bytes = *sectors * 512;  // sysfs counts 512-byte units whatever the sector size
    r.setU64("Size", bytes);
    // A reader that named its properties (the summary) is spared the files
    // only the others come from.
    auto lbs = ctx.wantsAny({"BytesPerSector", "TotalSectors"}) ? ctx.readUInt(b + "/queue/logical_block_size")
                                                                : std::nullopt;
    r.setU32("BytesPerSector", lbs);
    if (lbs && *lbs) r.setU64("TotalSectors", bytes / *lbs);
    bool removable = ctx.readInt(b + "/removable").value_or(0) == 1;
    r.set("MediaType", std::string(removable ? "Removable Media" : "Fixed hard disk media"));
    r.set("MediaLoaded", *sectors > 0);
    if (ctx.wants("Partitions")) {
        int partitions = 0;
        for (const auto& entry : ctx.fs().listDir(b))
            if (StartsWith(entry, dev.name) && ctx.fs().exists(Cat(b, "/", entry, "/partition"))) ++partitions;
        r.set("Partitions", partitions);
    }
    r.set("InterfaceType", InterfaceType(dev.devicePath));
    if (ctx.wants("SerialNumber")) r.set("SerialNumber", Serial(ctx, dev.name));
    if (ctx.wants("FirmwareRevision")) {
        auto fw = ctx.readText(b + "/device/firmware_rev");
        if (!fw) fw = ctx.readText(b + "/device/rev");
        r.set("FirmwareRevision", fw);
    }
    if (auto hctl = ScsiAddress(dev.devicePath)) {
        r.set("SCSIPort", (*hctl)[0]).set("SCSIBus", (*hctl)[1]).set("SCSITargetId", (*hctl)[2]).set("SCSILogicalUnit", (*hctl)[3]);
    }
    if (!ctx.wantsAny({"Capabilities", "CapabilityDescriptions"})) return r.build();
    std::vector<int> caps = {3};  // Random Access
    std::vector<std::string> capText = {"Random Access"};
    if (ctx.readInt(b + "/ro").value_or(1) == 0) {
        caps.push_back(4);
        capText.emplace_back("Supports Writing");
    }
    if (removable) {
        caps.push_back(7);
        capText.emplace_back("Supports Removable Media");
    }
    r.setInts("Capabilities", caps);
    r.setStrings("CapabilityDescriptions", capText);
    return r.build();
}

std::unique_ptr<InstanceCursor> DiskDrives(const Context& ctx, const SchemaPtr& schema) {
    auto devices = std::make_shared<std::map<std::string, BlockDevice>>();
    std::vector<std::string> keys;
    for (auto& d : PhysicalBlockDevices(ctx)) {
        if (IsOptical(ctx, d.name)) continue;
        if (StartsWith(d.name, "fd")) continue;  // floppy drives are their own class
        keys.push_back(d.name);
        (*devices)[d.name] = std::move(d);
    }
    auto index = std::make_shared<int>(0);
    return std::make_unique<LazyCursor>(std::move(keys), [ctx, schema, devices, index](const std::string& k) {
        auto o = DiskInstance(ctx, schema, devices->at(k), *index);
        if (o) ++*index;
        return o;
    });
}

std::unique_ptr<InstanceCursor> CdromDrives(const Context& ctx, const SchemaPtr& schema) {
    std::vector<Object> out;
    for (const auto& d : PhysicalBlockDevices(ctx)) {
        if (!IsOptical(ctx, d.name)) continue;
        std::string b = "/sys/block/" + d.name;
        auto sectors = ctx.readUInt(b + "/size");
        if (!sectors) continue;
        Row r(schema);
        SetSystemKeys(r, ctx, "Win32_CDROMDrive");
        std::string node = "/dev/" + d.name;
        r.set("DeviceID", node).set("Drive", node);
        auto vendor = VendorText(ctx, d.name);
        auto model = ctx.readText(b + "/device/model");
        std::optional<std::string> name = model;
        if (vendor && model) name = *vendor + " " + *model;
        r.set("Name", name).set("Caption", name);
        r.set("Manufacturer", vendor);
        r.set("MediaType", std::string("CD-ROM"));
        r.set("MediaLoaded", *sectors > 0);
        if (*sectors > 0) r.setU64("Size", *sectors * 512);
        r.set("MfrAssignedRevisionLevel", ctx.readText(b + "/device/rev"));
        r.set("SerialNumber", Serial(ctx, d.name));
        if (auto hctl = ScsiAddress(d.devicePath)) {
            r.set("SCSIPort", (*hctl)[0]).set("SCSIBus", (*hctl)[1]).set("SCSITargetId", (*hctl)[2]).set("SCSILogicalUnit", (*hctl)[3]);
        }
        out.push_back(r.build());
    }
    return std::make_unique<VectorCursor>(std::move(out));
}

std::unique_ptr<InstanceCursor> FloppyDrives(const Context& ctx, const SchemaPtr& schema) {
    std::vector<Object> out;
    for (const auto& name : ctx.fs().listDir("/sys/block")) {
        if (!StartsWith(name, "fd") || !ctx.fs().exists("/sys/block/" + name + "/size")) continue;
        Row r(schema);
        SetSystemKeys(r, ctx, "Win32_FloppyDrive");
        std::string node = "/dev/" + name;
        r.set("DeviceID", node).set("Name", node).set("Caption", node);
        out.push_back(r.build());
    }
    return std::make_unique<VectorCursor>(std::move(out));
}

std::unique_ptr<InstanceCursor> TapeDrives(const Context& ctx, const SchemaPtr& schema) {
    std::vector<Object> out;
    for (const auto& name : ctx.fs().listDir("/sys/class/scsi_tape")) {
        // st0 is the drive; nst0, st0l, st0m, st0a are other modes of it.
        if (!StartsWith(name, "st") || !ParseInt(name.substr(2))) continue;
        std::string dev = "/sys/class/scsi_tape/" + name + "/device/";
        if (!ctx.fs().exists(dev)) continue;
        Row r(schema);
        SetSystemKeys(r, ctx, "Win32_TapeDrive");
        std::string node = "/dev/" + name;
        r.set("DeviceID", node).set("Id", node);
        auto vendor = ctx.readText(dev + "vendor");
        auto model = ctx.readText(dev + "model");
        std::optional<std::string> title = model;
        if (vendor && model) title = *vendor + " " + *model;
        r.set("Name", title).set("Caption", title).set("Description", title);
        r.set("Manufacturer", vendor);
        out.push_back(r.build());
    }
    return std::make_unique<VectorCursor>(std::move(out));
}

// --- logical disks ---

const std::set<std::string>& NetworkFileSystems() {
    static const std::set<std::string> s = {"nfs", "nfs4", "cifs", "smb3", "smbfs", "ncpfs", "afs", "9p", "ceph",
                                            "glusterfs", "fuse.sshfs", "fuse.glusterfs", "lustre", "gfs2", "ocfs2"};
    return s;
}

// File systems without a backing device that still hold files a user keeps:
// memory, union, pooled and host-shared ones.
const std::set<std::string>& DevicelessStorage() {
    static const std::set<std::string> s = {"tmpfs", "ramfs", "overlay", "aufs", "zfs", "virtiofs", "fuse"};
    return s;
}

const std::set<std::string>& PseudoFileSystems() {
    static const std::set<std::string> s = {"proc", "sysfs", "devtmpfs", "devpts", "cgroup", "cgroup2", "securityfs",
                                            "debugfs", "tracefs", "configfs", "fusectl", "mqueue", "hugetlbfs",
                                            "pstore", "bpf", "autofs", "binfmt_misc", "rpc_pipefs", "nsfs",
                                            "efivarfs", "selinuxfs", "fuse.portal", "fuse.gvfsd-fuse"};
    return s;
}

// Whether a mount holds files (a drive to a user) rather than kernel state.
bool IsStorageMount(const MountEntry& m, const std::set<std::string>& nodev) {
    if (PseudoFileSystems().count(m.fsType)) return false;
    if (DevicelessStorage().count(m.fsType) || NetworkFileSystems().count(m.fsType) || StartsWith(m.fsType, "fuse."))
        return true;
    // Without /proc/filesystems fall back on a device path as the source.
    if (nodev.empty()) return m.source.size() > 1 && m.source[0] == '/';
    return !nodev.count(m.fsType);
}

// Volume label and UUID of a block device, by the udev links pointing at it.
std::map<std::string, std::string> LinksByTarget(const Context& ctx, const std::string& dir, bool unescape) {
    std::map<std::string, std::string> out;
    for (const auto& name : ctx.fs().listDir(dir)) {
        std::string target = ctx.fs().resolve(Cat(dir, "/", name));
        out.emplace(target, unescape ? UnescapeHex(name) : name);
    }
    return out;
}

std::string VolumeSerial(const std::string& uuid, const std::string& fsType) {
    // FAT and NTFS serials are shown by Windows as eight hex digits.
    std::string hex;
    for (char c : uuid)
        if (c != '-') hex += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if ((fsType == "vfat" || fsType == "exfat" || fsType == "msdos") && hex.size() == 8) return hex;
    if ((fsType == "ntfs" || fsType == "ntfs3" || fsType == "fuseblk") && hex.size() == 16) return hex.substr(8);
    return uuid;
}

// Whether the disk holding block device major:minor is removable.
std::optional<bool> RemovableByDevNumber(const Context& ctx, unsigned major, unsigned minor) {
    std::string path = ctx.fs().resolve("/sys/dev/block/" + std::to_string(major) + ":" + std::to_string(minor));
    if (!ctx.fs().exists(path + "/dev")) return std::nullopt;
    std::string disk = ctx.fs().exists(path + "/partition") ? DirName(path) : path;
    auto r = ctx.readInt(disk + "/removable");
    if (!r) return std::nullopt;
    return *r == 1;
}

// Properties that logical and mapped disks share: read-only or not, and the
// file system's figures (live root only).
void SetAccessAndVolumeStats(Row& r, const Context& ctx, const MountEntry& m) {
    bool ro = Cat(",", m.options, ",").find(",ro,") != std::string::npos;
    r.set("Access", ro ? 1 : 3);
    if (auto vs = ctx.fs().volumeStats(m.mountPoint, m.fsType)) {
        r.setU64("Size", vs->totalBlocks * vs->fragmentSize);
        r.setU64("FreeSpace", vs->availableBlocks * vs->fragmentSize);
        r.setU64("BlockSize", vs->fragmentSize);
        r.setU64("NumberOfBlocks", vs->totalBlocks);
        r.setU32("MaximumComponentLength", vs->maxNameLength);
    }
}

std::optional<Object> LogicalDiskInstance(const Context& ctx, const SchemaPtr& schema, const MountEntry& m,
                                          const std::map<std::string, std::string>& labels,
                                          const std::map<std::string, std::string>& uuids) {
    Row r(schema);
    SetSystemKeys(r, ctx, "Win32_LogicalDisk");
    r.set("DeviceID", m.mountPoint).set("Name", m.mountPoint).set("Caption", m.mountPoint);
    r.set("FileSystem", m.fsType);
    int driveType = 3;
    if (NetworkFileSystems().count(m.fsType)) driveType = 4;
    else if (m.fsType == "tmpfs" || m.fsType == "ramfs") driveType = 6;
    else if (m.fsType == "iso9660" || m.fsType == "udf") driveType = 5;
    else if (RemovableByDevNumber(ctx, m.major, m.minor).value_or(false)) driveType = 2;
    r.set("DriveType", driveType);
    static const char* kDescriptions[] = {"Unknown", "No Root Directory", "Removable Disk", "Local Fixed Disk",
                                          "Network Connection", "CD-ROM Disc", "RAM Disk"};
    r.set("Description", std::string(kDescriptions[driveType]));
    if (driveType == 3) r.set("MediaType", 12);
    if (driveType == 2) r.set("MediaType", 11);
    if (driveType == 4) r.set("ProviderName", m.source);
    if (m.source.size() > 1 && m.source[0] == '/') {
        std::string dev = ctx.fs().resolve(m.source);
        if (auto it = labels.find(dev); it != labels.end()) r.set("VolumeName", it->second);
        if (auto it = uuids.find(dev); it != uuids.end()) r.set("VolumeSerialNumber", VolumeSerial(it->second, m.fsType));
    }
    SetAccessAndVolumeStats(r, ctx, m);
    return r.build();
}

// The mounts that hold files, in mount-point order; a later mount on the same
// point hides the earlier one.
std::shared_ptr<std::vector<MountEntry>> StorageMounts(const Context& ctx) {
    auto mounts = std::make_shared<std::vector<MountEntry>>();
    auto text = ctx.read("/proc/self/mountinfo");
    if (!text) return mounts;
    std::set<std::string> nodev;
    if (auto fsText = ctx.read("/proc/filesystems", 64 * 1024)) nodev = ParseNodevFileSystems(*fsText);
    // A later mount on the same point hides the earlier one.
    std::vector<MountEntry> visible;
    std::map<std::string, std::size_t> byPoint;
    for (auto& m : ParseMountInfo(*text)) {
        bool real = IsStorageMount(m, nodev);
        auto it = byPoint.find(m.mountPoint);
        if (it != byPoint.end()) {
            // Keep the position, take the newer mount (or drop it if pseudo).
            visible[it->second] = m;
            visible[it->second].id = real ? m.id : -1;
            continue;
        }
        if (!real) m.id = -1;
        byPoint[m.mountPoint] = visible.size();
        visible.push_back(std::move(m));
    }
    for (auto& m : visible)
        if (m.id != -1) mounts->push_back(std::move(m));
    // Listed by mount point, so "/" comes first as a system drive would.
    std::sort(mounts->begin(), mounts->end(),
              [](const MountEntry& a, const MountEntry& b) { return a.mountPoint < b.mountPoint; });
    return mounts;
}

std::unique_ptr<InstanceCursor> LogicalDisks(const Context& ctx, const SchemaPtr& schema) {
    auto mounts = StorageMounts(ctx);
    auto labels = std::make_shared<std::map<std::string, std::string>>(LinksByTarget(ctx, "/dev/disk/by-label", true));
    auto uuids = std::make_shared<std::map<std::string, std::string>>(LinksByTarget(ctx, "/dev/disk/by-uuid", false));
    std::vector<std::string> keys;
    for (std::size_t i = 0; i < mounts->size(); ++i) keys.push_back(std::to_string(i));
    return std::make_unique<LazyCursor>(std::move(keys), [ctx, schema, mounts, labels, uuids](const std::string& k) {
        return LogicalDiskInstance(ctx, schema, (*mounts)[std::stoul(k)], *labels, *uuids);
    });
}

// Network file systems mounted here: what Windows calls mapped drives.
std::unique_ptr<InstanceCursor> MappedLogicalDisks(const Context& ctx, const SchemaPtr& schema) {
    auto mounts = StorageMounts(ctx);
    std::vector<std::string> keys;
    for (std::size_t i = 0; i < mounts->size(); ++i)
        if (NetworkFileSystems().count((*mounts)[i].fsType)) keys.push_back(std::to_string(i));
    return std::make_unique<LazyCursor>(std::move(keys), [ctx, schema, mounts](const std::string& k) {
        const MountEntry& m = (*mounts)[std::stoul(k)];
        Row r(schema);
        SetSystemKeys(r, ctx, "Win32_MappedLogicalDisk");
        r.set("DeviceID", m.mountPoint).set("Name", m.mountPoint).set("Caption", m.mountPoint);
        r.set("Description", std::string("Network Connection"));
        r.set("FileSystem", m.fsType).set("ProviderName", m.source);
        SetAccessAndVolumeStats(r, ctx, m);
        return std::optional<Object>(r.build());
    });
}

}  // namespace

void RegisterStorageClasses(Registry& reg) {
    reg.add("Win32_DiskDrive", DiskDrives);
    reg.add("Win32_CDROMDrive", CdromDrives);
    reg.add("Win32_LogicalDisk", LogicalDisks);
    reg.add("Win32_MappedLogicalDisk", MappedLogicalDisks);
    reg.add("Win32_FloppyDrive", FloppyDrives);
    reg.add("Win32_TapeDrive", TapeDrives);
}

}  // namespace wmi::lnx
