// Operating-system settings over the server fixture and generated trees.
#include <gtest/gtest.h>

#include <ctime>
#include <fstream>
#include <set>
#include <sstream>

#include "os_test_util.h"
#include "wmi/linux/os_parsers.h"

using lnxtest::CollectIn;
using lnxtest::FindBy;
using lnxtest::TempTree;
using wmi::Value;

namespace {

std::string ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

wmi::Object One(const std::vector<wmi::Object>& v) {
    if (v.size() != 1) throw std::runtime_error("expected one instance, got " + std::to_string(v.size()));
    return v[0];
}

}  // namespace

// --- time zones ---

TEST(TzParser, PosixRulesTable) {
    struct Case {
        const char* tz;
        bool ok;
        const char* std;
        const char* dst;
        int stdOff, dstOff, startMonth, startWeek, startHour, endMonth;
    } cases[] = {
        {"CET-1CEST,M3.5.0,M10.5.0/3", true, "CET", "CEST", 3600, 7200, 3, 5, 2, 10},
        {"EST5EDT,M3.2.0,M11.1.0", true, "EST", "EDT", -18000, -14400, 3, 2, 2, 11},
        {"<+0330>-3:30", true, "+0330", "", 12600, 0, 0, 0, 0, 0},
        {"JST-9", true, "JST", "", 32400, 0, 0, 0, 0, 0},
        {"IST-1GMT0,M10.5.0,M3.5.0/1", true, "IST", "GMT", 3600, 0, 10, 5, 2, 3},  // negative daylight time
        {"XX", false, "", "", 0, 0, 0, 0, 0, 0},
        {"CET-99999999999999999999CEST", false, "", "", 0, 0, 0, 0, 0, 0},  // a damaged footer
        {"CET-1CEST,M3.5.0/99999999999,M10.5.0", true, "CET", "CEST", 3600, 7200, 0, 0, 0, 0},
        {"", false, "", "", 0, 0, 0, 0, 0, 0},
    };
    for (const auto& c : cases) {
        auto tz = wmi::lnx::ParsePosixTz(c.tz);
        ASSERT_EQ(tz.has_value(), c.ok) << c.tz;
        if (!c.ok) continue;
        EXPECT_EQ(tz->standardName, c.std) << c.tz;
        EXPECT_EQ(tz->daylightName, c.dst) << c.tz;
        EXPECT_EQ(tz->standardOffsetSeconds, c.stdOff) << c.tz;
        if (*c.dst) {
            EXPECT_EQ(tz->daylightOffsetSeconds, c.dstOff) << c.tz;
            if (c.startMonth == 0) {
                EXPECT_FALSE(tz->daylightStart) << c.tz;  // a rule that cannot be read is no rule
                continue;
            }
            ASSERT_TRUE(tz->daylightStart && tz->standardStart) << c.tz;
            EXPECT_EQ(tz->daylightStart->month, c.startMonth);
            EXPECT_EQ(tz->daylightStart->week, c.startWeek);
            EXPECT_EQ(tz->daylightStart->seconds / 3600, c.startHour);
            EXPECT_EQ(tz->standardStart->month, c.endMonth);
        }
    }
}

TEST(TzParser, FooterVersionOneFallbackAndCorruptFiles) {
    std::string berlin = ReadBytes(lnxtest::Fixture("server/usr/share/zoneinfo/Europe/Berlin"));
    auto tz = wmi::lnx::ParseTzif(berlin);
    ASSERT_TRUE(tz);
    EXPECT_EQ(tz->standardName, "CET");
    EXPECT_EQ(tz->daylightName, "CEST");
    // The same zone as version 1 data only: names and offsets from the last transitions.
    std::string v1 = berlin;
    v1[4] = '\0';
    auto old = wmi::lnx::ParseTzif(v1);
    ASSERT_TRUE(old);
    EXPECT_EQ(old->standardName, "CET");
    EXPECT_EQ(old->standardOffsetSeconds, 3600);
    EXPECT_FALSE(old->daylightStart);  // version 1 has no rules
    EXPECT_FALSE(wmi::lnx::ParseTzif(berlin.substr(0, 60)));
    EXPECT_FALSE(wmi::lnx::ParseTzif("TZif2" + std::string(100, '\xff')));
    EXPECT_FALSE(wmi::lnx::ParseTzif("not a zone file at all, but long enough to pass the header length"));
}

TEST(TimeZone, BerlinWithDaylightRules) {
    auto o = One(CollectIn("server", "Win32_TimeZone"));
    EXPECT_EQ(o.Get("Caption"), Value("Europe/Berlin"));
    EXPECT_EQ(o.Get("Bias"), Value(60));
    EXPECT_EQ(o.Get("StandardName"), Value("CET"));
    EXPECT_EQ(o.Get("DaylightName"), Value("CEST"));
    EXPECT_EQ(o.Get("DaylightBias"), Value(-60));
    EXPECT_EQ(o.Get("DaylightMonth"), Value(3));
    EXPECT_EQ(o.Get("DaylightDay"), Value(5));
    EXPECT_EQ(o.Get("DaylightDayOfWeek"), Value(0));
    EXPECT_EQ(o.Get("DaylightHour"), Value(2));
    EXPECT_EQ(o.Get("StandardMonth"), Value(10));
    EXPECT_EQ(o.Get("StandardHour"), Value(3));
}

TEST(TimeZone, TokyoWithoutDaylightAndMissingLocaltime) {
    TempTree t;
    t.write("/usr/share/zoneinfo/Asia/Tokyo", ReadBytes(lnxtest::Fixture("server/usr/share/zoneinfo/Asia/Tokyo")));
    t.mkdir("/etc");
    std::filesystem::create_symlink("/usr/share/zoneinfo/Asia/Tokyo", t.path("/etc/localtime"));
    auto o = One(t.collect("Win32_TimeZone"));
    EXPECT_EQ(o.Get("Caption"), Value("Asia/Tokyo"));
    EXPECT_EQ(o.Get("Bias"), Value(540));
    EXPECT_EQ(o.Get("StandardName"), Value("JST"));
    EXPECT_TRUE(o.Get("DaylightName").isNull());
    EXPECT_EQ(o.Get("DaylightMonth"), Value(0));
    TempTree none;
    EXPECT_TRUE(none.collect("Win32_TimeZone").empty());
    none.write("/etc/localtime", "garbage");
    EXPECT_TRUE(none.collect("Win32_TimeZone").empty());
}

namespace {

// The instance's calendar fields as seconds since the epoch, read as UTC.
std::time_t FieldSeconds(const wmi::Object& o) {
    std::tm tm{};
    tm.tm_year = static_cast<int>(o.Get("Year").asInt()) - 1900;
    tm.tm_mon = static_cast<int>(o.Get("Month").asInt()) - 1;
    tm.tm_mday = static_cast<int>(o.Get("Day").asInt());
    tm.tm_hour = static_cast<int>(o.Get("Hour").asInt());
    tm.tm_min = static_cast<int>(o.Get("Minute").asInt());
    tm.tm_sec = static_cast<int>(o.Get("Second").asInt());
    return ::timegm(&tm);
}

// A moment's wall-clock fields in this time zone, read as if they were UTC.
std::time_t LocalWallSeconds(std::time_t t) {
    std::tm tm{};
    ::localtime_r(&t, &tm);
    return ::timegm(&tm);
}

}  // namespace

TEST(CurrentTime, LiveClockOnlyWithConsistentFields) {
    EXPECT_TRUE(CollectIn("server", "Win32_CurrentTime").empty());
    const std::time_t before = std::time(nullptr);
    auto all = lnxtest::Collect(wmi::MakeLinuxProvider("/"), "Win32_CurrentTime");
    const std::time_t after = std::time(nullptr);
    ASSERT_EQ(all.size(), 2u);
    // Both instances show the clock as it was while they were read.
    EXPECT_GE(FieldSeconds(all[1]), before);
    EXPECT_LE(FieldSeconds(all[1]), after);
    EXPECT_GE(FieldSeconds(all[0]), LocalWallSeconds(before));
    EXPECT_LE(FieldSeconds(all[0]), LocalWallSeconds(after));
    EXPECT_EQ(all[0].className(), "Win32_LocalTime");
    EXPECT_EQ(all[1].className(), "Win32_UTCTime");
    const auto& u = all[1];
    auto month = u.Get("Month").asInt();
    EXPECT_EQ(u.Get("Quarter").asInt(), (month - 1) / 3 + 1);
    EXPECT_EQ(u.Get("DayOfWeek").asInt(),
              wmi::lnx::DayOfWeek(static_cast<int>(u.Get("Year").asInt()), static_cast<int>(month), static_cast<int>(u.Get("Day").asInt())));
    EXPECT_GE(u.Get("WeekInMonth").asInt(), 1);
    EXPECT_LE(u.Get("WeekInMonth").asInt(), 6);
}

TEST(Calendar, DayOfWeekAndDays) {
    EXPECT_EQ(wmi::lnx::DayOfWeek(1970, 1, 1), 4);  // a Thursday
    EXPECT_EQ(wmi::lnx::DayOfWeek(2024, 12, 6), 5);
    EXPECT_EQ(wmi::lnx::DayOfWeek(2000, 2, 29), 2);
    EXPECT_EQ(wmi::lnx::DaysFromCivil(2024, 10, 4), 20000);
}

// --- cron ---

TEST(CronParser, SystemAndUserTablesSkipAssignmentsAndBrokenLines) {
    auto sys = wmi::lnx::ParseCrontab("A=1\nPATH = /bin\n  # c\n5 4 * * 0 root echo a  b\nbad\n@daily root x\n"
                                      "1 2 3 4 5\vroot\vcmd\n", true);
    ASSERT_EQ(sys.size(), 2u);
    EXPECT_EQ(sys[0].user, "root");
    EXPECT_EQ(sys[0].command, "echo a  b");  // the command as written
    EXPECT_EQ(sys[1].special, "@daily");
    auto user = wmi::lnx::ParseCrontab("*/5 * * * * /bin/poll --x=1\n", false);
    ASSERT_EQ(user.size(), 1u);
    EXPECT_EQ(user[0].command, "/bin/poll --x=1");
    EXPECT_TRUE(user[0].user.empty());
}

TEST(ScheduledJob, CronTablesAsJobs) {
    auto jobs = CollectIn("server", "Win32_ScheduledJob");
    ASSERT_EQ(jobs.size(), 7u);
    std::set<std::string> owners;
    for (const auto& j : jobs) owners.insert(j.Get("Owner").asString());
    EXPECT_EQ(owners, (std::set<std::string>{"root", "alice"}));
    const auto* backup = FindBy(jobs, "Command", "/usr/local/bin/backup --full");
    ASSERT_NE(backup, nullptr);
    EXPECT_EQ(backup->Get("StartTime"), Value("********023000.000000+000"));
    EXPECT_EQ(backup->Get("DaysOfWeek"), Value(31));  // Monday to Friday
    EXPECT_EQ(backup->Get("RunRepeatedly"), Value(true));
    EXPECT_EQ(FindBy(jobs, "Command", "/usr/local/bin/rotate")->Get("DaysOfMonth"), Value((1 << 0) | (1 << 14)));
    const auto* weekly = FindBy(jobs, "Description", "47 6 * * 7");
    ASSERT_NE(weekly, nullptr);
    EXPECT_EQ(weekly->Get("DaysOfWeek"), Value(64));  // 7 is Sunday
    const auto* hourly = FindBy(jobs, "Description", "17 * * * *");
    EXPECT_TRUE(hourly->Get("StartTime").isNull());  // not a daily time
    EXPECT_EQ(FindBy(jobs, "Command", "/usr/local/bin/warmup")->Get("RunRepeatedly"), Value(false));
    const auto* poll = FindBy(jobs, "Owner", "alice");
    EXPECT_EQ(poll->Get("Command"), Value("/home/alice/bin/poll mail"));
}

// --- the rest of the settings ---

TEST(OsSettings, BootProductRecoveryAndMemory) {
    auto boot = One(CollectIn("server", "Win32_BootConfiguration"));
    EXPECT_EQ(boot.Get("Name"), Value("BootConfiguration"));
    EXPECT_EQ(boot.Get("Caption"), Value("/dev/vda1"));
    EXPECT_EQ(boot.Get("ConfigurationPath"), Value("/etc"));
    EXPECT_EQ(boot.Get("BootDirectory"), Value("/boot"));
    EXPECT_TRUE(CollectIn("server", "Win32_ComputerSystemProduct").empty());  // no DMI here
    auto product = One(CollectIn("laptop", "Win32_ComputerSystemProduct"));
    EXPECT_EQ(product.Get("Vendor"), Value("LENOVO"));
    EXPECT_EQ(product.Get("Name"), Value("20L7001XGE"));
    auto rec = One(CollectIn("server", "Win32_OSRecoveryConfiguration"));
    EXPECT_EQ(rec.Get("AutoReboot"), Value(true));
    EXPECT_EQ(rec.Get("WriteDebugInfo"), Value(true));
    EXPECT_EQ(rec.Get("DebugFilePath"), Value("/var/crash/dumps"));
    auto mem = One(CollectIn("server", "Win32_LogicalMemoryConfiguration"));
    EXPECT_EQ(mem.Get("TotalPhysicalMemory"), Value(4027536));
    EXPECT_EQ(mem.Get("TotalVirtualMemory"), Value(4027536 + 3145720));
    EXPECT_EQ(mem.Get("AvailableVirtualMemory"), Value(2013768 + 2621432));
}

TEST(OsSettings, StartupCommandsSystemWideAndPerUser) {
    auto cmds = CollectIn("server", "Win32_StartupCommand");
    ASSERT_EQ(cmds.size(), 2u);  // the hidden entry is a deletion
    const auto* agent = FindBy(cmds, "Name", "Update Agent");
    EXPECT_EQ(agent->Get("User"), Value("All Users"));
    EXPECT_EQ(agent->Get("Command"), Value("/usr/bin/update-agent --tray"));
    const auto* notes = FindBy(cmds, "Name", "Notes");
    EXPECT_EQ(notes->Get("User"), Value("srv01\\alice"));
    EXPECT_EQ(notes->Get("UserSID"), Value("S-1-22-1-1000"));
    EXPECT_EQ(notes->Get("Location"), Value("/home/alice/.config/autostart"));
}

TEST(OsSettings, EnvironmentSystemAndUserSettings) {
    auto env = CollectIn("server", "Win32_Environment");
    ASSERT_EQ(env.size(), 5u);
    const auto* lang = FindBy(env, "Name", "LANG");
    EXPECT_EQ(lang->Get("VariableValue"), Value("en_US.UTF-8"));  // quotes removed
    EXPECT_EQ(lang->Get("SystemVariable"), Value(true));
    EXPECT_EQ(lang->Get("UserName"), Value("<SYSTEM>"));
    EXPECT_EQ(FindBy(env, "Name", "JAVA_HOME")->Get("SystemVariable"), Value(true));
    const auto* path = FindBy(env, "Name", "PATH");
    ASSERT_NE(path, nullptr);
    EXPECT_EQ(path->Get("SystemVariable"), Value(false));
    EXPECT_EQ(path->Get("UserName"), Value("srv01\\alice"));
    EXPECT_EQ(path->Get("VariableValue"), Value("$PATH:/home/alice/bin"));
    EXPECT_EQ(FindBy(env, "Name", "EDITOR") == nullptr, false);
    for (const auto& e : env) EXPECT_NE(e.Get("Name"), Value("PAGER DEFAULT"));
}

TEST(OsSettings, PartitionsWithUdevFacts) {
    auto parts = CollectIn("server", "Win32_DiskPartition");
    ASSERT_EQ(parts.size(), 2u);
    EXPECT_EQ(parts[0].Get("DeviceID"), Value("Disk #0, Partition #0"));
    EXPECT_EQ(parts[0].Get("StartingOffset"), Value("1048576"));
    EXPECT_EQ(parts[0].Get("Size"), Value("20400046080"));
    EXPECT_EQ(parts[0].Get("Bootable"), Value(true));
    EXPECT_EQ(parts[0].Get("PrimaryPartition"), Value(true));
    EXPECT_EQ(parts[0].Get("Type"), Value("Unknown"));  // Linux type 0x83 has no Windows name
    EXPECT_EQ(parts[1].Get("Index"), Value(1));
    EXPECT_EQ(parts[1].Get("Bootable"), Value(false));
}

TEST(OsSettings, SwapAsPageFiles) {
    auto files = CollectIn("server", "Win32_PageFile");
    ASSERT_EQ(files.size(), 2u);
    EXPECT_EQ(files[0].Get("Name"), Value("/swapfile"));
    EXPECT_EQ(files[0].Get("FileSize"), Value(std::to_string(2097152ull * 1024)));  // with its header page
    EXPECT_EQ(files[0].Get("FreeSpace"), Value(1535));
    auto usage = CollectIn("server", "Win32_PageFileUsage");
    EXPECT_EQ(usage[0].Get("CurrentUsage"), Value(512));
    EXPECT_EQ(usage[0].Get("AllocatedBaseSize"), Value(2047));
    auto settings = CollectIn("server", "Win32_PageFileSetting");
    ASSERT_EQ(settings.size(), 2u);
    EXPECT_EQ(settings[1].Get("Name"), Value("/dev/vda2"));
    EXPECT_EQ(settings[1].Get("MaximumSize"), Value(1023));
}

TEST(OsSettings, RoutesProtocolsConnectionsSharesProxy) {
    auto routes = CollectIn("server", "Win32_IP4RouteTable");
    ASSERT_EQ(routes.size(), 2u);  // the route that is not up is left out
    EXPECT_EQ(routes[0].Get("Destination"), Value("0.0.0.0"));
    EXPECT_EQ(routes[0].Get("NextHop"), Value("192.168.10.1"));
    EXPECT_EQ(routes[0].Get("Type"), Value(4));
    EXPECT_EQ(routes[0].Get("InterfaceIndex"), Value(2));
    EXPECT_EQ(routes[1].Get("Destination"), Value("192.168.10.0"));
    EXPECT_EQ(routes[1].Get("Mask"), Value("255.255.255.0"));
    EXPECT_EQ(routes[1].Get("Type"), Value(3));

    auto protos = CollectIn("server", "Win32_NetworkProtocol");
    ASSERT_EQ(protos.size(), 5u);
    EXPECT_EQ(FindBy(protos, "Name", "TCP")->Get("GuaranteesDelivery"), Value(true));
    EXPECT_EQ(FindBy(protos, "Name", "UDP")->Get("ConnectionlessService"), Value(true));
    EXPECT_TRUE(FindBy(protos, "Name", "UNIX")->Get("GuaranteesDelivery").isNull());

    auto clients = CollectIn("server", "Win32_NetworkClient");
    ASSERT_EQ(clients.size(), 2u);
    EXPECT_EQ(clients[0].Get("Name"), Value("nfs4"));
    EXPECT_EQ(clients[1].Get("Caption"), Value("SMB/CIFS client"));

    auto conns = CollectIn("server", "Win32_NetworkConnection");
    ASSERT_EQ(conns.size(), 2u);
    const auto* nfs = FindBy(conns, "LocalName", "/srv/media");
    EXPECT_EQ(nfs->Get("RemoteName"), Value("nas.example.net:/export/media"));
    EXPECT_EQ(nfs->Get("Persistent"), Value(true));
    const auto* cifs = FindBy(conns, "LocalName", "/mnt/office");
    EXPECT_EQ(cifs->Get("UserName"), Value("alice"));
    EXPECT_EQ(cifs->Get("Persistent"), Value(false));

    auto shares = CollectIn("server", "Win32_Share");
    std::set<std::string> names;
    for (const auto& s : shares) names.insert(s.Get("Name").asString());
    EXPECT_EQ(names, (std::set<std::string>{"homes", "printers", "office", "/srv/nfs/home", "/srv/nfs/media files"}));
    EXPECT_EQ(FindBy(shares, "Name", "printers")->Get("Type"), Value(1));
    EXPECT_EQ(FindBy(shares, "Name", "office")->Get("MaximumAllowed"), Value(25));
    EXPECT_EQ(FindBy(shares, "Name", "office")->Get("Path"), Value("/srv/office"));
    EXPECT_EQ(FindBy(shares, "Name", "/srv/nfs/home")->Get("Description"),
              Value("NFS: 192.168.10.0/24(rw,sync,no_subtree_check) 10.0.0.0/8(ro)"));

    auto proxy = One(CollectIn("server", "Win32_Proxy"));
    EXPECT_EQ(proxy.Get("ProxyServer"), Value("proxy.example.net"));
    EXPECT_EQ(proxy.Get("ProxyPortNumber"), Value(3128));
    EXPECT_EQ(proxy.Get("ServerName"), Value("srv01"));
}

TEST(OsSettings, EmptyTreeGivesEmptySetsNotErrors) {
    TempTree t;
    for (const char* cls : {"Win32_ScheduledJob", "Win32_DiskPartition", "Win32_NetworkClient", "Win32_PageFile", "Win32_PageFileUsage",
                            "Win32_PageFileSetting", "Win32_IP4RouteTable", "Win32_NetworkConnection", "Win32_Share",
                            "Win32_StartupCommand", "Win32_Environment", "Win32_OSRecoveryConfiguration"})
        EXPECT_TRUE(t.collect(cls).empty()) << cls;
    auto proxy = One(t.collect("Win32_Proxy"));
    EXPECT_TRUE(proxy.Get("ProxyServer").isNull());
}

TEST(Unsupported, ClassesWithoutALinuxCounterpartFailAsInvalidClass) {
    auto p = wmi::MakeLinuxProvider(lnxtest::Fixture("server"));
    for (const char* cls : {"Win32_Registry", "Win32_COMApplication", "Win32_DCOMApplication", "Win32_Directory",
                            "Win32_QuickFixEngineering", "Win32_PerfRawData_W3SVC_WebService", "Win32_ODBCAttribute",
                            "Win32_PerfRawData_TermService_TerminalServices"}) {
        try {
            lnxtest::Collect(p, cls);
            ADD_FAILURE() << cls << " answered";
        } catch (const wmi::Error& e) {
            EXPECT_EQ(e.unsignedNumber(), 0x80041010u) << cls;
        }
    }
}
