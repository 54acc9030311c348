#include "net_socket.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <algorithm>
#include <fcntl.h>
#include <unistd.h>

namespace kolvena {

NetSocket::~NetSocket() {
    CloseAll();
}

bool NetSocket::Listen(const QHostAddress& address, std::uint16_t port) {
    CloseServer();
    server_ = new QTcpServer(&owner_);
    if (server_->listen(address, port))
        return true;
    const QAbstractSocket::SocketError error = server_->serverError();
    CloseServer();
    switch (error) {
    case QAbstractSocket::AddressInUseError:
    case QAbstractSocket::SocketAddressNotAvailableError:
    case QAbstractSocket::SocketAccessError:
        return ReportError("Could not bind server socket.");
    default:
        return ReportError("Server socket failed to listen.");
    }
}

bool NetSocket::RenewServer() {
    if (!server_)
        return false;
    const int fd = ::fcntl(static_cast<int>(server_->socketDescriptor()), F_DUPFD_CLOEXEC, 0);
    if (fd < 0)
        return false;
    auto* fresh = new QTcpServer(&owner_);
    if (!fresh->setSocketDescriptor(fd)) {
        ::close(fd);
        delete fresh;
        return false;
    }
    CloseServer(); // closes only its own descriptor: the listening socket lives on in fresh
    server_ = fresh;
    return true;
}

void NetSocket::CloseServer() {
    if (!server_)
        return;
    QObject::disconnect(server_, nullptr, &owner_, nullptr);
    // Connections the server took but nobody asked for get no answer.
    while (QTcpSocket* pending = server_->nextPendingConnection())
        Discard(pending);
    server_->close();
    // Later: this may run inside the server's own signal.
    server_->deleteLater();
    server_ = nullptr;
}

HostConnection& NetSocket::AdoptHost(QTcpSocket* socket) {
    CloseHost();
    socket->setParent(&owner_);
    host_ = std::make_unique<HostConnection>(socket);
    return *host_;
}

void NetSocket::CloseHost() {
    if (!host_)
        return;
    Discard(host_->socket);
    host_.reset();
}

MemberConnection& NetSocket::AddWaiting(ConnectionId id, QTcpSocket* socket, std::string address) {
    socket->setParent(&owner_);
    auto connection = std::make_unique<MemberConnection>(id, socket, std::move(address));
    MemberConnection& added = *connection;
    connections_[id] = std::move(connection);
    return added;
}

MemberConnection* NetSocket::Find(ConnectionId id) {
    const auto it = connections_.find(id);
    return it == connections_.end() ? nullptr : it->second.get();
}

std::size_t NetSocket::Promote(ConnectionId id) {
    MemberConnection* connection = Find(id);
    if (!connection)
        return 0;
    if (!connection->member) {
        connection->member = true;
        slots_.push_back(id);
    }
    return SlotOf(id);
}

std::size_t NetSocket::SlotOf(ConnectionId id) const {
    const auto it = std::find(slots_.begin(), slots_.end(), id);
    return it == slots_.end() ? 0 : static_cast<std::size_t>(it - slots_.begin()) + 1;
}

MemberConnection* NetSocket::AtSlot(std::size_t slot) {
    if (slot == 0 || slot > slots_.size())
        return nullptr;
    return Find(slots_[slot - 1]);
}

const MemberConnection* NetSocket::AtSlot(std::size_t slot) const {
    if (slot == 0 || slot > slots_.size())
        return nullptr;
    const auto it = connections_.find(slots_[slot - 1]);
    return it == connections_.end() ? nullptr : it->second.get();
}

void NetSocket::Disconnect(MemberConnection& connection) {
    if (!connection.socket)
        return;
    Discard(connection.socket);
    connection.socket = nullptr;
}

void NetSocket::Close(ConnectionId id) {
    const auto it = connections_.find(id);
    if (it == connections_.end())
        return;
    Disconnect(*it->second);
    connections_.erase(it);
    std::erase(slots_, id);
}

void NetSocket::CloseAll() {
    CloseServer();
    CloseHost();
    for (auto& [id, connection] : connections_)
        Disconnect(*connection);
    connections_.clear();
    slots_.clear();
}

void NetSocket::WriteOutQueued() {
    if (host_ && host_->socket && host_->socket->bytesToWrite() > 0)
        host_->socket->flush();
    for (auto& [id, connection] : connections_) {
        if (connection->socket && connection->socket->bytesToWrite() > 0)
            connection->socket->flush();
    }
}

bool NetSocket::ReportError(const std::string& text) const {
    prompter_.Inform(Notice::Failed, SOCKET_CAPTION, text, BoxIcon::Information);
    return false;
}

void NetSocket::Discard(QTcpSocket* socket) {
    if (!socket)
        return;
    QObject::disconnect(socket, nullptr, &owner_, nullptr);
    // What the system takes at once still goes out before the close.
    socket->flush();
    socket->abort();
    // Later: this may run inside one of the socket's own signals.
    socket->deleteLater();
}

} // namespace kolvena
