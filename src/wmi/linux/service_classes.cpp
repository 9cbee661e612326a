// Win32_Service from systemd unit files and SysV init scripts, with the
// running state from the service's control group where systemd runs;
// Win32_SystemDriver from the loaded kernel modules.
#include <algorithm>
#include <set>

#include "wmi/linux/os_common.h"
#include "wmi/schema/schema_table.h"

namespace wmi::lnx {

namespace {

// Unit directories by precedence: local configuration, runtime, vendor.
const char* const kUnitDirs[] = {"/etc/systemd/system", "/run/systemd/system", "/lib/systemd/system",
                                 "/usr/lib/systemd/system"};

bool EndsWith(const std::string& s, const std::string& suffix) {
    return s.size() >= suffix.size() && s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

struct ServiceFacts {
    std::string name;  // without ".service"
    std::optional<std::string> description, pathName, startMode, startName, state, status;
    std::optional<bool> started, acceptStop;
    std::optional<std::uint64_t> processId;
};

// systemd runs when its runtime directory exists (sd_booted() asks the same).
bool SystemdRuns(const Context& ctx) { return ctx.fs().isDirectory("/run/systemd/system"); }

std::set<std::string> EnabledUnits(const Context& ctx) {
    std::set<std::string> out;
    for (const char* dir : {"/etc/systemd/system", "/lib/systemd/system", "/usr/lib/systemd/system"})
        for (const auto& sub : ctx.fs().listDir(dir))
            if (EndsWith(sub, ".wants") || EndsWith(sub, ".requires"))
                for (const auto& unit : ctx.fs().listDir(JoinPath(dir, sub))) out.insert(unit);
    return out;
}

// The service's control group under the unified or the legacy hierarchy.
std::optional<std::string> CgroupOf(const Context& ctx, const std::string& unit) {
    for (const char* base : {"/sys/fs/cgroup/system.slice/", "/sys/fs/cgroup/systemd/system.slice/",
                             "/sys/fs/cgroup/unified/system.slice/"}) {
        std::string dir = base + unit;
        if (ctx.fs().isDirectory(dir)) return dir;
    }
    return std::nullopt;
}

// The processes of a group whose parent lies outside it: for a service with
// one such process, that is its main process.
std::optional<std::uint64_t> MainProcess(const Context& ctx, const std::vector<std::uint64_t>& pids) {
    std::set<std::uint64_t> in(pids.begin(), pids.end());
    std::optional<std::uint64_t> main;
    for (auto pid : pids) {
        auto stat = ctx.read("/proc/" + std::to_string(pid) + "/stat", 4096);
        auto s = stat ? ParseProcStat(*stat) : std::nullopt;
        if (!s) continue;
        if (in.count(static_cast<std::uint64_t>(s->ppid))) continue;
        if (main) return std::nullopt;
        main = pid;
    }
    return main;
}

void RuntimeState(const Context& ctx, bool systemd, const std::string& unit, bool refuseStop, ServiceFacts& f) {
    if (!systemd) return;
    std::vector<std::uint64_t> pids;
    if (auto cg = CgroupOf(ctx, unit))
        if (auto procs = ctx.read(*cg + "/cgroup.procs"))
            for (const auto& l : SplitLines(*procs))
                if (auto p = ParseUInt(l)) pids.push_back(*p);
    bool running = !pids.empty();
    f.state = running ? "Running" : "Stopped";
    f.started = running;
    f.acceptStop = running && !refuseStop;
    f.status = "OK";
    if (running) f.processId = MainProcess(ctx, pids);
}

std::string StripExecPrefixes(std::string s) {
    std::size_t i = 0;
    while (i < s.size() && std::string("-@:+!").find(s[i]) != std::string::npos) ++i;
    return s.substr(i);
}

// The unit systemd-sysv-generator makes of an init script: "hwclock.sh" runs
// as hwclock.service.
std::string UnitOfScript(const std::string& script) {
    return (EndsWith(script, ".sh") ? script.substr(0, script.size() - 3) : script) + ".service";
}

std::vector<ServiceFacts> ReadServices(const Context& ctx) {
    std::vector<ServiceFacts> out;
    std::set<std::string> seen;
    std::set<std::string> unitNames;  // every unit file name, aliases and masks included
    auto enabled = EnabledUnits(ctx);
    bool systemd = SystemdRuns(ctx);
    for (const char* dir : kUnitDirs) {
        for (const auto& file : ctx.fs().listDir(dir)) {
            if (!EndsWith(file, ".service") || file.find('@') != std::string::npos) continue;
            unitNames.insert(file);
            if (seen.count(file)) continue;
            std::string path = JoinPath(dir, file);
            std::optional<std::string> target = ctx.fs().readLink(path);
            bool masked = target && *target == "/dev/null";
            // Another name for a unit of a different name is an alias, not a service.
            if (target && !masked && BaseName(*target) != file) continue;
            seen.insert(file);
            ServiceFacts f;
            f.name = file.substr(0, file.size() - 8);
            bool refuseStop = false;
            if (masked) {
                f.startMode = "Disabled";
            } else {
                auto text = ctx.read(ctx.fs().resolve(path), 256 * 1024);
                if (!text) text = ctx.read(path, 256 * 1024);
                auto ini = text ? ParseIni(*text) : std::vector<IniSection>{};
                if (const IniSection* unit = FindSection(ini, "Unit")) {
                    f.description = unit->get("Description");
                    refuseStop = unit->get("RefuseManualStop").value_or("") == "yes";
                }
                const IniSection* svc = FindSection(ini, "Service");
                if (svc) {
                    if (auto exec = svc->get("ExecStart")) f.pathName = StripExecPrefixes(*exec);
                    auto user = svc->get("User");
                    if (svc->get("DynamicUser").value_or("") == "yes" && !user) user = std::nullopt;
                    else f.startName = user.value_or("root");  // systemd's default user
                }
                f.startMode = enabled.count(file) ? "Auto" : "Manual";
            }
            RuntimeState(ctx, systemd, file, refuseStop, f);
            out.push_back(std::move(f));
        }
    }
    // SysV scripts that no unit of the same name replaces: systemd neither
    // runs a script whose unit is an alias of another (kmod.service is
    // systemd-modules-load) nor one whose unit is masked (hwclock.service).
    std::set<std::string> bootStarted;
    for (const char* rc : {"/etc/rc2.d", "/etc/rc3.d", "/etc/rc4.d", "/etc/rc5.d", "/etc/rcS.d"})
        for (const auto& l : ctx.fs().listDir(rc))
            if (l.size() > 3 && l[0] == 'S') bootStarted.insert(l.substr(3));
    for (const auto& script : ctx.fs().listDir("/etc/init.d")) {
        if (unitNames.count(UnitOfScript(script)) || script == "README" || script[0] == '.' ||
            script == "rc" || script == "rcS" || script == "skeleton" || EndsWith(script, ".dpkg-dist"))
            continue;
        std::string path = "/etc/init.d/" + script;
        if (ctx.fs().isDirectory(path)) continue;
        ServiceFacts f;
        f.name = script;
        f.pathName = path;
        if (auto text = ctx.read(path, 64 * 1024))
            for (const auto& line : SplitLines(*text))
                if (StartsWith(line, "# Short-Description:")) f.description = Trim(line.substr(20));
        f.startMode = bootStarted.count(script) ? "Auto" : "Manual";
        // Under systemd a script runs as a generated unit of its name.
        RuntimeState(ctx, systemd, UnitOfScript(script), false, f);
        out.push_back(std::move(f));
    }
    std::sort(out.begin(), out.end(), [](const ServiceFacts& a, const ServiceFacts& b) { return a.name < b.name; });
    return out;
}

Object ServiceRow(const Context& ctx, const SchemaPtr& schema, const ServiceFacts& f) {
    Row r(schema);
    SetSystemKeys(r, ctx, "Win32_Service");
    r.set("Name", f.name);
    std::string display = f.description.value_or(f.name);
    r.set("DisplayName", display).set("Caption", display).set("Description", f.description);
    r.set("PathName", f.pathName).set("StartMode", f.startMode).set("StartName", f.startName);
    r.set("ServiceType", "Own Process");
    r.set("State", f.state).set("Started", f.started).set("Status", f.status);
    r.set("AcceptStop", f.acceptStop);
    if (f.state) r.set("AcceptPause", false);  // systemd has no pause
    if (schema->indexOf("ProcessId") >= 0) r.setU32("ProcessId", f.processId);
    return r.build();
}

std::unique_ptr<InstanceCursor> Services(const Context& ctx, const SchemaPtr& schema) {
    std::vector<Object> out;
    for (const auto& f : ReadServices(ctx)) out.push_back(ServiceRow(ctx, schema, f));
    return std::make_unique<VectorCursor>(std::move(out));
}

// --- kernel modules ---

std::string ModuleKey(std::string n) {
    std::replace(n.begin(), n.end(), '-', '_');
    return n;
}

std::vector<Object> Drivers(const Context& ctx, const SchemaPtr& schema) {
    std::vector<Object> out;
    // A kernel without loadable modules has no /proc/modules; its built-in
    // modules and drivers are still listed below.
    auto text = ctx.read("/proc/modules");
    std::map<std::string, std::string> paths;
    auto release = ctx.readText("/proc/sys/kernel/osrelease");
    if (release) {
        std::string base = "/lib/modules/" + *release + "/";
        if (auto dep = ctx.read(base + "modules.dep", 16u << 20))
            for (const auto& line : SplitLines(*dep)) {
                std::string file = line.substr(0, line.find(':'));
                std::string name = BaseName(file);
                name = name.substr(0, name.find(".ko"));
                paths.emplace(ModuleKey(name), file[0] == '/' ? file : base + file);
            }
    }
    std::set<std::string> atBoot;
    auto addBootList = [&](const std::string& t) {
        for (const auto& l : SplitLines(t)) {
            std::string s = Trim(l.substr(0, l.find_first_of("#;")));
            if (!s.empty()) atBoot.insert(ModuleKey(FirstWord(s)));
        }
    };
    if (auto t = ctx.read("/etc/modules")) addBootList(*t);
    for (const char* dir : {"/etc/modules-load.d", "/run/modules-load.d", "/usr/lib/modules-load.d", "/lib/modules-load.d"})
        for (const auto& f : ctx.fs().listDir(dir))
            if (auto t = ctx.read(JoinPath(dir, f))) addBootList(*t);
    std::set<std::string> loaded;
    for (const auto& m : text ? ParseModules(*text) : std::vector<ModuleLine>{}) {
        Row r(schema);
        SetSystemKeys(r, ctx, "Win32_SystemDriver");
        r.set("Name", m.name).set("DisplayName", m.name).set("Caption", m.name);
        auto p = paths.find(ModuleKey(m.name));
        if (p != paths.end()) r.set("PathName", p->second);
        r.set("ServiceType", "Kernel Driver");
        bool live = m.state == "Live";
        r.set("State", live ? "Running" : m.state == "Loading" ? "Start Pending" : m.state == "Unloading" ? "Stop Pending" : "Unknown");
        r.set("Started", live).set("Status", "OK");
        // A module nothing uses can be unloaded.
        r.set("AcceptStop", live && m.refCount == 0 && m.usedBy.empty()).set("AcceptPause", false);
        r.set("StartMode", atBoot.count(ModuleKey(m.name)) ? "Auto" : "Manual");
        r.set("StartName", "");
        out.push_back(r.build());
        loaded.insert(ModuleKey(m.name));
    }
    // Modules built into the kernel start with it and cannot be unloaded:
    // those modules.builtin names, those of /sys/module without the
    // initstate a loaded module has, and drivers registered on a bus
    // (/sys/bus/*/drivers) that belong to no module listed already.
    std::optional<std::string> image;
    if (release && ctx.fs().exists("/boot/vmlinuz-" + *release)) image = "/boot/vmlinuz-" + *release;
    auto builtIn = [&](const std::string& rawName, const std::optional<std::string>& description) {
        std::string name = ModuleKey(rawName);
        if (name.empty() || !loaded.insert(name).second) return;
        Row r(schema);
        SetSystemKeys(r, ctx, "Win32_SystemDriver");
        r.set("Name", rawName).set("DisplayName", rawName).set("Caption", rawName).set("Description", description);
        r.set("PathName", image);
        r.set("ServiceType", "Kernel Driver").set("State", "Running").set("Started", true).set("Status", "OK");
        r.set("StartMode", "Boot").set("AcceptStop", false).set("AcceptPause", false).set("StartName", "");
        out.push_back(r.build());
    };
    if (release)
        if (auto builtin = ctx.read("/lib/modules/" + *release + "/modules.builtin", 4u << 20))
            for (const auto& line : SplitLines(*builtin)) {
                std::string name = BaseName(Trim(line));
                builtIn(name.substr(0, name.find(".ko")), std::nullopt);
            }
    for (const auto& m : ctx.fs().listDir("/sys/module"))
        if (!ctx.fs().exists("/sys/module/" + m + "/initstate")) builtIn(m, std::nullopt);
    for (const auto& bus : ctx.fs().listDir("/sys/bus"))
        for (const auto& drv : ctx.fs().listDir("/sys/bus/" + bus + "/drivers")) {
            std::string dir = "/sys/bus/" + bus + "/drivers/" + drv;
            // A driver of a module is that module's (a loadable one is
            // listed from /proc/modules).
            if (auto mod = ctx.fs().readLink(dir + "/module")) {
                const std::string m = BaseName(*mod);
                if (loaded.count(ModuleKey(m)) || ctx.fs().exists("/sys/module/" + m + "/initstate")) continue;
            }
            builtIn(drv, Cat("Driver on the ", bus, " bus"));
        }
    return out;
}

std::unique_ptr<InstanceCursor> SystemDrivers(const Context& ctx, const SchemaPtr& schema) {
    return std::make_unique<VectorCursor>(Drivers(ctx, schema));
}

// The abstract base answers with services and drivers, each in its own class.
std::unique_ptr<InstanceCursor> BaseServices(const Context& ctx, const SchemaPtr&) {
    std::vector<Object> out;
    auto svc = LookupSchema("Win32_Service");
    for (const auto& f : ReadServices(ctx)) out.push_back(ServiceRow(ctx, svc, f));
    for (auto& d : Drivers(ctx, LookupSchema("Win32_SystemDriver"))) out.push_back(std::move(d));
    return std::make_unique<VectorCursor>(std::move(out));
}

}  // namespace

void RegisterServiceClasses(Registry& r) {
    r.add("Win32_Service", Services);
    r.add("Win32_BaseService", BaseServices);
    r.add("Win32_SystemDriver", SystemDrivers);
}

}  // namespace wmi::lnx
