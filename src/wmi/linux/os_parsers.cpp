#include "wmi/linux/os_parsers.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "wmi/linux/parsers.h"
#include "wmi/object.h"

namespace wmi::lnx {

namespace {

std::vector<std::string> SplitChar(std::string_view s, char sep) {
    std::vector<std::string> out;
    std::size_t start = 0;
    while (true) {
        std::size_t p = s.find(sep, start);
        out.emplace_back(s.substr(start, p == std::string_view::npos ? std::string_view::npos : p - start));
        if (p == std::string_view::npos) break;
        start = p + 1;
    }
    return out;
}

std::optional<std::uint32_t> ParseU32(std::string_view s) {
    auto v = ParseUInt(s);
    if (!v || *v > 0xFFFFFFFFull) return std::nullopt;
    return static_cast<std::uint32_t>(*v);
}

std::uint64_t U64(const std::string& s) { return ParseUInt(s).value_or(0); }

std::string CField(std::string_view rec, std::size_t off, std::size_t len) {
    if (off >= rec.size()) return {};
    std::string_view f = rec.substr(off, len);
    return std::string(f.substr(0, f.find('\0')));
}

std::int32_t Le32(std::string_view b, std::size_t off) {
    std::int32_t v;
    std::memcpy(&v, b.data() + off, 4);
    return v;
}

std::int64_t Be(std::string_view b, std::size_t off, int n) {
    std::uint64_t v = 0;
    for (int i = 0; i < n; ++i) v = (v << 8) | static_cast<unsigned char>(b[off + static_cast<std::size_t>(i)]);
    if (n == 4) return static_cast<std::int32_t>(static_cast<std::uint32_t>(v));
    return static_cast<std::int64_t>(v);
}

}  // namespace

// --- processes ---

std::optional<ProcStat> ParseProcStat(std::string_view text) {
    std::size_t open = text.find('(');
    std::size_t close = text.rfind(')');
    if (open == std::string_view::npos || close == std::string_view::npos || close < open) return std::nullopt;
    auto pid = ParseInt(text.substr(0, open));
    if (!pid) return std::nullopt;
    // f[0] is field 3 (state); field n is f[n - 3]. Only the first 22 are
    // used, taken as views: this runs once for every process and thread.
    std::string_view f[22];
    {
        auto space = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; };
        std::string_view rest = text.substr(close + 1);
        std::size_t i = 0, n = 0;
        while (n < 22) {
            while (i < rest.size() && space(rest[i])) ++i;
            if (i == rest.size()) break;
            std::size_t j = i;
            while (j < rest.size() && !space(rest[j])) ++j;
            f[n++] = rest.substr(i, j - i);
            i = j;
        }
        if (n < 22) return std::nullopt;
    }
    ProcStat s;
    s.pid = static_cast<int>(*pid);
    s.comm = std::string(text.substr(open + 1, close - open - 1));
    s.state = f[0].empty() ? '?' : f[0][0];
    auto num = [&](int field) { return ParseInt(f[static_cast<std::size_t>(field - 3)]).value_or(0); };
    auto unum = [&](int field) { return ParseUInt(f[static_cast<std::size_t>(field - 3)]).value_or(0); };
    s.ppid = static_cast<int>(num(4));
    s.session = static_cast<int>(num(6));
    s.flags = unum(9);
    s.minflt = unum(10);
    s.majflt = unum(12);
    s.utime = unum(14);
    s.stime = unum(15);
    s.priority = static_cast<long>(num(18));
    s.nice = static_cast<long>(num(19));
    s.numThreads = static_cast<long>(num(20));
    s.startTime = unum(22);
    s.vsize = unum(23);
    s.rss = unum(24);
    return s;
}

std::vector<std::string> ParseCmdline(std::string_view bytes) {
    std::vector<std::string> out;
    if (bytes.empty()) return out;
    if (bytes.back() == '\0') bytes.remove_suffix(1);
    return SplitChar(bytes, '\0');
}

std::string JoinCommandLine(const std::vector<std::string>& args) {
    // Joined with blanks as procps shows them: a process that rewrote its
    // title ("sshd: alice [priv]") reads as it meant to.
    std::string out;
    for (const auto& a : args) {
        if (!out.empty()) out += ' ';
        out += a;
    }
    return out;
}

// --- accounts ---

std::vector<PasswdEntry> ParsePasswd(std::string_view text) {
    std::vector<PasswdEntry> out;
    for (const auto& line : SplitLines(text)) {
        if (line.empty() || line[0] == '#' || line[0] == '+' || line[0] == '-') continue;
        auto f = SplitChar(line, ':');
        if (f.size() < 7 || f[0].empty()) continue;
        auto uid = ParseU32(f[2]), gid = ParseU32(f[3]);
        if (!uid || !gid) continue;
        out.push_back({f[0], f[1], f[4], f[5], f[6], *uid, *gid});
    }
    return out;
}

std::vector<GroupEntry> ParseGroup(std::string_view text) {
    std::vector<GroupEntry> out;
    for (const auto& line : SplitLines(text)) {
        if (line.empty() || line[0] == '#' || line[0] == '+' || line[0] == '-') continue;
        auto f = SplitChar(line, ':');
        if (f.size() < 4 || f[0].empty()) continue;
        auto gid = ParseU32(f[2]);
        if (!gid) continue;
        GroupEntry g{f[0], *gid, {}};
        for (auto& m : SplitChar(f[3], ','))
            if (!Trim(m).empty()) g.members.push_back(Trim(m));
        out.push_back(std::move(g));
    }
    return out;
}

std::vector<ShadowEntry> ParseShadow(std::string_view text) {
    std::vector<ShadowEntry> out;
    for (const auto& line : SplitLines(text)) {
        if (line.empty() || line[0] == '#') continue;
        auto f = SplitChar(line, ':');
        if (f.size() < 8 || f[0].empty()) continue;
        ShadowEntry e;
        e.name = f[0];
        e.password = f[1];
        e.lastChange = ParseInt(f[2]);
        e.minDays = ParseInt(f[3]);
        e.maxDays = ParseInt(f[4]);
        e.warnDays = ParseInt(f[5]);
        e.inactiveDays = ParseInt(f[6]);
        e.expireDay = ParseInt(f[7]);
        out.push_back(std::move(e));
    }
    return out;
}

std::vector<UtmpRecord> ParseUtmpRecords(std::string_view bytes) {
    // glibc's struct utmp: type, pid, line[32], id[4], user[32], host[256],
    // exit, session, tv (two int32), addr[16], unused[20]: 384 bytes.
    constexpr std::size_t kSize = 384;
    std::vector<UtmpRecord> out;
    for (std::size_t off = 0; off + kSize <= bytes.size(); off += kSize) {
        std::string_view r = bytes.substr(off, kSize);
        UtmpRecord u;
        std::int16_t type;
        std::memcpy(&type, r.data(), 2);
        u.type = type;
        u.pid = Le32(r, 4);
        u.line = CField(r, 8, 32);
        u.id = CField(r, 40, 4);
        u.user = CField(r, 44, 32);
        u.host = CField(r, 76, 256);
        u.session = Le32(r, 336);
        u.seconds = static_cast<std::uint32_t>(Le32(r, 340));
        u.microseconds = Le32(r, 344);
        out.push_back(std::move(u));
    }
    return out;
}

std::optional<LastlogEntry> LastlogFor(std::string_view bytes, std::uint32_t uid) {
    // struct lastlog: int32 time, char line[32], char host[256].
    constexpr std::size_t kSize = 292;
    std::size_t off = static_cast<std::size_t>(uid) * kSize;
    if (off + kSize > bytes.size()) return std::nullopt;
    std::string_view r = bytes.substr(off, kSize);
    LastlogEntry e;
    e.time = static_cast<std::uint32_t>(Le32(r, 0));
    e.line = CField(r, 4, 32);
    e.host = CField(r, 36, 256);
    return e;
}

std::map<std::string, std::string> ParseSpaceSeparatedKeys(std::string_view text) {
    std::map<std::string, std::string> out;
    for (const auto& line : SplitLines(text)) {
        std::string t = Trim(line);
        if (t.empty() || t[0] == '#') continue;
        auto w = SplitWhitespace(t);
        if (w.size() >= 2) out[w[0]] = w[1];
    }
    return out;
}

// --- INI ---

std::optional<std::string> IniSection::get(std::string_view key, bool noCase) const {
    std::optional<std::string> out;
    for (const auto& [k, v] : entries) {
        bool match = noCase ? (k.size() == key.size() &&
                               std::equal(k.begin(), k.end(), key.begin(), [](char a, char b) {
                                   return std::tolower(static_cast<unsigned char>(a)) ==
                                          std::tolower(static_cast<unsigned char>(b));
                               }))
                            : k == key;
        if (match) out = v;
    }
    return out;
}

std::vector<IniSection> ParseIni(std::string_view text) {
    std::vector<IniSection> out;
    auto lines = SplitLines(text);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        std::string line = Trim(lines[i]);
        while (!line.empty() && line.back() == '\\' && i + 1 < lines.size()) {
            line.pop_back();
            line = Trim(line) + ' ' + Trim(lines[++i]);
        }
        if (line.empty() || line[0] == '#' || line[0] == ';') continue;
        if (line[0] == '[') {
            std::size_t e = line.find(']');
            out.push_back({Trim(line.substr(1, e == std::string::npos ? std::string::npos : e - 1)), {}});
            continue;
        }
        std::size_t eq = line.find('=');
        if (eq == std::string::npos) continue;
        if (out.empty()) out.push_back({"", {}});
        out.back().entries.emplace_back(Trim(line.substr(0, eq)), Trim(line.substr(eq + 1)));
    }
    return out;
}

const IniSection* FindSection(const std::vector<IniSection>& sections, std::string_view name, bool noCase) {
    for (const auto& s : sections) {
        if (noCase ? ToLowerAscii(s.name) == ToLowerAscii(std::string(name)) : s.name == name) return &s;
    }
    return nullptr;
}

// --- dpkg ---

std::string DpkgPackage::summary() const { return description.substr(0, description.find('\n')); }

bool DpkgIsInstalled(const DpkgPackage& p) {
    auto w = SplitWhitespace(p.status);
    if (w.size() != 3) return false;
    const std::string& s = w[2];
    return s == "installed" || s == "half-configured" || s == "unpacked" || s == "half-installed" ||
           s == "triggers-awaited" || s == "triggers-pending";
}

std::vector<DpkgPackage> ParseDpkgStatus(std::string_view text) {
    std::vector<DpkgPackage> out;
    DpkgPackage cur;
    std::map<std::string, std::string> fields;
    std::string last;
    bool bad = false;
    auto finish = [&] {
        if (!bad && !fields.empty() && !fields["Package"].empty()) {
            DpkgPackage p;
            p.package = fields["Package"];
            p.version = fields["Version"];
            p.architecture = fields["Architecture"];
            p.status = fields["Status"];
            p.maintainer = fields["Maintainer"];
            p.description = fields["Description"];
            p.section = fields["Section"];
            p.source = fields["Source"];
            p.homepage = fields["Homepage"];
            if (fields.count("Installed-Size")) p.installedSizeKB = ParseUInt(fields["Installed-Size"]);
            out.push_back(std::move(p));
        }
        fields.clear();
        last.clear();
        bad = false;
    };
    std::size_t pos = 0;
    while (pos <= text.size()) {
        std::size_t nl = text.find('\n', pos);
        std::string_view line = text.substr(pos, nl == std::string_view::npos ? std::string_view::npos : nl - pos);
        pos = nl == std::string_view::npos ? text.size() + 1 : nl + 1;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (Trim(line).empty()) {
            finish();
            continue;
        }
        if (line[0] == ' ' || line[0] == '\t') {
            if (last.empty()) bad = true;
            else fields[last] += "\n" + Trim(line);
            continue;
        }
        std::size_t colon = line.find(':');
        if (colon == std::string_view::npos || colon == 0 || line.substr(0, colon).find(' ') != std::string_view::npos) {
            bad = true;
            continue;
        }
        last = std::string(line.substr(0, colon));
        fields[last] = Trim(line.substr(colon + 1));
    }
    finish();
    return out;
}

// --- time zones ---

namespace {

// A POSIX TZ name: letters, or anything between '<' and '>'.
bool TzName(std::string_view s, std::size_t& i, std::string& out) {
    if (i < s.size() && s[i] == '<') {
        std::size_t e = s.find('>', i);
        if (e == std::string_view::npos) return false;
        out = std::string(s.substr(i + 1, e - i - 1));
        i = e + 1;
        return !out.empty();
    }
    std::size_t b = i;
    while (i < s.size() && std::isalpha(static_cast<unsigned char>(s[i]))) ++i;
    out = std::string(s.substr(b, i - b));
    return out.size() >= 3;
}

// "[+-]hh[:mm[:ss]]" in seconds.
bool TzTime(std::string_view s, std::size_t& i, int& seconds) {
    int sign = 1;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) sign = s[i++] == '-' ? -1 : 1;
    int parts[3] = {0, 0, 0};
    for (int k = 0; k < 3; ++k) {
        std::size_t b = i;
        while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) ++i;
        if (i == b || i - b > 3) return false;  // POSIX allows hours up to 167 (rules), minutes and seconds of two digits
        parts[k] = static_cast<int>(*ParseInt(s.substr(b, i - b)));
        if (i < s.size() && s[i] == ':' && k < 2) ++i;
        else break;
    }
    seconds = sign * (parts[0] * 3600 + parts[1] * 60 + parts[2]);
    return true;
}

std::optional<TzRule> TzRuleAt(std::string_view s, std::size_t& i) {
    if (i >= s.size() || s[i] != 'M') return std::nullopt;
    ++i;
    std::size_t e = s.find_first_of(",/", i);
    auto f = SplitChar(s.substr(i, e == std::string_view::npos ? std::string_view::npos : e - i), '.');
    i = e == std::string_view::npos ? s.size() : e;
    if (f.size() != 3) return std::nullopt;
    auto m = ParseInt(f[0]), w = ParseInt(f[1]), d = ParseInt(f[2]);
    if (!m || !w || !d || *m < 1 || *m > 12 || *w < 1 || *w > 5 || *d < 0 || *d > 6) return std::nullopt;
    TzRule r{static_cast<int>(*m), static_cast<int>(*w), static_cast<int>(*d), 7200};
    if (i < s.size() && s[i] == '/') {
        ++i;
        int t = 0;
        if (!TzTime(s, i, t)) return std::nullopt;
        r.seconds = t;
    }
    return r;
}

}  // namespace

std::optional<TimeZoneInfo> ParsePosixTz(std::string_view tz) {
    std::size_t i = 0;
    TimeZoneInfo info;
    int off = 0;
    if (!TzName(tz, i, info.standardName) || !TzTime(tz, i, off)) return std::nullopt;
    info.standardOffsetSeconds = -off;  // POSIX counts west of Greenwich
    if (i >= tz.size()) return info;
    if (!TzName(tz, i, info.daylightName)) return std::nullopt;
    info.daylightOffsetSeconds = info.standardOffsetSeconds + 3600;
    if (i < tz.size() && tz[i] != ',') {
        if (!TzTime(tz, i, off)) return std::nullopt;
        info.daylightOffsetSeconds = -off;
    }
    if (i < tz.size() && tz[i] == ',') {
        ++i;
        info.daylightStart = TzRuleAt(tz, i);
        if (info.daylightStart && i < tz.size() && tz[i] == ',') {
            ++i;
            info.standardStart = TzRuleAt(tz, i);
        }
        if (!info.standardStart) info.daylightStart.reset();  // a Julian-day rule: not expressible
    }
    return info;
}

std::optional<TimeZoneInfo> ParseTzif(std::string_view b) {
    constexpr std::size_t kHeader = 44;
    if (b.size() < kHeader || b.substr(0, 4) != "TZif") return std::nullopt;
    char version = b[4];
    auto counts = [&](std::size_t at, std::int64_t c[6]) {
        for (int k = 0; k < 6; ++k) c[k] = Be(b, at + 20 + static_cast<std::size_t>(k) * 4, 4);
    };
    std::int64_t c[6];  // isutcnt isstdcnt leapcnt timecnt typecnt charcnt
    counts(0, c);
    for (auto v : c)
        if (v < 0) return std::nullopt;
    auto blockSize = [](const std::int64_t n[6], int timeSize) {
        return static_cast<std::size_t>(n[3] * timeSize + n[3] + n[4] * 6 + n[5] + n[2] * (timeSize + 4) + n[1] + n[0]);
    };
    std::size_t v1End = kHeader + blockSize(c, 4);
    if (v1End > b.size() || c[4] == 0) return std::nullopt;
    if (version >= '2' && v1End + kHeader <= b.size() && b.substr(v1End, 4) == "TZif") {
        std::int64_t c2[6];
        counts(v1End, c2);
        std::size_t end = v1End + kHeader + blockSize(c2, 8);
        if (end < b.size() && b[end] == '\n') {
            std::size_t e = b.find('\n', end + 1);
            if (e != std::string_view::npos) {
                if (auto tz = ParsePosixTz(b.substr(end + 1, e - end - 1))) return tz;
            }
        }
    }
    // Version 1 data: the types the latest transitions use.
    std::size_t times = kHeader, idx = times + static_cast<std::size_t>(c[3]) * 4;
    std::size_t types = idx + static_cast<std::size_t>(c[3]), chars = types + static_cast<std::size_t>(c[4]) * 6;
    auto typeAt = [&](std::size_t t, int& utoff, bool& dst, std::string& abbr) {
        std::size_t o = types + t * 6;
        utoff = static_cast<int>(Be(b, o, 4));
        dst = b[o + 4] != 0;
        std::size_t a = static_cast<unsigned char>(b[o + 5]);
        abbr = a < static_cast<std::size_t>(c[5]) ? CField(b, chars + a, static_cast<std::size_t>(c[5]) - a) : "";
    };
    TimeZoneInfo info;
    bool haveStd = false;
    int utoff;
    bool dst;
    std::string abbr;
    std::size_t n = static_cast<std::size_t>(c[3]);
    for (std::size_t k = n; k-- > 0;) {
        std::size_t t = static_cast<unsigned char>(b[idx + k]);
        if (t >= static_cast<std::size_t>(c[4])) return std::nullopt;
        typeAt(t, utoff, dst, abbr);
        if (!dst && !haveStd) {
            info.standardName = abbr;
            info.standardOffsetSeconds = utoff;
            haveStd = true;
        } else if (dst && info.daylightName.empty() && k + 2 >= n) {
            info.daylightName = abbr;
            info.daylightOffsetSeconds = utoff;
        }
        if (haveStd && k + 2 < n) break;
    }
    if (!haveStd) {
        typeAt(0, utoff, dst, abbr);
        info.standardName = abbr;
        info.standardOffsetSeconds = utoff;
    }
    return info;
}

// --- cron ---

std::vector<CronEntry> ParseCrontab(std::string_view text, bool systemTable) {
    std::vector<CronEntry> out;
    for (const auto& raw : SplitLines(text)) {
        std::string line = Trim(raw);
        if (line.empty() || line[0] == '#') continue;
        // Environment assignments ("MAILTO=root", "PATH = ...") are no jobs.
        std::size_t eq = line.find('='), sp = line.find_first_of(" \t");
        if (eq != std::string::npos && line[0] != '@' && (sp == std::string::npos || eq < sp ||
                                                          Trim(line.substr(0, eq)).find_first_of(" \t") == std::string::npos))
            continue;
        auto w = SplitWhitespace(line);
        CronEntry e;
        std::size_t next;
        if (line[0] == '@') {
            e.special = w[0];
            next = 1;
        } else {
            if (w.size() < 6) continue;
            e.minute = w[0], e.hour = w[1], e.dayOfMonth = w[2], e.month = w[3], e.dayOfWeek = w[4];
            next = 5;
        }
        if (systemTable) {
            if (w.size() <= next + 1) continue;
            e.user = w[next++];
        }
        if (w.size() <= next) continue;
        // The command is the rest of the line as written.
        std::size_t p = 0;
        for (std::size_t k = 0; k < next && p != std::string::npos; ++k) {
            p = line.find_first_not_of(" \t", p);
            if (p != std::string::npos) p = line.find_first_of(" \t", p);
        }
        if (p == std::string::npos) continue;  // fields split by other white space
        e.command = Trim(line.substr(p));
        out.push_back(std::move(e));
    }
    return out;
}

// --- swap, routes, partitions, modules, exports ---

std::vector<SwapEntry> ParseSwaps(std::string_view text) {
    std::vector<SwapEntry> out;
    auto lines = SplitLines(text);
    for (std::size_t i = 1; i < lines.size(); ++i) {
        auto w = SplitWhitespace(lines[i]);
        if (w.size() < 5) continue;
        auto size = ParseUInt(w[2]), used = ParseUInt(w[3]);
        auto prio = ParseInt(w[4]);
        if (!size || !used || !prio) continue;
        out.push_back({UnescapeOctal(w[0]), w[1], *size, *used, static_cast<int>(*prio)});
    }
    return out;
}

std::vector<RouteEntry> ParseRoutes(std::string_view text) {
    auto quad = [](const std::string& hex) -> std::optional<std::string> {
        auto v = ParseUInt(hex, 16);
        if (!v || hex.size() != 8) return std::nullopt;
        // The kernel prints the address as a little-endian 32-bit number.
        std::uint32_t a = static_cast<std::uint32_t>(*v);
        return std::to_string(a & 0xFF) + "." + std::to_string((a >> 8) & 0xFF) + "." +
               std::to_string((a >> 16) & 0xFF) + "." + std::to_string(a >> 24);
    };
    std::vector<RouteEntry> out;
    auto lines = SplitLines(text);
    for (std::size_t i = 1; i < lines.size(); ++i) {
        auto w = SplitWhitespace(lines[i]);
        if (w.size() < 8) continue;
        auto d = quad(w[1]), g = quad(w[2]), m = quad(w[7]);
        auto flags = ParseUInt(w[3], 16);
        auto metric = ParseInt(w[6]);
        if (!d || !g || !m || !flags || !metric) continue;
        out.push_back({w[0], *d, *g, *m, static_cast<unsigned>(*flags), static_cast<int>(*metric)});
    }
    return out;
}

std::vector<PartitionLine> ParsePartitions(std::string_view text) {
    std::vector<PartitionLine> out;
    for (const auto& line : SplitLines(text)) {
        auto w = SplitWhitespace(line);
        if (w.size() != 4) continue;
        auto ma = ParseUInt(w[0]), mi = ParseUInt(w[1]), bl = ParseUInt(w[2]);
        if (!ma || !mi || !bl) continue;
        out.push_back({static_cast<unsigned>(*ma), static_cast<unsigned>(*mi), *bl, w[3]});
    }
    return out;
}

std::vector<ModuleLine> ParseModules(std::string_view text) {
    std::vector<ModuleLine> out;
    for (const auto& line : SplitLines(text)) {
        auto w = SplitWhitespace(line);
        if (w.size() < 5) continue;
        auto size = ParseUInt(w[1]);
        auto refs = ParseInt(w[2]);
        if (!size || !refs) continue;
        ModuleLine m{w[0], *size, static_cast<int>(*refs), {}, w[4]};
        if (w[3] != "-")
            for (auto& u : SplitChar(w[3], ','))
                if (!u.empty()) m.usedBy.push_back(u);
        out.push_back(std::move(m));
    }
    return out;
}

std::vector<ExportEntry> ParseExports(std::string_view text) {
    std::vector<ExportEntry> out;
    auto lines = SplitLines(text);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        std::string line = lines[i];
        while (!line.empty() && line.back() == '\\' && i + 1 < lines.size()) {
            line.pop_back();
            line += ' ' + lines[++i];
        }
        std::size_t hash = line.find('#');
        if (hash != std::string::npos) line.resize(hash);
        line = Trim(line);
        if (line.empty()) continue;
        ExportEntry e;
        std::size_t p = 0;
        if (line[0] == '"') {
            std::size_t q = line.find('"', 1);
            if (q == std::string::npos) continue;
            e.path = line.substr(1, q - 1);
            p = q + 1;
        } else {
            p = line.find_first_of(" \t");
            e.path = line.substr(0, p);
        }
        if (e.path.empty() || e.path[0] != '/') continue;
        if (p != std::string::npos) e.clients = SplitWhitespace(line.substr(p));
        out.push_back(std::move(e));
    }
    return out;
}

// --- counters ---

std::map<std::string, std::map<std::string, std::int64_t>> ParseSnmp(std::string_view text) {
    std::map<std::string, std::map<std::string, std::int64_t>> out;
    auto lines = SplitLines(text);
    for (std::size_t i = 0; i + 1 < lines.size(); ++i) {
        std::size_t c1 = lines[i].find(':'), c2 = lines[i + 1].find(':');
        if (c1 == std::string::npos || c2 == std::string::npos) continue;
        std::string proto = lines[i].substr(0, c1);
        if (proto != lines[i + 1].substr(0, c2)) continue;
        auto names = SplitWhitespace(std::string_view(lines[i]).substr(c1 + 1));
        auto values = SplitWhitespace(std::string_view(lines[i + 1]).substr(c2 + 1));
        if (names.size() != values.size() || names.empty() || ParseInt(names[0])) continue;
        auto& m = out[proto];
        for (std::size_t k = 0; k < names.size(); ++k)
            if (auto v = ParseInt(values[k])) m[names[k]] = *v;
        ++i;
    }
    return out;
}

std::vector<NetDevLine> ParseNetDev(std::string_view text) {
    std::vector<NetDevLine> out;
    for (const auto& line : SplitLines(text)) {
        std::size_t colon = line.find(':');
        if (colon == std::string::npos) continue;
        auto w = SplitWhitespace(std::string_view(line).substr(colon + 1));
        if (w.size() < 16 || !ParseUInt(w[0])) continue;
        NetDevLine d;
        d.name = Trim(std::string_view(line).substr(0, colon));
        d.rxBytes = U64(w[0]), d.rxPackets = U64(w[1]), d.rxErrors = U64(w[2]), d.rxDrop = U64(w[3]);
        d.rxMulticast = U64(w[7]);
        d.txBytes = U64(w[8]), d.txPackets = U64(w[9]), d.txErrors = U64(w[10]), d.txDrop = U64(w[11]);
        out.push_back(std::move(d));
    }
    return out;
}

std::vector<DiskStatLine> ParseDiskStats(std::string_view text) {
    std::vector<DiskStatLine> out;
    for (const auto& line : SplitLines(text)) {
        auto w = SplitWhitespace(line);
        if (w.size() < 14) continue;
        auto ma = ParseUInt(w[0]), mi = ParseUInt(w[1]);
        if (!ma || !mi) continue;
        DiskStatLine d;
        d.major = static_cast<unsigned>(*ma), d.minor = static_cast<unsigned>(*mi), d.name = w[2];
        d.reads = U64(w[3]), d.readsMerged = U64(w[4]), d.sectorsRead = U64(w[5]), d.readMs = U64(w[6]);
        d.writes = U64(w[7]), d.writesMerged = U64(w[8]), d.sectorsWritten = U64(w[9]), d.writeMs = U64(w[10]);
        d.inFlight = U64(w[11]), d.ioMs = U64(w[12]), d.weightedMs = U64(w[13]);
        out.push_back(std::move(d));
    }
    return out;
}

ProcStatSummary ParseProcStatSummary(std::string_view text) {
    ProcStatSummary s;
    for (const auto& line : SplitLines(text)) {
        auto w = SplitWhitespace(line);
        if (w.size() < 2) continue;
        if (StartsWith(w[0], "cpu") && w.size() >= 5) {
            KernelCpuTimes c;
            c.name = w[0];
            std::uint64_t* f[] = {&c.user, &c.nice, &c.system, &c.idle, &c.iowait, &c.irq, &c.softirq, &c.steal};
            for (std::size_t k = 0; k < 8 && k + 1 < w.size(); ++k) *f[k] = U64(w[k + 1]);
            s.cpus.push_back(c);
        } else if (w[0] == "intr") s.interrupts = ParseUInt(w[1]);
        else if (w[0] == "ctxt") s.contextSwitches = ParseUInt(w[1]);
        else if (w[0] == "processes") s.processesCreated = ParseUInt(w[1]);
        else if (w[0] == "procs_running") s.running = ParseUInt(w[1]);
        else if (w[0] == "procs_blocked") s.blocked = ParseUInt(w[1]);
        else if (w[0] == "btime") s.bootTime = ParseUInt(w[1]);
    }
    return s;
}

std::map<std::string, std::uint64_t> ParseVmstat(std::string_view text) {
    std::map<std::string, std::uint64_t> out;
    for (const auto& line : SplitLines(text)) {
        auto w = SplitWhitespace(line);
        if (w.size() == 2)
            if (auto v = ParseUInt(w[1])) out[w[0]] = *v;
    }
    return out;
}

// --- logs ---

std::optional<SyslogLine> ParseSyslogLine(std::string_view line) {
    static const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    SyslogLine s;
    std::size_t p = 0;
    auto digits = [&](std::size_t at, std::size_t n) -> std::optional<int> {
        if (at + n > line.size()) return std::nullopt;
        int v = 0;
        for (std::size_t k = 0; k < n; ++k) {
            char ch = line[at + k];
            if (!std::isdigit(static_cast<unsigned char>(ch))) return std::nullopt;
            v = v * 10 + (ch - '0');
        }
        return v;
    };
    if (line.size() >= 19 && line[4] == '-' && line[7] == '-' && line[10] == 'T') {
        auto y = digits(0, 4), mo = digits(5, 2), d = digits(8, 2), h = digits(11, 2), mi = digits(14, 2), se = digits(17, 2);
        if (!y || !mo || !d || !h || !mi || !se) return std::nullopt;
        s.year = *y, s.month = *mo, s.day = *d, s.hour = *h, s.minute = *mi, s.second = *se;
        p = 19;
        if (p < line.size() && line[p] == '.')
            while (++p < line.size() && std::isdigit(static_cast<unsigned char>(line[p]))) {}
        if (p < line.size() && line[p] == 'Z') {
            s.offsetMinutes = 0;
            ++p;
        } else if (p + 6 <= line.size() && (line[p] == '+' || line[p] == '-') && line[p + 3] == ':') {
            auto oh = digits(p + 1, 2), om = digits(p + 4, 2);
            if (!oh || !om) return std::nullopt;
            s.offsetMinutes = (line[p] == '-' ? -1 : 1) * (*oh * 60 + *om);
            p += 6;
        }
    } else if (line.size() >= 15 && line[3] == ' ' && line[6] == ' ' && line[9] == ':' && line[12] == ':') {
        for (int m = 0; m < 12; ++m)
            if (line.substr(0, 3) == kMonths[m]) s.month = m + 1;
        auto d = line[4] == ' ' ? digits(5, 1) : digits(4, 2);
        auto h = digits(7, 2), mi = digits(10, 2), se = digits(13, 2);
        if (!s.month || !d || !h || !mi || !se) return std::nullopt;
        s.day = *d, s.hour = *h, s.minute = *mi, s.second = *se;
        p = 15;
    } else {
        return std::nullopt;
    }
    if (p >= line.size() || line[p] != ' ') return std::nullopt;
    std::string_view rest = line.substr(p + 1);
    std::size_t sp = rest.find(' ');
    s.host = std::string(rest.substr(0, sp));
    if (sp == std::string_view::npos) return s;
    rest = rest.substr(sp + 1);
    // "tag[pid]: message" or "tag: message"; a line without a tag is all message.
    std::size_t colon = rest.find(": ");
    std::size_t blank = rest.find(' ');
    if (colon != std::string_view::npos && (blank == std::string_view::npos || colon < blank)) {
        std::string_view tag = rest.substr(0, colon);
        std::size_t br = tag.find('[');
        if (br != std::string_view::npos && tag.back() == ']') {
            if (auto pid = ParseInt(tag.substr(br + 1, tag.size() - br - 2))) s.pid = static_cast<int>(*pid);
            tag = tag.substr(0, br);
        }
        s.tag = std::string(tag);
        s.message = std::string(rest.substr(colon + 2));
    } else {
        s.message = std::string(rest);
    }
    return s;
}

// --- calendar ---

std::int64_t DaysFromCivil(int y, int m, int d) {
    // Howard Hinnant's days_from_civil.
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = static_cast<unsigned>((153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1);
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

int DayOfWeek(int year, int month, int day) {
    std::int64_t days = DaysFromCivil(year, month, day);
    return static_cast<int>(days >= -4 ? (days + 4) % 7 : (days + 5) % 7 + 6);
}

}  // namespace wmi::lnx
