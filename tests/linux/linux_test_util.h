// Helpers shared by the Linux provider tests.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "wmi/linux/file_system.h"
#include "wmi/linux/linux_provider.h"
#include "wmi/object.h"

namespace lnxtest {

inline std::string Fixture(const std::string& name) { return std::string(KESTRANE_FIXTURES) + "/" + name; }

// A fixture file's bytes ("laptop/run/utmp").
inline std::string ReadFixtureFile(const std::string& rel) {
    std::ifstream f(Fixture(rel), std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

// The fixture journal file, rebuilt from its non-zero byte runs.
inline std::string JournalBytes() {
    std::ifstream in(Fixture("journal/system.journal.runs"));
    std::size_t size = 0, off;
    in >> size;
    std::string out(size, '\0'), hex;
    while (in >> off >> hex)
        for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
            out[off + i / 2] = static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    return out;
}

// Every instance of a class, read to the end.
inline std::vector<wmi::Object> Collect(const std::shared_ptr<wmi::Provider>& p, const std::string& cls) {
    std::vector<wmi::Object> out;
    auto cursor = p->enumerate(cls);
    while (auto o = cursor->next()) out.push_back(std::move(*o));
    return out;
}

// The instance whose property has the given text value.
inline const wmi::Object* FindBy(const std::vector<wmi::Object>& v, const std::string& prop, const std::string& text) {
    for (const auto& o : v)
        if (o.Get(prop).isString() && o.Get(prop).asString() == text) return &o;
    return nullptr;
}

inline std::string Str(const wmi::Object& o, const char* prop) {
    const auto& v = o.Get(prop);
    return v.isString() ? v.asString() : (v.isNull() ? "<null>" : wmi::ValueText(v));
}

// f's verdict as an ordinary user would see it: as root, in a child that
// has become nobody first.
inline bool AsUnprivileged(const std::function<bool()>& f) {
    if (::geteuid() != 0) return f();
    const pid_t pid = ::fork();
    if (pid == 0) ::_exit(::setgid(65534) == 0 && ::setuid(65534) == 0 && f() ? 0 : 1);
    int status = 0;
    return pid > 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// A temporary directory removed with the object.
class TempTree {
public:
    TempTree() {
        std::random_device rd;
        root_ = std::filesystem::temp_directory_path() / ("kestrane-os-" + std::to_string(rd()) + std::to_string(rd()));
        std::filesystem::create_directories(root_);
    }
    ~TempTree() {
        std::error_code ec;
        std::filesystem::permissions(root_, std::filesystem::perms::owner_all, ec);
        std::filesystem::remove_all(root_, ec);
    }
    TempTree(const TempTree&) = delete;
    TempTree& operator=(const TempTree&) = delete;

    std::string path() const { return root_.string(); }
    std::string path(const std::string& rel) const { return (root_ / rel.substr(rel[0] == '/' ? 1 : 0)).string(); }
    void write(const std::string& rel, const std::string& content) const {
        std::filesystem::path p = path(rel);
        std::filesystem::create_directories(p.parent_path());
        std::ofstream(p, std::ios::binary) << content;
    }
    void mkdir(const std::string& rel) const { std::filesystem::create_directories(path(rel)); }
    void link(const std::string& rel, const std::string& target) const {
        std::filesystem::path p = path(rel);
        std::filesystem::create_directories(p.parent_path());
        std::filesystem::create_directory_symlink(target, p);
    }
    // Sets a file's modification time (seconds since the epoch).
    void touch(const std::string& rel, std::int64_t when) const {
        std::filesystem::last_write_time(path(rel), std::filesystem::file_time_type::clock::from_sys(
                                                        std::chrono::sys_seconds(std::chrono::seconds(when))));
    }
    std::vector<wmi::Object> collect(const std::string& cls) const { return Collect(wmi::MakeLinuxProvider(path()), cls); }

private:
    std::filesystem::path root_;
};

// The tree under root as a user with fewer rights, or damaged files, show
// it: each file's content passes through read (nothing: unreadable), and
// what visible refuses can be neither read, listed nor found.
class FilteredFileSystem : public wmi::lnx::FileSystem {
public:
    using Read = std::function<std::optional<std::string>(const std::string& path, std::string content)>;
    using Visible = std::function<bool(const std::string& path)>;
    FilteredFileSystem(const std::string& root, Read read, Visible visible = {})
        : inner_(wmi::lnx::MakeLocalFileSystem(root)), read_(std::move(read)), visible_(std::move(visible)) {}

    std::optional<std::string> readFile(const std::string& p, std::size_t max) const override {
        auto c = shown(p) ? inner_->readFile(p, max) : std::nullopt;
        if (c) c = read_(p, std::move(*c));
        if (c && c->size() > max) c->resize(max);
        return c;
    }
    std::vector<std::string> listDir(const std::string& p) const override {
        return shown(p) ? inner_->listDir(p) : std::vector<std::string>{};
    }
    std::optional<std::string> readLink(const std::string& p) const override { return inner_->readLink(p); }
    bool exists(const std::string& p) const override { return shown(p) && inner_->exists(p); }
    bool isDirectory(const std::string& p) const override { return inner_->isDirectory(p); }
    std::optional<std::int64_t> modificationTime(const std::string& p) const override {
        return inner_->modificationTime(p);
    }
    std::optional<wmi::lnx::VolumeStats> volumeStats(const std::string& p, std::string_view t) const override {
        return inner_->volumeStats(p, t);
    }
    bool isLiveRoot() const override { return false; }

private:
    bool shown(const std::string& p) const { return !visible_ || visible_(p); }
    std::shared_ptr<wmi::lnx::FileSystem> inner_;
    Read read_;
    Visible visible_;
};

inline std::shared_ptr<wmi::Provider> Filtered(const std::string& root, FilteredFileSystem::Read read,
                                               FilteredFileSystem::Visible visible = {}) {
    return wmi::lnx::MakeLinuxProvider(std::make_shared<FilteredFileSystem>(root, std::move(read), std::move(visible)));
}

}  // namespace lnxtest
