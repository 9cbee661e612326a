// The SSH back-end against a throwaway OpenSSH server on 127.0.0.1 running
// this build's kestrane-cli serve, beside the same work done locally.
#include <benchmark/benchmark.h>

#include <cstdlib>

#include "listing/listing.h"
#include "support/sshd_harness.h"
#include "support/tcp_forwarder.h"
#include "wmi/connection.h"
#include "wmi/linux/linux_provider.h"
#include "wmi/ssh/ssh_client.h"

namespace {

using kestrane::testing::SshServer;
using kestrane::testing::TcpForwarder;

SshServer* Server() {
    static SshServer* server = [] {
        std::string why;
        SshServer* s = SshServer::Start(&why).release();
        if (s) {
            ::setenv("HOME", s->clientHome().c_str(), 1);
            ::unsetenv("SSH_AUTH_SOCK");
        }
        return s;
    }();
    return server;
}

wmi::ssh::Options Opts() {
    wmi::ssh::Options o;
    o.remoteCli = KESTRANE_CLI;
    o.unknownHost = [](const wmi::ssh::HostKeyQuestion&) { return wmi::ssh::HostKeyChoice::ConnectOnce; };
    return o;
}

std::string Url(int port) { return "ssh://" + Server()->currentUser() + "@127.0.0.1:" + std::to_string(port); }

std::size_t ListVertically(const kestrane::ServicesFactory& f, const char* cls) {
    kestrane::ListModel list;
    kestrane::HeadlessHost host;
    host.selectedKey = cls;
    kestrane::List_Items_Vertically({cls, cls, "Info"}, list, host, f);
    return static_cast<std::size_t>(host.listedCount);
}

// Win32_Process listed into the model, locally and over SSH on loopback
// (session kept between listings, as the window keeps it).
void BM_ProcessListLocal(benchmark::State& state) {
    std::size_t n = 0;
    for (auto _ : state)
        n += ListVertically([] { return wmi::Services(wmi::MakeLinuxProvider("/")); }, "Win32_Process");
    state.counters["instances"] = benchmark::Counter(static_cast<double>(n), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ProcessListLocal)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ProcessListOverSsh(benchmark::State& state) {
    if (!Server()) return state.SkipWithError("no sshd");
    const std::string url = Url(Server()->port());
    const wmi::ssh::Options o = Opts();
    std::size_t n = 0;
    for (auto _ : state)
        n += ListVertically([&] { return wmi::Services(wmi::ssh::Connect(url, "", "", o)); }, "Win32_Process");
    state.counters["instances"] = benchmark::Counter(static_cast<double>(n), benchmark::Counter::kIsRate);
    wmi::ssh::CloseAllSessions();
}
BENCHMARK(BM_ProcessListOverSsh)->Unit(benchmark::kMillisecond)->UseRealTime();

// One small class on a kept session: the cost of a round trip.
void BM_SmallClassOverSsh(benchmark::State& state) {
    if (!Server()) return state.SkipWithError("no sshd");
    const std::string url = Url(Server()->port());
    const wmi::ssh::Options o = Opts();
    for (auto _ : state) {
        wmi::Services svc(wmi::ssh::Connect(url, "", "", o));
        auto set = svc.ExecQuery("SELECT * FROM Win32_OperatingSystem");
        while (set.Next()) {
        }
    }
    wmi::ssh::CloseAllSessions();
}
BENCHMARK(BM_SmallClassOverSsh)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ProcessDrainOverSsh(benchmark::State& state) {
    if (!Server()) return state.SkipWithError("no sshd");
    const std::string url = Url(Server()->port());
    const wmi::ssh::Options o = Opts();
    std::size_t n = 0;
    for (auto _ : state) {
        wmi::Services svc(wmi::ssh::Connect(url, "", "", o));
        auto set = svc.ExecQuery("SELECT * FROM Win32_Process");
        while (set.Next()) ++n;
    }
    state.counters["instances"] = benchmark::Counter(static_cast<double>(n), benchmark::Counter::kIsRate);
    wmi::ssh::CloseAllSessions();
}
BENCHMARK(BM_ProcessDrainOverSsh)->Unit(benchmark::kMillisecond)->UseRealTime();

// The root summary with a round-trip time added by a relay (argument: RTT
// in ms): on a kept session, and with the connection opened each time.
void BM_RootSummaryOverSsh(benchmark::State& state) {
    if (!Server()) return state.SkipWithError("no sshd");
    TcpForwarder relay(Server()->port(), std::chrono::microseconds(state.range(0) * 500));
    const std::string url = Url(relay.port());
    const wmi::ssh::Options o = Opts();
    const bool fresh = state.range(1) != 0;
    long trips = 0;
    for (auto _ : state) {
        if (fresh) wmi::ssh::CloseAllSessions();
        relay.resetCounters();
        kestrane::ListModel list;
        kestrane::HeadlessHost host;
        kestrane::ShowRootSummary(list, host, [&] { return wmi::Services(wmi::ssh::Connect(url, "", "", o)); });
        trips += relay.roundTrips();
    }
    state.counters["round_trips"] = static_cast<double>(trips) / static_cast<double>(state.iterations());
    wmi::ssh::CloseAllSessions();
}
BENCHMARK(BM_RootSummaryOverSsh)
    ->Args({0, 0})
    ->Args({10, 0})
    ->Args({10, 1})
    ->ArgNames({"rtt_ms", "connect"})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void BM_RootSummaryLocal(benchmark::State& state) {
    for (auto _ : state) {
        kestrane::ListModel list;
        kestrane::HeadlessHost host;
        kestrane::ShowRootSummary(list, host, [] { return wmi::Services(wmi::MakeLinuxProvider("/")); });
    }
}
BENCHMARK(BM_RootSummaryLocal)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
