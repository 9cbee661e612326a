#include <QApplication>
#include <QFileInfo>
#include <QIcon>

#include "app/frmMain.h"
#include "app/qt_stores.h"
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
        kestrane::app::frmMain form(settings, secrets, kestrane::DefaultBackends());
        form.ShowThisForm();
        return app.exec();
    } catch (...) {
        return 1;
    }
}
