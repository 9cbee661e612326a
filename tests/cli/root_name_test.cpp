// A tree under --root is named by its own host name wherever the program
// names the computer: the summary's export, the capture.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <unistd.h>

#include "cli/cli.h"
#include "wmi/snapshot/snapshot.h"

namespace {

std::string Scratch(const std::string& name) {
    return (std::filesystem::temp_directory_path() / ("kestrane-root-" + std::to_string(::getpid()) + "-" + name))
        .string();
}

std::string ReadAll(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

}  // namespace

TEST(CliRoot, TheTreeNamesItselfInExportsAndCaptures) {
    struct Case {
        const char* fixture;
        std::string name;
    } cases[] = {{"server", "srv01.example.net"},
                 {"printserver", std::string(KESTRANE_FIXTURES) + "/printserver"}};  // no host name: the directory
    for (const auto& c : cases) {
        const std::string root = std::string(KESTRANE_FIXTURES) + "/" + c.fixture;
        std::ostringstream out, err;
        const std::string html = Scratch("summary.html");
        ASSERT_EQ(kestrane::cli::Run({"--root", root, "export", "[Root...]", html}, out, err), 0) << err.str();
        EXPECT_NE(ReadAll(html).find("<H2>" + c.name + "</H2>"), std::string::npos) << c.fixture;
        std::filesystem::remove(html);

        const std::string snap = Scratch("capture.json");
        ASSERT_EQ(kestrane::cli::Run({"--root", root, "capture", snap}, out, err), 0) << err.str();
        EXPECT_EQ(wmi::LoadSnapshot(snap)->computer(), c.name) << c.fixture;
        std::filesystem::remove(snap);
    }
}
