// Win32_NTEventlogFile and Win32_NTLogEvent from the systemd journal, read
// through libsystemd, or from the classic text logs under /var/log where
// there is no journal. Entries are split into the System, Application and
// Security logs by their syslog facility.
#include <cstring>
#include <ctime>
#include <set>
#include <type_traits>

#include "wmi/linux/linux_provider.h"
#include "wmi/linux/os_common.h"

#ifdef KESTRANE_HAVE_SYSTEMD
#include <dlfcn.h>
#include <systemd/sd-journal.h>
#endif

namespace wmi::lnx {

namespace {

enum LogId { kSystem = 0, kApplication = 1, kSecurity = 2 };
const char* const kLogNames[] = {"System", "Application", "Security"};

struct LogEntry {
    LogId log = kSystem;
    std::optional<std::int64_t> generatedUs, writtenUs;  // microseconds since the epoch
    std::optional<int> writtenOffset;                    // minutes east of UTC, when the text log said
    std::optional<int> priority, facility;
    std::optional<std::uint64_t> uid;
    std::string source, message, host;
};

// auth and authpriv, and the kernel's audit records, belong to Security.
LogId LogOfFacility(int facility) {
    switch (facility) {
    case 4: case 10: case 13: return kSecurity;
    case 1: case 16: case 17: case 18: case 19: case 20: case 21: case 22: case 23: return kApplication;
    default: return kSystem;
    }
}

const char* FacilityName(int f) {
    static const char* const names[] = {"kern", "user", "mail", "daemon", "auth", "syslog", "lpr", "news",
                                        "uucp", "cron", "authpriv", "ftp", "ntp", "security", "console", "clock",
                                        "local0", "local1", "local2", "local3", "local4", "local5", "local6", "local7"};
    return f >= 0 && f < 24 ? names[f] : nullptr;
}

class EntrySource {
public:
    virtual ~EntrySource() = default;
    virtual std::optional<LogEntry> next() = 0;
};

// --- the journal ---

std::vector<std::string> JournalFiles(const Context& ctx) {
    std::vector<std::string> out;
    for (const char* base : {"/var/log/journal", "/run/log/journal"}) {
        auto add = [&](const std::string& dir) {
            for (const auto& f : ctx.fs().listDir(dir)) {
                bool journal = (f.size() > 8 && f.compare(f.size() - 8, 8, ".journal") == 0) ||
                               (f.size() > 9 && f.compare(f.size() - 9, 9, ".journal~") == 0);
                if (!journal) continue;
                // Files this user may not read (the system journal, for one
                // outside its group) would fail the whole set: leave them out.
                std::string path = JoinPath(dir, f);
                if (!ctx.read(path, 1)) continue;
                if (auto host = ctx.fs().hostPath(path)) out.push_back(*host);
            }
        };
        add(base);
        for (const auto& sub : ctx.fs().listDir(base))
            if (ctx.fs().isDirectory(JoinPath(base, sub))) add(JoinPath(base, sub));
    }
    return out;
}

#ifdef KESTRANE_HAVE_SYSTEMD
// libsystemd, with libgcrypt, liblz4, libzstd and liblzma behind it, is
// loaded when a journal is first read rather than at every start of the
// program: most runs never look at the event log.
struct SdJournal {
    decltype(&sd_journal_open_files) open_files;
    decltype(&sd_journal_close) close;
    decltype(&sd_journal_next) next;
    decltype(&sd_journal_restart_data) restart_data;
    decltype(&sd_journal_enumerate_available_data) enumerate_data;
    decltype(&sd_journal_get_realtime_usec) get_realtime_usec;
};

// nullptr where libsystemd is not installed: then there is no journal to read.
const SdJournal* LoadSdJournal() {
    static const SdJournal* const api = []() -> const SdJournal* {
        void* lib = ::dlopen("libsystemd.so.0", RTLD_NOW | RTLD_LOCAL);
        if (!lib) return nullptr;
        static SdJournal f;
        bool ok = true;
        auto get = [&](auto& fn, const char* name) {
            fn = reinterpret_cast<std::remove_reference_t<decltype(fn)>>(::dlsym(lib, name));
            ok = ok && fn;
        };
        get(f.open_files, "sd_journal_open_files");
        get(f.close, "sd_journal_close");
        get(f.next, "sd_journal_next");
        get(f.restart_data, "sd_journal_restart_data");
        get(f.enumerate_data, "sd_journal_enumerate_available_data");
        get(f.get_realtime_usec, "sd_journal_get_realtime_usec");
        return ok ? &f : nullptr;
    }();
    return api;
}

class JournalSource : public EntrySource {
public:
    static std::unique_ptr<JournalSource> Open(const std::vector<std::string>& files) {
        std::vector<const char*> paths;
        paths.reserve(files.size() + 1);
        for (const auto& f : files) paths.push_back(f.c_str());
        paths.push_back(nullptr);
        const SdJournal* sd = LoadSdJournal();
        if (!sd) return nullptr;
        sd_journal* j = nullptr;
        if (sd->open_files(&j, paths.data(), 0) < 0 || !j) return nullptr;
        return std::unique_ptr<JournalSource>(new JournalSource(*sd, j));
    }
    ~JournalSource() override { sd_.close(j_); }

    std::optional<LogEntry> next() override {
        while (true) {
            int r = sd_.next(j_);
            if (r <= 0) return std::nullopt;  // the end, or a file too damaged to go on
            LogEntry e;
            std::optional<std::string> transport, comm, unit, userUnit, pid;
            const void* data;
            size_t len;
            for (sd_.restart_data(j_); sd_.enumerate_data(j_, &data, &len) > 0;) {
                std::string_view f(static_cast<const char*>(data), len);
                std::size_t eq = f.find('=');
                if (eq == std::string_view::npos) continue;
                std::string_view k = f.substr(0, eq), v = f.substr(eq + 1);
                if (k == "MESSAGE") e.message = std::string(v);
                else if (k == "PRIORITY") e.priority = ToInt(v);
                else if (k == "SYSLOG_FACILITY") e.facility = ToInt(v);
                else if (k == "SYSLOG_IDENTIFIER") e.source = std::string(v);
                else if (k == "_COMM") comm = std::string(v);
                else if (k == "_HOSTNAME") e.host = std::string(v);
                else if (k == "_UID") e.uid = ParseUInt(v);
                else if (k == "_TRANSPORT") transport = std::string(v);
                else if (k == "_SYSTEMD_UNIT") unit = std::string(v);
                else if (k == "_SYSTEMD_USER_UNIT") userUnit = std::string(v);
                else if (k == "_PID") pid = std::string(v);
                else if (k == "_SOURCE_REALTIME_TIMESTAMP") {
                    if (auto us = ParseInt(v)) e.generatedUs = *us;
                }
            }
            if (e.source.empty() && comm) e.source = *comm;
            std::uint64_t us = 0;
            if (sd_.get_realtime_usec(j_, &us) >= 0) e.writtenUs = static_cast<std::int64_t>(us);
            if (!e.generatedUs) e.generatedUs = e.writtenUs;
            if (e.facility) {
                e.log = LogOfFacility(*e.facility);
            } else if (transport && (*transport == "kernel" || *transport == "driver")) {
                e.log = kSystem;
            } else if (transport && *transport == "audit") {
                e.log = kSecurity;
            } else if (userUnit || (e.uid && *e.uid >= 1000)) {
                e.log = kApplication;
            } else {
                // systemd itself and the system's services.
                e.log = (pid && *pid == "1") || unit ? kSystem : kApplication;
            }
            return e;
        }
    }

private:
    JournalSource(const SdJournal& sd, sd_journal* j) : sd_(sd), j_(j) {}
    static std::optional<int> ToInt(std::string_view v) {
        auto i = ParseInt(v);
        return i ? std::optional<int>(static_cast<int>(*i)) : std::nullopt;
    }
    const SdJournal& sd_;
    sd_journal* j_;
};
#endif

// --- classic text logs ---

struct TextLog {
    std::string path;
    LogId log;
};

std::vector<TextLog> TextLogs(const Context& ctx) {
    std::vector<TextLog> out;
    auto first = [&](std::initializer_list<const char*> paths, LogId log) {
        for (const char* p : paths)
            if (ctx.fs().exists(p) && !ctx.fs().isDirectory(p)) {
                out.push_back({p, log});
                return;
            }
    };
    // syslog holds every facility but the authentication ones, which go to
    // auth.log; user.log, where configured, holds the applications' own.
    first({"/var/log/syslog", "/var/log/messages"}, kSystem);
    first({"/var/log/user.log"}, kApplication);
    first({"/var/log/auth.log", "/var/log/secure"}, kSecurity);
    return out;
}

constexpr std::size_t kMaxTextLog = 512u << 20;

class TextSource : public EntrySource {
public:
    TextSource(const Context& ctx, std::vector<TextLog> logs) : ctx_(ctx), logs_(std::move(logs)) {}

    std::optional<LogEntry> next() override {
        while (true) {
            if (pos_ >= text_.size()) {
                if (!openNext()) return std::nullopt;
                continue;
            }
            std::size_t nl = text_.find('\n', pos_);
            std::string_view line(text_.data() + pos_, (nl == std::string::npos ? text_.size() : nl) - pos_);
            pos_ = nl == std::string::npos ? text_.size() : nl + 1;
            auto s = ParseSyslogLine(line);
            if (!s) continue;  // not a log line (a continuation, a torn write)
            LogEntry e;
            e.log = current_;
            e.host = s->host;
            e.source = s->tag;
            e.message = s->message;
            int year = s->year;
            if (year == 0) {
                // The traditional stamp has no year: the file's last change
                // gives it, a month later than that one being last year's.
                year = mtimeYear_;
                if (s->month > mtimeMonth_) --year;
            }
            std::int64_t secs = (DaysFromCivil(year, s->month, s->day) * 86400) + s->hour * 3600 + s->minute * 60 + s->second;
            if (s->offsetMinutes) {
                secs -= *s->offsetMinutes * 60;
            } else if (ctx_.fs().isLiveRoot()) {
                // Local time of this computer.
                std::tm tm{};
                tm.tm_year = year - 1900, tm.tm_mon = s->month - 1, tm.tm_mday = s->day;
                tm.tm_hour = s->hour, tm.tm_min = s->minute, tm.tm_sec = s->second, tm.tm_isdst = -1;
                secs = static_cast<std::int64_t>(std::mktime(&tm));
            }
            e.writtenUs = e.generatedUs = secs * 1000000;
            return e;
        }
    }

private:
    bool openNext() {
        while (next_ < logs_.size()) {
            const TextLog& l = logs_[next_++];
            auto t = ctx_.read(l.path, kMaxTextLog);
            if (!t) continue;
            text_ = std::move(*t);
            pos_ = 0;
            current_ = l.log;
            std::time_t m = static_cast<std::time_t>(ctx_.fs().modificationTime(l.path).value_or(0));
            std::tm tm{};
            ::gmtime_r(&m, &tm);
            mtimeYear_ = tm.tm_year + 1900;
            mtimeMonth_ = tm.tm_mon + 1;
            return true;
        }
        return false;
    }

    Context ctx_;
    std::vector<TextLog> logs_;
    std::size_t next_ = 0;
    std::string text_;
    std::size_t pos_ = 0;
    LogId current_ = kSystem;
    int mtimeYear_ = 1970, mtimeMonth_ = 1;
};

// The journal where there is one, else the text logs.
struct Opened {
    std::unique_ptr<EntrySource> source;
    bool journal = false;
    std::string journalDir;
    std::vector<TextLog> textLogs;
};

Opened OpenLogs(const Context& ctx) {
    Opened o;
#ifdef KESTRANE_HAVE_SYSTEMD
    auto files = JournalFiles(ctx);
    if (!files.empty()) {
        o.journal = true;
        o.journalDir = ctx.fs().isDirectory("/var/log/journal") && !ctx.fs().listDir("/var/log/journal").empty()
                           ? "/var/log/journal"
                           : "/run/log/journal";
        o.source = JournalSource::Open(files);
        return o;  // a journal that cannot be opened has no entries to show
    }
#endif
    o.textLogs = TextLogs(ctx);
    o.source = std::make_unique<TextSource>(ctx, o.textLogs);
    return o;
}

std::map<std::uint64_t, std::string> UserNames(const Context& ctx) {
    std::map<std::uint64_t, std::string> out;
    if (auto pw = ctx.read("/etc/passwd"))
        for (const auto& u : ParsePasswd(*pw)) out.emplace(u.uid, u.name);
    return out;
}

std::string UsDmtf(const Context& ctx, std::int64_t us) {
    std::int64_t secs = us >= 0 ? us / 1000000 : -((-us + 999999) / 1000000);
    std::string d = ctx.dmtf(secs);
    char frac[8];
    std::snprintf(frac, sizeof frac, "%06d", static_cast<int>(us - secs * 1000000));
    return d.replace(15, 6, frac);
}

class EventCursor : public InstanceCursor {
public:
    EventCursor(const Context& ctx, SchemaPtr schema) : ctx_(ctx), schema_(std::move(schema)) {
        opened_ = OpenLogs(ctx_);
        users_ = UserNames(ctx_);
        domain_ = ctx_.shortHostName();
    }

    std::optional<Object> next() override {
        if (!opened_.source) return std::nullopt;
        auto e = opened_.source->next();
        if (!e) return std::nullopt;
        std::uint64_t record = ++records_[e->log];
        Row r(schema_);
        r.set("Logfile", kLogNames[e->log]);
        r.setU32("RecordNumber", record);
        if (!e->source.empty()) r.set("SourceName", e->source);
        r.set("Message", e->message);
        if (!e->host.empty()) r.set("ComputerName", e->host);
        if (e->generatedUs) r.set("TimeGenerated", UsDmtf(ctx_, *e->generatedUs));
        if (e->writtenUs) r.set("TimeWritten", UsDmtf(ctx_, *e->writtenUs));
        if (e->priority && *e->priority >= 0 && *e->priority <= 7) {
            // emerg..err are errors, warning a warning, the rest information.
            int type = *e->priority <= 3 ? 1 : *e->priority == 4 ? 2 : 3;
            r.set("EventType", type);
            r.set("Type", type == 1 ? "Error" : type == 2 ? "Warning" : "Information");
        }
        if (e->facility)
            if (const char* f = FacilityName(*e->facility)) {
                r.set("Category", *e->facility);
                r.set("CategoryString", f);
            }
        if (e->uid) {
            auto it = users_.find(*e->uid);
            if (it != users_.end()) r.set("User", AccountCaption(domain_, it->second));
        }
        return r.build();
    }

private:
    Context ctx_;
    SchemaPtr schema_;
    Opened opened_;
    std::map<std::uint64_t, std::string> users_;
    std::optional<std::string> domain_;
    std::uint64_t records_[3] = {0, 0, 0};
};

std::unique_ptr<InstanceCursor> LogEvents(const Context& ctx, const SchemaPtr& schema) {
    return std::make_unique<EventCursor>(ctx, schema);
}

std::unique_ptr<InstanceCursor> LogFiles(const Context& ctx, const SchemaPtr& schema) {
    Opened o = OpenLogs(ctx);
    std::uint64_t counts[3] = {0, 0, 0};
    std::set<std::string> sources[3];
    bool seen[3] = {false, false, false};
    if (o.source)
        while (auto e = o.source->next()) {
            ++counts[e->log];
            if (!e->source.empty()) sources[e->log].insert(e->source);
        }
    std::vector<Object> out;
    auto base = [&](Row& r, LogId log) {
        r.set("LogfileName", kLogNames[log]).set("CreationClassName", "Win32_NTEventlogFile");
        r.set("CSCreationClassName", "Win32_ComputerSystem").set("CSName", ctx.shortHostName());
        r.set("FSCreationClassName", "Win32_FileSystem");
        r.setU32("NumberOfRecords", counts[log]);
        r.setStrings("Sources", std::vector<std::string>(sources[log].begin(), sources[log].end()));
        r.set("Status", "OK");
    };
    if (o.journal) {
        // The journal keeps the three logs interleaved in the same files.
        for (LogId log : {kSystem, kApplication, kSecurity}) {
            Row r(schema);
            base(r, log);
            r.set("Name", kLogNames[log]).set("Caption", kLogNames[log]).set("Description", kLogNames[log]);
            r.set("Path", o.journalDir).set("FileType", "Journal");
            out.push_back(r.build());
        }
        return std::make_unique<VectorCursor>(std::move(out));
    }
    for (const auto& l : o.textLogs) {
        if (seen[l.log]) continue;
        seen[l.log] = true;
        Row r(schema);
        base(r, l.log);
        r.set("Name", l.path).set("Caption", l.path).set("Description", kLogNames[l.log]);
        r.set("FileName", BaseName(l.path)).set("Path", DirName(l.path) + "/").set("FileType", "Text Document");
        std::string name = BaseName(l.path);
        if (std::size_t dot = name.rfind('.'); dot != std::string::npos && dot > 0) r.set("Extension", name.substr(dot + 1));
        if (auto t = ctx.read(l.path, kMaxTextLog)) r.setU64("FileSize", t->size());
        if (auto m = ctx.fs().modificationTime(l.path)) r.set("LastModified", ctx.dmtf(*m));
        out.push_back(r.build());
    }
    return std::make_unique<VectorCursor>(std::move(out));
}

}  // namespace

bool JournalReaderBuiltIn() {
#ifdef KESTRANE_HAVE_SYSTEMD
    return true;
#else
    return false;
#endif
}

void RegisterEventLogClasses(Registry& r) {
    r.add("Win32_NTEventlogFile", LogFiles);
    r.add("Win32_NTLogEvent", LogEvents);
}

}  // namespace wmi::lnx
