// Finding rows of the list by a piece of their text.
#pragma once

#include <string>
#include <vector>

#include "listing/list_model.h"

namespace kestrane::window {

// Case folding for find and sort: ASCII only, so that it never depends on
// the user's locale.
inline char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

class Finder {
public:
    struct Hit {
        long row = -1;         // -1: no match
        bool wrapped = false;  // went past the end (or the start) to get here
        bool forward = true;
    };

    // New text typed: searches afresh and goes to the first match.
    Hit setText(const ListModel& list, std::string text);
    // The next or previous match, wrapping around. Rows added since the last
    // search are searched too, carrying on from the match shown before; a new
    // listing starts over.
    Hit next(const ListModel& list);
    Hit previous(const ListModel& list);

    const std::string& text() const { return text_; }
    int count() const { return static_cast<int>(matches_.size()); }
    // 1-based position of the current match; 0 before the first.
    int position() const { return current_ + 1; }
    // "N of M", with a note when the search wrapped around; "" without text.
    std::string status(const Hit& hit) const;

private:
    void refresh(const ListModel& list);
    void search(const ListModel& list);

    std::string text_;
    std::vector<long> matches_;
    int current_ = -1;
    unsigned long searchedGen_ = ~0ul;
    std::size_t searchedRows_ = 0;
};

// Whether `text` holds `piece`, ignoring the case of ASCII letters.
bool ContainsIgnoringCase(std::string_view text, std::string_view piece);

}  // namespace kestrane::window
