// The main window's controls wired to the window core: what each command,
// key and click reaches, and what the views and the status bar then show.
// What the core does with it is tested in tests/window.
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMimeData>
#include <QPushButton>
#include <QStackedWidget>
#include <QStatusBar>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QTreeWidget>

#include "app_fixture.h"
#include "catalogue/catalogue.h"
#include "qt/find_bar.h"
#include "qt/frmSystemCredentials.h"

using namespace kestrane;
using namespace kestrane::qt;
using kestrane::qt::testing::ComputerTest;

namespace {

QStringList Column(QTableView* v, int c) {
    QStringList out;
    for (int r = 0; r < v->model()->rowCount(); ++r) out << v->model()->index(r, c).data().toString();
    return out;
}

}  // namespace

// The core's messages show with their icons and leave the tree usable.
TEST_F(ComputerTest, ACategoryShowsIconsADoubleClickListsItsClassAndMessagesHaveTheirIcons) {
    w->treMain_NodeClick(Node("Mass Storage"));
    EXPECT_EQ(w->listMode(), 0);
    EXPECT_EQ(w->lvwIcons()->model()->rowCount(), 7);
    w->lvwIcons()->setCurrentIndex(w->lvwIcons()->model()->index(2, 0));
    w->lvwMain_DblClick();
    EXPECT_EQ(w->treMain()->currentItem()->text(0), "Disk Drive");
    EXPECT_EQ(w->listMode(), 3);
    EXPECT_EQ(w->lblListedCount()->text(), "Listed 3");
    EXPECT_EQ(w->statusNote()->text(), "3 instances");
    EXPECT_FALSE(w->picMain()->isVisible());

    w->treMain_NodeClick(Node("Win32_Keyboard"));
    w->state().gstrComputer = "server9";
    w->treMain_NodeClick(Node("Win32_DiskDrive"));
    ASSERT_EQ(messages_.size(), 2u);
    EXPECT_EQ(messages_[0].icon, QMessageBox::Warning);
    EXPECT_EQ(messages_[1].icon, QMessageBox::Critical);
    EXPECT_TRUE(w->treMain()->isEnabled());
}

TEST_F(ComputerTest, CancelStopsAListingFromTheButtonAndTheNoteSaysSo) {
    auto& c = pc->cls("Win32_DiskDrive");
    for (int i = 0; i < 20000; ++i) c.objects.push_back(c.objects[0]);
    // Cancel as soon as the window gets a chance to handle input.
    QTimer::singleShot(0, [this] { w->findChild<QPushButton*>("cmdCancel")->click(); });
    List("Win32_DiskDrive", true);
    const int listed = w->lvwReport()->model()->rowCount();
    EXPECT_GT(listed, 0);
    EXPECT_LT(listed, 20003);
    EXPECT_EQ(w->statusNote()->text().toStdString(), window::InstanceCountText(listed, false));
    EXPECT_TRUE(w->treMain()->isEnabled());
}

TEST_F(ComputerTest, FindBarSitsAboveTheListAndSelectsEachMatch) {
    List("Win32_DiskDrive", false);
    QTest::keyClick(w.get(), Qt::Key_F, Qt::ControlModifier);
    ASSERT_TRUE(w->findBar()->isVisible());
    EXPECT_LE(w->findBar()->geometry().bottom(), w->lvwMain()->geometry().top());  // the list gives way
    QTest::keyClicks(w->findBar()->textBox(), "DISK 1");
    EXPECT_EQ(w->findBar()->statusLabel()->text(), "1 of 2");
    const int first = w->lvwReport()->currentIndex().row();
    // Return, Find Next and Find Previous each move the selection.
    QTest::keyClick(w->findBar()->textBox(), Qt::Key_Return);
    EXPECT_GT(w->lvwReport()->currentIndex().row(), first);
    w->action("mnuEdtFindNext")->trigger();
    EXPECT_EQ(w->lvwReport()->currentIndex().row(), first);
    w->action("mnuEdtFindPrevious")->trigger();
    EXPECT_GT(w->lvwReport()->currentIndex().row(), first);
    QTest::keyClick(w->findBar()->textBox(), Qt::Key_Escape);
    EXPECT_FALSE(w->findBar()->isVisible());

    // The icons are searched the same way.
    w->treMain_NodeClick(Node("Mass Storage"));
    w->mnuEdtFind_Click();
    w->findBar()->textBox()->setText("disk drive");
    EXPECT_EQ(w->lvwIcons()->currentIndex().data().toString(), "Disk Drive");
}

TEST_F(ComputerTest, CopyPutsTheSelectedRowsOnTheClipboardInBothForms) {
    List("Win32_DiskDrive", true);
    QTest::keyClick(w->lvwReport(), Qt::Key_A, Qt::ControlModifier);
    w->action("mnuEdtCopy")->trigger();
    const QMimeData* mime = QApplication::clipboard()->mimeData();
    ASSERT_NE(mime, nullptr);
    EXPECT_EQ(mime->text().split('\n', Qt::SkipEmptyParts).size(), 4);
    EXPECT_TRUE(mime->html().contains("<th>Name</th>"));

    // Ctrl-click picks rows one by one; the context menu offers both copies.
    List("Win32_DiskDrive", false);
    auto* v = w->lvwReport();
    auto click = [&](const char* label, Qt::KeyboardModifiers keys) {
        int r = 0;  // the first instance's
        while (w->list().row(static_cast<std::size_t>(r)).text != std::string("    ") + label) ++r;
        QTest::mouseClick(v->viewport(), Qt::LeftButton, keys, v->visualRect(v->model()->index(r, 0)).center());
    };
    click("Name", {});
    click("Model", Qt::ControlModifier);
    w->mnuEdtCopy_Click(true);
    EXPECT_EQ(QApplication::clipboard()->text(), "Disk 10\nTab here <b>&\n");
    QStringList menu;
    for (QAction* a : v->actions()) menu << a->text();
    EXPECT_EQ(menu, QStringList({"Copy", "Copy Value"}));
}

// Dragged widths survive sorting and other selections, until the window is resized.
TEST_F(ComputerTest, HeaderClicksSortWithTheArrowShownAndDraggedWidthsStay) {
    List("Win32_DiskDrive", true);
    const QStringList delivered = Column(w->lvwReport(), 2);
    QHeaderView* h = w->lvwReport()->horizontalHeader();
    h->resizeSection(2, 177);
    emit h->sectionClicked(2);
    emit h->sectionClicked(2);
    EXPECT_EQ(Column(w->lvwReport(), 2), QStringList({"Disk 10", "disk 2", "Disk 1"}));
    EXPECT_TRUE(h->isSortIndicatorShown());
    EXPECT_EQ(h->sortIndicatorSection(), 2);
    EXPECT_EQ(h->sortIndicatorOrder(), Qt::DescendingOrder);
    EXPECT_EQ(h->sectionSize(2), 177);
    QTest::keyClick(w.get(), Qt::Key_F5);
    EXPECT_EQ(Column(w->lvwReport(), 2), delivered);
    EXPECT_FALSE(h->isSortIndicatorShown());

    List("Win32_DiskDrive", false);
    const int dragged = h->sectionSize(0) + 57;
    h->resizeSection(0, dragged);
    List("Win32_Processor", false);
    EXPECT_EQ(h->sectionSize(0), dragged);
    List("Win32_DiskDrive", true);  // a table in between has columns of its own
    List("Win32_Processor", false);
    EXPECT_EQ(h->sectionSize(0), dragged);
    w->resize(w->width() + 40, w->height());
    QApplication::processEvents();
    EXPECT_NE(h->sectionSize(0), dragged);
}

// The headers follow the list (which columns it has is tested in tests/window);
// Export writes it to the file the dialog gives, and the dialog says it appends.
TEST_F(ComputerTest, HeadersAndTheExportFollowTheList) {
    const QString file = dir_.filePath("x.html");
    w->setSaveDialogHook([file](const QString&) { return file; });
    List("Win32_DiskDrive", true);
    ASSERT_EQ(w->lvwReport()->model()->columnCount(), 5);
    List("Win32_Processor", false);
    ASSERT_EQ(w->lvwReport()->model()->columnCount(), 2);
    EXPECT_EQ(w->lvwReport()->model()->headerData(1, Qt::Horizontal).toString(), "Value");
    w->mnuFleExport_Click();
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_TRUE(f.readAll().contains("<td><b>Name</b></td><td><b>Value</b></td>"));
    QFileDialog dialog;
    frmMain::PrepareExportDialog(dialog, "Disk Drive.html");
    EXPECT_EQ(dialog.windowTitle(), "Kestrane - Export");
    EXPECT_TRUE(dialog.testOption(QFileDialog::DontConfirmOverwrite));
    ASSERT_NE(dialog.findChild<QLabel*>("lblExportAppends"), nullptr);
}

// Save and open a snapshot through their dialogs, then Connect To another
// computer; Cancel after editing changes nothing.
TEST_F(ComputerTest, SnapshotsAndConnectToThroughTheirDialogs) {
    QString suggested;
    w->setSaveDialogHook([&](const QString& s) {
        suggested = s;
        return dir_.filePath("disks");
    });
    w->mnuFleSaveSnapshot_Click();
    EXPECT_EQ(suggested.toStdString(), GetLocalComputerName() + ".json");
    const QString file = dir_.filePath("disks.json");
    w->setOpenDialogHook([&](const QString&) { return file; });
    w->mnuFleOpenSnapshot_Click();
    const QString name = QString::fromStdString(w->core().snapshot().computer());
    EXPECT_TRUE(w->statusSource()->text().startsWith("Snapshot of " + name + ", captured "));
    EXPECT_TRUE(w->statusSource()->isVisibleTo(w.get()));

    w->statusBar()->showMessage("No keyring answered: the password is kept for this session only.");
    w->setCredentialsHook([](QWidget* d) {
        auto* dlg = static_cast<frmSystemCredentials*>(d);
        EXPECT_EQ(dlg->windowTitle(), "Connect To Remote Computer");
        EXPECT_EQ(dlg->txtPassword()->echoMode(), QLineEdit::Password);
        dlg->txtCompName()->setText(" Server7 ");
        dlg->txtUserName()->setText("admin");
        dlg->txtPassword()->setText("pw!");
        dlg->cmdOK_Click();
    });
    w->mnuFleConnectTo_Click();
    EXPECT_EQ(w->treMain()->topLevelItem(0)->text(0), " Server7 ");
    EXPECT_FALSE(w->statusSource()->isVisibleTo(w.get()));
    EXPECT_EQ(w->statusBar()->currentMessage(), "");

    w->setCredentialsHook([](QWidget* d) {
        static_cast<frmSystemCredentials*>(d)->txtCompName()->setText("other");
        static_cast<frmSystemCredentials*>(d)->cmdCancel_Click();
    });
    w->mnuFleConnectTo_Click();
    EXPECT_EQ(w->state().gstrComputer, " Server7 ");
}

TEST_F(ComputerTest, ARememberedLoginWithoutItsPasswordIsAskedForAtStart) {
    settings_->set("Login", "Computer", "server7");
    settings_->set("Login", "UserName", "admin");
    FallbackSecretStore secrets(std::make_unique<kestrane::qt::testing::DeadKeyring>());
    int asked = 0;
    auto v = MakeWindow({}, &secrets, [&](frmMain& f) {
        f.setCredentialsHook([&](QWidget* d) {
            ++asked;
            auto* dlg = static_cast<frmSystemCredentials*>(d);
            EXPECT_EQ(dlg->txtCompName()->text(), "server7");
            EXPECT_EQ(dlg->txtUserName()->text(), "admin");
            dlg->txtPassword()->setText("again");
            dlg->cmdOK_Click();
        });
    });
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(v->state().gstrPassword, "again");
    EXPECT_TRUE(messages_.empty());
}

TEST_F(ComputerTest, TreeClicksKeysAndToolBarsSelectOnceEach) {
    QTreeWidgetItem* item = nullptr;
    for (QTreeWidgetItemIterator it(w->treMain()); *it; ++it)
        if ((*it)->data(0, Qt::UserRole).toInt() == Node("Win32_DiskDrive")) item = *it;
    ASSERT_NE(item, nullptr);
    // What a double-click reports: the click, then the activation.
    const int before = connections;
    emit w->treMain()->itemClicked(item, 0);
    emit w->treMain()->itemActivated(item, 0);
    QApplication::processEvents();
    EXPECT_EQ(connections, before + 1);
    EXPECT_EQ(w->statusPanel(0)->text(), "Disk Drive");

    w->treMain()->setFocus();
    w->treMain()->setCurrentItem(w->treMain()->topLevelItem(0));
    QTest::keyClick(w->treMain(), Qt::Key_Down);
    EXPECT_EQ(w->statusPanel(0)->text(), "Computer System Hardware");
    EXPECT_EQ(w->listMode(), 0);

    for (QAction* a : w->tlbMainSub2()->actions())
        if (a->toolTip() == "Users") a->trigger();
    EXPECT_EQ(w->treMain()->currentItem()->text(0), "Users");
    w->tlbMain()->actions()[0]->trigger();  // the summary, from anywhere
    EXPECT_EQ(w->treMain()->currentItem(), w->treMain()->topLevelItem(0));
}

TEST_F(ComputerTest, WindowStartedMaximisedRestoresToItsDesignSize) {
    w->close();
    for (const char* state : {"2", "1"}) {
        settings_->set("Console", "State", state);
        settings_->sync();
        ReopenSettings();
        auto v = MakeWindow();
        v->setWindowState(Qt::WindowNoState);
        QApplication::processEvents();
        EXPECT_GT(v->width(), 600) << state;
        EXPECT_GT(v->height(), 450) << state;
        v->close();
    }
}

TEST(CredentialsDialog, AStoredValueLongerThanTheLimitIsShownAndKeptWhole) {
    AppState st;
    st.gstrComputer = "ssh://operator@" + std::string(280, 'h') + ".example.org:2222";
    st.gstrPassword = std::string(300, 'p');
    const AppState before = st;
    frmSystemCredentials dlg(st);
    EXPECT_EQ(dlg.txtCompName()->text().toStdString(), st.gstrComputer);
    dlg.cmdOK_Click();
    EXPECT_EQ(st.gstrComputer, before.gstrComputer);
    EXPECT_EQ(st.gstrPassword, before.gstrPassword);
}

TEST(CredentialsDialog, LimitsTabOrderAndSelectAllOnFocus) {
    AppState st;
    frmSystemCredentials dlg(st);
    dlg.show();
    QApplication::setActiveWindow(&dlg);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dlg));
    for (QLineEdit* e : {dlg.txtCompName(), dlg.txtUserName(), dlg.txtPassword()}) {
        // Fully qualified names and generated passwords fit; a 256th character does not.
        e->setText(QString(300, 'x'));
        EXPECT_EQ(e->text().size(), 255);
    }
    dlg.txtUserName()->setText("me");
    dlg.txtCompName()->setFocus();
    for (QWidget* next : std::vector<QWidget*>{dlg.txtUserName(), dlg.txtPassword(), dlg.cmdOK(), dlg.cmdCancel()}) {
        QApplication::processEvents();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        EXPECT_EQ(QApplication::focusWidget(), next);
        if (next == dlg.txtUserName()) {
            EXPECT_EQ(dlg.txtUserName()->selectedText(), "me");
        }
    }
    // Typing into a focused box replaces its text.
    dlg.txtUserName()->setFocus();
    QApplication::processEvents();
    QTest::keyClicks(dlg.txtUserName(), "you");
    dlg.cmdOK_Click();
    EXPECT_EQ(st.gstrUserName, "you");
}
