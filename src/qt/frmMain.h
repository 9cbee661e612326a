// The main window: category tree on the left, list on the right. It draws
// what the window core (src/window) holds and wires the controls to it.
#pragma once

#include <QMainWindow>
#include <QMessageBox>
#include <functional>
#include <memory>

#include "core/layout.h"
#include "core/settings.h"
#include "window/geometry.h"
#include "window/window.h"

class QAbstractItemView;
class QAction;
class QFileDialog;
class QFrame;
class QLabel;
class QListView;
class QProgressBar;
class QPushButton;
class QStackedWidget;
class QStatusBar;
class QToolBar;
class QTableView;
class QTreeWidget;
class QTreeWidgetItem;

namespace kestrane::qt {

class ListTableModel;
class ClientArea;
class FindBar;

class frmMain : public QMainWindow, private window::FrontEnd {
    Q_OBJECT
public:
    frmMain(SettingsStore& settings, SecretStore& secrets, wmi::Backends backends, QWidget* parent = nullptr);
    ~frmMain() override;

    // Loads the window and shows it modeless; asks for a remembered remote
    // login's password when none is kept.
    void ShowThisForm();
    // Start-up sequence; also re-run whole after a level change.
    void Form_Load();
    // Shutdown sequence; runs whenever the window closes.
    void Form_Unload();

    // Commands.
    void mnuFleExit_Click();
    void mnuFleConnectTo_Click();
    void mnuFleExport_Click();
    void mnuFleOpenSnapshot_Click();
    void mnuFleSaveSnapshot_Click();
    void mnuFleOpenStore_Click();
    void mnuFleCompareWith_Click();
    // Browses a recorded computer; false (after saying why) when the file
    // cannot be read.
    bool openSnapshotFile(const QString& path);
    void mnuEdtFind_Click();
    // Copies the selected rows; `valueOnly` copies their values alone.
    void mnuEdtCopy_Click(bool valueOnly);
    // A click on a column header of the horizontal view sorts by it.
    void lvwMain_ColumnClick(int column);
    void mnuViewVertical_Click();
    void mnuViewHorizontal_Click();
    void mnuViewRefresh_Click();
    void mnuLevel_Click(int index);
    void mnuHlpAbout_Click();
    void tlbMain_ButtonClick(const QString& imageKey);
    void tlbSub_ButtonClick(const QString& toolTip);
    void cmdCancel_Click() { core_.cancel(); }

    // Selection of a tree node by its index in the core tree.
    void treMain_NodeClick(int node) { core_.select(node); }
    void lvwMain_DblClick();
    void Form_MouseMove(Qt::MouseButtons button, double xTwips);
    void treMain_MouseMove();
    void lvwMain_MouseMove() { treMain_MouseMove(); }
    void ArrangeControls();

    // Message boxes go through this so tests can answer them.
    using MessageHook = std::function<QMessageBox::StandardButton(
        QMessageBox::Icon, const QString& text, QMessageBox::StandardButtons)>;
    void setMessageHook(MessageHook hook) { messageHook_ = std::move(hook); }
    // The save dialog, likewise; returns "" when cancelled.
    using SaveDialogHook = std::function<QString(const QString& suggested)>;
    void setSaveDialogHook(SaveDialogHook hook) { saveDialogHook_ = std::move(hook); }
    // The open dialog, likewise.
    void setOpenDialogHook(SaveDialogHook hook) { openDialogHook_ = std::move(hook); }
    // Sets up the Export dialog: appending, never a question about replacing.
    static void PrepareExportDialog(QFileDialog& dialog, const QString& suggested);
    // The credentials dialog, likewise.
    using CredentialsHook = std::function<void(QWidget* dialog)>;
    void setCredentialsHook(CredentialsHook hook) { credentialsHook_ = std::move(hook); }
    // The Open Store dialog, likewise.
    void setStoreHook(CredentialsHook hook) { storeHook_ = std::move(hook); }

    // For tests and the status of the window.
    window::WindowCore& core() { return core_; }
    AppState& state() { return core_.state(); }
    const TreeModel& tree() const { return core_.tree(); }
    const ListModel& list() const { return core_.list(); }
    QTreeWidget* treMain() const { return treMain_; }
    QStackedWidget* lvwMain() const { return lvwMain_; }
    QTableView* lvwReport() const { return lvwReport_; }
    QListView* lvwIcons() const { return lvwIcons_; }
    QFrame* picMain() const { return picMain_; }
    QLabel* lblListedCount() const { return lblListedCount_; }
    QLabel* statusPanel(int index) const { return panels_[index]; }
    // The listing's outcome, and the recorded computer being browsed.
    QLabel* statusNote() const { return lblNote_; }
    QLabel* statusSource() const { return lblSource_; }
    FindBar* findBar() const { return fraFind_; }
    QAction* action(const QString& objectName) const;
    QToolBar* tlbMain() const { return tlbMain_; }
    QToolBar* tlbMainSub1() const { return tlbMainSub1_; }
    QToolBar* tlbMainSub2() const { return tlbMainSub2_; }
    QAction* mnuViewVertical() const { return mnuViewVertical_; }
    QAction* mnuViewHorizontal() const { return mnuViewHorizontal_; }
    QAction* mnuLevel(int index) const { return mnuLevel_[index - 1]; }
    int listMode() const;  // 0 large icons, 3 report
    double treeWidthTwips() const { return tree_rect_.width; }
    double listWidthTwips() const { return list_rect_.width; }
    double clientWidthTwips() const;
    bool sizingPointer() const { return sizingPointer_; }
    bool busy() const { return core_.busy(); }
    void selectNodeByKey(const std::string& key);

protected:
    void closeEvent(QCloseEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    void moveEvent(QMoveEvent* e) override;
    void showEvent(QShowEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // window::FrontEnd
    void listChanged() override;
    void listReordered() override;
    void listingFinished() override;
    void setListMode(window::ListMode mode) override;
    void setInputEnabled(bool enabled) override;
    void setProgressVisible(bool visible) override;
    void setProgress(const std::string& text, std::size_t step, std::size_t total) override;
    void processEvents() override;
    void treeRebuilt() override;
    void treeTextChanged(int node) override;
    void treeSelectionChanged(int node) override;
    void statusChanged() override;
    void flash(const std::string& text) override;
    bool message(window::MessageKind kind, const std::string& text, bool ask) override;

    void buildViews();
    void buildMenus();
    void buildToolBars();
    void buildStatusBar();
    void buildProgressArea();
    void setCurrentTreeItem(QTreeWidgetItem* item);
    QAbstractItemView* currentView() const;
    void placeListPane(const Rect& list);
    void applyTwoColumnWidths();
    // The stored size, once the frame around the window is known.
    void restoreSize();
    QMessageBox::StandardButton message(QMessageBox::Icon icon, const QString& text,
                                        QMessageBox::StandardButtons buttons = QMessageBox::Ok);
    double dpiX() const;
    double dpiY() const;
    int px(double twips, bool vertical = false) const;
    double tw(double pixels, bool vertical = false) const;
    // Wires an action to run when the core is idle.
    void whenIdle(QAction* action, std::function<void()> f);

    window::WindowCore core_;

    ClientArea* client_ = nullptr;
    QWidget* clbMain_ = nullptr;
    QToolBar* tlbMain_ = nullptr;
    QToolBar* tlbMainSub1_ = nullptr;
    QToolBar* tlbMainSub2_ = nullptr;
    QTreeWidget* treMain_ = nullptr;
    std::vector<QTreeWidgetItem*> items_;  // by core node index
    QStackedWidget* lvwMain_ = nullptr;
    QTableView* lvwReport_ = nullptr;
    QListView* lvwIcons_ = nullptr;
    ListTableModel* listModel_ = nullptr;
    QStatusBar* sbrMain_ = nullptr;
    QLabel* panels_[4] = {};
    QFrame* picMain_ = nullptr;
    QLabel* lblProgress_ = nullptr;
    QProgressBar* pbrMain_ = nullptr;
    QPushButton* cmdCancel_ = nullptr;
    QLabel* lblListedCount_ = nullptr;
    QAction* mnuViewVertical_ = nullptr;
    QAction* mnuViewHorizontal_ = nullptr;
    QAction* mnuLevel_[3] = {};
    FindBar* fraFind_ = nullptr;
    QLabel* lblNote_ = nullptr;
    QLabel* lblSource_ = nullptr;

    Rect tree_rect_{0, 0, 3700, 0};
    Rect list_rect_;
    Rect band_rect_;
    bool sizingPointer_ = false;
    bool settingCurrent_ = false;
    bool closing_ = false;
    bool firstShow_ = true;
    window::SizeRestore sizeRestore_;
    int twoColumnWidths_[2] = {0, 0};  // pixels; the user's or the layout's
    bool applyingWidths_ = false;
    MessageHook messageHook_;
    SaveDialogHook saveDialogHook_;
    SaveDialogHook openDialogHook_;
    CredentialsHook credentialsHook_;
    CredentialsHook storeHook_;
    QString lastStore_;
};

}  // namespace kestrane::qt
