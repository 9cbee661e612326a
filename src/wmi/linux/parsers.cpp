// Text helpers and the parsers of /proc, /etc and udev formats.
#include "wmi/linux/parsers.h"

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace wmi::lnx {

namespace {
bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

std::string_view TrimView(std::string_view s) {
    std::size_t b = 0, e = s.size();
    while (b < e && (IsSpace(s[b]) || s[b] == '\0')) ++b;
    while (e > b && (IsSpace(s[e - 1]) || s[e - 1] == '\0')) --e;
    return s.substr(b, e - b);
}

// Calls f(line) for each line of text without its '\n', until f returns false.
template <class F>
void ForEachLine(std::string_view text, F&& f) {
    std::size_t i = 0;
    while (i < text.size()) {
        std::size_t j = text.find('\n', i);
        if (j == std::string_view::npos) j = text.size();
        if (!f(text.substr(i, j - i))) return;
        i = j + 1;
    }
}

// Calls f(key, value) for each "key<sep>value" line, both trimmed, in order.
template <class F>
void ForEachKeyValue(std::string_view text, char sep, F&& f) {
    ForEachLine(text, [&](std::string_view line) {
        std::size_t p = line.find(sep);
        if (p == std::string_view::npos) return true;
        std::string_view key = TrimView(line.substr(0, p));
        if (!key.empty()) f(key, TrimView(line.substr(p + 1)));
        return true;
    });
}
}  // namespace

std::string Trim(std::string_view s) { return std::string(TrimView(s)); }

namespace {
std::optional<std::string_view> ForEachFindKeyValue(std::string_view text, std::string_view key, char sep) {
    std::optional<std::string_view> found;
    ForEachKeyValue(text, sep, [&](std::string_view k, std::string_view v) {
        if (k == key) found = v;
    });
    return found;
}
}  // namespace

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
    ForEachLine(s, [&](std::string_view line) {
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        out.emplace_back(line);
        return true;
    });
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
    ForEachKeyValue(text, sep, [&](std::string_view k, std::string_view v) { out[std::string(k)] = v; });
    return out;
}

std::optional<std::string_view> FindKeyValue(std::string_view text, std::string_view key, char sep) {
    // The last line whose trimmed key is key, without copying every line: a
    // status file has about sixty and is asked for a handful of them.
    auto blank = [](char c) { return IsSpace(c) || c == '\0'; };
    if (key.empty() || blank(sep) || key.find_first_of(std::string_view("\n\0", 2)) != std::string_view::npos ||
        key.find(sep) != std::string_view::npos || blank(key.front()) || blank(key.back()))
        return ForEachFindKeyValue(text, key, sep);
    // Jumps from one occurrence of the key to the next; one that starts its
    // line (after blanks) and is followed by blanks and sep is a match.
    std::optional<std::string_view> found;
    for (std::size_t at = text.find(key); at != std::string_view::npos; at = text.find(key, at + 1)) {
        std::size_t k = at;
        while (k > 0 && text[k - 1] != '\n' && blank(text[k - 1])) --k;
        if (k > 0 && text[k - 1] != '\n') continue;
        std::size_t end = text.find('\n', at);
        if (end == std::string_view::npos) end = text.size();
        std::size_t m = at + key.size();
        while (m < end && text[m] != sep && blank(text[m])) ++m;
        if (m < end && text[m] == sep) found = TrimView(text.substr(m + 1, end - m - 1));
    }
    return found;
}

std::pair<std::string_view, std::string_view> FirstTwoWords(std::string_view s) {
    std::string_view w[2];
    std::size_t i = 0;
    for (auto& word : w) {
        while (i < s.size() && IsSpace(s[i])) ++i;
        std::size_t j = i;
        while (j < s.size() && !IsSpace(s[j])) ++j;
        word = s.substr(i, j - i);
        i = j;
    }
    return {w[0], w[1]};
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

std::map<int, CpuBusyTimes> ParseCpuBusyTimes(std::string_view procStat) {
    std::map<int, CpuBusyTimes> out;
    for (const auto& line : SplitLines(procStat)) {
        if (!StartsWith(line, "cpu") || line.size() < 4 || line[3] < '0' || line[3] > '9') continue;
        auto w = SplitWhitespace(line);
        auto id = ParseInt(std::string_view(w[0]).substr(3));
        if (!id || w.size() < 5) continue;
        std::uint64_t f[8] = {};
        bool ok = true;
        // guest times are already counted in user and nice
        for (std::size_t i = 0; i < 8 && i + 1 < w.size(); ++i) {
            auto v = ParseUInt(w[i + 1]);
            if (!v) ok = false;
            else f[i] = *v;
        }
        if (!ok) continue;
        CpuBusyTimes t;
        std::uint64_t idle = f[3] + f[4];
        t.busy = f[0] + f[1] + f[2] + f[5] + f[6] + f[7];
        t.total = t.busy + idle;
        out[static_cast<int>(*id)] = t;
    }
    return out;
}

std::optional<std::string> ParsePacmanLogStart(std::string_view text) {
    std::size_t nl = text.find('\n');
    std::string_view line = text.substr(0, nl);
    if (line.size() < 18 || line[0] != '[') return std::nullopt;
    std::size_t close = line.find(']');
    if (close == std::string_view::npos) return std::nullopt;
    std::string stamp(line.substr(1, close - 1));
    auto num = [&](std::size_t pos, std::size_t len) -> std::optional<int> {
        if (pos + len > stamp.size()) return std::nullopt;
        auto v = ParseInt(stamp.substr(pos, len));
        if (!v || stamp.substr(pos, len).find_first_not_of("0123456789") != std::string::npos) return std::nullopt;
        return static_cast<int>(*v);
    };
    if (stamp.size() < 16 || stamp[4] != '-' || stamp[7] != '-' || (stamp[10] != 'T' && stamp[10] != ' ') || stamp[13] != ':')
        return std::nullopt;
    auto y = num(0, 4), mo = num(5, 2), d = num(8, 2), h = num(11, 2), mi = num(14, 2);
    if (!y || !mo || !d || !h || !mi || *mo < 1 || *mo > 12 || *d < 1 || *d > 31 || *h > 23 || *mi > 59) return std::nullopt;
    int sec = 0, offset = 0;
    std::size_t pos = 16;
    if (pos < stamp.size() && stamp[pos] == ':') {
        auto s = num(pos + 1, 2);
        if (!s || *s > 60) return std::nullopt;
        sec = *s;
        pos += 3;
    }
    if (pos < stamp.size()) {
        char sign = stamp[pos];
        auto oh = num(pos + 1, 2), om = num(pos + 3, 2);
        if ((sign != '+' && sign != '-') || !oh || !om || pos + 5 != stamp.size()) return std::nullopt;
        offset = (sign == '-' ? -1 : 1) * (*oh * 60 + *om);
    }
    char buf[80];
    std::snprintf(buf, sizeof buf, "%04d%02d%02d%02d%02d%02d.000000%c%03d", *y, *mo, *d, *h, *mi, sec,
                  offset < 0 ? '-' : '+', offset < 0 ? -offset : offset);
    return std::string(buf);
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
    ForEachLine(idsText, [&](std::string_view line) {
        if (line.empty() || line[0] == '#') return true;
        if (line[0] != '\t') {
            if (inVendor) return false;  // the vendor's block ended
            if (line.size() > 6 && line.substr(0, 4) == vend && line[4] == ' ') {
                inVendor = true;
                out.vendor = Trim(line.substr(6));
                return true;
            }
            // Device classes follow the vendor list.
            return !(line.size() > 2 && line[0] == 'C' && line[1] == ' ');
        }
        if (inVendor && line.size() > 7 && line[1] != '\t' && line.substr(1, 4) == dev && line[5] == ' ') {
            out.device = Trim(line.substr(7));
            return false;
        }
        return true;
    });
    return out;
}

}  // namespace wmi::lnx
