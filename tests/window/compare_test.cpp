// Compare With and the fleet store, as the window does them.
#include "fleet/store.h"
#include "window/window_fixture.h"

namespace kestrane::window::testing {
namespace {

// The list as "label | value" lines.
std::string Lines(const ListModel& list) {
    std::string out;
    for (const ListRow& r : list.rows()) out += r.text + " | " + (r.sub.empty() ? "" : r.sub[0]) + "\n";
    return out;
}

TEST_F(CoreTest, CompareWithASnapshotListsWhatChangedAndExportsIt) {
    const std::string before = (dir / "before.json").string();
    core->saveSnapshot(before);
    pc->add("Win32_Processor", {{"Name", "cpu1"}});
    ASSERT_TRUE(core->compareWith(before));
    const std::string lines = Lines(core->list());
    EXPECT_NE(lines.find("Win32_Processor | \nAdded | "), std::string::npos) << lines;
    EXPECT_NE(lines.find("  Name | cpu1"), std::string::npos) << lines;
    EXPECT_EQ(lines.find("Win32_DiskDrive"), std::string::npos) << lines;
    EXPECT_EQ(core->status().note, "1 instance differs");
    EXPECT_EQ(core->comparison().rfind("Differences between the snapshot " + before + " and ", 0), 0u);

    const std::string html = (dir / "diff.html").string();
    core->exportTo(html);
    EXPECT_NE(ReadFile(html).find("Differences between the snapshot"), std::string::npos);

    // The same computer twice: nothing differs. An unreadable file is said and
    // leaves the list alone.
    core->saveSnapshot(before);
    ASSERT_TRUE(core->compareWith(before));
    EXPECT_EQ(core->status().note, "No differences");
    EXPECT_TRUE(ui.messages.empty());
    EXPECT_FALSE(core->compareWith((dir / "missing.json").string()));
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(core->status().note, "No differences");
    EXPECT_TRUE(ui.inputEnabled);
}

TEST_F(CoreTest, AStoredCaptureOpensLikeASnapshotAndComparesWithWhatIsShown) {
    const std::string snap = (dir / "snap.json").string();
    core->saveSnapshot(snap);
    const std::string store = (dir / "fleet.sqlite").string();
    fleet::Store::Open(store)->addSnapshot(ReadFile(snap), snap, "ATLAS");

    const auto computers = core->storeComputers(store);
    ASSERT_EQ(computers.size(), 1u);
    EXPECT_EQ(computers[0].name, "ATLAS");
    EXPECT_EQ(computers[0].status, "complete");

    ASSERT_TRUE(core->openStored(store, "ATLAS"));
    EXPECT_EQ(core->tree().node(0).text, "ATLAS");
    EXPECT_NE(core->status().source.find("from capture 1 of ATLAS in " + store), std::string::npos)
        << core->status().source;
    ui.messages.clear();  // the summary of a computer without an operating system class
    List("Win32_Processor", false);
    EXPECT_NE(Lines(core->list()).find("cpu0"), std::string::npos) << Lines(core->list());

    // Back to the live computer, which gained a processor since.
    core->state().gstrComputer = ".";
    core->connected(true);
    pc->add("Win32_Processor", {{"Name", "cpu1"}});
    ASSERT_TRUE(core->compareWithStored(store, "ATLAS"));
    EXPECT_EQ(core->status().note, "1 instance differs");

    // Not a store, or no such computer: said, nothing changes.
    std::ofstream(dir / "not-a-store.sqlite") << "plain text";
    EXPECT_TRUE(core->storeComputers((dir / "not-a-store.sqlite").string()).empty());
    EXPECT_FALSE(core->openStored(store, "NOBODY"));
    EXPECT_EQ(ui.messages.size(), 2u);
    EXPECT_EQ(core->status().note, "1 instance differs");
}

}  // namespace
}  // namespace kestrane::window::testing
