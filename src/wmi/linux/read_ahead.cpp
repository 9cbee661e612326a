#include "wmi/linux/read_ahead.h"

#include <algorithm>
#include <system_error>

#ifdef __linux__
#include <sched.h>
#endif

namespace wmi::lnx {

ReadAheadCursor::ReadAheadCursor(std::vector<std::string> keys, LazyCursor::Producer produce, unsigned workers,
                                 std::size_t window)
    : keys_(std::move(keys)), produce_(std::move(produce)), workers_(std::max(1u, workers)),
      window_(std::max<std::size_t>(1, window)), slots_(keys_.size()) {}

ReadAheadCursor::~ReadAheadCursor() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    room_.notify_all();
    for (auto& t : threads_) t.join();
}

void ReadAheadCursor::produceClaimed(std::unique_lock<std::mutex>& lock) {
    std::size_t i = claimed_++;
    lock.unlock();
    Slot s;
    try {
        s.object = produce_(keys_[i]);
    } catch (...) {
        s.error = std::current_exception();
    }
    s.done = true;
    lock.lock();
    slots_[i] = std::move(s);
    if (i == read_) ready_.notify_one();
}

void ReadAheadCursor::work() {
#ifdef __linux__
    // A descriptor table of its own: the files a worker opens are its own,
    // and the kernel then neither takes the table's lock against the other
    // threads nor counts references for each read (half the processor time
    // of a listing is opening, reading and closing). The copies of the
    // program's descriptors it holds are let go when the listing ends.
    ::unshare(CLONE_FILES);
#endif
    std::unique_lock lock(mutex_);
    while (true) {
        room_.wait(lock, [&] { return stop_ || claimed_ >= keys_.size() || claimed_ < read_ + window_; });
        if (stop_ || claimed_ >= keys_.size()) return;
        produceClaimed(lock);
    }
}

std::optional<Object> ReadAheadCursor::next() {
    // Threads start at the first read: a cursor opened and dropped costs none.
    if (!started_) {
        started_ = true;
        unsigned n = static_cast<unsigned>(std::min<std::size_t>(workers_, keys_.size()));
        try {
            for (unsigned i = 0; i < n; ++i) threads_.emplace_back([this] { work(); });
        } catch (const std::system_error&) {
            // Fewer threads, or none: then the reader produces its own.
        }
    }
    if (threads_.empty()) {
        while (read_ < keys_.size())
            if (auto o = produce_(keys_[read_++])) return o;
        return std::nullopt;
    }
    std::unique_lock lock(mutex_);
    while (read_ < keys_.size()) {
        // Rather than sleep until a worker has the next row, the reader (the
        // quicker side) produces the next unclaimed key itself: a wait is
        // two context switches, and there were a thousand a listing.
        if (!slots_[read_].done && claimed_ < keys_.size() && claimed_ < read_ + window_) {
            produceClaimed(lock);
            continue;
        }
        ready_.wait(lock, [&] { return slots_[read_].done; });
        Slot s = std::move(slots_[read_]);
        slots_[read_] = Slot{};
        ++read_;
        // Workers wait for half the window to drain, not for every row.
        if (claimed_ < keys_.size() && claimed_ == read_ + window_ / 2) room_.notify_all();
        // As a LazyCursor, a failed key is reported once and the next read
        // goes on with the key after it.
        if (s.error) std::rethrow_exception(s.error);
        if (s.object) return std::move(s.object);
    }
    return std::nullopt;
}

std::unique_ptr<InstanceCursor> MakeReadAheadCursor(std::vector<std::string> keys, LazyCursor::Producer produce) {
    unsigned cpus = std::thread::hardware_concurrency();
    if (cpus < 2 || keys.size() < 16) return std::make_unique<LazyCursor>(std::move(keys), std::move(produce));
    return std::make_unique<ReadAheadCursor>(std::move(keys), std::move(produce), std::min(cpus, 4u));
}

}  // namespace wmi::lnx
