// The WMI object model: class schemas, objects, property sets and properties.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "wmi/error.h"
#include "wmi/value.h"

namespace wmi {

struct PropertyDecl {
    std::string name;
    int cimType = CIM_STRING;
    bool isArray = false;
    std::string origin;  // the declaring class
};

// Every instance of a class carries the whole property list in this order.
class ClassSchema {
public:
    ClassSchema(std::string className, std::vector<PropertyDecl> props);

    const std::string& className() const { return className_; }
    const std::vector<PropertyDecl>& properties() const { return props_; }
    std::size_t size() const { return props_.size(); }
    // Index of a property by case-insensitive name, or -1.
    int indexOf(std::string_view name) const;

private:
    // Hashes a text as its view, so that a view finds a stored name.
    struct ViewHash {
        using is_transparent = void;
        std::size_t operator()(std::string_view s) const { return std::hash<std::string_view>()(s); }
    };
    using Index = std::unordered_map<std::string, int, ViewHash, std::equal_to<>>;
    std::string className_;
    std::vector<PropertyDecl> props_;
    Index index_;  // lower-cased name -> index
    // The names found by index_ as declared: nearly every caller spells a
    // name so, and is answered without a lower-cased copy.
    Index declared_;
};

using SchemaPtr = std::shared_ptr<const ClassSchema>;

// A view of one property of one object; valid while the object lives.
class Property {
public:
    Property(const PropertyDecl& decl, const Value& value) : decl_(&decl), value_(&value) {}

    const std::string& name() const { return decl_->name; }
    const Value& value() const { return *value_; }
    int cimType() const { return decl_->cimType; }
    bool isArray() const { return decl_->isArray; }
    const std::string& origin() const { return decl_->origin; }

private:
    const PropertyDecl* decl_;
    const Value* value_;
};

class Object;

class PropertySet {
public:
    explicit PropertySet(const Object& obj) : obj_(&obj) {}

    class iterator {
    public:
        iterator(const Object* o, std::size_t i) : obj_(o), i_(i) {}
        Property operator*() const;
        iterator& operator++() { ++i_; return *this; }
        bool operator!=(const iterator& other) const { return i_ != other.i_; }
        bool operator==(const iterator& other) const { return i_ == other.i_; }

    private:
        const Object* obj_;
        std::size_t i_;
    };

    iterator begin() const { return {obj_, 0}; }
    iterator end() const;
    std::size_t Count() const;
    // The property of that name (case-insensitive); 0x80041002 if absent.
    Property Item(std::string_view name) const;

private:
    const Object* obj_;
};

class Object {
public:
    Object(SchemaPtr schema, std::vector<Value> values);

    const std::string& className() const { return schema_->className(); }
    const ClassSchema& schema() const { return *schema_; }
    const SchemaPtr& schemaPtr() const { return schema_; }
    const std::vector<Value>& values() const { return values_; }

    PropertySet Properties_() const { return PropertySet(*this); }
    // A property's value read by name; 0x80041002 if the class lacks it.
    const Value& Get(std::string_view name) const;

private:
    friend class PropertySet;
    SchemaPtr schema_;
    std::vector<Value> values_;
};

// Builds instances of one class by property name, filling Null elsewhere.
class InstanceBuilder {
public:
    explicit InstanceBuilder(SchemaPtr schema);
    // Sets a property by exact name; throws std::logic_error on an unknown
    // name, which is a programming error in a collector.
    InstanceBuilder& set(std::string_view name, Value v);
    Object build();

private:
    SchemaPtr schema_;
    std::vector<Value> values_;
};

std::string ToLowerAscii(std::string_view s);
bool EqualsNoCase(std::string_view a, std::string_view b);

}  // namespace wmi
