// Win32_Battery, Win32_PortableBattery and Win32_UninterruptiblePowerSupply
// from /sys/class/power_supply; temperature, fan, voltage and current probes from /sys/class/hwmon.
#include "wmi/linux/system_info.h"

namespace wmi::lnx {

namespace {

std::vector<std::string> SuppliesOfType(const Context& ctx, const char* type) {
    std::vector<std::string> out;
    for (const auto& n : ctx.fs().listDir("/sys/class/power_supply"))
        if (ctx.readText(Cat("/sys/class/power_supply/", n, "/type")) == std::optional<std::string>(type)) out.push_back(n);
    return out;
}

std::vector<std::string> Batteries(const Context& ctx) {
    std::vector<std::string> out;
    for (const auto& n : SuppliesOfType(ctx, "Battery")) {
        std::string b = "/sys/class/power_supply/" + n;
        // Batteries of mice and keyboards do not power the computer.
        if (ctx.readText(b + "/scope") == std::optional<std::string>("Device")) continue;
        out.push_back(n);
    }
    return out;
}

// Power-supply class figures are in micro units.
std::optional<std::uint64_t> Micro(const Context& ctx, const std::string& path) { return ctx.readUInt(path); }

std::optional<Object> BatteryInstance(const Context& ctx, const SchemaPtr& schema, const std::string& name, bool portable) {
    std::string b = "/sys/class/power_supply/" + name + "/";
    auto status = ctx.readText(b + "status");
    if (!status && !ctx.fs().exists(b + "type")) return std::nullopt;  // removed while listing
    Row r(schema);
    const char* cls = portable ? "Win32_PortableBattery" : "Win32_Battery";
    SetSystemKeys(r, ctx, cls);
    r.set("DeviceID", name);
    auto model = ctx.readText(b + "model_name");
    r.set("Name", model);
    r.set("Caption", std::string("Internal Battery")).set("Description", std::string("Internal Battery"));
    auto capacity = ctx.readInt(b + "capacity");
    if (capacity && *capacity >= 0 && *capacity <= 100) r.set("EstimatedChargeRemaining", static_cast<int>(*capacity));
    auto level = ctx.readText(b + "capacity_level");
    if (status) {
        int code = 2;  // Unknown
        if (*status == "Discharging") code = level == std::optional<std::string>("Critical") ? 5 : level == std::optional<std::string>("Low") ? 4 : 1;
        else if (*status == "Charging") code = 6;
        else if (*status == "Full") code = 3;
        else if (*status == "Not charging") code = 11;  // partially charged, on mains
        r.set("BatteryStatus", code);
    }
    if (auto tech = ctx.readText(b + "technology")) {
        int chem = 1;  // Other
        if (*tech == "Li-ion") chem = 6;
        else if (*tech == "Li-poly") chem = 8;
        else if (*tech == "NiMH") chem = 5;
        else if (*tech == "NiCd") chem = 4;
        else if (*tech == "Unknown") chem = 2;
        r.set("Chemistry", chem);
    }
    auto voltDesign = Micro(ctx, b + "voltage_min_design");
    if (voltDesign) r.setU64("DesignVoltage", *voltDesign / 1000);
    // Capacities in mWh: energy_* directly, charge_* (µAh) through the design voltage.
    auto mWh = [&](const char* energy, const char* charge) -> std::optional<std::uint64_t> {
        if (auto e = Micro(ctx, b + energy)) return *e / 1000;
        if (auto c = Micro(ctx, b + charge); c && voltDesign) return *c / 1000 * (*voltDesign / 1000) / 1000;
        return std::nullopt;
    };
    r.setU32("DesignCapacity", mWh("energy_full_design", "charge_full_design"));
    r.setU32("FullChargeCapacity", mWh("energy_full", "charge_full"));
    auto now = mWh("energy_now", "charge_now");
    auto full = mWh("energy_full", "charge_full");
    std::optional<std::uint64_t> powerMw;
    if (auto p = Micro(ctx, b + "power_now")) powerMw = *p / 1000;
    else if (auto c = Micro(ctx, b + "current_now"); c && voltDesign) powerMw = *c / 1000 * (*voltDesign / 1000) / 1000;
    if (status == std::optional<std::string>("Discharging") && now && powerMw && *powerMw > 0)
        r.setU32("EstimatedRunTime", *now * 60 / *powerMw);
    if (status == std::optional<std::string>("Charging") && now && full && powerMw && *powerMw > 0 && *full >= *now)
        r.setU32("TimeToFullCharge", (*full - *now) * 60 / *powerMw);
    if (portable) {
        r.set("Manufacturer", ctx.readText(b + "manufacturer"));
        auto y = ctx.readInt(b + "manufacture_year"), m = ctx.readInt(b + "manufacture_month"), d = ctx.readInt(b + "manufacture_day");
        if (y && m && d) {
            char buf[16];
            std::snprintf(buf, sizeof buf, "%04d%02d%02d", static_cast<int>(*y), static_cast<int>(*m), static_cast<int>(*d));
            r.set("ManufactureDate", std::string(buf));
        }
    }
    return r.build();
}

std::unique_ptr<InstanceCursor> BatteryClass(const Context& ctx, const SchemaPtr& schema, bool portable) {
    return std::make_unique<LazyCursor>(Batteries(ctx), [ctx, schema, portable](const std::string& n) {
        return BatteryInstance(ctx, schema, n, portable);
    });
}

std::unique_ptr<InstanceCursor> Battery(const Context& ctx, const SchemaPtr& schema) { return BatteryClass(ctx, schema, false); }
std::unique_ptr<InstanceCursor> PortableBattery(const Context& ctx, const SchemaPtr& schema) { return BatteryClass(ctx, schema, true); }

std::optional<Object> UpsInstance(const Context& ctx, const SchemaPtr& schema, const std::string& name) {
    const std::string b = Cat("/sys/class/power_supply/", name, "/");
    if (!ctx.fs().exists(b + "type")) return std::nullopt;  // removed while listing
    Row r(schema);
    SetSystemKeys(r, ctx, "Win32_UninterruptiblePowerSupply");
    r.set("DeviceID", name);
    auto model = ctx.readText(b + "model_name");
    r.set("Name", model ? model : std::optional<std::string>(name));
    r.set("Caption", std::string("Uninterruptible Power Supply")).set("Description", std::string("Uninterruptible Power Supply"));
    if (auto present = ctx.readInt(b + "present")) r.set("BatteryInstalled", *present == 1);
    auto capacity = ctx.readInt(b + "capacity");
    if (capacity && *capacity >= 0 && *capacity <= 100) r.set("EstimatedChargeRemaining", static_cast<int>(*capacity));
    // RemainingCapacityStatus: 2 normal, 3 low, 4 depleted; 1 unknown.
    if (auto level = ctx.readText(b + "capacity_level")) {
        int code = 1;
        if (*level == "Normal" || *level == "High" || *level == "Full") code = 2;
        else if (*level == "Low") code = 3;
        else if (*level == "Critical") code = 4;
        r.set("RemainingCapacityStatus", code);
    }
    // The run time the UPS itself predicts, in minutes.
    if (auto s = ctx.readUInt(b + "time_to_empty_now")) r.setU32("EstimatedRunTime", *s / 60);
    return r.build();
}

std::unique_ptr<InstanceCursor> Upses(const Context& ctx, const SchemaPtr& schema) {
    return std::make_unique<LazyCursor>(SuppliesOfType(ctx, "UPS"), [ctx, schema](const std::string& n) {
        return UpsInstance(ctx, schema, n);
    });
}

// Sensor channels of one kind ("temp", "fan", "in", "curr") over all hwmon chips.
std::vector<std::string> SensorChannels(const Context& ctx, const std::string& kind) {
    std::vector<std::string> out;
    for (const auto& chip : ctx.fs().listDir("/sys/class/hwmon")) {
        for (const auto& f : ctx.fs().listDir("/sys/class/hwmon/" + chip)) {
            if (!StartsWith(f, kind) || f.size() < kind.size() + 7 || f.compare(f.size() - 6, 6, "_input") != 0) continue;
            std::string idx = f.substr(kind.size(), f.size() - kind.size() - 6);
            if (!ParseInt(idx)) continue;  // e.g. "temp" vs "tempX_..." of other kinds
            out.push_back(Cat(chip, "/", kind, idx));
        }
    }
    return out;
}

// Probe readings: temperatures in tenths of a degree (from millidegrees),
// voltages in millivolts and currents in milliamperes (as hwmon gives them).
std::unique_ptr<InstanceCursor> Probes(const Context& ctx, const SchemaPtr& schema, const std::string& kind, const char* cls, int divisor) {
    std::string className = cls;
    return std::make_unique<LazyCursor>(SensorChannels(ctx, kind), [ctx, schema, kind, className, divisor](const std::string& ch) -> std::optional<Object> {
        std::string chip = ch.substr(0, ch.find('/'));
        std::string base = "/sys/class/hwmon/" + ch;
        auto value = ctx.readInt(base + "_input");
        if (!value && !ctx.fs().exists(base + "_input")) return std::nullopt;
        Row r(schema);
        SetSystemKeys(r, ctx, className.c_str());
        r.set("DeviceID", ch);
        auto chipName = ctx.readText("/sys/class/hwmon/" + chip + "/name");
        auto label = ctx.readText(base + "_label");
        std::string title = chipName.value_or(chip) + " " + label.value_or(ch.substr(ch.find('/') + 1));
        r.set("Name", title).set("Caption", title).set("Description", title);
        auto scaled = [&](std::optional<std::int64_t> v) -> std::optional<int> {
            if (!v) return std::nullopt;
            std::int64_t s = *v / divisor;
            if (s < INT32_MIN || s > INT32_MAX) return std::nullopt;
            return static_cast<int>(s);
        };
        r.set("CurrentReading", scaled(value));
        r.set("UpperThresholdNonCritical", scaled(ctx.readInt(base + "_max")));
        r.set("UpperThresholdCritical", scaled(ctx.readInt(base + "_crit")));
        r.set("UpperThresholdFatal", scaled(ctx.readInt(base + "_emergency")));
        r.set("LowerThresholdNonCritical", scaled(ctx.readInt(base + "_min")));
        r.set("LowerThresholdCritical", scaled(ctx.readInt(base + "_lcrit")));
        return r.build();
    });
}

std::unique_ptr<InstanceCursor> Temperatures(const Context& ctx, const SchemaPtr& schema) {
    return Probes(ctx, schema, "temp", "Win32_TemperatureProbe", 100);
}
std::unique_ptr<InstanceCursor> Voltages(const Context& ctx, const SchemaPtr& schema) {
    return Probes(ctx, schema, "in", "Win32_VoltageProbe", 1);
}
std::unique_ptr<InstanceCursor> Currents(const Context& ctx, const SchemaPtr& schema) {
    return Probes(ctx, schema, "curr", "Win32_CurrentProbe", 1);
}

std::unique_ptr<InstanceCursor> Fans(const Context& ctx, const SchemaPtr& schema) {
    return std::make_unique<LazyCursor>(SensorChannels(ctx, "fan"), [ctx, schema](const std::string& ch) -> std::optional<Object> {
        std::string chip = ch.substr(0, ch.find('/'));
        std::string base = "/sys/class/hwmon/" + ch;
        if (!ctx.fs().exists(base + "_input")) return std::nullopt;
        Row r(schema);
        SetSystemKeys(r, ctx, "Win32_Fan");
        r.set("DeviceID", ch);
        auto chipName = ctx.readText("/sys/class/hwmon/" + chip + "/name");
        auto label = ctx.readText(base + "_label");
        std::string title = chipName.value_or(chip) + " " + label.value_or(ch.substr(ch.find('/') + 1));
        r.set("Name", title).set("Caption", title).set("Description", title);
        r.set("ActiveCooling", true);
        if (auto target = ctx.readInt(base + "_target"); target && *target >= 0) r.setU64("DesiredSpeed", static_cast<std::uint64_t>(*target));
        return r.build();
    });
}

}  // namespace

void RegisterPowerClasses(Registry& reg) {
    reg.add("Win32_Battery", Battery);
    reg.add("Win32_PortableBattery", PortableBattery);
    reg.add("Win32_UninterruptiblePowerSupply", Upses);
    reg.add("Win32_TemperatureProbe", Temperatures);
    reg.add("Win32_VoltageProbe", Voltages);
    reg.add("Win32_CurrentProbe", Currents);
    reg.add("Win32_Fan", Fans);
}

}  // namespace wmi::lnx
