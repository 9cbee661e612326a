// The WS-Management back-end against the Python test server (NTLM inside
// Negotiate, sealed messages, Enumerate/Pull, CIM-XML classes, faults,
// HTTPS), which python3-winrm validates in tests of its own; Kerberos with
// tickets of a throwaway MIT realm.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>

#include "backends/backends.h"
#include "listing/listing.h"
#include "support/listing_text.h"
#include "support/sshd_harness.h"
#include "support/tcp_forwarder.h"
#include "wmi/connection.h"
#include "wmi/snapshot/snapshot.h"
#include "wmi/wsman/wsman_client.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using kestrane::testing::ProcessResult;
using kestrane::testing::RunProcess;
using kestrane::testing::Subprocess;
using kestrane::testing::TcpForwarder;
namespace ws = wmi::wsman;

namespace {

const std::string kSample = std::string(KESTRANE_FIXTURES) + "/snapshots/sample.json";
const std::string kServer = std::string(KESTRANE_SOURCE_DIR) + "/tests/wsman/wsman_server.py";
const std::string kUser = "tester";
const std::string kPassword = "Pa55-w0rd!";

// A test server on a free port, stopped with the object; null (and a
// failure) when it does not start.
struct Server {
    std::unique_ptr<Subprocess> proc;
    int port = 0;
    std::string url(bool https = false) const {
        return std::string(https ? "https" : "http") + "://127.0.0.1:" + std::to_string(port) + "/wsman";
    }
};

std::unique_ptr<Server> Start(const std::string& snapshot, std::vector<std::string> extra = {}) {
    std::vector<std::string> argv = {"/usr/bin/python3", kServer, "--snapshot", snapshot, "--user", kUser,
                                     "--password", kPassword};
    argv.insert(argv.end(), extra.begin(), extra.end());
    auto s = std::make_unique<Server>();
    std::string why;
    s->proc = Subprocess::Spawn(argv, &why);
    if (!s->proc || !s->proc->waitForOutput("PORT ", 20s)) {
        ADD_FAILURE() << "the test server did not start: " << (s->proc ? s->proc->output() : why);
        return nullptr;
    }
    std::istringstream(s->proc->output().substr(s->proc->output().find("PORT ") + 5)) >> s->port;
    return s;
}

// The same computer as a snapshot whose properties are in the order WMI
// delivers them (by name, ignoring case), which WS-Management answers.
std::string SortedCopy(const std::string& from, const fs::path& to) {
    nlohmann::ordered_json j = nlohmann::ordered_json::parse(std::ifstream(from));
    for (auto& [name, cls] : j["classes"].items()) {
        auto& props = cls["properties"];
        std::stable_sort(props.begin(), props.end(), [](const auto& a, const auto& b) {
            return wmi::ToLowerAscii(a["name"].template get<std::string>()) <
                   wmi::ToLowerAscii(b["name"].template get<std::string>());
        });
    }
    std::ofstream(to) << j.dump(1);
    return to.string();
}

std::string Listing(const wmi::Backends& b, const std::string& computer, const std::string& cls, bool horizontal,
                    kestrane::HeadlessHost* host = nullptr, const std::string& password = kPassword) {
    return kestrane::testing::Listing(b, computer, cls, horizontal, host, kUser, password);
}

wmi::Error ErrorOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const wmi::Error& e) {
        return e;
    }
    return wmi::Error(0, "", "no error");
}

class WsmanTest : public ::testing::Test {
protected:
    void SetUp() override {
        ws::CloseAllSessions();
        dir = fs::temp_directory_path() / ("kestrane-wsman-" + std::to_string(::getpid()) + "-" +
                                           ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir);
    }
    void TearDown() override {
        ws::CloseAllSessions();
        fs::remove_all(dir);
    }
    fs::path dir;
};

}  // namespace

TEST_F(WsmanTest, EveryClassAndValueShapeEqualsTheSnapshotOfTheSameData) {
    const std::string sorted = SortedCopy(kSample, dir / "sample.json");
    auto server = Start(sorted);
    ASSERT_TRUE(server);
    wmi::Backends remote = kestrane::DefaultBackends("/");
    wmi::Backends file = kestrane::DefaultBackends("/");
    auto snap = wmi::LoadSnapshot(sorted);
    EXPECT_EQ(Listing(remote, server->url(), "", false), Listing(file, sorted, "", false));
    for (const auto& cls : snap->classNames())
        for (bool horizontal : {false, true})
            EXPECT_EQ(Listing(remote, server->url(), cls, horizontal), Listing(file, sorted, cls, horizontal)) << cls;

    // Every value shape WS-Management has a rendering for.
    const std::string shapes = std::string(KESTRANE_FIXTURES) + "/wsman/shapes.json";
    auto shapeServer = Start(shapes);
    ASSERT_TRUE(shapeServer);
    auto p = ws::Connect(*ws::ParseEndpoint(shapeServer->url()), kUser, kPassword, {});
    auto cursor = p->enumerate("win32_shapes");
    auto direct = wmi::LoadSnapshot(shapes)->enumerate("Win32_Shapes");
    for (int i = 0; i < 2; ++i) {
        auto got = cursor->next();
        auto want = direct->next();
        ASSERT_TRUE(got && want);
        for (std::size_t k = 0; k < want->schema().size(); ++k) {
            const auto& d = want->schema().properties()[k];
            EXPECT_EQ(got->schema().properties()[k].name, d.name);
            EXPECT_EQ(got->schema().properties()[k].cimType, d.cimType) << d.name;
            EXPECT_EQ(got->schema().properties()[k].isArray, d.isArray) << d.name;
            EXPECT_EQ(got->schema().properties()[k].origin, d.origin) << d.name;
            // An empty array travels as no element at all, which reads as Null.
            if (d.name == "Empty" || (d.name == "Codes" && i == 1)) {
                EXPECT_TRUE(got->values()[k].isNull()) << d.name;
                continue;
            }
            EXPECT_EQ(got->values()[k], want->values()[k]) << i << " " << d.name;
        }
    }
    EXPECT_FALSE(cursor->next());
}

TEST_F(WsmanTest, FaultsBecomeTheErrorsWmiWouldGive) {
    auto server = Start(kSample, {"--fail-class", "Win32_DiskDrive=0x80041003"});
    auto elsewhere = Start(kSample, {"--path", "/other"});
    ASSERT_TRUE(server && elsewhere);
    int closed;
    {
        TcpForwarder f(server->port);
        closed = f.port();
    }
    const std::string unavailable = "error -2147023174:The RPC server is unavailable.";
    const struct {
        std::string computer, cls, password, starts;
    } cases[] = {
        {server->url(), "Win32_Keyboard", kPassword, "error -2147217392:Invalid class"},
        {server->url(), "Win32_DiskDrive", kPassword, "error -2147217405:Access denied"},
        {server->url(), "Win32_BIOS", kPassword, "[Name][Value]"},  // the session goes on after a fault
        {server->url(), "Win32_BIOS", "not-the-password", "error -2147024891:Access is denied."},
        {"http://127.0.0.1:" + std::to_string(closed) + "/wsman", "Win32_BIOS", kPassword, unavailable},
        // A web server without WS-Management is no computer refusing the login.
        {elsewhere->url(), "Win32_BIOS", kPassword, unavailable},
        // A bare name tries WS-Management, then SSH, and names both.
        {"127.0.0.2", "Win32_BIOS", kPassword, unavailable + " Tried WS-Management"},
    };
    wmi::Backends b = kestrane::DefaultBackends("/");
    for (const auto& c : cases) {
        const std::string got = Listing(b, c.computer, c.cls, false, nullptr, c.password);
        EXPECT_EQ(got.rfind(c.starts, 0), 0u) << got.substr(0, 300);
        EXPECT_EQ(got.find("not-the-password"), std::string::npos);
    }
    EXPECT_NE(Listing(b, "127.0.0.2", "Win32_BIOS", false).find("SSH to 127.0.0.2"), std::string::npos);
    const std::string noUser = kestrane::testing::Listing(b, server->url(), "Win32_BIOS", false, nullptr, "", kPassword);
    EXPECT_EQ(noUser.rfind("error -2147024891:Access is denied. A password was given without a user name", 0), 0u)
        << noUser;
}

TEST_F(WsmanTest, HttpsCertificatesUntrustedTrustedAndAskedFor) {
    auto made = RunProcess({"sh", std::string(KESTRANE_SOURCE_DIR) + "/tests/wsman/make_cert.sh", dir.string()});
    ASSERT_EQ(made.exitCode, 0) << made.output;
    auto server = Start(kSample, {"--https", (dir / "cert.pem").string(), (dir / "key.pem").string()});
    ASSERT_TRUE(server);
    auto fp = RunProcess({"openssl", "x509", "-in", (dir / "cert.pem").string(), "-noout", "-fingerprint", "-sha256"});
    std::string expected = "SHA256:" + fp.output.substr(fp.output.find('=') + 1);
    while (!expected.empty() && (expected.back() == '\n' || expected.back() == '\r')) expected.pop_back();
    const ws::Endpoint e = *ws::ParseEndpoint(server->url(true));

    ws::Options o;
    o.untrustedAdvice = "Run again with --trust-certificate.";
    wmi::Error untrusted = ErrorOf([&] { ws::Connect(e, kUser, kPassword, o); });
    EXPECT_EQ(untrusted.unsignedNumber(), wmi::CERT_E_UNTRUSTEDROOT);
    EXPECT_NE(untrusted.description().find(expected), std::string::npos) << untrusted.description() << " " << expected;

    ws::Options trusted = o;
    trusted.trustedCertificate = *ws::ParseFingerprint(expected);
    auto p = ws::Connect(e, kUser, kPassword, trusted);
    EXPECT_TRUE(p->enumerate("Win32_BIOS")->next());
    ws::CloseAllSessions();

    ws::Options asking = o;
    ws::CertificateQuestion asked;
    asking.untrustedCertificate = [&](const ws::CertificateQuestion& q) {
        asked = q;
        return ws::CertificateChoice::TrustOnce;
    };
    p = ws::Connect(e, kUser, kPassword, asking);
    EXPECT_TRUE(p->enumerate("Win32_BIOS")->next());
    EXPECT_EQ(asked.fingerprint, expected);

    // A certificate trusted for another fingerprint is still refused.
    ws::CloseAllSessions();
    ws::Options other = o;
    other.trustedCertificate = std::string(32, '\x11');
    EXPECT_EQ(ErrorOf([&] { ws::Connect(e, kUser, kPassword, other); }).unsignedNumber(), wmi::CERT_E_UNTRUSTEDROOT);
}

TEST_F(WsmanTest, StreamsPagesCancelsAndReportsALostOrSilentServer) {
    auto server = Start(kSample, {"--generate", "Win32_Process=100000"});
    ASSERT_TRUE(server);
    TcpForwarder relay(server->port);
    const std::string url = "http://127.0.0.1:" + std::to_string(relay.port()) + "/wsman";
    auto opts = std::make_shared<ws::Options>();
    opts->maxElements = 1000;
    wmi::Backends b = kestrane::DefaultBackends("/", nullptr, opts);

    // Round trips: the first read of a class adds one GetClass; then one
    // Enumerate and one Pull per page.
    Listing(b, url, "Win32_BIOS", false);  // logs in
    relay.resetCounters();
    Listing(b, url, "Win32_BIOS", false);
    EXPECT_EQ(relay.roundTrips(), 1);

    kestrane::HeadlessHost all;
    relay.resetCounters();
    Listing(b, url, "Win32_Process", true, &all);
    EXPECT_EQ(all.listedCount, 100000);
    EXPECT_EQ(relay.roundTrips(), 1 + 100);

    kestrane::HeadlessHost cancelled;
    cancelled.onInstance = [&](long n) { cancelled.cancel = n >= 1500; };
    Listing(b, url, "Win32_Process", false, &cancelled);
    EXPECT_EQ(cancelled.listedCount, 1501);
    // Released, and the session answers the next selection.
    EXPECT_EQ(Listing(b, url, "Win32_BIOS", false).find("error"), std::string::npos);

    auto dropping = Start(kSample, {"--generate", "Win32_Process=5000", "--after-pulls", "2", "drop"});
    ASSERT_TRUE(dropping);
    std::string lost = Listing(b, dropping->url(), "Win32_Process", false);
    EXPECT_EQ(lost.rfind("error -2147023170:The remote procedure call failed.", 0), 0u) << lost.substr(0, 200);

    auto stalling = Start(kSample, {"--generate", "Win32_Process=5000", "--after-pulls", "1", "stall"});
    ASSERT_TRUE(stalling);
    auto quick = std::make_shared<ws::Options>(*opts);
    quick->silenceTimeout = 1s;
    wmi::Backends impatient = kestrane::DefaultBackends("/", nullptr, quick);
    std::string silent = Listing(impatient, stalling->url(), "Win32_Process", false);
    EXPECT_EQ(silent.rfind("error -2147023170:The remote procedure call failed.", 0), 0u) << silent.substr(0, 200);

    // A login the computer forgets mid-listing is a refusal, not a failed call.
    auto forgetting = Start(kSample, {"--generate", "Win32_Process=5000", "--after-pulls", "1", "refuse"});
    ASSERT_TRUE(forgetting);
    std::string ended = Listing(b, forgetting->url(), "Win32_Process", false);
    EXPECT_EQ(ended.rfind("error -2147024891:Access is denied.", 0), 0u) << ended.substr(0, 200);
}

// The listings themselves are compared above; the command line's own part:
// the password from standard input, and a capture under the computer's own
// name, not the address.
TEST_F(WsmanTest, TheCliCapturesAWindowsComputer) {
    auto server = Start(kSample);
    ASSERT_TRUE(server);
    auto captured = RunProcess({KESTRANE_CLI, "--computer", server->url(), "--user", kUser, "--password-stdin",
                                "capture", (dir / "cap.json").string()},
                               120s, kPassword + "\n");
    EXPECT_EQ(captured.exitCode, 0) << captured.output;
    EXPECT_EQ(nlohmann::json::parse(std::ifstream(dir / "cap.json"))["computer"], "ORION");
    auto bad = RunProcess({KESTRANE_CLI, "--computer", server->url(), "--trust-certificate", "SHA256:12", "summary"});
    EXPECT_EQ(bad.exitCode, 2);
}

// A server that turns hostile in the middle of an enumeration: each way ends
// the listing as a lost call within the time-outs, holding no more than a
// bounded answer.
TEST(WsmanHostile, EndlessTricklingAndEmptyAnswersAreALostCall) {
    auto opts = std::make_shared<ws::Options>();
    opts->maxElements = 100;
    opts->silenceTimeout = 2s;
    opts->connectTimeout = 1s;  // a trickle ends at the answer's deadline, 1 + 2 x 2 s
    wmi::Backends b = kestrane::DefaultBackends("/", nullptr, opts);
    auto peakRssKb = [] {
        rusage u{};
        getrusage(RUSAGE_SELF, &u);
        return u.ru_maxrss;
    };
    {
        auto normal = Start(kSample, {"--generate", "Win32_Process=3000"});
        ASSERT_TRUE(normal);
        std::string listed = Listing(b, normal->url(), "Win32_Process", false);
        ASSERT_NE(listed.rfind("error ", 0), 0u) << listed.substr(0, 200);
        ws::CloseAllSessions();
    }
    const long before = peakRssKb();
    for (const char* mode : {"endless", "trickle", "empty"}) {
        auto server = Start(kSample, {"--generate", "Win32_Process=3000", "--after-pulls", "2", mode});
        ASSERT_TRUE(server);
        std::string listed = Listing(b, server->url(), "Win32_Process", false);
        EXPECT_EQ(listed.rfind("error -2147023170:The remote procedure call failed.", 0), 0u)
            << mode << ": " << listed.substr(0, 200);
        ws::CloseAllSessions();
    }
    std::cout << "peak " << peakRssKb() - before << " kB above a normal listing's\n";
#ifndef __SANITIZE_ADDRESS__
    // AddressSanitizer keeps freed blocks in quarantine, so the peak says
    // nothing about the client there; the plain build holds the bound.
    EXPECT_LE(peakRssKb() - before, 64 * 1024) << "kB more at the peak than a normal listing's";
#endif
}

namespace {

// A throwaway MIT Kerberos realm: its KDC on a free port of 127.0.0.1, and
// the database, configuration, keytab and ticket caches in `dir`, where the
// environment points Kerberos (never at /etc). The keytab holds
// HTTP/localhost; HTTP/elsewhere is in another; HTTP/127.0.0.1 is nowhere.
struct Realm {
    fs::path dir;
    std::unique_ptr<Subprocess> kdc;
    std::string why;

    explicit Realm(const fs::path& d) : dir(d) {
        int port;
        {
            TcpForwarder free(1);
            port = free.port();
        }
        const std::string at = "127.0.0.1:" + std::to_string(port);
        std::ofstream(dir / "krb5.conf") << "[libdefaults]\n default_realm = KESTRANE.TEST\n rdns = false\n"
                                            " dns_canonicalize_hostname = false\n dns_lookup_kdc = false\n"
                                            "[realms]\n KESTRANE.TEST = {\n  kdc = " << at << "\n }\n";
        std::ofstream(dir / "kdc.conf") << "[kdcdefaults]\n kdc_listen = " << at << "\n kdc_tcp_listen = " << at
                                        << "\n[realms]\n KESTRANE.TEST = {\n  database_name = " << (dir / "db").string()
                                        << "\n  key_stash_file = " << (dir / "stash").string()
                                        << "\n }\n[logging]\n kdc = STDERR\n";
        ::setenv("KRB5_CONFIG", (dir / "krb5.conf").c_str(), 1);
        ::setenv("KRB5_KDC_PROFILE", (dir / "kdc.conf").c_str(), 1);
        ::setenv("KRB5_KTNAME", ("FILE:" + (dir / "keytab").string()).c_str(), 1);
        // No keytab of the machine's renews an expired ticket behind the test's back.
        ::setenv("KRB5_CLIENT_KTNAME", ("FILE:" + (dir / "none.keytab").string()).c_str(), 1);
        const std::vector<std::vector<std::string>> setup = {
            {"kdb5_util", "create", "-s", "-r", "KESTRANE.TEST", "-P", "master-key"},
            {"kadmin.local", "-q", "addprinc -pw " + kPassword + " " + kUser},
            {"kadmin.local", "-q", "addprinc -randkey HTTP/localhost"},
            {"kadmin.local", "-q", "addprinc -randkey HTTP/elsewhere"},
            {"kadmin.local", "-q", "ktadd -k " + (dir / "keytab").string() + " HTTP/localhost"},
            {"kadmin.local", "-q", "ktadd -k " + (dir / "other.keytab").string() + " HTTP/elsewhere"}};
        for (const auto& argv : setup)
            if (auto r = RunProcess(argv); r.exitCode != 0) {
                why = argv[0] + ": " + r.output;
                return;
            }
        kdc = Subprocess::Spawn({"krb5kdc", "-n", "-r", "KESTRANE.TEST"}, &why);
        if (kdc && !kdc->waitForOutput("commencing operation", 10s)) why = "krb5kdc: " + kdc->output();
    }
    ~Realm() {
        kdc.reset();  // killed by its process id
        for (const char* v : {"KRB5_CONFIG", "KRB5_KDC_PROFILE", "KRB5_KTNAME", "KRB5_CLIENT_KTNAME", "KRB5CCNAME"})
            ::unsetenv(v);
    }
    // The user's password into a ticket cache of its own, made current.
    ProcessResult kinit(const std::string& cache, std::vector<std::string> options = {}) {
        ::setenv("KRB5CCNAME", ("FILE:" + (dir / cache).string()).c_str(), 1);
        options.insert(options.begin(), "kinit");
        options.push_back(kUser);
        return RunProcess(options, 20s, kPassword + "\n");
    }
};

}  // namespace

TEST_F(WsmanTest, KerberosTicketLogsInSealedAndUnusableTicketsAreRefused) {
    if (!fs::exists("/usr/sbin/krb5kdc")) GTEST_SKIP() << "no krb5kdc (package krb5-kdc)";
    if (RunProcess({"/usr/bin/python3", "-c", "import gssapi"}).exitCode != 0)
        GTEST_SKIP() << "no python3-gssapi";
    Realm realm(dir);
    ASSERT_TRUE(realm.why.empty()) << realm.why;
    // A ticket that ends in a second, expired by the time it is used.
    auto expiring = realm.kinit("short", {"-l", "1s"});
    // Ticket times are whole seconds, and one ending at the current second is still used.
    const auto expired = std::chrono::steady_clock::now() + 2100ms;
    const std::string sorted = SortedCopy(kSample, dir / "sample.json");
    auto server = Start(sorted, {"--kerberos", (dir / "keytab").string()});
    auto stranger = Start(sorted, {"--kerberos", (dir / "other.keytab").string()});
    auto signOnly = Start(sorted, {"--kerberos", (dir / "keytab").string(), "--sign-only"});
    ASSERT_TRUE(server && stranger && signOnly);
    wmi::Backends b = kestrane::DefaultBackends("/");
    auto list = [&](const std::string& host, const Server& s) {
        ws::CloseAllSessions();
        return kestrane::testing::Listing(b, "http://" + host + ":" + std::to_string(s.port) + "/wsman",
                                          "Win32_OperatingSystem", true);
    };

    // A ticket logs in without a password; the server takes sealed messages only.
    auto ticket = realm.kinit("ticket");
    ASSERT_EQ(ticket.exitCode, 0) << ticket.output;
    EXPECT_EQ(list("localhost", *server), Listing(b, sorted, "Win32_OperatingSystem", true));
    const std::string readable = list("localhost", *signOnly);
    EXPECT_NE(readable.find("cannot be opened (its seal does not verify, or it is signed but not encrypted)"),
              std::string::npos) << readable;

    // Refusals are access denied, saying what to do.
    auto refused = [](const std::string& got, const std::string& why, const std::string& detail = "") {
        EXPECT_EQ(got.rfind("error -2147024891:Access is denied. " + why, 0), 0u) << got;
        EXPECT_NE(got.find(detail), std::string::npos) << got;
    };
    const std::string noTicket = "Without a password Kestrane logs in with Kerberos, and no usable ticket was found "
                                 "for localhost (kinit first, or give a password): ";
    refused(list("127.0.0.1", *server), "Kerberos knows no service HTTP/127.0.0.1 (give the computer's name");
    refused(list("localhost", *stranger), "The computer localhost refused the Kerberos ticket.");
    ::setenv("KRB5CCNAME", ("FILE:" + (dir / "none").string()).c_str(), 1);
    refused(list("localhost", *server), noTicket, "No Kerberos credentials available");
    ASSERT_EQ(expiring.exitCode, 0) << expiring.output;
    std::this_thread::sleep_until(expired);
    ::setenv("KRB5CCNAME", ("FILE:" + (dir / "short").string()).c_str(), 1);
    refused(list("localhost", *server), noTicket, "Ticket expired");
}
