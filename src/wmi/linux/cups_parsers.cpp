#include "wmi/linux/cups_parsers.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <limits>

#include "wmi/linux/ipp_parser.h"

namespace wmi::lnx {

namespace {

std::string_view TrimLine(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '\r')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
    return s;
}

template <class F>
void ForEachLine(std::string_view text, F f) {
    while (!text.empty()) {
        std::size_t nl = text.find('\n');
        f(TrimLine(text.substr(0, nl)));
        if (nl == std::string_view::npos) break;
        text.remove_prefix(nl + 1);
    }
}

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

bool EqualsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

struct ConfLine {
    std::string key;
    std::optional<std::string> value;
};

// One line read as cupsFileGetConf reads it: escapes undone, an unescaped '#'
// starts a comment, the directive is the first word; of "<Tag value>" the
// value without its '>'.
std::optional<ConfLine> ReadConfLine(std::string_view raw) {
    std::string line;
    for (std::size_t i = 0; i < raw.size(); ++i) {
        char c = raw[i];
        if (c == '#') break;
        if (c == '\\' && i + 1 < raw.size()) {
            char e = raw[i + 1];
            if (e == '\\' || e == '#' || e == 'n' || e == 'r') {
                line += e == 'n' ? '\n' : e == 'r' ? '\r' : e;
                ++i;
                continue;
            }
        }
        line += c;
    }
    std::size_t start = 0;
    while (start < line.size() && IsSpace(line[start])) ++start;
    if (start == line.size()) return std::nullopt;
    std::size_t end = start;
    while (end < line.size() && !IsSpace(line[end])) ++end;
    ConfLine out{line.substr(start, end - start), std::nullopt};
    std::size_t v = end;
    while (v < line.size() && IsSpace(line[v])) ++v;
    std::size_t last = line.size();
    while (last > v && IsSpace(line[last - 1])) --last;
    if (v == last) return out;
    if (out.key[0] == '<') {
        if (line[last - 1] != '>') return out;  // a broken tag has no value
        --last;
        while (last > v && IsSpace(line[last - 1])) --last;
    }
    out.value = line.substr(v, last - v);
    return out;
}

std::optional<std::int64_t> Int64Value(std::string_view v) {
    std::int64_t n = 0;
    auto res = std::from_chars(v.data(), v.data() + v.size(), n);
    if (res.ec != std::errc() || res.ptr != v.data() + v.size()) return std::nullopt;
    return n;
}

std::optional<int> IntValue(const std::optional<std::string>& v) {
    if (!v) return std::nullopt;
    auto n = Int64Value(*v);
    if (!n || *n < std::numeric_limits<int>::min() || *n > std::numeric_limits<int>::max()) return std::nullopt;
    return static_cast<int>(*n);
}

template <class T>
void Fill(std::optional<T>& to, const std::optional<T>& from) {
    if (!to) to = from;
}

// A decimal of at most four fraction digits, in ten-thousandths.
std::optional<std::int64_t> FixedPoint(std::string_view s) {
    std::int64_t whole = 0, frac = 0;
    int fracDigits = 0;
    bool point = false, any = false;
    for (char c : s) {
        if (c == '.' && !point) {
            point = true;
            continue;
        }
        if (c < '0' || c > '9') return std::nullopt;
        any = true;
        if (point) {
            if (++fracDigits > 4) return std::nullopt;
            frac = frac * 10 + (c - '0');
        } else {
            whole = whole * 10 + (c - '0');
            if (whole > 100000) return std::nullopt;
        }
    }
    if (!any) return std::nullopt;
    while (fracDigits++ < 4) frac *= 10;
    return whole * 10000 + frac;
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
            std::string_view name = sp == std::string_view::npos ? std::string_view() : TrimLine(tag.substr(sp + 1));
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
        std::string value = sp == std::string_view::npos ? std::string() : std::string(TrimLine(line.substr(sp + 1)));
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
        p.name = std::string(TrimLine(names.substr(0, bar)));
        if (p.name.empty()) return;
        if (bar != std::string_view::npos) {
            std::string_view info = TrimLine(names.substr(bar + 1));
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

CupsDirectories ParseCupsFilesConf(std::string_view text) {
    CupsDirectories d;
    ForEachLine(text, [&](std::string_view raw) {
        auto line = ReadConfLine(raw);
        if (!line || !line->value || line->value->front() != '/') return;
        if (EqualsNoCase(line->key, "RequestRoot")) d.spool = *line->value;
        else if (EqualsNoCase(line->key, "CacheDir")) d.cache = *line->value;
    });
    return d;
}

std::vector<CupsJob> ParseJobCache(std::string_view text) {
    std::vector<CupsJob> out;
    bool open = false;
    ForEachLine(text, [&](std::string_view raw) {
        auto line = ReadConfLine(raw);
        if (!line) return;
        const std::string& key = line->key;
        if (EqualsNoCase(key, "<Job")) {
            // cupsd ignores a second <Job> before </Job>; so do we.
            if (open) return;
            auto id = IntValue(line->value);
            if (!id || *id < 1) return;
            out.emplace_back().id = *id;
            open = true;
            return;
        }
        if (!open) return;
        if (EqualsNoCase(key, "</Job>")) {
            open = false;
            return;
        }
        if (!line->value) return;
        CupsJob& j = out.back();
        const std::string& v = *line->value;
        if (EqualsNoCase(key, "State")) {
            if (auto s = IntValue(v)) j.state = std::clamp(*s, 3, 9);
        } else if (EqualsNoCase(key, "Name")) {
            j.name = v;
        } else if (EqualsNoCase(key, "Created")) {
            j.created = Int64Value(v);
        } else if (EqualsNoCase(key, "Priority")) {
            j.priority = IntValue(v);
        } else if (EqualsNoCase(key, "Username")) {
            j.user = v;
        } else if (EqualsNoCase(key, "Destination")) {
            j.printer = v;
        } else if (EqualsNoCase(key, "KOctets")) {
            j.kOctets = IntValue(v);
        } else if (EqualsNoCase(key, "File")) {
            // "File 1 application/pdf 0": the first document's format.
            std::string_view rest = v;
            if (rest.substr(0, 2) == "1 " || rest.substr(0, 2) == "1\t") {
                rest = TrimLine(rest.substr(2));
                std::string_view type = rest.substr(0, rest.find_first_of(" \t"));
                if (!type.empty()) j.format = std::string(type);
            }
        }
    });
    // A block left open at the end was cut short: cupsd would not load it.
    if (open) out.pop_back();
    return out;
}

CupsJob JobFromAttributes(const IppMessage& m, int id) {
    CupsJob j;
    j.id = id;
    j.state = IppInteger(m.find("job-state"));
    if (auto uri = IppString(m.find("job-printer-uri"))) j.printer = QueueFromPrinterUri(*uri);
    j.name = IppString(m.find("job-name"));
    j.user = IppString(m.find("job-originating-user-name"));
    j.host = IppString(m.find("job-originating-host-name"));
    // cupsd replaces a format the client left to it with the detected one.
    for (const char* f : {"document-format", "document-format-detected", "document-format-supplied"})
        if (!j.format) j.format = IppString(m.find(f));
    j.media = IppString(m.find("media"));
    j.colorMode = IppString(m.find("print-color-mode"));
    j.created = IppInteger(m.find("time-at-creation"));
    if (!j.created) j.created = IppDateTime(m.find("date-time-at-creation"));
    j.processing = IppInteger(m.find("time-at-processing"));
    if (!j.processing) j.processing = IppDateTime(m.find("date-time-at-processing"));
    j.priority = IppInteger(m.find("job-priority"));
    j.kOctets = IppInteger(m.find("job-k-octets"));
    j.impressions = IppInteger(m.find("job-impressions"));
    j.impressionsCompleted = IppInteger(m.find("job-impressions-completed"));
    j.sheetsCompleted = IppInteger(m.find("job-media-sheets-completed"));
    return j;
}

void FillJobFrom(CupsJob& job, const CupsJob& other) {
    Fill(job.state, other.state);
    Fill(job.printer, other.printer);
    Fill(job.name, other.name);
    Fill(job.user, other.user);
    Fill(job.host, other.host);
    Fill(job.format, other.format);
    Fill(job.media, other.media);
    Fill(job.colorMode, other.colorMode);
    Fill(job.created, other.created);
    Fill(job.processing, other.processing);
    Fill(job.priority, other.priority);
    Fill(job.kOctets, other.kOctets);
    Fill(job.impressions, other.impressions);
    Fill(job.impressionsCompleted, other.impressionsCompleted);
    Fill(job.sheetsCompleted, other.sheetsCompleted);
}

std::optional<int> ControlFileJobId(std::string_view fileName) {
    if (fileName.size() > 2 && fileName.substr(fileName.size() - 2) == ".O") fileName.remove_suffix(2);
    if (fileName.size() < 2 || fileName[0] != 'c') return std::nullopt;
    std::string_view digits = fileName.substr(1);
    int id = 0;
    auto res = std::from_chars(digits.data(), digits.data() + digits.size(), id);
    if (res.ec != std::errc() || res.ptr != digits.data() + digits.size() || id < 1) return std::nullopt;
    return id;
}

std::string ControlFileName(int id) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "c%05d", id);
    return buf;
}

std::optional<std::string> QueueFromPrinterUri(std::string_view uri) {
    std::size_t sep = uri.find("://");
    std::string_view path = sep == std::string_view::npos ? uri : uri.substr(sep + 3);
    std::size_t slash = path.find('/');
    if (slash == std::string_view::npos) return std::nullopt;
    path = path.substr(slash);
    path = path.substr(0, path.find('?'));
    for (std::string_view prefix : {"/printers/", "/classes/"}) {
        if (path.substr(0, prefix.size()) != prefix) continue;
        std::string_view name = path.substr(prefix.size());
        if (name.empty() || name.find('/') != std::string_view::npos) return std::nullopt;
        // Names travel percent-encoded in URIs.
        std::string out;
        for (std::size_t i = 0; i < name.size(); ++i) {
            unsigned v = 0;
            if (name[i] == '%' && i + 2 < name.size() &&
                std::from_chars(name.data() + i + 1, name.data() + i + 3, v, 16).ptr == name.data() + i + 3) {
                out += static_cast<char>(v);
                i += 2;
            } else {
                out += name[i];
            }
        }
        return out;
    }
    return std::nullopt;
}

std::optional<MediaSize> ParsePwgMediaSize(std::string_view media) {
    std::size_t us = media.rfind('_');
    if (us == std::string_view::npos) return std::nullopt;
    std::string_view dims = media.substr(us + 1);
    std::int64_t tenthsPerUnit;  // of a millimetre, per ten-thousandth of the unit
    if (dims.size() > 2 && dims.substr(dims.size() - 2) == "mm") tenthsPerUnit = 10;
    else if (dims.size() > 2 && dims.substr(dims.size() - 2) == "in") tenthsPerUnit = 254;
    else return std::nullopt;
    dims.remove_suffix(2);
    std::size_t x = dims.find('x');
    if (x == std::string_view::npos) return std::nullopt;
    auto w = FixedPoint(dims.substr(0, x)), l = FixedPoint(dims.substr(x + 1));
    if (!w || !l || *w == 0 || *l == 0) return std::nullopt;
    // Rounded to the nearest tenth of a millimetre.
    return MediaSize{static_cast<int>((*w * tenthsPerUnit + 5000) / 10000),
                     static_cast<int>((*l * tenthsPerUnit + 5000) / 10000)};
}

}  // namespace wmi::lnx
