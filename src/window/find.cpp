#include "window/find.h"

#include <algorithm>

namespace kestrane::window {

bool ContainsIgnoringCase(std::string_view text, std::string_view piece) {
    if (piece.empty()) return true;
    return std::search(text.begin(), text.end(), piece.begin(), piece.end(),
                       [](char a, char b) { return AsciiLower(a) == AsciiLower(b); }) != text.end();
}

void Finder::search(const ListModel& list) {
    matches_.clear();
    current_ = -1;
    searchedGen_ = list.structureGeneration();
    searchedRows_ = list.rowCount();
    if (text_.empty()) return;
    for (std::size_t r = 0; r < list.rowCount(); ++r) {
        const ListRow& row = list.row(r);
        bool hit = ContainsIgnoringCase(row.text, text_);
        for (std::size_t i = 0; !hit && i < row.sub.size(); ++i) hit = ContainsIgnoringCase(row.sub[i], text_);
        if (hit) matches_.push_back(static_cast<long>(r));
    }
}

// The list changes under the finder: a new selection, a listing still adding.
void Finder::refresh(const ListModel& list) {
    if (list.structureGeneration() == searchedGen_ && list.rowCount() == searchedRows_) return;
    const bool sameList = list.structureGeneration() == searchedGen_;
    const int was = current_;
    search(list);
    if (sameList) current_ = std::min(was, count() - 1);
}

Finder::Hit Finder::setText(const ListModel& list, std::string text) {
    text_ = std::move(text);
    search(list);
    if (matches_.empty()) return {};
    current_ = 0;
    return {matches_[0], false, true};
}

Finder::Hit Finder::next(const ListModel& list) {
    refresh(list);
    if (matches_.empty()) return {};
    const bool wrapped = current_ >= 0 && current_ + 1 >= count();
    current_ = current_ + 1 >= count() ? 0 : current_ + 1;
    return {matches_[static_cast<std::size_t>(current_)], wrapped, true};
}

Finder::Hit Finder::previous(const ListModel& list) {
    refresh(list);
    if (matches_.empty()) return {-1, false, false};
    const bool wrapped = current_ == 0;
    current_ = current_ <= 0 ? count() - 1 : current_ - 1;
    return {matches_[static_cast<std::size_t>(current_)], wrapped, false};
}

std::string Finder::status(const Hit& hit) const {
    if (text_.empty()) return {};
    std::string s = std::to_string(matches_.empty() ? 0 : position()) + " of " + std::to_string(count());
    if (hit.wrapped) s += hit.forward ? ", continued from the top" : ", continued from the bottom";
    return s;
}

}  // namespace kestrane::window
