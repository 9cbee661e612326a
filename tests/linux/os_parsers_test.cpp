// The operating-system parsers over random and truncated input: none may
// throw or read out of bounds, whatever the bytes.
#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <random>
#include <sstream>

#include "linux_test_util.h"
#include "wmi/linux/os_parsers.h"

namespace {

namespace L = wmi::lnx;

const std::pair<const char*, std::function<void(const std::string&)>> kParsers[] = {
    {"stat", [](const std::string& s) { (void)L::ParseProcStat(s); }},
    {"cmdline", [](const std::string& s) { (void)L::JoinCommandLine(L::ParseCmdline(s)); }},
    {"passwd", [](const std::string& s) { (void)L::ParsePasswd(s); }},
    {"group", [](const std::string& s) { (void)L::ParseGroup(s); }},
    {"shadow", [](const std::string& s) { (void)L::ParseShadow(s); }},
    {"utmp", [](const std::string& s) { (void)L::ParseUtmpRecords(s); }},
    {"lastlog", [](const std::string& s) { (void)L::LastlogFor(s, 1); }},
    {"ini", [](const std::string& s) { (void)L::ParseIni(s); }},
    {"dpkg", [](const std::string& s) { (void)L::ParseDpkgStatus(s); }},
    {"posix tz", [](const std::string& s) { (void)L::ParsePosixTz(s); }},
    {"tzif", [](const std::string& s) { (void)L::ParseTzif(s); }},
    {"cron", [](const std::string& s) { (void)L::ParseCrontab(s, true); }},
    {"swaps", [](const std::string& s) { (void)L::ParseSwaps(s); }},
    {"routes", [](const std::string& s) { (void)L::ParseRoutes(s); }},
    {"partitions", [](const std::string& s) { (void)L::ParsePartitions(s); }},
    {"modules", [](const std::string& s) { (void)L::ParseModules(s); }},
    {"exports", [](const std::string& s) { (void)L::ParseExports(s); }},
    {"snmp", [](const std::string& s) { (void)L::ParseSnmp(s); }},
    {"netdev", [](const std::string& s) { (void)L::ParseNetDev(s); }},
    {"diskstats", [](const std::string& s) { (void)L::ParseDiskStats(s); }},
    {"stat summary", [](const std::string& s) { (void)L::ParseProcStatSummary(s); }},
    {"vmstat", [](const std::string& s) { (void)L::ParseVmstat(s); }},
    {"syslog", [](const std::string& s) { (void)L::ParseSyslogLine(s); }},
};

std::string ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

}  // namespace

TEST(OsParsers, RandomInputNeverThrows) {
    // Characters the formats are made of, so that inputs get past the first checks.
    const std::string alphabet = "0123456789 \t\n:=,-+/.()[]<>@*#\"\\MJTZabcdefxyzACEST\x80\xff";
    std::mt19937 rng(20261206);
    for (const auto& [name, parse] : kParsers) {
        for (int i = 0; i < 400; ++i) {
            std::string s(rng() % 300, ' ');
            for (char& c : s) c = alphabet[rng() % alphabet.size()];
            EXPECT_NO_THROW(parse(s)) << name << ": " << s;
        }
    }
}

TEST(OsParsers, EveryPrefixOfRealFilesIsSafe) {
    const char* files[] = {"server/var/lib/dpkg/status", "server/etc/crontab", "server/proc/net/snmp",
                           "server/proc/1/stat", "server/etc/samba/smb.conf", "server/proc/diskstats",
                           "server/usr/share/zoneinfo/Europe/Berlin"};
    for (const char* file : files) {
        std::string text = ReadBytes(lnxtest::Fixture(file));
        ASSERT_FALSE(text.empty()) << file;
        for (std::size_t n = 0; n <= text.size(); n += 1 + n / 16) {
            for (const auto& [name, parse] : kParsers) EXPECT_NO_THROW(parse(text.substr(0, n))) << name << " on " << file << "[:" << n << "]";
        }
    }
}
