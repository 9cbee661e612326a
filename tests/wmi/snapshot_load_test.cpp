// Loading snapshot files: how each CIM type is read, and that every kind of
// malformed file is refused whole with a message that says where and why.

#include <gtest/gtest.h>

#include <filesystem>

#include "test_support.h"
#include "wmi/snapshot/snapshot.h"

using kestrane_test::ExpectContainsAll;
using kestrane_test::FileErrorOf;
using kestrane_test::ScratchDir;
using kestrane_test::WmiErrorOf;

namespace {

const std::string kHead =
    R"({"format": "kestrane-snapshot", "version": 1, "computer": "HOST", "captured": "20261206101500.000000+000", )";

std::string Doc(const std::string& classes) { return kHead + R"("classes": {)" + classes + "}}"; }

std::string Decl(const std::string& name, long long type, bool array = false, const std::string& origin = "Kst_Base") {
    return R"({"name": ")" + name + R"(", "cimtype": )" + std::to_string(type) + R"(, "array": )" +
           (array ? "true" : "false") + R"(, "origin": ")" + origin + R"("})";
}

// A class with one property "P" of a type and one instance holding `json`.
std::string OneValue(int type, bool array, const std::string& json) {
    return Doc(R"("Kst_Test": {"properties": [)" + Decl("P", type, array) + R"(], "instances": [{"P": )" + json +
               "}]}");
}

wmi::Value LoadOne(const ScratchDir& dir, const std::string& text) {
    auto p = wmi::LoadSnapshot(dir.write("one.json", text));
    auto cursor = p->enumerate("Kst_Test");
    auto obj = cursor->next();
    if (!obj) {
        ADD_FAILURE() << "no instance";
        return {};
    }
    return obj->Get("P");
}

using Array = wmi::Value::Array;

}  // namespace

TEST(SnapshotTypes, EachCimTypeIsDeliveredAsALiveComputerDoes) {
    struct Case {
        int type;
        bool array;
        const char* json;
        wmi::Value want;
    } cases[] = {
        {wmi::CIM_UINT8, false, "255", wmi::Value(255)},
        {wmi::CIM_SINT8, false, "-128", wmi::Value(-128)},
        {wmi::CIM_UINT16, false, "65535", wmi::Value(65535)},
        {wmi::CIM_SINT16, false, "-32768", wmi::Value(-32768)},
        {wmi::CIM_UINT32, false, "4294967295", wmi::Value(4294967295LL)},
        {wmi::CIM_SINT32, false, "-2147483648", wmi::Value(-2147483648LL)},
        {wmi::CIM_UINT16, false, "3.0", wmi::Value(3)},  // a whole number written as a real
        {wmi::CIM_UINT64, false, "18446744073709551615", wmi::Value("18446744073709551615")},
        {wmi::CIM_UINT64, false, "\"18446744073709551615\"", wmi::Value("18446744073709551615")},
        {wmi::CIM_UINT64, false, "\"0042\"", wmi::Value("42")},
        {wmi::CIM_UINT64, false, "0", wmi::Value("0")},
        {wmi::CIM_SINT64, false, "-9223372036854775808", wmi::Value("-9223372036854775808")},
        {wmi::CIM_SINT64, false, "\"-9223372036854775808\"", wmi::Value("-9223372036854775808")},
        {wmi::CIM_SINT64, false, "\"9223372036854775807\"", wmi::Value("9223372036854775807")},
        {wmi::CIM_SINT64, false, "\"-0\"", wmi::Value("0")},
        {wmi::CIM_REAL32, false, "1.5", wmi::Value(1.5)},
        {wmi::CIM_REAL64, false, "2", wmi::Value(2.0)},  // reals stay reals
        {wmi::CIM_REAL64, false, "-1e300", wmi::Value(-1e300)},
        {wmi::CIM_BOOLEAN, false, "false", wmi::Value(false)},
        {wmi::CIM_STRING, false, R"("C:\\WINDOWS \"x\" \u00e9")", wmi::Value("C:\\WINDOWS \"x\" \xC3\xA9")},
        {wmi::CIM_STRING, false, "\"\"", wmi::Value("")},
        {wmi::CIM_CHAR16, false, "\"\xE2\x82\xAC\"", wmi::Value("\xE2\x82\xAC")},
        {wmi::CIM_REFERENCE, false, R"("\\\\ORION\\root\\cimv2:Win32_Service.Name=\"Spooler\"")",
         wmi::Value(R"(\\ORION\root\cimv2:Win32_Service.Name="Spooler")")},
        {wmi::CIM_DATETIME, false, "\"20261206101500.000000+060\"", wmi::Value("20261206101500.000000+060")},
        {wmi::CIM_DATETIME, false, "\"00000001020304.000000:000\"", wmi::Value("00000001020304.000000:000")},
        {wmi::CIM_DATETIME, false, "\"2026120610****.******+000\"", wmi::Value("2026120610****.******+000")},
        {wmi::CIM_OBJECT, false, "\"instance of Win32_Foo {};\"", wmi::Value("instance of Win32_Foo {};")},
        {wmi::CIM_UINT16, false, "null", wmi::Value()},
        {wmi::CIM_UINT16, true, "null", wmi::Value()},
        {wmi::CIM_UINT16, true, "[]", wmi::Value(Array{})},  // empty, not Null
        {wmi::CIM_UINT16, true, "[3, 4, 7]", wmi::Value(Array{3, 4, 7})},
        {wmi::CIM_UINT64, true, "[1, \"2\"]", wmi::Value(Array{"1", "2"})},
        {wmi::CIM_STRING, true, R"(["a", ""])", wmi::Value(Array{"a", ""})},
        {wmi::CIM_BOOLEAN, true, "[true, false]", wmi::Value(Array{true, false})},
        {wmi::CIM_DATETIME, true, "[\"20261206101500.000000+000\"]", wmi::Value(Array{"20261206101500.000000+000"})},
    };
    ScratchDir dir;
    for (const auto& c : cases) {
        const std::string text = OneValue(c.type, c.array, c.json);
        wmi::Value got;
        ASSERT_NO_THROW(got = LoadOne(dir, text)) << c.json;
        EXPECT_EQ(got, c.want) << "type " << c.type << " json " << c.json;
    }
}

TEST(SnapshotTypes, AnOmittedPropertyIsNullAndKeepsItsPlace) {
    ScratchDir dir;
    const std::string text = Doc(R"("Kst_Test": {"properties": [)" + Decl("A", 18) + "," + Decl("B", 8) + "," +
                                 Decl("C", 11) + R"(], "instances": [{"C": true, "A": 1}, {}]})");
    auto p = wmi::LoadSnapshot(dir.write("s.json", text));
    auto cursor = p->enumerate("kst_test");
    auto first = cursor->next();
    auto second = cursor->next();
    ASSERT_TRUE(first && second);
    EXPECT_FALSE(cursor->next());
    EXPECT_EQ(first->values(), (std::vector<wmi::Value>{wmi::Value(1), wmi::Value(), wmi::Value(true)}));
    EXPECT_EQ(second->values(), (std::vector<wmi::Value>(3)));
}

TEST(SnapshotTypes, MembersMatchDeclarationsIgnoringCase) {
    ScratchDir dir;
    const std::string text =
        Doc(R"("Kst_Test": {"properties": [)" + Decl("DeviceID", 8) + R"(], "instances": [{"deviceid": "x"}]})");
    auto obj = wmi::LoadSnapshot(dir.write("s.json", text))->enumerate("Kst_Test")->next();
    ASSERT_TRUE(obj);
    EXPECT_EQ(obj->Get("DeviceID"), wmi::Value("x"));
    EXPECT_EQ(obj->Properties_().Item("DEVICEID").name(), "DeviceID");  // the declared spelling
}

TEST(SnapshotTypes, InstancesMayComeBeforeTheirDeclarations) {
    ScratchDir dir;
    const std::string text = Doc(R"("Kst_Test": {"instances": [{"B": "9", "A": [1, 2]}], "properties": [)" +
                                 Decl("A", 17, true) + "," + Decl("B", 21) + "]}");
    auto obj = wmi::LoadSnapshot(dir.write("s.json", text))->enumerate("Kst_Test")->next();
    ASSERT_TRUE(obj);
    EXPECT_EQ(obj->values(), (std::vector<wmi::Value>{wmi::Value(Array{1, 2}), wmi::Value("9")}));
}

TEST(SnapshotProvider, KnowsItsComputerAndClassesInFileOrder) {
    ScratchDir dir;
    const std::string text = Doc(R"("Win32_Zeta": {"properties": [], "instances": [{}, {}]},
                                     "Win32_Alpha": {"properties": [], "instances": []},
                                     "CIM_Mid": {"properties": [], "instances": [{}]})");
    auto p = wmi::LoadSnapshot(dir.write("s.json", text));
    EXPECT_EQ(p->computer(), "HOST");
    EXPECT_EQ(p->captured(), "20261206101500.000000+000");
    EXPECT_EQ(p->classNames(), (std::vector<std::string>{"Win32_Zeta", "Win32_Alpha", "CIM_Mid"}));
    EXPECT_EQ(p->instanceCount("WIN32_ZETA"), 2u);
    EXPECT_EQ(p->instanceCount("Win32_Alpha"), 0u);
    EXPECT_EQ(p->instanceCount("Win32_Missing"), 0u);
    EXPECT_NE(p->schemaOf("cim_mid"), nullptr);
    EXPECT_EQ(p->schemaOf("Win32_Missing"), nullptr);
    EXPECT_EQ(WmiErrorOf([&] { p->enumerate("Win32_Missing"); }), wmi::WBEM_E_INVALID_CLASS);
}

TEST(SnapshotProvider, EnumerationOutlivesTheProvider) {
    ScratchDir dir;
    std::unique_ptr<wmi::InstanceCursor> cursor;
    {
        auto p = wmi::LoadSnapshot(dir.write("s.json", OneValue(wmi::CIM_STRING, false, "\"kept\"")));
        cursor = p->enumerate("Kst_Test");
    }
    auto obj = cursor->next();
    ASSERT_TRUE(obj);
    EXPECT_EQ(obj->Get("P"), wmi::Value("kept"));
}

// ---- Malformed files ----------------------------------------------------

TEST(SnapshotErrors, UnreadableFilesNameTheFile) {
    ScratchDir dir;
    const std::string missing = dir.file("absent.json");
    ExpectContainsAll(FileErrorOf([&] { wmi::LoadSnapshot(missing); }), {missing, "cannot be opened"});
    ExpectContainsAll(FileErrorOf([&] { wmi::LoadSnapshot(dir.path().string()); }),
                      {dir.path().string(), "is a directory"});
}

// The snapshot fuzz corpus holds a file for each way a snapshot can be
// malformed (refused-*): every one is refused, naming the file.
TEST(SnapshotErrors, EveryRefusedSeedIsRefused) {
    int seen = 0;
    for (const auto& e : std::filesystem::directory_iterator(KESTRANE_SOURCE_DIR "/fuzz/corpus/snapshot")) {
        if (!e.path().filename().string().starts_with("refused-")) continue;
        ++seen;
        const std::string path = e.path().string();
        const std::string msg = FileErrorOf([&] { wmi::LoadSnapshot(path); });
        EXPECT_EQ(msg.rfind(path + ": ", 0), 0u) << msg;
        EXPECT_EQ(msg.find("json.exception"), std::string::npos) << msg;  // the library's own prefix is not shown
    }
    EXPECT_GT(seen, 100);
}

TEST(SnapshotErrors, MalformedFilesSayWhereAndWhy) {
    struct Case {
        std::string text;
        std::vector<std::string> want;
    } cases[] = {
        {"{\"format\": \"kestrane-snapshot\",\n  \"version\": 1,,\n}", {"line 2, column 16:", "unexpected ','"}},
        {"{\"format\": \"k\xFF\"}", {"line 1, column 14:", "ill-formed UTF-8"}},
        {"\xEF\xBB\xBF{\"computer\": \"\xC3\xA9\xC3\xA9\", x}", {"line 1, column 20:"}},
        {"{\"format\": " + std::string(200000, '[') + std::string(200000, ']') + "}",
         {"line 1, column 12:", "\"format\" is [...]"}},
        {R"({"format": "kestrane-snapshot", "version": 3})", {"unsupported snapshot version 3", "versions 1 to 2"}},
        {Doc(R"("2Fan": {"properties": [], "instances": []})"), {"class name \"2Fan\" is not a valid name"}},
        {Doc(R"("Win32_Fan": {"properties": [)" + Decl("Speed", 99) + R"(], "instances": []})"),
         {"class Win32_Fan: property Speed: unknown CIM type 99"}},
        {OneValue(wmi::CIM_UINT16, true, "[1, null]"),
         {"class Kst_Test, instances[0], property P: element 1: null cannot be an array element"}},
        {Doc(R"("Win32_Fan": {"instances": [{"Name": "a"}, {"Sped": 1}], "properties": [)" + Decl("Name", 8) + "]}"),
         {"class Win32_Fan, instances[1]: member \"Sped\" is not declared in \"properties\""}},
    };
    ScratchDir dir;
    for (const auto& c : cases) {
        const std::string path = dir.write("bad.json", c.text);
        const std::string msg = FileErrorOf([&] { wmi::LoadSnapshot(path); });
        EXPECT_EQ(msg.rfind(path + ": ", 0), 0u) << msg;
        for (const auto& w : c.want) EXPECT_NE(msg.find(w), std::string::npos) << "wanted " << w << " in " << msg;
        EXPECT_EQ(msg.find('\xFF'), std::string::npos);
    }
}

TEST(SnapshotErrors, PositionPointsAtTheOffendingValue) {
    const std::string text = "{\"format\": \"kestrane-snapshot\", \"version\": 1, \"computer\": \"H\",\n"
                             " \"captured\": \"\",\n"
                             " \"classes\": {\n"
                             "  \"Win32_Fan\": {\"properties\": [" + Decl("Speed", 18) + "],\n"
                             "   \"instances\": [\n"
                             "    {\"Speed\": 1},\n"
                             "    {\"Speed\":   70000}\n"
                             "  ]}}}";
    ScratchDir dir;
    const std::string path = dir.write("pos.json", text);
    EXPECT_EQ(FileErrorOf([&] { wmi::LoadSnapshot(path); }),
              path + ": line 7, column 17: class Win32_Fan, instances[1], property Speed: 70000 is out of range for "
                     "uint16 (0 to 65535)");
}

TEST(SnapshotErrors, AFaultInALaterClassRefusesTheWholeFile) {
    ScratchDir dir;
    const std::string good = R"("Win32_Fan": {"properties": [)" + Decl("Speed", 18) + R"(], "instances": [{"Speed": 1}]})";
    const std::string bad = R"("Win32_Bus": {"properties": [)" + Decl("BusNum", 19) + R"(], "instances": [{"BusNum": -3}]})";
    const std::string path = dir.write("half.json", Doc(good + ", " + bad));
    std::shared_ptr<wmi::SnapshotProvider> p;
    const std::string msg = FileErrorOf([&] { p = wmi::LoadSnapshot(path); });
    ExpectContainsAll(msg, {"class Win32_Bus, instances[0], property BusNum: -3 is out of range for uint32"});
    EXPECT_EQ(p, nullptr);
}

namespace {

std::string V2(const std::string& classes, const char* version = "2") {
    std::string head = kHead;
    head.replace(head.find("\"version\": 1"), 12, std::string("\"version\": ") + version);
    return head + R"("classes": {)" + classes + "}}";
}

}  // namespace

TEST(SnapshotSubclasses, AQueryOfTheClassDeliversItsOwnRowsThenEachSubclassInFileOrder) {
    // Members in an unusual order too: instances before properties, and
    // subclasses after instances.
    const std::string text = V2(
        R"("Kst_Perf": {"instances": [{"Name": "own"}], "properties": [)" + Decl("Name", 8) +
        R"(], "subclasses": {"Kst_PerfB": {"properties": [)" + Decl("Name", 8) + "," + Decl("Load", 19) +
        R"(], "instances": [{"Name": "b0", "Load": 7}, {"Load": 8}]}, "Kst_PerfA": {"instances": [{"Load": "x"}], "properties": [)" +
        Decl("Load", 8, false, "Kst_PerfA") + R"(]}}}, "Kst_Other": {"properties": [], "instances": []})");
    ScratchDir dir;
    auto p = wmi::LoadSnapshot(dir.write("v2.json", text));
    EXPECT_EQ(p->classNames(), (std::vector<std::string>{"Kst_Perf", "Kst_Other"}));  // subclasses are no classes
    EXPECT_EQ(p->instanceCount("kst_perf"), 4u);
    EXPECT_THROW(p->enumerate("Kst_PerfB"), wmi::Error);
    auto cursor = p->enumerate("Kst_Perf");
    std::vector<std::string> got;
    while (auto o = cursor->next()) {
        std::string row = o->className() + ":";
        for (const auto& v : o->values()) row += " " + (v.isNull() ? std::string("Null") : wmi::ValueText(v));
        got.push_back(row);
    }
    // "Load" is uint32 in one subclass and a string in the other, which
    // version 1 could not hold in one class.
    EXPECT_EQ(got, (std::vector<std::string>{"Kst_Perf: own", "Kst_PerfB: b0 7", "Kst_PerfB: Null 8", "Kst_PerfA: x"}));
}

TEST(SnapshotSubclasses, MalformedSubclassesAreRefusedWithTheirNames) {
    ScratchDir dir;
    const std::string path = dir.write("sub.json", V2(R"("C": {"properties": [], "subclasses": {"S": {"properties": [)" +
                                                          Decl("Name", 8) + R"(], "instances": [{}, {"Name": 5}]}}, "instances": []})"));
    ExpectContainsAll(FileErrorOf([&] { wmi::LoadSnapshot(path); }),
                      {"class C, subclass S, instances[1], property Name: a number (5) cannot be string"});
}
