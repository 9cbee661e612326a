// Helpers shared by the wmi tests: scratch directories, files, expected
// errors, schemas and instances.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

#include "core/file_error.h"
#include "wmi/error.h"
#include "wmi/provider.h"

namespace kestrane_test {

inline std::string SampleSnapshot() { return std::string(KESTRANE_FIXTURES) + "/snapshots/sample.json"; }

// A directory of its own for one test, removed afterwards.
class ScratchDir {
public:
    ScratchDir() {
        static std::atomic<int> counter{0};
        const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
        path_ = std::filesystem::temp_directory_path() /
                ("kestrane-wmi-" + std::to_string(stamp) + "-" + std::to_string(counter++));
        std::filesystem::create_directories(path_);
    }
    ~ScratchDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    std::string file(const std::string& name) const { return (path_ / name).string(); }
    std::string write(const std::string& name, const std::string& text) const {
        std::ofstream(file(name), std::ios::binary) << text;
        return file(name);
    }
    // Names of everything in the directory.
    std::vector<std::string> entries() const {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(path_)) names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

inline std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Runs f, which must throw kestrane::FileError; returns its message.
inline std::string FileErrorOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const kestrane::FileError& e) {
        return e.what();
    } catch (const std::exception& e) {
        ADD_FAILURE() << "unexpected exception: " << e.what();
        return {};
    }
    ADD_FAILURE() << "no error";
    return {};
}

// Runs f, which must throw wmi::Error; returns its unsigned number (0 if none).
inline std::uint32_t WmiErrorOf(const std::function<void()>& f, std::string* description = nullptr) {
    try {
        f();
    } catch (const wmi::Error& e) {
        if (description) *description = e.description();
        return e.unsignedNumber();
    }
    return 0;
}

inline void ExpectContainsAll(const std::string& text, std::initializer_list<std::string> parts,
                              const std::string& label = {}) {
    for (const auto& p : parts) EXPECT_NE(text.find(p), std::string::npos) << label << "\nwanted: " << p << "\nin:     " << text;
}

inline wmi::SchemaPtr Schema(const std::string& cls, std::vector<wmi::PropertyDecl> decls) {
    return std::make_shared<const wmi::ClassSchema>(cls, std::move(decls));
}

inline std::vector<wmi::Object> Instances(wmi::Provider& p, std::string_view cls) {
    std::vector<wmi::Object> out;
    auto cursor = p.enumerate(cls);
    while (auto o = cursor->next()) out.push_back(std::move(*o));
    return out;
}

inline void ExpectSameDecls(const wmi::ClassSchema& a, const wmi::ClassSchema& b, const std::string& label) {
    ASSERT_EQ(a.size(), b.size()) << label;
    for (std::size_t k = 0; k < a.size(); ++k) {
        const auto &x = a.properties()[k], &y = b.properties()[k];
        EXPECT_EQ(x.name, y.name) << label;
        EXPECT_EQ(x.cimType, y.cimType) << label << "." << x.name;
        EXPECT_EQ(x.isArray, y.isArray) << label << "." << x.name;
        EXPECT_EQ(x.origin, y.origin) << label << "." << x.name;
    }
}

}  // namespace kestrane_test
