#include "cli/fleet_cli.h"

#include <unistd.h>
#if defined(__linux__) && defined(__GLIBC__)
#include <malloc.h>
#include <sys/mman.h>
#endif

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <fstream>
#include <future>
#include <iostream>
#include <map>
#include <optional>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>

#include "backends/backends.h"
#include "cli/text_width.h"
#include "catalogue/catalogue.h"
#include "core/file_error.h"
#include "core/platform.h"
#include "fleet/capture.h"
#include "fleet/diff.h"
#include "fleet/store.h"
#include "format/format.h"
#include "wmi/snapshot/snapshot_detail.h"

namespace kestrane::cli {

namespace {

using Json = nlohmann::ordered_json;

struct FleetUsage : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct FleetOptions {
    std::optional<std::string> store, computer, user, remoteCli, trustCertificate, hosts, className, properties;
    std::optional<int> jobs, keep;
    std::vector<std::string> where, positional;
    bool json = false, csv = false, all = false, passwordStdin = false, acceptNewHostKey = false;
    bool other = false;  // an option of the single-computer commands
};

int Number(const std::string& option, const std::string& text, int lo, int hi) {
    if (text.empty() || text.size() > 6 || !std::all_of(text.begin(), text.end(), ::isdigit) ||
        std::stoi(text) < lo || std::stoi(text) > hi)
        throw FleetUsage(option + " takes a number from " + std::to_string(lo) + " to " + std::to_string(hi));
    return std::stoi(text);
}

FleetOptions ParseFleet(const std::vector<std::string>& args) {
    FleetOptions o;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= args.size()) throw FleetUsage(a + " needs a value");
            return args[++i];
        };
        if (a == "--store") o.store = value();
        else if (a == "--computer") o.computer = value();
        else if (a == "--user") o.user = value();
        else if (a == "--remote-cli") o.remoteCli = value();
        else if (a == "--trust-certificate") o.trustCertificate = value();
        else if (a == "--hosts") o.hosts = value();
        else if (a == "--class") o.className = value();
        else if (a == "--properties") o.properties = value();
        else if (a == "--where") o.where.push_back(value());
        else if (a == "--jobs") o.jobs = Number("--jobs", value(), 1, fleet::kMaxJobs);
        else if (a == "--keep") o.keep = Number("--keep", value(), 1, 1000000);
        else if (a == "--json") o.json = true;
        else if (a == "--csv") o.csv = true;
        else if (a == "--all") o.all = true;
        else if (a == "--password-stdin") o.passwordStdin = true;
        else if (a == "--accept-new-host-key") o.acceptNewHostKey = true;
        else if (a == "--snapshot" || a == "--root" || a == "--level") { o.other = true; if (i + 1 < args.size()) ++i; }
        else if (a.size() > 1 && a[0] == '-') o.other = true;
        else o.positional.push_back(a);
    }
    return o;
}

bool IsFleetCommand(const FleetOptions& o) {
    if (o.positional.empty()) return false;
    const std::string& cmd = o.positional[0];
    if (cmd == "import" || cmd == "computers" || cmd == "report" || cmd == "diff") return true;
    // Without --computer, capture into a store is the fleet's.
    return cmd == "capture" && !o.computer && (o.store || o.hosts || o.jobs);
}

// Text a computer sent, made safe for a terminal: control characters become
// U+FFFD so no escape sequence reaches it.
std::string Safe(std::string s) {
    // Nearly every value is printable ASCII already, which needs no copy.
    if (std::all_of(s.begin(), s.end(), [](char c) { return c >= 0x20 && c < 0x7F; })) return s;
    std::string out;
    for (char c : wmi::snapshot_detail::ValidUtf8(s)) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F) out += "\xEF\xBF\xBD";
        else out += c;
    }
    return out;
}

void PrintTable(const std::vector<std::vector<std::string>>& rows, std::ostream& out) {
    std::vector<std::size_t> w;
    for (const auto& r : rows)
        for (std::size_t c = 0; c < r.size(); ++c) {
            if (w.size() <= c) w.push_back(0);
            w[c] = std::max(w[c], DisplayWidth(r[c]));
        }
    for (const auto& r : rows) {
        std::string line;
        for (std::size_t c = 0; c < r.size(); ++c) {
            line += r[c];
            if (c + 1 < r.size()) line.append(w[c] - DisplayWidth(r[c]) + 2, ' ');
        }
        while (!line.empty() && line.back() == ' ') line.pop_back();
        out << line << '\n';
    }
}

// A table whose rows must all be read before its first line is padded (a
// report of 100 computers' thousand products is three million cells): the
// cells' texts back to back in blocks with their lengths, and the columns'
// widths kept as the rows come. Blocks, not one string, so that growing never
// copies what is held. Every row has as many cells as the first.
class CompactTable {
public:
    explicit CompactTable(std::size_t columns) : widths_(columns, 0) {}

    void add(std::string_view cell) {
        std::size_t& w = widths_[lengths_.size() % widths_.size()];
        w = std::max(w, DisplayWidth(cell));
        if (blocks_.empty() || blocks_.back().capacity() - blocks_.back().size() < cell.size()) {
            blocks_.emplace_back();
            blocks_.back().reserve(std::max(kBlock, cell.size()));
        }
        blocks_.back() += cell;
        // An engine keeps no value of a gigabyte or more.
        lengths_.push_back(static_cast<std::uint32_t>(cell.size()));
    }

    // As PrintTable prints the same rows.
    void print(std::ostream& out) const {
        std::string buf, line;
        auto block = blocks_.begin();
        std::size_t at = 0;
        auto length = lengths_.begin();
        const std::size_t n = widths_.size();
        for (std::size_t k = 0; k < lengths_.size(); k += n) {
            line.clear();
            for (std::size_t c = 0; c < n; ++c) {
                const std::size_t size = *length++;
                if (block->size() - at < size) ++block, at = 0;
                const std::string_view cell(block->data() + at, size);
                at += size;
                line += cell;
                if (c + 1 < n) line.append(widths_[c] - DisplayWidth(cell) + 2, ' ');
            }
            while (!line.empty() && line.back() == ' ') line.pop_back();
            buf += line;
            buf += '\n';
            if (buf.size() >= kBlock) {
                out.write(buf.data(), static_cast<std::streamsize>(buf.size()));
                buf.clear();
            }
        }
        out.write(buf.data(), static_cast<std::streamsize>(buf.size()));
    }

private:
    static constexpr std::size_t kBlock = std::size_t(1) << 20;
    std::vector<std::size_t> widths_;
    std::deque<std::string> blocks_;
    std::deque<std::uint32_t> lengths_;
};

// A CSV cell: quoted when it holds a comma, quote or line break (quotes
// doubled); text that a spreadsheet would take for a formula gets a leading
// apostrophe.
std::string CsvCell(std::string s, bool text) {
    if (text && !s.empty() && std::string_view("=+-@\t\r").find(s[0]) != std::string_view::npos) s.insert(0, "'");
    // Not find_first_of: that calls memchr once for every character.
    if (std::none_of(s.begin(), s.end(), [](char c) { return c == ',' || c == '"' || c == '\r' || c == '\n'; }))
        return s;
    std::string q = "\"";
    for (char c : s) {
        if (c == '"') q += '"';
        q += c;
    }
    return q + '"';
}

// A diff or a report builds tens of megabytes of small values, and taking
// that memory from the kernel a 4 KB page at a time was a third of their
// time. The heap now grows by `pad` at once, in 2 MB pages where the kernel
// gives them only on request, and the loading threads share it.
void UseLargePages(int pad) {
#if defined(__linux__) && defined(__GLIBC__)
    constexpr std::size_t kHuge = std::size_t(2) << 20;
    mallopt(M_ARENA_MAX, 1);
    mallopt(M_MMAP_THRESHOLD, 32 << 20);
    mallopt(M_TRIM_THRESHOLD, 256 << 20);
    mallopt(M_TOP_PAD, pad);
    const auto from = reinterpret_cast<std::uintptr_t>(sbrk(0));
    void* volatile grow = malloc(kHuge);  // grows the heap by the pad now
    free(grow);
    const auto to = reinterpret_cast<std::uintptr_t>(sbrk(0));
    const std::uintptr_t start = (from + kHuge - 1) & ~(kHuge - 1);
    if (to > start) madvise(reinterpret_cast<void*>(start), to - start, MADV_HUGEPAGE);
#else
    (void)pad;
#endif
}

std::unique_ptr<fleet::Store> OpenStore(const FleetOptions& o) {
    return fleet::Store::Open(o.store.value_or(fleet::Store::DefaultPath()));
}

std::string ReadPassword(const FleetOptions& o, std::istream& in) {
    std::string password;
    if (o.passwordStdin) {
        if (!std::getline(in, password)) throw FleetUsage("--password-stdin found no line on standard input");
        if (!password.empty() && password.back() == '\r') password.pop_back();
    } else if (const char* env = std::getenv("KESTRANE_PASSWORD")) {
        password = env;
    }
    UnsetEnvironment("KESTRANE_PASSWORD");
    return password;
}

wmi::Backends RemoteBackends(const FleetOptions& o) {
    auto ssh = std::make_shared<wmi::ssh::Options>();
    if (o.remoteCli) ssh->remoteCli = *o.remoteCli;
    if (o.acceptNewHostKey)
        ssh->unknownHost = [](const wmi::ssh::HostKeyQuestion&) { return wmi::ssh::HostKeyChoice::Remember; };
    ssh->unknownHostAdvice = "Check the fingerprint with the computer's administrator, then run again with "
                             "--accept-new-host-key to record it in " + wmi::ssh::KnownHostsPath() + ".";
    auto wsman = std::make_shared<wmi::wsman::Options>();
    if (o.trustCertificate) {
        auto fp = wmi::wsman::ParseFingerprint(*o.trustCertificate);
        if (!fp) throw FleetUsage("--trust-certificate takes SHA256: and 64 hexadecimal digits");
        wsman->trustedCertificate = *fp;
    }
    wsman->untrustedAdvice = "If that is the computer's certificate, run again with --trust-certificate and that "
                             "fingerprint.";
    return DefaultBackends("/", ssh, wsman);
}

int Import(const FleetOptions& o, std::ostream& out, std::ostream& err) {
    if (o.positional.size() < 2) throw FleetUsage("import takes one or more snapshot files");
    auto store = OpenStore(o);
    int rc = 0;
    for (std::size_t i = 1; i < o.positional.size(); ++i) {
        const std::string& file = o.positional[i];
        try {
            std::ifstream in(file, std::ios::binary);
            if (!in) throw FileError(file, "cannot be opened for reading");
            std::ostringstream text;
            text << in.rdbuf();
            const std::int64_t id = store->addSnapshot(text.str(), file);
            out << "imported " << file << " as capture " << id << '\n';
        } catch (const FileError& e) {
            err << "kestrane-cli: " << e.what() << '\n';
            rc = 4;
        }
    }
    if (o.keep) store->keep(*o.keep);
    return rc;
}

int Computers(const FleetOptions& o, std::ostream& out) {
    auto store = OpenStore(o);
    std::vector<std::vector<std::string>> rows{{"Computer", "Capture", "Started", "Status", "Instances"}};
    for (const auto& c : store->computers()) {
        if (o.json) {
            Json j{{"computer", c.name}, {"capture", c.lastCapture}, {"started", c.started},
                   {"status", c.status}, {"instances", c.instances}};
            out << j.dump(-1, ' ', false, Json::error_handler_t::replace) << '\n';
        } else {
            rows.push_back({Safe(c.name), std::to_string(c.lastCapture), c.started, c.status,
                            std::to_string(c.instances)});
        }
    }
    if (!o.json) PrintTable(rows, out);
    return 0;
}

std::string ValueText(const wmi::PropertyDecl& decl, const Json& json, const std::string& cls) {
    if (json.is_null()) return "";
    wmi::Value v;
    const std::string why = wmi::snapshot_detail::ValueFromJson(json, decl, v);
    if (!why.empty()) return "";
    return fleet::ValueText(wmi::Property(decl, v), cls);
}

int ReportCommand(const FleetOptions& o, std::ostream& out) {
    if (o.positional.size() != 2) throw FleetUsage("report takes one class name");
    if (o.csv && o.json) throw FleetUsage("--csv and --json exclude each other");
    std::vector<fleet::Condition> where;
    for (const auto& w : o.where) {
        auto c = fleet::ParseCondition(w);
        if (!c) throw FleetUsage("--where takes PROPERTY=VALUE, PROPERTY<VALUE or PROPERTY>VALUE, not " + w);
        where.push_back(*c);
    }
    std::vector<std::string> props;
    if (o.properties) {
        std::istringstream in(*o.properties);
        for (std::string p; std::getline(in, p, ',');)
            if (!p.empty()) props.push_back(p);
    }
    // The text table holds every row; CSV and JSON hold one at a time.
    UseLargePages(o.csv || o.json ? 64 << 20 : 256 << 20);
    auto store = OpenStore(o);
    // CSV and JSON go out row by row; the text table needs its widths first.
    fleet::Report rep;
    std::optional<CompactTable> table;
    std::string line;
    auto header = [&](const fleet::Report& r) {
        rep = r;
        if (o.csv) {
            line = "Computer";
            for (const auto& c : rep.columns) line += "," + CsvCell(c.name, true);
            out << line << "\r\n";
        } else if (!o.json) {
            table.emplace(rep.columns.size() + 1);
            table->add("Computer");
            for (const auto& c : rep.columns) table->add(FormatPropertyName(c.name));
        }
    };
    auto row = [&](fleet::ReportRow& row) {
        if (o.json) {
            Json j{{"Computer", row.computer}};
            for (std::size_t c = 0; c < rep.columns.size(); ++c) j[rep.columns[c].name] = std::move(row.values[c]);
            out << j.dump(-1, ' ', false, Json::error_handler_t::replace) << '\n';
        } else if (o.csv) {
            line = CsvCell(row.computer, true);
            for (const Json& j : row.values) {
                line += ',';
                if (j.is_null()) continue;
                line += j.is_string() ? CsvCell(j.get<std::string>(), true)
                                      : CsvCell(j.dump(-1, ' ', false, Json::error_handler_t::replace), !j.is_number());
            }
            out << line << "\r\n";
        } else {
            table->add(Safe(row.computer));
            for (std::size_t c = 0; c < rep.columns.size(); ++c)
                table->add(Safe(ValueText(rep.columns[c], row.values[c], rep.className)));
        }
    };
    store->report(o.positional[1], where, props, header, row);
    if (table) table->print(out);
    return 0;
}

// A side of a diff: a snapshot file, a stored NAME[@WHEN], or a live computer.
std::shared_ptr<wmi::Provider> OpenSide(const FleetOptions& o, const std::string& name, const std::string& password,
                                        std::vector<std::string>* classes) {
    if (NamesSnapshotFile(name)) {
        auto snap = wmi::LoadSnapshot(name);
        for (const auto& c : snap->classNames()) classes->push_back(c);
        return snap;
    }
    if (o.store) {
        auto store = OpenStore(o);
        const std::string bare = name.substr(0, name.rfind('@') == std::string::npos ? name.size() : name.rfind('@'));
        bool known = false;
        for (const auto& c : store->computers()) known = known || c.name == name || c.name == bare;
        if (known) {
            auto snap = store->open(store->resolve(name).id);
            for (const auto& c : snap->classNames()) classes->push_back(c);
            return snap;
        }
    }
    for (const auto& c : SnapshotClassNames()) classes->push_back(c);
    return RemoteBackends(o).remote(name, o.user.value_or(""), password);
}

int DiffCommand(const FleetOptions& o, std::istream& in, std::ostream& out) {
    if (o.positional.size() != 3) throw FleetUsage("diff takes two computers: snapshot files, stored NAME[@WHEN] or live");
    const std::string password = ReadPassword(o, in);
    UseLargePages(64 << 20);
    std::vector<std::string> names, namesOfB;
    // Two snapshot files load side by side: each is a parse of megabytes.
    // Other sides may ask about a host key, so they open one after the other.
    std::future<std::shared_ptr<wmi::Provider>> loadingB;
    if (NamesSnapshotFile(o.positional[1]) && NamesSnapshotFile(o.positional[2]))
        loadingB = std::async(std::launch::async, [&] { return OpenSide(o, o.positional[2], password, &namesOfB); });
    auto a = OpenSide(o, o.positional[1], password, &names);
    auto b = loadingB.valid() ? loadingB.get() : OpenSide(o, o.positional[2], password, &namesOfB);
    names.insert(names.end(), namesOfB.begin(), namesOfB.end());
    std::vector<std::string> classes;
    std::set<std::string> seen;
    if (o.className) names = {*o.className};
    for (const auto& n : names) {
        std::string lower = n;
        std::transform(lower.begin(), lower.end(), lower.begin(), ::tolower);
        if (seen.insert(lower).second) classes.push_back(n);
    }
    fleet::DiffOptions options;
    options.all = o.all;
    const auto diffs = fleet::Diff(*a, *b, classes, options);
    static const char* const kKind[] = {"added", "removed", "changed"};
    // The text goes out through one buffer, each instance's properties
    // padded as PrintTable pads them: a diff is thousands of lines.
    std::string text;
    auto flush = [&] {
        out.write(text.data(), static_cast<std::streamsize>(text.size()));
        text.clear();
    };
    for (const auto& c : diffs) {
        if (!o.json) text += c.className + '\n';
        for (const auto& d : c.instances) {
            if (o.json) {
                Json props = Json::object();
                for (const auto& p : d.properties) {
                    if (d.kind == fleet::InstanceDiff::Changed) props[p.name] = {{"old", p.before}, {"new", p.after}};
                    else props[p.name] = d.kind == fleet::InstanceDiff::Added ? p.after : p.before;
                }
                Json j{{"class", c.className}, {"change", kKind[d.kind]}, {"key", d.key}, {"properties", props}};
                out << j.dump(-1, ' ', false, Json::error_handler_t::replace) << '\n';
                continue;
            }
            text += d.kind == fleet::InstanceDiff::Added ? "  + " : d.kind == fleet::InstanceDiff::Removed ? "  - " : "  ~ ";
            text += Safe(d.key);
            text += '\n';
            std::size_t width = 0;
            for (const auto& p : d.properties) width = std::max(width, DisplayWidth(p.name));
            for (const auto& p : d.properties) {
                const std::size_t start = text.size();
                text += "     ";
                text += p.name;
                text.append(width - DisplayWidth(p.name) + 2, ' ');
                if (d.kind == fleet::InstanceDiff::Changed) {
                    text += Safe(p.before);
                    text += " -> ";
                    text += Safe(p.after);
                } else {
                    text += Safe(d.kind == fleet::InstanceDiff::Added ? p.after : p.before);
                }
                while (text.size() > start && text.back() == ' ') text.pop_back();
                text += '\n';
            }
            if (text.size() >= (1u << 16)) flush();
        }
    }
    flush();
    return 0;
}

std::atomic<bool> gInterrupted{false};
extern "C" void OnInterrupt(int) { gInterrupted = true; }

int FleetCapture(const FleetOptions& o, std::istream& in, std::ostream& out, std::ostream& err) {
    std::vector<fleet::Target> targets;
    if (o.hosts) targets = fleet::ReadHostsFile(*o.hosts);
    for (std::size_t i = 1; i < o.positional.size(); ++i) targets.push_back({o.positional[i], ""});
    if (targets.empty()) throw FleetUsage("capture takes computers, or --hosts FILE");
    auto store = OpenStore(o);
    fleet::FleetCaptureOptions options;
    options.jobs = o.jobs.value_or(fleet::kDefaultJobs);
    options.user = o.user.value_or("");
    options.password = ReadPassword(o, in);
    const wmi::Backends backends = RemoteBackends(o);
    options.connect = [&backends](const std::string& name, const std::string& user, const std::string& password) {
        return backends.remote(name, user, password);
    };
    options.classes = SnapshotClassNames();
    gInterrupted = false;
    options.cancel = &gInterrupted;
    const bool terminal = &err == &std::cerr && isatty(2);
    if (terminal)
        options.progress = [&err](const fleet::FleetProgress& p) {
            char buf[96];
            std::snprintf(buf, sizeof buf, "%zu/%zu done, %zu failed, %.1f/s", p.done, p.total, p.failed, p.perSecond);
            std::string line = buf;
            if (!p.slowest.empty())
                line += ", slowest " + Safe(p.slowest) + " (" + std::to_string(static_cast<int>(p.slowestSeconds)) + " s)";
            err << "\r\x1b[K" << line << std::flush;
        };
    auto previous = std::signal(SIGINT, OnInterrupt);
    const auto results = fleet::CaptureFleet(*store, targets, options);
    std::signal(SIGINT, previous);
    if (terminal) err << "\r\x1b[K" << std::flush;
    if (o.keep) store->keep(*o.keep);
    std::vector<std::vector<std::string>> rows{{"Computer", "Status", "Instances", "Seconds", "Error"}};
    bool allComplete = true;
    for (const auto& r : results) {
        char secs[32];
        std::snprintf(secs, sizeof secs, "%.1f", r.seconds);
        rows.push_back({Safe(r.computer), r.status, std::to_string(r.instances), secs,
                        Safe(r.errorText)});
        allComplete = allComplete && r.status == "complete";
    }
    PrintTable(rows, out);
    return allComplete ? 0 : 4;
}

}  // namespace

std::shared_ptr<wmi::SnapshotProvider> OpenStoredComputer(const std::string& storeSpec, const std::string& nameAtWhen) {
    auto store = fleet::Store::Open(storeSpec);
    return store->open(store->resolve(nameAtWhen).id);
}

bool RunFleet(const std::vector<std::string>& args, std::istream& in, std::ostream& out, std::ostream& err, int& rc) {
    FleetOptions o;
    try {
        o = ParseFleet(args);
    } catch (const FleetUsage&) {
        return false;  // the ordinary parser says what is wrong
    }
    if (!IsFleetCommand(o)) return false;
    try {
        const std::string& cmd = o.positional[0];
        if (o.other) throw FleetUsage(cmd + " takes none of --snapshot, --root, --level, --horizontal");
        if (cmd == "import") rc = Import(o, out, err);
        else if (cmd == "computers") rc = Computers(o, out);
        else if (cmd == "report") rc = ReportCommand(o, out);
        else if (cmd == "diff") rc = DiffCommand(o, in, out);
        else rc = FleetCapture(o, in, out, err);
    } catch (const FleetUsage& e) {
        err << "kestrane-cli: " << e.what() << "\n";
        rc = 2;
    } catch (const fleet::StoreError& e) {
        err << "kestrane-cli: " << e.what() << '\n';
        rc = 4;
    } catch (const FileError& e) {
        err << "kestrane-cli: " << e.what() << '\n';
        rc = 4;
    } catch (const wmi::Error& e) {
        err << e.displayText() << '\n';
        rc = 3;
    }
    return true;
}

}  // namespace kestrane::cli
