// Calls that may block for minutes (statvfs of a network file system whose
// server has gone away) run on a thread of their own and are waited for only
// a short while.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

namespace wmi::lnx {

// The call's answer, or nothing when it has not come within limit. A call
// given up on finishes (or stays blocked) on its detached thread; it must
// own everything it uses.
template <class T>
std::optional<T> CallWithin(std::function<std::optional<T>()> call, std::chrono::milliseconds limit) {
    struct Shared {
        std::mutex m;
        std::condition_variable cv;
        bool done = false;
        std::optional<T> answer;
    };
    auto shared = std::make_shared<Shared>();
    try {
        std::thread([shared, call = std::move(call)] {
            auto a = call();
            std::lock_guard<std::mutex> lock(shared->m);
            shared->answer = std::move(a);
            shared->done = true;
            shared->cv.notify_one();
        }).detach();
    } catch (const std::system_error&) {
        return std::nullopt;  // no thread to be had: an unknown answer, not a crash
    }
    std::unique_lock<std::mutex> lock(shared->m);
    if (!shared->cv.wait_for(lock, limit, [&] { return shared->done; })) return std::nullopt;
    return std::move(shared->answer);
}

}  // namespace wmi::lnx
