// The system clipboard: plain text (CF_UNICODETEXT) and "HTML Format".
#pragma once

#include <windows.h>

#include <string>

namespace kestrane::win32 {

// The "HTML Format" text of a UTF-8 fragment: a header of byte offsets
// (StartHTML, EndHTML, StartFragment, EndFragment), then the document.
std::string HtmlClipboardFormat(const std::string& fragment);

// Replaces the clipboard's content with both forms; false when the
// clipboard could not be opened.
bool PutOnClipboard(HWND owner, const std::string& text, const std::string& html);

}  // namespace kestrane::win32
