// Instances produced on worker threads still come in key order, with the
// failures and gaps a one-at-a-time cursor would give.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>

#include "wmi/linux/read_ahead.h"
#include "wmi/object.h"

namespace {

using wmi::lnx::ReadAheadCursor;

wmi::SchemaPtr KeySchema() {
    static auto s = std::make_shared<const wmi::ClassSchema>(
        "Test_Key", std::vector<wmi::PropertyDecl>{{"Key", wmi::CIM_STRING, false, "Test_Key"}});
    return s;
}

std::vector<std::string> Keys(int n) {
    std::vector<std::string> k;
    for (int i = 0; i < n; ++i) k.push_back(std::to_string(i));
    return k;
}

// Later keys finish first, so the order must come from the cursor.
std::optional<wmi::Object> Slowly(const std::string& key) {
    int i = std::stoi(key);
    std::this_thread::sleep_for(std::chrono::microseconds((97 - i % 97) * 7));
    if (i % 10 == 3) return std::nullopt;  // gone since it was listed
    if (i == 42) throw std::runtime_error("unreadable 42");
    return wmi::Object(KeySchema(), {wmi::Value(key)});
}

TEST(ReadAheadCursor, KeepsKeyOrderSkipsGapsAndReportsFailuresInPlace) {
    for (unsigned workers : {1u, 2u, 4u}) {
        ReadAheadCursor c(Keys(300), Slowly, workers, 16);
        std::vector<std::string> got;
        bool failed = false;
        while (true) {
            try {
                auto o = c.next();
                if (!o) break;
                got.push_back(wmi::ValueText(o->Get("Key")));
            } catch (const std::runtime_error& e) {
                EXPECT_STREQ(e.what(), "unreadable 42");
                // Everything before the failing key has been delivered, nothing after.
                EXPECT_EQ(got.back(), "41");
                failed = true;
            }
        }
        EXPECT_TRUE(failed);
        std::vector<std::string> want;
        for (int i = 0; i < 300; ++i)
            if (i % 10 != 3 && i != 42) want.push_back(std::to_string(i));
        EXPECT_EQ(got, want) << workers << " workers";
        EXPECT_FALSE(c.next());
    }
}

TEST(ReadAheadCursor, StaysWithinItsWindowAndStopsWhenDropped) {
    std::atomic<int> produced{0};
    {
        ReadAheadCursor c(
            Keys(10000),
            [&](const std::string& key) -> std::optional<wmi::Object> {
                ++produced;
                std::this_thread::sleep_for(std::chrono::microseconds(200));
                return wmi::Object(KeySchema(), {wmi::Value(key)});
            },
            2, 8);
        ASSERT_TRUE(c.next());
        ASSERT_TRUE(c.next());
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        // Two read, at most a window (and one per worker in hand) ahead.
        EXPECT_LE(produced.load(), 2 + 8 + 2);
    }  // dropped mid-way: the workers end and are joined here
    EXPECT_LT(produced.load(), 100);
    ReadAheadCursor none({}, Slowly, 2);
    EXPECT_FALSE(none.next());
}

}  // namespace
