#include "backends/backends.h"

#include <algorithm>
#include <cctype>

#include "wmi/linux/answer_cache.h"
#include "wmi/linux/linux_provider.h"

namespace kestrane {

namespace {

// A bare name: WS-Management first (Windows is what Kestrane exists for),
// then SSH; only an unreachable service moves on to the next.
std::shared_ptr<wmi::Provider> ConnectBare(const std::string& server, const std::string& user,
                                           const std::string& password, const wmi::ssh::Options& sshOptions,
                                           const wmi::wsman::Options& wsmanOptions) {
    std::string why;
    if (!wmi::ssh::ParseTarget(server, &why))
        throw wmi::Error(wmi::RPC_S_SERVER_UNAVAILABLE, "SWbemLocator",
                         std::string(wmi::StandardDescription(wmi::RPC_S_SERVER_UNAVAILABLE)) + " \"" + server +
                             "\": " + why);
    constexpr std::chrono::milliseconds kAttempt{3000};
    std::string first;
    try {
        wmi::wsman::Options o = wsmanOptions;
        o.connectTimeout = std::min(o.connectTimeout, kAttempt);
        return wmi::wsman::Connect(wmi::wsman::BareEndpoint(server), user, password, o);
    } catch (const wmi::Error& e) {
        if (e.unsignedNumber() != wmi::RPC_S_SERVER_UNAVAILABLE) throw;
        first = e.description();
    }
    try {
        wmi::ssh::Options o = sshOptions;
        o.connectTimeout = std::min(o.connectTimeout, kAttempt);
        return wmi::ssh::Connect(server, user, password, o);
    } catch (const wmi::Error& e) {
        if (e.unsignedNumber() != wmi::RPC_S_SERVER_UNAVAILABLE) throw;
        const std::string head = wmi::StandardDescription(wmi::RPC_S_SERVER_UNAVAILABLE);
        auto detail = [&](const std::string& d) { return d.rfind(head, 0) == 0 ? d.substr(head.size() + 1) : d; };
        throw wmi::Error(wmi::RPC_S_SERVER_UNAVAILABLE, "SWbemLocator",
                         head + " Tried " + detail(first) + "; then " + detail(e.description()));
    }
}

}  // namespace

void KeepLocalAnswersBetweenRuns(bool on) { wmi::lnx::KeepAnswersBetweenRuns(on); }

void CloseIdleRemoteSessions() {
    wmi::ssh::CloseIdleSessions();
    wmi::wsman::CloseIdleSessions();
}

void CloseAllRemoteSessions() {
    wmi::ssh::CloseAllSessions();
    wmi::wsman::CloseAllSessions();
}

std::string RootComputerName(const std::string& root) {
    std::string name = wmi::MakeLinuxProvider(root)->computerName();
    return name.empty() ? root : name;
}

wmi::Backends DefaultBackends(const std::string& root, std::shared_ptr<const wmi::ssh::Options> ssh,
                              std::shared_ptr<const wmi::wsman::Options> wsman) {
    if (!ssh) ssh = std::make_shared<wmi::ssh::Options>();
    if (!wsman) wsman = std::make_shared<wmi::wsman::Options>();
    wmi::Backends b;
    b.local = [root] { return wmi::MakeLinuxProvider(root); };
    // A recorded computer is browsed by naming its snapshot file as the
    // computer.
    b.remote = [ssh, wsman](const std::string& server, const std::string& user,
                            const std::string& password) -> std::shared_ptr<wmi::Provider> {
        if (wmi::wsman::IsWsmanUrl(server)) {
            std::string why;
            auto e = wmi::wsman::ParseEndpoint(server, &why);
            if (!e)
                throw wmi::Error(wmi::RPC_S_SERVER_UNAVAILABLE, "SWbemLocator",
                                 std::string(wmi::StandardDescription(wmi::RPC_S_SERVER_UNAVAILABLE)) + " \"" +
                                     server + "\": " + why);
            return wmi::wsman::Connect(*e, user, password, *wsman);
        }
        if (wmi::ssh::IsSshUrl(server)) return wmi::ssh::Connect(server, user, password, *ssh);
        if (!NamesSnapshotFile(server)) return ConnectBare(server, user, password, *ssh, *wsman);
        return OpenSnapshotComputer(server);
    };
    return b;
}

}  // namespace kestrane
