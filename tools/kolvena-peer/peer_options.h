#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "protocol/transport.h"
#include "transfer/transfer_stream.h"

namespace kolvena::peer {

// Host or join a live session; or play a recording back without waiting for its delays, and
// optionally write the replayed session's text transcript.
enum class Role { Host, Join, Replay, Transcript };
// What the leader answers to a member's notice: approve, refuse, or approval turned off.
enum class Approval { Yes, No, Off };

// The command line: host or join a session, or replay a recording. Texts are UTF-8 as typed.
struct PeerOptions {
    Role role = Role::Host;
    std::string name;
    std::string topic;
    std::optional<std::uint32_t> code;
    std::string address;
    std::uint16_t port = SESSION_PORT;
    std::string bind;
    std::string ownAddress;
    std::optional<std::uint16_t> maxClients;
    Approval approve = Approval::Yes;
    std::string acceptFiles; // a folder, or empty to refuse
    std::uint16_t transferPort = TRANSFER_PORT;
    std::string record;
    std::string recording;  // replay and transcript: the recording to play
    std::string transcript; // transcript: the text file to write
};

// Parses argv; on a mistake fills error with what is wrong.
std::optional<PeerOptions> ParseOptions(int argc, char** argv, std::string& error);

inline constexpr char USAGE[] =
    "usage:\n"
    "  kolvena-peer host --name NAME --topic TOPIC [--port P] [--bind ADDR] [--own-address ADDR]\n"
    "                    [--max 1..100] [--approve yes|no|off] [--accept-files DIR|no]\n"
    "                    [--transfer-port P] [--record FILE]\n"
    "  kolvena-peer join (--code CODE | --address ADDR) --name NAME [--port P]\n"
    "                    [--own-address ADDR] [--accept-files DIR|no] [--transfer-port P]\n"
    "                    [--record FILE]\n"
    "  kolvena-peer replay FILE.prs\n"
    "  kolvena-peer transcript FILE.prs OUT.txt\n";

} // namespace kolvena::peer
