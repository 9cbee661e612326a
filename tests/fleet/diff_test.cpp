#include "cli/cli.h"
#include "fleet/diff.h"
#include "fleet/store_fixture.h"
#include "wmi/linux/linux_provider.h"

namespace kestrane::testing {
namespace {

using Json = nlohmann::ordered_json;

const std::vector<std::string> kClasses{"Win32_BIOS",    "Win32_Service",         "Win32_Product",
                                        "Win32_Process", "Win32_OperatingSystem", "Win32_LogicalDisk"};

class DiffTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        TempDir dir;
        const std::string file = dir.path() + "/base.json";
        auto linux = wmi::MakeLinuxProvider(std::string(KESTRANE_FIXTURES) + "/server");
        wmi::CaptureSnapshot(file, *linux, kClasses, "HOST", "20261201120000.000000+000");
        base_ = new Json(Json::parse(ReadText(file)));
        // The fixture's SMBIOS is not readable: a BIOS as a computer has one.
        auto& bios = (*base_)["classes"]["Win32_BIOS"]["instances"];
        auto& props = (*base_)["classes"]["Win32_BIOS"]["properties"];
        if (props.empty())
            for (const char* n : {"Name", "SMBIOSBIOSVersion", "Version"})
                props.push_back({{"name", n}, {"cimtype", 8}, {"array", false}, {"origin", "Win32_BIOS"}});
        if (bios.empty()) bios.push_back({{"Name", "BIOS"}, {"SMBIOSBIOSVersion", "2.17.0"}, {"Version", "DELL - 2170"}});
    }
    static void TearDownTestSuite() { delete base_; }

    // The same computer a moment later: only what changes by itself differs.
    static Json Later(Json j) {
        for (auto& p : j["classes"]["Win32_Process"]["instances"]) p["WorkingSetSize"] = "123456789";
        for (auto& d : j["classes"]["Win32_LogicalDisk"]["instances"]) d["FreeSpace"] = "42";
        for (auto& o : j["classes"]["Win32_OperatingSystem"]["instances"]) {
            o["FreePhysicalMemory"] = "1234";
            o["LocalDateTime"] = "20261201130000.000000+000";
        }
        return j;
    }
    static std::vector<fleet::ClassDiff> Compare(const Json& a, const Json& b, bool all = false) {
        auto pa = wmi::ParseSnapshot(a.dump(), "a"), pb = wmi::ParseSnapshot(b.dump(), "b");
        fleet::DiffOptions o;
        o.all = all;
        return fleet::Diff(*pa, *pb, kClasses, o);
    }
    static std::string Summary(const std::vector<fleet::ClassDiff>& diffs) {
        static const char* const kKind[] = {"+", "-", "~"};
        std::string s;
        for (const auto& c : diffs)
            for (const auto& d : c.instances) {
                s += c.className + kKind[d.kind] + d.key;
                if (d.kind == fleet::InstanceDiff::Changed)
                    for (const auto& p : d.properties) s += " " + p.name + ":" + p.before + ">" + p.after;
                s += "\n";
            }
        return s;
    }
    static inline Json* base_ = nullptr;
};

TEST_F(DiffTest, AnUnchangedComputerGivesNothing) {
    ASSERT_FALSE((*base_)["classes"]["Win32_Process"]["instances"].empty());
    EXPECT_EQ(Summary(Compare(*base_, Later(*base_))), "");
    // Asked for everything, the volatile values are there.
    const std::string all = Summary(Compare(*base_, Later(*base_), true));
    EXPECT_NE(all.find("WorkingSetSize"), std::string::npos) << all;
    EXPECT_NE(all.find("FreeSpace"), std::string::npos) << all;
}

TEST_F(DiffTest, KnownChangesAreFoundExactly) {
    Json after = Later(*base_);
    auto& classes = after["classes"];
    auto& services = classes["Win32_Service"]["instances"];
    ASSERT_FALSE(services.empty());
    Json added = services[0];
    added["Name"] = "kestrane-added";
    services.push_back(added);
    auto& products = classes["Win32_Product"]["instances"];
    ASSERT_GE(products.size(), 2u);
    const Json removed = products.back();
    products.erase(products.size() - 1);
    auto& bios = classes["Win32_BIOS"]["instances"][0];
    bios["SMBIOSBIOSVersion"] = "9.99";
    bios["Version"] = "DELL - 9990";  // a key: still the same BIOS
    auto& procs = classes["Win32_Process"]["instances"];
    const std::string gone = procs[0]["Handle"].get<std::string>();
    Json came = procs[0];
    procs.erase(0);
    came["Handle"] = "999999";
    came["ProcessId"] = 999999;
    procs.push_back(came);

    const auto diffs = Compare(*base_, after);
    const std::string s = Summary(diffs);
    EXPECT_EQ(s, "Win32_BIOS~Name=BIOS, Version=DELL - 9990 SMBIOSBIOSVersion:2.17.0>9.99 Version:DELL - 2170>DELL - 9990\n"
                 "Win32_Service+Name=kestrane-added\n"
                 "Win32_Product-" + diffs.at(2).instances.at(0).key + "\n"
                 "Win32_Process-Handle=" + gone + "\n"
                 "Win32_Process+Handle=999999\n");
    // The removed product carries its old values.
    bool named = false;
    for (const auto& p : diffs.at(2).instances.at(0).properties)
        named = named || (p.name == "Name" && p.before == removed["Name"].get<std::string>() && p.after.empty());
    EXPECT_TRUE(named);

    ListModel list;
    fleet::DiffToList(diffs, list);
    ASSERT_GE(list.rowCount(), 3u);
    EXPECT_EQ(list.row(0).text, "Win32_BIOS");
    EXPECT_EQ(list.row(1).text, "Changed");
    EXPECT_EQ(list.row(2).sub.at(0), "2.17.0 -> 9.99");
    EXPECT_EQ(list.row(2).text, "  SMBIOSBIOSVersion");

    // kestrane-cli prints a change with the names padded to one column.
    TempDir dir;
    std::ofstream(dir.path() + "/a.json") << base_->dump();
    std::ofstream(dir.path() + "/b.json") << after.dump();
    std::ostringstream out, err;
    EXPECT_EQ(cli::Run({"diff", "--class", "Win32_BIOS", dir.path() + "/a.json", dir.path() + "/b.json"}, out, err), 0);
    EXPECT_EQ(out.str(), "Win32_BIOS\n"
                         "  ~ Name=BIOS, Version=DELL - 9990\n"
                         "     SMBIOSBIOSVersion  2.17.0 -> 9.99\n"
                         "     Version            DELL - 2170 -> DELL - 9990\n");
}

TEST(Volatile, TheTableCoversCountersAndNotIdentity) {
    struct Case {
        const char* cls;
        const char* prop;
        bool isVolatile;
    } cases[] = {
        {"win32_logicaldisk", "freespace", true},  // any letter case
        {"Win32_LogicalDisk", "Size", false},
        {"Win32_PerfRawData_PerfOS_Memory", "AvailableBytes", true},  // every counter of a class
        {"Win32_PerfRawData_PerfOS_Memory", "Name", false},
        {"Win32_Service", "State", false},
    };
    for (const auto& c : cases) EXPECT_EQ(fleet::IsVolatile(c.cls, c.prop), c.isVolatile) << c.cls << "." << c.prop;
}

}  // namespace
}  // namespace kestrane::testing
