#include <gtest/gtest.h>

#include <set>
#include <stdexcept>

#include "linux_test_util.h"
#include "wmi/linux/linux_provider.h"
#include "wmi/linux/provider_core.h"
#include "wmi/schema/schema_table.h"

using lnxtest::Collect;
using lnxtest::Fixture;
using wmi::Value;

// --- registry and errors ---

TEST(Registry, UnknownAndUnsupportedClassesFailWithInvalidClassAtEnumeration) {
    auto p = wmi::MakeLinuxProvider(Fixture("laptop"));
    for (const char* cls : {"Win32_NoSuchClass", "Win32_Registry", "Win32_COMApplication", "Win32_AutochkSetting", "",
                            "Win32_Directory", "Win32_QuickFixEngineering", "Win32_PerfRawData_W3SVC_WebService"}) {
        try {
            p->enumerate(cls);
            ADD_FAILURE() << cls << " did not fail";
        } catch (const wmi::Error& e) {
            EXPECT_EQ(e.unsignedNumber(), wmi::WBEM_E_INVALID_CLASS) << cls;
        }
    }
}

TEST(Registry, EveryClassHasOneSchemaWhateverTheLetterCase) {
    for (const std::string& name : wmi::lnx::LinuxProviderClasses()) {
        auto schema = wmi::LookupSchema(name);
        ASSERT_TRUE(schema) << name;
        EXPECT_TRUE(wmi::EqualsNoCase(schema->className(), name)) << name;
        EXPECT_EQ(wmi::LookupSchema(wmi::ToLowerAscii(name)), schema) << name;  // built once, then shared
    }
}

TEST(Registry, ClassNamesMatchCaseInsensitively) {
    auto p = wmi::MakeLinuxProvider(Fixture("laptop"));
    auto a = Collect(p, "win32_processor");
    auto b = Collect(p, "WIN32_PROCESSOR");
    ASSERT_EQ(a.size(), 1u);
    ASSERT_EQ(b.size(), 1u);
    EXPECT_EQ(a[0].className(), "Win32_Processor");  // the published spelling, whatever was asked
    EXPECT_EQ(a[0].values(), b[0].values());
}

// --- Row: the typed builder catches collector mistakes ---

TEST(Row, ConvertsAndRejects) {
    auto schema = wmi::LookupSchema("Win32_DiskDrive");
    wmi::lnx::Row r(schema);
    r.set("Size", Value(123));  // uint64 becomes a decimal string
    r.setU64("TotalSectors", 18446744073709551615ull);
    r.set("Index", std::optional<int>());  // absent stays Null
    auto o = r.build();
    EXPECT_EQ(o.Get("Size"), Value("123"));
    EXPECT_EQ(o.Get("TotalSectors"), Value("18446744073709551615"));
    EXPECT_TRUE(o.Get("Index").isNull());
    EXPECT_THROW(r.set("NoSuchProperty", Value(1)), std::logic_error);
    EXPECT_THROW(r.set("Model", Value(1)), std::logic_error);          // string expected
    EXPECT_THROW(r.set("Index", Value("0")), std::logic_error);        // integer expected
    r.set("SCSIPort", Value(70000));                                     // beyond uint16: no honest value
    r.set("Index", Value(-1));                                           // negative uint32 likewise
    EXPECT_THROW(r.set("Capabilities", Value(3)), std::logic_error);   // array expected
    r.setU32("BytesPerSector", 5000000000ull);                          // beyond uint32: left Null
    auto built = r.build();
    EXPECT_TRUE(built.Get("BytesPerSector").isNull());
    EXPECT_TRUE(built.Get("SCSIPort").isNull());
    EXPECT_TRUE(built.Get("Index").isNull());
}

TEST(LazyCursorTest, SkipsVanishedEntriesAndProducesOnDemand) {
    auto schema = wmi::LookupSchema("Win32_DiskDrive");
    int produced = 0;
    wmi::lnx::LazyCursor c({"a", "gone", "b"}, [&](const std::string& k) -> std::optional<wmi::Object> {
        ++produced;
        if (k == "gone") return std::nullopt;
        return wmi::lnx::Row(schema).set("Name", Value(k)).build();
    });
    EXPECT_EQ(produced, 0);
    auto first = c.next();
    ASSERT_TRUE(first);
    EXPECT_EQ(produced, 1);  // one at a time
    auto second = c.next();
    ASSERT_TRUE(second);
    EXPECT_EQ(second->Get("Name"), Value("b"));
    EXPECT_FALSE(c.next());
}

TEST(Dmtf, FormatsOffsetsAndDates) {
    EXPECT_EQ(wmi::lnx::DmtfFromEpoch(0, 0), "19700101000000.000000+000");
    EXPECT_EQ(wmi::lnx::DmtfFromEpoch(1764998400, 60), "20251206062000.000000+060");
    EXPECT_EQ(wmi::lnx::DmtfFromEpoch(1764998400, -300), "20251206002000.000000-300");
    EXPECT_EQ(wmi::lnx::DmtfDateTime(2023, 2, 27, 0, 0, 0, 0), "20230227000000.000000+000");
}

TEST(AllClasses, AnEmptyTreeGivesEmptySetsOrNullsNeverErrors) {
    auto p = wmi::MakeLinuxProvider("/nonexistent/kestrane-root");
    std::vector<std::string> answering;
    for (const auto& cls : wmi::lnx::LinuxProviderClasses()) {
        std::vector<wmi::Object> objs;
        ASSERT_NO_THROW(objs = Collect(p, cls)) << cls;
        if (!objs.empty()) answering.push_back(cls);
        for (const auto& o : objs) {
            for (auto prop : o.Properties_()) {
                const Value& v = prop.value();
                EXPECT_TRUE(v.isNull() || !v.isString() || !v.asString().empty())
                    << cls << "." << prop.name() << " is an empty text rather than Null";
            }
        }
    }
    // Only the singletons still exist, empty of facts.
    EXPECT_EQ(answering, (std::vector<std::string>{
                             "Win32_BootConfiguration", "Win32_ComputerSystem", "Win32_OperatingSystem", "Win32_Perf",
                             "Win32_PerfFormattedData", "Win32_PerfFormattedData_PerfOS_Objects",
                             "Win32_PerfFormattedData_PerfOS_System", "Win32_PerfRawData",
                             "Win32_PerfRawData_PerfOS_Objects", "Win32_PerfRawData_PerfOS_System", "Win32_Proxy"}));
    auto cs = Collect(p, "Win32_ComputerSystem");
    ASSERT_EQ(cs.size(), 1u);
    EXPECT_TRUE(cs[0].Get("Name").isNull());
    EXPECT_TRUE(cs[0].Get("TotalPhysicalMemory").isNull());
    EXPECT_TRUE(Collect(p, "Win32_Proxy").at(0).Get("ProxyServer").isNull());
}

TEST(Registry, AReaderOfSomePropertiesGetsTheSameValuesWithoutTheSampledOnes) {
    // On a copied tree the load comes from the provider's previous reading.
    auto p = wmi::MakeLinuxProvider(Fixture("laptop"));
    auto all = Collect(p, "Win32_Processor");
    auto cursor = p->enumerate("Win32_Processor", {"Name", "MaxClockSpeed"});
    auto some = cursor->next();
    ASSERT_TRUE(some);
    ASSERT_EQ(all.size(), 1u);
    EXPECT_EQ(some->Get("Name"), all[0].Get("Name"));
    EXPECT_EQ(some->Get("MaxClockSpeed"), all[0].Get("MaxClockSpeed"));
    EXPECT_TRUE(some->Get("LoadPercentage").isNull());
}
