#include "support/raw_socket.h"

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace kolvena::test {

namespace {

// Connects or binds the socket to 127.0.0.1 at the port.
int AtLoopback(int (*call)(int, const sockaddr*, socklen_t), int fd, std::uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return call(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
}

} // namespace

RawSocket::RawSocket(int fd) : fd_(fd) {
    const timeval limit{5, 0};
    ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    ::setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
}

void RawSocket::Close() {
    if (fd_ >= 0)
        ::close(std::exchange(fd_, -1));
}

RawSocket RawSocket::Connect(std::uint16_t port, int receiveWindow) {
    RawSocket socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (receiveWindow > 0)
        ::setsockopt(socket.fd_, SOL_SOCKET, SO_RCVBUF, &receiveWindow, sizeof receiveWindow);
    const int one = 1;
    ::setsockopt(socket.fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    if (AtLoopback(::connect, socket.fd_, port) != 0)
        socket.Close();
    return socket;
}

RawSocket RawSocket::Listen(std::uint16_t port) {
    RawSocket socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    const int one = 1;
    ::setsockopt(socket.fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (AtLoopback(::bind, socket.fd_, port) != 0 || ::listen(socket.fd_, 1) != 0)
        socket.Close();
    return socket;
}

RawSocket RawSocket::Accept(std::chrono::milliseconds wait) const {
    pollfd p{fd_, POLLIN, 0};
    if (fd_ < 0 || ::poll(&p, 1, static_cast<int>(wait.count())) != 1)
        return {};
    return RawSocket(::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC));
}

bool RawSocket::Send(std::string_view bytes) {
    while (!bytes.empty() && fd_ >= 0) {
        const ssize_t n = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (n == 0 || (n < 0 && errno != EINTR))
            return false;
        bytes.remove_prefix(n > 0 ? static_cast<std::size_t>(n) : 0);
    }
    return fd_ >= 0;
}

// A blocking receive of them all ends early only when the stream ends or the timeout passes.
std::string RawSocket::Receive(std::size_t n) {
    std::string out(n, '\0');
    const ssize_t got = fd_ < 0 ? 0 : ::recv(fd_, out.data(), n, MSG_WAITALL);
    out.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
    return out;
}

bool RawSocket::ReceiveSome(std::string& into, std::chrono::milliseconds wait) {
    pollfd p{fd_, POLLIN, 0};
    if (fd_ < 0)
        return false;
    if (::poll(&p, 1, static_cast<int>(wait.count())) <= 0)
        return true;
    char buffer[65536];
    const ssize_t n = ::recv(fd_, buffer, sizeof buffer, MSG_DONTWAIT);
    if (n > 0)
        into.append(buffer, static_cast<std::size_t>(n));
    return n > 0 || (n < 0 && (errno == EAGAIN || errno == EINTR));
}

} // namespace kolvena::test
