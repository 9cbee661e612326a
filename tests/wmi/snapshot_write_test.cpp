// Recording snapshots: what is written loads back the same, what cannot be
// recorded is refused without touching an existing file, and a capture skips
// exactly the classes a computer does not have.

#include <gtest/gtest.h>

#include <cmath>
#include <map>

#include "test_support.h"
#include "wmi/snapshot/snapshot.h"

using kestrane_test::ExpectContainsAll;
using kestrane_test::FileErrorOf;
using kestrane_test::ReadAll;
using kestrane_test::SampleSnapshot;
using kestrane_test::ScratchDir;
using wmi::Value;
using Array = wmi::Value::Array;

namespace {

wmi::SchemaPtr Schema(const std::string& cls, std::vector<wmi::PropertyDecl> decls) {
    return std::make_shared<const wmi::ClassSchema>(cls, std::move(decls));
}

std::vector<wmi::Object> Instances(wmi::Provider& p, const std::string& cls) {
    std::vector<wmi::Object> out;
    auto cursor = p.enumerate(cls);
    while (auto o = cursor->next()) out.push_back(std::move(*o));
    return out;
}

void ExpectSameDecls(const wmi::ClassSchema& a, const wmi::ClassSchema& b, const std::string& label) {
    ASSERT_EQ(a.size(), b.size()) << label;
    for (std::size_t k = 0; k < a.size(); ++k) {
        const auto &x = a.properties()[k], &y = b.properties()[k];
        EXPECT_EQ(x.name, y.name) << label;
        EXPECT_EQ(x.cimType, y.cimType) << label << "." << x.name;
        EXPECT_EQ(x.isArray, y.isArray) << label << "." << x.name;
        EXPECT_EQ(x.origin, y.origin) << label << "." << x.name;
    }
}

// Yields its instances, then ends or fails with `error` (0: ends).
class ScriptedCursor : public wmi::InstanceCursor {
public:
    ScriptedCursor(std::vector<wmi::Object> objects, std::uint32_t error) : objects_(std::move(objects)), error_(error) {}
    std::optional<wmi::Object> next() override {
        if (i_ < objects_.size()) return objects_[i_++];
        if (error_) throw wmi::MakeError(error_, "SWbemObjectSet");
        return std::nullopt;
    }

private:
    std::vector<wmi::Object> objects_;
    std::uint32_t error_;
    std::size_t i_ = 0;
};

// A computer whose classes answer as scripted: instances, then an optional
// error; classes it lacks fail when opened.
class ScriptedProvider : public wmi::Provider {
public:
    struct Script {
        std::vector<wmi::Object> objects;
        std::uint32_t errorAfter = 0;
    };
    std::map<std::string, Script> classes;  // lower-cased names
    std::vector<std::string> opened;

    std::unique_ptr<wmi::InstanceCursor> enumerate(std::string_view name) override {
        opened.emplace_back(name);
        auto it = classes.find(wmi::ToLowerAscii(name));
        if (it == classes.end()) throw wmi::MakeError(wmi::WBEM_E_INVALID_CLASS, "SWbemObjectSet");
        return std::make_unique<ScriptedCursor>(it->second.objects, it->second.errorAfter);
    }
};

wmi::Object Fan(const wmi::SchemaPtr& s, const char* id, int speed) {
    return wmi::InstanceBuilder(s).set("DeviceID", id).set("DesiredSpeed", speed).build();
}

const wmi::SchemaPtr kFanSchema = Schema("Win32_Fan", {{"DesiredSpeed", wmi::CIM_UINT64, false, "CIM_Fan"},
                                                       {"DeviceID", wmi::CIM_STRING, false, "CIM_LogicalDevice"}});

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
    EXPECT_EQ(copy->schemaOf("Win32_DisplayConfiguration")->size(), 15u);
}

TEST(SnapshotWrite, ValuesAtTheEdgesOfEveryTypeRoundTrip) {
    struct Case {
        int type;
        bool array;
        Value given;
        Value loaded;  // as a live computer would deliver it
    } cases[] = {
        {wmi::CIM_SINT8, false, Value(-128), Value(-128)},
        {wmi::CIM_UINT8, false, Value(255), Value(255)},
        {wmi::CIM_SINT16, false, Value(-32768), Value(-32768)},
        {wmi::CIM_UINT16, false, Value(65535), Value(65535)},
        {wmi::CIM_SINT32, false, Value(-2147483648LL), Value(-2147483648LL)},
        {wmi::CIM_UINT32, false, Value(4294967295LL), Value(4294967295LL)},
        {wmi::CIM_SINT64, false, Value("-9223372036854775808"), Value("-9223372036854775808")},
        {wmi::CIM_SINT64, false, Value(-5), Value("-5")},
        {wmi::CIM_UINT64, false, Value("18446744073709551615"), Value("18446744073709551615")},
        {wmi::CIM_UINT64, false, Value("000123"), Value("123")},
        {wmi::CIM_UINT64, false, Value(7), Value("7")},
        {wmi::CIM_REAL32, false, Value(3.3), Value(3.3)},
        {wmi::CIM_REAL64, false, Value(0.1 + 0.2), Value(0.1 + 0.2)},  // every bit kept
        {wmi::CIM_REAL64, false, Value(-1.5e-300), Value(-1.5e-300)},
        {wmi::CIM_REAL64, false, Value(12), Value(12.0)},
        {wmi::CIM_BOOLEAN, false, Value(true), Value(true)},
        {wmi::CIM_STRING, false, Value("tab\t \"quote\" back\\slash \xC3\xA9 \x01"),
         Value("tab\t \"quote\" back\\slash \xC3\xA9 \x01")},
        {wmi::CIM_STRING, false, Value(std::string("nul\0inside", 10)), Value(std::string("nul\0inside", 10))},
        {wmi::CIM_STRING, false, Value("bad \xFF byte"), Value("bad \xEF\xBF\xBD byte")},  // made well-formed
        {wmi::CIM_CHAR16, false, Value("\xE2\x82\xAC"), Value("\xE2\x82\xAC")},
        {wmi::CIM_DATETIME, false, Value("20261206101500.000000+060"), Value("20261206101500.000000+060")},
        {wmi::CIM_REFERENCE, false, Value("Win32_Service.Name=\"Spooler\""), Value("Win32_Service.Name=\"Spooler\"")},
        {wmi::CIM_UINT16, false, Value(), Value()},
        {wmi::CIM_UINT16, true, Value(Array{}), Value(Array{})},
        {wmi::CIM_UINT16, true, Value(Array{3, 4, 7}), Value(Array{3, 4, 7})},
        {wmi::CIM_UINT64, true, Value(Array{1, "2"}), Value(Array{"1", "2"})},
        {wmi::CIM_STRING, true, Value(Array{"a", ""}), Value(Array{"a", ""})},
    };
    std::vector<wmi::PropertyDecl> decls;
    std::vector<Value> given, loaded;
    for (std::size_t k = 0; k < std::size(cases); ++k) {
        decls.push_back({"P" + std::to_string(k), cases[k].type, cases[k].array, "Kst_Base"});
        given.push_back(cases[k].given);
        loaded.push_back(cases[k].loaded);
    }
    auto schema = Schema("Kst_Edges", decls);
    ScratchDir dir;
    const std::string path = dir.file("edges.json");
    wmi::WriteSnapshot(path, {"HOST", "", {{"Kst_Edges", schema, {wmi::Object(schema, given)}}}});
    auto got = Instances(*wmi::LoadSnapshot(path), "Kst_Edges");
    ASSERT_EQ(got.size(), 1u);
    for (std::size_t k = 0; k < std::size(cases); ++k)
        EXPECT_EQ(got[0].values()[k], loaded[k]) << "case " << k << " type " << cases[k].type;
    // 64-bit figures are strings in the file: other JSON readers round numbers beyond 2^53.
    EXPECT_NE(ReadAll(path).find("\"18446744073709551615\""), std::string::npos);
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
}

TEST(SnapshotWrite, BadClassListsAreRefused) {
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
}

TEST(SnapshotWrite, UnwritablePlacesNameTheFile) {
    ScratchDir dir;
    const std::string inMissingDir = dir.file("no/such/dir/s.json");
    ExpectContainsAll(FileErrorOf([&] { wmi::WriteSnapshot(inMissingDir, {"H", "", {}}); }),
                      {inMissingDir + ": ", "cannot be written"});
    // A directory standing where the file should go cannot be replaced.
    std::filesystem::create_directory(dir.file("taken.json"));
    const std::string taken = dir.file("taken.json");
    ExpectContainsAll(FileErrorOf([&] { wmi::WriteSnapshot(taken, {"H", "", {}}); }), {taken + ": ", "cannot be written"});
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"taken.json"});
}

TEST(SnapshotWrite, ASuccessfulWriteReplacesTheOldFile) {
    ScratchDir dir;
    const std::string path = dir.write("s.json", "old");
    wmi::WriteSnapshot(path, {"NEWHOST", "", {{"Win32_Fan", kFanSchema, {Fan(kFanSchema, "F1", 1200)}}}});
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"s.json"});
    auto p = wmi::LoadSnapshot(path);
    EXPECT_EQ(p->computer(), "NEWHOST");
    EXPECT_EQ(Instances(*p, "Win32_Fan").at(0).Get("DesiredSpeed"), Value("1200"));
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
    auto perf = Schema("Kst_Perf", {{"Name", wmi::CIM_STRING, false, "Kst_Perf"}});
    auto mem = Schema("Kst_PerfMemory", {{"Name", wmi::CIM_STRING, false, "Kst_Perf"},
                                         {"PoolBytes", wmi::CIM_UINT32, false, "Kst_PerfMemory"}});
    auto memFormatted = Schema("Kst_PerfMemoryFormatted", {{"Name", wmi::CIM_STRING, false, "Kst_Perf"},
                                                           {"PoolBytes", wmi::CIM_UINT64, false, "Kst_PerfMemoryFormatted"}});
    ScriptedProvider computer;
    computer.classes["kst_perf"] = {{wmi::Object(perf, {Value("own")}), wmi::Object(mem, {Value("m"), Value(4096)}),
                                     wmi::Object(memFormatted, {Value("f"), Value("8589934592")}),
                                     wmi::Object(mem, {Value(), Value(1)})}};
    computer.classes["win32_fan"] = {{Fan(kFanSchema, "F1", 1)}};
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
    auto q = wmi::LoadSnapshot(again);
    auto got2 = Instances(*q, "Kst_Perf");
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
    ScriptedProvider computer;
    computer.classes["win32_fan"] = {{Fan(kFanSchema, "F1", 1200), Fan(kFanSchema, "F2", 900)}, 0};
    computer.classes["win32_bus"] = {{}, 0};  // present but empty
    // Fails part-way: nothing of it may be recorded.
    computer.classes["win32_tapedrive"] = {{Fan(kFanSchema, "T", 1)}, wmi::WBEM_E_INVALID_CLASS};
    ScratchDir dir;
    const std::string path = dir.file("cap.json");
    auto result = wmi::CaptureSnapshot(path, computer,
                                       {"Win32_Fan", "Win32_Registry", "win32_FAN", "Win32_Bus", "Win32_TapeDrive"},
                                       "SERVER1", "20261206101500.000000+000");
    EXPECT_EQ(result.recorded, (std::vector<std::string>{"Win32_Fan", "Win32_Bus"}));
    EXPECT_EQ(result.skipped, (std::vector<std::string>{"Win32_Registry", "Win32_TapeDrive"}));
    EXPECT_EQ(computer.opened, (std::vector<std::string>{"Win32_Fan", "Win32_Registry", "Win32_Bus", "Win32_TapeDrive"}));

    auto p = wmi::LoadSnapshot(path);
    EXPECT_EQ(p->computer(), "SERVER1");
    EXPECT_EQ(p->classNames(), (std::vector<std::string>{"Win32_Fan", "Win32_Bus"}));
    auto fans = Instances(*p, "Win32_Fan");
    ASSERT_EQ(fans.size(), 2u);
    EXPECT_EQ(fans[1].Get("DeviceID"), Value("F2"));
    EXPECT_EQ(p->instanceCount("Win32_Bus"), 0u);
    EXPECT_THROW(p->enumerate("Win32_Registry"), wmi::Error);
}

TEST(SnapshotCapture, ClassesAreRecordedUnderTheComputersSpelling) {
    ScriptedProvider computer;
    computer.classes["win32_fan"] = {{Fan(kFanSchema, "F1", 1)}, 0};
    ScratchDir dir;
    const std::string path = dir.file("cap.json");
    wmi::CaptureSnapshot(path, computer, {"WIN32_FAN"}, "H", "");
    EXPECT_EQ(wmi::LoadSnapshot(path)->classNames(), std::vector<std::string>{"Win32_Fan"});
}

TEST(SnapshotCapture, OtherErrorsStopTheCaptureAndWriteNothing) {
    for (std::uint32_t error : {wmi::WBEM_E_ACCESS_DENIED, wmi::RPC_S_SERVER_UNAVAILABLE, wmi::WBEM_E_FAILED}) {
        ScriptedProvider computer;
        computer.classes["win32_fan"] = {{Fan(kFanSchema, "F1", 1)}, 0};
        computer.classes["win32_service"] = {{}, error};
        ScratchDir dir;
        const std::string path = dir.write("cap.json", "previous capture");
        std::uint32_t got = 0;
        try {
            wmi::CaptureSnapshot(path, computer, {"Win32_Fan", "Win32_Service"}, "H", "");
        } catch (const wmi::Error& e) {
            got = e.unsignedNumber();
        }
        EXPECT_EQ(got, error);
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
