#include "connect_thread.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace kolvena {

namespace {

constexpr std::uint64_t WAKE_VALUE = 1;

sockaddr_in SocketAddress(std::uint32_t ipv4, std::uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    // The value's low byte is the first part of the dotted text, as the address is in memory.
    const unsigned char bytes[4] = {
        static_cast<unsigned char>(ipv4 & 0xFF), static_cast<unsigned char>((ipv4 >> 8) & 0xFF),
        static_cast<unsigned char>((ipv4 >> 16) & 0xFF), static_cast<unsigned char>(ipv4 >> 24)};
    std::memcpy(&address.sin_addr.s_addr, bytes, sizeof bytes);
    return address;
}

int PollMillis(std::chrono::steady_clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

// The connect itself; wakeFd cuts it short when it becomes readable.
ConnectOutcome Connect(std::uint32_t ipv4, std::uint16_t port, std::chrono::milliseconds timeout,
                       int wakeFd, std::uint32_t source) {
    ConnectOutcome outcome;
    // Non-blocking, so that the wait has a time-out of our own and can be cut short; the
    // system's own connect time-out runs for minutes.
    UniqueFd socket(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!socket.Valid()) {
        outcome.error = errno;
        return outcome;
    }
    if (source != 0) {
        const sockaddr_in local = SocketAddress(source, 0);
        if (::bind(socket.Get(), reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
            outcome.error = errno;
            return outcome;
        }
    }
    const sockaddr_in address = SocketAddress(ipv4, port);
    if (::connect(socket.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
        outcome.socket = std::move(socket);
        return outcome;
    }
    if (errno != EINPROGRESS) {
        outcome.error = errno;
        return outcome;
    }

    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        pollfd fds[2] = {{socket.Get(), POLLOUT, 0}, {wakeFd, POLLIN, 0}};
        const int ready = ::poll(fds, wakeFd >= 0 ? 2 : 1, PollMillis(deadline));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0) {
            outcome.error = errno;
            return outcome;
        }
        if (wakeFd >= 0 && (fds[1].revents & POLLIN) != 0) {
            outcome.error = ECANCELED;
            return outcome;
        }
        if (ready == 0) {
            outcome.error = ETIMEDOUT;
            return outcome;
        }
        if (fds[0].revents != 0)
            break;
    }
    int error = 0;
    socklen_t length = sizeof error;
    if (::getsockopt(socket.Get(), SOL_SOCKET, SO_ERROR, &error, &length) != 0)
        error = errno;
    if (error != 0) {
        outcome.error = error;
        return outcome;
    }
    outcome.socket = std::move(socket);
    return outcome;
}

} // namespace

CConnectThread::CConnectThread(std::uint32_t ipv4, std::uint16_t port,
                               std::chrono::milliseconds timeout, Done done, std::uint32_t source)
    : wake_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
    thread_ =
        std::thread([ipv4, port, timeout, wakeFd = wake_.Get(), done = std::move(done), source] {
            ConnectOutcome outcome = Connect(ipv4, port, timeout, wakeFd, source);
            if (outcome.error == ECANCELED)
                return; // the link is going away; nobody waits for this outcome
            done(std::move(outcome));
        });
}

CConnectThread::~CConnectThread() {
    if (wake_.Valid()) {
        const std::uint64_t value = WAKE_VALUE;
        // A full counter cannot happen with one write; a failed write only delays the join
        // until the connect's own time-out.
        [[maybe_unused]] const ssize_t written = ::write(wake_.Get(), &value, sizeof value);
    }
    if (thread_.joinable())
        thread_.join();
}

} // namespace kolvena
