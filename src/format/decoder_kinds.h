// What every code decoder shares: the (code, text) tables and the five ways
// a code becomes display text. The decoders themselves only pick a table and
// a kind.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "format/array_sink.h"
#include "wmi/object.h"

namespace kestrane::decode {

struct CodeEntry {
    std::int32_t code;
    std::string_view text;
};

// Searched in order, so a code listed twice keeps its first text.
using Table = std::span<const CodeEntry>;

// A table of consecutive codes starting at `first`.
template <std::size_t N>
constexpr std::array<CodeEntry, N> Consecutive(std::int32_t first, const std::string_view (&texts)[N]) {
    std::array<CodeEntry, N> out{};
    for (std::size_t i = 0; i < N; ++i)
        out[i] = {first + static_cast<std::int32_t>(i), texts[i]};
    return out;
}

template <std::size_t N, std::size_t M>
constexpr std::array<CodeEntry, N + M> Join(const std::array<CodeEntry, N>& a,
                                            const std::array<CodeEntry, M>& b) {
    std::array<CodeEntry, N + M> out{};
    for (std::size_t i = 0; i < N; ++i) out[i] = a[i];
    for (std::size_t i = 0; i < M; ++i) out[N + i] = b[i];
    return out;
}

// A value read as a code. Whole numbers compare with the table codes; a
// fractional number matches nothing but still shows itself.
struct Code {
    bool present = false;  // false for Null and arrays
    bool whole = false;
    std::int64_t number = 0;  // when whole
    double real = 0;          // when not whole
};

// uint32 values are taken as signed 32-bit, so all bits set reads as -1.
// Strings are read by their leading numeric part.
Code ReadCode(const wmi::Value& value, int cimType);
void AppendCodeText(std::string& out, const Code& code);
// The first entry whose code equals the value, or nullptr.
const CodeEntry* Find(Table table, const Code& code);

enum class Fallback : bool { None, Value };

// Kind 1: label, " (", code, ")"; an unknown code has the empty label or,
// with the fallback, its own number.
std::string SuffixForm(const wmi::Property& property, Table table, Fallback fallback);
// Kind 2: the label ends in "(", so label, code, ")"; unknown gives "".
std::string ParenForm(const wmi::Property& property, Table table);
// Kind 4: the labels of the set bits, comma separated, then " (code)".
std::string FlagsForm(const wmi::Property& property, Table flags);
// Kind 5: the code followed by a unit.
std::string UnitForm(const wmi::Property& property, std::string_view unit);

// Kind 3: one row per element. Without a table the element's own text is
// shown; with one, the element is decoded in `form`.
enum class ElementForm { OwnText, Paren, Suffix };
enum class ArrayResult { ElementText, Label };
struct ArrayKind {
    ElementForm form;
    Table table;
    Fallback fallback;
    ArrayResult result;
};
// A value that is not an array (a scalar of an array-valued name) is decoded
// as one element and adds no row.
std::string ArrayRows(const wmi::Property& property, ArrayRowSink& rows, std::string_view strItemKey,
                      std::string_view strItemText, const ArrayKind& kind);

}  // namespace kestrane::decode
