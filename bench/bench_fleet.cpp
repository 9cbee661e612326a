// A fleet captured over SSH with a round-trip time added: one computer alone
// against 100 computers 16 at a time. Each computer is a relay on its own
// port of 127.0.0.1 in front of one throwaway sshd whose forced command
// serves the sample snapshot, so the work per computer is the same.
//   bench_fleet [--benchmark_filter=...]; the argument is the RTT in ms.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <memory>

#include "fleet/capture.h"
#include "fleet/store.h"
#include "support/sshd_harness.h"
#include "support/tcp_forwarder.h"
#include "wmi/snapshot/snapshot.h"
#include "wmi/ssh/ssh_client.h"

namespace {

using kestrane::testing::SshServer;
using kestrane::testing::TcpForwarder;

const std::string kSample = std::string(KESTRANE_FIXTURES) + "/snapshots/sample.json";

// The throwaway account (shell /bin/sh, no profile to run) runs copies it can reach.
// Removed at exit, the throwaway account with the server.
struct Fleet {
    ~Fleet() {
        delete server;
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }
    std::string dir, user, password;
    SshServer* server = nullptr;
};

const Fleet& TheFleet() {
    static Fleet f;
    static const bool started = [] {
        namespace fs = std::filesystem;
        f.dir = fs::temp_directory_path() / ("kestrane-bench-fleet-" + std::to_string(::getpid()));
        fs::create_directories(f.dir + "/store");
        fs::copy_file(KESTRANE_CLI, f.dir + "/kestrane-cli");
        fs::copy_file(kSample, f.dir + "/sample.json");
        for (const char* p : {"", "/kestrane-cli", "/sample.json"})
            fs::permissions(f.dir + p, fs::perms::others_read | fs::perms::others_exec, fs::perm_options::add);
        std::string why;
        // sshd drops unauthenticated connections beyond MaxStartups (10 by
        // default); sixteen log in at once here.
        f.server = SshServer::Start(&why, "ForceCommand " + f.dir + "/kestrane-cli --snapshot " + f.dir +
                                              "/sample.json serve\nMaxStartups 200\n")
                       .release();
        if (f.server) {
            ::setenv("HOME", f.server->clientHome().c_str(), 1);
            ::unsetenv("SSH_AUTH_SOCK");
            f.user = f.server->passwordUser();
            f.password = f.server->password();
        } else {
            std::fprintf(stderr, "no sshd: %s\n", why.c_str());
        }
        return true;
    }();
    (void)started;
    return f;
}

// Captures `computers` computers, `jobs` at a time, each behind its own relay.
void Capture(benchmark::State& state, int computers, int jobs) {
    const Fleet& fleet = TheFleet();
    if (!fleet.server || fleet.user.empty()) return state.SkipWithError("no sshd or no throwaway account");
    const auto rtt = std::chrono::milliseconds(state.range(0));
    std::vector<std::unique_ptr<TcpForwarder>> relays;
    std::vector<kestrane::fleet::Target> targets;
    for (int i = 0; i < computers; ++i) {
        relays.push_back(std::make_unique<TcpForwarder>(fleet.server->port(), rtt / 2));
        targets.push_back({"ssh://127.0.0.1:" + std::to_string(relays.back()->port()), ""});
    }
    kestrane::fleet::FleetCaptureOptions o;
    o.jobs = jobs;
    o.user = fleet.user;
    o.password = fleet.password;
    o.classes = wmi::LoadSnapshot(kSample)->classNames();
    o.connect = [](const std::string& name, const std::string& user, const std::string& password) {
        wmi::ssh::Options so;
        so.remoteCli = "kestrane-cli";
        so.unknownHost = [](const wmi::ssh::HostKeyQuestion&) { return wmi::ssh::HostKeyChoice::ConnectOnce; };
        return std::shared_ptr<wmi::Provider>(wmi::ssh::Connect(name, user, password, so));
    };
    const std::string dir = fleet.dir + "/store";
    std::size_t failed = 0;
    std::string firstError;
    for (auto _ : state) {
        std::filesystem::remove_all(dir);
        std::filesystem::create_directories(dir);
        auto store = kestrane::fleet::Store::Open(dir + "/fleet.sqlite");
        o.tempDir = dir;
        for (const auto& r : kestrane::fleet::CaptureFleet(*store, targets, o)) {
            if (r.status == "complete") continue;
            if (!failed++) firstError = r.errorText;
        }
        wmi::ssh::CloseAllSessions();
    }
    if (failed) state.SkipWithError((std::to_string(failed) + " captures failed, the first: " + firstError).c_str());
    state.counters["computers"] = computers;
}

void BM_CaptureOneComputer(benchmark::State& state) { Capture(state, 1, 1); }
void BM_CaptureHundredComputers16AtATime(benchmark::State& state) { Capture(state, 100, 16); }

BENCHMARK(BM_CaptureOneComputer)->Arg(20)->Arg(0)->ArgName("rtt_ms")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_CaptureHundredComputers16AtATime)
    ->Arg(20)
    ->Arg(0)
    ->ArgName("rtt_ms")
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
