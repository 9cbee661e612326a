// Loading snapshot files: how each CIM type is read and written, and that
// every malformed or damaged file is refused whole, saying where and why.

#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "test_support.h"
#include "wmi/snapshot/snapshot.h"

using namespace kestrane_test;
using wmi::Value;
using Array = wmi::Value::Array;

namespace {

const std::string kHead =
    R"({"format": "kestrane-snapshot", "version": 1, "computer": "HOST", "captured": "20261206101500.000000+000", )";

std::string Doc(const std::string& classes) { return kHead + R"("classes": {)" + classes + "}}"; }

std::string Decl(const std::string& name, long long type, bool array = false, const std::string& origin = "Kst_Base") {
    return R"({"name": ")" + name + R"(", "cimtype": )" + std::to_string(type) + R"(, "array": )" +
           (array ? "true" : "false") + R"(, "origin": ")" + origin + R"("})";
}

}  // namespace

TEST(SnapshotTypes, EachCimTypeIsReadAndWrittenAsALiveComputerDeliversIt) {
    struct Case {
        int type;
        bool array;
        const char* json;  // as a file holds it
        Value want;        // as a live computer delivers it
        Value given;       // what a provider hands the writer
        Case(int t, bool a, const char* j, Value w) : Case(t, a, j, w, w) {}
        Case(int t, bool a, const char* j, Value w, Value g) : type(t), array(a), json(j), want(w), given(g) {}
    } cases[] = {
        {wmi::CIM_UINT8, false, "255", Value(255)},
        {wmi::CIM_SINT8, false, "-128", Value(-128)},
        {wmi::CIM_UINT16, false, "65535", Value(65535)},
        {wmi::CIM_SINT16, false, "-32768", Value(-32768)},
        {wmi::CIM_UINT32, false, "4294967295", Value(4294967295LL)},
        {wmi::CIM_SINT32, false, "-2147483648", Value(-2147483648LL)},
        {wmi::CIM_UINT16, false, "3.0", Value(3)},  // a whole number written as a real
        // 64-bit figures are decimal text, however the file or the provider gives them
        {wmi::CIM_UINT64, false, "18446744073709551615", Value("18446744073709551615")},
        {wmi::CIM_UINT64, false, "\"18446744073709551615\"", Value("18446744073709551615")},
        {wmi::CIM_UINT64, false, "\"0042\"", Value("42"), Value("0042")},
        {wmi::CIM_UINT64, false, "0", Value("0"), Value(0)},
        {wmi::CIM_SINT64, false, "-9223372036854775808", Value("-9223372036854775808")},
        {wmi::CIM_SINT64, false, "\"-9223372036854775808\"", Value("-9223372036854775808")},
        {wmi::CIM_SINT64, false, "\"9223372036854775807\"", Value("9223372036854775807")},
        {wmi::CIM_SINT64, false, "\"-0\"", Value("0")},
        {wmi::CIM_SINT64, false, "-5", Value("-5"), Value(-5)},
        // reals stay reals, every bit kept
        {wmi::CIM_REAL32, false, "3.3", Value(3.3)},
        {wmi::CIM_REAL64, false, "2", Value(2.0), Value(2)},
        {wmi::CIM_REAL64, false, "0.30000000000000004", Value(0.1 + 0.2)},
        {wmi::CIM_REAL64, false, "-1.5e-300", Value(-1.5e-300)},
        {wmi::CIM_BOOLEAN, false, "false", Value(false)},
        {wmi::CIM_STRING, false, R"("C:\\WINDOWS \"x\"\t\u00e9 \u0001")", Value("C:\\WINDOWS \"x\"\t\xC3\xA9 \x01")},
        {wmi::CIM_STRING, false, R"("nul\u0000inside")", Value(std::string("nul\0inside", 10))},
        {wmi::CIM_STRING, false, "\"bad \xEF\xBF\xBD byte\"", Value("bad \xEF\xBF\xBD byte"), Value("bad \xFF byte")},
        {wmi::CIM_STRING, false, "\"\"", Value("")},
        {wmi::CIM_CHAR16, false, "\"\xE2\x82\xAC\"", Value("\xE2\x82\xAC")},
        {wmi::CIM_REFERENCE, false, R"("\\\\ORION\\root\\cimv2:Win32_Service.Name=\"Spooler\"")",
         Value(R"(\\ORION\root\cimv2:Win32_Service.Name="Spooler")")},
        {wmi::CIM_DATETIME, false, "\"20261206101500.000000+060\"", Value("20261206101500.000000+060")},
        {wmi::CIM_DATETIME, false, "\"00000001020304.000000:000\"", Value("00000001020304.000000:000")},
        {wmi::CIM_DATETIME, false, "\"2026120610****.******+000\"", Value("2026120610****.******+000")},
        {wmi::CIM_OBJECT, false, "\"instance of Win32_Foo {};\"", Value("instance of Win32_Foo {};")},
        {wmi::CIM_UINT16, false, "null", Value()},
        {wmi::CIM_UINT16, true, "null", Value()},
        {wmi::CIM_UINT16, true, "[]", Value(Array{})},  // empty, not Null
        {wmi::CIM_UINT16, true, "[3, 4, 7]", Value(Array{3, 4, 7})},
        {wmi::CIM_UINT64, true, "[1, \"2\"]", Value(Array{"1", "2"}), Value(Array{1, "2"})},
        {wmi::CIM_STRING, true, R"(["a", ""])", Value(Array{"a", ""})},
        {wmi::CIM_BOOLEAN, true, "[true, false]", Value(Array{true, false})},
        {wmi::CIM_DATETIME, true, "[\"20261206101500.000000+000\"]", Value(Array{"20261206101500.000000+000"})},
    };
    // One property a case, all in one instance: read from a file, and as written.
    std::vector<wmi::PropertyDecl> decls;
    std::vector<Value> given;
    std::string declared, instance;
    for (std::size_t k = 0; k < std::size(cases); ++k) {
        const auto& c = cases[k];
        decls.push_back({"P" + std::to_string(k), c.type, c.array, "Kst_Base"});
        given.push_back(c.given);
        declared += (k ? "," : "") + Decl(decls.back().name, c.type, c.array);
        instance += std::string(k ? "," : "") + "\"" + decls.back().name + "\": " + c.json;
    }
    ScratchDir dir;
    const std::string read = dir.write("read.json",
                                       Doc(R"("Kst_T": {"properties": [)" + declared + R"(], "instances": [{)" + instance + "}]}"));
    const std::string written = dir.file("written.json");
    const auto schema = Schema("Kst_T", decls);
    wmi::WriteSnapshot(written, {"HOST", "", {{"Kst_T", schema, {wmi::Object(schema, given)}}}});
    for (const std::string& path : {read, written}) {
        auto got = Instances(*wmi::LoadSnapshot(path), "Kst_T");
        ASSERT_EQ(got.size(), 1u);
        for (std::size_t k = 0; k < std::size(cases); ++k)
            EXPECT_EQ(got[0].values()[k], cases[k].want) << path << ": case " << k << " json " << cases[k].json;
    }
    // Other JSON readers round numbers beyond 2^53.
    EXPECT_NE(ReadAll(written).find("\"18446744073709551615\""), std::string::npos);
}

TEST(SnapshotTypes, InstancesMatchTheirDeclarationsInAnyOrderAndCase) {
    // Omitted members are Null in their place; members match declarations
    // ignoring case; instances may come before the declarations.
    const std::string text = Doc(R"("Kst_A": {"properties": [)" + Decl("A", 18) + "," + Decl("DeviceID", 8) + "," +
                                 Decl("C", 11) + R"(], "instances": [{"C": true, "deviceid": "x"}, {}]},
                                 "Kst_B": {"instances": [{"B": "9", "A": [1, 2]}], "properties": [)" +
                                 Decl("A", 17, true) + "," + Decl("B", 21) + "]}");
    ScratchDir dir;
    auto p = wmi::LoadSnapshot(dir.write("s.json", text));
    auto a = Instances(*p, "kst_a");
    ASSERT_EQ(a.size(), 2u);
    EXPECT_EQ(a[0].values(), (std::vector<Value>{Value(), Value("x"), Value(true)}));
    EXPECT_EQ(a[0].Properties_().Item("DEVICEID").name(), "DeviceID");  // the declared spelling
    EXPECT_EQ(a[1].values(), std::vector<Value>(3));
    EXPECT_EQ(Instances(*p, "Kst_B").at(0).values(), (std::vector<Value>{Value(Array{1, 2}), Value("9")}));
}

TEST(SnapshotProvider, KnowsItsComputerAndClassesInFileOrder) {
    ScratchDir dir;
    const std::string text = Doc(R"("Win32_Zeta": {"properties": [], "instances": [{}, {}]},
                                     "Win32_Alpha": {"properties": [], "instances": []},
                                     "CIM_Mid": {"properties": [], "instances": [{}]})");
    std::unique_ptr<wmi::InstanceCursor> cursor;
    {
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
        cursor = p->enumerate("CIM_Mid");
    }
    EXPECT_TRUE(cursor->next());  // an enumeration outlives its provider
}

TEST(SnapshotSubclasses, AQueryOfTheClassDeliversItsOwnRowsThenEachSubclassInFileOrder) {
    // Members in an unusual order too: instances before properties, and
    // subclasses after instances.
    std::string text = Doc(
        R"("Kst_Perf": {"instances": [{"Name": "own"}], "properties": [)" + Decl("Name", 8) +
        R"(], "subclasses": {"Kst_PerfB": {"properties": [)" + Decl("Name", 8) + "," + Decl("Load", 19) +
        R"(], "instances": [{"Name": "b0", "Load": 7}, {"Load": 8}]}, "Kst_PerfA": {"instances": [{"Load": "x"}], "properties": [)" +
        Decl("Load", 8, false, "Kst_PerfA") + R"(]}}}, "Kst_Other": {"properties": [], "instances": []})");
    text.replace(text.find("\"version\": 1"), 12, "\"version\": 2");
    ScratchDir dir;
    auto p = wmi::LoadSnapshot(dir.write("v2.json", text));
    EXPECT_EQ(p->classNames(), (std::vector<std::string>{"Kst_Perf", "Kst_Other"}));  // subclasses are no classes
    EXPECT_EQ(p->instanceCount("kst_perf"), 4u);
    EXPECT_THROW(p->enumerate("Kst_PerfB"), wmi::Error);
    std::vector<std::string> got;
    for (const auto& o : Instances(*p, "Kst_Perf")) {
        std::string row = o.className() + ":";
        for (const auto& v : o.values()) row += " " + (v.isNull() ? std::string("Null") : wmi::ValueText(v));
        got.push_back(row);
    }
    // "Load" is uint32 in one subclass and a string in the other, which
    // version 1 could not hold in one class.
    EXPECT_EQ(got, (std::vector<std::string>{"Kst_Perf: own", "Kst_PerfB: b0 7", "Kst_PerfB: Null 8", "Kst_PerfA: x"}));
}

// ---- Malformed and damaged files -------------------------------------------

TEST(SnapshotErrors, UnreadableFilesNameTheFile) {
    ScratchDir dir;
    const std::string missing = dir.file("absent.json");
    ExpectContainsAll(FileErrorOf([&] { wmi::LoadSnapshot(missing); }), {missing, "cannot be opened"});
    ExpectContainsAll(FileErrorOf([&] { wmi::LoadSnapshot(dir.path().string()); }),
                      {dir.path().string(), "is a directory"});
}

// The snapshot fuzz corpus holds a file for each way a snapshot can be
// malformed (refused-*); tests/fixtures/snapshots/refusals.txt holds the
// message each is refused with, after the file's name.
TEST(SnapshotErrors, MalformedFilesSayWhereAndWhy) {
    std::map<std::string, std::string> want;
    std::ifstream list(std::string(KESTRANE_FIXTURES) + "/snapshots/refusals.txt");
    for (std::string line; std::getline(list, line);)
        if (auto colon = line.find(": "); line[0] != '#' && colon != std::string::npos)
            want[line.substr(0, colon)] = line.substr(colon + 2);
    std::size_t seen = 0;
    for (const auto& e : std::filesystem::directory_iterator(KESTRANE_SOURCE_DIR "/fuzz/corpus/snapshot")) {
        const std::string name = e.path().filename().string();
        if (!name.starts_with("refused-")) continue;
        ++seen;
        const std::string path = e.path().string();
        EXPECT_EQ(FileErrorOf([&] { wmi::LoadSnapshot(path); }), path + ": " + want[name]) << name;
    }
    EXPECT_EQ(seen, want.size());
}

namespace {

// Every instance of every class, so a half-loaded store would show.
std::size_t CountAll(wmi::SnapshotProvider& p) {
    std::size_t n = 0;
    for (const auto& cls : p.classNames()) {
        for (const auto& o : Instances(p, cls)) {
            EXPECT_EQ(o.values().size(), o.schema().size()) << cls;
            ++n;
        }
    }
    return n;
}

}  // namespace

TEST(SnapshotErrors, AFileCutShortAnywhereIsRefusedWhole) {
    const std::string full = ReadAll(SampleSnapshot());
    // The closing brace is the last byte that matters; whitespace after it may go.
    const std::size_t end = full.find_last_of('}');
    for (std::size_t cut = 0; cut < end; cut += (cut < 200 ? 1 : 53)) {
        const std::string msg = FileErrorOf([&] { wmi::ParseSnapshot(full.substr(0, cut), "cut.json"); });
        EXPECT_EQ(msg.rfind("cut.json: ", 0), 0u) << "cut at " << cut << ": " << msg;
    }
}

TEST(SnapshotErrors, AFlippedByteLoadsEverythingOrNothing) {
    const std::string full = ReadAll(SampleSnapshot());
    auto intact = wmi::ParseSnapshot(full, "sample.json");
    const std::size_t instances = CountAll(*intact);
    std::size_t refused = 0, loaded = 0;
    for (std::size_t pos = 0; pos < full.size(); pos += 257) {
        for (char to : {'\0', '"', '}', '\xFF', '9', ' '}) {
            std::string damaged = full;
            damaged[pos] = to;
            std::shared_ptr<wmi::SnapshotProvider> p;
            try {
                p = wmi::ParseSnapshot(damaged, "flip.json");
            } catch (const kestrane::FileError& e) {
                EXPECT_EQ(std::string(e.what()).rfind("flip.json: ", 0), 0u) << e.what();
                ++refused;
                continue;
            }
            // A byte inside a text or a number changes one value, never the
            // number of instances.
            ++loaded;
            EXPECT_EQ(p->classNames().size(), intact->classNames().size()) << "byte " << pos;
            EXPECT_EQ(CountAll(*p), instances) << "byte " << pos;
        }
    }
    EXPECT_GT(refused, 0u);
    EXPECT_GT(loaded, 0u);
}
