// The SSH back-end against a real OpenSSH server on 127.0.0.1, running this
// build's kestrane-cli serve on the other side.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "backends/backends.h"
#include "catalogue/catalogue.h"
#include "listing/listing.h"
#include "support/listing_text.h"
#include "support/sshd_harness.h"
#include "support/tcp_forwarder.h"
#include "ssh/sshd_suite.h"
#include "wmi/connection.h"
#include "wmi/linux/linux_provider.h"
#include "wmi/snapshot/snapshot.h"
#include "wmi/ssh/ssh_client.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using kestrane::testing::RunProcess;
using kestrane::testing::SshServer;
using kestrane::testing::TcpForwarder;
namespace ssh = wmi::ssh;

namespace {

const std::string kSample = std::string(KESTRANE_FIXTURES) + "/snapshots/sample.json";

class SshTest : public kestrane::testing::SshdSuite<SshTest> {
public:
    static constexpr const char* kConfig = "";

protected:
    static void SetUpTestSuite() {
        SshdSuite::SetUpTestSuite();
        if (server_) BigSnapshot(scratch_ / "big.json", 60000, 300);
    }
    void SetUp() override {
        SshdSuite::SetUp();
        if (server_) fs::remove(KnownHosts());
    }

    static std::string KnownHosts() { return server_->clientHome() + "/.ssh/known_hosts"; }
    static std::string Url(int port, const std::string& user = "") {
        return "ssh://" + (user.empty() ? server_->currentUser() : user) + "@127.0.0.1:" + std::to_string(port);
    }

    // A remote program that serves a snapshot instead of the live computer.
    static std::string ServingSnapshot(const std::string& file) {
        fs::path script = scratch_ / ("serve-" + fs::path(file).stem().string() + ".sh");
        std::ofstream(script) << "#!/bin/sh\nexec '" << KESTRANE_CLI << "' --snapshot '" << file << "' \"$@\"\n";
        fs::permissions(script, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                    fs::perms::others_read | fs::perms::others_exec);
        return script.string();
    }

    // One class with many instances, each carrying some text.
    static void BigSnapshot(const fs::path& path, int n, int textBytes) {
        auto schema = std::make_shared<const wmi::ClassSchema>(
            "Win32_Process", std::vector<wmi::PropertyDecl>{{"CommandLine", wmi::CIM_STRING, false, "Win32_Process"},
                                                            {"ProcessId", wmi::CIM_UINT32, false, "Win32_Process"}});
        wmi::SnapshotData d{"big", "", {}};
        wmi::SnapshotClass c{"Win32_Process", schema, {}};
        for (int i = 0; i < n; ++i)
            c.instances.emplace_back(schema, std::vector<wmi::Value>{wmi::Value(std::string(textBytes, 'a' + i % 26)),
                                                                     wmi::Value(i)});
        d.classes.push_back(std::move(c));
        wmi::WriteSnapshot(path.string(), d);
    }

};

using kestrane::testing::Listing;

wmi::Error ConnectError(const std::string& name, const std::string& user, const std::string& password,
                        const ssh::Options& o) {
    try {
        auto p = ssh::Connect(name, user, password, o);
        auto c = p->enumerate("Win32_OperatingSystem");
        c->next();
    } catch (const wmi::Error& e) {
        return e;
    }
    return wmi::Error(0, "", "no error");
}

}  // namespace

TEST_F(SshTest, EveryClassListedOverSshEqualsTheLocalListingOfTheSameData) {
    auto opts = std::make_shared<ssh::Options>(Trusting());
    wmi::Backends remote = kestrane::DefaultBackends("/", opts);
    wmi::Backends local = kestrane::DefaultBackends("/");
    const std::string url = Url(server_->port());
    int compared = 0, changing = 0;
    std::set<std::string> seen;
    for (const auto& e : kestrane::Catalogue()) {
        std::string cls(e.key);
        if (!kestrane::IsClassKey(cls) || !seen.insert(cls).second) continue;
        // Sampled counters differ between any two reads, and each read waits
        // for its sample; a fresh local provider also has no earlier sample
        // for the processor's load, where the remote one kept its own.
        if (cls.rfind("Win32_PerfFormattedData", 0) == 0 || cls == "Win32_Processor") continue;
        // A thread's state depends on who reads: the reading process's
        // threads run while it reads and wait while the other side does. The
        // vertical listing, whose state rows are easy to blank, is compared.
        const bool threads = cls == "Win32_Thread";
        auto Listing = [&](const wmi::Backends& b, const std::string& computer, const std::string& c, bool h) {
            std::string text = kestrane::testing::Listing(b, computer, c, h), out;
            if (!threads) return text;
            std::istringstream lines(text);
            for (std::string line; std::getline(lines, line);) {
                if (line.find("|    Thread State|") != std::string::npos ||
                    line.find("|    Thread Wait Reason|") != std::string::npos)
                    line.erase(line.rfind('|'));
                out += line + '\n';
            }
            return out;
        };
        for (bool horizontal : {false, true}) {
            if (threads && horizontal) continue;
            // Other tests write files and start processes meanwhile: a class
            // counts as changing when two local reads around the remote one
            // differ, and a mismatch is read again before it counts.
            bool stable = false, equal = false;
            std::string stableOver, stableLocal;
            for (int attempt = 0; attempt < 6 && !equal; ++attempt) {
                std::string a = Listing(local, ".", cls, horizontal);
                std::string over = Listing(remote, url, cls, horizontal);
                if (a != Listing(local, ".", cls, horizontal)) continue;
                stable = true;
                equal = over == a;
                stableOver = std::move(over);
                stableLocal = std::move(a);
            }
            if (!stable) {
                ++changing;
                continue;
            }
            EXPECT_EQ(stableOver, stableLocal) << cls << (horizontal ? " horizontal" : " vertical");
            ++compared;
        }
    }
    EXPECT_GT(compared, 200);
    std::cout << compared << " listings equal, " << changing << " changed between two local reads\n";

    // A recorded computer served remotely lists exactly as the file does,
    // the root summary included.
    auto snapOpts = std::make_shared<ssh::Options>(Trusting(ServingSnapshot(kSample)));
    wmi::Backends served = kestrane::DefaultBackends("/", snapOpts);
    wmi::Backends file = kestrane::DefaultBackends("/");
    auto snap = wmi::LoadSnapshot(kSample);
    EXPECT_EQ(Listing(served, url, "", false), Listing(file, kSample, "", false));
    for (const auto& cls : snap->classNames())
        for (bool horizontal : {false, true})
            EXPECT_EQ(Listing(served, url, cls, horizontal), Listing(file, kSample, cls, horizontal)) << cls;
}

TEST_F(SshTest, PasswordLoginAndItsRefusal) {
    const std::string user = server_->passwordUser();
    if (user.empty() && std::getenv("CI")) FAIL() << "no throwaway account";
    if (user.empty()) GTEST_SKIP() << "no throwaway account (needs root)";
    ssh::Options o = Trusting(SharedCli());
    auto p = ssh::Connect(Url(server_->port(), user), "", server_->password(), o);
    auto c = p->enumerate("Win32_OperatingSystem");
    auto os = c->next();
    ASSERT_TRUE(os);
    EXPECT_FALSE(os->Get("Caption").isNull());
    // The user box is used when the name holds none.
    EXPECT_NO_THROW(ssh::Connect("ssh://127.0.0.1:" + std::to_string(server_->port()), user, server_->password(), o));

    wmi::Error e = ConnectError(Url(server_->port(), user), "", "wrong-" + server_->password(), o);
    EXPECT_EQ(e.unsignedNumber(), wmi::E_ACCESSDENIED_WIN32);
    EXPECT_EQ(e.description().rfind("Access is denied.", 0), 0u) << e.description();
    EXPECT_EQ(e.description().find(server_->password()), std::string::npos);
}

TEST_F(SshTest, HostKeysUnknownRememberedAndChanged) {
    const std::string url = Url(server_->port());
    ssh::Options refuse;
    refuse.remoteCli = KESTRANE_CLI;
    refuse.unknownHostAdvice = "Run again with --accept-new-host-key.";
    wmi::Error e = ConnectError(url, "", "", refuse);
    EXPECT_EQ(e.unsignedNumber(), wmi::E_ACCESSDENIED_WIN32);
    EXPECT_NE(e.description().find(server_->hostKeyFingerprint()), std::string::npos) << e.description();
    EXPECT_NE(e.description().find("--accept-new-host-key"), std::string::npos);
    EXPECT_FALSE(fs::exists(KnownHosts()));

    // The question shows what OpenSSH shows; Remember records it for ssh too.
    ssh::Options remember = refuse;
    ssh::HostKeyQuestion asked;
    remember.unknownHost = [&](const ssh::HostKeyQuestion& q) {
        asked = q;
        return ssh::HostKeyChoice::Remember;
    };
    EXPECT_NO_THROW(ssh::Connect(url, "", "", remember));
    EXPECT_EQ(asked.fingerprint, server_->hostKeyFingerprint());
    EXPECT_EQ(asked.keyType, "ssh-ed25519");
    EXPECT_EQ(asked.port, server_->port());
    ASSERT_TRUE(fs::exists(KnownHosts()));
    auto lines = RunProcess({"ssh-keygen", "-F", "[127.0.0.1]:" + std::to_string(server_->port()), "-f", KnownHosts()});
    EXPECT_EQ(lines.exitCode, 0) << lines.output;
    EXPECT_EQ(ssh::KnownHostsLine(KnownHosts(), "127.0.0.1", server_->port()), 1);

    // Remembered: no question the next time.
    ssh::CloseAllSessions();
    EXPECT_NO_THROW(ssh::Connect(url, "", "", refuse));

    // Changed: refused, naming the line, and never asked.
    ssh::CloseAllSessions();
    server_->replaceHostKey();
    bool askedAgain = false;
    remember.unknownHost = [&](const ssh::HostKeyQuestion&) {
        askedAgain = true;
        return ssh::HostKeyChoice::Remember;
    };
    e = ConnectError(url, "", "", remember);
    EXPECT_EQ(e.unsignedNumber(), wmi::E_ACCESSDENIED_WIN32);
    EXPECT_NE(e.description().find("line 1 of " + KnownHosts()), std::string::npos) << e.description();
    EXPECT_NE(e.description().find(server_->hostKeyFingerprint()), std::string::npos);
    EXPECT_FALSE(askedAgain);

    // The command the message suggests removes that line.
    const std::string cmd = e.description().substr(e.description().find("ssh-keygen -R '") + 15);
    RunProcess({"ssh-keygen", "-R", cmd.substr(0, cmd.find('\'')), "-f", KnownHosts()});
    EXPECT_EQ(ssh::KnownHostsLine(KnownHosts(), "127.0.0.1", server_->port()), 0) << e.description();

    // A key of another type on record for the host is a change as well.
    ssh::CloseAllSessions();
    const fs::path other = scratch_ / "other-type";
    fs::remove(other);
    ASSERT_EQ(RunProcess({"ssh-keygen", "-q", "-t", "ecdsa", "-N", "", "-f", other.string()}).exitCode, 0);
    std::ifstream pub(other.string() + ".pub");
    std::ofstream(KnownHosts()) << "[127.0.0.1]:" << server_->port() << " " << pub.rdbuf();
    e = ConnectError(url, "", "", remember);
    EXPECT_EQ(e.unsignedNumber(), wmi::E_ACCESSDENIED_WIN32) << e.description();
    EXPECT_NE(e.description().find("has changed"), std::string::npos) << e.description();
    EXPECT_FALSE(askedAgain);
}

TEST_F(SshTest, ConnectionFailuresMissingProgramsAndMissingClasses) {
    // A closed port: a listener that was there and is gone.
    int closed;
    {
        TcpForwarder f(server_->port());
        closed = f.port();
    }
    wmi::Error e = ConnectError("ssh://127.0.0.1:" + std::to_string(closed), "", "", Trusting());
    EXPECT_EQ(e.unsignedNumber(), wmi::RPC_S_SERVER_UNAVAILABLE);
    EXPECT_EQ(e.description().rfind("The RPC server is unavailable.", 0), 0u);
    for (const char* bad : {"ssh://127.0.0.1:99999", "ssh://[::1", "bad name", "ssh://@host"})
        EXPECT_EQ(ConnectError(bad, "", "", Trusting()).unsignedNumber(), wmi::RPC_S_SERVER_UNAVAILABLE) << bad;

    e = ConnectError(Url(server_->port()), "", "", Trusting("/nonexistent/kestrane-cli"));
    EXPECT_EQ(e.unsignedNumber(), wmi::WBEM_E_PROVIDER_LOAD_FAILURE);
    EXPECT_NE(e.description().find("Kestrane is not installed"), std::string::npos) << e.description();

    // A class the remote lacks fails as it would locally; the session goes on.
    auto p = ssh::Connect(Url(server_->port()), "", "", Trusting());
    wmi::Services services(p);
    wmi::ObjectSet missing = services.ExecQuery("SELECT * FROM Win32_HeatPipe");
    try {
        missing.Next();
        ADD_FAILURE() << "no error";
    } catch (const wmi::Error& err) {
        EXPECT_EQ(err.unsignedNumber(), wmi::WBEM_E_INVALID_CLASS);
    }
    wmi::ObjectSet os = services.ExecQuery("SELECT * FROM Win32_OperatingSystem");
    EXPECT_TRUE(os.Next());
}

TEST_F(SshTest, CancelLeavesTheSessionUsableAndALostConnectionIsReported) {
    TcpForwarder relay(server_->port());
    auto opts = std::make_shared<ssh::Options>(Trusting(ServingSnapshot((scratch_ / "big.json").string())));
    wmi::Backends b = kestrane::DefaultBackends("/", opts);
    const std::string url = "ssh://" + server_->currentUser() + "@127.0.0.1:" + std::to_string(relay.port());

    kestrane::HeadlessHost host;
    host.onInstance = [&](long n) { host.cancel = n >= 50; };
    std::string cancelled = Listing(b, url, "Win32_Process", false, &host);
    EXPECT_EQ(cancelled.find("error"), std::string::npos) << cancelled.substr(0, 200);
    EXPECT_EQ(host.listedCount, 51);  // the flag is read at the next instance
    // The same kept session answers the next listing in full.
    kestrane::HeadlessHost again;
    Listing(b, url, "Win32_Process", true, &again);
    EXPECT_EQ(again.listedCount, 60000);

    kestrane::HeadlessHost cut;
    cut.onInstance = [&](long n) {
        if (n == 100) relay.cutAll();
    };
    std::string lost = Listing(b, url, "Win32_Process", false, &cut);
    EXPECT_EQ(lost.rfind("error " + std::to_string(static_cast<std::int32_t>(wmi::RPC_S_CALL_FAILED)) +
                             ":The remote procedure call failed.", 0),
              0u)
        << lost.substr(0, 300);
    // The next selection connects afresh.
    kestrane::HeadlessHost after;
    Listing(b, url, "Win32_Process", true, &after);
    EXPECT_EQ(after.listedCount, 60000);
}

TEST_F(SshTest, OneRoundTripPerClassAndOneForTheWholeSummary) {
    TcpForwarder relay(server_->port(), 2ms);
    auto opts = std::make_shared<ssh::Options>(Trusting(ServingSnapshot(kSample)));
    wmi::Backends b = kestrane::DefaultBackends("/", opts);
    const std::string url = "ssh://" + server_->currentUser() + "@127.0.0.1:" + std::to_string(relay.port());
    Listing(b, url, "Win32_BIOS", false);  // opens the session

    relay.resetCounters();
    Listing(b, url, "", false);
    EXPECT_EQ(relay.roundTrips(), 1);
    auto snap = wmi::LoadSnapshot(kSample);
    relay.resetCounters();
    for (const auto& cls : snap->classNames()) Listing(b, url, cls, false);
    EXPECT_EQ(relay.roundTrips(), static_cast<long>(snap->classNames().size()));

    // Answers asked for together may be read in any order, or not at all.
    auto p = ssh::Connect(url, "", "", *opts);
    p->prefetch({"Win32_BIOS", "Win32_ComputerSystem", "Win32_OperatingSystem"});
    auto os = p->enumerate("Win32_OperatingSystem");
    auto osDirect = snap->enumerate("Win32_OperatingSystem");
    EXPECT_EQ(os->next()->values(), osDirect->next()->values());
    auto bios = p->enumerate("win32_bios");
    auto biosDirect = snap->enumerate("Win32_BIOS");
    EXPECT_EQ(bios->next()->values(), biosDirect->next()->values());
    p.reset();

    // A session idle for its time is closed; the next selection connects anew.
    opts->idleClose = std::chrono::seconds(0);
    Listing(b, url, "Win32_BIOS", false);
    ssh::CloseIdleSessions();
    relay.resetCounters();
    Listing(b, url, "Win32_BIOS", false);
    EXPECT_GT(relay.roundTrips(), 3);
}

TEST_F(SshTest, TheCliBrowsesARemoteComputer) {
    const std::string url = Url(server_->port());
    auto cli = [&](std::vector<std::string> args, const std::string& input = "") {
        args.insert(args.begin(), KESTRANE_CLI);
        return RunProcess(args, 60s, input);
    };
    auto refused = cli({"--computer", url, "list", "Win32_BIOS"});
    EXPECT_EQ(refused.exitCode, 3);
    EXPECT_NE(refused.output.find("-2147024891:Access is denied."), std::string::npos) << refused.output;
    EXPECT_NE(refused.output.find("--accept-new-host-key"), std::string::npos);

    auto listed = cli({"--computer", url, "--accept-new-host-key", "--remote-cli", ServingSnapshot(kSample), "list",
                       "Win32_OperatingSystem", "--horizontal"});
    auto local = cli({"--snapshot", kSample, "list", "Win32_OperatingSystem", "--horizontal"});
    EXPECT_EQ(listed.exitCode, 0) << listed.output;
    EXPECT_EQ(listed.output, local.output);

    auto missing = cli({"--computer", url, "--remote-cli", "/nonexistent/kestrane-cli", "summary"});
    EXPECT_EQ(missing.exitCode, 3);
    EXPECT_EQ(missing.output.rfind("-2147217389:", 0), 0u) << missing.output;

    const std::string user = server_->passwordUser();
    if (user.empty()) return;
    auto viaStdin = cli({"--computer", "ssh://127.0.0.1:" + std::to_string(server_->port()), "--user", user,
                         "--password-stdin", "--remote-cli", SharedCli(), "list", "Win32_OperatingSystem"},
                        server_->password() + "\n");
    EXPECT_EQ(viaStdin.exitCode, 0) << viaStdin.output;
    auto wrong = cli({"--computer", "ssh://127.0.0.1:" + std::to_string(server_->port()), "--user", user,
                      "--password-stdin", "--remote-cli", SharedCli(), "list", "Win32_OperatingSystem"},
                     "not-the-password\n");
    EXPECT_EQ(wrong.exitCode, 3);
    EXPECT_NE(wrong.output.find("Access is denied."), std::string::npos);
    EXPECT_EQ(wrong.output.find("not-the-password"), std::string::npos);
}

// Why values are missing travels with each answer: the remote computer's
// reasons, as its own provider gives them, once the class was read.
TEST_F(SshTest, ReasonsArriveWithTheAnswer) {
    const std::string url = Url(server_->port());
    auto p = ssh::Connect(url, "", "", Trusting());
    auto local = wmi::MakeLinuxProvider("/");
    for (const char* cls : {"Win32_Service", "Win32_BIOS", "Win32_UserAccount", "Win32_Process", "Win32_Keyboard"}) {
        EXPECT_TRUE(p->reasons(cls).empty()) << cls << ": known before the class was read";
        auto c = p->enumerate(cls);
        while (c->next()) {
        }
        EXPECT_EQ(p->reasons(cls), local->reasons(cls)) << cls;
    }
    // this server sends no reasons for a recorded computer
    auto served = ssh::Connect(url, "", "", Trusting(ServingSnapshot(kSample)));
    auto c = served->enumerate("Win32_BIOS");
    while (c->next()) {
    }
    EXPECT_TRUE(served->reasons("Win32_BIOS").empty());
}
