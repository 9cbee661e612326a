// Input devices (/proc/bus/input/devices), system resources (/proc/interrupts,
// /proc/dma, /proc/ioports, /proc/iomem), sound cards (/proc/asound), the
// PCI and USB devices of /sys/bus, floppy controllers (ACPI's PnP devices),
// infrared receivers (/sys/class/rc) and modems (PCI modem controllers and
// USB interfaces that declare AT commands).
#include <algorithm>

#include "wmi/linux/system_info.h"

namespace wmi::lnx {

namespace {

std::unique_ptr<InstanceCursor> Objects(std::vector<Object> v) { return std::make_unique<VectorCursor>(std::move(v)); }

// Bit n of a /proc/bus/input/devices bitmap ("KEY=7 ffff0000 ..."): words
// of unsigned long, most significant first.
bool BitSet(const InputDevice& d, const char* map, unsigned n) {
    auto it = d.bits.find(map);
    if (it == d.bits.end()) return false;
    auto words = SplitWhitespace(it->second);
    unsigned word = n / 64, bit = n % 64;
    if (word >= words.size()) return false;
    auto v = ParseUInt(words[words.size() - 1 - word], 16);
    return v && (*v >> bit & 1);
}

// The rule udev applies: a keyboard has the first 31 key codes (Esc, digits, letters).
bool IsKeyboard(const InputDevice& d) {
    for (unsigned k = 1; k < 32; ++k)
        if (!BitSet(d, "KEY", k)) return false;
    return true;
}

enum class Pointer { None, Mouse, Touchpad, Touchscreen };

Pointer PointerKind(const InputDevice& d) {
    const unsigned BTN_MOUSE = 0x110, BTN_TOOL_FINGER = 0x145, BTN_TOUCH = 0x14a;
    if (BitSet(d, "REL", 0) && BitSet(d, "REL", 1) && BitSet(d, "KEY", BTN_MOUSE)) return Pointer::Mouse;
    if (BitSet(d, "ABS", 0) && BitSet(d, "ABS", 1)) {
        if (BitSet(d, "KEY", BTN_TOOL_FINGER)) return Pointer::Touchpad;
        if (BitSet(d, "KEY", BTN_TOUCH)) return Pointer::Touchscreen;
    }
    return Pointer::None;
}

std::vector<InputDevice> InputDevices(const Context& ctx) {
    auto text = ctx.read("/proc/bus/input/devices");
    return text ? ParseInputDevices(*text) : std::vector<InputDevice>{};
}

std::optional<std::string> UsbVendorName(const Context& ctx, const InputDevice& d) {
    if (d.bus != "0003") return std::nullopt;
    auto v = ParseUInt(d.vendor, 16), p = ParseUInt(d.product, 16);
    if (!v || !p) return std::nullopt;
    return ctx.usbNames(static_cast<unsigned>(*v), static_cast<unsigned>(*p)).vendor;
}

std::unique_ptr<InstanceCursor> Keyboards(const Context& ctx, const SchemaPtr& schema) {
    std::vector<Object> out;
    for (const auto& d : InputDevices(ctx)) {
        if (!IsKeyboard(d)) continue;
        Row r(schema);
        SetSystemKeys(r, ctx, "Win32_Keyboard");
        r.set("DeviceID", d.sysfs.empty() ? d.phys : d.sysfs);
        r.set("Name", d.name).set("Caption", d.name).set("Description", d.name);
        int fkeys = 0;
        for (unsigned k = 59; k <= 68; ++k) fkeys += BitSet(d, "KEY", k);  // F1-F10
        fkeys += BitSet(d, "KEY", 87) + BitSet(d, "KEY", 88);                // F11, F12
        for (unsigned k = 183; k <= 194; ++k) fkeys += BitSet(d, "KEY", k);  // F13-F24
        r.set("NumberOfFunctionKeys", fkeys);
        out.push_back(r.build());
    }
    return Objects(std::move(out));
}

std::unique_ptr<InstanceCursor> PointingDevices(const Context& ctx, const SchemaPtr& schema) {
    std::vector<Object> out;
    for (const auto& d : InputDevices(ctx)) {
        Pointer kind = PointerKind(d);
        if (kind == Pointer::None) continue;
        Row r(schema);
        SetSystemKeys(r, ctx, "Win32_PointingDevice");
        r.set("DeviceID", d.sysfs.empty() ? d.phys : d.sysfs);
        r.set("Name", d.name).set("Caption", d.name).set("Description", d.name);
        r.set("HardwareType", d.name);
        r.set("Manufacturer", UsbVendorName(ctx, d));
        r.set("PointingType", kind == Pointer::Mouse ? 3 : kind == Pointer::Touchpad ? 7 : 8);
        // 4 PS/2, 162 USB, 1 other bus
        r.set("DeviceInterface", d.bus == "0011" ? 4 : d.bus == "0003" ? 162 : 1);
        int buttons = 0;
        for (unsigned b = 0x110; b <= 0x117; ++b) buttons += BitSet(d, "KEY", b);
        if (buttons) r.set("NumberOfButtons", buttons);
        out.push_back(r.build());
    }
    return Objects(std::move(out));
}

void SetResourceKeys(Row& r, const Context& ctx, const char* cls) {
    r.set("CreationClassName", cls);
    r.set("CSCreationClassName", "Win32_ComputerSystem");
    r.set("CSName", ctx.shortHostName());
}

std::unique_ptr<InstanceCursor> IrqResources(const Context& ctx, const SchemaPtr& schema) {
    std::vector<Object> out;
    auto text = ctx.read("/proc/interrupts");
    if (!text) return Objects({});
    for (const auto& l : ParseInterrupts(*text)) {
        auto n = ParseInt(l.irq);
        if (!n || *n < 0) continue;  // NMI, LOC...: processor events, not interrupt lines
        Row r(schema);
        SetResourceKeys(r, ctx, "Win32_IRQResource");
        r.set("IRQNumber", static_cast<int>(*n));
        std::string name = "IRQ" + std::to_string(*n);
        r.set("Name", name).set("Caption", name);
        r.set("Hardware", true);
        auto words = SplitWhitespace(l.description);
        // "IO-APIC 9-fasteoi acpi, i801_smbus": chip, line and trigger, then the handlers.
        std::string devices;
        for (std::size_t i = 0; i < words.size(); ++i) {
            if (i < 2 && words.size() > 2) {
                if (words[i].find("edge") != std::string::npos) r.set("TriggerType", 4);
                else if (words[i].find("level") != std::string::npos) r.set("TriggerType", 3);
                continue;
            }
            devices += (devices.empty() ? "" : " ") + words[i];
        }
        if (!devices.empty()) {
            r.set("Description", devices);
            r.set("Shareable", devices.find(", ") != std::string::npos);
        }
        out.push_back(r.build());
    }
    return Objects(std::move(out));
}

std::unique_ptr<InstanceCursor> DmaChannels(const Context& ctx, const SchemaPtr& schema) {
    std::vector<Object> out;
    auto text = ctx.read("/proc/dma");
    if (!text) return Objects({});  // no ISA DMA controller driver: nothing to show
    for (const auto& d : ParseDma(*text)) {
        Row r(schema);
        SetResourceKeys(r, ctx, "Win32_DMAChannel");
        r.set("DMAChannel", d.channel);
        std::string name = "Channel " + std::to_string(d.channel);
        r.set("Name", name).set("Caption", name);
        r.set("Description", d.owner);
        out.push_back(r.build());
    }
    return Objects(std::move(out));
}

// /proc/ioports and /proc/iomem show zero ranges to users without
// CAP_SYS_ADMIN; such ranges are unknown, not zero.
std::unique_ptr<InstanceCursor> Ranges(const Context& ctx, const SchemaPtr& schema, const char* path, const char* cls,
                                       bool leaveOutRam = false) {
    std::vector<Object> out;
    auto text = ctx.read(path);
    if (!text) return Objects({});
    auto ranges = ParseResourceTree(*text);
    bool hidden = std::all_of(ranges.begin(), ranges.end(), [](const ResourceRange& r) { return r.start == 0 && r.end == 0; });
    int ramDepth = -1;  // inside a "System RAM" range down to its depth
    for (const auto& rg : ranges) {
        if (ramDepth >= 0 && rg.depth > ramDepth) continue;  // Kernel code, data, bss, crash kernel
        ramDepth = -1;
        // RAM is Win32_SystemMemoryResource's; device memory is the rest.
        if (leaveOutRam && rg.name == "System RAM") {
            ramDepth = rg.depth;
            continue;
        }
        Row r(schema);
        SetResourceKeys(r, ctx, cls);
        r.set("Description", rg.name);
        if (!hidden) {
            char buf[48];
            std::snprintf(buf, sizeof buf, "0x%08llX-0x%08llX", static_cast<unsigned long long>(rg.start),
                          static_cast<unsigned long long>(rg.end));
            r.set("Name", std::string(buf)).set("Caption", std::string(buf));
            r.setU64("StartingAddress", rg.start);
            r.setU64("EndingAddress", rg.end);
        } else {
            r.set("Caption", rg.name);
        }
        out.push_back(r.build());
    }
    return Objects(std::move(out));
}

std::unique_ptr<InstanceCursor> PortResources(const Context& ctx, const SchemaPtr& schema) {
    return Ranges(ctx, schema, "/proc/ioports", "Win32_PortResource");
}

std::unique_ptr<InstanceCursor> MemoryAddresses(const Context& ctx, const SchemaPtr& schema) {
    return Ranges(ctx, schema, "/proc/iomem", "Win32_DeviceMemoryAddress", true);
}

// The ranges of physical memory the kernel manages as RAM.
std::unique_ptr<InstanceCursor> SystemMemory(const Context& ctx, const SchemaPtr& schema) {
    std::vector<Object> out;
    auto text = ctx.read("/proc/iomem");
    if (!text) return Objects({});
    auto ranges = ParseResourceTree(*text);
    bool hidden = std::all_of(ranges.begin(), ranges.end(), [](const ResourceRange& r) { return r.start == 0 && r.end == 0; });
    for (const auto& rg : ranges) {
        if (rg.depth != 0 || rg.name != "System RAM") continue;
        Row r(schema);
        SetResourceKeys(r, ctx, "Win32_SystemMemoryResource");
        r.set("Description", rg.name);
        if (!hidden) {
            char buf[48];
            std::snprintf(buf, sizeof buf, "0x%08llX-0x%08llX", static_cast<unsigned long long>(rg.start),
                          static_cast<unsigned long long>(rg.end));
            r.set("Name", std::string(buf)).set("Caption", std::string(buf));
            r.setU64("StartingAddress", rg.start);
            r.setU64("EndingAddress", rg.end);
        }
        out.push_back(r.build());
    }
    return Objects(std::move(out));
}

// --- PCI and USB ---

struct PciDevice {
    std::string address;  // "0000:00:14.0"
    unsigned vendor = 0, device = 0, cls = 0;
    std::optional<unsigned> subVendor, subDevice, revision;
    std::optional<std::string> vendorName, deviceName, driver;
};

// The driver a device is bound to, by the name of the module that holds it
// (virtio_pci, not its bus name virtio-pci), as Win32_SystemDriver lists it.
std::optional<std::string> BoundDriver(const Context& ctx, const std::string& deviceDir) {
    if (!ctx.fs().exists(deviceDir + "driver")) return std::nullopt;
    std::string driver = ctx.fs().resolve(deviceDir + "driver");
    if (ctx.fs().exists(driver + "/module")) return BaseName(ctx.fs().resolve(driver + "/module"));
    return BaseName(driver);
}

std::optional<PciDevice> ReadPci(const Context& ctx, const std::string& address) {
    std::string b = "/sys/bus/pci/devices/" + address + "/";
    auto v = ctx.readUInt(b + "vendor", 16), d = ctx.readUInt(b + "device", 16), c = ctx.readUInt(b + "class", 16);
    if (!v || !d || !c) return std::nullopt;  // removed while listing
    PciDevice p;
    p.address = address;
    p.vendor = static_cast<unsigned>(*v);
    p.device = static_cast<unsigned>(*d);
    p.cls = static_cast<unsigned>(*c);
    if (auto sv = ctx.readUInt(b + "subsystem_vendor", 16)) p.subVendor = static_cast<unsigned>(*sv);
    if (auto sd = ctx.readUInt(b + "subsystem_device", 16)) p.subDevice = static_cast<unsigned>(*sd);
    if (auto rv = ctx.readUInt(b + "revision", 16)) p.revision = static_cast<unsigned>(*rv);
    IdNames n = ctx.pciNames(p.vendor, p.device);
    p.vendorName = n.vendor;
    p.deviceName = n.device;
    p.driver = BoundDriver(ctx, b);
    return p;
}

std::string PciHardwareId(const PciDevice& p) {
    char buf[96];
    int n = std::snprintf(buf, sizeof buf, "PCI\\VEN_%04X&DEV_%04X", p.vendor, p.device);
    if (p.subVendor && p.subDevice)
        n += std::snprintf(buf + n, sizeof buf - static_cast<std::size_t>(n), "&SUBSYS_%04X%04X", *p.subDevice, *p.subVendor);
    if (p.revision) std::snprintf(buf + n, sizeof buf - static_cast<std::size_t>(n), "&REV_%02X", *p.revision);
    return buf;
}

// What the class code says a function is, for those pci.ids does not name.
std::optional<std::string> PciClassName(unsigned cls) {
    static const std::pair<unsigned, const char*> kSubclasses[] = {
        {0x0100, "SCSI storage controller"}, {0x0101, "IDE interface"}, {0x0104, "RAID bus controller"},
        {0x0105, "ATA controller"}, {0x0106, "SATA controller"}, {0x0107, "Serial Attached SCSI controller"},
        {0x0108, "Non-Volatile memory controller"}, {0x0200, "Ethernet controller"}, {0x0280, "Network controller"},
        {0x0300, "VGA compatible controller"}, {0x0302, "3D controller"}, {0x0380, "Display controller"},
        {0x0401, "Multimedia audio controller"}, {0x0403, "Audio device"}, {0x0500, "RAM memory"},
        {0x0600, "Host bridge"}, {0x0601, "ISA bridge"}, {0x0604, "PCI bridge"}, {0x0680, "Bridge"},
        {0x0700, "Serial controller"}, {0x0780, "Communication controller"}, {0x0805, "SD Host controller"},
        {0x0880, "System peripheral"}, {0x0C03, "USB controller"}, {0x0C05, "SMBus"},
        {0x1180, "Signal processing controller"},
    };
    static const char* const kClasses[] = {
        "Unclassified device", "Mass storage controller", "Network controller", "Display controller",
        "Multimedia controller", "Memory controller", "Bridge", "Communication controller", "Generic system peripheral",
        "Input device controller", "Docking station", "Processor", "Serial bus controller", "Wireless controller",
        "Intelligent controller", "Satellite communications controller", "Encryption controller",
        "Signal processing controller", "Processing accelerators", "Non-Essential Instrumentation",
    };
    for (const auto& [code, name] : kSubclasses)
        if (code == cls >> 8) return name;
    if ((cls >> 16) < std::size(kClasses)) return kClasses[cls >> 16];
    return std::nullopt;
}

std::optional<std::string> PciTitle(const PciDevice& p) {
    if (p.deviceName) return p.deviceName;
    return PciClassName(p.cls);
}

// Controllers of one PCI class (class code prefix of 16 or 24 bits).
std::unique_ptr<InstanceCursor> PciControllers(const Context& ctx, const SchemaPtr& schema, const char* cls,
                                               const std::vector<std::pair<unsigned, int>>& classes) {
    auto addresses = ctx.fs().listDir("/sys/bus/pci/devices");
    std::string className = cls;
    return std::make_unique<LazyCursor>(std::move(addresses), [ctx, schema, className, classes](const std::string& a) -> std::optional<Object> {
        auto p = ReadPci(ctx, a);
        if (!p) return std::nullopt;
        bool match = false;
        for (const auto& [code, bits] : classes) match = match || (p->cls >> (24 - bits)) == code;
        if (!match) return std::nullopt;
        Row r(schema);
        SetSystemKeys(r, ctx, className.c_str());
        r.set("DeviceID", a);
        // The device instance ID, as Win32_PnPEntity.DeviceID has it.
        r.set("PNPDeviceID", Cat(PciHardwareId(*p), "\\", p->address));
        auto title = PciTitle(*p);
        r.set("Name", title).set("Caption", title).set("Description", title);
        r.set("Manufacturer", p->vendorName);
        return r.build();
    });
}

std::unique_ptr<InstanceCursor> UsbControllers(const Context& ctx, const SchemaPtr& schema) {
    return PciControllers(ctx, schema, "Win32_USBController", {{0x0C03, 16}});
}
std::unique_ptr<InstanceCursor> FirewireControllers(const Context& ctx, const SchemaPtr& schema) {
    return PciControllers(ctx, schema, "Win32_1394Controller", {{0x0C00, 16}});
}
std::unique_ptr<InstanceCursor> IdeControllers(const Context& ctx, const SchemaPtr& schema) {
    // IDE, ATA (ADMA) and SATA controllers: Windows lists AHCI among them.
    return PciControllers(ctx, schema, "Win32_IDEController", {{0x0101, 16}, {0x0105, 16}, {0x0106, 16}});
}
std::unique_ptr<InstanceCursor> ScsiControllers(const Context& ctx, const SchemaPtr& schema) {
    // SCSI, RAID, SAS, NVMe and other storage controllers (virtio block
    // devices), as Windows groups them.
    return PciControllers(ctx, schema, "Win32_SCSIController",
                          {{0x0100, 16}, {0x0104, 16}, {0x0107, 16}, {0x0108, 16}, {0x0180, 16}});
}
std::unique_ptr<InstanceCursor> PcmciaControllers(const Context& ctx, const SchemaPtr& schema) {
    return PciControllers(ctx, schema, "Win32_PCMCIAController", {{0x0605, 16}, {0x0607, 16}});
}

// Windows' names of the common ACPI devices, by their PnP id.
std::optional<std::string> PnpDeviceName(std::string_view id) {
    static const std::pair<const char*, const char*> kNames[] = {
        {"PNP0000", "Programmable interrupt controller"}, {"PNP0100", "System timer"},
        {"PNP0103", "High precision event timer"},        {"PNP0200", "Direct memory access controller"},
        {"PNP0303", "Standard PS/2 Keyboard"},            {"PNP0400", "Printer Port"},
        {"PNP0401", "ECP Printer Port"},                  {"PNP0500", "Communications Port"},
        {"PNP0501", "Communications Port"},               {"PNP0700", "Standard floppy disk controller"},
        {"PNP0800", "System speaker"},                    {"PNP0A03", "PCI Bus"},
        {"PNP0A08", "PCI Express Root Complex"},          {"PNP0B00", "System CMOS/real time clock"},
        {"PNP0C01", "System board"},                      {"PNP0C02", "Motherboard resources"},
        {"PNP0C04", "Numeric data processor"},            {"PNP0C09", "Embedded Controller"},
        {"PNP0C0C", "ACPI Power Button"},                 {"PNP0C0E", "ACPI Sleep Button"},
        {"PNP0C0F", "PCI Interrupt Link"},                {"PNP0F03", "PS/2 Compatible Mouse"},
        {"PNP0F13", "PS/2 Compatible Mouse"},
    };
    for (const auto& [code, name] : kNames)
        if (id == code) return name;
    return std::nullopt;
}

std::unique_ptr<InstanceCursor> PnpEntities(const Context& ctx, const SchemaPtr& schema) {
    std::vector<std::string> keys;
    for (const auto& a : ctx.fs().listDir("/sys/bus/pnp/devices")) keys.push_back("pnp:" + a);
    for (const auto& a : ctx.fs().listDir("/sys/bus/pci/devices")) keys.push_back("pci:" + a);
    for (const auto& u : ctx.fs().listDir("/sys/bus/usb/devices"))
        if (u.find(':') == std::string::npos) keys.push_back("usb:" + u);  // devices, not interfaces
    for (const auto& n : ctx.fs().listDir("/sys/class/drm"))
        if (StartsWith(n, "card") && n.find('-') != std::string::npos) keys.push_back("drm:" + n);  // connectors
    return std::make_unique<LazyCursor>(std::move(keys), [ctx, schema](const std::string& key) -> std::optional<Object> {
        Row r(schema);
        SetSystemKeys(r, ctx, "Win32_PnPEntity");
        r.set("CreationClassName", "Win32_PnPEntity");
        r.set("Present", true);
        if (StartsWith(key, "pnp:")) {
            const std::string dir = "/sys/bus/pnp/devices/" + key.substr(4);
            auto id = PnpInstanceId(ctx, ctx.fs().resolve(dir));
            if (!id) return std::nullopt;  // gone
            r.set("DeviceID", id).set("PNPDeviceID", id);
            const std::string ids = ctx.readText(dir + "/id").value_or("");
            std::vector<std::string> hardware;
            for (const auto& line : SplitLines(ids))
                if (!Trim(line).empty()) hardware.push_back("ACPI\\" + Trim(line));
            r.setStrings("HardwareID", hardware);
            auto title = PnpDeviceName(FirstWord(ids));
            r.set("Name", title).set("Caption", title).set("Description", title);
            r.set("Service", BoundDriver(ctx, dir + "/"));
            return r.build();
        }
        if (StartsWith(key, "pci:")) {
            auto p = ReadPci(ctx, key.substr(4));
            if (!p) return std::nullopt;
            std::string hw = PciHardwareId(*p);
            char shortId[40];
            std::snprintf(shortId, sizeof shortId, "PCI\\VEN_%04X&DEV_%04X", p->vendor, p->device);
            r.set("DeviceID", hw + "\\" + p->address).set("PNPDeviceID", hw + "\\" + p->address);
            r.setStrings("HardwareID", hw == shortId ? std::vector<std::string>{hw} : std::vector<std::string>{hw, shortId});
            auto title = PciTitle(*p);
            r.set("Name", title).set("Caption", title).set("Description", title);
            r.set("Manufacturer", p->vendorName);
            r.set("Service", p->driver);
            return r.build();
        }
        if (StartsWith(key, "drm:")) {
            // A monitor, as Win32_DesktopMonitor's PNPDeviceID names it.
            const std::string connector = key.substr(4);
            if (ctx.readText("/sys/class/drm/" + connector + "/status") != std::optional<std::string>("connected"))
                return std::nullopt;
            auto m = MonitorOf(ctx, connector);
            if (!m) return std::nullopt;
            r.set("DeviceID", m->instanceId).set("PNPDeviceID", m->instanceId);
            r.setStrings("HardwareID", {"MONITOR\\" + m->code});
            r.set("Name", m->name).set("Caption", m->name).set("Description", m->name);
            return r.build();
        }
        std::string dev = key.substr(4);
        std::string b = "/sys/bus/usb/devices/" + dev + "/";
        auto v = ctx.readUInt(b + "idVendor", 16), pr = ctx.readUInt(b + "idProduct", 16);
        if (!v || !pr) return std::nullopt;
        char hw[64];
        int n = std::snprintf(hw, sizeof hw, "USB\\VID_%04X&PID_%04X", static_cast<unsigned>(*v), static_cast<unsigned>(*pr));
        std::string shortId(hw, static_cast<std::size_t>(n));
        std::vector<std::string> ids;
        if (auto rev = ctx.readText(b + "bcdDevice")) ids.push_back(shortId + "&REV_" + *rev);
        ids.push_back(shortId);
        r.set("DeviceID", shortId + "\\" + dev).set("PNPDeviceID", shortId + "\\" + dev);
        r.setStrings("HardwareID", ids);
        IdNames names = ctx.usbNames(static_cast<unsigned>(*v), static_cast<unsigned>(*pr));
        auto title = ctx.readText(b + "product");
        if (!title) title = names.device;
        r.set("Name", title).set("Caption", title).set("Description", title);
        auto maker = ctx.readText(b + "manufacturer");
        if (!maker) maker = names.vendor;
        r.set("Manufacturer", maker);
        r.set("Service", BoundDriver(ctx, b));
        return r.build();
    });
}

std::unique_ptr<InstanceCursor> SoundDevices(const Context& ctx, const SchemaPtr& schema) {
    std::vector<Object> out;
    auto text = ctx.read("/proc/asound/cards");
    if (!text) return Objects({});
    for (const auto& c : ParseAsoundCards(*text)) {
        Row r(schema);
        SetSystemKeys(r, ctx, "Win32_SoundDevice");
        std::string base = "/sys/class/sound/card" + std::to_string(c.index) + "/device/";
        std::optional<std::string> name;
        std::optional<std::string> maker;
        if (auto v = ctx.readUInt(base + "vendor", 16), d = ctx.readUInt(base + "device", 16); v && d) {
            IdNames n = ctx.pciNames(static_cast<unsigned>(*v), static_cast<unsigned>(*d));
            name = n.device;
            maker = n.vendor;
        }
        // Without an id database entry the sound core's short card id names it.
        if (!name) name = c.id;
        r.set("DeviceID", "card" + std::to_string(c.index));
        r.set("Name", name).set("Caption", name).set("ProductName", name);
        if (!c.name.empty()) r.set("Description", c.name);
        r.set("Manufacturer", maker);
        out.push_back(r.build());
    }
    return Objects(std::move(out));
}

// The firmware announces a floppy controller as PnP device PNP0700 (or one
// of its variants PNP0701 to PNP0704).
std::unique_ptr<InstanceCursor> FloppyControllers(const Context& ctx, const SchemaPtr& schema) {
    std::vector<Object> out;
    for (const auto& node : ctx.fs().listDir("/sys/bus/pnp/devices")) {
        const std::string b = Cat("/sys/bus/pnp/devices/", node, "/");
        auto ids = ctx.read(b + "id", 4096);
        if (!ids) continue;
        std::optional<std::string> id;
        for (const auto& line : SplitLines(*ids)) {
            std::string t = Trim(line);
            if (StartsWith(t, "PNP070") && t.size() == 7 && t[6] >= '0' && t[6] <= '4') id = t;
        }
        if (!id) continue;
        Row r(schema);
        SetSystemKeys(r, ctx, "Win32_FloppyController");
        // As Win32_PnPEntity names the node (its first id, the firmware's uid).
        const std::string device =
            PnpInstanceId(ctx, ctx.fs().resolve("/sys/bus/pnp/devices/" + node)).value_or(Cat("ACPI\\", *id, "\\", node));
        r.set("DeviceID", device).set("PNPDeviceID", device);
        const std::string title = *id == "PNP0700" ? "PC standard floppy disk controller" : "Floppy disk controller";
        r.set("Name", title).set("Caption", title).set("Description", title);
        r.set("ProtocolSupported", 7);  // Flexible Diskette
        out.push_back(r.build());
    }
    return Objects(std::move(out));
}

// Consumer infrared receivers and transceivers of the remote-control core.
std::unique_ptr<InstanceCursor> InfraredDevices(const Context& ctx, const SchemaPtr& schema) {
    std::vector<std::string> names;
    for (const auto& n : ctx.fs().listDir("/sys/class/rc"))
        if (StartsWith(n, "rc")) names.push_back(n);
    return std::make_unique<LazyCursor>(std::move(names), [ctx, schema](const std::string& n) -> std::optional<Object> {
        const std::string b = Cat("/sys/class/rc/", n, "/");
        auto uevent = ctx.read(b + "uevent", 8192);
        if (!uevent) return std::nullopt;  // gone since the listing
        std::map<std::string, std::string> ev = ParseKeyValueLines(*uevent);
        Row r(schema);
        SetSystemKeys(r, ctx, "Win32_InfraredDevice");
        r.set("DeviceID", n);
        std::optional<std::string> title;
        if (auto it = ev.find("DEV_NAME"); it != ev.end() && !it->second.empty()) title = it->second;
        r.set("Name", title).set("Caption", title).set("Description", title);
        // A USB receiver names its maker; two levels up is the USB device.
        std::string parent = ctx.fs().resolve(b + "device");
        std::optional<std::string> maker = ctx.readText(parent + "/manufacturer");
        if (!maker) maker = ctx.readText(DirName(parent) + "/manufacturer");
        r.set("Manufacturer", maker);
        r.set("ProtocolSupported", 47);  // IrBus
        return r.build();
    });
}

// Modems: PCI controllers of class 07 03 inside the computer, and USB
// communication interfaces (CDC ACM) whose protocol is AT commands (1 to 6),
// each with its tty. Boards that claim AT commands without being modems
// (Arduino and the like) are left out where ModemManager's udev rules mark
// them ignored. A stick that hides its modem behind a vendor class is not
// recognised without talking to it, which the provider never does.
std::unique_ptr<InstanceCursor> Modems(const Context& ctx, const SchemaPtr& schema) {
    std::vector<std::string> keys;
    for (const auto& a : ctx.fs().listDir("/sys/bus/pci/devices")) keys.push_back("pci:" + a);
    for (const auto& t : ctx.fs().listDir("/sys/class/tty"))
        if (StartsWith(t, "ttyACM")) keys.push_back("tty:" + t);
    return std::make_unique<LazyCursor>(std::move(keys), [ctx, schema](const std::string& key) -> std::optional<Object> {
        Row r(schema);
        SetSystemKeys(r, ctx, "Win32_POTSModem");
        if (StartsWith(key, "pci:")) {
            auto p = ReadPci(ctx, key.substr(4));
            if (!p || (p->cls >> 8) != 0x0703) return std::nullopt;
            const std::string id = Cat(PciHardwareId(*p), "\\", p->address);
            r.set("DeviceID", id).set("PNPDeviceID", id);
            auto title = PciTitle(*p);
            r.set("Name", title).set("Caption", title).set("Description", title).set("Model", p->deviceName);
            r.set("DeviceType", std::string("Internal Modem"));
            return r.build();
        }
        const std::string tty = key.substr(4);
        const std::string iface = ctx.fs().resolve(Cat("/sys/class/tty/", tty, "/device"));
        auto cls = ctx.readUInt(iface + "/bInterfaceClass", 16), sub = ctx.readUInt(iface + "/bInterfaceSubClass", 16),
             proto = ctx.readUInt(iface + "/bInterfaceProtocol", 16);
        if (!cls || !sub || !proto || *cls != 0x02 || *sub != 0x02 || *proto < 1 || *proto > 6) return std::nullopt;
        if (auto dev = ctx.readText(Cat("/sys/class/tty/", tty, "/dev")))
            if (auto udev = ctx.read(Cat("/run/udev/data/c", *dev), 64 * 1024);
                udev && udev->find("E:ID_MM_DEVICE_IGNORE=1") != std::string::npos)
                return std::nullopt;
        const std::string usb = DirName(iface);
        auto v = ctx.readUInt(usb + "/idVendor", 16), pr = ctx.readUInt(usb + "/idProduct", 16);
        if (!v || !pr) return std::nullopt;
        char hw[64];
        std::snprintf(hw, sizeof hw, "USB\\VID_%04X&PID_%04X", static_cast<unsigned>(*v), static_cast<unsigned>(*pr));
        // Win32_PnPEntity lists the USB device, not its interfaces.
        r.set("DeviceID", Cat(hw, "\\", BaseName(iface))).set("PNPDeviceID", Cat(hw, "\\", BaseName(usb)));
        IdNames names = ctx.usbNames(static_cast<unsigned>(*v), static_cast<unsigned>(*pr));
        auto title = ctx.readText(usb + "/product");
        if (!title) title = names.device;
        r.set("Name", title).set("Caption", title).set("Description", title).set("Model", title);
        r.set("AttachedTo", Cat("/dev/", tty));
        r.set("DeviceType", std::string("External Modem"));
        return r.build();
    });
}

}  // namespace

std::optional<std::string> PciFunctionOf(const Context& ctx, const std::string& sysPath) {
    std::string p = ctx.fs().resolve(sysPath);
    while (!p.empty() && p != "/") {
        const std::string base = BaseName(p);
        // "dddd:bb:dd.f" under a PCI bus
        if (base.size() == 12 && base[4] == ':' && base[7] == ':' && base[10] == '.' &&
            ctx.fs().exists("/sys/bus/pci/devices/" + base))
            return base;
        p = p.substr(0, p.rfind('/'));
    }
    return std::nullopt;
}

std::optional<std::string> PnpInstanceId(const Context& ctx, const std::string& deviceDir) {
    auto ids = ctx.readText(deviceDir + "/id");
    if (!ids || FirstWord(*ids).empty()) return std::nullopt;
    // Without a unique id from the firmware, the kernel's name of the device
    // ("00:04") still tells it apart.
    auto uid = ctx.readText(deviceDir + "/firmware_node/uid");
    return Cat("ACPI\\", FirstWord(*ids), "\\", uid && !uid->empty() ? *uid : BaseName(deviceDir));
}

std::optional<PciIdentity> PciIdentityOf(const Context& ctx, const std::string& address) {
    auto p = ReadPci(ctx, address);
    if (!p) return std::nullopt;
    return PciIdentity{PciHardwareId(*p) + "\\" + address, p->vendorName, p->deviceName};
}

void RegisterDeviceClasses(Registry& reg) {
    reg.add("Win32_Keyboard", Keyboards);
    reg.add("Win32_PointingDevice", PointingDevices);
    reg.add("Win32_IRQResource", IrqResources);
    reg.add("Win32_DMAChannel", DmaChannels);
    reg.add("Win32_PortResource", PortResources);
    reg.add("Win32_DeviceMemoryAddress", MemoryAddresses);
    reg.add("Win32_SystemMemoryResource", SystemMemory);
    reg.add("Win32_USBController", UsbControllers);
    reg.add("Win32_1394Controller", FirewireControllers);
    reg.add("Win32_IDEController", IdeControllers);
    reg.add("Win32_SCSIController", ScsiControllers);
    reg.add("Win32_PCMCIAController", PcmciaControllers);
    reg.add("Win32_PNPEntity", PnpEntities);
    reg.add("Win32_SoundDevice", SoundDevices);
    reg.add("Win32_FloppyController", FloppyControllers);
    reg.add("Win32_InfraredDevice", InfraredDevices);
    reg.add("Win32_POTSModem", Modems);
}

}  // namespace wmi::lnx
