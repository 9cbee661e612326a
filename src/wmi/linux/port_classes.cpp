// Win32_SerialPort and Win32_SerialPortConfiguration (/sys/class/tty),
// Win32_ParallelPort (/proc/sys/dev/parport), Win32_USBHub (/sys/bus/usb) and
// Win32_Bus (/sys/class/pci_bus).
#include "wmi/linux/system_info.h"

namespace wmi::lnx {

namespace {

bool IsSerialName(const std::string& n) {
    return StartsWith(n, "ttyS") || StartsWith(n, "ttyUSB") || StartsWith(n, "ttyACM") || StartsWith(n, "ttyAMA");
}

// Whether a tty of a serial driver has a port behind it.
bool IsPresentSerialPort(const Context& ctx, const std::string& n) {
    const std::string b = Cat("/sys/class/tty/", n, "/");
    if (!ctx.fs().exists(b + "device")) return false;  // no hardware behind it
    // The 8250 driver registers every possible port; type 0 means none answered.
    auto type = ctx.readInt(b + "type");
    return !StartsWith(n, "ttyS") || (type && *type != 0);
}

std::vector<std::string> SerialTtys(const Context& ctx) {
    std::vector<std::string> names;
    for (const auto& n : ctx.fs().listDir("/sys/class/tty"))
        if (IsSerialName(n)) names.push_back(n);
    return names;
}

std::unique_ptr<InstanceCursor> SerialPorts(const Context& ctx, const SchemaPtr& schema) {
    return std::make_unique<LazyCursor>(SerialTtys(ctx), [ctx, schema](const std::string& n) -> std::optional<Object> {
        if (!IsPresentSerialPort(ctx, n)) return std::nullopt;
        std::string b = "/sys/class/tty/" + n + "/";
        Row r(schema);
        SetSystemKeys(r, ctx, "Win32_SerialPort");
        std::string node = "/dev/" + n;
        r.set("DeviceID", node).set("Name", node).set("Caption", node);
        std::optional<std::string> desc;
        if (StartsWith(n, "ttyUSB") || StartsWith(n, "ttyACM")) {
            // The USB device is two levels up from the tty's interface.
            std::string usb = DirName(ctx.fs().resolve(b + "device"));
            if (StartsWith(n, "ttyUSB")) usb = DirName(usb);
            desc = ctx.readText(usb + "/product");
        }
        r.set("Description", desc);
        // A port the firmware announced is a Plug and Play device
        // (/sys/devices/pnp0/00:04) that Win32_PnPEntity lists too.
        if (std::string dev = ctx.fs().resolve(b + "device"); dev.find("/pnp") != std::string::npos)
            r.set("PNPDeviceID", PnpInstanceId(ctx, dev));
        // The UART's clock divided by 16 is its highest rate.
        if (auto clk = ctx.readUInt(b + "uartclk"); clk && *clk >= 16) r.setU32("MaxBaudRate", *clk / 16);
        return r.build();
    });
}

// The ports' line settings (speed, framing, flow control) live in the
// terminal driver and are only readable by opening the device, which raises
// its modem lines and may disturb what is attached; they stay Null.
std::unique_ptr<InstanceCursor> SerialPortConfigurations(const Context& ctx, const SchemaPtr& schema) {
    return std::make_unique<LazyCursor>(SerialTtys(ctx), [ctx, schema](const std::string& n) -> std::optional<Object> {
        if (!IsPresentSerialPort(ctx, n)) return std::nullopt;
        Row r(schema);
        const std::string node = Cat("/dev/", n);
        r.set("Name", node).set("SettingID", node).set("Caption", node).set("Description", node);
        return r.build();
    });
}

// Ports the parport core found; its modes name what the hardware can do.
std::unique_ptr<InstanceCursor> ParallelPorts(const Context& ctx, const SchemaPtr& schema) {
    std::vector<std::string> names;
    for (const auto& n : ctx.fs().listDir("/proc/sys/dev/parport"))
        if (StartsWith(n, "parport")) names.push_back(n);
    return std::make_unique<LazyCursor>(std::move(names), [ctx, schema](const std::string& n) -> std::optional<Object> {
        const std::string b = Cat("/proc/sys/dev/parport/", n, "/");
        auto modes = ctx.readText(b + "modes");
        if (!modes && !ctx.fs().isDirectory(b)) return std::nullopt;  // gone since the listing
        Row r(schema);
        SetSystemKeys(r, ctx, "Win32_ParallelPort");
        r.set("DeviceID", n).set("Name", n).set("Caption", n).set("Description", std::string("Parallel Port"));
        r.set("ProtocolSupported", 17);  // Parallel Protocol
        r.set("OSAutoDiscovered", true);  // probed by the kernel's driver
        if (modes) {
            // Capabilities: 2 XT/AT compatible, 3 PS/2 (bidirectional), 4 ECP, 5 EPP.
            static const std::pair<const char*, std::pair<int, const char*>> kModes[] = {
                {"PCSPP", {2, "XT/AT Compatible"}}, {"TRISTATE", {3, "PS/2 Compatible"}},
                {"ECP", {4, "ECP"}}, {"EPP", {5, "EPP"}}};
            const std::string list = Cat(",", *modes, ",");
            auto has = [&](const char* m) { return list.find(Cat(",", m, ",")) != std::string::npos; };
            std::vector<int> caps;
            std::vector<std::string> texts;
            for (const auto& [mode, cap] : kModes)
                if (has(mode)) {
                    caps.push_back(cap.first);
                    texts.emplace_back(cap.second);
                }
            if (!caps.empty()) r.setInts("Capabilities", caps).setStrings("CapabilityDescriptions", texts);
            r.set("DMASupport", has("DMA"));
        }
        return r.build();
    });
}

std::optional<int> BcdVersion(const std::optional<std::string>& text) {
    if (!text) return std::nullopt;
    std::size_t dot = text->find('.');
    if (dot == std::string::npos) return std::nullopt;
    auto major = ParseInt(text->substr(0, dot));
    std::string minorText = text->substr(dot + 1);
    if (!major || minorText.size() != 2 || *major < 0 || *major > 99) return std::nullopt;
    auto minor = ParseUInt(minorText, 16);  // the digits are BCD nibbles already
    if (!minor) return std::nullopt;
    return static_cast<int>(((*major / 10) << 12) | ((*major % 10) << 8) | static_cast<int>(*minor));
}

std::unique_ptr<InstanceCursor> UsbHubs(const Context& ctx, const SchemaPtr& schema) {
    std::vector<std::string> devs;
    for (const auto& d : ctx.fs().listDir("/sys/bus/usb/devices"))
        if (d.find(':') == std::string::npos) devs.push_back(d);
    return std::make_unique<LazyCursor>(std::move(devs), [ctx, schema](const std::string& d) -> std::optional<Object> {
        std::string b = "/sys/bus/usb/devices/" + d + "/";
        auto cls = ctx.readUInt(b + "bDeviceClass", 16);
        if (!cls || *cls != 0x09) return std::nullopt;  // not a hub, or gone
        auto v = ctx.readUInt(b + "idVendor", 16), p = ctx.readUInt(b + "idProduct", 16);
        Row r(schema);
        SetSystemKeys(r, ctx, "Win32_USBHub");
        if (v && p) {
            char id[40];
            std::snprintf(id, sizeof id, "USB\\VID_%04X&PID_%04X\\", static_cast<unsigned>(*v), static_cast<unsigned>(*p));
            r.set("DeviceID", id + d).set("PNPDeviceID", id + d);
        }
        auto name = ctx.readText(b + "product");
        if (!name && v && p) name = ctx.usbNames(static_cast<unsigned>(*v), static_cast<unsigned>(*p)).device;
        r.set("Name", name).set("Caption", name).set("Description", name);
        r.set("ClassCode", static_cast<int>(*cls));
        auto small = [&](const char* f, int base) -> std::optional<int> {
            auto x = ctx.readUInt(b + f, base);
            if (!x || *x > 255) return std::nullopt;
            return static_cast<int>(*x);
        };
        r.set("SubclassCode", small("bDeviceSubClass", 16));
        r.set("ProtocolCode", small("bDeviceProtocol", 16));
        r.set("NumberOfConfigs", small("bNumConfigurations", 10));
        r.set("CurrentConfigValue", small("bConfigurationValue", 10));
        r.set("NumberOfPorts", small("maxchild", 10));
        r.set("USBVersion", BcdVersion(ctx.readText(b + "version")));
        return r.build();
    });
}

std::unique_ptr<InstanceCursor> Buses(const Context& ctx, const SchemaPtr& schema) {
    std::vector<Object> out;
    for (const auto& name : ctx.fs().listDir("/sys/class/pci_bus")) {
        // "0000:00": domain and bus number in hex
        std::size_t colon = name.find(':');
        if (colon == std::string::npos) continue;
        auto domain = ParseUInt(name.substr(0, colon), 16);
        auto bus = ParseUInt(name.substr(colon + 1), 16);
        if (!domain || !bus) continue;
        Row r(schema);
        SetSystemKeys(r, ctx, "Win32_Bus");
        std::string id = "PCI_BUS_" + (*domain ? std::to_string(*domain) + "_" : std::string()) + std::to_string(*bus);
        r.set("DeviceID", id).set("Name", id).set("Caption", id);
        r.set("BusType", 5);  // PCI Bus
        r.setU32("BusNum", *bus);
        out.push_back(r.build());
    }
    return std::make_unique<VectorCursor>(std::move(out));
}

}  // namespace

void RegisterPortClasses(Registry& reg) {
    reg.add("Win32_SerialPort", SerialPorts);
    reg.add("Win32_SerialPortConfiguration", SerialPortConfigurations);
    reg.add("Win32_ParallelPort", ParallelPorts);
    reg.add("Win32_USBHub", UsbHubs);
    reg.add("Win32_Bus", Buses);
}

}  // namespace wmi::lnx
