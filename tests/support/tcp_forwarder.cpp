#include "support/tcp_forwarder.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace kestrane::testing {

namespace {

using Clock = std::chrono::steady_clock;

// Past this much held-back data a direction stops reading, so the sender feels
// back-pressure instead of the relay buffering without bound.
constexpr std::size_t kMaxQueued = 4 << 20;

sockaddr_in Loopback(int port) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return addr;
}

void NoDelay(int fd) {
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

// One connection: a reader and a writer thread each way, so that a held-back
// chunk never stops the reading behind it.
struct Link {
    int fds[2];  // client, server
    std::atomic<bool> answered{true};  // the client's next data starts a new round trip
    std::mutex mutex;
    std::condition_variable changed;
    struct Chunk {
        std::vector<char> bytes;  // empty: the end of the stream
        Clock::time_point due;
    };
    std::deque<Chunk> queues[2];  // [0] client -> server, [1] server -> client
    std::size_t queued[2] = {0, 0};
    bool stopping = false;
    std::vector<std::thread> threads;

    Link(int client, int server) : fds{client, server} {}
    ~Link() {
        cut();
        {
            std::lock_guard lock(mutex);
            stopping = true;
        }
        changed.notify_all();
        for (auto& t : threads) t.join();
        ::close(fds[0]);
        ::close(fds[1]);
    }
    void cut() {
        ::shutdown(fds[0], SHUT_RDWR);
        ::shutdown(fds[1], SHUT_RDWR);
    }

    void read(int dir, std::chrono::microseconds delay, std::atomic<long>& roundTrips) {
        for (;;) {
            std::vector<char> buf(64 * 1024);
            const ssize_t n = ::recv(fds[dir], buf.data(), buf.size(), 0);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) cut();
            buf.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
            if (dir == 0 && n > 0 && answered.exchange(false)) roundTrips.fetch_add(1);
            std::unique_lock lock(mutex);
            changed.wait(lock, [&] { return stopping || queued[dir] < kMaxQueued; });
            queued[dir] += buf.size();
            queues[dir].push_back({std::move(buf), Clock::now() + delay});
            changed.notify_all();
            if (n <= 0 || stopping) return;
        }
    }

    void write(int dir) {
        const int to = fds[1 - dir];
        for (;;) {
            std::unique_lock lock(mutex);
            changed.wait(lock, [&] { return stopping || !queues[dir].empty(); });
            if (stopping) return;
            const Clock::time_point due = queues[dir].front().due;
            if (changed.wait_until(lock, due, [&] { return stopping; })) return;
            Chunk c = std::move(queues[dir].front());
            queues[dir].pop_front();
            queued[dir] -= c.bytes.size();
            changed.notify_all();
            lock.unlock();
            if (c.bytes.empty()) {
                ::shutdown(to, SHUT_WR);
                return;
            }
            // Before the bytes go out: the client may answer them before send() returns.
            if (dir == 1) answered = true;
            for (std::size_t sent = 0; sent < c.bytes.size();) {
                const ssize_t n = ::send(to, c.bytes.data() + sent, c.bytes.size() - sent, MSG_NOSIGNAL);
                if (n < 0 && errno == EINTR) continue;
                if (n < 0) {
                    cut();
                    return;
                }
                sent += static_cast<std::size_t>(n);
            }
        }
    }
};

}  // namespace

struct TcpForwarder::Impl {
    int targetPort;
    std::chrono::microseconds delay;
    int listenFd = -1;
    int port = 0;
    std::atomic<long> roundTrips{0};
    std::atomic<bool> stopping{false};
    std::mutex mutex;  // guards links and taking connections off the backlog
    std::vector<std::unique_ptr<Link>> links;
    std::thread acceptor;

    int connectTarget() {
        const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const sockaddr_in addr = Loopback(targetPort);
        if (s >= 0 && ::connect(s, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0) {
            NoDelay(s);
            return s;
        }
        if (s >= 0) ::close(s);
        return -1;
    }

    // Takes every connection the kernel has completed; with `relay` false
    // each is closed at once.
    void acceptAll(bool relay) {
        for (int c; (c = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC)) >= 0;) {
            const int s = relay ? connectTarget() : -1;
            if (s < 0) {
                ::close(c);  // the client sees the refusal as an immediate close
                continue;
            }
            NoDelay(c);
            auto& link = *links.emplace_back(std::make_unique<Link>(c, s));
            for (int dir : {0, 1}) {
                link.threads.emplace_back([&link, dir, this] { link.read(dir, delay, roundTrips); });
                link.threads.emplace_back([&link, dir] { link.write(dir); });
            }
        }
    }

    void run() {
        while (!stopping) {
            pollfd p{listenFd, POLLIN, 0};
            if (::poll(&p, 1, 50) > 0) {
                std::lock_guard lock(mutex);
                acceptAll(true);
            }
        }
    }
};

TcpForwarder::TcpForwarder(int targetPort, std::chrono::microseconds oneWayDelay) : impl_(std::make_unique<Impl>()) {
    impl_->targetPort = targetPort;
    impl_->delay = oneWayDelay;
    impl_->listenFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (impl_->listenFd < 0) throw std::system_error(errno, std::generic_category(), "TcpForwarder socket");
    sockaddr_in addr = Loopback(0);
    socklen_t len = sizeof addr;
    if (::bind(impl_->listenFd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(impl_->listenFd, 64) != 0 ||
        ::getsockname(impl_->listenFd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        const int e = errno;
        ::close(impl_->listenFd);
        throw std::system_error(e, std::generic_category(), "TcpForwarder listen");
    }
    impl_->port = ntohs(addr.sin_port);
    impl_->acceptor = std::thread([impl = impl_.get()] { impl->run(); });
}

TcpForwarder::~TcpForwarder() {
    impl_->stopping = true;
    impl_->acceptor.join();
    impl_->links.clear();
    ::close(impl_->listenFd);
}

int TcpForwarder::port() const { return impl_->port; }

long TcpForwarder::roundTrips() const { return impl_->roundTrips.load(); }

void TcpForwarder::resetCounters() { impl_->roundTrips.store(0); }

void TcpForwarder::cutAll() {
    std::lock_guard lock(impl_->mutex);
    impl_->acceptAll(false);
    for (auto& link : impl_->links) link->cut();
    impl_->links.clear();
}

}  // namespace kestrane::testing
