#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <future>

#include "os_test_util.h"
#include "wmi/linux/bounded_call.h"
#include "wmi/linux/file_system.h"

using namespace wmi::lnx;

namespace {

// A scratch tree under /tmp, removed afterwards.
class ScratchTree : public ::testing::Test {
protected:
    void write(const std::string& rel, const std::string& content) { tree_.write(rel, content); }
    void link(const std::string& rel, const std::string& target) { tree_.link(rel, target); }
    lnxtest::TempTree tree_;
    const std::string root_ = tree_.path();
};

}  // namespace

TEST(Paths, NormalizeJoinBaseDir) {
    EXPECT_EQ(NormalizePath("/a/./b//c/../d"), "/a/b/d");
    EXPECT_EQ(NormalizePath("/../.."), "/");
    EXPECT_EQ(JoinPath("/sys/block", "../devices/x"), "/sys/devices/x");
    EXPECT_EQ(JoinPath("/sys/block", "/abs"), "/abs");
    EXPECT_EQ(BaseName("/a/b/c"), "c");
    EXPECT_EQ(DirName("/a/b/c"), "/a/b");
    EXPECT_EQ(DirName("/a"), "/");
    // Already normal paths come back as they are; near misses do not.
    for (const char* p : {"/", "/a", "/a/b.c", "/a/..b", "/a/.b/c...", "/proc/1/fd"}) EXPECT_EQ(NormalizePath(p), p);
    EXPECT_EQ(NormalizePath("/a/"), "/a");
    EXPECT_EQ(NormalizePath("/a/."), "/a");
    EXPECT_EQ(NormalizePath("/a/b/.."), "/a");
    EXPECT_EQ(NormalizePath("a/b"), "/a/b");
}

TEST_F(ScratchTree, ReadsInsideTheRootOnly) {
    write("/proc/x", "hello");
    auto fs = MakeLocalFileSystem(root_);
    EXPECT_EQ(fs->readFile("/proc/x"), "hello");
    EXPECT_EQ(fs->readFile("/proc/x", 3), "hel");
    EXPECT_EQ(fs->readFile("/proc/missing"), std::nullopt);
    EXPECT_EQ(fs->readFile("/../../proc/x"), "hello");  // ".." cannot climb above the root
    EXPECT_FALSE(fs->isLiveRoot());
    EXPECT_EQ(fs->volumeStats("/"), std::nullopt);  // a copied tree has no capacity of its own
}

TEST_F(ScratchTree, ListDirIsSortedAndEmptyWhenMissing) {
    write("/d/b", "");
    write("/d/a", "");
    write("/d/c/x", "");
    auto fs = MakeLocalFileSystem(root_);
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
    auto set = [&](const char* f, std::int64_t when) {
        std::filesystem::last_write_time(root_ + f, std::filesystem::file_time_type::clock::from_sys(
                                                        std::chrono::sys_seconds(std::chrono::seconds(when))));
    };
    set("/d/a.list", 2000);
    set("/d/b.list", 1500);
    set("/d/c.md5sums", 1000);
    set("/d/.list", 500);
    auto fs = MakeLocalFileSystem(root_);
    EXPECT_EQ(fs->oldestModificationTime("/d", ".list"), 1500);
    EXPECT_EQ(fs->FileSystem::oldestModificationTime("/d", ".list"), 1500);
    EXPECT_EQ(fs->oldestModificationTime("/d", ".none"), std::nullopt);
    EXPECT_EQ(fs->oldestModificationTime("/missing", ".list"), std::nullopt);
    EXPECT_EQ(fs->countEntries("/d"), 4u);
    EXPECT_EQ(fs->countEntries("/missing"), 0u);
    EXPECT_EQ(fs->countEntries("/d/a.list"), 0u);
}

TEST_F(ScratchTree, ResolveStopsOnLinkCycles) {
    link("/a", "b");
    link("/b", "a");
    auto fs = MakeLocalFileSystem(root_);
    std::string r = fs->resolve("/a/x");  // must return, whatever it says
    EXPECT_FALSE(r.empty());
}

TEST_F(ScratchTree, UnreadableFileIsNothingNotAnError) {
    write("/secret", "x");
    ::chmod((root_ + "/secret").c_str(), 0);
    auto fs = MakeLocalFileSystem(root_);
    EXPECT_TRUE(lnxtest::AsUnprivileged([&] { return !fs->readFile("/secret") && fs->exists("/secret"); }));
}

TEST(LiveFileSystem, RootIsLiveAndHasCapacity) {
    auto fs = MakeLocalFileSystem("/");
    EXPECT_TRUE(fs->isLiveRoot());
    auto vs = fs->volumeStats("/");
    ASSERT_TRUE(vs);
    EXPECT_GT(vs->totalBlocks, 0u);
    EXPECT_TRUE(fs->readFile("/proc/self/mountinfo").has_value());
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
