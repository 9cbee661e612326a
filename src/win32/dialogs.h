// The window's dialogs: message boxes, Connect To, About, Find and the file
// dialogs. Every message box has the title "Kestrane".
#pragma once

#include <windows.h>

#include <optional>
#include <string>

#include "core/app_state.h"

namespace kestrane::win32 {

int Message(HWND owner, const std::string& text, UINT flags = MB_OK | MB_ICONERROR);

// Fills the state's computer, user and password; false when cancelled.
bool ConnectDialog(HWND owner, AppState& state);
void AboutDialog(HWND owner);

struct FindRequest {
    std::string text;
};
std::optional<FindRequest> FindDialog(HWND owner, const FindRequest& last);

// UTF-8 file names; "" when cancelled. `appendNote` says in the title that
// an existing file is added to, not replaced.
std::string OpenFileDialog(HWND owner, const wchar_t* title, const wchar_t* filter);
std::string SaveFileDialog(HWND owner, const wchar_t* title, const wchar_t* filter, const std::string& suggested,
                           const wchar_t* defaultExtension, bool confirmOverwrite);

}  // namespace kestrane::win32
