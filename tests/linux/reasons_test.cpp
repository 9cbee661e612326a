// Why values are missing: each unreadable or absent source gives its reason
// to the classes that read it, and only to them.
#include <gtest/gtest.h>

#include <set>

#include "os_test_util.h"

using lnxtest::TempTree;

namespace {

std::vector<std::string> Reasons(const TempTree& t, const std::string& cls) {
    return wmi::MakeLinuxProvider(t.path())->reasons(cls);
}

bool Has(const std::vector<std::string>& v, const std::string& text) {
    return std::find(v.begin(), v.end(), text) != v.end();
}

const std::string kNoSmbios = "This computer has no SMBIOS table (virtual machine)";
const std::string kSmbiosRoot = "SMBIOS tables need root: run as root to see serial numbers";
const std::string kNoSystemd = "systemd is not running: service states are unknown";

}  // namespace

TEST(Reasons, AbsentSourcesNameTheirClassesOnly) {
    TempTree bare;
    for (const char* cls : {"Win32_BIOS", "win32_bios", "Win32_PhysicalMemory", "Win32_ComputerSystemProduct"})
        EXPECT_EQ(Reasons(bare, cls), std::vector<std::string>{kNoSmbios}) << cls;
    EXPECT_EQ(Reasons(bare, "Win32_Service"), std::vector<std::string>{kNoSystemd});
    for (const char* cls : {"Win32_Keyboard", "Win32_OperatingSystem", "Win32_NTLogEvent", "Win32_Process",
                            "Win32_UserAccount", "Win32_NoSuchClass", "Win32_Registry"})
        EXPECT_TRUE(Reasons(bare, cls).empty()) << cls;

    TempTree full;
    full.write("/sys/firmware/dmi/tables/DMI", lnxtest::ReadFixtureFile("laptop/sys/firmware/dmi/tables/DMI"));
    full.write("/sys/class/dmi/id/sys_vendor", "LENOVO\n");
    full.mkdir("/run/systemd/system");
    EXPECT_TRUE(Reasons(full, "Win32_BIOS").empty());
    EXPECT_TRUE(Reasons(full, "Win32_Service").empty());
    // the rows do not depend on the reasons: the same with or without asking
    auto before = full.collect("Win32_BIOS");
    (void)Reasons(full, "Win32_BIOS");
    EXPECT_EQ(full.collect("Win32_BIOS").size(), before.size());
}

// A tree whose listed files exist but cannot be read, as for a user
// without root, whoever runs the test.
class ClosedFiles : public wmi::lnx::FileSystem {
public:
    ClosedFiles(std::string root, std::set<std::string> closed)
        : fs_(wmi::lnx::MakeLocalFileSystem(std::move(root))), closed_(std::move(closed)) {}
    std::optional<std::string> readFile(const std::string& p, std::size_t max) const override {
        return closed_.count(p) ? std::nullopt : fs_->readFile(p, max);
    }
    std::vector<std::string> listDir(const std::string& p) const override { return fs_->listDir(p); }
    std::optional<std::string> readLink(const std::string& p) const override {
        return closed_.count(p) ? std::nullopt : fs_->readLink(p);
    }
    bool exists(const std::string& p) const override { return fs_->exists(p); }
    bool isDirectory(const std::string& p) const override { return fs_->isDirectory(p); }
    std::optional<std::int64_t> modificationTime(const std::string& p) const override {
        return fs_->modificationTime(p);
    }
    std::optional<wmi::lnx::VolumeStats> volumeStats(const std::string& p) const override {
        return fs_->volumeStats(p);
    }
    bool isLiveRoot() const override { return false; }

private:
    std::shared_ptr<wmi::lnx::FileSystem> fs_;
    std::set<std::string> closed_;
};

TEST(Reasons, SourcesThisUserCannotReadNeedRoot) {
    TempTree t;
    t.write("/sys/firmware/dmi/tables/DMI", lnxtest::ReadFixtureFile("laptop/sys/firmware/dmi/tables/DMI"));
    t.write("/sys/class/dmi/id/product_serial", "PF0ABCDE\n");
    t.write("/etc/shadow", "root:!:19000:0:99999:7:::\n");
    t.write("/var/log/journal/0123/system.journal", "x");
    t.write("/var/log/journal/0123/user-1000.journal", "x");
    auto closed = [&](std::set<std::string> paths) {
        return wmi::lnx::MakeLinuxProvider(std::make_shared<ClosedFiles>(t.path(), std::move(paths)));
    };
    auto open = closed({});
    for (const char* cls : {"Win32_BIOS", "Win32_UserAccount", "Win32_NTLogEvent"})
        EXPECT_TRUE(open->reasons(cls).empty() || !wmi::lnx::JournalReaderBuiltIn()) << cls;
    // either the table or the serial number file alone is enough to say so
    EXPECT_EQ(closed({"/sys/firmware/dmi/tables/DMI"})->reasons("Win32_BIOS"), std::vector<std::string>{kSmbiosRoot});
    EXPECT_EQ(closed({"/sys/class/dmi/id/product_serial"})->reasons("Win32_ComputerSystemProduct"),
              std::vector<std::string>{kSmbiosRoot});
    auto p = closed({"/sys/firmware/dmi/tables/DMI", "/etc/shadow", "/var/log/journal/0123/system.journal"});
    EXPECT_TRUE(Has(p->reasons("Win32_UserAccount"),
                    "The shadow password file needs root: run as root to see locked accounts and password expiry"));
    EXPECT_TRUE(p->reasons("Win32_Group").empty());
    EXPECT_TRUE(p->reasons("Win32_Keyboard").empty());
    const auto events = p->reasons("Win32_NTLogEvent");
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0], wmi::lnx::JournalReaderBuiltIn()
                             ? "The system journal needs root or the adm or systemd-journal group: its events are left out"
                             : "This build has no journal reader: events come from the text logs only");
}
