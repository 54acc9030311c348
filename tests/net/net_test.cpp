#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <array>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <numeric>
#include <optional>
#include <sys/resource.h>
#include <sys/socket.h>
#include <thread>
#include <tuple>
#include <unistd.h>

#include "net/event_loop.h"
#include "net/session_link.h"
#include "net/thread_mailbox.h"
#include "protocol/packets.h"
#include "support/child_process.h"
#include "support/core_fakes.h"
#include "support/raw_socket.h"

namespace kolvena::test {

// Beside Box, so that the comparisons of box lists find it.
static bool operator==(const ScriptedPrompter::Box& a, const ScriptedPrompter::Box& b) {
    return a.caption == b.caption && a.text == b.text && a.icon == b.icon;
}

namespace {

using Box = ScriptedPrompter::Box;
using Boxes = std::vector<Box>;
using Packets = std::vector<std::string>;

// Options for tests: loopback only, a free port unless given.
LinkOptions LoopbackOptions(std::uint16_t port = 0) {
    LinkOptions options;
    options.port = port;
    options.bindAddress = QHostAddress::LocalHost;
    options.ownAddress = "127.0.0.1";
    return options;
}

// One end of a session: a link with its prompter, recording every listener call. Like the core,
// it promotes on Login and closes the slot of a departure, unless told not to.
struct LinkEnd final : LinkListener {
    explicit LinkEnd(LinkOptions options = LoopbackOptions())
        : link(std::make_unique<SessionLink>(prompter, std::move(options))) {
        link->SetListener(this);
    }
    bool OnConnectionPending() override {
        ++pendingCalls;
        return admit;
    }
    void OnHostPacket(ConnectionId connection, std::string packet) override {
        hostPackets.emplace_back(connection, packet);
        if (promoteOnLogin && !packet.empty() && packet[0] == static_cast<char>(PacketType::Login))
            link->Promote(connection);
        if (duringHostPacket)
            duringHostPacket(connection, packet);
    }
    void OnMemberLeave(ConnectionId connection) override {
        leaves.push_back(connection);
        if (const auto slot = link->SlotOf(connection); slot && closeOnLeave)
            link->CloseSlot(*slot);
    }
    void OnClientPacket(std::string packet) override { clientPackets.push_back(std::move(packet)); }
    void OnHostGone() override { ++hostGone; }
    void OnConnectResult(bool connected) override { connectResults.push_back(connected); }
    std::size_t Calls() const {
        return pendingCalls + hostPackets.size() + leaves.size() + clientPackets.size() + hostGone +
               connectResults.size();
    }
    // The packets from one connection (0: from all), in order.
    Packets PacketsFrom(ConnectionId connection = 0) const {
        Packets out;
        for (const auto& [id, packet] : hostPackets)
            if (connection == 0 || id == connection)
                out.push_back(packet);
        return out;
    }

    ScriptedPrompter prompter;
    std::unique_ptr<SessionLink> link;
    bool admit = true, promoteOnLogin = true, closeOnLeave = true;
    // Runs inside each host packet call, after it is recorded.
    std::function<void(ConnectionId, const std::string&)> duringHostPacket;
    std::size_t pendingCalls = 0, hostGone = 0;
    std::vector<std::pair<ConnectionId, std::string>> hostPackets;
    std::vector<ConnectionId> leaves;
    Packets clientPackets;
    std::vector<bool> connectResults;
};

// Whether the peer closed the raw socket within the wait; what came before is dropped.
bool WaitClosed(RawSocket& socket, std::chrono::milliseconds limit = 3000ms) {
    std::string bytes;
    return WaitFor([&] { return !socket.ReceiveSome(bytes, 0ms); }, limit);
}

// A host serving on a free loopback port.
std::unique_ptr<LinkEnd> StartHost(LinkOptions options = LoopbackOptions()) {
    auto host = std::make_unique<LinkEnd>(std::move(options));
    EXPECT_TRUE(host->link->Serve());
    return host;
}

// A raw peer that has sent its Login and been heard; its connection id.
ConnectionId LogIn(LinkEnd& host, RawSocket& peer, const std::string& name) {
    peer = RawSocket::Connect(host.link->OwnPort());
    const std::size_t before = host.hostPackets.size();
    EXPECT_TRUE(peer.Send(BuildLogin(name)));
    EXPECT_TRUE(WaitFor([&] { return host.hostPackets.size() > before; }));
    return host.hostPackets.empty() ? 0 : host.hostPackets.back().first;
}

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

bool Connect(LinkEnd& client, JoinMode mode = JoinMode::ByAddress) {
    client.link->Init();
    const std::size_t before = client.connectResults.size();
    const bool byCode = mode == JoinMode::ByCode;
    client.link->StartConnect(mode, byCode ? MakeAddressCode("127.0.0.1") : 0,
                              byCode ? "" : "127.0.0.1", 0);
    return WaitFor([&] { return client.connectResults.size() > before; }) &&
           client.connectResults.back();
}

// Connects the client and logs it in; whether the host gave it a slot.
bool Join(LinkEnd& host, LinkEnd& client, const std::string& name,
          JoinMode mode = JoinMode::ByAddress) {
    const std::size_t members = host.link->SlotCount();
    if (!Connect(client, mode))
        return false;
    client.link->SendToHost(BuildLogin(name));
    return WaitFor([&] { return host.link->SlotCount() == members + 1; });
}

TEST(SessionLink, AConnectThatFailsShowsItsBoxAndReportsLater) {
    auto host = StartHost();
    SilentHost silent;
    const std::uint16_t refused = FreePort(), open = host->link->OwnPort();
    // The last: a connect to the same port is in progress.
    const std::tuple<const char*, std::uint16_t, const char*, bool> cases[] = {
        {"127.0.0.1", refused, kConnectFailed, false},
        {"127.0.0.1", silent.port, kConnectFailed, false},
        {"1.2.3.4.5", open, kBadAddress, false},
        {"255.255.255.255", open, kBadAddress, false},
        {"127.0.0.300", silent.port, kBadAddress, true},
    };
    for (const auto& [address, port, box, supersede] : cases) {
        SCOPED_TRACE(address + (" port " + std::to_string(port)));
        LinkOptions options = LoopbackOptions(port);
        options.connectTimeout = 100ms;
        LinkEnd client(options);
        if (supersede)
            client.link->StartConnect(JoinMode::ByAddress, 0, "127.0.0.1", 0);
        client.link->StartConnect(JoinMode::ByAddress, 0, address, 0);
        // Later, as a connect's outcome would come: the caller finishes its step first.
        EXPECT_TRUE(client.connectResults.empty());
        ASSERT_TRUE(WaitFor([&] { return !client.connectResults.empty(); }));
        Pump(supersede ? 200ms : 0ms);
        EXPECT_EQ(client.connectResults, std::vector<bool>{false});
        EXPECT_EQ(client.prompter.boxes, Boxes{SocketBox(box)});
        EXPECT_FALSE(client.link->IsConnected());
        EXPECT_FALSE(client.link->Shutdown());
    }
    Pump(50ms);
    EXPECT_EQ(host->pendingCalls, 0u);

    SCOPED_TRACE("the same link connects once a host serves there");
    LinkEnd client(LoopbackOptions(refused));
    EXPECT_FALSE(Connect(client));
    auto late = StartHost(LoopbackOptions(refused));
    EXPECT_TRUE(Connect(client));
    EXPECT_EQ(client.connectResults, (std::vector<bool>{false, true}));

    SCOPED_TRACE("a link destroyed while connecting goes at once and calls nothing");
    LinkEnd doomed(LoopbackOptions(silent.port));
    doomed.link->StartConnect(JoinMode::ByAddress, 0, "127.0.0.1", 0);
    Pump(50ms);
    const auto start = std::chrono::steady_clock::now();
    doomed.link.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
    Pump(50ms);
    EXPECT_EQ(doomed.Calls(), 0u);
    EXPECT_TRUE(doomed.prompter.boxes.empty());
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
    const Packets split{say.substr(0, 3), say.substr(3) + notice};
    // A part of a Login is no Login; the member's own connection has no login time.
    const std::string partLogin = BuildLogin("Bob").substr(0, 5);
    const Case cases[] = {
        {"two packets in one write", true, {say + notice}, End::None, {say, notice}},
        {"a write per byte", true, perByte, End::None, {notice}},
        {"split and joined", true, split, End::None, {say, notice}},
        // A type the host does not take drops what is buffered; the stream goes on after it.
        {"an unknown type", true, {std::string{13}, say}, End::None, {say}},
        {"a member closes after two packets", true, {say + notice}, End::Fin, {say, notice}},
        {"a member resets in mid-packet", true, {say.substr(0, 4)}, End::Rst},
        {"a member breaks the protocol", true, {bad}, End::ByHost},
        {"a waiting one closes", false, {}, End::Fin},
        {"a waiting one breaks the protocol", false, {bad}, End::ByHost},
        {"a waiting one does not log in in time", false, {partLogin}, End::ByHost, {}, 300ms},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LinkOptions options = LoopbackOptions();
        options.loginTimeout = c.loginTimeout;
        auto host = StartHost(options);
        host->closeOnLeave = false;
        RawSocket keeper, peer;
        LogIn(*host, keeper, "Ann");
        const ConnectionId id = c.member ? LogIn(*host, peer, "Bob") : 0;
        if (!c.member)
            peer = RawSocket::Connect(host->link->OwnPort());
        ASSERT_TRUE(WaitFor([&] { return host->link->PendingCount() == !c.member; }));
        for (const std::string& bytes : c.writes) {
            ASSERT_TRUE(peer.Send(bytes));
            Pump(10ms);
        }
        const linger reset{1, 0}; // closes with an RST
        if (c.end == End::Rst)
            ::setsockopt(peer.Fd(), SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
        if (c.end == End::Fin || c.end == End::Rst)
            peer.Close();
        EXPECT_TRUE(c.end != End::ByHost || WaitClosed(peer));
        Packets packets{BuildLogin("Ann"), BuildLogin("Bob")};
        packets.resize(c.member ? 2 : 1);
        packets.insert(packets.end(), c.packets.begin(), c.packets.end());
        const std::vector<ConnectionId> leaves(c.member && c.end != End::None ? 1 : 0, id);
        ASSERT_TRUE(WaitFor([&] {
            return host->link->PendingCount() == 0 && host->leaves.size() == leaves.size() &&
                   host->hostPackets.size() == packets.size();
        }));
        Pump(50ms);
        EXPECT_EQ(host->leaves, leaves);
        EXPECT_EQ(host->PacketsFrom(), packets);
        // Reported while it still holds its slot; the listener closes it.
        if (!leaves.empty()) {
            EXPECT_EQ(host->link->SlotOf(id), MemberSlot(2));
            host->link->CloseSlot(MemberSlot(2));
        }
        EXPECT_EQ(host->link->SlotCount(), c.member && c.end == End::None ? 2u : 1u);
        EXPECT_FALSE(WaitClosed(keeper, 0ms));
    }
}

// A connection waits in the system's queue while the host cannot take it, then is refused.
TEST(SessionLink, AFailedAcceptShowsOneBoxAndARefusedConnectionGetsNoSlotAndNoBytes) {
    auto host = StartHost();
    host->admit = false;
    // A plain socket: its Login is on the wire before the host even hears of the connection.
    RawSocket peer = RawSocket::Connect(host->link->OwnPort());
    ASSERT_TRUE(peer.Send(BuildLogin("Ann")));
    // One box before descriptors run out: a sanitizer runtime needs descriptors of its own to
    // check a call it has not seen yet.
    host->link->AddressText(MemberSlot(1));
    host->prompter.boxes.clear();
    // No descriptor is left for the host to take it with, for several retries.
    rlimit old{};
    const int lowestFree = ::dup(0);
    ASSERT_TRUE(lowestFree >= 0 && ::close(lowestFree) == 0);
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &old), 0);
    const rlimit tight{static_cast<rlim_t>(lowestFree), old.rlim_max};
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &tight), 0);
    Pump(500ms);
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &old), 0);
    EXPECT_EQ(host->prompter.boxes, Boxes{SocketBox("Server socket failed to accept connection.")});
    EXPECT_EQ(host->pendingCalls, 0u);
    ASSERT_TRUE(WaitFor([&] { return host->pendingCalls == 1; }));
    EXPECT_EQ(peer.Receive(1), ""); // closed (or reset), never a byte
    Pump(20ms);
    EXPECT_EQ(host->prompter.boxes.size(), 1u); // no box for the retries, nor after the success
    EXPECT_TRUE(host->hostPackets.empty());
    EXPECT_EQ(host->link->PendingCount() + host->link->SlotCount(), 0u);
}

TEST(SessionLink, AHostWithTwoMembersAndOneWaitingSendsClosesAndShutsDown) {
    auto host = StartHost();
    EXPECT_TRUE(host->link->IsServing() && host->link->Accepting());
    EXPECT_EQ(host->link->Code(), MakeAddressCode("127.0.0.1"));
    const std::uint16_t port = host->link->OwnPort();
    RawSocket waiting = RawSocket::Connect(port);
    LinkEnd ann(LoopbackOptions(port)), bob(LoopbackOptions(port)), idle(LoopbackOptions(port));
    ASSERT_TRUE(Join(*host, ann, "Ann") && Join(*host, bob, "Bob", JoinMode::ByCode));
    ConnectionId bobId = host->hostPackets.back().first;
    for (const LinkEnd* client : {&ann, &bob}) {
        EXPECT_EQ(client->prompter.boxes, Boxes{SocketBox(kConnected)});
        EXPECT_TRUE(client->link->IsConnected() && !client->link->IsServing());
        EXPECT_EQ(client->link->Code(), host->link->Code());
    }
    EXPECT_EQ(host->link->Promote(999).value, 0u);

    SCOPED_TRACE("broadcast reaches the members in order, not the waiting one");
    const Packets lines{HostSay("one"), HostSay("two"), HostSay("three")};
    for (const std::string& line : lines)
        host->link->Broadcast(line);
    host->link->SendToHost(HostSay("nowhere")); // the listening socket carries nothing
    ASSERT_TRUE(WaitFor([&] { return bob.clientPackets.size() == 3; }));
    EXPECT_EQ(ann.clientPackets, lines);
    EXPECT_EQ(bob.clientPackets, lines);
    Pump(20ms);
    std::string toWaiting;
    EXPECT_TRUE(waiting.ReceiveSome(toWaiting, 0ms));
    EXPECT_EQ(toWaiting, "");
    EXPECT_TRUE(host->prompter.boxes.empty());

    SCOPED_TRACE("what only a host, a client or a member slot can do shows its box");
    const Box notHost{"", "不是主机，无法广播。", BoxIcon::None};
    EXPECT_FALSE(idle.link->Serve() || idle.link->IsServing()); // the port is taken
    idle.link->Broadcast(lines[0]);
    idle.link->SendToHost(lines[0]);
    ann.link->Broadcast(lines[0]);
    EXPECT_EQ(idle.prompter.boxes, (Boxes{SocketBox("Could not bind server socket."), notHost,
                                          SocketBox("Error occurred during send!!")}));
    EXPECT_EQ(ann.prompter.boxes, (Boxes{SocketBox(kConnected), notHost}));
    EXPECT_EQ(host->link->AddressText(MemberSlot(3)), "");
    host->link->Send(MemberSlot(3), lines[0]);
    host->link->CloseSlot(MemberSlot(3));
    EXPECT_EQ(host->prompter.boxes, Boxes(3, SocketBox("s_ID > Length.")));
    EXPECT_EQ(host->link->SlotCount(), 2u);
    host->prompter.boxes.clear();

    SCOPED_TRACE("a slot the caller closes is nobody's departure");
    host->link->CloseSlot(MemberSlot(1));
    ASSERT_TRUE(WaitFor([&] { return ann.hostGone == 1; }));
    Pump(20ms);
    EXPECT_TRUE(host->leaves.empty());

    SCOPED_TRACE("a client's shutdown is one departure at the host and silent at home");
    std::size_t calls = bob.Calls();
    EXPECT_TRUE(bob.link->Shutdown());
    ASSERT_TRUE(WaitFor([&] { return !host->leaves.empty(); }));
    Pump(50ms);
    EXPECT_EQ(host->leaves, std::vector<ConnectionId>{bobId});
    EXPECT_EQ(bob.Calls(), calls);
    EXPECT_EQ(host->link->SlotCount(), 0u);
    ASSERT_TRUE(Join(*host, bob, "Bob"));

    SCOPED_TRACE("the host's shutdown closes everything and calls nothing");
    calls = host->Calls();
    EXPECT_TRUE(host->link->Shutdown());
    EXPECT_EQ(host->link->SlotCount() + host->link->PendingCount(), 0u);
    ASSERT_TRUE(WaitFor([&] { return bob.hostGone == 1; }));
    EXPECT_TRUE(WaitClosed(waiting));
    Pump(50ms);
    EXPECT_EQ(host->Calls(), calls);
    EXPECT_EQ(bob.hostGone, 1u);
    EXPECT_FALSE(host->link->Shutdown());
    EXPECT_TRUE(host->prompter.boxes.empty());
    EXPECT_FALSE(RawSocket::Connect(host->link->OwnPort()).Open());
    EXPECT_TRUE(bob.link->Shutdown());
    EXPECT_FALSE(bob.link->IsConnected());
}

// What is queued goes out on the call, before the caller's slower work and without the event
// loop: the window asks for it before it shows a frame.
TEST(SessionLink, QueuedPacketsGoOutWhenAskedWithoutTheEventLoop) {
    auto host = StartHost();
    RawSocket peer;
    ASSERT_NE(LogIn(*host, peer, "Ann"), 0u);
    const std::string line = HostSay("now");
    host->link->Broadcast(line);
    std::string got;
    peer.ReceiveSome(got, 100ms);
    EXPECT_EQ(got, ""); // held in the socket's buffer until control returns to the loop
    host->link->WriteOutQueued();
    for (int k = 0; k < 20 && got.size() < line.size(); ++k)
        peer.ReceiveSome(got, 100ms);
    EXPECT_EQ(got, line);
}

TEST(SessionLink, AMemberThatStopsReadingIsDisconnectedOnceNeverInsideASend) {
    LinkOptions options = LoopbackOptions();
    options.queueCap = 64 * 1024;
    auto host = StartHost(options);
    LinkEnd reader(LoopbackOptions(host->link->OwnPort()));
    ASSERT_TRUE(Join(*host, reader, "Ann"));
    // A member that logs in and then never reads, with a small window.
    RawSocket stalled = RawSocket::Connect(host->link->OwnPort(), 4096);
    ASSERT_TRUE(stalled.Send(BuildLogin("Bob")));
    ASSERT_TRUE(WaitFor([&] { return host->link->SlotCount() == 2; }));
    const ConnectionId stalledId = host->hostPackets.back().first;

    const std::string line = HostSay(std::string(MAX_CHAT_TEXT, 'x'));
    std::size_t sent = 0;
    bool calledInside = false;
    for (; host->leaves.empty() && sent < 20000; ++sent) { // 80 MB: past any buffers
        const std::size_t calls = host->Calls();
        host->link->Broadcast(line);
        calledInside = calledInside || host->Calls() != calls;
        QCoreApplication::processEvents();
    }
    ASSERT_EQ(host->leaves, std::vector<ConnectionId>{stalledId});
    EXPECT_FALSE(calledInside);
    EXPECT_EQ(host->link->SlotCount(), 1u);
    // The member that reads gets every line, the one that stalled nothing more.
    EXPECT_TRUE(WaitFor([&] { return reader.clientPackets.size() == sent; }));
    Pump(50ms);
    EXPECT_EQ(host->leaves.size(), 1u);
    EXPECT_EQ(reader.hostGone, 0u);
}

TEST(SessionLink, DeparturesAndPacketsDuringANestedLoopComeOnceAndInOrder) {
    auto host = StartHost();
    RawSocket ann, bob;
    const ConnectionId a = LogIn(*host, ann, "Ann");
    const ConnectionId b = LogIn(*host, bob, "Bob");
    bool nested = false;
    host->duringHostPacket = [&](ConnectionId id, const std::string& packet) {
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
    ASSERT_TRUE(WaitFor([&] { return host->leaves.size() == 2; }));
    Pump(50ms);
    EXPECT_EQ(host->PacketsFrom(a),
              (Packets{BuildLogin("Ann"), Say("first"), Say("second"), Say("third")}));
    std::vector<ConnectionId> leaves = host->leaves;
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
        packetsDuringBox = client.clientPackets.size();
    };
    ASSERT_TRUE(Connect(client));
    EXPECT_EQ(packetsDuringBox, 0u);
    const std::string joined = BuildMemberJoined("Bob", "10.0.0.7"), line = HostSay("hi");
    ASSERT_TRUE(host.Send(joined + line.substr(0, 3)));
    Pump(20ms);
    ASSERT_TRUE(host.Send(line.substr(3) + line));
    ASSERT_TRUE(WaitFor([&] { return client.clientPackets.size() == 4; }));
    EXPECT_EQ(client.clientPackets, (Packets{HostSay("early"), joined, line, line}));

    ASSERT_TRUE(host.Send(Oversized(PacketType::Notice)));
    EXPECT_TRUE(WaitClosed(host));
    Pump(20ms);
    EXPECT_EQ(client.hostGone, 1u);
    EXPECT_TRUE(client.link->Shutdown());
    EXPECT_FALSE(client.link->Shutdown());
}

// The fake endpoint the handler tests run on must keep the real link's slot rules, or a handler
// that sends to the wrong slot passes its tests; so the same case runs against both.
TEST(TransportContract, SlotsFollowLoginsAndMoveDownWhenOneCloses) {
    for (const bool real : {false, true}) {
        SCOPED_TRACE(real ? "real" : "fake");
        FakeTransport fake;
        const std::unique_ptr<LinkEnd> host = real ? StartHost() : nullptr;
        std::array<RawSocket, 3> peers;
        std::array<ConnectionId, 3> ids{};
        if (host)
            host->promoteOnLogin = host->closeOnLeave = false;
        // Each real peer names itself by a Login the host does not act on.
        for (std::size_t k = 0; k < ids.size(); ++k)
            ids[k] = host ? LogIn(*host, peers[k], "x") : fake.Connect("127.0.0.1");
        Transport& link = host ? static_cast<Transport&>(*host->link) : fake;
        // Everything connection k has received, once `bytes` have arrived (bounded wait).
        const auto Received = [&](std::size_t k, std::size_t bytes) {
            std::string out;
            for (const FakeTransport::Sent& sent : fake.sent)
                if (sent.connection == ids[k])
                    out += sent.packet;
            if (host)
                WaitFor([&] { return peers[k].ReceiveSome(out, 0ms) && out.size() >= bytes; }, 1s);
            return out;
        };
        const auto [a, b, c] = ids;
        const auto SlotsNow = [&] {
            return std::vector{link.SlotOf(a), link.SlotOf(b), link.SlotOf(c)};
        };
        EXPECT_EQ(link.PendingCount(), 3u);
        EXPECT_EQ(SlotsNow(), std::vector<std::optional<MemberSlot>>(3));
        // Slots follow the order of the Logins, not of the connections; a second Login keeps it.
        EXPECT_EQ((std::vector{link.Promote(c), link.Promote(a), link.Promote(b), link.Promote(a)}),
                  (std::vector{MemberSlot(1), MemberSlot(2), MemberSlot(3), MemberSlot(2)}));
        EXPECT_EQ(link.PendingCount(), 0u);
        EXPECT_EQ(link.AddressText(MemberSlot(2)), "127.0.0.1");

        const std::string one = BuildMemberLeft(1), two = BuildMemberLeft(2),
                          three = BuildMemberLeft(3);
        link.Send(MemberSlot(2), one);
        link.Broadcast(two);
        link.CloseSlot(MemberSlot(1));
        EXPECT_EQ(SlotsNow(),
                  (std::vector<std::optional<MemberSlot>>{MemberSlot(1), MemberSlot(2), {}}));
        EXPECT_EQ(link.SlotCount(), 2u);
        link.Send(MemberSlot(2), three);
        EXPECT_EQ(Received(0, 6), one + two);
        EXPECT_EQ(Received(1, 6), two + three);
        EXPECT_EQ(Received(2, 3), two);
    }
}

// Set in the copy of the next test that runs inside the namespace: the address it must find.
constexpr char kExpectedAddress[] = "KOLVENA_TEST_OWN_ADDRESS";

// A network namespace of the test's own, removed (with its interfaces) however the test ends.
struct Namespace {
    ~Namespace() {
        if (created)
            Ip({"netns", "del", name});
    }
    bool Ip(const std::vector<std::string>& arguments, const ChildOptions& options = {}) const {
        ChildProcess child(ip, arguments, options);
        const int code = child.WaitForExit(30s);
        EXPECT_EQ(code, 0) << child.Output();
        return code == 0;
    }

    std::string ip;
    std::string name = "kolvena-test-" + std::to_string(::getpid());
    bool created = Ip({"netns", "add", name});
};

// The address a host announces must reach it from the network: never a loopback address while
// another IPv4 address is up, nor the address of an interface that is down.
TEST(OwnAddress, IsTheAddressOfAnInterfaceThatIsUpNotLoopback) {
    if (const char* expected = std::getenv(kExpectedAddress)) {
        EXPECT_EQ(DiscoverOwnAddress(), expected);
        return;
    }
    std::string ip;
    for (const char* path : {"/usr/sbin/ip", "/sbin/ip", "/usr/bin/ip", "/bin/ip"})
        if (ip.empty() && ::access(path, X_OK) == 0)
            ip = path;
    // The suite runs as root, as in CI, with iproute2, which scripts/test installs.
    ASSERT_TRUE(::geteuid() == 0 && !ip.empty())
        << "making a network namespace needs root and the ip tool";

    const Namespace ns{ip};
    ASSERT_TRUE(ns.created);
    // Loopback up; first (lower interface index) a pair that is down but has an address, then
    // one that is up.
    for (std::vector<std::string> command : std::vector<std::vector<std::string>>{
             {"link", "set", "lo", "up"},
             {"link", "add", "kvdown0", "type", "veth", "peer", "name", "kvdown1"},
             {"addr", "add", "198.18.1.1/24", "dev", "kvdown0"},
             {"link", "add", "kvup0", "type", "veth", "peer", "name", "kvup1"},
             {"addr", "add", "198.18.0.1/24", "dev", "kvup0"},
             {"link", "set", "kvup0", "up"},
             {"link", "set", "kvup1", "up"}}) {
        command.insert(command.begin(), {"-n", ns.name});
        ASSERT_TRUE(ns.Ip(command));
    }
    ChildOptions here;
    here.environment = {std::string(kExpectedAddress) + "=198.18.0.1"};
    EXPECT_TRUE(ns.Ip({"netns", "exec", ns.name, std::filesystem::read_symlink("/proc/self/exe"),
                       "--gtest_filter=OwnAddress.*"},
                      here));
}

TEST(ThreadMailbox, CallsFromManyThreadsAllRunOnTheOwnerInTheOrderEachThreadPosted) {
    ThreadMailbox mailbox;
    constexpr std::size_t kThreads = 4, kCalls = 500;
    std::vector<std::vector<std::size_t>> seen(kThreads);
    std::atomic<int> wrongThread = 0;
    QThread* const owner = QThread::currentThread();
    std::vector<std::thread> workers;
    for (std::size_t t = 0; t < kThreads; ++t)
        workers.emplace_back([&, t] {
            for (std::size_t i = 0; i < kCalls; ++i)
                mailbox.Post([&, t, i] {
                    wrongThread += QThread::currentThread() != owner;
                    seen[t].push_back(i);
                });
        });
    for (std::thread& worker : workers)
        worker.join();
    std::vector<std::size_t> inOrder(kCalls);
    std::iota(inOrder.begin(), inOrder.end(), 0);
    const decltype(seen) expected(kThreads, inOrder);
    WaitFor([&] { return seen == expected; });
    EXPECT_EQ(seen, expected);
    EXPECT_EQ(wrongThread, 0);
}

TEST(ThreadMailbox, ACallRunningANestedLoopKeepsTheOrderAndNothingRunsTwice) {
    ThreadMailbox mailbox;
    std::vector<int> order;
    mailbox.Post([&] {
        order.push_back(1);
        Pump(50ms); // as a modal box would: the later calls run inside, once each
        order.push_back(2);
    });
    mailbox.Post([&] { order.push_back(3); });
    mailbox.Post([&] { order.push_back(4); });
    WaitFor([&] { return order.size() == 4; });
    Pump(20ms);
    EXPECT_EQ(order, (std::vector<int>{1, 3, 4, 2}));
}

// Calls still queued when the mailbox goes, from outside or from inside one of its calls, are
// dropped with what they captured.
TEST(ThreadMailbox, CallsStillQueuedWhenItGoesAreDroppedWithWhatTheyCaptured) {
    auto captured = std::make_shared<int>(7);
    int ran = 0;
    {
        ThreadMailbox mailbox;
        std::thread([&, captured] { mailbox.Post([&ran, captured] { ++ran; }); }).join();
        EXPECT_EQ(captured.use_count(), 2);
    }
    auto mailbox = std::make_unique<ThreadMailbox>();
    mailbox->Post([&] {
        ++ran;
        mailbox.reset();
    });
    mailbox->Post([&ran, captured] { ++ran; });
    WaitFor([&] { return mailbox == nullptr; });
    Pump(20ms);
    EXPECT_EQ(ran, 1);
    EXPECT_EQ(captured.use_count(), 1);
}

} // namespace
} // namespace kolvena::test
