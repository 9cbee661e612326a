// The raw SMBIOS table: structures, their formatted areas and string sets.
#include "wmi/linux/parsers.h"

#include <string>

namespace wmi::lnx {

std::optional<int> SmbiosStructure::byteAt(std::size_t offset) const {
    if (offset >= formatted.size()) return std::nullopt;
    return static_cast<unsigned char>(formatted[offset]);
}

std::optional<int> SmbiosStructure::wordAt(std::size_t offset) const {
    if (offset + 2 > formatted.size()) return std::nullopt;
    return static_cast<unsigned char>(formatted[offset]) | (static_cast<unsigned char>(formatted[offset + 1]) << 8);
}

std::optional<std::uint32_t> SmbiosStructure::dwordAt(std::size_t offset) const {
    if (offset + 4 > formatted.size()) return std::nullopt;
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(formatted[offset + static_cast<std::size_t>(i)]);
    return v;
}

std::optional<std::uint64_t> SmbiosStructure::qwordAt(std::size_t offset) const {
    auto lo = dwordAt(offset);
    auto hi = dwordAt(offset + 4);
    if (!lo || !hi) return std::nullopt;
    return (static_cast<std::uint64_t>(*hi) << 32) | *lo;
}

std::optional<std::string> SmbiosStructure::stringAt(std::size_t offset) const {
    auto idx = byteAt(offset);
    if (!idx || *idx == 0 || static_cast<std::size_t>(*idx) > strings.size()) return std::nullopt;
    std::string s = Trim(strings[static_cast<std::size_t>(*idx) - 1]);
    if (s.empty()) return std::nullopt;
    return s;
}

std::vector<SmbiosStructure> ParseSmbios(std::string_view table) {
    std::vector<SmbiosStructure> out;
    std::size_t pos = 0;
    while (pos + 4 <= table.size()) {
        int type = static_cast<unsigned char>(table[pos]);
        std::size_t len = static_cast<unsigned char>(table[pos + 1]);
        if (len < 4 || pos + len > table.size()) break;  // a damaged table ends here
        SmbiosStructure s;
        s.type = type;
        s.handle = static_cast<unsigned char>(table[pos + 2]) | (static_cast<unsigned char>(table[pos + 3]) << 8);
        s.formatted = std::string(table.substr(pos, len));
        std::size_t p = pos + len;
        // The string set ends with a double NUL; an empty set is just "\0\0".
        if (p + 1 < table.size() && table[p] == '\0' && table[p + 1] == '\0') {
            p += 2;
        } else {
            bool closed = false;
            while (p < table.size()) {
                std::size_t z = table.find('\0', p);
                if (z == std::string_view::npos) break;
                s.strings.emplace_back(table.substr(p, z - p));
                p = z + 1;
                if (p < table.size() && table[p] == '\0') {
                    ++p;
                    closed = true;
                    break;
                }
            }
            if (!closed) break;
        }
        out.push_back(std::move(s));
        pos = p;
        if (type == 127) break;  // end-of-table
    }
    return out;
}

std::optional<std::pair<int, int>> ParseSmbiosEntryVersion(std::string_view entry) {
    auto at = [&](std::size_t i) { return static_cast<int>(static_cast<unsigned char>(entry[i])); };
    if (entry.size() >= 0x18 && entry.substr(0, 5) == "_SM3_") return std::make_pair(at(7), at(8));
    if (entry.size() >= 0x1F && entry.substr(0, 4) == "_SM_") return std::make_pair(at(6), at(7));
    return std::nullopt;
}

}  // namespace wmi::lnx
