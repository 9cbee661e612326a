// The main window's controls and their layout: building the panes, menus,
// tool bars, status bar and progress area, and placing them as the window
// and the splitter move.
#include "qt/frmMain.h"

#include <QAction>
#include <QApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QListView>
#include <QMenuBar>
#include <QMouseEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QStackedWidget>
#include <QStatusBar>
#include <QTableView>
#include <QTimer>
#include <QToolBar>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "qt/find_bar.h"
#include "qt/icons.h"
#include "qt/list_table_model.h"
#include "window/tool_bars.h"

namespace kestrane::qt {

namespace {

constexpr const char* kWebAddress = "https://kestrane.example.org";

}  // namespace

// The window's client area: the band, the two panes and the gap between
// them, where the splitter lives.
class ClientArea : public QWidget {
public:
    explicit ClientArea(frmMain* owner) : QWidget(owner), owner_(owner) { setMouseTracking(true); }

protected:
    void mouseMoveEvent(QMouseEvent* e) override { forward(e); }
    void mousePressEvent(QMouseEvent* e) override { forward(e); }
    void mouseReleaseEvent(QMouseEvent* e) override {
        QWidget::mouseReleaseEvent(e);
        forward(e);
    }

private:
    void forward(QMouseEvent* e) {
        double dpi = logicalDpiX() > 0 ? logicalDpiX() : 96;
        owner_->Form_MouseMove(e->buttons(), PixelsToTwips(e->position().x(), dpi));
    }
    frmMain* owner_;
};

frmMain::frmMain(SettingsStore& settings, SecretStore& secrets, wmi::Backends backends, QWidget* parent)
    : QMainWindow(parent), core_(*this, settings, secrets, std::move(backends)) {
    setObjectName("frmMain");
    setWindowTitle(window::kTitle);
    // The sizes a window manager shows: handing it the theme icon itself
    // would decode every size the theme has (512 pixels too) at start.
    const QIcon crest = IconForKey("Crest");
    QIcon windowIcon;
    for (int size : {16, 24, 32, 48}) windowIcon.addPixmap(crest.pixmap(size));
    setWindowIcon(windowIcon);

    client_ = new ClientArea(this);
    setCentralWidget(client_);

    clbMain_ = new QWidget(client_);
    clbMain_->setObjectName("clbMain");
    // Two rows, so every button shows at the design width.
    auto* band = new QVBoxLayout(clbMain_);
    band->setContentsMargins(2, 2, 2, 2);
    band->setSpacing(0);
    buildToolBars();
    auto* row1 = new QHBoxLayout();
    row1->setSpacing(6);
    row1->addWidget(tlbMain_);
    row1->addWidget(tlbMainSub1_);
    row1->addStretch(1);
    auto* row2 = new QHBoxLayout();
    row2->addWidget(tlbMainSub2_);
    row2->addStretch(1);
    band->addLayout(row1);
    band->addLayout(row2);

    treMain_ = new QTreeWidget(client_);
    treMain_->setObjectName("treMain");
    treMain_->setHeaderHidden(true);
    treMain_->setMouseTracking(true);
    treMain_->viewport()->setMouseTracking(true);
    treMain_->viewport()->installEventFilter(this);
    connect(treMain_, &QTreeWidget::itemClicked, this,
            [this](QTreeWidgetItem* item) { core_.request(item->data(0, Qt::UserRole).toInt(), QApplication::doubleClickInterval()); });
    // Moving through the tree with the keyboard selects as a click does; a
    // mouse press is left to the click that follows it.
    connect(treMain_, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* item, QTreeWidgetItem*) {
        if (!item || settingCurrent_ || QApplication::mouseButtons() != Qt::NoButton) return;
        core_.request(item->data(0, Qt::UserRole).toInt(), QApplication::doubleClickInterval());
    });
    connect(treMain_, &QTreeWidget::itemActivated, this,
            [this](QTreeWidgetItem* item, int) { core_.request(item->data(0, Qt::UserRole).toInt(), QApplication::doubleClickInterval()); });

    lvwMain_ = new QStackedWidget(client_);
    lvwMain_->setObjectName("lvwMain");
    listModel_ = new ListTableModel(core_.list(), this);
    // A table view: its cost follows the rows on screen, not the rows held.
    lvwReport_ = new QTableView(lvwMain_);
    lvwReport_->setModel(listModel_);
    lvwReport_->setShowGrid(false);
    lvwReport_->setWordWrap(false);
    lvwReport_->setCornerButtonEnabled(false);
    lvwReport_->verticalHeader()->hide();
    lvwReport_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    lvwReport_->verticalHeader()->setDefaultSectionSize(lvwReport_->fontMetrics().height() + 4);
    lvwReport_->setSelectionBehavior(QAbstractItemView::SelectRows);
    lvwReport_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    lvwReport_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    lvwReport_->horizontalHeader()->setHighlightSections(false);
    lvwReport_->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    lvwReport_->horizontalHeader()->setStretchLastSection(false);
    lvwReport_->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    lvwReport_->horizontalHeader()->setSectionsClickable(true);
    // Fitting a column reads this many rows of it; enough for the first
    // screens, and cheap even for a table of 100 000 rows.
    lvwReport_->horizontalHeader()->setResizeContentsPrecision(200);
    connect(lvwReport_->horizontalHeader(), &QHeaderView::sectionClicked, this,
            [this](int column) { lvwMain_ColumnClick(column); });
    // Widths the user drags in the two-column view stay until the window is
    // resized.
    connect(lvwReport_->horizontalHeader(), &QHeaderView::sectionResized, this, [this](int section, int, int size) {
        if (applyingWidths_ || core_.busy() || section > 1 || lvwReport_->horizontalHeader()->count() != 2) return;
        twoColumnWidths_[section] = size;
    });
    lvwReport_->setMouseTracking(true);
    lvwReport_->viewport()->installEventFilter(this);
    lvwIcons_ = new QListView(lvwMain_);
    lvwIcons_->setModel(listModel_);
    lvwIcons_->setViewMode(QListView::IconMode);
    lvwIcons_->setIconSize(QSize(32, 32));
    lvwIcons_->setGridSize(QSize(120, 72));
    lvwIcons_->setResizeMode(QListView::Adjust);
    lvwIcons_->setMovement(QListView::Static);
    lvwIcons_->setWordWrap(true);
    lvwIcons_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    lvwIcons_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    lvwIcons_->setMouseTracking(true);
    lvwIcons_->viewport()->installEventFilter(this);
    lvwMain_->addWidget(lvwReport_);
    lvwMain_->addWidget(lvwIcons_);
    for (QAbstractItemView* v : {static_cast<QAbstractItemView*>(lvwReport_),
                                 static_cast<QAbstractItemView*>(lvwIcons_)})
        connect(v, &QAbstractItemView::doubleClicked, this,
                [this] { core_.runWhenIdle([this] { lvwMain_DblClick(); }); });

    fraFind_ = new FindBar(core_.list(), core_.finder(), client_);
    connect(fraFind_, &FindBar::found, this, [this](long row) {
        QAbstractItemView* v = currentView();
        QModelIndex index = listModel_->index(static_cast<int>(row), 0);
        v->setCurrentIndex(index);
        v->scrollTo(index);
    });
    connect(fraFind_, &FindBar::closed, this, [this] {
        ArrangeControls();
        currentView()->setFocus();
    });

    buildMenus();
    buildStatusBar();
    buildProgressArea();
}

frmMain::~frmMain() {
    // The views outlive the core list they show (QObject children go last):
    // let them forget it first.
    lvwReport_->setModel(nullptr);
    lvwIcons_->setModel(nullptr);
}

void frmMain::buildMenus() {
    auto add = [this](QMenu* menu, const char* text, const char* name, QKeySequence keys, auto f) {
        QAction* a = menu->addAction(text, this, f);
        a->setObjectName(name);
        a->setShortcut(keys);
        return a;
    };
    QMenu* file = menuBar()->addMenu("&File");
    add(file, "Connect To...", "mnuFleConnectTo", QKeySequence(Qt::CTRL | Qt::Key_K),
        [this] { core_.runWhenIdle([this] { mnuFleConnectTo_Click(); }); });
    file->addSeparator()->setObjectName("mnuFleSptr1");
    add(file, "Open Snapshot...", "mnuFleOpenSnapshot", QKeySequence(Qt::CTRL | Qt::Key_O),
        [this] { core_.runWhenIdle([this] { mnuFleOpenSnapshot_Click(); }); });
    add(file, "Save Snapshot...", "mnuFleSaveSnapshot", QKeySequence(Qt::CTRL | Qt::Key_S),
        [this] { core_.runWhenIdle([this] { mnuFleSaveSnapshot_Click(); }); });
    add(file, "Open Store...", "mnuFleOpenStore", QKeySequence(),
        [this] { core_.runWhenIdle([this] { mnuFleOpenStore_Click(); }); });
    add(file, "Compare With...", "mnuFleCompareWith", QKeySequence(),
        [this] { core_.runWhenIdle([this] { mnuFleCompareWith_Click(); }); });
    file->addSeparator()->setObjectName("mnuFleSptr3");
    add(file, "Export", "mnuFleExport", QKeySequence(Qt::CTRL | Qt::Key_E),
        [this] { core_.runWhenIdle([this] { mnuFleExport_Click(); }); });
    file->addSeparator()->setObjectName("mnuFleSptr2");
    file->addAction("Exit", this, [this] { mnuFleExit_Click(); })->setObjectName("mnuFleExit");

    QMenu* edit = menuBar()->addMenu("&Edit");
    add(edit, "Find...", "mnuEdtFind", QKeySequence(Qt::CTRL | Qt::Key_F), [this] { mnuEdtFind_Click(); });
    add(edit, "Find Next", "mnuEdtFindNext", QKeySequence(Qt::Key_F3), [this] { fraFind_->findNext(); });
    add(edit, "Find Previous", "mnuEdtFindPrevious", QKeySequence(Qt::SHIFT | Qt::Key_F3),
        [this] { fraFind_->findPrevious(); });
    edit->addSeparator();
    QAction* copy = add(edit, "Copy", "mnuEdtCopy", QKeySequence(Qt::CTRL | Qt::Key_C),
                        [this] { mnuEdtCopy_Click(false); });
    QAction* copyValue =
        add(edit, "Copy Value", "mnuEdtCopyValue", QKeySequence(), [this] { mnuEdtCopy_Click(true); });
    add(edit, "Select All", "mnuEdtSelectAll", QKeySequence(Qt::CTRL | Qt::Key_A),
        [this] { currentView()->selectAll(); });
    for (QAbstractItemView* v : {static_cast<QAbstractItemView*>(lvwReport_),
                                 static_cast<QAbstractItemView*>(lvwIcons_)}) {
        v->setContextMenuPolicy(Qt::ActionsContextMenu);
        v->addAction(copy);
        v->addAction(copyValue);
    }

    QMenu* view = menuBar()->addMenu("&View");
    mnuViewVertical_ = view->addAction("Vertical", this, [this] { mnuViewVertical_Click(); });
    mnuViewVertical_->setObjectName("mnuViewVertical");
    mnuViewVertical_->setCheckable(true);
    mnuViewHorizontal_ = view->addAction("Horizontal", this, [this] { mnuViewHorizontal_Click(); });
    mnuViewHorizontal_->setObjectName("mnuViewHorizontal");
    mnuViewHorizontal_->setCheckable(true);
    view->addSeparator()->setObjectName("mnuViewSptr1");
    QAction* refresh =
        view->addAction("Refresh", this, [this] { core_.runWhenIdle([this] { mnuViewRefresh_Click(); }); });
    refresh->setObjectName("mnuViewRefresh");
    refresh->setShortcut(QKeySequence(Qt::Key_F5));
    QMenu* levels = view->addMenu("Levels");
    levels->menuAction()->setObjectName("mnuLevels");
    const char* names[] = {"Medium", "Advanced", "Very Advanced"};
    for (int i = 1; i <= 3; ++i) {
        QAction* a = levels->addAction(names[i - 1], this,
                                       [this, i] { core_.runWhenIdle([this, i] { mnuLevel_Click(i); }); });
        a->setObjectName(QString("mnuLevel%1").arg(i));
        a->setCheckable(true);
        a->setChecked(i == 1);
        // Only Medium can be chosen here; larger trees come from the settings.
        a->setEnabled(i == 1);
        mnuLevel_[i - 1] = a;
    }

    QMenu* help = menuBar()->addMenu("&Help");
    help->addAction("About", this, [this] { mnuHlpAbout_Click(); })->setObjectName("mnuHlpAbout");
}

void frmMain::buildToolBars() {
    tlbMain_ = new QToolBar("tlbMain", clbMain_);
    tlbMain_->setObjectName("tlbMain");
    tlbMain_->setIconSize(QSize(20, 20));
    for (const window::ToolButton& b : window::MainToolButtons()) {
        const QString image = b.image;
        QAction* a = tlbMain_->addAction(IconForKey(image), b.text);
        a->setToolTip(b.text);
        a->setData(image);
        connect(a, &QAction::triggered, this, [this, image] { tlbMain_ButtonClick(image); });
    }
    auto makeSub = [this](const char* name, int which) {
        auto* bar = new QToolBar(name, clbMain_);
        bar->setObjectName(name);
        bar->setIconSize(QSize(20, 20));
        for (const window::ToolButton& b : window::CategoryButtons(which)) {
            const QString key = b.text;
            QAction* a = bar->addAction(IconForKey(b.image), key);
            a->setToolTip(key);
            a->setData(QString(b.image));
            connect(a, &QAction::triggered, this, [this, key] { tlbSub_ButtonClick(key); });
        }
        return bar;
    };
    tlbMainSub1_ = makeSub("tlbMainSub1", 1);
    tlbMainSub2_ = makeSub("tlbMainSub2", 2);
}

void frmMain::buildStatusBar() {
    sbrMain_ = statusBar();
    sbrMain_->setObjectName("sbrMain");
    const char* texts[] = {"Kestrane", kWebAddress, "Version", ""};
    const char* keys[] = {"Description", kWebAddress, "Version", ""};
    for (int i = 0; i < 4; ++i) {
        panels_[i] = new QLabel(texts[i], sbrMain_);
        panels_[i]->setObjectName(QString("sbrMainPanel%1").arg(i + 1));
        panels_[i]->setProperty("panelKey", keys[i]);
        panels_[i]->setToolTip(i < 2 ? texts[i] : "");
        panels_[i]->setContentsMargins(4, 0, 4, 0);
        // The address and the credit give way first, so the computer's name
        // and what describes the listing at the right edge stay readable.
        if (i == 1 || i == 3) panels_[i]->setMinimumWidth(8);
        sbrMain_->addWidget(panels_[i], i == 0 ? 2 : (i == 3 ? 2 : 0));
    }
    lblNote_ = new QLabel(sbrMain_);
    lblNote_->setObjectName("sbrMainNote");
    lblNote_->setContentsMargins(4, 0, 4, 0);
    sbrMain_->addPermanentWidget(lblNote_);
    lblSource_ = new QLabel(sbrMain_);
    lblSource_->setObjectName("sbrMainSource");
    lblSource_->setContentsMargins(4, 0, 4, 0);
    lblSource_->hide();
    sbrMain_->addPermanentWidget(lblSource_);
}

void frmMain::buildProgressArea() {
    picMain_ = new QFrame(this);
    picMain_->setObjectName("picMain");
    picMain_->setFrameShape(QFrame::Panel);
    picMain_->setFrameShadow(QFrame::Raised);
    picMain_->setAutoFillBackground(true);
    auto* lay = new QVBoxLayout(picMain_);
    lblProgress_ = new QLabel("Please wait while processing...", picMain_);
    pbrMain_ = new QProgressBar(picMain_);
    pbrMain_->setRange(0, 0);  // the count is open-ended: show activity
    auto* row = new QHBoxLayout();
    cmdCancel_ = new QPushButton("&Cancel", picMain_);
    cmdCancel_->setObjectName("cmdCancel");
    lblListedCount_ = new QLabel("Listed 0", picMain_);
    lblListedCount_->setObjectName("lblListedCount");
    row->addWidget(lblListedCount_, 1);
    row->addWidget(cmdCancel_);
    lay->addWidget(lblProgress_);
    lay->addWidget(pbrMain_);
    lay->addLayout(row);
    connect(cmdCancel_, &QPushButton::clicked, this, [this] { cmdCancel_Click(); });
    picMain_->resize(px(4500), px(1500, true));
    picMain_->hide();
}

// Geometry -----------------------------------------------------------------

double frmMain::dpiX() const {
    QScreen* s = screen();
    double d = s ? s->logicalDotsPerInchX() : 96;
    return d > 0 ? d : 96;
}

double frmMain::dpiY() const {
    QScreen* s = screen();
    double d = s ? s->logicalDotsPerInchY() : 96;
    return d > 0 ? d : 96;
}

int frmMain::px(double twips, bool vertical) const {
    return static_cast<int>(std::lround(TwipsToPixels(twips, vertical ? dpiY() : dpiX())));
}

double frmMain::tw(double pixels, bool vertical) const {
    return PixelsToTwips(pixels, vertical ? dpiY() : dpiX());
}

double frmMain::clientWidthTwips() const { return tw(client_->width()); }

void frmMain::ArrangeControls() {
    LayoutInput in;
    QRect frame = frameGeometry();
    in.windowWidth = tw(frame.width());
    in.windowHeight = tw(frame.height(), true);
    in.clientWidth = tw(client_->width());
    // The status bar belongs to the client area, as the panes' heights count it.
    in.statusHeight = tw(sbrMain_->isVisible() ? sbrMain_->height() : 0, true);
    in.clientHeight = tw(client_->height(), true) + in.statusHeight;
    in.bandHeight = tw(clbMain_->sizeHint().height(), true);
    in.progressWidth = tw(picMain_->width());
    in.progressHeight = tw(picMain_->height(), true);
    in.band = band_rect_;
    in.tree = tree_rect_;
    in.list = list_rect_;
    LayoutResult r = kestrane::ArrangeControls(in);
    band_rect_ = r.band;
    tree_rect_ = r.tree;
    list_rect_ = r.list;
    auto place = [this](QWidget* w, const Rect& rc) {
        w->setGeometry(px(rc.left), px(rc.top, true), px(rc.width), px(rc.height, true));
    };
    place(clbMain_, r.band);
    place(treMain_, r.tree);
    placeListPane(r.list);
    // The progress area is centred on the whole window.
    QPoint origin = mapFromGlobal(frame.topLeft());
    picMain_->move(px(r.progress.left) + origin.x(), px(r.progress.top, true) + origin.y());
    picMain_->raise();
    twoColumnWidths_[0] = px(r.firstColumn);
    twoColumnWidths_[1] = px(r.secondColumn);
    applyTwoColumnWidths();
}

void frmMain::placeListPane(const Rect& rc) {
    QRect area(px(rc.left), px(rc.top, true), px(rc.width), px(rc.height, true));
    if (fraFind_->isVisible()) {
        const int h = std::min(fraFind_->sizeHint().height(), area.height());
        fraFind_->setGeometry(area.x(), area.y(), area.width(), h);
        area.setTop(area.top() + h);
    }
    lvwMain_->setGeometry(area);
}

void frmMain::applyTwoColumnWidths() {
    QHeaderView* h = lvwReport_->horizontalHeader();
    if (h->count() > 2) return;
    applyingWidths_ = true;
    if (twoColumnWidths_[0] > 0) h->resizeSection(0, twoColumnWidths_[0]);
    if (h->count() > 1 && twoColumnWidths_[1] > 0) h->resizeSection(1, twoColumnWidths_[1]);
    applyingWidths_ = false;
}

void frmMain::resizeEvent(QResizeEvent* e) {
    QMainWindow::resizeEvent(e);
    restoreSize();
    ArrangeControls();
}

// A window manager frames the window after it is shown, and says so with a move.
void frmMain::moveEvent(QMoveEvent* e) {
    QMainWindow::moveEvent(e);
    restoreSize();
}

void frmMain::showEvent(QShowEvent* e) {
    QMainWindow::showEvent(e);
    if (firstShow_) {
        firstShow_ = false;
        restoreSize();
        // Some window managers frame the window without moving it.
        QTimer::singleShot(250, this, [this] { restoreSize(); });
    }
    ArrangeControls();
}

void frmMain::restoreSize() {
    if (!sizeRestore_.active() || !isVisible() || windowState() != Qt::WindowNoState) return;
    const QRect outer = frameGeometry(), inner = geometry();
    if (auto s = sizeRestore_.adjust({inner.width(), inner.height()}, {outer.width(), outer.height()}))
        resize(s->width, s->height);
}

void frmMain::Form_MouseMove(Qt::MouseButtons button, double x) {
    SplitterInput in;
    in.x = x;
    in.leftButton = button == Qt::LeftButton;
    in.treeWidth = tree_rect_.width;
    in.listLeft = list_rect_.left;
    in.clientWidth = clientWidthTwips();
    in.sizingPointer = sizingPointer_;
    SplitterResult r = SplitterMove(in);
    if (r.sizingPointer != sizingPointer_) {
        sizingPointer_ = r.sizingPointer;
        if (sizingPointer_)
            client_->setCursor(Qt::SizeHorCursor);
        else
            client_->unsetCursor();
    }
    if (r.treeWidth) {
        tree_rect_.width = *r.treeWidth;
        list_rect_.width = *r.listWidth;
        list_rect_.left = *r.listLeft;
        treMain_->setGeometry(px(tree_rect_.left), treMain_->y(), px(tree_rect_.width), treMain_->height());
        lvwMain_->setGeometry(px(list_rect_.left), lvwMain_->y(), px(list_rect_.width), lvwMain_->height());
        if (fraFind_->isVisible())
            fraFind_->setGeometry(px(list_rect_.left), fraFind_->y(), px(list_rect_.width), fraFind_->height());
    }
}

void frmMain::treMain_MouseMove() {
    if (sizingPointer_) {
        sizingPointer_ = false;
        client_->unsetCursor();
    }
}

bool frmMain::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseMove) {
        if (watched == treMain_->viewport())
            treMain_MouseMove();
        else
            lvwMain_MouseMove();
    }
    return QMainWindow::eventFilter(watched, event);
}

}  // namespace kestrane::qt
