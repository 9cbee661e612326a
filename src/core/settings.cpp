#include "core/settings.h"

#include <charconv>
#include <cmath>

#include "wmi/value.h"

namespace kestrane {

std::string MemorySettingsStore::get(const std::string& section, const std::string& key) const {
    auto it = values_.find(section + "/" + key);
    return it == values_.end() ? std::string() : it->second;
}

bool MemorySettingsStore::contains(const std::string& section, const std::string& key) const {
    return values_.count(section + "/" + key) != 0;
}

void MemorySettingsStore::set(const std::string& section, const std::string& key, const std::string& value) {
    values_[section + "/" + key] = value;
}

void MemorySettingsStore::remove(const std::string& section, const std::string& key) {
    values_.erase(section + "/" + key);
}

namespace {

// Halves to even, as the stored texts were always rounded.
std::optional<double> RoundedInRange(const std::string& text, double lo, double hi) {
    double d = wmi::LeadingNumber(text);
    if (!std::isfinite(d)) return std::nullopt;
    double r = std::nearbyint(d);
    if (r < lo || r > hi) return std::nullopt;
    return r;
}

}  // namespace

std::optional<std::int16_t> ReadInt16(const std::string& text) {
    auto r = RoundedInRange(text, -32768, 32767);
    if (!r) return std::nullopt;
    return static_cast<std::int16_t>(*r);
}

std::optional<std::uint8_t> ReadUInt8(const std::string& text) {
    auto r = RoundedInRange(text, 0, 255);
    if (!r) return std::nullopt;
    return static_cast<std::uint8_t>(*r);
}

float ReadSingle(const std::string& text) {
    double d = wmi::LeadingNumber(text);
    float f = static_cast<float>(d);
    return std::isfinite(f) ? f : 0.0f;
}

std::string WriteInteger(long value) { return std::to_string(value); }

std::string WriteSingle(float value) {
    if (!std::isfinite(value)) return "0";
    if (value == 0) return "0";
    char buf[64];
    auto res = std::to_chars(buf, buf + sizeof buf, value);
    std::string s(buf, res.ptr);
    return s;
}

StartupSettings ReadStartupSettings(const SettingsStore& store) {
    StartupSettings s;
    auto state = ReadInt16(store.get("Console", "State"));
    if (state && *state >= 0 && *state <= 2) s.state = static_cast<WindowState>(*state);
    if (s.state == WindowState::Normal) {
        auto h = ReadInt16(store.get("Console", "Height"));
        if (h && *h > 0) s.height = *h;
        auto w = ReadInt16(store.get("Console", "Width"));
        if (w && *w > 0) s.width = *w;
    }
    auto left = ReadInt16(store.get("LeftPane", "Width"));
    s.leftPaneWidth = (left && *left > 0) ? *left : 3700;
    if (s.leftPaneWidth < 2000) s.leftPaneWidth = 2000;
    s.rightPaneWidth = std::max(0.0f, ReadSingle(store.get("RightPane", "Width")));
    s.dataWidth = std::max(0.0f, ReadSingle(store.get("RightPane", "DataWidth")));
    auto level = ReadUInt8(store.get("View", "Level"));
    s.level = (level && *level >= 1 && *level <= 3) ? *level : 1;
    return s;
}

void WriteShutdownSettings(SettingsStore& store, const ShutdownValues& v) {
    store.set("Console", "State", WriteInteger(static_cast<long>(v.state)));
    if (v.state == WindowState::Normal) {
        store.set("Console", "Width", WriteSingle(static_cast<float>(v.width)));
        store.set("Console", "Height", WriteSingle(static_cast<float>(v.height)));
    }
    store.set("LeftPane", "Width", WriteSingle(static_cast<float>(v.leftPaneWidth)));
    store.set("RightPane", "Width", WriteSingle(static_cast<float>(v.rightPaneWidth)));
    store.set("RightPane", "DataWidth", WriteSingle(static_cast<float>(v.dataWidth)));
}

void WriteLevel(SettingsStore& store, int level) { store.set("View", "Level", WriteInteger(level)); }

Login ReadLogin(SettingsStore& store, SecretStore& secrets) {
    Login l;
    l.computer = store.get("Login", "Computer");
    l.userName = store.get("Login", "UserName");
    if (store.contains("Login", "Password")) {
        l.password = store.get("Login", "Password");
        if (!l.password.empty()) secrets.write(kPasswordSecretKey, l.password);
        store.remove("Login", "Password");
        store.sync();
    } else if (!l.computer.empty()) {
        // This computer needs no password; the keyring is not asked (it may
        // be slow to answer, or ask the user to unlock it).
        l.password = secrets.read(kPasswordSecretKey).value_or("");
    }
    return l;
}

bool WriteLogin(SettingsStore& store, SecretStore& secrets, const Login& login) {
    store.set("Login", "Computer", login.computer);
    store.set("Login", "UserName", login.userName);
    store.remove("Login", "Password");
    bool kept = login.password.empty() ? (secrets.remove(kPasswordSecretKey), true)
                                       : secrets.write(kPasswordSecretKey, login.password);
    store.sync();
    return kept;
}

}  // namespace kestrane
