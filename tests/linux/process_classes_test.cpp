// Win32_Process and Win32_Thread over the server fixture and the live /proc.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "os_test_util.h"
#include "wmi/linux/os_parsers.h"

using lnxtest::FindBy;
using lnxtest::Str;
using wmi::Value;

TEST(ProcStatParser, NamesWithBlanksAndParenthesesAndShortLines) {
    auto s = wmi::lnx::ParseProcStat("42 (a) b (c)) R 7 42 42 0 -1 0 11 0 2 0 300 40 0 0 20 5 3 0 1234 999 17");
    ASSERT_TRUE(s);
    EXPECT_EQ(s->comm, "a) b (c)");
    EXPECT_EQ(s->state, 'R');
    EXPECT_EQ(s->ppid, 7);
    EXPECT_EQ(s->utime, 300u);
    EXPECT_EQ(s->stime, 40u);
    EXPECT_EQ(s->nice, 5);
    EXPECT_EQ(s->numThreads, 3);
    EXPECT_EQ(s->startTime, 1234u);
    EXPECT_EQ(s->rss, 17u);
    EXPECT_FALSE(wmi::lnx::ParseProcStat("42 (x) R 1 2 3"));
    EXPECT_FALSE(wmi::lnx::ParseProcStat(""));
    EXPECT_FALSE(wmi::lnx::ParseProcStat("x (y) R 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 19 20 21 22"));
}

namespace {

std::set<int> PidsInProc() {
    std::set<int> out;
    for (const auto& e : std::filesystem::directory_iterator("/proc")) {
        std::string n = e.path().filename().string();
        if (!n.empty() && std::all_of(n.begin(), n.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)); }))
            out.insert(std::stoi(n));
    }
    return out;
}

}  // namespace

TEST(ProcessLive, EveryProcessAliveThroughoutIsListedAndAVanishedOneIsSkipped) {
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        pause();
        _exit(0);
    }
    auto before = PidsInProc();
    auto p = wmi::MakeLinuxProvider("/");
    auto cursor = p->enumerate("Win32_Process");  // the pid list is taken here
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    std::set<int> listed;
    while (auto o = cursor->next()) listed.insert(static_cast<int>(o->Get("ProcessId").asInt()));
    auto after = PidsInProc();
    EXPECT_FALSE(listed.count(child));
    EXPECT_TRUE(listed.count(getpid()));
    // Other processes may start and end meanwhile; those alive all along are there.
    for (int pid : before) {
        if (after.count(pid)) {
            EXPECT_TRUE(listed.count(pid)) << pid;
        }
    }
}

TEST(ProcessLive, OwnProcessHasCommandLineTimesAndHandles) {
    auto procs = lnxtest::Collect(wmi::MakeLinuxProvider("/"), "Win32_Process");
    const auto* self = FindBy(procs, "Handle", std::to_string(getpid()));
    ASSERT_NE(self, nullptr);
    EXPECT_NE(Str(*self, "CommandLine").find("kestrane_linux_tests"), std::string::npos);
    EXPECT_GE(self->Get("HandleCount").asInt(), 3);
    EXPECT_TRUE(self->Get("CreationDate").isString());
    EXPECT_TRUE(self->Get("WorkingSetSize").isString());
}

TEST(ProcessLive, OwnPrivateMemoryAndSwapUse) {
    auto procs = lnxtest::Collect(wmi::MakeLinuxProvider("/"), "Win32_Process");
    const auto* self = FindBy(procs, "Handle", std::to_string(::getpid()));
    ASSERT_NE(self, nullptr);
    // Anonymous pages resident or swapped: at least the heap this test uses,
    // at most all it maps.
    const auto priv = std::stoull(self->Get("PrivatePageCount").asString());
    EXPECT_GT(priv, 0u);
    EXPECT_LE(priv, std::stoull(self->Get("VirtualSize").asString()));
#ifndef __SANITIZE_ADDRESS__
    // Commit charge in KB; AddressSanitizer's shadow reservation is past what
    // the 32-bit property holds, so there it is Null.
    EXPECT_TRUE(self->Get("PageFileUsage").isInt());
#endif
    EXPECT_TRUE(self->Get("PeakPageFileUsage").isNull());  // Linux keeps no peak of it
    auto perf = lnxtest::Collect(wmi::MakeLinuxProvider("/"), "Win32_PerfRawData_PerfProc_Process");
    EXPECT_EQ(perf.front().Get("Name"), Value("Idle"));
    EXPECT_EQ(perf.back().Get("Name"), Value("_Total"));
}
