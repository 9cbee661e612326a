#include "wmi/value.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace wmi {

bool IsKnownCimType(int code) {
    switch (code) {
    case CIM_SINT16: case CIM_SINT32: case CIM_REAL32: case CIM_REAL64: case CIM_STRING:
    case CIM_BOOLEAN: case CIM_OBJECT: case CIM_SINT8: case CIM_UINT8: case CIM_UINT16:
    case CIM_UINT32: case CIM_SINT64: case CIM_UINT64: case CIM_DATETIME: case CIM_REFERENCE:
    case CIM_CHAR16:
        return true;
    default:
        return false;
    }
}

std::string NumberText(double d) {
    if (std::isnan(d)) return "NaN";
    if (std::isinf(d)) return d < 0 ? "-Infinity" : "Infinity";
    if (d == 0) return "0";  // also folds -0
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.15g", d);
    return buf;
}

std::string ValueText(const Value& v) {
    const auto& s = v.storage();
    switch (s.index()) {
    case 1: return std::get<bool>(s) ? "True" : "False";
    case 2: return std::to_string(std::get<std::int64_t>(s));
    case 3: return NumberText(std::get<double>(s));
    case 4: return std::get<std::string>(s);
    default: return {};
    }
}

double LeadingNumber(std::string_view t) {
    std::size_t i = 0;
    while (i < t.size() && (t[i] == ' ' || t[i] == '\t')) ++i;
    std::size_t start = i;
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) ++i;
    std::size_t digits = 0;
    while (i < t.size() && t[i] >= '0' && t[i] <= '9') { ++i; ++digits; }
    if (i < t.size() && t[i] == '.') {
        ++i;
        while (i < t.size() && t[i] >= '0' && t[i] <= '9') { ++i; ++digits; }
    }
    if (digits == 0) return 0.0;
    std::size_t mantissaEnd = i;
    if (i < t.size() && (t[i] == 'e' || t[i] == 'E' || t[i] == 'd' || t[i] == 'D')) {
        std::size_t j = i + 1;
        if (j < t.size() && (t[j] == '+' || t[j] == '-')) ++j;
        std::size_t expDigits = 0;
        while (j < t.size() && t[j] >= '0' && t[j] <= '9') { ++j; ++expDigits; }
        if (expDigits > 0) mantissaEnd = j;
    }
    std::string num(t.substr(start, mantissaEnd - start));
    for (char& c : num)
        if (c == 'd' || c == 'D') c = 'e';
    return std::strtod(num.c_str(), nullptr);
}

double ValueNumber(const Value& v) {
    const auto& s = v.storage();
    switch (s.index()) {
    case 1: return std::get<bool>(s) ? -1.0 : 0.0;
    case 2: return static_cast<double>(std::get<std::int64_t>(s));
    case 3: return std::get<double>(s);
    case 4: return LeadingNumber(std::get<std::string>(s));
    default: return 0.0;
    }
}

}  // namespace wmi
