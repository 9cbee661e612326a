// The binary attribute encoding of IPP (RFC 8010), in which cupsd keeps the
// attributes of each job in its spool directory, as pure functions of bytes.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace wmi::lnx {

struct IppValue {
    std::uint8_t tag = 0;  // 0x21 integer, 0x23 enum, 0x31 dateTime, 0x42 name, 0x13 no-value...
    std::string octets;    // as encoded; empty for a collection, whose members are not kept
};

struct IppAttribute {
    std::uint8_t group = 0;  // the delimiter tag of its group: 1 operation, 2 job, 4 printer...
    std::string name;
    std::vector<IppValue> values;  // never empty
};

struct IppMessage {
    std::uint8_t versionMajor = 0, versionMinor = 0;
    std::uint16_t code = 0;  // operation or status
    std::uint32_t requestId = 0;
    std::vector<IppAttribute> attributes;

    // The first attribute of that name in any group.
    const IppAttribute* find(std::string_view name) const;
};

// A whole message: the 8-byte header, attribute groups and the
// end-of-attributes tag. Anything cut short, out of structure or nested more
// than 10 collections deep gives nothing, as cupsd refuses such a file too.
std::optional<IppMessage> ParseIppMessage(std::string_view bytes);

// The first value of an attribute, or nothing when it is absent, of another
// syntax (a no-value placeholder included) or malformed.
std::optional<std::int32_t> IppInteger(const IppAttribute* a);  // integer or enum
// text, name, keyword, uri, uriScheme, charset, naturalLanguage or
// mimeMediaType; of textWithLanguage and nameWithLanguage the text.
std::optional<std::string> IppString(const IppAttribute* a);
// dateTime (RFC 2579) as seconds since the epoch.
std::optional<std::int64_t> IppDateTime(const IppAttribute* a);

}  // namespace wmi::lnx
