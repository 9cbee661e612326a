// Where array decoders put the rows they add, one per element.
#pragma once

#include <string>
#include <vector>

namespace kestrane {

class ArrayRowSink {
public:
    virtual ~ArrayRowSink() = default;
    // One element row: key, text and small icon (all "" after the first
    // element) and the element's text for the second column.
    virtual void addRow(const std::string& key, const std::string& text, const std::string& icon,
                        const std::string& elementText) = 0;
};

// Collects the element texts, for views that show an array in one cell.
class JoiningSink : public ArrayRowSink {
public:
    void addRow(const std::string&, const std::string&, const std::string&,
                const std::string& elementText) override {
        elements_.push_back(elementText);
    }
    std::string joined(const std::string& sep = ", ") const {
        std::string out;
        for (std::size_t i = 0; i < elements_.size(); ++i) {
            if (i) out += sep;
            out += elements_[i];
        }
        return out;
    }
    void clear() { elements_.clear(); }

private:
    std::vector<std::string> elements_;
};

// Discards the rows (when only the returned text matters).
class NullSink : public ArrayRowSink {
public:
    void addRow(const std::string&, const std::string&, const std::string&, const std::string&) override {}
};

}  // namespace kestrane
