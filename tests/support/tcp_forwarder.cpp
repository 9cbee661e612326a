#include "support/tcp_forwarder.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace kestrane::testing {

namespace {

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

// One relayed connection; its sockets close when both directions are done.
struct Link {
    int client, server;
    std::atomic<bool> answered{true};  // the client's next data starts a new round trip
    Link(int c, int s) : client(c), server(s) {}
    ~Link() {
        ::close(client);
        ::close(server);
    }
    void cut() const {
        ::shutdown(client, SHUT_RDWR);
        ::shutdown(server, SHUT_RDWR);
    }
};

}  // namespace

struct TcpForwarder::Impl {
    int targetPort = 0;
    std::chrono::microseconds delay{0};
    int listenFd = -1;
    int port = 0;
    std::atomic<long> roundTrips{0};
    std::atomic<bool> stopping{false};
    std::mutex mutex;
    std::vector<std::weak_ptr<Link>> links;  // guarded by mutex
    std::vector<std::thread> pumps;          // guarded by mutex
    std::thread acceptor;

    // Copies one direction, each chunk held back by the delay.
    void pump(std::shared_ptr<Link> link, bool up) {
        const int from = up ? link->client : link->server, to = up ? link->server : link->client;
        std::vector<char> buf(64 * 1024);
        for (;;) {
            const ssize_t n = ::recv(from, buf.data(), buf.size(), 0);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            if (up && link->answered.exchange(false)) ++roundTrips;
            if (delay.count() > 0) std::this_thread::sleep_for(delay);
            ssize_t sent = 0;
            while (sent < n) {
                const ssize_t w = ::send(to, buf.data() + sent, static_cast<std::size_t>(n - sent), MSG_NOSIGNAL);
                if (w < 0 && errno == EINTR) continue;
                if (w <= 0) break;
                sent += w;
            }
            if (sent < n) break;
            if (!up) link->answered = true;
        }
        ::shutdown(to, SHUT_WR);
    }

    // Takes the connections the kernel has completed; with `drop`, closes them at once.
    void acceptWaiting(bool drop) {
        for (int c; (c = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC)) >= 0;) {
            const int s = drop ? -1 : ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            const sockaddr_in addr = Loopback(targetPort);
            if (s < 0 || ::connect(s, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
                if (s >= 0) ::close(s);
                ::close(c);  // the client sees a refusal as an immediate close
                continue;
            }
            NoDelay(c);
            NoDelay(s);
            auto link = std::make_shared<Link>(c, s);
            links.push_back(link);
            pumps.emplace_back([this, link] { pump(link, true); });
            pumps.emplace_back([this, link] { pump(link, false); });
        }
    }

    void cutAll() {
        acceptWaiting(true);
        for (auto& w : links)
            if (auto l = w.lock()) l->cut();
        links.clear();
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
    impl_->acceptor = std::thread([impl = impl_.get()] {
        while (!impl->stopping) {
            pollfd p{impl->listenFd, POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0) continue;
            std::lock_guard lock(impl->mutex);
            impl->acceptWaiting(false);
        }
    });
}

TcpForwarder::~TcpForwarder() {
    impl_->stopping = true;
    impl_->acceptor.join();
    std::vector<std::thread> pumps;
    {
        std::lock_guard lock(impl_->mutex);
        impl_->cutAll();
        pumps.swap(impl_->pumps);
    }
    for (auto& t : pumps) t.join();
    ::close(impl_->listenFd);
}

int TcpForwarder::port() const { return impl_->port; }

long TcpForwarder::roundTrips() const { return impl_->roundTrips.load(); }

void TcpForwarder::resetCounters() { impl_->roundTrips.store(0); }

void TcpForwarder::cutAll() {
    std::lock_guard lock(impl_->mutex);
    impl_->cutAll();
}

}  // namespace kestrane::testing
