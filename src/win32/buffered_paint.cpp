#include "win32/buffered_paint.h"

#include <utility>
#include <vector>

namespace kestrane::win32 {
namespace {

// The controls' own procedures, looked up per message. Not SetWindowSubclass:
// under Wine that keeps its data in a window property, one server round trip
// for every message the control gets.
std::vector<std::pair<HWND, WNDPROC>>& Originals() {
    static std::vector<std::pair<HWND, WNDPROC>> originals;
    return originals;
}

WNDPROC OriginalOf(HWND hwnd) {
    for (const auto& [h, proc] : Originals())
        if (h == hwnd) return proc;
    return nullptr;
}

// Straight to the control: our own WM_ERASEBKGND answer only keeps BeginPaint
// from erasing the screen.
void PrintInto(HWND hwnd, WNDPROC control, HDC dc) {
    CallWindowProcW(control, hwnd, WM_ERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    CallWindowProcW(control, hwnd, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc), PRF_CLIENT);
}

bool PaintThroughBuffer(HWND hwnd, WNDPROC control, HDC screen, const RECT& paint) {
    RECT client;
    GetClientRect(hwnd, &client);
    if (IsRectEmpty(&client)) return true;
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = client.right;
    bi.bmiHeader.biHeight = -client.bottom;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    bi.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    HDC buffer = bitmap ? CreateCompatibleDC(screen) : nullptr;
    if (!buffer) {
        if (bitmap) DeleteObject(bitmap);
        return false;
    }
    HGDIOBJ old = SelectObject(buffer, bitmap);
    IntersectClipRect(buffer, paint.left, paint.top, paint.right, paint.bottom);
    PrintInto(hwnd, control, buffer);
    BitBlt(screen, paint.left, paint.top, paint.right - paint.left, paint.bottom - paint.top, buffer, paint.left,
           paint.top, SRCCOPY);
    SelectObject(buffer, old);
    DeleteDC(buffer);
    DeleteObject(bitmap);
    return true;
}

LRESULT CALLBACK BufferedProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    const WNDPROC control = OriginalOf(hwnd);
    if (!control) return DefWindowProcW(hwnd, msg, wp, lp);
    switch (msg) {
    case WM_ERASEBKGND:
        return 1;
    case WM_PAINT: {
        if (wp) break;
        PAINTSTRUCT ps;
        HDC screen = BeginPaint(hwnd, &ps);
        if (screen && !PaintThroughBuffer(hwnd, control, screen, ps.rcPaint)) PrintInto(hwnd, control, screen);
        EndPaint(hwnd, &ps);
        return 0;
    }
    case WM_NCDESTROY: {
        SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(control));
        std::erase_if(Originals(), [hwnd](const auto& entry) { return entry.first == hwnd; });
        break;
    }
    default:
        break;
    }
    return CallWindowProcW(control, hwnd, msg, wp, lp);
}

}  // namespace

void SettleBeforeShown(HWND control) {
    if (!control || IsWindowVisible(control)) return;
    HDC screen = GetDC(nullptr);
    HDC dc = CreateCompatibleDC(screen);
    ReleaseDC(nullptr, screen);
    if (!dc) return;
    IntersectClipRect(dc, 0, 0, 0, 0);
    const WNDPROC own = OriginalOf(control);
    PrintInto(control, own ? own : reinterpret_cast<WNDPROC>(GetWindowLongPtrW(control, GWLP_WNDPROC)), dc);
    DeleteDC(dc);
}

void PaintBuffered(HWND control) {
    if (!control || OriginalOf(control)) return;
    // The buffer is copied over the whole update rectangle; a child (the
    // list's header) must not be painted over.
    SetWindowLongPtrW(control, GWL_STYLE, GetWindowLongPtrW(control, GWL_STYLE) | WS_CLIPCHILDREN);
    const auto proc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(control, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&BufferedProc)));
    if (proc) Originals().emplace_back(control, proc);
}

}  // namespace kestrane::win32
