#include "format/number_text.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <system_error>

#include "wmi/value.h"

namespace kestrane {

void AppendInt(std::string& out, std::int64_t value) {
    char buf[24];
    auto res = std::to_chars(buf, buf + sizeof buf, value);
    out.append(buf, res.ptr);
}

void AppendNumber(std::string& out, double value) {
    // Whole numbers below 1e15 print all their digits under "%.15g" too, so
    // the integer path gives the same text without going through printf.
    if (value > -1e15 && value < 1e15 && value == std::trunc(value)) {
        AppendInt(out, static_cast<std::int64_t>(value));  // -0 prints as "0"
        return;
    }
    out += wmi::NumberText(value);
}

std::string NumberToText(double value) {
    std::string out;
    AppendNumber(out, value);
    return out;
}

double ReadNumber(const wmi::Value& value) {
    if (value.isString()) {
        const std::string& s = value.asString();
        const bool negative = !s.empty() && s.front() == '-';
        const std::size_t digits = s.size() - (negative ? 1 : 0);
        if (digits >= 1 && digits <= 18) {
            std::int64_t n = 0;
            auto res = std::from_chars(s.data() + (negative ? 1 : 0), s.data() + s.size(), n);
            if (res.ec == std::errc() && res.ptr == s.data() + s.size())
                return static_cast<double>(negative ? -n : n);
        }
    }
    return wmi::ValueNumber(value);
}

void AppendFixed2(std::string& out, double value) {
    if (!std::isfinite(value)) {
        out += wmi::NumberText(value);
        return;
    }
    const bool negative = value < 0;
    const double x = std::fabs(value);
    const double t = x * 100;
    if (t >= 4503599627370496.0) {  // 2^52: no fraction left to round
        char buf[400];
        std::snprintf(buf, sizeof buf, "%.2f", value);
        out += buf;
        return;
    }
    // Round x*100 to a whole number of hundredths. The product may itself be
    // rounded, so a fraction of exactly one half is settled by the exact
    // error of the multiplication; only a true tie rounds away from zero.
    const double err = std::fma(x, 100, -t);
    const double floorT = std::floor(t);
    const double frac = t - floorT;
    std::int64_t hundredths = static_cast<std::int64_t>(floorT);
    if (frac > 0.5 || (frac == 0.5 && err >= 0)) ++hundredths;
    if (negative && hundredths != 0) out += '-';
    AppendInt(out, hundredths / 100);
    const int cents = static_cast<int>(hundredths % 100);
    out += '.';
    out += static_cast<char>('0' + cents / 10);
    out += static_cast<char>('0' + cents % 10);
}

}  // namespace kestrane
