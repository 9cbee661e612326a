// All file access of the Linux provider, rooted at a directory, so that tests
// read fixture trees and a remote back-end can serve the same paths.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace wmi::lnx {

struct VolumeStats {
    std::uint64_t fragmentSize = 0;  // f_frsize
    std::uint64_t totalBlocks = 0;
    std::uint64_t availableBlocks = 0;  // free to an unprivileged user
    std::uint64_t maxNameLength = 0;
};

class FileSystem;

// Several files of one directory (a process's in /proc). The default goes
// through the tree by path; this computer's own tree opens the directory
// once and each file relative to it, which spares the kernel walking
// "/proc/PID" again for every file, and keeps all of them from the same
// process even if its number is reused meanwhile.
class DirectoryFiles {
public:
    DirectoryFiles(const FileSystem& fs, std::string dir) : fs_(fs), dir_(std::move(dir)) {}
    virtual ~DirectoryFiles() = default;
    virtual std::optional<std::string> read(const char* name, std::size_t maxBytes) const;
    virtual std::optional<std::string> readLink(const char* name) const;
    // Entries of the subdirectory name, without "." and ".."; 0 if unreadable.
    virtual std::size_t countEntries(const char* name) const;

protected:
    std::string path(const char* name) const { return dir_ + "/" + name; }
    const FileSystem& fs_;
    std::string dir_;
};

// Paths are absolute as seen on the inspected computer ("/proc/cpuinfo").
class FileSystem {
public:
    virtual ~FileSystem() = default;

    // The file's content, at most maxBytes of it; nothing if it cannot be read.
    virtual std::optional<std::string> readFile(const std::string& path,
                                                std::size_t maxBytes = 1 << 20) const = 0;
    // Entry names without "." and "..", sorted; empty if unreadable.
    virtual std::vector<std::string> listDir(const std::string& path) const = 0;
    // The target of a symbolic link as stored; nothing if path is no link.
    virtual std::optional<std::string> readLink(const std::string& path) const = 0;
    virtual bool exists(const std::string& path) const = 0;
    virtual bool isDirectory(const std::string& path) const = 0;
    // Seconds since the epoch of the last modification, if known.
    virtual std::optional<std::int64_t> modificationTime(const std::string& path) const = 0;
    // A text that changes whenever an entry of the directory is added,
    // removed or renamed (its device, inode, and modification and change
    // times to the nanosecond); nothing when unknown.
    virtual std::optional<std::string> directoryStamp(const std::string&) const { return std::nullopt; }
    // Capacity of the mounted file system of type fsType (as mountinfo names
    // it) holding path; only meaningful when the tree is this computer's own root.
    virtual std::optional<VolumeStats> volumeStats(const std::string& path, std::string_view fsType) const = 0;
    // True when the paths are this computer's live "/": host calls (uname,
    // clock, statvfs, getifaddrs) then describe the same computer as the files.
    virtual bool isLiveRoot() const = 0;
    // The path as this computer's own file system names it, for libraries
    // that open files themselves (the journal reader); nothing when the tree
    // is not local.
    virtual std::optional<std::string> hostPath(const std::string&) const { return std::nullopt; }

    // path with every symbolic link resolved inside the tree (the last
    // component need not exist); relative targets resolve against the link's
    // directory, absolute ones against the tree's root.
    virtual std::string resolve(const std::string& path) const;
    // The oldest modification time among the entries of dir whose names end
    // in suffix; nothing when there is none or dir cannot be read.
    virtual std::optional<std::int64_t> oldestModificationTime(const std::string& dir,
                                                               const std::string& suffix) const;
    // How many entries dir has, without "." and ".."; 0 if unreadable.
    virtual std::size_t countEntries(const std::string& dir) const { return listDir(dir).size(); }
    virtual std::unique_ptr<DirectoryFiles> openDirectory(const std::string& dir) const {
        return std::make_unique<DirectoryFiles>(*this, dir);
    }
};

// The local file tree under root ("/" for this computer).
std::shared_ptr<FileSystem> MakeLocalFileSystem(std::string root = "/");

// Joins and normalises "/a/b" + "../c" lexically.
std::string NormalizePath(const std::string& path);
std::string JoinPath(const std::string& dir, const std::string& name);
std::string BaseName(const std::string& path);
std::string DirName(const std::string& path);

}  // namespace wmi::lnx
