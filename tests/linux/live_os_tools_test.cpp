// Operating-system classes on this computer against independent tools, where
// installed. Only the test runs them; the provider reads files.
#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <sstream>

#include "linux_test_util.h"

using lnxtest::Collect;

namespace {

std::optional<std::string> Output(const std::string& cmd) {
    FILE* f = ::popen((cmd + " 2>/dev/null").c_str(), "r");
    if (!f) return std::nullopt;
    std::string out;
    char buf[4096];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) out.append(buf, n);
    if (::pclose(f) != 0 || out.empty()) return std::nullopt;
    return out;
}

std::set<std::string> Lines(const std::string& s) {
    std::set<std::string> out;
    std::istringstream in(s);
    for (std::string l; std::getline(in, l);) {
        while (!l.empty() && l.front() == ' ') l.erase(l.begin());
        if (!l.empty()) out.insert(l);
    }
    return out;
}

}  // namespace

TEST(LiveOsTools, ProcessesThatOutliveTheListingMatchPs) {
    auto before = Output("ps -e -o pid=");
    if (!before) GTEST_SKIP() << "ps not installed";
    auto procs = Collect(wmi::MakeLinuxProvider("/"), "Win32_Process");
    auto after = Output("ps -e -o pid=");
    ASSERT_TRUE(after);
    std::set<std::string> listed;
    for (const auto& p : procs) listed.insert(std::to_string(p.Get("ProcessId").asInt()));
    // Every process ps saw both before and after the listing was listed.
    auto a = Lines(*before), b = Lines(*after);
    for (const auto& pid : a) {
        if (b.count(pid)) {
            EXPECT_TRUE(listed.count(pid)) << pid;
        }
    }
}

TEST(LiveOsTools, InstalledPackagesMatchDpkgQuery) {
    auto out = Output("dpkg-query -W -f='${db:Status-Abbrev}${Package}:${Architecture}\\n'");
    if (!out) GTEST_SKIP() << "dpkg-query not installed";
    // Installed means files on disk, whatever is wanted of the package (held,
    // to be removed): dpkg's second status letter is one of the states
    // installed, half-installed, unpacked, half-configured, triggers-awaited
    // or triggers-pending; not-installed (n) and config-files (c) are not.
    std::size_t installed = 0;
    std::istringstream in(*out);
    for (std::string l; std::getline(in, l);)
        if (l.size() > 1 && std::string_view("iHUFWt").find(l[1]) != std::string_view::npos) ++installed;
    auto products = Collect(wmi::MakeLinuxProvider("/"), "Win32_Product");
    EXPECT_EQ(products.size(), installed);
}

TEST(LiveOsTools, TimeZoneBiasMatchesDate) {
    auto out = Output("date +%z");
    if (!out) GTEST_SKIP() << "date not installed";
    int sign = (*out)[0] == '-' ? -1 : 1;
    int hhmm = std::stoi(out->substr(1, 4));
    int offset = sign * ((hhmm / 100) * 60 + hhmm % 100);
    auto os = Collect(wmi::MakeLinuxProvider("/"), "Win32_OperatingSystem");
    ASSERT_EQ(os.size(), 1u);
    EXPECT_EQ(os[0].Get("CurrentTimeZone"), wmi::Value(offset));
    auto tz = Collect(wmi::MakeLinuxProvider("/"), "Win32_TimeZone");
    ASSERT_EQ(tz.size(), 1u);
    // WMI's bias is the minutes to add to local time to get UTC; in summer
    // the daylight bias is added to it.
    int bias = static_cast<int>(tz[0].Get("Bias").asInt());
    const wmi::Value& daylight = tz[0].Get("DaylightBias");
    int summer = bias + (daylight.isInt() ? static_cast<int>(daylight.asInt()) : 0);
    EXPECT_TRUE(bias == -offset || summer == -offset) << "bias " << bias << " offset " << offset;
}
