#include <gtest/gtest.h>

#include "wmi/wsman/soap.h"
#include "wmi/wsman/wsman_client.h"

namespace ws = wmi::wsman;

namespace {

std::string Envelope(const std::string& body) {
    return "<s:Envelope xmlns:s=\"http://www.w3.org/2003/05/soap-envelope\" "
           "xmlns:w=\"http://schemas.dmtf.org/wbem/wsman/1/wsman.xsd\" "
           "xmlns:n=\"http://schemas.xmlsoap.org/ws/2004/09/enumeration\" "
           "xmlns:f=\"http://schemas.microsoft.com/wbem/wsman/1/wsmanfault\" "
           "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\"><s:Header/><s:Body>" +
           body + "</s:Body></s:Envelope>";
}

std::string Fault(const std::string& subcode, const std::string& detail) {
    return Envelope("<s:Fault><s:Code><s:Value>s:Sender</s:Value><s:Subcode><s:Value>" + subcode +
                    "</s:Value></s:Subcode></s:Code><s:Reason><s:Text xml:lang=\"en-US\">reason text</s:Text>"
                    "</s:Reason><s:Detail>" +
                    detail + "</s:Detail></s:Fault>");
}

}  // namespace

TEST(WsmanValues, DatetimesAndIntervalsKeepTheirWallClockAndOffset) {
    const std::pair<const char*, const char*> dates[] = {
        {"2023-05-17T09:41:12-07:00", "20230517094112.000000-420"},
        {"2014-04-03T14:45:50.46875+08:00", "20140403144550.468750+480"},
        {"2024-01-01T00:00:00.1234567+05:30", "20240101000000.123456+330"},
        {"2024-02-29T23:59:59Z", "20240229235959.000000+000"},
        {"2024-02-29T23:59:59", "20240229235959.000000+000"},
    };
    for (const auto& [xs, dmtf] : dates) EXPECT_EQ(ws::DmtfFromXsDateTime(xs), std::optional<std::string>(dmtf)) << xs;
    for (const char* bad : {"", "2024-13-01T00:00:00Z", "2024-01-01 00:00:00Z", "2024-01-01T00:00:00+5:00",
                            "2024-01-01T00:00:00.Z", "2024-01-01T00:00:00Zjunk", "20240101000000.000000+000"})
        EXPECT_FALSE(ws::DmtfFromXsDateTime(bad)) << bad;

    const std::pair<const char*, const char*> intervals[] = {
        {"P0DT0H1M40S", "00000000000140.000000:000"},
        {"P12DT3H4M5.5S", "00000012030405.500000:000"},
        {"PT90M", "00000000013000.000000:000"},
        {"P1D", "00000001000000.000000:000"},
        {"PT49H", "00000002010000.000000:000"},
    };
    for (const auto& [xs, dmtf] : intervals)
        EXPECT_EQ(ws::DmtfFromXsDuration(xs), std::optional<std::string>(dmtf)) << xs;
    for (const char* bad : {"", "P", "1D", "P1Y", "P1M", "PT1.5M", "P-1D", "PT", "P1DT", "P999999999D"})
        EXPECT_FALSE(ws::DmtfFromXsDuration(bad)) << bad;
}

TEST(WsmanFaults, AMissingClassFromEitherCallIsInvalidClassAndWmiNumbersSurvive) {
    auto number = [](const std::string& xml) { return ws::FaultOf(xml)->unsignedNumber(); };
    // Enumerate of a class the computer lacks, and GetClass of one.
    EXPECT_EQ(number(Fault("n:CannotProcessFilter",
                           "<f:WSManFault Code=\"2150858778\"><f:Message><f:ProviderFault><f:WSManFault "
                           "Code=\"2150858778\"><f:Message>The specified class does not exist in the given namespace. "
                           "</f:Message></f:WSManFault></f:ProviderFault></f:Message></f:WSManFault>")),
              wmi::WBEM_E_INVALID_CLASS);
    EXPECT_EQ(number(Fault("w:InvalidSelectors", "<f:WSManFault Code=\"2150858843\"/>")), wmi::WBEM_E_INVALID_CLASS);
    auto denied = ws::FaultOf(Fault("w:InternalError",
                                    "<f:WSManFault Code=\"2147749891\"><f:Message><f:ProviderFault><f:WSManFault "
                                    "Code=\"2147749891\"><f:Message>Access denied </f:Message></f:WSManFault>"
                                    "</f:ProviderFault></f:Message></f:WSManFault>"));
    EXPECT_EQ(denied->unsignedNumber(), wmi::WBEM_E_ACCESS_DENIED);
    EXPECT_EQ(denied->description(), "Access denied");
    EXPECT_EQ(number(Fault("w:AccessDenied", "<f:WSManFault Code=\"5\"/>")), wmi::E_ACCESSDENIED_WIN32);
    auto other = ws::FaultOf(Fault("w:QuotaLimit", "<f:WSManFault Code=\"2150858793\"/>"));
    EXPECT_EQ(other->unsignedNumber(), wmi::WBEM_E_FAILED);
    EXPECT_NE(other->description().find("reason text"), std::string::npos);
    for (const char* notAFault : {"", "<x/>", "not xml", "<!DOCTYPE x [<!ENTITY e \"e\">]><x>&e;</x>"})
        EXPECT_FALSE(ws::FaultOf(notAFault)) << notAFault;
}

TEST(WsmanClasses, CimXmlClassesAreSortedTypedAndChecked) {
    auto s = ws::ParseCimXmlClass(
        Envelope("<CLASS NAME=\"Win32_X\" SUPERCLASS=\"CIM_X\">"
                 "<PROPERTY NAME=\"name\" TYPE=\"string\" CLASSORIGIN=\"CIM_X\"/>"
                 "<PROPERTY.ARRAY NAME=\"Codes\" TYPE=\"uint16\" CLASSORIGIN=\"Win32_X\"/>"
                 "<PROPERTY.REFERENCE NAME=\"Owner\" REFERENCECLASS=\"Win32_Y\" CLASSORIGIN=\"Win32_X\"/>"
                 "<PROPERTY NAME=\"Blob\" TYPE=\"string\"><QUALIFIER NAME=\"EmbeddedObject\" TYPE=\"boolean\">"
                 "<VALUE>true</VALUE></QUALIFIER></PROPERTY>"
                 "<PROPERTY NAME=\"When\" TYPE=\"datetime\" CLASSORIGIN=\"Win32_X\"/></CLASS>"),
        "win32_x");
    ASSERT_EQ(s->size(), 5u);
    const std::vector<std::string> order = {"Blob", "Codes", "name", "Owner", "When"};
    for (std::size_t k = 0; k < order.size(); ++k) EXPECT_EQ(s->properties()[k].name, order[k]);
    EXPECT_EQ(s->properties()[1].cimType, wmi::CIM_UINT16);
    EXPECT_TRUE(s->properties()[1].isArray);
    EXPECT_EQ(s->properties()[3].cimType, wmi::CIM_REFERENCE);
    EXPECT_EQ(s->properties()[0].origin, "Win32_X");  // none given: the class itself
    EXPECT_EQ(s->properties()[2].origin, "CIM_X");
    for (const std::string& bad :
         {Envelope(""), Envelope("<CLASS NAME=\"Other\"/>"),
          Envelope("<CLASS NAME=\"Win32_X\"><PROPERTY NAME=\"A\" TYPE=\"float128\"/></CLASS>"),
          Envelope("<CLASS NAME=\"Win32_X\"><PROPERTY NAME=\"A\" TYPE=\"string\"/><PROPERTY NAME=\"a\" "
                   "TYPE=\"string\"/></CLASS>"),
          Envelope("<CLASS NAME=\"Win32_X\"><PROPERTY NAME=\"../A\" TYPE=\"string\"/></CLASS>"), std::string("<a>")})
        EXPECT_THROW(ws::ParseCimXmlClass(bad, "Win32_X"), ws::SoapError) << bad;
}

TEST(WsmanPages, InstancesNilArraysReferencesAndWhatIsRefused) {
    auto schema = std::make_shared<const wmi::ClassSchema>(
        "Win32_X", std::vector<wmi::PropertyDecl>{{"A", wmi::CIM_UINT8, true, "Win32_X"},
                                                  {"B", wmi::CIM_BOOLEAN, false, "Win32_X"},
                                                  {"C", wmi::CIM_CHAR16, false, "Win32_X"},
                                                  {"N", wmi::CIM_STRING, false, "Win32_X"},
                                                  {"R", wmi::CIM_REFERENCE, false, "Win32_X"}});
    auto lookup = [&](const std::string&) { return schema; };
    auto page = [&](const std::string& item, const std::string& tail = "<n:EndOfSequence/>") {
        return Envelope("<n:PullResponse><n:Items>" + item + "</n:Items>" + tail + "</n:PullResponse>");
    };
    ws::Page p = ws::ParsePage(
        page("<p:Win32_X xmlns:p=\"u\"><p:A>1</p:A><p:A>255</p:A><p:B>true</p:B><p:C>65</p:C><p:N xsi:nil=\"true\"/>"
             "<p:R><a:Address xmlns:a=\"x\">anon</a:Address><a:ReferenceParameters xmlns:a=\"x\"><w:ResourceURI>"
             "http://schemas.microsoft.com/wbem/wsman/1/wmi/root/cimv2/Win32_Directory</w:ResourceURI><w:SelectorSet>"
             "<w:Selector Name=\"Name\">C:\\\"x\"</w:Selector></w:SelectorSet></a:ReferenceParameters></p:R>"
             "<p:Unknown>ignored</p:Unknown></p:Win32_X>"),
        lookup);
    ASSERT_EQ(p.objects.size(), 1u);
    EXPECT_TRUE(p.end);
    const auto& v = p.objects[0].values();
    EXPECT_EQ(v[0], wmi::Value(wmi::Value::Array{wmi::Value(1), wmi::Value(255)}));
    EXPECT_EQ(v[1], wmi::Value(true));
    EXPECT_EQ(v[2], wmi::Value("A"));
    EXPECT_TRUE(v[3].isNull());
    EXPECT_EQ(v[4], wmi::Value("Win32_Directory.Name=\"C:\\\\\\\"x\\\"\""));

    ws::Page more = ws::ParsePage(page("", "<n:EnumerationContext>ctx-1</n:EnumerationContext>"), lookup);
    EXPECT_FALSE(more.end);
    EXPECT_EQ(more.context, "ctx-1");

    for (const std::string& bad : {page("<p:Win32_X><p:A>256</p:A></p:Win32_X>"),
                                   page("<p:Win32_X><p:B>yes</p:B></p:Win32_X>"),
                                   page("<p:Win32_X><p:N>a</p:N><p:N>b</p:N></p:Win32_X>"),
                                   page("<p:Win32_X><p:A xsi:nil=\"true\"/><p:A>1</p:A></p:Win32_X>"),
                                   page("<p:Win32_X><p:C>70000</p:C></p:Win32_X>"),
                                   Envelope("<x/>"), std::string("<!DOCTYPE s:Envelope><s:Envelope/>")})
        EXPECT_THROW(ws::ParsePage(bad, lookup), ws::SoapError) << bad;
}

TEST(WsmanNames, EndpointsAndSealedFraming) {
    auto e = ws::ParseEndpoint("HTTPS://[2001:db8::1]/wsman");
    ASSERT_TRUE(e);
    EXPECT_TRUE(e->https);
    EXPECT_EQ(e->host, "2001:db8::1");
    EXPECT_EQ(e->port, 5986);
    EXPECT_EQ(e->url, "https://[2001:db8::1]:5986/wsman");
    EXPECT_EQ(ws::ParseEndpoint("http://win01.corp.example:8080")->url, "http://win01.corp.example:8080/wsman");
    for (const char* bad : {"http://", "http://host/other", "http://user@host/wsman", "http://host:0/wsman",
                            "http://host:99999", "http://[::1/wsman", "http://ho st/wsman", "ftp://host"})
        EXPECT_FALSE(ws::ParseEndpoint(bad)) << bad;

    const std::string body = ws::SealedBody("application/HTTP-SPNEGO-session-encrypted", 42, std::string(16, 'S'), "sealed");
    auto parts = ws::ParseSealedBody(body);
    ASSERT_TRUE(parts);
    EXPECT_EQ(parts->length, 42u);
    EXPECT_EQ(parts->header, std::string(16, 'S'));
    EXPECT_EQ(parts->data, "sealed");
    for (std::size_t cut : {0ul, 10ul, body.size() / 2, body.size() - 1})
        EXPECT_FALSE(ws::ParseSealedBody(body.substr(0, cut))) << cut;
    std::string huge = body;
    huge[huge.find("\tContent-Type: application/octet-stream\r\n") + 41 + 3] = '\x7f';  // header length 2^31
    EXPECT_FALSE(ws::ParseSealedBody(huge));

    EXPECT_EQ(ws::ParseFingerprint(ws::CertificateFingerprint("der")), ws::ParseFingerprint(ws::CertificateFingerprint("der")));
    EXPECT_EQ(ws::ParseFingerprint(ws::CertificateFingerprint("der"))->size(), 32u);
    for (const char* bad : {"", "SHA256:", "SHA256:zz", "SHA1:00"}) EXPECT_FALSE(ws::ParseFingerprint(bad)) << bad;
}
