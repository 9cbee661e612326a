// Every text the list shows (from any computer) ends up in the export.
#include <cctype>
#include <cstdint>
#include <string>

#include "export/html_export.h"
#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    std::string out = kestrane::EscapeForExport(text);
    for (std::size_t i = 0; i < out.size(); ++i) {
        char c = out[i];
        fuzz::Check(c != '<' && c != '>' && c != '"', "markup characters are escaped");
        if (c != '&') continue;
        std::string_view tail = std::string_view(out).substr(i);
        if (tail.starts_with("&amp;") || tail.starts_with("&lt;") || tail.starts_with("&gt;") ||
            tail.starts_with("&quot;"))
            continue;
        fuzz::Check(tail.starts_with("&#"), "a bare ampersand is an entity");
        std::size_t j = 2;
        while (j < tail.size() && std::isdigit(static_cast<unsigned char>(tail[j]))) ++j;
        fuzz::Check(j > 2 && j < tail.size() && tail[j] == ';', "a numeric reference is complete");
    }
    return 0;
}
