// Copy and find over the listed rows, until the shared window core takes
// them over (then these go).
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "app/list_sort.h"
#include "listing/list_model.h"

namespace kestrane::win32 {

using app::SortedOrder;

struct CopiedRows {
    std::string text;  // UTF-8, one line per row, cells separated by tabs
    std::string html;  // UTF-8
};

CopiedRows CopyRows(const ListModel& list, const std::vector<std::size_t>& rows, bool withHeader,
                    std::optional<std::size_t> onlyColumn = std::nullopt);

// The next row after `from` (or before it, backwards) with a cell holding
// `text`, wrapping around; nullopt when no row holds it.
std::optional<std::size_t> FindRow(const ListModel& list, const std::string& text, bool matchCase,
                                   std::optional<std::size_t> from, bool backwards);

}  // namespace kestrane::win32
