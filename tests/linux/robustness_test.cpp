// The provider over file trees gone wrong: every class must still answer
// (values it cannot read are Null, entries it cannot read are skipped) and
// no fault of a file may escape as a crash or an error other than the
// published ones.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "linux_test_util.h"
#include "wmi/linux/linux_provider.h"

namespace {

using Mangle = std::function<std::optional<std::string>(const std::string& path, std::string content)>;

// The fixture tree with every file's content passed through a mangler.
class MangledFileSystem : public wmi::lnx::FileSystem {
public:
    MangledFileSystem(std::shared_ptr<wmi::lnx::FileSystem> inner, Mangle mangle)
        : inner_(std::move(inner)), mangle_(std::move(mangle)) {}

    std::optional<std::string> readFile(const std::string& path, std::size_t maxBytes) const override {
        auto content = inner_->readFile(path, maxBytes);
        if (!content) return content;
        auto out = mangle_(path, std::move(*content));
        if (out && out->size() > maxBytes) out->resize(maxBytes);
        return out;
    }
    std::vector<std::string> listDir(const std::string& path) const override { return inner_->listDir(path); }
    std::optional<std::string> readLink(const std::string& path) const override { return inner_->readLink(path); }
    bool exists(const std::string& path) const override { return inner_->exists(path); }
    bool isDirectory(const std::string& path) const override { return inner_->isDirectory(path); }
    std::optional<std::int64_t> modificationTime(const std::string& path) const override {
        return inner_->modificationTime(path);
    }
    std::optional<wmi::lnx::VolumeStats> volumeStats(const std::string& path) const override {
        return inner_->volumeStats(path);
    }
    bool isLiveRoot() const override { return false; }

private:
    std::shared_ptr<wmi::lnx::FileSystem> inner_;
    Mangle mangle_;
};

// A small deterministic generator, so a failure names a reproducible case.
std::uint32_t Next(std::uint32_t& s) {
    s ^= s << 13;
    s ^= s >> 17;
    s ^= s << 5;
    return s;
}

std::uint32_t Hash(const std::string& s) {
    std::uint32_t h = 2166136261u;
    for (unsigned char c : s) h = (h ^ c) * 16777619u;
    return h | 1u;
}

// Whether a value is one WMI could deliver for its CIM type: damaged
// numbers must become Null, never wrap into another value's range.
bool FitsType(int cim, const wmi::Value& v) {
    auto decimal = [](const wmi::Value& x) {
        if (!x.isString() || x.asString().empty()) return false;
        const std::string& t = x.asString();
        std::size_t i = t[0] == '-' ? 1 : 0;
        if (i == t.size()) return false;
        for (; i < t.size(); ++i)
            if (t[i] < '0' || t[i] > '9') return false;
        return true;
    };
    auto within = [&v](long long lo, long long hi) { return v.isInt() && v.asInt() >= lo && v.asInt() <= hi; };
    switch (cim) {
    case wmi::CIM_UINT8: return within(0, 0xFF);
    case wmi::CIM_UINT16: return within(0, 0xFFFF);
    case wmi::CIM_UINT32: return within(0, 0xFFFFFFFFLL);
    case wmi::CIM_SINT8: return within(-128, 127);
    case wmi::CIM_SINT16: return within(-32768, 32767);
    case wmi::CIM_SINT32: return within(-2147483648LL, 2147483647LL);
    case wmi::CIM_UINT64: return decimal(v) && v.asString()[0] != '-';
    case wmi::CIM_SINT64: return decimal(v);
    case wmi::CIM_BOOLEAN: return v.isBool();
    case wmi::CIM_REAL32:
    case wmi::CIM_REAL64: return v.isDouble();
    case wmi::CIM_STRING:
    case wmi::CIM_DATETIME: return v.isString();
    default: return true;
    }
}

struct Case {
    const char* name;
    Mangle mangle;
};

const Case kCases[] = {
    {"unreadable", [](const std::string&, std::string) -> std::optional<std::string> { return std::nullopt; }},
    {"empty", [](const std::string&, std::string) -> std::optional<std::string> { return std::string(); }},
    {"cut in half", [](const std::string&, std::string c) -> std::optional<std::string> {
         c.resize(c.size() / 2);
         return c;
     }},
    {"last byte missing", [](const std::string&, std::string c) -> std::optional<std::string> {
         if (!c.empty()) c.pop_back();
         return c;
     }},
    {"NUL bytes", [](const std::string&, std::string c) -> std::optional<std::string> {
         return std::string(c.size() + 7, '\0');
     }},
    {"bytes flipped", [](const std::string& path, std::string c) -> std::optional<std::string> {
         std::uint32_t s = Hash(path);
         for (std::size_t i = 0; i < c.size(); ++i)
             if (Next(s) % 16 == 0) c[i] = static_cast<char>(Next(s));
         return c;
     }},
    {"digits become huge", [](const std::string&, std::string c) -> std::optional<std::string> {
         std::string out;
         for (char ch : c) out += (ch >= '0' && ch <= '9') ? std::string("99999999999999999999") : std::string(1, ch);
         return out;
     }},
    {"minus signs", [](const std::string&, std::string c) -> std::optional<std::string> {
         std::string out;
         for (char ch : c) {
             if (ch >= '0' && ch <= '9' && (out.empty() || out.back() < '0' || out.back() > '9')) out += '-';
             out += ch;
         }
         return out;
     }},
    {"lines without ends", [](const std::string&, std::string c) -> std::optional<std::string> {
         for (char& ch : c)
             if (ch == '\n' || ch == ':' || ch == '=' || ch == '\t') ch = ' ';
         return c;
     }},
};

}  // namespace

TEST(ProviderOverBadFiles, EveryClassAnswersWhateverTheFilesHold) {
    std::size_t instances = 0;
    for (const char* fixture : {"laptop", "thismachine", "server"}) {
        for (const Case& c : kCases) {
            auto fs = std::make_shared<MangledFileSystem>(wmi::lnx::MakeLocalFileSystem(lnxtest::Fixture(fixture)),
                                                          c.mangle);
            auto provider = wmi::lnx::MakeLinuxProvider(fs);
            for (const std::string& cls : wmi::lnx::LinuxProviderClasses()) {
                SCOPED_TRACE(std::string(fixture) + ", " + c.name + ", " + cls);
                std::vector<wmi::Object> objects;
                ASSERT_NO_THROW(objects = lnxtest::Collect(provider, cls));
                instances += objects.size();
                for (const auto& o : objects) {
                    ASSERT_EQ(o.values().size(), o.schema().size());
                    for (auto prop : o.Properties_()) {
                        const wmi::Value& v = prop.value();
                        if (v.isNull()) continue;
                        if (!prop.isArray()) {
                            EXPECT_TRUE(FitsType(prop.cimType(), v)) << prop.name() << " = " << wmi::ValueText(v);
                            continue;
                        }
                        ASSERT_TRUE(v.isArray()) << prop.name();
                        for (const wmi::Value& e : v.asArray())
                            EXPECT_TRUE(FitsType(prop.cimType(), e)) << prop.name() << " = " << wmi::ValueText(e);
                    }
                }
            }
        }
    }
    // Damage costs values, not the devices and entries that are still there
    // (723 instances over these cases when this was written).
    EXPECT_GT(instances, 500u);
}

TEST(ProviderOverBadFiles, UnreadableFilesLeaveTheOtherClassesIntact) {
    // One unreadable file costs only what it holds: the processor still
    // answers from /proc/cpuinfo when /proc/meminfo cannot be read.
    auto fs = std::make_shared<MangledFileSystem>(
        wmi::lnx::MakeLocalFileSystem(lnxtest::Fixture("laptop")),
        [](const std::string& path, std::string c) -> std::optional<std::string> {
            if (path == "/proc/meminfo") return std::nullopt;
            return c;
        });
    auto provider = wmi::lnx::MakeLinuxProvider(fs);
    auto intact = lnxtest::CollectIn("laptop", "Win32_Processor");
    auto processors = lnxtest::Collect(provider, "Win32_Processor");
    ASSERT_EQ(processors.size(), intact.size());
    ASSERT_FALSE(processors.empty());
    EXPECT_EQ(processors[0].Get("Name"), intact[0].Get("Name"));
    EXPECT_FALSE(processors[0].Get("Name").isNull());
}
