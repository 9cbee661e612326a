// A WMI property value: Null, a scalar or an array of scalars.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace wmi {

// CIM type codes as WMI publishes them (WbemCimtypeEnum).
enum CimType : int {
    CIM_SINT16 = 2,
    CIM_SINT32 = 3,
    CIM_REAL32 = 4,
    CIM_REAL64 = 5,
    CIM_STRING = 8,
    CIM_BOOLEAN = 11,
    CIM_OBJECT = 13,
    CIM_SINT8 = 16,
    CIM_UINT8 = 17,
    CIM_UINT16 = 18,
    CIM_UINT32 = 19,
    CIM_SINT64 = 20,
    CIM_UINT64 = 21,
    CIM_DATETIME = 101,
    CIM_REFERENCE = 102,
    CIM_CHAR16 = 103,
};

bool IsKnownCimType(int code);

class Value {
public:
    using Array = std::vector<Value>;
    using Storage = std::variant<std::monostate, bool, std::int64_t, double, std::string, Array>;

    Value() = default;
    Value(std::nullptr_t) {}
    Value(bool b) : v_(b) {}
    Value(int i) : v_(static_cast<std::int64_t>(i)) {}
    Value(unsigned int i) : v_(static_cast<std::int64_t>(i)) {}
    Value(long i) : v_(static_cast<std::int64_t>(i)) {}
    Value(long long i) : v_(static_cast<std::int64_t>(i)) {}
    Value(unsigned long i) : v_(static_cast<std::int64_t>(i)) {}
    Value(double d) : v_(d) {}
    Value(const char* s) : v_(std::string(s)) {}
    Value(std::string s) : v_(std::move(s)) {}
    Value(std::string_view s) : v_(std::string(s)) {}
    Value(Array a) : v_(std::move(a)) {}

    bool isNull() const { return std::holds_alternative<std::monostate>(v_); }
    bool isArray() const { return std::holds_alternative<Array>(v_); }
    bool isBool() const { return std::holds_alternative<bool>(v_); }
    bool isInt() const { return std::holds_alternative<std::int64_t>(v_); }
    bool isDouble() const { return std::holds_alternative<double>(v_); }
    bool isString() const { return std::holds_alternative<std::string>(v_); }

    bool asBool() const { return std::get<bool>(v_); }
    std::int64_t asInt() const { return std::get<std::int64_t>(v_); }
    double asDouble() const { return std::get<double>(v_); }
    const std::string& asString() const { return std::get<std::string>(v_); }
    const Array& asArray() const { return std::get<Array>(v_); }

    const Storage& storage() const { return v_; }

    friend bool operator==(const Value& a, const Value& b) { return a.v_ == b.v_; }

private:
    Storage v_;
};

// The value converted to text the way a scripting host does it: integers in
// plain decimal, strings unchanged, booleans "True"/"False", reals in their
// shortest form with at most 15 significant digits; Null and arrays give "".
std::string ValueText(const Value& v);

// The leading numeric part of a text, read with "." as the decimal point
// (leading blanks skipped, 0 when there is none).
double LeadingNumber(std::string_view text);

// The value read as a number: integers and reals as they are, booleans as
// -1/0, strings by their leading numeric part.
double ValueNumber(const Value& v);

// A number as text: shortest decimal form with at most 15 significant
// digits, "." as the decimal separator, no trailing zeros.
std::string NumberText(double d);

}  // namespace wmi
