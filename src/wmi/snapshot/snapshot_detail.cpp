#include "wmi/snapshot/snapshot_detail.h"

#include <chrono>
#include <cstdio>

#include "core/utf8.h"
#include "wmi/snapshot/snapshot.h"

namespace wmi {

namespace snapshot_detail {

Value ClassData::value(const Cell& c) const {
    switch (c.kind) {
    case Cell::Bool: return Value(c.i != 0);
    case Cell::Int: return Value(static_cast<long long>(c.i));
    case Cell::Dec: return Value(std::to_string(c.i));
    case Cell::UDec: return Value(std::to_string(c.u));
    case Cell::Real: return Value(c.d);
    case Cell::Str: return Value(std::string_view(text.data() + c.u, c.count));
    case Cell::Arr: {
        Value::Array a;
        a.reserve(c.count);
        for (std::size_t k = 0; k < c.count; ++k) a.push_back(value(elements[c.u + k]));
        return Value(std::move(a));
    }
    case Cell::Null: break;
    }
    return Value();
}

Object ClassData::object(std::size_t row) const {
    const std::size_t n = schema->size();
    std::vector<Value> values;
    values.reserve(n);
    const Cell* first = cells.data() + row * n;
    for (std::size_t k = 0; k < n; ++k) values.push_back(value(first[k]));
    return Object(schema, std::move(values));
}

const char* CimTypeName(int t) {
    switch (t) {
    case CIM_SINT8: return "sint8";
    case CIM_UINT8: return "uint8";
    case CIM_SINT16: return "sint16";
    case CIM_UINT16: return "uint16";
    case CIM_SINT32: return "sint32";
    case CIM_UINT32: return "uint32";
    case CIM_SINT64: return "sint64";
    case CIM_UINT64: return "uint64";
    case CIM_REAL32: return "real32";
    case CIM_REAL64: return "real64";
    case CIM_STRING: return "string";
    case CIM_BOOLEAN: return "boolean";
    case CIM_OBJECT: return "object";
    case CIM_DATETIME: return "datetime";
    case CIM_REFERENCE: return "reference";
    case CIM_CHAR16: return "char16";
    default: return "unknown";
    }
}

bool IsIdentifier(std::string_view s) {
    auto alpha = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; };
    if (s.empty() || !alpha(s[0])) return false;
    for (char c : s)
        if (!alpha(c) && !(c >= '0' && c <= '9')) return false;
    return true;
}

bool IsInteger(int t) {
    switch (t) {
    case CIM_SINT8: case CIM_UINT8: case CIM_SINT16: case CIM_UINT16:
    case CIM_SINT32: case CIM_UINT32: case CIM_SINT64: case CIM_UINT64:
        return true;
    default:
        return false;
    }
}

bool Is64Bit(int t) { return t == CIM_SINT64 || t == CIM_UINT64; }

IntRange RangeOf(int t) {
    switch (t) {
    case CIM_SINT8: return {INT8_MIN, INT8_MAX};
    case CIM_UINT8: return {0, UINT8_MAX};
    case CIM_SINT16: return {INT16_MIN, INT16_MAX};
    case CIM_UINT16: return {0, UINT16_MAX};
    case CIM_SINT32: return {INT32_MIN, INT32_MAX};
    case CIM_UINT32: return {0, UINT32_MAX};
    case CIM_SINT64: return {INT64_MIN, INT64_MAX};
    default: return {0, UINT64_MAX};
    }
}

std::string RangeText(int t) {
    IntRange r = RangeOf(t);
    return std::to_string(r.min) + " to " + std::to_string(r.max);
}

bool Integer::fits(int t) const {
    IntRange r = RangeOf(t);
    if (!negative || magnitude == 0) return magnitude <= r.max;
    if (r.min >= 0) return false;
    // -(min + 1) + 1 is |min| without overflowing at INT64_MIN.
    return magnitude <= static_cast<std::uint64_t>(-(r.min + 1)) + 1;
}

std::string Integer::text() const {
    if (negative && magnitude != 0) return "-" + std::to_string(magnitude);
    return std::to_string(magnitude);
}

std::optional<Integer> ParseDecimal(std::string_view s) {
    Integer v;
    if (!s.empty() && s[0] == '-') {
        v.negative = true;
        s.remove_prefix(1);
    }
    if (s.empty()) return std::nullopt;
    for (char c : s) {
        if (c < '0' || c > '9') return std::nullopt;
        const std::uint64_t digit = static_cast<std::uint64_t>(c - '0');
        if (v.magnitude > (UINT64_MAX - digit) / 10) return std::nullopt;
        v.magnitude = v.magnitude * 10 + digit;
    }
    return v;
}

// One character of UCS-2: one well-formed UTF-8 sequence of at most 3 bytes.
bool IsChar16(std::string_view s) {
    const std::size_t n = s.empty() ? 0 : kestrane::Utf8Length(s, 0);
    return n != 0 && n == s.size() && n <= 3;
}

std::string ValidUtf8(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (std::size_t k = 0; k < s.size();) {
        const std::size_t len = kestrane::Utf8Length(s, k);
        if (len == 0) {
            out += "\xEF\xBF\xBD";
            ++k;
        } else {
            out.append(s.substr(k, len));
            k += len;
        }
    }
    return out;
}

}  // namespace snapshot_detail

bool IsDmtfDatetime(std::string_view s) {
    if (s.size() != 25) return false;
    auto digitOrStar = [&](std::size_t from, std::size_t to) {
        for (std::size_t k = from; k < to; ++k)
            if (!((s[k] >= '0' && s[k] <= '9') || s[k] == '*')) return false;
        return true;
    };
    if (!digitOrStar(0, 14) || s[14] != '.' || !digitOrStar(15, 21)) return false;
    if (s[21] == ':') return s.substr(22) == "000";
    return (s[21] == '+' || s[21] == '-') && digitOrStar(22, 25);
}

std::string DmtfNowUtc() {
    using namespace std::chrono;
    const auto now = floor<microseconds>(system_clock::now());
    const auto day = floor<days>(now);
    const year_month_day ymd(day);
    const hh_mm_ss<microseconds> tod(now - day);
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04d%02u%02u%02d%02d%02d.%06lld+000", static_cast<int>(ymd.year()),
                  static_cast<unsigned>(ymd.month()), static_cast<unsigned>(ymd.day()),
                  static_cast<int>(tod.hours().count()), static_cast<int>(tod.minutes().count()),
                  static_cast<int>(tod.seconds().count()),
                  static_cast<long long>(tod.subseconds().count()));
    return buf;
}

}  // namespace wmi
