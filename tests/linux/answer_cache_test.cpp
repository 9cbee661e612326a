// Answers kept between runs: found again whenever their stamp changed or the
// file is not exactly what was stored.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "os_test_util.h"
#include "wmi/linux/answer_cache.h"
#include "wmi/linux/file_system.h"

namespace {

using wmi::lnx::CachedAnswer;
using wmi::lnx::StoreAnswer;

// Points XDG_CACHE_HOME at a fresh directory for the test's lifetime.
class CacheHome {
public:
    CacheHome() {
        wmi::lnx::KeepAnswersBetweenRuns(true);
        const char* old = std::getenv("XDG_CACHE_HOME");
        if (old) old_ = old;
        ::setenv("XDG_CACHE_HOME", (tree_.path() + "/cache").c_str(), 1);
    }
    ~CacheHome() {
        wmi::lnx::KeepAnswersBetweenRuns(false);
        if (old_) ::setenv("XDG_CACHE_HOME", old_->c_str(), 1);
        else ::unsetenv("XDG_CACHE_HOME");
    }
    std::string file(const std::string& name) const { return tree_.path() + "/cache/kestrane/" + name; }
    const lnxtest::TempTree& tree() const { return tree_; }

private:
    lnxtest::TempTree tree_;
    std::optional<std::string> old_;
};

TEST(AnswerCache, KeptPerStampAndIgnoredWhenDamaged) {
    CacheHome home;
    EXPECT_FALSE(CachedAnswer("dpkg-oldest-list", "1:2:3"));
    StoreAnswer("dpkg-oldest-list", "1:2:3", "1733468400");
    EXPECT_EQ(CachedAnswer("dpkg-oldest-list", "1:2:3"), "1733468400");
    EXPECT_FALSE(CachedAnswer("dpkg-oldest-list", "1:2:4"));   // the directory changed
    EXPECT_FALSE(CachedAnswer("dpkg-oldest-list", "1:2:"));    // a stamp's prefix is not the stamp
    EXPECT_EQ(std::filesystem::status(home.file("")).permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_all);
    StoreAnswer("dpkg-oldest-list", "1:2:4", "none");
    EXPECT_EQ(CachedAnswer("dpkg-oldest-list", "1:2:4"), "none");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(home.file("")), {}), 1);  // no temporary left

    for (const char* damaged : {"kestrane answer 1\n1:2:4\nnone", "kestrane answer 1\n1:2:4\nno\nne\n",
                                "kestrane answer 2\n1:2:4\nnone\n", ""}) {
        std::ofstream(home.file("dpkg-oldest-list"), std::ios::trunc) << damaged;
        EXPECT_FALSE(CachedAnswer("dpkg-oldest-list", "1:2:4")) << damaged;
    }
    std::ofstream(home.file("dpkg-oldest-list"), std::ios::trunc) << std::string(10000, 'x');
    EXPECT_FALSE(CachedAnswer("dpkg-oldest-list", "1:2:4"));

    // Names stay inside the cache directory; lines cannot be smuggled in.
    StoreAnswer("../escape", "s", "a");
    EXPECT_FALSE(std::filesystem::exists(home.tree().path() + "/cache/escape"));
    StoreAnswer("x", "s", "a\nkestrane answer 1");
    EXPECT_FALSE(CachedAnswer("x", "s"));
}

TEST(AnswerCache, NothingIsKeptUnlessTheProgramAsksForIt) {
    CacheHome home;
    wmi::lnx::KeepAnswersBetweenRuns(false);  // as in the window
    StoreAnswer("x", "s", "1");
    EXPECT_FALSE(std::filesystem::exists(home.file("")));
    EXPECT_FALSE(CachedAnswer("x", "s"));
}

TEST(AnswerCache, ALinkIsNotFollowedAndAnUnwritableDirectoryOnlyCostsTheCache) {
    CacheHome home;
    home.tree().write("/elsewhere", "kestrane answer 1\ns\n42\n");
    std::filesystem::create_directories(home.file(""));
    std::filesystem::create_symlink(home.tree().path() + "/elsewhere", home.file("linked"));
    EXPECT_FALSE(CachedAnswer("linked", "s"));
    ::chmod(home.file("").c_str(), 0500);
    EXPECT_TRUE(lnxtest::AsUnprivileged([] {
        StoreAnswer("new", "s", "1");
        return !CachedAnswer("new", "s");
    }));
    ::chmod(home.file("").c_str(), 0700);
}

std::string InstallDateLine() {
    std::string out;
    if (FILE* p = ::popen(KESTRANE_CLI " list Win32_OperatingSystem 2>/dev/null", "r")) {
        char buf[4096];
        while (std::fgets(buf, sizeof buf, p))
            if (std::string line = buf; line.find("Install Date") != std::string::npos) out = line;
        ::pclose(p);
    }
    return out;
}

// The install date of this computer comes from the kept answer while dpkg's
// directory is unchanged, and from the lists once it changed.
TEST(AnswerCache, ThisComputersInstallDateUsesTheKeptAnswerWhileTheListsAreUnchanged) {
    auto fs = wmi::lnx::MakeLocalFileSystem("/");
    auto stamp = fs->directoryStamp("/var/lib/dpkg/info");
    if (!stamp || fs->exists("/var/log/installer") || fs->exists("/var/log/anaconda") ||
        fs->exists("/var/log/pacman.log"))
        GTEST_SKIP() << "the install date does not come from dpkg's lists here";
    CacheHome home;
    const std::string scanned = InstallDateLine();
    ASSERT_NE(scanned.find("Install Date"), std::string::npos);
    EXPECT_TRUE(CachedAnswer("dpkg-oldest-list", *stamp));  // the run kept its answer
    EXPECT_EQ(InstallDateLine(), scanned);

    StoreAnswer("dpkg-oldest-list", *stamp, "315576000");  // 1980-01-01 12:00 UTC
    EXPECT_NE(InstallDateLine().find("1980"), std::string::npos);
    StoreAnswer("dpkg-oldest-list", *stamp + "0", "315576000");  // a stamp from before a change
    EXPECT_EQ(InstallDateLine(), scanned);
}

}  // namespace
