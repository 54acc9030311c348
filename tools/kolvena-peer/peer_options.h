#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "protocol/transport.h"
#include "transfer/transfer_stream.h"

namespace kolvena::peer {

// Host or join a live session; or play a recording back without waiting for its delays, and
// optionally write the replayed session's text transcript; or search the local network for
// sessions; or only print the usage or the version.
enum class Role { Host, Join, Replay, Transcript, Search, History, Find, Help, Version };
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
    bool json = false;      // events as JSON objects, one a line, instead of the display lines
    bool search = true;     // host: the session answers searches
    // search: the port numbers asked at (--port, repeatable), the addresses asked directly,
    // whether to broadcast, and how long to collect answers
    std::vector<std::uint16_t> searchPorts;
    std::vector<std::string> searchAddresses;
    bool broadcast = true;
    std::uint32_t waitMs = 1000;
    // host and join: keep the session there (--history); history and find: the folder listed
    std::string history;
    std::string findText; // find: the text searched for
};

// A search waits at most this long for answers (--wait).
inline constexpr std::uint32_t MAX_SEARCH_WAIT_MS = 60000;

// Parses argv; on a mistake fills error with what is wrong.
std::optional<PeerOptions> ParseOptions(int argc, char** argv, std::string& error);

// What a mistake prints after the error; it ends with the find line.
inline constexpr char USAGE[] =
    "usage:\n"
    "  kolvena-peer --help | --version\n"
    "  kolvena-peer host --name NAME --topic TOPIC [--port P] [--bind ADDR] [--own-address ADDR]\n"
    "                    [--max 1..100] [--approve yes|no|off] [--accept-files DIR|no]\n"
    "                    [--transfer-port P] [--record FILE] [--search yes|no]\n"
    "                    [--history DIR] [--json]\n"
    "  kolvena-peer join (--code CODE | --address ADDR) --name NAME [--port P]\n"
    "                    [--bind ADDR] [--own-address ADDR] [--accept-files DIR|no]\n"
    "                    [--transfer-port P] [--record FILE] [--history DIR] [--json]\n"
    "  kolvena-peer search [--port P]... [--address ADDR]... [--wait MS] [--broadcast yes|no]\n"
    "                      [--json]\n"
    "  kolvena-peer replay FILE.prs [--json]\n"
    "  kolvena-peer transcript FILE.prs OUT.txt [--json]\n"
    "  kolvena-peer history DIR\n"
    "  kolvena-peer find DIR TEXT\n";

// --help prints the usage and this.
inline constexpr char COMMANDS[] =
    "commands, one a line on standard input (end of input leaves the session):\n"
    "  say TEXT | to K TEXT | whisper K TEXT | notice TEXT | sleep | wake | rename NAME\n"
    "  offer K PATH | giveup | settings [max=N] [listen=0|1] [verify=0|1] [search=0|1]\n"
    "  save-recording PATH | save-transcript PATH | leave\n"
    "  host only: kick K | ban K | unban ADDRESS | mute K | unmute K | members-detail\n"
    "K is a member's number in the member list, the leader being 1.\n"
    "--json prints one JSON object a line for each event instead of the display lines.\n"
    "--history DIR keeps the session as a recording in DIR as it happens; history DIR lists\n"
    "the recordings there, newest first, and find DIR TEXT their lines that hold TEXT.\n";

} // namespace kolvena::peer
