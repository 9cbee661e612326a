#include "window/copy.h"

#include <algorithm>

#include "export/html_export.h"

namespace kestrane::window {

namespace {

std::string CellText(const ListRow& r, std::size_t column) {
    if (column == 0) {
        // The vertical view indents its labels with blanks.
        std::size_t start = r.text.find_first_not_of(' ');
        return start == std::string::npos ? std::string() : r.text.substr(start);
    }
    return column <= r.sub.size() ? r.sub[column - 1] : std::string();
}

// A tab or line break inside a value would shift every cell after it.
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

}  // namespace

bool IsContinuationRow(const ListRow& row) {
    return row.key.empty() && row.text.empty() && !row.sub.empty();
}

CopiedRows CopyRows(const ListModel& list, std::vector<std::size_t> rows, bool withHeader,
                    std::optional<std::size_t> onlyColumn) {
    // An array's first row stands for all its elements.
    std::vector<std::size_t> all;
    std::sort(rows.begin(), rows.end());
    for (std::size_t r : rows) {
        if (r >= list.rowCount() || (!all.empty() && all.back() >= r)) continue;
        all.push_back(r);
        while (all.back() + 1 < list.rowCount() && IsContinuationRow(list.row(all.back() + 1)))
            all.push_back(all.back() + 1);
    }
    CopiedRows out;
    out.html = "<table>\n";
    std::size_t width = std::max<std::size_t>(list.columns().size(), 1);
    if (withHeader && !onlyColumn) {
        std::vector<std::string> caps;
        for (const auto& c : list.columns()) caps.push_back(c.caption);
        AddLine(out, caps, true);
    }
    for (std::size_t r : all) {
        const ListRow& row = list.row(r);
        std::vector<std::string> cells;
        if (onlyColumn) {
            cells.push_back(CellText(row, *onlyColumn));
        } else {
            const std::size_t n = std::max(width, row.sub.size() + 1);
            for (std::size_t c = 0; c < n; ++c) cells.push_back(CellText(row, c));
            // A spacer row stays an empty line.
            if (std::all_of(cells.begin(), cells.end(), [](const std::string& c) { return c.empty(); }))
                cells.resize(1);
        }
        AddLine(out, cells, false);
    }
    out.html += "</table>\n";
    return out;
}

}  // namespace kestrane::window
