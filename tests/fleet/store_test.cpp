#include <thread>

#include "cli/cli.h"
#include "fleet/store_fixture.h"

namespace kestrane::testing {
namespace {

using Json = nlohmann::ordered_json;
const std::string kSample = std::string(KESTRANE_FIXTURES) + "/snapshots/sample.json";

std::string Cli(const std::vector<std::string>& args, int* rc = nullptr) {
    std::ostringstream out, err;
    int r = cli::Run(args, out, err);
    if (rc) *rc = r;
    return out.str() + err.str();
}

// What a store operation that must fail says ("" when it does not fail).
template <class F>
std::string Refusal(F f) {
    try {
        f();
    } catch (const fleet::StoreError& e) {
        return e.what();
    }
    return "";
}

Json OneBios(const std::string& version) {
    return {{"Win32_BIOS",
             {{"properties", {{{"name", "Name"}, {"cimtype", 8}, {"array", false}, {"origin", "CIM_BIOSElement"}},
                              {{"name", "Version"}, {"cimtype", 8}, {"array", false}, {"origin", "CIM_BIOSElement"}}}},
              {"instances", {{{"Name", "BIOS"}, {"Version", version}}}}}}};
}

TEST_P(EngineTest, StoredCaptureListsExactlyAsItsSnapshot) {
    open()->addSnapshot(ReadText(kSample), kSample);
    std::vector<std::vector<std::string>> commands{{"summary"}};
    for (const auto& c : wmi::LoadSnapshot(kSample)->classNames()) commands.push_back({"list", c});
    for (const auto& command : commands) {
        std::vector<std::string> fromFile{"--snapshot", kSample}, fromStore{"--store", spec_, "--computer", "ORION"};
        fromFile.insert(fromFile.end(), command.begin(), command.end());
        fromStore.insert(fromStore.end(), command.begin(), command.end());
        int rc = -1;
        const std::string stored = Cli(fromStore, &rc);
        EXPECT_EQ(rc, 0) << stored;
        EXPECT_EQ(stored, Cli(fromFile)) << command.back();
    }
}

TEST_P(EngineTest, WhenPicksTheLastCompleteCaptureOnOrBeforeIt) {
    auto store = open();
    const auto jan = store->addSnapshot(SnapshotJson("PC", OneBios("1.0")), "a", "", "2026-01-10T08:00:00Z");
    const auto feb = store->addSnapshot(SnapshotJson("PC", OneBios("2.0")), "b", "", "2026-02-10T08:00:00Z");
    const auto mar = store->addSnapshot(SnapshotJson("PC", OneBios("3.0")), "c", "", "2026-03-10T08:00:00Z");
    const auto failed = store->addFailure("PC", "ssh://pc", "2026-04-01T00:00:00Z", "2026-04-01T00:00:10Z",
                                          {"failed", -2147023174, "unreachable"});
    struct Case {
        std::string spec;
        std::int64_t capture;  // 0: an error
    } cases[] = {
        {"PC", mar},                     // the failed April capture is not the latest
        {"PC@latest", mar},
        {"PC@" + std::to_string(jan), jan},
        {"PC@2026-02-10", feb},          // the whole day counts
        {"PC@2026-02-09", jan},
        {"PC@2026-02-10 07:59", jan},
        {"PC@2025-12-31", 0},            // nothing that early
        {"PC@" + std::to_string(failed), 0},
        {"NOBODY", 0},
    };
    for (const auto& c : cases) {
        if (c.capture) {
            EXPECT_EQ(store->resolve(c.spec).id, c.capture) << c.spec;
        } else {
            EXPECT_THROW(store->resolve(c.spec), fleet::StoreError) << c.spec;
        }
    }
    auto comps = store->computers();
    ASSERT_EQ(comps.size(), 1u);
    EXPECT_EQ(comps[0].status, "failed");
    EXPECT_EQ(comps[0].lastCapture, failed);
}

TEST_P(EngineTest, KeepLeavesTheLastCompleteCapturesAndWhatFollowsThem) {
    auto store = open();
    std::vector<std::int64_t> ids;
    for (int m = 1; m <= 4; ++m)
        ids.push_back(store->addSnapshot(SnapshotJson("PC", OneBios(std::to_string(m))), "f", "",
                                         "2026-0" + std::to_string(m) + "-01T00:00:00Z"));
    store->addFailure("PC", "s", "2026-01-15T00:00:00Z", "2026-01-15T00:00:01Z", {"failed", 1, "x"});
    const auto late = store->addFailure("PC", "s", "2026-03-15T00:00:00Z", "2026-03-15T00:00:01Z",
                                        {"cancelled", std::nullopt, "cancelled"});
    store->addSnapshot(SnapshotJson("OTHER", OneBios("9")), "o", "", "2026-01-01T00:00:00Z");
    EXPECT_EQ(store->keep(2), 3);  // captures 1, 2 and the January failure
    std::vector<std::int64_t> left;
    for (const auto& c : store->captures("PC")) left.push_back(c.id);
    EXPECT_EQ(left, (std::vector<std::int64_t>{ids[2], late, ids[3]}));
    EXPECT_EQ(store->captures("OTHER").size(), 1u);
}

// The engine refuses the last class: nothing of the capture may remain, and
// the capture before it stays the latest.
TEST_P(EngineTest, ACaptureThatFailsAtItsLastClassLeavesNothing) {
    auto store = open();
    const auto first = store->addSnapshot(ReadText(kSample), kSample);
    if (GetParam() == "sqlite") {
        store->db().script("CREATE TRIGGER refuse BEFORE INSERT ON instances WHEN NEW.class = 'win32_pointingdevice' "
                           "BEGIN SELECT RAISE(ABORT, 'refused by the test'); END");
    } else {
        store->db().script(
            "CREATE FUNCTION refuse() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN "
            "IF NEW.class = 'win32_pointingdevice' THEN RAISE EXCEPTION 'refused by the test'; END IF; "
            "RETURN NEW; END $$;"
            "CREATE TRIGGER refuse BEFORE INSERT ON instances FOR EACH ROW EXECUTE FUNCTION refuse()");
    }
    const std::string refused = Refusal([&] { store->addSnapshot(ReadText(kSample), kSample); });
    EXPECT_NE(refused.find("refused by the test"), std::string::npos) << refused;
    EXPECT_EQ(store->captures("ORION").size(), 1u);
    EXPECT_EQ(store->resolve("ORION").id, first);
    auto again = open();  // a second connection sees the same
    EXPECT_EQ(again->computers().at(0).lastCapture, first);
}

TEST_P(EngineTest, StoresThatAreNotOursOrAreNewerAreRefused) {
    open()->db().script("UPDATE schema_version SET version = 99");
    EXPECT_NE(Refusal([&] { open(); }).find("schema version 99, newer than this program"), std::string::npos);
    if (GetParam() == "postgresql") {
        // Another application's database; a wrong password, which the message does not repeat.
        const std::string other = pg_->newDatabase();
        fleet::OpenPostgres(other)->script("CREATE TABLE customers (id int)");
        EXPECT_NE(Refusal([&] { fleet::Store::Open(other); }), "");
        const std::string m = Refusal([&] { fleet::Store::Open(other + "&password=wrong-secret"); });
        EXPECT_NE(m.find("password authentication failed"), std::string::npos) << m;
        EXPECT_EQ(m.find("wrong-secret"), std::string::npos) << m;
        return;
    }
    const std::string text = dir_.path() + "/text.sqlite", foreign = dir_.path() + "/foreign.sqlite";
    std::ofstream(text) << "this is a text file, not a store\n";
    EXPECT_NE(Refusal([&] { fleet::Store::Open(text); }).find("not a SQLite database"), std::string::npos);
    EXPECT_EQ(ReadText(text), "this is a text file, not a store\n");  // left as it was
    fleet::OpenSqlite(foreign)->script("CREATE TABLE customers (id int)");
    EXPECT_NE(Refusal([&] { fleet::Store::Open(foreign); }), "");
    std::ofstream(dir_.path() + "/empty.sqlite").flush();  // a new empty file becomes a store
    EXPECT_EQ(Refusal([&] { fleet::Store::Open(dir_.path() + "/empty.sqlite"); }), "");
}

TEST_P(EngineTest, TwoProgramsCapturingAtOnceLoseNothing) {
    open();  // created before, as a team's store is
    auto writer = [&](int w) {
        auto store = open();
        for (int i = 0; i < 8; ++i)
            store->addSnapshot(SnapshotJson(i % 2 ? "SHARED" : "PC" + std::to_string(w), OneBios(std::to_string(i))),
                               "w" + std::to_string(w));
    };
    std::thread a(writer, 1), b(writer, 2);
    a.join();
    b.join();
    auto store = open();
    EXPECT_EQ(store->captures("SHARED").size(), 8u);
    EXPECT_EQ(store->captures("PC1").size(), 4u);
    EXPECT_EQ(store->captures("PC2").size(), 4u);
    for (const auto& c : store->captures("SHARED")) EXPECT_EQ(c.instances, 1);
}

INSTANTIATE_TEST_SUITE_P(Engines, EngineTest, ::testing::Values("sqlite", "postgresql"), EngineName);

// SQLite's own full disk: a clear error, the store as it was.
TEST(SqliteStore, AFullDiskIsAClearErrorAndLosesNothing) {
    TempDir dir;
    const std::string path = dir.path() + "/fleet.sqlite";
    auto store = fleet::Store::Open(path);
    const auto first = store->addSnapshot(ReadText(kSample), kSample);
    auto pages = store->db().query("PRAGMA page_count");
    store->db().script("PRAGMA max_page_count = " + std::to_string(std::stoll(*pages[0][0]) + 2));
    const std::string full = Refusal([&] { store->addSnapshot(ReadText(kSample), kSample); });
    EXPECT_NE(full.find("the disk is full"), std::string::npos) << full;
    store.reset();
    auto again = fleet::Store::Open(path);
    EXPECT_EQ(again->captures("ORION").size(), 1u);
    EXPECT_EQ(again->open(first)->instanceCount("Win32_LogicalDisk"), 2u);
}

}  // namespace
}  // namespace kestrane::testing
