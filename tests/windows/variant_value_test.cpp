// WMI's VARIANTs in the object model's shapes: the types WMI really uses for
// each CIM type, including the ones that are not what the CIM type says.
#include "wmi/windows/variant_value.h"

#include <gtest/gtest.h>

#include <type_traits>
#include <vector>

namespace {

using wmi::Value;

template <class Set>
VARIANT Make(VARTYPE vt, Set set) {
    VARIANT v;
    VariantInit(&v);
    V_VT(&v) = vt;
    V_I8(&v) = 0;
    set(v);
    return v;
}

VARIANT Bstr(const wchar_t* s) {
    return Make(VT_BSTR, [s](VARIANT& v) { V_BSTR(&v) = SysAllocString(s); });
}

template <class T>
VARIANT Array(VARTYPE vt, std::vector<T> elements) {
    SAFEARRAY* sa = SafeArrayCreateVector(vt, 0, static_cast<ULONG>(elements.size()));
    for (LONG i = 0; i < static_cast<LONG>(elements.size()); ++i) {
        if constexpr (std::is_same_v<T, BSTR>) SafeArrayPutElement(sa, &i, elements[i]);  // copied
        else SafeArrayPutElement(sa, &i, &elements[i]);
    }
    return Make(VT_ARRAY | vt, [sa](VARIANT& v) { V_ARRAY(&v) = sa; });
}

TEST(VariantToValue, EachCimTypeFromTheVariantWmiGives) {
    BSTR a = SysAllocString(L"192.168.1.2"), b = SysAllocString(L"fe80::1");
    struct Case {
        VARIANT v;
        int cimType;
        Value expected;
    } cases[] = {
        {Make(VT_I4, [](VARIANT& v) { V_I4(&v) = -1; }), wmi::CIM_UINT32, 4294967295LL},  // uint32 travels in a signed VT_I4
        {Make(VT_I4, [](VARIANT& v) { V_I4(&v) = 65535; }), wmi::CIM_UINT16, 65535},
        {Make(VT_I4, [](VARIANT& v) { V_I4(&v) = -2; }), wmi::CIM_SINT32, -2},
        {Make(VT_UI1, [](VARIANT& v) { V_UI1(&v) = 255; }), wmi::CIM_UINT8, 255},
        {Make(VT_I2, [](VARIANT& v) { V_I2(&v) = -5; }), wmi::CIM_SINT8, -5},
        {Make(VT_I2, [](VARIANT& v) { V_I2(&v) = -32768; }), wmi::CIM_SINT16, -32768},
        // 64-bit integers are decimal text, whether WMI gives text or a number.
        {Bstr(L"18446744073709551615"), wmi::CIM_UINT64, "18446744073709551615"},
        {Make(VT_I8, [](VARIANT& v) { V_I8(&v) = -9000000000LL; }), wmi::CIM_SINT64, "-9000000000"},
        {Make(VT_UI8, [](VARIANT& v) { V_UI8(&v) = 18446744073709551615ULL; }), wmi::CIM_UINT64, "18446744073709551615"},
        {Make(VT_R4, [](VARIANT& v) { V_R4(&v) = 3.2f; }), wmi::CIM_REAL32, 3.2},  // not 3.2000000476837
        {Make(VT_R8, [](VARIANT& v) { V_R8(&v) = 0.1; }), wmi::CIM_REAL64, 0.1},
        {Make(VT_BOOL, [](VARIANT& v) { V_BOOL(&v) = VARIANT_TRUE; }), wmi::CIM_BOOLEAN, true},
        {Make(VT_I2, [](VARIANT& v) { V_I2(&v) = static_cast<SHORT>(0x263A); }), wmi::CIM_CHAR16, "\xE2\x98\xBA"},
        {Make(VT_NULL, [](VARIANT&) {}), wmi::CIM_STRING, nullptr},
        {Make(VT_NULL, [](VARIANT&) {}), wmi::CIM_UINT32, nullptr},
        {Bstr(L"20120608000000.000000+000"), wmi::CIM_DATETIME, "20120608000000.000000+000"},
        {Bstr(L"Gr\u00FC\u00DFe \u65E5\u672C"), wmi::CIM_STRING, "Gr\xC3\xBC\xC3\x9F" "e \xE6\x97\xA5\xE6\x9C\xAC"},
        {Array<BSTR>(VT_BSTR, {a, b}), wmi::CIM_STRING, Value::Array{"192.168.1.2", "fe80::1"}},
        {Array<LONG>(VT_I4, {-1, 7}), wmi::CIM_UINT32, Value::Array{4294967295LL, 7}},
        {Array<LONG>(VT_I4, {}), wmi::CIM_UINT16, Value::Array{}},
    };
    SysFreeString(a);
    SysFreeString(b);
    for (auto& c : cases) {
        EXPECT_EQ(wmi::com::VariantToValue(c.v, c.cimType), c.expected) << "CIM type " << c.cimType;
        VariantClear(&c.v);
    }
}

}  // namespace
