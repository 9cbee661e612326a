#include "win32/dialogs.h"

#include <commdlg.h>

#include <algorithm>

#include "core/platform.h"
#include "core/version.h"
#include "win32/resource.h"

namespace kestrane::win32 {

namespace {

// The longest computer name, user name or password the dialog takes; a
// longer stored value is shown and kept whole instead of cut.
constexpr int kMaxLength = 255;

std::string WindowTextUtf8(HWND w) {
    int n = GetWindowTextLengthW(w);
    std::wstring s(static_cast<std::size_t>(n) + 1, L'\0');
    n = GetWindowTextW(w, s.data(), n + 1);
    return Utf8FromWide(s.data(), static_cast<std::size_t>(std::max(n, 0)));
}

void SetEdit(HWND dlg, int id, const std::string& value) {
    const std::wstring w = WideFromUtf8(value);
    SendDlgItemMessageW(dlg, id, EM_SETLIMITTEXT, std::max<std::size_t>(kMaxLength, w.size()), 0);
    SetDlgItemTextW(dlg, id, w.c_str());
}

INT_PTR CALLBACK ConnectProc(HWND dlg, UINT msg, WPARAM wp, LPARAM lp) {
    auto* state = reinterpret_cast<AppState*>(GetWindowLongPtrW(dlg, DWLP_USER));
    switch (msg) {
    case WM_INITDIALOG:
        SetWindowLongPtrW(dlg, DWLP_USER, lp);
        state = reinterpret_cast<AppState*>(lp);
        SetEdit(dlg, IDC_COMPUTER, state->gstrComputer);
        SetEdit(dlg, IDC_USER, state->gstrUserName);
        SetEdit(dlg, IDC_PASSWORD, state->gstrPassword);
        SendDlgItemMessageW(dlg, IDC_COMPUTER, EM_SETSEL, 0, -1);
        SetFocus(GetDlgItem(dlg, IDC_COMPUTER));
        return FALSE;
    case WM_COMMAND:
        if (LOWORD(wp) == IDOK) {
            state->gstrComputer = WindowTextUtf8(GetDlgItem(dlg, IDC_COMPUTER));
            state->gstrUserName = WindowTextUtf8(GetDlgItem(dlg, IDC_USER));
            state->gstrPassword = WindowTextUtf8(GetDlgItem(dlg, IDC_PASSWORD));
            EndDialog(dlg, IDOK);
            return TRUE;
        }
        if (LOWORD(wp) == IDCANCEL) {
            EndDialog(dlg, IDCANCEL);
            return TRUE;
        }
        if (HIWORD(wp) == EN_SETFOCUS) SendMessageW(reinterpret_cast<HWND>(lp), EM_SETSEL, 0, -1);
        break;
    }
    return FALSE;
}

INT_PTR CALLBACK AboutProc(HWND dlg, UINT msg, WPARAM wp, LPARAM) {
    switch (msg) {
    case WM_INITDIALOG:
        SetDlgItemTextW(dlg, IDC_ABOUT_VERSION, WideFromUtf8(AboutVersionText()).c_str());
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wp) == IDOK || LOWORD(wp) == IDCANCEL) {
            EndDialog(dlg, IDOK);
            return TRUE;
        }
        break;
    }
    return FALSE;
}

INT_PTR CALLBACK FindProc(HWND dlg, UINT msg, WPARAM wp, LPARAM lp) {
    auto* req = reinterpret_cast<FindRequest*>(GetWindowLongPtrW(dlg, DWLP_USER));
    switch (msg) {
    case WM_INITDIALOG:
        SetWindowLongPtrW(dlg, DWLP_USER, lp);
        req = reinterpret_cast<FindRequest*>(lp);
        SetDlgItemTextW(dlg, IDC_FIND_TEXT, WideFromUtf8(req->text).c_str());
        SendDlgItemMessageW(dlg, IDC_FIND_TEXT, EM_SETSEL, 0, -1);
        SetFocus(GetDlgItem(dlg, IDC_FIND_TEXT));
        return FALSE;
    case WM_COMMAND:
        if (LOWORD(wp) == IDOK) {
            req->text = WindowTextUtf8(GetDlgItem(dlg, IDC_FIND_TEXT));
            EndDialog(dlg, IDOK);
            return TRUE;
        }
        if (LOWORD(wp) == IDCANCEL) {
            EndDialog(dlg, IDCANCEL);
            return TRUE;
        }
        break;
    }
    return FALSE;
}

std::string FileDialog(HWND owner, const wchar_t* title, const wchar_t* filter, const std::string& suggested,
                       const wchar_t* ext, DWORD flags, bool save) {
    std::wstring buf = WideFromUtf8(suggested);
    // Characters a file name cannot hold (a computer name with a backslash)
    // become blanks, so the suggestion is a name and not a path.
    std::replace_if(buf.begin(), buf.end(), [](wchar_t c) { return wcschr(L"\\/:*?\"<>|", c) != nullptr; }, L'_');
    buf.resize(32768, L'\0');
    OPENFILENAMEW ofn{};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = owner;
    ofn.lpstrFilter = filter;
    ofn.lpstrFile = buf.data();
    ofn.nMaxFile = static_cast<DWORD>(buf.size());
    ofn.lpstrTitle = title;
    ofn.lpstrDefExt = ext;
    ofn.Flags = flags | OFN_EXPLORER | OFN_NOCHANGEDIR | OFN_HIDEREADONLY;
    if (!(save ? GetSaveFileNameW(&ofn) : GetOpenFileNameW(&ofn))) return {};
    return Utf8FromWide(buf.c_str(), wcslen(buf.c_str()));
}

}  // namespace

int Message(HWND owner, const std::string& text, UINT flags) {
    return MessageBoxW(owner, WideFromUtf8(text).c_str(), L"Kestrane", flags);
}

bool ConnectDialog(HWND owner, AppState& state) {
    AppState edited = state;
    if (DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_CONNECT), owner, ConnectProc,
                        reinterpret_cast<LPARAM>(&edited)) != IDOK)
        return false;
    state = edited;
    return true;
}

void AboutDialog(HWND owner) {
    DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_ABOUT), owner, AboutProc, 0);
}

std::optional<FindRequest> FindDialog(HWND owner, const FindRequest& last) {
    FindRequest req = last;
    if (DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_FIND), owner, FindProc,
                        reinterpret_cast<LPARAM>(&req)) != IDOK)
        return std::nullopt;
    return req;
}

std::string OpenFileDialog(HWND owner, const wchar_t* title, const wchar_t* filter) {
    return FileDialog(owner, title, filter, {}, nullptr, OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST, false);
}

std::string SaveFileDialog(HWND owner, const wchar_t* title, const wchar_t* filter, const std::string& suggested,
                           const wchar_t* ext, bool confirmOverwrite) {
    return FileDialog(owner, title, filter, suggested, ext, confirmOverwrite ? OFN_OVERWRITEPROMPT : 0, true);
}

}  // namespace kestrane::win32
