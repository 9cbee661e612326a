// Win32_DisplayConfiguration, Win32_VideoController and Win32_DesktopMonitor
// from the DRM devices of /sys/class/drm, the frame buffers of
// /sys/class/graphics and the monitors' EDID.
#include <cctype>
#include <set>

#include "wmi/linux/system_info.h"

namespace wmi::lnx {

namespace {

bool IsCardName(const std::string& n) {
    if (!StartsWith(n, "card") || n.size() == 4) return false;
    for (std::size_t i = 4; i < n.size(); ++i)
        if (!std::isdigit(static_cast<unsigned char>(n[i]))) return false;
    return true;
}

struct Card {
    std::string name;       // "card0"
    std::string devicePath; // resolved sysfs path of the underlying device
    std::optional<std::string> vendorName;
    std::optional<std::string> deviceName;
    std::optional<std::string> driver;
    std::optional<std::string> driverVersion;
    // The frame buffer on the same device: what the console shows.
    std::optional<std::int64_t> width, height, bpp;
};

std::optional<Card> ReadCard(const Context& ctx, const std::string& name) {
    std::string base = "/sys/class/drm/" + name;
    if (!ctx.fs().exists(base)) return std::nullopt;
    Card c;
    c.name = name;
    c.devicePath = ctx.fs().resolve(base + "/device");
    auto vendor = ctx.readUInt(base + "/device/vendor", 16);
    auto device = ctx.readUInt(base + "/device/device", 16);
    if (vendor && device) {
        IdNames n = ctx.pciNames(static_cast<unsigned>(*vendor), static_cast<unsigned>(*device));
        c.vendorName = n.vendor;
        c.deviceName = n.device;
    }
    std::string drv = ctx.fs().resolve(base + "/device/driver");
    if (ctx.fs().exists(base + "/device/driver")) c.driver = BaseName(drv);
    if (c.driver) c.driverVersion = ctx.readText("/sys/module/" + *c.driver + "/version");
    for (const auto& fb : ctx.fs().listDir("/sys/class/graphics")) {
        if (!StartsWith(fb, "fb")) continue;
        std::string fbBase = "/sys/class/graphics/" + fb;
        if (ctx.fs().resolve(fbBase + "/device") != c.devicePath) continue;
        if (auto size = ctx.readText(fbBase + "/virtual_size")) {
            std::size_t comma = size->find(',');
            if (comma != std::string::npos) {
                c.width = ParseInt(size->substr(0, comma));
                c.height = ParseInt(size->substr(comma + 1));
            }
        }
        c.bpp = ctx.readInt(fbBase + "/bits_per_pixel");
        break;
    }
    return c;
}

std::vector<std::string> CardNames(const Context& ctx) {
    std::vector<std::string> out;
    for (const auto& n : ctx.fs().listDir("/sys/class/drm"))
        if (IsCardName(n)) out.push_back(n);
    return out;
}

std::optional<std::string> CardTitle(const Card& c) {
    if (c.deviceName) return c.deviceName;
    return c.driver;
}

std::optional<std::uint64_t> NonNegative(std::optional<std::int64_t> v) {
    if (!v || *v < 0) return std::nullopt;
    return static_cast<std::uint64_t>(*v);
}

std::unique_ptr<InstanceCursor> DisplayConfigurations(const Context& ctx, const SchemaPtr& schema) {
    return std::make_unique<LazyCursor>(CardNames(ctx), [ctx, schema](const std::string& name) -> std::optional<Object> {
        auto c = ReadCard(ctx, name);
        if (!c) return std::nullopt;
        Row r(schema);
        auto title = CardTitle(*c);
        r.set("DeviceName", title).set("Caption", title).set("Description", title).set("SettingID", title);
        r.set("DriverVersion", c->driverVersion);
        r.setU32("PelsWidth", NonNegative(c->width));
        r.setU32("PelsHeight", NonNegative(c->height));
        r.setU32("BitsPerPel", NonNegative(c->bpp));
        return r.build();
    });
}

std::unique_ptr<InstanceCursor> VideoControllers(const Context& ctx, const SchemaPtr& schema) {
    auto names = CardNames(ctx);
    auto index = std::make_shared<int>(0);
    return std::make_unique<LazyCursor>(std::move(names), [ctx, schema, index](const std::string& name) -> std::optional<Object> {
        auto c = ReadCard(ctx, name);
        if (!c) return std::nullopt;
        Row r(schema);
        SetSystemKeys(r, ctx, "Win32_VideoController");
        r.set("DeviceID", "VideoController" + std::to_string(++*index));
        auto title = CardTitle(*c);
        r.set("Name", title).set("Caption", title).set("Description", title);
        r.set("VideoProcessor", c->deviceName);
        r.set("AdapterCompatibility", c->vendorName);
        r.set("InstalledDisplayDrivers", c->driver);
        r.set("DriverVersion", c->driverVersion);
        r.setU32("AdapterRAM", ctx.readUInt("/sys/class/drm/" + name + "/device/mem_info_vram_total"));
        r.setU32("CurrentHorizontalResolution", NonNegative(c->width));
        r.setU32("CurrentVerticalResolution", NonNegative(c->height));
        r.setU32("CurrentBitsPerPixel", NonNegative(c->bpp));
        if (c->bpp && *c->bpp > 0 && *c->bpp < 64) r.setU64("CurrentNumberOfColors", std::uint64_t{1} << *c->bpp);
        return r.build();
    });
}

std::unique_ptr<InstanceCursor> ControllerConfigurations(const Context& ctx, const SchemaPtr& schema) {
    return std::make_unique<LazyCursor>(CardNames(ctx), [ctx, schema](const std::string& name) -> std::optional<Object> {
        auto c = ReadCard(ctx, name);
        if (!c) return std::nullopt;
        Row r(schema);
        auto title = CardTitle(*c);
        r.set("Name", title).set("Caption", title).set("Description", title).set("SettingID", title);
        r.setU32("HorizontalResolution", NonNegative(c->width));
        r.setU32("VerticalResolution", NonNegative(c->height));
        r.setU32("BitsPerPixel", NonNegative(c->bpp));
        return r.build();
    });
}

// The modes connected monitors offer ("1920x1080", "1920x1080i"), each once.
std::unique_ptr<InstanceCursor> Resolutions(const Context& ctx, const SchemaPtr& schema) {
    std::vector<Object> out;
    std::set<std::string> seen;
    for (const auto& n : ctx.fs().listDir("/sys/class/drm")) {
        if (!StartsWith(n, "card") || n.find('-') == std::string::npos) continue;
        std::string base = "/sys/class/drm/" + n;
        if (ctx.readText(base + "/status") != std::optional<std::string>("connected")) continue;
        auto modes = ctx.read(base + "/modes", 64 * 1024);
        if (!modes) continue;
        for (const auto& raw : SplitLines(*modes)) {
            std::string mode = Trim(raw);
            std::size_t x = mode.find('x');
            if (x == std::string::npos || !seen.insert(mode).second) continue;
            bool interlaced = !mode.empty() && mode.back() == 'i';
            auto w = ParseUInt(mode.substr(0, x));
            auto h = ParseUInt(mode.substr(x + 1, mode.size() - x - 1 - (interlaced ? 1 : 0)));
            if (!w || !h) continue;
            Row r(schema);
            std::string id = std::to_string(*w) + " by " + std::to_string(*h) + " pixels" + (interlaced ? ", interlaced" : "");
            r.set("SettingID", id).set("Caption", id).set("Description", id);
            r.setU32("HorizontalResolution", *w);
            r.setU32("VerticalResolution", *h);
            r.set("ScanMode", interlaced ? 5 : 4);  // interlaced / non-interlaced operation
            out.push_back(r.build());
        }
    }
    return std::make_unique<VectorCursor>(std::move(out));
}

// Monitors: connected connectors of every card, described by their EDID.
std::unique_ptr<InstanceCursor> DesktopMonitors(const Context& ctx, const SchemaPtr& schema) {
    std::vector<std::string> connectors;
    for (const auto& n : ctx.fs().listDir("/sys/class/drm"))
        if (StartsWith(n, "card") && n.find('-') != std::string::npos) connectors.push_back(n);
    return std::make_unique<LazyCursor>(std::move(connectors), [ctx, schema](const std::string& name) -> std::optional<Object> {
        std::string base = "/sys/class/drm/" + name;
        auto status = ctx.readText(base + "/status");
        if (!status || *status != "connected") return std::nullopt;
        Row r(schema);
        SetSystemKeys(r, ctx, "Win32_DesktopMonitor");
        r.set("DeviceID", name);
        std::optional<std::string> title;
        if (auto m = MonitorOf(ctx, name)) {
            r.set("MonitorManufacturer", m->manufacturerId);
            title = m->name;
            r.set("MonitorType", title);
            r.set("PNPDeviceID", m->instanceId);
        }
        r.set("Name", title).set("Caption", title).set("Description", title);
        if (auto dpms = ctx.readText(base + "/dpms")) {
            // Availability codes: 3 running, 7 power off, 14 low power, 15 standby.
            if (*dpms == "On") r.set("Availability", 3);
            else if (*dpms == "Off") r.set("Availability", 7);
            else if (*dpms == "Standby") r.set("Availability", 15);
            else if (*dpms == "Suspend") r.set("Availability", 14);
        }
        return r.build();
    });
}

}  // namespace

std::optional<MonitorIdentity> MonitorOf(const Context& ctx, const std::string& connector) {
    auto raw = ctx.read("/sys/class/drm/" + connector + "/edid", 32 * 1024);
    if (!raw) return std::nullopt;
    auto e = ParseEdid(*raw);
    if (!e) return std::nullopt;
    char code[8];
    std::snprintf(code, sizeof code, "%04X", e->productCode & 0xFFFF);
    MonitorIdentity m{{}, e->manufacturerId + code, e->manufacturerId, {}};
    m.name = e->monitorName ? *e->monitorName : m.code;
    // The connector tells two monitors of one model apart.
    m.instanceId = Cat("DISPLAY\\", m.code, "\\", connector);
    return m;
}

void RegisterDisplayClasses(Registry& reg) {
    reg.add("Win32_DisplayConfiguration", DisplayConfigurations);
    reg.add("Win32_VideoController", VideoControllers);
    reg.add("Win32_DesktopMonitor", DesktopMonitors);
    reg.add("Win32_DisplayControllerConfiguration", ControllerConfigurations);
    reg.add("CIM_VideoControllerResolution", Resolutions);
}

}  // namespace wmi::lnx
