#include "qt/frmMain.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QFileDialog>
#include <QGridLayout>
#include <QHeaderView>
#include <QLabel>
#include <QListView>
#include <QMenuBar>
#include <QMimeData>
#include <QProgressBar>
#include <QStackedWidget>
#include <QStatusBar>
#include <QTableView>
#include <QTreeWidget>

#include "core/version.h"
#include "qt/find_bar.h"
#include "qt/frmAbout.h"
#include "qt/frmOpenStore.h"
#include "qt/frmSystemCredentials.h"
#include "qt/icons.h"
#include "qt/list_table_model.h"
#include "qt/reasons_line.h"

namespace kestrane::qt {

namespace {

// Design size of the client area, twips.
constexpr double kDesignClientWidth = 11415;
constexpr double kDesignClientHeight = 9150;

constexpr const char* kCredit = "Made with care by the Kestrane team";

}  // namespace

// Start-up and shutdown --------------------------------------------------------

void frmMain::ShowThisForm() {
    Form_Load();
    panels_[3]->setText(kCredit);
    show();
    // Connecting without the password would only be refused.
    if (core_.loginNeedsPassword()) mnuFleConnectTo_Click();
}

void frmMain::Form_Load() {
    const StartupSettings s = core_.load();
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
        sizeRestore_.start(s.width ? std::optional<int>(px(*s.width)) : std::nullopt,
                           s.height ? std::optional<int>(px(*s.height, true)) : std::nullopt);
        if (!firstShow_) restoreSize();
    }
    for (int i = 0; i < 3; ++i) mnuLevel_[i]->setChecked(i == 0);
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
    v.dataWidth = tw(lvwReport_->horizontalHeader()->sectionSize(0));
    core_.unload(v);
}

void frmMain::closeEvent(QCloseEvent* e) {
    if (core_.busy()) {
        // Let the running listing stop at its next instance, then close.
        e->ignore();
        if (!closing_) {
            closing_ = true;
            core_.runWhenIdle([this] { close(); });
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

void frmMain::treeRebuilt() {
    const TreeModel& tree = core_.tree();
    treMain_->clear();
    items_.assign(tree.size(), nullptr);
    for (int i : tree.preorder()) {
        const TreeNode& n = tree.node(i);
        QTreeWidgetItem* item = n.parent < 0 ? new QTreeWidgetItem(treMain_)
                                             : new QTreeWidgetItem(items_[static_cast<std::size_t>(n.parent)]);
        item->setText(0, QString::fromStdString(n.text));
        item->setIcon(0, IconForKey(QString::fromStdString(n.image)));
        item->setData(0, Qt::UserRole, i);
        items_[static_cast<std::size_t>(i)] = item;
    }
    for (std::size_t i = 0; i < items_.size(); ++i)
        if (tree.node(static_cast<int>(i)).expanded) items_[i]->setExpanded(true);
    if (tree.selected() >= 0) setCurrentTreeItem(items_[static_cast<std::size_t>(tree.selected())]);
}

void frmMain::treeTextChanged(int node) {
    if (node >= 0 && static_cast<std::size_t>(node) < items_.size())
        items_[static_cast<std::size_t>(node)]->setText(0, QString::fromStdString(core_.tree().node(node).text));
}

void frmMain::treeSelectionChanged(int node) {
    if (node >= 0 && static_cast<std::size_t>(node) < items_.size())
        setCurrentTreeItem(items_[static_cast<std::size_t>(node)]);
}

void frmMain::selectNodeByKey(const std::string& key) {
    int n = core_.tree().find(key);
    if (n >= 0) core_.select(n);
}

void frmMain::setCurrentTreeItem(QTreeWidgetItem* item) {
    settingCurrent_ = true;
    treMain_->setCurrentItem(item);
    settingCurrent_ = false;
}

// What the core shows ---------------------------------------------------------------

int frmMain::listMode() const { return lvwMain_->currentWidget() == lvwIcons_ ? 0 : 3; }

QAbstractItemView* frmMain::currentView() const {
    return listMode() == 0 ? static_cast<QAbstractItemView*>(lvwIcons_) : static_cast<QAbstractItemView*>(lvwReport_);
}

QAction* frmMain::action(const QString& objectName) const { return findChild<QAction*>(objectName); }

void frmMain::setListMode(window::ListMode mode) {
    lvwMain_->setCurrentWidget(mode == window::ListMode::Icons ? static_cast<QWidget*>(lvwIcons_) : lvwReport_);
}

void frmMain::listChanged() {
    listModel_->sync();
    QHeaderView* h = lvwReport_->horizontalHeader();
    h->setSortIndicatorShown(core_.sortColumn() >= 0);
}

void frmMain::listReordered() {
    lvwReport_->clearSelection();
    listModel_->reordered();
    QHeaderView* h = lvwReport_->horizontalHeader();
    h->setSortIndicatorShown(true);
    h->setSortIndicator(core_.sortColumn(), core_.sortDescending() ? Qt::DescendingOrder : Qt::AscendingOrder);
}

void frmMain::listingFinished() {
    lvwReport_->horizontalHeader()->setVisible(!core_.list().headersHidden());
    if (core_.list().columns().size() == 2)
        applyTwoColumnWidths();
    else
        // One column per property: fit them to what the first screens hold.
        lvwReport_->resizeColumnsToContents();
}

void frmMain::setInputEnabled(bool enabled) {
    lvwMain_->setEnabled(enabled);
    treMain_->setEnabled(enabled);
    if (enabled && !core_.busy() && treMain_->isVisible()) treMain_->setFocus();
}

void frmMain::setProgressVisible(bool visible) {
    if (visible) {
        picMain_->raise();
        picMain_->show();
    } else {
        picMain_->hide();
    }
}

void frmMain::setProgress(const std::string& text, std::size_t step, std::size_t total) {
    pbrMain_->setRange(0, static_cast<int>(total));
    pbrMain_->setValue(static_cast<int>(step));
    lblListedCount_->setText(QString::fromStdString(text));
}

void frmMain::processEvents() {
    lblListedCount_->repaint();
    QApplication::processEvents();
}

void frmMain::statusChanged() {
    const window::Status& st = core_.status();
    panels_[0]->setText(QString::fromStdString(st.panel));
    lblNote_->setText(QString::fromStdString(st.note));
    const QString source = QString::fromStdString(st.source);
    lblSource_->setText(source);
    lblSource_->setToolTip(source);
    lblSource_->setVisible(!source.isEmpty());
    ShowReasons(sbrMain_, st.reasons);
}

void frmMain::flash(const std::string& text) {
    if (text.empty())
        sbrMain_->clearMessage();
    else
        sbrMain_->showMessage(QString::fromStdString(text), 8000);
}

bool frmMain::message(window::MessageKind kind, const std::string& text, bool ask) {
    const QMessageBox::Icon icon = kind == window::MessageKind::Warning    ? QMessageBox::Warning
                                   : kind == window::MessageKind::Critical ? QMessageBox::Critical
                                   : kind == window::MessageKind::Question ? QMessageBox::Question
                                                                           : QMessageBox::Information;
    const auto buttons = ask ? QMessageBox::Yes | QMessageBox::No : QMessageBox::StandardButtons(QMessageBox::Ok);
    const auto answer = message(icon, QString::fromStdString(text), buttons);
    return answer == QMessageBox::Yes || answer == QMessageBox::Ok;
}

QMessageBox::StandardButton frmMain::message(QMessageBox::Icon icon, const QString& text,
                                             QMessageBox::StandardButtons buttons) {
    if (messageHook_) return messageHook_(icon, text, buttons);
    QMessageBox box(icon, "Kestrane", text, buttons, this);
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

// Commands -----------------------------------------------------------------------

void frmMain::lvwMain_DblClick() {
    QAbstractItemView* v = currentView();
    QModelIndex cur = v->currentIndex();
    if (!cur.isValid() || !v->selectionModel()->isSelected(cur)) return;
    core_.openRow(static_cast<std::size_t>(cur.row()));
}

void frmMain::tlbSub_ButtonClick(const QString& toolTip) { core_.openNode(toolTip.toStdString()); }

void frmMain::tlbMain_ButtonClick(const QString& imageKey) {
    if (imageKey == "Crest") {
        if (core_.tree().size() > 0) core_.runWhenIdle([this] { treMain_NodeClick(0); });
    } else if (imageKey == "Connect") {
        core_.runWhenIdle([this] { mnuFleConnectTo_Click(); });
    } else if (imageKey == "Refresh") {
        core_.runWhenIdle([this] { mnuViewRefresh_Click(); });
    } else if (imageKey == "About") {
        mnuHlpAbout_Click();
    } else if (imageKey == "Exit") {
        mnuFleExit_Click();
    }
}

void frmMain::mnuViewVertical_Click() {
    core_.setHorizontal(false);
    mnuViewHorizontal_->setChecked(false);
    mnuViewVertical_->setChecked(true);
}

void frmMain::mnuViewHorizontal_Click() {
    core_.setHorizontal(true);
    mnuViewVertical_->setChecked(false);
    mnuViewHorizontal_->setChecked(true);
}

void frmMain::mnuViewRefresh_Click() {
    QTreeWidgetItem* item = treMain_->currentItem();
    core_.refresh(item ? item->data(0, Qt::UserRole).toInt() : -1);
    treMain_->viewport()->update();
    lvwMain_->currentWidget()->update();
}

void frmMain::mnuLevel_Click(int index) {
    core_.setLevel(index);
    Form_Load();
}

void frmMain::mnuHlpAbout_Click() {
    frmAbout about(this);
    about.exec();
}

void frmMain::mnuFleConnectTo_Click() {
    bool accepted = false;
    {
        frmSystemCredentials dlg(core_.state(), this);
        if (credentialsHook_)
            credentialsHook_(&dlg);
        else
            dlg.exec();
        accepted = dlg.result() == QDialog::Accepted;
    }
    core_.connected(accepted);
}

bool frmMain::openSnapshotFile(const QString& path) { return core_.openSnapshot(path.toStdString()); }

void frmMain::mnuFleOpenSnapshot_Click() {
    QString file = openDialogHook_ ? openDialogHook_(QString())
                                   : QFileDialog::getOpenFileName(this, "Kestrane - Open Snapshot", QString(),
                                                                  "Snapshots (*.json);;All files (*)");
    if (!file.isEmpty()) openSnapshotFile(file);
}

void frmMain::mnuFleSaveSnapshot_Click() {
    const QString suggested = QString::fromStdString(core_.snapshotSuggestion());
    const QString file = saveDialogHook_ ? saveDialogHook_(suggested)
                                         : QFileDialog::getSaveFileName(this, "Kestrane - Save Snapshot", suggested,
                                                                        "Snapshots (*.json)");
    if (!file.isEmpty()) core_.saveSnapshot(file.toStdString());
}

void frmMain::mnuFleOpenStore_Click() {
    if (lastStore_.isEmpty()) lastStore_ = QString::fromStdString(fleet::Store::DefaultPath());
    frmOpenStore dlg(lastStore_, [this](const std::string& s) { return core_.storeComputers(s); }, this);
    if (storeHook_)
        storeHook_(&dlg);
    else
        dlg.exec();
    if (dlg.result() != QDialog::Accepted || dlg.choice() == frmOpenStore::None) return;
    lastStore_ = dlg.store();
    const std::string store = dlg.store().toStdString(), computer = dlg.computer().toStdString();
    if (dlg.choice() == frmOpenStore::Open)
        core_.openStored(store, computer);
    else
        core_.compareWithStored(store, computer);
}

void frmMain::mnuFleCompareWith_Click() {
    const QString file = openDialogHook_ ? openDialogHook_(QString())
                                         : QFileDialog::getOpenFileName(this, "Kestrane - Compare With", QString(),
                                                                        "Snapshots (*.json);;All files (*)");
    if (!file.isEmpty()) core_.compareWith(file.toStdString());
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
    const int column = v->currentIndex().isValid() ? v->currentIndex().column() : 0;
    const window::CopiedRows copied = core_.copy(rows, valueOnly, column);
    auto* mime = new QMimeData;
    mime->setText(QString::fromStdString(copied.text));
    mime->setHtml(QString::fromStdString(copied.html));
    QApplication::clipboard()->setMimeData(mime);
}

void frmMain::lvwMain_ColumnClick(int column) { core_.sortBy(column); }

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
    const QString suggested = QString::fromStdString(core_.exportSuggestion());
    QString file;
    if (saveDialogHook_) {
        file = saveDialogHook_(suggested);
    } else {
        QFileDialog dialog(this);
        PrepareExportDialog(dialog, suggested);
        if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty())
            file = dialog.selectedFiles().constFirst();
    }
    if (!file.isEmpty()) core_.exportTo(file.toStdString());
}

}  // namespace kestrane::qt
