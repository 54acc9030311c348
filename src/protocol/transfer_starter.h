#pragma once

#include <string>

#include "packets.h"

namespace kolvena {

// Where an accepted file offer turns into a transfer on its own connection.
class TransferStarter {
public:
    virtual ~TransferStarter() = default;

    // The own program receives the offered file: listen and wait for the offerer.
    virtual void StartReceiving(const FilePacket& offer) = 0;
    // The own offer was accepted: connect to the recipient's address and send.
    virtual void StartSending(const FilePacket& offer, const std::string& recipientAddress) = 0;
};

} // namespace kolvena
