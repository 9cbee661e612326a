#include <gtest/gtest.h>

#include <QLabel>
#include <QMainWindow>
#include <QStatusBar>

#include "qt/reasons_line.h"

// The reasons line comes and goes with the listed class's reasons and shows
// them as plain text, never as markup.
TEST(ReasonsLine, ShownOnlyWithReasonsAsPlainText) {
    QMainWindow window;
    QStatusBar* bar = window.statusBar();
    kestrane::qt::ShowReasons(bar, "");
    EXPECT_EQ(bar->findChild<QLabel*>("lblReasons"), nullptr);

    kestrane::qt::ShowReasons(bar, "systemd is not running: service states are unknown; <b>x</b>");
    auto* label = bar->findChild<QLabel*>("lblReasons");
    ASSERT_NE(label, nullptr);
    EXPECT_FALSE(label->isHidden());
    EXPECT_EQ(label->text().toStdString(), "systemd is not running: service states are unknown; <b>x</b>");
    EXPECT_EQ(label->textFormat(), Qt::PlainText);

    kestrane::qt::ShowReasons(bar, "");
    EXPECT_TRUE(label->isHidden());
    EXPECT_EQ(bar->findChildren<QLabel*>("lblReasons").size(), 1);
}
