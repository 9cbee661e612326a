#include "listing/list_model.h"

#include <stdexcept>

namespace kestrane {

ListModel::ListModel() { setDefaultColumns(); }

std::size_t ListModel::addRow(std::string key, std::string text, std::string icon) {
    ListRow r;
    r.key = std::move(key);
    r.text = std::move(text);
    r.icon = std::move(icon);
    return addRow(std::move(r));
}

std::size_t ListModel::addRow(ListRow row) {
    rows_.push_back(std::move(row));
    return rows_.size() - 1;
}

std::size_t ListModel::copyRow(const ListRow& row) {
    if (spare_.empty()) return addRow(row);
    rows_.push_back(std::move(spare_.back()));
    spare_.pop_back();
    rows_.back() = row;
    return rows_.size() - 1;
}

void ListModel::insertRow(std::size_t pos, ListRow row) {
    if (pos > rows_.size()) throw std::out_of_range("list row position out of range");
    rows_.insert(rows_.begin() + static_cast<std::ptrdiff_t>(pos), std::move(row));
    touch(pos);
}

void ListModel::setSubItem(std::size_t row, std::size_t index, std::string text) {
    if (row >= rows_.size() || index == 0) throw std::out_of_range("list sub-item out of range");
    touch(row);
    auto& sub = rows_[row].sub;
    if (sub.size() < index) sub.resize(index);
    sub[index - 1] = std::move(text);
}

void ListModel::setBold(std::size_t row, bool bold) {
    rows_.at(row).bold = bold;
    touch(row);
}

void ListModel::setSubBold(std::size_t row, bool bold) {
    rows_.at(row).subBold = bold;
    touch(row);
}

void ListModel::clearRows() {
    // Enough rows for an instance's block are kept, and none of a long text.
    constexpr std::size_t kSpareRows = 128, kSpareText = 4096;
    for (std::size_t i = 0; i < rows_.size() && spare_.size() < kSpareRows; ++i) {
        std::size_t room = rows_[i].key.capacity() + rows_[i].text.capacity();
        for (const std::string& s : rows_[i].sub) room += s.capacity();
        if (room <= kSpareText) spare_.push_back(std::move(rows_[i]));
    }
    rows_.clear();
    ++structureGen_;
}

void ListModel::reorderRows(const std::vector<std::size_t>& order) {
    if (order.size() != rows_.size()) throw std::invalid_argument("row order of the wrong length");
    std::vector<bool> taken(rows_.size());
    for (std::size_t i : order) {
        if (i >= rows_.size() || taken[i]) throw std::invalid_argument("row order is no permutation");
        taken[i] = true;
    }
    std::deque<ListRow> sorted;
    for (std::size_t i : order) sorted.push_back(std::move(rows_[i]));
    rows_ = std::move(sorted);
    ++structureGen_;
}

long ListModel::findKey(const std::string& key) const {
    if (key.empty()) return -1;
    for (std::size_t i = 0; i < rows_.size(); ++i)
        if (rows_[i].key == key) return static_cast<long>(i);
    return -1;
}

void ListModel::clearColumns() {
    columns_.clear();
    ++columnGen_;
}

void ListModel::addColumn(std::string key, std::string caption) {
    columns_.push_back({std::move(key), std::move(caption)});
    ++columnGen_;
}

void ListModel::setDefaultColumns() {
    columns_ = {{"", "Name"}, {"", "Value"}};
    ++columnGen_;
}

}  // namespace kestrane
