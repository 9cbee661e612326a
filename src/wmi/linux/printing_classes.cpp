// Printers from the print system's configuration (CUPS): printers.conf where
// readable (root only on most systems), else the printcap CUPS publishes for
// everyone, which names the printers and little else.
#include <algorithm>

#include "wmi/linux/cups_parsers.h"
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

}  // namespace

void RegisterPrintingClasses(Registry& reg) {
    reg.add("Win32_Printer", Printers);
    reg.add("Win32_PrinterConfiguration", PrinterConfigurations);
    reg.add("Win32_PrinterDriver", PrinterDrivers);
    reg.add("Win32_TCPIPPrinterPort", TcpIpPorts);
}

}  // namespace wmi::lnx
