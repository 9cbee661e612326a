// The snapshot loader and provider.
//
// The file is read in one streaming pass (nlohmann's SAX interface): instance
// values go straight into the compact per-class store instead of a document
// tree, which would cost a hundred bytes and more per value. Small parts
// (top-level scalars, property declarations, each instance member) are still
// built as little JSON values and checked as a whole.

#include "wmi/snapshot/snapshot.h"

#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>

#include <nlohmann/json.hpp>

#include "core/file_error.h"
#include "core/platform.h"
#include "wmi/snapshot/json_reader.h"
#include "wmi/snapshot/snapshot_detail.h"

namespace wmi {

using snapshot_detail::Cell;
using snapshot_detail::ClassData;

namespace {

using Json = nlohmann::ordered_json;

constexpr std::string_view kFormat = "kestrane-snapshot";
// Version 2 added subclasses; a file that uses none may still say 1.
constexpr std::int64_t kOldestVersion = 1;
constexpr std::int64_t kVersion = 2;
constexpr std::size_t kNoPosition = std::string::npos;

// A fault at a byte offset of the text (kNoPosition when none applies).
struct LoadError {
    std::size_t at;
    std::string what;
};

// Walks the text for the parser and leaves behind how far it has read, which
// is how events learn where they are in the file.
class TrackingIterator {
public:
    using iterator_category = std::input_iterator_tag;
    using value_type = char;
    using difference_type = std::ptrdiff_t;
    using pointer = const char*;
    using reference = const char&;

    TrackingIterator(const char* p, const char** mark) : p_(p), mark_(mark) {}
    reference operator*() const { return *p_; }
    TrackingIterator& operator++() {
        *mark_ = ++p_;
        return *this;
    }
    TrackingIterator operator++(int) {
        TrackingIterator old = *this;
        ++*this;
        return old;
    }
    bool operator==(const TrackingIterator& o) const { return p_ == o.p_; }
    bool operator!=(const TrackingIterator& o) const { return p_ != o.p_; }

private:
    const char* p_;
    const char** mark_;
};

std::string Quote(std::string_view s) { return "\"" + std::string(s) + "\""; }

// A JSON value as it appears in a message, cut short when long. Arrays and
// objects are not spelled out: dumping recurses, and a hostile file can nest
// a million levels deep.
std::string Shown(const Json& v) {
    if (v.is_array()) return v.empty() ? "[]" : "[...]";
    if (v.is_object()) return v.empty() ? "{}" : "{...}";
    std::string s = v.dump(-1, ' ', false, Json::error_handler_t::replace);
    if (s.size() > 60) s = s.substr(0, 57) + "...";
    return s;
}

const char* JsonTypeName(const Json& v) {
    if (v.is_null()) return "null";
    if (v.is_boolean()) return "a boolean";
    if (v.is_number()) return "a number";
    if (v.is_string()) return "a string";
    if (v.is_array()) return "an array";
    return "an object";
}

// Stores a text as a value of one of the text types (all but the numbers
// and boolean); false, storing nothing, when it is not one.
bool StoreText(const std::string& s, int type, ClassData& d, Cell& out) {
    if ((type == CIM_DATETIME && !IsDmtfDatetime(s)) || (type == CIM_CHAR16 && !snapshot_detail::IsChar16(s)) ||
        s.size() > UINT32_MAX)
        return false;
    out.kind = Cell::Str;
    out.count = static_cast<std::uint32_t>(s.size());
    out.u = d.text.size();
    d.text += s;
    return true;
}

// Stores an integer that fits its type.
void StoreInteger(const snapshot_detail::Integer& n, int type, Cell& out) {
    if (type == CIM_UINT64) {
        out.kind = Cell::UDec;
        out.u = n.magnitude;
    } else {
        out.kind = type == CIM_SINT64 ? Cell::Dec : Cell::Int;
        out.i = n.negative ? -static_cast<std::int64_t>(n.magnitude - 1) - 1 : static_cast<std::int64_t>(n.magnitude);
    }
}

bool IsTextType(int type) {
    return !snapshot_detail::IsInteger(type) && type != CIM_REAL32 && type != CIM_REAL64 && type != CIM_BOOLEAN;
}

// Converts one scalar to a cell; returns what is wrong, or "" when it fits.
std::string ToCell(const Json& v, int type, ClassData& d, Cell& out) {
    using snapshot_detail::Integer;
    const char* name = snapshot_detail::CimTypeName(type);
    if (snapshot_detail::IsInteger(type)) {
        Integer n;
        if (v.is_number_unsigned()) {
            n.magnitude = v.get<std::uint64_t>();
        } else if (v.is_number_integer()) {
            const std::int64_t i = v.get<std::int64_t>();
            n.negative = i < 0;
            n.magnitude = i < 0 ? static_cast<std::uint64_t>(-(i + 1)) + 1 : static_cast<std::uint64_t>(i);
        } else if (v.is_number_float()) {
            const double x = v.get<double>();
            if (x != std::floor(x)) return Shown(v) + " is not a whole number, as " + name + " needs";
            // 2^64: beyond this no CIM integer reaches.
            if (std::fabs(x) >= 18446744073709551616.0)
                return Shown(v) + " is out of range for " + name + " (" + snapshot_detail::RangeText(type) + ")";
            n.negative = x < 0;
            n.magnitude = static_cast<std::uint64_t>(std::fabs(x));
        } else if (v.is_string() && snapshot_detail::Is64Bit(type)) {
            auto parsed = snapshot_detail::ParseDecimal(v.get_ref<const std::string&>());
            if (!parsed) return Shown(v) + " is not a decimal number, as " + name + " needs";
            n = *parsed;
        } else {
            return std::string(JsonTypeName(v)) + " (" + Shown(v) + ") cannot be " + name +
                   (snapshot_detail::Is64Bit(type) ? " (a JSON integer or a decimal string)"
                                                    : " (a JSON integer)");
        }
        if (!n.fits(type))
            return n.text() + " is out of range for " + name + " (" + snapshot_detail::RangeText(type) + ")";
        StoreInteger(n, type, out);
        return {};
    }
    switch (type) {
    case CIM_REAL32:
    case CIM_REAL64: {
        if (!v.is_number()) return std::string(JsonTypeName(v)) + " (" + Shown(v) + ") cannot be " + name;
        const double x = v.get<double>();
        if (type == CIM_REAL32 && std::fabs(x) > 3.4028234663852886e38)
            return Shown(v) + " is out of range for real32";
        out.kind = Cell::Real;
        out.d = x;
        return {};
    }
    case CIM_BOOLEAN:
        if (!v.is_boolean()) return std::string(JsonTypeName(v)) + " (" + Shown(v) + ") cannot be boolean";
        out.kind = Cell::Bool;
        out.i = v.get<bool>() ? 1 : 0;
        return {};
    default:
        break;
    }
    // The text types.
    if (!v.is_string()) return std::string(JsonTypeName(v)) + " (" + Shown(v) + ") cannot be " + name;
    if (StoreText(v.get_ref<const std::string&>(), type, d, out)) return {};
    if (type == CIM_DATETIME) return Shown(v) + " is not a DMTF datetime (25 characters, yyyymmddHHMMSS.mmmmmmsUUU)";
    if (type == CIM_CHAR16) return Shown(v) + " is not a single character, as char16 needs";
    return "string too long";
}

// Converts a member's value, scalar or array, as its declaration demands.
std::string ToValueCell(const Json& v, const PropertyDecl& decl, ClassData& d, Cell& out) {
    if (v.is_null()) {
        out = Cell{};
        return {};
    }
    if (!decl.isArray) {
        if (v.is_array()) return "an array given for a property that is not an array";
        return ToCell(v, decl.cimType, d, out);
    }
    if (!v.is_array()) return std::string(JsonTypeName(v)) + " (" + Shown(v) + ") given for an array property";
    if (v.size() > UINT32_MAX) return "array too long";
    const std::size_t first = d.elements.size();
    d.elements.resize(first + v.size());
    for (std::size_t k = 0; k < v.size(); ++k) {
        const Json& e = v[k];
        std::string why;
        if (e.is_null())
            why = "null cannot be an array element";
        else if (e.is_array())
            why = "arrays cannot be nested";
        else
            why = ToCell(e, decl.cimType, d, d.elements[first + k]);
        if (!why.empty()) return "element " + std::to_string(k) + ": " + why;
    }
    out.kind = Cell::Arr;
    out.count = static_cast<std::uint32_t>(v.size());
    out.u = first;
    return {};
}

}  // namespace

std::string snapshot_detail::ValueFromJson(const Json& v, const PropertyDecl& decl, Value& out) {
    ClassData d;
    Cell c;
    std::string why = ToValueCell(v, decl, d, c);
    if (why.empty()) out = d.value(c);
    return why;
}

namespace {

class SnapshotSax : public nlohmann::json_sax<Json> {
public:
    SnapshotSax(std::string_view text, const char* const* mark) : text_(text), mark_(mark), lastEnd_(text.data()) {}

    bool null() override { return scalar(Json(nullptr)); }
    bool boolean(bool v) override { return scalar(Json(v)); }
    bool number_integer(number_integer_t v) override { return scalar(Json(v)); }
    bool number_unsigned(number_unsigned_t v) override { return scalar(Json(v)); }
    bool number_float(number_float_t v, const string_t&) override { return scalar(Json(v)); }
    bool string(string_t& v) override;
    bool binary(binary_t&) override { return scalar(Json(nullptr)); }  // never in JSON text

    bool start_object(std::size_t) override { return open(true); }
    bool start_array(std::size_t) override { return open(false); }
    bool end_object() override { return close(); }
    bool end_array() override { return close(); }
    bool key(string_t& k) override;

    bool parse_error(std::size_t position, const std::string&, const nlohmann::detail::exception& ex) override {
        // nlohmann's text begins with its own id and position; ours replace them.
        std::string what = ex.what();
        if (what.rfind("[json.exception.", 0) == 0) {
            if (auto close = what.find("] "); close != std::string::npos) what.erase(0, close + 2);
        }
        if (what.rfind("parse error", 0) == 0) {
            if (auto colon = what.find(": "); colon != std::string::npos) what.erase(0, colon + 2);
        }
        // It quotes the token it was reading, which can be a whole string.
        if (what.size() > 300) what = what.substr(0, 297) + "...";
        throw LoadError{position == 0 ? 0 : position - 1, what};
    }

    std::vector<SnapshotProvider::Class> takeClasses() { return std::move(classes_); }
    std::string computer;
    std::string captured;

private:
    enum class Level { Start, Root, Classes, Class, Subclasses, Properties, Instances, Instance, End };

    struct ClassState {
        std::string name;
        std::string label;   // how messages name it: "C" or "C, subclass S"
        std::size_t keyAt = 0;
        bool hasSubclasses = false;
        std::vector<std::shared_ptr<const ClassData>> parts;
        std::unordered_map<std::string, std::string> partLower;  // lower-cased -> as spelled
        bool hasProperties = false;
        bool hasInstances = false;
        std::string member;  // "properties" or "instances" while inside one
        std::vector<PropertyDecl> decls;
        std::size_t declIndex = 0;
        std::shared_ptr<ClassData> data;  // set once the properties are known
        std::vector<std::pair<Json, std::size_t>> pending;  // instances met before the properties
        std::size_t instanceIndex = 0;
        std::vector<std::uint8_t> given;  // per property, within the current instance
        std::size_t hint = 0;             // where the next member is likely declared
        int property = -1;                // index of the current member's declaration
        std::size_t rowStart = 0;
    };

    // Where the token just ahead of the parser's last event begins.
    std::size_t tokenStart() const {
        const char* p = lastEnd_;
        const char* end = text_.data() + text_.size();
        while (p < end && (*p == ' ' || *p == '\t' || *p == '\r' || *p == '\n' || *p == ',' || *p == ':')) ++p;
        return static_cast<std::size_t>(p - text_.data());
    }
    void mark() { lastEnd_ = *mark_; }

    [[noreturn]] void fail(std::size_t at, const std::string& what) const { throw LoadError{at, context() + what}; }

    std::string context() const {
        if (!cls_) return {};
        std::string c = "class " + cls_->label;
        if (level_ == Level::Instance || (level_ == Level::Instances && cls_->member == "instances"))
            c += ", instances[" + std::to_string(cls_->instanceIndex) + "]";
        if (level_ == Level::Instance && cls_->property >= 0)
            c += ", property " + cls_->decls[static_cast<std::size_t>(cls_->property)].name;
        return c + ": ";
    }

    // A value begins where the stream level is: either descend into it or
    // build it whole and deliver it when complete.
    bool open(bool object);
    bool scalar(Json v);
    bool close();
    void deliver(Json v, std::size_t at);
    void addDecl(const Json& v, std::size_t at);
    void finishProperties();
    void storeMember(ClassState& c, std::size_t row, int index, const Json& v, std::size_t at);
    void startRow(ClassState& c);
    void storePending(ClassState& c);
    void finishClass();
    void finishRoot();
    int memberIndex(ClassState& c, std::string_view name, std::size_t at);

    std::string_view text_;
    const char* const* mark_;
    const char* lastEnd_;

    Level level_ = Level::Start;
    std::string rootMember_;
    bool seenFormat_ = false, seenVersion_ = false, seenComputer_ = false, seenCaptured_ = false,
         seenClasses_ = false;
    std::unique_ptr<ClassState> cls_;
    std::unique_ptr<ClassState> outer_;  // the class whose subclass cls_ is
    std::int64_t version_ = 0;           // 0 until read
    std::size_t subclassesAt_ = kNoPosition;  // first use of a version 2 member
    std::string classKey_;
    std::size_t classKeyAt_ = 0;
    std::unordered_map<std::string, std::string> classLower_;  // lower-cased -> as spelled
    std::vector<SnapshotProvider::Class> classes_;

    // The value being built whole.
    bool building_ = false;
    std::size_t buildAt_ = 0;
    Json built_;
    std::vector<Json*> stack_;
    Json* slot_ = nullptr;  // where the next value of an object goes
};

bool SnapshotSax::scalar(Json v) {
    if (building_) {
        if (!stack_.back()->is_array()) {
            *slot_ = std::move(v);
        } else {
            stack_.back()->push_back(std::move(v));
        }
        mark();
        return true;
    }
    const std::size_t at = tokenStart();
    mark();
    deliver(std::move(v), at);
    return true;
}

bool SnapshotSax::string(string_t& v) {
    // Most strings are instances' texts and 64-bit integers: stored straight
    // away, they need no JSON value, and the parser keeps its buffer for the
    // next. Anything else, faults included, takes the general way.
    if (!building_ && level_ == Level::Instance) {
        ClassData& d = *cls_->data;
        const auto k = static_cast<std::size_t>(cls_->property);
        const PropertyDecl& decl = d.schema->properties()[k];
        Cell& cell = d.cells[cls_->rowStart + k];
        bool stored = false;
        if (!decl.isArray && IsTextType(decl.cimType)) {
            stored = StoreText(v, decl.cimType, d, cell);
        } else if (!decl.isArray && snapshot_detail::Is64Bit(decl.cimType)) {
            const auto n = snapshot_detail::ParseDecimal(v);
            stored = n && n->fits(decl.cimType);
            if (stored) StoreInteger(*n, decl.cimType, cell);
        }
        if (stored) {
            mark();
            return true;
        }
    }
    return scalar(Json(std::move(v)));
}

bool SnapshotSax::open(bool object) {
    if (building_) {
        Json fresh = object ? Json::object() : Json::array();
        Json* node;
        if (stack_.back()->is_array()) {
            stack_.back()->push_back(std::move(fresh));
            node = &stack_.back()->back();
        } else {
            *slot_ = std::move(fresh);
            node = slot_;
        }
        stack_.push_back(node);
        mark();
        return true;
    }
    const std::size_t at = tokenStart();
    mark();
    switch (level_) {
    case Level::Start:
        if (!object) fail(at, "not a snapshot: the top level is not a JSON object");
        level_ = Level::Root;
        return true;
    case Level::Root:
        if (object && rootMember_ == "classes") {
            level_ = Level::Classes;
            return true;
        }
        break;
    case Level::Classes:
        if (!object) fail(at, "class " + classKey_ + " must be an object, not an array");
        cls_ = std::make_unique<ClassState>();
        cls_->name = cls_->label = classKey_;
        cls_->keyAt = classKeyAt_;
        level_ = Level::Class;
        return true;
    case Level::Subclasses: {
        if (!object) fail(at, "must be an object, not an array");
        auto sub = std::make_unique<ClassState>();
        sub->name = classKey_;
        sub->label = cls_->name + ", subclass " + classKey_;
        sub->keyAt = classKeyAt_;
        outer_ = std::move(cls_);
        cls_ = std::move(sub);
        level_ = Level::Class;
        return true;
    }
    case Level::Class:
        if (object && cls_->member == "subclasses") {
            level_ = Level::Subclasses;
            return true;
        }
        if (!object && cls_->member == "properties") {
            level_ = Level::Properties;
            return true;
        }
        if (!object && cls_->member == "instances") {
            level_ = Level::Instances;
            return true;
        }
        break;
    case Level::Instances:
        if (object && cls_->data) {
            startRow(*cls_);
            level_ = Level::Instance;
            return true;
        }
        break;
    default:
        break;
    }
    building_ = true;
    buildAt_ = at;
    built_ = object ? Json::object() : Json::array();
    stack_.assign(1, &built_);
    return true;
}

bool SnapshotSax::key(string_t& k) {
    if (building_) {
        auto& obj = *stack_.back();
        auto [it, inserted] = obj.get_ref<Json::object_t&>().emplace(k, nullptr);
        if (!inserted) {
            // An instance read before its declarations reports like one read after.
            if (level_ == Level::Instances && stack_.size() == 1)
                throw LoadError{tokenStart(), "class " + cls_->name + ", instances[" +
                                                  std::to_string(cls_->instanceIndex) + "], property " + k +
                                                  ": given twice"};
            fail(tokenStart(), "member " + Quote(k) + " is given twice");
        }
        slot_ = &it->second;
        mark();
        return true;
    }
    const std::size_t at = tokenStart();
    mark();
    switch (level_) {
    case Level::Root: {
        bool* seen = k == "format"     ? &seenFormat_
                     : k == "version"  ? &seenVersion_
                     : k == "computer" ? &seenComputer_
                     : k == "captured" ? &seenCaptured_
                     : k == "classes"  ? &seenClasses_
                                       : nullptr;
        if (!seen)
            fail(at, std::string(seenFormat_ ? "" : "not a Kestrane snapshot: ") + "unknown member " + Quote(k) +
                         " at the top level");
        if (*seen) fail(at, "member " + Quote(k) + " is given twice");
        *seen = true;
        rootMember_ = k;
        return true;
    }
    case Level::Classes: {
        if (!snapshot_detail::IsIdentifier(k))
            fail(at, "class name " + Quote(k) + " is not a valid name (letters, digits, '_')");
        auto [it, inserted] = classLower_.emplace(ToLowerAscii(k), k);
        if (!inserted) {
            if (it->second == k) fail(at, "class " + k + " is given twice");
            fail(at, "classes " + it->second + " and " + k + " differ only in letter case");
        }
        classKey_ = k;
        classKeyAt_ = at;
        return true;
    }
    case Level::Class: {
        const bool sub = outer_ != nullptr;
        if (k == "subclasses" && !sub) {
            if (cls_->hasSubclasses) fail(at, "member " + Quote(k) + " is given twice");
            cls_->hasSubclasses = true;
            if (version_ == 1) fail(at, "member \"subclasses\" needs version 2 (the file says version 1)");
            if (subclassesAt_ == kNoPosition) subclassesAt_ = at;
            cls_->member = k;
            return true;
        }
        if (k != "properties" && k != "instances")
            fail(at, "unknown member " + Quote(k) +
                         (sub ? " (a subclass has \"properties\" and \"instances\")"
                              : " (a class has \"properties\", \"instances\" and, from version 2, \"subclasses\")"));
        bool& seen = k == "properties" ? cls_->hasProperties : cls_->hasInstances;
        if (seen) fail(at, "member " + Quote(k) + " is given twice");
        seen = true;
        cls_->member = k;
        return true;
    }
    case Level::Subclasses: {
        if (!snapshot_detail::IsIdentifier(k))
            fail(at, "subclass name " + Quote(k) + " is not a valid name (letters, digits, '_')");
        if (EqualsNoCase(k, cls_->name)) fail(at, "subclass " + k + " has the name of its class");
        auto [it, inserted] = cls_->partLower.emplace(ToLowerAscii(k), k);
        if (!inserted) {
            if (it->second == k) fail(at, "subclass " + k + " is given twice");
            fail(at, "subclasses " + it->second + " and " + k + " differ only in letter case");
        }
        classKey_ = k;
        classKeyAt_ = at;
        return true;
    }
    case Level::Instance:
        cls_->property = memberIndex(*cls_, k, at);
        return true;
    default:
        return true;  // not reached: keys come only inside objects
    }
}

int SnapshotSax::memberIndex(ClassState& c, std::string_view name, std::size_t at) {
    const auto& props = c.data->schema->properties();
    // Members usually follow the declaration order, those without a value
    // left out; a look a few declarations ahead saves most lookups. Names
    // differ in more than letter case, so a match is the one indexOf finds.
    int index = -1;
    for (std::size_t k = c.hint; k < props.size() && k < c.hint + 8 && index < 0; ++k)
        if (props[k].name == name) index = static_cast<int>(k);
    if (index < 0) index = c.data->schema->indexOf(name);
    c.property = -1;
    if (index < 0) fail(at, "member " + Quote(name) + " is not declared in \"properties\"");
    auto& given = c.given[static_cast<std::size_t>(index)];
    if (given) {
        c.property = index;
        fail(at, "given twice");
    }
    given = 1;
    c.hint = static_cast<std::size_t>(index) + 1;
    return index;
}

void SnapshotSax::startRow(ClassState& c) {
    ClassData& d = *c.data;
    c.rowStart = d.cells.size();
    d.cells.resize(d.cells.size() + d.schema->size());
    c.given.assign(d.schema->size(), 0);
    c.hint = 0;
    c.property = -1;
}

void SnapshotSax::storeMember(ClassState& c, std::size_t row, int index, const Json& v, std::size_t at) {
    ClassData& d = *c.data;
    const auto k = static_cast<std::size_t>(index);
    std::string why = ToValueCell(v, d.schema->properties()[k], d, d.cells[row + k]);
    if (!why.empty()) fail(at, why);
}

bool SnapshotSax::close() {
    if (building_) {
        stack_.pop_back();
        if (stack_.empty()) {
            building_ = false;
            mark();
            deliver(std::move(built_), buildAt_);
            built_ = Json();
        } else {
            mark();
        }
        return true;
    }
    mark();
    switch (level_) {
    case Level::Root:
        finishRoot();
        level_ = Level::End;
        break;
    case Level::Classes:
        level_ = Level::Root;
        break;
    case Level::Class:
        finishClass();
        level_ = Level::Classes;
        if (outer_) {
            cls_ = std::move(outer_);
            level_ = Level::Subclasses;
        }
        break;
    case Level::Subclasses:
        cls_->member.clear();
        level_ = Level::Class;
        break;
    case Level::Properties:
        finishProperties();
        cls_->member.clear();
        level_ = Level::Class;
        break;
    case Level::Instances:
        cls_->member.clear();
        level_ = Level::Class;
        break;
    case Level::Instance:
        ++cls_->instanceIndex;
        ++cls_->data->rows;
        cls_->property = -1;
        level_ = Level::Instances;
        break;
    default:
        break;
    }
    return true;
}

void SnapshotSax::deliver(Json v, std::size_t at) {
    switch (level_) {
    case Level::Start:
        fail(at, "not a snapshot: the top level is not a JSON object");
    case Level::Root:
        if (rootMember_ == "format") {
            if (!v.is_string() || v.get_ref<const std::string&>() != kFormat)
                fail(at, "not a Kestrane snapshot: \"format\" is " + Shown(v) + ", not \"" + std::string(kFormat) + "\"");
        } else if (rootMember_ == "version") {
            if (!v.is_number_integer() || v.get<std::int64_t>() < kOldestVersion || v.get<std::int64_t>() > kVersion)
                fail(at, "unsupported snapshot version " + Shown(v) + " (this program reads versions " +
                             std::to_string(kOldestVersion) + " to " + std::to_string(kVersion) + ")");
            version_ = v.get<std::int64_t>();
            if (version_ == 1 && subclassesAt_ != kNoPosition)
                throw LoadError{subclassesAt_, "member \"subclasses\" needs version 2 (the file says version 1)"};
        } else if (rootMember_ == "computer") {
            if (!v.is_string()) fail(at, "\"computer\" must be a string, not " + std::string(JsonTypeName(v)));
            computer = v.get<std::string>();
        } else if (rootMember_ == "captured") {
            if (!v.is_string() || (!v.get_ref<const std::string&>().empty() && !IsDmtfDatetime(v.get_ref<const std::string&>())))
                fail(at, "\"captured\" must be a DMTF datetime string or \"\", not " + Shown(v));
            captured = v.get<std::string>();
        } else {
            fail(at, "\"classes\" must be an object, not " + std::string(JsonTypeName(v)));
        }
        return;
    case Level::Classes:
        fail(at, "class " + classKey_ + " must be an object, not " + JsonTypeName(v));
    case Level::Class:
        fail(at, Quote(cls_->member) + " must be " + (cls_->member == "subclasses" ? "an object" : "an array") +
                     ", not " + JsonTypeName(v));
    case Level::Subclasses:
        fail(at, "subclass " + classKey_ + " must be an object, not " + JsonTypeName(v));
    case Level::Properties:
        addDecl(v, at);
        return;
    case Level::Instances:
        if (!v.is_object()) fail(at, "an instance must be an object, not " + std::string(JsonTypeName(v)));
        cls_->pending.emplace_back(std::move(v), at);
        ++cls_->instanceIndex;
        return;
    case Level::Instance:
        storeMember(*cls_, cls_->rowStart, cls_->property, v, at);
        return;
    default:
        return;
    }
}

void SnapshotSax::addDecl(const Json& v, std::size_t at) {
    ClassState& c = *cls_;
    std::string where = "property " + std::to_string(c.declIndex);
    if (v.is_object()) {
        auto n = v.find("name");
        if (n != v.end() && n->is_string()) where = "property " + n->get<std::string>();
    }
    auto bad = [&](const std::string& what) { fail(at, where + ": " + what); };
    if (!v.is_object()) bad("a property declaration must be an object, not " + std::string(JsonTypeName(v)));
    for (auto it = v.begin(); it != v.end(); ++it) {
        const std::string& k = it.key();
        if (k != "name" && k != "cimtype" && k != "array" && k != "origin")
            bad("unknown member " + Quote(k) + " (a property has \"name\", \"cimtype\", \"array\" and \"origin\")");
    }
    auto member = [&](const char* key) -> const Json& {
        auto it = v.find(key);
        if (it == v.end()) bad(std::string("missing member \"") + key + "\"");
        return *it;
    };
    const Json& name = member("name");
    const Json& type = member("cimtype");
    const Json& array = member("array");
    const Json& origin = member("origin");
    if (!name.is_string() || !snapshot_detail::IsIdentifier(name.get_ref<const std::string&>()))
        bad("\"name\" must be a property name (letters, digits, '_'), not " + Shown(name));
    if (!type.is_number_integer() || !IsKnownCimType(type.get<int>()) ||
        type.get<std::int64_t>() != type.get<int>())
        bad("unknown CIM type " + Shown(type));
    if (!array.is_boolean()) bad("\"array\" must be true or false, not " + Shown(array));
    if (!origin.is_string()) bad("\"origin\" must be a string, not " + Shown(origin));
    for (const auto& d : c.decls) {
        if (EqualsNoCase(d.name, name.get_ref<const std::string&>()))
            bad(d.name == name.get_ref<const std::string&>() ? "declared twice"
                                                             : "differs from property " + d.name + " only in letter case");
    }
    c.decls.push_back(PropertyDecl{name.get<std::string>(), type.get<int>(), array.get<bool>(), origin.get<std::string>()});
    ++c.declIndex;
}

void SnapshotSax::finishProperties() {
    ClassState& c = *cls_;
    c.data = std::make_shared<ClassData>();
    c.data->schema = std::make_shared<const ClassSchema>(c.name, c.decls);
}

void SnapshotSax::storePending(ClassState& c) {
    // Instances written before the declarations: converted now, with the
    // instance's own position standing for its members.
    c.instanceIndex = 0;
    level_ = Level::Instance;
    for (auto& [obj, at] : c.pending) {
        startRow(c);
        for (auto it = obj.begin(); it != obj.end(); ++it) {
            const int index = memberIndex(c, it.key(), at);
            c.property = index;
            storeMember(c, c.rowStart, index, it.value(), at);
        }
        ++c.data->rows;
        ++c.instanceIndex;
        c.property = -1;
    }
    c.pending.clear();
    level_ = Level::Class;
}

void SnapshotSax::finishClass() {
    ClassState& c = *cls_;
    if (!c.hasProperties) fail(c.keyAt, "missing member \"properties\"");
    if (!c.hasInstances) fail(c.keyAt, "missing member \"instances\"");
    if (!c.pending.empty()) storePending(c);
    ClassData& d = *c.data;
    // Giving spare capacity back copies the whole store; where little would
    // come back, that copy beside the original would be the load's peak.
    auto trim = [](auto& v) {
        if (v.capacity() - v.size() > v.size() / 4) v.shrink_to_fit();
    };
    trim(d.cells);
    trim(d.elements);
    trim(d.text);
    d.parts = std::move(c.parts);
    if (outer_)
        outer_->parts.push_back(std::move(c.data));
    else
        classes_.push_back({c.name, std::move(c.data)});
    cls_.reset();
}

void SnapshotSax::finishRoot() {
    const char* missing = !seenFormat_     ? "format"
                          : !seenVersion_  ? "version"
                          : !seenComputer_ ? "computer"
                          : !seenCaptured_ ? "captured"
                          : !seenClasses_  ? "classes"
                                           : nullptr;
    if (missing) fail(kNoPosition, std::string("missing member \"") + missing + "\" at the top level");
}

// Line and column (counting characters, not bytes) of a byte offset.
std::string Where(std::string_view text, std::size_t at) {
    if (at == kNoPosition) return {};
    at = std::min(at, text.size());
    std::size_t line = 1, lineStart = 0;
    for (std::size_t k = 0; k < at; ++k)
        if (text[k] == '\n') {
            ++line;
            lineStart = k + 1;
        }
    // Editors do not show a byte-order mark, so it takes no column.
    if (lineStart == 0 && text.substr(0, 3) == "\xEF\xBB\xBF") lineStart = std::min<std::size_t>(3, at);
    std::size_t column = 1;
    for (std::size_t k = lineStart; k < at; ++k)
        if ((static_cast<unsigned char>(text[k]) & 0xC0) != 0x80) ++column;
    return "line " + std::to_string(line) + ", column " + std::to_string(column) + ": ";
}

}  // namespace

// ---- Provider ---------------------------------------------------------

namespace {

// The class's own rows, then those of each subclass in file order.
class SnapshotCursor : public InstanceCursor {
public:
    explicit SnapshotCursor(std::shared_ptr<const ClassData> data) : data_(std::move(data)), table_(data_.get()) {}
    std::optional<Object> next() override {
        while (row_ >= table_->rows) {
            if (part_ >= data_->parts.size()) return std::nullopt;
            table_ = data_->parts[part_++].get();
            row_ = 0;
        }
        return table_->object(row_++);
    }

private:
    std::shared_ptr<const ClassData> data_;
    const ClassData* table_;
    std::size_t part_ = 0, row_ = 0;
};

}  // namespace

SnapshotProvider::SnapshotProvider(std::string computer, std::string captured, std::vector<Class> classes)
    : computer_(std::move(computer)), captured_(std::move(captured)), classes_(std::move(classes)) {
    for (std::size_t k = 0; k < classes_.size(); ++k) index_.emplace(ToLowerAscii(classes_[k].name), k);
}

SnapshotProvider::~SnapshotProvider() = default;

const SnapshotProvider::Class* SnapshotProvider::find(std::string_view className) const {
    auto it = index_.find(ToLowerAscii(className));
    return it == index_.end() ? nullptr : &classes_[it->second];
}

std::unique_ptr<InstanceCursor> SnapshotProvider::enumerate(std::string_view className) {
    const Class* c = find(className);
    if (!c) throw MakeError(WBEM_E_INVALID_CLASS, "SWbemObjectSet");
    return std::make_unique<SnapshotCursor>(c->data);
}

std::vector<std::string> SnapshotProvider::classNames() const {
    std::vector<std::string> names;
    names.reserve(classes_.size());
    for (const auto& c : classes_) names.push_back(c.name);
    return names;
}

SchemaPtr SnapshotProvider::schemaOf(std::string_view className) const {
    const Class* c = find(className);
    return c ? c->data->schema : nullptr;
}

std::size_t SnapshotProvider::instanceCount(std::string_view className) const {
    const Class* c = find(className);
    if (!c) return 0;
    std::size_t n = c->data->rows;
    for (const auto& p : c->data->parts) n += p->rows;
    return n;
}

// ---- Loading ----------------------------------------------------------

std::shared_ptr<SnapshotProvider> ParseSnapshot(std::string_view text, const std::string& path) {
    // The fast reader first. Whatever it does not take whole (broken JSON, or
    // a file the snapshot rules refuse) is read again by nlohmann's parser,
    // whose positions the messages give. Positions serve nothing else, so
    // here the mark stays at the end, where finding one costs nothing.
    try {
        const char* end = text.data() + text.size();
        SnapshotSax sax(text, &end);
        if (json::Read(text, sax))
            return std::make_shared<SnapshotProvider>(std::move(sax.computer), std::move(sax.captured),
                                                      sax.takeClasses());
    } catch (const LoadError&) {
    } catch (const std::exception&) {
    }
    const char* mark = text.data();
    SnapshotSax sax(text, &mark);
    try {
        Json::sax_parse(TrackingIterator(text.data(), &mark), TrackingIterator(text.data() + text.size(), &mark),
                        &sax);
    } catch (const LoadError& e) {
        throw kestrane::FileError(path, Where(text, e.at) + snapshot_detail::ValidUtf8(e.what));
    } catch (const std::bad_alloc&) {
        throw kestrane::FileError(path, "not enough memory to load it");
    } catch (const std::exception& e) {
        // Conversions inside the parser should not fail; if one does, the
        // file is still reported rather than the program brought down.
        throw kestrane::FileError(path, e.what());
    }
    return std::make_shared<SnapshotProvider>(std::move(sax.computer), std::move(sax.captured), sax.takeClasses());
}

std::shared_ptr<SnapshotProvider> LoadSnapshot(const std::string& path) {
    std::error_code ec;
    const std::filesystem::path file = kestrane::PathFromUtf8(path);
    if (std::filesystem::is_directory(file, ec)) throw kestrane::FileError(path, "is a directory, not a snapshot file");
    std::ifstream in(file, std::ios::binary);
    if (!in) throw kestrane::FileError(path, "cannot be opened for reading");
    std::string text;
    try {
        // One read of the known size: growing the string piecemeal took
        // longer than parsing it.
        const auto size = std::filesystem::file_size(file, ec);
        if (!ec) {
            text.resize(static_cast<std::size_t>(size));
            in.read(text.data(), static_cast<std::streamsize>(text.size()));
            text.resize(static_cast<std::size_t>(in.gcount()));
        }
        // Whatever follows (a file still growing, or one without a size).
        if (in.good()) text.append(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    } catch (const std::bad_alloc&) {
        throw kestrane::FileError(path, "is too large to load");
    } catch (const std::exception&) {
        throw kestrane::FileError(path, "cannot be read");
    }
    if (in.bad()) throw kestrane::FileError(path, "cannot be read");
    return ParseSnapshot(text, path);
}

}  // namespace wmi
