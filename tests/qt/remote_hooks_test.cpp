#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>
#include <vector>

#include "qt/qt_stores.h"
#include "qt/remote_hooks.h"

using namespace kestrane::qt;
namespace ssh = wmi::ssh;

namespace {

ssh::HostKeyQuestion Question() {
    return {"web01.example.org", 2222, "ssh-ed25519", "SHA256:47DEQpj8HBSa+/TImW+5JCeuQeRkm5NMpJWZG3hSuFU",
            "/home/me/.ssh/known_hosts"};
}

// Presses the named button of the question box as soon as it shows, or Esc.
void Press(const QString& button) {
    QTimer::singleShot(0, [button] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) {
                if (button.isEmpty())
                    box->reject();
                else
                    box->findChild<QPushButton*>(button)->click();
            }
    });
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

    using enum ssh::HostKeyChoice;
    const std::pair<const char*, ssh::HostKeyChoice> answers[] = {
        {"hostKeyConnectOnce", ConnectOnce}, {"hostKeyRemember", Remember}, {"hostKeyCancel", Refuse}, {"", Refuse}};
    for (const auto& [button, choice] : answers) {
        Press(button);
        EXPECT_EQ(AskHostKey(&parent, Question()), choice) << button;
    }
}

TEST(HostKeyQuestion, TheRemoteProgramIsReadFromTheSettingsFileAtEachConnection) {
    QTemporaryDir dir;
    const QString ini = dir.filePath("k.ini");
    auto settings = QtSettingsStore::AtPath(ini);
    QWidget window;
    auto o = WindowSshOptions(*settings, &window);
    EXPECT_EQ(o->remoteCli, "kestrane-cli");
    EXPECT_TRUE(o->unknownHost);
    EXPECT_TRUE(o->whileWaiting);
    std::vector<std::string> used;
    auto remote = ReadingRemoteCliFirst(
        [&](const std::string&, const std::string&, const std::string&) -> std::shared_ptr<wmi::Provider> {
            used.push_back(o->remoteCli + " | " + o->remoteCliWhere);
            return nullptr;
        },
        o, *settings);
    // The user edits the file while the window runs; the next connection
    // uses the new path, and a missing program's message names that file.
    {
        auto editor = QtSettingsStore::AtPath(ini);
        editor->set(kRemoteSection, kRemoteCliKey, "/opt/kestrane/bin/kestrane-cli");
        ASSERT_TRUE(editor->sync());
    }
    remote("server7", "", "");
    ASSERT_EQ(used.size(), 1u);
    EXPECT_EQ(used[0], "/opt/kestrane/bin/kestrane-cli | Remote/CliPath in " + ini.toStdString());
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

    Press("hostKeyRemember");
    EXPECT_EQ(o->untrustedCertificate(q), wmi::wsman::CertificateChoice::Remember);
    EXPECT_EQ(settings->get(kTrustedCertificatesSection, "win01:5986"), q.fingerprint);
    EXPECT_EQ(o->trustedCertificates.count("win01:5986"), 1u);
}
