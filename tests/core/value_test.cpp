#include <gtest/gtest.h>

#include "wmi/value.h"

using wmi::LeadingNumber;
using wmi::NumberText;
using wmi::Value;
using wmi::ValueText;

TEST(ValueText, ScalarsConvertLikeAScriptingHost) {
    EXPECT_EQ(ValueText(Value(3)), "3");
    EXPECT_EQ(ValueText(Value(-1)), "-1");
    EXPECT_EQ(ValueText(Value(true)), "True");
    EXPECT_EQ(ValueText(Value(false)), "False");
    EXPECT_EQ(ValueText(Value("abc")), "abc");
    EXPECT_EQ(ValueText(Value()), "");
    EXPECT_EQ(ValueText(Value(Value::Array{Value(1)})), "");
    EXPECT_EQ(ValueText(Value(3.3)), "3.3");
}

TEST(NumberText, ShortestFormWithFifteenDigits) {
    EXPECT_EQ(NumberText(2.4), "2.4");
    EXPECT_EQ(NumberText(12.0), "12");
    EXPECT_EQ(NumberText(0.1 + 0.2), "0.3");
    EXPECT_EQ(NumberText(-0.0), "0");
    EXPECT_EQ(NumberText(1073741824.0), "1073741824");
    EXPECT_EQ(NumberText(1e15), "1e+15");
}

TEST(LeadingNumber, TakesTheLongestNumericPrefix) {
    struct Case { const char* text; double want; } cases[] = {
        {"", 0}, {" 12abc", 12}, {"-5", -5}, {"1500", 1500}, {"3.5", 3.5}, {"x", 0},
        {"  +7", 7}, {".5", 0.5}, {"-", 0}, {"1e3", 1000}, {"1e", 1}, {"2D2", 200},
        {"12 34", 12},
    };
    for (const auto& c : cases) EXPECT_DOUBLE_EQ(LeadingNumber(c.text), c.want) << c.text;
}
