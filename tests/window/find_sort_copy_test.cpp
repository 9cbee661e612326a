// Find, sort and copy over what a listing put in the list.
#include "window/icons.h"
#include "window/sort.h"
#include "window/tool_bars.h"
#include "window_fixture.h"

#include "catalogue/catalogue.h"

using namespace kestrane;
using namespace kestrane::window;
using kestrane::window::testing::CoreTest;

TEST_F(CoreTest, FindGoesThroughTheMatchesInTurnAndWrapsBothWays) {
    List("Win32_DiskDrive", false);
    Finder& f = core->finder();
    // Label or value, any case.
    Finder::Hit h = f.setText(core->list(), "DISK 1");
    const long first = h.row;
    EXPECT_EQ(core->list().row(static_cast<std::size_t>(first)).sub.at(0), "Disk 10");
    EXPECT_EQ(f.status(h), "1 of 2");
    struct Step {
        bool forward;
        const char* status;
    };
    const Step steps[] = {
        {true, "2 of 2"},
        {true, "1 of 2, continued from the top"},
        {false, "2 of 2, continued from the bottom"},
        {false, "1 of 2"},
    };
    for (const Step& s : steps) {
        h = s.forward ? f.next(core->list()) : f.previous(core->list());
        EXPECT_EQ(f.status(h), s.status);
    }
    EXPECT_EQ(h.row, first);
    EXPECT_EQ(f.status(f.setText(core->list(), "nothing like it")), "0 of 0");
    EXPECT_EQ(f.next(core->list()).row, -1);
    EXPECT_EQ(f.status(f.setText(core->list(), "")), "");

    // A new listing is searched afresh; the table is searched too.
    f.setText(core->list(), "m2");
    List("Win32_DiskDrive", true);
    h = f.next(core->list());
    EXPECT_EQ(h.row, 1);
    EXPECT_EQ(f.status(h), "1 of 1");
}

TEST(Finder, RowsAddedWhileListingAreFoundAfterTheOneShown) {
    ListModel list;
    list.addRow("", "cpu0");
    list.addRow("", "disk");
    Finder f;
    EXPECT_EQ(f.setText(list, "cpu").row, 0);
    list.addRow("", "cpu1");
    Finder::Hit h = f.next(list);
    EXPECT_EQ(h.row, 2);
    EXPECT_FALSE(h.wrapped);
    EXPECT_EQ(f.status(h), "2 of 2");
}

TEST_F(CoreTest, HeaderClicksSortByWhatTheCellsMeanAndANewSelectionRestores) {
    List("Win32_DiskDrive", true);
    const std::vector<std::string> delivered = Column(3);
    struct Case {
        int column;
        std::vector<std::string> ascending;  // by Name
    };
    const Case cases[] = {
        {5, {"disk 2", "Disk 1", "Disk 10"}},  // bytes: 512, 1 MB, 2 GB
        {4, {"Disk 1", "Disk 10", "disk 2"}},  // numbers, the empty cell first: -, 3, 12
        {1, {"disk 2", "Disk 1", "Disk 10"}},  // dates across years
        {3, {"Disk 1", "disk 2", "Disk 10"}},  // text, digits by value, any case
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(core->sortBy(c.column));
        EXPECT_EQ(Column(3), c.ascending) << c.column;
        core->sortBy(c.column);
        EXPECT_TRUE(core->sortDescending());
        EXPECT_EQ(Column(3), std::vector<std::string>(c.ascending.rbegin(), c.ascending.rend())) << c.column;
    }
    core->refresh(Node("Win32_DiskDrive"));
    EXPECT_EQ(Column(3), delivered);
    EXPECT_EQ(core->sortColumn(), -1);

    // The vertical view is a list of labels: its header does not sort.
    List("Win32_DiskDrive", false);
    const std::vector<std::string> labels = Column(0);
    EXPECT_FALSE(core->sortBy(0));
    EXPECT_EQ(Column(0), labels);
}

TEST(Sort, KindsOfColumnsAndNaturalOrder) {
    EXPECT_LT(NaturalCompare("Disk 2", "disk 10"), 0);
    EXPECT_LT(NaturalCompare("a007", "a8"), 0);
    EXPECT_EQ(NaturalCompare("ABC", "abc"), 0);
    EXPECT_GT(NaturalCompare("abc1", "abc"), 0);
    struct Case {
        std::vector<std::string> cells;
        SortKind kind;
    };
    const Case cases[] = {
        {{"512 bytes", "1.00 KB (1024 bytes)", ""}, SortKind::Size},
        {{"12/31/2024 23:59:59", "01/01/2025 00:00:00"}, SortKind::Date},
        {{"3.3 V", "-5", "12 %"}, SortKind::Number},
        {{"512 bytes", "7"}, SortKind::Number},
        {{"3", "three"}, SortKind::Text},
        {{"5 mins, 3 secs"}, SortKind::Text},
        {{"", ""}, SortKind::Text},
    };
    for (const Case& c : cases) {
        ListModel m;
        for (const auto& cell : c.cells) m.addRow("", cell);
        EXPECT_EQ(ColumnSortKind(m, 0), c.kind) << c.cells[0];
    }
}

TEST_F(CoreTest, CopyGivesTabSeparatedTextAndEscapedHtml) {
    List("Win32_DiskDrive", true);
    // In the list's order whatever the selection's; a tab inside a value cannot shift the cells after it.
    CopiedRows all = core->copy({2, 0, 1}, false, 0);
    EXPECT_EQ(all.text, "Capabilities\tInstallDate\tModel\tName\tPartitions\tSize\n"
                        "Random Access(3), Supports Writing(4)\t01/01/2025 12:00:00\tTab here <b>&\tDisk 10\t3\t"
                        "2.00 GB (2147483648 bytes)\n"
                        "\t06/15/2024 08:00:00\tM2\tdisk 2\t12\t512 bytes\n"
                        "\t12/31/2024 23:59:59\tM3\tDisk 1\t\t1.00 MB (1048576 bytes)\n");
    EXPECT_NE(all.html.find("<th>InstallDate</th>"), std::string::npos);
    EXPECT_NE(all.html.find("Tab\there &lt;b&gt;&amp;"), std::string::npos) << all.html;
    EXPECT_EQ(all.html.find("<b>"), std::string::npos);
    // Copy Value in the table: the current cell's column.
    EXPECT_EQ(core->copy({1}, true, 3).text, "disk 2\n");

    // The vertical view: label and value, no indentation, no header row.
    List("Win32_DiskDrive", false);
    const auto name = static_cast<std::size_t>(RowOf("Name")), model = static_cast<std::size_t>(RowOf("Model"));
    EXPECT_EQ(core->copy({model, name}, false, 0).text, "Name\tDisk 10\nModel\tTab here <b>&\n");
    EXPECT_EQ(core->copy({name, model}, true, 0).text, "Disk 10\nTab here <b>&\n");
}

TEST_F(CoreTest, CopyOfAnArrayBringsEveryElement) {
    List("Win32_DiskDrive", false);
    const long caps = RowOf("Capabilities");
    ASSERT_GE(caps, 0);
    const auto r = static_cast<std::size_t>(caps);
    const std::string second = core->list().row(r + 1).sub.at(0);
    ASSERT_FALSE(second.empty());
    const std::string first = core->list().row(r).sub.at(0);
    EXPECT_EQ(core->copy({r}, false, 0).text, "Capabilities\t" + first + "\n\t" + second + "\n");
    EXPECT_EQ(core->copy({r}, true, 0).text, first + "\n" + second + "\n");
    // Selected together with its elements, nothing comes twice.
    EXPECT_EQ(core->copy({r, r + 1}, true, 0).text, first + "\n" + second + "\n");
}

TEST(Icons, EveryImageKeyHasAPicture) {
    for (auto keys : {SmallImageKeys(), LargeImageKeys()})
        for (const char* key : keys) {
            const IconPicture* p = FindIcon(key);
            ASSERT_NE(p, nullptr) << key;
            EXPECT_NE(std::string(p->shows), "") << key;
        }
    EXPECT_EQ(FindIcon("NoSuchKey"), nullptr);
}

TEST(ToolBars, EveryButtonHasAPictureAndEveryCategoryButtonANodeAtEveryLevel) {
    for (std::uint8_t level = 1; level <= 3; ++level) {
        AppState st;
        st.gbytLevel = level;
        TreeModel tree;
        BuildCategoryTree(tree, st);
        for (int bar : {1, 2})
            for (const ToolButton& b : CategoryButtons(bar)) {
                EXPECT_GE(tree.find(b.text), 0) << b.text << " at level " << int(level);
                EXPECT_NE(FindIcon(b.image), nullptr) << b.image;
            }
    }
    for (const ToolButton& b : MainToolButtons()) EXPECT_NE(FindIcon(b.image), nullptr) << b.image;
}
