#include "backends/backends.h"

#include <algorithm>
#include <cctype>

#include "core/file_error.h"
#include "wmi/snapshot/snapshot.h"

namespace kestrane {

bool NamesSnapshotFile(const std::string& server) {
    // No host name ends in ".json", so a mistyped path still gets the file's
    // own error rather than a failed connection to a computer of that name.
    if (server.size() < 6) return false;
    std::string tail = server.substr(server.size() - 5);
    std::transform(tail.begin(), tail.end(), tail.begin(), [](unsigned char c) { return std::tolower(c); });
    return tail == ".json";
}

std::shared_ptr<wmi::Provider> OpenSnapshotComputer(const std::string& file) {
    try {
        return wmi::LoadSnapshot(file);
    } catch (const FileError& e) {
        throw wmi::Error(wmi::WBEM_E_FAILED, "SWbemLocator", e.what());
    }
}

}  // namespace kestrane
