#pragma once

#include <arpa/inet.h>
#include <cstdint>
#include <netinet/in.h>
#include <sys/socket.h>
#include <vector>

#include "net/connect_thread.h"

namespace kolvena::test {

// A listening socket on 127.0.0.1 that never accepts. Full: its backlog is taken by connects
// of its own, so the system drops further connection requests and a connect to it hangs as
// one to a host that does not answer.
class FullListener {
public:
    enum class Backlog { Open, Full };

    explicit FullListener(Backlog backlog)
        : listener_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (::bind(listener_.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            ::getsockname(listener_.Get(), reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
            ::listen(listener_.Get(), backlog == Backlog::Full ? 0 : kOpenBacklog) != 0)
            return;
        port_ = ntohs(address.sin_port);
        if (backlog == Backlog::Full)
            for (int i = 0; i < kFillers; ++i) {
                UniqueFd filler(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
                [[maybe_unused]] const int started =
                    ::connect(filler.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address);
                fillers_.push_back(std::move(filler));
            }
    }

    std::uint16_t Port() const { return port_; }
    void Close() { listener_.Reset(); }

private:
    static constexpr int kOpenBacklog = 8;
    static constexpr int kFillers = 3;

    UniqueFd listener_;
    std::vector<UniqueFd> fillers_;
    std::uint16_t port_ = 0;
};

} // namespace kolvena::test
