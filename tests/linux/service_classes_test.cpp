// Services from unit files and init scripts; drivers from kernel modules.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "os_test_util.h"

using lnxtest::CollectIn;
using lnxtest::FindBy;
using lnxtest::TempTree;
using wmi::Value;

TEST(Service, UnitsScriptsEnablementAndRuntimeState) {
    auto svcs = CollectIn("server", "Win32_Service");
    std::set<std::string> names;
    for (const auto& s : svcs) names.insert(s.Get("Name").asString());
    // The template, the alias and the README are no services; the script
    // "ssh" is replaced by the unit of the same name.
    EXPECT_EQ(names, (std::set<std::string>{"cron", "legacyd", "ssh", "systemd-journald", "web"}));

    const auto* ssh = FindBy(svcs, "Name", "ssh");
    EXPECT_EQ(ssh->Get("DisplayName"), Value("OpenBSD Secure Shell server"));
    EXPECT_EQ(ssh->Get("PathName"), Value("/usr/sbin/sshd -D $SSHD_OPTS"));
    EXPECT_EQ(ssh->Get("StartMode"), Value("Auto"));
    EXPECT_EQ(ssh->Get("StartName"), Value("root"));
    EXPECT_EQ(ssh->Get("State"), Value("Running"));
    EXPECT_EQ(ssh->Get("Started"), Value(true));
    EXPECT_EQ(ssh->Get("ProcessId"), Value(812));  // the one process of its group whose parent is outside
    EXPECT_EQ(ssh->Get("AcceptStop"), Value(true));
    EXPECT_EQ(ssh->Get("SystemName"), Value("srv01"));

    const auto* cron = FindBy(svcs, "Name", "cron");
    EXPECT_EQ(cron->Get("PathName"), Value("/usr/sbin/cron -f $EXTRA_OPTS"));  // continued line joined
    EXPECT_EQ(cron->Get("StartMode"), Value("Manual"));  // wanted by nothing enabled
    EXPECT_EQ(cron->Get("State"), Value("Stopped"));
    EXPECT_TRUE(cron->Get("ProcessId").isNull());

    EXPECT_EQ(FindBy(svcs, "Name", "systemd-journald")->Get("PathName"), Value("/lib/systemd/systemd-journald"));
    EXPECT_EQ(FindBy(svcs, "Name", "web")->Get("StartMode"), Value("Disabled"));  // masked
    const auto* legacy = FindBy(svcs, "Name", "legacyd");
    EXPECT_EQ(legacy->Get("DisplayName"), Value("Legacy daemon kept as a script"));
    EXPECT_EQ(legacy->Get("StartMode"), Value("Auto"));
    EXPECT_EQ(legacy->Get("PathName"), Value("/etc/init.d/legacyd"));
}

TEST(Service, ScriptsWhoseUnitIsAnAliasOrMaskedAreNoServicesOfTheirOwn) {
    TempTree t;
    t.write("/lib/systemd/system/systemd-modules-load.service", "[Unit]\nDescription=Load Kernel Modules\n");
    t.link("/lib/systemd/system/kmod.service", "systemd-modules-load.service");
    t.link("/lib/systemd/system/hwclock.service", "/dev/null");
    for (const char* script : {"kmod", "hwclock.sh", "keepme", "other.sh"})
        t.write(std::string("/etc/init.d/") + script, "#!/bin/sh\n");
    t.link("/etc/rcS.d/S01kmod", "../init.d/kmod");
    t.link("/etc/rcS.d/S02hwclock.sh", "../init.d/hwclock.sh");
    std::set<std::string> names;
    for (const auto& s : t.collect("Win32_Service")) names.insert(s.Get("Name").asString());
    EXPECT_EQ(names, (std::set<std::string>{"systemd-modules-load", "hwclock", "keepme", "other.sh"}));
}

TEST(Service, WithoutRunningSystemdTheStateIsNull) {
    TempTree t;
    t.write("/lib/systemd/system/a.service", "[Unit]\nDescription=A\n[Service]\nExecStart=/bin/a\nDynamicUser=yes\n");
    auto svcs = t.collect("Win32_Service");
    ASSERT_EQ(svcs.size(), 1u);
    for (const char* p : {"State", "Started", "ProcessId", "AcceptStop", "StartName"}) EXPECT_TRUE(svcs[0].Get(p).isNull()) << p;
    TempTree empty;
    EXPECT_TRUE(empty.collect("Win32_Service").empty());
}

TEST(SystemDriver, LoadedModulesWithPathsAndBootLists) {
    auto drv = CollectIn("server", "Win32_SystemDriver");
    ASSERT_EQ(drv.size(), 6u);  // four loaded, two built in (ext4 is listed once, as loaded)
    const auto* ext4 = FindBy(drv, "Name", "ext4");
    EXPECT_EQ(ext4->Get("PathName"), Value("/lib/modules/6.1.0-27-amd64/kernel/fs/ext4/ext4.ko.xz"));
    EXPECT_EQ(ext4->Get("State"), Value("Running"));
    EXPECT_EQ(ext4->Get("AcceptStop"), Value(false));  // in use
    EXPECT_EQ(ext4->Get("StartMode"), Value("Manual"));
    EXPECT_EQ(ext4->Get("ServiceType"), Value("Kernel Driver"));
    const auto* e1000e = FindBy(drv, "Name", "e1000e");
    EXPECT_EQ(e1000e->Get("StartMode"), Value("Auto"));
    EXPECT_EQ(e1000e->Get("AcceptStop"), Value(true));
    EXPECT_EQ(FindBy(drv, "Name", "dummy")->Get("State"), Value("Stop Pending"));
    EXPECT_TRUE(FindBy(drv, "Name", "mbcache")->Get("Description").isNull());
    const auto* mem = FindBy(drv, "Name", "mem");
    ASSERT_NE(mem, nullptr);
    EXPECT_EQ(mem->Get("StartMode"), Value("Boot"));
    EXPECT_EQ(mem->Get("PathName"), Value("/boot/vmlinuz-6.1.0-27-amd64"));
    EXPECT_EQ(mem->Get("AcceptStop"), Value(false));
    EXPECT_NE(FindBy(drv, "Name", "8250"), nullptr);
}

TEST(SystemDriver, BuiltInModulesAndBusDriversWithoutLoadableModules) {
    struct Case {
        const char* label;
        const char* procModules;  // nullptr: a kernel without loadable modules
        std::vector<std::string> names;
    } cases[] = {
        {"no /proc/modules", nullptr, {"8250", "virtio-pci", "serial8250"}},
        {"e1000 loaded", "e1000 163840 0 - Live 0x0000000000000000\n", {"e1000", "8250", "virtio-pci", "serial8250"}},
    };
    for (const auto& c : cases) {
        TempTree t;
        if (c.procModules) t.write("/proc/modules", c.procModules);
        t.mkdir("/sys/module/8250/parameters");     // built in: no initstate
        t.write("/sys/module/e1000/initstate", "live\n");  // loadable
        t.mkdir("/sys/bus/pci/drivers/virtio-pci");
        t.link("/sys/bus/pci/drivers/serial/module", "../../../../module/8250");
        t.link("/sys/bus/pci/drivers/e1000/module", "../../../../module/e1000");
        t.mkdir("/sys/bus/platform/drivers/serial8250");
        t.mkdir("/sys/bus/cpu/drivers");
        std::vector<std::string> names;
        auto drivers = t.collect("Win32_SystemDriver");
        for (const auto& d : drivers) names.push_back(d.Get("Name").asString());
        std::sort(names.begin() + (c.procModules ? 1 : 0), names.end());
        auto want = c.names;
        std::sort(want.begin() + (c.procModules ? 1 : 0), want.end());
        EXPECT_EQ(names, want) << c.label;
        const auto* bus = FindBy(drivers, "Name", "serial8250");
        ASSERT_NE(bus, nullptr) << c.label;
        EXPECT_EQ(bus->Get("StartMode"), Value("Boot"));
        EXPECT_EQ(bus->Get("State"), Value("Running"));
        EXPECT_EQ(bus->Get("Description"), Value("Driver on the platform bus"));
    }
}

TEST(BaseService, ServicesThenDriversInTheirOwnClasses) {
    auto all = CollectIn("server", "Win32_BaseService");
    ASSERT_EQ(all.size(), 5u + 6u);
    EXPECT_EQ(all.front().className(), "Win32_Service");
    EXPECT_EQ(all.back().className(), "Win32_SystemDriver");
}
