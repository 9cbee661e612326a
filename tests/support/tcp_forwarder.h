// A TCP relay on 127.0.0.1 for tests of slow and lost connections.
#pragma once

#include <chrono>
#include <memory>

namespace kestrane::testing {

// Relays each accepted connection to 127.0.0.1:targetPort, holding every chunk
// back by a one-way delay in each direction (so RTT = 2 * delay) without
// reordering bytes or stalling reads. One thread serves all connections.
class TcpForwarder {
public:
    // Throws std::system_error when it cannot listen.
    explicit TcpForwarder(int targetPort, std::chrono::microseconds oneWayDelay = std::chrono::microseconds(0));
    // Stops its thread and closes all sockets.
    ~TcpForwarder();
    TcpForwarder(const TcpForwarder&) = delete;
    TcpForwarder& operator=(const TcpForwarder&) = delete;

    // The port it listens on (chosen by the kernel).
    int port() const;
    // Round trips summed over connections: the first client->server data of a
    // connection counts one, and so does client->server data after data was
    // delivered server->client.
    long roundTrips() const;
    void resetCounters();
    // Shuts down (SHUT_RDWR) and closes every relayed connection, including ones
    // still waiting to be accepted, before it returns. New connections are still accepted.
    void cutAll();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace kestrane::testing
