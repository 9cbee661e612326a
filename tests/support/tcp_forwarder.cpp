#include "support/tcp_forwarder.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdint>
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

struct Chunk {
    std::vector<char> bytes;
    std::size_t sent = 0;
    Clock::time_point due;
};

struct Direction {
    int from = -1;
    int to = -1;
    std::deque<Chunk> queue;
    std::size_t queued = 0;
    bool eof = false;       // `from` sends no more
    bool shutDown = false;  // `to` was told so
    bool blocked = false;   // `to` is full: wait for POLLOUT

    bool wantsRead() const { return !eof && queued < kMaxQueued; }
};

struct Connection {
    int client = -1;
    int server = -1;
    Direction up;    // client -> server
    Direction down;  // server -> client
    bool answered = true;  // the client's next data starts a new round trip
    bool dead = false;

    Connection(int c, int s) : client(c), server(s) {
        up.from = down.to = c;
        up.to = down.from = s;
    }
    ~Connection() {
        ::shutdown(client, SHUT_RDWR);
        ::shutdown(server, SHUT_RDWR);
        ::close(client);
        ::close(server);
    }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;
};

void NoDelay(int fd) {
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

sockaddr_in Loopback(int port) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return addr;
}

int ConnectTarget(int port) {
    const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (s < 0) return -1;
    const sockaddr_in addr = Loopback(port);
    if (::connect(s, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
        // Loopback answers at once unless the backlog is full; don't wait long for that.
        pollfd p{s, POLLOUT, 0};
        int err = 0;
        socklen_t len = sizeof err;
        if (errno != EINPROGRESS || ::poll(&p, 1, 2000) != 1 ||
            ::getsockopt(s, SOL_SOCKET, SO_ERROR, &err, &len) != 0 || err != 0) {
            ::close(s);
            return -1;
        }
    }
    NoDelay(s);
    return s;
}

}  // namespace

struct TcpForwarder::Impl {
    int targetPort;
    std::chrono::microseconds delay;
    int listenFd = -1;
    int wakeFd = -1;
    int port = 0;
    std::atomic<long> roundTrips{0};
    std::atomic<bool> stopping{false};

    std::mutex mutex;
    std::condition_variable cutDone;
    std::uint64_t cutsRequested = 0;  // guarded by mutex
    std::uint64_t cutsDone = 0;       // guarded by mutex

    // Owned by the relay thread alone.
    std::vector<std::unique_ptr<Connection>> connections;

    std::thread thread;

    void wake() {
        const std::uint64_t one = 1;
        (void)!::write(wakeFd, &one, sizeof one);
    }

    void acceptAll() {
        for (;;) {
            const int c = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
            if (c < 0) {
                if (errno == EINTR || errno == ECONNABORTED) continue;
                return;
            }
            NoDelay(c);
            const int s = ConnectTarget(targetPort);
            if (s < 0) {
                ::close(c);  // the client sees the refusal as an immediate close
                continue;
            }
            connections.push_back(std::make_unique<Connection>(c, s));
        }
    }

    void readInto(Connection& conn, Direction& dir) {
        std::vector<char> buf(64 * 1024);
        const ssize_t n = ::recv(dir.from, buf.data(), buf.size(), MSG_DONTWAIT);
        if (n > 0) {
            if (&dir == &conn.up && conn.answered) {
                roundTrips.fetch_add(1, std::memory_order_relaxed);
                conn.answered = false;
            }
            buf.resize(static_cast<std::size_t>(n));
            dir.queued += buf.size();
            dir.queue.push_back(Chunk{std::move(buf), 0, Clock::now() + delay});
        } else if (n == 0) {
            dir.eof = true;
        } else if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
            conn.dead = true;
        }
    }

    void flush(Connection& conn, Direction& dir, Clock::time_point now) {
        while (!dir.queue.empty() && !dir.blocked) {
            Chunk& c = dir.queue.front();
            if (c.due > now) break;
            const ssize_t n =
                ::send(dir.to, c.bytes.data() + c.sent, c.bytes.size() - c.sent, MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n < 0) {
                if (errno == EAGAIN || errno == EWOULDBLOCK) {
                    dir.blocked = true;
                } else if (errno != EINTR) {
                    conn.dead = true;
                    return;
                }
                continue;
            }
            if (&dir == &conn.down) conn.answered = true;
            c.sent += static_cast<std::size_t>(n);
            dir.queued -= static_cast<std::size_t>(n);
            if (c.sent == c.bytes.size()) dir.queue.pop_front();
        }
        if (dir.eof && dir.queue.empty() && !dir.shutDown) {
            ::shutdown(dir.to, SHUT_WR);
            dir.shutDown = true;
        }
    }

    void cutAllNow() {
        acceptAll();  // connections the kernel already completed count as relayed
        connections.clear();
    }

    void run() {
        std::vector<pollfd> fds;
        while (!stopping.load()) {
            const auto now = Clock::now();
            auto next = Clock::time_point::max();
            for (auto& conn : connections) {
                for (Direction* dir : {&conn->up, &conn->down}) {
                    flush(*conn, *dir, now);
                    if (!dir->blocked && !dir->queue.empty()) next = std::min(next, dir->queue.front().due);
                }
            }
            std::erase_if(connections, [](const auto& c) { return c->dead || (c->up.shutDown && c->down.shutDown); });

            fds.clear();
            fds.push_back({wakeFd, POLLIN, 0});
            fds.push_back({listenFd, POLLIN, 0});
            for (auto& conn : connections) {
                const short client = static_cast<short>((conn->up.wantsRead() ? POLLIN : 0) |
                                                        (conn->down.blocked ? POLLOUT : 0));
                const short server = static_cast<short>((conn->down.wantsRead() ? POLLIN : 0) |
                                                        (conn->up.blocked ? POLLOUT : 0));
                // An fd we want nothing from is left out, or its POLLHUP would spin the loop.
                fds.push_back({client ? conn->client : -1, client, 0});
                fds.push_back({server ? conn->server : -1, server, 0});
            }
            timespec timeout{};
            timespec* wait = nullptr;
            if (next != Clock::time_point::max()) {
                const auto left = std::max(Clock::duration::zero(), next - Clock::now());
                const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
                timeout.tv_sec = static_cast<time_t>(ns / 1000000000);
                timeout.tv_nsec = static_cast<long>(ns % 1000000000);
                wait = &timeout;
            }
            if (::ppoll(fds.data(), fds.size(), wait, nullptr) < 0) {
                if (errno == EINTR) continue;
                break;
            }

            const std::size_t polled = connections.size();
            if (fds[0].revents) {
                std::uint64_t count;
                (void)!::read(wakeFd, &count, sizeof count);
                std::lock_guard lock(mutex);
                if (cutsDone < cutsRequested) {
                    cutAllNow();
                    cutsDone = cutsRequested;
                    cutDone.notify_all();
                    continue;  // the indexes into fds are stale now
                }
            }
            if (fds[1].revents) acceptAll();
            for (std::size_t i = 0; i < polled; ++i) {
                Connection& conn = *connections[i];
                const short client = fds[2 + 2 * i].revents;
                const short server = fds[3 + 2 * i].revents;
                // A hang-up or error on a full socket: the next send reports it.
                if (client & (POLLOUT | POLLHUP | POLLERR)) conn.down.blocked = false;
                if (server & (POLLOUT | POLLHUP | POLLERR)) conn.up.blocked = false;
                // Errors and hang-ups on the reading side surface through recv.
                if ((client & (POLLIN | POLLHUP | POLLERR)) && conn.up.wantsRead()) readInto(conn, conn.up);
                if ((server & (POLLIN | POLLHUP | POLLERR)) && conn.down.wantsRead() && !conn.dead)
                    readInto(conn, conn.down);
            }
        }
        connections.clear();
        std::lock_guard lock(mutex);
        cutsDone = cutsRequested;  // no one waits for a cut that can no longer happen
        cutDone.notify_all();
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
    impl_->wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (impl_->wakeFd < 0) {
        const int e = errno;
        ::close(impl_->listenFd);
        throw std::system_error(e, std::generic_category(), "TcpForwarder eventfd");
    }
    impl_->thread = std::thread([impl = impl_.get()] { impl->run(); });
}

TcpForwarder::~TcpForwarder() {
    impl_->stopping.store(true);
    impl_->wake();
    impl_->thread.join();
    ::close(impl_->listenFd);
    ::close(impl_->wakeFd);
}

int TcpForwarder::port() const { return impl_->port; }

long TcpForwarder::roundTrips() const { return impl_->roundTrips.load(); }

void TcpForwarder::resetCounters() { impl_->roundTrips.store(0); }

void TcpForwarder::cutAll() {
    std::unique_lock lock(impl_->mutex);
    const std::uint64_t ticket = ++impl_->cutsRequested;
    impl_->wake();
    impl_->cutDone.wait(lock, [&] { return impl_->cutsDone >= ticket; });
}

}  // namespace kestrane::testing
