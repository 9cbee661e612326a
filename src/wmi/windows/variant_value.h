// WMI property values (VARIANT and SAFEARRAY, as IWbemClassObject::Get gives
// them) in the object model's shapes.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include "wmi/value.h"

namespace wmi::com {

// `cimType` is the property's CIM type without the array flag. Integers
// arrive in whatever VARIANT type WMI picked (uint32 as VT_I4, uint64 as a
// BSTR): they are read by the CIM type, so unsigned values stay unsigned.
// 64-bit integers become decimal strings, datetimes stay DMTF text, char16
// a one-character string, embedded objects their MOF text.
Value VariantToValue(const VARIANT& v, int cimType);

}  // namespace wmi::com
