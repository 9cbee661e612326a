#pragma once

#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <functional>
#include <memory>

#include "qt/frmMain.h"
#include "qt/qt_stores.h"
#include "window/window_fixture.h"

namespace kestrane::qt::testing {

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

    // A shown window; `prepare` runs before it shows.
    std::unique_ptr<frmMain> MakeWindow(wmi::Backends backends = {}, SecretStore* secrets = nullptr,
                                        const std::function<void(frmMain&)>& prepare = {}) {
        if (!backends.local) backends.local = [] { return std::make_shared<wmi::EmptyProvider>(); };
        auto w = std::make_unique<frmMain>(*settings_, secrets ? *secrets : secrets_, std::move(backends));
        w->setMessageHook([this](QMessageBox::Icon icon, const QString& text, QMessageBox::StandardButtons) {
            messages_.push_back({icon, text});
            return answer_;
        });
        if (prepare) prepare(*w);
        w->ShowThisForm();
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

// A shown main window over a fake computer with three disks, one processor
// and an empty class of fans; other computers refuse the login.
class ComputerTest : public WindowTest {
protected:
    void SetUp() override {
        WindowTest::SetUp();
        kestrane::window::testing::FillComputer(*pc, false);
        wmi::Backends b;
        b.local = [this] {
            ++connections;
            return pc;
        };
        b.remote = [](const std::string&, const std::string&, const std::string&) -> std::shared_ptr<wmi::Provider> {
            throw wmi::MakeError(wmi::E_ACCESSDENIED_WIN32, "SWbemLocator");
        };
        w = MakeWindow(b);
    }

    int Node(const char* key) { return w->tree().find(key); }
    void List(const char* key, bool horizontal) {
        if (horizontal)
            w->mnuViewHorizontal_Click();
        else
            w->mnuViewVertical_Click();
        w->treMain_NodeClick(Node(key));
    }

    std::shared_ptr<kestrane::testing::FakeComputer> pc = std::make_shared<kestrane::testing::FakeComputer>();
    std::unique_ptr<frmMain> w;
    int connections = 0;
};

}  // namespace kestrane::qt::testing
