#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "cli/cli.h"
#include "core/version.h"

namespace fs = std::filesystem;

namespace {

const std::string kSample = std::string(KESTRANE_FIXTURES) + "/snapshots/sample.json";

struct Result {
    int code;
    std::string out, err;
    std::vector<std::string> lines() const {
        std::vector<std::string> v;
        std::istringstream in(out);
        for (std::string l; std::getline(in, l);) v.push_back(l);
        return v;
    }
};

Result Cli(std::vector<std::string> args) {
    std::ostringstream out, err;
    int code = kestrane::cli::Run(args, out, err);
    return {code, out.str(), err.str()};
}

class CliTest : public ::testing::Test {
protected:
    fs::path dir = fs::temp_directory_path() / ("kestrane-cli-" + std::to_string(::getpid()) + "-" +
                                                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
    void SetUp() override { fs::create_directories(dir); }
    void TearDown() override { fs::remove_all(dir); }
    std::string Read(const fs::path& p) {
        std::ifstream f(p, std::ios::binary);
        return {std::istreambuf_iterator<char>(f), {}};
    }
};

// Command lines come from people and scripts: every bad one ends with its
// exit status and a message on standard error, prints nothing half-way to
// standard output, and never damages a file that was already there.
class CliRobustness : public CliTest {};

}  // namespace

TEST_F(CliTest, SummaryAsTextAndJson) {
    Result r = Cli({"--snapshot", kSample, "summary"});
    ASSERT_EQ(r.code, 0) << r.err;
    auto lines = r.lines();
    ASSERT_GT(lines.size(), 10u);
    EXPECT_EQ(lines[0], "Computer");
    EXPECT_EQ(lines[1].rfind("Name", 0), 0u);
    EXPECT_NE(lines[1].find("ORION"), std::string::npos);

    Result j = Cli({"--snapshot", kSample, "--json", "summary"});
    ASSERT_EQ(j.code, 0) << j.err;
    auto jl = j.lines();
    ASSERT_EQ(jl.size(), lines.size());
    auto first = nlohmann::json::parse(jl[0]);
    EXPECT_EQ(first["text"], "Computer");
    EXPECT_EQ(first["icon"], "Computer");
    EXPECT_EQ(first["bold"], true);
    EXPECT_EQ(first["sub"], nlohmann::json::array());
    EXPECT_EQ(jl[0].rfind("{\"key\":", 0), 0u);  // fields in their documented order
    auto second = nlohmann::json::parse(jl[1]);
    EXPECT_EQ(second["sub"][0], "ORION");
    EXPECT_EQ(second["icon"], "Info2");
}

TEST_F(CliTest, ListVerticalAndHorizontal) {
    Result r = Cli({"--snapshot", kSample, "--json", "list", "Win32_Processor"});
    ASSERT_EQ(r.code, 0) << r.err;
    auto head = nlohmann::json::parse(r.lines().at(0));
    EXPECT_EQ(head["key"], "Win32_Processor1");
    EXPECT_EQ(head["text"], "Processor");  // the catalogue's text and image
    EXPECT_EQ(head["icon"], "Processor");
    EXPECT_EQ(head["subBold"], true);

    Result h = Cli({"--snapshot", kSample, "--json", "list", "win32_PROCESSOR"});
    // Any letter case, as WMI matches; the rows carry the canonical name.
    ASSERT_EQ(h.code, 0) << h.err;
    EXPECT_EQ(nlohmann::json::parse(h.lines().at(0))["key"], "Win32_Processor1");

    h = Cli({"--snapshot", kSample, "--json", "list", "Win32_Processor", "--horizontal"});
    auto hl = h.lines();
    ASSERT_EQ(hl.size(), 3u);
    auto cols = nlohmann::json::parse(hl[0]);
    ASSERT_TRUE(cols.contains("columns"));
    EXPECT_GT(cols["columns"].size(), 20u);
    EXPECT_EQ(nlohmann::json::parse(hl[1])["key"], "Val1");

    Result t = Cli({"--snapshot", kSample, "list", "Win32_Processor", "--horizontal"});
    auto tl = t.lines();
    ASSERT_EQ(tl.size(), 3u);
    EXPECT_EQ(tl[0].rfind("AddressWidth", 0), 0u);
}

TEST_F(CliTest, ErrorsAndExitCodes) {
    Result r = Cli({"--snapshot", kSample, "list", "Win32_Keyboard"});
    EXPECT_EQ(r.code, 3);
    EXPECT_EQ(r.err, "-2147217392:Invalid class: Win32_Keyboard\n");

    for (auto args : std::vector<std::vector<std::string>>{
             {}, {"frobnicate"}, {"tree", "--level", "4"}, {"list"}, {"--snapshot"},
             {"--bogus", "summary"}, {"--snapshot", kSample, "--root", "/", "summary"}}) {
        Result u = Cli(args);
        EXPECT_EQ(u.code, 2) << testing::PrintToString(args);
        EXPECT_EQ(u.err.rfind("kestrane-cli: ", 0), 0u) << u.err;
        EXPECT_EQ(u.err.find('\n'), u.err.size() - 1) << u.err;  // one line that points at --help
        EXPECT_NE(u.err.find("try --help"), std::string::npos);
    }

    Result missing = Cli({"--snapshot", (dir / "nope.json").string(), "summary"});
    EXPECT_EQ(missing.code, 4);
    EXPECT_NE(missing.err.find("nope.json"), std::string::npos);

    std::ofstream(dir / "bad.json") << "{\"format\": \"kestrane-snapshot\", \"version\": 1,";
    Result bad = Cli({"--snapshot", (dir / "bad.json").string(), "summary"});
    EXPECT_EQ(bad.code, 4);
    EXPECT_NE(bad.err.find("bad.json"), std::string::npos);

    Result noRoot = Cli({"--root", (dir / "no-such-root").string(), "summary"});
    EXPECT_EQ(noRoot.code, 4);
    EXPECT_NE(noRoot.err.find("no-such-root"), std::string::npos);

    Result help = Cli({"--help"});
    EXPECT_EQ(help.code, 0);
    EXPECT_NE(help.out.find("coverage"), std::string::npos);
}

TEST_F(CliTest, TreeInTreeOrder) {
    Result r = Cli({"tree"});
    ASSERT_EQ(r.code, 0);
    auto lines = r.lines();
    ASSERT_EQ(lines.size(), 318u);
    EXPECT_EQ(lines[1], "  Computer System Hardware");
    EXPECT_EQ(lines[2], "    Input Device");
    EXPECT_EQ(lines[3], "      Keyboard");
    EXPECT_EQ(Cli({"tree", "--level", "1"}).lines().size(), 162u);

    auto jl = Cli({"tree", "--json", "--level", "2"}).lines();
    ASSERT_EQ(jl.size(), 219u);
    auto root = nlohmann::json::parse(jl[0]);
    EXPECT_EQ(root["key"], "[Root...]");
    EXPECT_TRUE(root["parent"].is_null());
    auto kb = nlohmann::json::parse(jl[3]);
    EXPECT_EQ(kb["key"], "Win32_Keyboard");
    EXPECT_EQ(kb["parent"], "Input Device");
    EXPECT_EQ(kb["depth"], 3);
    EXPECT_EQ(kb["image"], "Keyboard");
}

TEST_F(CliTest, ExportAppendsAndReportsUnwritablePaths) {
    fs::path out = dir / "p.html";
    ASSERT_EQ(Cli({"--snapshot", kSample, "export", "Win32_Processor", out.string()}).code, 0);
    std::string once = Read(out);
    EXPECT_EQ(once.rfind("\r\n<H2>Processor</H2>\r\n", 0), 0u);
    ASSERT_EQ(Cli({"--snapshot", kSample, "export", "Win32_Processor", out.string()}).code, 0);
    EXPECT_EQ(Read(out), once + once);

    Result bad = Cli({"--snapshot", kSample, "export", "Win32_Processor", (dir / "no/such/dir/x.html").string()});
    EXPECT_EQ(bad.code, 4);
    EXPECT_NE(bad.err.find("x.html"), std::string::npos);
}

TEST_F(CliTest, CaptureRecordsWhatTheComputerAnswers) {
    fs::path snap = dir / "cap.json";
    Result c = Cli({"--snapshot", kSample, "capture", snap.string()});
    ASSERT_EQ(c.code, 0) << c.err;
    EXPECT_EQ(Cli({"--snapshot", snap.string(), "summary"}).out, Cli({"--snapshot", kSample, "summary"}).out);
    EXPECT_EQ(Cli({"--snapshot", snap.string(), "list", "Win32_DMAChannel"}).out,
              Cli({"--snapshot", kSample, "list", "Win32_DMAChannel"}).out);
}

TEST_F(CliTest, CoverageHasOneLinePerCatalogueClass) {
    Result r = Cli({"--snapshot", kSample, "coverage"});
    ASSERT_EQ(r.code, 0);
    auto lines = r.lines();
    EXPECT_EQ(lines.size(), 284u);
    EXPECT_NE(std::find(lines.begin(), lines.end(), "Win32_Processor\t2"), lines.end());
    EXPECT_NE(std::find(lines.begin(), lines.end(), "Win32_DisplayConfiguration\t0"), lines.end());
    EXPECT_NE(std::find(lines.begin(), lines.end(), "Win32_Keyboard\t0x80041010"), lines.end());
}

TEST_F(CliTest, LinuxProviderCoverageOnAFixtureTree) {
    Result r = Cli({"--root", std::string(KESTRANE_FIXTURES) + "/server", "coverage"});
    ASSERT_EQ(r.code, 0) << r.err;
    auto lines = r.lines();
    ASSERT_EQ(lines.size(), 284u);
    long answering = std::count_if(lines.begin(), lines.end(),
                                   [](const std::string& l) { return l.find("\t0x") == std::string::npos; });
    EXPECT_GE(answering, 120);
    // Whatever a class does not answer, it says so with the invalid-class number only.
    for (const auto& l : lines) {
        if (l.find("\t0x") != std::string::npos) {
            EXPECT_NE(l.find("\t0x80041010"), std::string::npos) << l;
        }
    }
}

TEST(CliRemote, LoginOptionsAndThePasswordsWayIn) {
    auto run = [](std::vector<std::string> args, const std::string& input = "") {
        std::istringstream in(input);
        std::ostringstream out, err;
        int code = kestrane::cli::Run(args, in, out, err);
        return Result{code, out.str(), err.str()};
    };
    // Never from an argument, where every user of the computer can read it.
    Result r = run({"--computer", "web01", "--password", "s3cret", "summary"});
    EXPECT_EQ(r.code, 2);
    EXPECT_NE(r.err.find("never taken from the command line"), std::string::npos);
    for (auto args : std::vector<std::vector<std::string>>{{"--user", "me", "summary"},
                                                           {"--accept-new-host-key", "summary"},
                                                           {"--computer", "web01", "--snapshot", kSample, "summary"},
                                                           {"--computer", "web01", "serve"},
                                                           {"--computer", "web01", "--password-stdin", "summary"}})
        EXPECT_EQ(run(args).code, 2) << args[0];

    // A password from the environment is read once and leaves it; no error
    // text repeats it.
    ::setenv("KESTRANE_PASSWORD", "env-s3cret", 1);
    r = run({"--computer", "not a name", "list", "Win32_BIOS"});
    EXPECT_EQ(r.code, 3);
    EXPECT_EQ(r.err.rfind("-2147023174:The RPC server is unavailable.", 0), 0u) << r.err;
    EXPECT_EQ(r.err.find("env-s3cret"), std::string::npos);
    EXPECT_EQ(std::getenv("KESTRANE_PASSWORD"), nullptr);
    r = run({"--computer", "not a name", "--password-stdin", "summary"}, "stdin-s3cret\n");
    EXPECT_EQ(r.code, 3);
    EXPECT_EQ(r.err.find("stdin-s3cret"), std::string::npos);
}

// Why values are missing goes to standard error as notes; the rows on
// standard output are those of a listing without them.
TEST_F(CliTest, ReasonsAreNotesOnStandardErrorOnly) {
    fs::create_directories(dir / "etc");
    std::ofstream(dir / "etc/hostname") << "tree\n";
    Result services = Cli({"--root", dir.string(), "list", "Win32_Service"});
    ASSERT_EQ(services.code, 0) << services.err;
    EXPECT_EQ(services.err, "note: systemd is not running: service states are unknown\n");
    EXPECT_EQ(services.out.find("note:"), std::string::npos);
    Result bios = Cli({"--root", dir.string(), "--json", "list", "Win32_BIOS"});
    ASSERT_EQ(bios.code, 0) << bios.err;
    EXPECT_EQ(bios.err, "note: This computer has no SMBIOS table (virtual machine)\n");
    for (const auto& l : bios.lines()) EXPECT_TRUE(nlohmann::json::accept(l)) << l;
    // a class whose sources are all there, and a snapshot, have nothing to say
    Result os = Cli({"--root", dir.string(), "list", "Win32_Keyboard"});
    EXPECT_EQ(os.err, "");
    Result snap = Cli({"--snapshot", kSample, "list", "Win32_Processor"});
    EXPECT_EQ(snap.code, 0) << snap.err;
    EXPECT_EQ(snap.err, "");
    // the export holds the rows only
    const fs::path html = dir / "services.html";
    Result exported = Cli({"--root", dir.string(), "export", "Win32_Service", html.string()});
    ASSERT_EQ(exported.code, 0) << exported.err;
    EXPECT_EQ(exported.err, services.err);
    EXPECT_EQ(Read(html).find("systemd is not running"), std::string::npos);
}

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

TEST(CliNames, VersionAndTheClassNamedInAnInvalidClassError) {
    Result v = Cli({"--version"});
    EXPECT_EQ(v.code, 0);
    EXPECT_EQ(v.out, "kestrane-cli " + std::to_string(kestrane::kVersionMajor) + "." +
                         std::to_string(kestrane::kVersionMinor) + "." + std::to_string(kestrane::kVersionRevision) + "\n");
    // A class the catalogue lacks keeps its spelling after the prefix.
    Result bad = Cli({"--snapshot", kSample, "list", "WIN32_NoSuchThing"});
    EXPECT_EQ(bad.code, 3);
    EXPECT_EQ(bad.err, "-2147217392:Invalid class: Win32_NoSuchThing\n");
}
