#include "search_run.h"

#include <QEventLoop>

#include "net/session_search.h"
#include "peer_json.h"
#include "peer_output.h"

namespace kolvena::peer {
namespace {

const char* StateText(SearchState state) {
    switch (state) {
    case SearchState::Open:
        return "open";
    case SearchState::Closed:
        return "closed";
    case SearchState::Full:
        return "full";
    }
    return "?";
}

// A stranger's text in one tab-separated field: control characters become spaces.
std::string Field(std::string text) {
    for (char& c : text)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            c = ' ';
    return text;
}

void PrintFound(const SessionFound& found, bool json) {
    if (json) {
        PeerOutput::PrintLine(JsonObject::Event("session")
                                  .Text("address", found.address)
                                  .Number("port", found.port)
                                  .Number("code", found.code)
                                  .Number("present", found.present)
                                  .Number("limit", found.limit)
                                  .Text("state", StateText(found.state))
                                  .Flag("approve", found.approval)
                                  .Text("topic", found.topic)
                                  .Text("leader", found.leader)
                                  .Done());
        return;
    }
    const std::string tab = "\t";
    PeerOutput::Print("session: ", found.address + tab + std::to_string(found.port) + tab +
                                       std::to_string(found.code) + tab +
                                       std::to_string(found.present) + "/" +
                                       std::to_string(found.limit) + tab + StateText(found.state) +
                                       tab + (found.approval ? "approve" : "free") + tab +
                                       Field(found.topic) + tab + Field(found.leader));
}

} // namespace

int RunSearch(const PeerOptions& options) {
    SearchOptions asked;
    asked.ports = options.searchPorts;
    asked.addresses = options.searchAddresses;
    asked.broadcast = options.broadcast;
    asked.wait = std::chrono::milliseconds(options.waitMs);
    SessionSearch search;
    QEventLoop loop;
    search.OnFinished([&loop] { loop.quit(); });
    if (!search.Start(asked)) {
        PeerOutput(options).Error("cannot open a UDP socket to search with");
        return 1;
    }
    loop.exec();
    for (const SessionFound& found : search.Results())
        PrintFound(found, options.json);
    if (!options.json)
        PeerOutput::Print("search: ", std::to_string(search.Results().size()) + " found");
    return 0;
}

} // namespace kolvena::peer
