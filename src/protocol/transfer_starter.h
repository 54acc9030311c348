#pragma once

#include <functional>
#include <string>

#include "packets.h"

namespace kolvena {

// Where an accepted file offer turns into a transfer on its own connection. A start that
// returns true has a transfer under way, which reports its end to the handler the core sets;
// false means it failed at once, after its box, and nothing runs.
class TransferStarter {
public:
    virtual ~TransferStarter() = default;

    // The own program receives the offered file: listen and wait for the offerer.
    virtual bool StartReceiving(const FilePacket& offer) = 0;
    // The own offer was accepted: connect to the recipient's address and send the file at path.
    virtual bool StartSending(const FilePacket& offer, const std::string& recipientAddress,
                              const std::string& path) = 0;

    // Called once each started transfer has ended, however it ended.
    void WhenEnded(std::function<void()> ended) { ended_ = std::move(ended); }

protected:
    void ReportEnded() {
        if (ended_)
            ended_();
    }

private:
    std::function<void()> ended_;
};

} // namespace kolvena
