// Event logs from the journal and from classic text logs.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <fstream>
#include <sstream>

#include "os_test_util.h"
#include "wmi/linux/os_parsers.h"

using lnxtest::FindBy;
using lnxtest::TempTree;
using wmi::Value;

namespace {

// Rebuilds the fixture journal file from its non-zero byte runs.
std::string JournalBytes() {
    std::ifstream in(lnxtest::Fixture("journal/system.journal.runs"));
    std::size_t size = 0;
    in >> size;
    std::string out(size, '\0');
    std::size_t off;
    std::string hex;
    while (in >> off >> hex)
        for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
            out[off + i / 2] = static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    return out;
}

void SetMtime(const std::string& path, std::int64_t secs) {
    struct timespec times[2] = {{secs, 0}, {secs, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

}  // namespace

TEST(SyslogParser, TraditionalAndRfc3339Stamps) {
    auto a = wmi::lnx::ParseSyslogLine("Dec  6 07:24:51 srv01 sshd[812]: Accepted publickey for alice");
    ASSERT_TRUE(a);
    EXPECT_EQ(a->month, 12);
    EXPECT_EQ(a->day, 6);
    EXPECT_EQ(a->year, 0);
    EXPECT_EQ(a->host, "srv01");
    EXPECT_EQ(a->tag, "sshd");
    EXPECT_EQ(a->pid, 812);
    EXPECT_EQ(a->message, "Accepted publickey for alice");
    auto b = wmi::lnx::ParseSyslogLine("2024-12-06T08:00:01.123456+01:00 srv01 kernel: [  0.0] Linux version");
    ASSERT_TRUE(b);
    EXPECT_EQ(b->year, 2024);
    EXPECT_EQ(b->offsetMinutes, 60);
    EXPECT_EQ(b->tag, "kernel");
    EXPECT_EQ(b->message, "[  0.0] Linux version");
    auto c = wmi::lnx::ParseSyslogLine("Jan 10 00:00:00 host -- MARK --");
    ASSERT_TRUE(c);
    EXPECT_TRUE(c->tag.empty());
    EXPECT_EQ(c->message, "-- MARK --");
    EXPECT_FALSE(wmi::lnx::ParseSyslogLine("\tat java.lang.Thread.run"));
    EXPECT_FALSE(wmi::lnx::ParseSyslogLine("Foo 10 00:00:00 host x: y"));
    EXPECT_FALSE(wmi::lnx::ParseSyslogLine(""));
}


TEST(NTLogEvent, JournalEntriesSplitByFacilityWithTypesAndUsers) {
    TempTree t;
    t.write("/var/log/journal/0123/system.journal", JournalBytes());
    t.write("/etc/passwd", "root:x:0:0::/root:/bin/sh\nalice:x:1000:1000::/home/alice:/bin/sh\n");
    t.write("/proc/sys/kernel/hostname", "srv01\n");
    auto events = t.collect("Win32_NTLogEvent");
    // A build with the journal reader must read this journal; only a build
    // without it may skip.
    if (!wmi::lnx::JournalReaderBuiltIn()) GTEST_SKIP() << "built without the journal reader";
    ASSERT_EQ(events.size(), 5u);
    EXPECT_EQ(events[0].Get("Logfile"), Value("System"));
    EXPECT_EQ(events[0].Get("SourceName"), Value("kernel"));
    EXPECT_EQ(events[0].Get("CategoryString"), Value("kern"));
    EXPECT_EQ(events[0].Get("TimeWritten"), Value("20241206070000.000000+000"));
    EXPECT_EQ(events[1].Get("Logfile"), Value("Security"));  // authpriv
    EXPECT_EQ(events[1].Get("User"), Value("srv01\\root"));
    EXPECT_EQ(events[1].Get("RecordNumber"), Value(1));  // numbered per log
    EXPECT_EQ(events[2].Get("Logfile"), Value("Application"));  // a user's unit
    EXPECT_EQ(events[2].Get("EventType"), Value(1));
    EXPECT_EQ(events[2].Get("Type"), Value("Error"));
    EXPECT_EQ(events[2].Get("User"), Value("srv01\\alice"));
    EXPECT_EQ(events[3].Get("RecordNumber"), Value(2));
    EXPECT_EQ(events[4].Get("Logfile"), Value("System"));  // a system unit without a facility
    EXPECT_EQ(events[4].Get("SourceName"), Value("monitor"));  // from the command name
    EXPECT_EQ(events[4].Get("Type"), Value("Warning"));
    EXPECT_EQ(events[4].Get("RecordNumber"), Value(3));

    auto files = t.collect("Win32_NTEventlogFile");
    ASSERT_EQ(files.size(), 3u);
    EXPECT_EQ(FindBy(files, "LogfileName", "System")->Get("NumberOfRecords"), Value(3));
    EXPECT_EQ(FindBy(files, "LogfileName", "Security")->Get("NumberOfRecords"), Value(1));
    EXPECT_EQ(FindBy(files, "LogfileName", "Application")->Get("Sources"), Value(wmi::Value::Array{Value("myapp")}));
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
    truncated.write("/var/log/journal/0123/system.journal", JournalBytes().substr(0, 3000));
    EXPECT_NO_THROW(truncated.collect("Win32_NTLogEvent"));
}

TEST(NTLogEvent, TextLogsWithoutJournalInferTheYearFromTheFile) {
    TempTree t;
    t.write("/var/log/syslog",
            "Dec 30 23:59:58 srv01 CRON[100]: (root) CMD (run-parts)\n"
            "a torn line\n"
            "Jan  2 08:00:00 srv01 kernel: usb 1-1: new device\n");
    t.write("/var/log/auth.log", "2025-01-02T09:00:00.5+01:00 srv01 sshd[812]: Accepted key\n");
    SetMtime(t.path("/var/log/syslog"), 1735819200);  // 2025-01-02 12:00 UTC
    auto events = t.collect("Win32_NTLogEvent");
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[0].Get("TimeGenerated"), Value("20241230235958.000000+000"));  // December: last year
    EXPECT_EQ(events[0].Get("SourceName"), Value("CRON"));
    EXPECT_EQ(events[1].Get("TimeGenerated"), Value("20250102080000.000000+000"));
    EXPECT_EQ(events[1].Get("RecordNumber"), Value(2));
    EXPECT_TRUE(events[1].Get("EventType").isNull());  // a text log does not say
    EXPECT_EQ(events[2].Get("Logfile"), Value("Security"));
    EXPECT_EQ(events[2].Get("TimeGenerated"), Value("20250102080000.000000+000"));  // its offset applied
    auto files = t.collect("Win32_NTEventlogFile");
    ASSERT_EQ(files.size(), 2u);
    EXPECT_EQ(files[0].Get("Name"), Value("/var/log/syslog"));
    EXPECT_EQ(files[0].Get("NumberOfRecords"), Value(2));
    EXPECT_EQ(files[0].Get("LastModified"), Value("20250102120000.000000+000"));
    TempTree none;
    EXPECT_TRUE(none.collect("Win32_NTLogEvent").empty());
    EXPECT_TRUE(none.collect("Win32_NTEventlogFile").empty());
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
