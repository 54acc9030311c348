#pragma once

#include <QHostAddress>
#include <QObject>
#include <QTimer>
#include <QUdpSocket>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "protocol/search_datagrams.h"
#include "protocol/transport.h"

namespace kolvena {

// One session a search found, as a list shows it and a join needs it.
struct SessionFound {
    std::string address;       // dotted: where the answer came from, which is where to join
    std::uint16_t port = 0;    // the session's TCP port
    AddressCode code = 0;      // as the host announces it
    std::uint16_t present = 0; // members besides the leader, at most the limit
    std::uint16_t limit = 0;   // 1..100
    SearchState state = SearchState::Closed;
    bool approval = false; // notices need the leader's approval
    std::string topic;     // UTF-8
    std::string leader;    // UTF-8
};

// What a search asks, and for how long.
struct SearchOptions {
    // The session port numbers asked at; every target is asked at each.
    std::vector<std::uint16_t> ports{SESSION_PORT};
    // Dotted IPv4 addresses asked directly as well (a host on another subnet); a text that is
    // no such address is left out.
    std::vector<std::string> addresses;
    // The directed broadcast address of every IPv4 interface that is up, and 255.255.255.255.
    bool broadcast = true;
    std::chrono::milliseconds wait{1000};
    // A search keeps at most this many sessions; answers of further ones are dropped.
    std::size_t maxResults = 1000;
};

// Where the query goes: the broadcast addresses (if asked for), then the named ones; each once.
std::vector<QHostAddress> SearchTargets(const SearchOptions& options);

// Where a search window gets its sessions from: the network, or a test's script.
class SearchSource {
public:
    // index is the session's place in Results(), in the order first found; first is false
    // when a newer answer of a session already listed replaced it.
    using FoundHandler = std::function<void(std::size_t index, bool first)>;

    virtual ~SearchSource() = default;

    void OnFound(FoundHandler handler) { found_ = std::move(handler); }
    void OnFinished(std::function<void()> handler) { finished_ = std::move(handler); }

    // Starts a new search, giving up one that runs; the results are emptied. False when no
    // socket could be opened: then nothing runs and nothing is reported.
    virtual bool Start(const SearchOptions& options) = 0;
    // Ends the search now, without the finished report.
    virtual void Stop() = 0;
    virtual bool Running() const = 0;
    virtual const std::vector<SessionFound>& Results() const = 0;

protected:
    void ReportFound(std::size_t index, bool first) {
        if (found_)
            found_(index, first);
    }
    void ReportFinished() {
        if (finished_)
            finished_();
    }

private:
    FoundHandler found_;
    std::function<void()> finished_;
};

// One search at a time: the query goes to every target, the answers to this query are
// collected until the wait is over, the newest kept per session (address, port), and each is
// reported as it arrives. Answers of other sizes, of other queries or that do not read are
// dropped; their fields are never trusted (see ReadSearchAnswer).
class SessionSearch final : public QObject, public SearchSource {
public:
    SessionSearch();

    bool Start(const SearchOptions& options) override;
    void Stop() override;
    bool Running() const override { return socket_ != nullptr; }
    const std::vector<SessionFound>& Results() const override { return results_; }

private:
    void Read();
    void Finish();

    QUdpSocket* socket_ = nullptr; // a child, so that it goes with the search in any case
    QTimer timer_;
    std::uint32_t queryId_ = 0;
    std::size_t maxResults_ = 0;
    std::vector<SessionFound> results_;
};

} // namespace kolvena
