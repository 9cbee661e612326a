// Settings files are edited by hand, copied between versions and corrupted
// by crashes: whatever a text holds, reading it gives a usable window, one
// bad text costs only its own setting, and what is written back reads back.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "core/settings.h"

using namespace kestrane;

namespace {

const std::string kHostile[] = {
    "",
    "   ",
    "\t\r\n",
    "abc",
    "--5",
    "+-5",
    "..5",
    "1e400",
    "-1e400",
    "1e-400",
    "nan",
    "NaN",
    "inf",
    "-Infinity",
    "0x7fff",
    "&H7FFF",
    std::string(5000, '9'),
    "0." + std::string(5000, '0') + "1",
    std::string("12\0" "34", 5),
    "\xEF\xBB\xBF" "12",
    "\xFF\xFE" "1\0" "2\0",
    "\xE2\x80\x8B" "5",
    "1,5",
    "-0",
    "2147483648",
    "-32768.5",
};

void ExpectUsable(const StartupSettings& s, const std::string& text) {
    int state = static_cast<int>(s.state);
    EXPECT_TRUE(state >= 0 && state <= 2) << testing::PrintToString(text);
    EXPECT_TRUE(!s.width || (*s.width > 0 && *s.width <= 32767)) << testing::PrintToString(text);
    EXPECT_TRUE(!s.height || (*s.height > 0 && *s.height <= 32767)) << testing::PrintToString(text);
    EXPECT_TRUE(s.leftPaneWidth >= 2000 && s.leftPaneWidth <= 32767) << testing::PrintToString(text);
    EXPECT_TRUE(std::isfinite(s.rightPaneWidth) && s.rightPaneWidth >= 0) << testing::PrintToString(text);
    EXPECT_TRUE(std::isfinite(s.dataWidth) && s.dataWidth >= 0) << testing::PrintToString(text);
    EXPECT_TRUE(s.level >= 1 && s.level <= 3) << testing::PrintToString(text);
}

const char* kKeys[][2] = {{"Console", "State"},  {"Console", "Width"},   {"Console", "Height"},
                          {"LeftPane", "Width"}, {"RightPane", "Width"}, {"RightPane", "DataWidth"},
                          {"View", "Level"}};

MemorySettingsStore GoodStore() {
    MemorySettingsStore store;
    store.set("Console", "State", "0");
    store.set("Console", "Width", "9600");
    store.set("Console", "Height", "7200");
    store.set("LeftPane", "Width", "4100");
    store.set("RightPane", "Width", "5535.5");
    store.set("RightPane", "DataWidth", "2500");
    store.set("View", "Level", "2");
    return store;
}

}  // namespace

TEST(SettingsRobustness, HostileTextsInEveryKeyGiveAUsableWindow) {
    for (const std::string& text : kHostile) {
        MemorySettingsStore all;
        for (const auto& key : kKeys) all.set(key[0], key[1], text);
        ExpectUsable(ReadStartupSettings(all), text);
        EXPECT_TRUE(std::isfinite(ReadSingle(text))) << testing::PrintToString(text);
    }
}

TEST(SettingsRobustness, OneBadTextCostsOnlyItsOwnSetting) {
    const StartupSettings good = ReadStartupSettings(GoodStore());
    ASSERT_EQ(good.width, 9600);
    ASSERT_EQ(good.level, 2);
    for (const std::string& text : kHostile) {
        for (std::size_t k = 0; k < std::size(kKeys); ++k) {
            MemorySettingsStore store = GoodStore();
            store.set(kKeys[k][0], kKeys[k][1], text);
            StartupSettings s = ReadStartupSettings(store);
            SCOPED_TRACE(std::string(kKeys[k][0]) + "/" + kKeys[k][1] + " = " + testing::PrintToString(text));
            ExpectUsable(s, text);
            // The state decides whether a size is read at all, so only the
            // other keys must keep their stored values.
            if (k != 0 && k != 1) {
                EXPECT_EQ(s.width, good.width);
            }
            if (k != 0 && k != 2) {
                EXPECT_EQ(s.height, good.height);
            }
            if (k != 3) {
                EXPECT_EQ(s.leftPaneWidth, good.leftPaneWidth);
            }
            if (k != 4) {
                EXPECT_EQ(s.rightPaneWidth, good.rightPaneWidth);
            }
            if (k != 5) {
                EXPECT_EQ(s.dataWidth, good.dataWidth);
            }
            if (k != 6) {
                EXPECT_EQ(s.level, good.level);
            }
        }
    }
}

TEST(SettingsRobustness, WhatIsWrittenAfterABadStartReadsBackUnchanged) {
    for (const std::string& text : kHostile) {
        MemorySettingsStore store;
        for (const auto& key : kKeys) store.set(key[0], key[1], text);
        StartupSettings first = ReadStartupSettings(store);
        ShutdownValues v;
        v.state = first.state;
        v.width = first.width.value_or(9600);
        v.height = first.height.value_or(7200);
        v.leftPaneWidth = first.leftPaneWidth;
        v.rightPaneWidth = first.rightPaneWidth;
        v.dataWidth = first.dataWidth;
        WriteShutdownSettings(store, v);
        WriteLevel(store, first.level);
        StartupSettings second = ReadStartupSettings(store);
        SCOPED_TRACE(testing::PrintToString(text));
        EXPECT_EQ(second.state, first.state);
        EXPECT_EQ(second.leftPaneWidth, first.leftPaneWidth);
        EXPECT_EQ(second.rightPaneWidth, first.rightPaneWidth);
        EXPECT_EQ(second.dataWidth, first.dataWidth);
        EXPECT_EQ(second.level, first.level);
        if (first.state == WindowState::Normal) {
            EXPECT_EQ(second.width, static_cast<int>(v.width));
            EXPECT_EQ(second.height, static_cast<int>(v.height));
        }
    }
}
