// A fast JSON reader for the happy path: it drives an nlohmann SAX handler
// with the very events, in the very order and with the very values that
// Json::sax_parse would give for a text both accept, several times faster.
//
// It only promises never to accept a text nlohmann refuses; it may refuse
// more (a number that underflows, say). Callers therefore read again with
// nlohmann when it refuses, which also gives nlohmann's error messages.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace wmi::json {

// What the lexer functions below read. Each takes the position to read at and
// the end of the text, and returns the position after what it read, or
// nullptr where the text is not what nlohmann's lexer accepts there.
struct Number {
    enum Kind { Unsigned, Integer, Float } kind;
    std::uint64_t u;
    std::int64_t i;
    double d;
};

inline const char* SkipBlanks(const char* p, const char* end) {
    while (p < end && (*p == ' ' || *p == '\n' || *p == '\r' || *p == '\t')) ++p;
    return p;
}
// A string's contents up to and past its closing quote (p is after the
// opening one), decoded into out.
const char* ReadString(const char* p, const char* end, std::string& out);
// Sorted as nlohmann sorts numbers: without a minus and fitting 64 bits
// unsigned, with one and fitting signed, otherwise floating (finite only).
const char* ReadNumber(const char* p, const char* end, Number& out);

// True when the whole text is one JSON value and the handler took every event.
template <class Sax>
bool Read(std::string_view text, Sax& sax) {
    const char* p = text.data();
    const char* const end = p + text.size();
    if (text.substr(0, 3) == "\xEF\xBB\xBF") p += 3;
    std::string s;      // strings and keys, lent to the handler
    // A floating number's text, as nlohmann passes it, except that its
    // decimal point is always '.', not the locale's; no handler here reads it.
    std::string raw;
    std::string open;   // per enclosing value, the character that closes it
    // Reads `"key" :` of an object member.
    auto key = [&]() {
        p = SkipBlanks(p, end);
        if (p == end || *p != '"') return false;
        s.clear();
        if (!(p = ReadString(p + 1, end, s)) || !sax.key(s)) return false;
        p = SkipBlanks(p, end);
        if (p == end || *p != ':') return false;
        ++p;
        return true;
    };
    for (;;) {
        // A value.
        p = SkipBlanks(p, end);
        if (p == end) return false;
        const char c = *p;
        if (c == '{' || c == '[') {
            const bool array = c == '[';
            if (!(array ? sax.start_array(std::size_t(-1)) : sax.start_object(std::size_t(-1)))) return false;
            p = SkipBlanks(p + 1, end);
            if (p < end && *p == (array ? ']' : '}')) {
                ++p;
                if (!(array ? sax.end_array() : sax.end_object())) return false;
            } else {
                open += array ? ']' : '}';
                if (!array && !key()) return false;
                continue;
            }
        } else if (c == '"') {
            s.clear();
            if (!(p = ReadString(p + 1, end, s)) || !sax.string(s)) return false;
        } else if (c == 't' || c == 'f' || c == 'n') {
            const std::string_view word = c == 't' ? "true" : c == 'f' ? "false" : "null";
            if (static_cast<std::size_t>(end - p) < word.size() || std::memcmp(p, word.data(), word.size()) != 0)
                return false;
            p += word.size();
            if (!(c == 'n' ? sax.null() : sax.boolean(c == 't'))) return false;
        } else {
            Number n;
            const char* start = p;
            if (!(p = ReadNumber(p, end, n))) return false;
            bool ok;
            if (n.kind == Number::Unsigned) {
                ok = sax.number_unsigned(n.u);
            } else if (n.kind == Number::Integer) {
                ok = sax.number_integer(n.i);
            } else {
                raw.assign(start, p);
                ok = sax.number_float(n.d, raw);
            }
            if (!ok) return false;
        }
        // After a value: the next member or element, or the ends of what encloses it.
        for (;;) {
            p = SkipBlanks(p, end);
            if (open.empty()) return p == end;
            if (p == end) return false;
            if (*p == ',') {
                ++p;
                if (open.back() == '}' && !key()) return false;
                break;
            }
            if (*p != open.back()) return false;
            ++p;
            if (!(open.back() == ']' ? sax.end_array() : sax.end_object())) return false;
            open.pop_back();
        }
    }
}

}  // namespace wmi::json
