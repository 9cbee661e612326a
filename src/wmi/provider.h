// What a computer's data source offers the object model: the instances of a
// class, produced lazily.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "wmi/object.h"

namespace wmi {

class InstanceCursor {
public:
    virtual ~InstanceCursor() = default;
    // The next instance, or nothing at the end. May throw wmi::Error.
    virtual std::optional<Object> next() = 0;
};

class Provider {
public:
    virtual ~Provider() = default;
    // Opens the instances of a class whose name matches case-insensitively.
    // Called at the first enumeration of a query's result, not at the query:
    // a class the computer lacks throws 0x80041010 here.
    virtual std::unique_ptr<InstanceCursor> enumerate(std::string_view className) = 0;
    // Classes about to be enumerated one after the other: a remote provider
    // may ask for them all at once. Enumeration stays the only way to read.
    virtual void prefetch(const std::vector<std::string>& /*classNames*/) {}
    // The same as enumerate, for a reader that looks at no property but
    // `properties` (named as declared): the others may then be Null, which
    // spares a provider what only they cost (a sampling pause).
    virtual std::unique_ptr<InstanceCursor> enumerate(std::string_view className,
                                                      const std::vector<std::string>& /*properties*/) {
        return enumerate(className);
    }
    // The computer's own name where the provider learnt it, or "".
    virtual std::string computerName() const { return {}; }
    // Why some of a class's values are missing on this computer, as short
    // sentences ("systemd is not running: service states are unknown"): a
    // source that needs root, is absent or whose service is not running.
    // Asked after the class was enumerated; empty when nothing is known to be
    // missing. Reasons are told beside a listing and never change its rows.
    virtual std::vector<std::string> reasons(std::string_view /*className*/) { return {}; }
};

// A cursor over instances already in memory.
class VectorCursor : public InstanceCursor {
public:
    explicit VectorCursor(std::vector<Object> objects) : objects_(std::move(objects)) {}
    std::optional<Object> next() override {
        if (i_ >= objects_.size()) return std::nullopt;
        return std::move(objects_[i_++]);
    }

private:
    std::vector<Object> objects_;
    std::size_t i_ = 0;
};

// A provider that knows no class at all.
class EmptyProvider : public Provider {
public:
    std::unique_ptr<InstanceCursor> enumerate(std::string_view) override {
        throw MakeError(WBEM_E_INVALID_CLASS, "SWbemObjectSet");
    }
};

}  // namespace wmi
