// WS-Management messages for WMI: the envelopes Kestrane sends, and readers
// for what a Windows computer answers (enumerations, CIM-XML classes,
// faults). Everything read here is outside input: malformed answers throw
// SoapError, never crash.
#pragma once

#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "wmi/object.h"

namespace wmi::wsman {

class SoapError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

inline constexpr const char* kAllClassesUri = "http://schemas.microsoft.com/wbem/wsman/1/wmi/root/cimv2/*";
inline constexpr const char* kCimXmlClassUri = "http://schemas.dmtf.org/wbem/cim-xml/2/cim-schema/2/*";

std::string EnumerateEnvelope(const std::string& to, const std::string& className, int maxElements);
std::string PullEnvelope(const std::string& to, const std::string& context, int maxElements);
std::string ReleaseEnvelope(const std::string& to, const std::string& context);
std::string GetClassEnvelope(const std::string& to, const std::string& className);

// A fault in a SOAP answer as the object model's error: a class the computer
// lacks (CannotProcessFilter 2150858778, InvalidSelectors 2150858843) is
// 0x80041010; a provider fault keeps its WMI number; access refused is
// 0x80070005; anything else 0x80041001 with the fault's text. Nothing when
// the text is no fault.
std::optional<Error> FaultOf(std::string_view xml);

// One page of an enumeration: its instances, the context to pull the next
// page with, and whether the sequence ended. `schemaOf` gives the schema of
// each class met among the items (an instance of a subclass names its own).
struct Page {
    std::vector<Object> objects;
    std::string context;
    bool end = false;
};
using SchemaLookup = std::function<SchemaPtr(const std::string& className)>;
Page ParsePage(std::string_view xml, const SchemaLookup& schemaOf);

// The class a CIM-XML answer describes, its properties sorted by name
// ignoring case, as WMI delivers them.
SchemaPtr ParseCimXmlClass(std::string_view xml, const std::string& className);

// MS-WSMV's framing of a sealed message in a multipart/encrypted body: the
// announced length of the plain message, the seal's header and the sealed
// data.
struct SealedParts {
    std::size_t length = 0;
    std::string header;
    std::string data;
};
std::string SealedBody(const std::string& protocol, std::size_t plainLength, const std::string& header,
                       const std::string& data);
// Nothing when the body is not such a message; `why` then says what is wrong.
std::optional<SealedParts> ParseSealedBody(std::string_view body, std::string* why = nullptr);

// xs:dateTime to a DMTF datetime of the same wall-clock time and offset;
// xs:duration to a DMTF interval. Nothing when malformed.
std::optional<std::string> DmtfFromXsDateTime(std::string_view text);
std::optional<std::string> DmtfFromXsDuration(std::string_view text);

}  // namespace wmi::wsman
