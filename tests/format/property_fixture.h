// Properties built in place for the formatter tests, a sink that keeps the
// rows an array decoder adds, and the cases kept under tests/fixtures/format/.
#pragma once

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <ostream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "format/array_sink.h"
#include "wmi/object.h"

namespace kestrane::test {

// Owns what a wmi::Property views; keep it alive while the view is used.
struct Prop {
    wmi::PropertyDecl decl;
    wmi::Value value;

    Prop(std::string name, int cimType, wmi::Value v, bool isArray = false, std::string origin = {})
        : decl{std::move(name), cimType, isArray, std::move(origin)}, value(std::move(v)) {}

    wmi::Property view() const { return wmi::Property(decl, value); }
};

inline wmi::Value Arr(std::vector<wmi::Value> items) { return wmi::Value(wmi::Value::Array(std::move(items))); }

struct Row {
    std::string key, text, icon, element;
    bool operator==(const Row&) const = default;
};

inline void PrintTo(const Row& r, std::ostream* os) {
    *os << "{\"" << r.key << "\", \"" << r.text << "\", \"" << r.icon << "\", \"" << r.element << "\"}";
}

class RecordingSink : public ArrayRowSink {
public:
    std::vector<Row> rows;
    void addRow(const std::string& key, const std::string& text, const std::string& icon,
                const std::string& elementText) override {
        rows.push_back({key, text, icon, elementText});
    }
};

inline wmi::Value ValueOf(const nlohmann::json& j) {
    if (j.is_null()) return {};
    if (j.is_boolean()) return j.get<bool>();
    if (j.is_number_unsigned()) return static_cast<long long>(j.get<std::uint64_t>());
    if (j.is_number_integer()) return j.get<long long>();
    if (j.is_number_float()) return j.get<double>();
    if (j.is_string()) return j.get<std::string>();
    wmi::Value::Array a;
    for (const auto& e : j) a.push_back(ValueOf(e));
    return a;
}

// The cases of tests/fixtures/format/<file>, with their line numbers: a JSON
// array a line; lines starting with '#' and a "# ..." after a case are comments.
inline std::vector<std::pair<int, nlohmann::json>> ReadCases(const std::string& file) {
    std::vector<std::pair<int, nlohmann::json>> out;
    std::ifstream in(std::string(KESTRANE_FIXTURES) + "/format/" + file);
    int n = 0;
    for (std::string line; std::getline(in, line);)
        if (++n, !line.empty() && line[0] != '#') std::istringstream(line) >> out.emplace_back(n, nullptr).second;
    EXPECT_GT(out.size(), 40u) << file;
    return out;
}

// A property case: [CIM type ("[]": an array property), what is called,
// value, text, the element rows (array properties only), extra].
struct Case {
    std::string what, extra;
    Prop prop;
};

// Formats every property case of `file` with `format`, which is given the row
// sink and the keys "K" and "Caption" to put on its first row.
inline void CheckCases(const std::string& file, const std::function<std::string(const Case&, ArrayRowSink&)>& format) {
    static const std::map<std::string, int> types = {
        {"sint8", 16},  {"uint8", 17},  {"sint16", 2}, {"uint16", 18}, {"sint32", 3},    {"uint32", 19},    {"sint64", 20},
        {"uint64", 21}, {"real64", 5},  {"boolean", 11}, {"string", 8}, {"datetime", 101}, {"reference", 102}};
    for (const auto& [n, c] : ReadCases(file)) {
        const std::string type = c.at(0);
        const bool array = type.ends_with("[]");
        const std::size_t extra = array ? 5 : 4;
        const std::string what = c.at(1);
        const Case k{what, c.size() > extra ? c[extra].get<std::string>() : "",
                     Prop(what, types.at(type.substr(0, type.find('['))), ValueOf(c.at(2)), array)};
        RecordingSink sink;
        EXPECT_EQ(format(k, sink), c.at(3).get<std::string>()) << file << ":" << n << ": " << c;
        // A row an element, the caller's key, text and icon on the first only.
        std::vector<Row> want;
        for (const auto& e : array ? c.at(4) : nlohmann::json::array())
            want.push_back(want.empty() ? Row{"K", "Caption", "Info", e} : Row{"", "", "", e});
        EXPECT_EQ(sink.rows, want) << file << ":" << n << ": " << c;
    }
}

}  // namespace kestrane::test
