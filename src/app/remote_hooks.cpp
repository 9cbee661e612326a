#include "app/remote_hooks.h"

#include "backends/backends.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTimer>

namespace kestrane::app {

QMessageBox* MakeHostKeyBox(QWidget* parent, const wmi::ssh::HostKeyQuestion& q) {
    auto* box = new QMessageBox(parent);
    box->setWindowTitle("Kestrane");
    box->setIcon(QMessageBox::Warning);
    const QString host = q.port == 22 ? QString::fromStdString(q.host)
                                      : QString("%1 port %2").arg(QString::fromStdString(q.host)).arg(q.port);
    box->setText(QString("The host key of %1 is not known yet.").arg(host));
    box->setTextFormat(Qt::PlainText);
    box->setInformativeText(QString("Its %1 key fingerprint is\n%2\n\nConnect only if this is the fingerprint of "
                                    "that computer's key. Remember records the key in %3, which ssh shares.")
                                .arg(QString::fromStdString(q.keyType), QString::fromStdString(q.fingerprint),
                                     QString::fromStdString(q.knownHostsPath)));
    QPushButton* once = box->addButton("Connect Once", QMessageBox::AcceptRole);
    QPushButton* remember = box->addButton("Remember", QMessageBox::YesRole);
    QPushButton* cancel = box->addButton("Cancel", QMessageBox::RejectRole);
    once->setObjectName("hostKeyConnectOnce");
    remember->setObjectName("hostKeyRemember");
    cancel->setObjectName("hostKeyCancel");
    box->setDefaultButton(cancel);
    // Wide enough that the fingerprint stays on one line.
    box->setStyleSheet("QLabel { min-width: 34em; }");
    box->setEscapeButton(cancel);
    return box;
}

wmi::ssh::HostKeyChoice AskHostKey(QWidget* parent, const wmi::ssh::HostKeyQuestion& q) {
    QPointer<QMessageBox> box = MakeHostKeyBox(parent, q);
    box->exec();
    wmi::ssh::HostKeyChoice choice = wmi::ssh::HostKeyChoice::Refuse;
    if (box) {
        QAbstractButton* b = box->clickedButton();
        if (b && b->objectName() == "hostKeyConnectOnce") choice = wmi::ssh::HostKeyChoice::ConnectOnce;
        if (b && b->objectName() == "hostKeyRemember") choice = wmi::ssh::HostKeyChoice::Remember;
        delete box;
    }
    return choice;
}

std::shared_ptr<wmi::ssh::Options> WindowSshOptions(const SettingsStore& settings, QWidget* window) {
    auto o = std::make_shared<wmi::ssh::Options>();
    const std::string cli = settings.get(kRemoteSection, kRemoteCliKey);
    if (!cli.empty()) o->remoteCli = cli;
    QPointer<QWidget> parent = window;
    o->unknownHost = [parent](const wmi::ssh::HostKeyQuestion& q) { return AskHostKey(parent, q); };
    o->whileWaiting = [] { QCoreApplication::processEvents(QEventLoop::AllEvents, 20); };
    auto* timer = new QTimer(window);
    QObject::connect(timer, &QTimer::timeout, [] { kestrane::CloseIdleRemoteSessions(); });
    timer->start(10000);
    return o;
}

}  // namespace kestrane::app
