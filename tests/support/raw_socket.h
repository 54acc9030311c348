#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

namespace kolvena::test {

// A plain TCP socket on 127.0.0.1 that puts exactly the bytes a test wants on the wire. It
// blocks, but with 5 s send and receive timeouts; it needs no event loop, never raises SIGPIPE.
class RawSocket {
public:
    RawSocket() = default;
    explicit RawSocket(int fd);
    RawSocket(RawSocket&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    RawSocket& operator=(RawSocket&& other) noexcept {
        RawSocket taken(std::move(other)); // leaves the other empty, and closes the old socket
        std::swap(fd_, taken.fd_);
        return *this;
    }
    ~RawSocket() { Close(); }

    // Without Nagle's delay; a receive window, if given, is set before the connect so it holds.
    static RawSocket Connect(std::uint16_t port, int receiveWindow = 0);
    static RawSocket Listen(std::uint16_t port); // reused at once; not Open when it is taken
    // The next connection, waiting at most the time; not Open when none came.
    RawSocket Accept(std::chrono::milliseconds wait = std::chrono::seconds(5)) const;

    bool Open() const { return fd_ >= 0; }
    int Fd() const { return fd_; }
    void Close();
    bool Send(std::string_view bytes);  // all; false when the peer has gone or stopped taking them
    std::string Receive(std::size_t n); // up to n bytes, fewer when the stream ends or stalls
    // Appends what arrives within the wait; false once the peer has closed.
    bool ReceiveSome(std::string& into, std::chrono::milliseconds wait);

private:
    int fd_ = -1;
};

} // namespace kolvena::test
