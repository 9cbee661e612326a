// The provider on this computer against independent tools, where installed.
// Only the test runs them; the provider reads files.
#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <cstdio>
#include <map>
#include <set>
#include <sstream>

#include "linux_test_util.h"

using lnxtest::Collect;

namespace {

// The standard output of a command, or nothing when it cannot run.
std::optional<std::string> Output(const std::string& cmd) {
    FILE* f = ::popen((cmd + " 2>/dev/null").c_str(), "r");
    if (!f) return std::nullopt;
    std::string out;
    char buf[4096];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) out.append(buf, n);
    int rc = ::pclose(f);
    if (rc != 0 || out.empty()) return std::nullopt;
    return out;
}

std::uint64_t U64(const wmi::Value& v) { return v.isString() ? std::stoull(v.asString()) : 0; }

// One spelling per address, whichever tool wrote it.
std::string CanonicalAddress(const std::string& text) {
    unsigned char bin[16];
    char out[INET6_ADDRSTRLEN];
    int family = text.find(':') == std::string::npos ? AF_INET : AF_INET6;
    if (::inet_pton(family, text.c_str(), bin) != 1) return "bad:" + text;
    return ::inet_ntop(family, bin, out, sizeof out) ? out : "bad:" + text;
}

}  // namespace

TEST(LiveTools, ProcessorsCoresAndPackagesMatchLscpu) {
    auto out = Output("lscpu --parse=CPU,CORE,SOCKET");
    if (!out) GTEST_SKIP() << "lscpu not installed";
    int cpus = 0;
    std::set<std::string> cores, sockets;
    std::istringstream in(*out);
    for (std::string l; std::getline(in, l);) {
        if (l.empty() || l[0] == '#') continue;
        ++cpus;
        cores.insert(l.substr(l.find(',') + 1));
        sockets.insert(l.substr(l.rfind(',') + 1));
    }
    auto p = wmi::MakeLinuxProvider("/");
    auto procs = Collect(p, "Win32_Processor");
    std::int64_t logical = 0, coreCount = 0;
    for (const auto& c : procs) {
        logical += c.Get("NumberOfLogicalProcessors").asInt();
        coreCount += c.Get("NumberOfCores").asInt();
    }
    EXPECT_EQ(logical, cpus);
    EXPECT_EQ(coreCount, static_cast<std::int64_t>(cores.size()));
    EXPECT_EQ(procs.size(), sockets.size());
    auto cs = Collect(p, "Win32_ComputerSystem").at(0);
    EXPECT_EQ(cs.Get("NumberOfLogicalProcessors"), wmi::Value(cpus));
    EXPECT_EQ(cs.Get("NumberOfProcessors"), wmi::Value(static_cast<int>(sockets.size())));
}

TEST(LiveTools, DiskSizesMatchLsblk) {
    auto out = Output("lsblk -b -d -n -o NAME,SIZE,TYPE");
    if (!out) GTEST_SKIP() << "lsblk not installed";
    std::map<std::string, std::uint64_t> disks;
    std::istringstream in(*out);
    for (std::string name, type; in >> name;) {
        std::uint64_t size = 0;
        in >> size >> type;
        if (type == "disk" && name.rfind("zram", 0) != 0) disks["/dev/" + name] = size;
    }
    auto drives = Collect(wmi::MakeLinuxProvider("/"), "Win32_DiskDrive");
    EXPECT_EQ(drives.size(), disks.size());
    for (const auto& d : drives) {
        std::string id = d.Get("DeviceID").asString();
        ASSERT_TRUE(disks.count(id)) << id;
        EXPECT_EQ(U64(d.Get("Size")), disks[id]) << id;
    }
}

TEST(LiveTools, FileSystemSizesMatchDf) {
    auto out = Output("df -B1 --output=target,size,avail /");
    if (!out) GTEST_SKIP() << "df not installed";
    std::istringstream in(*out);
    std::string header;
    std::getline(in, header);
    std::string target;
    std::uint64_t size = 0, avail = 0;
    in >> target >> size >> avail;
    auto disks = Collect(wmi::MakeLinuxProvider("/"), "Win32_LogicalDisk");
    const auto* root = lnxtest::FindBy(disks, "DeviceID", "/");
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(U64(root->Get("Size")), size);
    // Free space moves while other programs write; within 1 %.
    double free = static_cast<double>(U64(root->Get("FreeSpace")));
    EXPECT_NEAR(free, static_cast<double>(avail), static_cast<double>(size) * 0.01);
}

TEST(LiveTools, AddressesMatchIp) {
    auto out = Output("ip -o addr show");
    if (!out) GTEST_SKIP() << "ip not installed";
    // "4: eth0    inet 192.0.2.2/24 brd ..." per address.
    std::map<std::uint64_t, std::set<std::string>> expected;
    std::istringstream lines(*out);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream f(line);
        std::string index, name, family, address;
        f >> index >> name >> family >> address;
        if (family != "inet" && family != "inet6") continue;
        expected[std::stoull(index)].insert(CanonicalAddress(address.substr(0, address.find('/'))));
    }
    std::map<std::uint64_t, std::set<std::string>> got;
    for (const auto& c : Collect(wmi::MakeLinuxProvider("/"), "Win32_NetworkAdapterConfiguration")) {
        const wmi::Value& ips = c.Get("IPAddress");
        if (!ips.isArray()) continue;
        const wmi::Value& index = c.Get("Index");
        std::uint64_t i = index.isString() ? std::stoull(index.asString()) : static_cast<std::uint64_t>(index.asInt());
        for (const auto& ip : ips.asArray()) got[i].insert(CanonicalAddress(ip.asString()));
    }
    EXPECT_EQ(got, expected);
}

TEST(LiveOsTools, ProcessesThatOutliveTheListingMatchPs) {
    auto before = Output("ps -e -o pid=");
    if (!before) GTEST_SKIP() << "ps not installed";
    auto procs = Collect(wmi::MakeLinuxProvider("/"), "Win32_Process");
    auto after = Output("ps -e -o pid=");
    ASSERT_TRUE(after);
    std::set<std::int64_t> listed, seenAfter;
    for (const auto& p : procs) listed.insert(p.Get("ProcessId").asInt());
    std::istringstream a(*before), b(*after);
    for (std::int64_t pid; b >> pid;) seenAfter.insert(pid);
    // Every process ps saw both before and after the listing was listed.
    for (std::int64_t pid; a >> pid;)
        EXPECT_TRUE(!seenAfter.count(pid) || listed.count(pid)) << pid;
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
    EXPECT_LE(os[0].Get("LastBootUpTime").asString().substr(0, 14), os[0].Get("LocalDateTime").asString().substr(0, 14));
    auto tz = Collect(wmi::MakeLinuxProvider("/"), "Win32_TimeZone");
    ASSERT_EQ(tz.size(), 1u);
    // WMI's bias is the minutes to add to local time to get UTC; in summer
    // the daylight bias is added to it.
    int bias = static_cast<int>(tz[0].Get("Bias").asInt());
    const wmi::Value& daylight = tz[0].Get("DaylightBias");
    int summer = bias + (daylight.isInt() ? static_cast<int>(daylight.asInt()) : 0);
    EXPECT_TRUE(bias == -offset || summer == -offset) << "bias " << bias << " offset " << offset;
}
