#include "win32/pending_core.h"

#include <algorithm>

#include "export/html_export.h"

namespace kestrane::win32 {

namespace {

std::string CellText(const ListRow& r, std::size_t column) {
    if (column == 0) {
        std::size_t start = r.text.find_first_not_of(' ');
        return start == std::string::npos ? std::string() : r.text.substr(start);
    }
    return column <= r.sub.size() ? r.sub[column - 1] : std::string();
}

std::string ForText(std::string s) {
    for (char& c : s)
        if (c == '\t' || c == '\n' || c == '\r') c = ' ';
    return s;
}

void AddLine(CopiedRows& out, const std::vector<std::string>& cells, bool header) {
    const char* tag = header ? "th" : "td";
    out.html += "<tr>";
    for (std::size_t i = 0; i < cells.size(); ++i) {
        if (i) out.text += '\t';
        out.text += ForText(cells[i]);
        out.html += std::string("<") + tag + ">" + EscapeHtml(cells[i]) + "</" + tag + ">";
    }
    out.text += '\n';
    out.html += "</tr>\n";
}

std::string Lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

}  // namespace

CopiedRows CopyRows(const ListModel& list, const std::vector<std::size_t>& rows, bool withHeader,
                    std::optional<std::size_t> onlyColumn) {
    CopiedRows out;
    out.html = "<table>\n";
    std::size_t width = std::max<std::size_t>(list.columns().size(), 1);
    if (withHeader && !onlyColumn) {
        std::vector<std::string> caps;
        for (const auto& c : list.columns()) caps.push_back(c.caption);
        AddLine(out, caps, true);
    }
    for (std::size_t r : rows) {
        if (r >= list.rowCount()) continue;
        const ListRow& row = list.row(r);
        std::vector<std::string> cells;
        if (onlyColumn) {
            cells.push_back(CellText(row, *onlyColumn));
        } else {
            const std::size_t n = std::max(width, row.sub.size() + 1);
            for (std::size_t c = 0; c < n; ++c) cells.push_back(CellText(row, c));
            if (std::all_of(cells.begin(), cells.end(), [](const std::string& c) { return c.empty(); }))
                cells.resize(1);
        }
        AddLine(out, cells, false);
    }
    out.html += "</table>\n";
    return out;
}

std::optional<std::size_t> FindRow(const ListModel& list, const std::string& text, bool matchCase,
                                   std::optional<std::size_t> from, bool backwards) {
    const std::size_t n = list.rowCount();
    if (n == 0 || text.empty()) return std::nullopt;
    const std::string needle = matchCase ? text : Lower(text);
    auto holds = [&](const std::string& cell) {
        return (matchCase ? cell : Lower(cell)).find(needle) != std::string::npos;
    };
    std::size_t start = from ? *from : (backwards ? 0 : n - 1);
    for (std::size_t step = 1; step <= n; ++step) {
        std::size_t i = backwards ? (start + n - step % n) % n : (start + step) % n;
        const ListRow& r = list.row(i);
        if (holds(r.text) || std::any_of(r.sub.begin(), r.sub.end(), holds)) return i;
    }
    return std::nullopt;
}

}  // namespace kestrane::win32
