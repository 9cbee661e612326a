#include "wmi/linux/cups_parsers.h"

#include <charconv>

namespace wmi::lnx {

namespace {

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '\r')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
    return s;
}

template <class F>
void ForEachLine(std::string_view text, F f) {
    while (!text.empty()) {
        std::size_t nl = text.find('\n');
        f(Trim(text.substr(0, nl)));
        if (nl == std::string_view::npos) break;
        text.remove_prefix(nl + 1);
    }
}

std::optional<bool> YesNo(std::string_view v) {
    if (v == "Yes" || v == "yes") return true;
    if (v == "No" || v == "no") return false;
    return std::nullopt;
}

}  // namespace

std::vector<CupsPrinter> ParseCupsPrinters(std::string_view text) {
    std::vector<CupsPrinter> out;
    bool open = false;
    ForEachLine(text, [&](std::string_view line) {
        if (line.empty() || line[0] == '#') return;
        if (line.front() == '<' && line.back() == '>') {
            std::string_view tag = line.substr(1, line.size() - 2);
            if (tag.substr(0, 1) == "/") {
                open = false;
                return;
            }
            std::size_t sp = tag.find(' ');
            std::string_view kind = tag.substr(0, sp);
            std::string_view name = sp == std::string_view::npos ? std::string_view() : Trim(tag.substr(sp + 1));
            open = (kind == "Printer" || kind == "DefaultPrinter") && !name.empty();
            if (open) {
                CupsPrinter p;
                p.name = std::string(name);
                p.isDefault = kind == "DefaultPrinter";
                out.push_back(std::move(p));
            }
            return;
        }
        if (!open) return;
        std::size_t sp = line.find_first_of(" \t");
        std::string_view key = line.substr(0, sp);
        std::string value = sp == std::string_view::npos ? std::string() : std::string(Trim(line.substr(sp + 1)));
        CupsPrinter& p = out.back();
        if (key == "Info") p.info = value;
        else if (key == "Location") p.location = value;
        else if (key == "MakeModel") p.makeModel = value;
        else if (key == "DeviceURI") p.deviceUri = value;
        else if (key == "State") p.state = value;
        else if (key == "Accepting") p.accepting = YesNo(value);
        else if (key == "Shared") p.shared = YesNo(value);
    });
    return out;
}

std::vector<CupsPrinter> ParsePrintcap(std::string_view text) {
    std::vector<CupsPrinter> out;
    ForEachLine(text, [&](std::string_view line) {
        if (line.empty() || line[0] == '#') return;
        std::string_view names = line.substr(0, line.find(':'));
        std::size_t bar = names.find('|');
        CupsPrinter p;
        p.name = std::string(Trim(names.substr(0, bar)));
        if (p.name.empty()) return;
        if (bar != std::string_view::npos) {
            std::string_view info = Trim(names.substr(bar + 1));
            if (!info.empty()) p.info = std::string(info);
        }
        out.push_back(std::move(p));
    });
    return out;
}

std::optional<DeviceUri> ParseDeviceUri(std::string_view uri) {
    std::size_t sep = uri.find("://");
    if (sep == std::string_view::npos || sep == 0) return std::nullopt;
    DeviceUri u;
    u.scheme = std::string(uri.substr(0, sep));
    std::string_view rest = uri.substr(sep + 3);
    std::size_t slash = rest.find('/');
    std::string_view authority = rest.substr(0, slash);
    if (std::size_t at = authority.rfind('@'); at != std::string_view::npos) authority.remove_prefix(at + 1);
    std::size_t colon = authority.rfind(':');
    // A bracketed IPv6 address keeps its colons.
    if (colon != std::string_view::npos && authority.find(']') != std::string_view::npos &&
        colon < authority.find(']'))
        colon = std::string_view::npos;
    if (colon != std::string_view::npos) {
        int port = 0;
        std::string_view digits = authority.substr(colon + 1);
        auto res = std::from_chars(digits.data(), digits.data() + digits.size(), port);
        if (res.ec == std::errc() && res.ptr == digits.data() + digits.size() && port > 0 && port < 65536)
            u.port = port;
        authority = authority.substr(0, colon);
    }
    u.host = std::string(authority);
    if (slash != std::string_view::npos) {
        std::string_view path = rest.substr(slash + 1);
        path = path.substr(0, path.find('?'));
        std::size_t last = path.rfind('/');
        u.queue = std::string(last == std::string_view::npos ? path : path.substr(last + 1));
    }
    return u;
}

}  // namespace wmi::lnx
