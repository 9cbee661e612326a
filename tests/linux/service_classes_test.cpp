// Services from unit files and init scripts; drivers from kernel modules.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "os_test_util.h"

using lnxtest::FindBy;
using lnxtest::TempTree;
using wmi::Value;

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
