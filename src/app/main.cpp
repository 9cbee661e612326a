#include <QApplication>
#include <QFileInfo>
#include <QIcon>

#include "app/frmMain.h"
#include "app/qt_stores.h"
#ifndef _WIN32
#include "app/remote_hooks.h"
#endif
#include "backends/backends.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    // Settings are addressed by the executable's base name, so a renamed
    // program starts with settings of its own.
    const QString appName = QFileInfo(QString::fromLocal8Bit(argv[0])).completeBaseName();
    QApplication::setApplicationName(appName);
    QApplication::setApplicationDisplayName("Kestrane");
    if (QIcon::themeName().isEmpty() || QIcon::themeName() == "hicolor") QIcon::setThemeName("Adwaita");
    try {
        kestrane::app::QtSettingsStore settings(appName);
        kestrane::app::FallbackSecretStore secrets(
            std::make_unique<kestrane::app::KeychainSecretStore>(appName));
#ifdef _WIN32
        // WMI itself answers for every computer (COM, DCOM).
        kestrane::app::frmMain form(settings, secrets, kestrane::DefaultBackends());
#else
        // The window's hooks are set once it exists; the back-end reads them
        // at each connection.
        auto ssh = std::make_shared<wmi::ssh::Options>();
        auto wsman = std::make_shared<wmi::wsman::Options>();
        kestrane::app::frmMain form(settings, secrets, kestrane::DefaultBackends("/", ssh, wsman));
        *ssh = *kestrane::app::WindowSshOptions(settings, &form);
        kestrane::app::SetWindowWsmanOptions(wsman, settings, &form);
#endif
        form.ShowThisForm();
        int rc = app.exec();
        kestrane::CloseAllRemoteSessions();
        return rc;
    } catch (...) {
        return 1;
    }
}
