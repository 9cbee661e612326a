// Printers from the print system's configuration (CUPS): printers.conf where
// readable (root only on most systems), else the printcap CUPS publishes for
// everyone, which names the printers and little else. Print jobs from the
// files cupsd keeps them in.
#include <algorithm>
#include <map>
#include <set>

#include "wmi/linux/cups_parsers.h"
#include "wmi/linux/ipp_parser.h"
#include "wmi/linux/provider_core.h"

namespace wmi::lnx {

namespace {

std::vector<CupsPrinter> ReadPrinters(const Context& ctx) {
    if (auto conf = ctx.read("/etc/cups/printers.conf")) return ParseCupsPrinters(*conf);
    for (const char* path : {"/run/cups/printcap", "/var/run/cups/printcap", "/etc/printcap"})
        if (auto cap = ctx.read(path)) return ParsePrintcap(*cap);
    return {};
}

bool IsNetworkUri(const std::optional<std::string>& uri) {
    if (!uri) return false;
    auto u = ParseDeviceUri(*uri);
    if (!u) return false;
    for (const char* s : {"ipp", "ipps", "http", "https", "socket", "lpd", "smb", "dnssd"})
        if (u->scheme == s) return true;
    return false;
}

std::unique_ptr<InstanceCursor> Printers(const Context& ctx, const SchemaPtr& schema) {
    std::vector<Object> out;
    for (const auto& p : ReadPrinters(ctx)) {
        Row r(schema);
        SetSystemKeys(r, ctx, "Win32_Printer");
        r.set("Name", p.name).set("DeviceID", p.name).set("Caption", p.name);
        r.set("Description", p.info).set("Comment", p.info).set("Location", p.location);
        r.set("DriverName", p.makeModel).set("PortName", p.deviceUri);
        if (!p.state) {
            out.push_back(r.build());  // only its name is published
            continue;
        }
        bool network = IsNetworkUri(p.deviceUri);
        r.set("Default", p.isDefault).set("Network", network).set("Local", !network);
        r.set("Shared", p.shared);
        // PrinterStatus: 3 idle, 4 printing, 6 stopped.
        std::optional<int> status;
        if (*p.state == "Idle") status = 3;
        else if (*p.state == "Processing") status = 4;
        else if (*p.state == "Stopped") status = 6;
        r.set("PrinterStatus", status).set("ExtendedPrinterStatus", status);
        std::int64_t attributes = (p.isDefault ? 4 : 0) | (p.shared.value_or(false) ? 8 : 0) | (network ? 16 : 64);
        r.setU32("Attributes", static_cast<std::uint64_t>(attributes));
        if (p.accepting) r.set("WorkOffline", !*p.accepting);
        out.push_back(r.build());
    }
    return std::make_unique<VectorCursor>(std::move(out));
}

std::unique_ptr<InstanceCursor> PrinterConfigurations(const Context& ctx, const SchemaPtr& schema) {
    std::vector<Object> out;
    for (const auto& p : ReadPrinters(ctx)) {
        Row r(schema);
        r.set("Name", p.name).set("Caption", p.name).set("SettingID", p.name).set("DeviceName", p.name);
        r.set("Description", p.info);
        out.push_back(r.build());
    }
    return std::make_unique<VectorCursor>(std::move(out));
}

std::unique_ptr<InstanceCursor> PrinterDrivers(const Context& ctx, const SchemaPtr& schema) {
    std::vector<Object> out;
    std::vector<std::string> seen;
    for (const auto& p : ReadPrinters(ctx)) {
        if (!p.makeModel || std::find(seen.begin(), seen.end(), *p.makeModel) != seen.end()) continue;
        seen.push_back(*p.makeModel);
        Row r(schema);
        SetSystemKeys(r, ctx, "Win32_PrinterDriver");
        r.set("Name", *p.makeModel).set("Caption", *p.makeModel).set("Description", *p.makeModel);
        std::string ppd = "/etc/cups/ppd/" + p.name + ".ppd";
        if (ctx.fs().exists(ppd)) r.set("DataFile", ppd);
        out.push_back(r.build());
    }
    return std::make_unique<VectorCursor>(std::move(out));
}

std::unique_ptr<InstanceCursor> TcpIpPorts(const Context& ctx, const SchemaPtr& schema) {
    std::vector<Object> out;
    for (const auto& p : ReadPrinters(ctx)) {
        if (!p.deviceUri) continue;
        auto u = ParseDeviceUri(*p.deviceUri);
        if (!u || (u->scheme != "socket" && u->scheme != "lpd" && u->scheme != "ipp" && u->scheme != "ipps"))
            continue;
        Row r(schema);
        SetSystemKeys(r, ctx, "Win32_TCPIPPrinterPort");
        r.set("Name", *p.deviceUri).set("Caption", *p.deviceUri).set("HostAddress", u->host);
        std::optional<int> port = u->port;
        if (!port) port = u->scheme == "socket" ? 9100 : u->scheme == "lpd" ? 515 : 631;
        r.setU32("PortNumber", static_cast<std::uint64_t>(*port));
        // Protocol: 1 raw, 2 LPR; IPP is neither.
        if (u->scheme == "socket") r.set("Protocol", 1);
        if (u->scheme == "lpd") {
            r.set("Protocol", 2);
            if (!u->queue.empty()) r.set("Queue", u->queue);
        }
        out.push_back(r.build());
    }
    return std::make_unique<VectorCursor>(std::move(out));
}

// The jobs still in the queue. Each job's control file (its IPP attributes,
// <RequestRoot>/c<id>) is the record cupsd itself loads; job.cache repeats
// part of it and is readable by group lp where the control files are not.
// An ordinary user can read neither and sees no jobs.
std::vector<CupsJob> ReadQueuedJobs(const Context& ctx) {
    CupsDirectories dirs;
    if (auto conf = ctx.read("/etc/cups/cups-files.conf")) dirs = ParseCupsFilesConf(*conf);
    std::map<int, CupsJob> cached;
    if (auto cache = ctx.read(JoinPath(dirs.cache, "job.cache"), 16 << 20))
        for (auto& j : ParseJobCache(*cache)) cached.emplace(j.id, std::move(j));
    std::set<int> ids;
    for (const auto& [id, j] : cached) ids.insert(id);
    for (const auto& f : ctx.fs().listDir(dirs.spool))
        if (auto id = ControlFileJobId(f)) ids.insert(*id);

    std::vector<CupsJob> out;
    for (int id : ids) {
        std::string path = JoinPath(dirs.spool, ControlFileName(id));
        // cupsd reads the backup when a save was interrupted.
        if (!ctx.fs().exists(path)) path += ".O";
        bool present = ctx.fs().exists(path);
        auto bytes = ctx.read(path);
        auto inCache = cached.find(id);
        std::optional<CupsJob> job;
        if (bytes) {
            auto m = ParseIppMessage(*bytes);
            if (!m) continue;  // cupsd drops a job whose control file it cannot read
            job = JobFromAttributes(*m, id);
            if (inCache != cached.end()) FillJobFrom(*job, inCache->second);
        } else if (present && inCache != cached.end()) {
            job = inCache->second;  // there, but not ours to read
        }
        // Without a destination cupsd would not keep the job either.
        if (job && job->queued() && job->printer) out.push_back(std::move(*job));
    }
    return out;
}

// The originating host as WMI names computers; cupsd records jobs of this
// computer as coming from "localhost".
std::optional<std::string> HostPrintQueue(const Context& ctx, const std::optional<std::string>& host) {
    if (!host || host->empty()) return std::nullopt;
    std::string h = *host;
    if (h == "localhost" || h == "127.0.0.1" || h == "::1")
        if (auto own = ctx.shortHostName()) h = *own;
    return "\\\\" + h;
}

std::optional<std::string> ColorName(const std::optional<std::string>& mode) {
    if (!mode) return std::nullopt;
    if (*mode == "color") return "Color";
    for (const char* mono : {"monochrome", "process-monochrome", "bi-level", "process-bi-level"})
        if (*mode == mono) return "Monochrome";
    return std::nullopt;  // "auto" and the like decide later
}

std::optional<std::uint64_t> Count(const std::optional<int>& v) {
    if (!v || *v < 0) return std::nullopt;
    return static_cast<std::uint64_t>(*v);
}

std::unique_ptr<InstanceCursor> PrintJobs(const Context& ctx, const SchemaPtr& schema) {
    std::map<std::string, std::string> models;
    for (const auto& p : ReadPrinters(ctx))
        if (p.makeModel) models.emplace(p.name, *p.makeModel);
    std::vector<Object> out;
    for (const auto& j : ReadQueuedJobs(ctx)) {
        Row r(schema);
        std::string name = *j.printer + ", " + std::to_string(j.id);
        r.set("Name", name).set("Caption", name).set("Description", name);
        r.setU32("JobId", static_cast<std::uint64_t>(j.id));
        r.set("Document", j.name).set("Owner", j.user).set("DataType", j.format);
        r.set("HostPrintQueue", HostPrintQueue(ctx, j.host));
        if (auto m = models.find(*j.printer); m != models.end()) r.set("DriverName", m->second);
        // IPP priorities run 1..100, Windows ones 1..99.
        if (j.priority) r.setU32("Priority", static_cast<std::uint64_t>(std::clamp(*j.priority, 1, 99)));
        if (j.created && *j.created > 0) r.set("TimeSubmitted", ctx.dmtf(*j.created));
        if (j.processing && *j.processing > 0 && *j.state >= 5) r.set("StartTime", ctx.dmtf(*j.processing));
        if (auto k = Count(j.kOctets)) r.setU32("Size", *k * 1024);
        if (j.impressions && *j.impressions > 0) r.setU32("TotalPages", Count(j.impressions));
        r.setU32("PagesPrinted", Count(j.impressionsCompleted ? j.impressionsCompleted : j.sheetsCompleted));
        r.set("Color", ColorName(j.colorMode));
        if (j.media) {
            r.set("PaperSize", *j.media);
            if (auto size = ParsePwgMediaSize(*j.media)) {
                r.setU32("PaperWidth", static_cast<std::uint64_t>(size->width));
                r.setU32("PaperLength", static_cast<std::uint64_t>(size->length));
            }
        }
        // StatusMask: 1 paused, 2 error, 16 printing; a pending job has none.
        switch (*j.state) {
        case 3: r.setU32("StatusMask", 0).set("Status", "OK"); break;
        case 4: r.set("JobStatus", "Paused").setU32("StatusMask", 1).set("Status", "OK"); break;
        case 5: r.set("JobStatus", "Printing").setU32("StatusMask", 16).set("Status", "OK"); break;
        default: r.set("JobStatus", "Error").setU32("StatusMask", 2).set("Status", "Error"); break;
        }
        out.push_back(r.build());
    }
    return std::make_unique<VectorCursor>(std::move(out));
}

}  // namespace

void RegisterPrintingClasses(Registry& reg) {
    reg.add("Win32_Printer", Printers);
    reg.add("Win32_PrinterConfiguration", PrinterConfigurations);
    reg.add("Win32_PrinterDriver", PrinterDrivers);
    reg.add("Win32_TCPIPPrinterPort", TcpIpPorts);
    reg.add("Win32_PrintJob", PrintJobs);
}

}  // namespace wmi::lnx
