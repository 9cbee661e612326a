// kestrane-cli's commands, formats and exit statuses. What a listing holds is
// tested in tests/listing and tests/linux; here, that it reaches the output.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "cli/cli.h"
#include "core/version.h"
#include "wmi/snapshot/snapshot.h"

namespace fs = std::filesystem;
using Json = nlohmann::json;

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

Result Cli(std::vector<std::string> args, const std::string& input = "") {
    std::istringstream in(input);
    std::ostringstream out, err;
    int code = kestrane::cli::Run(args, in, out, err);
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

}  // namespace

TEST_F(CliTest, SummaryListsAndTreeAsTextAndJsonLines) {
    auto text = Cli({"--snapshot", kSample, "summary"}).lines();
    auto json = Cli({"--snapshot", kSample, "--json", "summary"}).lines();
    ASSERT_GT(text.size(), 10u);
    ASSERT_EQ(json.size(), text.size());
    EXPECT_EQ(text[0], "Computer");
    // The fields in their documented order.
    EXPECT_EQ(json[1], R"({"key":"","text":"Name","icon":"Info2","sub":["ORION"],"bold":false,"subBold":false})");
    // Any letter case, as WMI matches; the rows carry the catalogue's name, text and image.
    EXPECT_EQ(Cli({"--snapshot", kSample, "--json", "list", "win32_PROCESSOR"}).lines().at(0),
              R"({"key":"Win32_Processor1","text":"Processor","icon":"Processor","sub":["1"],"bold":true,)"
              R"("subBold":true})");
    auto across = Cli({"--snapshot", kSample, "--json", "list", "Win32_Processor", "--horizontal"}).lines();
    ASSERT_EQ(across.size(), 3u);
    EXPECT_GT(Json::parse(across[0])["columns"].size(), 20u);
    EXPECT_EQ(Json::parse(across[1])["key"], "Val1");
    auto table = Cli({"--snapshot", kSample, "list", "Win32_Processor", "--horizontal"}).lines();
    ASSERT_EQ(table.size(), 3u);
    EXPECT_EQ(table[0].rfind("AddressWidth", 0), 0u);

    auto tree = Cli({"tree"}).lines();
    ASSERT_EQ(tree.size(), 318u);
    EXPECT_EQ(tree[1], "  Computer System Hardware");
    EXPECT_EQ(tree[3], "      Keyboard");
    EXPECT_EQ(Cli({"tree", "--level", "1"}).lines().size(), 162u);
    json = Cli({"tree", "--json", "--level", "2"}).lines();
    ASSERT_EQ(json.size(), 219u);
    EXPECT_TRUE(Json::parse(json[0])["parent"].is_null());
    EXPECT_EQ(json[3], R"({"key":"Win32_Keyboard","text":"Keyboard","image":"Keyboard","parent":"Input Device",)"
                       R"("depth":3})");
}

// Command lines come from people and scripts: a bad one ends with status 2
// and one line on standard error pointing at --help, prints nothing on
// standard output and writes no file.
TEST_F(CliTest, BadCommandLinesAreUsageErrorsWithNothingPrinted) {
    const std::string x = (dir / "x.html").string();
    const std::vector<std::vector<std::string>> cases = {
        {}, {"frobnicate"}, {"\xFF\xFE"}, {"list"}, {"--snapshot"}, {"--root"}, {"--bogus", "summary"},
        {"summary", "--bogus"}, {"list", "Win32_Processor", "extra"},
        {"--snapshot", kSample, "--root", "/", "summary"},
        {"tree", "--level", "4"}, {"tree", "--level", "0"}, {"tree", "--level", "-1"}, {"tree", "--level", "abc"},
        {"tree", "--level", "99999999999999999999"}, {"tree", "--level", ""}, {"tree", "--level"},
        {"--snapshot", kSample, "list", "../../etc/passwd"},
        {"--snapshot", kSample, "list", "Win32-Processor"},
        {"--snapshot", kSample, "list", std::string(10000, 'W')},
        {"--snapshot", kSample, "export", "No Such Node", x},
        {"--snapshot", kSample, "export", "Win32_Processor"},
        // A password never comes from an argument, where every user of the computer can read it.
        {"--computer", "web01", "--password", "s3cret", "summary"},
        {"--user", "me", "summary"}, {"--accept-new-host-key", "summary"},
        {"--computer", "web01", "--snapshot", kSample, "summary"}, {"--computer", "web01", "serve"},
        {"--computer", "web01", "--password-stdin", "summary"},
    };
    for (const auto& args : cases) {
        Result r = Cli(args);
        EXPECT_EQ(r.code, 2) << testing::PrintToString(args);
        EXPECT_EQ(r.out, "") << testing::PrintToString(args);
        EXPECT_EQ(r.err.rfind("kestrane-cli: ", 0), 0u) << r.err;
        EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
        EXPECT_NE(r.err.find("try --help"), std::string::npos) << r.err;
    }
    EXPECT_FALSE(fs::exists(x));
    EXPECT_NE(Cli({"--help"}).out.find("coverage"), std::string::npos);
    EXPECT_EQ(Cli({"--version"}).out, "kestrane-cli " + std::to_string(kestrane::kVersionMajor) + "." +
                                          std::to_string(kestrane::kVersionMinor) + "." +
                                          std::to_string(kestrane::kVersionRevision) + "\n");
}

// A class the computer lacks is WMI's error (3), named as the catalogue spells
// it; a file that cannot be read or written is status 4, named, and what was
// there stays (the ways a file can fail are tested in tests/wmi).
TEST_F(CliTest, ComputerAndFileErrorsHaveTheirOwnStatus) {
    std::ofstream(dir / "plain") << "kept";
    std::ofstream(dir / "bad.json") << "{\"format\": \"kestrane-snapshot\", \"version\": 1,";
    fs::create_directories(dir / "folder");
    const std::string plain = (dir / "plain/x.html").string(), folder = (dir / "folder").string();
    struct Case {
        std::vector<std::string> args;
        int code;
        std::string err;  // what standard error holds
    } cases[] = {
        {{"--snapshot", kSample, "list", "Win32_Keyboard"}, 3, "-2147217392:Invalid class: Win32_Keyboard\n"},
        {{"--snapshot", kSample, "list", "WIN32_NoSuchThing"}, 3, "Invalid class: Win32_NoSuchThing\n"},
        {{"--snapshot", (dir / "absent.json").string(), "summary"}, 4, "absent.json"},
        {{"--snapshot", (dir / "bad.json").string(), "summary"}, 4, "bad.json"},
        {{"--root", (dir / "no-such-root").string(), "summary"}, 4, "no-such-root"},
        {{"--snapshot", kSample, "export", "Win32_Processor", plain}, 4, plain},
        {{"--snapshot", kSample, "capture", folder}, 4, folder},
    };
    for (const auto& c : cases) {
        Result r = Cli(c.args);
        EXPECT_EQ(r.code, c.code) << c.err;
        EXPECT_EQ(r.out, "") << c.err;
        EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
    }
    EXPECT_EQ(Read(dir / "plain"), "kept");
    EXPECT_EQ(std::distance(fs::recursive_directory_iterator(dir), {}), 3);  // no temporary file left
}

// Export appends; a capture records what the computer answers. A tree under
// --root is named by its own host name, or its directory when it has none.
TEST_F(CliTest, ExportAndCaptureNameTheComputer) {
    const fs::path html = dir / "p.html";
    ASSERT_EQ(Cli({"--snapshot", kSample, "export", "Win32_Processor", html.string()}).code, 0);
    const std::string once = Read(html);
    EXPECT_EQ(once.rfind("\r\n<H2>Processor</H2>\r\n", 0), 0u);
    ASSERT_EQ(Cli({"--snapshot", kSample, "export", "Win32_Processor", html.string()}).code, 0);
    EXPECT_EQ(Read(html), once + once);

    const std::string snap = (dir / "cap.json").string();
    ASSERT_EQ(Cli({"--snapshot", kSample, "capture", snap}).code, 0);
    EXPECT_EQ(Cli({"--snapshot", snap, "summary"}).out, Cli({"--snapshot", kSample, "summary"}).out);
    EXPECT_EQ(Cli({"--snapshot", snap, "list", "Win32_DMAChannel"}).out,
              Cli({"--snapshot", kSample, "list", "Win32_DMAChannel"}).out);

    const std::string fixtures = KESTRANE_FIXTURES;
    for (const auto& [root, name] : {std::pair{fixtures + "/server", std::string("srv01.example.net")},
                                     std::pair{fixtures + "/printserver", fixtures + "/printserver"}}) {
        fs::remove(html);
        ASSERT_EQ(Cli({"--root", root, "export", "[Root...]", html.string()}).code, 0);
        EXPECT_NE(Read(html).find("<H2>" + name + "</H2>"), std::string::npos) << root;
        ASSERT_EQ(Cli({"--root", root, "capture", snap}).code, 0);
        EXPECT_EQ(wmi::LoadSnapshot(snap)->computer(), name);
    }
}

TEST_F(CliTest, CoverageHasOneLinePerCatalogueClass) {
    auto lines = Cli({"--snapshot", kSample, "coverage"}).lines();
    EXPECT_EQ(lines.size(), 284u);
    for (const char* line : {"Win32_Processor\t2", "Win32_DisplayConfiguration\t0", "Win32_Keyboard\t0x80041010"})
        EXPECT_NE(std::find(lines.begin(), lines.end(), line), lines.end()) << line;
}

// A password from the environment is read once and leaves it; no error text
// repeats it.
TEST_F(CliTest, APasswordFromTheEnvironmentOrStandardInputIsNeverShown) {
    ::setenv("KESTRANE_PASSWORD", "env-s3cret", 1);
    Result r = Cli({"--computer", "not a name", "list", "Win32_BIOS"});
    EXPECT_EQ(r.code, 3);
    EXPECT_EQ(r.err.rfind("-2147023174:The RPC server is unavailable.", 0), 0u) << r.err;
    EXPECT_EQ(r.err.find("env-s3cret"), std::string::npos);
    EXPECT_EQ(std::getenv("KESTRANE_PASSWORD"), nullptr);
    r = Cli({"--computer", "not a name", "--password-stdin", "summary"}, "stdin-s3cret\n");
    EXPECT_EQ(r.code, 3);
    EXPECT_EQ(r.err.find("stdin-s3cret"), std::string::npos);
}

// Why values are missing goes to standard error as notes; the rows on
// standard output, and an export, are those of a listing without them.
TEST_F(CliTest, ReasonsAreNotesOnStandardErrorOnly) {
    fs::create_directories(dir / "etc");
    std::ofstream(dir / "etc/hostname") << "tree\n";
    Result services = Cli({"--root", dir.string(), "list", "Win32_Service"});
    ASSERT_EQ(services.code, 0) << services.err;
    EXPECT_EQ(services.err, "note: systemd is not running: service states are unknown\n");
    EXPECT_EQ(services.out.find("note:"), std::string::npos);
    Result bios = Cli({"--root", dir.string(), "--json", "list", "Win32_BIOS"});
    EXPECT_EQ(bios.err, "note: This computer has no SMBIOS table (virtual machine)\n");
    for (const auto& l : bios.lines()) EXPECT_TRUE(Json::accept(l)) << l;
    // A class whose sources are all there, and a snapshot, have nothing to say.
    EXPECT_EQ(Cli({"--root", dir.string(), "list", "Win32_Keyboard"}).err, "");
    EXPECT_EQ(Cli({"--snapshot", kSample, "list", "Win32_Processor"}).err, "");
    const fs::path html = dir / "services.html";
    EXPECT_EQ(Cli({"--root", dir.string(), "export", "Win32_Service", html.string()}).err, services.err);
    EXPECT_EQ(Read(html).find("systemd is not running"), std::string::npos);
}
