#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "format/format.h"
#include "format/number_text.h"
#include "format/property_fixture.h"

namespace kestrane {
namespace {

using test::Arr;
using test::Prop;
using test::RecordingSink;
using wmi::Value;

constexpr int S16 = wmi::CIM_SINT16, BOOL = wmi::CIM_BOOLEAN, U8 = wmi::CIM_UINT8, U16 = wmi::CIM_UINT16,
              U32 = wmi::CIM_UINT32, U64 = wmi::CIM_UINT64, DT = wmi::CIM_DATETIME;

// The cases and why each is there: tests/fixtures/format/property_values.txt.
TEST(FormatPropertyValue, ShownTexts) {
    test::CheckCases("property_values.txt", [](const test::Case& c, ArrayRowSink& sink) {
        return FormatPropertyValue(c.prop.view(), sink, "K", "Caption", c.extra);
    });
}

TEST(FormatPropertyValue, OddValuesNeverThrow) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const std::vector<Value> values = {Value(),  "",    "abc", "-", "1e999", "-1", -1, 0, 4294967296LL,
                                       1e300,    -1e300, nan,  true, Arr({}), Arr({Value(), "x", Arr({1})})};
    const std::vector<std::pair<int, const char*>> props = {
        {S16, "CurrentTimeZone"}, {U16, "MaxDataWidth"},   {U16, "CurrentVoltage"},  {U16, "Availability"},
        {U16, "Capabilities"},    {U32, "MaxClockSpeed"},  {U32, "ExpectedLife"},    {U32, "TotalPhysicalMemory"},
        {U32, "Attributes"},      {U32, "MediaType"},      {U32, "PaperLength"},     {U64, "Size"},
        {U64, "DesignVoltage"},   {DT, "InstallDate"},     {BOOL, "Primary"},        {U8, "SIDType"},
    };
    for (const auto& [type, name] : props) {
        for (const Value& v : values) {
            for (bool isArray : {false, true}) {
                Prop p(name, type, v, isArray);
                RecordingSink sink;
                EXPECT_NO_THROW(FormatPropertyValue(p.view(), sink, "k", "t")) << name;
            }
        }
    }
}

TEST(ReadNumber, AgreesWithTheLeadingNumericPart) {
    for (const char* text : {"0", "-0", "12", "-12", "999999999999999999", "9999999999999999999",
                             "18446744073709551615", "1.5", "  7", "+5", "12abc", "abc", "", "-", "1e3"}) {
        EXPECT_EQ(ReadNumber(Value(text)), wmi::ValueNumber(Value(text))) << text;
    }
}

// The cases and why each is there: tests/fixtures/format/texts.txt.
TEST(FormatTexts, FiguresDurationsDatesAndNames) {
    for (const auto& [n, c] : test::ReadCases("texts.txt")) {
        const std::string f = c.at(0);
        const auto& in = c.at(1);
        const std::string got = f == "FormatBytes"      ? FormatBytes(in.get<double>())
                                : f == "FormatDuration" ? FormatDuration(in.is_null() ? std::nan("") : in.get<double>())
                                : f == "FormatWMIDate"  ? FormatWMIDate(in.get<std::string>())
                                                        : FormatPropertyName(in.get<std::string>());
        EXPECT_EQ(got, c.at(2).get<std::string>()) << "texts.txt:" << n << ": " << c;
    }
}

}  // namespace
}  // namespace kestrane
