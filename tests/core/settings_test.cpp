#include <gtest/gtest.h>

#include "core/settings.h"
#include "core/version.h"

using namespace kestrane;

TEST(SettingsRules, Int16ReadsPrefixAndRoundsHalvesToEven) {
    struct Case { const char* text; std::optional<int> want; } cases[] = {
        {"", 0}, {" 12abc", 12}, {"-5", -5}, {"1500", 1500}, {"3.5", 4}, {"2.5", 2},
        {"-2.5", -2}, {"x", 0}, {"32767", 32767}, {"32767.5", std::nullopt},
        {"-32768", -32768}, {"40000", std::nullopt}, {"1e300", std::nullopt},
        {"99999999999999999999999", std::nullopt},
    };
    for (const auto& c : cases) {
        auto got = ReadInt16(c.text);
        if (c.want)
            EXPECT_EQ(got, std::optional<std::int16_t>(static_cast<std::int16_t>(*c.want))) << c.text;
        else
            EXPECT_FALSE(got.has_value()) << c.text;
    }
}

TEST(SettingsRules, UInt8AndSingle) {
    EXPECT_EQ(ReadUInt8("3"), 3);
    EXPECT_EQ(ReadUInt8("255"), 255);
    EXPECT_FALSE(ReadUInt8("256"));
    EXPECT_FALSE(ReadUInt8("-1"));
    EXPECT_EQ(ReadUInt8("x"), 0);
    EXPECT_FLOAT_EQ(ReadSingle("3705.25"), 3705.25f);
    EXPECT_FLOAT_EQ(ReadSingle(" 12abc"), 12.0f);
    EXPECT_FLOAT_EQ(ReadSingle("1e300"), 0.0f);  // not a finite single
}

TEST(SettingsRules, WriteForms) {
    EXPECT_EQ(WriteInteger(2), "2");
    EXPECT_EQ(WriteSingle(3705.0f), "3705");
    EXPECT_EQ(WriteSingle(3705.5f), "3705.5");
    EXPECT_EQ(WriteSingle(0.1f), "0.1");
    EXPECT_EQ(WriteSingle(-0.0f), "0");
    for (float f : {1.0f, 12345.678f, 0.3f, 16777216.0f})
        EXPECT_EQ(ReadSingle(WriteSingle(f)), f) << f;
}

TEST(StartupSettings, FirstRunWithAnEmptyStore) {
    MemorySettingsStore store;
    auto s = ReadStartupSettings(store);
    EXPECT_EQ(s.state, WindowState::Normal);
    EXPECT_FALSE(s.width);
    EXPECT_FALSE(s.height);
    EXPECT_EQ(s.leftPaneWidth, 3700);
    EXPECT_EQ(s.rightPaneWidth, 0.0f);
    EXPECT_EQ(s.level, 1);
}

TEST(StartupSettings, TextsOutOfRangeFallBack) {
    struct Case { const char* section; const char* key; const char* text; int want; } cases[] = {
        // the tree pane: never narrower than 2000, else the default 3700
        {"LeftPane", "Width", "1500", 2000}, {"LeftPane", "Width", "-5", 3700}, {"LeftPane", "Width", "0", 3700},
        {"LeftPane", "Width", "", 3700}, {"LeftPane", "Width", "2000", 2000}, {"LeftPane", "Width", "4321", 4321},
        {"LeftPane", "Width", "40000", 3700}, {"LeftPane", "Width", "1999.5", 2000},
        // the detail level: outside 1 to 3, medium
        {"View", "Level", "3", 3}, {"View", "Level", "2", 2}, {"View", "Level", "1", 1}, {"View", "Level", "4", 1},
        {"View", "Level", "0", 1}, {"View", "Level", "x", 1}, {"View", "Level", "-1", 1}, {"View", "Level", "300", 1},
        {"View", "Level", "2.5", 2},
    };
    for (const auto& c : cases) {
        MemorySettingsStore store;
        store.set(c.section, c.key, c.text);
        const auto s = ReadStartupSettings(store);
        EXPECT_EQ(std::string(c.section) == "View" ? s.level : s.leftPaneWidth, c.want) << c.section << " " << c.text;
    }
}

TEST(StartupSettings, WindowStateAndSize) {
    MemorySettingsStore store;
    store.set("Console", "Width", "9000");
    store.set("Console", "Height", "7000");
    store.set("Console", "State", "2");
    EXPECT_EQ(ReadStartupSettings(store).state, WindowState::Maximized);
    EXPECT_FALSE(ReadStartupSettings(store).width);  // a maximised window keeps its design size for normal

    store.set("Console", "State", "7");  // unknown states open normally
    auto s = ReadStartupSettings(store);
    EXPECT_EQ(s.state, WindowState::Normal);
    EXPECT_EQ(s.width, 9000);
    EXPECT_EQ(s.height, 7000);

    store.set("Console", "Width", "-3");
    store.set("Console", "Height", "70000");
    s = ReadStartupSettings(store);
    EXPECT_FALSE(s.width);
    EXPECT_FALSE(s.height);
}

TEST(ShutdownSettings, MaximisedKeepsTheStoredNormalSize) {
    MemorySettingsStore store;
    store.set("Console", "Width", "9000");
    store.set("Console", "Height", "7000");
    WriteShutdownSettings(store, {WindowState::Maximized, 20000, 15000, 3000, 8000, 2666.5});
    EXPECT_EQ(store.get("Console", "State"), "2");
    EXPECT_EQ(store.get("Console", "Width"), "9000");
    EXPECT_EQ(store.get("Console", "Height"), "7000");
    EXPECT_EQ(store.get("LeftPane", "Width"), "3000");
    EXPECT_EQ(store.get("RightPane", "DataWidth"), "2666.5");

    WriteShutdownSettings(store, {WindowState::Minimized, 1, 1, 3000, 8000, 2666});
    EXPECT_EQ(store.get("Console", "State"), "1");
    EXPECT_EQ(ReadStartupSettings(store).state, WindowState::Minimized);
    EXPECT_EQ(store.get("Console", "Width"), "9000");
}

namespace {
class FakeKeyring : public SecretStore {
public:
    bool answers = true;
    std::map<std::string, std::string> secrets;
    std::optional<std::string> read(const std::string& key) override {
        if (!answers) return std::nullopt;
        auto it = secrets.find(key);
        return it == secrets.end() ? std::string() : it->second;
    }
    bool write(const std::string& key, const std::string& s) override {
        if (!answers) return false;
        secrets[key] = s;
        return true;
    }
    bool remove(const std::string& key) override {
        if (!answers) return false;
        secrets.erase(key);
        return true;
    }
};
}  // namespace

TEST(Login, OldPlainPasswordMovesToTheKeyring) {
    MemorySettingsStore store;
    FakeKeyring keyring;
    store.set("Login", "Computer", "server1");
    store.set("Login", "UserName", "admin");
    store.set("Login", "Password", "s3cret");
    Login l = ReadLogin(store, keyring);
    EXPECT_EQ(l.computer, "server1");
    EXPECT_EQ(l.userName, "admin");
    EXPECT_EQ(l.password, "s3cret");
    EXPECT_FALSE(store.contains("Login", "Password"));
    EXPECT_EQ(keyring.secrets[kPasswordSecretKey], "s3cret");
    // The next start finds it in the keyring only.
    EXPECT_EQ(ReadLogin(store, keyring).password, "s3cret");
    EXPECT_TRUE(WriteLogin(store, keyring, {"host", "me", "pw"}));
    EXPECT_EQ(ReadLogin(store, keyring).password, "pw");
    // An emptied login clears the keyring too.
    EXPECT_TRUE(WriteLogin(store, keyring, {"", "", ""}));
    EXPECT_EQ(keyring.secrets.count(kPasswordSecretKey), 0u);
    EXPECT_EQ(ReadLogin(store, keyring).computer, "");
    EXPECT_EQ(ReadLogin(store, keyring).password, "");
}

TEST(Login, WithoutAKeyringThePasswordNeverReachesTheFile) {
    MemorySettingsStore store;
    FakeKeyring keyring;
    keyring.answers = false;
    store.set("Login", "Password", "old");
    EXPECT_EQ(ReadLogin(store, keyring).password, "old");
    EXPECT_FALSE(store.contains("Login", "Password"));

    EXPECT_FALSE(WriteLogin(store, keyring, {"host", "me", "pw"}));
    EXPECT_EQ(store.get("Login", "Computer"), "host");
    EXPECT_EQ(store.get("Login", "UserName"), "me");
    for (const auto& [k, v] : store.all()) EXPECT_NE(v, "pw") << k;
}

TEST(Version, BlanksBeforeBuild) {
    EXPECT_NE(StatusBarVersionText().find(" Build:"), std::string::npos);
    EXPECT_EQ(StatusBarVersionText().find("  Build:"), std::string::npos);
    EXPECT_NE(AboutVersionText().find("  Build:"), std::string::npos);
    EXPECT_EQ(StatusBarVersionText().rfind("Version ", 0), 0u);
}
