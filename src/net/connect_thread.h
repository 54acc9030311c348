#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <thread>

namespace kolvena {

// Owns one file descriptor and closes it, unless it was handed on with Release.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.Release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept;
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    ~UniqueFd() { Reset(); }

    int Get() const { return fd_; }
    bool Valid() const { return fd_ >= 0; }
    int Release();
    void Reset();

private:
    int fd_ = -1;
};

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

    // ipv4 is the address as Ipv4Value gives it (network order read as little-endian).
    CConnectThread(std::uint32_t ipv4, std::uint16_t port, std::chrono::milliseconds timeout,
                   Done done);
    ~CConnectThread();
    CConnectThread(const CConnectThread&) = delete;
    CConnectThread& operator=(const CConnectThread&) = delete;

private:
    UniqueFd wake_;
    std::thread thread_;
};

} // namespace kolvena
