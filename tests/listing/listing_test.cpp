#include <gtest/gtest.h>

#include <fstream>

#include "fake_computer.h"
#include "listing/listing.h"
#include "wmi/linux/linux_provider.h"

using namespace kestrane;
using kestrane::testing::Decl;
using kestrane::testing::FakeComputer;
using wmi::Value;

namespace {

class ListingTest : public ::testing::Test {
protected:
    std::shared_ptr<FakeComputer> pc = std::make_shared<FakeComputer>();
    ListModel list;
    HeadlessHost host;
    int connects = 0;
    ServicesFactory services = [this] {
        ++connects;
        return wmi::Services(pc);
    };

    void DefineSummaryClasses() {
        pc->define("Win32_ComputerSystem", {Decl("Description", 8), Decl("Domain", 8), Decl("Manufacturer", 8),
                                            Decl("Model", 8), Decl("Name", 8), Decl("PrimaryOwnerName", 8),
                                            Decl("SystemType", 8), Decl("UserName", 8)});
        pc->define("Win32_Processor", {Decl("Description", 8), Decl("Manufacturer", 8),
                                       Decl("MaxClockSpeed", 19), Decl("Name", 8), Decl("Version", 8)});
        pc->define("Win32_OperatingSystem",
                   {Decl("BootDevice", 8), Decl("InstallDate", 101), Decl("Manufacturer", 8), Decl("Name", 8),
                    Decl("SerialNumber", 8), Decl("ServicePackMajorVersion", 18),
                    Decl("ServicePackMinorVersion", 18), Decl("Version", 8), Decl("WindowsDirectory", 8)});
        pc->define("Win32_BIOS", {Decl("Manufacturer", 8), Decl("Name", 8), Decl("ReleaseDate", 101),
                                  Decl("SerialNumber", 8), Decl("Version", 8)});
        pc->define("Win32_DiskDrive", {Decl("Manufacturer", 8), Decl("MediaType", 8), Decl("Model", 8),
                                       Decl("Name", 8), Decl("Size", 21)});
        pc->define("Win32_LogicalDisk", {Decl("FileSystem", 8), Decl("Name", 8), Decl("Size", 21),
                                         Decl("VolumeSerialNumber", 8)});
        pc->define("Win32_DisplayConfiguration", {Decl("DeviceName", 8), Decl("DriverVersion", 8)});
        pc->add("Win32_ComputerSystem", {{"Name", "HOST"}, {"Manufacturer", ""}});
        pc->add("Win32_Processor", {{"Name", "CPU A"}, {"MaxClockSpeed", 2400}});
        pc->add("Win32_Processor", {{"Name", "CPU B"}});
        pc->add("Win32_OperatingSystem", {{"ServicePackMajorVersion", 2}, {"ServicePackMinorVersion", 0}});
        pc->add("Win32_BIOS", {{"Name", "BIOS"}});
        pc->add("Win32_DiskDrive", {{"Size", "1024"}});
        pc->add("Win32_LogicalDisk", {{"Name", "C:"}});
        pc->add("Win32_LogicalDisk", {{"Name", "D:"}});
    }

    // Each row as "key|text|icon|sub-items...", "*" before a bold text or first sub-item.
    std::vector<std::string> Rows() const {
        std::vector<std::string> out;
        for (const auto& r : list.rows()) {
            std::string s = r.key + "|" + (r.bold ? "*" : "") + r.text + "|" + r.icon;
            for (std::size_t k = 0; k < r.sub.size(); ++k) s += "|" + std::string(k == 0 && r.subBold ? "*" : "") + r.sub[k];
            out.push_back(s);
        }
        return out;
    }
};

}  // namespace

TEST_F(ListingTest, SummaryGroupsHaveTheirShape) {
    DefineSummaryClasses();
    list.clearColumns();
    list.addColumn("P1", "P1");  // as a horizontal listing leaves it
    ShowRootSummary(list, host, services);
    EXPECT_EQ(connects, 1);
    ASSERT_EQ(list.columns().size(), 2u);
    EXPECT_EQ(list.columns()[0].caption, "Name");
    // Headers, a row a value (empty ones too), a blank row after each instance
    // and after each group: tests/fixtures/listing/summary.txt.
    std::ifstream in(std::string(KESTRANE_FIXTURES) + "/listing/summary.txt");
    std::vector<std::string> want;
    for (std::string line; std::getline(in, line);)
        if (!line.starts_with("#")) want.push_back(line);
    EXPECT_EQ(Rows(), want);
    EXPECT_FALSE(host.progressVisible);
}

TEST_F(ListingTest, SummaryServicePackJoinsNullsAsEmpty) {
    struct Case { Value major, minor; const char* want; } cases[] = {
        {Value(), Value(), ""}, {Value(1), Value(), "1."},
    };
    for (const auto& c : cases) {
        pc = std::make_shared<FakeComputer>();
        DefineSummaryClasses();
        pc->cls("Win32_OperatingSystem").objects.clear();
        pc->add("Win32_OperatingSystem", {{"ServicePackMajorVersion", c.major}, {"ServicePackMinorVersion", c.minor}});
        list.clearRows();
        ShowRootSummary(list, host, services);
        EXPECT_EQ(Rows().at(29), std::string("|Service Pack|Info2|") + c.want);
    }
}

TEST_F(ListingTest, SummaryErrorKeepsEarlierGroupsAndIsRaisedAgain) {
    DefineSummaryClasses();
    pc->cls("Win32_BIOS").failAt = 0;
    pc->cls("Win32_BIOS").failWith = wmi::WBEM_E_ACCESS_DENIED;
    host.progressVisible = true;
    try {
        ShowRootSummary(list, host, services);
        FAIL() << "no error";
    } catch (const wmi::Error& e) {
        EXPECT_EQ(e.unsignedNumber(), wmi::WBEM_E_ACCESS_DENIED);
        EXPECT_EQ(e.description(), "Access denied");
    }
    auto rows = Rows();
    EXPECT_EQ(std::count(rows.begin(), rows.end(), "|*Operating System|Windows"), 1);
    EXPECT_EQ(rows.back(), "|*BIOS|Chip");  // its header was written before the enumeration failed
    EXPECT_FALSE(host.progressVisible);

    // A failed connection adds no row at all.
    list.clearRows();
    ServicesFactory refused = [] () -> wmi::Services {
        throw wmi::MakeError(wmi::RPC_S_SERVER_UNAVAILABLE, "SWbemLocator");
    };
    EXPECT_THROW(ShowRootSummary(list, host, refused), wmi::Error);
    EXPECT_EQ(list.rowCount(), 0u);
}

TEST_F(ListingTest, VerticalBlocksLeadingPropertiesKeysAndArrays) {
    pc->define("Win32_Thing", {Decl("Capabilities", 18, true), Decl("Caption", 8), Decl("CreationClassName", 8),
                               Decl("Description", 8), Decl("Empty", 8), Decl("Flag", 11), Decl("Name", 8),
                               Decl("Nothing", 8), Decl("Speed", 19), Decl("Tags", 8, true)});
    pc->add("Win32_Thing", {{"Capabilities", Value::Array{3, 4, 7}}, {"Caption", "cap1"},
                            {"CreationClassName", "Win32_Thing"}, {"Description", "d1"}, {"Empty", ""},
                            {"Flag", true}, {"Name", "n1"}, {"Speed", 5}, {"Tags", Value::Array{}}});
    pc->add("Win32_Thing", {{"Caption", "cap2"}, {"Name", "n2"}});
    // A subclass's instance, with a schema of its own, gets its own labels.
    pc->define("Win32_Thing", {Decl("Model", 8), Decl("Version", 8)});
    pc->add("Win32_Thing", {{"Model", "m3"}, {"Version", "v3"}});
    host.selectedKey = "Win32_Thing";
    List_Items_Vertically({"Win32_Thing", "Thing", "Device"}, list, host, services);
    // Arrays go through the decoders, an element a row; an empty one adds none.
    const std::string sep = kKeySeparator;
    EXPECT_EQ(Rows(), (std::vector<std::string>{
                          "Win32_Thing1|*Thing|Device|*1", "Name1|    Name|Info|n1", "Description1|    Description|Info|d1",
                          "Caption1|    Caption|Info|cap1", "Capabilities" + sep + "1|    Capabilities|Info|Random Access(3)",
                          "|||Supports Writing(4)", "|||Supports Removable Media(7)", "Flag" + sep + "1|    Flag|Info|Yes",
                          "Speed" + sep + "1|    Speed|Info|5 nanoseconds", "Space01|    |",
                          "Win32_Thing2|*Thing|Device|*2", "Name2|    Name|Info|n2", "Caption2|    Caption|Info|cap2",
                          "Space02|    |", "Win32_Thing3|*Thing|Device|*3", "Model3|    Model|Info|m3",
                          "Version" + sep + "3|    Version|Info|v3", "Space03|    |"}));
    EXPECT_EQ(host.listedCount, 3);
    EXPECT_FALSE(host.progressVisible);
    EXPECT_FALSE(list.headersHidden());
}

TEST_F(ListingTest, VerticalCancelStopsAfterTheInstanceInHand) {
    pc->define("Win32_Thing", {Decl("Name", 8)});
    for (int i = 0; i < 5; ++i) pc->add("Win32_Thing", {{"Name", "n" + std::to_string(i)}});
    host.onInstance = [this](long n) {
        if (n == 2) host.cancel = true;  // pressed while the third is written
    };
    List_Items_Vertically({"Win32_Thing", "Thing", "Device"}, list, host, services);
    EXPECT_EQ(host.listedCount, 3);
    EXPECT_EQ(list.rowCount(), 9u);
    EXPECT_EQ(list.row(8).key, "Space03");
}

TEST_F(ListingTest, VerticalWithoutInstancesOrClass) {
    pc->define("Win32_Thing", {Decl("Name", 8)});
    List_Items_Vertically({"Win32_Thing", "Thing", "Device"}, list, host, services);
    ASSERT_EQ(list.rowCount(), 1u);
    EXPECT_EQ(list.row(0).text, "No Information Available");
    EXPECT_EQ(list.row(0).icon, "NoInfo");
    EXPECT_TRUE(list.row(0).bold);
    EXPECT_TRUE(list.headersHidden());

    list.clearRows();
    list.setHeadersHidden(false);
    host.progressVisible = true;
    try {
        List_Items_Vertically({"Win32_Missing", "Missing", "Device"}, list, host, services);
        FAIL() << "no error";
    } catch (const wmi::Error& e) {
        EXPECT_EQ(e.unsignedNumber(), wmi::WBEM_E_INVALID_CLASS);
    }
    EXPECT_EQ(list.rowCount(), 0u);
    EXPECT_FALSE(host.progressVisible);

    // Keys without the class prefix list nothing; the prefix is case-sensitive.
    const int before = connects;
    for (const char* key : {"[Root...]", "Mass Storage", "cim_Thing", "win32_Thing"}) {
        List_Items_Vertically({key, key, ""}, list, host, services);
        EXPECT_EQ(list.rowCount(), 0u) << key;
        EXPECT_EQ(connects, before) << key;
        EXPECT_EQ(host.listedCount, 0);
    }
}

TEST_F(ListingTest, VerticalListsMoreInstancesThanSixteenBitsCount) {
    pc->define("Win32_Thing", {Decl("Name", 8)});
    auto& c = pc->cls("Win32_Thing");
    for (int i = 0; i < 40000; ++i) c.objects.emplace_back(c.schema, std::vector<Value>{Value("x")});
    List_Items_Vertically({"Win32_Thing", "Thing", "Device"}, list, host, services);
    EXPECT_EQ(host.listedCount, 40000);
    EXPECT_EQ(list.rowCount(), 120000u);
    EXPECT_EQ(list.row(list.rowCount() - 1).key, "Space040000");
}

TEST_F(ListingTest, HorizontalRowsColumnsAndArrays) {
    pc->define("Win32_Thing", {Decl("P1", 8), Decl("P2", 19), Decl("P3", 18, true), Decl("P4", 8)});
    pc->add("Win32_Thing", {{"P1", "a"}, {"P2", 7}, {"P3", Value::Array{3, 4}}});
    pc->add("Win32_Thing", {{"P1", "b"}, {"P4", "z"}});
    List_Items_Horizontally({"Win32_Thing", "Thing", "Device"}, list, host, services);
    ASSERT_EQ(list.columns().size(), 4u);
    EXPECT_EQ(list.columns()[2].caption, "P3");
    EXPECT_EQ(Rows(), (std::vector<std::string>{"Val1|a||7|3, 4|", "Val2|b||||z"}));  // arrays add no rows
    EXPECT_EQ(host.listedCount, 2);
    EXPECT_FALSE(host.progressVisible);
}

TEST_F(ListingTest, HorizontalCancelAndErrors) {
    pc->define("Win32_Thing", {Decl("P1", 8)});
    for (int i = 0; i < 4; ++i) pc->add("Win32_Thing", {{"P1", std::to_string(i)}});
    host.onInstance = [this](long) { host.cancel = true; };  // pressed while the first is written
    List_Items_Horizontally({"Win32_Thing", "Thing", "Device"}, list, host, services);
    EXPECT_EQ(list.rowCount(), 1u);
    EXPECT_EQ(host.listedCount, 1);

    host.cancel = false;
    host.onInstance = nullptr;
    list.clearRows();
    pc->cls("Win32_Thing").failAt = 2;
    host.progressVisible = true;
    EXPECT_THROW(List_Items_Horizontally({"Win32_Thing", "Thing", "Device"}, list, host, services), wmi::Error);
    EXPECT_EQ(list.rowCount(), 2u);
    EXPECT_FALSE(host.progressVisible);  // hidden on error too
    EXPECT_EQ(host.listedCount, 2);

    // No instances: no row, and none of the headers listed before.
    pc->define("Win32_None", {Decl("Q", 8)});
    list.clearRows();
    ASSERT_NE(list.columns().size(), 2u);  // the columns of Win32_Thing
    List_Items_Horizontally({"Win32_None", "None", ""}, list, host, services);
    EXPECT_EQ(list.rowCount(), 0u);
    ASSERT_EQ(list.columns().size(), 2u);
    EXPECT_EQ(list.columns()[0].caption, "Name");
    EXPECT_EQ(list.columns()[1].caption, "Value");
}

namespace {

// Reads every property, whatever the reader says it looks at.
class ReadsEverything : public wmi::Provider {
public:
    explicit ReadsEverything(std::shared_ptr<wmi::Provider> p) : p_(std::move(p)) {}
    std::unique_ptr<wmi::InstanceCursor> enumerate(std::string_view c) override { return p_->enumerate(c); }

private:
    std::shared_ptr<wmi::Provider> p_;
};

std::vector<std::string> SummaryLines(const std::function<std::shared_ptr<wmi::Provider>()>& make) {
    ListModel list;
    HeadlessHost host;
    ShowRootSummary(list, host, [&] { return wmi::Services(make()); });
    std::vector<std::string> out;
    for (const auto& r : list.rows()) out.push_back(r.text + "\t" + (r.sub.empty() ? "" : r.sub[0]));
    return out;
}

}  // namespace

// The summary tells the Linux provider which properties it shows, so that
// the provider may skip costly others: no shown value may change with it.
TEST(RootSummary, SameWhetherOrNotTheProviderSparesUnshownProperties) {
    for (std::string root : {std::string(KESTRANE_FIXTURES) + "/laptop", std::string(KESTRANE_FIXTURES) + "/server",
                             std::string("/")}) {
        auto spared = SummaryLines([&] { return wmi::MakeLinuxProvider(root); });
        auto everything =
            SummaryLines([&] { return std::make_shared<ReadsEverything>(wmi::MakeLinuxProvider(root)); });
        EXPECT_EQ(spared, everything) << root;
        EXPECT_GT(spared.size(), 40u) << root;
    }
}
