#include "wmi/remote_protocol.h"

#include <nlohmann/json.hpp>

#include "wmi/snapshot/snapshot_detail.h"

namespace wmi::remote {

namespace sd = snapshot_detail;
using Json = nlohmann::ordered_json;

namespace {

constexpr std::size_t kMaxDescription = 4096;
constexpr std::size_t kMaxReasons = 16;

Json ParseLine(std::string_view line) {
    Json j = Json::parse(line, nullptr, false);
    if (j.is_discarded()) throw ProtocolError("a line is not JSON");
    if (!j.is_object()) throw ProtocolError("a line is not a JSON object");
    return j;
}

const Json* Member(const Json& j, const char* name) {
    auto it = j.find(name);
    return it == j.end() ? nullptr : &*it;
}

std::uint64_t IdOf(const Json& j) {
    const Json* id = Member(j, "id");
    if (!id || !id->is_number_unsigned()) throw ProtocolError("a line has no request id");
    return id->get<std::uint64_t>();
}

// Remote text shown to the user: well-formed and of a sensible length.
std::string Bounded(const Json& v) {
    if (!v.is_string()) return {};
    std::string s = sd::ValidUtf8(v.get_ref<const std::string&>());
    if (s.size() > kMaxDescription) {
        std::size_t cut = kMaxDescription;
        while (cut > 0 && (static_cast<unsigned char>(s[cut]) & 0xC0) == 0x80) --cut;
        s.resize(cut);
        s += "...";
    }
    return s;
}

Error ErrorOf(const Json& e) {
    if (!e.is_object()) throw ProtocolError("an error line holds no error object");
    const Json* number = Member(e, "number");
    std::int64_t n = 0;
    if (number && number->is_number_integer()) n = number->get<std::int64_t>();
    if (!number || !number->is_number_integer() || n < INT32_MIN || n > static_cast<std::int64_t>(UINT32_MAX))
        throw ProtocolError("an error line has no valid number");
    const Json* source = Member(e, "source");
    const Json* description = Member(e, "description");
    return Error(static_cast<std::uint32_t>(n), source ? Bounded(*source) : std::string(),
                 description ? Bounded(*description) : std::string());
}

std::string Dump(const Json& j) { return j.dump(-1, ' ', false, Json::error_handler_t::replace); }

SchemaPtr SchemaOf(const Json& j) {
    const Json* cls = Member(j, "class");
    const Json* props = Member(j, "properties");
    if (!cls || !cls->is_string() || !sd::IsIdentifier(cls->get_ref<const std::string&>()))
        throw ProtocolError("a property list names no valid class");
    if (!props || !props->is_array()) throw ProtocolError("a property list is not an array");
    std::vector<PropertyDecl> decls;
    decls.reserve(props->size());
    for (const Json& p : *props) {
        const Json* name = p.is_object() ? Member(p, "name") : nullptr;
        const Json* type = p.is_object() ? Member(p, "cimtype") : nullptr;
        const Json* array = p.is_object() ? Member(p, "array") : nullptr;
        const Json* origin = p.is_object() ? Member(p, "origin") : nullptr;
        if (!name || !name->is_string() || !sd::IsIdentifier(name->get_ref<const std::string&>()))
            throw ProtocolError("a property has no valid name");
        if (!type || !type->is_number_integer() || type->get<std::int64_t>() > 1000 ||
            !IsKnownCimType(static_cast<int>(type->get<std::int64_t>())))
            throw ProtocolError("property " + name->get<std::string>() + " has no known CIM type");
        if (!array || !array->is_boolean()) throw ProtocolError("property " + name->get<std::string>() + " lacks its array flag");
        if (origin && !origin->is_string()) throw ProtocolError("property " + name->get<std::string>() + " has a bad origin");
        decls.push_back({name->get<std::string>(), static_cast<int>(type->get<std::int64_t>()), array->get<bool>(),
                         origin ? origin->get<std::string>() : std::string()});
    }
    auto schema = std::make_shared<const ClassSchema>(cls->get<std::string>(), std::move(decls));
    for (std::size_t k = 0; k < schema->size(); ++k)
        if (schema->indexOf(schema->properties()[k].name) != static_cast<int>(k))
            throw ProtocolError("property " + schema->properties()[k].name + " is declared twice");
    return schema;
}

}  // namespace

std::string HelloRequestLine(std::string_view version) {
    Json j;
    j["hello"] = "kestrane";
    j["protocol"] = kProtocolVersion;
    j["version"] = version;
    return Dump(j) + '\n';
}

std::string ClassRequestLine(std::uint64_t id, std::string_view className) {
    Json j;
    j["id"] = id;
    j["class"] = className;
    return Dump(j) + '\n';
}

Request ParseRequest(std::string_view line) {
    if (line.size() > kMaxRequestLine) throw ProtocolError("a request is too long");
    Json j = ParseLine(line);
    Request r;
    if (const Json* hello = Member(j, "hello")) {
        const Json* protocol = Member(j, "protocol");
        if (!hello->is_string() || *hello != "kestrane" || !protocol || !protocol->is_number_integer())
            throw ProtocolError("a hello is malformed");
        r.kind = Request::Hello;
        const std::int64_t p = protocol->get<std::int64_t>();
        r.protocol = p < 0 || p > 1000000 ? -1 : static_cast<int>(p);
        if (const Json* v = Member(j, "version")) r.version = Bounded(*v);
        return r;
    }
    const Json* cls = Member(j, "class");
    if (!cls) throw ProtocolError("a request names no class");
    r.kind = Request::Class;
    r.id = IdOf(j);
    if (!cls->is_string()) throw ProtocolError("a request's class is not a text");
    r.className = cls->get<std::string>();
    return r;
}

std::string HelloAnswerLine(std::string_view version, std::string_view computer) {
    std::string out = "{\"hello\": \"kestrane\", \"protocol\": " + std::to_string(kProtocolVersion) + ", \"version\": ";
    sd::AppendJsonString(out, version);
    out += ", \"computer\": ";
    sd::AppendJsonString(out, computer);
    out += "}\n";
    return out;
}

void AppendPropertiesLine(std::string& out, std::uint64_t id, const ClassSchema& schema) {
    out += "{\"id\": " + std::to_string(id) + ", \"class\": ";
    sd::AppendJsonString(out, schema.className());
    out += ", \"properties\": [";
    bool first = true;
    for (const auto& d : schema.properties()) {
        out += first ? "{\"name\": " : ", {\"name\": ";
        first = false;
        sd::AppendJsonString(out, d.name);
        out += ", \"cimtype\": " + std::to_string(d.cimType) + ", \"array\": " + (d.isArray ? "true" : "false") +
               ", \"origin\": ";
        sd::AppendJsonString(out, d.origin);
        out += '}';
    }
    out += "]}\n";
}

std::string AppendInstanceLine(std::string& out, std::uint64_t id, const Object& obj) {
    const std::size_t start = out.size();
    out += "{\"id\": " + std::to_string(id) + ", \"instance\": {";
    bool first = true;
    const auto& decls = obj.schema().properties();
    const auto& values = obj.values();
    for (std::size_t k = 0; k < values.size(); ++k) {
        if (values[k].isNull()) continue;  // an absent member is Null
        if (!first) out += ", ";
        first = false;
        sd::AppendJsonString(out, decls[k].name);
        out += ": ";
        std::string why = sd::AppendJsonValue(out, values[k], decls[k]);
        if (!why.empty()) {
            out.resize(start);
            return "property " + decls[k].name + ": " + why;
        }
    }
    out += "}}\n";
    return {};
}

void AppendEndLine(std::string& out, std::uint64_t id, std::uint64_t count, const std::vector<std::string>& reasons) {
    out += "{\"id\": " + std::to_string(id) + ", \"end\": " + std::to_string(count);
    if (!reasons.empty()) {
        out += ", \"reasons\": [";
        for (std::size_t i = 0; i < reasons.size(); ++i) {
            if (i) out += ", ";
            sd::AppendJsonString(out, reasons[i]);
        }
        out += ']';
    }
    out += "}\n";
}

void AppendErrorLine(std::string& out, std::optional<std::uint64_t> id, const Error& e) {
    out += '{';
    if (id) out += "\"id\": " + std::to_string(*id) + ", ";
    out += "\"error\": {\"number\": " + std::to_string(e.number()) + ", \"source\": ";
    sd::AppendJsonString(out, e.source());
    out += ", \"description\": ";
    sd::AppendJsonString(out, e.description());
    out += "}}\n";
}

Hello ParseHello(std::string_view line) {
    if (line.size() > kMaxRequestLine) throw ProtocolError("the greeting is too long");
    Json j = ParseLine(line);
    if (const Json* e = Member(j, "error")) throw ErrorOf(*e);
    const Json* hello = Member(j, "hello");
    const Json* protocol = Member(j, "protocol");
    if (!hello || *hello != "kestrane" || !protocol || !protocol->is_number_integer())
        throw ProtocolError("the greeting is not Kestrane's");
    Hello h;
    const std::int64_t p = protocol->get<std::int64_t>();
    h.protocol = p < 0 || p > 1000000 ? -1 : static_cast<int>(p);
    if (const Json* v = Member(j, "version")) h.version = Bounded(*v);
    if (const Json* c = Member(j, "computer")) h.computer = Bounded(*c);
    return h;
}

AnswerLine ParseAnswerLine(std::string_view line) {
    if (line.size() > kMaxAnswerLine) throw ProtocolError("a line is too long");
    AnswerLine a;
    a.json = ParseLine(line);
    a.id = IdOf(a.json);
    a.last = a.json.contains("end") || a.json.contains("error");
    return a;
}

std::optional<Object> AnswerReader::feed(const AnswerLine& line) {
    if (done_) throw ProtocolError("a line follows the end of an answer");
    if (line.id != id_) throw ProtocolError("an answer arrived out of order");
    const Json& j = line.json;
    if (const Json* e = Member(j, "error")) throw ErrorOf(*e);
    if (const Json* inst = Member(j, "instance")) {
        if (!schema_) throw ProtocolError("an instance arrived before its property list");
        if (!inst->is_object()) throw ProtocolError("an instance is not an object");
        std::vector<Value> values(schema_->size());
        std::vector<bool> given(schema_->size(), false);
        for (auto it = inst->begin(); it != inst->end(); ++it) {
            const int k = schema_->indexOf(it.key());
            if (k < 0) throw ProtocolError("an instance has the undeclared property " + sd::ValidUtf8(it.key()));
            if (given[static_cast<std::size_t>(k)])
                throw ProtocolError("an instance gives property " + it.key() + " twice");
            given[static_cast<std::size_t>(k)] = true;
            const PropertyDecl& d = schema_->properties()[static_cast<std::size_t>(k)];
            std::string why = sd::ValueFromJson(it.value(), d, values[static_cast<std::size_t>(k)]);
            if (!why.empty()) throw ProtocolError("property " + d.name + ": " + why);
        }
        ++count_;
        return Object(schema_, std::move(values));
    }
    if (Member(j, "properties")) {
        schema_ = SchemaOf(j);
        return std::nullopt;
    }
    if (const Json* end = Member(j, "end")) {
        if (!end->is_number_unsigned() || end->get<std::uint64_t>() != count_)
            throw ProtocolError("an answer ended with a count other than the instances sent");
        // Reasons are told to the user only: a few, each of a sensible length.
        if (const Json* why = Member(j, "reasons"); why && why->is_array())
            for (const Json& r : *why)
                if (r.is_string() && reasons_.size() < kMaxReasons) reasons_.push_back(Bounded(r));
        done_ = true;
        return std::nullopt;
    }
    throw ProtocolError("a line of an answer is of no known kind");
}

}  // namespace wmi::remote
