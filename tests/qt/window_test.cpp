#include <QAction>
#include <QFile>
#include <QLabel>
#include <QMenuBar>
#include <QStackedWidget>
#include <QToolBar>
#include <QTableView>
#include <QTreeWidget>

#include "qt/icons.h"
#include "app_fixture.h"
#include "catalogue/catalogue.h"
#include "core/version.h"

using namespace kestrane;
using namespace kestrane::qt;
using kestrane::qt::testing::WindowTest;

namespace {
QStringList MenuTexts(QMenu* m) {
    QStringList out;
    for (QAction* a : m->actions()) out << (a->isSeparator() ? "-" : a->text());
    return out;
}
}  // namespace

TEST_F(WindowTest, FirstRunShowsTheTreeWithTheRootSelectedAndTheListEmpty) {
    auto w = MakeWindow();
    w->ShowThisForm();
    EXPECT_EQ(w->tree().size(), 162u);
    ASSERT_NE(w->treMain()->currentItem(), nullptr);
    EXPECT_EQ(w->treMain()->currentItem()->text(0).toStdString(), GetLocalComputerName());
    EXPECT_EQ(w->list().rowCount(), 0u);
    EXPECT_EQ(w->treeWidthTwips(), 3700);
    EXPECT_FALSE(w->state().gblnHorizontal);
    EXPECT_TRUE(w->mnuViewVertical()->isChecked());
    EXPECT_FALSE(w->mnuViewHorizontal()->isChecked());
    EXPECT_FALSE(w->picMain()->isVisible());
    EXPECT_EQ(w->statusPanel(0)->text(), "Kestrane");
    EXPECT_EQ(w->statusPanel(2)->text().toStdString(), StatusBarVersionText());
    EXPECT_FALSE(w->statusPanel(3)->text().isEmpty());
    EXPECT_EQ(w->lvwReport()->model()->headerData(0, Qt::Horizontal).toString(), "Name");
    EXPECT_EQ(w->lvwReport()->model()->headerData(1, Qt::Horizontal).toString(), "Value");
}

TEST_F(WindowTest, MenusAndToolBarsInTheirOrder) {
    auto w = MakeWindow();
    w->ShowThisForm();
    auto menus = w->menuBar()->actions();
    ASSERT_EQ(menus.size(), 4);
    EXPECT_EQ(MenuTexts(menus[0]->menu()), QStringList({"Connect To...", "-", "Open Snapshot...", "Save Snapshot...",
                                                        "Open Store...", "Compare With...", "-", "Export", "-",
                                                        "Exit"}));
    EXPECT_EQ(MenuTexts(menus[1]->menu()),
              QStringList({"Find...", "Find Next", "Find Previous", "-", "Copy", "Copy Value", "Select All"}));
    EXPECT_EQ(MenuTexts(menus[2]->menu()), QStringList({"Vertical", "Horizontal", "-", "Refresh", "Levels"}));
    EXPECT_EQ(MenuTexts(menus[3]->menu()), QStringList({"About"}));
    EXPECT_TRUE(w->mnuLevel(1)->isEnabled());
    EXPECT_TRUE(w->mnuLevel(1)->isChecked());
    EXPECT_FALSE(w->mnuLevel(2)->isEnabled());
    EXPECT_FALSE(w->mnuLevel(3)->isEnabled());

    QStringList mainTips;
    for (QAction* a : w->tlbMain()->actions()) mainTips << a->toolTip();
    EXPECT_EQ(mainTips, QStringList({"System Summary", "Connect To...", "Refresh", "Exit", "About"}));
    EXPECT_EQ(w->tlbMainSub1()->actions().size() + w->tlbMainSub2()->actions().size(), 26);
}

TEST_F(WindowTest, EveryImageKeyHasARealIcon) {
    for (auto keys : {SmallImageKeys(), LargeImageKeys()})
        for (const char* key : keys) {
            QIcon icon = IconForKey(key);
            EXPECT_FALSE(icon.isNull()) << key;
            EXPECT_FALSE(icon.pixmap(16, 16).isNull()) << key;
        }
}

TEST_F(WindowTest, ClosingAndRestartingRestoresGeometryAndTreeWidth) {
    QSize outer;
    {
        auto w = MakeWindow();
        w->ShowThisForm();
        w->resize(900, 700);
        w->Form_MouseMove(Qt::NoButton, w->treeWidthTwips() + 15);  // over the gap
        w->Form_MouseMove(Qt::LeftButton, 4000);
        EXPECT_EQ(w->treeWidthTwips(), 4030);
        outer = w->frameGeometry().size();
        w->close();
    }
    ReopenSettings();
    EXPECT_EQ(settings_->get("LeftPane", "Width"), "4030");
    EXPECT_EQ(settings_->get("Console", "State"), "0");
    auto w = MakeWindow();
    w->ShowThisForm();
    EXPECT_EQ(w->treeWidthTwips(), 4030);
    EXPECT_EQ(w->frameGeometry().size(), outer);
    EXPECT_EQ(w->geometry().size(), QSize(900, 700));
}

TEST_F(WindowTest, SettingsThatCannotBeWrittenAreReportedAtClose) {
    // A regular file where the settings folder should be: no one can write there.
    QFile blocker(dir_.filePath("blocked"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    iniPath_ = dir_.filePath("blocked/kestrane.ini");
    ReopenSettings();
    auto w = MakeWindow();
    w->ShowThisForm();
    w->close();
    ASSERT_EQ(messages_.size(), 1u);
    EXPECT_EQ(messages_[0].icon, QMessageBox::Warning);
    EXPECT_TRUE(messages_[0].text.contains(iniPath_)) << messages_[0].text.toStdString();
    EXPECT_FALSE(w->isVisible());  // closing is not held up
}

TEST_F(WindowTest, ExitAsksAndNoSavesNothing) {
    auto w = MakeWindow();
    w->ShowThisForm();
    answer_ = QMessageBox::No;
    w->mnuFleExit_Click();
    ASSERT_EQ(messages_.size(), 1u);
    EXPECT_EQ(messages_[0].text, "Are you sure you want to close this program?");
    EXPECT_EQ(messages_[0].icon, QMessageBox::Question);
    EXPECT_TRUE(w->isVisible());
    EXPECT_FALSE(settings_->contains("Console", "State"));

    answer_ = QMessageBox::Yes;
    w->mnuFleExit_Click();
    EXPECT_FALSE(w->isVisible());
    EXPECT_TRUE(settings_->contains("Console", "State"));
}

TEST_F(WindowTest, ClosingMinimisedStoresOneAndStartsMinimised) {
    {
        auto w = MakeWindow();
        w->ShowThisForm();
        w->setWindowState(Qt::WindowMinimized);
        w->close();
    }
    ReopenSettings();
    EXPECT_EQ(settings_->get("Console", "State"), "1");
    auto w = MakeWindow();
    w->ShowThisForm();
    EXPECT_TRUE(w->windowState() & Qt::WindowMinimized);
}

TEST_F(WindowTest, StoredLevelBuildsItsTreeAndMediumRebuilds) {
    settings_->set("View", "Level", "3");
    auto w = MakeWindow();
    w->ShowThisForm();
    EXPECT_EQ(w->tree().size(), 318u);
    EXPECT_TRUE(w->mnuLevel(1)->isChecked());  // the only choosable level keeps the mark

    w->mnuViewHorizontal_Click();
    w->selectNodeByKey("Mass Storage");
    EXPECT_GT(w->list().rowCount(), 0u);
    w->mnuLevel_Click(1);
    EXPECT_EQ(settings_->get("View", "Level"), "1");
    EXPECT_EQ(w->tree().size(), 162u);
    EXPECT_EQ(w->list().rowCount(), 0u);
    EXPECT_FALSE(w->state().gblnHorizontal);
    EXPECT_EQ(w->treMain()->topLevelItemCount(), 1);

    // Medium while already at Medium still rebuilds and empties the list.
    w->selectNodeByKey("Mass Storage");
    ASSERT_GT(w->list().rowCount(), 0u);
    w->mnuLevel_Click(1);
    EXPECT_EQ(w->list().rowCount(), 0u);
    EXPECT_EQ(w->tree().size(), 162u);
    EXPECT_EQ(w->tree().selected(), 0);
}

TEST_F(WindowTest, RefreshWithoutASelectionChangesNothing) {
    auto w = MakeWindow();
    w->ShowThisForm();
    w->treMain()->setCurrentItem(nullptr);
    w->mnuViewRefresh_Click();
    EXPECT_EQ(w->list().rowCount(), 0u);
    EXPECT_TRUE(messages_.empty());
}

TEST(Keyring, WithoutADBusSessionItAnswersNothingAtOnce) {
    if (!qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS")) GTEST_SKIP() << "a session bus is present";
    KeychainSecretStore keyring("kestrane-test");
    EXPECT_FALSE(keyring.read("Login/Password").has_value());
    EXPECT_FALSE(keyring.write("Login/Password", "x"));
    FallbackSecretStore store(std::make_unique<KeychainSecretStore>("kestrane-test"));
    EXPECT_FALSE(store.write("Login/Password", "kept"));
    EXPECT_EQ(store.read("Login/Password"), std::optional<std::string>("kept"));  // for this run only
}
