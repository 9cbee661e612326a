// The list pane's content, owned by the core: columns and rows. The window
// adapts it to its view; the export and the command-line tool read it.
#pragma once

#include <cstddef>
#include <deque>
#include <string>
#include <vector>

namespace kestrane {

struct ListRow {
    std::string key;
    std::string text;
    std::string icon;              // small-icon key; "" for none
    std::vector<std::string> sub;  // sub-items 1..n (the second column is sub[0])
    bool bold = false;             // row text bold
    bool subBold = false;          // first sub-item bold
};

struct ListColumn {
    std::string key;
    std::string caption;
};

class ListModel {
public:
    ListModel();

    // Rows -----------------------------------------------------------------
    std::size_t rowCount() const { return rows_.size(); }
    const ListRow& row(std::size_t i) const { return rows_[i]; }
    // A deque: a listing of a million rows grows it without ever moving
    // the rows already there.
    const std::deque<ListRow>& rows() const { return rows_; }

    // Appends a row and returns its 0-based index.
    std::size_t addRow(std::string key, std::string text, std::string icon = {});
    std::size_t addRow(ListRow row);
    // Appends a copy of row in the room of a row cleared before, where there
    // is one: a listing whose rows are taken out after each instance (the
    // command line's) then makes its rows without allocating for them.
    std::size_t copyRow(const ListRow& row);
    // Inserts a row before the 0-based position `pos` (pos == rowCount()
    // appends).
    void insertRow(std::size_t pos, ListRow row);
    // Sets sub-item `index` (1-based, as the list control counts them).
    void setSubItem(std::size_t row, std::size_t index, std::string text);
    void setBold(std::size_t row, bool bold);
    void setSubBold(std::size_t row, bool bold);
    void clearRows();
    // Puts the rows in a new order: row i becomes the old row order[i].
    // `order` must be a permutation of 0..rowCount()-1.
    void reorderRows(const std::vector<std::size_t>& order);
    // Looks a row up by key; -1 if none.
    long findKey(const std::string& key) const;

    // Columns ----------------------------------------------------------------
    const std::vector<ListColumn>& columns() const { return columns_; }
    void clearColumns();
    void addColumn(std::string key, std::string caption);
    // The two columns the window starts with, "Name" and "Value".
    void setDefaultColumns();

    bool headersHidden() const { return headersHidden_; }
    void setHeadersHidden(bool hidden) { headersHidden_ = hidden; }

    // Change tracking for views that mirror the model in batches.
    unsigned long structureGeneration() const { return structureGen_; }
    unsigned long columnGeneration() const { return columnGen_; }
    // The lowest row inserted or changed since the last resetChangeMark().
    std::size_t firstChangedRow() const { return firstChanged_; }
    void resetChangeMark() { firstChanged_ = static_cast<std::size_t>(-1); }

private:
    std::deque<ListRow> rows_;
    std::vector<ListRow> spare_;  // rows cleared, kept for copyRow
    std::vector<ListColumn> columns_;
    bool headersHidden_ = false;
    unsigned long structureGen_ = 0;
    unsigned long columnGen_ = 0;
    std::size_t firstChanged_ = static_cast<std::size_t>(-1);
    void touch(std::size_t row) { if (row < firstChanged_) firstChanged_ = row; }
};

}  // namespace kestrane
