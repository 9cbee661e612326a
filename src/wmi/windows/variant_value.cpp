#include "wmi/windows/variant_value.h"

#include <wbemidl.h>

#include <charconv>
#include <cstdlib>
#include <string>

#include "wmi/windows/com_util.h"

namespace wmi::com {

namespace {

// The VARIANT as a 64-bit integer, whatever integer type it holds.
bool RawInteger(const VARIANT& v, std::int64_t& out) {
    switch (V_VT(&v)) {
    case VT_I1: out = V_I1(&v); return true;
    case VT_UI1: out = V_UI1(&v); return true;
    case VT_I2: out = V_I2(&v); return true;
    case VT_UI2: out = V_UI2(&v); return true;
    case VT_I4: out = V_I4(&v); return true;
    case VT_UI4: out = V_UI4(&v); return true;
    case VT_INT: out = V_INT(&v); return true;
    case VT_UINT: out = V_UINT(&v); return true;
    case VT_I8: out = V_I8(&v); return true;
    case VT_UI8: out = static_cast<std::int64_t>(V_UI8(&v)); return true;
    case VT_BOOL: out = V_BOOL(&v) ? 1 : 0; return true;
    default: break;
    }
    VARIANT c;
    VariantInit(&c);
    if (FAILED(VariantChangeType(&c, const_cast<VARIANT*>(&v), 0, VT_I8))) return false;
    out = V_I8(&c);
    return true;
}

std::string Text(const VARIANT& v) {
    if (V_VT(&v) == VT_BSTR) return Narrow(V_BSTR(&v));
    VARIANT c;
    VariantInit(&c);
    if (FAILED(VariantChangeType(&c, const_cast<VARIANT*>(&v), VARIANT_ALPHABOOL, VT_BSTR))) return {};
    std::string s = Narrow(V_BSTR(&c));
    VariantClear(&c);
    return s;
}

// A real32 as the shortest decimal that reads back as the same float, so
// 3.2f is 3.2 and not 3.2000000476837.
double FloatValue(float f) {
    char buf[32];
    auto r = std::to_chars(buf, buf + sizeof buf - 1, f);
    *r.ptr = '\0';
    return std::strtod(buf, nullptr);
}

Value Scalar(const VARIANT& v, int cimType) {
    const VARTYPE vt = V_VT(&v);
    if (vt == VT_EMPTY || vt == VT_NULL) return {};
    std::int64_t i = 0;
    switch (cimType) {
    case CIM_SINT8:
        return RawInteger(v, i) ? Value(static_cast<std::int8_t>(i)) : Value();
    case CIM_UINT8:
        return RawInteger(v, i) ? Value(static_cast<std::uint8_t>(i)) : Value();
    case CIM_SINT16:
        return RawInteger(v, i) ? Value(static_cast<std::int16_t>(i)) : Value();
    case CIM_UINT16:
        return RawInteger(v, i) ? Value(static_cast<std::uint16_t>(i)) : Value();
    case CIM_SINT32:
        return RawInteger(v, i) ? Value(static_cast<std::int32_t>(i)) : Value();
    case CIM_UINT32:
        return RawInteger(v, i) ? Value(static_cast<long long>(static_cast<std::uint32_t>(i))) : Value();
    case CIM_SINT64:
    case CIM_UINT64:
        // WMI hands 64-bit integers over as decimal text already.
        if (vt == VT_BSTR) return Value(Narrow(V_BSTR(&v)));
        if (!RawInteger(v, i)) return {};
        if (cimType == CIM_UINT64 || vt == VT_UI8) return Value(std::to_string(static_cast<std::uint64_t>(i)));
        return Value(std::to_string(i));
    case CIM_REAL32:
        if (vt == VT_R4) return Value(FloatValue(V_R4(&v)));
        [[fallthrough]];
    case CIM_REAL64: {
        if (vt == VT_R8) return Value(V_R8(&v));
        VARIANT c;
        VariantInit(&c);
        if (FAILED(VariantChangeType(&c, const_cast<VARIANT*>(&v), 0, VT_R8))) return {};
        return Value(V_R8(&c));
    }
    case CIM_BOOLEAN:
        if (vt == VT_BOOL) return Value(V_BOOL(&v) != VARIANT_FALSE);
        return RawInteger(v, i) ? Value(i != 0) : Value();
    case CIM_CHAR16: {
        if (vt == VT_BSTR) return Value(Narrow(V_BSTR(&v)));
        if (!RawInteger(v, i)) return {};
        const wchar_t c = static_cast<wchar_t>(static_cast<std::uint16_t>(i));
        return Value(Narrow(&c, 1));
    }
    case CIM_OBJECT: {
        if (vt != VT_UNKNOWN || !V_UNKNOWN(&v)) return {};
        ComPtr<IWbemClassObject> obj;
        if (FAILED(V_UNKNOWN(&v)->QueryInterface(IID_IWbemClassObject, reinterpret_cast<void**>(obj.put()))))
            return {};
        Bstr text;
        if (FAILED(obj->GetObjectText(0, text.put()))) return {};
        return Value(Narrow(text.get()));
    }
    default:
        // string, datetime (DMTF text), reference (an object path)
        return Value(Text(v));
    }
}

}  // namespace

Value VariantToValue(const VARIANT& v, int cimType) {
    if (!(V_VT(&v) & VT_ARRAY)) return Scalar(v, cimType);
    SAFEARRAY* sa = V_ARRAY(&v);
    if (!sa) return {};
    if (SafeArrayGetDim(sa) != 1) return {};
    VARTYPE elemType = VT_EMPTY;
    if (FAILED(SafeArrayGetVartype(sa, &elemType))) return {};
    LONG lo = 0, hi = -1;
    SafeArrayGetLBound(sa, 1, &lo);
    SafeArrayGetUBound(sa, 1, &hi);
    Value::Array out;
    if (hi >= lo) out.reserve(static_cast<std::size_t>(hi - lo + 1));
    for (LONG k = lo; k <= hi; ++k) {
        VARIANT e;
        VariantInit(&e);
        // Every member of the union starts at the same address; a VARIANT
        // array element is a whole VARIANT.
        void* dest = elemType == VT_VARIANT ? static_cast<void*>(&e) : static_cast<void*>(&V_I8(&e));
        if (FAILED(SafeArrayGetElement(sa, &k, dest))) continue;
        if (elemType != VT_VARIANT) V_VT(&e) = elemType;
        out.push_back(Scalar(e, cimType));
        VariantClear(&e);
    }
    return Value(std::move(out));
}

}  // namespace wmi::com
