#include "search_responder.h"

#include <chrono>

namespace kolvena {
namespace {

// Datagrams handled per turn of the event loop, so that a flood cannot starve the session's
// own sockets. The rest wait for the next turn: having read, the socket's notifier is armed
// again, and it fires while anything is pending.
constexpr int DATAGRAMS_PER_TURN = 64;

} // namespace

SearchResponder::SearchResponder(Answerer answerer) : answerer_(std::move(answerer)) {
    connect(&socket_, &QUdpSocket::readyRead, this, [this] { Read(); });
}

bool SearchResponder::Listen(const QHostAddress& address, std::uint16_t port) {
    // Exclusively: a port another program holds means the searches go to it, not to us.
    return socket_.bind(address, port, QAbstractSocket::DontShareAddress);
}

void SearchResponder::Read() {
    for (int handled = 0; handled < DATAGRAMS_PER_TURN; ++handled) {
        if (!socket_.hasPendingDatagrams())
            return;
        // One byte more than a query, so that a longer datagram shows as too long; whatever is
        // beyond is discarded by the socket.
        char buffer[SEARCH_QUERY_SIZE + 1];
        QHostAddress from;
        quint16 fromPort = 0;
        const qint64 size = socket_.readDatagram(buffer, sizeof buffer, &from, &fromPort);
        if (size < 0)
            continue;
        const auto queryId =
            ReadSearchQuery(std::string_view(buffer, static_cast<std::size_t>(size)));
        bool ipv4 = false;
        const quint32 source = from.toIPv4Address(&ipv4);
        if (!queryId || !ipv4 || fromPort == 0)
            continue;
        const std::optional<SearchAnswer> answer = answerer_(*queryId);
        if (!answer || !limiter_.Allow(source, std::chrono::steady_clock::now()))
            continue;
        const std::string bytes = BuildSearchAnswer(*answer);
        socket_.writeDatagram(bytes.data(), static_cast<qint64>(bytes.size()), from, fromPort);
    }
}

} // namespace kolvena
