#include "cli/cli.h"
#include "cli/text_listing.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <iostream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "backends/backends.h"
#ifndef _WIN32
#include "cli/fleet_cli.h"
#include "cli/serve.h"
#include "fleet/database.h"
#endif
#include "catalogue/catalogue.h"
#include "core/file_error.h"
#include "core/platform.h"
#include "core/utf8.h"
#include "core/version.h"
#include "export/html_export.h"
#include "listing/listing.h"
#include "wmi/connection.h"
#include "wmi/snapshot/snapshot.h"

namespace kestrane::cli {

namespace {

constexpr const char* kUsage =
#ifdef _WIN32
    "usage: kestrane-cli [--snapshot FILE | --computer NAME [LOGIN]] [--json]\n"
#else
    "usage: kestrane-cli [--snapshot FILE | --root DIR | --computer NAME [LOGIN]] [--json]\n"
#endif
    "                    COMMAND [ARGS]\n"
    "\n"
    "Commands:\n"
    "  summary                  the computer's one-page summary\n"
    "  list CLASS [--horizontal]\n"
    "                           every instance of a class, one block per instance\n"
    "                           (or one row per instance with --horizontal)\n"
    "  tree [--level N]         the category tree, one node per line (N: 1 to 3,\n"
    "                           default 3)\n"
    "  export NODE_KEY FILE [--horizontal]\n"
    "                           appends to FILE what File > Export writes after\n"
    "                           selecting that node\n"
    "  capture FILE             records every catalogue class the computer answers\n"
    "                           into a snapshot file\n"
    "  coverage                 one line per catalogue class: the instance count or\n"
    "                           the error number\n"
#ifndef _WIN32
    "  serve                    answers another computer's Kestrane on standard\n"
    "                           input and output (it runs this over SSH)\n"
    "\n"
    "Commands for many computers, kept in a store (--store FILE or\n"
    "postgresql://[USER@]HOST[:PORT]/DATABASE; default a SQLite file in\n"
    "$XDG_DATA_HOME/kestrane):\n"
    "  capture [--hosts FILE] [--jobs N] [--keep N] [COMPUTER...]\n"
    "                           with --store, --hosts or --jobs: captures each\n"
    "                           computer into the store, N at a time\n"
    "  import FILE...           stores snapshot files as captures\n"
    "  computers [--json]       each stored computer with its last capture\n"
    "  report CLASS [--where P=V|P<V|P>V]... [--properties A,B...] [--csv | --json]\n"
    "                           the class's instances on every computer\n"
    "  diff BEFORE AFTER [--class CLASS] [--all] [--json]\n"
    "                           what changed between two computers or captures:\n"
    "                           snapshot files, stored NAME[@WHEN] or live names\n"
    "  (kestrane-cli(1) tells more; --store with --computer NAME[@WHEN] browses a\n"
    "  stored capture like a snapshot)\n"
#endif
    "\n"
#ifdef _WIN32
    "Options:\n"
    "  --snapshot FILE          inspect the computer recorded in a snapshot file\n"
    "  --computer NAME          inspect another Windows computer through WMI (DCOM)\n"
    "  --json                   one JSON object per line instead of aligned text\n"
    "  --help                   this text\n"
    "\n"
    "Login (with --computer):\n"
    "  --user NAME              the user to log in as: DOMAIN\\user or user@domain\n"
    "                           (default: your own logon)\n"
    "  --password-stdin         read the password from the first line of standard\n"
    "                           input; KESTRANE_PASSWORD in the environment does the\n"
    "                           same\n"
    "\n"
    "Without --snapshot or --computer the local computer is inspected.\n"
    "Exit status: 0 success, 2 bad usage, 3 WMI error (number:description on\n"
    "standard error), 4 a file that cannot be read, parsed or written.\n";
#else
    "Options:\n"
    "  --snapshot FILE          inspect the computer recorded in a snapshot file\n"
    "  --root DIR               inspect the Linux system whose files lie under DIR\n"
    "  --computer NAME          inspect a remote computer: a Windows computer over\n"
    "                           WS-Management, http(s)://HOST[:PORT]/wsman; a Linux\n"
    "                           computer over SSH, ssh://[USER@]HOST[:PORT]; or a bare\n"
    "                           name or address (WS-Management on 5985, then SSH)\n"
    "  --json                   one JSON object per line instead of aligned text\n"
    "  --help                   this text\n"
    "\n"
    "Login (with --computer):\n"
    "  --user NAME              the user to log in as: user, DOMAIN\\user or\n"
    "                           user@domain (a user in ssh://USER@HOST wins; default\n"
    "                           for SSH: your own user name)\n"
    "  --password-stdin         read the password from the first line of standard\n"
    "                           input; KESTRANE_PASSWORD in the environment does the\n"
    "                           same. Without a password the SSH agent and the keys\n"
    "                           ~/.ssh/id_ed25519, id_ecdsa and id_rsa are used (SSH),\n"
    "                           or your Kerberos ticket (WS-Management).\n"
    "  --accept-new-host-key    record an unknown host key in ~/.ssh/known_hosts\n"
    "                           (otherwise an unknown key is refused; a changed key\n"
    "                           is always refused)\n"
    "  --remote-cli PATH        the kestrane-cli to run there over SSH (default:\n"
    "                           kestrane-cli in the login's PATH)\n"
    "  --trust-certificate SHA256:HEX\n"
    "                           accept the HTTPS certificate with this fingerprint\n"
    "                           although the system does not trust it\n"
    "\n"
    "Without --snapshot, --root or --computer the local computer is inspected.\n"
    "Exit status: 0 success, 2 bad usage, 3 WMI error (number:description on\n"
    "standard error), 4 a file that cannot be read, parsed or written.\n";
#endif

struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct Options {
    std::optional<std::string> snapshot, root, computer, user, remoteCli, trustCertificate, store;
    bool json = false, horizontal = false, passwordStdin = false, acceptNewHostKey = false;
    std::optional<int> level;
    std::vector<std::string> positional;
};

Options Parse(const std::vector<std::string>& args) {
    Options o;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&](const char* name) {
            if (i + 1 >= args.size()) throw UsageError(std::string(name) + " needs a value");
            return args[++i];
        };
        if (a == "--snapshot") {
            o.snapshot = value("--snapshot");
        } else if (a == "--store") {
            o.store = value("--store");
        } else if (a == "--root") {
            o.root = value("--root");
        } else if (a == "--computer") {
            o.computer = value("--computer");
        } else if (a == "--user") {
            o.user = value("--user");
        } else if (a == "--remote-cli") {
            o.remoteCli = value("--remote-cli");
        } else if (a == "--trust-certificate") {
            o.trustCertificate = value("--trust-certificate");
#ifndef _WIN32
            if (!wmi::wsman::ParseFingerprint(*o.trustCertificate))
                throw UsageError("--trust-certificate takes SHA256: and 64 hexadecimal digits");
#endif
        } else if (a == "--password-stdin") {
            o.passwordStdin = true;
        } else if (a == "--accept-new-host-key") {
            o.acceptNewHostKey = true;
        } else if (a == "--password") {
            throw UsageError("a password is never taken from the command line (other users can read it there): "
                             "use --password-stdin or KESTRANE_PASSWORD");
        } else if (a == "--json") {
            o.json = true;
        } else if (a == "--horizontal") {
            o.horizontal = true;
        } else if (a == "--level") {
            std::string v = value("--level");
            if (v != "1" && v != "2" && v != "3") throw UsageError("--level takes 1, 2 or 3");
            o.level = v[0] - '0';
        } else if (a.size() > 1 && a[0] == '-' && a != "-") {
            throw UsageError("unknown option " + a);
        } else {
            o.positional.push_back(a);
        }
    }
    if ((o.snapshot ? 1 : 0) + (o.root ? 1 : 0) + (o.computer ? 1 : 0) > 1)
        throw UsageError("--snapshot, --root and --computer exclude each other");
    if (!o.computer && (o.user || o.remoteCli || o.passwordStdin || o.acceptNewHostKey || o.trustCertificate))
        throw UsageError(
            "--user, --password-stdin, --accept-new-host-key, --remote-cli and --trust-certificate go with --computer");
    if (o.store && (!o.computer || o.user || o.passwordStdin || o.acceptNewHostKey || o.remoteCli ||
                    o.trustCertificate))
        throw UsageError("--store goes with --computer NAME[@WHEN] and no login, or with import, computers, "
                         "report, diff or capture");
#ifdef _WIN32
    if (o.store) throw UsageError("the Windows build has no store");
    // Windows reaches every computer through WMI itself (DCOM).
    if (o.root) throw UsageError("--root reads a Linux system's files, which the Windows build cannot");
    if (o.remoteCli || o.acceptNewHostKey || o.trustCertificate)
        throw UsageError("--accept-new-host-key, --remote-cli and --trust-certificate belong to SSH and "
                         "WS-Management, which the Windows build leaves out");
#endif
    return o;
}

// Whether text is well-formed UTF-8 (RFC 3629: no overlong forms, no
// surrogates, nothing past U+10FFFF) without control characters, quotes or
// backslashes: what nlohmann's dump copies unchanged.
bool CopiesUnchanged(const std::string& s) {
    const auto* p = reinterpret_cast<const unsigned char*>(s.data());
    const auto* end = p + s.size();
    while (p < end) {
        const unsigned c = *p;
        if (c < 0x80) {
            if (c < 0x20 || c == '"' || c == '\\') return false;
            ++p;
            continue;
        }
        const std::size_t n = Utf8Length(p, end);
        if (n == 0) return false;
        p += n;
    }
    return true;
}

// A string as nlohmann's dump writes it (UTF-8 kept, invalid bytes
// replaced): nearly every value is copied as it is; the rest goes through
// the library.
void AppendJsonText(std::string& line, const std::string& s) {
    if (CopiesUnchanged(s)) {
        line += '"';
        line += s;
        line += '"';
    } else {
        line += nlohmann::json(s).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    }
}

// One JSON line per row, written directly: building a JSON object per row
// cost more than listing it.
void PrintJsonRows(const ListModel& list, std::ostream& out) {
    std::string line;
    for (const auto& r : list.rows()) {
        line.assign("{\"key\":");
        AppendJsonText(line, r.key);
        line += ",\"text\":";
        AppendJsonText(line, r.text);
        line += ",\"icon\":";
        AppendJsonText(line, r.icon);
        line += ",\"sub\":[";
        for (std::size_t i = 0; i < r.sub.size(); ++i) {
            if (i) line += ',';
            AppendJsonText(line, r.sub[i]);
        }
        line += r.bold ? "],\"bold\":true" : "],\"bold\":false";
        line += r.subBold ? ",\"subBold\":true}\n" : ",\"subBold\":false}\n";
        out.write(line.data(), static_cast<std::streamsize>(line.size()));
    }
}

void PrintJsonColumns(const ListModel& list, std::ostream& out) {
    nlohmann::json cols = nlohmann::json::array();
    for (const auto& c : list.columns()) cols.push_back(c.caption);
    out << nlohmann::json{{"columns", cols}}.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
}

void PrintJson(const ListModel& list, bool horizontal, std::ostream& out) {
    if (horizontal) PrintJsonColumns(list, out);
    PrintJsonRows(list, out);
}

struct Session {
    Options opt;
    wmi::Backends backends;
    AppState state;
    std::shared_ptr<wmi::SnapshotProvider> snapshot;

    Session(Options o, std::string password) : opt(std::move(o)) {
#ifndef _WIN32
        if (opt.store) {
            snapshot = OpenStoredComputer(*opt.store, *opt.computer);
            auto snap = snapshot;
            backends.local = [snap] { return snap; };
            state.gbytLevel = 3;
            return;
        }
#endif
        if (opt.computer) {
#ifdef _WIN32
            backends = DefaultBackends();
#else
            auto ssh = std::make_shared<wmi::ssh::Options>();
            if (opt.remoteCli) ssh->remoteCli = *opt.remoteCli;
            if (opt.acceptNewHostKey)
                ssh->unknownHost = [](const wmi::ssh::HostKeyQuestion&) { return wmi::ssh::HostKeyChoice::Remember; };
            ssh->unknownHostAdvice = "Check the fingerprint with the computer's administrator, then run again with "
                                     "--accept-new-host-key to record it in " + wmi::ssh::KnownHostsPath() + ".";
            auto wsman = std::make_shared<wmi::wsman::Options>();
            if (opt.trustCertificate) wsman->trustedCertificate = *wmi::wsman::ParseFingerprint(*opt.trustCertificate);
            wsman->untrustedAdvice = "If that is the computer's certificate, run again with --trust-certificate "
                                     "and that fingerprint.";
            backends = DefaultBackends("/", ssh, wsman);
#endif
            state.gstrComputer = *opt.computer;
            state.gstrUserName = opt.user.value_or("");
            state.gstrPassword = std::move(password);
        } else if (opt.snapshot) {
            snapshot = wmi::LoadSnapshot(*opt.snapshot);
            auto snap = snapshot;
            backends.local = [snap] { return snap; };
        } else {
            if (opt.root) {
                std::error_code ec;
                if (!std::filesystem::is_directory(*opt.root, ec))
                    throw FileError(*opt.root, "not a directory that can be read");
            }
            backends = DefaultBackends(opt.root.value_or("/"));
        }
        state.gbytLevel = 3;
    }

    // The provider the latest listing read from, asked afterwards why
    // values are missing.
    mutable std::shared_ptr<wmi::Provider> lastProvider;

    ServicesFactory services() const {
        return [this] {
            wmi::Services services = wmi::GetWMIServices(state, backends);
            lastProvider = services.provider();
            return services;
        };
    }

    std::string computerName(const wmi::Provider* provider = nullptr) const {
        if (snapshot) return snapshot->computer();
        if (provider && !provider->computerName().empty()) return provider->computerName();
        if (opt.computer) return *opt.computer;
        // A tree under --root is another computer: its host name, or the
        // directory when it records none.
        if (opt.root) return RootComputerName(*opt.root);
        return GetLocalComputerName();
    }
};


// Fills the list as selecting the node would. Returns the node's text.
// `flush`, where given, is handed the list between instances, to print rows
// and drop them, so a million instances need not be held.
std::string Select(Session& s, const std::string& key, ListModel& list,
                   const std::function<void(ListModel&)>& flush = {}) {
    HeadlessHost host;
    host.selectedKey = key;
    if (flush) host.onInstance = [&](long) { flush(list); };
    ListingNode node{key, key, ""};
    if (const CatalogueEntry* e = FindCatalogueEntry(key)) node = {e->key, e->text, e->image};
    switch (ClassifyNodeKey(key)) {
    case NodeKind::Root:
        node.text = s.computerName();
        ShowRootSummary(list, host, s.services());
        break;
    case NodeKind::Category: {
        TreeModel tree;
        BuildCategoryTree(tree, s.state);
        int n = tree.find(key);
        if (n < 0) throw UsageError("no node has the key \"" + key + "\"");
        for (int c : tree.node(n).children) {
            const TreeNode& ch = tree.node(c);
            list.addRow(ch.key, ch.text, ch.image);
        }
        break;
    }
    case NodeKind::Class:
        break;
    }
    if (s.opt.horizontal)
        List_Items_Horizontally(node, list, host, s.services());
    else
        List_Items_Vertically(node, list, host, s.services());
    return node.text;
}

// Why values of the listed class are missing, as "note: ..." lines on
// standard error, apart from the rows on standard output.
void PrintReasons(const Session& s, const std::string& key, std::ostream& err) {
    if (!IsClassKey(key) || !s.lastProvider) return;
    for (const std::string& reason : s.lastProvider->reasons(key)) err << "note: " << reason << '\n';
}

void PrintList(const Session& s, const ListModel& list, bool horizontal, std::ostream& out) {
    if (s.opt.json)
        PrintJson(list, horizontal, out);
    else
        TextListing(out, horizontal).finish(list);
}

int Tree(const Options& opt, std::ostream& out) {
    AppState st;
    st.gstrComputer = "";
    st.gbytLevel = static_cast<std::uint8_t>(opt.level.value_or(3));
    TreeModel tree;
    BuildCategoryTree(tree, st);
    for (int i : tree.preorder()) {
        const TreeNode& n = tree.node(i);
        int d = tree.depth(i);
        if (opt.json) {
            nlohmann::ordered_json j;
            j["key"] = n.key;
            j["text"] = n.text;
            j["image"] = n.image;
            j["parent"] = n.parent < 0 ? nlohmann::ordered_json(nullptr) : nlohmann::ordered_json(tree.node(n.parent).key);
            j["depth"] = d;
            out << j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
        } else {
            out << std::string(static_cast<std::size_t>(d) * 2, ' ') << n.text << '\n';
        }
    }
    return 0;
}

// A class name as WMI matches it, ignoring letter case: the catalogue's
// spelling where it has the class, else as given.
std::string CanonicalClassKey(const std::string& key) {
    if (IsClassKey(key)) return key;
    for (const auto& e : Catalogue())
        if (IsClassKey(e.key) && wmi::ToLowerAscii(e.key) == wmi::ToLowerAscii(key)) return e.key;
    const std::string lower = wmi::ToLowerAscii(key);
    if (lower.rfind("win32_", 0) == 0) return "Win32_" + key.substr(6);
    if (lower.rfind("cim_", 0) == 0) return "CIM_" + key.substr(4);
    return key;
}

std::vector<std::string> CatalogueClasses() {
    std::vector<std::string> out;
    for (const auto& e : Catalogue())
        if (IsClassKey(e.key)) out.emplace_back(e.key);
    return out;
}

std::string Hex(std::uint32_t n) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%08X", n);
    return buf;
}

int Coverage(Session& s, std::ostream& out) {
    wmi::Services services = s.services()();
    for (const std::string& key : CatalogueClasses()) {
        std::string result;
        try {
            wmi::ObjectSet set = services.ExecQuery("SELECT * FROM " + key);
            long count = 0;
            while (set.Next()) ++count;
            result = std::to_string(count);
        } catch (const wmi::Error& e) {
            result = Hex(e.unsignedNumber());
        }
        if (s.opt.json) {
            nlohmann::ordered_json j;
            j["class"] = key;
            j["result"] = result;
            out << j.dump() << '\n';
        } else {
            out << key << '\t' << result << '\n';
        }
    }
    return 0;
}

int Capture(Session& s, const std::string& file, std::ostream& out) {
    wmi::Services services = s.services()();
    const std::vector<std::string> classes = SnapshotClassNames();
    auto res = wmi::CaptureSnapshot(file, *services.provider(), classes, s.computerName(services.provider().get()),
                                    wmi::DmtfNowUtc());
    out << "recorded " << res.recorded.size() << " classes, " << res.skipped.size()
        << " not answered, into " << file << '\n';
    return 0;
}


// The password from the environment or standard input, never from an
// argument, which other users can read in the process list.
std::string ReadPassword(const Options& opt, std::istream& in) {
    std::string password;
    if (opt.passwordStdin) {
        if (!std::getline(in, password)) throw UsageError("--password-stdin found no line on standard input");
        if (!password.empty() && password.back() == '\r') password.pop_back();
    } else if (const char* env = std::getenv("KESTRANE_PASSWORD")) {
        password = env;
    }
    // Programs started later need not see it.
    UnsetEnvironment("KESTRANE_PASSWORD");
    return password;
}

}  // namespace

int Run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    std::istringstream none;
    return Run(args, none, out, err);
}

int Run(const std::vector<std::string>& args, std::istream& in, std::ostream& out, std::ostream& err) {
    std::string listedClass;  // named after an "Invalid class" error
    try {
        if (std::find(args.begin(), args.end(), "--help") != args.end() ||
            std::find(args.begin(), args.end(), "-h") != args.end()) {
            out << kUsage;
            return 0;
        }
        if (args.size() == 1 && args[0] == "--version") {
            out << "kestrane-cli " << kVersionMajor << '.' << kVersionMinor << '.' << kVersionRevision << '\n';
            return 0;
        }
#ifndef _WIN32
        if (int rc = 0; RunFleet(args, in, out, err, rc)) return rc;
#endif
        Options opt = Parse(args);
        if (opt.positional.size() > 1 && (opt.positional[0] == "list" || opt.positional[0] == "export"))
            opt.positional[1] = listedClass = CanonicalClassKey(opt.positional[1]);
        if (opt.positional.empty()) throw UsageError("no command given");
        const std::string cmd = opt.positional[0];
        const std::size_t nargs = opt.positional.size() - 1;
        auto need = [&](std::size_t n) {
            if (nargs != n) throw UsageError(cmd + " takes " + std::to_string(n) + " argument(s)");
        };
        if (cmd == "tree") {
            need(0);
            if (opt.snapshot || opt.root) throw UsageError("tree inspects no computer");
            return Tree(opt, out);
        }
        if (cmd != "summary" && cmd != "list" && cmd != "export" && cmd != "capture" && cmd != "coverage" &&
            cmd != "serve")
            throw UsageError("unknown command " + cmd);
        if (opt.level) throw UsageError("--level goes with tree");
        if (cmd == "serve" && opt.computer) throw UsageError("serve answers for this computer, not for --computer");
        Session s(opt, opt.computer && !opt.store ? ReadPassword(opt, in) : std::string());
        if (cmd == "serve") {
            need(0);
#ifdef _WIN32
            throw UsageError("serve answers SSH sessions, which the Windows build leaves out");
#else
            wmi::Services services = s.services()();
            return Serve(0, 1, *services.provider(), s.computerName());
#endif
        }
        if (cmd == "summary") {
            need(0);
            ListModel list;
            Select(s, kRootKey, list);
            PrintList(s, list, false, out);
        } else if (cmd == "list") {
            need(1);
            if (!IsClassKey(opt.positional[1]))
                throw UsageError("list takes a class name beginning with Win32_ or CIM_");
            ListModel list;
            // A recorded computer cannot fail in the middle of a class (the
            // file was checked whole at load), so its rows can go out as they
            // come without leaving half a listing before an error.
            if (!s.snapshot && s.opt.json) {
                Select(s, opt.positional[1], list);
                PrintList(s, list, opt.horizontal, out);
            } else if (s.opt.json) {
                bool columnsOut = !opt.horizontal;
                auto flush = [&](ListModel& l) {
                    // Horizontally, the columns are known once the first row is there.
                    if (!columnsOut && l.rowCount() == 0) return;
                    if (!columnsOut) PrintJsonColumns(l, out);
                    columnsOut = true;
                    PrintJsonRows(l, out);
                    l.clearRows();
                };
                Select(s, opt.positional[1], list, flush);
                flush(list);
                if (!columnsOut) PrintJsonColumns(list, out);
            } else {
                // A live class is held whole (packed) and printed at the end.
                TextListing text(out, opt.horizontal, s.snapshot ? TextListing::kHeldRows : TextListing::kHoldAll);
                Select(s, opt.positional[1], list, [&](ListModel& l) { text.take(l); });
                text.finish(list);
            }
            PrintReasons(s, opt.positional[1], err);
        } else if (cmd == "export") {
            need(2);
            ListModel list;
            std::string text = Select(s, opt.positional[1], list);
            SaveToFile(text, list, opt.positional[2]);
            PrintReasons(s, opt.positional[1], err);
        } else if (cmd == "capture") {
            need(1);
            return Capture(s, opt.positional[1], out);
        } else {
            need(0);
            return Coverage(s, out);
        }
        return 0;
    } catch (const UsageError& e) {
        err << "kestrane-cli: " << e.what() << " (try --help)\n";
        return 2;
    } catch (const wmi::Error& e) {
        err << e.displayText();
        if (static_cast<std::uint32_t>(e.number()) == 0x80041010u && IsClassKey(listedClass)) err << ": " << listedClass;
        err << '\n';
        return 3;
    } catch (const FileError& e) {
        err << "kestrane-cli: " << e.what() << '\n';
        return 4;
#ifndef _WIN32
    } catch (const fleet::StoreError& e) {
        err << "kestrane-cli: " << e.what() << '\n';
        return 4;
#endif
    } catch (const std::exception& e) {
        err << "kestrane-cli: " << e.what() << '\n';
        return 1;
    }
}

int Main(int argc, char** argv) try {
    std::vector<std::string> args = CommandLineArguments(argc, argv);
    if (!args.empty()) args.erase(args.begin());
    UseUtf8Console();
    std::ios::sync_with_stdio(false);
    int rc = Run(args, std::cin, std::cout, std::cerr);
    CloseAllRemoteSessions();
    std::cout.flush();
    if (!std::cout) {
        std::cerr << "kestrane-cli: cannot write to standard output\n";
        return rc == 0 ? 4 : rc;
    }
    return rc;
} catch (const std::exception& e) {
    std::cerr << "kestrane-cli: " << e.what() << '\n';
    return 1;
} catch (...) {
    std::cerr << "kestrane-cli: stopped by an unknown error\n";
    return 1;
}

}  // namespace kestrane::cli
