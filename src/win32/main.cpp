// kestrane.exe: the native Windows window.
#include <windows.h>
#include <commctrl.h>
#include <objbase.h>
#include <shellapi.h>

#include <exception>

#include "backends/backends.h"
#include "core/platform.h"
#include "win32/dialogs.h"
#include "win32/frmMain.h"
#include "win32/stores.h"
#include "wmi/error.h"

namespace {

// Per-monitor v2 where Windows has it; system-aware where that call fails
// (older Windows, Wine). A manifest may already have decided: then the calls
// fail harmlessly.
void UseDpiAwareness() {
    HMODULE user32 = GetModuleHandleW(L"user32.dll");
    using SetContextFn = BOOL(WINAPI*)(HANDLE);
    auto setContext = reinterpret_cast<SetContextFn>(
        reinterpret_cast<void*>(GetProcAddress(user32, "SetProcessDpiAwarenessContext")));
    if (setContext) {
        if (setContext(reinterpret_cast<HANDLE>(static_cast<INT_PTR>(-4)))) return;  // per-monitor v2
        if (setContext(reinterpret_cast<HANDLE>(static_cast<INT_PTR>(-2)))) return;  // system-aware
    }
    SetProcessDPIAware();
}

int Fail(const std::string& what) {
    kestrane::win32::Message(nullptr, "Kestrane stopped: " + what);
    return 1;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int showCommand) {
    UseDpiAwareness();
    INITCOMMONCONTROLSEX icc{sizeof icc, ICC_TREEVIEW_CLASSES | ICC_LISTVIEW_CLASSES | ICC_BAR_CLASSES |
                                             ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&icc);
    // The window's thread is single-threaded for COM: the file dialogs and
    // the clipboard need it, and the WMI provider keeps the apartment it finds.
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);

    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    std::string snapshotFile;
    if (argv && argc > 1) snapshotFile = kestrane::Utf8FromWide(argv[1], wcslen(argv[1]));
    // Settings are addressed by the executable's base name, so a renamed
    // program starts with settings of its own.
    wchar_t module[MAX_PATH] = L"kestrane";
    GetModuleFileNameW(nullptr, module, MAX_PATH);
    std::wstring base = module;
    base = base.substr(base.find_last_of(L"\\/") + 1);
    if (auto dot = base.find_last_of(L'.'); dot != std::wstring::npos) base.resize(dot);
    if (argv) LocalFree(argv);

    int rc = 0;
    try {
        kestrane::win32::IniSettingsStore settings(kestrane::win32::IniSettingsStore::DefaultPath(base));
        kestrane::win32::CredentialSecretStore secrets;
        kestrane::win32::frmMain form(settings, secrets, kestrane::DefaultBackends());
        if (!form.ShowThisForm(showCommand, snapshotFile)) return Fail("the window could not be created");
        rc = kestrane::win32::RunMessageLoop(form);
    } catch (const wmi::Error& e) {
        rc = Fail(e.displayText());
    } catch (const std::exception& e) {
        rc = Fail(e.what());
    }
    if (SUCCEEDED(com)) CoUninitialize();
    return rc;
}
