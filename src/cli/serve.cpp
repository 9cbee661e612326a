#include "cli/serve.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <unistd.h>

#include "core/version.h"
#include "wmi/remote_protocol.h"
#include "wmi/snapshot/snapshot_detail.h"

namespace kestrane::cli {

namespace {

namespace rp = wmi::remote;
using Clock = std::chrono::steady_clock;

// Output is gathered and written in large pieces, but never held back for
// long, so the other side sees a slow class's instances as they come.
class Output {
public:
    explicit Output(int fd) : fd_(fd) {}

    std::string& buffer() { return buf_; }

    // False once the reader has gone away.
    bool maybeFlush() {
        if (buf_.size() >= 32 * 1024 || Clock::now() - last_ >= std::chrono::milliseconds(20)) return flush();
        return ok_;
    }

    bool flush() {
        std::size_t done = 0;
        while (ok_ && done < buf_.size()) {
            ssize_t n = ::write(fd_, buf_.data() + done, buf_.size() - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) ok_ = false;
            else done += static_cast<std::size_t>(n);
        }
        buf_.clear();
        last_ = Clock::now();
        return ok_;
    }

private:
    int fd_;
    std::string buf_;
    bool ok_ = true;
    Clock::time_point last_ = Clock::now();
};

// Lines of at most kMaxRequestLine bytes from a descriptor.
class LineReader {
public:
    explicit LineReader(int fd) : fd_(fd) {}

    enum Result { Line, End, TooLong };

    Result next(std::string& line) {
        while (true) {
            std::size_t nl = buf_.find('\n', scanned_);
            if (nl != std::string::npos) {
                line.assign(buf_, 0, nl);
                buf_.erase(0, nl + 1);
                scanned_ = 0;
                if (!line.empty() && line.back() == '\r') line.pop_back();
                return Line;
            }
            scanned_ = buf_.size();
            if (buf_.size() > rp::kMaxRequestLine) return TooLong;
            char chunk[16384];
            ssize_t n = ::read(fd_, chunk, sizeof chunk);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return End;
            buf_.append(chunk, static_cast<std::size_t>(n));
        }
    }

private:
    int fd_;
    std::string buf_;
    std::size_t scanned_ = 0;
};

std::string VersionText() {
    return std::to_string(kVersionMajor) + "." + std::to_string(kVersionMinor) + "." + std::to_string(kVersionRevision);
}

// Answers one class; false once the reader has gone away.
bool Answer(Output& out, wmi::Provider& provider, const rp::Request& r) {
    std::string& buf = out.buffer();
    if (!wmi::snapshot_detail::IsIdentifier(r.className)) {
        rp::AppendErrorLine(buf, r.id, wmi::MakeError(wmi::WBEM_E_INVALID_CLASS, "SWbemObjectSet"));
        return out.flush();
    }
    std::uint64_t count = 0;
    try {
        auto cursor = provider.enumerate(r.className);
        if (!cursor) throw wmi::MakeError(wmi::WBEM_E_INVALID_CLASS, "SWbemObjectSet");
        const wmi::ClassSchema* last = nullptr;
        while (auto obj = cursor->next()) {
            if (&obj->schema() != last) {
                last = &obj->schema();
                rp::AppendPropertiesLine(buf, r.id, *last);
            }
            std::string why = rp::AppendInstanceLine(buf, r.id, *obj);
            if (!why.empty())
                throw wmi::Error(wmi::WBEM_E_FAILED, "SWbemObjectSet",
                                 "Class " + obj->className() + ", instance " + std::to_string(count + 1) + ", " + why);
            ++count;
            if (!out.maybeFlush()) return false;
        }
        rp::AppendEndLine(buf, r.id, count, provider.reasons(r.className));
    } catch (const wmi::Error& e) {
        rp::AppendErrorLine(buf, r.id, e);
    } catch (const std::exception& e) {
        rp::AppendErrorLine(buf, r.id, wmi::Error(wmi::WBEM_E_FAILED, "SWbemObjectSet", e.what()));
    }
    return out.flush();
}

}  // namespace

int Serve(int in, int out, wmi::Provider& provider, const std::string& computer) {
    // A client that goes away is the end of the session, not a crash.
    std::signal(SIGPIPE, SIG_IGN);
    Output o(out);
    LineReader reader(in);
    std::string line;
    bool greeted = false;
    auto refuse = [&](const std::string& why) {
        rp::AppendErrorLine(o.buffer(), std::nullopt,
                            wmi::Error(wmi::WBEM_E_INVALID_PARAMETER, "kestrane-cli serve", "Bad request: " + why));
        o.flush();
        return 2;
    };
    while (true) {
        LineReader::Result res = reader.next(line);
        if (res == LineReader::End) return 0;
        if (res == LineReader::TooLong) return refuse("a request is too long");
        if (line.empty()) continue;
        rp::Request r;
        try {
            r = rp::ParseRequest(line);
        } catch (const rp::ProtocolError& e) {
            return refuse(e.what());
        }
        if (r.kind == rp::Request::Hello) {
            if (r.protocol != rp::kProtocolVersion) {
                rp::AppendErrorLine(
                    o.buffer(), std::nullopt,
                    wmi::Error(wmi::WBEM_E_PROVIDER_LOAD_FAILURE, "kestrane-cli serve",
                               "Kestrane " + VersionText() + " on " + computer + " speaks protocol " +
                                   std::to_string(rp::kProtocolVersion) + ", not " + std::to_string(r.protocol) +
                                   ". Install the same version of Kestrane on both computers."));
                o.flush();
                return 2;
            }
            greeted = true;
            o.buffer() += rp::HelloAnswerLine(VersionText(), computer);
            if (!o.flush()) return 0;
            continue;
        }
        if (!greeted) return refuse("a request came before the greeting");
        if (!Answer(o, provider, r)) return 0;
    }
}

}  // namespace kestrane::cli
