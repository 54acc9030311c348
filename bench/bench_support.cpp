#include "bench_support.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

#include "protocol/packets.h"

namespace kolvena::bench {

int ConnectTo(std::uint16_t port, const char* source, bool wait) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | (wait ? 0 : SOCK_NONBLOCK), 0);
    if (source != nullptr) {
        sockaddr_in own{};
        own.sin_family = AF_INET;
        ::inet_pton(AF_INET, source, &own.sin_addr);
        if (::bind(fd, reinterpret_cast<sockaddr*>(&own), sizeof own) != 0) {
            ::close(fd);
            return -1;
        }
    }
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 &&
        (wait || errno != EINPROGRESS)) {
        ::close(fd);
        return -1;
    }
    int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    return fd;
}

using SteadyClock = std::chrono::steady_clock;

std::optional<std::uint16_t> AwaitWelcome(int fd, PacketAssembler& assembler,
                                          SteadyClock::time_point deadline) {
    char buffer[65536];
    while (SteadyClock::now() < deadline) {
        pollfd p{fd, POLLIN, 0};
        ::poll(&p, 1, 100);
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n > 0)
            assembler.Feed(std::string_view(buffer, static_cast<std::size_t>(n)));
        for (auto r = assembler.Next(); r.status == PacketAssembler::Status::Packet;
             r = assembler.Next())
            if (const auto w = ReadWelcome(r.packet))
                return static_cast<std::uint16_t>(w->roster.size());
    }
    return std::nullopt;
}

double Percentile(std::vector<double>& values, double p) {
    if (values.empty())
        return 0;
    const std::size_t k = std::min(values.size() - 1, static_cast<std::size_t>(p * values.size()));
    std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(k), values.end());
    return values[k];
}

void LoadGenerator::Flush(Member& m) {
    while (!m.outgoing.empty()) {
        const ssize_t n = ::send(m.fd, m.outgoing.data(), m.outgoing.size(), MSG_NOSIGNAL);
        if (n <= 0)
            return;
        m.outgoing.erase(0, static_cast<std::size_t>(n));
    }
}

std::string LoadGenerator::Join(std::uint16_t port, int memberCount) {
    Close();
    members_ = std::vector<Member>(static_cast<std::size_t>(memberCount));
    const auto deadline = SteadyClock::now() + std::chrono::seconds(30);
    for (int i = 0; i < memberCount; ++i) {
        Member& m = members_[static_cast<std::size_t>(i)];
        while ((m.fd = ConnectTo(port)) < 0 && SteadyClock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        if (m.fd < 0)
            return "cannot connect";
        char name[32];
        std::snprintf(name, sizeof name, "m%03d", i);
        m.outgoing = BuildLogin(name);
        Flush(m);
        m.lastSeen.assign(static_cast<std::size_t>(memberCount), -1);
        if (const auto id = AwaitWelcome(m.fd, m.assembler, deadline)) {
            m.welcomed = true;
            m.buddyId = *id;
        }
        if (!m.welcomed)
            return "member " + std::to_string(i) + " got no Welcome";
    }
    senderOf_.assign(static_cast<std::size_t>(memberCount + 2), -1);
    for (int i = 0; i < memberCount; ++i)
        senderOf_[members_[static_cast<std::size_t>(i)].buddyId] = i;
    lines_.assign(static_cast<std::size_t>(memberCount), {});
    return {};
}

LoadResult LoadGenerator::Steady(double rate, double seconds) {
    const double totalRate = static_cast<double>(members_.size()) * rate;
    return Run(
        static_cast<std::int64_t>(totalRate * seconds), seconds + 10,
        [totalRate](double elapsed) { return static_cast<std::int64_t>(elapsed * totalRate) + 1; });
}

LoadResult LoadGenerator::Burst(int lines) {
    const auto total = static_cast<std::int64_t>(members_.size()) * lines;
    return Run(total, 60, [total](double) { return total; });
}

LoadResult LoadGenerator::Run(std::int64_t total, double drainSeconds,
                              const std::function<std::int64_t(double)>& due) {
    const auto memberCount = static_cast<std::int64_t>(members_.size());
    LoadResult result;
    result.latencies.reserve(static_cast<std::size_t>(total));
    // Lines of earlier loads have been counted already.
    std::vector<std::size_t> firstLine;
    for (const auto& mine : lines_)
        firstLine.push_back(mine.size());
    std::vector<pollfd> polls;
    for (const Member& m : members_)
        polls.push_back({m.fd, POLLIN, 0});

    const auto start = SteadyClock::now();
    const auto deadline = start + std::chrono::duration<double>(drainSeconds);
    auto last = start;
    char buffer[65536];
    while (SteadyClock::now() < deadline && (result.sent < total || result.completed < total)) {
        const double elapsed = std::chrono::duration<double>(SteadyClock::now() - start).count();
        const std::int64_t dueNow = std::min(total, due(elapsed));
        for (; result.sent < dueNow; ++result.sent) {
            const auto who = static_cast<std::size_t>(result.sent % memberCount);
            Member& m = members_[who];
            auto& mine = lines_[who];
            ChatLine chat;
            chat.sender = m.buddyId;
            chat.text = std::to_string(who) + "#" + std::to_string(mine.size());
            mine.push_back({SteadyClock::now(), 0});
            m.outgoing += BuildChat(PacketType::SayToHost, chat);
            Flush(m);
        }
        ::poll(polls.data(), polls.size(), 1);
        for (std::size_t i = 0; i < polls.size(); ++i) {
            Member& m = members_[i];
            if (!m.outgoing.empty())
                Flush(m);
            if (!(polls[i].revents & POLLIN))
                continue;
            const ssize_t n = ::recv(m.fd, buffer, sizeof buffer, 0);
            if (n <= 0)
                continue;
            m.assembler.Feed(std::string_view(buffer, static_cast<std::size_t>(n)));
            for (auto r = m.assembler.Next(); r.status == PacketAssembler::Status::Packet;
                 r = m.assembler.Next()) {
                const auto chat = ReadChat(r.packet);
                if (!chat)
                    continue;
                const std::size_t hash = chat->text.find('#');
                const std::size_t id = chat->sender.value;
                const int sender = id < senderOf_.size() ? senderOf_[id] : -1;
                if (sender < 0 || hash == std::string::npos)
                    continue;
                const std::int64_t seq = std::stoll(chat->text.substr(hash + 1));
                auto& mine = lines_[static_cast<std::size_t>(sender)];
                if (seq < 0 || seq >= static_cast<std::int64_t>(mine.size()))
                    continue;
                auto& seen = m.lastSeen[static_cast<std::size_t>(sender)];
                if (seq <= seen)
                    ++result.duplicated;
                else if (seq != seen + 1)
                    ++result.reordered;
                seen = std::max(seen, seq);
                Line& line = mine[static_cast<std::size_t>(seq)];
                ++result.deliveries;
                if (++line.deliveries == memberCount) {
                    ++result.completed;
                    last = SteadyClock::now();
                    result.latencies.push_back(
                        std::chrono::duration<double, std::milli>(last - line.sent).count());
                }
            }
        }
    }
    result.seconds = std::chrono::duration<double>(
                         (result.completed < total ? SteadyClock::now() : last) - start)
                         .count();
    for (std::size_t who = 0; who < lines_.size(); ++who)
        for (std::size_t k = firstLine[who]; k < lines_[who].size(); ++k)
            result.lost += memberCount - lines_[who][k].deliveries;
    return result;
}

void LoadGenerator::Close() {
    for (Member& m : members_)
        if (m.fd >= 0)
            ::close(m.fd);
    members_.clear();
}

} // namespace kolvena::bench
