// Helpers of the operating-system class tests: throw-away file trees.
#pragma once

#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "linux_test_util.h"

namespace lnxtest {

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
    std::vector<wmi::Object> collect(const std::string& cls) const { return Collect(wmi::MakeLinuxProvider(path()), cls); }

private:
    std::filesystem::path root_;
};

inline std::string Str(const wmi::Object& o, const char* prop) {
    const auto& v = o.Get(prop);
    return v.isString() ? v.asString() : (v.isNull() ? "<null>" : wmi::ValueText(v));
}

}  // namespace lnxtest
