#include <QAction>
#include <QFile>
#include <QLabel>
#include <QMenuBar>
#include <QStackedWidget>
#include <QToolBar>
#include <QTableView>
#include <QTreeWidget>

#include "app_fixture.h"
#include "catalogue/catalogue.h"
#include "core/version.h"

using namespace kestrane;
using namespace kestrane::qt;
using kestrane::qt::testing::WindowTest;

TEST_F(WindowTest, FirstRunShowsTheRootSelectedTheListEmptyAndTheMenusInTheirOrder) {
    auto w = MakeWindow();
    ASSERT_NE(w->treMain()->currentItem(), nullptr);
    EXPECT_EQ(w->treMain()->currentItem()->text(0).toStdString(), GetLocalComputerName());
    EXPECT_EQ(w->list().rowCount(), 0u);
    EXPECT_TRUE(w->mnuViewVertical()->isChecked());
    EXPECT_FALSE(w->mnuViewHorizontal()->isChecked());
    EXPECT_FALSE(w->picMain()->isVisible());
    EXPECT_EQ(w->statusPanel(0)->text(), "Kestrane");
    EXPECT_EQ(w->statusPanel(2)->text().toStdString(), StatusBarVersionText());
    EXPECT_EQ(w->lvwReport()->model()->headerData(1, Qt::Horizontal).toString(), "Value");

    auto menus = w->menuBar()->actions();
    ASSERT_EQ(menus.size(), 4);
    QStringList texts;
    for (QAction* m : menus)
        for (QAction* a : m->menu()->actions()) texts << (a->isSeparator() ? "-" : a->text());
    EXPECT_EQ(texts, QStringList({"Connect To...", "-", "Open Snapshot...", "Save Snapshot...", "Open Store...",
                                  "Compare With...", "-", "Export", "-", "Exit",
                                  "Find...", "Find Next", "Find Previous", "-", "Copy", "Copy Value", "Select All",
                                  "Vertical", "Horizontal", "-", "Refresh", "Levels", "About"}));
    EXPECT_TRUE(w->mnuLevel(1)->isChecked());
    EXPECT_FALSE(w->mnuLevel(2)->isEnabled());
    EXPECT_FALSE(w->mnuLevel(3)->isEnabled());
    QStringList mainTips;
    for (QAction* a : w->tlbMain()->actions()) mainTips << a->toolTip();
    EXPECT_EQ(mainTips, QStringList({"System Summary", "Connect To...", "Refresh", "Exit", "About"}));

    // Refresh without a selection changes nothing.
    w->treMain()->setCurrentItem(nullptr);
    w->mnuViewRefresh_Click();
    EXPECT_EQ(w->list().rowCount(), 0u);
    EXPECT_TRUE(messages_.empty());
}

TEST_F(WindowTest, ClosingAndRestartingRestoresGeometryTreeWidthAndMinimised) {
    QSize outer;
    {
        auto w = MakeWindow();
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
    {
        auto w = MakeWindow();
        EXPECT_EQ(w->treeWidthTwips(), 4030);
        EXPECT_EQ(w->frameGeometry().size(), outer);
        EXPECT_EQ(w->geometry().size(), QSize(900, 700));
        w->setWindowState(Qt::WindowMinimized);
        w->close();
    }
    ReopenSettings();
    EXPECT_EQ(settings_->get("Console", "State"), "1");
    auto w = MakeWindow();
    EXPECT_TRUE(w->windowState() & Qt::WindowMinimized);
}

TEST_F(WindowTest, SettingsThatCannotBeWrittenAreReportedAtClose) {
    // A regular file where the settings folder should be: no one can write there.
    QFile blocker(dir_.filePath("blocked"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    iniPath_ = dir_.filePath("blocked/kestrane.ini");
    ReopenSettings();
    auto w = MakeWindow();
    w->close();
    ASSERT_EQ(messages_.size(), 1u);
    EXPECT_EQ(messages_[0].icon, QMessageBox::Warning);
    EXPECT_TRUE(messages_[0].text.contains(iniPath_)) << messages_[0].text.toStdString();
    EXPECT_FALSE(w->isVisible());  // closing is not held up
}

TEST_F(WindowTest, ExitAsksAndNoSavesNothing) {
    auto w = MakeWindow();
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

TEST_F(WindowTest, StoredLevelBuildsItsTreeAndMediumRebuilds) {
    settings_->set("View", "Level", "3");
    auto w = MakeWindow();
    EXPECT_EQ(w->tree().size(), 318u);
    EXPECT_TRUE(w->mnuLevel(1)->isChecked());  // the only choosable level keeps the mark

    w->mnuViewHorizontal_Click();
    // Medium, even while already at Medium, rebuilds and empties the list.
    for (int i = 0; i < 2; ++i) {
        w->selectNodeByKey("Mass Storage");
        ASSERT_GT(w->list().rowCount(), 0u);
        w->mnuLevel_Click(1);
        EXPECT_EQ(settings_->get("View", "Level"), "1");
        EXPECT_EQ(w->tree().size(), 162u);
        EXPECT_EQ(w->list().rowCount(), 0u);
        EXPECT_EQ(w->tree().selected(), 0);
        EXPECT_FALSE(w->state().gblnHorizontal);
        EXPECT_EQ(w->treMain()->topLevelItemCount(), 1);
    }
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
