#include <gtest/gtest.h>

#include "test_support.h"
#include "wmi/remote_protocol.h"

namespace rp = wmi::remote;
using kestrane_test::ExpectSameDecls;
using kestrane_test::Schema;
using wmi::Object;
using wmi::Value;

namespace {

// Every line of a text, without the newlines.
std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> v;
    std::size_t start = 0;
    for (std::size_t nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1)
        v.push_back(text.substr(start, nl - start));
    return v;
}

std::vector<Object> Decode(std::uint64_t id, const std::string& text) {
    rp::AnswerReader reader(id);
    std::vector<Object> out;
    for (const auto& l : Lines(text))
        if (auto o = reader.feed(l)) out.push_back(std::move(*o));
    EXPECT_TRUE(reader.done());
    return out;
}

}  // namespace

TEST(RemoteProtocol, EveryValueShapeAndSubclassSchemaTravelsUnchanged) {
    auto base = Schema("CIM_Thing", {{"Big", wmi::CIM_UINT64, false, "CIM_Thing"},
                                     {"Flags", wmi::CIM_UINT16, true, "CIM_Thing"},
                                     {"Letter", wmi::CIM_CHAR16, false, "CIM_Thing"},
                                     {"Name", wmi::CIM_STRING, false, "CIM_Thing"},
                                     {"Neg", wmi::CIM_SINT64, false, "CIM_Thing"},
                                     {"On", wmi::CIM_BOOLEAN, false, "CIM_Thing"},
                                     {"Ratio", wmi::CIM_REAL64, false, "CIM_Thing"},
                                     {"Ref", wmi::CIM_REFERENCE, false, "CIM_Thing"},
                                     {"When", wmi::CIM_DATETIME, false, "CIM_Thing"}});
    auto sub = Schema("Win32_Thing", {{"Name", wmi::CIM_STRING, false, "CIM_Thing"},
                                      {"Extra", wmi::CIM_SINT32, false, "Win32_Thing"}});
    std::vector<Object> sent = {
        Object(base, {Value("18446744073709551615"), Value(Value::Array{Value(1), Value(65535)}), Value("\xC3\xA9"),
                      Value("quote \" backslash \\ tab \t newline \n end"), Value("-9223372036854775808"), Value(true),
                      Value(0.1), Value("\\\\HOST\\root\\cimv2:Win32_Thing.Name=\"a\""),
                      Value("20230517094112.000000-420")}),
        Object(base, {Value(), Value(Value::Array{}), Value(), Value(""), Value(), Value(false), Value(), Value(),
                      Value()}),
        Object(sub, {Value("sub"), Value(-7)}),
    };
    std::string text;
    const wmi::ClassSchema* last = nullptr;
    for (const auto& o : sent) {
        if (&o.schema() != last) rp::AppendPropertiesLine(text, 7, *(last = &o.schema()));
        ASSERT_EQ(rp::AppendInstanceLine(text, 7, o), "");
    }
    rp::AppendEndLine(text, 7, sent.size());

    std::vector<Object> got = Decode(7, text);
    ASSERT_EQ(got.size(), sent.size());
    for (std::size_t i = 0; i < sent.size(); ++i) {
        EXPECT_EQ(got[i].className(), sent[i].className());
        ExpectSameDecls(got[i].schema(), sent[i].schema(), std::to_string(i));
        EXPECT_EQ(got[i].values(), sent[i].values()) << i;
    }
}

TEST(RemoteProtocol, AValueThatDoesNotFitItsTypeIsRefusedAndNothingIsWritten) {
    auto s = Schema("X", {{"Small", wmi::CIM_UINT8, false, "X"}});
    std::string text = "kept";
    EXPECT_NE(rp::AppendInstanceLine(text, 1, Object(s, {Value(300)})), "");
    EXPECT_EQ(text, "kept");
}

TEST(RemoteProtocol, TheRemoteErrorArrivesUnchangedAndBounded) {
    std::string text;
    rp::AppendErrorLine(text, 3, wmi::Error(0x80041010, "SWbemObjectSet", "Invalid class"));
    rp::AnswerReader reader(3);
    try {
        reader.feed(Lines(text)[0]);
        FAIL() << "no error";
    } catch (const wmi::Error& e) {
        EXPECT_EQ(e.unsignedNumber(), 0x80041010u);
        EXPECT_EQ(e.source(), "SWbemObjectSet");
        EXPECT_EQ(e.description(), "Invalid class");
    }
    rp::AnswerReader big(1);
    try {
        big.feed(R"({"id":1,"error":{"number":2147749904,"description":")" + std::string(100000, 'x') + "\"}}");
        FAIL() << "no error";
    } catch (const wmi::Error& e) {
        EXPECT_EQ(e.unsignedNumber(), 0x80041010u);
        EXPECT_LT(e.description().size(), 5000u);
    }
}

TEST(RemoteProtocol, MalformedForeignAndOutOfOrderAnswersAreProtocolErrors) {
    const std::string props =
        R"({"id":1,"class":"X","properties":[{"name":"A","cimtype":19,"array":false,"origin":"X"}]})";
    const std::vector<std::vector<std::string>> cases = {
        {"not json"},
        {"[1,2]"},
        {R"({"class":"X"})"},                                   // no id
        {R"({"id":2,"end":0})"},                                // another request's answer
        {R"({"id":1,"instance":{"A":1}})"},                     // before its property list
        {props, R"({"id":1,"instance":{"B":1}})"},              // undeclared
        {props, R"({"id":1,"instance":{"A":"x"}})"},            // wrong type
        {props, R"({"id":1,"instance":{"A":-1}})"},             // out of range
        {props, R"({"id":1,"end":5})"},                         // count other than sent
        {props, R"({"id":1,"end":0})", R"({"id":1,"end":0})"},  // after the end
        {R"({"id":1,"class":"X","properties":[{"name":"A","cimtype":77,"array":false}]})"},
        {R"({"id":1,"class":"X","properties":[{"name":"A","cimtype":8,"array":false},{"name":"a","cimtype":8,"array":false}]})"},
        {R"({"id":1,"class":"../x","properties":[]})"},
        {R"({"id":1,"something":true})"},
        {R"({"id":1,"error":{"number":"x"}})"},
    };
    for (const auto& c : cases) {
        rp::AnswerReader reader(1);
        bool threw = false;
        try {
            for (const auto& l : c) reader.feed(l);
        } catch (const rp::ProtocolError&) {
            threw = true;
        }
        EXPECT_TRUE(threw) << c.back();
    }
    rp::AnswerReader reader(1);
    EXPECT_THROW(reader.feed(std::string(rp::kMaxAnswerLine + 1, ' ')), rp::ProtocolError);
}

TEST(RemoteProtocol, RequestsAndGreetings) {
    rp::Request h = rp::ParseRequest(rp::HelloRequestLine("1.2.3").substr(0, rp::HelloRequestLine("1.2.3").size() - 1));
    EXPECT_EQ(h.kind, rp::Request::Hello);
    EXPECT_EQ(h.protocol, rp::kProtocolVersion);
    EXPECT_EQ(h.version, "1.2.3");
    rp::Request c = rp::ParseRequest(R"({"id":42,"class":"Win32_Process"})");
    EXPECT_EQ(c.kind, rp::Request::Class);
    EXPECT_EQ(c.id, 42u);
    EXPECT_EQ(c.className, "Win32_Process");
    for (const char* bad : {"", "{", R"({"id":-1,"class":"X"})", R"({"id":1})", R"({"id":1,"class":5})",
                            R"({"hello":"other","protocol":1})", R"({"hello":"kestrane"})"})
        EXPECT_THROW(rp::ParseRequest(bad), rp::ProtocolError) << bad;
    EXPECT_THROW(rp::ParseRequest(std::string(rp::kMaxRequestLine + 1, ' ')), rp::ProtocolError);

    std::string hello = rp::HelloAnswerLine("1.0.1", "web\"01");
    rp::Hello got = rp::ParseHello(hello.substr(0, hello.size() - 1));
    EXPECT_EQ(got.computer, "web\"01");
    EXPECT_EQ(got.protocol, rp::kProtocolVersion);
    std::string refusal;
    rp::AppendErrorLine(refusal, std::nullopt, wmi::Error(0x80041013, "serve", "Provider load failure: old"));
    EXPECT_THROW(rp::ParseHello(Lines(refusal)[0]), wmi::Error);
    EXPECT_THROW(rp::ParseHello("Welcome to the server!"), rp::ProtocolError);
}

TEST(RemoteProtocol, ReasonsRideOnTheEndLineAndOldLinesStillRead) {
    std::string text;
    rp::AppendEndLine(text, 3, 0, {"systemd is not running: service states are unknown", "b \"quoted\""});
    rp::AnswerReader reader(3);
    reader.feed(Lines(text).at(0));
    ASSERT_TRUE(reader.done());
    EXPECT_EQ(reader.reasons(),
              (std::vector<std::string>{"systemd is not running: service states are unknown", "b \"quoted\""}));
    // no reasons: the line is the one peers without them send and read
    text.clear();
    rp::AppendEndLine(text, 3, 0);
    EXPECT_EQ(text, "{\"id\": 3, \"end\": 0}\n");
    rp::AnswerReader old(3);
    old.feed(Lines(text).at(0));
    EXPECT_TRUE(old.done());
    EXPECT_TRUE(old.reasons().empty());
    // reasons of the wrong shape are left out, never an error; few are kept
    std::string many = R"({"id":1,"end":0,"reasons":[)";
    for (int i = 0; i < 40; ++i) many += std::string(i ? "," : "") + "\"r\"";
    many += "]}";
    const std::vector<std::pair<std::string, std::size_t>> cases = {
        {R"({"id":1,"end":0,"reasons":"text"})", 0},
        {R"({"id":1,"end":0,"reasons":[1,null,"ok",{"a":1}]})", 1},
        {many, 16},
    };
    for (const auto& [line, kept] : cases) {
        rp::AnswerReader r(1);
        r.feed(line);
        EXPECT_TRUE(r.done());
        EXPECT_EQ(r.reasons().size(), kept) << line;
    }
}
