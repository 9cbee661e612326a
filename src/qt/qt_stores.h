// The settings store and the keyring as the desktop provides them.
#pragma once

#include <QSettings>
#include <QString>
#include <memory>

#include "core/settings.h"

namespace kestrane::qt {

// Per-user INI settings addressed by the executable's base name.
class QtSettingsStore : public SettingsStore {
public:
    explicit QtSettingsStore(const QString& applicationName);
    // A store in a given file (tests).
    static std::unique_ptr<QtSettingsStore> AtPath(const QString& iniPath);

    std::string get(const std::string& section, const std::string& key) const override;
    bool contains(const std::string& section, const std::string& key) const override;
    void set(const std::string& section, const std::string& key, const std::string& value) override;
    void remove(const std::string& section, const std::string& key) override;
    std::vector<std::string> keys(const std::string& section) const override;
    bool sync() override;
    std::string location() const override { return fileName().toStdString(); }
    QString fileName() const { return settings_->fileName(); }

private:
    QtSettingsStore() = default;
    std::unique_ptr<QSettings> settings_;
};

// The operating system's keyring through QtKeychain. Without a D-Bus session
// its jobs fail at once, which counts as "no keyring".
class KeychainSecretStore : public SecretStore {
public:
    explicit KeychainSecretStore(const QString& service) : service_(service) {}
    std::optional<std::string> read(const std::string& key) override;
    bool write(const std::string& key, const std::string& secret) override;
    bool remove(const std::string& key) override;

private:
    QString service_;
};

// A keyring that keeps secrets for this run only.
class MemorySecretStore : public SecretStore {
public:
    std::optional<std::string> read(const std::string& key) override;
    bool write(const std::string& key, const std::string& secret) override;
    bool remove(const std::string& key) override;

private:
    std::map<std::string, std::string> secrets_;
};

// The keyring with an in-memory fall-back for when it does not answer.
class FallbackSecretStore : public SecretStore {
public:
    FallbackSecretStore(std::unique_ptr<SecretStore> primary) : primary_(std::move(primary)) {}
    std::optional<std::string> read(const std::string& key) override;
    bool write(const std::string& key, const std::string& secret) override;
    bool remove(const std::string& key) override;

private:
    std::unique_ptr<SecretStore> primary_;
    MemorySecretStore memory_;
};

}  // namespace kestrane::qt
