#include "win32/clipboard.h"

#include <cstdio>
#include <cstring>

#include "core/platform.h"

namespace kestrane::win32 {

namespace {

bool SetData(UINT format, const void* data, std::size_t bytes) {
    HGLOBAL mem = GlobalAlloc(GMEM_MOVEABLE, bytes);
    if (!mem) return false;
    std::memcpy(GlobalLock(mem), data, bytes);
    GlobalUnlock(mem);
    if (SetClipboardData(format, mem)) return true;
    GlobalFree(mem);
    return false;
}

}  // namespace

std::string HtmlClipboardFormat(const std::string& fragment) {
    static const char kHeader[] =
        "Version:0.9\r\nStartHTML:%010zu\r\nEndHTML:%010zu\r\nStartFragment:%010zu\r\nEndFragment:%010zu\r\n";
    static const std::string kBefore = "<html><body>\r\n<!--StartFragment-->";
    static const std::string kAfter = "<!--EndFragment-->\r\n</body></html>";
    char probe[160];
    // The header has a fixed length: every offset is written in ten digits.
    const std::size_t headerLength = static_cast<std::size_t>(std::snprintf(probe, sizeof probe, kHeader,
                                                                             std::size_t{0}, std::size_t{0},
                                                                             std::size_t{0}, std::size_t{0}));
    const std::size_t startHtml = headerLength;
    const std::size_t startFragment = startHtml + kBefore.size();
    const std::size_t endFragment = startFragment + fragment.size();
    const std::size_t endHtml = endFragment + kAfter.size();
    char header[160];
    std::snprintf(header, sizeof header, kHeader, startHtml, endHtml, startFragment, endFragment);
    return header + kBefore + fragment + kAfter;
}

bool PutOnClipboard(HWND owner, const std::string& text, const std::string& html) {
    if (!OpenClipboard(owner)) return false;
    EmptyClipboard();
    std::wstring w = WideFromUtf8(text);
    // Windows' own controls paste CRLF line ends.
    std::wstring crlf;
    for (wchar_t c : w) {
        if (c == L'\n') crlf += L'\r';
        crlf += c;
    }
    bool ok = SetData(CF_UNICODETEXT, crlf.c_str(), (crlf.size() + 1) * sizeof(wchar_t));
    const std::string cfHtml = HtmlClipboardFormat(html);
    if (UINT format = RegisterClipboardFormatW(L"HTML Format"))
        ok = SetData(format, cfHtml.c_str(), cfHtml.size() + 1) && ok;
    CloseClipboard();
    return ok;
}

}  // namespace kestrane::win32
