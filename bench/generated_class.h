// A class of many generated instances, held in memory, for listing benchmarks.
#pragma once

#include "wmi/object.h"
#include "wmi/provider.h"

namespace kestrane::bench {

class GeneratedClass : public wmi::Provider {
public:
    GeneratedClass(std::string className, int instances) : name_(std::move(className)) {
        schema_ = std::make_shared<wmi::ClassSchema>(
            name_, std::vector<wmi::PropertyDecl>{
                       {"Availability", wmi::CIM_UINT16, false, "CIM_LogicalDevice"},
                       {"Caption", wmi::CIM_STRING, false, "CIM_ManagedSystemElement"},
                       {"CreationClassName", wmi::CIM_STRING, false, "CIM_LogicalDevice"},
                       {"Description", wmi::CIM_STRING, false, "CIM_ManagedSystemElement"},
                       {"DeviceID", wmi::CIM_STRING, false, "CIM_LogicalDevice"},
                       {"InstallDate", wmi::CIM_DATETIME, false, "CIM_ManagedSystemElement"},
                       {"Name", wmi::CIM_STRING, false, "CIM_ManagedSystemElement"},
                       {"PowerManagementSupported", wmi::CIM_BOOLEAN, false, "CIM_LogicalDevice"},
                       {"Size", wmi::CIM_UINT64, false, "CIM_X"},
                       {"Status", wmi::CIM_STRING, false, "CIM_ManagedSystemElement"},
                   });
        objects_.reserve(static_cast<std::size_t>(instances));
        for (int i = 0; i < instances; ++i) {
            std::string n = "Device " + std::to_string(i);
            objects_.emplace_back(schema_, std::vector<wmi::Value>{
                                               wmi::Value(3), wmi::Value(n), wmi::Value(name_), wmi::Value(n),
                                               wmi::Value("DEV" + std::to_string(i)),
                                               wmi::Value("20241017143015.000000+060"), wmi::Value(n),
                                               wmi::Value(false), wmi::Value(std::to_string(1ull << 33)),
                                               wmi::Value("OK")});
        }
    }

    std::unique_ptr<wmi::InstanceCursor> enumerate(std::string_view) override {
        struct Cursor : wmi::InstanceCursor {
            const std::vector<wmi::Object>* objs;
            std::size_t i = 0;
            std::optional<wmi::Object> next() override {
                if (i >= objs->size()) return std::nullopt;
                return (*objs)[i++];
            }
        };
        auto c = std::make_unique<Cursor>();
        c->objs = &objects_;
        return c;
    }

private:
    std::string name_;
    wmi::SchemaPtr schema_;
    std::vector<wmi::Object> objects_;
};

}  // namespace kestrane::bench
