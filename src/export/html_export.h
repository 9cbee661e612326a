// Writing what the list shows to an HTML file.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "listing/list_model.h"

namespace kestrane {

// The bytes one export appends: the heading (the selected node's text), then
// one table of the list's columns and rows, in Windows-1252 with CRLF line
// ends. Texts are escaped; characters outside the code page become numeric
// character references.
std::string BuildHtmlExport(const std::string& heading, const ListModel& list);

// Appends the export to the file, creating it if needed. Without a selected
// node nothing is written. Throws FileError naming the file when it cannot
// be opened or written.
void SaveToFile(const std::optional<std::string>& selectedNodeText, const ListModel& list,
                const std::string& strFileName, std::string_view strFormat = "HTML");

// UTF-8 text to Windows-1252 bytes, HTML-escaped.
std::string EscapeForExport(std::string_view utf8);
// The same escaping, staying in UTF-8 (malformed bytes become U+FFFD).
std::string EscapeHtml(std::string_view utf8);

}  // namespace kestrane
