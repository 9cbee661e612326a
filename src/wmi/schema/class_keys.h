// The key properties of the classes, as the public WMI class reference marks
// them (the `Key` qualifier), for matching one computer's instances with
// another's.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace wmi::schema {

// The keys that tell one instance of the class from another on one
// computer, in the reference's order; empty for a class without keys (or one
// the table does not know), whose instances are matched whole. Keys that only
// name the computer or the class (SystemName, CSName, CreationClassName,
// OSName and their like) are left out: they would keep two computers'
// instances from ever matching, and they never differ within one computer.
std::vector<std::string> ClassKeys(std::string_view className);

}  // namespace wmi::schema
