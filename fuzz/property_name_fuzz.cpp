// Property names come from snapshot files and providers unchecked.
#include <cstdint>
#include <string>

#include "format/format.h"
#include "fuzz_input.h"

namespace {
std::string WithoutBlanks(std::string_view s) {
    std::string out;
    for (char c : s)
        if (c != ' ') out += c;
    return out;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view name(reinterpret_cast<const char*>(data), size);
    std::string label = kestrane::FormatPropertyName(name);
    // The label only ever adds blanks between words.
    fuzz::Check(label.size() >= name.size(), "label never shrinks");
    fuzz::Check(label.size() <= 2 * name.size(), "at most one blank per letter");
    fuzz::Check(WithoutBlanks(label) == WithoutBlanks(name), "label keeps every other character");
    return 0;
}
