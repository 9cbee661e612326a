// The main window of kestrane.exe: category tree on the left, a virtual list
// view on the right, tool bars above, status bar below, and the progress
// area with Cancel over them while a listing runs. It draws what the window
// core (src/window) holds and wires the controls to it.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/layout.h"
#include "core/settings.h"
#include "win32/dialogs.h"
#include "win32/icons.h"
#include "window/window.h"

namespace kestrane::win32 {

// The status bar's panes, left to right (the window test reads them by number).
enum Pane { kPaneNode, kPaneAddress, kPaneVersion, kPaneCredit, kPaneReasons, kPaneNote, kPaneSource, kPaneCount };

class frmMain : private window::FrontEnd {
public:
    frmMain(SettingsStore& settings, SecretStore& secrets, wmi::Backends backends);
    ~frmMain() override;

    // Creates the window, loads it and shows it with the root summary of the
    // computer, or of the snapshot file given (after saying why, when it
    // cannot be read).
    bool ShowThisForm(int showCommand, const std::string& snapshotFile = {});
    HWND hwnd() const { return hwnd_; }

    void Form_Load();
    void Form_Unload();
    void ArrangeControls();

private:
    // Takes a passing message (flash) away again.
    static constexpr UINT_PTR kFlashTimer = 1;

    static LRESULT CALLBACK WndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
    static LRESULT CALLBACK ProgressProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
    LRESULT handle(UINT msg, WPARAM wp, LPARAM lp);
    LRESULT onNotify(NMHDR* hdr);
    LRESULT onCustomDraw(NMLVCUSTOMDRAW* cd);
    void onCommand(int id);
    void createControls();
    void buildToolBars();
    void buildStatusBar();
    void buildProgressArea();
    void Form_MouseMove(bool leftButton, int xPixels);

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

    // Commands
    void mnuFleConnectTo_Click();
    void mnuFleOpenSnapshot_Click();
    void mnuFleSaveSnapshot_Click();
    void mnuFleCompareWith_Click();
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
    void mnuHlpAbout_Click();
    void lvwMain_ColumnClick(int column);
    void lvwMain_DblClick();

    // The list model's rows to the view; `now` even while a listing runs.
    void showRows(bool now);
    void syncColumns();
    void showSortArrow();
    void fitColumns();
    void setStatus(int pane, const std::string& text);
    std::vector<std::size_t> selectedRows() const;
    void selectRow(std::size_t row);

    int px(double twips) const { return static_cast<int>(TwipsToPixels(twips, dpi_) + 0.5); }
    double tw(int pixels) const { return PixelsToTwips(pixels, dpi_); }
    // The window's outer size in a normal state: the settings', or the design size.
    SIZE normalSize(const StartupSettings& s) const;

    SettingsStore& settings_;
    window::WindowCore core_;
    std::unique_ptr<ImageLists> images_;
    std::vector<HTREEITEM> items_;  // by core node index

    HWND hwnd_ = nullptr, treMain_ = nullptr, lvwMain_ = nullptr, sbrMain_ = nullptr;
    HWND tlbMain_ = nullptr, tlbMainSub1_ = nullptr, tlbMainSub2_ = nullptr;
    HWND picMain_ = nullptr, pbrMain_ = nullptr, lblListedCount_ = nullptr, cmdCancel_ = nullptr;
    HFONT boldFont_ = nullptr;
    HACCEL accel_ = nullptr;
    int dpi_ = 96;
    int showCommand_ = SW_SHOWNORMAL;

    Rect band_rect_, tree_rect_, list_rect_;
    bool sizingPointer_ = false;
    bool closing_ = false, settingSelection_ = false;
    unsigned long columnGeneration_ = static_cast<unsigned long>(-1);
    // What the view was last told of the rows, and when.
    std::size_t shownRows_ = 0;
    unsigned long shownStructure_ = static_cast<unsigned long>(-1);
    DWORD shownTick_ = 0;
    // What the header's arrow shows: column (or -1), direction, columns.
    int arrowColumn_ = -1;
    bool arrowDescending_ = false;
    unsigned long arrowGeneration_ = static_cast<unsigned long>(-1);
    bool marquee_ = true;
    std::string flashed_, shownNote_;
    FindRequest find_;
    std::optional<StartupSettings> pendingGeometry_;

    friend int RunMessageLoop(frmMain& form);
};

// The message loop with the window's accelerators.
int RunMessageLoop(frmMain& form);

}  // namespace kestrane::win32
