// Column widths of terminal tables.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace kestrane::cli {

// Characters, not bytes: a UTF-8 continuation byte (10xxxxxx) takes no
// column. Counted eight bytes at a time: a listing measures every label.
inline std::size_t DisplayWidth(std::string_view s) {
    std::size_t continuations = 0, i = 0;
    for (; i + 8 <= s.size(); i += 8) {
        std::uint64_t x;
        std::memcpy(&x, s.data() + i, 8);
        // A byte's top bit set and the bit below it (moved up by the shift)
        // clear; the flags, moved to each byte's lowest bit, summed in the top byte.
        const std::uint64_t flags = (x & ~(x << 1) & 0x8080808080808080ull) >> 7;
        continuations += static_cast<std::size_t>((flags * 0x0101010101010101ull) >> 56);
    }
    for (; i < s.size(); ++i) continuations += (static_cast<unsigned char>(s[i]) & 0xC0) == 0x80;
    return s.size() - continuations;
}

}  // namespace kestrane::cli
