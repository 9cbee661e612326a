// A TCP relay on 127.0.0.1 for tests of slow, lost and counted connections.
#pragma once

#include <atomic>
#include <chrono>
#include <list>
#include <mutex>
#include <thread>

namespace kestrane::testing {

// Relays each accepted connection to 127.0.0.1:targetPort, holding every chunk
// back by a one-way delay in each direction (so RTT = 2 * delay) without
// stalling the reading behind it.
class TcpForwarder {
public:
    // Throws std::system_error when it cannot listen.
    explicit TcpForwarder(int targetPort, std::chrono::microseconds oneWayDelay = {});
    ~TcpForwarder();

    int port() const { return port_; }
    // Round trips summed over connections: client->server data counts one when
    // it is a connection's first or follows data delivered server->client.
    long roundTrips() const { return roundTrips_; }
    void resetCounters() { roundTrips_ = 0; }
    // Drops every relayed connection before it returns; new ones are still relayed.
    void cutAll();

private:
    struct Link {
        int fds[2];  // client, server
        std::atomic<bool> answered{true};
        std::thread ways[2];
    };
    void relay(Link& link, int from);

    int targetPort_, listenFd_ = -1, port_ = 0;
    std::chrono::microseconds delay_;
    std::atomic<long> roundTrips_{0};
    std::mutex mutex_;  // guards links_
    std::list<Link> links_;
    std::thread acceptor_;
};

}  // namespace kestrane::testing
