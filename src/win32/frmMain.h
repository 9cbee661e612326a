// The main window of kestrane.exe: category tree on the left, a virtual list
// view on the right, tool bars above, status bar below, and the progress
// area with Cancel over them while a listing runs.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "catalogue/tree_model.h"
#include "core/app_state.h"
#include "core/layout.h"
#include "core/settings.h"
#include "listing/list_model.h"
#include "listing/listing.h"
#include "window/find.h"
#include "win32/dialogs.h"
#include "win32/icons.h"
#include "wmi/services.h"
#include "wmi/snapshot/snapshot.h"

namespace kestrane::win32 {

class frmMain : private ListingHost {
public:
    frmMain(SettingsStore& settings, SecretStore& secrets, wmi::Backends backends);
    ~frmMain() override;

    // Creates the window, loads it and shows it with the root summary of the
    // computer, or of the snapshot file given (after saying why, when it
    // cannot be read).
    bool ShowThisForm(int showCommand, const std::string& snapshotFile = {});
    HWND hwnd() const { return hwnd_; }
    // Browses a recorded computer; false (after saying why) when the file
    // cannot be read.
    bool openSnapshotFile(const std::string& path);

    void Form_Load();
    void Form_Unload();
    void treMain_NodeClick(int node);
    void ArrangeControls();

private:
    static LRESULT CALLBACK WndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
    static LRESULT CALLBACK ProgressProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
    LRESULT handle(UINT msg, WPARAM wp, LPARAM lp);
    LRESULT onNotify(NMHDR* hdr);
    void onCommand(int id);
    void createControls();
    void buildToolBars();
    void buildStatusBar();
    void buildProgressArea();

    // ListingHost
    bool cancelRequested() const override { return state_.gblnCancel; }
    void setListedCount(long count) override;
    void setProgressVisible(bool visible) override;
    void yieldToUser(bool always) override;
    std::string selectedNodeKey() const override;
    void listingEnded(bool complete) override { listingComplete_ = complete; }

    // Commands
    void mnuFleConnectTo_Click();
    void mnuFleOpenSnapshot_Click();
    void mnuFleSaveSnapshot_Click();
    void mnuFleExport_Click();
    void mnuFleExit_Click();
    void mnuEdtFind_Click();
    void findNext(bool backwards);
    void showFindHit(const window::Finder::Hit& hit);
    void mnuEdtCopy_Click(bool valueOnly);
    void mnuEdtSelectAll_Click();
    void mnuViewVertical_Click();
    void mnuViewHorizontal_Click();
    void mnuViewRefresh_Click();
    void mnuLevel_Click(int index);
    void mnuHlpAbout_Click();
    void cmdCancel_Click() { state_.gblnCancel = true; }
    void lvwMain_ColumnClick(int column);
    void lvwMain_DblClick();
    void Form_MouseMove(bool leftButton, int xPixels);

    // Runs now, or once the running listing has stopped (which it is asked to).
    void runWhenIdle(std::function<void()> f);
    void finishBusy();
    wmi::Services GetWMIServices();
    void showRootAndSource();
    void rebuildTreeView();
    void syncList();
    void syncColumns();
    void setListMode(int mode);
    void fitColumns();
    void setStatus(int pane, const std::string& text);
    void setBusy(bool busy);
    std::vector<std::size_t> selectedRows() const;
    void selectRow(std::size_t row);
    void saveSettings();

    int px(double twips) const { return static_cast<int>(TwipsToPixels(twips, dpi_) + 0.5); }
    double tw(int pixels) const { return PixelsToTwips(pixels, dpi_); }

    SettingsStore& settings_;
    SecretStore& secrets_;
    wmi::Backends backends_;
    AppState state_;
    TreeModel tree_;
    ListModel list_;
    std::shared_ptr<wmi::SnapshotProvider> snapshot_;
    std::unique_ptr<ImageLists> images_;
    std::vector<HTREEITEM> items_;

    HWND hwnd_ = nullptr, treMain_ = nullptr, lvwMain_ = nullptr, sbrMain_ = nullptr;
    HWND tlbMain_ = nullptr, tlbMainSub1_ = nullptr, tlbMainSub2_ = nullptr;
    HWND picMain_ = nullptr, pbrMain_ = nullptr, lblListedCount_ = nullptr, cmdCancel_ = nullptr;
    HFONT boldFont_ = nullptr;
    HACCEL accel_ = nullptr;
    int dpi_ = 96;

    Rect band_rect_, tree_rect_, list_rect_;
    bool sizingPointer_ = false;
    bool busy_ = false, closing_ = false, settingSelection_ = false;
    std::vector<std::function<void()>> deferred_;
    unsigned long columnGeneration_ = static_cast<unsigned long>(-1);
    int listMode_ = 3;
    int sortColumn_ = -1;
    bool sortDescending_ = false;
    bool horizontalListing_ = false;
    long listedCount_ = 0;
    bool listingComplete_ = true;
    DWORD lastYield_ = 0;
    FindRequest find_;
    window::Finder finder_;
    std::optional<StartupSettings> pendingGeometry_;

    friend int RunMessageLoop(frmMain& form);
};

// The message loop with the window's accelerators.
int RunMessageLoop(frmMain& form);

}  // namespace kestrane::win32
