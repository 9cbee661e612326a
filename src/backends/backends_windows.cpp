// Windows: WMI itself answers, through COM here and DCOM elsewhere.
#include "backends/backends.h"

#include "wmi/windows/com_provider.h"

namespace kestrane {

wmi::Backends DefaultBackends(const std::string&, std::shared_ptr<const wmi::ssh::Options>,
                              std::shared_ptr<const wmi::wsman::Options>) {
    wmi::Backends b;
    b.local = [] { return wmi::com::Connect("", "", ""); };
    b.remote = [](const std::string& server, const std::string& user,
                  const std::string& password) -> std::shared_ptr<wmi::Provider> {
        if (NamesSnapshotFile(server)) return OpenSnapshotComputer(server);
        return wmi::com::Connect(server, user, password);
    };
    return b;
}

// WMI keeps its own answers.
void KeepLocalAnswersBetweenRuns(bool) {}

// DCOM keeps no session of the program's own.
void CloseIdleRemoteSessions() {}
void CloseAllRemoteSessions() {}

std::string RootComputerName(const std::string& root) { return root; }

}  // namespace kestrane
