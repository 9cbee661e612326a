// The list pane as aligned text, printed while the listing goes on.
#pragma once

#include <cstddef>
#include <iosfwd>
#include <limits>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "listing/list_model.h"

namespace kestrane::cli {

// Advises the kernel to back [p, p + bytes) with huge pages; p is aligned to
// kHugePage. Does nothing where there is no such advice.
inline constexpr std::size_t kHugePage = std::size_t{2} << 20;
void AdviseHugePages(void* p, std::size_t bytes);

// The held rows' memory: a large block is aligned to a huge page and asked
// for in huge pages. Held rows are written once and read once; faulting in
// every 4 kB page of them cost more than writing them (16 us a fault on a
// paravirtualised guest, about 350 faults at 1 100 processes).
template <class T>
struct HeldAllocator {
    using value_type = T;
    HeldAllocator() = default;
    template <class U>
    HeldAllocator(const HeldAllocator<U>&) {}
    T* allocate(std::size_t n) {
        if (n * sizeof(T) < kHugePage) return std::allocator<T>().allocate(n);
        void* p = ::operator new(n * sizeof(T), std::align_val_t(kHugePage));
        AdviseHugePages(p, n * sizeof(T));
        return static_cast<T*>(p);
    }
    void deallocate(T* p, std::size_t n) {
        if (n * sizeof(T) < kHugePage) return std::allocator<T>().deallocate(p, n);
        ::operator delete(p, std::align_val_t(kHugePage));
    }
    friend bool operator==(const HeldAllocator&, const HeldAllocator&) { return true; }
};

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
    // Writes out the lines not written yet.
    ~TextListing();
    TextListing(const TextListing&) = delete;
    TextListing& operator=(const TextListing&) = delete;

    // Called as rows arrive: holds or prints the list's rows and clears them.
    void take(ListModel& list);
    // Prints what is held and what is left in the list.
    void finish(const ListModel& list);

private:
    void hold(const ListModel& list);
    std::size_t rowsHeld() const { return horizontal_ ? rowEnds_.size() : cellEnds_.size() / 2; }
    void settle(const ListModel& list);
    void printHeld();
    void print(const ListModel& list);
    template <class Cells>
    void writeLine(Cells cell);
    void flush();

    std::ostream& out_;
    bool horizontal_;
    std::size_t heldRows_;
    bool settled_ = false;
    std::basic_string<char, std::char_traits<char>, HeldAllocator<char>> held_;  // the held cells back to back
    std::vector<std::size_t, HeldAllocator<std::size_t>> cellEnds_;  // where each held cell ends in held_
    std::vector<std::size_t> rowEnds_;   // across: where each held row's cells end in cellEnds_
    std::vector<std::size_t> widths_;    // the widest held cell of each column
    std::vector<std::size_t> starts_;    // where each column begins
    std::string lines_;                  // lines not written yet, written a block at a time
};

}  // namespace kestrane::cli
