// File access: paths, the file-system layer over a tree, calls that may
// block, and answers kept between runs, found again whenever their stamp
// changed or the file is not exactly what was stored.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <thread>

#include "linux_test_util.h"
#include "wmi/linux/answer_cache.h"
#include "wmi/linux/bounded_call.h"
#include "wmi/linux/file_system.h"
#include "wmi/linux/provider_core.h"

using namespace wmi::lnx;

namespace {

// A scratch tree under /tmp, removed afterwards.
class ScratchTree : public ::testing::Test, public lnxtest::TempTree {
protected:
    const std::string root_ = path();
};

}  // namespace

TEST(Paths, NormalizeJoinBaseDir) {
    const std::pair<const char*, const char*> normal[] = {
        {"/a/./b//c/../d", "/a/b/d"}, {"/../..", "/"}, {"/a/", "/a"}, {"/a/.", "/a"}, {"/a/b/..", "/a"}, {"a/b", "/a/b"},
        // already normal, however near a dot or two they come
        {"/", "/"}, {"/a/b.c", "/a/b.c"}, {"/a/..b", "/a/..b"}, {"/a/.b/c...", "/a/.b/c..."}, {"/proc/1/fd", "/proc/1/fd"}};
    for (const auto& [in, out] : normal) EXPECT_EQ(NormalizePath(in), out) << in;
    EXPECT_EQ(JoinPath("/sys/block", "../devices/x"), "/sys/devices/x");
    EXPECT_EQ(JoinPath("/sys/block", "/abs"), "/abs");
    EXPECT_EQ(BaseName("/a/b/c"), "c");
    EXPECT_EQ(DirName("/a/b/c"), "/a/b");
    EXPECT_EQ(DirName("/a"), "/");
}

TEST_F(ScratchTree, ReadsAndListsInsideTheRootOnly) {
    write("/proc/x", "hello");
    auto fs = MakeLocalFileSystem(root_);
    EXPECT_EQ(fs->readFile("/proc/x"), "hello");
    EXPECT_EQ(fs->readFile("/proc/x", 3), "hel");
    EXPECT_EQ(fs->readFile("/proc/missing"), std::nullopt);
    EXPECT_EQ(fs->readFile("/../../proc/x"), "hello");  // ".." cannot climb above the root
    EXPECT_FALSE(fs->isLiveRoot());
    EXPECT_EQ(fs->volumeStats("/", "ext4"), std::nullopt);  // a copied tree has no capacity of its own
    write("/d/b", "");
    write("/d/a", "");
    write("/d/c/x", "");
    EXPECT_EQ(fs->listDir("/d"), (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_TRUE(fs->listDir("/nope").empty());
    EXPECT_TRUE(fs->isDirectory("/d/c"));
    EXPECT_FALSE(fs->isDirectory("/d/a"));
}

TEST_F(ScratchTree, ResolveFollowsRelativeAndAbsoluteLinksWithinTheTree) {
    write("/sys/devices/pci/blk/size", "8");
    link("/sys/block/sda", "../devices/pci/blk");
    link("/dev/disk/by-uuid/U", "../../sda1");  // dangling: the device node is not copied
    link("/etc/os-release", "/usr/lib/os-release");
    write("/usr/lib/os-release", "ID=x");
    auto fs = MakeLocalFileSystem(root_);
    EXPECT_EQ(fs->resolve("/sys/block/sda"), "/sys/devices/pci/blk");
    EXPECT_EQ(fs->resolve("/sys/block/sda/size"), "/sys/devices/pci/blk/size");
    EXPECT_EQ(fs->resolve("/dev/disk/by-uuid/U"), "/dev/sda1");
    EXPECT_EQ(fs->resolve("/etc/os-release"), "/usr/lib/os-release");
    EXPECT_EQ(fs->resolve("/not/there"), "/not/there");
    EXPECT_EQ(fs->readLink("/sys/block/sda"), "../devices/pci/blk");
    EXPECT_EQ(fs->readLink("/usr/lib/os-release"), std::nullopt);
}

TEST_F(ScratchTree, ResolveOnTheLiveRootAgreesWithTheWalk) {
    write("/sys/devices/pci/blk/size", "8");
    link("/sys/block/sda", "../devices/pci/blk");
    link("/sys/class/x", "../block/sda");
    link("/dangling", "gone/further");
    link("/abs", root_ + "/sys/class");
    link("/a", "b");
    link("/b", "a");
    auto live = MakeLocalFileSystem("/");
    // The kernel's answer (fast path) against the walk that fixture trees use.
    for (const std::string rel : {"/sys/block/sda", "/sys/class/x/size", "/sys/class/x/missing", "/dangling",
                                  "/dangling/x", "/abs/x", "/a/x", "/sys/./block/../block/sda", "/not/there"}) {
        const std::string p = root_ + rel;
        EXPECT_EQ(live->resolve(p), live->FileSystem::resolve(p)) << rel;
    }
    EXPECT_EQ(live->resolve("/proc/self"), live->FileSystem::resolve("/proc/self"));
}

TEST_F(ScratchTree, OldestModificationTimeAndEntryCount) {
    write("/d/a.list", "");
    write("/d/b.list", "");
    write("/d/c.md5sums", "");
    write("/d/.list", "");  // no name before the suffix
    touch("/d/a.list", 2000);
    touch("/d/b.list", 1500);
    touch("/d/c.md5sums", 1000);
    touch("/d/.list", 500);
    auto fs = MakeLocalFileSystem(root_);
    EXPECT_EQ(fs->oldestModificationTime("/d", ".list"), 1500);
    EXPECT_EQ(fs->FileSystem::oldestModificationTime("/d", ".list"), 1500);
    EXPECT_EQ(fs->oldestModificationTime("/d", ".none"), std::nullopt);
    EXPECT_EQ(fs->oldestModificationTime("/missing", ".list"), std::nullopt);
    EXPECT_EQ(fs->countEntries("/d"), 4u);
    EXPECT_EQ(fs->countEntries("/missing"), 0u);
    EXPECT_EQ(fs->countEntries("/d/a.list"), 0u);
}

TEST_F(ScratchTree, UnreadableFileIsNothingNotAnError) {
    write("/secret", "x");
    ::chmod((root_ + "/secret").c_str(), 0);
    auto fs = MakeLocalFileSystem(root_);
    EXPECT_TRUE(lnxtest::AsUnprivileged([&] { return !fs->readFile("/secret") && fs->exists("/secret"); }));
}

// Several classes of one summary read the host name: once, and afresh a
// moment later.
TEST_F(ScratchTree, AFileReadByManyClassesIsReadOnceAMomentAndAfreshAfter) {
    const std::string name = "/proc/sys/kernel/hostname";
    write(name, "orion.example\n");
    int reads = 0;
    lnxtest::FilteredFileSystem fs(root_, [&](const std::string&, std::string c) { return ++reads, std::optional(c); });
    SharedCache cache;
    EXPECT_EQ(cache.recent(fs, name, 1 << 20), "orion.example\n");
    write(name, "vega\n");
    EXPECT_EQ(cache.recent(fs, name, 5), "orion");
    EXPECT_EQ(reads, 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    EXPECT_EQ(cache.recent(fs, name, 1 << 20), "vega\n");
}

TEST(BoundedCall, AnAnswerInTimeIsKeptAndABlockedCallIsGivenUp) {
    EXPECT_EQ(CallWithin<int>([] { return std::optional<int>(7); }, std::chrono::seconds(5)), 7);
    EXPECT_EQ(CallWithin<int>([] { return std::optional<int>(); }, std::chrono::seconds(5)), std::nullopt);
    // A call stuck like statvfs on a dead server: the caller goes on.
    auto release = std::make_shared<std::promise<void>>();
    auto start = std::chrono::steady_clock::now();
    auto r = CallWithin<int>([gate = release->get_future().share()] {
        gate.wait();
        return std::optional<int>(1);
    }, std::chrono::milliseconds(50));
    EXPECT_EQ(r, std::nullopt);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    release->set_value();  // lets the abandoned thread finish
}

TEST(RelativeRoot, IsTakenFromTheWorkingDirectory) {
    char cwd[4096];
    ASSERT_NE(::getcwd(cwd, sizeof cwd), nullptr);
    ASSERT_EQ(::chdir(KESTRANE_FIXTURES), 0);
    auto fs = MakeLocalFileSystem("laptop");
    std::string before = cwd;
    EXPECT_EQ(fs->readFile("/etc/hostname"), "t480s\n");
    ASSERT_EQ(::chdir(before.c_str()), 0);
}

namespace {

using wmi::lnx::CachedAnswer;
using wmi::lnx::StoreAnswer;

// Points XDG_CACHE_HOME at a fresh directory for the test's lifetime.
class CacheHome : public lnxtest::TempTree {
public:
    CacheHome() {
        wmi::lnx::KeepAnswersBetweenRuns(true);
        const char* old = std::getenv("XDG_CACHE_HOME");
        if (old) old_ = old;
        ::setenv("XDG_CACHE_HOME", path("cache").c_str(), 1);
    }
    ~CacheHome() {
        wmi::lnx::KeepAnswersBetweenRuns(false);
        if (old_) ::setenv("XDG_CACHE_HOME", old_->c_str(), 1);
        else ::unsetenv("XDG_CACHE_HOME");
    }
    std::string file(const std::string& name) const { return path("cache/kestrane/" + name); }

private:
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
    EXPECT_FALSE(std::filesystem::exists(home.path("cache/escape")));
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
    home.write("/elsewhere", "kestrane answer 1\ns\n42\n");
    std::filesystem::create_directories(home.file(""));
    std::filesystem::create_symlink(home.path("elsewhere"), home.file("linked"));
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
