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
#include "core/platform.h"
#include "wmi/snapshot/snapshot.h"
#include "wmi/snapshot/snapshot_detail.h"

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
    std::streamoff versionAt = 0;  // where the version digit stands
    bool needsVersion2 = false;
};

SnapshotWriter::SnapshotWriter(std::string path, const std::string& computer, const std::string& captured)
    : path_(std::move(path)), tempPath_(TempName(path_)) {
    if (!captured.empty() && !IsDmtfDatetime(captured))
        throw kestrane::FileError(path_, "the capture time \"" + captured + "\" is not a DMTF datetime");
    out_ = std::make_unique<Out>();
    out_->file.open(kestrane::PathFromUtf8(tempPath_), std::ios::binary | std::ios::trunc);
    if (!out_->file) {
        out_.reset();
        throw kestrane::FileError(path_, "cannot be written (cannot create " + tempPath_ + ")");
    }
    std::string head = "{\n  \"format\": \"kestrane-snapshot\",\n  \"version\": ";
    out_->versionAt = static_cast<std::streamoff>(head.size());
    head += "1,\n  \"computer\": ";
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
        fs::remove(kestrane::PathFromUtf8(tempPath_), ec);
    }
}

void SnapshotWriter::fail(const std::string& what) {
    if (out_) {
        out_->file.close();
        std::error_code ec;
        fs::remove(kestrane::PathFromUtf8(tempPath_), ec);
        out_.reset();
    }
    throw kestrane::FileError(path_, sd::ValidUtf8(what));
}

namespace {

// One class's recorded declarations and instance text: the queried class
// itself, or one of the subclasses whose instances the query delivered.
struct Table {
    std::string name;
    std::vector<PropertyDecl> decls;
    std::unordered_map<std::string, std::size_t> index;  // lower-cased name -> decls
    std::string body;
    std::size_t count = 0;
};

void AppendTable(std::string& text, const Table& t, const std::string& indent) {
    text += indent + "  \"properties\": [";
    for (std::size_t k = 0; k < t.decls.size(); ++k) {
        text += k ? ",\n" : "\n";
        text += indent + "    {\"name\": ";
        AppendString(text, t.decls[k].name);
        text += ", \"cimtype\": " + std::to_string(t.decls[k].cimType) +
                ", \"array\": " + (t.decls[k].isArray ? "true" : "false") + ", \"origin\": ";
        AppendString(text, t.decls[k].origin);
        text += '}';
    }
    text += t.decls.empty() ? "]" : "\n" + indent + "  ]";
}

void AppendInstances(std::string& text, const Table& t, const std::string& indent) {
    text += ",\n" + indent + "  \"instances\": [";
    text += t.body;
    text += t.count ? "\n" + indent + "  ]" : "]";
}

}  // namespace

void SnapshotWriter::addClass(std::string_view name, const SchemaPtr& schema, InstanceCursor& instances) {
    if (!out_) throw kestrane::FileError(path_, "cannot be written: an earlier step failed");
    std::string className(name);
    if (!sd::IsIdentifier(className)) fail("class name \"" + className + "\" is not a valid name");
    const std::string lower = ToLowerAscii(className);
    for (const auto& n : lowerNames_)
        if (n == lower) fail("class " + className + " is recorded twice");

    // tables[0] is the class itself; instances of other classes (a query of
    // an abstract class delivers its subclasses') keep their own schemas.
    std::vector<Table> tables(1);
    std::unordered_map<std::string, std::size_t> tableIndex;  // lower-cased subclass name -> tables
    auto label = [&](std::size_t t) {
        return t == 0 ? "class " + tables[0].name : "class " + tables[0].name + ", subclass " + tables[t].name;
    };
    auto declare = [&](std::size_t t, const PropertyDecl& d) -> std::size_t {
        Table& tab = tables[t];
        if (!sd::IsIdentifier(d.name)) fail(label(t) + ": property name \"" + d.name + "\" is not valid");
        if (!IsKnownCimType(d.cimType))
            fail(label(t) + ", property " + d.name + ": unknown CIM type " + std::to_string(d.cimType));
        auto [it, inserted] = tab.index.emplace(ToLowerAscii(d.name), tab.decls.size());
        if (inserted) {
            tab.decls.push_back(d);
        } else {
            const PropertyDecl& old = tab.decls[it->second];
            if (old.cimType != d.cimType || old.isArray != d.isArray)
                fail(label(t) + ", property " + d.name + ": declared with two different types");
        }
        return it->second;
    };
    tables[0].name = className;
    if (schema)
        for (const auto& d : schema->properties()) {
            if (tables[0].index.count(ToLowerAscii(d.name)))
                fail("class " + className + ", property " + d.name + ": declared twice");
            declare(0, d);
        }

    // Instances are gathered as text first: the declarations they add go
    // before them in the file, and a class that fails half-way leaves no trace.
    const ClassSchema* lastSchema = nullptr;
    std::size_t table = 0;
    std::vector<std::size_t> map;  // instance property -> decls
    bool first = true;
    while (auto obj = instances.next()) {
        if (&obj->schema() != lastSchema) {
            lastSchema = &obj->schema();
            const std::string& own = obj->className();
            if (EqualsNoCase(own, className) || !sd::IsIdentifier(own)) {
                table = 0;
                if (first && EqualsNoCase(own, className) && sd::IsIdentifier(own)) tables[0].name = className = own;
            } else {
                auto [it, inserted] = tableIndex.emplace(ToLowerAscii(own), tables.size());
                if (inserted) {
                    tables.emplace_back();
                    tables.back().name = own;
                }
                table = it->second;
            }
            map.clear();
            for (const auto& d : obj->schema().properties()) map.push_back(declare(table, d));
        }
        first = false;
        Table& tab = tables[table];
        const std::string indent = table ? "            " : "        ";
        tab.body += tab.count ? ",\n" + indent + "{" : "\n" + indent + "{";
        bool firstMember = true;
        const auto& values = obj->values();
        for (std::size_t k = 0; k < values.size(); ++k) {
            if (values[k].isNull()) continue;  // an absent member is Null
            const PropertyDecl& d = tab.decls[map[k]];
            tab.body += firstMember ? "" : ", ";
            firstMember = false;
            AppendString(tab.body, d.name);
            tab.body += ": ";
            std::string why = AppendValue(tab.body, values[k], d);
            if (!why.empty())
                fail(label(table) + ", instances[" + std::to_string(tab.count) + "], property " + d.name + ": " + why);
        }
        tab.body += '}';
        ++tab.count;
    }

    std::string text = out_->firstClass ? "\n    " : ",\n    ";
    AppendString(text, className);
    text += ": {\n";
    AppendTable(text, tables[0], "    ");
    if (tables.size() > 1) {
        // Subclasses exist from version 2 on; a file without them stays
        // readable by programs that know only version 1.
        out_->needsVersion2 = true;
        text += ",\n      \"subclasses\": {";
        for (std::size_t t = 1; t < tables.size(); ++t) {
            text += t > 1 ? ",\n        " : "\n        ";
            AppendString(text, tables[t].name);
            text += ": {\n";
            AppendTable(text, tables[t], "        ");
            AppendInstances(text, tables[t], "        ");
            text += "\n        }";
        }
        text += "\n      }";
    }
    AppendInstances(text, tables[0], "    ");
    text += "\n    }";
    out_->file << text;
    if (!out_->file) fail("cannot be written (disk full or device error)");
    out_->firstClass = false;
    lowerNames_.push_back(ToLowerAscii(className));
}

void SnapshotWriter::commit() {
    if (!out_) throw kestrane::FileError(path_, "cannot be written: an earlier step failed");
    if (committed_) return;
    out_->file << (out_->firstClass ? "}\n}\n" : "\n  }\n}\n");
    if (out_->needsVersion2) {
        out_->file.seekp(out_->versionAt);
        out_->file << '2';
    }
    out_->file.flush();
    if (!out_->file) fail("cannot be written (disk full or device error)");
    out_->file.close();
    if (out_->file.fail()) fail("cannot be written (closing failed)");
    std::error_code ec;
    fs::rename(kestrane::PathFromUtf8(tempPath_), kestrane::PathFromUtf8(path_), ec);
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
                              const std::string& computer, const std::string& captured,
                              const CaptureProgress& progress) {
    CaptureResult result;
    SnapshotWriter w(path, computer, captured);
    // A snapshot knows its empty classes' declarations; a live provider
    // tells them only through instances.
    const auto* snapshot = dynamic_cast<const SnapshotProvider*>(&provider);
    std::unordered_set<std::string> seen;
    for (std::size_t i = 0; i < classNames.size(); ++i) {
        const std::string& name = classNames[i];
        if (progress && !progress(i, classNames.size(), name)) {
            result.cancelled = true;
            return result;  // the writer discards its temporary file
        }
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
