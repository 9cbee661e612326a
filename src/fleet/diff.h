// What differs between two computers, or one computer at two times: the
// instances of each class matched by their key properties, compared value by
// value as the listings show them. Needs no storage engine.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "listing/list_model.h"
#include "wmi/provider.h"

namespace kestrane::fleet {

struct PropertyChange {
    std::string name;
    std::string before;  // as the listings format it; "" for an added instance
    std::string after;   // "" for a removed instance
};

struct InstanceDiff {
    enum Kind { Added, Removed, Changed };
    Kind kind = Changed;
    std::string key;  // the key values as "Name=Spooler", or the instance's ordinal
    // Changed: each changed property. Added: every value it has; Removed:
    // every value it had (its old values, not nothing).
    std::vector<PropertyChange> properties;
};

struct ClassDiff {
    std::string className;
    std::vector<InstanceDiff> instances;
};

struct DiffOptions {
    std::vector<std::string> classes;  // empty: every class either side answers
    bool all = false;                  // also the values that change by themselves
};

// Properties that change by themselves (counters, free space, clocks, the
// volatile fields of processes and threads): left out of a diff unless asked.
bool IsVolatile(std::string_view className, std::string_view property);

// A value as the listings show it, arrays joined with ", "; "" for Null.
std::string ValueText(const wmi::Property& property, std::string_view className);

// Compares the classes of `a` (before) with those of `b` (after). A class
// that one side lacks (0x80041010) counts as empty there; other errors
// propagate. Classes without differences are left out.
std::vector<ClassDiff> Diff(wmi::Provider& a, wmi::Provider& b, const std::vector<std::string>& classNames,
                            const DiffOptions& options);

// The differences as a listing: one bold row per class, then per instance a
// row "Added"/"Removed"/"Changed" with its key, and one row per property with
// "old -> new" (or the single value) in the second column.
void DiffToList(const std::vector<ClassDiff>& diffs, ListModel& list);

}  // namespace kestrane::fleet
