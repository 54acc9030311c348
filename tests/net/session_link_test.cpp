#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <array>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <optional>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include "net/net_test_support.h"
#include "support/child_process.h"
#include "support/raw_socket.h"

namespace kolvena::test {

// Beside Box, so that the comparisons of box lists find it.
static bool operator==(const ScriptedPrompter::Box& a, const ScriptedPrompter::Box& b) {
    return a.caption == b.caption && a.text == b.text && a.icon == b.icon;
}

namespace {

using Box = ScriptedPrompter::Box;
using Boxes = std::vector<Box>;

constexpr const char* kConnected = "与会话主机连接成功!";
constexpr const char* kConnectFailed = "与会话主机连接没有成功，请重新连接。";
constexpr const char* kBadAddress = "IPAddress is error!\nPlease input again!";

Box SocketBox(const char* text) {
    return {"Kolvena", text, BoxIcon::Information};
}

std::string Say(std::string text) {
    return BuildChat(PacketType::SayToHost, {"", 0, 2, 0, 1, std::move(text)});
}

std::string HostSay(std::string text) {
    return BuildChat(PacketType::Say, {"", 0, 1, 0, 1, std::move(text)});
}

// A notice header announcing far more text than any packet may hold.
std::string Oversized(PacketType type) {
    return std::string{static_cast<char>(type), 1, 0, '\xFF', '\xFF'};
}

// A listener that never accepts, its backlog taken by connects of its own: the system drops
// further connection requests, so a connect to it hangs as one to a host that does not answer.
struct SilentHost {
    SilentHost() {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        for (UniqueFd& filler : fillers) {
            filler = UniqueFd(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
            [[maybe_unused]] const int started =
                ::connect(filler.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address);
        }
    }
    std::uint16_t port = FreePort();
    RawSocket listener = RawSocket::Listen(port);
    std::array<UniqueFd, 4> fillers;
};

// A host serving on a free loopback port.
std::unique_ptr<LinkEnd> StartHost(LinkOptions options = LoopbackOptions()) {
    auto host = std::make_unique<LinkEnd>(std::move(options));
    EXPECT_TRUE(host->link->Serve());
    return host;
}

bool Connect(LinkEnd& client, JoinMode mode = JoinMode::ByAddress, AddressCode code = 0,
             const std::string& address = "127.0.0.1") {
    client.link->Init();
    const std::size_t before = client.events.connectResults.size();
    client.link->StartConnect(mode, code, address);
    return WaitFor([&] { return client.events.connectResults.size() > before; }, 5000ms) &&
           client.events.connectResults.back();
}

// A client link that has connected, logged in and been given a slot.
std::unique_ptr<LinkEnd> Join(LinkEnd& host, const std::string& name,
                              JoinMode mode = JoinMode::ByAddress) {
    auto client = std::make_unique<LinkEnd>(LoopbackOptions(host.link->OwnPort()));
    const bool byCode = mode == JoinMode::ByCode;
    EXPECT_TRUE(Connect(*client, mode, byCode ? MakeAddressCode("127.0.0.1") : 0,
                        byCode ? "" : "127.0.0.1"));
    const std::size_t members = host.link->SlotCount();
    client->link->SendToHost(BuildLogin(name));
    EXPECT_TRUE(WaitFor([&] { return host.link->SlotCount() == members + 1; }));
    return client;
}

// A raw member that has logged in; its connection id.
ConnectionId LogIn(LinkEnd& host, RawSocket& peer, const std::string& name) {
    peer = RawSocket::Connect(host.link->OwnPort());
    const std::size_t before = host.events.hostPackets.size();
    EXPECT_TRUE(peer.Send(BuildLogin(name)));
    EXPECT_TRUE(WaitFor([&] { return host.events.hostPackets.size() > before; }));
    return host.events.hostPackets.empty() ? 0 : host.events.hostPackets.back().first;
}

TEST(SessionLink, AConnectThatFailsShowsItsBoxAndReportsLater) {
    auto host = StartHost();
    SilentHost silent;
    const std::uint16_t refused = FreePort(), open = host->link->OwnPort();
    struct Case {
        const char* address;
        std::uint16_t port;
        const char* box;
        bool supersede = false; // a connect to the same port is in progress
    };
    const Case cases[] = {
        {"127.0.0.1", refused, kConnectFailed},
        {"127.0.0.1", silent.port, kConnectFailed},
        {"127.0.0.300", open, kBadAddress},
        {"localhost", open, kBadAddress},
        {"", open, kBadAddress},
        {"1.2.3.4.5", open, kBadAddress},
        {"255.255.255.255", open, kBadAddress},
        {"127.0.0.300", silent.port, kBadAddress, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.address + (" port " + std::to_string(c.port)));
        LinkOptions options = LoopbackOptions(c.port);
        options.connectTimeout = 100ms;
        LinkEnd client(options);
        if (c.supersede)
            client.link->StartConnect(JoinMode::ByAddress, 0, "127.0.0.1");
        client.link->StartConnect(JoinMode::ByAddress, 0, c.address);
        // Later, as a connect's outcome would come: the caller finishes its step first.
        EXPECT_TRUE(client.events.connectResults.empty());
        ASSERT_TRUE(WaitFor([&] { return !client.events.connectResults.empty(); }));
        Pump(c.supersede ? 200ms : 0ms);
        EXPECT_EQ(client.events.connectResults, std::vector<bool>{false});
        EXPECT_EQ(client.Boxes(), Boxes{SocketBox(c.box)});
        EXPECT_FALSE(client.link->IsConnected());
        EXPECT_FALSE(client.link->Shutdown());
    }
    Pump(50ms);
    EXPECT_EQ(host->events.pendingCalls, 0u);

    SCOPED_TRACE("the same link connects once a host serves there");
    LinkEnd client(LoopbackOptions(refused));
    EXPECT_FALSE(Connect(client));
    auto late = StartHost(LoopbackOptions(refused));
    EXPECT_TRUE(Connect(client));
    EXPECT_EQ(client.events.connectResults, (std::vector<bool>{false, true}));

    SCOPED_TRACE("a link destroyed while connecting goes at once and calls nothing");
    LinkEnd doomed(LoopbackOptions(silent.port));
    doomed.link->StartConnect(JoinMode::ByAddress, 0, "127.0.0.1");
    Pump(50ms);
    const auto start = std::chrono::steady_clock::now();
    doomed.link.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
    Pump(50ms);
    EXPECT_EQ(doomed.events.Calls(), 0u);
    EXPECT_TRUE(doomed.Boxes().empty());
}

// What a member's stream carries arrives whole and in order, however it is cut; a connection
// that ends is one departure if a member, else goes silently; the other member is untouched.
TEST(SessionLink, AConnectionsPacketsArriveWholeAndItsEndIsOneDepartureIfAMember) {
    enum class End { None, Fin, Rst, ByHost };
    struct Case {
        const char* name;
        bool member;
        Packets writes;
        End end;
        Packets packets = {}; // after the Logins
        std::chrono::milliseconds loginTimeout = 30s;
    };
    const std::string say = Say("hello there"), bad = Oversized(PacketType::NoticeToHost),
                      notice = BuildNotice(PacketType::NoticeToHost, {2, "a notice"});
    Packets perByte;
    for (char byte : notice)
        perByte.emplace_back(1, byte);
    const Case cases[] = {
        {"two packets in one write", true, {say + notice}, End::None, {say, notice}},
        {"a write per byte", true, perByte, End::None, {notice}},
        {"split and joined",
         true,
         {say.substr(0, 3), say.substr(3) + notice},
         End::None,
         {say, notice}},
        // A type the host does not take drops what is buffered; the stream goes on after it.
        {"an unknown type", true, {std::string{13}, say}, End::None, {say}},
        {"a member closes after two packets", true, {say + notice}, End::Fin, {say, notice}},
        {"a member resets in mid-packet", true, {say.substr(0, 4)}, End::Rst},
        {"a member breaks the protocol", true, {bad}, End::ByHost},
        {"a waiting one closes", false, {}, End::Fin},
        {"a waiting one breaks the protocol", false, {bad}, End::ByHost},
        // A part of a Login is no Login; the member's own connection has no login time.
        {"a waiting one does not log in in time",
         false,
         {BuildLogin("Bob").substr(0, 5)},
         End::ByHost,
         {},
         300ms},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LinkOptions options = LoopbackOptions();
        options.loginTimeout = c.loginTimeout;
        auto host = StartHost(options);
        host->events.closeOnLeave = false;
        RawSocket keeper, peer;
        LogIn(*host, keeper, "Ann");
        Packets packets{BuildLogin("Ann")};
        const ConnectionId id = c.member ? LogIn(*host, peer, "Bob") : 0;
        if (c.member)
            packets.push_back(BuildLogin("Bob"));
        else
            peer = RawSocket::Connect(host->link->OwnPort());
        ASSERT_TRUE(WaitFor([&] { return host->link->PendingCount() == !c.member; }));
        for (const std::string& bytes : c.writes) {
            ASSERT_TRUE(peer.Send(bytes));
            Pump(10ms);
        }
        if (c.end == End::Rst) {
            const linger reset{1, 0};
            ::setsockopt(peer.Fd(), SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
        }
        if (c.end == End::Fin || c.end == End::Rst)
            peer.Close();
        if (c.end == End::ByHost) {
            EXPECT_TRUE(WaitClosed(peer));
        }
        packets.insert(packets.end(), c.packets.begin(), c.packets.end());
        const std::vector<ConnectionId> leaves(c.member && c.end != End::None ? 1 : 0, id);
        ASSERT_TRUE(WaitFor([&] {
            return host->link->PendingCount() == 0 && host->events.leaves.size() == leaves.size() &&
                   host->events.hostPackets.size() == packets.size();
        }));
        Pump(50ms);
        EXPECT_EQ(host->events.leaves, leaves);
        EXPECT_EQ(host->events.PacketsFrom(), packets);
        // Reported while it still holds its slot; the listener closes it.
        if (!leaves.empty()) {
            EXPECT_EQ(host->link->SlotOf(id), MemberSlot(2));
            host->link->CloseSlot(MemberSlot(2));
        }
        EXPECT_EQ(host->link->SlotCount(), c.member && c.end == End::None ? 2u : 1u);
        EXPECT_FALSE(WaitClosed(keeper, 0ms));
    }
}

TEST(SessionLink, ARefusedConnectionGetsNoSlotAndNoBytes) {
    auto host = StartHost();
    host->events.admit = false;
    // A plain socket: its Login is on the wire before the host even hears of the connection.
    RawSocket peer = RawSocket::Connect(host->link->OwnPort());
    ASSERT_TRUE(peer.Send(BuildLogin("Ann")));
    ASSERT_TRUE(WaitFor([&] { return host->events.pendingCalls == 1; }));
    EXPECT_EQ(peer.Receive(1), ""); // closed (or reset), never a byte
    Pump(20ms);
    EXPECT_TRUE(host->events.hostPackets.empty());
    EXPECT_EQ(host->link->PendingCount() + host->link->SlotCount(), 0u);
}

TEST(SessionLink, AFailedAcceptShowsOneBoxAndTheServerGoesOn) {
    auto host = StartHost();
    RawSocket peer = RawSocket::Connect(host->link->OwnPort()); // waits in the system's queue
    ASSERT_TRUE(peer.Open());
    // One box before descriptors run out: a sanitizer runtime needs descriptors of its own to
    // check a call it has not seen yet.
    host->link->AddressText(MemberSlot(1));
    host->prompter.boxes.clear();
    // No descriptor is left for the host to take it with, for several retries.
    rlimit old{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &old), 0);
    const int lowestFree = ::dup(0);
    ASSERT_GE(lowestFree, 0);
    ::close(lowestFree);
    rlimit tight = old;
    tight.rlim_cur = static_cast<rlim_t>(lowestFree);
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &tight), 0);
    Pump(500ms);
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &old), 0);
    EXPECT_EQ(host->Boxes(), Boxes{SocketBox("Server socket failed to accept connection.")});
    EXPECT_EQ(host->events.pendingCalls, 0u);
    EXPECT_TRUE(WaitFor([&] { return host->events.pendingCalls == 1; }));
    EXPECT_EQ(host->Boxes().size(), 1u); // no box for the retries, nor after the success
}

TEST(SessionLink, AHostWithTwoMembersAndOneWaitingSendsClosesAndShutsDown) {
    auto host = StartHost();
    EXPECT_TRUE(host->link->IsServing() && host->link->Accepting());
    EXPECT_EQ(host->link->Code(), MakeAddressCode("127.0.0.1"));
    RawSocket waiting = RawSocket::Connect(host->link->OwnPort());
    auto ann = Join(*host, "Ann");
    auto bob = Join(*host, "Bob", JoinMode::ByCode);
    ConnectionId bobId = host->events.hostPackets.back().first;
    for (const LinkEnd* client : {ann.get(), bob.get()}) {
        EXPECT_EQ(client->prompter.boxes, Boxes{SocketBox(kConnected)});
        EXPECT_TRUE(client->link->IsConnected() && !client->link->IsServing());
        EXPECT_EQ(client->link->Code(), host->link->Code());
    }
    EXPECT_EQ(host->link->AddressText(MemberSlot(2)), "127.0.0.1");
    EXPECT_EQ(host->link->Promote(999).value, 0u);

    SCOPED_TRACE("broadcast reaches the members in order, not the waiting one");
    const Packets lines{HostSay("one"), HostSay("two"), HostSay("three")};
    for (const std::string& line : lines)
        host->link->Broadcast(line);
    host->link->SendToHost(HostSay("nowhere")); // the listening socket carries nothing
    ASSERT_TRUE(WaitFor([&] { return bob->events.clientPackets.size() == 3; }));
    EXPECT_EQ(ann->events.clientPackets, lines);
    EXPECT_EQ(bob->events.clientPackets, lines);
    Pump(20ms);
    std::string toWaiting;
    EXPECT_TRUE(waiting.ReceiveSome(toWaiting, 0ms));
    EXPECT_EQ(toWaiting, "");
    EXPECT_TRUE(host->Boxes().empty());

    LinkEnd idle(LoopbackOptions(host->link->OwnPort()));
    const Box notHost{"", "不是主机，无法广播。", BoxIcon::None};
    const auto broadcast = [&](SessionLink& link) { link.Broadcast(lines[0]); };
    struct Case {
        const char* name;
        LinkEnd& end;
        std::function<void(SessionLink&)> call;
        Boxes boxes;
    };
    const Case cases[] = {
        {"serve on a taken port",
         idle,
         [](SessionLink& link) { EXPECT_FALSE(link.Serve()); },
         {SocketBox("Could not bind server socket.")}},
        {"broadcast from an idle link", idle, broadcast, {notHost}},
        {"broadcast from a client", *ann, broadcast, {notHost}},
        {"send to the host from an idle link",
         idle,
         [&](SessionLink& link) { link.SendToHost(lines[0]); },
         {SocketBox("Error occurred during send!!")}},
        {"address of, send to and close of a slot past the members", *host,
         [&](SessionLink& link) {
             EXPECT_EQ(link.AddressText(MemberSlot(3)), "");
             link.Send(MemberSlot(3), lines[0]);
             link.CloseSlot(MemberSlot(3));
         },
         Boxes(3, SocketBox("s_ID > Length."))},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        c.end.prompter.boxes.clear();
        c.call(*c.end.link);
        EXPECT_EQ(c.end.Boxes(), c.boxes);
    }
    EXPECT_FALSE(idle.link->IsServing());
    EXPECT_EQ(host->link->SlotCount(), 2u);
    host->prompter.boxes.clear();

    SCOPED_TRACE("a slot the caller closes is nobody's departure; the later member moves down");
    host->link->CloseSlot(MemberSlot(1));
    ASSERT_TRUE(WaitFor([&] { return ann->events.hostGone == 1; }));
    Pump(20ms);
    EXPECT_TRUE(host->events.leaves.empty());
    EXPECT_EQ(host->link->SlotOf(bobId), MemberSlot(1));

    SCOPED_TRACE("a client's shutdown is one departure at the host and silent at home");
    std::size_t calls = bob->events.Calls();
    EXPECT_TRUE(bob->link->Shutdown());
    ASSERT_TRUE(WaitFor([&] { return !host->events.leaves.empty(); }));
    Pump(50ms);
    EXPECT_EQ(host->events.leaves, std::vector<ConnectionId>{bobId});
    EXPECT_EQ(bob->events.Calls(), calls);
    EXPECT_EQ(host->link->SlotCount(), 0u);
    ASSERT_TRUE(Connect(*bob));
    bob->link->SendToHost(BuildLogin("Bob"));
    ASSERT_TRUE(WaitFor([&] { return host->link->SlotCount() == 1; }));

    SCOPED_TRACE("the host's shutdown closes everything and calls nothing");
    calls = host->events.Calls();
    EXPECT_TRUE(host->link->Shutdown());
    EXPECT_FALSE(host->link->IsServing());
    EXPECT_EQ(host->link->SlotCount() + host->link->PendingCount(), 0u);
    ASSERT_TRUE(WaitFor([&] { return bob->events.hostGone == 1; }));
    EXPECT_TRUE(WaitClosed(waiting));
    Pump(50ms);
    EXPECT_EQ(host->events.Calls(), calls);
    EXPECT_EQ(bob->events.hostGone, 1u);
    EXPECT_FALSE(host->link->Shutdown());
    EXPECT_TRUE(host->Boxes().empty());
    EXPECT_FALSE(RawSocket::Connect(host->link->OwnPort()).Open());
    EXPECT_TRUE(bob->link->Shutdown());
    EXPECT_FALSE(bob->link->IsConnected());
}

TEST(SessionLink, AMemberThatStopsReadingIsDisconnectedOnceNeverInsideASend) {
    LinkOptions options = LoopbackOptions();
    options.queueCap = 64 * 1024;
    auto host = StartHost(options);
    auto reader = Join(*host, "Ann");
    // A member that logs in and then never reads, with a small window.
    RawSocket stalled = RawSocket::Connect(host->link->OwnPort(), 4096);
    ASSERT_TRUE(stalled.Send(BuildLogin("Bob")));
    ASSERT_TRUE(WaitFor([&] { return host->link->SlotCount() == 2; }));
    const ConnectionId stalledId = host->events.hostPackets.back().first;

    const std::string line = HostSay(std::string(MAX_CHAT_TEXT, 'x'));
    std::size_t sent = 0;
    bool calledInside = false;
    for (; host->events.leaves.empty() && sent < 20000; ++sent) { // 80 MB: past any buffers
        const std::size_t calls = host->events.Calls();
        host->link->Broadcast(line);
        calledInside = calledInside || host->events.Calls() != calls;
        QCoreApplication::processEvents();
    }
    ASSERT_EQ(host->events.leaves, std::vector<ConnectionId>{stalledId});
    EXPECT_FALSE(calledInside);
    EXPECT_EQ(host->link->SlotCount(), 1u);
    // The member that reads gets every line, the one that stalled nothing more.
    EXPECT_TRUE(WaitFor([&] { return reader->events.clientPackets.size() == sent; }, 10000ms));
    Pump(50ms);
    EXPECT_EQ(host->events.leaves.size(), 1u);
    EXPECT_EQ(reader->events.hostGone, 0u);
}

TEST(SessionLink, DeparturesAndPacketsDuringANestedLoopComeOnceAndInOrder) {
    auto host = StartHost();
    RawSocket ann, bob;
    const ConnectionId a = LogIn(*host, ann, "Ann");
    const ConnectionId b = LogIn(*host, bob, "Bob");
    bool nested = false;
    host->events.duringHostPacket = [&](ConnectionId id, const std::string& packet) {
        if (id != a || packet != Say("first") || std::exchange(nested, true))
            return;
        // A modal box: meanwhile Ann goes on and leaves, and Bob leaves.
        QTimer::singleShot(10ms, [&] {
            ann.Send(Say("second") + Say("third"));
            ann.Close();
            bob.Close();
        });
        QEventLoop box;
        QTimer::singleShot(200ms, &box, &QEventLoop::quit);
        box.exec();
    };
    ASSERT_TRUE(ann.Send(Say("first")));
    ASSERT_TRUE(WaitFor([&] { return host->events.leaves.size() == 2; }));
    Pump(50ms);
    EXPECT_EQ(host->events.PacketsFrom(a),
              (Packets{BuildLogin("Ann"), Say("first"), Say("second"), Say("third")}));
    std::vector<ConnectionId> leaves = host->events.leaves;
    std::sort(leaves.begin(), leaves.end());
    EXPECT_EQ(leaves, (std::vector<ConnectionId>{a, b}));
    EXPECT_EQ(host->link->SlotCount(), 0u);
}

TEST(SessionLink, TheClientReadsAfterTheBoxCutsTheStreamAndLeavesOnAViolation) {
    const std::uint16_t port = FreePort();
    RawSocket listener = RawSocket::Listen(port), host;
    LinkEnd client(LoopbackOptions(port));
    std::optional<std::size_t> packetsDuringBox;
    client.prompter.duringInform = [&] {
        // The host answers at once; the box stays open meanwhile.
        host = listener.Accept();
        ASSERT_TRUE(host.Send(HostSay("early")));
        Pump(150ms);
        packetsDuringBox = client.events.clientPackets.size();
    };
    ASSERT_TRUE(Connect(client));
    EXPECT_EQ(packetsDuringBox, 0u);
    const std::string joined = BuildMemberJoined("Bob", "10.0.0.7"), line = HostSay("hi");
    ASSERT_TRUE(host.Send(joined + line.substr(0, 3)));
    Pump(20ms);
    ASSERT_TRUE(host.Send(line.substr(3) + line));
    ASSERT_TRUE(WaitFor([&] { return client.events.clientPackets.size() == 4; }));
    EXPECT_EQ(client.events.clientPackets, (Packets{HostSay("early"), joined, line, line}));

    ASSERT_TRUE(host.Send(Oversized(PacketType::Notice)));
    std::string rest;
    EXPECT_TRUE(WaitFor([&] { return !host.ReceiveSome(rest, 0ms); }));
    Pump(20ms);
    EXPECT_EQ(client.events.hostGone, 1u);
    EXPECT_TRUE(client.link->Shutdown());
    EXPECT_FALSE(client.link->Shutdown());
}

} // namespace
} // namespace kolvena::test
