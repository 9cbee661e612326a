// Properties built in place for the formatter tests, and a sink that keeps
// the rows an array decoder adds.
#pragma once

#include <ostream>
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
    std::vector<std::string> elements() const {
        std::vector<std::string> out;
        for (const Row& r : rows) out.push_back(r.element);
        return out;
    }
};

}  // namespace kestrane::test
