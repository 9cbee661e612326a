// Sorting the horizontal view by a column: by what the cells mean (bytes,
// numbers, dates), else as text with digit runs compared by value.
#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

#include "listing/list_model.h"

namespace kestrane::window {

enum class SortKind { Text, Number, Size, Date };

// The kind every non-empty cell of the column fits; Text when they differ.
SortKind ColumnSortKind(const ListModel& list, std::size_t column);

// The rows in the order of the column (stable; empty cells first when
// ascending), as ListModel::reorderRows takes it.
std::vector<std::size_t> SortedOrder(const ListModel& list, std::size_t column, bool descending);

// Text order ignoring case, with runs of digits compared as numbers
// ("Disk 2" before "Disk 10"). Negative, 0 or positive.
int NaturalCompare(std::string_view a, std::string_view b);

}  // namespace kestrane::window
