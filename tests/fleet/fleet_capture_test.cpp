// A fleet on loopback: computers at 127.0.0.2, 127.0.0.3, ... each served by a
// real sshd whose forced command serves the snapshot chosen by the address
// the client connected to, and a few by the WS-Management test server.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <sstream>

#include "fleet/capture.h"
#include "fleet/store_fixture.h"
#include "support/sshd_harness.h"
#include "wmi/ssh/ssh_client.h"
#include "wmi/wsman/wsman_client.h"

namespace kestrane::testing {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::ordered_json;
using namespace std::chrono_literals;

constexpr int kServers = 4;
constexpr int kPerServer = 15;  // with the harness's own 127.0.0.1: sshd's limit of 16
constexpr int kServed = kServers * kPerServer;
constexpr int kUnreachable = 3;
constexpr int kWsman = 3;  // after the unreachable ones; the last knows another password
constexpr int kAll = kServed + kUnreachable + kWsman;
const std::string kSample = std::string(KESTRANE_FIXTURES) + "/snapshots/sample.json";
// What the throwaway account that sshd runs the command as may reach.
constexpr auto kShared = fs::perms::owner_all | fs::perms::others_read | fs::perms::others_exec;

std::string Address(int i) { return "127.0.0." + std::to_string(2 + i); }

int FreePort() {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    ::inet_pton(AF_INET, "127.0.0.2", &a.sin_addr);
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    ::close(fd);
    return ntohs(a.sin_port);
}

// Counts the computers being captured at once.
class Counted : public wmi::Provider {
public:
    Counted(std::shared_ptr<wmi::Provider> inner, std::atomic<int>& now) : inner_(std::move(inner)), now_(now) {}
    ~Counted() override { --now_; }
    std::unique_ptr<wmi::InstanceCursor> enumerate(std::string_view c) override { return inner_->enumerate(c); }
    std::string computerName() const override { return inner_->computerName(); }

private:
    std::shared_ptr<wmi::Provider> inner_;
    std::atomic<int>& now_;
};

class FleetTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = new TempDir;
        fs::permissions(dir_->path(), kShared);
        port_ = FreePort();
        // Every computer its own snapshot: the sample under its own name.
        Json sample = Json::parse(ReadText(kSample));
        for (int i = 0; i < kAll; ++i) {
            sample["computer"] = "PC" + std::to_string(i);
            sample["classes"]["Win32_ComputerSystem"]["instances"][0]["Name"] = "PC" + std::to_string(i);
            std::ofstream(dir_->path() + "/" + Address(i) + ".json") << sample.dump();
        }
        const std::string script = dir_->path() + "/serve.sh";
        std::ofstream(script) << "#!/bin/sh\n"
                                 "exec 2>>'" << dir_->path() << "/serve.log'\n"
                                 "echo \"serving $SSH_CONNECTION\" >&2\n"
                                 "set -- $SSH_CONNECTION\n"
                                 "[ \"$3\" = " << Address(kSlow) << " ] && sleep 60\n"
                                 "exec '" << dir_->path() << "/kestrane-cli' --snapshot '" << dir_->path() << "'/$3.json serve\n";
        fs::permissions(script, kShared);
        // The throwaway account runs a copy it can reach, and may log.
        fs::copy_file(KESTRANE_CLI, dir_->path() + "/kestrane-cli");
        fs::permissions(dir_->path() + "/kestrane-cli", kShared);
        std::ofstream(dir_->path() + "/serve.log").flush();
        fs::permissions(dir_->path() + "/serve.log", fs::perms::all);
        for (int s = 0; s < kServers; ++s) {
            std::string config = "ForceCommand " + script + "\n";
            for (int i = s * kPerServer; i < (s + 1) * kPerServer; ++i)
                config += "ListenAddress " + Address(i) + ":" + std::to_string(port_) + "\n";
            auto server = SshServer::Start(&whyNot_, config);
            if (!server) return;
            servers_[s] = server.release();
        }
        ::setenv("HOME", servers_[0]->clientHome().c_str(), 1);
        ::unsetenv("SSH_AUTH_SOCK");
        // One login for the run: a throwaway account with a password.
        user_ = servers_[0]->passwordUser();
        for (int w = 0; w < kWsman; ++w) {
            const int i = kServed + kUnreachable + w;
            wsman_[w] = Subprocess::Spawn({"/usr/bin/python3", std::string(KESTRANE_SOURCE_DIR) + "/tests/wsman/wsman_server.py",
                                           "--snapshot", dir_->path() + "/" + Address(i) + ".json", "--user", user_,
                                           "--password", w == kWsman - 1 ? "another" : servers_[0]->password(),
                                           "--bind", Address(i)}, &whyNot_).release();
            if (!wsman_[w] || !wsman_[w]->waitForOutput("PORT ", 20s)) return;
            std::istringstream(wsman_[w]->output().substr(wsman_[w]->output().find("PORT ") + 5)) >> wsmanPort_[w];
        }
    }
    static void TearDownTestSuite() {
        wmi::ssh::CloseAllSessions();
        wmi::wsman::CloseAllSessions();
        for (auto*& w : wsman_) {
            delete w;
            w = nullptr;
        }
        for (auto*& s : servers_) {
            delete s;
            s = nullptr;
        }
        delete dir_;
    }
    void SetUp() override {
        if (!servers_[kServers - 1] || user_.empty() || !wsmanPort_[kWsman - 1]) {
            if (std::getenv("CI")) FAIL() << "no sshd for tests: " << whyNot_;
            GTEST_SKIP() << "no sshd for tests: " << whyNot_;
        }
    }

    static std::string Url(int i) {
        if (i >= kServed + kUnreachable)
            return "http://" + Address(i) + ":" + std::to_string(wsmanPort_[i - kServed - kUnreachable]) + "/wsman";
        return "ssh://" + user_ + "@" + Address(i) + ":" + std::to_string(port_);
    }

    fleet::FleetCaptureOptions Options(std::atomic<int>& now, std::atomic<int>& most) {
        fleet::FleetCaptureOptions o;
        o.jobs = 8;
        o.classes = wmi::LoadSnapshot(kSample)->classNames();
        o.tempDir = dir_->path();
        o.user = user_;
        o.password = servers_[0]->password();
        o.connect = [&now, &most](const std::string& name, const std::string& user, const std::string& password) {
            wmi::ssh::Options so;
            so.remoteCli = "kestrane-cli";
            so.unknownHost = [](const wmi::ssh::HostKeyQuestion&) { return wmi::ssh::HostKeyChoice::ConnectOnce; };
            so.connectTimeout = 5s;
            so.answerTimeout = 20s;
            const int n = ++now;
            for (int m = most; n > m && !most.compare_exchange_weak(m, n);) {
            }
            try {
                if (name.rfind("http://", 0) == 0) {
                    wmi::wsman::Options wo;
                    wo.connectTimeout = 5s;
                    return std::make_shared<Counted>(
                        wmi::wsman::Connect(*wmi::wsman::ParseEndpoint(name), user, password, wo), now);
                }
                const bool wrong = name.find(Address(kWrongPassword) + ":") != std::string::npos;
                return std::make_shared<Counted>(
                    wmi::ssh::Connect(name, user, wrong ? "not-the-password" : password, so),
                    now);
            } catch (...) {
                --now;
                throw;
            }
        };
        return o;
    }

    static constexpr int kSlow = 5;
    static constexpr int kWrongPassword = 7;
    static inline TempDir* dir_ = nullptr;
    static inline int port_ = 0;
    static inline SshServer* servers_[kServers] = {};
    static inline Subprocess* wsman_[kWsman] = {};
    static inline int wsmanPort_[kWsman] = {};
    static inline std::string whyNot_, user_;
};

// The instances a complete capture holds: the sample's, under the computer's own name.
void ExpectWhole(fleet::Store& store, const fleet::CaptureInfo& c, const std::string& name) {
    auto sample = wmi::LoadSnapshot(kSample);
    std::int64_t total = 0;
    for (const auto& cls : sample->classNames()) total += static_cast<std::int64_t>(sample->instanceCount(cls));
    EXPECT_EQ(c.instances, total) << c.computer << ": a capture stored in part";
    EXPECT_EQ(store.open(c.id)->enumerate("Win32_ComputerSystem")->next()->Get("Name"), wmi::Value(name));
}

TEST_F(FleetTest, EveryReachableComputerIsStoredWholeAndEveryFailureWithItsError) {
    TempDir dir;
    auto store = fleet::Store::Open(dir.path() + "/fleet.sqlite");
    std::vector<fleet::Target> targets;
    for (int i = 0; i < kAll; ++i) targets.push_back({Url(i), ""});
    std::atomic<int> now{0}, most{0};
    const auto results = fleet::CaptureFleet(*store, targets, Options(now, most));

    EXPECT_LE(most.load(), 8);
    EXPECT_GE(most.load(), 2);
    ASSERT_EQ(results.size(), targets.size());
    for (int i = 0; i < kAll; ++i) {
        const auto& r = results[static_cast<std::size_t>(i)];
        const auto captures = store->captures(Url(i));
        ASSERT_EQ(captures.size(), 1u) << Url(i);
        const auto& c = captures[0];
        const bool refused = i == kWrongPassword || i == kAll - 1;
        if ((i >= kServed && i < kServed + kUnreachable) || i == kSlow || refused) {
            const std::int64_t expected = refused ? -2147024891   // 0x80070005
                                                  : -2147023174;  // 0x800706BA
            EXPECT_EQ(r.status, "failed") << Url(i);
            EXPECT_EQ(c.status, "failed") << Url(i);
            EXPECT_EQ(c.errorNumber.value_or(0), expected) << Url(i) << " " << c.errorText;
            EXPECT_FALSE(c.errorText.empty());
            if (i == kSlow) {
                EXPECT_NE(c.errorText.find("did not answer in time"), std::string::npos) << c.errorText;
            }
            continue;
        }
        ASSERT_EQ(c.status, "complete") << Url(i) << ": " << r.errorText << "\n" << ReadText(dir_->path() + "/serve.log");
        ExpectWhole(*store, c, "PC" + std::to_string(i));
        EXPECT_EQ(store->open(c.id)->computer(), Url(i));
    }
}

TEST_F(FleetTest, StoppingMidRunKeepsCompleteCapturesAndMarksTheRestCancelled) {
    TempDir dir;
    auto store = fleet::Store::Open(dir.path() + "/fleet.sqlite");
    std::vector<fleet::Target> targets;
    for (int i = 10; i < kServed; ++i) targets.push_back({Url(i), ""});
    std::atomic<int> now{0}, most{0};
    std::atomic<bool> stop{false};
    auto options = Options(now, most);
    options.jobs = 4;
    options.cancel = &stop;
    options.progress = [&](const fleet::FleetProgress& p) {
        if (p.done >= 6) stop = true;
    };
    const auto results = fleet::CaptureFleet(*store, targets, options);
    std::size_t complete = 0, cancelled = 0;
    for (std::size_t k = 0; k < results.size(); ++k) {
        const auto& r = results[k];
        const auto captures = store->captures(r.computer);
        ASSERT_EQ(captures.size(), 1u);
        EXPECT_EQ(captures[0].status, r.status);
        if (r.status == "complete") {
            ++complete;
            ExpectWhole(*store, captures[0], "PC" + std::to_string(10 + k));
        } else {
            EXPECT_EQ(r.status, "cancelled");
            EXPECT_EQ(captures[0].instances, 0);
            ++cancelled;
        }
    }
    EXPECT_GE(complete, 6u);
    EXPECT_GE(cancelled, 10u);
}

}  // namespace
}  // namespace kestrane::testing
