// Loading snapshot files: how each CIM type is read, and that every kind of
// malformed file is refused whole with a message that says where and why.

#include <gtest/gtest.h>

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

TEST(SnapshotErrors, BrokenJsonGivesTheParsersLineAndColumn) {
    struct Case {
        const char* label;
        std::string text;
        std::vector<std::string> want;
    } cases[] = {
        {"empty file", "", {"line 1, column 1:", "unexpected end of input"}},
        {"stray comma", "{\"format\": \"kestrane-snapshot\",\n  \"version\": 1,,\n}", {"line 2, column 16:", "unexpected ','"}},
        {"cut short", kHead + "\"classes\": {\"A\": {\"properties\": [", {"unexpected end of input"}},
        {"bad literal", "{\n\n   \"format\": tru}", {"line 3, column 17:", "invalid literal"}},
        {"trailing text", Doc("") + "\nx", {"line 2, column 1:", "expected end of input"}},
        {"not UTF-8", "{\"format\": \"k\xFF\"}", {"line 1, column 14:", "ill-formed UTF-8"}},
        {"number overflow", "{\"version\": 1e400}", {"line 1, column 17:", "number overflow parsing '1e400'"}},
        {"after a byte-order mark", "\xEF\xBB\xBF{\"format\": tru}", {"line 1, column 15:", "invalid literal"}},
        {"multi-byte column", "{\"computer\": \"\xC3\xA9\xC3\xA9\", x}", {"line 1, column 20:"}},
    };
    ScratchDir dir;
    for (const auto& c : cases) {
        const std::string path = dir.write("broken.json", c.text);
        const std::string msg = FileErrorOf([&] { wmi::LoadSnapshot(path); });
        EXPECT_EQ(msg.rfind(path + ": ", 0), 0u) << c.label << ": " << msg;
        for (const auto& w : c.want) EXPECT_NE(msg.find(w), std::string::npos) << c.label << ": wanted " << w << " in " << msg;
        EXPECT_EQ(msg.find("json.exception"), std::string::npos) << msg;  // the library's own prefix is not shown
        EXPECT_EQ(msg.find('\xFF'), std::string::npos) << c.label;
    }
}

TEST(SnapshotErrors, WrongOrMissingTopLevelMembers) {
    const std::string classes = R"("classes": {})";
    struct Case {
        const char* label;
        std::string text;
        std::vector<std::string> want;
    } cases[] = {
        {"array at top", "[]", {"line 1, column 1:", "not a snapshot"}},
        {"number at top", "42", {"not a snapshot"}},
        {"other format", R"({"format": "other", "version": 1})", {"line 1, column 12:", "not a Kestrane snapshot", "\"other\""}},
        {"format not text", R"({"format": 1})", {"not a Kestrane snapshot"}},
        {"version 3", R"({"format": "kestrane-snapshot", "version": 3})", {"unsupported snapshot version 3", "versions 1 to 2"}},
        {"version 0", R"({"format": "kestrane-snapshot", "version": 0})", {"unsupported snapshot version 0"}},
        {"version as text", R"({"format": "kestrane-snapshot", "version": "1"})", {"unsupported snapshot version \"1\""}},
        {"version real", R"({"format": "kestrane-snapshot", "version": 1.5})", {"unsupported snapshot version 1.5"}},
        {"no format", R"({"version": 1, "computer": "H", "captured": "", "classes": {}})", {"missing member \"format\""}},
        {"no version", R"({"format": "kestrane-snapshot", "computer": "H", "captured": "", "classes": {}})",
         {"missing member \"version\""}},
        {"no computer", R"({"format": "kestrane-snapshot", "version": 1, "captured": "", "classes": {}})",
         {"missing member \"computer\""}},
        {"no captured", R"({"format": "kestrane-snapshot", "version": 1, "computer": "H", "classes": {}})",
         {"missing member \"captured\""}},
        {"no classes", R"({"format": "kestrane-snapshot", "version": 1, "computer": "H", "captured": ""})",
         {"missing member \"classes\""}},
        {"computer not text", kHead.substr(0, kHead.find("\"computer\"")) + R"("computer": 7, )" + classes + "}",
         {"\"computer\" must be a string"}},
        {"captured not DMTF", R"({"captured": "2026-12-06"})", {"\"captured\" must be a DMTF datetime", "2026-12-06"}},
        {"classes array", kHead + R"("classes": []})", {"\"classes\" must be an object, not an array"}},
        {"unknown member", kHead + R"("comment": "x", )" + classes + "}", {"unknown member \"comment\""}},
        {"deeply nested", "{\"format\": " + std::string(200000, '[') + std::string(200000, ']') + "}",
         {"line 1, column 12:", "\"format\" is [...]"}},
        {"duplicate member", "{\"format\": \"kestrane-snapshot\",\n \"format\": \"kestrane-snapshot\"}",
         {"line 2, column 2:", "member \"format\" is given twice"}},
    };
    ScratchDir dir;
    for (const auto& c : cases) {
        const std::string path = dir.write("top.json", c.text);
        const std::string msg = FileErrorOf([&] { wmi::LoadSnapshot(path); });
        EXPECT_EQ(msg.rfind(path + ": ", 0), 0u) << c.label << ": " << msg;
        for (const auto& w : c.want) EXPECT_NE(msg.find(w), std::string::npos) << c.label << ": wanted " << w << " in " << msg;
    }
}

TEST(SnapshotErrors, MalformedClassesAndDeclarationsNameTheClassAndProperty) {
    const std::string a = Decl("Availability", 18);
    struct Case {
        const char* label;
        std::string classes;
        std::vector<std::string> want;
    } cases[] = {
        {"class not object", R"("Win32_Fan": [])", {"class Win32_Fan must be an object"}},
        {"class name", R"("Win32 Fan": {"properties": [], "instances": []})", {"class name \"Win32 Fan\" is not a valid name"}},
        {"empty class name", R"("": {"properties": [], "instances": []})", {"class name \"\""}},
        {"same class twice", R"("Win32_Fan": {"properties": [], "instances": []}, "Win32_Fan": {"properties": [], "instances": []})",
         {"class Win32_Fan is given twice"}},
        {"classes differ in case",
         R"("Win32_Fan": {"properties": [], "instances": []}, "WIN32_FAN": {"properties": [], "instances": []})",
         {"classes Win32_Fan and WIN32_FAN differ only in letter case"}},
        {"no properties", R"("Win32_Fan": {"instances": []})", {"class Win32_Fan: missing member \"properties\""}},
        {"no instances", R"("Win32_Fan": {"properties": []})", {"class Win32_Fan: missing member \"instances\""}},
        {"unknown class member", R"("Win32_Fan": {"properties": [], "instances": [], "count": 0})",
         {"class Win32_Fan: unknown member \"count\""}},
        {"properties twice", R"("Win32_Fan": {"properties": [], "properties": [], "instances": []})",
         {"class Win32_Fan: member \"properties\" is given twice"}},
        {"properties object", R"("Win32_Fan": {"properties": {}, "instances": []})",
         {"class Win32_Fan: \"properties\" must be an array, not an object"}},
        {"instances text", R"("Win32_Fan": {"properties": [], "instances": "none"})",
         {"class Win32_Fan: \"instances\" must be an array, not a string"}},
        {"declaration not object", R"("Win32_Fan": {"properties": ["Availability"], "instances": []})",
         {"class Win32_Fan: property 0: a property declaration must be an object"}},
        {"no name", R"("Win32_Fan": {"properties": [)" + a + R"(, {"cimtype": 8, "array": false, "origin": "x"}], "instances": []})",
         {"class Win32_Fan: property 1: missing member \"name\""}},
        {"name not text", R"("Win32_Fan": {"properties": [{"name": 5, "cimtype": 8, "array": false, "origin": "x"}], "instances": []})",
         {"property 0: \"name\" must be a property name"}},
        {"name with blank", R"("Win32_Fan": {"properties": [{"name": "Max Speed", "cimtype": 8, "array": false, "origin": "x"}], "instances": []})",
         {"property Max Speed: \"name\" must be a property name"}},
        {"unknown type", R"("Win32_Fan": {"properties": [)" + Decl("Speed", 99) + R"(], "instances": []})",
         {"class Win32_Fan: property Speed: unknown CIM type 99"}},
        {"type too large", R"("Win32_Fan": {"properties": [)" + Decl("Speed", 4294967314LL) + R"(], "instances": []})",
         {"property Speed: unknown CIM type 4294967314"}},
        {"type as text", R"("Win32_Fan": {"properties": [{"name": "Speed", "cimtype": "18", "array": false, "origin": "x"}], "instances": []})",
         {"property Speed: unknown CIM type \"18\""}},
        {"no cimtype", R"("Win32_Fan": {"properties": [{"name": "Speed", "array": false, "origin": "x"}], "instances": []})",
         {"property Speed: missing member \"cimtype\""}},
        {"array flag text", R"("Win32_Fan": {"properties": [{"name": "Speed", "cimtype": 18, "array": "no", "origin": "x"}], "instances": []})",
         {"property Speed: \"array\" must be true or false"}},
        {"no array flag", R"("Win32_Fan": {"properties": [{"name": "Speed", "cimtype": 18, "origin": "x"}], "instances": []})",
         {"property Speed: missing member \"array\""}},
        {"no origin", R"("Win32_Fan": {"properties": [{"name": "Speed", "cimtype": 18, "array": false}], "instances": []})",
         {"property Speed: missing member \"origin\""}},
        {"origin not text", R"("Win32_Fan": {"properties": [{"name": "Speed", "cimtype": 18, "array": false, "origin": null}], "instances": []})",
         {"property Speed: \"origin\" must be a string"}},
        {"unknown decl member", R"("Win32_Fan": {"properties": [{"name": "Speed", "cimtype": 18, "array": false, "origin": "x", "unit": "rpm"}], "instances": []})",
         {"property Speed: unknown member \"unit\""}},
        {"decl member twice", R"("Win32_Fan": {"properties": [{"name": "Speed", "name": "Speed2", "cimtype": 18, "array": false, "origin": "x"}], "instances": []})",
         {"member \"name\" is given twice"}},
        {"property twice", R"("Win32_Fan": {"properties": [)" + a + "," + a + R"(], "instances": []})",
         {"class Win32_Fan: property Availability: declared twice"}},
        {"properties differ in case", R"("Win32_Fan": {"properties": [)" + a + "," + Decl("AVAILABILITY", 8) + R"(], "instances": []})",
         {"class Win32_Fan: property AVAILABILITY: differs from property Availability only in letter case"}},
    };
    ScratchDir dir;
    for (const auto& c : cases) {
        const std::string path = dir.write("cls.json", Doc(c.classes));
        const std::string msg = FileErrorOf([&] { wmi::LoadSnapshot(path); });
        EXPECT_EQ(msg.rfind(path + ": line 1, column ", 0), 0u) << c.label << ": " << msg;
        for (const auto& w : c.want) EXPECT_NE(msg.find(w), std::string::npos) << c.label << ": wanted " << w << " in " << msg;
    }
}

TEST(SnapshotErrors, ValuesThatCannotBeTheirTypeNameClassInstanceAndProperty) {
    struct Case {
        int type;
        bool array;
        const char* json;
        std::vector<std::string> want;
    } cases[] = {
        {wmi::CIM_UINT16, false, "70000", {"70000 is out of range for uint16 (0 to 65535)"}},
        {wmi::CIM_UINT16, false, "-1", {"-1 is out of range for uint16"}},
        {wmi::CIM_UINT32, false, "-1", {"-1 is out of range for uint32 (0 to 4294967295)"}},
        {wmi::CIM_UINT32, false, "4294967296", {"4294967296 is out of range for uint32"}},
        {wmi::CIM_SINT32, false, "2147483648", {"2147483648 is out of range for sint32 (-2147483648 to 2147483647)"}},
        {wmi::CIM_UINT8, false, "256", {"out of range for uint8"}},
        {wmi::CIM_SINT8, false, "-129", {"-129 is out of range for sint8"}},
        {wmi::CIM_SINT16, false, "32768", {"out of range for sint16"}},
        {wmi::CIM_UINT8, false, "1.5", {"1.5 is not a whole number, as uint8 needs"}},
        {wmi::CIM_UINT32, false, "1e20", {"out of range for uint32"}},
        {wmi::CIM_UINT16, false, "\"12\"", {"a string (\"12\") cannot be uint16 (a JSON integer)"}},
        {wmi::CIM_UINT32, false, "true", {"a boolean (true) cannot be uint32"}},
        {wmi::CIM_UINT64, false, "\"18446744073709551616\"", {"is not a decimal number, as uint64 needs"}},
        {wmi::CIM_UINT64, false, "18446744073709551616", {"out of range for uint64"}},
        {wmi::CIM_UINT64, false, "-1", {"-1 is out of range for uint64"}},
        {wmi::CIM_UINT64, false, "\"-1\"", {"-1 is out of range for uint64"}},
        {wmi::CIM_UINT64, false, "\"12a\"", {"\"12a\" is not a decimal number"}},
        {wmi::CIM_UINT64, false, "\"\"", {"is not a decimal number"}},
        {wmi::CIM_SINT64, false, "\" 12\"", {"is not a decimal number"}},
        {wmi::CIM_SINT64, false, "\"+5\"", {"is not a decimal number"}},
        {wmi::CIM_SINT64, false, "\"9223372036854775808\"", {"9223372036854775808 is out of range for sint64"}},
        {wmi::CIM_SINT64, false, "\"1.0\"", {"is not a decimal number"}},
        {wmi::CIM_REAL32, false, "1e39", {"out of range for real32"}},
        {wmi::CIM_REAL64, false, "\"2.5\"", {"a string (\"2.5\") cannot be real64"}},
        {wmi::CIM_BOOLEAN, false, "\"true\"", {"cannot be boolean"}},
        {wmi::CIM_BOOLEAN, false, "1", {"a number (1) cannot be boolean"}},
        {wmi::CIM_STRING, false, "42", {"a number (42) cannot be string"}},
        {wmi::CIM_STRING, false, "{\"a\": 1}", {"an object ({...}) cannot be string"}},
        {wmi::CIM_REFERENCE, false, "false", {"cannot be reference"}},
        {wmi::CIM_CHAR16, false, "\"ab\"", {"\"ab\" is not a single character"}},
        {wmi::CIM_CHAR16, false, "\"\"", {"is not a single character"}},
        {wmi::CIM_CHAR16, false, "\"\xF0\x9F\x98\x80\"", {"is not a single character"}},  // beyond 16 bits
        {wmi::CIM_DATETIME, false, "\"20261206\"", {"\"20261206\" is not a DMTF datetime"}},
        {wmi::CIM_DATETIME, false, "\"20261206101500.000000+0600\"", {"is not a DMTF datetime"}},
        {wmi::CIM_DATETIME, false, "\"2026-12-06T10:15:00.000Z+000\"", {"is not a DMTF datetime"}},
        {wmi::CIM_DATETIME, false, "\"20261206101500,000000+060\"", {"is not a DMTF datetime"}},
        {wmi::CIM_DATETIME, false, "\"20261206101500.000000:060\"", {"is not a DMTF datetime"}},
        {wmi::CIM_DATETIME, false, "1765016100", {"cannot be datetime"}},
        {wmi::CIM_UINT16, false, "[1]", {"an array given for a property that is not an array"}},
        {wmi::CIM_UINT16, true, "1", {"a number (1) given for an array property"}},
        {wmi::CIM_STRING, true, "\"a\"", {"given for an array property"}},
        {wmi::CIM_UINT16, true, "[1, null]", {"element 1: null cannot be an array element"}},
        {wmi::CIM_UINT16, true, "[[1]]", {"element 0: arrays cannot be nested"}},
        {wmi::CIM_UINT16, true, "[1, 2, 65536]", {"element 2: 65536 is out of range for uint16"}},
        {wmi::CIM_STRING, true, "[\"a\", 1]", {"element 1: a number (1) cannot be string"}},
    };
    ScratchDir dir;
    for (const auto& c : cases) {
        const std::string path = dir.write("val.json", OneValue(c.type, c.array, c.json));
        const std::string msg = FileErrorOf([&] { wmi::LoadSnapshot(path); });
        // The value stands on the first line after `"P": `.
        ExpectContainsAll(msg, {path + ": line 1, column ", "class Kst_Test, instances[0], property P: "}, c.json);
        for (const auto& w : c.want) EXPECT_NE(msg.find(w), std::string::npos) << c.json << ": wanted " << w << " in " << msg;
    }
}

TEST(SnapshotErrors, InstanceMembersMustBeDeclaredOnce) {
    const std::string decls = Decl("Name", 8) + "," + Decl("Speed", 19);
    struct Case {
        const char* label;
        std::string instances;
        std::vector<std::string> want;
    } cases[] = {
        {"undeclared", R"([{"Name": "a"}, {"Name": "b", "Sped": 1}])",
         {"class Win32_Fan, instances[1]: member \"Sped\" is not declared in \"properties\""}},
        {"same key twice", R"([{"Name": "a", "Name": "b"}])", {"class Win32_Fan, instances[0], property Name: given twice"}},
        {"twice ignoring case", R"([{"Speed": 1, "SPEED": 2}])", {"class Win32_Fan, instances[0], property Speed: given twice"}},
        {"instance not object", R"([{"Name": "a"}, 5])", {"class Win32_Fan, instances[1]: an instance must be an object, not a number"}},
        {"instance is array", R"([[]])", {"class Win32_Fan, instances[0]: an instance must be an object, not an array"}},
    };
    ScratchDir dir;
    for (const auto& c : cases) {
        for (bool declarationsFirst : {true, false}) {
            const std::string body = declarationsFirst
                                         ? R"("properties": [)" + decls + R"(], "instances": )" + c.instances
                                         : R"("instances": )" + c.instances + R"(, "properties": [)" + decls + "]";
            const std::string path = dir.write("inst.json", Doc(R"("Win32_Fan": {)" + body + "}"));
            const std::string msg = FileErrorOf([&] { wmi::LoadSnapshot(path); });
            ExpectContainsAll(msg, {path + ": line 1, column "}, c.label);
            for (const auto& w : c.want)
                EXPECT_NE(msg.find(w), std::string::npos) << c.label << (declarationsFirst ? "" : " (instances first)")
                                                          << ": wanted " << w << " in " << msg;
        }
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
    const std::string d = Decl("Name", 8);
    struct Case {
        const char* label;
        std::string text;
        std::vector<std::string> want;
    } cases[] = {
        {"in version 1", V2(R"("C": {"properties": [], "subclasses": {}, "instances": []})", "1"),
         {"class C: member \"subclasses\" needs version 2"}},
        {"version given last", R"({"format": "kestrane-snapshot", "computer": "H", "captured": "", "classes": {"C": {"properties": [], "subclasses": {}, "instances": []}}, "version": 1})",
         {"line 1, column 102:", "member \"subclasses\" needs version 2"}},
        {"not an object", V2(R"("C": {"properties": [], "subclasses": [], "instances": []})"),
         {"class C: \"subclasses\" must be an object, not an array"}},
        {"subclass not an object", V2(R"("C": {"properties": [], "subclasses": {"S": 1}, "instances": []})"),
         {"class C: subclass S must be an object"}},
        {"bad name", V2(R"("C": {"properties": [], "subclasses": {"S 1": {}}, "instances": []})"),
         {"class C: subclass name \"S 1\" is not a valid name"}},
        {"the class's own name", V2(R"("C": {"properties": [], "subclasses": {"c": {}}, "instances": []})"),
         {"class C: subclass c has the name of its class"}},
        {"differ in case", V2(R"("C": {"properties": [], "subclasses": {"S": {"properties": [], "instances": []}, "s": {}}, "instances": []})"),
         {"class C: subclasses S and s differ only in letter case"}},
        {"twice", V2(R"("C": {"properties": [], "subclasses": {}, "subclasses": {}, "instances": []})"),
         {"member \"subclasses\" is given twice"}},
        {"nested", V2(R"("C": {"properties": [], "subclasses": {"S": {"properties": [], "instances": [], "subclasses": {}}}, "instances": []})"),
         {"class C, subclass S: unknown member \"subclasses\""}},
        {"no instances", V2(R"("C": {"properties": [], "subclasses": {"S": {"properties": []}}, "instances": []})"),
         {"class C, subclass S: missing member \"instances\""}},
        {"bad value", V2(R"("C": {"properties": [], "subclasses": {"S": {"properties": [)" + d +
                         R"(], "instances": [{}, {"Name": 5}]}}, "instances": []})"),
         {"class C, subclass S, instances[1], property Name: a number (5) cannot be string"}},
        {"undeclared", V2(R"("C": {"properties": [)" + d + R"(], "subclasses": {"S": {"properties": [], "instances": [{"Name": "x"}]}}, "instances": []})"),
         {"class C, subclass S, instances[0]: member \"Name\" is not declared"}},
    };
    ScratchDir dir;
    for (const auto& c : cases) {
        const std::string path = dir.write("sub.json", c.text);
        const std::string msg = FileErrorOf([&] { wmi::LoadSnapshot(path); });
        for (const auto& w : c.want) EXPECT_NE(msg.find(w), std::string::npos) << c.label << ": wanted " << w << " in " << msg;
    }
}
