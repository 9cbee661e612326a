// Internals shared by the snapshot loader and writer: the compact instance
// store and the rules that tie JSON values to CIM types.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "wmi/object.h"

namespace wmi::snapshot_detail {

// One stored value in 16 bytes; strings and array elements live out of line
// in their class's pools, so 100 000 instances cost no per-value allocation.
struct Cell {
    enum Kind : std::uint8_t { Null, Bool, Int, Dec, UDec, Real, Str, Arr };
    Kind kind = Null;
    std::uint32_t count = 0;  // bytes of a string, elements of an array
    union {
        std::int64_t i = 0;  // Bool, Int, Dec
        std::uint64_t u;     // UDec, and the pool offset of Str and Arr
        double d;            // Real
    };
};

struct ClassData {
    SchemaPtr schema;
    std::size_t rows = 0;
    // Instances of subclasses that a query of this class also delivers,
    // after its own rows, each table with its own schema (version 2).
    std::vector<std::shared_ptr<const ClassData>> parts;
    std::vector<Cell> cells;     // rows * schema->size(), row after row
    std::vector<Cell> elements;  // array elements
    std::string text;            // string bytes

    Value value(const Cell& c) const;
    Object object(std::size_t row) const;
};

const char* CimTypeName(int cimType);

// A class or property name: a letter or '_' followed by letters, digits, '_'.
bool IsIdentifier(std::string_view name);

bool IsInteger(int cimType);
bool Is64Bit(int cimType);
struct IntRange {
    std::int64_t min;
    std::uint64_t max;
};
IntRange RangeOf(int cimType);
std::string RangeText(int cimType);

// An integer as sign and magnitude, so every CIM range fits one check.
struct Integer {
    bool negative = false;
    std::uint64_t magnitude = 0;
    bool fits(int cimType) const;
    std::string text() const;
};
// Strict decimal text: optional '-', digits only; nothing when malformed or
// beyond 64 bits.
std::optional<Integer> ParseDecimal(std::string_view text);

// Exactly one character of the Basic Multilingual Plane in well-formed UTF-8.
bool IsChar16(std::string_view utf8);

// JSON text of a string appended to out. Bytes that are not UTF-8 (a
// provider may pass on whatever a system file holds) become U+FFFD, since
// readers accept only well-formed text.
void AppendJsonString(std::string& out, std::string_view s);

// Appends a value as a snapshot records it under its declaration (64-bit
// integers as decimal strings, absent arrays as JSON arrays). Returns what is
// wrong when the value does not fit the declared type, or "".
std::string AppendJsonValue(std::string& out, const Value& v, const PropertyDecl& decl);

// The object model's value for a JSON member under its declaration, with the
// loader's rules. Returns what is wrong, or "" and sets out.
std::string ValueFromJson(const nlohmann::ordered_json& v, const PropertyDecl& decl, Value& out);

// Text with every byte sequence that is not UTF-8 replaced by U+FFFD, for
// messages that quote file contents or provider values.
std::string ValidUtf8(std::string_view s);

}  // namespace wmi::snapshot_detail
