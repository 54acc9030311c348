#pragma once

#include <QHostAddress>
#include <QObject>
#include <QUdpSocket>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "protocol/search_datagrams.h"

namespace kolvena {

// A hosting endpoint's answers to searches of the local network: it listens on UDP and answers
// each well-formed query, within the rate limits, to the query's source only. Everything else
// is dropped without a word. A query is answered from the session as it stands then; the
// answer comes from the function given.
class SearchResponder final : public QObject {
public:
    using Answerer = std::function<std::optional<SearchAnswer>(std::uint32_t queryId)>;
    explicit SearchResponder(Answerer answerer);

    // False when the port is taken (or cannot be bound at that address).
    bool Listen(const QHostAddress& address, std::uint16_t port);

private:
    void Read();

    Answerer answerer_;
    QUdpSocket socket_;
    SearchRateLimiter limiter_;
};

} // namespace kolvena
