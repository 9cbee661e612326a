#pragma once

#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <memory>

#include "app/frmMain.h"
#include "app/qt_stores.h"

namespace kestrane::app::testing {

// A keyring that never answers, as on a machine without a D-Bus session.
class DeadKeyring : public SecretStore {
public:
    std::optional<std::string> read(const std::string&) override { return std::nullopt; }
    bool write(const std::string&, const std::string&) override { return false; }
    bool remove(const std::string&) override { return false; }
};

// A main window over a settings file of its own in a temporary folder.
class WindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        iniPath_ = dir_.filePath("kestrane.ini");
        settings_ = QtSettingsStore::AtPath(iniPath_);
    }

    std::unique_ptr<frmMain> MakeWindow(wmi::Backends backends = {}) {
        if (!backends.local) backends.local = [] { return std::make_shared<wmi::EmptyProvider>(); };
        auto w = std::make_unique<frmMain>(*settings_, secrets_, std::move(backends));
        w->setMessageHook([this](QMessageBox::Icon icon, const QString& text, QMessageBox::StandardButtons) {
            messages_.push_back({icon, text});
            return answer_;
        });
        return w;
    }

    // Reopens the settings file, as the next run of the program would.
    void ReopenSettings() { settings_ = QtSettingsStore::AtPath(iniPath_); }

    struct Shown {
        QMessageBox::Icon icon;
        QString text;
    };
    QTemporaryDir dir_;
    QString iniPath_;
    std::unique_ptr<QtSettingsStore> settings_;
    MemorySecretStore secrets_;
    std::vector<Shown> messages_;
    QMessageBox::StandardButton answer_ = QMessageBox::Ok;
};

}  // namespace kestrane::app::testing
