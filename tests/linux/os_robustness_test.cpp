// Every class over the server fixture with its files damaged in several
// ways: each class still answers, with Null or skipped entries, never with
// an error or a value its type cannot hold.
#include <gtest/gtest.h>

#include <functional>

#include "linux_test_util.h"
#include "wmi/linux/linux_provider.h"

namespace {

using Mangle = std::function<std::optional<std::string>(std::string)>;

class DamagedTree : public wmi::lnx::FileSystem {
public:
    DamagedTree(std::shared_ptr<wmi::lnx::FileSystem> inner, Mangle m) : inner_(std::move(inner)), m_(std::move(m)) {}
    std::optional<std::string> readFile(const std::string& path, std::size_t maxBytes) const override {
        auto c = inner_->readFile(path, maxBytes);
        return c ? m_(std::move(*c)) : c;
    }
    std::vector<std::string> listDir(const std::string& p) const override { return inner_->listDir(p); }
    std::optional<std::string> readLink(const std::string& p) const override { return inner_->readLink(p); }
    bool exists(const std::string& p) const override { return inner_->exists(p); }
    bool isDirectory(const std::string& p) const override { return inner_->isDirectory(p); }
    std::optional<std::int64_t> modificationTime(const std::string& p) const override { return inner_->modificationTime(p); }
    std::optional<wmi::lnx::VolumeStats> volumeStats(const std::string& p) const override { return inner_->volumeStats(p); }
    bool isLiveRoot() const override { return false; }

private:
    std::shared_ptr<wmi::lnx::FileSystem> inner_;
    Mangle m_;
};

std::string Replace(const std::string& c, const std::function<std::string(char)>& f) {
    std::string out;
    for (char ch : c) out += f(ch);
    return out;
}

const std::pair<const char*, Mangle> kDamage[] = {
    {"unreadable", [](std::string) -> std::optional<std::string> { return std::nullopt; }},
    {"empty", [](std::string) -> std::optional<std::string> { return std::string(); }},
    {"halved", [](std::string c) -> std::optional<std::string> { return c.substr(0, c.size() / 2); }},
    {"huge numbers", [](std::string c) -> std::optional<std::string> {
         return Replace(c, [](char ch) { return ch >= '0' && ch <= '9' ? std::string("99999999999999999999") : std::string(1, ch); });
     }},
    {"negative numbers", [](std::string c) -> std::optional<std::string> {
         std::string out;
         for (char ch : c) {
             if (ch >= '0' && ch <= '9' && (out.empty() || out.back() < '0' || out.back() > '9')) out += '-';
             out += ch;
         }
         return out;
     }},
    {"separators lost", [](std::string c) -> std::optional<std::string> {
         return Replace(c, [](char ch) { return ch == ':' || ch == '=' || ch == '\n' || ch == ' ' ? std::string("\t") : std::string(1, ch); });
     }},
    {"binary", [](std::string c) -> std::optional<std::string> {
         for (std::size_t i = 0; i < c.size(); i += 3) c[i] = static_cast<char>(0x80 + i % 100);
         return c;
     }},
};

}  // namespace

TEST(OsRobustness, EveryClassAnswersOverDamagedFiles) {
    for (const auto& [name, mangle] : kDamage) {
        auto fs = std::make_shared<DamagedTree>(wmi::lnx::MakeLocalFileSystem(lnxtest::Fixture("server")), mangle);
        auto p = wmi::lnx::MakeLinuxProvider(fs);
        for (const auto& cls : wmi::lnx::LinuxProviderClasses()) {
            SCOPED_TRACE(std::string(name) + ", " + cls);
            std::vector<wmi::Object> objs;
            ASSERT_NO_THROW(objs = lnxtest::Collect(p, cls));
            for (const auto& o : objs) ASSERT_EQ(o.values().size(), o.schema().size());
        }
    }
}
