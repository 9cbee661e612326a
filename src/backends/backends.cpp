#include "backends/backends.h"

#include <sys/stat.h>

#include "core/file_error.h"
#include "wmi/linux/linux_provider.h"
#include "wmi/snapshot.h"

namespace kestrane {

bool NamesSnapshotFile(const std::string& server) {
    if (server.size() < 6 || server.compare(server.size() - 5, 5, ".json") != 0) return false;
    struct stat st {};
    return ::stat(server.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

wmi::Backends DefaultBackends(const std::string& root, std::shared_ptr<const wmi::ssh::Options> ssh) {
    if (!ssh) ssh = std::make_shared<wmi::ssh::Options>();
    wmi::Backends b;
    b.local = [root] { return wmi::MakeLinuxProvider(root); };
    // A recorded computer is browsed by naming its snapshot file as the
    // computer.
    b.remote = [ssh](const std::string& server, const std::string& user,
                     const std::string& password) -> std::shared_ptr<wmi::Provider> {
        if (!NamesSnapshotFile(server)) return wmi::ssh::Connect(server, user, password, *ssh);
        try {
            return wmi::LoadSnapshot(server);
        } catch (const FileError& e) {
            throw wmi::Error(wmi::WBEM_E_FAILED, "SWbemLocator", e.what());
        }
    };
    return b;
}

}  // namespace kestrane
