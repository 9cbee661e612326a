// Win32_NetworkAdapter and Win32_NetworkAdapterConfiguration from
// /sys/class/net, /proc/net/route and resolv.conf; addresses through
// getifaddrs on the live root only.
#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

#include <algorithm>
#include <cctype>

#include "wmi/linux/system_info.h"

namespace wmi::lnx {

namespace {

struct Interface {
    std::string name;
    std::optional<std::int64_t> index;
    std::optional<std::string> mac;
    bool physical = false;
    std::optional<std::string> productName, vendorName, driver, pnpDeviceId;
    std::optional<std::string> operstate;
    std::optional<std::uint64_t> flags;
};

std::optional<Interface> ReadInterface(const Context& ctx, const std::string& name) {
    std::string b = "/sys/class/net/" + name + "/";
    auto index = ctx.readInt(b + "ifindex");
    if (!index && !ctx.fs().exists(b + "address")) return std::nullopt;  // gone
    Interface i;
    i.name = name;
    i.index = index;
    if (auto mac = ctx.readText(b + "address"); mac && *mac != "00:00:00:00:00:00") {
        std::string up = *mac;
        for (char& c : up) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        i.mac = up;
    }
    i.physical = ctx.fs().exists(b + "device");
    if (i.physical) {
        // The PCI function the adapter is, or sits on (a virtio adapter's
        // device is a virtio device below it); USB adapters have none.
        if (auto pci = PciFunctionOf(ctx, b + "device"))
            if (auto id = PciIdentityOf(ctx, *pci)) {
                i.productName = id->deviceName;
                i.vendorName = id->vendorName;
                i.pnpDeviceId = id->pnpDeviceId;
            }
        if (ctx.fs().exists(b + "device/driver")) i.driver = BaseName(ctx.fs().resolve(b + "device/driver"));
    }
    i.operstate = ctx.readText(b + "operstate");
    i.flags = ctx.readUInt(b + "flags", 16);
    return i;
}

std::optional<Object> AdapterInstance(const Context& ctx, const SchemaPtr& schema, const std::string& name) {
    auto i = ReadInterface(ctx, name);
    if (!i) return std::nullopt;
    std::string b = "/sys/class/net/" + name + "/";
    Row r(schema);
    SetSystemKeys(r, ctx, "Win32_NetworkAdapter");
    if (i->index) {
        r.set("DeviceID", std::to_string(*i->index));
        r.setU32("Index", static_cast<std::uint64_t>(*i->index));
        r.setU32("InterfaceIndex", static_cast<std::uint64_t>(*i->index));
    }
    std::string title = i->productName.value_or(name);
    r.set("Name", title).set("Caption", title).set("Description", title).set("ProductName", i->productName);
    r.set("NetConnectionID", name);
    r.set("MACAddress", i->mac);
    r.set("Manufacturer", i->vendorName);
    r.set("ServiceName", i->driver);
    r.set("PNPDeviceID", i->pnpDeviceId);
    r.set("PhysicalAdapter", i->physical);
    r.set("Installed", true);
    if (ctx.readInt(b + "type") == std::optional<std::int64_t>(1)) {  // ARPHRD_ETHER
        r.set("AdapterType", std::string("Ethernet 802.3"));
        r.set("AdapterTypeID", 0);
    }
    bool up = i->flags && (*i->flags & IFF_UP);
    if (i->flags) r.set("NetEnabled", up);
    if (i->operstate) {
        // 2 connected, 7 media disconnected, 0 disconnected (administratively down)
        if (*i->operstate == "up" || (*i->operstate == "unknown" && up)) r.set("NetConnectionStatus", 2);
        else if (up) r.set("NetConnectionStatus", 7);
        else r.set("NetConnectionStatus", 0);
    }
    if (auto speed = ctx.readInt(b + "speed"); speed && *speed > 0)
        r.setU64("Speed", static_cast<std::uint64_t>(*speed) * 1000000);  // Mbit/s to bit/s
    return r.build();
}

std::unique_ptr<InstanceCursor> Adapters(const Context& ctx, const SchemaPtr& schema) {
    return std::make_unique<LazyCursor>(ctx.fs().listDir("/sys/class/net"), [ctx, schema](const std::string& n) {
        return AdapterInstance(ctx, schema, n);
    });
}

struct Addresses {
    std::vector<std::string> ip, subnet;
};

std::map<std::string, Addresses> LiveAddresses() {
    std::map<std::string, Addresses> out;
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0) return out;
    // IPv4 first, then IPv6, as Windows lists them.
    for (int family : {AF_INET, AF_INET6}) {
        for (ifaddrs* a = list; a; a = a->ifa_next) {
            if (!a->ifa_addr || a->ifa_addr->sa_family != family) continue;
            char buf[INET6_ADDRSTRLEN] = {0};
            char mask[INET6_ADDRSTRLEN] = {0};
            if (family == AF_INET) {
                ::inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(a->ifa_addr)->sin_addr, buf, sizeof buf);
                if (a->ifa_netmask) ::inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(a->ifa_netmask)->sin_addr, mask, sizeof mask);
                out[a->ifa_name].subnet.emplace_back(mask);
            } else {
                ::inet_ntop(AF_INET6, &reinterpret_cast<sockaddr_in6*>(a->ifa_addr)->sin6_addr, buf, sizeof buf);
                int prefix = 0;
                if (a->ifa_netmask) {
                    const auto* m = reinterpret_cast<sockaddr_in6*>(a->ifa_netmask)->sin6_addr.s6_addr;
                    for (int k = 0; k < 16; ++k) prefix += __builtin_popcount(m[k]);
                }
                out[a->ifa_name].subnet.push_back(std::to_string(prefix));
            }
            out[a->ifa_name].ip.emplace_back(buf);
        }
    }
    ::freeifaddrs(list);
    return out;
}

// Default gateways per interface from /proc/net/route (little-endian hex).
std::map<std::string, std::vector<std::string>> Gateways(const Context& ctx) {
    std::map<std::string, std::vector<std::string>> out;
    auto text = ctx.read("/proc/net/route");
    if (!text) return out;
    auto lines = SplitLines(*text);
    for (std::size_t n = 1; n < lines.size(); ++n) {
        auto w = SplitWhitespace(lines[n]);
        if (w.size() < 3 || w[1] != "00000000") continue;
        auto gw = ParseUInt(w[2], 16);
        if (!gw || *gw == 0) continue;
        char buf[20];
        std::snprintf(buf, sizeof buf, "%u.%u.%u.%u", static_cast<unsigned>(*gw & 0xFF), static_cast<unsigned>(*gw >> 8 & 0xFF),
                      static_cast<unsigned>(*gw >> 16 & 0xFF), static_cast<unsigned>(*gw >> 24 & 0xFF));
        out[w[0]].push_back(buf);
    }
    // IPv6 default routes follow in the same array, as Windows lists them:
    // destination ::/0 with a next hop.
    if (auto v6 = ctx.read("/proc/net/ipv6_route"))
        for (const auto& line : SplitLines(*v6)) {
            auto w = SplitWhitespace(line);
            if (w.size() < 10 || w[0] != std::string(32, '0') || w[1] != "00" || w[4].size() != 32) continue;
            unsigned char hop[16];
            bool ok = true;
            for (std::size_t b = 0; b < 16 && ok; ++b) {
                auto v = ParseUInt(w[4].substr(2 * b, 2), 16);
                ok = v.has_value();
                hop[b] = static_cast<unsigned char>(v.value_or(0));
            }
            if (!ok || std::all_of(hop, hop + 16, [](unsigned char c) { return c == 0; })) continue;
            char text[INET6_ADDRSTRLEN];
            if (inet_ntop(AF_INET6, hop, text, sizeof text)) out[std::string(w[9])].push_back(text);
        }
    return out;
}

std::unique_ptr<InstanceCursor> Configurations(const Context& ctx, const SchemaPtr& schema) {
    std::vector<Object> out;
    auto addresses = ctx.fs().isLiveRoot() ? LiveAddresses() : std::map<std::string, Addresses>{};
    auto gateways = Gateways(ctx);
    std::vector<std::string> dns, search;
    if (auto resolv = ctx.read("/etc/resolv.conf", 64 * 1024))
        for (const auto& line : SplitLines(*resolv)) {
            auto w = SplitWhitespace(line);
            if (w.size() >= 2 && w[0] == "nameserver") dns.push_back(w[1]);
            if (w.size() >= 2 && (w[0] == "search" || w[0] == "domain")) search.assign(w.begin() + 1, w.end());
        }
    for (const auto& name : ctx.fs().listDir("/sys/class/net")) {
        auto i = ReadInterface(ctx, name);
        if (!i) continue;
        Row r(schema);
        if (i->index) {
            r.setU32("Index", static_cast<std::uint64_t>(*i->index));
            r.setU32("InterfaceIndex", static_cast<std::uint64_t>(*i->index));
        }
        std::string title = i->productName.value_or(name);
        r.set("Caption", title).set("Description", title);
        r.set("MACAddress", i->mac);
        r.set("ServiceName", i->driver);
        r.setU32("MTU", ctx.readUInt("/sys/class/net/" + name + "/mtu"));
        r.set("DNSHostName", ctx.shortHostName());
        if (ctx.fs().isLiveRoot()) {
            auto it = addresses.find(name);
            bool ip = it != addresses.end() && !it->second.ip.empty();
            r.set("IPEnabled", ip);
            if (ip) {
                r.setStrings("IPAddress", it->second.ip);
                r.setStrings("IPSubnet", it->second.subnet);
                if (!dns.empty()) r.setStrings("DNSServerSearchOrder", dns);
                if (!search.empty()) r.setStrings("DNSDomainSuffixSearchOrder", search);
            }
        }
        if (auto g = gateways.find(name); g != gateways.end()) r.setStrings("DefaultIPGateway", g->second);
        out.push_back(r.build());
    }
    return std::make_unique<VectorCursor>(std::move(out));
}

}  // namespace

void RegisterNetworkClasses(Registry& reg) {
    reg.add("Win32_NetworkAdapter", Adapters);
    reg.add("Win32_NetworkAdapterConfiguration", Configurations);
}

}  // namespace wmi::lnx
