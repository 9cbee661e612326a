// Command lines come from people and scripts: every bad one ends with its
// exit status and a message on standard error, prints nothing half-way to
// standard output, and never damages a file that was already there.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "cli/cli.h"

namespace fs = std::filesystem;

namespace {

const std::string kSample = std::string(KESTRANE_FIXTURES) + "/snapshots/sample.json";

struct Result {
    int code;
    std::string out, err;
};

Result Cli(const std::vector<std::string>& args) {
    std::ostringstream out, err;
    int code = kestrane::cli::Run(args, out, err);
    return {code, out.str(), err.str()};
}

std::string Read(const fs::path& p) {
    std::ifstream f(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), {}};
}

class CliRobustness : public ::testing::Test {
protected:
    fs::path dir = fs::temp_directory_path() / ("kestrane-cli-rb-" + std::to_string(::getpid()) + "-" +
                                                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
    void SetUp() override { fs::create_directories(dir); }
    void TearDown() override { fs::remove_all(dir); }
};

}  // namespace

TEST_F(CliRobustness, BadArgumentsAreUsageErrorsWithNothingPrinted) {
    const std::vector<std::vector<std::string>> cases = {
        {"tree", "--level", "abc"},
        {"tree", "--level", "-1"},
        {"tree", "--level", "0"},
        {"tree", "--level", "99999999999999999999"},
        {"tree", "--level", ""},
        {"tree", "--level"},
        {"list", "Win32_Processor", "extra"},
        {"--snapshot", kSample, "list", "../../etc/passwd"},
        {"--snapshot", kSample, "list", "Win32-Processor"},
        {"--snapshot", kSample, "list", std::string(10000, 'W')},
        {"--snapshot", kSample, "export", "No Such Node", (dir / "x.html").string()},
        {"--snapshot", kSample, "export", "Win32_Processor"},
        {"--root"},
        {"summary", "--bogus"},
        {"\xFF\xFE"},
    };
    for (const auto& args : cases) {
        Result r = Cli(args);
        EXPECT_EQ(r.code, 2) << testing::PrintToString(args);
        EXPECT_TRUE(r.out.empty()) << testing::PrintToString(args);
        EXPECT_EQ(r.err.rfind("kestrane-cli: ", 0), 0u) << r.err;
    }
    EXPECT_FALSE(fs::exists(dir / "x.html"));
}

TEST_F(CliRobustness, UnreadableSnapshotsExitFourNamingTheFile) {
    std::ofstream(dir / "empty.json").flush();
    std::ofstream(dir / "binary.json", std::ios::binary) << std::string("\0\x01\x02\xFF", 4);
    std::ofstream(dir / "other.json") << R"({"format": "something-else", "version": 1, "classes": {}})";
    fs::create_directories(dir / "dir.json");
    for (const char* name : {"empty.json", "binary.json", "other.json", "dir.json", "absent.json"}) {
        const std::string path = (dir / name).string();
        Result r = Cli({"--snapshot", path, "summary"});
        EXPECT_EQ(r.code, 4) << name;
        EXPECT_TRUE(r.out.empty()) << name;
        EXPECT_NE(r.err.find(path), std::string::npos) << r.err;
    }
}

TEST_F(CliRobustness, OutputFilesThatCannotBeWrittenLeaveWhatWasThere) {
    // Root may write anywhere, so the failures come from the path itself.
    std::ofstream(dir / "plain") << "kept";
    fs::create_directories(dir / "folder");
    std::ofstream(dir / "folder" / "inside") << "kept too";
    const std::vector<fs::path> targets = {dir / "plain" / "x.html", dir / "folder", dir / "absent" / "x.html"};
    for (const fs::path& target : targets) {
        Result e = Cli({"--snapshot", kSample, "export", "Win32_Processor", target.string()});
        EXPECT_EQ(e.code, 4) << target;
        EXPECT_NE(e.err.find(target.string()), std::string::npos) << e.err;
        Result c = Cli({"--snapshot", kSample, "capture", target.string()});
        EXPECT_EQ(c.code, 4) << target;
        EXPECT_NE(c.err.find(target.string()), std::string::npos) << c.err;
    }
    EXPECT_EQ(Read(dir / "plain"), "kept");
    EXPECT_EQ(Read(dir / "folder" / "inside"), "kept too");
    EXPECT_FALSE(fs::exists(dir / "absent"));
    // No temporary file is left behind by a failed capture.
    std::size_t entries = 0;
    for ([[maybe_unused]] const auto& e : fs::recursive_directory_iterator(dir)) ++entries;
    EXPECT_EQ(entries, 3u);
}
