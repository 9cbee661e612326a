// Find, copy, sort, snapshots and the status notes of the window, and the
// defects they were found with.
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMimeData>
#include <QStackedWidget>
#include <QStatusBar>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include "app/find_bar.h"
#include "app/frmSystemCredentials.h"
#include "app/list_sort.h"
#include "app_fixture.h"
#include "catalogue/catalogue.h"
#include "listing/fake_computer.h"

using namespace kestrane;
using namespace kestrane::app;
using kestrane::app::testing::WindowTest;
using kestrane::testing::Decl;
using kestrane::testing::FakeComputer;

namespace {

class FeatureTest : public WindowTest {
protected:
    std::shared_ptr<FakeComputer> pc = std::make_shared<FakeComputer>();
    std::unique_ptr<frmMain> w;
    int connections = 0;

    void SetUp() override {
        WindowTest::SetUp();
        pc->define("Win32_DiskDrive", {Decl("InstallDate", 101), Decl("Model", 8), Decl("Name", 8),
                                       Decl("Partitions", 19), Decl("Size", 21)});
        pc->add("Win32_DiskDrive", {{"Name", "Disk 10"}, {"Model", "Tab\there <b>&"}, {"Size", "2147483648"},
                                    {"Partitions", 3}, {"InstallDate", "20250101120000.000000+000"}});
        pc->add("Win32_DiskDrive", {{"Name", "disk 2"}, {"Model", "M2"}, {"Size", "512"}, {"Partitions", 12},
                                    {"InstallDate", "20240615080000.000000+000"}});
        pc->add("Win32_DiskDrive", {{"Name", "Disk 1"}, {"Model", "M3"}, {"Size", "1048576"},
                                    {"InstallDate", "20241231235959.000000+000"}});
        pc->define("Win32_Processor", {Decl("Name", 8)});
        pc->add("Win32_Processor", {{"Name", "cpu0"}});
        pc->define("Win32_Fan", {Decl("Name", 8)});  // no instances
        wmi::Backends b;
        b.local = [this] {
            ++connections;
            return pc;
        };
        w = MakeWindow(b);
        w->ShowThisForm();
    }

    int Node(const char* key) { return w->tree().find(key); }
    void List(const char* key, bool horizontal) {
        if (horizontal)
            w->mnuViewHorizontal_Click();
        else
            w->mnuViewVertical_Click();
        w->treMain_NodeClick(Node(key));
    }
    QStringList Headers() {
        QStringList out;
        auto* m = w->lvwReport()->model();
        for (int i = 0; i < m->columnCount(); ++i) out << m->headerData(i, Qt::Horizontal).toString();
        return out;
    }
    QStringList Column(int c) {
        QStringList out;
        auto* m = w->lvwReport()->model();
        for (int r = 0; r < m->rowCount(); ++r) out << m->index(r, c).data().toString();
        return out;
    }
    int CurrentRow() { return w->lvwReport()->currentIndex().row(); }
    QString FindStatus() { return w->findBar()->statusLabel()->text(); }
    QStringList FilesIn(const QString& path) { return QDir(path).entryList(QDir::Files | QDir::Hidden); }
};

}  // namespace

TEST_F(FeatureTest, FindSelectsEachMatchInTurnWrapsAndCloses) {
    List("Win32_DiskDrive", false);
    QTest::keyClick(w.get(), Qt::Key_F, Qt::ControlModifier);
    ASSERT_TRUE(w->findBar()->isVisible());
    EXPECT_TRUE(w->findBar()->textBox()->hasFocus() || !QApplication::focusWidget());
    // The bar sits above the list, which gives way to it.
    EXPECT_LE(w->findBar()->geometry().bottom(), w->lvwMain()->geometry().top());

    QTest::keyClicks(w->findBar()->textBox(), "DISK 1");  // label or value, any case
    EXPECT_EQ(FindStatus(), "1 of 2");
    const int first = CurrentRow();
    EXPECT_EQ(w->list().row(static_cast<std::size_t>(first)).sub[0], "Disk 10");
    QTest::keyClick(w->findBar()->textBox(), Qt::Key_Return);
    EXPECT_EQ(FindStatus(), "2 of 2");
    EXPECT_GT(CurrentRow(), first);
    w->action("mnuEdtFindNext")->trigger();
    EXPECT_EQ(FindStatus(), "1 of 2, continued from the top");
    EXPECT_EQ(CurrentRow(), first);
    w->action("mnuEdtFindPrevious")->trigger();
    EXPECT_EQ(FindStatus(), "2 of 2, continued from the bottom");

    QTest::keyClicks(w->findBar()->textBox(), "nothing like it");
    EXPECT_EQ(FindStatus(), "0 of 0");

    QTest::keyClick(w->findBar()->textBox(), Qt::Key_Escape);
    EXPECT_FALSE(w->findBar()->isVisible());

    // A category's icons and the table are searched the same way.
    w->treMain_NodeClick(Node("Mass Storage"));
    w->mnuEdtFind_Click();
    w->findBar()->textBox()->clear();
    QTest::keyClicks(w->findBar()->textBox(), "disk drive");
    EXPECT_EQ(FindStatus(), "1 of 1");
    EXPECT_EQ(w->lvwIcons()->currentIndex().data().toString(), "Disk Drive");
    List("Win32_DiskDrive", true);
    w->findBar()->findNext();
    EXPECT_EQ(FindStatus(), "0 of 0");
    w->findBar()->textBox()->clear();
    QTest::keyClicks(w->findBar()->textBox(), "m2");
    EXPECT_EQ(FindStatus(), "1 of 1");
    EXPECT_EQ(CurrentRow(), 1);
}

TEST_F(FeatureTest, CopyPutsTabSeparatedTextAndEscapedHtmlOnTheClipboard) {
    List("Win32_DiskDrive", true);
    QTest::keyClick(w->lvwReport(), Qt::Key_A, Qt::ControlModifier);
    w->action("mnuEdtCopy")->trigger();
    const QMimeData* mime = QApplication::clipboard()->mimeData();
    ASSERT_NE(mime, nullptr);
    QStringList lines = mime->text().split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 4);
    EXPECT_EQ(lines[0], "InstallDate\tModel\tName\tPartitions\tSize");
    // A tab inside a value cannot shift the cells after it.
    EXPECT_EQ(lines[1].split('\t').size(), 5);
    EXPECT_TRUE(lines[1].contains("Tab here <b>&\tDisk 10\t3\t2.00 GB (2147483648 bytes)")) << lines[1].toStdString();
    const QString html = mime->html();
    EXPECT_TRUE(html.contains("<th>InstallDate</th>"));
    EXPECT_TRUE(html.contains("&lt;b&gt;&amp;"));
    EXPECT_FALSE(html.contains("<b>"));

    // The vertical view: label and value, no indentation, no header row;
    // Ctrl-click picks rows one by one.
    List("Win32_DiskDrive", false);
    auto* v = w->lvwReport();
    auto rowOf = [&](const char* label) {
        for (std::size_t r = 0; r < w->list().rowCount(); ++r)
            if (w->list().row(r).text == std::string("    ") + label) return static_cast<int>(r);
        return -1;
    };
    const int model = rowOf("Model"), name = rowOf("Name");
    ASSERT_GE(model, 0);
    QTest::mouseClick(v->viewport(), Qt::LeftButton, {}, v->visualRect(v->model()->index(name, 0)).center());
    QTest::mouseClick(v->viewport(), Qt::LeftButton, Qt::ControlModifier,
                      v->visualRect(v->model()->index(model, 0)).center());
    w->mnuEdtCopy_Click(false);
    EXPECT_EQ(QApplication::clipboard()->text(), "Name\tDisk 10\nModel\tTab here <b>&\n");
    w->mnuEdtCopy_Click(true);
    EXPECT_EQ(QApplication::clipboard()->text(), "Disk 10\nTab here <b>&\n");
    // The context menu offers both.
    QStringList menu;
    for (QAction* a : v->actions()) menu << a->text();
    EXPECT_EQ(menu, QStringList({"Copy", "Copy Value"}));
}

TEST_F(FeatureTest, HeaderClicksSortByWhatTheCellsMeanAndANewSelectionRestores) {
    List("Win32_DiskDrive", true);
    const QStringList delivered = Column(2);
    struct Case {
        int column;
        QStringList ascending;  // by Name
    };
    const Case cases[] = {
        {4, {"disk 2", "Disk 1", "Disk 10"}},  // bytes: 512, 1 MB, 2 GB
        {3, {"Disk 1", "Disk 10", "disk 2"}},  // numbers, the empty cell first: -, 3, 12
        {0, {"disk 2", "Disk 1", "Disk 10"}},  // dates across years
        {2, {"Disk 1", "disk 2", "Disk 10"}},  // text, digits by value, any case
    };
    for (const Case& c : cases) {
        w->lvwMain_ColumnClick(c.column);
        EXPECT_EQ(Column(2), c.ascending) << c.column;
        w->lvwMain_ColumnClick(c.column);
        QStringList descending = c.ascending;
        std::reverse(descending.begin(), descending.end());
        EXPECT_EQ(Column(2), descending) << c.column;
        EXPECT_EQ(w->lvwReport()->horizontalHeader()->sortIndicatorOrder(), Qt::DescendingOrder);
    }
    // A dragged width survives sorting.
    w->lvwReport()->horizontalHeader()->resizeSection(2, 177);
    w->lvwMain_ColumnClick(2);
    EXPECT_EQ(w->lvwReport()->horizontalHeader()->sectionSize(2), 177);

    QTest::keyClick(w.get(), Qt::Key_F5);
    EXPECT_EQ(Column(2), delivered);
    EXPECT_FALSE(w->lvwReport()->horizontalHeader()->isSortIndicatorShown());

    // The vertical view is a list of labels: its header does not sort.
    List("Win32_DiskDrive", false);
    const QStringList labels = Column(0);
    w->lvwMain_ColumnClick(0);
    EXPECT_EQ(Column(0), labels);
}

TEST(ListSort, KindsAndNaturalOrder) {
    EXPECT_LT(NaturalCompare("Disk 2", "disk 10"), 0);
    EXPECT_LT(NaturalCompare("a007", "a8"), 0);
    EXPECT_EQ(NaturalCompare("ABC", "abc"), 0);
    EXPECT_GT(NaturalCompare("abc1", "abc"), 0);
    struct Case {
        std::vector<std::string> cells;
        SortKind kind;
    };
    const Case cases[] = {
        {{"512 bytes", "1.00 KB (1024 bytes)", ""}, SortKind::Size},
        {{"12/31/2024 23:59:59", "01/01/2025 00:00:00"}, SortKind::Date},
        {{"3.3 V", "-5", "12 %"}, SortKind::Number},
        {{"512 bytes", "7"}, SortKind::Number},
        {{"3", "three"}, SortKind::Text},
        {{"5 mins, 3 secs"}, SortKind::Text},
        {{"", ""}, SortKind::Text},
    };
    for (const Case& c : cases) {
        ListModel m;
        for (const auto& cell : c.cells) m.addRow("", cell);
        EXPECT_EQ(ColumnSortKind(m, 0), c.kind) << c.cells[0];
    }
}

TEST_F(FeatureTest, SaveAndOpenASnapshotThenReturnToTheLiveComputer) {
    const QString file = dir_.filePath("disks.json");
    QString suggested;
    w->setSaveDialogHook([&](const QString& s) {
        suggested = s;
        return dir_.filePath("disks");  // the extension is added
    });
    w->mnuFleSaveSnapshot_Click();
    EXPECT_EQ(suggested.toStdString(), GetLocalComputerName() + ".json");
    ASSERT_TRUE(messages_.empty()) << messages_[0].text.toStdString();
    ASSERT_TRUE(QFile::exists(file));
    EXPECT_TRUE(w->statusNote()->text().contains("saved to " + file)) << w->statusNote()->text().toStdString();
    EXPECT_FALSE(w->picMain()->isVisible());

    w->setOpenDialogHook([&](const QString&) { return file; });
    w->mnuFleOpenSnapshot_Click();
    ASSERT_TRUE(w->snapshot().isOpen());
    const QString name = QString::fromStdString(w->snapshot().computer());
    EXPECT_EQ(w->treMain()->topLevelItem(0)->text(0), name);
    EXPECT_TRUE(w->statusSource()->text().startsWith("Snapshot of " + name + ", captured "));
    EXPECT_TRUE(w->statusSource()->isVisibleTo(w.get()));
    // Listings now come from the file, not the computer.
    pc->cls("Win32_DiskDrive").objects.clear();
    List("Win32_DiskDrive", true);
    EXPECT_EQ(w->list().rowCount(), 3u);

    w->setCredentialsHook([](QWidget* d) { static_cast<frmSystemCredentials*>(d)->cmdOK_Click(); });
    w->mnuFleConnectTo_Click();
    EXPECT_FALSE(w->snapshot().isOpen());
    EXPECT_FALSE(w->statusSource()->isVisibleTo(w.get()));
    EXPECT_EQ(w->treMain()->topLevelItem(0)->text(0).toStdString(), GetLocalComputerName());
    List("Win32_DiskDrive", true);
    EXPECT_EQ(w->list().rowCount(), 0u);
}

TEST_F(FeatureTest, ACancelledOrFailedSaveLeavesNoFileAndKeepsAnOldOne) {
    const QString file = dir_.filePath("pc.json");
    w->setSaveDialogHook([&](const QString&) { return file; });
    const QStringList before = FilesIn(dir_.path());

    QTimer::singleShot(0, [this] { w->cmdCancel_Click(); });
    w->mnuFleSaveSnapshot_Click();
    EXPECT_EQ(FilesIn(dir_.path()), before);
    EXPECT_EQ(w->statusNote()->text(), "Snapshot not saved: cancelled");
    EXPECT_TRUE(w->treMain()->isEnabled());

    {
        QFile old(file);
        ASSERT_TRUE(old.open(QIODevice::WriteOnly));
        old.write("old");
    }
    pc->cls("Win32_DiskDrive").failAt = 1;
    w->mnuFleSaveSnapshot_Click();
    ASSERT_EQ(messages_.size(), 1u);
    EXPECT_EQ(messages_[0].icon, QMessageBox::Critical);
    EXPECT_TRUE(messages_[0].text.startsWith("-2147217407:")) << messages_[0].text.toStdString();
    EXPECT_EQ(FilesIn(dir_.path()), before + QStringList{"pc.json"});
    QFile old(file);
    ASSERT_TRUE(old.open(QIODevice::ReadOnly));
    EXPECT_EQ(old.readAll(), "old");
    EXPECT_FALSE(w->busy());
}

TEST_F(FeatureTest, ConnectToAJsonPathOpensItOrSaysTheFileCannotBeRead) {
    auto connectTo = [this](const QString& computer) {
        w->setCredentialsHook([computer](QWidget* d) {
            auto* dlg = static_cast<frmSystemCredentials*>(d);
            dlg->txtCompName()->setText(computer);
            dlg->cmdOK_Click();
        });
        w->mnuFleConnectTo_Click();
    };
    const QString sample = QString(KESTRANE_FIXTURES) + "/snapshots/sample.json";
    connectTo(sample);
    EXPECT_TRUE(messages_.empty());
    EXPECT_EQ(w->treMain()->topLevelItem(0)->text(0), "ORION");
    EXPECT_EQ(w->statusSource()->text(), "Snapshot of ORION, captured 12/06/2026 10:15:00");

    const QString typo = dir_.filePath("sampel.json");
    connectTo(typo);
    ASSERT_EQ(messages_.size(), 1u);
    EXPECT_EQ(messages_[0].text, typo + ": cannot be opened for reading");
    EXPECT_FALSE(w->snapshot().isOpen());
}

TEST_F(FeatureTest, TheStatusBarCountsInstancesAndSaysWhenAListingIsIncomplete) {
    List("Win32_DiskDrive", false);
    EXPECT_EQ(w->statusNote()->text(), "3 instances");
    List("Win32_Processor", true);
    EXPECT_EQ(w->statusNote()->text(), "1 instance");
    List("Win32_Fan", false);
    EXPECT_EQ(w->statusNote()->text(), "0 instances");

    auto& c = pc->cls("Win32_DiskDrive");
    for (int i = 0; i < 20000; ++i) c.objects.push_back(c.objects[0]);
    for (bool horizontal : {false, true}) {
        QTimer::singleShot(0, [this] { w->cmdCancel_Click(); });
        List("Win32_DiskDrive", horizontal);
        const long listed = static_cast<long>(horizontal ? w->list().rowCount()
                                                         : std::count_if(w->list().rows().begin(),
                                                                         w->list().rows().end(),
                                                                         [](const ListRow& r) {
                                                                             return r.key.rfind("Space0", 0) == 0;
                                                                         }));
        EXPECT_LT(listed, 20003);
        const QString count = listed == 1 ? QString("1 instance") : QString("%1 instances").arg(listed);
        EXPECT_EQ(w->statusNote()->text(), "Incomplete (cancelled): " + count + " listed") << horizontal;
    }
    // A category is no listing of instances.
    w->treMain_NodeClick(Node("Mass Storage"));
    EXPECT_EQ(w->statusNote()->text(), "");
}

TEST_F(FeatureTest, ShortcutsOfTheCommands) {
    const std::pair<const char*, const char*> keys[] = {
        {"mnuFleConnectTo", "Ctrl+K"}, {"mnuFleExport", "Ctrl+E"},      {"mnuFleOpenSnapshot", "Ctrl+O"},
        {"mnuFleSaveSnapshot", "Ctrl+S"}, {"mnuViewRefresh", "F5"},     {"mnuEdtFind", "Ctrl+F"},
        {"mnuEdtFindNext", "F3"},       {"mnuEdtFindPrevious", "Shift+F3"}, {"mnuEdtCopy", "Ctrl+C"},
        {"mnuEdtSelectAll", "Ctrl+A"},
    };
    for (const auto& [name, key] : keys) {
        QAction* a = w->findChild<QAction*>(name);
        ASSERT_NE(a, nullptr) << name;
        EXPECT_EQ(a->shortcut().toString(), key) << name;
    }
}

// Defects ---------------------------------------------------------------------

TEST_F(FeatureTest, HeadersAlwaysBelongToWhatIsListedOnScreenAndInTheExport) {
    const QStringList nameValue{"Name", "Value"};
    auto exported = [this] {
        const QString file = dir_.filePath("x.html");
        QFile::remove(file);
        w->setSaveDialogHook([file](const QString&) { return file; });
        w->mnuFleExport_Click();
        QFile f(file);
        EXPECT_TRUE(f.open(QIODevice::ReadOnly));
        return f.readAll();
    };
    const std::function<void()> next[] = {
        [&] { List("Win32_Processor", false); },           // a vertical listing
        [&] { List("Win32_Fan", true); },                  // an empty class
        [&] { List("Win32_CacheMemory", true); },          // a class the computer lacks
        [&] { w->treMain_NodeClick(Node("Mass Storage")); },  // a category
    };
    for (const auto& select : next) {
        List("Win32_DiskDrive", true);
        ASSERT_EQ(Headers().size(), 5);
        select();
        EXPECT_EQ(Headers(), nameValue);
        EXPECT_TRUE(exported().contains("<td><b>Name</b></td><td><b>Value</b></td>"));
    }
}

TEST_F(FeatureTest, TheExportDialogSaysItAppendsAndAsksNothing) {
    QFileDialog dialog;
    frmMain::PrepareExportDialog(dialog, "Disk Drive.html");
    EXPECT_EQ(dialog.windowTitle(), "Kestrane - Export");
    EXPECT_TRUE(dialog.testOption(QFileDialog::DontConfirmOverwrite));
    auto* note = dialog.findChild<QLabel*>("lblExportAppends");
    ASSERT_NE(note, nullptr);
    EXPECT_TRUE(note->text().contains("appended"));
}

TEST_F(FeatureTest, ConnectToClearsStatusMessagesOfTheComputerBefore) {
    List("Win32_DiskDrive", false);
    w->statusBar()->showMessage("No keyring answered: the password is kept for this session only.");
    w->setCredentialsHook([](QWidget* d) { static_cast<frmSystemCredentials*>(d)->cmdOK_Click(); });
    w->mnuFleConnectTo_Click();
    EXPECT_EQ(w->statusBar()->currentMessage(), "");
    EXPECT_EQ(w->statusNote()->text(), "");
}

TEST_F(FeatureTest, WindowStartedMaximisedRestoresToItsDesignSize) {
    w->close();
    for (const char* state : {"2", "1"}) {
        settings_->set("Console", "State", state);
        settings_->sync();
        ReopenSettings();
        auto v = MakeWindow();
        v->ShowThisForm();
        v->setWindowState(Qt::WindowNoState);
        QApplication::processEvents();
        EXPECT_GT(v->width(), 600) << state;
        EXPECT_GT(v->height(), 450) << state;
        v->close();
    }
}

TEST_F(FeatureTest, DraggedColumnWidthsSurviveSelectionsUntilAResize) {
    List("Win32_DiskDrive", false);
    QHeaderView* h = w->lvwReport()->horizontalHeader();
    const int laidOut = h->sectionSize(0);
    h->resizeSection(0, laidOut + 57);
    List("Win32_Processor", false);
    EXPECT_EQ(h->sectionSize(0), laidOut + 57);
    // A table in between has columns of its own; the two come back.
    List("Win32_DiskDrive", true);
    List("Win32_Processor", false);
    EXPECT_EQ(h->sectionSize(0), laidOut + 57);
    w->resize(w->width() + 40, w->height());
    QApplication::processEvents();
    EXPECT_NE(h->sectionSize(0), laidOut + 57);
}

TEST_F(FeatureTest, DoubleClickInTheTreeSelectsOnce) {
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
    EXPECT_EQ(w->statusNote()->text(), "3 instances");
    EXPECT_EQ(w->statusPanel(0)->text(), "Disk Drive");
}
