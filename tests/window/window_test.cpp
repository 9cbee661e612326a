// What a selection lists, and Connect To, snapshots and the status texts.
#include "catalogue/catalogue.h"
#include "window/geometry.h"
#include "window_fixture.h"

using namespace kestrane;
using namespace kestrane::window;
using kestrane::window::testing::CoreTest;
using kestrane::window::testing::ReadFile;
using kestrane::window::testing::RecordingFrontEnd;
using kestrane::window::testing::Secrets;

TEST_F(CoreTest, ACategoryShowsItsChildrenAndARowOpensItsNode) {
    core->select(Node("Mass Storage"));
    EXPECT_EQ(ui.mode, ListMode::Icons);
    ASSERT_EQ(core->list().rowCount(), 7u);
    EXPECT_EQ(core->list().row(2).key, "Win32_DiskDrive");
    EXPECT_EQ(core->status().panel, "Mass Storage");
    EXPECT_EQ(core->status().note, "");  // a category is no listing of instances

    core->openRow(2);
    EXPECT_EQ(core->tree().selected(), Node("Win32_DiskDrive"));
    EXPECT_EQ(ui.mode, ListMode::Report);
    EXPECT_EQ(core->list().row(0).key, "Win32_DiskDrive1");
    EXPECT_EQ(ui.progressText, "Listed 3");
    EXPECT_EQ(core->status().panel, "Disk Drive");
    EXPECT_TRUE(ui.inputEnabled);
    // A row without a node of its key does nothing.
    const std::size_t rows = core->list().rowCount();
    core->openRow(1);
    EXPECT_EQ(core->list().rowCount(), rows);
    EXPECT_TRUE(ui.messages.empty());
}

TEST_F(CoreTest, FailuresAreSaidAndLeaveTheWindowUsable) {
    struct Case {
        const char* computer;
        const char* node;
        MessageKind kind;
        const char* text;
    };
    const Case cases[] = {
        {"", "Win32_Keyboard", MessageKind::Warning, "This feature is NOT supported by the computer...!"},
        {"server9", "Win32_DiskDrive", MessageKind::Critical, "-2147024891:Access is denied."},
    };
    for (const Case& c : cases) {
        ui.messages.clear();
        core->state().gstrComputer = c.computer;
        core->state().gstrUserName = "admin";
        core->select(Node(c.node));
        ASSERT_EQ(ui.messages.size(), 1u) << c.node;
        EXPECT_EQ(ui.messages[0].kind, c.kind);
        EXPECT_EQ(ui.messages[0].text, c.text);
        EXPECT_TRUE(ui.inputEnabled);
        EXPECT_FALSE(ui.progressVisible);
        EXPECT_FALSE(core->busy());
    }
    EXPECT_EQ(remoteCalls, (std::vector<std::string>{"server9/admin"}));
}

TEST_F(CoreTest, TheStatusCountsInstancesAndSaysWhenAListingStoppedEarly) {
    const std::pair<const char*, const char*> complete[] = {
        {"Win32_DiskDrive", "3 instances"}, {"Win32_Processor", "1 instance"}, {"Win32_Fan", "0 instances"}};
    for (bool horizontal : {false, true})
        for (const auto& [cls, note] : complete) {
            List(cls, horizontal);
            EXPECT_EQ(core->status().note, note) << cls << (horizontal ? " horizontally" : "");
        }
    auto& c = pc->cls("Win32_DiskDrive");
    for (int i = 0; i < 200; ++i) c.objects.push_back(c.objects[0]);
    for (bool horizontal : {false, true}) {
        int chances = 0;
        ui.onProcessEvents = [&] {
            if (++chances == 5) core->cancel();
        };
        List("Win32_DiskDrive", horizontal);
        const long listed =
            horizontal ? static_cast<long>(core->list().rowCount())
                       : std::count_if(core->list().rows().begin(), core->list().rows().end(),
                                       [](const ListRow& r) { return r.key.rfind("Space0", 0) == 0; });
        EXPECT_GT(listed, 0);
        EXPECT_LT(listed, 203);
        EXPECT_EQ(core->status().note, "Incomplete (cancelled): " + std::to_string(listed) + " instances listed");
        EXPECT_EQ(ui.progressText, "Listed " + std::to_string(listed));
    }
    // The next selection starts with the flag cleared.
    ui.onProcessEvents = nullptr;
    List("Win32_Processor", false);
    EXPECT_FALSE(core->state().gblnCancel);
    EXPECT_EQ(core->status().note, "1 instance");
}

TEST_F(CoreTest, ALookForInputSlowerThanTheIntervalStillLeavesTheListingItsTime) {
    auto& c = pc->cls("Win32_DiskDrive");
    for (int i = 0; i < 300; ++i) c.objects.push_back(c.objects[0]);
    // Instances cost 1 ms each and every look 100 ms, as under Wine.
    ui.tick = 1;
    ui.onProcessEvents = [&] { ui.clock += 100; };
    for (bool horizontal : {false, true}) {
        ui.processed = 0;
        List("Win32_DiskDrive", horizontal);
        EXPECT_EQ(core->status().note, "303 instances");
        EXPECT_EQ(ui.progressText, "Listed 303");
        EXPECT_LT(ui.processed, 60) << (horizontal ? "horizontally" : "vertically");
    }
}

// Whatever a selection lists, the columns are its own: a vertical listing, an
// empty class, a class the computer lacks, a category.
TEST_F(CoreTest, ColumnsAlwaysBelongToWhatIsListed) {
    for (const char* next : {"Win32_Processor", "Win32_Fan", "Win32_CacheMemory", "Mass Storage"}) {
        List("Win32_DiskDrive", true);
        ASSERT_EQ(core->list().columns().size(), 6u);
        List(next, std::string(next) != "Win32_Processor");
        ASSERT_EQ(core->list().columns().size(), 2u) << next;
        EXPECT_EQ(core->list().columns()[0].caption + "|" + core->list().columns()[1].caption, "Name|Value") << next;
    }
}

TEST_F(CoreTest, ASelectionAskedForWhileListingCancelsItAndRunsAfter) {
    auto& c = pc->cls("Win32_DiskDrive");
    for (int i = 0; i < 200; ++i) c.objects.push_back(c.objects[0]);
    bool asked = false;
    ui.onProcessEvents = [&] {
        if (asked) return;
        asked = true;
        EXPECT_TRUE(core->busy());
        core->request(Node("Win32_Processor"), 500);
    };
    List("Win32_DiskDrive", false);
    EXPECT_EQ(core->tree().selected(), Node("Win32_Processor"));
    EXPECT_EQ(core->status().note, "1 instance");
    EXPECT_FALSE(core->busy());
}

TEST_F(CoreTest, ADoubleClickInTheTreeSelectsOnce) {
    // What a double-click reports: the click, then the activation.
    const int before = connections;
    core->request(Node("Win32_DiskDrive"), 500);
    core->request(Node("Win32_DiskDrive"), 500);
    EXPECT_EQ(connections, before + 1);
    // Later, the same node is listed again.
    ui.clock += 1000;
    core->request(Node("Win32_DiskDrive"), 500);
    EXPECT_EQ(connections, before + 2);
}

TEST_F(CoreTest, ConnectToStoresTheLoginAndEmptiesThePreviousComputersList) {
    List("Win32_DiskDrive", true);
    ASSERT_EQ(core->list().rowCount(), 3u);
    core->state().gstrComputer = " Server7 ";
    core->state().gstrUserName = "admin";
    core->state().gstrPassword = "pw!";
    core->connected(true);
    // Nothing of the computer before may be exported under the new name.
    EXPECT_EQ(core->list().rowCount(), 0u);
    EXPECT_EQ(core->list().columns().size(), 2u);
    EXPECT_EQ(core->status().note, "");
    core->exportTo((dir / "x.html").string());
    EXPECT_EQ(ReadFile(dir / "x.html").find("Disk 10"), std::string::npos);
    EXPECT_EQ(core->tree().node(0).text, " Server7 ");
    EXPECT_EQ(settings.get("Login", "Computer"), " Server7 ");
    EXPECT_EQ(settings.get("Login", "UserName"), "admin");
    EXPECT_FALSE(settings.contains("Login", "Password"));
    EXPECT_EQ(secrets.kept[kPasswordSecretKey], "pw!");

    // Back to this computer: the list is emptied again.
    core->state().gstrComputer = "";
    core->select(Node("Win32_Processor"));
    ASSERT_GT(core->list().rowCount(), 0u);
    core->connected(true);
    EXPECT_EQ(core->list().rowCount(), 0u);
    EXPECT_EQ(core->tree().node(0).text, GetLocalComputerName());

    // Without a keyring the password lives for this session, and says so.
    secrets.answers = false;
    core->connected(true);
    EXPECT_EQ(ui.flashed, "No keyring answered: the password is kept for this session only.");
}

TEST(StartUp, ARememberedRemoteLoginWithoutItsPasswordAsksForIt) {
    struct Case {
        const char* computer;
        const char* user;
        bool keyring;
        bool asks;
    };
    const Case cases[] = {
        {"server7", "admin", false, true},   // the password was kept for that session only
        {"server7", "admin", true, false},   // the keyring has it (or there is none to give)
        {"server7", "", false, false},       // agent and default keys
        {"", "admin", false, false},         // this computer
        {"/tmp/pc.json", "admin", false, false},
    };
    for (const Case& c : cases) {
        RecordingFrontEnd ui;
        MemorySettingsStore settings;
        Secrets secrets;
        secrets.answers = c.keyring;
        settings.set("Login", "Computer", c.computer);
        settings.set("Login", "UserName", c.user);
        WindowCore core(ui, settings, secrets, {});
        core.load();
        EXPECT_EQ(core.loginNeedsPassword(), c.asks) << c.computer << " " << c.user << " " << c.keyring;
    }
}

// A snapshot file that cannot be read is said. A dialog that edits a copy
// (the Win32 window) leaves the computer browsed so far, its login and its
// list alone; one that edits the state itself (Qt) leaves no snapshot open.
TEST_F(CoreTest, ConnectToASnapshotThatCannotBeReadKeepsTheComputerBrowsedSoFar) {
    const std::string sample = std::string(KESTRANE_FIXTURES) + "/snapshots/sample.json";
    core->state().gstrComputer = sample;
    core->connected(true);
    EXPECT_TRUE(ui.messages.empty());
    EXPECT_EQ(core->tree().node(0).text, "ORION");
    EXPECT_EQ(core->status().source, "Snapshot of ORION, captured 12/06/2026 10:15:00");
    List("Win32_Processor", false);
    const std::size_t rows = core->list().rowCount();
    ASSERT_GT(rows, 0u);

    AppState edited = core->state();
    edited.gstrComputer = (dir / "sampel.json").string();
    edited.gstrUserName = "admin";
    EXPECT_FALSE(core->connectTo(edited));
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].text, edited.gstrComputer + ": cannot be opened for reading");
    EXPECT_EQ(core->tree().node(0).text, "ORION");
    EXPECT_EQ(core->state().gstrComputer, sample);
    EXPECT_EQ(core->state().gstrUserName, "");
    EXPECT_EQ(settings.get("Login", "Computer"), sample);
    EXPECT_EQ(core->list().rowCount(), rows);

    core->state().gstrComputer = edited.gstrComputer;
    core->connected(true);
    EXPECT_EQ(ui.messages.size(), 2u);
    EXPECT_FALSE(core->snapshot().isOpen());
    EXPECT_EQ(core->status().source, "");

    // A computer that can be browsed takes over: its login is stored.
    edited.gstrComputer = "server7";
    ASSERT_TRUE(core->connectTo(edited));
    EXPECT_EQ(core->tree().node(0).text, "server7");
    EXPECT_EQ(settings.get("Login", "UserName"), "admin");
    EXPECT_EQ(core->list().rowCount(), 0u);
}

TEST_F(CoreTest, SaveAndOpenASnapshotThenReturnToTheLiveComputer) {
    EXPECT_EQ(core->snapshotSuggestion(), GetLocalComputerName() + ".json");
    core->saveSnapshot((dir / "disks").string());  // the extension is added
    ASSERT_TRUE(ui.messages.empty()) << ui.messages[0].text;
    EXPECT_EQ(Files(), std::vector<std::string>{"disks.json"});
    const std::string file = (dir / "disks.json").string();
    EXPECT_NE(core->status().note.find("saved to " + file), std::string::npos) << core->status().note;
    EXPECT_FALSE(ui.progressVisible);

    ASSERT_TRUE(core->openSnapshot(file));
    EXPECT_EQ(core->tree().node(0).text, core->snapshot().computer());
    EXPECT_EQ(core->status().source.rfind("Snapshot of " + core->snapshot().computer() + ", captured ", 0), 0u);
    // Listings now come from the file, not the computer.
    pc->cls("Win32_DiskDrive").objects.clear();
    List("Win32_DiskDrive", true);
    EXPECT_EQ(core->list().rowCount(), 3u);

    core->connected(true);
    EXPECT_FALSE(core->snapshot().isOpen());
    EXPECT_EQ(core->status().source, "");
    List("Win32_DiskDrive", true);
    EXPECT_EQ(core->list().rowCount(), 0u);
}

// A computer reached at an address (WS-Management) is offered and recorded
// under its own name, not the address's last part ("wsman.json").
TEST_F(CoreTest, ASnapshotOfARemoteComputerIsNamedAfterIt) {
    struct Named : kestrane::testing::FakeComputer {
        std::string computerName() const override { return "ORION"; }
    };
    auto named = std::make_shared<Named>();
    kestrane::window::testing::FillComputer(*named, false);
    wmi::Backends b;
    b.remote = [&](const std::string&, const std::string&, const std::string&) { return named; };
    WindowCore remote(ui, settings, secrets, b);
    remote.load();
    remote.state().gstrComputer = "http://127.0.0.1:5987/wsman";
    remote.connected(true);
    EXPECT_EQ(remote.snapshotSuggestion(), "ORION.json");
    remote.saveSnapshot((dir / "pc").string());
    EXPECT_EQ(remote.status().note.rfind("Snapshot of ORION saved", 0), 0u) << remote.status().note;
}

TEST_F(CoreTest, ACancelledOrFailedSaveLeavesNoFileAndKeepsAnOldOne) {
    const std::string file = (dir / "pc.json").string();
    ui.onProcessEvents = [this] { core->cancel(); };
    core->saveSnapshot(file);
    EXPECT_TRUE(Files().empty());
    EXPECT_EQ(core->status().note, "Snapshot not saved: cancelled");
    EXPECT_TRUE(ui.inputEnabled);

    ui.onProcessEvents = nullptr;
    std::ofstream(file) << "old";
    pc->cls("Win32_DiskDrive").failAt = 1;
    core->saveSnapshot(file);
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].kind, MessageKind::Critical);
    EXPECT_EQ(ui.messages[0].text.rfind("-2147217407:", 0), 0u) << ui.messages[0].text;
    EXPECT_EQ(Files(), std::vector<std::string>{"pc.json"});
    EXPECT_EQ(ReadFile(file), "old");
    EXPECT_EQ(core->status().note, "Snapshot not saved");
    EXPECT_FALSE(core->busy());
}

TEST_F(CoreTest, ExportAppendsTheListAndSaysWhyItCannot) {
    List("Win32_DiskDrive", false);
    EXPECT_EQ(core->exportSuggestion(), "Disk Drive.html");
    core->exportTo((dir / "disks.html").string());
    const std::string bytes = ReadFile(dir / "disks.html");
    EXPECT_EQ(bytes.rfind("\r\n<H2>Disk Drive</H2>\r\n", 0), 0u);
    EXPECT_NE(bytes.find("<td><b>    Model</b></td><td>Tab\there &lt;b&gt;&amp;</td>"), std::string::npos);
    EXPECT_TRUE(ui.messages.empty());

    core->exportTo((dir / "missing/dir/x.html").string());
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].kind, MessageKind::Critical);
    EXPECT_NE(ui.messages[0].text.find("x.html"), std::string::npos);
}

TEST_F(CoreTest, SettingsThatCannotBeWrittenAreSaidNamingTheFile) {
    struct Failing : MemorySettingsStore {
        bool sync() override { return false; }
        std::string location() const override { return "/nowhere/kestrane.ini"; }
    } failing;
    WindowCore c(ui, failing, secrets, {});
    c.load();
    c.unload({});
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].text, "The settings could not be saved to /nowhere/kestrane.ini. The next start uses "
                                   "the settings saved before.");
}

TEST(SizeRestore, TheStoredOuterSizeComesBackWhateverTheFrameDoes) {
    // A window manager adds a frame of 2 x 25 pixels only after the first show.
    const Size frame{2, 25};
    Size outer{1100, 800};
    for (int start = 0; start < 3; ++start) {
        SizeRestore r;
        r.start(outer.width, outer.height);
        Size inner{761, 610};  // the design size the window was created with
        if (auto s = r.adjust(inner, inner)) inner = *s;  // shown: no frame yet
        if (auto s = r.adjust(inner, {inner.width + frame.width, inner.height + frame.height})) inner = *s;
        // Nothing more to do once the frame is known.
        EXPECT_FALSE(r.adjust(inner, {inner.width + frame.width, inner.height + frame.height}));
        outer = {inner.width + frame.width, inner.height + frame.height};  // what the next close stores
        EXPECT_EQ(outer, (Size{1100, 800})) << start;
    }
    // Without a frame at all (no window manager) the inside is the whole.
    SizeRestore bare;
    bare.start(900, std::nullopt);
    EXPECT_EQ(bare.adjust({761, 610}, {761, 610}), (Size{900, 610}));
    EXPECT_FALSE(bare.adjust({900, 610}, {900, 610}));
    SizeRestore none;
    none.start(std::nullopt, std::nullopt);
    EXPECT_FALSE(none.adjust({761, 610}, {763, 635}));
}
