#pragma once

#include <map>

#include "wmi/object.h"
#include "wmi/provider.h"
#include "wmi/services.h"

namespace kestrane::testing {

// A computer made of classes built in the test; a class may be set to fail
// at a given instance. Keeps the names it was asked to enumerate.
class FakeComputer : public wmi::Provider {
public:
    std::vector<std::string> opened;

    struct Class {
        wmi::SchemaPtr schema;
        std::vector<wmi::Object> objects;
        long failAt = -1;  // throw before delivering this 0-based instance
        std::uint32_t failWith = wmi::WBEM_E_FAILED;
    };

    wmi::SchemaPtr define(const std::string& name, std::vector<wmi::PropertyDecl> props) {
        auto schema = std::make_shared<wmi::ClassSchema>(name, std::move(props));
        classes_[wmi::ToLowerAscii(name)].schema = schema;
        return schema;
    }

    void add(const std::string& name, std::vector<std::pair<std::string, wmi::Value>> values) {
        Class& c = classes_.at(wmi::ToLowerAscii(name));
        wmi::InstanceBuilder b(c.schema);
        for (auto& [k, v] : values) b.set(k, v);
        c.objects.push_back(b.build());
    }

    Class& cls(const std::string& name) { return classes_.at(wmi::ToLowerAscii(name)); }

    std::unique_ptr<wmi::InstanceCursor> enumerate(std::string_view className) override {
        opened.emplace_back(className);
        auto it = classes_.find(wmi::ToLowerAscii(className));
        if (it == classes_.end()) throw wmi::MakeError(wmi::WBEM_E_INVALID_CLASS, "SWbemObjectSet");
        struct Cursor : wmi::InstanceCursor {
            const Class* c;
            std::size_t i = 0;
            std::optional<wmi::Object> next() override {
                if (c->failAt >= 0 && static_cast<long>(i) == c->failAt)
                    throw wmi::MakeError(c->failWith, "SWbemObjectSet");
                if (i >= c->objects.size()) return std::nullopt;
                return c->objects[i++];
            }
        };
        auto cur = std::make_unique<Cursor>();
        cur->c = &it->second;
        return cur;
    }

private:
    std::map<std::string, Class> classes_;
};

inline wmi::PropertyDecl Decl(const char* name, int type, bool array = false, const char* origin = "CIM_X") {
    return {name, type, array, origin};
}

}  // namespace kestrane::testing
