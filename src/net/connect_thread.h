#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <thread>

#include "unique_fd.h"

namespace kolvena {

// What one connect came to: the connected socket, or the errno of the failure.
struct ConnectOutcome {
    UniqueFd socket;
    int error = 0;
};

// The blocking connect to a host, run on a thread of its own so the window never waits. It
// touches nothing but its own socket: the outcome goes to the callback, on the worker thread,
// which must hand it to the link's thread. Destroying the worker wakes a connect still in
// progress and waits for the thread, so it returns at once and the callback never runs late.
class CConnectThread {
public:
    using Done = std::function<void(ConnectOutcome)>;

    // ipv4 is the address as Ipv4Value gives it (network order read as little-endian); source,
    // given alike, is the own address the connection leaves from, 0 for the system's choice.
    CConnectThread(std::uint32_t ipv4, std::uint16_t port, std::chrono::milliseconds timeout,
                   Done done, std::uint32_t source = 0);
    ~CConnectThread();
    CConnectThread(const CConnectThread&) = delete;
    CConnectThread& operator=(const CConnectThread&) = delete;

private:
    UniqueFd wake_;
    std::thread thread_;
};

} // namespace kolvena
