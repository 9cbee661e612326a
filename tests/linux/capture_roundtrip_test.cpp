// A capture of every class the Linux provider answers, loaded back, lists
// the same instances as the provider itself, on each fixture tree and on
// this computer.
#include <gtest/gtest.h>

#include <set>

#include "linux_test_util.h"
#include "wmi/linux/linux_provider.h"
#include "wmi/snapshot/snapshot.h"

using lnxtest::Fixture;

namespace {

struct Listing {
    std::vector<wmi::Object> rows;
    std::uint32_t error = 0;
};

Listing List(wmi::Provider& p, const std::string& cls) {
    Listing l;
    try {
        auto cursor = p.enumerate(cls);
        while (auto o = cursor->next()) l.rows.push_back(std::move(*o));
    } catch (const wmi::Error& e) {
        l.error = e.unsignedNumber();
        l.rows.clear();
    }
    return l;
}

std::string Shown(const wmi::Value& v) { return v.isNull() ? "Null" : wmi::ValueText(v); }

// What changes between two reads of this computer. Whole classes: processes
// and threads start and end, counters move, files in /proc, /sys and /run
// are rewritten as the system runs, and tests running beside this one add
// accounts (the SSH tests log in as a user of their own) and packages.
bool VolatileClass(const std::string& cls) {
    static const std::set<std::string> classes = {
        "Win32_Process", "Win32_Thread", "Win32_Perf", "Win32_PerfRawData", "Win32_PerfFormattedData",
        "Win32_LogonSession", "Win32_SessionProcess", "Win32_LoggedOnUser", "Win32_NTLogEvent", "Win32_Service",
        "Win32_PrintJob", "Win32_CurrentTime", "Win32_LocalTime", "Win32_UTCTime", "Win32_Account",
        "Win32_UserAccount", "Win32_SystemAccount", "Win32_Group", "Win32_GroupUser", "Win32_NetworkLoginProfile",
        "Win32_Product", "Win32_SoftwareElement", "Win32_SoftwareFeature"};
    return classes.count(cls) || cls.rfind("Win32_PerfRawData_", 0) == 0 || cls.rfind("Win32_PerfFormattedData_", 0) == 0;
}

// Single properties that move while the rest of their instance stands still.
bool VolatileProperty(const std::string& cls, const std::string& prop) {
    static const std::set<std::pair<std::string, std::string>> props = {
        {"Win32_OperatingSystem", "FreePhysicalMemory"}, {"Win32_OperatingSystem", "FreeVirtualMemory"},
        {"Win32_OperatingSystem", "FreeSpaceInPagingFiles"}, {"Win32_OperatingSystem", "LocalDateTime"},
        {"Win32_OperatingSystem", "NumberOfProcesses"}, {"Win32_Processor", "LoadPercentage"},
        {"Win32_Processor", "CurrentClockSpeed"}, {"Win32_LogicalDisk", "FreeSpace"},
        {"Win32_Volume", "FreeSpace"}, {"Win32_MappedLogicalDisk", "FreeSpace"},
        {"Win32_PageFileUsage", "CurrentUsage"}, {"Win32_NetworkAdapter", "Speed"},
        {"Win32_Battery", "EstimatedChargeRemaining"}, {"Win32_Battery", "EstimatedRunTime"},
        {"Win32_TemperatureProbe", "CurrentReading"}, {"Win32_Fan", "DesiredSpeed"},
        {"Win32_ComputerSystem", "UserName"}, {"Win32_LogicalMemoryConfiguration", "AvailableVirtualMemory"}};
    return props.count({cls, prop}) > 0;
}

// Compares the provider's listing with the snapshot's, class by class.
void ExpectSameListings(wmi::Provider& direct, wmi::Provider& recorded, const std::vector<std::string>& classes,
                        bool live, const std::string& label) {
    for (const auto& cls : classes) {
        Listing a = List(direct, cls), b = List(recorded, cls);
        EXPECT_EQ(a.error, 0u) << label << " " << cls;  // every class answers, on this computer too
        EXPECT_EQ(a.error, b.error) << label << " " << cls;
        if (live && VolatileClass(cls)) {
            // Their instances differ; what each instance is must not.
            std::set<std::string> kindsA, kindsB;
            for (const auto& o : a.rows) kindsA.insert(o.className() + "/" + std::to_string(o.schema().size()));
            for (const auto& o : b.rows) kindsB.insert(o.className() + "/" + std::to_string(o.schema().size()));
            if (!a.rows.empty() && !b.rows.empty()) {
                EXPECT_EQ(kindsA, kindsB) << label << " " << cls;
            }
            continue;
        }
        if (a.rows.size() != b.rows.size()) {
            ADD_FAILURE() << label << " " << cls << ": " << a.rows.size() << " rows listed, " << b.rows.size() << " recorded";
            continue;
        }
        for (std::size_t i = 0; i < a.rows.size(); ++i) {
            const wmi::Object &x = a.rows[i], &y = b.rows[i];
            EXPECT_EQ(x.className(), y.className()) << label << " " << cls << " #" << i;
            ASSERT_EQ(x.schema().size(), y.schema().size()) << label << " " << cls << " #" << i;
            for (std::size_t k = 0; k < x.schema().size(); ++k) {
                const auto &dx = x.schema().properties()[k], &dy = y.schema().properties()[k];
                EXPECT_EQ(dx.name, dy.name) << label << " " << cls;
                EXPECT_EQ(dx.cimType, dy.cimType) << label << " " << cls << "." << dx.name;
                EXPECT_EQ(dx.isArray, dy.isArray) << label << " " << cls << "." << dx.name;
                EXPECT_EQ(dx.origin, dy.origin) << label << " " << cls << "." << dx.name;
                if (live && VolatileProperty(x.className(), dx.name)) continue;
                EXPECT_EQ(x.values()[k], y.values()[k])
                    << label << " " << cls << " #" << i << " " << dx.name << ": " << Shown(x.values()[k]) << " vs "
                    << Shown(y.values()[k]);
            }
        }
    }
}

// Captures every class of the tree at root, loads the capture back and
// compares the two.
void ExpectRoundTrip(const std::string& root, const std::string& label, bool live) {
    const std::vector<std::string> classes = wmi::lnx::LinuxProviderClasses();
    auto direct = wmi::MakeLinuxProvider(root);
    lnxtest::TempTree dir;
    auto res = wmi::CaptureSnapshot(dir.path("capture.json"), *direct, classes, live ? "live" : direct->computerName(), "");
    EXPECT_FALSE(res.recorded.empty()) << label;
    ExpectSameListings(*direct, *wmi::LoadSnapshot(dir.path("capture.json")), classes, live, label);
}

}  // namespace

TEST(CaptureRoundTrip, EveryFixtureListsTheSameFromItsSnapshot) {
    for (const char* fixture : {"laptop", "server", "printserver", "thismachine", "armvm", "journal", "oddities"})
        ExpectRoundTrip(Fixture(fixture), fixture, false);
}

TEST(CaptureRoundTrip, ThisComputerListsTheSameFromItsSnapshotExceptWhatMoves) { ExpectRoundTrip("/", "live", true); }

TEST(CaptureRoundTrip, ATreeIsNamedByItsOwnHostName) {
    const std::pair<const char*, const char*> cases[] = {
        {"laptop", "t480s.example.org"}, {"server", "srv01.example.net"}, {"printserver", ""}};
    for (const auto& [fixture, name] : cases) EXPECT_EQ(wmi::MakeLinuxProvider(Fixture(fixture))->computerName(), name);
    // On "/" the caller names this computer itself.
    EXPECT_EQ(wmi::MakeLinuxProvider("/")->computerName(), "");
}
