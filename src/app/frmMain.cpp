#include "app/frmMain.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDateTime>
#include <QFileInfo>
#include <QFileDialog>
#include <QGridLayout>
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
#include <QToolBar>
#include <QTableView>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <QWindow>

#include "app/find_bar.h"
#include "app/frmAbout.h"
#include "app/frmSystemCredentials.h"
#include "app/icons.h"
#include "app/list_clipboard.h"
#include "app/list_sort.h"
#include "app/list_table_model.h"
#include "app/reasons_line.h"
#include "catalogue/catalogue.h"
#include "core/file_error.h"
#include "core/version.h"
#include "export/html_export.h"
#include "format/format.h"
#include "wmi/connection.h"

namespace kestrane::app {

namespace {

// Design size of the client area, twips.
constexpr double kDesignClientWidth = 11415;
constexpr double kDesignClientHeight = 9150;

const char* const kSub1[][2] = {
    {"Cooling Device", "Device"}, {"Input Device", "Input"}, {"Mass Storage", "MassStorage"},
    {"Motherboard, Controller & Port", "MotherBoard"}, {"Networking Device", "Adapter"},
    {"Power", "Power"}, {"Printing", "Printer"}, {"Telephony", "Telephone"},
    {"Video & Monitor", "Display"},
};
const char* const kSub2[][2] = {
    {"COM", "COM"}, {"Desktop", "Desktop"}, {"Drivers", "Driver"}, {"File System", "File"},
    {"Memory & Page Files", "Files"}, {"Multimedia Audio / Visual", "Codec"},
    {"Networking", "Network"}, {"Operating System Settings", "Settings"},
    {"Processes", "Process"}, {"Registry", "Registry"}, {"Scheduler Jobs", "Scheduler"},
    {"Services", "Service"}, {"Shares", "Share"}, {"Start Menu", "StartMenu"}, {"Users", "Users"},
    {"Windows NT Event Log", "EventLog"}, {"Windows Product Activation", "Windows"},
};

constexpr const char* kWebAddress = "https://kestrane.example.org";
constexpr const char* kCredit = "Made with care by the Kestrane team";

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
    : QMainWindow(parent), settings_(settings), secrets_(secrets), backends_(std::move(backends)) {
    setObjectName("frmMain");
    setWindowTitle("Kestrane - System Information Tool");
    setWindowIcon(IconForKey("Crest"));

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
            [this](QTreeWidgetItem* item) { requestSelection(item->data(0, Qt::UserRole).toInt()); });
    // Moving through the tree with the keyboard selects as a click does; a
    // mouse press is left to the click that follows it.
    connect(treMain_, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* item, QTreeWidgetItem*) {
        if (!item || settingCurrent_ || QApplication::mouseButtons() != Qt::NoButton) return;
        requestSelection(item->data(0, Qt::UserRole).toInt());
    });
    connect(treMain_, &QTreeWidget::itemActivated, this,
            [this](QTreeWidgetItem* item, int) { requestSelection(item->data(0, Qt::UserRole).toInt()); });

    lvwMain_ = new QStackedWidget(client_);
    lvwMain_->setObjectName("lvwMain");
    listModel_ = new ListTableModel(list_, this);
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
        if (applyingWidths_ || busy_ || section > 1 || lvwReport_->horizontalHeader()->count() != 2) return;
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
                [this] { runWhenIdle([this] { lvwMain_DblClick(); }); });

    fraFind_ = new FindBar(list_, client_);
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
        [this] { runWhenIdle([this] { mnuFleConnectTo_Click(); }); });
    file->addSeparator()->setObjectName("mnuFleSptr1");
    add(file, "Open Snapshot...", "mnuFleOpenSnapshot", QKeySequence(Qt::CTRL | Qt::Key_O),
        [this] { runWhenIdle([this] { mnuFleOpenSnapshot_Click(); }); });
    add(file, "Save Snapshot...", "mnuFleSaveSnapshot", QKeySequence(Qt::CTRL | Qt::Key_S),
        [this] { runWhenIdle([this] { mnuFleSaveSnapshot_Click(); }); });
    file->addSeparator()->setObjectName("mnuFleSptr3");
    add(file, "Export", "mnuFleExport", QKeySequence(Qt::CTRL | Qt::Key_E),
        [this] { runWhenIdle([this] { mnuFleExport_Click(); }); });
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
        view->addAction("Refresh", this, [this] { runWhenIdle([this] { mnuViewRefresh_Click(); }); });
    refresh->setObjectName("mnuViewRefresh");
    refresh->setShortcut(QKeySequence(Qt::Key_F5));
    QMenu* levels = view->addMenu("Levels");
    levels->menuAction()->setObjectName("mnuLevels");
    const char* names[] = {"Medium", "Advanced", "Very Advanced"};
    for (int i = 1; i <= 3; ++i) {
        QAction* a = levels->addAction(names[i - 1], this,
                                       [this, i] { runWhenIdle([this, i] { mnuLevel_Click(i); }); });
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
    const char* const mainButtons[][2] = {
        {"Crest", "System Summary"}, {"Connect", "Connect To..."}, {"Refresh", "Refresh"},
        {"Exit", "Exit"}, {"About", "About"},
    };
    for (const auto& b : mainButtons) {
        QString image = b[0];
        QAction* a = tlbMain_->addAction(IconForKey(image), b[1]);
        a->setToolTip(b[1]);
        a->setData(image);
        connect(a, &QAction::triggered, this, [this, image] { tlbMain_ButtonClick(image); });
    }
    auto makeSub = [this](const char* name, const auto& buttons) {
        auto* bar = new QToolBar(name, clbMain_);
        bar->setObjectName(name);
        bar->setIconSize(QSize(20, 20));
        for (const auto& b : buttons) {
            QString key = b[0];
            QAction* a = bar->addAction(IconForKey(b[1]), key);
            a->setToolTip(key);
            a->setData(QString(b[1]));
            connect(a, &QAction::triggered, this, [this, key] { tlbSub_ButtonClick(key); });
        }
        return bar;
    };
    tlbMainSub1_ = makeSub("tlbMainSub1", kSub1);
    tlbMainSub2_ = makeSub("tlbMainSub2", kSub2);
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

double frmMain::firstColumnTwips() const { return tw(lvwReport_->horizontalHeader()->sectionSize(0)); }

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
    ArrangeControls();
}

void frmMain::showEvent(QShowEvent* e) {
    QMainWindow::showEvent(e);
    if (firstShow_) {
        firstShow_ = false;
        applyGeometry();
    }
    ArrangeControls();
}

// The stored size is the outer one; the frame is known only once shown.
void frmMain::applyGeometry() {
    if (!pendingOuterWidth_ && !pendingOuterHeight_) return;
    QRect frame = frameGeometry(), inner = geometry();
    int extraW = frame.width() - inner.width(), extraH = frame.height() - inner.height();
    int w = pendingOuterWidth_ ? std::max(px(*pendingOuterWidth_) - extraW, 1) : inner.width();
    int h = pendingOuterHeight_ ? std::max(px(*pendingOuterHeight_, true) - extraH, 1) : inner.height();
    resize(w, h);
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

void frmMain::lvwMain_MouseMove() { treMain_MouseMove(); }

bool frmMain::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseMove) {
        if (watched == treMain_->viewport())
            treMain_MouseMove();
        else
            lvwMain_MouseMove();
    }
    return QMainWindow::eventFilter(watched, event);
}

// Start-up and shutdown --------------------------------------------------------

void frmMain::ShowThisForm() {
    Form_Load();
    panels_[3]->setText(kCredit);
    show();
}

void frmMain::Form_Load() {
    Login login = ReadLogin(settings_, secrets_);
    state_.gstrComputer = login.computer;
    state_.gstrUserName = login.userName;
    state_.gstrPassword = login.password;
    // A snapshot named as the computer is browsed as one; when it cannot be
    // read, the selection says why.
    snapshot_.close();
    if (IsSnapshotPath(QString::fromStdString(state_.gstrComputer))) {
        try {
            snapshot_.open(state_.gstrComputer);
        } catch (const std::exception&) {
        }
    }

    tree_.clear();
    rebuildTreeWidget();
    list_.clearRows();
    list_.setDefaultColumns();
    listModel_->sync();

    StartupSettings s = ReadStartupSettings(settings_);
    // The design size first: a window started maximised or minimised
    // returns to it when restored.
    if (firstShow_ && (s.state != WindowState::Normal || (!s.width && !s.height)))
        resize(px(kDesignClientWidth), px(kDesignClientHeight, true) + menuBar()->sizeHint().height());
    switch (s.state) {
    case WindowState::Minimized: setWindowState(Qt::WindowMinimized); break;
    case WindowState::Maximized: setWindowState(Qt::WindowMaximized); break;
    default: setWindowState(Qt::WindowNoState); break;
    }
    lvwReport_->horizontalHeader()->resizeSection(0, px(s.dataWidth));
    list_rect_.width = s.rightPaneWidth;
    tree_rect_.width = s.leftPaneWidth;
    if (s.state == WindowState::Normal) {
        // The stored size where there is one.
        pendingOuterWidth_ = s.width;
        pendingOuterHeight_ = s.height;
        if (!firstShow_) applyGeometry();
    }

    state_.gbytLevel = s.level;
    for (int i = 0; i < 3; ++i) mnuLevel_[i]->setChecked(i == 0);

    BuildCategoryTree(tree_, state_);
    rebuildTreeWidget();
    showRootAndSource();

    panels_[2]->setText(QString::fromStdString(StatusBarVersionText()));
    mnuViewVertical_Click();
    if (isVisible()) ArrangeControls();
}

void frmMain::Form_Unload() {
    ShutdownValues v;
    Qt::WindowStates ws = windowState();
    v.state = (ws & Qt::WindowMinimized)   ? WindowState::Minimized
              : (ws & Qt::WindowMaximized) ? WindowState::Maximized
                                           : WindowState::Normal;
    QRect frame = frameGeometry();
    v.width = tw(frame.width());
    v.height = tw(frame.height(), true);
    v.leftPaneWidth = tree_rect_.width;
    v.rightPaneWidth = list_rect_.width;
    v.dataWidth = firstColumnTwips();
    WriteShutdownSettings(settings_, v);
    saveSettings();
}

// Without a word the window would come back next time as it was before.
void frmMain::saveSettings() {
    if (settings_.sync()) return;
    const std::string where = settings_.location();
    message(QMessageBox::Warning,
            QString("The settings could not be saved%1. The next start uses the settings saved before.")
                .arg(where.empty() ? QString() : " to " + QString::fromStdString(where)));
}

void frmMain::closeEvent(QCloseEvent* e) {
    if (busy_) {
        // Let the running listing stop at its next instance, then close.
        state_.gblnCancel = true;
        e->ignore();
        if (!closing_) {
            closing_ = true;
            deferred_.emplace_back([this] { close(); });
        }
        return;
    }
    Form_Unload();
    e->accept();
}

void frmMain::mnuFleExit_Click() {
    if (message(QMessageBox::Question, "Are you sure you want to close this program?",
                QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes)
        close();
}

// Tree -------------------------------------------------------------------------

void frmMain::rebuildTreeWidget() {
    treMain_->clear();
    items_.assign(tree_.size(), nullptr);
    for (int i : tree_.preorder()) {
        const TreeNode& n = tree_.node(i);
        QTreeWidgetItem* item = n.parent < 0 ? new QTreeWidgetItem(treMain_)
                                             : new QTreeWidgetItem(items_[static_cast<std::size_t>(n.parent)]);
        item->setText(0, QString::fromStdString(n.text));
        item->setIcon(0, IconForKey(QString::fromStdString(n.image)));
        item->setData(0, Qt::UserRole, i);
        items_[static_cast<std::size_t>(i)] = item;
    }
    for (std::size_t i = 0; i < items_.size(); ++i)
        if (tree_.node(static_cast<int>(i)).expanded) items_[i]->setExpanded(true);
    if (tree_.selected() >= 0) setCurrentTreeItem(items_[static_cast<std::size_t>(tree_.selected())]);
}

std::string frmMain::selectedNodeKey() const {
    QTreeWidgetItem* item = treMain_->currentItem();
    if (!item) return {};
    return tree_.node(item->data(0, Qt::UserRole).toInt()).key;
}

void frmMain::selectNodeByKey(const std::string& key) {
    int n = tree_.find(key);
    if (n >= 0) treMain_NodeClick(n);
}

void frmMain::setCurrentTreeItem(QTreeWidgetItem* item) {
    settingCurrent_ = true;
    treMain_->setCurrentItem(item);
    settingCurrent_ = false;
}

int frmMain::listMode() const { return lvwMain_->currentWidget() == lvwIcons_ ? 0 : 3; }

QAbstractItemView* frmMain::currentView() const {
    return listMode() == 0 ? static_cast<QAbstractItemView*>(lvwIcons_) : static_cast<QAbstractItemView*>(lvwReport_);
}

QAction* frmMain::action(const QString& objectName) const { return findChild<QAction*>(objectName); }

void frmMain::setListMode(int mode) {
    if (mode == 0)
        lvwMain_->setCurrentWidget(lvwIcons_);
    else
        lvwMain_->setCurrentWidget(lvwReport_);
}

// ListingHost ------------------------------------------------------------------

void frmMain::setListedCount(long count) {
    listedCount_ = count;
    lblListedCount_->setText(QString("Listed %1").arg(count));
}

void frmMain::setProgressVisible(bool visible) {
    if (visible) {
        picMain_->raise();
        picMain_->show();
    } else {
        picMain_->hide();
    }
}

void frmMain::yieldToUser(bool) {
    // Input can only be seen by looking; look every 15 ms, in both views, so
    // a long listing spends its time listing, the view catches up in batches
    // of rows rather than row by row, and Cancel is still seen at once.
    qint64 now = QDateTime::currentMSecsSinceEpoch();
    if (now - lastYieldMs_ < 15) return;
    lastYieldMs_ = now;
    listModel_->sync();
    lblListedCount_->repaint();
    QApplication::processEvents();
}

// Selection ----------------------------------------------------------------------

wmi::Services frmMain::GetWMIServices() {
    if (snapshot_.isOpen()) return wmi::Services(snapshot_.provider());
    return wmi::GetWMIServices(state_, backends_);
}

void frmMain::requestSelection(int node) {
    // A double-click reports its node twice (click, then activation); the
    // second must not cancel the listing the first started.
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    if (node == lastRequestedNode_ && now - lastRequestMs_ < QApplication::doubleClickInterval()) return;
    lastRequestedNode_ = node;
    lastRequestMs_ = now;
    runWhenIdle([this, node] { treMain_NodeClick(node); });
}

void frmMain::finishBusy() {
    busy_ = false;
    auto pending = std::move(deferred_);
    deferred_.clear();
    for (auto& f : pending) f();
}

void frmMain::runWhenIdle(std::function<void()> f) {
    if (busy_) {
        state_.gblnCancel = true;
        deferred_.push_back(std::move(f));
        return;
    }
    f();
}

void frmMain::treMain_NodeClick(int node) {
    if (node < 0 || static_cast<std::size_t>(node) >= items_.size()) return;
    busy_ = true;
    try {
        lvwMain_->setEnabled(false);
        treMain_->setEnabled(false);
        pbrMain_->setValue(0);
        list_.clearRows();
        listModel_->sync();
        lblNote_->clear();
        // A new selection lists in the order the computer gives.
        sortColumn_ = -1;
        lvwReport_->horizontalHeader()->setSortIndicatorShown(false);
        horizontalListing_ = false;
        listedCount_ = 0;
        listingComplete_ = true;
        state_.gblnCancel = false;
        tree_.setSelected(node);
        setCurrentTreeItem(items_[static_cast<std::size_t>(node)]);

        const TreeNode& n = tree_.node(node);
        const NodeKind kind = ClassifyNodeKey(n.key);
        ListingNode ln{n.key, n.text, n.image};
        ShowReasons(sbrMain_, {});
        std::shared_ptr<wmi::Provider> listedFrom;
        auto services = [this, &listedFrom] {
            wmi::Services s = GetWMIServices();
            listedFrom = s.provider();
            return s;
        };
        switch (kind) {
        case NodeKind::Root:
            setListMode(3);
            ShowRootSummary(list_, *this, services);
            break;
        case NodeKind::Category:
            setListMode(0);
            for (int c : n.children) {
                const TreeNode& ch = tree_.node(c);
                list_.addRow(ch.key, ch.text, ch.image);
            }
            break;
        case NodeKind::Class:
            setListMode(3);
            break;
        }
        panels_[0]->setText(QString::fromStdString(n.text));
        if (state_.gblnHorizontal)
            List_Items_Horizontally(ln, list_, *this, services);
        else
            List_Items_Vertically(ln, list_, *this, services);
        listModel_->sync();
        if (listedFrom && kind == NodeKind::Class) ShowReasons(sbrMain_, listedFrom->reasons(n.key));
        lvwReport_->horizontalHeader()->setVisible(!list_.headersHidden());
        if (list_.columns().size() == 2) {
            applyTwoColumnWidths();
        } else {
            // One column per property: fit them to what the first screens hold.
            lvwReport_->resizeColumnsToContents();
        }
        if (kind == NodeKind::Class) {
            horizontalListing_ = state_.gblnHorizontal;
            const QString count =
                listedCount_ == 1 ? QString("1 instance") : QString("%1 instances").arg(listedCount_);
            lblNote_->setText(listingComplete_ ? count : QString("Incomplete (cancelled): %1 listed").arg(count));
        }
        lvwMain_->setEnabled(true);
        treMain_->setEnabled(true);
        treMain_->setFocus();
    } catch (const std::exception& ex) {
        listModel_->sync();
        lvwReport_->horizontalHeader()->setVisible(!list_.headersHidden());
        applyTwoColumnWidths();
        if (listedCount_ > 0) lblNote_->setText(QString("Incomplete: %1 listed before the error").arg(listedCount_));
        lvwMain_->setEnabled(true);
        treMain_->setEnabled(true);
        treMain_->setFocus();
        picMain_->hide();
        if (auto* we = dynamic_cast<const wmi::Error*>(&ex)) {
            if (we->unsignedNumber() == wmi::WBEM_E_INVALID_CLASS)
                message(QMessageBox::Warning, "This feature is NOT supported by the computer...!");
            else
                message(QMessageBox::Critical, QString::fromStdString(we->displayText()));
        } else {
            // Failures outside WMI still say what happened, with the generic number.
            message(QMessageBox::Critical, QString("-2147467259:") + QString::fromUtf8(ex.what()));
        }
    }
    finishBusy();
}

void frmMain::lvwMain_DblClick() {
    QAbstractItemView* v = currentView();
    QModelIndex cur = v->currentIndex();
    if (!cur.isValid() || !v->selectionModel()->isSelected(cur)) return;
    const std::string& key = list_.row(static_cast<std::size_t>(cur.row())).key;
    int n = key.empty() ? -1 : tree_.find(key);
    if (n >= 0) treMain_NodeClick(n);
}

void frmMain::tlbSub_ButtonClick(const QString& toolTip) {
    int n = tree_.find(toolTip.toStdString());
    if (n >= 0) runWhenIdle([this, n] { treMain_NodeClick(n); });
}

// Commands -----------------------------------------------------------------------

void frmMain::tlbMain_ButtonClick(const QString& imageKey) {
    if (imageKey == "Crest") {
        if (tree_.size() > 0) runWhenIdle([this] { treMain_NodeClick(0); });
    } else if (imageKey == "Connect") {
        runWhenIdle([this] { mnuFleConnectTo_Click(); });
    } else if (imageKey == "Refresh") {
        runWhenIdle([this] { mnuViewRefresh_Click(); });
    } else if (imageKey == "About") {
        mnuHlpAbout_Click();
    } else if (imageKey == "Exit") {
        mnuFleExit_Click();
    }
}

void frmMain::mnuViewVertical_Click() {
    state_.gblnHorizontal = false;
    mnuViewHorizontal_->setChecked(false);
    mnuViewVertical_->setChecked(true);
}

void frmMain::mnuViewHorizontal_Click() {
    state_.gblnHorizontal = true;
    mnuViewVertical_->setChecked(false);
    mnuViewHorizontal_->setChecked(true);
}

void frmMain::mnuViewRefresh_Click() {
    QTreeWidgetItem* item = treMain_->currentItem();
    if (item && tree_.selected() >= 0) treMain_NodeClick(item->data(0, Qt::UserRole).toInt());
    treMain_->viewport()->update();
    lvwMain_->currentWidget()->update();
}

void frmMain::mnuLevel_Click(int index) {
    WriteLevel(settings_, index);
    saveSettings();
    Form_Load();
}

void frmMain::cmdCancel_Click() { state_.gblnCancel = true; }

void frmMain::mnuHlpAbout_Click() {
    frmAbout about(this);
    about.exec();
}

void frmMain::mnuFleConnectTo_Click() {
    bool accepted = false;
    {
        frmSystemCredentials dlg(state_, this);
        if (credentialsHook_)
            credentialsHook_(&dlg);
        else
            dlg.exec();
        accepted = dlg.result() == QDialog::Accepted;
    }
    if (accepted) {
        // What the status bar said belonged to the computer before.
        sbrMain_->clearMessage();
        lblNote_->clear();
        snapshot_.close();
        if (!WriteLogin(settings_, secrets_, {state_.gstrComputer, state_.gstrUserName, state_.gstrPassword}))
            sbrMain_->showMessage("No keyring answered: the password is kept for this session only.", 8000);
        const QString computer = QString::fromStdString(state_.gstrComputer);
        if (IsSnapshotPath(computer)) {
            try {
                snapshot_.open(state_.gstrComputer);
            } catch (const std::exception& e) {
                message(QMessageBox::Critical, QString::fromUtf8(e.what()));
            }
        }
    }
    showRootAndSource();
}

void frmMain::showRootAndSource() {
    int root = tree_.find(kRootKey);
    if (root >= 0) {
        std::string text = snapshot_.isOpen() ? snapshot_.computer() : RootText(state_.gstrComputer);
        tree_.setText(root, text);
        items_[static_cast<std::size_t>(root)]->setText(0, QString::fromStdString(text));
    }
    lblSource_->setText(snapshot_.statusText());
    lblSource_->setToolTip(snapshot_.statusText());
    lblSource_->setVisible(snapshot_.isOpen());
}

bool frmMain::openSnapshotFile(const QString& path) {
    try {
        snapshot_.open(path.toStdString());
    } catch (const std::exception& e) {
        message(QMessageBox::Critical, QString::fromUtf8(e.what()));
        return false;
    }
    sbrMain_->clearMessage();
    lblNote_->clear();
    showRootAndSource();
    if (tree_.size() > 0) treMain_NodeClick(0);
    return true;
}

void frmMain::mnuFleOpenSnapshot_Click() {
    QString file = openDialogHook_ ? openDialogHook_(QString())
                                   : QFileDialog::getOpenFileName(this, "Kestrane - Open Snapshot", QString(),
                                                                  "Snapshots (*.json);;All files (*)");
    if (!file.isEmpty()) openSnapshotFile(file);
}

void frmMain::mnuFleSaveSnapshot_Click() {
    QTreeWidgetItem* rootItem = items_.empty() ? nullptr : items_[0];
    QString suggested = (rootItem ? rootItem->text(0) : QString("Kestrane")) + ".json";
    QString file = saveDialogHook_ ? saveDialogHook_(suggested)
                                   : QFileDialog::getSaveFileName(this, "Kestrane - Save Snapshot", suggested,
                                                                  "Snapshots (*.json)");
    if (file.isEmpty()) return;
    if (QFileInfo(file).suffix().isEmpty()) file += ".json";

    busy_ = true;
    state_.gblnCancel = false;
    lvwMain_->setEnabled(false);
    treMain_->setEnabled(false);
    lblNote_->clear();
    setProgressVisible(true);
    try {
        wmi::Services services = GetWMIServices();
        std::string computer = snapshot_.isOpen() ? snapshot_.computer() : services.provider()->computerName();
        if (computer.empty()) computer = RootText(state_.gstrComputer);
        auto res = SaveSnapshot(file.toStdString(), *services.provider(), computer,
                                [this](std::size_t i, std::size_t total, const std::string& name) {
                                    pbrMain_->setRange(0, static_cast<int>(total));
                                    pbrMain_->setValue(static_cast<int>(i));
                                    lblListedCount_->setText(QString::fromStdString(name));
                                    lblListedCount_->repaint();
                                    QApplication::processEvents();
                                    return !state_.gblnCancel;
                                });
        lblNote_->setText(res.cancelled ? QString("Snapshot not saved: cancelled")
                                        : QString("Snapshot of %1 saved to %2 (%3 classes)")
                                              .arg(QString::fromStdString(computer), file)
                                              .arg(res.recorded.size()));
    } catch (const wmi::Error& e) {
        lblNote_->setText("Snapshot not saved");
        message(QMessageBox::Critical, QString::fromStdString(e.displayText()));
    } catch (const std::exception& e) {
        lblNote_->setText("Snapshot not saved");
        message(QMessageBox::Critical, QString::fromUtf8(e.what()));
    }
    setProgressVisible(false);
    pbrMain_->setRange(0, 0);
    lblListedCount_->setText("Listed 0");
    lvwMain_->setEnabled(true);
    treMain_->setEnabled(true);
    finishBusy();
}

void frmMain::mnuEdtFind_Click() {
    fraFind_->open();
    ArrangeControls();
}

void frmMain::mnuEdtCopy_Click(bool valueOnly) {
    QAbstractItemView* v = currentView();
    std::vector<std::size_t> rows;
    for (const QModelIndex& i : v->selectionModel()->selectedIndexes())
        if (i.column() == 0) rows.push_back(static_cast<std::size_t>(i.row()));
    if (rows.empty() && v->currentIndex().isValid()) rows.push_back(static_cast<std::size_t>(v->currentIndex().row()));
    if (rows.empty()) return;
    std::sort(rows.begin(), rows.end());
    std::optional<std::size_t> column;
    if (valueOnly) {
        // The value column; in the table, the column of the current cell.
        int current = v->currentIndex().isValid() ? v->currentIndex().column() : 0;
        column = horizontalListing_ ? static_cast<std::size_t>(std::max(current, 0)) : std::size_t{1};
    }
    PutOnClipboard(CopyRows(list_, rows, horizontalListing_, column));
}

void frmMain::lvwMain_ColumnClick(int column) {
    if (!horizontalListing_ || busy_ || column < 0 || list_.rowCount() == 0) return;
    sortDescending_ = column == sortColumn_ ? !sortDescending_ : false;
    sortColumn_ = column;
    lvwReport_->clearSelection();
    list_.reorderRows(SortedOrder(list_, static_cast<std::size_t>(column), sortDescending_));
    listModel_->reordered();
    QHeaderView* h = lvwReport_->horizontalHeader();
    h->setSortIndicatorShown(true);
    h->setSortIndicator(column, sortDescending_ ? Qt::DescendingOrder : Qt::AscendingOrder);
}

void frmMain::PrepareExportDialog(QFileDialog& dialog, const QString& suggested) {
    dialog.setWindowTitle("Kestrane - Export");
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setNameFilter("HTML (*.html)");
    // The export is added to the end of an existing file, so there is
    // nothing to replace and nothing to ask; the dialog says so instead.
    dialog.setOption(QFileDialog::DontConfirmOverwrite);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.selectFile(suggested);
    auto* note = new QLabel("If the file exists, the export is appended to it.", &dialog);
    note->setObjectName("lblExportAppends");
    if (auto* grid = qobject_cast<QGridLayout*>(dialog.layout()))
        grid->addWidget(note, grid->rowCount(), 0, 1, grid->columnCount());
}

void frmMain::mnuFleExport_Click() {
    QTreeWidgetItem* item = treMain_->currentItem();
    QString suggested = item ? item->text(0) + ".html" : QString("Kestrane.html");
    QString file;
    if (saveDialogHook_) {
        file = saveDialogHook_(suggested);
    } else {
        QFileDialog dialog(this);
        PrepareExportDialog(dialog, suggested);
        if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty())
            file = dialog.selectedFiles().constFirst();
    }
    if (file.isEmpty()) return;
    std::optional<std::string> heading;
    if (item) heading = item->text(0).toStdString();
    try {
        SaveToFile(heading, list_, file.toStdString());
    } catch (const std::exception& ex) {
        message(QMessageBox::Critical, QString::fromUtf8(ex.what()));
    }
}

QMessageBox::StandardButton frmMain::message(QMessageBox::Icon icon, const QString& text,
                                             QMessageBox::StandardButtons buttons) {
    if (messageHook_) return messageHook_(icon, text, buttons);
    QMessageBox box(icon, "Kestrane", text, buttons, this);
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

}  // namespace kestrane::app
