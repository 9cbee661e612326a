#include "cli/cli.h"
#include "fleet/diff.h"
#include "fleet/store_fixture.h"

namespace kestrane::testing {
namespace {

using Json = nlohmann::ordered_json;

Json Disks(const std::string& size, const std::string& volume) {
    auto prop = [](const char* n, int t) {
        return Json{{"name", n}, {"cimtype", t}, {"array", false}, {"origin", "CIM_LogicalDisk"}};
    };
    return {{"Win32_LogicalDisk",
             {{"properties", {prop("DeviceID", 8), prop("Size", 21), prop("VolumeName", 8)}},
              {"instances", {{{"DeviceID", "C:"}, {"Size", size}, {"VolumeName", volume}}}}}}};
}

class ReportTest : public EngineTest {
protected:
    void SetUp() override {
        EngineTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        auto store = open();
        store->addSnapshot(SnapshotJson("A", Disks("9", "a,b \"q\"\nline")), "a");
        store->addSnapshot(SnapshotJson("B", Disks("10", "=HYPERLINK(\"x\")")), "b");
        store->addSnapshot(SnapshotJson("C", Disks("100", "old")), "c", "", "2026-01-01T00:00:00Z");
        store->addSnapshot(SnapshotJson("C", Disks("5", "-new")), "c", "", "2026-02-01T00:00:00Z");
    }
    std::string report(std::vector<std::string> extra, int* rc = nullptr) {
        std::vector<std::string> args{"--store", spec_, "report", "Win32_LogicalDisk"};
        args.insert(args.end(), extra.begin(), extra.end());
        std::ostringstream out, err;
        const int r = cli::Run(args, out, err);
        if (rc) *rc = r;
        EXPECT_EQ(err.str(), "");
        return out.str();
    }
};

TEST_P(ReportTest, WhereComparesNumbersAsNumbersAndTextWithoutCase) {
    struct Case {
        std::vector<std::string> where;
        std::string computers;  // the rows' computers, in order
    } cases[] = {
        {{}, "ABC"},                               // the latest capture of C only
        {{"--where", "Size>9"}, "B"},              // 10 > 9 as numbers, not as text
        {{"--where", "Size<10"}, "AC"},
        {{"--where", "Size=9"}, "A"},
        {{"--where", "deviceid=c:"}, "ABC"},
        {{"--where", "VolumeName=OLD"}, ""},        // only in C's older capture
        {{"--where", "Size>6", "--where", "Size<100"}, "AB"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = c.where;
        args.insert(args.end(), {"--json", "--properties", "DeviceID"});
        std::string got;
        std::istringstream lines(report(args));
        for (std::string line; std::getline(lines, line);) got += Json::parse(line)["Computer"].get<std::string>();
        EXPECT_EQ(got, c.computers) << ::testing::PrintToString(c.where);
    }
}

TEST_P(ReportTest, CsvIsQuotedAndNeverAFormula) {
    EXPECT_EQ(report({"--csv", "--properties", "Size,VolumeName"}),
              "Computer,Size,VolumeName\r\n"
              "A,9,\"a,b \"\"q\"\"\nline\"\r\n"
              "B,10,\"'=HYPERLINK(\"\"x\"\")\"\r\n"
              "C,5,'-new\r\n");
}

TEST_P(ReportTest, JsonIsRawAndTextIsFormattedAsListed) {
    std::istringstream lines(report({"--json", "--where", "Size=10"}));
    std::string line;
    ASSERT_TRUE(std::getline(lines, line));
    EXPECT_EQ(Json::parse(line),
              Json::parse(R"j({"Computer":"B","DeviceID":"C:","Size":"10","VolumeName":"=HYPERLINK(\"x\")"})j"));
    EXPECT_FALSE(std::getline(lines, line));

    const std::string text = report({"--where", "Size=9", "--properties", "Size,VolumeName"});
    wmi::PropertyDecl size{"Size", 21, false, "CIM_LogicalDisk"};
    wmi::Value nine(std::string("9"));
    const std::string shown = fleet::ValueText(wmi::Property(size, nine), "Win32_LogicalDisk");
    EXPECT_NE(text.find(shown), std::string::npos) << text;
    // A line break a computer sent cannot start a line of its own.
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 2) << text;
    // Columns as wide as their widest text in characters (U+FFFD takes three bytes).
    EXPECT_EQ(report({"--properties", "VolumeName,DeviceID"}),
              "Computer  Volume Name      Device ID\n"
              "A         a,b \"q\"\xEF\xBF\xBDline     C:\n"
              "B         =HYPERLINK(\"x\")  C:\n"
              "C         -new             C:\n");
}

// Bad conditions, and a store whose instances are damaged (PostgreSQL keeps
// only valid JSON there, but not necessarily an object): a clear error and
// nothing on standard output.
TEST_P(ReportTest, BadConditionsAndDamagedInstancesAreClearErrors) {
    const std::string damaged = GetParam() == "sqlite" ? R"('{"DeviceID": "C:", "Si')" : R"('["C:"]')";
    struct Case {
        std::vector<std::string> args;
        int rc;
        std::string message;
        std::string damage;  // a statement run before
    } cases[] = {
        {{"--where", "Size>big"}, 4, "compares numbers", ""},
        {{"--where", "Nothing=1"}, 4, "has no property Nothing", ""},
        {{"--where", "Size"}, 2, "--where takes", ""},
        {{}, 4, "a stored instance of Win32_LogicalDisk of A is damaged", "UPDATE instances SET properties = " + damaged},
    };
    for (const auto& c : cases) {
        if (!c.damage.empty()) open()->db().script(c.damage);
        std::vector<std::string> args{"--store", spec_, "report", "Win32_LogicalDisk"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        std::ostringstream out, err;
        EXPECT_EQ(cli::Run(args, out, err), c.rc);
        EXPECT_NE(err.str().find(c.message), std::string::npos) << err.str();
        EXPECT_EQ(out.str(), "");
    }
}

INSTANTIATE_TEST_SUITE_P(Engines, ReportTest, ::testing::Values("sqlite", "postgresql"), EngineName);

}  // namespace
}  // namespace kestrane::testing
