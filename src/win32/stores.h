// Where the Windows window keeps what outlives a run: the settings in an INI
// file under %APPDATA%, the password in Windows Credential Manager.
#pragma once

#include <map>
#include <optional>
#include <string>

#include "core/settings.h"

namespace kestrane::win32 {

// [Section] and key=value lines, as QSettings writes them for the same keys.
// Loading keeps what it cannot read out of the way rather than failing.
class IniSettingsStore : public SettingsStore {
public:
    // The file %APPDATA%\Kestrane\<name>.ini.
    static std::wstring DefaultPath(const std::wstring& name);
    explicit IniSettingsStore(std::wstring path);

    std::string get(const std::string& section, const std::string& key) const override;
    bool contains(const std::string& section, const std::string& key) const override;
    void set(const std::string& section, const std::string& key, const std::string& value) override;
    void remove(const std::string& section, const std::string& key) override;
    std::vector<std::string> keys(const std::string& section) const override;
    // Writes a temporary file beside the settings and renames it over them,
    // so a failed write leaves the old settings whole.
    bool sync() override;
    std::string location() const override;

    // The INI text of a map of "Section/key" -> value, and back.
    static std::string Serialize(const std::map<std::string, std::string>& values);
    static std::map<std::string, std::string> Parse(const std::string& text);

private:
    std::wstring path_;
    std::map<std::string, std::string> values_;
    bool dirty_ = false;
};

// Generic credentials named "Kestrane:<key>", for this user on this computer.
// Where Credential Manager refuses, the secret lives in memory for this run.
class CredentialSecretStore : public SecretStore {
public:
    std::optional<std::string> read(const std::string& key) override;
    bool write(const std::string& key, const std::string& secret) override;
    bool remove(const std::string& key) override;

private:
    std::map<std::string, std::string> memory_;
};

}  // namespace kestrane::win32
