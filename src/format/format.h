// From one WMI property to its display text.
#pragma once

#include <string>
#include <string_view>

#include "format/array_sink.h"
#include "wmi/object.h"

namespace kestrane {

// The display text of a property. Array values go to array decoders, which
// give `rows` one row per element (the first with strItemKey/strItemText and
// the "Info" icon) and return the last element's text. strClassName is read
// only for MediaType.
std::string FormatPropertyValue(const wmi::Property& objProperty, ArrayRowSink& rows,
                                std::string_view strItemKey = {}, std::string_view strItemText = {},
                                std::string_view strClassName = {});

std::string FormatBytes(double bytes);
std::string FormatDuration(double seconds);
std::string FormatWMIDate(std::string_view dmtf);
std::string FormatPropertyName(std::string_view name);

}  // namespace kestrane
