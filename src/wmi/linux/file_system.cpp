#include "wmi/linux/file_system.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "wmi/linux/bounded_call.h"

namespace wmi::lnx {

namespace {

// True when NormalizePath would return path unchanged: absolute, no empty,
// "." or ".." component and no trailing slash. Most paths are built that way.
bool IsNormal(const std::string& path) {
    if (path.empty() || path[0] != '/') return false;
    if (path.size() == 1) return true;
    if (path.back() == '/') return false;
    for (std::size_t i = 0; i < path.size(); ++i) {
        if (path[i] != '/') continue;
        // path[i + 1] exists: the path does not end in '/'.
        if (path[i + 1] == '/') return false;
        if (path[i + 1] == '.') {
            std::size_t k = i + 2;
            if (k < path.size() && path[k] == '.') ++k;
            if (k == path.size() || path[k] == '/') return false;
        }
    }
    return true;
}

}  // namespace

std::string NormalizePath(const std::string& path) {
    if (IsNormal(path)) return path;
    std::vector<std::string> parts;
    std::size_t i = 0;
    while (i <= path.size()) {
        std::size_t j = path.find('/', i);
        if (j == std::string::npos) j = path.size();
        std::string part = path.substr(i, j - i);
        if (part == "..") {
            if (!parts.empty()) parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(std::move(part));
        }
        i = j + 1;
    }
    std::string out;
    for (const auto& p : parts) out += "/" + p;
    return out.empty() ? "/" : out;
}

std::string JoinPath(const std::string& dir, const std::string& name) {
    if (!name.empty() && name[0] == '/') return NormalizePath(name);
    return NormalizePath(dir + "/" + name);
}

std::string BaseName(const std::string& path) {
    std::size_t p = path.find_last_of('/');
    return p == std::string::npos ? path : path.substr(p + 1);
}

std::string DirName(const std::string& path) {
    std::size_t p = path.find_last_of('/');
    if (p == std::string::npos || p == 0) return "/";
    return path.substr(0, p);
}

std::string FileSystem::resolve(const std::string& path) const {
    std::string done = "/";
    std::string rest = NormalizePath(path);
    // Bounded like the kernel's ELOOP limit, so a link cycle cannot hang us.
    for (int hops = 0; hops < 40;) {
        if (rest.empty() || rest == "/") return done;
        std::size_t start = rest[0] == '/' ? 1 : 0;
        std::size_t slash = rest.find('/', start);
        std::string part = rest.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
        rest = slash == std::string::npos ? "" : rest.substr(slash);
        std::string next = JoinPath(done, part);
        if (auto target = readLink(next)) {
            ++hops;
            rest.insert(0, JoinPath(!target->empty() && (*target)[0] == '/' ? "/" : done, *target));
            done = "/";
            continue;
        }
        done = next;
    }
    return done + rest;
}

std::optional<std::int64_t> FileSystem::oldestModificationTime(const std::string& dir, const std::string& suffix) const {
    std::optional<std::int64_t> oldest;
    for (const auto& f : listDir(dir))
        if (f.size() > suffix.size() && f.compare(f.size() - suffix.size(), suffix.size(), suffix) == 0)
            if (auto t = modificationTime(JoinPath(dir, f)); t && (!oldest || *t < *oldest)) oldest = t;
    return oldest;
}

std::optional<std::string> DirectoryFiles::read(const char* name, std::size_t maxBytes) const {
    return fs_.readFile(path(name), maxBytes);
}
std::optional<std::string> DirectoryFiles::readLink(const char* name) const { return fs_.readLink(path(name)); }
std::size_t DirectoryFiles::countEntries(const char* name) const { return fs_.countEntries(path(name)); }

namespace {

// A process's stat, status, io, sessionid and cmdline files hand over all
// they hold in one read (one seq_file record, or the whole argument area),
// so a read shorter than asked for is their end and needs no second read to
// learn it; procps reads them the same way. Other /proc files (mountinfo,
// cpuinfo) are many records and may stop short of a record that did not fit.
bool IsOneReadProcessFileName(std::string_view name) {
    return name == "stat" || name == "status" || name == "io" || name == "sessionid" || name == "cmdline";
}
bool IsOneReadProcessFile(const std::string& path) {
    if (path.size() < 8 || path.compare(0, 6, "/proc/") != 0 || path[6] < '0' || path[6] > '9') return false;
    return IsOneReadProcessFileName(std::string_view(path).substr(path.find_last_of('/') + 1));
}

// Reads an opened file (fd < 0: it could not be opened) and closes it.
std::optional<std::string> ReadOpened(int fd, std::size_t maxBytes, bool shortReadEnds) {
    if (fd < 0) return std::nullopt;
    std::string out;
    char buf[4096];
    bool failed = false;
    while (out.size() < maxBytes) {
        ssize_t n = ::read(fd, buf, std::min(sizeof buf, maxBytes - out.size()));
        if (n < 0) {
            failed = true;  // e.g. EACCES on sysfs attributes readable only by root
            break;
        }
        if (n == 0) break;
        out.append(buf, static_cast<std::size_t>(n));
        if (shortReadEnds && static_cast<std::size_t>(n) < sizeof buf) break;
    }
    ::close(fd);
    if (failed) return std::nullopt;
    return out;
}

// Counts an opened directory's entries and closes it. A process's fd
// directory on Linux 6.2 and later gives its count as its size, which
// spares listing it (the kernel builds an entry for each descriptor it
// lists); only a directory the caller could open is counted that way, so
// nothing is counted that a listing would not show. getdents64 directly:
// opendir would add an fstat, and the names are not needed.
std::size_t CountOpened(int fd, bool procDescriptors) {
    if (fd < 0) return 0;
    struct stat st;
    if (procDescriptors && ::fstat(fd, &st) == 0 && st.st_size > 0) {
        ::close(fd);
        return static_cast<std::size_t>(st.st_size);
    }
    alignas(8) char buf[16384];
    std::size_t n = 0;
    while (true) {
        long got = ::syscall(SYS_getdents64, fd, buf, sizeof buf);
        if (got <= 0) break;
        for (long off = 0; off < got;) {
            std::uint16_t reclen;
            std::memcpy(&reclen, buf + off + 16, sizeof reclen);  // d_ino (8), d_off (8), d_reclen
            const char* name = buf + off + 19;                      // after d_type
            if (std::strcmp(name, ".") != 0 && std::strcmp(name, "..") != 0) ++n;
            off += reclen;
        }
    }
    ::close(fd);
    return n;
}

// Whether this kernel gives a descriptor directory's size as its count
// (Linux 6.2 and later), asked once of our own, which holds at least the
// directory descriptor of the caller. Then an empty table is 0 without a
// listing.
bool DescriptorCountIsSize() {
    static const bool yes = [] {
        struct stat st;
        return ::stat("/proc/self/fd", &st) == 0 && st.st_size > 0;
    }();
    return yes;
}

class LocalFileSystem : public FileSystem {
public:
    explicit LocalFileSystem(std::string root) {
        if (root.empty() || root[0] != '/') {
            char cwd[4096];
            if (::getcwd(cwd, sizeof cwd)) root = std::string(cwd) + "/" + root;
        }
        root_ = NormalizePath(root);
        if (root_ == "/") root_.clear();
    }

    std::optional<std::string> readFile(const std::string& path, std::size_t maxBytes) const override {
        return ReadOpened(::open(real(path).c_str(), O_RDONLY | O_CLOEXEC), maxBytes,
                          root_.empty() && IsOneReadProcessFile(path));
    }

    std::vector<std::string> listDir(const std::string& path) const override {
        std::vector<std::string> names;
        DIR* d = ::opendir(real(path).c_str());
        if (!d) return names;
        while (dirent* e = ::readdir(d)) {
            std::string n = e->d_name;
            if (n != "." && n != "..") names.push_back(std::move(n));
        }
        ::closedir(d);
        std::sort(names.begin(), names.end());
        return names;
    }

    std::optional<std::string> readLink(const std::string& path) const override {
        char buf[4096];
        ssize_t n = ::readlink(real(path).c_str(), buf, sizeof buf);
        if (n < 0 || static_cast<std::size_t>(n) >= sizeof buf) return std::nullopt;
        return std::string(buf, static_cast<std::size_t>(n));
    }

    std::size_t countEntries(const std::string& path) const override {
        return CountOpened(::open(real(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC), false);
    }

    std::unique_ptr<DirectoryFiles> openDirectory(const std::string& dir) const override;

    // One directory read and a stat relative to it per entry: a package
    // database's directory holds thousands of files.
    std::optional<std::int64_t> oldestModificationTime(const std::string& dir, const std::string& suffix) const override {
        DIR* d = ::opendir(real(dir).c_str());
        if (!d) return std::nullopt;
        std::optional<std::int64_t> oldest;
        while (dirent* e = ::readdir(d)) {
            std::size_t len = std::strlen(e->d_name);
            if (len <= suffix.size() || std::memcmp(e->d_name + len - suffix.size(), suffix.data(), suffix.size()) != 0)
                continue;
            struct stat st;
            if (::fstatat(::dirfd(d), e->d_name, &st, 0) != 0) continue;
            if (!oldest || st.st_mtime < *oldest) oldest = static_cast<std::int64_t>(st.st_mtime);
        }
        ::closedir(d);
        return oldest;
    }

    // On this computer's own root the kernel resolves the whole path in one
    // lookup; the descriptor's name in /proc is the path it arrived at. Paths
    // that do not exist (or name no file, like a socket) take the walk.
    std::string resolve(const std::string& path) const override {
        if (root_.empty()) {
            std::string norm = NormalizePath(path);
            int fd = ::open(norm.c_str(), O_PATH | O_CLOEXEC);
            if (fd >= 0) {
                char link[32], buf[4096];
                std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
                ssize_t n = ::readlink(link, buf, sizeof buf);
                ::close(fd);
                if (n > 0 && static_cast<std::size_t>(n) < sizeof buf && buf[0] == '/') {
                    std::string out(buf, static_cast<std::size_t>(n));
                    if (!out.ends_with(" (deleted)")) return out;
                }
            }
        }
        return FileSystem::resolve(path);
    }

    bool exists(const std::string& path) const override {
        struct stat st;
        return ::stat(real(path).c_str(), &st) == 0;
    }

    bool isDirectory(const std::string& path) const override {
        struct stat st;
        return ::stat(real(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    }

    std::optional<std::int64_t> modificationTime(const std::string& path) const override {
        struct stat st;
        if (::stat(real(path).c_str(), &st) != 0) return std::nullopt;
        return static_cast<std::int64_t>(st.st_mtime);
    }

    std::optional<std::string> directoryStamp(const std::string& path) const override {
        struct stat st;
        if (::stat(real(path).c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return std::nullopt;
        auto n = [](auto v) { return std::to_string(v); };
        return n(st.st_dev) + ":" + n(st.st_ino) + ":" + n(st.st_mtim.tv_sec) + "." + n(st.st_mtim.tv_nsec) + ":" +
               n(st.st_ctim.tv_sec) + "." + n(st.st_ctim.tv_nsec);
    }

    std::optional<VolumeStats> volumeStats(const std::string& path, std::string_view fsType) const override {
        if (!isLiveRoot()) return std::nullopt;  // a copied tree has no capacity of its own
        auto ask = [path]() -> std::optional<VolumeStats> {
            struct statvfs sv;
            if (::statvfs(path.c_str(), &sv) != 0) return std::nullopt;
            VolumeStats vs;
            vs.fragmentSize = sv.f_frsize ? sv.f_frsize : sv.f_bsize;
            vs.totalBlocks = sv.f_blocks;
            vs.availableBlocks = sv.f_bavail;
            vs.maxNameLength = sv.f_namemax;
            return vs;
        };
        // These answer from counters in memory and never wait for a device
        // or a server: no thread for them.
        static constexpr std::string_view kInMemoryCounts[] = {"ext2", "ext3",  "ext4",     "xfs",
                                                               "btrfs", "tmpfs", "devtmpfs", "ramfs"};
        for (auto t : kInMemoryCounts)
            if (t == fsType) return ask();
        // A mount whose server or device stopped answering leaves its figures
        // unknown rather than freezing the listing.
        return CallWithin<VolumeStats>(ask, std::chrono::milliseconds(1500));
    }

    bool isLiveRoot() const override { return root_.empty(); }
    std::optional<std::string> hostPath(const std::string& path) const override { return real(path); }

private:
    std::string real(const std::string& path) const { return root_ + NormalizePath(path); }
    std::string root_;  // empty for "/"
};

// This computer's own /proc/PID, opened once (O_PATH: no read access is
// asked of the directory itself).
class OpenedDirectory : public DirectoryFiles {
public:
    OpenedDirectory(const FileSystem& fs, std::string dir)
        : DirectoryFiles(fs, std::move(dir)), fd_(::open(dir_.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC)) {}
    ~OpenedDirectory() override {
        if (fd_ >= 0) ::close(fd_);
    }
    std::optional<std::string> read(const char* name, std::size_t maxBytes) const override {
        if (fd_ < 0) return std::nullopt;
        return ReadOpened(::openat(fd_, name, O_RDONLY | O_CLOEXEC), maxBytes, IsOneReadProcessFileName(name));
    }
    std::optional<std::string> readLink(const char* name) const override {
        char buf[4096];
        ssize_t n = fd_ < 0 ? -1 : ::readlinkat(fd_, name, buf, sizeof buf);
        if (n < 0 || static_cast<std::size_t>(n) >= sizeof buf) return std::nullopt;
        return std::string(buf, static_cast<std::size_t>(n));
    }
    std::size_t countEntries(const char* name) const override {
        if (fd_ < 0) return 0;
        const bool descriptors = std::strcmp(name, "fd") == 0;
        if (descriptors && DescriptorCountIsSize()) {
            // Two calls instead of opening, asking and closing: access asks
            // what opening would (only a table the user could list counts).
            struct stat st;
            if (::faccessat(fd_, name, R_OK, AT_EACCESS) == 0)
                return ::fstatat(fd_, name, &st, 0) == 0 ? static_cast<std::size_t>(st.st_size) : 0;
            // A sandbox that refuses the call (EPERM, ENOSYS) leaves opening.
            if (errno != EPERM && errno != ENOSYS) return 0;
        }
        return CountOpened(::openat(fd_, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC), descriptors);
    }

private:
    int fd_;
};

std::unique_ptr<DirectoryFiles> LocalFileSystem::openDirectory(const std::string& dir) const {
    // Only /proc/PID and its tasks: a fixture tree keeps going through its paths.
    if (root_.empty() && dir.size() > 6 && dir.compare(0, 6, "/proc/") == 0 && dir.find("..") == std::string::npos)
        return std::make_unique<OpenedDirectory>(*this, dir);
    return FileSystem::openDirectory(dir);
}

}  // namespace

std::shared_ptr<FileSystem> MakeLocalFileSystem(std::string root) {
    return std::make_shared<LocalFileSystem>(std::move(root));
}

}  // namespace wmi::lnx
