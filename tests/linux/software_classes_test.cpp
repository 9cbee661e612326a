// Installed packages from dpkg's status database.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <fstream>
#include <set>
#include <sstream>

#include "os_test_util.h"
#include "wmi/linux/os_parsers.h"

using lnxtest::TempTree;
using wmi::Value;

TEST(DpkgParser, FieldsContinuationsAndMalformedStanzas) {
    auto pkgs = wmi::lnx::ParseDpkgStatus(
        "Package: a\nStatus: install ok installed\nDescription: first\n second line\n .\n third\nVersion: 1\n\n"
        "Package: b\nbroken\nVersion: 2\n\n"
        " leading continuation\nPackage: c\n\n"
        "Version: 4\n\n"  // no Package field
        "Package: d\r\nInstalled-Size: 12\r\nStatus: deinstall ok config-files\r\n");
    ASSERT_EQ(pkgs.size(), 2u);
    EXPECT_EQ(pkgs[0].package, "a");
    EXPECT_EQ(pkgs[0].summary(), "first");
    EXPECT_EQ(pkgs[0].description, "first\nsecond line\n.\nthird");
    EXPECT_EQ(pkgs[0].version, "1");
    EXPECT_TRUE(wmi::lnx::DpkgIsInstalled(pkgs[0]));
    EXPECT_EQ(pkgs[1].package, "d");
    EXPECT_EQ(pkgs[1].installedSizeKB, 12u);
    EXPECT_FALSE(wmi::lnx::DpkgIsInstalled(pkgs[1]));
    EXPECT_TRUE(wmi::lnx::ParseDpkgStatus("").empty());
}

// One meaning of installed everywhere: the package's files are on disk,
// whatever is wanted of it.
TEST(DpkgParser, InstalledIsTheStateNotTheWish) {
    const std::pair<const char*, bool> cases[] = {
        {"install ok installed", true},         {"hold ok installed", true},
        {"deinstall ok installed", true},       {"install ok half-configured", true},
        {"install reinstreq half-installed", true}, {"hold ok triggers-pending", true},
        {"install ok unpacked", true},          {"deinstall ok config-files", false},
        {"purge ok not-installed", false},      {"install ok", false},
        {"", false},
    };
    for (const auto& [status, installed] : cases) {
        wmi::lnx::DpkgPackage p;
        p.status = status;
        EXPECT_EQ(wmi::lnx::DpkgIsInstalled(p), installed) << status;
    }
}

TEST(Product, InstallDateFromTheFileList) {
    TempTree t;
    t.write("/var/lib/dpkg/status", "Package: x\nStatus: install ok installed\nArchitecture: arm64\nVersion: 1\n");
    t.write("/var/lib/dpkg/info/x:arm64.list", "/usr/bin/x\n");
    struct timespec times[2] = {{1730541600, 0}, {1730541600, 0}};  // 2024-11-02 10:00 UTC
    ASSERT_EQ(utimensat(AT_FDCWD, t.path("/var/lib/dpkg/info/x:arm64.list").c_str(), times, 0), 0);
    auto p = t.collect("Win32_Product");
    ASSERT_EQ(p.size(), 1u);
    EXPECT_EQ(p[0].Get("InstallDate"), Value("20241102"));
    EXPECT_EQ(p[0].Get("InstallDate2"), Value("20241102100000.000000+000"));
    TempTree none;
    EXPECT_TRUE(none.collect("Win32_Product").empty());
}

TEST(ProductLive, CountMatchesTheStatusFile) {
    std::ifstream in("/var/lib/dpkg/status");
    if (!in) GTEST_SKIP() << "no dpkg database here";
    std::stringstream s;
    s << in.rdbuf();
    std::string text = "\n" + s.str();
    // Installed stanzas counted independently of the parser: by their Status line.
    std::size_t installed = 0;
    for (std::size_t p = 0; (p = text.find("\nStatus: ", p)) != std::string::npos; ++p) {
        std::size_t e = text.find('\n', p + 1);
        std::string status = text.substr(p + 9, e - p - 9);
        // Files on disk, whatever is wanted of the package (held, to be removed).
        auto last = status.substr(status.rfind(' ') + 1);
        if (last == "installed" || last == "half-configured" || last == "unpacked" || last == "half-installed" ||
            last == "triggers-awaited" || last == "triggers-pending")
            ++installed;
    }
    auto products = lnxtest::Collect(wmi::MakeLinuxProvider("/"), "Win32_Product");
    EXPECT_EQ(products.size(), installed);
    EXPECT_GT(products.size(), 10u);
}
