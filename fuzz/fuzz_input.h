// A small reader that turns fuzz bytes into structured values; it works
// with both libFuzzer and the plain replay driver (no clang-only headers).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

namespace fuzz {

class Input {
public:
    Input(const std::uint8_t* data, std::size_t size) : p_(data), n_(size) {}

    bool empty() const { return n_ == 0; }
    std::size_t left() const { return n_; }

    std::uint8_t byte() {
        if (n_ == 0) return 0;
        --n_;
        return *p_++;
    }

    template <typename T>
    T integer() {
        T v{};
        unsigned char buf[sizeof(T)] = {};
        std::size_t k = n_ < sizeof(T) ? n_ : sizeof(T);
        std::memcpy(buf, p_, k);
        p_ += k;
        n_ -= k;
        std::memcpy(&v, buf, sizeof(T));
        return v;
    }

    // A piece whose length is one byte read first (capped by what is left).
    std::string_view piece() {
        std::size_t len = byte();
        return take(len);
    }

    // Up to the next separator byte (consumed) or the end.
    std::string_view until(char sep) {
        const void* hit = n_ ? std::memchr(p_, sep, n_) : nullptr;
        std::size_t len = hit ? static_cast<std::size_t>(static_cast<const std::uint8_t*>(hit) - p_) : n_;
        std::string_view out = take(len);
        if (hit) byte();
        return out;
    }

    std::string_view rest() { return take(n_); }

private:
    std::string_view take(std::size_t len) {
        if (len > n_) len = n_;
        std::string_view out(reinterpret_cast<const char*>(p_), len);
        p_ += len;
        n_ -= len;
        return out;
    }

    const std::uint8_t* p_;
    std::size_t n_;
};

// A broken invariant: report it and abort, so both drivers count a crash.
[[noreturn]] inline void Fail(const char* what) {
    std::fprintf(stderr, "fuzz invariant broken: %s\n", what);
    std::abort();
}

inline void Check(bool ok, const char* what) {
    if (!ok) Fail(what);
}

}  // namespace fuzz
