// What a remote computer sends over SSH: a greeting, then answers. Any line
// must end as an instance, the end, the remote's own error or one
// ProtocolError; and whatever is accepted must be encoded back to the same
// objects.
#include <cstdint>
#include <string>

#include "fuzz_input.h"
#include "wmi/remote_protocol.h"

namespace rp = wmi::remote;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    rp::AnswerReader reader(1);
    std::string again;
    const wmi::ClassSchema* last = nullptr;
    std::size_t start = 0;
    bool first = true;
    while (start <= text.size()) {
        std::size_t nl = text.find('\n', start);
        std::string_view line = text.substr(start, nl == std::string_view::npos ? std::string_view::npos : nl - start);
        start = nl == std::string_view::npos ? text.size() + 1 : nl + 1;
        try {
            if (first) {
                first = false;
                rp::ParseHello(line);
                continue;
            }
            if (auto obj = reader.feed(line)) {
                if (&obj->schema() != last) rp::AppendPropertiesLine(again, 1, *(last = &obj->schema()));
                fuzz::Check(rp::AppendInstanceLine(again, 1, *obj).empty(), "an accepted instance encodes again");
                std::string one;
                rp::AppendInstanceLine(one, 1, *obj);
                rp::AnswerReader check(1);
                std::string props;
                rp::AppendPropertiesLine(props, 1, obj->schema());
                check.feed(std::string_view(props).substr(0, props.size() - 1));
                auto back = check.feed(std::string_view(one).substr(0, one.size() - 1));
                fuzz::Check(back && back->values() == obj->values(), "an instance reads back the same");
            }
        } catch (const rp::ProtocolError&) {
            return 0;
        } catch (const wmi::Error&) {
            return 0;
        }
    }
    return 0;
}
