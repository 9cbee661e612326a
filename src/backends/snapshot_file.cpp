#include "backends/backends.h"

#include <filesystem>

#include "core/file_error.h"
#include "core/platform.h"
#include "wmi/snapshot.h"

namespace kestrane {

bool NamesSnapshotFile(const std::string& server) {
    if (server.size() < 6 || server.compare(server.size() - 5, 5, ".json") != 0) return false;
    std::error_code ec;
    return std::filesystem::is_regular_file(PathFromUtf8(server), ec);
}

std::shared_ptr<wmi::Provider> OpenSnapshotComputer(const std::string& file) {
    try {
        return wmi::LoadSnapshot(file);
    } catch (const FileError& e) {
        throw wmi::Error(wmi::WBEM_E_FAILED, "SWbemLocator", e.what());
    }
}

}  // namespace kestrane
