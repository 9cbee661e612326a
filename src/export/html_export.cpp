#include "export/html_export.h"

#include <algorithm>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "core/file_error.h"
#include "core/platform.h"
#include "core/utf8.h"

namespace kestrane {

namespace {

constexpr const char* kCrLf = "\r\n";
constexpr const char* kTableTag =
    "<table  border=\"1\" cellpadding=\"0\" cellspacing=\"0\" style=\"border-collapse: collapse\" "
    "bordercolor=\"#111111\" width=\"100%\" id=\"AutoNumber1\">";

// Code points of Windows-1252's bytes 0x80 to 0x9F (0 where undefined).
constexpr char32_t kCp1252High[32] = {
    0x20AC, 0, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0, 0x017D, 0, 0, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0, 0x017E, 0x0178,
};

int ToCp1252(char32_t cp) {
    if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) return static_cast<int>(cp);
    for (int i = 0; i < 32; ++i)
        if (kCp1252High[i] == cp && cp != 0) return 0x80 + i;
    return -1;
}


// The markup characters become entities; every other code point goes to
// `emit`, so the file and the clipboard escape alike and differ only in how
// they encode the rest.
template <class Emit>
std::string EscapeMarkup(std::string_view s, Emit emit) {
    std::string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size();) {
        char32_t cp = NextCodePoint(s, i);
        switch (cp) {
        case '&': out += "&amp;"; continue;
        case '<': out += "&lt;"; continue;
        case '>': out += "&gt;"; continue;
        case '"': out += "&quot;"; continue;
        default: emit(out, cp);
        }
    }
    return out;
}

}  // namespace

std::string EscapeForExport(std::string_view s) {
    return EscapeMarkup(s, [](std::string& out, char32_t cp) {
        int b = ToCp1252(cp);
        if (b >= 0)
            out += static_cast<char>(b);
        else
            out += "&#" + std::to_string(static_cast<unsigned long>(cp)) + ";";
    });
}

std::string EscapeHtml(std::string_view s) { return EscapeMarkup(s, kestrane::AppendUtf8); }

std::string BuildHtmlExport(const std::string& heading, const ListModel& list) {
    std::string out;
    out.reserve(256 + list.rowCount() * 64);
    out += kCrLf;
    out += "<H2>" + EscapeForExport(heading) + "</H2>";
    out += kCrLf;
    out += kCrLf;
    out += kTableTag;
    out += kCrLf;
    out += "<tr>";
    out += kCrLf;
    for (const auto& c : list.columns()) out += "<td><b>" + EscapeForExport(c.caption) + "</b></td>";
    out += kCrLf;
    out += "</tr>";
    out += kCrLf;
    for (const auto& r : list.rows()) {
        out += kCrLf;
        out += "<tr>";
        out += kCrLf;
        out += "<td><b>" + EscapeForExport(r.text) + "</b></td>";
        // Every column of the row (a horizontal listing has one per
        // property); a list of one column still gets whole rows.
        const std::size_t cells = std::max<std::size_t>(2, list.columns().size());
        for (std::size_t i = 0; i + 1 < cells; ++i)
            out += "<td>" + (i < r.sub.size() ? EscapeForExport(r.sub[i]) : std::string()) + "</td>";
        out += kCrLf;
        out += "</tr>";
    }
    return out;
}

void SaveToFile(const std::optional<std::string>& selectedNodeText, const ListModel& list,
                const std::string& strFileName, std::string_view) {
    std::FILE* f = OpenFileUtf8(strFileName, "ab");
    if (!f) throw FileError(strFileName, std::string("cannot open for writing: ") + std::strerror(errno));
    if (!selectedNodeText) {
        std::fclose(f);
        return;
    }
    std::string bytes = BuildHtmlExport(*selectedNodeText, list);
    std::size_t written = std::fwrite(bytes.data(), 1, bytes.size(), f);
    int writeErr = written == bytes.size() ? 0 : errno;
    int closeErr = std::fclose(f) == 0 ? 0 : errno;
    if (writeErr || closeErr)
        throw FileError(strFileName, std::string("cannot write: ") + std::strerror(writeErr ? writeErr : closeErr));
}

}  // namespace kestrane
