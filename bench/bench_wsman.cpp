// The WS-Management back-end against the Python test server on 127.0.0.1
// (NTLM, sealed messages), with round-trip time added by a relay.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <sstream>

#include "listing/listing.h"
#include "support/sshd_harness.h"
#include "support/tcp_forwarder.h"
#include "wmi/wsman/wsman_client.h"

namespace {

using kestrane::testing::Subprocess;
using kestrane::testing::TcpForwarder;

const std::string kSample = std::string(KESTRANE_FIXTURES) + "/snapshots/sample.json";

int ServerPort() {
    static std::unique_ptr<Subprocess> server;
    static int port = 0;
    if (!server) {
        server = Subprocess::Spawn({"/usr/bin/python3", std::string(KESTRANE_SOURCE_DIR) + "/tests/wsman/wsman_server.py",
                                    "--snapshot", kSample, "--user", "bench", "--password", "bench-pw", "--port", "0",
                                    "--generate", "Win32_Process=1000"});
        if (server && server->waitForOutput("PORT ", std::chrono::seconds(20))) {
            std::istringstream in(server->output().substr(server->output().find("PORT ") + 5));
            in >> port;
        }
    }
    return port;
}

wmi::wsman::Endpoint At(int port) { return *wmi::wsman::ParseEndpoint("http://127.0.0.1:" + std::to_string(port) + "/wsman"); }

// Win32_Process with 1 000 instances into the list model, pages of 100
// (the client's default), on a kept session.
void BM_ProcessList1000(benchmark::State& state) {
    const int port = ServerPort();
    if (!port) return state.SkipWithError("no test server");
    const auto e = At(port);
    for (auto _ : state) {
        kestrane::ListModel list;
        kestrane::HeadlessHost host;
        host.selectedKey = "Win32_Process";
        kestrane::List_Items_Vertically({"Win32_Process", "Process", "Info"}, list, host, [&] {
            return wmi::Services(wmi::wsman::Connect(e, "bench", "bench-pw", {}));
        });
        if (host.listedCount != 1000) state.SkipWithError("not 1000 instances");
    }
    wmi::wsman::CloseAllSessions();
}
BENCHMARK(BM_ProcessList1000)->Unit(benchmark::kMillisecond)->UseRealTime();

// The root summary with an RTT (ms) added; the first pass of a new session
// reads each class's schema, later passes do not.
void BM_RootSummary(benchmark::State& state) {
    const int port = ServerPort();
    if (!port) return state.SkipWithError("no test server");
    TcpForwarder relay(port, std::chrono::microseconds(state.range(0) * 500));
    const auto e = At(relay.port());
    const bool fresh = state.range(1) != 0;
    long trips = 0;
    for (auto _ : state) {
        if (fresh) wmi::wsman::CloseAllSessions();
        relay.resetCounters();
        kestrane::ListModel list;
        kestrane::HeadlessHost host;
        kestrane::ShowRootSummary(list, host, [&] { return wmi::Services(wmi::wsman::Connect(e, "bench", "bench-pw", {})); });
        trips += relay.roundTrips();
    }
    state.counters["round_trips"] = static_cast<double>(trips) / static_cast<double>(state.iterations());
    wmi::wsman::CloseAllSessions();
}
BENCHMARK(BM_RootSummary)->Args({0, 0})->Args({10, 0})->Args({10, 1})->ArgNames({"rtt_ms", "new_session"})
    ->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
