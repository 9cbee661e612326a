// The password store against a real Secret Service: a private D-Bus session
// bus and gnome-keyring-daemon, both with their files in a temporary directory.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include "qt/qt_stores.h"
#include "support/sshd_harness.h"

namespace fs = std::filesystem;
using kestrane::testing::Subprocess;

TEST(Keyring, RealSecretServiceKeepsThePasswordOutOfPlainFiles) {
    const fs::path dir = fs::temp_directory_path() / ("kestrane-keyring-" + std::to_string(getpid()));
    fs::create_directories(dir / "home");
    fs::permissions(dir, fs::perms::owner_all);
    struct Cleanup {
        fs::path dir;
        ~Cleanup() { fs::remove_all(dir); }
    } cleanup{dir};
    std::ofstream(dir / "bus.conf")
        << "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
           " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
           "<busconfig><type>session</type><listen>unix:path="
        << (dir / "bus").string()
        << "</listen><auth>EXTERNAL</auth><policy context=\"default\">"
           "<allow send_destination=\"*\" eavesdrop=\"true\"/><allow eavesdrop=\"true\"/><allow own=\"*\"/></policy>"
           "</busconfig>\n";

    std::string whyNot;
    auto bus = Subprocess::Spawn({"dbus-daemon", "--config-file=" + (dir / "bus.conf").string(), "--nofork"}, &whyNot);
    if (!bus) GTEST_SKIP() << "no dbus-daemon: " << whyNot;
    for (int i = 0; i < 100 && !fs::exists(dir / "bus"); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    // Read by the keyring daemon and, on its first use, by this process's bus connection.
    setenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + (dir / "bus").string()).c_str(), 1);
    setenv("HOME", (dir / "home").c_str(), 1);
    setenv("XDG_DATA_HOME", (dir / "home").c_str(), 1);
    setenv("XDG_RUNTIME_DIR", dir.c_str(), 1);
    auto daemon = Subprocess::Spawn(
        {"gnome-keyring-daemon", "--unlock", "--components=secrets", "--foreground"}, &whyNot, "throwaway");
    if (!daemon) GTEST_SKIP() << "no gnome-keyring-daemon: " << whyNot;

    const std::string secret = "kestrane-secret-7Qx";
    kestrane::qt::KeychainSecretStore keyring("kestrane-test");
    bool written = false;
    for (int i = 0; i < 50 && !(written = keyring.write("Login/Password", secret)); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ASSERT_TRUE(written) << daemon->output();
    EXPECT_EQ(keyring.read("Login/Password"), std::optional<std::string>(secret));
    for (const auto& f : fs::recursive_directory_iterator(dir / "home")) {
        if (!f.is_regular_file()) continue;
        std::ifstream in(f.path(), std::ios::binary);
        const std::string text{std::istreambuf_iterator<char>(in), {}};
        EXPECT_EQ(text.find(secret), std::string::npos) << f.path();
    }
    // Removed, the keyring still answers: known missing, not unknown.
    EXPECT_TRUE(keyring.remove("Login/Password"));
    EXPECT_EQ(keyring.read("Login/Password"), std::optional<std::string>(""));
}
