// The line protocol between Kestrane and `kestrane-cli serve` on a remote
// computer (docs/remote-protocol.md): one JSON object per line, values in the
// snapshot format's shapes.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "wmi/object.h"

namespace wmi::remote {

inline constexpr int kProtocolVersion = 1;
// Longest request line serve reads, and longest answer line a client reads.
inline constexpr std::size_t kMaxRequestLine = 64 * 1024;
inline constexpr std::size_t kMaxAnswerLine = 32 * 1024 * 1024;

// A line that breaks the protocol; what() says how.
class ProtocolError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// ---- Client to server ---------------------------------------------------

std::string HelloRequestLine(std::string_view version);
std::string ClassRequestLine(std::uint64_t id, std::string_view className);

struct Request {
    enum Kind { Hello, Class } kind = Hello;
    int protocol = 0;         // Hello
    std::string version;      // Hello
    std::uint64_t id = 0;     // Class
    std::string className;    // Class
};

// Reads one request line (without its newline). Throws ProtocolError.
Request ParseRequest(std::string_view line);

// ---- Server to client ---------------------------------------------------

std::string HelloAnswerLine(std::string_view version, std::string_view computer);
// The property list that the instances after it follow.
void AppendPropertiesLine(std::string& out, std::uint64_t id, const ClassSchema& schema);
// Returns what is wrong when a value does not fit its declared type, or "";
// nothing is appended then.
std::string AppendInstanceLine(std::string& out, std::uint64_t id, const Object& obj);
// The end of an answer, with why values of the class are missing where
// the provider knows ("reasons", left out when there are none, so peers that
// predate it read the line as before).
void AppendEndLine(std::string& out, std::uint64_t id, std::uint64_t count,
                   const std::vector<std::string>& reasons = {});
// An error answering a request (id), or the session as a whole (no id).
void AppendErrorLine(std::string& out, std::optional<std::uint64_t> id, const Error& e);

struct Hello {
    int protocol = 0;
    std::string version;
    std::string computer;
};

// Reads the server's hello. An error line there becomes the wmi::Error it
// carries; anything else malformed throws ProtocolError.
Hello ParseHello(std::string_view line);

// One line of an answer, parsed: the request it answers, and whether it is
// the last line of that answer (an end or an error).
struct AnswerLine {
    nlohmann::ordered_json json;
    std::uint64_t id = 0;
    bool last = false;
};

// Throws ProtocolError for a line that is too long, not a JSON object or
// without a request id.
AnswerLine ParseAnswerLine(std::string_view line);

// Reads the answer to one class request, a line at a time.
class AnswerReader {
public:
    explicit AnswerReader(std::uint64_t id) : id_(id) {}

    // An instance line gives its object; a property list gives nothing. The
    // end line sets done(). An error line throws the wmi::Error it carries,
    // unchanged; a malformed, foreign or out-of-order line throws
    // ProtocolError.
    std::optional<Object> feed(const AnswerLine& line);
    std::optional<Object> feed(std::string_view line) { return feed(ParseAnswerLine(line)); }

    bool done() const { return done_; }
    std::uint64_t count() const { return count_; }
    // The reasons the end line gave; empty from servers that send none.
    const std::vector<std::string>& reasons() const { return reasons_; }

private:
    std::vector<std::string> reasons_;
    std::uint64_t id_;
    SchemaPtr schema_;
    std::uint64_t count_ = 0;
    bool done_ = false;
};

}  // namespace wmi::remote
