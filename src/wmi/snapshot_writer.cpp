// Recording snapshots. Every value is checked against its declared type with
// the loader's rules, so whatever is written can be loaded again.

#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <unordered_map>
#include <unordered_set>

#include <nlohmann/json.hpp>

#include "core/file_error.h"
#include "wmi/snapshot.h"
#include "wmi/snapshot_detail.h"

namespace wmi {

namespace fs = std::filesystem;
namespace sd = snapshot_detail;

namespace {

void AppendString(std::string& out, std::string_view s) { sd::AppendJsonString(out, s); }

// Appends one scalar; returns what is wrong, or "" when it fits the type.
std::string AppendScalar(std::string& out, const Value& v, int type) {
    const char* name = sd::CimTypeName(type);
    auto cannot = [&] {
        std::string shown = v.isString() ? "\"" + v.asString() + "\"" : ValueText(v);
        if (shown.size() > 60) shown = shown.substr(0, 57) + "...";
        return "value " + shown + " cannot be recorded as " + name;
    };
    if (sd::IsInteger(type)) {
        std::optional<sd::Integer> n;
        if (v.isInt()) {
            const std::int64_t i = v.asInt();
            n = sd::Integer{i < 0, i < 0 ? static_cast<std::uint64_t>(-(i + 1)) + 1 : static_cast<std::uint64_t>(i)};
        } else if (v.isString() && sd::Is64Bit(type)) {
            n = sd::ParseDecimal(v.asString());
        }
        if (!n) return cannot();
        if (!n->fits(type)) return n->text() + " is out of range for " + name + " (" + sd::RangeText(type) + ")";
        // 64-bit values go as decimal strings: JSON readers elsewhere lose
        // precision beyond 2^53.
        if (sd::Is64Bit(type))
            out += "\"" + n->text() + "\"";
        else
            out += n->text();
        return {};
    }
    switch (type) {
    case CIM_REAL32:
    case CIM_REAL64: {
        double x;
        if (v.isDouble())
            x = v.asDouble();
        else if (v.isInt())
            x = static_cast<double>(v.asInt());
        else
            return cannot();
        if (!std::isfinite(x)) return "a non-finite number cannot be recorded";
        if (type == CIM_REAL32 && std::fabs(x) > 3.4028234663852886e38) return cannot();
        if (v.isInt())
            out += std::to_string(v.asInt());
        else
            out += nlohmann::json(x).dump();
        return {};
    }
    case CIM_BOOLEAN:
        if (!v.isBool()) return cannot();
        out += v.asBool() ? "true" : "false";
        return {};
    default:
        break;
    }
    if (!v.isString()) return cannot();
    if (type == CIM_DATETIME && !IsDmtfDatetime(v.asString())) return cannot() + " (not a DMTF datetime)";
    if (type == CIM_CHAR16 && !sd::IsChar16(v.asString())) return cannot() + " (not a single character)";
    AppendString(out, v.asString());
    return {};
}

}  // namespace

void sd::AppendJsonString(std::string& out, std::string_view s) {
    out += nlohmann::json(s).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::string sd::AppendJsonValue(std::string& out, const Value& v, const PropertyDecl& decl) {
    if (!decl.isArray) {
        if (v.isArray()) return "an array cannot be recorded for a property that is not an array";
        return AppendScalar(out, v, decl.cimType);
    }
    if (!v.isArray()) return "a single value cannot be recorded for an array property";
    out += '[';
    const auto& a = v.asArray();
    for (std::size_t k = 0; k < a.size(); ++k) {
        if (k) out += ", ";
        std::string why = a[k].isNull()    ? "Null cannot be an array element"
                          : a[k].isArray() ? "arrays cannot be nested"
                                           : AppendScalar(out, a[k], decl.cimType);
        if (!why.empty()) return "element " + std::to_string(k) + ": " + why;
    }
    out += ']';
    return {};
}

namespace {

std::string AppendValue(std::string& out, const Value& v, const PropertyDecl& decl) {
    return sd::AppendJsonValue(out, v, decl);
}

std::string TempName(const std::string& path) {
    std::random_device rd;
    const auto seed = static_cast<std::uint64_t>(rd()) ^
                      static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    char buf[24];
    std::snprintf(buf, sizeof buf, ".%012llx.tmp", static_cast<unsigned long long>(seed & 0xFFFFFFFFFFFFull));
    return path + buf;
}

// Hands out copies of instances held by the caller, one at a time.
class RefCursor : public InstanceCursor {
public:
    explicit RefCursor(const std::vector<Object>& objects) : objects_(objects) {}
    std::optional<Object> next() override {
        if (i_ >= objects_.size()) return std::nullopt;
        return objects_[i_++];
    }

private:
    const std::vector<Object>& objects_;
    std::size_t i_ = 0;
};

}  // namespace

struct SnapshotWriter::Out {
    std::ofstream file;
    bool firstClass = true;
};

SnapshotWriter::SnapshotWriter(std::string path, const std::string& computer, const std::string& captured)
    : path_(std::move(path)), tempPath_(TempName(path_)) {
    if (!captured.empty() && !IsDmtfDatetime(captured))
        throw kestrane::FileError(path_, "the capture time \"" + captured + "\" is not a DMTF datetime");
    out_ = std::make_unique<Out>();
    out_->file.open(tempPath_, std::ios::binary | std::ios::trunc);
    if (!out_->file) {
        out_.reset();
        throw kestrane::FileError(path_, "cannot be written (cannot create " + tempPath_ + ")");
    }
    std::string head = "{\n  \"format\": \"kestrane-snapshot\",\n  \"version\": 1,\n  \"computer\": ";
    AppendString(head, computer);
    head += ",\n  \"captured\": ";
    AppendString(head, captured);
    head += ",\n  \"classes\": {";
    out_->file << head;
}

SnapshotWriter::~SnapshotWriter() {
    if (out_ && !committed_) {
        out_->file.close();
        std::error_code ec;
        fs::remove(tempPath_, ec);
    }
}

void SnapshotWriter::fail(const std::string& what) {
    if (out_) {
        out_->file.close();
        std::error_code ec;
        fs::remove(tempPath_, ec);
        out_.reset();
    }
    throw kestrane::FileError(path_, sd::ValidUtf8(what));
}

void SnapshotWriter::addClass(std::string_view name, const SchemaPtr& schema, InstanceCursor& instances) {
    if (!out_) throw kestrane::FileError(path_, "cannot be written: an earlier step failed");
    std::string className(name);
    if (!sd::IsIdentifier(className)) fail("class name \"" + className + "\" is not a valid name");
    const std::string lower = ToLowerAscii(className);
    for (const auto& n : lowerNames_)
        if (n == lower) fail("class " + className + " is recorded twice");

    std::vector<PropertyDecl> decls;
    std::unordered_map<std::string, std::size_t> index;  // lower-cased name -> decls
    auto declare = [&](const PropertyDecl& d) -> std::size_t {
        if (!sd::IsIdentifier(d.name)) fail("class " + className + ": property name \"" + d.name + "\" is not valid");
        if (!IsKnownCimType(d.cimType))
            fail("class " + className + ", property " + d.name + ": unknown CIM type " + std::to_string(d.cimType));
        auto [it, inserted] = index.emplace(ToLowerAscii(d.name), decls.size());
        if (inserted) {
            decls.push_back(d);
        } else {
            const PropertyDecl& old = decls[it->second];
            if (old.cimType != d.cimType || old.isArray != d.isArray)
                fail("class " + className + ", property " + d.name + ": declared with two different types");
        }
        return it->second;
    };
    if (schema)
        for (const auto& d : schema->properties()) {
            if (index.count(ToLowerAscii(d.name)))
                fail("class " + className + ", property " + d.name + ": declared twice");
            declare(d);
        }

    // Instances are gathered as text first: the declarations they add go
    // before them in the file, and a class that fails half-way leaves no trace.
    std::string body;
    const ClassSchema* lastSchema = nullptr;
    std::vector<std::size_t> map;  // instance property -> decls
    std::size_t count = 0;
    while (auto obj = instances.next()) {
        if (count == 0 && EqualsNoCase(obj->className(), className) && sd::IsIdentifier(obj->className()))
            className = obj->className();
        if (&obj->schema() != lastSchema) {
            lastSchema = &obj->schema();
            map.clear();
            for (const auto& d : obj->schema().properties()) map.push_back(declare(d));
        }
        body += count ? ",\n        {" : "\n        {";
        bool first = true;
        const auto& values = obj->values();
        for (std::size_t k = 0; k < values.size(); ++k) {
            if (values[k].isNull()) continue;  // an absent member is Null
            const PropertyDecl& d = decls[map[k]];
            body += first ? "" : ", ";
            first = false;
            AppendString(body, d.name);
            body += ": ";
            std::string why = AppendValue(body, values[k], d);
            if (!why.empty()) {
                std::string where = "class ";
                where.append(className).append(", instances[").append(std::to_string(count));
                where.append("], property ").append(d.name).append(": ").append(why);
                fail(where);
            }
        }
        body += '}';
        ++count;
    }

    std::string text = out_->firstClass ? "\n    " : ",\n    ";
    AppendString(text, className);
    text += ": {\n      \"properties\": [";
    for (std::size_t k = 0; k < decls.size(); ++k) {
        text += k ? ",\n        {\"name\": " : "\n        {\"name\": ";
        AppendString(text, decls[k].name);
        text += ", \"cimtype\": " + std::to_string(decls[k].cimType) +
                ", \"array\": " + (decls[k].isArray ? "true" : "false") + ", \"origin\": ";
        AppendString(text, decls[k].origin);
        text += '}';
    }
    text += decls.empty() ? "],\n      \"instances\": [" : "\n      ],\n      \"instances\": [";
    text += body;
    text += count ? "\n      ]\n    }" : "]\n    }";
    out_->file << text;
    if (!out_->file) fail("cannot be written (disk full or device error)");
    out_->firstClass = false;
    lowerNames_.push_back(ToLowerAscii(className));
}

void SnapshotWriter::commit() {
    if (!out_) throw kestrane::FileError(path_, "cannot be written: an earlier step failed");
    if (committed_) return;
    out_->file << (out_->firstClass ? "}\n}\n" : "\n  }\n}\n");
    out_->file.flush();
    if (!out_->file) fail("cannot be written (disk full or device error)");
    out_->file.close();
    if (out_->file.fail()) fail("cannot be written (closing failed)");
    std::error_code ec;
    fs::rename(tempPath_, path_, ec);
    if (ec) fail("cannot be written: " + ec.message());
    committed_ = true;
}

void WriteSnapshot(const std::string& path, const SnapshotData& data) {
    SnapshotWriter w(path, data.computer, data.captured);
    for (const auto& c : data.classes) {
        RefCursor cursor(c.instances);
        w.addClass(c.name, c.schema, cursor);
    }
    w.commit();
}

CaptureResult CaptureSnapshot(const std::string& path, Provider& provider, const std::vector<std::string>& classNames,
                              const std::string& computer, const std::string& captured) {
    CaptureResult result;
    SnapshotWriter w(path, computer, captured);
    // A snapshot knows its empty classes' declarations; a live provider
    // tells them only through instances.
    const auto* snapshot = dynamic_cast<const SnapshotProvider*>(&provider);
    std::unordered_set<std::string> seen;
    for (const auto& name : classNames) {
        if (!seen.insert(ToLowerAscii(name)).second) continue;
        try {
            auto cursor = provider.enumerate(name);
            if (!cursor) throw MakeError(WBEM_E_INVALID_CLASS, "SWbemObjectSet");
            w.addClass(name, snapshot ? snapshot->schemaOf(name) : nullptr, *cursor);
            result.recorded.push_back(name);
        } catch (const Error& e) {
            if (e.unsignedNumber() != WBEM_E_INVALID_CLASS) throw;
            result.skipped.push_back(name);
        }
    }
    w.commit();
    return result;
}

}  // namespace wmi
