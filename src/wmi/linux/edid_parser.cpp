// The EDID 1.x base block of a monitor.
#include "wmi/linux/parsers.h"

#include <cstring>

namespace wmi::lnx {

std::optional<Edid> ParseEdid(std::string_view bytes) {
    static const unsigned char kHeader[8] = {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};
    if (bytes.size() < 128 || std::memcmp(bytes.data(), kHeader, 8) != 0) return std::nullopt;
    unsigned sum = 0;
    for (std::size_t i = 0; i < 128; ++i) sum += static_cast<unsigned char>(bytes[i]);
    if (sum % 256 != 0) return std::nullopt;
    auto b = [&](std::size_t i) { return static_cast<unsigned>(static_cast<unsigned char>(bytes[i])); };
    Edid e;
    unsigned m = (b(8) << 8) | b(9);
    for (int shift : {10, 5, 0}) e.manufacturerId += static_cast<char>('A' - 1 + ((m >> shift) & 0x1F));
    e.productCode = b(10) | (b(11) << 8);
    e.serialNumber = b(12) | (b(13) << 8) | (b(14) << 16) | (b(15) << 24);
    e.week = static_cast<int>(b(16));
    e.year = static_cast<int>(b(17)) + 1990;
    e.versionMajor = static_cast<int>(b(18));
    e.versionMinor = static_cast<int>(b(19));
    e.digital = (b(20) & 0x80) != 0;
    e.widthCm = static_cast<int>(b(21));
    e.heightCm = static_cast<int>(b(22));
    for (std::size_t d = 54; d + 18 <= 126; d += 18) {
        unsigned clock = b(d) | (b(d + 1) << 8);
        if (clock != 0) {
            if (e.preferredWidth == 0) {  // the first detailed timing is the preferred mode
                e.preferredWidth = static_cast<int>(b(d + 2) | ((b(d + 4) & 0xF0) << 4));
                e.preferredHeight = static_cast<int>(b(d + 5) | ((b(d + 7) & 0xF0) << 4));
            }
            continue;
        }
        unsigned tag = b(d + 3);
        if (tag != 0xFC && tag != 0xFF) continue;
        std::string text(bytes.substr(d + 5, 13));
        std::size_t nl = text.find('\n');
        if (nl != std::string::npos) text.resize(nl);
        text = Trim(text);
        if (text.empty()) continue;
        if (tag == 0xFC) e.monitorName = text;
        else e.serialText = text;
    }
    return e;
}

}  // namespace wmi::lnx
