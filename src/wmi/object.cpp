#include "wmi/object.h"

#include <stdexcept>

namespace wmi {

std::string ToLowerAscii(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

const char* StandardDescription(std::uint32_t number) {
    switch (number) {
    case WBEM_E_FAILED: return "Generic failure";
    case WBEM_E_NOT_FOUND: return "Not found";
    case WBEM_E_ACCESS_DENIED: return "Access denied";
    case WBEM_E_INVALID_PARAMETER: return "Invalid parameter";
    case WBEM_E_INVALID_NAMESPACE: return "Invalid namespace";
    case WBEM_E_INVALID_CLASS: return "Invalid class";
    case WBEM_E_PROVIDER_LOAD_FAILURE: return "Provider load failure";
    case WBEM_E_TRANSPORT_FAILURE: return "Transport failure";
    case WBEM_E_INVALID_QUERY: return "Invalid query";
    case WBEM_E_INVALID_QUERY_TYPE: return "Invalid query language";
    case E_ACCESSDENIED_WIN32: return "Access is denied.";
    case RPC_S_SERVER_UNAVAILABLE: return "The RPC server is unavailable.";
    case RPC_S_CALL_FAILED: return "The remote procedure call failed.";
    case CERT_E_UNTRUSTEDROOT:
        return "A certificate chain processed, but terminated in a root certificate which is not trusted by the "
               "trust provider.";
    default: return "";
    }
}

Error MakeError(std::uint32_t number, std::string source) {
    return Error(number, std::move(source), StandardDescription(number));
}

ClassSchema::ClassSchema(std::string className, std::vector<PropertyDecl> props)
    : className_(std::move(className)), props_(std::move(props)) {
    index_.reserve(props_.size());
    declared_.reserve(props_.size());
    for (std::size_t i = 0; i < props_.size(); ++i)
        if (index_.emplace(ToLowerAscii(props_[i].name), static_cast<int>(i)).second)
            declared_.emplace(props_[i].name, static_cast<int>(i));
}

int ClassSchema::indexOf(std::string_view name) const {
    if (auto it = declared_.find(name); it != declared_.end()) return it->second;
    char small[64];
    std::string large;
    std::string_view lower;
    if (name.size() <= sizeof small) {
        for (std::size_t i = 0; i < name.size(); ++i)
            small[i] = name[i] >= 'A' && name[i] <= 'Z' ? static_cast<char>(name[i] - 'A' + 'a') : name[i];
        lower = std::string_view(small, name.size());
    } else {
        large = ToLowerAscii(name);
        lower = large;
    }
    auto it = index_.find(lower);
    return it == index_.end() ? -1 : it->second;
}

Property PropertySet::iterator::operator*() const {
    return Property(obj_->schema_->properties()[i_], obj_->values_[i_]);
}

PropertySet::iterator PropertySet::end() const { return {obj_, obj_->schema_->size()}; }

std::size_t PropertySet::Count() const { return obj_->schema_->size(); }

Property PropertySet::Item(std::string_view name) const {
    int i = obj_->schema_->indexOf(name);
    if (i < 0) throw MakeError(WBEM_E_NOT_FOUND, "SWbemPropertySet");
    return Property(obj_->schema_->properties()[static_cast<std::size_t>(i)],
                    obj_->values_[static_cast<std::size_t>(i)]);
}

Object::Object(SchemaPtr schema, std::vector<Value> values)
    : schema_(std::move(schema)), values_(std::move(values)) {
    values_.resize(schema_->size());
}

const Value& Object::Get(std::string_view name) const {
    int i = schema_->indexOf(name);
    if (i < 0) throw MakeError(WBEM_E_NOT_FOUND, "SWbemObjectEx");
    return values_[static_cast<std::size_t>(i)];
}

InstanceBuilder::InstanceBuilder(SchemaPtr schema)
    : schema_(std::move(schema)), values_(schema_->size()) {}

InstanceBuilder& InstanceBuilder::set(std::string_view name, Value v) {
    int i = schema_->indexOf(name);
    if (i < 0 || schema_->properties()[static_cast<std::size_t>(i)].name != name)
        throw std::logic_error("class " + schema_->className() + " has no property " +
                               std::string(name));
    values_[static_cast<std::size_t>(i)] = std::move(v);
    return *this;
}

Object InstanceBuilder::build() {
    Object o(schema_, std::move(values_));
    values_.assign(schema_->size(), Value());
    return o;
}

}  // namespace wmi
