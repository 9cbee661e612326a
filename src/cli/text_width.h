// Column widths of terminal tables.
#pragma once

#include <algorithm>
#include <cstddef>
#include <string_view>

namespace kestrane::cli {

// Characters, not bytes: a UTF-8 continuation byte takes no column.
inline std::size_t DisplayWidth(std::string_view s) {
    return static_cast<std::size_t>(
        std::count_if(s.begin(), s.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

}  // namespace kestrane::cli
