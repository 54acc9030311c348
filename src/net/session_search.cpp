#include "session_search.h"

#include <QNetworkInterface>
#include <QRandomGenerator>
#include <algorithm>
#include <utility>

#include "session/gbk.h"

namespace kolvena {
namespace {

// Answers handled per turn of the event loop; the rest come with the socket's next notice.
constexpr int DATAGRAMS_PER_TURN = 64;
constexpr int IPV4_BITS = 32;
// A /31 or /32 has no broadcast address of its own.
constexpr int MAX_BROADCAST_PREFIX = 30;

void AddOnce(std::vector<QHostAddress>& targets, const QHostAddress& address) {
    if (std::find(targets.begin(), targets.end(), address) == targets.end())
        targets.push_back(address);
}

} // namespace

std::vector<QHostAddress> SearchTargets(const SearchOptions& options) {
    std::vector<QHostAddress> targets;
    if (options.broadcast) {
        for (const QNetworkInterface& iface : QNetworkInterface::allInterfaces()) {
            const auto flags = iface.flags();
            if (!flags.testFlag(QNetworkInterface::IsUp) ||
                !flags.testFlag(QNetworkInterface::CanBroadcast))
                continue;
            for (const QNetworkAddressEntry& entry : iface.addressEntries()) {
                const int prefix = entry.prefixLength();
                if (entry.ip().protocol() != QAbstractSocket::IPv4Protocol || prefix < 0 ||
                    prefix > MAX_BROADCAST_PREFIX)
                    continue;
                // From the address and its mask rather than the interface's broadcast entry,
                // which an address added without one leaves empty.
                const quint32 host = prefix == 0 ? ~0u : (1u << (IPV4_BITS - prefix)) - 1u;
                AddOnce(targets, QHostAddress(entry.ip().toIPv4Address() | host));
            }
        }
        AddOnce(targets, QHostAddress(QHostAddress::Broadcast));
    }
    for (const std::string& text : options.addresses) {
        const QHostAddress address(QString::fromStdString(text));
        if (address.protocol() == QAbstractSocket::IPv4Protocol)
            AddOnce(targets, address);
    }
    return targets;
}

SessionSearch::SessionSearch() {
    timer_.setSingleShot(true);
    connect(&timer_, &QTimer::timeout, this, [this] { Finish(); });
}

bool SessionSearch::Start(const SearchOptions& options) {
    Stop();
    results_.clear();
    auto* socket = new QUdpSocket(this);
    if (!socket->bind(QHostAddress(QHostAddress::AnyIPv4), 0)) {
        delete socket;
        return false;
    }
    socket_ = socket;
    connect(socket_, &QUdpSocket::readyRead, this, [this] { Read(); });
    queryId_ = QRandomGenerator::global()->generate();
    maxResults_ = options.maxResults;
    const std::string query = BuildSearchQuery(queryId_);
    // A target that cannot be reached (255.255.255.255 without a route) is simply not asked.
    for (const QHostAddress& target : SearchTargets(options))
        for (const std::uint16_t port : options.ports)
            socket_->writeDatagram(query.data(), static_cast<qint64>(query.size()), target, port);
    timer_.start(options.wait);
    return true;
}

void SessionSearch::Stop() {
    timer_.stop();
    if (socket_) {
        socket_->disconnect(this);
        // Later: it may be the sender of the signal on the stack.
        std::exchange(socket_, nullptr)->deleteLater();
    }
}

void SessionSearch::Finish() {
    Read(); // what arrived in time and is still waiting
    Stop();
    ReportFinished();
}

void SessionSearch::Read() {
    for (int handled = 0; socket_ && handled < DATAGRAMS_PER_TURN; ++handled) {
        if (!socket_->hasPendingDatagrams())
            return;
        char buffer[SEARCH_ANSWER_SIZE + 1];
        QHostAddress from;
        const qint64 size = socket_->readDatagram(buffer, sizeof buffer, &from);
        if (size < 0)
            continue;
        const auto answer =
            ReadSearchAnswer(std::string_view(buffer, static_cast<std::size_t>(size)));
        bool ipv4 = false;
        const quint32 source = from.toIPv4Address(&ipv4);
        if (!answer || answer->queryId != queryId_ || !ipv4)
            continue;
        SessionFound found;
        found.address = QHostAddress(source).toString().toStdString();
        found.port = answer->port;
        found.code = answer->code;
        found.present = answer->present;
        found.limit = answer->limit;
        found.state = StateOf(*answer);
        found.approval = answer->approval;
        found.topic = FromGbk(answer->topic);
        found.leader = FromGbk(answer->leader);
        const auto same = std::find_if(results_.begin(), results_.end(), [&](const auto& known) {
            return known.address == found.address && known.port == found.port;
        });
        const bool first = same == results_.end();
        if (first && results_.size() >= maxResults_)
            continue;
        const std::size_t index = first ? results_.size() : std::size_t(same - results_.begin());
        if (first)
            results_.push_back(std::move(found));
        else
            results_[index] = std::move(found);
        ReportFound(index, first); // it may stop the search
    }
}

} // namespace kolvena
