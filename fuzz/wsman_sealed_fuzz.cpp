// The multipart/encrypted framing of sealed WS-Management messages: any body
// is refused or split into parts that lie inside it, and what is framed
// reads back the same.
#include <cstdint>
#include <string>

#include "fuzz_input.h"
#include "wmi/wsman/soap.h"

namespace ws = wmi::wsman;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view body(reinterpret_cast<const char*>(data), size);
    if (auto parts = ws::ParseSealedBody(body)) {
        fuzz::Check(parts->header.size() + parts->data.size() <= size, "the parts lie inside the body");
        std::string again =
            ws::SealedBody("application/HTTP-SPNEGO-session-encrypted", parts->length, parts->header, parts->data);
        auto back = ws::ParseSealedBody(again);
        fuzz::Check(back && back->header == parts->header && back->data == parts->data && back->length == parts->length,
                    "framing reads back the same");
    }
    return 0;
}
