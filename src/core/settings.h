// The per-user settings: the store's interface, the rules that turn stored
// texts into numbers and back, and the start-up and shutdown values.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace kestrane {

class SettingsStore {
public:
    virtual ~SettingsStore() = default;
    // "" when the key is absent.
    virtual std::string get(const std::string& section, const std::string& key) const = 0;
    virtual bool contains(const std::string& section, const std::string& key) const = 0;
    virtual void set(const std::string& section, const std::string& key, const std::string& value) = 0;
    virtual void remove(const std::string& section, const std::string& key) = 0;
    // The keys a section holds.
    virtual std::vector<std::string> keys(const std::string& /*section*/) const { return {}; }
    // Makes what was written durable; returns false when it could not.
    virtual bool sync() { return true; }
    // Where the settings are kept, for messages; "" when there is no file.
    virtual std::string location() const { return {}; }
};

// Where passwords live instead: the operating system's keyring.
class SecretStore {
public:
    virtual ~SecretStore() = default;
    // The secret, "" when there is none; nullopt when no keyring answers.
    virtual std::optional<std::string> read(const std::string& key) = 0;
    // False when no keyring took it.
    virtual bool write(const std::string& key, const std::string& secret) = 0;
    virtual bool remove(const std::string& key) = 0;
};

class MemorySettingsStore : public SettingsStore {
public:
    std::string get(const std::string& section, const std::string& key) const override;
    bool contains(const std::string& section, const std::string& key) const override;
    void set(const std::string& section, const std::string& key, const std::string& value) override;
    void remove(const std::string& section, const std::string& key) override;
    const std::map<std::string, std::string>& all() const { return values_; }

private:
    std::map<std::string, std::string> values_;  // "section/key" -> value
};

// Read rules ---------------------------------------------------------------
// The longest numeric prefix after leading blanks, 0 when there is none,
// rounded halves-to-even; nullopt when the result does not fit.
std::optional<std::int16_t> ReadInt16(const std::string& text);
std::optional<std::uint8_t> ReadUInt8(const std::string& text);
// Single precision; 0 for what is not a finite number.
float ReadSingle(const std::string& text);

// Write rules --------------------------------------------------------------
std::string WriteInteger(long value);
// The shortest decimal text that reads back as the same single.
std::string WriteSingle(float value);

enum class WindowState { Normal = 0, Minimized = 1, Maximized = 2 };

struct StartupSettings {
    WindowState state = WindowState::Normal;
    std::optional<int> width;   // twips, only when stored and > 0
    std::optional<int> height;  // twips, only when stored and > 0
    int leftPaneWidth = 3700;   // twips
    float rightPaneWidth = 0;   // twips
    float dataWidth = 0;        // twips
    std::uint8_t level = 1;
};

// The window's settings with their fall-backs; out-of-range texts get safe
// answers (see docs/settings.md).
StartupSettings ReadStartupSettings(const SettingsStore& store);

struct ShutdownValues {
    WindowState state = WindowState::Normal;
    double width = 0, height = 0;  // twips, written only for a normal window
    double leftPaneWidth = 0, rightPaneWidth = 0, dataWidth = 0;
};
void WriteShutdownSettings(SettingsStore& store, const ShutdownValues& v);

void WriteLevel(SettingsStore& store, int level);

struct Login {
    std::string computer, userName, password;
};

inline constexpr const char* kPasswordSecretKey = "Login/Password";

// Reads the login. A password still in the settings (from an older version)
// is moved to the keyring and removed from the settings either way; when no
// keyring answers it is kept for this run only.
Login ReadLogin(SettingsStore& store, SecretStore& secrets);
// Stores the login: names in the settings, the password in the keyring
// only. Returns false when no keyring took the password (it then lives in
// memory for this run).
bool WriteLogin(SettingsStore& store, SecretStore& secrets, const Login& login);

}  // namespace kestrane
