// Relay benchmark: one host (a kolvena-peer process) and many members in this process, all on
// loopback. Every member sends chat lines at a steady rate; every member receives every line.
// Prints lines relayed per second, deliveries per second and the latency from a member's send
// until every member has the line, and checks that nothing is lost, duplicated or reordered.
//
//   relay_bench [--members N] [--rate LINES_PER_MEMBER_PER_SECOND] [--seconds S] [--history DIR]
//
// With --history the host keeps the session in DIR as it happens, which costs it a safe rewrite
// of the whole recording every two seconds.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "bench_support.h"
#include "protocol/assembler.h"
#include "protocol/packets.h"

using namespace kolvena;
using kolvena::bench::ConnectTo;
using kolvena::bench::FreePort;
using SteadyClock = std::chrono::steady_clock;

namespace {

struct Member {
    int fd = -1;
    PacketAssembler assembler{Side::Client};
    std::uint16_t buddyId = 0;
    bool welcomed = false;
    std::string outgoing;
    std::vector<std::int64_t> lastSeen; // per sender index: the last sequence number seen
};

struct Line {
    SteadyClock::time_point sent;
    int deliveries = 0;
};

void Flush(Member& m) {
    while (!m.outgoing.empty()) {
        const ssize_t n = ::send(m.fd, m.outgoing.data(), m.outgoing.size(), MSG_NOSIGNAL);
        if (n <= 0)
            return;
        m.outgoing.erase(0, static_cast<std::size_t>(n));
    }
}

double Percentile(std::vector<double>& values, double p) {
    if (values.empty())
        return 0;
    const std::size_t k = std::min(values.size() - 1, static_cast<std::size_t>(p * values.size()));
    std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(k), values.end());
    return values[k];
}

} // namespace

int main(int argc, char** argv) {
    int memberCount = 100;
    double rate = 20;
    double seconds = 10;
    std::string history;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string flag = argv[i];
        if (flag == "--members")
            memberCount = std::atoi(argv[i + 1]);
        else if (flag == "--rate")
            rate = std::atof(argv[i + 1]);
        else if (flag == "--seconds")
            seconds = std::atof(argv[i + 1]);
        else if (flag == "--history")
            history = argv[i + 1];
    }
    // A host admits at most 100 members besides its leader.
    if (memberCount < 1 || memberCount > 100) {
        std::fprintf(stderr, "relay_bench: --members takes 1 to 100\n");
        return 2;
    }

    const std::uint16_t port = FreePort();
    bench::ChildProcess host;
    bench::ChildOptions quiet;
    quiet.errorPath = "/dev/null";
    quiet.discardOutput = true;
    // clang-format off
    std::vector<std::string> hostArgs = {
        "host", "--name", "bench", "--topic", "bench", "--port", std::to_string(port), "--bind",
        "127.0.0.1", "--own-address", "127.0.0.1", "--max", std::to_string(memberCount)};
    // clang-format on
    if (!history.empty())
        hostArgs.insert(hostArgs.end(), {"--history", history});
    if (!host.Start(KOLVENA_PEER_PATH, hostArgs, quiet)) {
        std::fprintf(stderr, "relay_bench: cannot start the host\n");
        return 1;
    }

    // Members log in one after the other, each waiting for its Welcome.
    std::vector<Member> members(static_cast<std::size_t>(memberCount));
    const auto joinDeadline = SteadyClock::now() + std::chrono::seconds(30);
    for (int i = 0; i < memberCount; ++i) {
        Member& m = members[static_cast<std::size_t>(i)];
        while ((m.fd = ConnectTo(port)) < 0 && SteadyClock::now() < joinDeadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        if (m.fd < 0) {
            std::fprintf(stderr, "relay_bench: cannot connect\n");
            return 1;
        }
        char name[32];
        std::snprintf(name, sizeof name, "m%03d", i);
        m.outgoing = BuildLogin(name);
        Flush(m);
        m.lastSeen.assign(static_cast<std::size_t>(memberCount), -1);
        char buffer[65536];
        while (!m.welcomed && SteadyClock::now() < joinDeadline) {
            pollfd p{m.fd, POLLIN, 0};
            ::poll(&p, 1, 100);
            const ssize_t n = ::recv(m.fd, buffer, sizeof buffer, 0);
            if (n > 0)
                m.assembler.Feed(std::string_view(buffer, static_cast<std::size_t>(n)));
            for (auto r = m.assembler.Next(); r.status == PacketAssembler::Status::Packet;
                 r = m.assembler.Next()) {
                if (const auto w = ReadWelcome(r.packet)) {
                    m.welcomed = true;
                    m.buddyId = static_cast<std::uint16_t>(w->roster.size());
                }
            }
        }
        if (!m.welcomed) {
            std::fprintf(stderr, "relay_bench: member %d got no Welcome\n", i);
            return 1;
        }
    }
    std::vector<int> senderOf(static_cast<std::size_t>(memberCount + 2), -1);
    for (int i = 0; i < memberCount; ++i)
        senderOf[members[static_cast<std::size_t>(i)].buddyId] = i;

    // The load: line k goes out at start + k / (members * rate), round robin over the members.
    const double totalRate = memberCount * rate;
    const auto totalLines = static_cast<std::int64_t>(totalRate * seconds);
    std::vector<std::vector<Line>> lines(static_cast<std::size_t>(memberCount));
    std::vector<double> latencies;
    latencies.reserve(static_cast<std::size_t>(totalLines));
    std::int64_t sentLines = 0, deliveries = 0, reordered = 0, duplicated = 0, foreign = 0;
    std::vector<pollfd> polls(static_cast<std::size_t>(memberCount));
    for (int i = 0; i < memberCount; ++i)
        polls[static_cast<std::size_t>(i)] = {members[static_cast<std::size_t>(i)].fd, POLLIN, 0};

    const auto start = SteadyClock::now();
    const auto drainDeadline = start + std::chrono::duration<double>(seconds + 10);
    char buffer[65536];
    std::int64_t completed = 0;
    while (SteadyClock::now() < drainDeadline &&
           (sentLines < totalLines || completed < totalLines)) {
        const auto now = SteadyClock::now();
        const double elapsed = std::chrono::duration<double>(now - start).count();
        while (sentLines < totalLines &&
               sentLines < static_cast<std::int64_t>(elapsed * totalRate) + 1) {
            const int who = static_cast<int>(sentLines % memberCount);
            Member& m = members[static_cast<std::size_t>(who)];
            auto& mine = lines[static_cast<std::size_t>(who)];
            ChatLine chat;
            chat.sender = m.buddyId;
            chat.text = std::to_string(who) + "#" + std::to_string(mine.size());
            mine.push_back({SteadyClock::now(), 0});
            m.outgoing += BuildChat(PacketType::SayToHost, chat);
            Flush(m);
            ++sentLines;
        }
        ::poll(polls.data(), polls.size(), 1);
        for (std::size_t i = 0; i < polls.size(); ++i) {
            Member& m = members[i];
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
                const int sender = id < senderOf.size() ? senderOf[id] : -1;
                if (sender < 0 || hash == std::string::npos) {
                    ++foreign;
                    continue;
                }
                const std::int64_t seq = std::stoll(chat->text.substr(hash + 1));
                auto& seen = m.lastSeen[static_cast<std::size_t>(sender)];
                if (seq <= seen)
                    ++duplicated;
                else if (seq != seen + 1)
                    ++reordered;
                seen = std::max(seen, seq);
                Line& line = lines[static_cast<std::size_t>(sender)][static_cast<std::size_t>(seq)];
                ++deliveries;
                if (++line.deliveries == memberCount) {
                    ++completed;
                    latencies.push_back(
                        std::chrono::duration<double, std::milli>(SteadyClock::now() - line.sent)
                            .count());
                }
            }
        }
    }
    const double took = std::chrono::duration<double>(SteadyClock::now() - start).count();

    std::int64_t lost = 0;
    for (const auto& mine : lines)
        for (const Line& line : mine)
            lost += memberCount - line.deliveries;

    std::printf("relay benchmark: %d members, %.1f lines/s each, %.1f s of load%s\n", memberCount,
                rate, seconds, history.empty() ? "" : ", history kept");
    std::printf("lines sent:          %lld\n", static_cast<long long>(sentLines));
    std::printf("lines relayed/s:     %.0f\n", completed / seconds);
    std::printf("deliveries/s:        %.0f\n", deliveries / seconds);
    std::printf("latency p50:         %.2f ms\n", Percentile(latencies, 0.50));
    std::printf("latency p99:         %.2f ms\n", Percentile(latencies, 0.99));
    std::printf("latency max:         %.2f ms\n", Percentile(latencies, 1.0));
    std::printf("lost deliveries:     %lld\n", static_cast<long long>(lost));
    std::printf("reordered:           %lld\n", static_cast<long long>(reordered));
    std::printf("duplicated:          %lld\n", static_cast<long long>(duplicated));
    std::printf("wall time:           %.1f s\n", took);

    for (Member& m : members)
        ::close(m.fd);
    host.Finish(std::chrono::seconds(10));
    return lost == 0 && reordered == 0 && duplicated == 0 ? 0 : 1;
}
