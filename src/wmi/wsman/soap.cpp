#include "wmi/wsman/soap.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <pugixml.hpp>
#include <random>

#include "core/utf8.h"
#include "wmi/snapshot/snapshot.h"
#include "wmi/snapshot/snapshot_detail.h"

namespace wmi::wsman {

namespace sd = snapshot_detail;

namespace {

constexpr const char* kEnvelopeHead =
    "<s:Envelope xmlns:s=\"http://www.w3.org/2003/05/soap-envelope\" "
    "xmlns:a=\"http://schemas.xmlsoap.org/ws/2004/08/addressing\" "
    "xmlns:w=\"http://schemas.dmtf.org/wbem/wsman/1/wsman.xsd\" "
    "xmlns:n=\"http://schemas.xmlsoap.org/ws/2004/09/enumeration\" "
    "xmlns:p=\"http://schemas.microsoft.com/wbem/wsman/1/wsman.xsd\" "
    "xmlns:b=\"http://schemas.dmtf.org/wbem/wsman/1/cimbinding.xsd\">";

std::string Escape(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (char c : s) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        default: out += c;
        }
    }
    return out;
}

std::string MessageId() {
    static thread_local std::mt19937_64 rng{std::random_device{}()};
    char buf[48];
    std::uint64_t a = rng(), b = rng();
    std::snprintf(buf, sizeof buf, "uuid:%08X-%04X-4%03X-A%03X-%012llX", static_cast<unsigned>(a >> 32),
                  static_cast<unsigned>(a >> 16) & 0xFFFF, static_cast<unsigned>(a) & 0xFFF,
                  static_cast<unsigned>(b >> 48) & 0xFFF, static_cast<unsigned long long>(b & 0xFFFFFFFFFFFFull));
    return buf;
}

std::string Envelope(const std::string& to, const char* resource, const char* action, const std::string& extraHeader,
                     const std::string& body) {
    std::string e = kEnvelopeHead;
    e += "<s:Header><a:To>" + Escape(to) + "</a:To>";
    e += "<w:ResourceURI s:mustUnderstand=\"true\">" + std::string(resource) + "</w:ResourceURI>";
    e += "<a:ReplyTo><a:Address s:mustUnderstand=\"true\">"
         "http://schemas.xmlsoap.org/ws/2004/08/addressing/role/anonymous</a:Address></a:ReplyTo>";
    e += "<a:Action s:mustUnderstand=\"true\">" + std::string(action) + "</a:Action>";
    e += "<w:MaxEnvelopeSize s:mustUnderstand=\"true\">512000</w:MaxEnvelopeSize>";
    e += "<a:MessageID>" + MessageId() + "</a:MessageID>";
    e += "<w:Locale xml:lang=\"en-US\" s:mustUnderstand=\"false\"/>";
    e += "<p:DataLocale xml:lang=\"en-US\" s:mustUnderstand=\"false\"/>";
    e += "<w:OperationTimeout>PT60.000S</w:OperationTimeout>";
    e += extraHeader;
    e += "</s:Header><s:Body>" + body + "</s:Body></s:Envelope>";
    return e;
}

const char* LocalName(const char* name) {
    const char* colon = std::strrchr(name, ':');
    return colon ? colon + 1 : name;
}

bool Is(const pugi::xml_node& n, const char* local) { return std::strcmp(LocalName(n.name()), local) == 0; }

pugi::xml_node Child(const pugi::xml_node& n, const char* local) {
    for (pugi::xml_node c : n.children())
        if (c.type() == pugi::node_element && Is(c, local)) return c;
    return {};
}

pugi::xml_node Find(const pugi::xml_node& n, const char* local) {
    return n.find_node([&](const pugi::xml_node& c) { return c.type() == pugi::node_element && Is(c, local); });
}

pugi::xml_attribute Attr(const pugi::xml_node& n, const char* local) {
    for (pugi::xml_attribute a : n.attributes())
        if (std::strcmp(LocalName(a.name()), local) == 0) return a;
    return {};
}

void Parse(pugi::xml_document& doc, std::string_view xml) {
    // No DOCTYPE: a Windows answer never has one, and entity tricks start there.
    pugi::xml_parse_result r = doc.load_buffer(xml.data(), xml.size(), pugi::parse_default, pugi::encoding_utf8);
    if (!r) throw SoapError(std::string("the answer is not well-formed XML (") + r.description() + ")");
    for (pugi::xml_node n : doc.children())
        if (n.type() == pugi::node_doctype) throw SoapError("the answer carries a document type declaration");
}

pugi::xml_node Body(const pugi::xml_document& doc) {
    pugi::xml_node env = doc.document_element();
    if (!env || !Is(env, "Envelope")) throw SoapError("the answer is not a SOAP envelope");
    pugi::xml_node body = Child(env, "Body");
    if (!body) throw SoapError("the answer has no SOAP body");
    return body;
}

std::string Trimmed(const char* s) {
    std::string t = s;
    const char* ws = " \t\r\n";
    t.erase(0, t.find_first_not_of(ws));
    t.erase(t.find_last_not_of(ws) + 1);
    return t;
}

bool IsNil(const pugi::xml_node& n) {
    pugi::xml_attribute a = Attr(n, "nil");
    return a && (std::strcmp(a.value(), "true") == 0 || std::strcmp(a.value(), "1") == 0);
}

int Digits(std::string_view s, std::size_t at, std::size_t n) {
    if (at + n > s.size()) return -1;
    int v = 0;
    for (std::size_t i = at; i < at + n; ++i) {
        if (s[i] < '0' || s[i] > '9') return -1;
        v = v * 10 + (s[i] - '0');
    }
    return v;
}

// Reference text of an endpoint reference: Class.Key="value",... as WMI
// writes a relative path.
std::string ReferenceText(const pugi::xml_node& n) {
    pugi::xml_node params = Child(n, "ReferenceParameters");
    std::string uri = Trimmed(Child(params, "ResourceURI").child_value());
    std::string cls = uri.substr(uri.rfind('/') + 1);
    if (!sd::IsIdentifier(cls)) throw SoapError("a reference names no class");
    std::string text = cls;
    char sep = '.';
    for (pugi::xml_node sel : Child(params, "SelectorSet").children()) {
        if (sel.type() != pugi::node_element || !Is(sel, "Selector")) continue;
        std::string v;
        for (char c : std::string(sel.child_value())) {
            if (c == '\\' || c == '"') v += '\\';
            v += c;
        }
        text += sep;
        text += std::string(sel.attribute("Name").value()) + "=\"" + v + "\"";
        sep = ',';
    }
    return text;
}

// One scalar element under its CIM type.
Value Scalar(const pugi::xml_node& n, const PropertyDecl& d) {
    auto bad = [&](const std::string& text) {
        return SoapError("property " + d.name + ": \"" + sd::ValidUtf8(text.substr(0, 60)) + "\" cannot be " +
                         sd::CimTypeName(d.cimType));
    };
    if (d.cimType == CIM_REFERENCE) return Value(ReferenceText(n));
    if (d.cimType == CIM_DATETIME) {
        if (pugi::xml_node dt = Child(n, "Datetime")) {
            auto v = DmtfFromXsDateTime(Trimmed(dt.child_value()));
            if (!v) throw bad(dt.child_value());
            return Value(*v);
        }
        if (pugi::xml_node iv = Child(n, "Interval")) {
            auto v = DmtfFromXsDuration(Trimmed(iv.child_value()));
            if (!v) throw bad(iv.child_value());
            return Value(*v);
        }
        std::string t = Trimmed(n.child_value());
        if (IsDmtfDatetime(t)) return Value(t);
        if (auto v = DmtfFromXsDateTime(t)) return Value(*v);
        throw bad(t);
    }
    std::string text = n.child_value();
    if (sd::IsInteger(d.cimType)) {
        std::string t = Trimmed(text.c_str());
        auto i = sd::ParseDecimal(t);
        if (!i || !i->fits(d.cimType)) throw bad(t);
        if (sd::Is64Bit(d.cimType)) return Value(i->text());
        return Value(static_cast<long long>(i->negative ? -static_cast<std::int64_t>(i->magnitude - 1) - 1
                                                        : static_cast<std::int64_t>(i->magnitude)));
    }
    switch (d.cimType) {
    case CIM_BOOLEAN: {
        std::string t = Trimmed(text.c_str());
        if (t == "true" || t == "1") return Value(true);
        if (t == "false" || t == "0") return Value(false);
        throw bad(t);
    }
    case CIM_REAL32:
    case CIM_REAL64: {
        std::string t = Trimmed(text.c_str());
        double x = 0;
        auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), x);
        if (ec != std::errc() || end != t.data() + t.size() || t.empty()) throw bad(t);
        return Value(x);
    }
    case CIM_CHAR16: {
        if (sd::IsChar16(text)) return Value(text);
        std::string t = Trimmed(text.c_str());
        int code = 0;
        auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), code);
        if (ec != std::errc() || end != t.data() + t.size() || code < 0 || code > 0xFFFF || (code >= 0xD800 && code < 0xE000))
            throw bad(t);
        std::string one;
        kestrane::AppendUtf8(one, static_cast<char32_t>(code));
        return Value(std::move(one));
    }
    default:
        return Value(sd::ValidUtf8(text));
    }
}

Object Instance(const pugi::xml_node& item, const SchemaPtr& schema) {
    const std::size_t n = schema->size();
    std::vector<std::vector<pugi::xml_node>> found(n);
    for (pugi::xml_node c : item.children()) {
        if (c.type() != pugi::node_element) continue;
        int k = schema->indexOf(LocalName(c.name()));
        if (k >= 0) found[static_cast<std::size_t>(k)].push_back(c);
    }
    std::vector<Value> values(n);
    for (std::size_t k = 0; k < n; ++k) {
        const PropertyDecl& d = schema->properties()[k];
        const auto& els = found[k];
        if (els.empty() || (els.size() == 1 && IsNil(els[0]))) continue;
        if (!d.isArray) {
            if (els.size() > 1) throw SoapError("property " + d.name + " is given more than once");
            values[k] = Scalar(els[0], d);
            continue;
        }
        Value::Array a;
        a.reserve(els.size());
        for (const auto& e : els) {
            if (IsNil(e)) throw SoapError("property " + d.name + " has a Null element");
            a.push_back(Scalar(e, d));
        }
        values[k] = Value(std::move(a));
    }
    return Object(schema, std::move(values));
}

int CimTypeOf(const std::string& t) {
    static const std::pair<const char*, int> kTypes[] = {
        {"boolean", CIM_BOOLEAN}, {"string", CIM_STRING}, {"char16", CIM_CHAR16}, {"uint8", CIM_UINT8},
        {"sint8", CIM_SINT8},     {"uint16", CIM_UINT16}, {"sint16", CIM_SINT16}, {"uint32", CIM_UINT32},
        {"sint32", CIM_SINT32},   {"uint64", CIM_UINT64}, {"sint64", CIM_SINT64}, {"real32", CIM_REAL32},
        {"real64", CIM_REAL64},   {"datetime", CIM_DATETIME}};
    for (const auto& [name, code] : kTypes)
        if (t == name) return code;
    return 0;
}

}  // namespace

std::string EnumerateEnvelope(const std::string& to, const std::string& className, int maxElements) {
    return Envelope(to, kAllClassesUri, "http://schemas.xmlsoap.org/ws/2004/09/enumeration/Enumerate", "",
                    "<n:Enumerate><w:OptimizeEnumeration/><w:MaxElements>" + std::to_string(maxElements) +
                        "</w:MaxElements><w:Filter Dialect=\"http://schemas.microsoft.com/wbem/wsman/1/WQL\">"
                        "SELECT * FROM " +
                        Escape(className) + "</w:Filter></n:Enumerate>");
}

std::string PullEnvelope(const std::string& to, const std::string& context, int maxElements) {
    return Envelope(to, kAllClassesUri, "http://schemas.xmlsoap.org/ws/2004/09/enumeration/Pull", "",
                    "<n:Pull><n:EnumerationContext>" + Escape(context) + "</n:EnumerationContext><n:MaxElements>" +
                        std::to_string(maxElements) + "</n:MaxElements></n:Pull>");
}

std::string ReleaseEnvelope(const std::string& to, const std::string& context) {
    return Envelope(to, kAllClassesUri, "http://schemas.xmlsoap.org/ws/2004/09/enumeration/Release", "",
                    "<n:Release><n:EnumerationContext>" + Escape(context) + "</n:EnumerationContext></n:Release>");
}

std::string GetClassEnvelope(const std::string& to, const std::string& className) {
    return Envelope(to, kCimXmlClassUri, "http://schemas.xmlsoap.org/ws/2004/09/transfer/Get",
                    "<w:SelectorSet><w:Selector Name=\"__cimnamespace\">root/cimv2</w:Selector>"
                    "<w:Selector Name=\"ClassName\">" +
                        Escape(className) +
                        "</w:Selector></w:SelectorSet><w:OptionSet s:mustUnderstand=\"true\">"
                        "<w:Option Name=\"IncludeInheritedElements\">true</w:Option>"
                        "<w:Option Name=\"IncludeClassOrigin\">true</w:Option>"
                        "<w:Option Name=\"IncludeQualifiers\">true</w:Option></w:OptionSet>",
                    "");
}

std::optional<Error> FaultOf(std::string_view xml) {
    pugi::xml_document doc;
    try {
        Parse(doc, xml);
    } catch (const SoapError&) {
        return std::nullopt;
    }
    pugi::xml_node env = doc.document_element();
    pugi::xml_node fault = Child(Child(env, "Body"), "Fault");
    if (!fault) return std::nullopt;
    std::string subcode = Trimmed(Child(Child(Child(fault, "Code"), "Subcode"), "Value").child_value());
    subcode = subcode.substr(subcode.find(':') == std::string::npos ? 0 : subcode.find(':') + 1);
    std::string reason = Trimmed(Child(Child(fault, "Reason"), "Text").child_value());
    // WMI's own number, where a provider fault nested inside carries one.
    std::uint32_t wmiCode = 0;
    std::string message;
    std::vector<std::uint32_t> codes;
    for (pugi::xpath_node x : fault.select_nodes(".//*")) {
        pugi::xml_node n = x.node();
        if (!Is(n, "WSManFault")) continue;
        std::uint32_t c = static_cast<std::uint32_t>(std::strtoul(n.attribute("Code").value(), nullptr, 10));
        codes.push_back(c);
        if ((c & 0xFFFF0000u) == 0x80040000u) wmiCode = c;
        if (pugi::xml_node m = Child(n, "Message")) {
            std::string t = Trimmed(m.child_value());
            if (!t.empty()) message = t;
        }
    }
    auto has = [&](std::uint32_t c) { return std::find(codes.begin(), codes.end(), c) != codes.end(); };
    message = sd::ValidUtf8(message.substr(0, 2000));
    reason = sd::ValidUtf8(reason.substr(0, 2000));
    if (subcode == "CannotProcessFilter" || subcode == "InvalidSelectors" || has(2150858778u) || has(2150858843u) ||
        wmiCode == WBEM_E_INVALID_CLASS)
        return MakeError(WBEM_E_INVALID_CLASS, "SWbemObjectSet");
    if (wmiCode) return Error(wmiCode, "SWbemObjectSet", message.empty() ? StandardDescription(wmiCode) : message);
    if (subcode == "AccessDenied" || has(5)) return MakeError(E_ACCESSDENIED_WIN32, "SWbemObjectSet");
    std::string text = message.empty() ? reason : message;
    return Error(WBEM_E_FAILED, "SWbemObjectSet",
                 std::string(StandardDescription(WBEM_E_FAILED)) + ": " + (text.empty() ? subcode : text));
}

Page ParsePage(std::string_view xml, const SchemaLookup& schemaOf) {
    pugi::xml_document doc;
    Parse(doc, xml);
    pugi::xml_node body = Body(doc);
    pugi::xml_node resp = Child(body, "EnumerateResponse");
    if (!resp) resp = Child(body, "PullResponse");
    if (!resp) throw SoapError("the answer is neither an enumeration nor a pull");
    Page page;
    page.context = Trimmed(Child(resp, "EnumerationContext").child_value());
    page.end = static_cast<bool>(Child(resp, "EndOfSequence")) || page.context.empty();
    for (pugi::xml_node item : Child(resp, "Items").children()) {
        if (item.type() != pugi::node_element) continue;
        std::string cls = LocalName(item.name());
        if (!sd::IsIdentifier(cls)) throw SoapError("an item is no instance of a class");
        page.objects.push_back(Instance(item, schemaOf(cls)));
    }
    return page;
}

SchemaPtr ParseCimXmlClass(std::string_view xml, const std::string& className) {
    pugi::xml_document doc;
    Parse(doc, xml);
    pugi::xml_node cls = Find(Body(doc), "CLASS");
    if (!cls) throw SoapError("the answer holds no CIM-XML class");
    std::string name = cls.attribute("NAME").value();
    if (!EqualsNoCase(name, className) || !sd::IsIdentifier(name))
        throw SoapError("the answer describes another class than " + className);
    std::vector<PropertyDecl> decls;
    for (pugi::xml_node p : cls.children()) {
        const std::string kind = p.name();
        if (kind != "PROPERTY" && kind != "PROPERTY.ARRAY" && kind != "PROPERTY.REFERENCE") continue;
        PropertyDecl d;
        d.name = p.attribute("NAME").value();
        if (!sd::IsIdentifier(d.name)) throw SoapError("a property of " + name + " has no valid name");
        d.isArray = kind == "PROPERTY.ARRAY";
        d.cimType = kind == "PROPERTY.REFERENCE" ? CIM_REFERENCE : CimTypeOf(p.attribute("TYPE").value());
        if (!d.cimType)
            throw SoapError("property " + d.name + " has the unknown type \"" +
                            sd::ValidUtf8(std::string(p.attribute("TYPE").value()).substr(0, 40)) + "\"");
        // An embedded object travels as a string with this qualifier.
        for (pugi::xml_node q : p.children("QUALIFIER"))
            if (EqualsNoCase(q.attribute("NAME").value(), "EmbeddedObject")) d.cimType = CIM_STRING;
        d.origin = p.attribute("CLASSORIGIN").value();
        if (d.origin.empty()) d.origin = name;
        decls.push_back(std::move(d));
    }
    std::stable_sort(decls.begin(), decls.end(),
                     [](const PropertyDecl& a, const PropertyDecl& b) { return ToLowerAscii(a.name) < ToLowerAscii(b.name); });
    for (std::size_t k = 1; k < decls.size(); ++k)
        if (EqualsNoCase(decls[k].name, decls[k - 1].name)) throw SoapError("property " + decls[k].name + " is declared twice");
    return std::make_shared<const ClassSchema>(name, std::move(decls));
}

namespace {
constexpr std::string_view kBoundaryLine = "--Encrypted Boundary\r\n";
constexpr std::string_view kBoundaryEnd = "--Encrypted Boundary--\r\n";
constexpr std::string_view kOctets = "\tContent-Type: application/octet-stream\r\n";
}  // namespace

std::string SealedBody(const std::string& protocol, std::size_t plainLength, const std::string& header,
                       const std::string& data) {
    std::string b(kBoundaryLine);
    b += "\tContent-Type: " + protocol + "\r\n\tOriginalContent: type=application/soap+xml;charset=UTF-8;Length=" +
         std::to_string(plainLength) + "\r\n";
    b += kBoundaryLine;
    b += kOctets;
    const auto n = static_cast<std::uint32_t>(header.size());
    for (int i = 0; i < 4; ++i) b += static_cast<char>((n >> (8 * i)) & 0xFF);
    b += header;
    b += data;
    b += kBoundaryEnd;
    return b;
}

std::optional<SealedParts> ParseSealedBody(std::string_view body, std::string* why) {
    auto fail = [&](const char* w) -> std::optional<SealedParts> {
        if (why) *why = w;
        return std::nullopt;
    };
    if (body.substr(0, kBoundaryLine.size()) != kBoundaryLine) return fail("no first part");
    std::size_t second = body.find(kBoundaryLine, kBoundaryLine.size());
    if (second == std::string_view::npos) return fail("no second part");
    std::string_view head = body.substr(kBoundaryLine.size(), second - kBoundaryLine.size());
    constexpr std::string_view kLength = "Length=";
    std::size_t lp = head.find(kLength);
    if (lp == std::string_view::npos) return fail("no announced length");
    SealedParts parts;
    std::size_t i = lp + kLength.size(), digits = 0;
    for (; i < head.size() && head[i] >= '0' && head[i] <= '9'; ++i, ++digits) {
        if (digits > 9) return fail("an absurd announced length");
        parts.length = parts.length * 10 + static_cast<std::size_t>(head[i] - '0');
    }
    if (!digits) return fail("no announced length");
    std::size_t at = second + kBoundaryLine.size();
    if (body.substr(at, kOctets.size()) != kOctets) return fail("no octet-stream part");
    at += kOctets.size();
    if (body.size() < at + 4 + kBoundaryEnd.size()) return fail("cut short");
    std::uint32_t hlen = 0;
    for (std::size_t k = 0; k < 4; ++k) hlen |= static_cast<std::uint32_t>(static_cast<unsigned char>(body[at + k])) << (8 * k);
    at += 4;
    if (body.substr(body.size() - kBoundaryEnd.size()) != kBoundaryEnd) return fail("no closing boundary");
    const std::size_t stop = body.size() - kBoundaryEnd.size();
    if (hlen > stop - at) return fail("a header longer than the part");
    parts.header = std::string(body.substr(at, hlen));
    parts.data = std::string(body.substr(at + hlen, stop - at - hlen));
    return parts;
}

std::optional<std::string> DmtfFromXsDateTime(std::string_view s) {
    // yyyy-mm-ddThh:mm:ss[.f+][Z|(+|-)hh:mm]
    int y = Digits(s, 0, 4), mo = Digits(s, 5, 2), d = Digits(s, 8, 2), h = Digits(s, 11, 2), mi = Digits(s, 14, 2),
        se = Digits(s, 17, 2);
    if (s.size() < 19 || y < 0 || mo < 1 || mo > 12 || d < 1 || d > 31 || h < 0 || h > 23 || mi < 0 || mi > 59 ||
        se < 0 || se > 60 || s[4] != '-' || s[7] != '-' || s[10] != 'T' || s[13] != ':' || s[16] != ':')
        return std::nullopt;
    std::size_t i = 19;
    std::string micro = "000000";
    if (i < s.size() && s[i] == '.') {
        std::size_t k = 0;
        for (++i; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i)
            if (k < 6) micro[k++] = s[i];
        if (k == 0) return std::nullopt;
    }
    int offset = 0;
    if (i < s.size() && s[i] == 'Z') {
        ++i;
    } else if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
        int oh = Digits(s, i + 1, 2), om = Digits(s, i + 4, 2);
        if (oh < 0 || om < 0 || i + 6 != s.size() || s[i + 3] != ':' || oh > 14 || om > 59) return std::nullopt;
        offset = (oh * 60 + om) * (s[i] == '-' ? -1 : 1);
        i += 6;
    }
    if (i != s.size()) return std::nullopt;
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04d%02d%02d%02d%02d%02d.%s%c%03d", y, mo, d, h, mi, se, micro.c_str(),
                  offset < 0 ? '-' : '+', offset < 0 ? -offset : offset);
    return std::string(buf);
}

std::optional<std::string> DmtfFromXsDuration(std::string_view s) {
    // PnDTnHnMn[.f]S, any part optional; years and months have no fixed length.
    if (s.empty() || s[0] != 'P') return std::nullopt;
    std::uint64_t days = 0, hours = 0, minutes = 0, seconds = 0;
    std::string micro = "000000";
    bool time = false, any = false, anyTime = false;
    std::size_t i = 1;
    while (i < s.size()) {
        if (s[i] == 'T') {
            if (time) return std::nullopt;
            time = true;
            ++i;
            continue;
        }
        std::uint64_t n = 0;
        std::size_t start = i;
        while (i < s.size() && s[i] >= '0' && s[i] <= '9') {
            if (n > 100000000000ull) return std::nullopt;
            n = n * 10 + static_cast<std::uint64_t>(s[i++] - '0');
        }
        if (i == start || i >= s.size()) return std::nullopt;
        if (s[i] == '.') {
            if (!time) return std::nullopt;
            std::size_t k = 0;
            for (++i; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i)
                if (k < 6) micro[k++] = s[i];
            if (i >= s.size() || s[i] != 'S') return std::nullopt;
        }
        char unit = s[i++];
        any = true;
        anyTime = anyTime || time;
        if (!time && unit == 'D') days += n;
        else if (time && unit == 'H') hours += n;
        else if (time && unit == 'M') minutes += n;
        else if (time && unit == 'S') seconds += n;
        else return std::nullopt;
    }
    if (!any || (time && !anyTime)) return std::nullopt;
    minutes += seconds / 60;
    seconds %= 60;
    hours += minutes / 60;
    minutes %= 60;
    days += hours / 24;
    hours %= 24;
    if (days > 99999999) return std::nullopt;
    char buf[32];
    std::snprintf(buf, sizeof buf, "%08llu%02llu%02llu%02llu.%s:000", static_cast<unsigned long long>(days),
                  static_cast<unsigned long long>(hours), static_cast<unsigned long long>(minutes),
                  static_cast<unsigned long long>(seconds), micro.c_str());
    return std::string(buf);
}

}  // namespace wmi::wsman
