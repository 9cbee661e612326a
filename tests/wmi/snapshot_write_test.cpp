// Recording snapshots: what is written loads back the same, what cannot be
// recorded is refused without touching an existing file, and a capture skips
// exactly the classes a computer does not have.

#include <gtest/gtest.h>

#include <cmath>

#include "listing/fake_computer.h"
#include "test_support.h"
#include "wmi/snapshot/snapshot.h"

using namespace kestrane_test;
using kestrane::testing::FakeComputer;
using wmi::Value;
using Array = wmi::Value::Array;

namespace {

const std::vector<wmi::PropertyDecl> kFan = {{"DesiredSpeed", wmi::CIM_UINT64, false, "CIM_Fan"},
                                             {"DeviceID", wmi::CIM_STRING, false, "CIM_LogicalDevice"}};

void AddFan(FakeComputer& pc, const char* id, int speed) {
    pc.add("Win32_Fan", {{"DeviceID", id}, {"DesiredSpeed", speed}});
}

}  // namespace

TEST(SnapshotWrite, TheSampleComputerRoundTripsThroughACapture) {
    auto original = wmi::LoadSnapshot(SampleSnapshot());
    ScratchDir dir;
    const std::string path = dir.file("copy.json");
    auto result = wmi::CaptureSnapshot(path, *original, original->classNames(), original->computer(),
                                       original->captured());
    EXPECT_EQ(result.recorded, original->classNames());
    EXPECT_TRUE(result.skipped.empty());

    auto copy = wmi::LoadSnapshot(path);
    EXPECT_EQ(copy->computer(), "ORION");
    EXPECT_EQ(copy->captured(), "20261206101500.000000+000");
    ASSERT_EQ(copy->classNames(), original->classNames());
    for (const auto& cls : original->classNames()) {
        ExpectSameDecls(*original->schemaOf(cls), *copy->schemaOf(cls), cls);  // empty classes included
        auto a = Instances(*original, cls), b = Instances(*copy, cls);
        ASSERT_EQ(a.size(), b.size()) << cls;
        for (std::size_t i = 0; i < a.size(); ++i) EXPECT_EQ(a[i].values(), b[i].values()) << cls << " #" << i;
    }
}

TEST(SnapshotWrite, ValuesThatCannotBeRecordedLeaveTheOldFileAlone) {
    struct Case {
        int type;
        bool array;
        Value value;
        const char* want;
    } cases[] = {
        {wmi::CIM_UINT16, false, Value(70000), "70000 is out of range for uint16"},
        {wmi::CIM_UINT32, false, Value(-1), "-1 is out of range for uint32"},
        {wmi::CIM_UINT32, false, Value("12"), "cannot be recorded as uint32"},
        {wmi::CIM_UINT32, false, Value("\xFF\xFE"), "cannot be recorded as uint32"},
        {wmi::CIM_UINT64, false, Value("12 MB"), "cannot be recorded as uint64"},
        {wmi::CIM_UINT64, false, Value(-1), "out of range for uint64"},
        {wmi::CIM_SINT64, false, Value("9223372036854775808"), "out of range for sint64"},
        {wmi::CIM_BOOLEAN, false, Value(1), "cannot be recorded as boolean"},
        {wmi::CIM_STRING, false, Value(5), "cannot be recorded as string"},
        {wmi::CIM_REAL64, false, Value("1.5"), "cannot be recorded as real64"},
        {wmi::CIM_REAL64, false, Value(std::nan("")), "non-finite"},
        {wmi::CIM_REAL32, false, Value(1e39), "cannot be recorded as real32"},
        {wmi::CIM_DATETIME, false, Value("2026-12-06"), "not a DMTF datetime"},
        {wmi::CIM_CHAR16, false, Value("ab"), "not a single character"},
        {wmi::CIM_UINT16, false, Value(Array{1}), "an array cannot be recorded"},
        {wmi::CIM_UINT16, true, Value(1), "a single value cannot be recorded for an array property"},
        {wmi::CIM_UINT16, true, Value(Array{1, Value()}), "element 1: Null cannot be an array element"},
        {wmi::CIM_UINT16, true, Value(Array{1, 2, 70000}), "element 2: 70000 is out of range"},
    };
    ScratchDir dir;
    const std::string path = dir.write("keep.json", "precious");
    for (const auto& c : cases) {
        auto schema = Schema("Win32_Fan", {{"DeviceID", wmi::CIM_STRING, false, "CIM_LogicalDevice"},
                                           {"Speed", c.type, c.array, "CIM_Fan"}});
        wmi::SnapshotData data{"HOST", "", {}};
        data.classes.push_back({"Win32_Fan", schema, {wmi::Object(schema, {Value("ok"), Value()}),
                                                      wmi::Object(schema, {Value("bad"), c.value})}});
        const std::string msg = FileErrorOf([&] { wmi::WriteSnapshot(path, data); });
        ExpectContainsAll(msg, {path + ": ", "class Win32_Fan, instances[1], property Speed: ", c.want}, c.want);
        EXPECT_EQ(msg.find('\xFF'), std::string::npos) << "message not UTF-8";
        EXPECT_EQ(ReadAll(path), "precious");
        EXPECT_EQ(dir.entries(), std::vector<std::string>{"keep.json"});  // no temporary file left behind
    }
    // A write that succeeds replaces it.
    wmi::WriteSnapshot(path, {"NEWHOST", "", {}});
    EXPECT_EQ(wmi::LoadSnapshot(path)->computer(), "NEWHOST");
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"keep.json"});
}

TEST(SnapshotWrite, BadClassListsAndPlacesAreRefused) {
    auto s = Schema("Win32_Fan", {{"Speed", wmi::CIM_UINT16, false, "CIM_Fan"}});
    struct Case {
        const char* label;
        wmi::SnapshotData data;
        const char* want;
    } cases[] = {
        {"same class twice", {"H", "", {{"Win32_Fan", s, {}}, {"WIN32_FAN", s, {}}}}, "class WIN32_FAN is recorded twice"},
        {"class name", {"H", "", {{"Win32 Fan", s, {}}}}, "class name \"Win32 Fan\" is not a valid name"},
        {"property twice", {"H", "", {{"Win32_Fan", Schema("Win32_Fan", {{"Speed", 18, false, ""}, {"SPEED", 18, false, ""}}), {}}}},
         "class Win32_Fan, property SPEED: declared twice"},
        {"unknown type", {"H", "", {{"Win32_Fan", Schema("Win32_Fan", {{"Speed", 7, false, ""}}), {}}}},
         "class Win32_Fan, property Speed: unknown CIM type 7"},
        {"capture time", {"H", "yesterday", {}}, "the capture time \"yesterday\" is not a DMTF datetime"},
    };
    ScratchDir dir;
    for (const auto& c : cases) {
        const std::string path = dir.file("x.json");
        ExpectContainsAll(FileErrorOf([&] { wmi::WriteSnapshot(path, c.data); }), {path + ": ", c.want}, c.label);
        EXPECT_TRUE(dir.entries().empty()) << c.label;
    }
    // Neither a missing directory nor a directory standing where the file should go.
    std::filesystem::create_directory(dir.file("taken.json"));
    for (const std::string& path : {dir.file("no/such/dir/s.json"), dir.file("taken.json")})
        ExpectContainsAll(FileErrorOf([&] { wmi::WriteSnapshot(path, {"H", "", {}}); }), {path + ": ", "cannot be written"});
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"taken.json"});
}

TEST(SnapshotWrite, InstancesWithTheirOwnSchemasAddTheirProperties) {
    auto a = Schema("Win32_Fan", {{"DeviceID", wmi::CIM_STRING, false, "CIM_LogicalDevice"}});
    auto b = Schema("Win32_Fan", {{"deviceid", wmi::CIM_STRING, false, "CIM_LogicalDevice"},
                                  {"VariableSpeed", wmi::CIM_BOOLEAN, false, "CIM_Fan"}});
    ScratchDir dir;
    const std::string path = dir.file("s.json");
    wmi::WriteSnapshot(path, {"H", "", {{"Win32_Fan", nullptr,
                                         {wmi::Object(a, {Value("F1")}), wmi::Object(b, {Value("F2"), Value(true)})}}}});
    auto got = Instances(*wmi::LoadSnapshot(path), "Win32_Fan");
    ASSERT_EQ(got.size(), 2u);
    ASSERT_EQ(got[0].schema().size(), 2u);
    EXPECT_EQ(got[0].schema().properties()[0].name, "DeviceID");  // first spelling wins
    EXPECT_EQ(got[0].values(), (std::vector<Value>{Value("F1"), Value()}));
    EXPECT_EQ(got[1].values(), (std::vector<Value>{Value("F2"), Value(true)}));

    auto clash = Schema("Win32_Fan", {{"DeviceID", wmi::CIM_UINT32, false, "CIM_LogicalDevice"}});
    ExpectContainsAll(FileErrorOf([&] {
                          wmi::WriteSnapshot(path, {"H", "", {{"Win32_Fan", a, {wmi::Object(clash, {Value(1)})}}}});
                      }),
                      {"class Win32_Fan, property DeviceID: declared with two different types"});
}

TEST(SnapshotWrite, SubclassInstancesKeepTheirOwnClassAndTypes) {
    // An abstract class's query delivers instances of its subclasses, which
    // may declare one property with different types.
    FakeComputer computer;
    auto perf = computer.define("Kst_Perf", {{"Name", wmi::CIM_STRING, false, "Kst_Perf"}});
    auto mem = Schema("Kst_PerfMemory", {{"Name", wmi::CIM_STRING, false, "Kst_Perf"},
                                         {"PoolBytes", wmi::CIM_UINT32, false, "Kst_PerfMemory"}});
    auto memFormatted = Schema("Kst_PerfMemoryFormatted", {{"Name", wmi::CIM_STRING, false, "Kst_Perf"},
                                                           {"PoolBytes", wmi::CIM_UINT64, false, "Kst_PerfMemoryFormatted"}});
    computer.cls("Kst_Perf").objects = {wmi::Object(perf, {Value("own")}), wmi::Object(mem, {Value("m"), Value(4096)}),
                                        wmi::Object(memFormatted, {Value("f"), Value("8589934592")}),
                                        wmi::Object(mem, {Value(), Value(1)})};
    computer.define("Win32_Fan", kFan);
    AddFan(computer, "F1", 1);
    ScratchDir dir;
    const std::string path = dir.file("v2.json");
    wmi::CaptureSnapshot(path, computer, {"Kst_Perf"}, "H", "");
    EXPECT_NE(ReadAll(path).find("\"version\": 2,"), std::string::npos);
    auto p = wmi::LoadSnapshot(path);
    auto got = Instances(*p, "Kst_Perf");
    // Delivered grouped by class, in the order each class first appeared.
    ASSERT_EQ(got.size(), 4u);
    EXPECT_EQ(got[0].className(), "Kst_Perf");
    EXPECT_EQ(got[1].className(), "Kst_PerfMemory");
    EXPECT_EQ(got[2].values(), (std::vector<Value>{Value(), Value(1)}));
    EXPECT_EQ(got[3].className(), "Kst_PerfMemoryFormatted");
    ExpectSameDecls(got[3].schema(), *memFormatted, "formatted");
    EXPECT_EQ(got[3].values(), (std::vector<Value>{Value("f"), Value("8589934592")}));

    // Recorded again from the snapshot, it stays the same; a file without
    // subclasses stays version 1 for older readers.
    const std::string again = dir.file("again.json");
    wmi::CaptureSnapshot(again, *p, p->classNames(), "H", "");
    auto got2 = Instances(*wmi::LoadSnapshot(again), "Kst_Perf");
    ASSERT_EQ(got2.size(), got.size());
    for (std::size_t i = 0; i < got.size(); ++i) {
        EXPECT_EQ(got2[i].className(), got[i].className());
        EXPECT_EQ(got2[i].values(), got[i].values());
    }
    const std::string plain = dir.file("v1.json");
    wmi::CaptureSnapshot(plain, computer, {"Win32_Fan"}, "H", "");
    EXPECT_NE(ReadAll(plain).find("\"version\": 1,"), std::string::npos);

    auto clash = Schema("Kst_PerfMemory", {{"PoolBytes", wmi::CIM_STRING, false, "Kst_PerfMemory"}});
    ExpectContainsAll(FileErrorOf([&] {
                          wmi::WriteSnapshot(path, {"H", "", {{"Kst_Perf", nullptr,
                                                               {wmi::Object(mem, {Value("m"), Value(1)}),
                                                                wmi::Object(clash, {Value("x")})}}}});
                      }),
                      {"class Kst_Perf, subclass Kst_PerfMemory, property PoolBytes: declared with two different types"});
}

TEST(SnapshotCapture, SkipsClassesTheComputerLacksAndRecordsTheRest) {
    FakeComputer computer;
    computer.define("Win32_Fan", kFan);
    AddFan(computer, "F1", 1200);
    AddFan(computer, "F2", 900);
    computer.define("Win32_Bus", {});  // present but empty
    // Fails part-way: nothing of it may be recorded.
    computer.define("Win32_TapeDrive", kFan);
    computer.cls("Win32_TapeDrive").objects = computer.cls("Win32_Fan").objects;
    computer.cls("Win32_TapeDrive").failAt = 1;
    computer.cls("Win32_TapeDrive").failWith = wmi::WBEM_E_INVALID_CLASS;
    ScratchDir dir;
    const std::string path = dir.file("cap.json");
    auto result = wmi::CaptureSnapshot(path, computer,
                                       {"WIN32_FAN", "Win32_Registry", "win32_Fan", "Win32_Bus", "Win32_TapeDrive"},
                                       "SERVER1", "20261206101500.000000+000");
    EXPECT_EQ(result.recorded, (std::vector<std::string>{"WIN32_FAN", "Win32_Bus"}));  // each once
    EXPECT_EQ(result.skipped, (std::vector<std::string>{"Win32_Registry", "Win32_TapeDrive"}));
    EXPECT_EQ(computer.opened, (std::vector<std::string>{"WIN32_FAN", "Win32_Registry", "Win32_Bus", "Win32_TapeDrive"}));

    auto p = wmi::LoadSnapshot(path);
    EXPECT_EQ(p->computer(), "SERVER1");
    EXPECT_EQ(p->classNames(), (std::vector<std::string>{"Win32_Fan", "Win32_Bus"}));  // the computer's spelling
    auto fans = Instances(*p, "Win32_Fan");
    ASSERT_EQ(fans.size(), 2u);
    EXPECT_EQ(fans[1].Get("DeviceID"), Value("F2"));
    EXPECT_EQ(p->instanceCount("Win32_Bus"), 0u);
    EXPECT_THROW(p->enumerate("Win32_Registry"), wmi::Error);
}

TEST(SnapshotCapture, OtherErrorsStopTheCaptureAndWriteNothing) {
    for (std::uint32_t error : {wmi::WBEM_E_ACCESS_DENIED, wmi::RPC_S_SERVER_UNAVAILABLE, wmi::WBEM_E_FAILED}) {
        FakeComputer computer;
        computer.define("Win32_Fan", kFan);
        AddFan(computer, "F1", 1);
        computer.define("Win32_Service", {});
        computer.cls("Win32_Service").failAt = 0;
        computer.cls("Win32_Service").failWith = error;
        ScratchDir dir;
        const std::string path = dir.write("cap.json", "previous capture");
        EXPECT_EQ(WmiErrorOf([&] { wmi::CaptureSnapshot(path, computer, {"Win32_Fan", "Win32_Service"}, "H", ""); }),
                  error);
        EXPECT_EQ(ReadAll(path), "previous capture");
        EXPECT_EQ(dir.entries(), std::vector<std::string>{"cap.json"});
    }
}

TEST(Dmtf, NowIsAUtcDatetime) {
    const std::string now = wmi::DmtfNowUtc();
    EXPECT_TRUE(wmi::IsDmtfDatetime(now)) << now;
    EXPECT_EQ(now.substr(21), "+000");
    EXPECT_EQ(now.substr(0, 2), "20");
}
