#include "qt/remote_hooks.h"

#include "backends/backends.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTimer>

namespace kestrane::qt {

namespace {

// Connect Once / Remember / Cancel, with the object names the tests use.
void AddChoices(QMessageBox* box) {
    QPushButton* once = box->addButton("Connect Once", QMessageBox::AcceptRole);
    QPushButton* remember = box->addButton("Remember", QMessageBox::YesRole);
    QPushButton* cancel = box->addButton("Cancel", QMessageBox::RejectRole);
    once->setObjectName("hostKeyConnectOnce");
    remember->setObjectName("hostKeyRemember");
    cancel->setObjectName("hostKeyCancel");
    box->setDefaultButton(cancel);
    box->setEscapeButton(cancel);
    // Wide enough that a fingerprint stays on one line (the icon keeps its size).
    box->setStyleSheet("QLabel#qt_msgbox_label, QLabel#qt_msgbox_informativelabel { min-width: 32em; }");
}

// 0 refused, 1 once, 2 remember.
int Choice(QMessageBox* created) {
    QPointer<QMessageBox> box = created;
    box->exec();
    int choice = 0;
    if (box) {
        QAbstractButton* b = box->clickedButton();
        if (b && b->objectName() == "hostKeyConnectOnce") choice = 1;
        if (b && b->objectName() == "hostKeyRemember") choice = 2;
        delete box;
    }
    return choice;
}

}  // namespace

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
    AddChoices(box);
    return box;
}

wmi::ssh::HostKeyChoice AskHostKey(QWidget* parent, const wmi::ssh::HostKeyQuestion& q) {
    switch (Choice(MakeHostKeyBox(parent, q))) {
    case 1: return wmi::ssh::HostKeyChoice::ConnectOnce;
    case 2: return wmi::ssh::HostKeyChoice::Remember;
    default: return wmi::ssh::HostKeyChoice::Refuse;
    }
}


QMessageBox* MakeCertificateBox(QWidget* parent, const wmi::wsman::CertificateQuestion& q) {
    auto* box = new QMessageBox(parent);
    box->setWindowTitle("Kestrane");
    box->setIcon(QMessageBox::Warning);
    box->setTextFormat(Qt::PlainText);
    box->setText(QString("The certificate of %1 port %2 is not trusted by this computer.")
                     .arg(QString::fromStdString(q.host))
                     .arg(q.port));
    box->setInformativeText(QString("%1\n\nIts SHA-256 fingerprint is\n%2\n\nConnect only if this is the "
                                    "fingerprint of that computer's certificate. Remember keeps it for this computer "
                                    "in Kestrane's settings.")
                                .arg(QString::fromStdString(q.reason), QString::fromStdString(q.fingerprint)));
    AddChoices(box);
    return box;
}

wmi::wsman::CertificateChoice AskCertificate(QWidget* parent, const wmi::wsman::CertificateQuestion& q) {
    switch (Choice(MakeCertificateBox(parent, q))) {
    case 1: return wmi::wsman::CertificateChoice::TrustOnce;
    case 2: return wmi::wsman::CertificateChoice::Remember;
    default: return wmi::wsman::CertificateChoice::Refuse;
    }
}

void SetWindowWsmanOptions(const std::shared_ptr<wmi::wsman::Options>& o, SettingsStore& settings,
                           QWidget* window) {
    for (const std::string& key : settings.keys(kTrustedCertificatesSection))
        if (auto fp = wmi::wsman::ParseFingerprint(settings.get(kTrustedCertificatesSection, key)))
            o->trustedCertificates[key] = *fp;
    QPointer<QWidget> parent = window;
    std::weak_ptr<wmi::wsman::Options> self = o;
    o->untrustedCertificate = [parent, self, &settings](const wmi::wsman::CertificateQuestion& q) {
        auto choice = AskCertificate(parent, q);
        if (choice == wmi::wsman::CertificateChoice::Remember) {
            const std::string key = q.host + ":" + std::to_string(q.port);
            settings.set(kTrustedCertificatesSection, key, q.fingerprint);
            settings.sync();
            if (auto opts = self.lock())
                if (auto fp = wmi::wsman::ParseFingerprint(q.fingerprint)) opts->trustedCertificates[key] = *fp;
        }
        return choice;
    };
    o->whileWaiting = [] { QCoreApplication::processEvents(QEventLoop::AllEvents, 20); };
}

void ReadRemoteCli(wmi::ssh::Options& o, SettingsStore& settings) {
    settings.sync();  // also takes in what was changed in the file since
    const std::string cli = settings.get(kRemoteSection, kRemoteCliKey);
    o.remoteCli = cli.empty() ? wmi::ssh::Options().remoteCli : cli;
    const std::string file = settings.location();
    if (!file.empty()) o.remoteCliWhere = std::string(kRemoteSection) + "/" + kRemoteCliKey + " in " + file;
}

RemoteBackend ReadingRemoteCliFirst(RemoteBackend remote, std::shared_ptr<wmi::ssh::Options> options,
                                    SettingsStore& settings) {
    return [remote = std::move(remote), options, &settings](const std::string& server, const std::string& user,
                                                            const std::string& password) {
        ReadRemoteCli(*options, settings);
        return remote(server, user, password);
    };
}

std::shared_ptr<wmi::ssh::Options> WindowSshOptions(SettingsStore& settings, QWidget* window) {
    auto o = std::make_shared<wmi::ssh::Options>();
    ReadRemoteCli(*o, settings);
    QPointer<QWidget> parent = window;
    o->unknownHost = [parent](const wmi::ssh::HostKeyQuestion& q) { return AskHostKey(parent, q); };
    o->whileWaiting = [] { QCoreApplication::processEvents(QEventLoop::AllEvents, 20); };
    auto* timer = new QTimer(window);
    QObject::connect(timer, &QTimer::timeout, [] { kestrane::CloseIdleRemoteSessions(); });
    timer->start(10000);
    return o;
}

}  // namespace kestrane::qt
