// /proc/interrupts, /proc/dma, /proc/ioports, /proc/iomem, /proc/bus/input/devices
// and /proc/asound/cards.
#include "wmi/linux/parsers.h"

namespace wmi::lnx {

std::vector<IrqLine> ParseInterrupts(std::string_view text) {
    std::vector<IrqLine> out;
    auto lines = SplitLines(text);
    if (lines.empty()) return out;
    std::size_t cpus = SplitWhitespace(lines[0]).size();
    for (std::size_t n = 1; n < lines.size(); ++n) {
        const std::string& line = lines[n];
        std::size_t colon = line.find(':');
        if (colon == std::string::npos) continue;
        IrqLine l;
        l.irq = Trim(std::string_view(line).substr(0, colon));
        std::string_view rest = std::string_view(line).substr(colon + 1);
        std::size_t i = 0;
        for (std::size_t c = 0; c < cpus; ++c) {
            while (i < rest.size() && rest[i] == ' ') ++i;
            std::size_t j = i;
            while (j < rest.size() && rest[j] >= '0' && rest[j] <= '9') ++j;
            if (j == i) break;
            l.counts.push_back(ParseUInt(rest.substr(i, j - i)).value_or(0));
            i = j;
        }
        l.description = Trim(rest.substr(i));
        out.push_back(std::move(l));
    }
    return out;
}

std::vector<DmaLine> ParseDma(std::string_view text) {
    std::vector<DmaLine> out;
    for (const auto& line : SplitLines(text)) {
        std::size_t colon = line.find(':');
        if (colon == std::string::npos) continue;
        auto ch = ParseInt(std::string_view(line).substr(0, colon));
        if (!ch) continue;
        out.push_back({static_cast<int>(*ch), Trim(std::string_view(line).substr(colon + 1))});
    }
    return out;
}

std::vector<ResourceRange> ParseResourceTree(std::string_view text) {
    std::vector<ResourceRange> out;
    for (const auto& line : SplitLines(text)) {
        std::size_t indent = 0;
        while (indent < line.size() && line[indent] == ' ') ++indent;
        std::size_t dash = line.find('-', indent);
        std::size_t colon = line.find(" : ", indent);
        if (dash == std::string::npos || colon == std::string::npos || dash > colon) continue;
        auto a = ParseUInt(std::string_view(line).substr(indent, dash - indent), 16);
        auto b = ParseUInt(std::string_view(line).substr(dash + 1, colon - dash - 1), 16);
        if (!a || !b) continue;
        out.push_back({*a, *b, Trim(std::string_view(line).substr(colon + 3)), static_cast<int>(indent / 2)});
    }
    return out;
}

std::vector<InputDevice> ParseInputDevices(std::string_view text) {
    std::vector<InputDevice> out;
    InputDevice cur;
    bool any = false;
    auto flush = [&] {
        if (any) out.push_back(std::move(cur));
        cur = {};
        any = false;
    };
    for (const auto& line : SplitLines(text)) {
        if (line.size() < 3 || line[1] != ':') {
            flush();
            continue;
        }
        any = true;
        std::string_view body = std::string_view(line).substr(3);
        switch (line[0]) {
        case 'I':
            for (const auto& w : SplitWhitespace(body)) {
                std::size_t eq = w.find('=');
                if (eq == std::string::npos) continue;
                std::string k = w.substr(0, eq), v = w.substr(eq + 1);
                if (k == "Bus") cur.bus = v;
                else if (k == "Vendor") cur.vendor = v;
                else if (k == "Product") cur.product = v;
                else if (k == "Version") cur.version = v;
            }
            break;
        case 'N': {
            std::string v = Trim(body);
            if (StartsWith(v, "Name=")) v = v.substr(5);
            if (v.size() >= 2 && v.front() == '"' && v.back() == '"') v = v.substr(1, v.size() - 2);
            cur.name = v;
            break;
        }
        case 'P':
            if (StartsWith(Trim(body), "Phys=")) cur.phys = Trim(body).substr(5);
            break;
        case 'S':
            if (StartsWith(Trim(body), "Sysfs=")) cur.sysfs = Trim(body).substr(6);
            break;
        case 'H': {
            std::string v = Trim(body);
            if (StartsWith(v, "Handlers=")) cur.handlers = SplitWhitespace(std::string_view(v).substr(9));
            break;
        }
        case 'B': {
            std::string v = Trim(body);
            std::size_t eq = v.find('=');
            if (eq != std::string::npos) cur.bits[v.substr(0, eq)] = v.substr(eq + 1);
            break;
        }
        default:
            break;
        }
    }
    flush();
    return out;
}

std::vector<SoundCard> ParseAsoundCards(std::string_view text) {
    std::vector<SoundCard> out;
    auto lines = SplitLines(text);
    for (std::size_t n = 0; n < lines.size(); ++n) {
        const std::string& line = lines[n];
        // " 0 [PCH            ]: HDA-Intel - HDA Intel PCH"
        std::size_t open = line.find('[');
        std::size_t close = line.find("]:");
        if (open == std::string::npos || close == std::string::npos || close < open) continue;
        auto idx = ParseInt(std::string_view(line).substr(0, open));
        if (!idx) continue;
        SoundCard c;
        c.index = static_cast<int>(*idx);
        c.id = Trim(std::string_view(line).substr(open + 1, close - open - 1));
        std::string rest = Trim(std::string_view(line).substr(close + 2));
        std::size_t dash = rest.find(" - ");
        c.driver = Trim(std::string_view(rest).substr(0, dash));
        if (n + 1 < lines.size() && !lines[n + 1].empty() && lines[n + 1].find("]:") == std::string::npos)
            c.name = Trim(lines[n + 1]);
        else if (dash != std::string::npos)
            c.name = Trim(std::string_view(rest).substr(dash + 3));
        out.push_back(std::move(c));
    }
    return out;
}

}  // namespace wmi::lnx
