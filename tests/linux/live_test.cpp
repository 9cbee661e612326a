// The provider on this computer's own root.
#include <gtest/gtest.h>

#include <unistd.h>

#include "linux_test_util.h"
#include "wmi/services.h"

using lnxtest::Collect;

TEST(Live, SummaryClassesAnswerThroughTheScriptingInterface) {
    wmi::Services svc(wmi::MakeLinuxProvider());
    for (const char* cls : {"Win32_ComputerSystem", "Win32_Processor", "Win32_OperatingSystem", "Win32_BIOS",
                            "Win32_DiskDrive", "Win32_LogicalDisk", "Win32_DisplayConfiguration"}) {
        auto set = svc.ExecQuery(std::string("Select * from ") + cls);
        EXPECT_NO_THROW({
            for (const auto& o : set) (void)o;
        }) << cls;
    }
}

TEST(Live, RootFileSystemHasCapacityAndClockFacts) {
    auto p = wmi::MakeLinuxProvider("/");
    auto disks = Collect(p, "Win32_LogicalDisk");
    const auto* root = lnxtest::FindBy(disks, "DeviceID", "/");
    ASSERT_NE(root, nullptr);
    ASSERT_TRUE(root->Get("Size").isString());
    EXPECT_GT(std::stoull(root->Get("Size").asString()), 0u);
    EXPECT_LE(std::stoull(root->Get("FreeSpace").asString()), std::stoull(root->Get("Size").asString()));
    auto os = Collect(p, "Win32_OperatingSystem");
    ASSERT_EQ(os.size(), 1u);
    EXPECT_TRUE(os[0].Get("LocalDateTime").isString());
    EXPECT_TRUE(os[0].Get("LastBootUpTime").isString());
    EXPECT_LE(os[0].Get("LastBootUpTime").asString().substr(0, 14), os[0].Get("LocalDateTime").asString().substr(0, 14));
}
