// Accounts, groups, logon sessions and login profiles.
#include <gtest/gtest.h>

#include <cstring>
#include <set>

#include "os_test_util.h"
#include "wmi/linux/os_parsers.h"

using lnxtest::FindBy;
using lnxtest::TempTree;
using wmi::Value;

namespace {

std::string UtmpRecord(short type, int pid, const std::string& line, const std::string& user, const std::string& host,
                       int seconds) {
    std::string r(384, '\0');
    std::memcpy(&r[0], &type, 2);
    std::memcpy(&r[4], &pid, 4);
    std::memcpy(&r[8], line.data(), line.size());
    std::memcpy(&r[44], user.data(), user.size());
    std::memcpy(&r[76], host.data(), host.size());
    std::memcpy(&r[340], &seconds, 4);
    return r;
}

}  // namespace

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
    EXPECT_TRUE(t.collect("Win32_Group").empty());  // no group file: no groups, no error
}

TEST(UserAccount, PasswordFieldsThatLockAnAccount) {
    struct Case {
        const char* password;
        bool lockout;
        bool required;
    } cases[] = {
        {"$y$j9T$abc$def", false, true}, {"!$y$j9T$abc$def", true, true},  // passwd -l
        {"!", true, true},  {"*", true, true},  {"!*", true, true},        // never set
        {"", false, false},                                                 // no password at all
    };
    for (const auto& c : cases) {
        TempTree t;
        t.write("/etc/passwd", "carol:x:1000:1000:Carol:/home/carol:/bin/sh\n");
        t.write("/etc/shadow", std::string("carol:") + c.password + ":19600:0:99999:7:::\n");
        auto users = t.collect("Win32_UserAccount");
        ASSERT_EQ(users.size(), 1u);
        EXPECT_EQ(users[0].Get("Lockout"), Value(c.lockout)) << c.password;
        EXPECT_EQ(users[0].Get("Status"), Value(c.lockout ? "Degraded" : "OK")) << c.password;
        EXPECT_EQ(users[0].Get("PasswordRequired"), Value(c.required)) << c.password;
        EXPECT_EQ(users[0].Get("Disabled"), Value(false)) << c.password;
    }
}

TEST(LogonSession, UserProcessRecordsOnlyWithTimesAndTypes) {
    TempTree t;
    t.write("/run/utmp", UtmpRecord(2, 0, "~", "reboot", "", 1733468400) +
                             UtmpRecord(7, 4242, "pts/0", "alice", "10.0.0.9", 1733472000) +
                             UtmpRecord(7, 4343, "tty1", "bob", "", 1733475600) +
                             UtmpRecord(8, 4444, "pts/1", "", "", 1733479200) +
                             UtmpRecord(7, 4545, "tty7", "carol", ":0", 0) +
                             UtmpRecord(7, 4646, "pts/2", "dave", "remote:0", 1733479200) + std::string(100, 'x'));
    auto s = t.collect("Win32_LogonSession");
    ASSERT_EQ(s.size(), 4u);
    EXPECT_EQ(s[0].Get("LogonId"), Value("4242"));
    EXPECT_EQ(s[0].Get("LogonType"), Value(10));
    EXPECT_EQ(s[0].Get("StartTime"), Value("20241206080000.000000+000"));
    EXPECT_EQ(s[1].Get("LogonType"), Value(2));
    EXPECT_EQ(s[2].Get("LogonType"), Value(2));  // the local X display
    EXPECT_TRUE(s[2].Get("StartTime").isNull());  // a time of 0 is no time
    EXPECT_EQ(s[3].Get("LogonType"), Value(10));  // a display on another host
    TempTree empty;
    EXPECT_TRUE(empty.collect("Win32_LogonSession").empty());
}

TEST(NetworkLoginProfile, LastlogAndShadowDates) {
    TempTree t;
    t.write("/etc/passwd", "root:x:0:0:root:/root:/bin/bash\nalice:x:2:2:Alice,Lab:/home/alice:/bin/bash\n");
    t.write("/etc/login.defs", "UID_MIN 2\n");
    t.write("/etc/shadow", "alice:hash:19600:0:30:7::20000:\n");
    std::string lastlog(292 * 3, '\0');
    int when = 1733472000;
    std::memcpy(&lastlog[292 * 2], &when, 4);
    std::memcpy(&lastlog[292 * 2 + 4], "pts/3", 5);
    t.write("/var/log/lastlog", lastlog);
    auto p = t.collect("Win32_NetworkLoginProfile");
    ASSERT_EQ(p.size(), 2u);
    const auto* alice = FindBy(p, "Caption", "alice");
    ASSERT_NE(alice, nullptr);
    EXPECT_EQ(alice->Get("LastLogon"), Value("20241206080000.000000+000"));
    EXPECT_EQ(alice->Get("AccountExpires").asString().substr(0, 8), "20241004");  // day 20000
    EXPECT_EQ(alice->Get("PasswordExpires").asString().substr(0, 8), "20230930");  // day 19600 + 30
    EXPECT_EQ(alice->Get("Privileges"), Value(1));
    EXPECT_EQ(alice->Get("HomeDirectory"), Value("/home/alice"));
    EXPECT_EQ(alice->Get("Comment"), Value("Lab"));
    const auto* root = FindBy(p, "Caption", "root");
    EXPECT_EQ(root->Get("Privileges"), Value(2));
    EXPECT_TRUE(root->Get("LastLogon").isNull());  // a record of zeros: never logged in
}
