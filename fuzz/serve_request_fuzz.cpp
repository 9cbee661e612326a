// What `kestrane-cli serve` reads from whoever runs it: a request is a
// greeting or a class name, and anything else is one ProtocolError.
#include <cstdint>
#include <string>

#include "fuzz_input.h"
#include "wmi/remote_protocol.h"

namespace rp = wmi::remote;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view line(reinterpret_cast<const char*>(data), size);
    try {
        rp::Request r = rp::ParseRequest(line);
        if (r.kind == rp::Request::Class) {
            std::string again = rp::ClassRequestLine(r.id, r.className);
            rp::Request back = rp::ParseRequest(std::string_view(again).substr(0, again.size() - 1));
            fuzz::Check(back.kind == rp::Request::Class && back.id == r.id, "a class request reads back the same");
        }
    } catch (const rp::ProtocolError&) {
    }
    return 0;
}
