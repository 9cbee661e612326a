// The list pane as aligned text, printed while the listing goes on.
#pragma once

#include <cstddef>
#include <iosfwd>
#include <string>
#include <vector>

#include "listing/list_model.h"

namespace kestrane::cli {

// Holds rows until `heldRows` are there (or the listing ends), takes the
// column widths from them, and from then on prints and drops rows as they
// come: a listing of any length holds at most that many rows. A later cell
// wider than its column pushes the rest of its line to the right, two
// spaces after it; the next column that has room starts in its place again.
class TextListing {
public:
    static constexpr std::size_t kHeldRows = 65536;

    TextListing(std::ostream& out, bool horizontal, std::size_t heldRows = kHeldRows);

    // Called as rows arrive: prints and clears the list's rows once the
    // widths are settled.
    void take(ListModel& list);
    // Prints what is left (all of it when the widths were never settled).
    void finish(const ListModel& list);

private:
    void settle(const ListModel& list);
    void print(const ListModel& list);
    template <class Cells>
    void writeLine(Cells cell);

    std::ostream& out_;
    bool horizontal_;
    std::size_t heldRows_;
    bool settled_ = false;
    std::vector<std::size_t> starts_;  // where each column begins
    std::string line_;                 // one buffer for every line
};

}  // namespace kestrane::cli
