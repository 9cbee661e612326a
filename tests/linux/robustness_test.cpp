// The provider over file trees gone wrong: every class must still answer
// (values it cannot read are Null, entries it cannot read are skipped) and
// no fault of a file may escape as a crash or an error other than the
// published ones.
#include <gtest/gtest.h>

#include "linux_test_util.h"

#include <map>
#include <random>
#include <regex>

namespace {

using Mangle = lnxtest::FilteredFileSystem::Read;

// Whether a value is one WMI could deliver for its CIM type: damaged
// numbers must become Null, never wrap into another value's range.
bool FitsType(int cim, const wmi::Value& v) {
    static const std::map<int, std::pair<long long, long long>> ranges = {
        {wmi::CIM_UINT8, {0, 0xFF}},         {wmi::CIM_UINT16, {0, 0xFFFF}},      {wmi::CIM_UINT32, {0, 0xFFFFFFFFLL}},
        {wmi::CIM_SINT8, {-128, 127}},       {wmi::CIM_SINT16, {-32768, 32767}},  {wmi::CIM_SINT32, {INT32_MIN, INT32_MAX}}};
    if (auto r = ranges.find(cim); r != ranges.end())
        return v.isInt() && v.asInt() >= r->second.first && v.asInt() <= r->second.second;
    static const std::regex u64("[0-9]+"), s64("-?[0-9]+");
    if (cim == wmi::CIM_UINT64 || cim == wmi::CIM_SINT64)
        return v.isString() && std::regex_match(v.asString(), cim == wmi::CIM_UINT64 ? u64 : s64);
    if (cim == wmi::CIM_BOOLEAN) return v.isBool();
    if (cim == wmi::CIM_REAL32 || cim == wmi::CIM_REAL64) return v.isDouble();
    return (cim != wmi::CIM_STRING && cim != wmi::CIM_DATETIME) || v.isString();
}

std::optional<std::string> Text(std::string s) { return s; }

struct Case {
    const char* name;
    Mangle mangle;
};

const Case kCases[] = {
    {"unreadable", [](const std::string&, std::string) -> std::optional<std::string> { return std::nullopt; }},
    {"empty", [](const std::string&, std::string) { return Text(""); }},
    {"cut in half", [](const std::string&, std::string c) { return Text(c.substr(0, c.size() / 2)); }},
    {"last byte missing", [](const std::string&, std::string c) { return Text(c.substr(0, c.size() - !c.empty())); }},
    {"NUL bytes", [](const std::string&, std::string c) { return Text(std::string(c.size() + 7, '\0')); }},
    {"bytes flipped", [](const std::string& path, std::string c) {
         std::minstd_rand r(static_cast<unsigned>(std::hash<std::string>{}(path)));  // reproducible per file
         for (char& ch : c)
             if (r() % 16 == 0) ch = static_cast<char>(r());
         return Text(c);
     }},
    {"digits become huge", [](const std::string&, std::string c) {
         return Text(std::regex_replace(c, std::regex("[0-9]"), "99999999999999999999"));
     }},
    {"minus signs", [](const std::string&, std::string c) { return Text(std::regex_replace(c, std::regex("[0-9]+"), "-$&")); }},
    {"lines without ends", [](const std::string&, std::string c) {
         return Text(std::regex_replace(c, std::regex("[\n:=\t]"), " "));
     }},
};

}  // namespace

TEST(ProviderOverBadFiles, EveryClassAnswersWhateverTheFilesHold) {
    std::size_t instances = 0;
    for (const char* fixture : {"laptop", "thismachine", "server"}) {
        for (const Case& c : kCases) {
            auto provider = lnxtest::Filtered(lnxtest::Fixture(fixture), c.mangle);
            for (const std::string& cls : wmi::lnx::LinuxProviderClasses()) {
                SCOPED_TRACE(std::string(fixture) + ", " + c.name + ", " + cls);
                std::vector<wmi::Object> objects;
                ASSERT_NO_THROW(objects = lnxtest::Collect(provider, cls));
                instances += objects.size();
                for (const auto& o : objects) {
                    ASSERT_EQ(o.values().size(), o.schema().size());
                    for (auto prop : o.Properties_()) {
                        const wmi::Value& v = prop.value();
                        if (v.isNull()) continue;
                        if (!prop.isArray()) {
                            EXPECT_TRUE(FitsType(prop.cimType(), v)) << prop.name() << " = " << wmi::ValueText(v);
                            continue;
                        }
                        ASSERT_TRUE(v.isArray()) << prop.name();
                        for (const wmi::Value& e : v.asArray())
                            EXPECT_TRUE(FitsType(prop.cimType(), e)) << prop.name() << " = " << wmi::ValueText(e);
                    }
                }
            }
        }
    }
    // Damage costs values, not the devices and entries that are still there
    // (723 instances over these cases when this was written).
    EXPECT_GT(instances, 500u);
}

TEST(ProviderOverBadFiles, UnreadableFilesLeaveTheOtherClassesIntact) {
    // One unreadable file costs only what it holds: the processor still
    // answers from /proc/cpuinfo when /proc/meminfo cannot be read.
    auto provider = lnxtest::Filtered(lnxtest::Fixture("laptop"), [](const std::string& path, std::string c) {
        return path == "/proc/meminfo" ? std::nullopt : std::optional(c);
    });
    auto processors = lnxtest::Collect(provider, "Win32_Processor");
    ASSERT_EQ(processors.size(), 1u);
    const auto whole = lnxtest::Collect(wmi::MakeLinuxProvider(lnxtest::Fixture("laptop")), "Win32_Processor");
    EXPECT_EQ(processors[0].Get("Name"), whole.at(0).Get("Name"));
}
