#include "cli/text_listing.h"

#include <algorithm>
#include <ostream>

#ifdef __linux__
#include <sys/mman.h>
#endif

#include "cli/text_width.h"

namespace kestrane::cli {

void AdviseHugePages([[maybe_unused]] void* p, [[maybe_unused]] std::size_t bytes) {
#ifdef __linux__
    // Only the pages of the block itself; a refusal leaves small pages.
    ::madvise(p, bytes & ~std::size_t{4095}, MADV_HUGEPAGE);
#endif
}

namespace {

// Lines are gathered and written this much at a time: a listing of a
// thousand processes is forty thousand lines. Room for it is made once, and
// below the size the allocator would map afresh.
constexpr std::size_t kLinesBlock = 32 << 10;

}  // namespace

TextListing::TextListing(std::ostream& out, bool horizontal, std::size_t heldRows)
    : out_(out), horizontal_(horizontal), heldRows_(std::max<std::size_t>(heldRows, 1)) {
    lines_.reserve(kLinesBlock + 1024);
}

TextListing::~TextListing() { flush(); }

void TextListing::flush() {
    out_.write(lines_.data(), static_cast<std::streamsize>(lines_.size()));
    lines_.clear();
}

void TextListing::take(ListModel& list) {
    if (settled_) {
        print(list);
    } else {
        // Packed, the held rows take a fraction of the list's memory, and the
        // list's own rows are reused for the next instance.
        hold(list);
        if (rowsHeld() >= heldRows_) {
            settle(list);
            printHeld();
        }
    }
    // Settled rows go out at each instance, as they come.
    if (settled_) flush();
    list.clearRows();
}

void TextListing::finish(const ListModel& list) {
    if (settled_) {
        print(list);
    } else {
        hold(list);
        settle(list);
        printHeld();
    }
    flush();
}

namespace {

// Room for `need`: a little at first (a summary holds a few dozen rows),
// then at once a block of huge pages, doubled when full. Growing by
// doubling from small would copy, and fault in every small page on the way.
template <class Buffer>
void MakeRoom(Buffer& b, std::size_t need, std::size_t first) {
    if (need <= b.capacity()) return;
    const std::size_t size = sizeof(typename Buffer::value_type), held = b.capacity() * size;
    const std::size_t bytes = held < first ? first : std::max(2 * held, 2 * kHugePage);
    b.reserve(std::max(need, bytes / size));
}

}  // namespace

void TextListing::hold(const ListModel& list) {
    std::size_t bytes = 0, cells = 0;
    for (const auto& r : list.rows()) {
        bytes += r.text.size();
        if (horizontal_)
            for (const auto& s : r.sub) bytes += s.size();
        else if (!r.sub.empty())
            bytes += r.sub[0].size();
        cells += horizontal_ ? 1 + r.sub.size() : 2;
    }
    MakeRoom(held_, held_.size() + bytes, 64 << 10);
    MakeRoom(cellEnds_, cellEnds_.size() + cells, 64 << 10);
    for (const auto& r : list.rows()) {
        held_ += r.text;
        cellEnds_.push_back(held_.size());
        if (horizontal_) {
            widths_.resize(std::max(widths_.size(), r.sub.size() + 1), 0);
            widths_[0] = std::max(widths_[0], DisplayWidth(r.text));
            for (std::size_t c = 0; c < r.sub.size(); ++c) {
                held_ += r.sub[c];
                cellEnds_.push_back(held_.size());
                widths_[c + 1] = std::max(widths_[c + 1], DisplayWidth(r.sub[c]));
            }
            rowEnds_.push_back(cellEnds_.size());
        } else {
            // Down the page every row is a label and a value, only the
            // label's width counts, and the rows need no ends of their own.
            if (!r.sub.empty()) held_ += r.sub[0];
            cellEnds_.push_back(held_.size());
            widths_.resize(1, 0);
            widths_[0] = std::max(widths_[0], DisplayWidth(r.text));
        }
    }
}

template <class Cells>
void TextListing::writeLine(Cells cell) {
    const std::size_t begin = lines_.size();
    std::size_t pos = 0;
    for (std::size_t c = 0; c < starts_.size(); ++c) {
        if (c) {
            const std::size_t pad = pos + 2 <= starts_[c] ? starts_[c] - pos : 2;
            lines_.append(pad, ' ');
            pos += pad;
        }
        const std::string_view t = cell(c);
        lines_ += t;
        if (c + 1 < starts_.size()) pos += DisplayWidth(t);
    }
    while (lines_.size() > begin && lines_.back() == ' ') lines_.pop_back();
    lines_ += '\n';
    if (lines_.size() >= kLinesBlock) flush();
}

void TextListing::settle(const ListModel& list) {
    settled_ = true;
    const std::size_t ncols = horizontal_ ? list.columns().size() : 2;
    std::vector<std::size_t> widths(ncols, 0);
    if (horizontal_)
        for (std::size_t c = 0; c < ncols; ++c) widths[c] = DisplayWidth(list.columns()[c].caption);
    for (std::size_t c = 0; c + 1 < ncols && c < widths_.size(); ++c) widths[c] = std::max(widths[c], widths_[c]);
    starts_.assign(ncols, 0);
    for (std::size_t c = 1; c < ncols; ++c) starts_[c] = starts_[c - 1] + widths[c - 1] + 2;
    if (horizontal_ && ncols > 0) writeLine([&](std::size_t c) -> std::string_view { return list.columns()[c].caption; });
}

void TextListing::printHeld() {
    const std::string_view text(held_.data(), held_.size());
    std::size_t firstCell = 0;
    for (std::size_t row = 0, rows = rowsHeld(); row < rows; ++row) {
        const std::size_t rowEnd = horizontal_ ? rowEnds_[row] : firstCell + 2;
        writeLine([&](std::size_t c) -> std::string_view {
            const std::size_t i = firstCell + c;
            if (i >= rowEnd) return {};
            const std::size_t begin = i == 0 ? 0 : cellEnds_[i - 1];
            return text.substr(begin, cellEnds_[i] - begin);
        });
        firstCell = rowEnd;
    }
    // Settled, nothing is held again.
    decltype(held_)().swap(held_);
    decltype(cellEnds_)().swap(cellEnds_);
    std::vector<std::size_t>().swap(rowEnds_);
}

void TextListing::print(const ListModel& list) {
    for (const auto& r : list.rows())
        writeLine([&](std::size_t c) -> std::string_view {
            if (c == 0) return r.text;
            return c <= r.sub.size() ? std::string_view(r.sub[c - 1]) : std::string_view();
        });
}

}  // namespace kestrane::cli
