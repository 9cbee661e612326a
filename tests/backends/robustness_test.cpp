// A computer name typed into Connect To may name a snapshot file: a broken,
// missing or mistyped file is a WMI failure naming the file, and any other
// name is an unreachable computer, never a crash.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "backends/backends.h"
#include "wmi/services.h"

namespace fs = std::filesystem;

TEST(BackendRobustness, SnapshotNamesFailNamingTheFileAndOtherNamesAreUnreachable) {
    const fs::path dir = fs::temp_directory_path() / ("kestrane-backends-" + std::to_string(::getpid()));
    fs::create_directories(dir / "folder.json");
    const std::string d = dir.string() + "/";
    std::ofstream(d + "cut.json") << R"({"format": "kestrane-snapshot", "version": 1, "classes": {)";
    std::ofstream(d + "binary.json", std::ios::binary) << std::string("\0\xFF\x01", 3);
    std::ofstream(d + "other.json") << R"({"format": "other", "version": 1, "classes": {}})";
    std::ofstream(d + "empty.json");
    const struct {
        std::string server;
        std::uint32_t number;
        std::string starts;  // the description
    } cases[] = {
        {d + "empty.json", wmi::WBEM_E_FAILED, d + "empty.json: "},
        {d + "cut.json", wmi::WBEM_E_FAILED, d + "cut.json: "},
        {d + "binary.json", wmi::WBEM_E_FAILED, d + "binary.json: "},
        {d + "other.json", wmi::WBEM_E_FAILED, d + "other.json: "},
        {d + "absent.json", wmi::WBEM_E_FAILED, d + "absent.json: cannot be opened for reading"},
        {d + "ABSENT.JSON", wmi::WBEM_E_FAILED, d + "ABSENT.JSON: "},  // the suffix in any case
        {d + "folder.json", wmi::WBEM_E_FAILED, d + "folder.json: "},
        {"ssh://127.0.0.1:1", wmi::RPC_S_SERVER_UNAVAILABLE, ""},
        {".json", wmi::RPC_S_SERVER_UNAVAILABLE, ""},  // no file name before the suffix
        {std::string(5000, 'x'), wmi::RPC_S_SERVER_UNAVAILABLE, ""},
        {"host\xFF\xFE", wmi::RPC_S_SERVER_UNAVAILABLE, ""},
    };
    for (const auto& c : cases) {
        wmi::Locator locator(kestrane::DefaultBackends("/"));
        try {
            locator.ConnectServer(c.server, "root\\cimv2", "", "");
            ADD_FAILURE() << c.server << ": no error";
        } catch (const wmi::Error& e) {
            EXPECT_EQ(e.unsignedNumber(), c.number) << c.server.substr(0, 60);
            EXPECT_EQ(e.description().rfind(c.starts, 0), 0u) << e.description().substr(0, 200);
        }
    }
    fs::remove_all(dir);
}
