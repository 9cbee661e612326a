// Snapshot files arrive damaged (cut off by a full disk, a half-finished
// copy, a flipped byte) and queries arrive from scripts: every damaged file
// is refused whole with a message naming it, every bad query is 0x80041017.
#include <gtest/gtest.h>

#include "test_support.h"
#include "wmi/services.h"
#include "wmi/snapshot/snapshot.h"

using kestrane_test::FileErrorOf;
using kestrane_test::ReadAll;
using kestrane_test::SampleSnapshot;
using kestrane_test::WmiErrorOf;

namespace {

// Every instance of every class, so a half-loaded store would show.
std::size_t CountAll(wmi::SnapshotProvider& p) {
    std::size_t n = 0;
    for (const auto& cls : p.classNames()) {
        auto cursor = p.enumerate(cls);
        while (auto o = cursor->next()) {
            EXPECT_EQ(o->values().size(), o->schema().size()) << cls;
            ++n;
        }
    }
    return n;
}

}  // namespace

TEST(SnapshotRobustness, AFileCutShortAnywhereIsRefusedWhole) {
    const std::string full = ReadAll(SampleSnapshot());
    ASSERT_GT(full.size(), 1000u);
    // The closing brace is the last byte that matters; whitespace after it
    // may go.
    const std::size_t end = full.find_last_of('}');
    for (std::size_t cut = 0; cut < end; cut += (cut < 200 ? 1 : 53)) {
        const std::string msg = FileErrorOf([&] { wmi::ParseSnapshot(full.substr(0, cut), "cut.json"); });
        EXPECT_EQ(msg.rfind("cut.json: ", 0), 0u) << "cut at " << cut << ": " << msg;
    }
}

TEST(SnapshotRobustness, AFlippedByteLoadsEverythingOrNothing) {
    const std::string full = ReadAll(SampleSnapshot());
    auto intact = wmi::ParseSnapshot(full, "sample.json");
    const std::size_t instances = CountAll(*intact);
    std::size_t refused = 0, loaded = 0;
    for (std::size_t pos = 0; pos < full.size(); pos += 101) {
        for (char to : {'\0', '"', '}', '\xFF', '9', ' '}) {
            std::string damaged = full;
            damaged[pos] = to;
            std::shared_ptr<wmi::SnapshotProvider> p;
            try {
                p = wmi::ParseSnapshot(damaged, "flip.json");
            } catch (const kestrane::FileError& e) {
                EXPECT_EQ(std::string(e.what()).rfind("flip.json: ", 0), 0u) << e.what();
                ++refused;
                continue;
            }
            // A byte inside a text or a number changes one value, never the
            // number of instances.
            ++loaded;
            EXPECT_EQ(p->classNames().size(), intact->classNames().size()) << "byte " << pos;
            EXPECT_EQ(CountAll(*p), instances) << "byte " << pos;
        }
    }
    EXPECT_GT(refused, 0u);
    EXPECT_GT(loaded, 0u);
}

TEST(QueryRobustness, AnyWellFormedClassNameWaitsForEnumerationToFail) {
    // Class names come from the tree and from the command line; a name the
    // computer lacks, however long, is a valid query and an invalid class.
    wmi::Services services(wmi::LoadSnapshot(SampleSnapshot()));
    for (const std::string& cls : {std::string("Win32_NoSuchClass"), std::string(10000, 'A'), std::string("_"),
                                   std::string("0")}) {
        std::optional<wmi::ObjectSet> set;
        ASSERT_NO_THROW(set.emplace(services.ExecQuery("SELECT * FROM " + cls))) << cls.substr(0, 40);
        EXPECT_EQ(WmiErrorOf([&] { set->Next(); }), wmi::WBEM_E_INVALID_CLASS) << cls.substr(0, 40);
    }
}
