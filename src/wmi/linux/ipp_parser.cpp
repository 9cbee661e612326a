#include "wmi/linux/ipp_parser.h"

#include "wmi/linux/os_parsers.h"

namespace wmi::lnx {

namespace {

constexpr std::uint8_t kEndOfAttributes = 0x03;
constexpr std::uint8_t kBeginCollection = 0x34;
constexpr std::uint8_t kEndCollection = 0x37;
constexpr std::uint8_t kMemberName = 0x4A;
constexpr int kMaxDepth = 10;  // what cupsd accepts

class Reader {
public:
    explicit Reader(std::string_view b) : b_(b) {}
    bool u8(std::uint8_t& v) {
        if (b_.empty()) return false;
        v = static_cast<std::uint8_t>(b_[0]);
        b_.remove_prefix(1);
        return true;
    }
    bool u16(std::uint16_t& v) {
        std::uint8_t hi, lo;
        if (b_.size() < 2 || !u8(hi) || !u8(lo)) return false;
        v = static_cast<std::uint16_t>(hi << 8 | lo);
        return true;
    }
    // A two-byte length and that many bytes.
    bool counted(std::string_view& out) {
        std::uint16_t n;
        if (!u16(n) || b_.size() < n) return false;
        out = b_.substr(0, n);
        b_.remove_prefix(n);
        return true;
    }

private:
    std::string_view b_;
};

std::uint32_t BigEndian(std::string_view s) {
    std::uint32_t v = 0;
    for (char c : s) v = v << 8 | static_cast<std::uint8_t>(c);
    return v;
}

}  // namespace

const IppAttribute* IppMessage::find(std::string_view name) const {
    for (const auto& a : attributes)
        if (a.name == name) return &a;
    return nullptr;
}

std::optional<IppMessage> ParseIppMessage(std::string_view bytes) {
    if (bytes.size() < 8) return std::nullopt;
    IppMessage m;
    m.versionMajor = static_cast<std::uint8_t>(bytes[0]);
    m.versionMinor = static_cast<std::uint8_t>(bytes[1]);
    m.code = static_cast<std::uint16_t>(BigEndian(bytes.substr(2, 2)));
    m.requestId = BigEndian(bytes.substr(4, 4));
    Reader in(bytes.substr(8));
    std::uint8_t group = 0;
    int depth = 0;  // collections open; their members are walked over, not kept
    bool current = false;  // an attribute a nameless value may add to
    for (;;) {
        std::uint8_t tag;
        if (!in.u8(tag)) return std::nullopt;  // no end-of-attributes: cut short
        if (tag < 0x10) {
            if (depth > 0 || tag == 0) return std::nullopt;
            if (tag == kEndOfAttributes) return m;
            group = tag;
            current = false;
            continue;
        }
        std::string_view name, value;
        if (!in.counted(name) || !in.counted(value)) return std::nullopt;
        if (depth > 0) {
            if (!name.empty()) return std::nullopt;  // members are named by memberAttrName values
            if (tag == kBeginCollection && ++depth > kMaxDepth) return std::nullopt;
            if (tag == kEndCollection) --depth;
            continue;
        }
        if (tag == kEndCollection || tag == kMemberName) return std::nullopt;
        if (tag == kBeginCollection) {
            depth = 1;
            value = {};
        }
        if (name.empty()) {
            if (!current) return std::nullopt;
            m.attributes.back().values.push_back({tag, std::string(value)});
        } else {
            m.attributes.push_back({group, std::string(name), {{tag, std::string(value)}}});
            current = true;
        }
    }
}

std::optional<std::int32_t> IppInteger(const IppAttribute* a) {
    if (!a) return std::nullopt;
    const IppValue& v = a->values.front();
    if ((v.tag != 0x21 && v.tag != 0x23) || v.octets.size() != 4) return std::nullopt;
    return static_cast<std::int32_t>(BigEndian(v.octets));
}

std::optional<std::string> IppString(const IppAttribute* a) {
    if (!a) return std::nullopt;
    const IppValue& v = a->values.front();
    if (v.tag >= 0x41 && v.tag <= 0x49) return v.octets;
    if (v.tag == 0x35 || v.tag == 0x36) {
        Reader in(v.octets);
        std::string_view language, text;
        if (in.counted(language) && in.counted(text)) return std::string(text);
    }
    return std::nullopt;
}

std::optional<std::int64_t> IppDateTime(const IppAttribute* a) {
    if (!a) return std::nullopt;
    const IppValue& v = a->values.front();
    if (v.tag != 0x31 || v.octets.size() != 11) return std::nullopt;
    auto at = [&](std::size_t i) { return static_cast<int>(static_cast<std::uint8_t>(v.octets[i])); };
    int year = at(0) << 8 | at(1), month = at(2), day = at(3), hour = at(4), minute = at(5), second = at(6);
    char direction = v.octets[8];
    int offHours = at(9), offMinutes = at(10);
    if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60 || at(7) > 9 ||
        (direction != '+' && direction != '-') || offHours > 14 || offMinutes > 59)
        return std::nullopt;
    std::int64_t local = DaysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second;
    std::int64_t offset = (offHours * 60 + offMinutes) * 60;
    return direction == '+' ? local - offset : local + offset;
}

}  // namespace wmi::lnx
