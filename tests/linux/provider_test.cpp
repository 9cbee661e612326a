// The provider's machinery: its class registry, the typed row builder, its
// cursors (lazy, and reading ahead on worker threads in key order), and the
// reasons it gives for values it cannot read.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <set>
#include <stdexcept>
#include <thread>

#include "linux_test_util.h"
#include "wmi/linux/provider_core.h"
#include "wmi/linux/read_ahead.h"
#include "wmi/schema/schema_table.h"

using lnxtest::Collect;
using lnxtest::Fixture;
using lnxtest::TempTree;
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

TEST(Dmtf, FormatsOffsets) {
    EXPECT_EQ(wmi::lnx::DmtfFromEpoch(0, 0), "19700101000000.000000+000");
    EXPECT_EQ(wmi::lnx::DmtfFromEpoch(1764998400, 60), "20251206062000.000000+060");
    EXPECT_EQ(wmi::lnx::DmtfFromEpoch(1764998400, -300), "20251206002000.000000-300");
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

// --- reasons for missing values ---

namespace {

std::vector<std::string> Reasons(const TempTree& t, const std::string& cls) {
    return wmi::MakeLinuxProvider(t.path())->reasons(cls);
}

const std::string kNoSmbios = "This computer has no SMBIOS table (virtual machine)";
const std::string kSmbiosRoot = "SMBIOS tables need root: run as root to see serial numbers";
const std::string kNoSystemd = "systemd is not running: service states are unknown";

}  // namespace

TEST(Reasons, AbsentSourcesNameTheirClassesOnly) {
    TempTree bare;
    for (const char* cls : {"Win32_BIOS", "win32_bios", "Win32_PhysicalMemory", "Win32_ComputerSystemProduct"})
        EXPECT_EQ(Reasons(bare, cls), std::vector<std::string>{kNoSmbios}) << cls;
    EXPECT_EQ(Reasons(bare, "Win32_Service"), std::vector<std::string>{kNoSystemd});
    for (const char* cls : {"Win32_Keyboard", "Win32_OperatingSystem", "Win32_NTLogEvent", "Win32_Process",
                            "Win32_UserAccount", "Win32_NoSuchClass", "Win32_Registry"})
        EXPECT_TRUE(Reasons(bare, cls).empty()) << cls;

    TempTree full;
    full.write("/sys/firmware/dmi/tables/DMI", lnxtest::ReadFixtureFile("laptop/sys/firmware/dmi/tables/DMI"));
    full.write("/sys/class/dmi/id/sys_vendor", "LENOVO\n");
    full.mkdir("/run/systemd/system");
    EXPECT_TRUE(Reasons(full, "Win32_BIOS").empty());
    EXPECT_TRUE(Reasons(full, "Win32_Service").empty());
    // the rows do not depend on the reasons: the same with or without asking
    auto before = full.collect("Win32_BIOS");
    (void)Reasons(full, "Win32_BIOS");
    EXPECT_EQ(full.collect("Win32_BIOS").size(), before.size());
}

TEST(Reasons, SourcesThisUserCannotReadNeedRoot) {
    TempTree t;
    t.write("/sys/firmware/dmi/tables/DMI", lnxtest::ReadFixtureFile("laptop/sys/firmware/dmi/tables/DMI"));
    t.write("/sys/class/dmi/id/product_serial", "PF0ABCDE\n");
    t.write("/etc/shadow", "root:!:19000:0:99999:7:::\n");
    t.write("/var/log/journal/0123/system.journal", "x");
    t.write("/var/log/journal/0123/user-1000.journal", "x");
    // The listed files are there but cannot be read, as for a user without root.
    auto closed = [&](std::set<std::string> paths) {
        return lnxtest::Filtered(t.path(), [paths](const std::string& p, std::string c) {
            return paths.count(p) ? std::nullopt : std::optional(c);
        });
    };
    auto open = closed({});
    for (const char* cls : {"Win32_BIOS", "Win32_UserAccount", "Win32_NTLogEvent"})
        EXPECT_TRUE(open->reasons(cls).empty() || !wmi::lnx::JournalReaderBuiltIn()) << cls;
    // either the table or the serial number file alone is enough to say so
    EXPECT_EQ(closed({"/sys/firmware/dmi/tables/DMI"})->reasons("Win32_BIOS"), std::vector<std::string>{kSmbiosRoot});
    EXPECT_EQ(closed({"/sys/class/dmi/id/product_serial"})->reasons("Win32_ComputerSystemProduct"),
              std::vector<std::string>{kSmbiosRoot});
    auto p = closed({"/sys/firmware/dmi/tables/DMI", "/etc/shadow", "/var/log/journal/0123/system.journal"});
    EXPECT_THAT(p->reasons("Win32_UserAccount"),
                testing::Contains("The shadow password file needs root: run as root to see locked accounts and password expiry"));
    EXPECT_TRUE(p->reasons("Win32_Group").empty());
    EXPECT_TRUE(p->reasons("Win32_Keyboard").empty());
    const auto events = p->reasons("Win32_NTLogEvent");
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0], wmi::lnx::JournalReaderBuiltIn()
                             ? "The system journal needs root or the adm or systemd-journal group: its events are left out"
                             : "This build has no journal reader: events come from the text logs only");
}

// --- reading ahead ---

namespace {

using wmi::lnx::ReadAheadCursor;

wmi::SchemaPtr KeySchema() {
    static auto s = std::make_shared<const wmi::ClassSchema>(
        "Test_Key", std::vector<wmi::PropertyDecl>{{"Key", wmi::CIM_STRING, false, "Test_Key"}});
    return s;
}

std::vector<std::string> Keys(int n) {
    std::vector<std::string> k;
    for (int i = 0; i < n; ++i) k.push_back(std::to_string(i));
    return k;
}

// Later keys finish first, so the order must come from the cursor.
std::optional<wmi::Object> Slowly(const std::string& key) {
    int i = std::stoi(key);
    std::this_thread::sleep_for(std::chrono::microseconds((97 - i % 97) * 7));
    if (i % 10 == 3) return std::nullopt;  // gone since it was listed
    if (i == 42) throw std::runtime_error("unreadable 42");
    return wmi::Object(KeySchema(), {wmi::Value(key)});
}

TEST(ReadAheadCursor, KeepsKeyOrderSkipsGapsAndReportsFailuresInPlace) {
    for (unsigned workers : {1u, 2u, 4u}) {
        ReadAheadCursor c(Keys(300), Slowly, workers, 16);
        std::vector<std::string> got;
        bool failed = false;
        while (true) {
            try {
                auto o = c.next();
                if (!o) break;
                got.push_back(wmi::ValueText(o->Get("Key")));
            } catch (const std::runtime_error& e) {
                EXPECT_STREQ(e.what(), "unreadable 42");
                // Everything before the failing key has been delivered, nothing after.
                EXPECT_EQ(got.back(), "41");
                failed = true;
            }
        }
        EXPECT_TRUE(failed);
        std::vector<std::string> want;
        for (int i = 0; i < 300; ++i)
            if (i % 10 != 3 && i != 42) want.push_back(std::to_string(i));
        EXPECT_EQ(got, want) << workers << " workers";
        EXPECT_FALSE(c.next());
    }
}

TEST(ReadAheadCursor, StaysWithinItsWindowAndStopsWhenDropped) {
    std::atomic<int> produced{0};
    {
        ReadAheadCursor c(
            Keys(10000),
            [&](const std::string& key) -> std::optional<wmi::Object> {
                ++produced;
                std::this_thread::sleep_for(std::chrono::microseconds(200));
                return wmi::Object(KeySchema(), {wmi::Value(key)});
            },
            2, 8);
        ASSERT_TRUE(c.next());
        ASSERT_TRUE(c.next());
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        // Two read, at most a window (and one per worker in hand) ahead.
        EXPECT_LE(produced.load(), 2 + 8 + 2);
    }  // dropped mid-way: the workers end and are joined here
    EXPECT_LT(produced.load(), 100);
    ReadAheadCursor none({}, Slowly, 2);
    EXPECT_FALSE(none.next());
}

}  // namespace
