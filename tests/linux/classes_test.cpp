// Class values over generated trees and this computer, where the fixture
// trees' listings (stored_listing_test.cpp) cannot show them: values over
// time, a device that vanishes, settings one tree holds only one of, and
// counters paired by identity.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>

#include "linux_test_util.h"

using lnxtest::Str;
using lnxtest::TempTree;
using wmi::Value;

TEST(Vanishing, DeviceRemovedBetweenListingAndReadingIsSkipped) {
    lnxtest::TempTree t;
    for (std::string d : {"sda", "sdb", "sdc"}) {
        t.write("/sys/block/" + d + "/size", "2048\n");
        t.write("/sys/block/" + d + "/queue/logical_block_size", "512\n");
    }
    auto cursor = wmi::MakeLinuxProvider(t.path())->enumerate("Win32_DiskDrive");
    auto first = cursor->next();
    std::filesystem::remove_all(t.path("/sys/block/sdb"));  // unplugged while listing
    auto second = cursor->next();
    auto third = cursor->next();
    ASSERT_TRUE(first);
    ASSERT_TRUE(second);
    EXPECT_EQ(first->Get("DeviceID"), Value("/dev/sda"));
    EXPECT_EQ(second->Get("DeviceID"), Value("/dev/sdc"));
    EXPECT_EQ(second->Get("Index"), Value(1));  // indexes stay dense
    EXPECT_FALSE(third);
}

TEST(Processor, LoadPercentageIsMeasuredBetweenTwoQueries) {
    lnxtest::TempTree t;
    t.write("/proc/cpuinfo", "processor : 0\nmodel name : Test CPU\n\nprocessor : 1\nmodel name : Test CPU\n");
    t.write("/sys/devices/system/cpu/online", "0-1\n");
    t.write("/proc/stat", "cpu0 100 0 0 900\ncpu1 100 0 0 900\n");
    auto provider = wmi::MakeLinuxProvider(t.path());
    auto first = lnxtest::Collect(provider, "Win32_Processor");
    t.write("/proc/stat", "cpu0 160 0 0 940\ncpu1 130 0 0 970\n");  // 60+30 busy of 200 ticks
    auto second = lnxtest::Collect(provider, "Win32_Processor");
    auto other = t.collect("Win32_Processor");
    ASSERT_EQ(first.size(), 1u);
    ASSERT_EQ(second.size(), 1u);
    EXPECT_TRUE(first[0].Get("LoadPercentage").isNull());  // one sample says nothing about load
    EXPECT_EQ(second[0].Get("LoadPercentage"), Value(45));
    EXPECT_TRUE(other[0].Get("LoadPercentage").isNull());  // samples belong to one provider
}

TEST(Processor, LoadPercentageOnThisComputerFromTheFirstQuery) {
    // Fresh providers, as every selection opens one: each query has a load.
    for (int i = 0; i < 3; ++i) {
        auto cpus = lnxtest::Collect(wmi::MakeLinuxProvider("/"), "Win32_Processor");
        ASSERT_FALSE(cpus.empty());
        for (const auto& c : cpus) {
            ASSERT_TRUE(c.Get("LoadPercentage").isInt()) << i;
            EXPECT_LE(c.Get("LoadPercentage").asInt(), 100);
        }
    }
}

TEST(OperatingSystem, CodeSetAndLocaleFromTheSystemLocale) {
    struct Case {
        const char* lang;
        const char* codeSet;  // nullptr: Null
        const char* locale;
    } cases[] = {
        {"en_US.UTF-8", "65001", "0409"}, {"de_DE.utf8", "65001", "0407"},  {"fr_CA.ISO-8859-1", "28591", "0C0C"},
        {"de_DE@euro", nullptr, "0407"},  {"xx_YY.UTF-8", "65001", nullptr}, {"ru_RU.KOI8-R", "20866", "0419"},
        {"C.UTF-8", nullptr, nullptr},    {"POSIX", nullptr, nullptr},
    };
    for (const auto& c : cases) {
        lnxtest::TempTree t;
        t.write("/etc/default/locale", std::string("LANG=") + c.lang + "\n");
        auto os = t.collect("Win32_OperatingSystem").at(0);
        EXPECT_EQ(os.Get("CodeSet"), c.codeSet ? Value(c.codeSet) : Value()) << c.lang;
        EXPECT_EQ(os.Get("Locale"), c.locale ? Value(c.locale) : Value()) << c.lang;
    }
}

TEST(OperatingSystem, InstallDateFromTheOldestPackageListWithoutAnInstallerLog) {
    lnxtest::TempTree t;
    t.write("/var/lib/dpkg/info/base-files.list", "/etc\n");
    t.write("/var/lib/dpkg/info/bash.list", "/bin/bash\n");
    t.write("/var/lib/dpkg/info/bash.md5sums", "x\n");  // not a file list
    t.touch("/var/lib/dpkg/info/base-files.list", 1733468400);  // 2024-12-06 07:00 UTC
    t.touch("/var/lib/dpkg/info/bash.list", 1733472000);
    t.touch("/var/lib/dpkg/info/bash.md5sums", 1700000000);
    // Announced ahead, the lists are looked at on another thread while the
    // class is listed, which then waits for that answer.
    auto announced = wmi::MakeLinuxProvider(t.path());
    announced->prefetch({"Win32_OperatingSystem"});
    EXPECT_EQ(lnxtest::Collect(announced, "Win32_OperatingSystem").at(0).Get("InstallDate"),
              Value("20241206070000.000000+000"));
    EXPECT_EQ(t.collect("Win32_OperatingSystem").at(0).Get("InstallDate"), Value("20241206070000.000000+000"));
    t.mkdir("/var/log/installer");  // the installer's log wins where it exists
    EXPECT_NE(t.collect("Win32_OperatingSystem").at(0).Get("InstallDate"), Value("20241206070000.000000+000"));
}

TEST(Values, ProcessorQueueHoldsOnlyReadyThreads) {
    struct Case {
        int running, cpus;
        const char* want;  // nullptr: Null
    } cases[] = {{1, 2, "0"}, {9, 4, "5"}, {3, 0, nullptr}};
    for (const auto& c : cases) {
        TempTree t;
        std::string stat = "cpu 1 0 1 1 0 0 0 0\n";
        for (int i = 0; i < c.cpus; ++i) stat += "cpu" + std::to_string(i) + " 1 0 1 1 0 0 0 0\n";
        t.write("/proc/stat", stat + "procs_running " + std::to_string(c.running) + "\n");
        auto v = t.collect("Win32_PerfRawData_PerfOS_System").at(0).Get("ProcessorQueueLength");
        EXPECT_EQ(v.isNull() ? "<null>" : wmi::ValueText(v), c.want ? c.want : "<null>") << c.running << "/" << c.cpus;
    }
}

// Two processes of one name: the formatted counters pair each thread's two
// samples by the thread, not by its name, which repeats.
TEST(Values, ThreadSamplesPairByThreadNotByName) {
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    auto spawn = [&](std::chrono::milliseconds burn) {
        pid_t pid = fork();
        if (pid == 0) {
            prctl(PR_SET_NAME, "kvalues-twin");
            auto end = std::chrono::steady_clock::now() + burn;
            for (volatile unsigned x = 0; std::chrono::steady_clock::now() < end;) x = x + 1;
            if (write(ready[1], "x", 1) != 1) _exit(1);
            pause();
            _exit(0);
        }
        return pid;
    };
    // The busy one first, so that it lists before its idle twin.
    const pid_t busy = spawn(std::chrono::milliseconds(600)), idle = spawn(std::chrono::milliseconds(0));
    ASSERT_GT(busy, 0);
    ASSERT_GT(idle, 0);
    char buf[2];
    ASSERT_EQ(read(ready[0], buf, 1), 1);
    ASSERT_EQ(read(ready[0], buf + 1, 1), 1);
    auto rows = lnxtest::Collect(wmi::MakeLinuxProvider("/"), "Win32_PerfFormattedData_PerfProc_Thread");
    kill(busy, SIGKILL);
    kill(idle, SIGKILL);
    waitpid(busy, nullptr, 0);
    waitpid(idle, nullptr, 0);
    close(ready[0]);
    close(ready[1]);
    int seen = 0;
    for (const auto& r : rows) {
        auto owner = r.Get("IDProcess");
        if (owner != Value(busy) && owner != Value(idle)) continue;
        ++seen;
        // Both sleep between the samples.
        EXPECT_LE(std::stoi(Str(r, "PercentProcessorTime")), 50) << Str(r, "Name");
    }
    EXPECT_EQ(seen, 2);
}
