// WMI's VARIANTs in the object model's shapes: the types WMI really uses for
// each CIM type, including the ones that are not what the CIM type says.
#include "wmi/windows/variant_value.h"

#include <gtest/gtest.h>

namespace {

using wmi::Value;

struct Owned {
    VARIANT v;
    Owned() { VariantInit(&v); }
    ~Owned() { VariantClear(&v); }
};

void SetBstr(Owned& o, const wchar_t* s) {
    V_VT(&o.v) = VT_BSTR;
    V_BSTR(&o.v) = SysAllocString(s);
}

TEST(VariantToValue, IntegersAreReadByTheirCimType) {
    struct Case {
        VARTYPE vt;
        LONGLONG raw;
        int cimType;
        long long expected;
    } cases[] = {
        {VT_I4, -1, wmi::CIM_UINT32, 4294967295LL},  // uint32 travels in a signed VT_I4
        {VT_I4, 65535, wmi::CIM_UINT16, 65535},
        {VT_I4, -2, wmi::CIM_SINT32, -2},
        {VT_UI1, 255, wmi::CIM_UINT8, 255},
        {VT_I2, -5, wmi::CIM_SINT8, -5},
        {VT_I2, -32768, wmi::CIM_SINT16, -32768},
    };
    for (const auto& c : cases) {
        VARIANT v;
        VariantInit(&v);
        V_VT(&v) = c.vt;
        V_I8(&v) = 0;
        if (c.vt == VT_I4) V_I4(&v) = static_cast<LONG>(c.raw);
        if (c.vt == VT_UI1) V_UI1(&v) = static_cast<BYTE>(c.raw);
        if (c.vt == VT_I2) V_I2(&v) = static_cast<SHORT>(c.raw);
        EXPECT_EQ(wmi::com::VariantToValue(v, c.cimType), Value(c.expected)) << "CIM type " << c.cimType;
    }
}

TEST(VariantToValue, SixtyFourBitIntegersAreDecimalText) {
    Owned big;
    SetBstr(big, L"18446744073709551615");
    EXPECT_EQ(wmi::com::VariantToValue(big.v, wmi::CIM_UINT64), Value("18446744073709551615"));
    VARIANT v;
    VariantInit(&v);
    V_VT(&v) = VT_I8;
    V_I8(&v) = -9000000000LL;
    EXPECT_EQ(wmi::com::VariantToValue(v, wmi::CIM_SINT64), Value("-9000000000"));
    V_VT(&v) = VT_UI8;
    V_UI8(&v) = 18446744073709551615ULL;
    EXPECT_EQ(wmi::com::VariantToValue(v, wmi::CIM_UINT64), Value("18446744073709551615"));
}

TEST(VariantToValue, OtherScalars) {
    VARIANT v;
    VariantInit(&v);
    V_VT(&v) = VT_R4;
    V_R4(&v) = 3.2f;
    EXPECT_EQ(wmi::com::VariantToValue(v, wmi::CIM_REAL32), Value(3.2));  // not 3.2000000476837
    V_VT(&v) = VT_R8;
    V_R8(&v) = 0.1;
    EXPECT_EQ(wmi::com::VariantToValue(v, wmi::CIM_REAL64), Value(0.1));
    V_VT(&v) = VT_BOOL;
    V_BOOL(&v) = VARIANT_TRUE;
    EXPECT_EQ(wmi::com::VariantToValue(v, wmi::CIM_BOOLEAN), Value(true));
    V_VT(&v) = VT_I2;
    V_I2(&v) = static_cast<SHORT>(0x263A);
    EXPECT_EQ(wmi::com::VariantToValue(v, wmi::CIM_CHAR16), Value("\xE2\x98\xBA"));
    V_VT(&v) = VT_NULL;
    EXPECT_TRUE(wmi::com::VariantToValue(v, wmi::CIM_STRING).isNull());
    EXPECT_TRUE(wmi::com::VariantToValue(v, wmi::CIM_UINT32).isNull());

    Owned when;
    SetBstr(when, L"20120608000000.000000+000");
    EXPECT_EQ(wmi::com::VariantToValue(when.v, wmi::CIM_DATETIME), Value("20120608000000.000000+000"));
    Owned text;
    SetBstr(text, L"Gr\u00FC\u00DFe \u65E5\u672C");
    EXPECT_EQ(wmi::com::VariantToValue(text.v, wmi::CIM_STRING), Value("Gr\xC3\xBC\xC3\x9F" "e \xE6\x97\xA5\xE6\x9C\xAC"));
}

TEST(VariantToValue, Arrays) {
    Owned strings;
    SAFEARRAY* sa = SafeArrayCreateVector(VT_BSTR, 0, 2);
    LONG i = 0;
    BSTR a = SysAllocString(L"192.168.1.2"), b = SysAllocString(L"fe80::1");
    SafeArrayPutElement(sa, &i, a);
    i = 1;
    SafeArrayPutElement(sa, &i, b);
    SysFreeString(a);
    SysFreeString(b);
    V_VT(&strings.v) = VT_ARRAY | VT_BSTR;
    V_ARRAY(&strings.v) = sa;
    EXPECT_EQ(wmi::com::VariantToValue(strings.v, wmi::CIM_STRING),
              Value(Value::Array{Value("192.168.1.2"), Value("fe80::1")}));

    Owned numbers;
    sa = SafeArrayCreateVector(VT_I4, 0, 2);
    LONG n0 = -1, n1 = 7;
    i = 0;
    SafeArrayPutElement(sa, &i, &n0);
    i = 1;
    SafeArrayPutElement(sa, &i, &n1);
    V_VT(&numbers.v) = VT_ARRAY | VT_I4;
    V_ARRAY(&numbers.v) = sa;
    EXPECT_EQ(wmi::com::VariantToValue(numbers.v, wmi::CIM_UINT32),
              Value(Value::Array{Value(4294967295LL), Value(7)}));

    Owned empty;
    V_VT(&empty.v) = VT_ARRAY | VT_I4;
    V_ARRAY(&empty.v) = SafeArrayCreateVector(VT_I4, 0, 0);
    EXPECT_EQ(wmi::com::VariantToValue(empty.v, wmi::CIM_UINT16), Value(Value::Array{}));
}

}  // namespace
