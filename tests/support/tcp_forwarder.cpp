#include "support/tcp_forwarder.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <deque>
#include <string>
#include <system_error>

namespace kestrane::testing {

namespace {

using Clock = std::chrono::steady_clock;

sockaddr_in Loopback(int port) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return addr;
}

}  // namespace

TcpForwarder::TcpForwarder(int targetPort, std::chrono::microseconds oneWayDelay)
    : targetPort_(targetPort), delay_(oneWayDelay) {
    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr = Loopback(0);
    socklen_t len = sizeof addr;
    if (listenFd_ < 0 || ::bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(listenFd_, 64) != 0 || ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        const int e = errno;
        if (listenFd_ >= 0) ::close(listenFd_);
        throw std::system_error(e, std::generic_category(), "TcpForwarder");
    }
    port_ = ntohs(addr.sin_port);
    // Ends when the destructor shuts the listening socket down.
    acceptor_ = std::thread([this] {
        for (int c; (c = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC)) >= 0 || errno == EINTR ||
                    errno == ECONNABORTED;) {
            const int s = c < 0 ? -1 : ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            const sockaddr_in to = Loopback(targetPort_);
            if (s < 0 || ::connect(s, reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0) {
                // The client sees the refusal as an immediate close.
                for (int fd : {c, s})
                    if (fd >= 0) ::close(fd);
                continue;
            }
            const int one = 1;
            for (int fd : {c, s}) ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            std::lock_guard lock(mutex_);
            Link& link = links_.emplace_back();
            link.fds[0] = c;
            link.fds[1] = s;
            for (int from : {0, 1}) link.ways[from] = std::thread([this, &link, from] { relay(link, from); });
        }
    });
}

TcpForwarder::~TcpForwarder() {
    ::shutdown(listenFd_, SHUT_RDWR);
    acceptor_.join();
    cutAll();
    ::close(listenFd_);
}

// One direction of a link. It reads on while what it read waits for its time,
// so that the delay adds to each chunk's trip and not to the chunks behind it.
void TcpForwarder::relay(Link& link, int from) {
    const int in = link.fds[from], out = link.fds[1 - from];
    std::deque<std::pair<Clock::time_point, std::string>> held;  // an empty chunk ends the stream
    for (bool open = true; open || !held.empty();) {
        timespec wait{};
        if (!held.empty()) {
            const auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(held.front().first - Clock::now());
            wait = {left.count() > 0 ? left.count() / 1000000000 : 0, left.count() > 0 ? left.count() % 1000000000 : 0};
        }
        pollfd p{open ? in : -1, POLLIN, 0};
        if (::ppoll(&p, 1, held.empty() ? nullptr : &wait, nullptr) > 0) {
            char buf[65536];
            const ssize_t n = ::recv(in, buf, sizeof buf, 0);
            if (n < 0 && errno == EINTR) continue;
            if (from == 0 && n > 0 && link.answered.exchange(false)) ++roundTrips_;
            held.emplace_back(Clock::now() + delay_, std::string(buf, n > 0 ? static_cast<std::size_t>(n) : 0));
            open = n > 0;
        }
        while (!held.empty() && held.front().first <= Clock::now()) {
            const std::string chunk = std::move(held.front().second);
            held.pop_front();
            if (chunk.empty()) ::shutdown(out, SHUT_WR);
            // Before the bytes go out: the client may answer them before send() returns.
            if (from == 1) link.answered = true;
            for (std::size_t sent = 0; sent < chunk.size();) {
                const ssize_t n = ::send(out, chunk.data() + sent, chunk.size() - sent, MSG_NOSIGNAL);
                if (n < 0 && errno != EINTR) {
                    for (int fd : link.fds) ::shutdown(fd, SHUT_RDWR);
                    return;
                }
                sent += n > 0 ? static_cast<std::size_t>(n) : 0;
            }
        }
    }
}

void TcpForwarder::cutAll() {
    std::lock_guard lock(mutex_);
    for (auto& link : links_)
        for (int fd : link.fds) ::shutdown(fd, SHUT_RDWR);
    for (auto& link : links_) {
        for (auto& t : link.ways) t.join();
        for (int fd : link.fds) ::close(fd);
    }
    links_.clear();
}

}  // namespace kestrane::testing
