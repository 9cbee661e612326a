// A cursor that produces its instances on worker threads ahead of the reader,
// in the order of its keys, so that the kernel's work of reading one /proc
// entry overlaps the reader's formatting of the previous ones. A reader
// that finds its next instance not ready produces the next unclaimed one.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>

#include "wmi/linux/provider_core.h"

namespace wmi::lnx {

class ReadAheadCursor : public InstanceCursor {
public:
    // The producer is called from several threads at once: it must only read
    // shared state. At most `window` keys are produced ahead of the reader.
    ReadAheadCursor(std::vector<std::string> keys, LazyCursor::Producer produce, unsigned workers,
                    std::size_t window = 64);
    ~ReadAheadCursor() override;
    std::optional<Object> next() override;

private:
    struct Slot {
        bool done = false;
        std::optional<Object> object;
        std::exception_ptr error;
    };
    void work();
    // Produces the next unclaimed key into its slot; called and returns locked.
    void produceClaimed(std::unique_lock<std::mutex>& lock);

    std::vector<std::string> keys_;
    LazyCursor::Producer produce_;
    unsigned workers_;
    std::size_t window_;
    std::vector<Slot> slots_;
    std::mutex mutex_;
    std::condition_variable ready_, room_;
    std::size_t claimed_ = 0, read_ = 0;  // guarded by mutex_
    bool stop_ = false;
    bool started_ = false;
    std::vector<std::thread> threads_;
};

// A LazyCursor, or a ReadAheadCursor where there are enough keys and
// processors for the threads to pay for themselves.
std::unique_ptr<InstanceCursor> MakeReadAheadCursor(std::vector<std::string> keys, LazyCursor::Producer produce);

}  // namespace wmi::lnx
