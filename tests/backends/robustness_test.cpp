// A computer name typed into Connect To may name a snapshot file: a broken
// or missing file is a WMI failure naming the file, and any other name is an
// unreachable computer, never a crash.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "backends/backends.h"
#include "wmi/services.h"

namespace fs = std::filesystem;

namespace {

std::uint32_t ConnectError(const std::string& server, std::string* description = nullptr) {
    wmi::Locator locator(kestrane::DefaultBackends("/"));
    try {
        locator.ConnectServer(server, "root\\cimv2", "", "");
    } catch (const wmi::Error& e) {
        if (description) *description = e.description();
        return e.unsignedNumber();
    }
    return 0;
}

class BackendRobustness : public ::testing::Test {
protected:
    fs::path dir = fs::temp_directory_path() / ("kestrane-backends-" + std::to_string(::getpid()));
    void SetUp() override { fs::create_directories(dir); }
    void TearDown() override { fs::remove_all(dir); }
};

}  // namespace

TEST_F(BackendRobustness, ABrokenSnapshotNamedAsTheComputerIsAFailureNamingTheFile) {
    const std::pair<const char*, std::string> files[] = {
        {"empty.json", ""},
        {"cut.json", R"({"format": "kestrane-snapshot", "version": 1, "classes": {)"},
        {"binary.json", std::string("\0\xFF\x01", 3)},
        {"other.json", R"({"format": "other", "version": 1, "classes": {}})"},
    };
    for (const auto& [name, text] : files) {
        const std::string path = (dir / name).string();
        std::ofstream(path, std::ios::binary) << text;
        std::string description;
        EXPECT_EQ(ConnectError(path, &description), wmi::WBEM_E_FAILED) << name;
        EXPECT_NE(description.find(path), std::string::npos) << description;
    }
}

TEST_F(BackendRobustness, AMistypedSnapshotPathIsTheFileErrorNotAComputer) {
    fs::create_directories(dir / "folder.json");
    for (const std::string& path : {(dir / "absent.json").string(), (dir / "ABSENT.JSON").string(),
                                    (dir / "folder.json").string()}) {
        std::string description;
        EXPECT_EQ(ConnectError(path, &description), wmi::WBEM_E_FAILED) << path;
        EXPECT_EQ(description.rfind(path + ": ", 0), 0u) << description;
    }
    std::string description;
    ConnectError((dir / "absent.json").string(), &description);
    EXPECT_NE(description.find("cannot be opened for reading"), std::string::npos) << description;
}

TEST_F(BackendRobustness, NamesThatAreNoSnapshotFileAreUnreachableComputers) {
    for (const std::string& server : {std::string("ssh://127.0.0.1:1"), std::string(".json"), std::string(5000, 'x'),
                                      std::string("host\xFF\xFE")}) {
        EXPECT_EQ(ConnectError(server), wmi::RPC_S_SERVER_UNAVAILABLE) << server.substr(0, 60);
    }
}
