#include <QAction>
#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QStackedWidget>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QTableView>
#include <QTreeWidget>

#include "app/frmSystemCredentials.h"
#include "app_fixture.h"
#include "catalogue/catalogue.h"
#include "listing/fake_computer.h"

using namespace kestrane;
using namespace kestrane::app;
using kestrane::app::testing::WindowTest;
using kestrane::testing::Decl;
using kestrane::testing::FakeComputer;

namespace {

class SelectionTest : public WindowTest {
protected:
    std::shared_ptr<FakeComputer> pc = std::make_shared<FakeComputer>();
    std::unique_ptr<frmMain> w;
    std::vector<std::string> remoteCalls;

    void SetUp() override {
        WindowTest::SetUp();
        pc->define("Win32_DiskDrive", {Decl("Model", 8), Decl("Name", 8), Decl("Size", 21)});
        pc->add("Win32_DiskDrive", {{"Name", "disk0"}, {"Model", "M1"}, {"Size", "1024"}});
        pc->add("Win32_DiskDrive", {{"Name", "disk1"}, {"Model", "M2"}});
        wmi::Backends b;
        b.local = [this] { return pc; };
        b.remote = [this](const std::string& server, const std::string& user,
                          const std::string&) -> std::shared_ptr<wmi::Provider> {
            remoteCalls.push_back(server + "/" + user);
            throw wmi::MakeError(wmi::E_ACCESSDENIED_WIN32, "SWbemLocator");
        };
        w = MakeWindow(b);
        w->ShowThisForm();
    }

    int Node(const char* key) { return w->tree().find(key); }
};

}  // namespace

TEST_F(SelectionTest, CategoryShowsItsChildrenAndDoubleClickOpensOne) {
    w->treMain_NodeClick(Node("Mass Storage"));
    EXPECT_EQ(w->listMode(), 0);
    ASSERT_EQ(w->list().rowCount(), 7u);
    EXPECT_EQ(w->list().row(2).key, "Win32_DiskDrive");
    EXPECT_EQ(w->list().row(2).text, "Disk Drive");
    EXPECT_EQ(w->list().row(2).icon, "HDD");
    EXPECT_EQ(w->statusPanel(0)->text(), "Mass Storage");
    EXPECT_TRUE(w->treMain()->isEnabled());
    EXPECT_TRUE(w->lvwMain()->isEnabled());

    QModelIndex idx = w->lvwIcons()->model()->index(2, 0);
    w->lvwIcons()->setCurrentIndex(idx);
    w->lvwMain_DblClick();
    EXPECT_EQ(w->treMain()->currentItem()->text(0), "Disk Drive");
    EXPECT_EQ(w->listMode(), 3);
    EXPECT_EQ(w->list().row(0).key, "Win32_DiskDrive1");
    EXPECT_EQ(w->lblListedCount()->text(), "Listed 2");
    EXPECT_EQ(w->statusPanel(0)->text(), "Disk Drive");
    EXPECT_FALSE(w->picMain()->isVisible());

    // A row without a node of its key does nothing.
    w->lvwReport()->setCurrentIndex(w->lvwReport()->model()->index(1, 0));
    std::size_t rows = w->list().rowCount();
    w->lvwMain_DblClick();
    EXPECT_EQ(w->list().rowCount(), rows);
    EXPECT_TRUE(messages_.empty());
}

TEST_F(SelectionTest, MissingClassSaysNotSupported) {
    w->treMain_NodeClick(Node("Win32_Keyboard"));
    ASSERT_EQ(messages_.size(), 1u);
    EXPECT_EQ(messages_[0].text, "This feature is NOT supported by the computer...!");
    EXPECT_EQ(messages_[0].icon, QMessageBox::Warning);
    EXPECT_TRUE(w->treMain()->isEnabled());
    EXPECT_TRUE(w->lvwMain()->isEnabled());
    EXPECT_FALSE(w->picMain()->isVisible());
    EXPECT_FALSE(w->busy());
}

TEST_F(SelectionTest, OtherErrorsShowNumberAndDescription) {
    w->state().gstrComputer = "server9";
    w->state().gstrUserName = "admin";
    w->treMain_NodeClick(Node("Win32_DiskDrive"));
    ASSERT_EQ(messages_.size(), 1u);
    EXPECT_EQ(messages_[0].text, "-2147024891:Access is denied.");
    EXPECT_EQ(messages_[0].icon, QMessageBox::Critical);
    EXPECT_EQ(remoteCalls, (std::vector<std::string>{"server9/admin"}));
    EXPECT_TRUE(w->treMain()->isEnabled());

    // Without a remote back-end a named computer is unreachable.
    messages_.clear();
    wmi::Backends b;
    b.local = [this] { return pc; };
    auto w2 = MakeWindow(b);
    w2->ShowThisForm();
    w2->state().gstrComputer = "far-away";
    w2->treMain_NodeClick(w2->tree().find("Win32_DiskDrive"));
    ASSERT_EQ(messages_.size(), 1u);
    EXPECT_EQ(messages_[0].text, "-2147023174:The RPC server is unavailable.");
}

TEST_F(SelectionTest, RootSummaryAfterAHorizontalListingHasNameAndValue) {
    w->mnuViewHorizontal_Click();
    w->treMain_NodeClick(Node("Win32_DiskDrive"));
    EXPECT_EQ(w->list().columns().size(), 3u);
    EXPECT_EQ(w->list().row(1).key, "Val2");
    // The summary button selects the root from anywhere.
    QAction* summary = w->tlbMain()->actions()[0];
    summary->trigger();
    EXPECT_EQ(w->treMain()->currentItem(), w->treMain()->topLevelItem(0));
    ASSERT_EQ(w->list().columns().size(), 2u);
    EXPECT_EQ(w->list().columns()[1].caption, "Value");
    EXPECT_EQ(w->list().row(0).text, "Computer");
    // The fake computer lacks Win32_ComputerSystem: the summary stops there.
    ASSERT_EQ(messages_.size(), 1u);
    EXPECT_EQ(messages_[0].icon, QMessageBox::Warning);
}

TEST_F(SelectionTest, RefreshRepeatsTheSelectionInTheCurrentOrientation) {
    w->treMain_NodeClick(Node("Win32_DiskDrive"));
    EXPECT_EQ(w->list().rowCount(), 9u);  // disk0: header, Name, Model, Size, spacer; disk1 has no Size
    w->mnuViewHorizontal_Click();
    EXPECT_EQ(w->list().row(0).key, "Win32_DiskDrive1");  // the list is not redrawn
    w->mnuViewRefresh_Click();
    EXPECT_EQ(w->list().rowCount(), 2u);
    EXPECT_EQ(w->list().row(0).key, "Val1");
}

TEST_F(SelectionTest, SubToolBarButtonsOpenTheirCategory) {
    for (QAction* a : w->tlbMainSub2()->actions())
        if (a->toolTip() == "Users") a->trigger();
    EXPECT_EQ(w->treMain()->currentItem()->text(0), "Users");
    EXPECT_EQ(w->listMode(), 0);
    EXPECT_EQ(w->list().rowCount(), 9u);
}

TEST_F(SelectionTest, CancelKeepsTheRowsListedSoFar) {
    auto& c = pc->cls("Win32_DiskDrive");
    for (int i = 0; i < 20000; ++i) c.objects.push_back(c.objects[0]);
    // Cancel as soon as the window gets a chance to handle input.
    QTimer::singleShot(0, [this] { w->cmdCancel_Click(); });
    w->treMain_NodeClick(Node("Win32_DiskDrive"));
    std::size_t blocks = std::count_if(w->list().rows().begin(), w->list().rows().end(),
                                       [](const ListRow& r) { return r.key.rfind("Space0", 0) == 0; });
    EXPECT_GT(blocks, 0u);
    EXPECT_LT(blocks, 20002u);
    EXPECT_EQ(w->lblListedCount()->text(), QString("Listed %1").arg(blocks));
    EXPECT_TRUE(w->treMain()->isEnabled());
    // The next selection starts with the flag cleared.
    w->treMain_NodeClick(Node("Win32_DiskDrive"));
    EXPECT_FALSE(w->state().gblnCancel);
}

TEST_F(SelectionTest, ConnectToStoresTheLoginAndRenamesTheRoot) {
    w->setCredentialsHook([](QWidget* d) {
        auto* dlg = static_cast<frmSystemCredentials*>(d);
        EXPECT_EQ(dlg->windowTitle(), "Connect To Remote Computer");
        EXPECT_EQ(dlg->txtCompName()->maxLength(), 255);
        EXPECT_EQ(dlg->txtPassword()->echoMode(), QLineEdit::Password);
        EXPECT_TRUE(dlg->lblDescription()->text().startsWith("        Please enter"));
        dlg->txtCompName()->setText(" Server7 ");
        dlg->txtUserName()->setText("admin");
        dlg->txtPassword()->setText("pw!");
        dlg->cmdOK_Click();
    });
    w->mnuFleConnectTo_Click();
    EXPECT_EQ(w->state().gstrComputer, " Server7 ");  // as typed
    EXPECT_EQ(w->treMain()->topLevelItem(0)->text(0), " Server7 ");
    EXPECT_EQ(settings_->get("Login", "Computer"), " Server7 ");
    EXPECT_EQ(settings_->get("Login", "UserName"), "admin");
    EXPECT_FALSE(settings_->contains("Login", "Password"));
    settings_->sync();
    QFile f(iniPath_);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_FALSE(f.readAll().contains("pw!"));
    EXPECT_EQ(secrets_.read(kPasswordSecretKey), std::optional<std::string>("pw!"));

    // Cancel after editing changes nothing, but the root is renamed again.
    w->setCredentialsHook([](QWidget* d) {
        auto* dlg = static_cast<frmSystemCredentials*>(d);
        EXPECT_EQ(dlg->txtCompName()->text(), " Server7 ");
        dlg->txtCompName()->setText("other");
        dlg->cmdCancel_Click();
    });
    w->mnuFleConnectTo_Click();
    EXPECT_EQ(w->state().gstrComputer, " Server7 ");
    EXPECT_EQ(settings_->get("Login", "Computer"), " Server7 ");

    // Emptying every box returns to the local computer.
    for (const char* computer : {"", "."}) {
        w->setCredentialsHook([computer](QWidget* d) {
            auto* dlg = static_cast<frmSystemCredentials*>(d);
            dlg->txtCompName()->setText(computer);
            dlg->txtUserName()->clear();
            dlg->txtPassword()->clear();
            dlg->cmdOK_Click();
        });
        w->mnuFleConnectTo_Click();
        EXPECT_EQ(w->treMain()->topLevelItem(0)->text(0).toStdString(), GetLocalComputerName());
    }
    EXPECT_EQ(settings_->get("Login", "UserName"), "");
    EXPECT_EQ(secrets_.read(kPasswordSecretKey), std::optional<std::string>(""));
}

TEST(CredentialsDialog, AStoredValueLongerThanTheLimitIsShownAndKeptWhole) {
    AppState st;
    st.gstrComputer = "ssh://operator@" + std::string(280, 'h') + ".example.org:2222";
    st.gstrPassword = std::string(300, 'p');
    frmSystemCredentials dlg(st);
    EXPECT_EQ(dlg.txtCompName()->text().toStdString(), st.gstrComputer);
    EXPECT_EQ(dlg.txtPassword()->text().size(), 300);
    const std::string before = st.gstrComputer;
    dlg.cmdOK_Click();
    EXPECT_EQ(st.gstrComputer, before);
    EXPECT_EQ(st.gstrPassword.size(), 300u);
}

TEST(CredentialsDialog, LimitsTabOrderAndSelectAllOnFocus) {
    AppState st;
    st.gstrComputer = "host1";
    st.gstrUserName = "me";
    frmSystemCredentials dlg(st);
    dlg.show();
    QApplication::setActiveWindow(&dlg);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dlg));
    for (QLineEdit* e : {dlg.txtCompName(), dlg.txtUserName(), dlg.txtPassword()}) {
        // Fully qualified names and generated passwords fit; a 256th character does not.
        e->setText(QString(300, 'x'));
        EXPECT_EQ(e->text().size(), 255);
    }
    dlg.txtCompName()->setText("host1");
    dlg.txtUserName()->setText("me");
    dlg.txtCompName()->setFocus();
    QApplication::processEvents();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QApplication::processEvents();
    EXPECT_EQ(QApplication::focusWidget(), dlg.txtUserName());
    EXPECT_EQ(dlg.txtUserName()->selectedText(), "me");
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), dlg.txtPassword());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), dlg.cmdOK());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), dlg.cmdCancel());
    // Typing into a focused box replaces its text.
    dlg.txtUserName()->setFocus();
    QApplication::processEvents();
    QTest::keyClicks(dlg.txtUserName(), "you");
    EXPECT_EQ(dlg.txtUserName()->text(), "you");
    dlg.cmdOK_Click();
    EXPECT_EQ(st.gstrUserName, "you");
}

TEST_F(SelectionTest, ExportWritesTheListAndReportsFailures) {
    w->treMain_NodeClick(Node("Win32_DiskDrive"));
    QString suggested;
    QString file = dir_.filePath("disks.html");
    w->setSaveDialogHook([&](const QString& s) {
        suggested = s;
        return file;
    });
    w->mnuFleExport_Click();
    EXPECT_EQ(suggested, "Disk Drive.html");
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    QByteArray bytes = f.readAll();
    EXPECT_TRUE(bytes.startsWith("\r\n<H2>Disk Drive</H2>\r\n"));
    EXPECT_TRUE(bytes.contains("<td><b>    Model</b></td><td>M1</td>"));
    EXPECT_TRUE(messages_.empty());

    // Cancelling the dialog writes nothing.
    w->setSaveDialogHook([](const QString&) { return QString(); });
    w->mnuFleExport_Click();
    EXPECT_EQ(QFileInfo(file).size(), bytes.size());

    // A path that cannot be written is reported, not swallowed.
    w->setSaveDialogHook([&](const QString&) { return dir_.filePath("missing/dir/x.html"); });
    w->mnuFleExport_Click();
    ASSERT_EQ(messages_.size(), 1u);
    EXPECT_EQ(messages_[0].icon, QMessageBox::Critical);
    EXPECT_TRUE(messages_[0].text.contains("x.html"));
}

TEST_F(SelectionTest, KeyboardMovesSelectLikeClicks) {
    w->treMain()->setFocus();
    w->treMain()->setCurrentItem(w->treMain()->topLevelItem(0));
    QTest::keyClick(w->treMain(), Qt::Key_Down);
    EXPECT_EQ(w->treMain()->currentItem()->text(0), "Computer System Hardware");
    EXPECT_EQ(w->statusPanel(0)->text(), "Computer System Hardware");
    EXPECT_EQ(w->listMode(), 0);
    EXPECT_EQ(w->list().rowCount(), 9u);
}
