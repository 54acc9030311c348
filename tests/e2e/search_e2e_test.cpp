// Searching for sessions with kolvena-peer processes: unicast on 127.0.0.1, hostile datagrams at
// a host, and broadcast between network namespaces of the test's own.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <chrono>
#include <filesystem>
#include <iterator>
#include <netinet/in.h>
#include <poll.h>
#include <set>
#include <sstream>
#include <sys/socket.h>
#include <unistd.h>

#include "peer_process.h"
#include "protocol/search_datagrams.h"
#include "session/address_code.h"

namespace kolvena::test {
namespace {

using namespace std::chrono_literals;
using Set = std::multiset<std::string>;

// The session lines of one search, after checking its count line and clean exit.
Set Search(ChildProcess& searcher) {
    const int code = searcher.WaitForExit(10s);
    const std::vector<std::string> found = searcher.Lines("session: ");
    EXPECT_EQ(code, 0) << searcher.Output();
    EXPECT_TRUE(searcher.Printed("search: " + std::to_string(found.size()) + " found"));
    return {found.begin(), found.end()};
}
Set SearchPorts(const std::vector<std::uint16_t>& ports) {
    std::vector<std::string> args = {"search",    "--broadcast", "no", "--address",
                                     "127.0.0.1", "--wait",      "400"};
    for (std::uint16_t port : ports)
        args.insert(args.end(), {"--port", std::to_string(port)});
    PeerProcess searcher(args);
    return Search(searcher);
}
std::string Found(std::uint16_t port, const std::string& rest) {
    return "session: 127.0.0.1\t" + std::to_string(port) + "\t16735986\t" + rest;
}

// A plain UDP socket on 127.0.0.1 (at the port, if given) that sends exact datagrams to a port
// there and collects what comes back.
struct Udp {
    explicit Udp(std::uint16_t port = 0) : at{AF_INET, htons(port), {htonl(INADDR_LOOPBACK)}, {}} {
        EXPECT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&at), sizeof at), 0);
    }
    ~Udp() { ::close(fd); }
    void Send(const std::string& bytes, std::uint16_t port) {
        at.sin_port = htons(port);
        ::sendto(fd, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&at), sizeof at);
    }
    // How many datagrams arrive until none has for the wait.
    std::size_t Receive(std::chrono::milliseconds quiet) const {
        std::size_t got = 0;
        for (pollfd p{fd, POLLIN, 0}; got < 1000 && ::poll(&p, 1, int(quiet.count())) > 0; ++got)
            ::recv(fd, nullptr, 0, 0);
        return got;
    }
    int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in at;
};

// Two hosts on two ports are found with their own topic, counts and state; the state follows
// the door and the limit, and a host that turned searching off is not found until it turns it on.
TEST(SearchE2E, UnicastFindsEachHostWithItsCurrentCountsAndState) {
    const std::uint16_t a = FreePort(), b = FreePort(), off = FreePort();
    PeerProcess hostA(SessionArguments(true, a, "甲", {"--topic", "闲聊"}));
    PeerProcess hostB(SessionArguments(true, b, "乙", {"--max", "1", "--approve", "off"}));
    PeerProcess hostOff(SessionArguments(true, off, "丙", {"--search", "no"}));
    for (PeerProcess* host : {&hostA, &hostB, &hostOff})
        ASSERT_TRUE(host->WaitFor("等待客人登陆中")) << host->Output();

    EXPECT_EQ(SearchPorts({a, b, off}), (Set{Found(a, "0/20\topen\tapprove\t闲聊\t甲"),
                                             Found(b, "0/1\topen\tfree\t测试会话\t乙")}));
    PeerProcess memberA(SessionArguments(false, a, "丁")),
        memberB(SessionArguments(false, b, "戊"));
    ASSERT_TRUE(hostA.WaitFor("丁 加入会话") && hostB.WaitFor("戊 加入会话"));
    hostA.Write("settings listen=0");
    hostOff.Write("settings search=1");
    ASSERT_TRUE(hostA.WaitFor("会话暂时对外关闭"));
    hostOff.Write("say ready");
    ASSERT_TRUE(hostOff.WaitFor("ready"));
    EXPECT_EQ(SearchPorts({a, b, off}), (Set{Found(a, "1/20\tclosed\tapprove\t闲聊\t甲"),
                                             Found(b, "1/1\tfull\tfree\t测试会话\t乙"),
                                             Found(off, "0/20\topen\tapprove\t测试会话\t丙")}));
}

// Datagrams that are not a query get nothing, a flood from one source gets no more than one
// answer per 100 ms, and a UDP port already taken leaves the session running, told once.
TEST(SearchE2E, HostAnswersOnlyQueriesWithinTheLimitsAndRunsWithoutItsUdpPort) {
    const std::uint16_t port = FreePort();
    PeerProcess host(SessionArguments(true, port, "甲"));
    ASSERT_TRUE(host.WaitFor("等待客人登陆中"));
    Udp udp;
    const std::string query = BuildSearchQuery(42);
    for (const std::string& bad : {query.substr(0, 127), query + '\0', "KVQ2" + query.substr(4),
                                   query.substr(0, 127) + '\1', BuildSearchAnswer({})})
        udp.Send(bad, port);
    EXPECT_EQ(udp.Receive(300ms), 0u);

    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 300; ++i)
        udp.Send(query, port);
    const std::size_t answers = udp.Receive(300ms);
    const auto spent = std::chrono::steady_clock::now() - start - 300ms;
    EXPECT_TRUE(answers >= 1 && answers <= 1 + std::size_t(spent / 100ms)) << answers;
    udp.Send(query, port); // the flood is over: the next query is answered again
    EXPECT_EQ(udp.Receive(300ms), 1u);
    PeerProcess member(SessionArguments(false, port, "乙"));
    EXPECT_TRUE(host.WaitFor("乙 加入会话"));

    const std::uint16_t taken = FreePort();
    Udp holder(taken);
    PeerProcess unsearchable(SessionArguments(true, taken, "丙"));
    EXPECT_TRUE(unsearchable.WaitFor("box: Kolvena | UDP 端口 " + std::to_string(taken)));
    PeerProcess guest(SessionArguments(false, taken, "丁"));
    EXPECT_TRUE(unsearchable.WaitFor("丁 加入会话"));
    EXPECT_EQ(unsearchable.Lines("box: Kolvena | UDP").size(), 1u);
}

// Network namespaces of the test's own, removed however the test ends.
struct Namespaces {
    ~Namespaces() {
        for (const std::string& ns : made)
            Ip("netns del " + ns);
    }
    bool Ip(const std::string& words) const {
        std::istringstream in(words);
        ChildProcess child(ip, {std::istream_iterator<std::string>(in), {}});
        const int code = child.WaitForExit(30s);
        EXPECT_EQ(code, 0) << words << ": " << child.Output();
        return code == 0;
    }
    std::vector<std::string> In(const std::string& ns, std::vector<std::string> peer) const {
        peer.insert(peer.begin(), {"netns", "exec", prefix + ns, KOLVENA_PEER_PATH});
        return peer;
    }
    std::string ip = std::filesystem::exists("/usr/sbin/ip") ? "/usr/sbin/ip" : "/sbin/ip";
    std::string prefix = "kvsearch-" + std::to_string(::getpid()) + "-";
    std::vector<std::string> made;
};

// Two hosts and a searcher in three namespaces on a bridge (in a fourth): the searcher finds
// both by broadcast alone, at their own addresses, and joins one from what it found.
TEST(SearchE2E, BroadcastFindsHostsInOtherNamespacesAndJoinsOne) {
    ASSERT_EQ(::geteuid(), 0) << "making network namespaces needs root (as in CI)";
    Namespaces net;
    const std::string br = "-n " + net.prefix + "br ";
    for (const char* ns : {"br", "a", "b", "s"}) {
        ASSERT_TRUE(net.Ip("netns add " + net.prefix + ns));
        net.made.push_back(net.prefix + ns);
    }
    ASSERT_TRUE(net.Ip(br + "link add br0 type bridge") && net.Ip(br + "link set br0 up"));
    for (const auto& [ns, address] : {std::pair("a", "1"), {"b", "2"}, {"s", "3"}}) {
        const std::string in = "-n " + net.prefix + ns + " ";
        for (const std::string& words :
             {br + "link add v" + ns + " type veth peer name eth0 netns " + net.prefix + ns,
              br + "link set v" + ns + " master br0 up",
              in + "addr add 198.18.0." + address + "/24 dev eth0", in + "link set eth0 up",
              in + "link set lo up"})
            ASSERT_TRUE(net.Ip(words));
    }
    ChildProcess hostA(net.ip, net.In("a", {"host", "--name", "甲", "--topic", "一号"}));
    ChildProcess hostB(net.ip, net.In("b", {"host", "--name", "乙", "--topic", "二号"}));
    for (ChildProcess* host : {&hostA, &hostB})
        ASSERT_TRUE(host->WaitForLine("等待客人登陆中", 10s)) << host->Output();

    ChildProcess searcher(net.ip, net.In("s", {"search", "--wait", "1500"}));
    const auto found = [](const std::string& address, const std::string& rest) {
        return "session: " + address + "\t6636\t" + std::to_string(MakeAddressCode(address)) +
               "\t0/20\topen\tapprove\t" + rest;
    };
    EXPECT_EQ(Search(searcher),
              (Set{found("198.18.0.1", "一号\t甲"), found("198.18.0.2", "二号\t乙")}));
    std::istringstream line(searcher.WaitForLine("\t二号\t", 0ms).value_or(""));
    std::string address, port;
    std::getline(std::getline(line.ignore(9), address, '\t'), port, '\t');
    ChildProcess guest(net.ip,
                       net.In("s", {"join", "--address", address, "--port", port, "--name", "丙"}));
    EXPECT_TRUE(guest.WaitForLine("members: 全体, 乙(组长), 丙(您)", 10s)) << guest.Output();
    EXPECT_TRUE(hostB.WaitForLine("丙 加入会话", 10s));
}

} // namespace
} // namespace kolvena::test
