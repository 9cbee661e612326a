#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>

#include "app/qt_stores.h"
#include "app/remote_hooks.h"

using namespace kestrane::app;
namespace ssh = wmi::ssh;

namespace {

ssh::HostKeyQuestion Question() {
    return {"web01.example.org", 2222, "ssh-ed25519", "SHA256:47DEQpj8HBSa+/TImW+5JCeuQeRkm5NMpJWZG3hSuFU",
            "/home/me/.ssh/known_hosts"};
}

// Answers the question box as soon as it shows, with the named button or Esc.
ssh::HostKeyChoice Answer(const QString& button) {
    QWidget parent;
    QTimer::singleShot(0, [button] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            auto* box = qobject_cast<QMessageBox*>(w);
            if (!box || !box->isVisible()) continue;
            if (button.isEmpty())
                box->reject();
            else
                box->findChild<QPushButton*>(button)->click();
        }
    });
    return AskHostKey(&parent, Question());
}

}  // namespace

TEST(HostKeyQuestion, ShowsTheKeyAndOffersOnceRememberAndCancel) {
    QWidget parent;
    QMessageBox* box = MakeHostKeyBox(&parent, Question());
    EXPECT_EQ(box->windowTitle(), "Kestrane");
    EXPECT_TRUE(box->text().contains("web01.example.org port 2222"));
    EXPECT_TRUE(box->informativeText().contains("ssh-ed25519"));
    EXPECT_TRUE(box->informativeText().contains(QString::fromStdString(Question().fingerprint)));
    EXPECT_EQ(box->defaultButton()->objectName(), "hostKeyCancel");
    delete box;

    EXPECT_EQ(Answer("hostKeyConnectOnce"), ssh::HostKeyChoice::ConnectOnce);
    EXPECT_EQ(Answer("hostKeyRemember"), ssh::HostKeyChoice::Remember);
    EXPECT_EQ(Answer("hostKeyCancel"), ssh::HostKeyChoice::Refuse);
    EXPECT_EQ(Answer(""), ssh::HostKeyChoice::Refuse);
}

TEST(HostKeyQuestion, TheRemoteProgramComesFromTheSettings) {
    QTemporaryDir dir;
    auto settings = QtSettingsStore::AtPath(dir.filePath("k.ini"));
    QWidget window;
    EXPECT_EQ(WindowSshOptions(*settings, &window)->remoteCli, "kestrane-cli");
    settings->set(kRemoteSection, kRemoteCliKey, "/opt/kestrane/bin/kestrane-cli");
    auto o = WindowSshOptions(*settings, &window);
    EXPECT_EQ(o->remoteCli, "/opt/kestrane/bin/kestrane-cli");
    EXPECT_TRUE(o->unknownHost);
    EXPECT_TRUE(o->whileWaiting);
}

TEST(CertificateQuestion, RememberKeepsTheFingerprintForThatComputer) {
    QTemporaryDir dir;
    auto settings = QtSettingsStore::AtPath(dir.filePath("k.ini"));
    settings->set(kTrustedCertificatesSection, "old.example:5986", "SHA256:" + std::string(64, 'A'));
    settings->set(kTrustedCertificatesSection, "junk.example:5986", "not a fingerprint");
    QWidget window;
    auto o = std::make_shared<wmi::wsman::Options>();
    SetWindowWsmanOptions(o, *settings, &window);
    EXPECT_EQ(o->trustedCertificates.size(), 1u);
    EXPECT_EQ(o->trustedCertificates.count("old.example:5986"), 1u);

    wmi::wsman::CertificateQuestion q{"win01", 5986, "SHA256:" + std::string(64, 'B'), "self-signed certificate"};
    QMessageBox* box = MakeCertificateBox(&window, q);
    EXPECT_EQ(box->windowTitle(), "Kestrane");
    EXPECT_TRUE(box->informativeText().contains(QString::fromStdString(q.fingerprint)));
    EXPECT_EQ(box->defaultButton()->objectName(), "hostKeyCancel");
    delete box;

    QTimer::singleShot(0, [] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* b = qobject_cast<QMessageBox*>(w); b && b->isVisible())
                b->findChild<QPushButton*>("hostKeyRemember")->click();
    });
    EXPECT_EQ(o->untrustedCertificate(q), wmi::wsman::CertificateChoice::Remember);
    EXPECT_EQ(settings->get(kTrustedCertificatesSection, "win01:5986"), q.fingerprint);
    EXPECT_EQ(o->trustedCertificates.count("win01:5986"), 1u);
}
