#include <QApplication>
#include <QFileInfo>
#include <QTimer>
#include <QTreeWidget>
#include <QIcon>
#include <QMessageBox>

#include <cstdio>
#include <exception>

#include "qt/frmMain.h"
#include "qt/qt_stores.h"
#ifndef _WIN32
#include "qt/remote_hooks.h"
#endif
#include "backends/backends.h"
#include "window/snapshots.h"

namespace {

// A failure the window could not survive: said on standard error for a
// terminal and in a message box for a desktop start.
int Fail(const QString& what) {
    std::fprintf(stderr, "kestrane: %s\n", what.toLocal8Bit().constData());
    QMessageBox::critical(nullptr, QStringLiteral("Kestrane"), QStringLiteral("Kestrane stopped: %1").arg(what));
    return 1;
}

// For the start-up benchmark (bench/window-startup.sh): the program ends
// once the tree has been painted the first time.
class QuitAfterFirstPaint : public QObject {
public:
    using QObject::QObject;
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint && !done_) {
            done_ = true;
            QTimer::singleShot(0, qApp, &QApplication::quit);
        }
        return QObject::eventFilter(watched, event);
    }

private:
    bool done_ = false;
};

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    // Settings are addressed by the executable's base name, so a renamed
    // program starts with settings of its own.
    const QString appName = QFileInfo(QString::fromLocal8Bit(argv[0])).completeBaseName();
    QApplication::setApplicationName(appName);
    // No display name: the platform would add it to every window title,
    // which already names the program.
    if (QIcon::themeName().isEmpty() || QIcon::themeName() == "hicolor") QIcon::setThemeName("Adwaita");
    try {
        kestrane::qt::QtSettingsStore settings(appName);
        kestrane::qt::FallbackSecretStore secrets(
            std::make_unique<kestrane::qt::KeychainSecretStore>(appName));
#ifdef _WIN32
        // WMI itself answers for every computer (COM, DCOM).
        kestrane::qt::frmMain form(settings, secrets, kestrane::DefaultBackends());
#else
        // The window's hooks are set once it exists; the back-end reads them
        // at each connection.
        auto ssh = std::make_shared<wmi::ssh::Options>();
        auto wsman = std::make_shared<wmi::wsman::Options>();
        wmi::Backends backends = kestrane::DefaultBackends("/", ssh, wsman);
        if (backends.remote)
            backends.remote = kestrane::qt::ReadingRemoteCliFirst(std::move(backends.remote), ssh, settings);
        kestrane::qt::frmMain form(settings, secrets, std::move(backends));
        *ssh = *kestrane::qt::WindowSshOptions(settings, &form);
        kestrane::qt::SetWindowWsmanOptions(wsman, settings, &form);
#endif
        QuitAfterFirstPaint quitAfterPaint;
        if (qEnvironmentVariableIsSet("KESTRANE_QUIT_AFTER_FIRST_PAINT"))
            form.treMain()->viewport()->installEventFilter(&quitAfterPaint);
        form.ShowThisForm();
        // A snapshot file given by a file manager or on the command line.
        const QStringList args = QApplication::arguments();
        if (args.size() > 1 && kestrane::window::IsSnapshotPath(args.at(1).toStdString())) form.openSnapshotFile(args.at(1));
        int rc = app.exec();
        kestrane::CloseAllRemoteSessions();
        return rc;
    } catch (const wmi::Error& e) {
        return Fail(QString::fromStdString(e.displayText()));
    } catch (const std::exception& e) {
        return Fail(QString::fromLocal8Bit(e.what()));
    } catch (...) {
        return Fail(QStringLiteral("an unknown error"));
    }
}
