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

class SessionLinkTest : public ::testing::Test {
protected:
    // A host serving on a free loopback port.
    static std::unique_ptr<LinkEnd> StartHost(LinkOptions options = LoopbackOptions()) {
        auto host = std::make_unique<LinkEnd>(std::move(options));
        EXPECT_TRUE(host->link->Init());
        EXPECT_TRUE(host->link->Serve());
        return host;
    }

    static bool Connect(LinkEnd& client, JoinMode mode = JoinMode::ByAddress, AddressCode code = 0,
                        const std::string& address = "127.0.0.1") {
        client.link->Init();
        const std::size_t before = client.events.connectResults.size();
        client.link->StartConnect(mode, code, address);
        return WaitFor([&] { return client.events.connectResults.size() > before; }, 5000ms) &&
               client.events.connectResults.back();
    }

    // A client link that has connected by address, logged in and been given a slot.
    static std::unique_ptr<LinkEnd> Join(LinkEnd& host, const std::string& name) {
        auto client = std::make_unique<LinkEnd>(LoopbackOptions(host.link->OwnPort()));
        EXPECT_TRUE(Connect(*client));
        const std::size_t members = host.link->SlotCount();
        client->link->SendToHost(BuildLogin(name));
        EXPECT_TRUE(WaitFor([&] { return host.link->SlotCount() == members + 1; }));
        return client;
    }

    // A raw member that has logged in; its connection id.
    static ConnectionId LogIn(LinkEnd& host, RawPeer& peer, const std::string& name) {
        EXPECT_TRUE(peer.Connect(host.link->OwnPort()));
        const std::size_t before = host.events.hostPackets.size();
        peer.Write(BuildLogin(name));
        EXPECT_TRUE(WaitFor([&] { return host.events.hostPackets.size() > before; }));
        return host.events.hostPackets.empty() ? 0 : host.events.hostPackets.back().first;
    }
};

// --- connecting ---

TEST_F(SessionLinkTest, ClientsJoinByAddressOrByCodeAfterTheSuccessBox) {
    auto host = StartHost();
    EXPECT_TRUE(host->link->IsServing() && host->link->Accepting());
    EXPECT_NE(host->link->OwnPort(), 0);
    const AddressCode code = MakeAddressCode("127.0.0.1");
    EXPECT_EQ(host->link->Code(), code);
    std::vector<std::unique_ptr<LinkEnd>> clients;
    for (const JoinMode mode : {JoinMode::ByAddress, JoinMode::ByCode}) {
        SCOPED_TRACE(static_cast<int>(mode));
        auto& client =
            clients.emplace_back(std::make_unique<LinkEnd>(LoopbackOptions(host->link->OwnPort())));
        const bool byCode = mode == JoinMode::ByCode;
        ASSERT_TRUE(Connect(*client, mode, byCode ? code : 0, byCode ? "" : "127.0.0.1"));
        EXPECT_EQ(client->Boxes(), Boxes{SocketBox(kConnected)});
        EXPECT_TRUE(client->link->IsConnected() && !client->link->IsServing());
        EXPECT_EQ(client->link->Code(), code);
        EXPECT_EQ(client->events.connectResults, std::vector<bool>{true});
        client->link->SendToHost(BuildLogin("Ann"));
        ASSERT_TRUE(WaitFor([&] { return host->link->SlotCount() == clients.size(); }));
        EXPECT_EQ(host->events.hostPackets.back().second, BuildLogin("Ann"));
        EXPECT_EQ(host->link->AddressText(MemberSlot(clients.size())), "127.0.0.1");
    }
    EXPECT_EQ(host->events.pendingCalls, 2);
}

TEST_F(SessionLinkTest, AConnectThatFailsShowsItsBoxAndReportsLater) {
    auto host = StartHost();
    SilentHost silent;
    const std::uint16_t refused = FreePort(), open = host->link->OwnPort();
    struct Case {
        const char* address;
        std::uint16_t port;
        const char* box;
    };
    const Case cases[] = {
        {"127.0.0.1", refused, kConnectFailed},
        {"127.0.0.1", silent.port, kConnectFailed},
        {"127.0.0.300", open, kBadAddress},
        {"localhost", open, kBadAddress},
        {"", open, kBadAddress},
        {"1.2.3.4.5", open, kBadAddress},
        {"255.255.255.255", open, kBadAddress},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.address + (" port " + std::to_string(c.port)));
        LinkOptions options = LoopbackOptions(c.port);
        options.connectTimeout = 200ms;
        LinkEnd client(options);
        client.link->StartConnect(JoinMode::ByAddress, 0, c.address);
        // Later, as a connect's outcome would come: the caller finishes its step first.
        EXPECT_TRUE(client.events.connectResults.empty());
        ASSERT_TRUE(WaitFor([&] { return !client.events.connectResults.empty(); }));
        EXPECT_EQ(client.events.connectResults, std::vector<bool>{false});
        EXPECT_EQ(client.Boxes(), Boxes{SocketBox(c.box)});
        EXPECT_FALSE(client.link->IsConnected());
        EXPECT_FALSE(client.link->Shutdown());
    }
    Pump(50ms);
    EXPECT_EQ(host->events.pendingCalls, 0);

    // The same link connects once a host serves there.
    LinkEnd client(LoopbackOptions(refused));
    EXPECT_FALSE(Connect(client));
    auto late = StartHost(LoopbackOptions(refused));
    EXPECT_TRUE(Connect(client));
    EXPECT_EQ(client.events.connectResults, (std::vector<bool>{false, true}));
}

TEST_F(SessionLinkTest, AConnectInProgressGivesWayToALaterOneOrToTheLinksEnd) {
    SilentHost silent;
    LinkOptions options = LoopbackOptions(silent.port);
    options.connectTimeout = 100ms;
    {
        LinkEnd client(options);
        client.link->StartConnect(JoinMode::ByAddress, 0, "127.0.0.1");
        EXPECT_FALSE(Connect(client, JoinMode::ByAddress, 0, "127.0.0.300"));
        Pump(300ms);
        EXPECT_EQ(client.events.connectResults, std::vector<bool>{false});
        EXPECT_EQ(client.Boxes(), Boxes{SocketBox(kBadAddress)});
    }
    options.connectTimeout = 30s;
    LinkEnd client(options);
    client.link->StartConnect(JoinMode::ByAddress, 0, "127.0.0.1");
    Pump(50ms);
    const auto start = std::chrono::steady_clock::now();
    client.link.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
    Pump(50ms);
    EXPECT_EQ(client.events.calls, 0u);
    EXPECT_TRUE(client.Boxes().empty());
}

// --- the host's connections ---

TEST_F(SessionLinkTest, PacketsSplitAndJoinedInTheStreamArriveWholeAndInOrder) {
    auto host = StartHost();
    const std::string login = BuildLogin("Ann"), say = Say("hello there"),
                      notice = BuildNotice(PacketType::NoticeToHost, {2, "a notice"});
    Packets perByte;
    for (char byte : notice)
        perByte.emplace_back(1, byte);
    const std::pair<Packets, Packets> cases[] = {
        {{login + say}, {login, say}},
        {perByte, {notice}},
        {{say.substr(0, 3), say.substr(3) + notice}, {say, notice}},
        // A type the host does not take drops what is buffered; the stream goes on after it.
        {{std::string{13}, say}, {say}},
    };
    for (const auto& [writes, packets] : cases) {
        SCOPED_TRACE(writes.size());
        host->events.hostPackets.clear();
        RawPeer peer;
        ASSERT_TRUE(peer.Connect(host->link->OwnPort()));
        for (const std::string& bytes : writes) {
            peer.Write(bytes);
            Pump(10ms);
        }
        ASSERT_TRUE(WaitFor([&] { return host->events.hostPackets.size() >= packets.size(); }));
        Pump(20ms);
        EXPECT_EQ(host->events.PacketsFrom(), packets);
    }
}

TEST_F(SessionLinkTest, AConnectionThatEndsIsOneDepartureIfAMemberElseSilent) {
    enum class End { Fin, Rst, ByHost };
    struct Case {
        const char* name;
        bool member;
        std::string bytes;
        End end;
        Packets packets;
        std::chrono::milliseconds loginTimeout = 30s;
    };
    const std::string ann = BuildLogin("Ann"), bob = BuildLogin("Bob");
    const Case cases[] = {
        {"a member closes after two packets",
         true,
         Say("bye") + Say("now"),
         End::Fin,
         {ann, bob, Say("bye"), Say("now")}},
        {"a member resets in mid-packet", true, Say("cut").substr(0, 4), End::Rst, {ann, bob}},
        {"a member breaks the protocol",
         true,
         Oversized(PacketType::NoticeToHost),
         End::ByHost,
         {ann, bob}},
        {"a waiting one closes", false, "", End::Fin, {ann}},
        {"a waiting one breaks the protocol",
         false,
         Oversized(PacketType::NoticeToHost),
         End::ByHost,
         {ann}},
        // A part of a Login is no Login; the member's own connection has no login time.
        {"a waiting one does not log in in time",
         false,
         bob.substr(0, 5),
         End::ByHost,
         {ann},
         300ms},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LinkOptions options = LoopbackOptions();
        options.loginTimeout = c.loginTimeout;
        auto host = StartHost(options);
        host->events.closeOnLeave = false;
        RawPeer keeper, peer;
        LogIn(*host, keeper, "Ann");
        const ConnectionId id = c.member ? LogIn(*host, peer, "Bob") : 0;
        if (!c.member) {
            ASSERT_TRUE(peer.Connect(host->link->OwnPort()));
            ASSERT_TRUE(WaitFor([&] { return host->link->PendingCount() == 1; }));
        }
        peer.Write(c.bytes);
        if (c.end == End::Fin)
            peer.Socket().disconnectFromHost();
        if (c.end == End::Rst) {
            const linger reset{1, 0};
            ::setsockopt(static_cast<int>(peer.Socket().socketDescriptor()), SOL_SOCKET, SO_LINGER,
                         &reset, sizeof reset);
            peer.Socket().abort();
        }
        if (c.end == End::ByHost) {
            EXPECT_TRUE(peer.WaitClosed());
        }
        const std::vector<ConnectionId> leaves(c.member ? 1 : 0, id);
        ASSERT_TRUE(WaitFor([&] {
            return host->link->PendingCount() == 0 && host->events.leaves.size() == leaves.size();
        }));
        Pump(50ms);
        EXPECT_EQ(host->events.leaves, leaves);
        EXPECT_EQ(host->events.PacketsFrom(), c.packets);
        // Reported while it still holds its slot; the listener closes it.
        if (c.member) {
            EXPECT_EQ(host->link->SlotOf(id), MemberSlot(2));
            host->link->CloseSlot(MemberSlot(2));
        }
        EXPECT_EQ(host->link->SlotCount(), 1u);
        EXPECT_FALSE(keeper.Closed());
    }
}

TEST_F(SessionLinkTest, ARefusedConnectionGetsNoSlotAndNoBytes) {
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

TEST_F(SessionLinkTest, AFailedAcceptShowsOneBoxAndTheServerGoesOn) {
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
    EXPECT_EQ(host->events.pendingCalls, 0);
    EXPECT_TRUE(WaitFor([&] { return host->events.pendingCalls == 1; }));
    EXPECT_EQ(host->Boxes().size(), 1u); // no box for the retries, nor after the success
}

TEST_F(SessionLinkTest, SendsReachOnlyMembersInOrderAndWrongCallsShowTheirBox) {
    auto host = StartHost();
    RawPeer waiting;
    ASSERT_TRUE(waiting.Connect(host->link->OwnPort()));
    auto ann = Join(*host, "Ann");
    auto bob = Join(*host, "Bob");
    const ConnectionId bobId = host->events.hostPackets.back().first;
    const Packets lines{HostSay("one"), HostSay("two"), HostSay("three")};
    for (const std::string& line : lines)
        host->link->Broadcast(line);
    host->link->SendToHost(HostSay("nowhere")); // the listening socket carries nothing
    ASSERT_TRUE(WaitFor([&] { return bob->events.clientPackets.size() == 3; }));
    EXPECT_EQ(ann->events.clientPackets, lines);
    EXPECT_EQ(bob->events.clientPackets, lines);
    Pump(20ms);
    EXPECT_TRUE(waiting.Received().empty());
    EXPECT_TRUE(host->Boxes().empty());
    EXPECT_EQ(host->link->Promote(999).value, 0u);

    LinkEnd idle(LoopbackOptions(host->link->OwnPort()));
    const Box notHost{"", "不是主机，无法广播。", BoxIcon::None};
    const Box badSlot = SocketBox("s_ID > Length.");
    struct Case {
        const char* name;
        LinkEnd& end;
        std::function<void(SessionLink&)> call;
        Box box;
    };
    const Case cases[] = {
        {"serve on a taken port", idle, [](SessionLink& l) { EXPECT_FALSE(l.Serve()); },
         SocketBox("Could not bind server socket.")},
        {"broadcast from an idle link", idle, [&](SessionLink& l) { l.Broadcast(lines[0]); },
         notHost},
        {"broadcast from a client", *ann, [&](SessionLink& l) { l.Broadcast(lines[0]); }, notHost},
        {"send to the host from an idle link", idle,
         [&](SessionLink& l) { l.SendToHost(lines[0]); },
         SocketBox("Error occurred during send!!")},
        {"address of a slot past the members", *host,
         [](SessionLink& l) { EXPECT_EQ(l.AddressText(MemberSlot(3)), ""); }, badSlot},
        {"send to it", *host, [&](SessionLink& l) { l.Send(MemberSlot(3), lines[0]); }, badSlot},
        {"close it", *host, [](SessionLink& l) { l.CloseSlot(MemberSlot(3)); }, badSlot},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        c.end.prompter.boxes.clear();
        c.call(*c.end.link);
        EXPECT_EQ(c.end.Boxes(), Boxes{c.box});
    }
    EXPECT_FALSE(idle.link->IsServing());
    EXPECT_EQ(host->link->SlotCount(), 2u);

    // A slot the caller closes is nobody's departure; the later member moves down.
    host->link->CloseSlot(MemberSlot(1));
    ASSERT_TRUE(WaitFor([&] { return ann->events.hostGone == 1; }));
    Pump(20ms);
    EXPECT_TRUE(host->events.leaves.empty());
    EXPECT_EQ(host->link->SlotOf(bobId), MemberSlot(1));
    EXPECT_EQ(bob->events.hostGone, 0);
}

TEST_F(SessionLinkTest, AMemberThatStopsReadingIsDisconnectedOnceNeverInsideASend) {
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
        const std::size_t calls = host->events.calls;
        host->link->Broadcast(line);
        calledInside = calledInside || host->events.calls != calls;
        QCoreApplication::processEvents();
    }
    ASSERT_EQ(host->events.leaves, std::vector<ConnectionId>{stalledId});
    EXPECT_FALSE(calledInside);
    EXPECT_EQ(host->link->SlotCount(), 1u);
    // The member that reads gets every line, the one that stalled nothing more.
    EXPECT_TRUE(WaitFor([&] { return reader->events.clientPackets.size() == sent; }, 10000ms));
    Pump(50ms);
    EXPECT_EQ(host->events.leaves.size(), 1u);
    EXPECT_EQ(reader->events.hostGone, 0);
}

TEST_F(SessionLinkTest, DeparturesAndPacketsDuringANestedLoopComeOnceAndInOrder) {
    auto host = StartHost();
    RawPeer ann, bob;
    const ConnectionId a = LogIn(*host, ann, "Ann");
    const ConnectionId b = LogIn(*host, bob, "Bob");
    bool nested = false;
    host->events.duringHostPacket = [&](ConnectionId id, const std::string& packet) {
        if (id != a || packet != Say("first") || std::exchange(nested, true))
            return;
        // A modal box: meanwhile Ann goes on and leaves, and Bob leaves.
        QTimer::singleShot(10ms, [&] {
            ann.Write(Say("second") + Say("third"));
            ann.Socket().disconnectFromHost();
            bob.Socket().abort();
        });
        QEventLoop box;
        QTimer::singleShot(200ms, &box, &QEventLoop::quit);
        box.exec();
    };
    ann.Write(Say("first"));
    ASSERT_TRUE(WaitFor([&] { return host->events.leaves.size() == 2; }));
    Pump(50ms);
    EXPECT_EQ(host->events.PacketsFrom(a),
              (Packets{BuildLogin("Ann"), Say("first"), Say("second"), Say("third")}));
    std::vector<ConnectionId> leaves = host->events.leaves;
    std::sort(leaves.begin(), leaves.end());
    EXPECT_EQ(leaves, (std::vector<ConnectionId>{a, b}));
    EXPECT_EQ(host->link->SlotCount(), 0u);
}

// --- the client's connection ---

TEST_F(SessionLinkTest, TheClientReadsAfterTheBoxCutsTheStreamAndLeavesOnAViolation) {
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
    EXPECT_EQ(client.events.hostGone, 1);
    EXPECT_TRUE(client.link->Shutdown());
    EXPECT_FALSE(client.link->Shutdown());
}

// --- shutting down ---

TEST_F(SessionLinkTest, ShuttingDownIsSilentAtHomeAndOneDepartureOrHostGoneAtTheOtherEnd) {
    auto host = StartHost();
    auto client = Join(*host, "Ann");
    const ConnectionId id = host->events.hostPackets.back().first;
    std::size_t calls = client->events.calls;
    EXPECT_TRUE(client->link->Shutdown());
    ASSERT_TRUE(WaitFor([&] { return !host->events.leaves.empty(); }));
    Pump(50ms);
    EXPECT_EQ(host->events.leaves, std::vector<ConnectionId>{id});
    EXPECT_EQ(client->events.calls, calls);
    EXPECT_EQ(host->link->SlotCount(), 0u);

    // The same client joins again; the host shuts down with it and with a waiting connection.
    ASSERT_TRUE(Connect(*client));
    client->link->SendToHost(BuildLogin("Ann"));
    RawPeer waiting;
    ASSERT_TRUE(waiting.Connect(host->link->OwnPort()));
    ASSERT_TRUE(WaitFor([&] { return host->link->SlotCount() + host->link->PendingCount() == 2; }));
    calls = host->events.calls;
    EXPECT_TRUE(host->link->Shutdown());
    EXPECT_FALSE(host->link->IsServing());
    EXPECT_EQ(host->link->SlotCount() + host->link->PendingCount(), 0u);
    ASSERT_TRUE(WaitFor([&] { return client->events.hostGone == 1; }));
    EXPECT_TRUE(waiting.WaitClosed());
    Pump(50ms);
    EXPECT_EQ(host->events.calls, calls);
    EXPECT_EQ(client->events.hostGone, 1);
    EXPECT_FALSE(host->link->Shutdown());
    EXPECT_TRUE(host->Boxes().empty());
    RawPeer late;
    EXPECT_FALSE(late.Connect(host->link->OwnPort()));
    EXPECT_TRUE(client->link->Shutdown());
    EXPECT_FALSE(client->link->IsConnected());
}

} // namespace
} // namespace kolvena::test
