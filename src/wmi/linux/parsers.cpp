#include "wmi/linux/parsers.h"

#include <charconv>
#include <cstdlib>
#include <cstring>

namespace wmi::lnx {

namespace {
bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }
}  // namespace

std::string Trim(std::string_view s) {
    std::size_t b = 0, e = s.size();
    while (b < e && (IsSpace(s[b]) || s[b] == '\0')) ++b;
    while (e > b && (IsSpace(s[e - 1]) || s[e - 1] == '\0')) --e;
    return std::string(s.substr(b, e - b));
}

std::vector<std::string> SplitWhitespace(std::string_view s) {
    std::vector<std::string> out;
    std::size_t i = 0;
    while (i < s.size()) {
        while (i < s.size() && IsSpace(s[i])) ++i;
        std::size_t j = i;
        while (j < s.size() && !IsSpace(s[j])) ++j;
        if (j > i) out.emplace_back(s.substr(i, j - i));
        i = j;
    }
    return out;
}

std::vector<std::string> SplitLines(std::string_view s) {
    std::vector<std::string> out;
    std::size_t i = 0;
    while (i < s.size()) {
        std::size_t j = s.find('\n', i);
        if (j == std::string_view::npos) j = s.size();
        std::string_view line = s.substr(i, j - i);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        out.emplace_back(line);
        i = j + 1;
    }
    return out;
}

std::optional<std::int64_t> ParseInt(std::string_view s) {
    std::string t = Trim(s);
    if (t.empty()) return std::nullopt;
    std::int64_t v = 0;
    auto r = std::from_chars(t.data(), t.data() + t.size(), v);
    if (r.ec != std::errc() || r.ptr != t.data() + t.size()) return std::nullopt;
    return v;
}

std::optional<std::uint64_t> ParseUInt(std::string_view s, int base) {
    std::string t = Trim(s);
    if (base == 16 && (StartsWith(t, "0x") || StartsWith(t, "0X"))) t = t.substr(2);
    if (t.empty()) return std::nullopt;
    std::uint64_t v = 0;
    auto r = std::from_chars(t.data(), t.data() + t.size(), v, base);
    if (r.ec != std::errc() || r.ptr != t.data() + t.size()) return std::nullopt;
    return v;
}

std::optional<double> ParseDouble(std::string_view s) {
    std::string t = Trim(s);
    if (t.empty()) return std::nullopt;
    char* end = nullptr;
    double d = std::strtod(t.c_str(), &end);
    if (end != t.c_str() + t.size()) return std::nullopt;
    return d;
}

bool StartsWith(std::string_view s, std::string_view prefix) {
    return s.size() >= prefix.size() && s.compare(0, prefix.size(), prefix) == 0;
}

std::map<std::string, std::string> ParseKeyValueLines(std::string_view text, char sep) {
    std::map<std::string, std::string> out;
    for (const auto& line : SplitLines(text)) {
        std::size_t p = line.find(sep);
        if (p == std::string::npos) continue;
        std::string key = Trim(std::string_view(line).substr(0, p));
        if (key.empty()) continue;
        out[key] = Trim(std::string_view(line).substr(p + 1));
    }
    return out;
}

std::vector<int> ParseCpuList(std::string_view text) {
    std::vector<int> out;
    std::string t = Trim(text);
    std::size_t i = 0;
    while (i < t.size()) {
        std::size_t j = t.find(',', i);
        if (j == std::string::npos) j = t.size();
        std::string part = t.substr(i, j - i);
        std::size_t dash = part.find('-');
        auto a = ParseInt(part.substr(0, dash));
        auto b = dash == std::string::npos ? a : ParseInt(part.substr(dash + 1));
        if (!a || !b || *b < *a || *b - *a > 65536) return {};
        for (auto n = *a; n <= *b; ++n) out.push_back(static_cast<int>(n));
        i = j + 1;
    }
    return out;
}

std::optional<std::string> CpuInfoRecord::get(std::string_view key) const {
    for (const auto& [k, v] : fields)
        if (k == key) return v;
    return std::nullopt;
}

std::vector<CpuInfoRecord> ParseCpuInfo(std::string_view text) {
    std::vector<CpuInfoRecord> out;
    CpuInfoRecord cur;
    for (const auto& line : SplitLines(text)) {
        std::size_t p = line.find(':');
        if (Trim(line).empty()) {
            if (!cur.fields.empty()) out.push_back(std::move(cur));
            cur = {};
            continue;
        }
        if (p == std::string::npos) continue;
        std::string key = Trim(std::string_view(line).substr(0, p));
        std::string value = Trim(std::string_view(line).substr(p + 1));
        // Some architectures repeat a "processor" key without a blank line.
        if (key == "processor" && cur.get("processor")) {
            out.push_back(std::move(cur));
            cur = {};
        }
        cur.fields.emplace_back(std::move(key), std::move(value));
    }
    if (!cur.fields.empty()) out.push_back(std::move(cur));
    return out;
}

std::map<std::string, std::uint64_t> ParseMemInfo(std::string_view text) {
    std::map<std::string, std::uint64_t> out;
    for (const auto& line : SplitLines(text)) {
        std::size_t p = line.find(':');
        if (p == std::string::npos) continue;
        auto words = SplitWhitespace(std::string_view(line).substr(p + 1));
        if (words.empty()) continue;
        if (auto v = ParseUInt(words[0])) out[Trim(std::string_view(line).substr(0, p))] = *v;
    }
    return out;
}

std::string UnescapeOctal(std::string_view s) {
    std::string out;
    auto octal = [](char c) { return c >= '0' && c <= '7'; };
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 3 < s.size() && octal(s[i + 1]) && octal(s[i + 2]) && octal(s[i + 3])) {
            out += static_cast<char>((s[i + 1] - '0') * 64 + (s[i + 2] - '0') * 8 + (s[i + 3] - '0'));
            i += 3;
            continue;
        }
        out += s[i];
    }
    return out;
}

std::string UnescapeHex(std::string_view s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 3 < s.size() && s[i + 1] == 'x') {
            if (auto v = ParseUInt(s.substr(i + 2, 2), 16)) {
                out += static_cast<char>(*v);
                i += 3;
                continue;
            }
        }
        out += s[i];
    }
    return out;
}

std::vector<MountEntry> ParseMountInfo(std::string_view text) {
    std::vector<MountEntry> out;
    for (const auto& line : SplitLines(text)) {
        auto w = SplitWhitespace(line);
        // id parent major:minor root mountpoint options [optional...] - fstype source superoptions
        std::size_t dash = 6;
        while (dash < w.size() && w[dash] != "-") ++dash;
        if (w.size() < 6 || dash + 2 >= w.size()) continue;
        MountEntry m;
        auto id = ParseInt(w[0]);
        auto parent = ParseInt(w[1]);
        std::size_t colon = w[2].find(':');
        if (!id || !parent || colon == std::string::npos) continue;
        auto maj = ParseUInt(w[2].substr(0, colon));
        auto min = ParseUInt(w[2].substr(colon + 1));
        if (!maj || !min) continue;
        m.id = static_cast<int>(*id);
        m.parentId = static_cast<int>(*parent);
        m.major = static_cast<unsigned>(*maj);
        m.minor = static_cast<unsigned>(*min);
        m.root = UnescapeOctal(w[3]);
        m.mountPoint = UnescapeOctal(w[4]);
        m.options = w[5];
        m.fsType = w[dash + 1];
        m.source = UnescapeOctal(w[dash + 2]);
        if (dash + 3 < w.size()) m.superOptions = w[dash + 3];
        out.push_back(std::move(m));
    }
    return out;
}

std::map<std::string, std::string> ParseOsRelease(std::string_view text) {
    std::map<std::string, std::string> out;
    for (const auto& raw : SplitLines(text)) {
        std::string line = Trim(raw);
        if (line.empty() || line[0] == '#') continue;
        std::size_t eq = line.find('=');
        if (eq == std::string::npos || eq == 0) continue;
        std::string key = line.substr(0, eq);
        std::string_view v = std::string_view(line).substr(eq + 1);
        std::string value;
        if (!v.empty() && (v[0] == '"' || v[0] == '\'')) {
            char q = v[0];
            for (std::size_t i = 1; i < v.size() && v[i] != q; ++i) {
                if (q == '"' && v[i] == '\\' && i + 1 < v.size()) ++i;
                value += v[i];
            }
        } else {
            value = std::string(v);
        }
        out[key] = value;
    }
    return out;
}

std::optional<std::int64_t> ParseBootTime(std::string_view procStat) {
    for (const auto& line : SplitLines(procStat)) {
        auto w = SplitWhitespace(line);
        if (w.size() == 2 && w[0] == "btime") return ParseInt(w[1]);
    }
    return std::nullopt;
}

std::set<std::string> ParseNodevFileSystems(std::string_view text) {
    std::set<std::string> out;
    for (const auto& line : SplitLines(text)) {
        auto w = SplitWhitespace(line);
        if (w.size() == 2 && w[0] == "nodev") out.insert(w[1]);
    }
    return out;
}

std::optional<Date> ParseDmiDate(std::string_view text) {
    std::string t = Trim(text);
    std::size_t a = t.find('/');
    std::size_t b = a == std::string::npos ? a : t.find('/', a + 1);
    if (b == std::string::npos) return std::nullopt;
    auto m = ParseInt(t.substr(0, a));
    auto d = ParseInt(t.substr(a + 1, b - a - 1));
    auto y = ParseInt(t.substr(b + 1));
    if (!m || !d || !y || *m < 1 || *m > 12 || *d < 1 || *d > 31 || *y < 0) return std::nullopt;
    Date out{static_cast<int>(*y), static_cast<int>(*m), static_cast<int>(*d)};
    if (t.size() - b - 1 == 2) out.year += 1900;  // SMBIOS before 2.3 wrote two-digit years
    if (out.year < 1900 || out.year > 9999) return std::nullopt;
    return out;
}

std::optional<std::string> ParseVpdSerial(std::string_view page) {
    if (page.size() < 4 || static_cast<unsigned char>(page[1]) != 0x80) return std::nullopt;
    std::size_t len = static_cast<unsigned char>(page[3]);
    if (page.size() < 4 + len) return std::nullopt;
    std::string s = Trim(page.substr(4, len));
    if (s.empty()) return std::nullopt;
    return s;
}

std::vector<UtmpEntry> ParseUtmp(std::string_view bytes) {
    // struct utmp on Linux: type(2)+pad(2), pid(4), line[32], id[4], user[32],
    // host[256], exit(4), session(4), tv(8), addr(16), unused(20) = 384 bytes.
    constexpr std::size_t kSize = 384;
    auto field = [](std::string_view rec, std::size_t off, std::size_t len) {
        std::string_view f = rec.substr(off, len);
        std::size_t z = f.find('\0');
        return std::string(f.substr(0, z));
    };
    std::vector<UtmpEntry> out;
    for (std::size_t off = 0; off + kSize <= bytes.size(); off += kSize) {
        std::string_view rec = bytes.substr(off, kSize);
        UtmpEntry e;
        std::int16_t type;
        std::int32_t pid;
        std::memcpy(&type, rec.data(), 2);
        std::memcpy(&pid, rec.data() + 4, 4);
        e.type = type;
        e.pid = pid;
        e.line = field(rec, 8, 32);
        e.user = field(rec, 44, 32);
        e.host = field(rec, 76, 256);
        out.push_back(std::move(e));
    }
    return out;
}

IdNames LookupIdNames(std::string_view idsText, unsigned vendor, unsigned device) {
    IdNames out;
    char vend[8], dev[8];
    std::snprintf(vend, sizeof vend, "%04x", vendor & 0xFFFF);
    std::snprintf(dev, sizeof dev, "%04x", device & 0xFFFF);
    bool inVendor = false;
    std::size_t i = 0;
    while (i < idsText.size()) {
        std::size_t j = idsText.find('\n', i);
        if (j == std::string_view::npos) j = idsText.size();
        std::string_view line = idsText.substr(i, j - i);
        i = j + 1;
        if (line.empty() || line[0] == '#') continue;
        if (line[0] != '\t') {
            if (inVendor) break;  // the vendor's block ended
            if (line.size() > 6 && line.substr(0, 4) == vend && line[4] == ' ') {
                inVendor = true;
                out.vendor = Trim(line.substr(6));
            } else if (line.size() > 2 && line[0] == 'C' && line[1] == ' ') {
                break;  // device classes follow the vendor list
            }
            continue;
        }
        if (inVendor && line.size() > 7 && line[1] != '\t' && line.substr(1, 4) == dev && line[5] == ' ') {
            out.device = Trim(line.substr(7));
            break;
        }
    }
    return out;
}

// --- SMBIOS ---

std::optional<int> SmbiosStructure::byteAt(std::size_t offset) const {
    if (offset >= formatted.size()) return std::nullopt;
    return static_cast<unsigned char>(formatted[offset]);
}

std::optional<int> SmbiosStructure::wordAt(std::size_t offset) const {
    if (offset + 2 > formatted.size()) return std::nullopt;
    return static_cast<unsigned char>(formatted[offset]) | (static_cast<unsigned char>(formatted[offset + 1]) << 8);
}

std::optional<std::uint32_t> SmbiosStructure::dwordAt(std::size_t offset) const {
    if (offset + 4 > formatted.size()) return std::nullopt;
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(formatted[offset + static_cast<std::size_t>(i)]);
    return v;
}

std::optional<std::uint64_t> SmbiosStructure::qwordAt(std::size_t offset) const {
    auto lo = dwordAt(offset);
    auto hi = dwordAt(offset + 4);
    if (!lo || !hi) return std::nullopt;
    return (static_cast<std::uint64_t>(*hi) << 32) | *lo;
}

std::optional<std::string> SmbiosStructure::stringAt(std::size_t offset) const {
    auto idx = byteAt(offset);
    if (!idx || *idx == 0 || static_cast<std::size_t>(*idx) > strings.size()) return std::nullopt;
    std::string s = Trim(strings[static_cast<std::size_t>(*idx) - 1]);
    if (s.empty()) return std::nullopt;
    return s;
}

std::vector<SmbiosStructure> ParseSmbios(std::string_view table) {
    std::vector<SmbiosStructure> out;
    std::size_t pos = 0;
    while (pos + 4 <= table.size()) {
        int type = static_cast<unsigned char>(table[pos]);
        std::size_t len = static_cast<unsigned char>(table[pos + 1]);
        if (len < 4 || pos + len > table.size()) break;  // a damaged table ends here
        SmbiosStructure s;
        s.type = type;
        s.handle = static_cast<unsigned char>(table[pos + 2]) | (static_cast<unsigned char>(table[pos + 3]) << 8);
        s.formatted = std::string(table.substr(pos, len));
        std::size_t p = pos + len;
        // The string set ends with a double NUL; an empty set is just "\0\0".
        if (p + 1 < table.size() && table[p] == '\0' && table[p + 1] == '\0') {
            p += 2;
        } else {
            bool closed = false;
            while (p < table.size()) {
                std::size_t z = table.find('\0', p);
                if (z == std::string_view::npos) break;
                s.strings.emplace_back(table.substr(p, z - p));
                p = z + 1;
                if (p < table.size() && table[p] == '\0') {
                    ++p;
                    closed = true;
                    break;
                }
            }
            if (!closed) break;
        }
        out.push_back(std::move(s));
        pos = p;
        if (type == 127) break;  // end-of-table
    }
    return out;
}

std::optional<std::pair<int, int>> ParseSmbiosEntryVersion(std::string_view entry) {
    auto at = [&](std::size_t i) { return static_cast<int>(static_cast<unsigned char>(entry[i])); };
    if (entry.size() >= 0x18 && entry.substr(0, 5) == "_SM3_") return std::make_pair(at(7), at(8));
    if (entry.size() >= 0x1F && entry.substr(0, 4) == "_SM_") return std::make_pair(at(6), at(7));
    return std::nullopt;
}

// --- EDID ---

std::optional<Edid> ParseEdid(std::string_view bytes) {
    static const unsigned char kHeader[8] = {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};
    if (bytes.size() < 128 || std::memcmp(bytes.data(), kHeader, 8) != 0) return std::nullopt;
    unsigned sum = 0;
    for (std::size_t i = 0; i < 128; ++i) sum += static_cast<unsigned char>(bytes[i]);
    if (sum % 256 != 0) return std::nullopt;
    auto b = [&](std::size_t i) { return static_cast<unsigned>(static_cast<unsigned char>(bytes[i])); };
    Edid e;
    unsigned m = (b(8) << 8) | b(9);
    for (int shift : {10, 5, 0}) e.manufacturerId += static_cast<char>('A' - 1 + ((m >> shift) & 0x1F));
    e.productCode = b(10) | (b(11) << 8);
    e.serialNumber = b(12) | (b(13) << 8) | (b(14) << 16) | (b(15) << 24);
    e.week = static_cast<int>(b(16));
    e.year = static_cast<int>(b(17)) + 1990;
    e.versionMajor = static_cast<int>(b(18));
    e.versionMinor = static_cast<int>(b(19));
    e.digital = (b(20) & 0x80) != 0;
    e.widthCm = static_cast<int>(b(21));
    e.heightCm = static_cast<int>(b(22));
    for (std::size_t d = 54; d + 18 <= 126; d += 18) {
        unsigned clock = b(d) | (b(d + 1) << 8);
        if (clock != 0) {
            if (e.preferredWidth == 0) {  // the first detailed timing is the preferred mode
                e.preferredWidth = static_cast<int>(b(d + 2) | ((b(d + 4) & 0xF0) << 4));
                e.preferredHeight = static_cast<int>(b(d + 5) | ((b(d + 7) & 0xF0) << 4));
            }
            continue;
        }
        unsigned tag = b(d + 3);
        if (tag != 0xFC && tag != 0xFF) continue;
        std::string text(bytes.substr(d + 5, 13));
        std::size_t nl = text.find('\n');
        if (nl != std::string::npos) text.resize(nl);
        text = Trim(text);
        if (text.empty()) continue;
        if (tag == 0xFC) e.monitorName = text;
        else e.serialText = text;
    }
    return e;
}

// --- /proc resource files ---

std::vector<IrqLine> ParseInterrupts(std::string_view text) {
    std::vector<IrqLine> out;
    auto lines = SplitLines(text);
    if (lines.empty()) return out;
    std::size_t cpus = SplitWhitespace(lines[0]).size();
    for (std::size_t n = 1; n < lines.size(); ++n) {
        const std::string& line = lines[n];
        std::size_t colon = line.find(':');
        if (colon == std::string::npos) continue;
        IrqLine l;
        l.irq = Trim(std::string_view(line).substr(0, colon));
        std::string_view rest = std::string_view(line).substr(colon + 1);
        std::size_t i = 0;
        for (std::size_t c = 0; c < cpus; ++c) {
            while (i < rest.size() && rest[i] == ' ') ++i;
            std::size_t j = i;
            while (j < rest.size() && rest[j] >= '0' && rest[j] <= '9') ++j;
            if (j == i) break;
            l.counts.push_back(ParseUInt(rest.substr(i, j - i)).value_or(0));
            i = j;
        }
        l.description = Trim(rest.substr(i));
        out.push_back(std::move(l));
    }
    return out;
}

std::vector<DmaLine> ParseDma(std::string_view text) {
    std::vector<DmaLine> out;
    for (const auto& line : SplitLines(text)) {
        std::size_t colon = line.find(':');
        if (colon == std::string::npos) continue;
        auto ch = ParseInt(std::string_view(line).substr(0, colon));
        if (!ch) continue;
        out.push_back({static_cast<int>(*ch), Trim(std::string_view(line).substr(colon + 1))});
    }
    return out;
}

std::vector<ResourceRange> ParseResourceTree(std::string_view text) {
    std::vector<ResourceRange> out;
    for (const auto& line : SplitLines(text)) {
        std::size_t indent = 0;
        while (indent < line.size() && line[indent] == ' ') ++indent;
        std::size_t dash = line.find('-', indent);
        std::size_t colon = line.find(" : ", indent);
        if (dash == std::string::npos || colon == std::string::npos || dash > colon) continue;
        auto a = ParseUInt(std::string_view(line).substr(indent, dash - indent), 16);
        auto b = ParseUInt(std::string_view(line).substr(dash + 1, colon - dash - 1), 16);
        if (!a || !b) continue;
        out.push_back({*a, *b, Trim(std::string_view(line).substr(colon + 3)), static_cast<int>(indent / 2)});
    }
    return out;
}

std::vector<InputDevice> ParseInputDevices(std::string_view text) {
    std::vector<InputDevice> out;
    InputDevice cur;
    bool any = false;
    auto flush = [&] {
        if (any) out.push_back(std::move(cur));
        cur = {};
        any = false;
    };
    for (const auto& line : SplitLines(text)) {
        if (line.size() < 3 || line[1] != ':') {
            flush();
            continue;
        }
        any = true;
        std::string_view body = std::string_view(line).substr(3);
        switch (line[0]) {
        case 'I':
            for (const auto& w : SplitWhitespace(body)) {
                std::size_t eq = w.find('=');
                if (eq == std::string::npos) continue;
                std::string k = w.substr(0, eq), v = w.substr(eq + 1);
                if (k == "Bus") cur.bus = v;
                else if (k == "Vendor") cur.vendor = v;
                else if (k == "Product") cur.product = v;
                else if (k == "Version") cur.version = v;
            }
            break;
        case 'N': {
            std::string v = Trim(body);
            if (StartsWith(v, "Name=")) v = v.substr(5);
            if (v.size() >= 2 && v.front() == '"' && v.back() == '"') v = v.substr(1, v.size() - 2);
            cur.name = v;
            break;
        }
        case 'P':
            if (StartsWith(Trim(body), "Phys=")) cur.phys = Trim(body).substr(5);
            break;
        case 'S':
            if (StartsWith(Trim(body), "Sysfs=")) cur.sysfs = Trim(body).substr(6);
            break;
        case 'H': {
            std::string v = Trim(body);
            if (StartsWith(v, "Handlers=")) cur.handlers = SplitWhitespace(std::string_view(v).substr(9));
            break;
        }
        case 'B': {
            std::string v = Trim(body);
            std::size_t eq = v.find('=');
            if (eq != std::string::npos) cur.bits[v.substr(0, eq)] = v.substr(eq + 1);
            break;
        }
        default:
            break;
        }
    }
    flush();
    return out;
}

std::vector<SoundCard> ParseAsoundCards(std::string_view text) {
    std::vector<SoundCard> out;
    auto lines = SplitLines(text);
    for (std::size_t n = 0; n < lines.size(); ++n) {
        const std::string& line = lines[n];
        // " 0 [PCH            ]: HDA-Intel - HDA Intel PCH"
        std::size_t open = line.find('[');
        std::size_t close = line.find("]:");
        if (open == std::string::npos || close == std::string::npos || close < open) continue;
        auto idx = ParseInt(std::string_view(line).substr(0, open));
        if (!idx) continue;
        SoundCard c;
        c.index = static_cast<int>(*idx);
        c.id = Trim(std::string_view(line).substr(open + 1, close - open - 1));
        std::string rest = Trim(std::string_view(line).substr(close + 2));
        std::size_t dash = rest.find(" - ");
        c.driver = Trim(std::string_view(rest).substr(0, dash));
        if (n + 1 < lines.size() && !lines[n + 1].empty() && lines[n + 1].find("]:") == std::string::npos)
            c.name = Trim(lines[n + 1]);
        else if (dash != std::string::npos)
            c.name = Trim(std::string_view(rest).substr(dash + 3));
        out.push_back(std::move(c));
    }
    return out;
}

}  // namespace wmi::lnx
