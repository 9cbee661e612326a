// The lexer of the fast JSON reader. What it accepts follows nlohmann's
// lexer (RFC 8259): strings of valid UTF-8 without raw control characters,
// \u escapes with paired surrogates, numbers without leading zeros.

#include "wmi/snapshot/json_reader.h"

#include <bit>
#include <charconv>
#include <cmath>

#include "core/utf8.h"

namespace wmi::json {

namespace {

constexpr std::uint64_t kOnes = 0x0101010101010101ULL;
constexpr std::uint64_t kHighs = 0x8080808080808080ULL;

// Whether any byte of the word is zero; any below n (n <= 128).
constexpr std::uint64_t AnyZero(std::uint64_t x) { return (x - kOnes) & ~x & kHighs; }
constexpr std::uint64_t AnyBelow(std::uint64_t x, std::uint64_t n) { return (x - kOnes * n) & ~x & kHighs; }

// How many of the 8 bytes at p come before the first that ends a plain run
// of a string: a quote, a backslash, a control character or the start of a
// multi-byte character (8 when none does). The lowest flag of each test is
// exact; only flags above it may be false.
unsigned PlainBytes(const char* p) {
    std::uint64_t x;
    std::memcpy(&x, p, 8);
    if constexpr (std::endian::native == std::endian::big) x = __builtin_bswap64(x);  // first byte lowest
    const std::uint64_t flags = AnyZero(x ^ (kOnes * '"')) | AnyZero(x ^ (kOnes * '\\')) | AnyBelow(x, 0x20) | (x & kHighs);
    return flags ? static_cast<unsigned>(std::countr_zero(flags)) / 8 : 8;
}

// Four hex digits at p, or -1.
long Hex4(const char* p, const char* end) {
    if (end - p < 4) return -1;
    long v = 0;
    for (int k = 0; k < 4; ++k) {
        const char c = p[k];
        const int d = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
        if (d < 0) return -1;
        v = v * 16 + d;
    }
    return v;
}

// The escape after a backslash (p is past it), appended decoded.
const char* ReadEscape(const char* p, const char* end, std::string& out) {
    if (p == end) return nullptr;
    switch (*p++) {
    case '"': out += '"'; return p;
    case '\\': out += '\\'; return p;
    case '/': out += '/'; return p;
    case 'b': out += '\b'; return p;
    case 'f': out += '\f'; return p;
    case 'n': out += '\n'; return p;
    case 'r': out += '\r'; return p;
    case 't': out += '\t'; return p;
    case 'u': break;
    default: return nullptr;
    }
    long cp = Hex4(p, end);
    if (cp < 0 || (cp >= 0xDC00 && cp <= 0xDFFF)) return nullptr;  // no lone low surrogate
    p += 4;
    if (cp >= 0xD800 && cp <= 0xDBFF) {  // a high surrogate needs its low one
        if (end - p < 2 || p[0] != '\\' || p[1] != 'u') return nullptr;
        const long low = Hex4(p + 2, end);
        if (low < 0xDC00 || low > 0xDFFF) return nullptr;
        cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
        p += 6;
    }
    kestrane::AppendUtf8(out, static_cast<char32_t>(cp));
    return p;
}

}  // namespace

const char* ReadString(const char* p, const char* end, std::string& out) {
    const char* run = p;  // the start of what is still to be appended
    for (;;) {
        while (end - p >= 8) {
            const unsigned n = PlainBytes(p);
            p += n;
            if (n < 8) break;
        }
        if (p == end) return nullptr;
        const auto c = static_cast<unsigned char>(*p);
        if (c == '"') {
            out.append(run, static_cast<std::size_t>(p - run));
            return p + 1;
        }
        if (c == '\\') {
            out.append(run, static_cast<std::size_t>(p - run));
            if (!(p = ReadEscape(p + 1, end, out))) return nullptr;
            run = p;
        } else if (c < 0x20) {
            return nullptr;
        } else if (c < 0x80) {
            ++p;
        } else {
            const std::size_t n = kestrane::Utf8Length(reinterpret_cast<const unsigned char*>(p), reinterpret_cast<const unsigned char*>(end));
            if (n == 0) return nullptr;
            p += n;
        }
    }
}

const char* ReadNumber(const char* p, const char* end, Number& out) {
    const char* start = p;
    auto digits = [&] {
        const char* from = p;
        while (p < end && *p >= '0' && *p <= '9') ++p;
        return p > from;
    };
    if (p < end && *p == '-') ++p;
    if (p < end && *p == '0')
        ++p;  // no leading zeros: what follows a 0 is no longer this number
    else if (!digits())
        return nullptr;
    bool whole = true;
    if (p < end && *p == '.') {
        ++p;
        if (!digits()) return nullptr;
        whole = false;
    }
    if (p < end && (*p == 'e' || *p == 'E')) {
        ++p;
        if (p < end && (*p == '+' || *p == '-')) ++p;
        if (!digits()) return nullptr;
        whole = false;
    }
    if (whole) {
        // What does not fit 64 bits is a floating number, as nlohmann has it.
        if (*start != '-' && std::from_chars(start, p, out.u).ec == std::errc{}) {
            out.kind = Number::Unsigned;
            return p;
        }
        if (*start == '-' && std::from_chars(start, p, out.i).ec == std::errc{}) {
            out.kind = Number::Integer;
            return p;
        }
    }
    // Correctly rounded, as strtod. Out of range is refused: nlohmann refuses
    // an overflow, and an underflow is rare enough to leave to it.
    const auto r = std::from_chars(start, p, out.d);
    if (r.ec != std::errc{} || r.ptr != p || !std::isfinite(out.d)) return nullptr;
    out.kind = Number::Float;
    return p;
}

}  // namespace wmi::json
