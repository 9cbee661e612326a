// Operating-system settings and records over generated trees and this
// computer: time zones, the clock, cron tables, event logs from the journal
// and from classic text logs, accounts and installed packages. The oddities
// tree's listing holds the cases one tree can (logon sessions, profiles,
// services, drivers, locked passwords, a zone without daylight time).
#include <gtest/gtest.h>

#include <ctime>
#include <sstream>

#include "linux_test_util.h"
#include "wmi/linux/os_parsers.h"

using lnxtest::TempTree;
using wmi::Value;

namespace {

// A zone as one line: names with their offsets east of UTC, the month, week
// and hour daylight time starts, and the month it ends.
std::string Describe(const std::optional<wmi::lnx::TimeZoneInfo>& tz) {
    if (!tz) return "refused";
    std::ostringstream s;
    s << tz->standardName << " " << tz->standardOffsetSeconds;
    if (tz->hasDaylight()) s << ", " << tz->daylightName << " " << tz->daylightOffsetSeconds;
    if (auto r = tz->daylightStart) s << ", from " << r->month << "." << r->week << " " << r->seconds / 3600 << "h";
    if (auto r = tz->standardStart) s << " to " << r->month;
    return s.str();
}

}  // namespace

// The server's zone (CET-1CEST,M3.5.0,M10.5.0/3) shows in its listing.
TEST(TzParser, PosixRules) {
    const std::pair<const char*, const char*> cases[] = {
        {"EST5EDT,M3.2.0,M11.1.0", "EST -18000, EDT -14400, from 3.2 2h to 11"},
        {"<+0330>-3:30", "+0330 12600"},
        {"JST-9", "JST 32400"},
        {"IST-1GMT0,M10.5.0,M3.5.0/1", "IST 3600, GMT 0, from 10.5 2h to 3"},  // negative daylight time
        {"CET-1CEST,M3.5.0/99999999999,M10.5.0", "CET 3600, CEST 7200"},     // a rule that cannot be read is none
        {"CET-99999999999999999999CEST", "refused"},                          // a damaged footer
        {"XX", "refused"},
        {"", "refused"},
    };
    for (const auto& [tz, want] : cases) EXPECT_EQ(Describe(wmi::lnx::ParsePosixTz(tz)), want) << tz;
}

TEST(TzParser, FooterVersionOneFallbackAndCorruptFiles) {
    // The server's zone, whose footer its listing shows, as version 1 data
    // only: names and offsets from the last transitions.
    std::string berlin = lnxtest::ReadFixtureFile("server/usr/share/zoneinfo/Europe/Berlin");
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

TEST(TimeZone, ADamagedLocaltimeIsNoZone) {
    TempTree damaged;
    damaged.write("/etc/localtime", "garbage");
    EXPECT_TRUE(damaged.collect("Win32_TimeZone").empty());
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

}  // namespace

TEST(CurrentTime, LiveClockOnlyWithConsistentFields) {
    const std::time_t before = std::time(nullptr);
    auto all = lnxtest::Collect(wmi::MakeLinuxProvider("/"), "Win32_CurrentTime");
    const std::time_t after = std::time(nullptr);
    ASSERT_EQ(all.size(), 2u);
    // The clock as it was while they were read; local time is ahead by the offset.
    EXPECT_GE(FieldSeconds(all[1]), before);
    EXPECT_LE(FieldSeconds(all[1]), after);
    std::tm local{};
    ::localtime_r(&before, &local);
    EXPECT_NEAR(FieldSeconds(all[0]) - FieldSeconds(all[1]), local.tm_gmtoff, 2);
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

// The server's listing has its system and user tables.
TEST(CronParser, SystemTablesSkipAssignmentsAndBrokenLines) {
    auto sys = wmi::lnx::ParseCrontab("A=1\nPATH = /bin\n  # c\n5 4 * * 0 root echo a  b\nbad\n@daily root x\n"
                                      "1 2 3 4 5\vroot\vcmd\n", true);
    ASSERT_EQ(sys.size(), 2u);
    EXPECT_EQ(sys[0].user, "root");
    EXPECT_EQ(sys[0].command, "echo a  b");  // the command as written
    EXPECT_EQ(sys[1].special, "@daily");
}

// Stamps, tags, messages and torn lines show in StoredListing.TextLogEvents.
TEST(SyslogParser, HostProcessAndLinesWithoutATag) {
    auto a = wmi::lnx::ParseSyslogLine("Dec  6 07:24:51 srv01 sshd[812]: Accepted publickey for alice");
    ASSERT_TRUE(a);
    EXPECT_EQ(a->host, "srv01");
    EXPECT_EQ(a->pid, 812);
    auto c = wmi::lnx::ParseSyslogLine("Jan 10 00:00:00 host -- MARK --");
    ASSERT_TRUE(c);
    EXPECT_TRUE(c->tag.empty());
    EXPECT_EQ(c->message, "-- MARK --");
    EXPECT_FALSE(wmi::lnx::ParseSyslogLine("Foo 10 00:00:00 host x: y"));
}

TEST(NTLogEvent, EmptyOrCorruptJournalGivesNoEntriesAndNoError) {
    TempTree empty;
    empty.mkdir("/var/log/journal/0123");
    EXPECT_TRUE(empty.collect("Win32_NTLogEvent").empty());
    TempTree corrupt;
    corrupt.write("/var/log/journal/0123/system.journal", std::string(4096, 'x'));
    EXPECT_NO_THROW(EXPECT_TRUE(corrupt.collect("Win32_NTLogEvent").empty()));
    EXPECT_NO_THROW(corrupt.collect("Win32_NTEventlogFile"));
    TempTree truncated;
    truncated.write("/var/log/journal/0123/system.journal", lnxtest::JournalBytes().substr(0, 3000));
    EXPECT_NO_THROW(truncated.collect("Win32_NTLogEvent"));
}

TEST(NTLogEvent, LongLogKeepsCountingPast32767Lazily) {
    TempTree t;
    std::string log;
    const int n = 40000;
    log.reserve(static_cast<std::size_t>(n) * 60);
    for (int i = 0; i < n; ++i) log += "Mar  1 10:00:00 srv01 app[" + std::to_string(i) + "]: event number " + std::to_string(i) + "\n";
    t.write("/var/log/syslog", log);
    auto p = wmi::MakeLinuxProvider(t.path());
    auto cursor = p->enumerate("Win32_NTLogEvent");
    std::int64_t last = 0;
    int count = 0;
    while (auto o = cursor->next()) {
        ++count;
        last = o->Get("RecordNumber").asInt();
        if (count == 32768) {
            EXPECT_EQ(o->Get("Message"), Value("event number 32767"));
        }
    }
    EXPECT_EQ(count, n);
    EXPECT_EQ(last, n);
    auto files = lnxtest::Collect(p, "Win32_NTEventlogFile");
    EXPECT_EQ(files[0].Get("NumberOfRecords"), Value(n));
}

TEST(AccountParsers, PasswdGroupShadowSkipMalformedLines) {
    auto users = wmi::lnx::ParsePasswd("root:x:0:0:root:/root:/bin/bash\nbad\nx:x:notanumber:0::/:/bin/sh\n+nis::::::\n");
    ASSERT_EQ(users.size(), 1u);
    EXPECT_EQ(users[0].shell, "/bin/bash");
    auto groups = wmi::lnx::ParseGroup("staff:x:50:alice, bob,\n:x:1:\n");
    ASSERT_EQ(groups.size(), 1u);
    EXPECT_EQ(groups[0].members, (std::vector<std::string>{"alice", "bob"}));
    auto sh = wmi::lnx::ParseShadow("bob:!hash:19600:0:99999:7::19000:\nshort:x\n");
    ASSERT_EQ(sh.size(), 1u);
    EXPECT_EQ(sh[0].expireDay, 19000);
    EXPECT_FALSE(sh[0].inactiveDays);
}

TEST(UserAccount, UnreadableShadowLeavesPasswordFactsNull) {
    TempTree t;
    t.write("/etc/passwd", "carol:x:1000:1000:Carol:/home/carol:/bin/sh\n");
    auto users = t.collect("Win32_UserAccount");
    ASSERT_EQ(users.size(), 1u);
    for (const char* p : {"Lockout", "PasswordRequired", "PasswordExpires", "Disabled", "Status"})
        EXPECT_TRUE(users[0].Get(p).isNull()) << p;
}

TEST(DpkgParser, FieldsContinuationsAndMalformedStanzas) {
    auto pkgs = wmi::lnx::ParseDpkgStatus(
        "Package: a\nStatus: install ok installed\nDescription: first\n second line\n .\n third\nVersion: 1\n\n"
        "Package: b\nbroken\nVersion: 2\n\n"
        " leading continuation\nPackage: c\n\n"
        "Version: 4\n\n"  // no Package field
        "Package: d\r\nInstalled-Size: 12\r\nStatus: deinstall ok config-files\r\n");
    ASSERT_EQ(pkgs.size(), 2u);
    EXPECT_EQ(pkgs[0].package, "a");
    EXPECT_EQ(pkgs[0].summary(), "first");
    EXPECT_EQ(pkgs[0].description, "first\nsecond line\n.\nthird");
    EXPECT_EQ(pkgs[0].version, "1");
    EXPECT_EQ(pkgs[1].package, "d");
    EXPECT_EQ(pkgs[1].installedSizeKB, 12u);
}

// One meaning of installed everywhere: the package's files are on disk,
// whatever is wanted of it.
TEST(DpkgParser, InstalledIsTheStateNotTheWish) {
    const std::pair<const char*, bool> cases[] = {
        {"install ok installed", true},         {"hold ok installed", true},
        {"deinstall ok installed", true},       {"install ok half-configured", true},
        {"install reinstreq half-installed", true}, {"hold ok triggers-pending", true},
        {"install ok unpacked", true},          {"deinstall ok config-files", false},
        {"purge ok not-installed", false},      {"install ok", false},
        {"", false},
    };
    for (const auto& [status, installed] : cases) {
        wmi::lnx::DpkgPackage p;
        p.status = status;
        EXPECT_EQ(wmi::lnx::DpkgIsInstalled(p), installed) << status;
    }
}

TEST(Product, InstallDateFromTheFileList) {
    TempTree t;
    t.write("/var/lib/dpkg/status", "Package: x\nStatus: install ok installed\nArchitecture: arm64\nVersion: 1\n");
    t.write("/var/lib/dpkg/info/x:arm64.list", "/usr/bin/x\n");
    t.touch("/var/lib/dpkg/info/x:arm64.list", 1730541600);  // 2024-11-02 10:00 UTC
    auto p = t.collect("Win32_Product");
    ASSERT_EQ(p.size(), 1u);
    EXPECT_EQ(p[0].Get("InstallDate"), Value("20241102"));
    EXPECT_EQ(p[0].Get("InstallDate2"), Value("20241102100000.000000+000"));
}
