// The published property lists of the classes (the public WMI class
// reference), shared by the providers that must deliver them: the Linux
// provider declares its classes with them, and the COM provider completes the
// classes a WMI declares only in part.
#pragma once

#include <cstddef>
#include <string_view>

#include "wmi/object.h"

namespace wmi {

struct SchemaRow {
    const char* className;
    const char* name;
    int cimType;
    bool isArray;
    const char* origin;
};

extern const SchemaRow kSchemaRows[];
extern const std::size_t kSchemaRowCount;

// The schema of a class by case-insensitive name (built once, then shared),
// or null when the table lacks the class.
SchemaPtr LookupSchema(std::string_view className);

// Schemas of the operating-system classes the generated table lacks, kept as
// their own data (schema_os.cpp); null when unknown. LookupSchema falls back
// to it.
SchemaPtr LookupOsSchema(std::string_view className);

}  // namespace wmi
