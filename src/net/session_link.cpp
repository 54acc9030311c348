#include "session_link.h"

#include <QHostInfo>
#include <QNetworkInterface>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include "session/text.h"

namespace kolvena {

namespace {

// What one read takes from a socket at most; a burst is handled in several.
constexpr qint64 READ_CHUNK = 64 * 1024;
// What a socket reads ahead of us; beyond it the peer waits (TCP's own flow control).
constexpr qint64 READ_BUFFER_SIZE = 256 * 1024;
// inet_addr's answer for a text that is not an address.
constexpr std::uint32_t NO_ADDRESS = 0xFFFFFFFF;

// After the system refused to hand over a connection (out of descriptors, say), the server
// tries again this much later rather than spinning on the same failure.
constexpr std::chrono::milliseconds ACCEPT_RETRY{200};

constexpr const char* NO_OWN_ADDRESS = "error!";
constexpr const char* SLOT_RANGE = "s_ID > Length.";
constexpr const char* ACCEPT_FAILED = "Server socket failed to accept connection.";
constexpr const char* SEND_FAILED = "Error occurred during send!!";
constexpr const char* NOT_HOST = "不是主机，无法广播。";
constexpr const char* CONNECTED = "与会话主机连接成功!";
constexpr const char* CONNECT_FAILED = "与会话主机连接没有成功，请重新连接。";
constexpr const char* BAD_ADDRESS = "IPAddress is error!\nPlease input again!";
constexpr const char* NOT_SEARCHABLE = "UDP 端口 %d 已被占用，局域网搜索找不到这个会话。\n"
                                       "会话照常进行，朋友仍可以用地址编码加入。";

std::string Dotted(const QHostAddress& address) {
    bool isIpv4 = false;
    const quint32 value = address.toIPv4Address(&isIpv4);
    return isIpv4 ? QHostAddress(value).toString().toStdString() : address.toString().toStdString();
}

// Feeds what the socket holds (one chunk) to the assembler; false when it held nothing.
bool FeedFrom(QTcpSocket& socket, PacketAssembler& assembler) {
    // A connection reset closes the socket before its queued close reaches the link.
    if (!socket.isReadable())
        return false;
    const QByteArray bytes = socket.read(READ_CHUNK);
    if (bytes.isEmpty())
        return false;
    assembler.Feed(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())));
    return true;
}

// How socket signals reach the link: through the event loop, never from inside the socket's
// own signal. A listener call may open a modal box whose nested loop closes that very socket,
// and Qt deletes a closed socket (deleteLater) inside such a loop; with the socket's signal
// still on the stack that would return into a deleted object.
constexpr Qt::ConnectionType VIA_THE_LOOP = Qt::QueuedConnection;

// Where a client's connection leaves from: the bound address if one is set, as Ipv4Value
// gives it; 0 leaves the choice to the system.
std::uint32_t SourceAddress(const QHostAddress& bound) {
    if (bound == QHostAddress(QHostAddress::AnyIPv4) ||
        bound.protocol() != QAbstractSocket::IPv4Protocol)
        return 0;
    const std::uint32_t value = Ipv4Value(bound.toString().toStdString());
    return value == NO_ADDRESS ? 0 : value;
}

void Prepare(QTcpSocket& socket) {
    socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
    socket.setReadBufferSize(READ_BUFFER_SIZE);
}

} // namespace

std::string DiscoverOwnAddress() {
    for (const QNetworkInterface& iface : QNetworkInterface::allInterfaces()) {
        const auto flags = iface.flags();
        if (!flags.testFlag(QNetworkInterface::IsUp) ||
            !flags.testFlag(QNetworkInterface::IsRunning) ||
            flags.testFlag(QNetworkInterface::IsLoopBack))
            continue;
        for (const QNetworkAddressEntry& entry : iface.addressEntries()) {
            const QHostAddress ip = entry.ip();
            if (ip.protocol() == QAbstractSocket::IPv4Protocol && !ip.isLoopback())
                return ip.toString().toStdString();
        }
    }
    // The host name's own lookup, which on many machines names a loopback address.
    const QHostInfo info = QHostInfo::fromName(QHostInfo::localHostName());
    for (const QHostAddress& ip : info.addresses())
        if (ip.protocol() == QAbstractSocket::IPv4Protocol)
            return ip.toString().toStdString();
    return NO_OWN_ADDRESS;
}

SessionLink::SessionLink(Prompter& prompter, LinkOptions options)
    : prompter_(prompter), options_(std::move(options)), net_(*this, prompter) {}

SessionLink::~SessionLink() {
    // Waits for a connect in progress (it is woken at once); its outcome, if already posted,
    // dies with the mailbox and closes its socket.
    connectThread_.reset();
    CloseEverything();
}

bool SessionLink::Init() {
    CloseEverything();
    return true;
}

void SessionLink::CloseEverything() {
    responder_.reset();
    net_.CloseAll();
    active_ = false;
    isServer_ = false;
    accepting_ = false;
    ++generation_;
}

// --- host ---

bool SessionLink::Serve() {
    if (active_)
        return net_.ReportError("Could not bind server socket.");
    if (!net_.Listen(options_.bindAddress, options_.port))
        return false;
    WatchServer();
    ownPort_ = net_.Server()->serverPort();
    active_ = true;
    isServer_ = true;
    accepting_ = true;
    code_ = MakeAddressCode(OwnAddressText());
    StartResponder();
    return true;
}

void SessionLink::StartResponder() {
    responder_ = std::make_unique<SearchResponder>([this](std::uint32_t queryId) {
        return listener_ ? listener_->AnswerSearch(queryId) : std::nullopt;
    });
    if (responder_->Listen(options_.bindAddress, ownPort_))
        return;
    responder_.reset();
    // Told after the news of the session itself, which the caller is about to give.
    const std::uint64_t generation = generation_;
    const std::string text = Fill(NOT_SEARCHABLE, {std::to_string(ownPort_)});
    QMetaObject::invokeMethod(
        this,
        [this, generation, text] {
            if (generation == generation_ && IsServing())
                prompter_.Inform(Notice::NotSearchable, "", text, BoxIcon::Warning);
        },
        Qt::QueuedConnection);
}

void SessionLink::WatchServer() {
    QTcpServer* server = net_.Server();
    connect(
        server, &QTcpServer::newConnection, this, [this] { OnNewConnection(); }, VIA_THE_LOOP);
    connect(
        server, &QTcpServer::acceptError, this,
        [this](QAbstractSocket::SocketError error) { OnAcceptError(error); }, VIA_THE_LOOP);
}

void SessionLink::OnNewConnection() {
    const std::uint64_t generation = generation_;
    while (generation == generation_ && net_.Server()) {
        QTcpSocket* socket = net_.Server()->nextPendingConnection();
        if (!socket)
            return;
        acceptFailing_ = false;
        socket->setParent(this);
        // A refused address is closed before it costs anything more: no line of its own, no
        // place in the full test, no timer.
        if (listener_ && listener_->RefuseConnection(Dotted(socket->peerAddress()))) {
            net_.Discard(socket);
            continue;
        }
        const bool admit = listener_ && listener_->OnConnectionPending();
        // The listener may have shut the session down meanwhile; then nobody takes it.
        if (admit && generation == generation_)
            AdmitWaiting(socket);
        else
            net_.Discard(socket);
    }
}

void SessionLink::OnAcceptError(QAbstractSocket::SocketError error) {
    // A connection that went away before it was taken is no failure of ours; anything else
    // (out of descriptors, say) is worth one box per streak, not one per retry.
    const bool ours = error != QAbstractSocket::NetworkError;
    if (ours && !acceptFailing_) {
        acceptFailing_ = true;
        net_.ReportError(ACCEPT_FAILED);
    }
    // The server has stopped accepting, and it would take every later empty accept for the
    // same failure; a new one on the same listening socket starts clean.
    const std::uint64_t generation = generation_;
    QTimer::singleShot(ours ? ACCEPT_RETRY : std::chrono::milliseconds{0}, this,
                       [this, generation] {
                           if (generation != generation_ || !net_.Server())
                               return;
                           if (net_.RenewServer())
                               WatchServer();
                           else
                               net_.Server()->resumeAccepting();
                       });
}

void SessionLink::AdmitWaiting(QTcpSocket* socket) {
    Prepare(*socket);
    const ConnectionId id = nextConnection_++;
    net_.AddWaiting(id, socket, Dotted(socket->peerAddress()));
    connect(
        socket, &QTcpSocket::readyRead, this, [this, id] { ReadMember(id); }, VIA_THE_LOOP);
    const auto closed = [this, id] { OnMemberClosed(id); };
    connect(socket, &QTcpSocket::disconnected, this, closed, VIA_THE_LOOP);
    connect(socket, &QTcpSocket::errorOccurred, this, closed, VIA_THE_LOOP);
    QTimer::singleShot(options_.loginTimeout, this, [this, id] { OnLoginTimeout(id); });
    // What arrived, or a close, while the listener was deciding announced itself to nobody.
    if (socket->bytesAvailable() > 0)
        QMetaObject::invokeMethod(
            this, [this, id] { ReadMember(id); }, Qt::QueuedConnection);
    if (socket->state() != QAbstractSocket::ConnectedState)
        QMetaObject::invokeMethod(
            this, [this, id] { OnMemberClosed(id); }, Qt::QueuedConnection);
}

void SessionLink::ReadMember(ConnectionId id) {
    for (;;) {
        MemberConnection* connection = net_.Find(id);
        if (!connection || !connection->socket)
            return;
        PacketAssembler::Result next = connection->assembler.Next();
        switch (next.status) {
        case PacketAssembler::Status::Packet:
            if (listener_)
                listener_->OnHostPacket(id, std::move(next.packet));
            break; // the connection may be gone now: found again above
        case PacketAssembler::Status::Discarded:
            break;
        case PacketAssembler::Status::Violation:
            Depart(id);
            return;
        case PacketAssembler::Status::NeedMore:
            if (!FeedFrom(*connection->socket, connection->assembler))
                return;
            break;
        }
    }
}

void SessionLink::OnMemberClosed(ConnectionId id) {
    // Whole packets that came before the close are still handled.
    ReadMember(id);
    Depart(id);
}

void SessionLink::Depart(ConnectionId id) {
    MemberConnection* connection = net_.Find(id);
    if (!connection || connection->departed)
        return;
    if (!connection->member) {
        net_.Close(id); // it never had a slot, so nobody needs to hear of it
        return;
    }
    connection->departed = true;
    net_.Disconnect(*connection);
    // The connection keeps its slot until the listener closes it.
    if (listener_)
        listener_->OnMemberLeave(id);
}

void SessionLink::OnLoginTimeout(ConnectionId id) {
    const MemberConnection* connection = net_.Find(id);
    if (connection && !connection->member)
        net_.Close(id);
}

void SessionLink::OnOverflow(ConnectionId id) {
    Depart(id);
}

void SessionLink::Write(MemberConnection& connection, std::string_view packet) {
    if (connection.departed || connection.overflowing || !connection.socket)
        return;
    // A peer that has just closed is on its way out as a departure; it is no send failure.
    if (connection.socket->state() != QAbstractSocket::ConnectedState)
        return;
    const qint64 size = static_cast<qint64>(packet.size());
    const bool written = connection.socket->write(packet.data(), size) == size;
    if (connection.socket->bytesToWrite() > static_cast<qint64>(options_.queueCap)) {
        connection.overflowing = true;
        // Not now: the caller may be walking the slots.
        const ConnectionId id = connection.id;
        QMetaObject::invokeMethod(
            this, [this, id] { OnOverflow(id); }, Qt::QueuedConnection);
    }
    if (!written)
        net_.ReportError(SEND_FAILED);
}

void SessionLink::SendToHost(std::string_view packet) {
    if (isServer_)
        return; // the listening socket carries nothing
    HostConnection* host = net_.Host();
    if (host && !host->gone && host->socket->state() != QAbstractSocket::ConnectedState)
        return; // the host has just closed: its going is on the way
    const qint64 size = static_cast<qint64>(packet.size());
    if (!host || host->gone || host->socket->write(packet.data(), size) != size)
        net_.ReportError(SEND_FAILED);
}

void SessionLink::Send(MemberSlot slot, std::string_view packet) {
    MemberConnection* connection = net_.AtSlot(slot.value);
    if (!connection) {
        net_.ReportError(SLOT_RANGE);
        return;
    }
    Write(*connection, packet);
}

void SessionLink::Broadcast(std::string_view packet) {
    if (!IsServing()) {
        prompter_.Inform(Notice::Fault, "", NOT_HOST, BoxIcon::None);
        return;
    }
    // By index: a failed send shows a box, during which slots may come and go.
    for (std::size_t slot = 1; slot <= net_.SlotCount(); ++slot)
        if (MemberConnection* connection = net_.AtSlot(slot))
            Write(*connection, packet);
}

void SessionLink::CloseSlot(MemberSlot slot) {
    const MemberConnection* connection = net_.AtSlot(slot.value);
    if (!connection) {
        net_.ReportError(SLOT_RANGE);
        return;
    }
    net_.Close(connection->id);
}

std::string SessionLink::OwnAddressText() const {
    return options_.ownAddress.empty() ? DiscoverOwnAddress() : options_.ownAddress;
}

std::string SessionLink::AddressText(MemberSlot slot) const {
    const MemberConnection* connection = net_.AtSlot(slot.value);
    if (!connection) {
        net_.ReportError(SLOT_RANGE);
        return {};
    }
    return connection->address;
}

std::uint16_t SessionLink::OwnPort() const {
    return ownPort_;
}

bool SessionLink::Shutdown() {
    if (!active_)
        return false;
    return Init(); // closes everything, silently, and leaves a fresh idle endpoint
}

// --- client ---

void SessionLink::StartConnect(JoinMode mode, AddressCode code, const std::string& address,
                               std::uint16_t port) {
    const std::uint64_t attempt = ++connectAttempt_;
    connectThread_.reset(); // an older attempt is superseded
    std::uint32_t ipv4 = AddressFromCode(code);
    if (mode == JoinMode::ByAddress) {
        ipv4 = Ipv4Value(address);
        if (ipv4 == NO_ADDRESS) {
            // Later, as a connect's outcome would come: the caller finishes its own step first.
            QMetaObject::invokeMethod(
                this, [this, attempt] { FailConnect(attempt, BAD_ADDRESS); }, Qt::QueuedConnection);
            return;
        }
        code = MakeAddressCode(address);
    }
    if (port == 0)
        port = options_.port;
    connectThread_ = std::make_unique<CConnectThread>(
        ipv4, port, options_.connectTimeout,
        [this, attempt, code, port](ConnectOutcome outcome) {
            // On the worker: hand the outcome over. The link outlives the worker, which it
            // joins; an outcome still queued when it goes is dropped and its socket closed.
            auto shared = std::make_shared<ConnectOutcome>(std::move(outcome));
            mailbox_.Post([this, attempt, code, port, shared] {
                OnConnectDone(attempt, code, port, std::move(*shared));
            });
        },
        SourceAddress(options_.bindAddress));
}

void SessionLink::FailConnect(std::uint64_t attempt, const char* message) {
    if (attempt != connectAttempt_)
        return;
    net_.ReportError(message);
    if (listener_)
        listener_->OnConnectResult(false);
}

void SessionLink::OnConnectDone(std::uint64_t attempt, AddressCode code, std::uint16_t port,
                                ConnectOutcome outcome) {
    if (attempt != connectAttempt_)
        return;
    connectThread_.reset(); // it has finished
    if (!outcome.socket.Valid()) {
        FailConnect(attempt, CONNECT_FAILED);
        return;
    }
    // Before the socket is adopted: nothing from the host is handled until the box is closed;
    // what it sends meanwhile waits in the connection.
    net_.ReportError(CONNECTED);
    if (attempt != connectAttempt_ || isServer_)
        return; // superseded while the box was open
    auto* socket = new QTcpSocket(this);
    if (!socket->setSocketDescriptor(outcome.socket.Get())) {
        delete socket;
        FailConnect(attempt, CONNECT_FAILED);
        return;
    }
    outcome.socket.Release();
    Prepare(*socket);
    ++generation_;
    net_.AdoptHost(socket);
    const std::uint64_t generation = generation_;
    connect(
        socket, &QTcpSocket::readyRead, this,
        [this, generation] {
            if (generation == generation_)
                ReadHost();
        },
        VIA_THE_LOOP);
    const auto closed = [this, generation] {
        if (generation == generation_)
            OnHostClosed();
    };
    connect(socket, &QTcpSocket::disconnected, this, closed, VIA_THE_LOOP);
    connect(socket, &QTcpSocket::errorOccurred, this, closed, VIA_THE_LOOP);
    code_ = code;
    ownPort_ = port;
    active_ = true;
    isServer_ = false;
    if (listener_)
        listener_->OnConnectResult(true);
    // Whatever arrived before the registration is announced now.
    if (generation == generation_)
        QMetaObject::invokeMethod(
            this,
            [this, generation] {
                if (generation != generation_)
                    return;
                ReadHost();
                const HostConnection* host = net_.Host();
                if (generation == generation_ && host && !host->gone &&
                    host->socket->state() != QAbstractSocket::ConnectedState)
                    OnHostClosed();
            },
            Qt::QueuedConnection);
}

void SessionLink::ReadHost() {
    const std::uint64_t generation = generation_;
    for (;;) {
        HostConnection* host = net_.Host();
        if (generation != generation_ || !host || host->gone)
            return;
        PacketAssembler::Result next = host->assembler.Next();
        switch (next.status) {
        case PacketAssembler::Status::Packet:
            if (listener_)
                listener_->OnClientPacket(std::move(next.packet));
            break;
        case PacketAssembler::Status::Discarded:
            break;
        case PacketAssembler::Status::Violation:
            HostGone();
            return;
        case PacketAssembler::Status::NeedMore:
            if (!FeedFrom(*host->socket, host->assembler))
                return;
            break;
        }
    }
}

void SessionLink::OnHostClosed() {
    // Whole packets that came before the close are still handled.
    ReadHost();
    HostGone();
}

void SessionLink::HostGone() {
    HostConnection* host = net_.Host();
    if (!host || host->gone)
        return;
    host->gone = true;
    net_.Discard(host->socket);
    host->socket = nullptr;
    if (listener_)
        listener_->OnHostGone();
}

} // namespace kolvena
