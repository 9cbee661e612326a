#include "window/sort.h"

#include <algorithm>
#include <charconv>
#include <numeric>
#include <optional>

#include "window/find.h"

namespace kestrane::window {

namespace {

const std::string& Cell(const ListRow& r, std::size_t column) {
    static const std::string empty;
    if (column == 0) return r.text;
    return column <= r.sub.size() ? r.sub[column - 1] : empty;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// A decimal number at the start of s: sign, digits, fraction.
std::optional<double> LeadingNumber(std::string_view s, std::size_t& used) {
    std::size_t i = 0;
    if (i < s.size() && (s[i] == '-' || s[i] == '+')) ++i;
    std::size_t digits = i;
    while (i < s.size() && IsDigit(s[i])) ++i;
    if (i == digits) return std::nullopt;
    if (i + 1 < s.size() && s[i] == '.' && IsDigit(s[i + 1])) {
        ++i;
        while (i < s.size() && IsDigit(s[i])) ++i;
    }
    double v = 0;
    std::string_view num = s.substr(s[0] == '+' ? 1 : 0, i - (s[0] == '+' ? 1 : 0));
    if (std::from_chars(num.data(), num.data() + num.size(), v).ec != std::errc()) return std::nullopt;
    used = i;
    return v;
}

// "512 bytes" or "1.50 KB (1536 bytes)", as FormatBytes writes them.
std::optional<double> SizeValue(std::string_view s) {
    constexpr std::string_view tail = " bytes";
    if (s.size() > tail.size() + 1 && s.back() == ')') {
        std::size_t open = s.rfind('(');
        if (open == std::string_view::npos) return std::nullopt;
        std::string_view inner = s.substr(open + 1, s.size() - open - 2);
        if (inner.size() <= tail.size() || inner.substr(inner.size() - tail.size()) != tail) return std::nullopt;
        inner.remove_suffix(tail.size());
        std::size_t used = 0;
        auto v = LeadingNumber(inner, used);
        return v && used == inner.size() ? v : std::nullopt;
    }
    if (s.size() <= tail.size() || s.substr(s.size() - tail.size()) != tail) return std::nullopt;
    s.remove_suffix(tail.size());
    std::size_t used = 0;
    auto v = LeadingNumber(s, used);
    return v && used == s.size() ? v : std::nullopt;
}

// "mm/dd/yyyy HH:MM:SS", as FormatWMIDate writes it, as yyyymmddHHMMSS.
std::optional<double> DateValue(std::string_view s) {
    if (s.size() != 19 || s[2] != '/' || s[5] != '/' || s[10] != ' ' || s[13] != ':' || s[16] != ':')
        return std::nullopt;
    constexpr int kDigits[] = {0, 1, 3, 4, 6, 7, 8, 9, 11, 12, 14, 15, 17, 18};
    for (int i : kDigits)
        if (!IsDigit(s[static_cast<std::size_t>(i)])) return std::nullopt;
    auto num = [s](std::size_t pos, std::size_t len) {
        double v = 0;
        for (std::size_t i = 0; i < len; ++i) v = v * 10 + (s[pos + i] - '0');
        return v;
    };
    double v = num(6, 4);
    for (std::size_t pos : {0, 3, 11, 14, 17}) v = v * 100 + num(pos, 2);
    return v;
}

// A number, alone or followed by a unit without digits ("3.3 V", "5 %").
std::optional<double> NumberValue(std::string_view s) {
    std::size_t used = 0;
    auto v = LeadingNumber(s, used);
    if (!v) return std::nullopt;
    std::string_view rest = s.substr(used);
    if (rest.empty()) return v;
    if (rest[0] != ' ' || rest.size() == 1) return std::nullopt;
    if (std::any_of(rest.begin(), rest.end(), IsDigit)) return std::nullopt;
    return v;
}

using Parser = std::optional<double> (*)(std::string_view);

Parser ParserFor(SortKind kind) {
    switch (kind) {
    case SortKind::Size: return SizeValue;
    case SortKind::Date: return DateValue;
    case SortKind::Number: return NumberValue;
    case SortKind::Text: break;
    }
    return nullptr;
}

}  // namespace

SortKind ColumnSortKind(const ListModel& list, std::size_t column) {
    bool size = true, date = true, number = true, any = false;
    for (const ListRow& r : list.rows()) {
        const std::string& c = Cell(r, column);
        if (c.empty()) continue;
        any = true;
        if (size && !SizeValue(c)) size = false;
        if (date && !DateValue(c)) date = false;
        if (number && !NumberValue(c)) number = false;
        if (!size && !date && !number) return SortKind::Text;
    }
    if (!any) return SortKind::Text;
    // "512 bytes" is a number too; a column of sizes sorts by bytes.
    return size ? SortKind::Size : date ? SortKind::Date : number ? SortKind::Number : SortKind::Text;
}

int NaturalCompare(std::string_view a, std::string_view b) {
    std::size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (IsDigit(a[i]) && IsDigit(b[j])) {
            std::size_t ei = i, ej = j;
            while (ei < a.size() && IsDigit(a[ei])) ++ei;
            while (ej < b.size() && IsDigit(b[ej])) ++ej;
            std::string_view da = a.substr(i, ei - i), db = b.substr(j, ej - j);
            while (da.size() > 1 && da[0] == '0') da.remove_prefix(1);
            while (db.size() > 1 && db[0] == '0') db.remove_prefix(1);
            if (da.size() != db.size()) return da.size() < db.size() ? -1 : 1;
            if (int c = da.compare(db)) return c < 0 ? -1 : 1;
            i = ei;
            j = ej;
            continue;
        }
        char ca = AsciiLower(a[i]), cb = AsciiLower(b[j]);
        if (ca != cb) return static_cast<unsigned char>(ca) < static_cast<unsigned char>(cb) ? -1 : 1;
        ++i;
        ++j;
    }
    if (i < a.size()) return 1;
    if (j < b.size()) return -1;
    return 0;
}

std::vector<std::size_t> SortedOrder(const ListModel& list, std::size_t column, bool descending) {
    const auto& rows = list.rows();
    std::vector<std::size_t> order(rows.size());
    std::iota(order.begin(), order.end(), 0);
    const SortKind kind = ColumnSortKind(list, column);
    // Empty cells sort before every value; the rest by kind.
    auto rank = [&](std::size_t r) { return Cell(rows[r], column).empty() ? 0 : 1; };
    if (Parser parse = ParserFor(kind)) {
        std::vector<double> key(rows.size());
        for (std::size_t r = 0; r < rows.size(); ++r)
            if (rank(r)) key[r] = *parse(Cell(rows[r], column));
        auto less = [&](std::size_t x, std::size_t y) {
            if (rank(x) != rank(y)) return rank(x) < rank(y);
            return key[x] < key[y];
        };
        if (descending)
            std::stable_sort(order.begin(), order.end(), [&](std::size_t x, std::size_t y) { return less(y, x); });
        else
            std::stable_sort(order.begin(), order.end(), less);
    } else {
        auto cmp = [&](std::size_t x, std::size_t y) {
            if (rank(x) != rank(y)) return rank(x) - rank(y);
            return NaturalCompare(Cell(rows[x], column), Cell(rows[y], column));
        };
        std::stable_sort(order.begin(), order.end(),
                         [&](std::size_t x, std::size_t y) { return descending ? cmp(y, x) < 0 : cmp(x, y) < 0; });
    }
    return order;
}

}  // namespace kestrane::window
