// The fast JSON reader against nlohmann's parser, whose place it takes on
// the happy path: a text the fast one accepts, nlohmann accepts with the
// same events; a text nlohmann refuses, the fast one refuses too.
#include <cstdint>
#include <cstring>
#include <string>

#include <nlohmann/json.hpp>

#include "fuzz_input.h"
#include "wmi/snapshot/json_reader.h"

namespace {

using Json = nlohmann::ordered_json;

// Every event as a line; numbers keep their kind, doubles their bits. Strings
// are taken away, as the snapshot loader takes them.
class Recorder : public nlohmann::json_sax<Json> {
public:
    std::string log;

    bool null() override { return add("null"); }
    bool boolean(bool v) override { return add(v ? "true" : "false"); }
    bool number_integer(number_integer_t v) override { return add("i" + std::to_string(v)); }
    bool number_unsigned(number_unsigned_t v) override { return add("u" + std::to_string(v)); }
    bool number_float(number_float_t v, const string_t& text) override {
        std::uint64_t bits;
        std::memcpy(&bits, &v, sizeof bits);
        return add("d" + std::to_string(bits) + " " + text);
    }
    bool string(string_t& v) override { return add("s" + take(v)); }
    bool key(string_t& v) override { return add("k" + take(v)); }
    bool binary(binary_t&) override { fuzz::Fail("binary event from JSON text"); }
    bool start_object(std::size_t n) override { return add("{" + std::to_string(n)); }
    bool end_object() override { return add("}"); }
    bool start_array(std::size_t n) override { return add("[" + std::to_string(n)); }
    bool end_array() override { return add("]"); }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override { return false; }

private:
    bool add(const std::string& event) {
        log += event;
        log += '\n';
        return true;
    }
    static std::string take(string_t& v) {
        std::string s = std::move(v);
        return std::to_string(s.size()) + ":" + s;
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const char* text = reinterpret_cast<const char*>(data);
    Recorder slow, fast;
    const bool slowAccepts = Json::sax_parse(text, text + size, &slow);
    const bool fastAccepts = wmi::json::Read(std::string_view(text, size), fast);
    if (fastAccepts) {
        fuzz::Check(slowAccepts, "the fast reader accepts what nlohmann refuses");
        fuzz::Check(fast.log == slow.log, "the fast reader's events differ from nlohmann's");
    }
    return 0;
}
