#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "support/sshd_harness.h"
#include "wmi/ssh/ssh_client.h"

namespace fs = std::filesystem;
namespace ssh = wmi::ssh;

TEST(SshNames, UrlsBareNamesAndWhatIsNoName) {
    struct Case {
        const char* name;
        const char* user;
        const char* host;
        int port;
    };
    for (const Case& c : std::vector<Case>{{"ssh://admin@web01.example.org:2222", "admin", "web01.example.org", 2222},
                                           {"SSH://web01", "", "web01", 22},
                                           {"ssh://ops@[2001:db8::1]:22022/", "ops", "2001:db8::1", 22022},
                                           {"ssh://[fe80::1]", "", "fe80::1", 22},
                                           {"db-2", "", "db-2", 22},
                                           {"192.0.2.7", "", "192.0.2.7", 22},
                                           {"2001:db8::5", "", "2001:db8::5", 22}}) {
        auto t = ssh::ParseTarget(c.name);
        ASSERT_TRUE(t) << c.name;
        EXPECT_EQ(t->user, c.user) << c.name;
        EXPECT_EQ(t->host, c.host) << c.name;
        EXPECT_EQ(t->port, c.port) << c.name;
    }
    for (const std::string& bad : std::vector<std::string>{"", "ssh://", "ssh://host:0", "ssh://host:65536", "ssh://host:22x", "host:22",
                            "ssh://[::1", "ssh://[::1]x", "ssh://@host", "ssh://a b@host", "two words",
                            "-oProxyCommand=x", "ssh://;reboot", "ssh://[zz::1]", ".json", "a..b", std::string(64, 'a') + ".example"}) {
        std::string why;
        EXPECT_FALSE(ssh::ParseTarget(bad, &why)) << bad;
        EXPECT_FALSE(why.empty()) << bad;
    }
}

TEST(SshNames, KnownHostsLinesPlainWildAndHashed) {
    fs::path dir = fs::temp_directory_path() / ("kestrane-kh-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const std::string file = (dir / "known_hosts").string();
    std::ofstream(file) << "# comment\n"
                           "other.example ssh-ed25519 AAAA\n"
                           "[10.0.0.9]:2222 ssh-rsa AAAA\n"
                           "*.lab.example,!bad.lab.example ssh-ed25519 AAAA\n"
                           "Web01 ssh-ed25519 AAAA\n";
    EXPECT_EQ(ssh::KnownHostsLine(file, "10.0.0.9", 2222), 3);
    EXPECT_EQ(ssh::KnownHostsLine(file, "10.0.0.9", 22), 0);
    EXPECT_EQ(ssh::KnownHostsLine(file, "10.0.0.9", 2222, "ssh-ed25519"), 0);
    EXPECT_EQ(ssh::KnownHostsLine(file, "db.lab.example", 22), 4);
    EXPECT_EQ(ssh::KnownHostsLine(file, "bad.lab.example", 22), 0);
    EXPECT_EQ(ssh::KnownHostsLine(file, "web01", 22), 5);
    // OpenSSH's own hashing of the same file.
    auto r = kestrane::testing::RunProcess({"ssh-keygen", "-H", "-f", file});
    if (r.exitCode == 0) {
        EXPECT_EQ(ssh::KnownHostsLine(file, "10.0.0.9", 2222), 3);
        EXPECT_EQ(ssh::KnownHostsLine(file, "web01", 22), 5);
        EXPECT_EQ(ssh::KnownHostsLine(file, "web02", 22), 0);
    }
    EXPECT_EQ(ssh::KnownHostsLine((dir / "absent").string(), "web01", 22), 0);
    fs::remove_all(dir);
}
