// Copying rows of the list: tab-separated text for editors and mail, and an
// HTML table, escaped as the export escapes, for documents.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "listing/list_model.h"

namespace kestrane::window {

struct CopiedRows {
    std::string text;  // UTF-8, one line per row, cells separated by tabs
    std::string html;  // UTF-8
};

// The given rows (in list order) with every column, the label without its
// indentation; `withHeader` puts the column captions first. With
// `onlyColumn`, each row gives that column's cell alone and no header. A row
// that starts an array brings the rows of its further elements along.
CopiedRows CopyRows(const ListModel& list, std::vector<std::size_t> rows, bool withHeader,
                    std::optional<std::size_t> onlyColumn = std::nullopt);

// Whether the row carries a further element of the array above it: no key,
// no label, only a value.
bool IsContinuationRow(const ListRow& row);

}  // namespace kestrane::window
