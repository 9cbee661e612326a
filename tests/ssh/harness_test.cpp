// The sshd harness and the TCP forwarder, checked with OpenSSH's own client,
// so that later failures of the SSH back-end can't be blamed on them.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "support/sshd_harness.h"
#include "support/tcp_forwarder.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using kestrane::testing::RunProcess;
using kestrane::testing::SshServer;
using kestrane::testing::Subprocess;
using kestrane::testing::TcpForwarder;

namespace {

std::vector<std::string> Ssh(const SshServer& server, int port, const std::string& knownHosts,
                             const std::string& strict, const std::string& command) {
    return {"ssh", "-F", "/dev/null", "-p", std::to_string(port), "-i", server.clientHome() + "/.ssh/id_ed25519",
            // Only the harness's key: no agent, no keys of the machine's own user.
            "-o", "IdentitiesOnly=yes", "-o", "IdentityAgent=none", "-o", "UserKnownHostsFile=" + knownHosts,
            "-o", "GlobalKnownHostsFile=/dev/null", "-o", "StrictHostKeyChecking=" + strict, "-o", "BatchMode=yes",
            "-o", "ConnectTimeout=5", server.currentUser() + "@127.0.0.1", command};
}

// The fingerprint ssh-keygen reports for the one key in a known_hosts file.
std::string KnownHostFingerprint(const std::string& knownHosts) {
    const auto r = RunProcess({"ssh-keygen", "-lf", knownHosts});
    std::istringstream fields(r.output);
    std::string bits, fingerprint;
    fields >> bits >> fingerprint;
    return fingerprint;
}

#define START_SERVER(server)                                       \
    std::string whyNot;                                            \
    auto server = SshServer::Start(&whyNot);                       \
    if (!server) GTEST_SKIP() << "no sshd for tests: " << whyNot

}  // namespace

TEST(SshHarness, KeyLoginThroughTheForwarderRecordsTheServersHostKey) {
    START_SERVER(server);
    const fs::path dotSsh = fs::path(server->clientHome()) / ".ssh";
    struct stat st{};
    ASSERT_EQ(::stat(dotSsh.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_FALSE(fs::exists(dotSsh / "known_hosts"));

    TcpForwarder forwarder(server->port());
    const std::string knownHosts = server->clientHome() + "/known_hosts";
    const auto r = RunProcess(Ssh(*server, forwarder.port(), knownHosts, "accept-new", "echo logged-in-as-$(id -un)"));
    ASSERT_EQ(r.exitCode, 0) << r.output << "\n--- sshd log ---\n" << server->log();
    EXPECT_NE(r.output.find("logged-in-as-" + server->currentUser()), std::string::npos) << r.output;
    EXPECT_GT(forwarder.roundTrips(), 0);
    EXPECT_EQ(KnownHostFingerprint(knownHosts), server->hostKeyFingerprint());
}

TEST(SshHarness, AStrictClientRefusesTheServerAfterItsHostKeyIsReplaced) {
    START_SERVER(server);
    const int port = server->port();
    const std::string knownHosts = server->clientHome() + "/known_hosts";
    auto r = RunProcess(Ssh(*server, port, knownHosts, "accept-new", "true"));
    ASSERT_EQ(r.exitCode, 0) << r.output << server->log();

    const std::string oldKey = server->hostKeyFingerprint();
    server->replaceHostKey();
    EXPECT_EQ(server->port(), port);
    EXPECT_NE(server->hostKeyFingerprint(), oldKey);

    r = RunProcess(Ssh(*server, port, knownHosts, "yes", "true"));
    EXPECT_EQ(r.exitCode, 255) << r.output;
    EXPECT_NE(r.output.find("Host key verification failed"), std::string::npos) << r.output;

    // The refusal must come from the new key, not from a server that failed to come back.
    const std::string fresh = server->clientHome() + "/known_hosts.fresh";
    r = RunProcess(Ssh(*server, port, fresh, "accept-new", "true"));
    EXPECT_EQ(r.exitCode, 0) << r.output << server->log();
    EXPECT_EQ(KnownHostFingerprint(fresh), server->hostKeyFingerprint());
}

TEST(SshHarness, CutAllEndsARunningSessionAndLaterConnectionsStillWork) {
    START_SERVER(server);
    TcpForwarder forwarder(server->port());
    const std::string knownHosts = server->clientHome() + "/known_hosts";
    std::string spawnError;
    auto ssh = Subprocess::Spawn(Ssh(*server, forwarder.port(), knownHosts, "accept-new", "echo started; sleep 5"),
                                 &spawnError);
    ASSERT_TRUE(ssh) << spawnError;
    ASSERT_TRUE(ssh->waitForOutput("started", 10s)) << ssh->output() << server->log();

    const auto cut = std::chrono::steady_clock::now();
    forwarder.cutAll();
    const auto code = ssh->wait(3s);
    ASSERT_TRUE(code.has_value()) << "ssh still runs after the cut";
    EXPECT_NE(*code, 0) << ssh->output();
    EXPECT_LT(std::chrono::steady_clock::now() - cut, 3s);

    const auto again = RunProcess(Ssh(*server, forwarder.port(), knownHosts, "yes", "true"));
    EXPECT_EQ(again.exitCode, 0) << again.output;
}

TEST(SshHarness, TheThrowawayAccountLogsInWithItsPasswordOnly) {
    START_SERVER(server);
    const std::string user = server->passwordUser();
    ASSERT_FALSE(user.empty()) << "useradd or chpasswd failed";
    ASSERT_EQ(user.rfind("kestranetest", 0), 0u) << user;
    const std::string knownHosts = server->clientHome() + "/known_hosts";
    auto withPassword = [&](const std::string& password) {
        // ssh reads a password from a tty or from SSH_ASKPASS only.
        const std::string askpass = server->clientHome() + "/askpass";
        std::ofstream(askpass) << "#!/bin/sh\necho '" << password << "'\n";
        fs::permissions(askpass, fs::perms::owner_all);
        return RunProcess({"env", "SSH_ASKPASS=" + askpass, "SSH_ASKPASS_REQUIRE=force", "ssh", "-F", "/dev/null",
                           "-p", std::to_string(server->port()), "-o", "UserKnownHostsFile=" + knownHosts, "-o",
                           "StrictHostKeyChecking=accept-new", "-o", "PreferredAuthentications=password", "-o",
                           "PubkeyAuthentication=no", "-o", "NumberOfPasswordPrompts=1", user + "@127.0.0.1",
                           "id -un"});
    };
    auto r = withPassword(server->password());
    EXPECT_EQ(r.exitCode, 0) << r.output << server->log();
    EXPECT_NE(r.output.find(user), std::string::npos) << r.output;
    r = withPassword(server->password() + "x");
    EXPECT_EQ(r.exitCode, 255) << r.output;
}

TEST(SshHarness, TheForwarderDelaysEveryRoundTrip) {
    START_SERVER(server);
    constexpr auto oneWay = 25ms;
    TcpForwarder forwarder(server->port(), oneWay);
    const std::string knownHosts = server->clientHome() + "/known_hosts";
    const auto start = std::chrono::steady_clock::now();
    const auto r = RunProcess(Ssh(*server, forwarder.port(), knownHosts, "accept-new", "true"));
    const auto elapsed = std::chrono::steady_clock::now() - start;
    ASSERT_EQ(r.exitCode, 0) << r.output << server->log();
    // Key exchange, authentication and the channel take several dependent exchanges each paying 2 * delay.
    EXPECT_GE(forwarder.roundTrips(), 4);
    EXPECT_GE(elapsed, 4 * 2 * oneWay) << forwarder.roundTrips() << " round trips";

    forwarder.resetCounters();
    EXPECT_EQ(forwarder.roundTrips(), 0);
}
