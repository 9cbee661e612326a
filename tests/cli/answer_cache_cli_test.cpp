// kestrane-cli, started anew for every command, keeps the slow local answers
// between runs (the window keeps none: tests/linux/answer_cache_test.cpp).
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace fs = std::filesystem;

TEST(CliAnswerCache, TheProgramKeepsTheInstallDateScanBetweenRuns) {
    // The package lists are scanned only where no installer left its log.
    for (const char* log : {"/var/log/installer", "/var/log/anaconda", "/var/log/pacman.log"})
        if (fs::exists(log)) GTEST_SKIP() << log << " answers the install date";
    if (!fs::is_directory("/var/lib/dpkg/info")) GTEST_SKIP() << "no dpkg package lists";

    const fs::path home = fs::temp_directory_path() / ("kestrane-cli-cache-" + std::to_string(::getpid()));
    fs::create_directories(home);
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        ::setenv("XDG_CACHE_HOME", home.c_str(), 1);
        if (!std::freopen("/dev/null", "w", stdout)) ::_exit(126);
        ::execl(KESTRANE_CLI, KESTRANE_CLI, "list", "Win32_OperatingSystem", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    const bool kept = fs::exists(home / "kestrane" / "dpkg-oldest-list");
    fs::remove_all(home);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_TRUE(kept);
}
