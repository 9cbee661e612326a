// Operating-system settings over the server fixture and generated trees.
#include <gtest/gtest.h>

#include <ctime>
#include <fstream>
#include <set>
#include <sstream>

#include "os_test_util.h"
#include "wmi/linux/os_parsers.h"

using lnxtest::CollectIn;
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
