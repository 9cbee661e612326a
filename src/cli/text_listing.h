// The list pane as aligned text, printed while the listing goes on.
#pragma once

#include <cstddef>
#include <iosfwd>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "listing/list_model.h"

namespace kestrane::cli {

// Takes the rows out of the list as they come and holds their cells, packed
// into one text, until `heldRows` are there (or the listing ends); takes the
// column widths from them, and from then on prints rows as they come: a
// listing of any length holds at most that many rows. A later cell wider
// than its column pushes the rest of its line to the right, two spaces after
// it; the next column that has room starts in its place again.
class TextListing {
public:
    static constexpr std::size_t kHeldRows = 65536;
    // Holds every row until finish(): a listing that may fail midway then
    // prints nothing of it.
    static constexpr std::size_t kHoldAll = std::numeric_limits<std::size_t>::max();

    TextListing(std::ostream& out, bool horizontal, std::size_t heldRows = kHeldRows);

    // Called as rows arrive: holds or prints the list's rows and clears them.
    void take(ListModel& list);
    // Prints what is held and what is left in the list.
    void finish(const ListModel& list);

private:
    static constexpr std::size_t kReserved = 4 << 20;  // bytes of held text reserved at first
    void hold(const ListModel& list);
    std::size_t rowsHeld() const { return horizontal_ ? rowEnds_.size() : cellEnds_.size() / 2; }
    void settle(const ListModel& list);
    void printHeld();
    void print(const ListModel& list);
    template <class Cells>
    void writeLine(Cells cell);

    std::ostream& out_;
    bool horizontal_;
    std::size_t heldRows_;
    bool settled_ = false;
    std::string held_;                   // the held cells back to back
    std::vector<std::size_t> cellEnds_;  // where each held cell ends in held_
    std::vector<std::size_t> rowEnds_;   // across: where each held row's cells end in cellEnds_
    std::vector<std::size_t> widths_;    // the widest held cell of each column
    std::vector<std::size_t> starts_;    // where each column begins
    std::string line_;                   // one buffer for every line
};

}  // namespace kestrane::cli
