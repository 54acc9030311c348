// Management benchmark: one host (a kolvena-peer process) and members in this process, on
// loopback. Two members chat while a refused address (127.0.0.3, banned by the leader) opens
// connections as fast as it can; prints the chat latency (send until both members have the
// line) without and with the flood, and how fast the host closed the refused connections.
// Then a muted member floods lines: prints what reached the other member (nothing may) and the
// host's memory before, at the peak and after.
//
//   manage_bench [--connections 1000] [--in-flight 64] [--rate LINES_PER_MEMBER_PER_SECOND]
//                [--lines 200000]

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <netinet/in.h>
#include <poll.h>
#include <sstream>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "bench_support.h"
#include "protocol/assembler.h"
#include "protocol/packets.h"
#include "session/gbk.h"

using namespace kolvena;
using kolvena::bench::ConnectTo;
using kolvena::bench::FreePort;
using kolvena::bench::Percentile;
using SteadyClock = std::chrono::steady_clock;
using namespace std::chrono_literals;

namespace {

struct Member {
    int fd = -1;
    PacketAssembler assembler{Side::Client};
    std::uint16_t buddyId = 0;
    std::string outgoing;
    bool closed = false;
};

void Flush(Member& m) {
    while (!m.outgoing.empty()) {
        const ssize_t n = ::send(m.fd, m.outgoing.data(), m.outgoing.size(), MSG_NOSIGNAL);
        if (n <= 0)
            return;
        m.outgoing.erase(0, static_cast<std::size_t>(n));
    }
}

// Reads what has arrived and hands each chat packet to `onChat` (and a rename's new name to
// `onRename`); marks a closed connection.
template <class OnChat, class OnRename = void (*)(const std::string&)>
void Receive(
    Member& m, OnChat onChat, OnRename onRename = [](const std::string&) {}) {
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::recv(m.fd, buffer, sizeof buffer, 0);
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK))
            m.closed = true;
        if (n <= 0)
            break;
        m.assembler.Feed(std::string_view(buffer, static_cast<std::size_t>(n)));
    }
    for (auto r = m.assembler.Next(); r.status == PacketAssembler::Status::Packet;
         r = m.assembler.Next()) {
        if (const auto chat = ReadChat(r.packet))
            onChat(*chat);
        else if (const auto rename = ReadRename(r.packet))
            onRename(rename->name);
    }
}

// Logs in (from `source`) and waits for the Welcome; false when none comes in time.
bool Join(Member& m, std::uint16_t port, const std::string& name, const char* source) {
    m.fd = ConnectTo(port, source);
    if (m.fd < 0)
        return false;
    m.outgoing = BuildLogin(name);
    Flush(m);
    const auto id = bench::AwaitWelcome(m.fd, m.assembler, SteadyClock::now() + 10s);
    if (id)
        m.buddyId = *id;
    return id.has_value();
}

// The flood: connections from 127.0.0.3, `inFlight` at a time, each until the host closes it.
// Past the listening socket's backlog the system drops the attacker's handshakes and retries
// them a second later, which throttles the flood, not the host.
struct Flood {
    std::atomic<int> closedByHost{0}, failed{0}, answered{0};
    std::atomic<bool> done{false};
    double seconds = 0;

    void Run(std::uint16_t port, int total, std::size_t inFlight) {
        const auto start = SteadyClock::now();
        std::vector<pollfd> open;
        int started = 0;
        while ((started < total || !open.empty()) && SteadyClock::now() < start + 30s) {
            while (started < total && open.size() < inFlight) {
                const int fd = ConnectTo(port, "127.0.0.3", false);
                ++started;
                if (fd < 0)
                    ++failed;
                else
                    open.push_back({fd, POLLIN, 0});
            }
            ::poll(open.data(), open.size(), 10);
            for (std::size_t i = 0; i < open.size();) {
                char byte;
                const ssize_t n = open[i].revents ? ::recv(open[i].fd, &byte, 1, 0) : -1;
                if (!open[i].revents || (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))) {
                    ++i; // still open
                    continue;
                }
                // A refused connection hears nothing before its close.
                ++(n > 0 ? answered : n == 0 || errno == ECONNRESET ? closedByHost : failed);
                ::close(open[i].fd);
                open[i] = open.back();
                open.pop_back();
            }
        }
        for (const pollfd& p : open)
            ::close(p.fd);
        seconds = std::chrono::duration<double>(SteadyClock::now() - start).count();
        done = true;
    }
};

// The process's CPU time so far (user and system), in milliseconds.
double CpuMs(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    // The fields after the command name, which is in parentheses and may hold spaces.
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string field;
    unsigned long long user = 0, system = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i) {
        if (i == 14)
            user = std::stoull(field);
        else if (i == 15)
            system = std::stoull(field);
    }
    return 1000.0 * static_cast<double>(user + system) /
           static_cast<double>(::sysconf(_SC_CLK_TCK));
}

long RssKiB(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::atol(line.c_str() + 6);
    return -1;
}

} // namespace

int main(int argc, char** argv) {
    int connections = 1000;
    std::size_t inFlight = 64;
    double rate = 500;
    long floodLines = 200000;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string flag = argv[i];
        if (flag == "--connections")
            connections = std::atoi(argv[i + 1]);
        else if (flag == "--rate")
            rate = std::atof(argv[i + 1]);
        else if (flag == "--in-flight")
            inFlight = static_cast<std::size_t>(std::max(1, std::atoi(argv[i + 1])));
        else if (flag == "--lines")
            floodLines = std::atol(argv[i + 1]);
    }
    const std::uint16_t port = FreePort();
    bench::ChildProcess host;
    if (!host.Start(KOLVENA_PEER_PATH,
                    {"host", "--name", "bench", "--topic", "bench", "--port", std::to_string(port),
                     "--own-address", "127.0.0.1", "--approve", "off", "--search", "no"},
                    {{}, "/dev/null", false})) {
        std::fprintf(stderr, "manage_bench: cannot start the host\n");
        return 1;
    }
    std::vector<Member> members(3);
    const char* names[] = {"a", "b", "banned"};
    const char* sources[] = {"127.0.0.1", "127.0.0.1", "127.0.0.3"};
    for (std::size_t i = 0; i < members.size(); ++i) {
        bool in = false;
        for (int attempt = 0; attempt < 100 && !in; ++attempt) {
            in = Join(members[i], port, names[i], sources[i]);
            if (!in)
                std::this_thread::sleep_for(50ms);
        }
        if (!in) {
            std::fprintf(stderr, "manage_bench: %s got no Welcome\n", names[i]);
            return 1;
        }
    }
    // The leader removes the third member and refuses its address; its close confirms it.
    host.Write("ban 4");
    Member& banned = members[2];
    for (const auto end = SteadyClock::now() + 10s; !banned.closed && SteadyClock::now() < end;) {
        pollfd p{banned.fd, POLLIN, 0};
        ::poll(&p, 1, 50);
        Receive(banned, [](const ChatLine&) {});
        host.Collect();
    }
    if (!banned.closed) {
        std::fprintf(stderr, "manage_bench: the banned member was not removed\n");
        return 1;
    }
    ::close(banned.fd);
    members.pop_back();

    // Chat: each member sends `rate` lines a second; a line is done when both members have it
    // (the host echoes a member's line to its sender). Quiet for 3 s, then with the flood.
    struct Sent {
        SteadyClock::time_point at;
        bool flood;
        int deliveries = 0;
    };
    std::vector<Sent> sent;
    sent.reserve(1 << 20);
    std::vector<double> quiet, flooded;
    long lost = 0;
    Flood flood;
    double quietCpu = CpuMs(host.Pid()), floodCpu = 0;
    std::thread flooder;
    const auto start = SteadyClock::now();
    auto floodStart = start + 3s;
    const auto interval = std::chrono::duration<double>(1.0 / (rate * 2));
    auto next = start;
    bool flooding = false;
    const auto onChat = [&](const ChatLine& chat) {
        const std::size_t k = std::stoul(chat.text);
        if (k < sent.size() && ++sent[k].deliveries == 2)
            (sent[k].flood ? flooded : quiet)
                .push_back(
                    std::chrono::duration<double, std::milli>(SteadyClock::now() - sent[k].at)
                        .count());
    };
    for (;;) {
        const auto now = SteadyClock::now();
        if (!flooding && now >= floodStart) {
            flooding = true;
            floodCpu = CpuMs(host.Pid());
            quietCpu = floodCpu - quietCpu;
            flooder = std::thread([&] { flood.Run(port, connections, inFlight); });
        }
        const bool sending = !flooding || !flood.done;
        while (sending && now >= next) {
            Member& m = members[sent.size() % 2];
            ChatLine chat;
            chat.sender = m.buddyId;
            chat.text = std::to_string(sent.size());
            sent.push_back({SteadyClock::now(), flooding});
            m.outgoing += BuildChat(PacketType::SayToHost, chat);
            Flush(m);
            next += std::chrono::duration_cast<SteadyClock::duration>(interval);
        }
        pollfd polls[2] = {{members[0].fd, POLLIN, 0}, {members[1].fd, POLLIN, 0}};
        ::poll(polls, 2, 1);
        for (Member& m : members) {
            Flush(m);
            Receive(m, onChat);
        }
        host.Collect();
        const std::size_t done = quiet.size() + flooded.size();
        if (!sending && (done == sent.size() || now > next + 5s))
            break;
    }
    flooder.join();
    floodCpu = CpuMs(host.Pid()) - floodCpu;
    const double floodWall = flood.seconds;
    for (const Sent& s : sent)
        lost += 2 - s.deliveries;
    const auto refusalLines = host.Lines("chat: -->> 已拒绝来自 127.0.0.3 的连接").size();

    std::printf("management benchmark: 2 members at %.0f lines/s each\n", rate);
    std::printf("refused flood:       %d connections from 127.0.0.3 (%zu at a time), %d closed by "
                "the host, "
                "%d failed, %d answered, in %.2f s (%.0f/s)\n",
                connections, inFlight, flood.closedByHost.load(), flood.failed.load(),
                flood.answered.load(), flood.seconds,
                flood.closedByHost / std::max(flood.seconds, 1e-9));
    std::printf("refusal lines shown: %zu\n", refusalLines);
    std::printf("host CPU:            %.0f ms in the 3 s quiet, %.0f ms during the flood's %.2f s "
                "(and its chat)\n",
                quietCpu, floodCpu, floodWall);
    std::printf("latency quiet:       %zu lines, p50 %.2f ms, p99 %.2f ms, max %.2f ms\n",
                quiet.size(), Percentile(quiet, 0.5), Percentile(quiet, 0.99),
                Percentile(quiet, 1.0));
    std::printf("latency flood:       %zu lines, p50 %.2f ms, p99 %.2f ms, max %.2f ms\n",
                flooded.size(), Percentile(flooded, 0.5), Percentile(flooded, 0.99),
                Percentile(flooded, 1.0));
    std::printf("lost deliveries:     %ld\n", lost);

    // The muted flood: b is muted and sends as fast as it can; a must get nothing of it.
    host.Write("mute 3");
    Member &a = members[0], &b = members[1];
    long whispers = 0, leaked = 0;
    const auto count = [&](const ChatLine& chat) {
        if (chat.sender.value == b.buddyId)
            ++leaked;
        else if (chat.whisper)
            ++whispers;
    };
    for (const auto end = SteadyClock::now() + 10s; whispers == 0 && SteadyClock::now() < end;) {
        ::poll(nullptr, 0, 10);
        Receive(b, count);
        Receive(a, count);
        host.Collect();
    }
    const long before = RssKiB(host.Pid());
    long peak = before, queued = 0;
    const std::string line =
        BuildChat(PacketType::SayToHost, {"", 0, b.buddyId, 0, 0, std::string(200, 'x')});
    const double cpuBefore = CpuMs(host.Pid());
    const auto floodBegin = SteadyClock::now();
    auto sampled = floodBegin;
    while (queued < floodLines && SteadyClock::now() < floodBegin + 60s) {
        while (b.outgoing.size() < (1u << 20) && queued < floodLines) {
            b.outgoing += line;
            ++queued;
        }
        Flush(b);
        Receive(a, count);
        Receive(b, count);
        host.Collect();
        if (const auto now = SteadyClock::now(); now > sampled + 100ms) {
            sampled = now;
            peak = std::max(peak, RssKiB(host.Pid()));
        }
        if (!b.outgoing.empty())
            ::poll(nullptr, 0, 1);
    }
    // A rename goes through while muted: once a has it, the host has read the whole flood.
    b.outgoing += BuildRename(PacketType::RenameToHost, {b.buddyId, "b2"});
    bool renamed = false;
    const auto seeRename = [&](const std::string& name) { renamed = renamed || name == "b2"; };
    for (const auto end = SteadyClock::now() + 60s; !renamed && SteadyClock::now() < end;) {
        Flush(b);
        ::poll(nullptr, 0, 1);
        Receive(a, count, seeRename);
        Receive(b, count);
        host.Collect();
        if (const auto now = SteadyClock::now(); now > sampled + 100ms) {
            sampled = now;
            peak = std::max(peak, RssKiB(host.Pid()));
        }
    }
    const double floodSeconds =
        std::chrono::duration<double>(SteadyClock::now() - floodBegin).count();
    const long end = RssKiB(host.Pid());
    const double mutedCpu = CpuMs(host.Pid()) - cpuBefore;
    // Unmuted, b's next line reaches a again.
    host.Write("unmute 3");
    for (const auto until = SteadyClock::now() + 10s; whispers < 2 && SteadyClock::now() < until;) {
        ::poll(nullptr, 0, 10);
        Receive(a, count);
        Receive(b, count);
    }
    b.outgoing = BuildChat(PacketType::SayToHost, {"", 0, b.buddyId, 0, 0, "after"});
    Flush(b);
    bool after = false;
    const auto seeAfter = [&](const ChatLine& chat) { after = after || chat.text == "after"; };
    for (const auto until = SteadyClock::now() + 10s; !after && SteadyClock::now() < until;) {
        ::poll(nullptr, 0, 10);
        Receive(a, seeAfter);
        host.Collect();
    }
    std::printf("muted flood:         %ld lines of %zu bytes read by the host in %.1f s, %ld "
                "reached a member, rename %s, unmuted line %s\n",
                queued, line.size(), floodSeconds, leaked, renamed ? "through" : "LOST",
                after ? "arrived" : "LOST");
    std::printf("host CPU:            %.0f ms for the muted flood\n", mutedCpu);
    std::printf("host memory (RSS):   before the flood %ld KiB, peak %ld KiB, after it %ld KiB\n",
                before, peak, end);

    for (Member& m : members)
        ::close(m.fd);
    host.Finish(10s);
    const bool ok = lost == 0 && leaked == 0 && renamed && after && refusalLines == 1 &&
                    flood.closedByHost == connections;
    return ok ? 0 : 1;
}
