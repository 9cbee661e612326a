#include "cli/text_listing.h"

#include <algorithm>
#include <ostream>

#include "cli/text_width.h"

namespace kestrane::cli {

namespace {

const std::string& Cell(const ListRow& r, std::size_t c) {
    static const std::string none;
    if (c == 0) return r.text;
    return c <= r.sub.size() ? r.sub[c - 1] : none;
}

}  // namespace

TextListing::TextListing(std::ostream& out, bool horizontal, std::size_t heldRows)
    : out_(out), horizontal_(horizontal), heldRows_(std::max<std::size_t>(heldRows, 1)) {}

void TextListing::take(ListModel& list) {
    if (!settled_) {
        if (list.rowCount() < heldRows_) return;
        settle(list);
    }
    print(list);
    list.clearRows();
}

void TextListing::finish(const ListModel& list) {
    if (!settled_) settle(list);
    print(list);
}

template <class Cells>
void TextListing::writeLine(Cells cell) {
    line_.clear();
    std::size_t pos = 0;
    for (std::size_t c = 0; c < starts_.size(); ++c) {
        if (c) {
            const std::size_t pad = pos + 2 <= starts_[c] ? starts_[c] - pos : 2;
            line_.append(pad, ' ');
            pos += pad;
        }
        const std::string& t = cell(c);
        line_ += t;
        pos += DisplayWidth(t);
    }
    while (!line_.empty() && line_.back() == ' ') line_.pop_back();
    line_ += '\n';
    out_.write(line_.data(), static_cast<std::streamsize>(line_.size()));
}

void TextListing::settle(const ListModel& list) {
    settled_ = true;
    const std::size_t ncols = horizontal_ ? list.columns().size() : 2;
    std::vector<std::size_t> widths(ncols, 0);
    if (horizontal_)
        for (std::size_t c = 0; c < ncols; ++c) widths[c] = DisplayWidth(list.columns()[c].caption);
    for (const auto& r : list.rows())
        for (std::size_t c = 0; c + 1 < ncols; ++c) widths[c] = std::max(widths[c], DisplayWidth(Cell(r, c)));
    starts_.assign(ncols, 0);
    for (std::size_t c = 1; c < ncols; ++c) starts_[c] = starts_[c - 1] + widths[c - 1] + 2;
    if (horizontal_ && ncols > 0) writeLine([&](std::size_t c) -> const std::string& { return list.columns()[c].caption; });
}

void TextListing::print(const ListModel& list) {
    for (const auto& r : list.rows()) writeLine([&](std::size_t c) -> const std::string& { return Cell(r, c); });
}

}  // namespace kestrane::cli
