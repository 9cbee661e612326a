#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace kestrane {

// The length of the well-formed UTF-8 character at p (Unicode's table 3-7:
// no overlong forms, no surrogates, nothing past U+10FFFF), or 0.
inline std::size_t Utf8Length(const unsigned char* p, const unsigned char* end) {
    if (p >= end) return 0;
    const unsigned c = p[0];
    if (c < 0x80) return 1;
    unsigned lo = 0x80, hi = 0xBF;
    std::size_t n;
    if (c >= 0xC2 && c <= 0xDF) {
        n = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
        n = 3;
        if (c == 0xE0) lo = 0xA0;
        if (c == 0xED) hi = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        n = 4;
        if (c == 0xF0) lo = 0x90;
        if (c == 0xF4) hi = 0x8F;
    } else {
        return 0;
    }
    if (static_cast<std::size_t>(end - p) < n || p[1] < lo || p[1] > hi) return 0;
    for (std::size_t k = 2; k < n; ++k)
        if ((p[k] & 0xC0) != 0x80) return 0;
    return n;
}

inline std::size_t Utf8Length(std::string_view s, std::size_t at) {
    const auto* p = reinterpret_cast<const unsigned char*>(s.data());
    return Utf8Length(p + at, p + s.size());
}

// The code point at s[i], advancing i past it; a malformed byte comes out
// as U+FFFD and is skipped alone, so what follows it is still read.
inline char32_t NextCodePoint(std::string_view s, std::size_t& i) {
    const std::size_t n = Utf8Length(s, i);
    const auto b = [&](std::size_t k) { return static_cast<unsigned char>(s[i + k]); };
    char32_t cp;
    switch (n) {
    case 1: cp = b(0); break;
    case 2: cp = (b(0) & 0x1Fu) << 6 | (b(1) & 0x3Fu); break;
    case 3: cp = (b(0) & 0x0Fu) << 12 | (b(1) & 0x3Fu) << 6 | (b(2) & 0x3Fu); break;
    case 4: cp = (b(0) & 0x07u) << 18 | (b(1) & 0x3Fu) << 12 | (b(2) & 0x3Fu) << 6 | (b(3) & 0x3Fu); break;
    default: ++i; return 0xFFFD;
    }
    i += n;
    return cp;
}

inline void AppendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

}  // namespace kestrane
