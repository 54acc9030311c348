#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include "net/full_listener.h"
#include "net/net_test_support.h"
#include "protocol/packets.h"
#include "support/child_process.h"
#include "support/raw_socket.h"

namespace kolvena::test {

// Beside Box, so that the comparisons of box lists find it.
static bool operator==(const ScriptedPrompter::Box& a, const ScriptedPrompter::Box& b) {
    return a.caption == b.caption && a.text == b.text && a.icon == b.icon;
}

namespace {

using Box = ScriptedPrompter::Box;
using test::RawSocket;

constexpr const char* kConnected = "与会话主机连接成功!";
constexpr const char* kConnectFailed = "与会话主机连接没有成功，请重新连接。";
constexpr const char* kBadAddress = "IPAddress is error!\nPlease input again!";
constexpr const char* kNotHost = "不是主机，无法广播。";

Box SocketBox(const char* text) {
    return {"Kolvena", text, BoxIcon::Information};
}

std::string Say(std::uint16_t sender, std::string text) {
    return BuildChat(PacketType::SayToHost, {"", 0, sender, 0, 1, std::move(text)});
}

std::string HostSay(std::string text) {
    return BuildChat(PacketType::Say, {"", 0, 1, 0, 1, std::move(text)});
}

// A notice header announcing far more text than any packet may hold.
std::string Oversized(PacketType type) {
    return std::string{static_cast<char>(type), 1, 0, '\xFF', '\xFF'};
}

constexpr int kSmallWindow = 4096;

// A host played by the test, to put exactly the bytes it wants on a client's wire.
class ScriptedHost {
public:
    ScriptedHost() { server_.listen(QHostAddress::LocalHost, 0); }
    std::uint16_t Port() const { return server_.serverPort(); }
    // The connection of the first client, once it has come.
    QTcpSocket* Peer() {
        if (!peer_ && server_.hasPendingConnections())
            peer_ = server_.nextPendingConnection();
        return peer_;
    }
    bool WaitForPeer() {
        return WaitFor([this] { return Peer() != nullptr; });
    }
    void Write(std::string_view bytes) {
        Peer()->write(bytes.data(), static_cast<qint64>(bytes.size()));
        Peer()->flush();
    }

private:
    QTcpServer server_;
    QTcpSocket* peer_ = nullptr;
};

class SessionLinkTest : public ::testing::Test {
protected:
    // A host serving on a free loopback port.
    std::unique_ptr<LinkEnd> StartHost(LinkOptions options = LoopbackOptions()) {
        auto host = std::make_unique<LinkEnd>(std::move(options));
        EXPECT_TRUE(host->link->Init());
        EXPECT_TRUE(host->link->Serve());
        return host;
    }

    static std::unique_ptr<LinkEnd> MakeClient(std::uint16_t port) {
        return std::make_unique<LinkEnd>(LoopbackOptions(port));
    }

    static bool Connect(LinkEnd& client, JoinMode mode, AddressCode code,
                        const std::string& address) {
        client.link->Init();
        const std::size_t before = client.events.connectResults.size();
        client.link->StartConnect(mode, code, address);
        return WaitFor([&] { return client.events.connectResults.size() > before; }, 5000ms) &&
               client.events.connectResults.back();
    }

    // A client link that has connected by address, logged in and been given a slot.
    std::unique_ptr<LinkEnd> Join(LinkEnd& host, const std::string& name) {
        auto client = MakeClient(host.link->OwnPort());
        EXPECT_TRUE(Connect(*client, JoinMode::ByAddress, 0, "127.0.0.1"));
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

// --- serving ---

TEST_F(SessionLinkTest, ServingOpensTheDoorAndTakesTheCodeFromTheOwnAddress) {
    auto host = StartHost();
    EXPECT_TRUE(host->link->IsServing());
    EXPECT_TRUE(host->link->Accepting());
    EXPECT_NE(host->link->OwnPort(), 0);
    EXPECT_EQ(host->link->OwnAddressText(), "127.0.0.1");
    EXPECT_EQ(host->link->Code(), MakeAddressCode("127.0.0.1"));
    EXPECT_EQ(host->link->SlotCount(), 0u);

    // The port is taken: a second host cannot serve on it.
    LinkEnd second(LoopbackOptions(host->link->OwnPort()));
    EXPECT_FALSE(second.link->Serve());
    EXPECT_EQ(second.Boxes(), std::vector<Box>{SocketBox("Could not bind server socket.")});
    EXPECT_FALSE(second.link->IsServing());
}

// --- connecting ---

struct JoinCase {
    const char* name;
    JoinMode mode;
};

class JoinTest : public SessionLinkTest, public ::testing::WithParamInterface<JoinCase> {};

TEST_P(JoinTest, ConnectsAfterTheSuccessBoxAndTakesTheCode) {
    auto host = StartHost();
    auto client = MakeClient(host->link->OwnPort());
    const AddressCode code = MakeAddressCode("127.0.0.1");
    const bool byCode = GetParam().mode == JoinMode::ByCode;
    ASSERT_TRUE(Connect(*client, GetParam().mode, byCode ? code : 0, byCode ? "" : "127.0.0.1"));

    EXPECT_EQ(client->Boxes(), std::vector<Box>{SocketBox(kConnected)});
    EXPECT_TRUE(client->link->IsConnected());
    EXPECT_FALSE(client->link->IsServing());
    EXPECT_EQ(client->link->Code(), code);
    EXPECT_EQ(client->events.connectResults, std::vector<bool>{true});
    ASSERT_TRUE(WaitFor([&] { return host->events.pendingCalls == 1; }));
    EXPECT_EQ(host->link->PendingCount(), 1u);

    client->link->SendToHost(BuildLogin("Ann"));
    ASSERT_TRUE(WaitFor([&] { return host->events.hostPackets.size() == 1; }));
    EXPECT_EQ(host->events.hostPackets[0].second, BuildLogin("Ann"));
    EXPECT_EQ(host->link->SlotCount(), 1u);
    EXPECT_EQ(host->link->AddressText(MemberSlot(1)), "127.0.0.1");
}

INSTANTIATE_TEST_SUITE_P(Modes, JoinTest,
                         ::testing::Values(JoinCase{"ByAddress", JoinMode::ByAddress},
                                           JoinCase{"ByCode", JoinMode::ByCode}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(SessionLinkTest, NothingFromTheHostIsHandledWhileTheSuccessBoxIsOpen) {
    ScriptedHost fake;
    auto client = MakeClient(fake.Port());
    std::size_t packetsDuringBox = 99;
    client->prompter.duringInform = [&] {
        if (client->Boxes().back().text != kConnected || packetsDuringBox != 99)
            return;
        // The host answers at once; the box stays open meanwhile.
        ASSERT_TRUE(fake.WaitForPeer());
        fake.Write(HostSay("early"));
        Pump(150ms);
        packetsDuringBox = client->events.clientPackets.size();
    };
    ASSERT_TRUE(Connect(*client, JoinMode::ByAddress, 0, "127.0.0.1"));
    EXPECT_EQ(packetsDuringBox, 0u);
    ASSERT_TRUE(WaitFor([&] { return client->events.clientPackets.size() == 1; }));
    EXPECT_EQ(client->events.clientPackets[0], HostSay("early"));
}

TEST_F(SessionLinkTest, AFailedConnectShowsItsBoxAndASecondConnectWorks) {
    const std::uint16_t port = FreePort();
    ASSERT_NE(port, 0);
    auto client = MakeClient(port);
    EXPECT_FALSE(Connect(*client, JoinMode::ByAddress, 0, "127.0.0.1"));
    EXPECT_EQ(client->Boxes(), std::vector<Box>{SocketBox(kConnectFailed)});
    EXPECT_EQ(client->events.connectResults, std::vector<bool>{false});
    EXPECT_FALSE(client->link->IsConnected());
    EXPECT_FALSE(client->link->Shutdown()); // never connected, so nothing to shut

    auto host = StartHost(LoopbackOptions(port));
    ASSERT_TRUE(host->link->IsServing());
    EXPECT_TRUE(Connect(*client, JoinMode::ByAddress, 0, "127.0.0.1"));
    EXPECT_EQ(client->Boxes().back(), SocketBox(kConnected));
    EXPECT_EQ(client->events.connectResults, (std::vector<bool>{false, true}));
    EXPECT_TRUE(WaitFor([&] { return host->events.pendingCalls == 1; }));
}

TEST_F(SessionLinkTest, AnAddressThatIsNotDottedFailsWithoutTraffic) {
    auto host = StartHost();
    for (const char* address : {"127.0.0.300", "localhost", "", "1.2.3.4.5", "255.255.255.255"}) {
        SCOPED_TRACE(address);
        auto client = MakeClient(host->link->OwnPort());
        client->link->StartConnect(JoinMode::ByAddress, 0, address);
        // The outcome comes later, as a connect's would: the caller finishes its step first.
        EXPECT_TRUE(client->events.connectResults.empty());
        ASSERT_TRUE(WaitFor([&] { return !client->events.connectResults.empty(); }));
        EXPECT_EQ(client->events.connectResults, std::vector<bool>{false});
        EXPECT_EQ(client->Boxes(), std::vector<Box>{SocketBox(kBadAddress)});
        EXPECT_FALSE(client->link->IsConnected());
    }
    Pump(50ms);
    EXPECT_EQ(host->events.pendingCalls, 0);
}

TEST_F(SessionLinkTest, AConnectThatNobodyAnswersTimesOutWithTheFailureBox) {
    FullListener full(FullListener::Backlog::Full);
    LinkOptions options = LoopbackOptions(full.Port());
    options.connectTimeout = 200ms;
    LinkEnd client(options);
    EXPECT_FALSE(Connect(client, JoinMode::ByAddress, 0, "127.0.0.1"));
    EXPECT_EQ(client.Boxes(), std::vector<Box>{SocketBox(kConnectFailed)});
}

TEST_F(SessionLinkTest, ALinkDestroyedWhileConnectingGoesAtOnceAndCallsNothing) {
    FullListener full(FullListener::Backlog::Full);
    auto client = MakeClient(full.Port());
    client->link->StartConnect(JoinMode::ByAddress, 0, "127.0.0.1");
    Pump(50ms);
    const auto start = std::chrono::steady_clock::now();
    client->link.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
    Pump(50ms);
    EXPECT_EQ(client->events.Calls(), 0u);
    EXPECT_TRUE(client->Boxes().empty());
}

TEST_F(SessionLinkTest, ALaterConnectSupersedesOneInProgress) {
    FullListener full(FullListener::Backlog::Full);
    LinkOptions options = LoopbackOptions(full.Port());
    options.connectTimeout = 100ms;
    LinkEnd client(options);
    client.link->StartConnect(JoinMode::ByAddress, 0, "127.0.0.1");
    // The first attempt would time out with its own box; only the second one reports.
    EXPECT_FALSE(Connect(client, JoinMode::ByAddress, 0, "127.0.0.300"));
    Pump(300ms);
    EXPECT_EQ(client.events.connectResults, std::vector<bool>{false});
    EXPECT_EQ(client.Boxes(), std::vector<Box>{SocketBox(kBadAddress)});
}

// --- the host's connections ---

TEST_F(SessionLinkTest, PacketsSplitAndJoinedInTheStreamArriveWholeAndInOrder) {
    auto host = StartHost();
    RawPeer peer;
    ASSERT_TRUE(peer.Connect(host->link->OwnPort()));
    const std::string login = BuildLogin("Ann");
    const std::string say = Say(2, "hello there");
    const std::string notice = BuildNotice(PacketType::NoticeToHost, {2, "a notice"});
    peer.Write(login + say); // two packets, one write
    for (char byte : notice) {
        peer.Write(std::string(1, byte)); // one packet, a write per byte
        Pump(2ms);
    }
    // A type the host does not take drops what is buffered; the stream goes on after it.
    peer.Write(std::string{13});
    Pump(20ms);
    peer.Write(say);
    ASSERT_TRUE(WaitFor([&] { return host->events.hostPackets.size() == 4; }));
    const ConnectionId id = host->events.hostPackets[0].first;
    EXPECT_EQ(host->events.PacketsFrom(id), (std::vector<std::string>{login, say, notice, say}));
}

TEST_F(SessionLinkTest, SlotsFollowPromoteOrderAndMoveDownWhenOneCloses) {
    auto host = StartHost();
    host->events.promoteOnLogin = false;
    RawPeer ann, bob, cyd;
    const ConnectionId a = LogIn(*host, ann, "Ann");
    const ConnectionId b = LogIn(*host, bob, "Bob");
    const ConnectionId c = LogIn(*host, cyd, "Cyd");
    EXPECT_EQ(host->link->PendingCount(), 3u);
    EXPECT_EQ(host->link->SlotOf(a), std::nullopt);

    EXPECT_EQ(host->link->Promote(c).value, 1u);
    EXPECT_EQ(host->link->Promote(a).value, 2u);
    EXPECT_EQ(host->link->Promote(b).value, 3u);
    EXPECT_EQ(host->link->Promote(a).value, 2u); // a member keeps its slot
    EXPECT_EQ(host->link->Promote(999).value, 0u);
    EXPECT_EQ(host->link->PendingCount(), 0u);
    EXPECT_EQ(host->link->SlotCount(), 3u);
    for (std::size_t slot = 1; slot <= 3; ++slot)
        EXPECT_EQ(host->link->AddressText(MemberSlot(slot)), "127.0.0.1");

    const std::string line = HostSay("to slot 2");
    host->link->Send(MemberSlot(2), line);
    ASSERT_TRUE(WaitFor([&] { return ann.Received() == line; }));

    host->link->CloseSlot(MemberSlot(2));
    EXPECT_TRUE(ann.WaitClosed());
    EXPECT_EQ(host->link->SlotCount(), 2u);
    EXPECT_EQ(host->link->SlotOf(c), MemberSlot(1));
    EXPECT_EQ(host->link->SlotOf(a), std::nullopt);
    EXPECT_EQ(host->link->SlotOf(b), MemberSlot(2));
    Pump(20ms);
    EXPECT_TRUE(host->events.leaves.empty()); // the caller closed it: nobody to tell
    EXPECT_TRUE(bob.Received().empty());
    EXPECT_TRUE(cyd.Received().empty());
    EXPECT_TRUE(host->Boxes().empty());

    // A slot past the members is an error with its box, and changes nothing.
    EXPECT_EQ(host->link->AddressText(MemberSlot(3)), "");
    host->link->Send(MemberSlot(3), line);
    host->link->CloseSlot(MemberSlot(3));
    EXPECT_EQ(host->Boxes(), std::vector<Box>(3, SocketBox("s_ID > Length.")));
    EXPECT_EQ(host->link->SlotCount(), 2u);
}

TEST_F(SessionLinkTest, AConnectionThatDoesNotLogInInTimeIsClosedSilently) {
    LinkOptions options = LoopbackOptions();
    options.loginTimeout = 300ms;
    auto host = StartHost(options);
    RawPeer idle, member;
    const ConnectionId id = LogIn(*host, member, "Ann");
    ASSERT_EQ(host->link->SlotOf(id), MemberSlot(1));
    ASSERT_TRUE(idle.Connect(host->link->OwnPort()));
    ASSERT_TRUE(WaitFor([&] { return host->link->PendingCount() == 1; }));
    idle.Write(BuildLogin("Bob").substr(0, 5)); // a part of a Login is no Login

    EXPECT_TRUE(idle.WaitClosed());
    EXPECT_EQ(host->link->PendingCount(), 0u);
    EXPECT_EQ(host->events.hostPackets.size(), 1u);
    EXPECT_TRUE(host->events.leaves.empty());
    Pump(200ms);
    EXPECT_FALSE(member.Closed()); // a member has no login time
    EXPECT_EQ(host->link->SlotCount(), 1u);
}

TEST_F(SessionLinkTest, AWaitingConnectionThatClosesOrBreaksTheProtocolGoesSilently) {
    auto host = StartHost();
    RawPeer quitter, breaker;
    ASSERT_TRUE(quitter.Connect(host->link->OwnPort()));
    ASSERT_TRUE(breaker.Connect(host->link->OwnPort()));
    ASSERT_TRUE(WaitFor([&] { return host->link->PendingCount() == 2; }));
    quitter.Socket().disconnectFromHost();
    breaker.Write(Oversized(PacketType::NoticeToHost));
    EXPECT_TRUE(breaker.WaitClosed());
    ASSERT_TRUE(WaitFor([&] { return host->link->PendingCount() == 0; }));
    EXPECT_TRUE(host->events.leaves.empty());
    EXPECT_TRUE(host->events.hostPackets.empty());
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
    EXPECT_EQ(host->Boxes(),
              std::vector<Box>{SocketBox("Server socket failed to accept connection.")});
    EXPECT_EQ(host->events.pendingCalls, 0);
    EXPECT_TRUE(WaitFor([&] { return host->events.pendingCalls == 1; }));
    EXPECT_EQ(host->Boxes().size(), 1u); // no box for the retries, nor after the success
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
    EXPECT_EQ(host->link->PendingCount(), 0u);
    EXPECT_EQ(host->link->SlotCount(), 0u);
}

TEST_F(SessionLinkTest, PacketsBeforeAMembersCloseAreHandledThenOneDeparture) {
    auto host = StartHost();
    RawPeer peer;
    const ConnectionId id = LogIn(*host, peer, "Ann");
    peer.Write(Say(2, "bye") + Say(2, "now"));
    peer.Socket().disconnectFromHost();
    ASSERT_TRUE(WaitFor([&] { return !host->events.leaves.empty(); }));
    Pump(50ms);
    EXPECT_EQ(host->events.PacketsFrom(id),
              (std::vector<std::string>{BuildLogin("Ann"), Say(2, "bye"), Say(2, "now")}));
    EXPECT_EQ(host->events.leaves, std::vector<ConnectionId>{id});
    EXPECT_EQ(host->link->SlotCount(), 0u);
}

TEST_F(SessionLinkTest, AViolationClosesOnlyThatMemberAsOneDeparture) {
    auto host = StartHost();
    RawPeer breaker, keeper;
    const ConnectionId bad = LogIn(*host, breaker, "Ann");
    const ConnectionId good = LogIn(*host, keeper, "Bob");
    host->events.closeOnLeave = false;
    breaker.Write(Oversized(PacketType::NoticeToHost));
    EXPECT_TRUE(breaker.WaitClosed());
    ASSERT_TRUE(WaitFor([&] { return host->events.leaves.size() == 1; }));
    EXPECT_EQ(host->events.leaves, std::vector<ConnectionId>{bad});
    // Reported while it still holds its slot; the listener closes it.
    EXPECT_EQ(host->link->SlotOf(bad), MemberSlot(1));
    host->link->CloseSlot(MemberSlot(1));
    EXPECT_EQ(host->link->SlotOf(good), MemberSlot(1));

    const std::string line = HostSay("still here");
    host->link->Broadcast(line);
    EXPECT_TRUE(WaitFor([&] { return keeper.Received() == line; }));
    Pump(20ms);
    EXPECT_EQ(host->events.leaves.size(), 1u);
    EXPECT_FALSE(keeper.Closed());
}

TEST_F(SessionLinkTest, BroadcastReachesEveryMemberInOrderButNotTheWaiting) {
    auto host = StartHost();
    RawPeer waiting;
    ASSERT_TRUE(waiting.Connect(host->link->OwnPort()));
    auto ann = Join(*host, "Ann");
    auto bob = Join(*host, "Bob");
    const std::vector<std::string> lines{HostSay("one"), HostSay("two"), HostSay("three")};
    for (const std::string& line : lines)
        host->link->Broadcast(line);
    host->link->SendToHost(HostSay("nowhere")); // the listening socket carries nothing
    ASSERT_TRUE(WaitFor([&] {
        return ann->events.clientPackets.size() == 3 && bob->events.clientPackets.size() == 3;
    }));
    EXPECT_EQ(ann->events.clientPackets, lines);
    EXPECT_EQ(bob->events.clientPackets, lines);
    Pump(20ms);
    EXPECT_TRUE(waiting.Received().empty());
    EXPECT_TRUE(host->Boxes().empty());
}

TEST_F(SessionLinkTest, BroadcastIsRefusedUnlessServing) {
    auto host = StartHost();
    auto client = Join(*host, "Ann");
    LinkEnd idle(LoopbackOptions());
    for (LinkEnd* end : {client.get(), &idle}) {
        end->prompter.boxes.clear();
        end->link->Broadcast(HostSay("x"));
        EXPECT_EQ(end->Boxes(), (std::vector<Box>{Box{"", kNotHost, BoxIcon::None}}));
    }
    // An idle link has no host to send to.
    idle.link->SendToHost(BuildLogin("Ann"));
    EXPECT_EQ(idle.Boxes().back(), SocketBox("Error occurred during send!!"));
}

TEST_F(SessionLinkTest, AMemberThatStopsReadingIsDisconnectedOnceNeverInsideASend) {
    LinkOptions options = LoopbackOptions();
    options.queueCap = 64 * 1024;
    auto host = StartHost(options);
    auto reader = Join(*host, "Ann");

    // A member that logs in and then never reads, with a small window.
    RawSocket stalled = RawSocket::Connect(host->link->OwnPort(), kSmallWindow);
    ASSERT_TRUE(stalled.Send(BuildLogin("Bob")));
    ASSERT_TRUE(WaitFor([&] { return host->link->SlotCount() == 2; }));
    const ConnectionId stalledId = host->events.hostPackets.back().first;

    const std::string line = HostSay(std::string(MAX_CHAT_TEXT, 'x'));
    constexpr int kMaxBroadcasts = 20000; // 80 MB: far past any socket buffers
    int sent = 0;
    while (host->events.leaves.empty() && sent < kMaxBroadcasts) {
        host->events.forbidden = true;
        host->link->Broadcast(line);
        host->events.forbidden = false;
        ++sent;
        QCoreApplication::processEvents();
    }
    ASSERT_EQ(host->events.leaves, std::vector<ConnectionId>{stalledId});
    EXPECT_FALSE(host->events.calledWhileForbidden);
    EXPECT_EQ(host->link->SlotCount(), 1u);
    // The member that reads gets every line, the one that stalled nothing more.
    const auto sentCount = static_cast<std::size_t>(sent);
    EXPECT_TRUE(WaitFor([&] { return reader->events.clientPackets.size() == sentCount; }, 10000ms));
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
        if (id != a || packet != Say(2, "first") || nested)
            return;
        nested = true;
        // A modal box: meanwhile Ann goes on and leaves, and Bob leaves.
        QTimer::singleShot(10ms, [&] {
            ann.Write(Say(2, "second") + Say(2, "third"));
            ann.Socket().disconnectFromHost();
            bob.Socket().abort();
        });
        QEventLoop box;
        QTimer::singleShot(200ms, &box, &QEventLoop::quit);
        box.exec();
    };
    ann.Write(Say(2, "first"));
    ASSERT_TRUE(WaitFor([&] { return host->events.leaves.size() == 2; }));
    Pump(50ms);
    EXPECT_EQ(host->events.PacketsFrom(a),
              (std::vector<std::string>{BuildLogin("Ann"), Say(2, "first"), Say(2, "second"),
                                        Say(2, "third")}));
    std::vector<ConnectionId> leaves = host->events.leaves;
    std::sort(leaves.begin(), leaves.end());
    EXPECT_EQ(leaves, (std::vector<ConnectionId>{a, b}));
    EXPECT_EQ(host->link->SlotCount(), 0u);
}

// --- the client's connection ---

TEST_F(SessionLinkTest, TheClientCutsTheHostsStreamAndLeavesOnAViolation) {
    ScriptedHost fake;
    auto client = MakeClient(fake.Port());
    ASSERT_TRUE(Connect(*client, JoinMode::ByAddress, 0, "127.0.0.1"));
    ASSERT_TRUE(fake.WaitForPeer());
    const std::string joined = BuildMemberJoined("Bob", "10.0.0.7");
    const std::string line = HostSay("hi");
    fake.Write(joined + line.substr(0, 3));
    Pump(20ms);
    fake.Write(line.substr(3) + line);
    ASSERT_TRUE(WaitFor([&] { return client->events.clientPackets.size() == 3; }));
    EXPECT_EQ(client->events.clientPackets, (std::vector<std::string>{joined, line, line}));

    fake.Write(Oversized(PacketType::Notice));
    ASSERT_TRUE(WaitFor([&] { return client->events.hostGone == 1; }));
    EXPECT_TRUE(WaitFor([&] { return fake.Peer()->state() == QAbstractSocket::UnconnectedState; }));
    Pump(20ms);
    EXPECT_EQ(client->events.hostGone, 1);
    EXPECT_TRUE(client->link->Shutdown());
    EXPECT_FALSE(client->link->Shutdown());
}

// --- shutting down ---

TEST_F(SessionLinkTest, TheHostsShutdownClosesEverythingAndCallsNothing) {
    auto host = StartHost();
    auto client = Join(*host, "Ann");
    RawPeer waiting;
    ASSERT_TRUE(waiting.Connect(host->link->OwnPort()));
    ASSERT_TRUE(WaitFor([&] { return host->link->PendingCount() == 1; }));
    const std::uint16_t port = host->link->OwnPort();
    const std::size_t calls = host->events.Calls();

    EXPECT_TRUE(host->link->Shutdown());
    EXPECT_FALSE(host->link->IsServing());
    EXPECT_EQ(host->link->SlotCount(), 0u);
    EXPECT_EQ(host->link->PendingCount(), 0u);
    ASSERT_TRUE(WaitFor([&] { return client->events.hostGone == 1; }));
    EXPECT_TRUE(waiting.WaitClosed());
    Pump(50ms);
    EXPECT_EQ(host->events.Calls(), calls);
    EXPECT_EQ(client->events.hostGone, 1);
    EXPECT_FALSE(host->link->Shutdown());
    EXPECT_TRUE(host->Boxes().empty());

    // Nobody listens any more.
    RawPeer late;
    EXPECT_FALSE(late.Connect(port));

    // The client learns, then shuts its own end.
    EXPECT_TRUE(client->link->Shutdown());
    EXPECT_FALSE(client->link->IsConnected());
    EXPECT_FALSE(client->link->Shutdown());
}

TEST_F(SessionLinkTest, TheClientsShutdownIsOneDepartureAtTheHostAndSilentAtHome) {
    auto host = StartHost();
    auto client = Join(*host, "Ann");
    const ConnectionId id = host->events.hostPackets.back().first;
    const std::size_t calls = client->events.Calls();
    EXPECT_TRUE(client->link->Shutdown());
    ASSERT_TRUE(WaitFor([&] { return !host->events.leaves.empty(); }));
    Pump(50ms);
    EXPECT_EQ(host->events.leaves, std::vector<ConnectionId>{id});
    EXPECT_EQ(client->events.Calls(), calls);
    EXPECT_EQ(host->link->SlotCount(), 0u);

    // The host serves on; the same client link joins again.
    EXPECT_TRUE(Connect(*client, JoinMode::ByAddress, 0, "127.0.0.1"));
    EXPECT_TRUE(WaitFor([&] { return host->link->PendingCount() == 1; }));
}

} // namespace
} // namespace kolvena::test
