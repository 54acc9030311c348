#include "peer_options.h"

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <string_view>
#include <vector>

#include "protocol/commands.h"
#include "session/address_code.h"

namespace kolvena::peer {
namespace {

template <typename Number> bool ParseNumber(std::string_view text, Number& out) {
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, out);
    return ec == std::errc() && ptr == end && !text.empty();
}

// --help and --version answer instead of any role, wherever they stand among the options.
std::optional<Role> AskedOnly(std::string_view argument) {
    if (argument == "--help" || argument == "-h")
        return Role::Help;
    if (argument == "--version")
        return Role::Version;
    return std::nullopt;
}

// replay FILE, transcript FILE OUT: paths and --json only.
std::optional<PeerOptions> ParseReplay(Role role, int argc, char** argv, std::string& error) {
    PeerOptions options;
    options.role = role;
    std::vector<std::string> paths;
    for (int i = 2; i < argc; ++i) {
        if (const auto asked = AskedOnly(argv[i])) {
            options.role = *asked;
            return options;
        }
        if (std::string_view(argv[i]) == "--json")
            options.json = true;
        else
            paths.emplace_back(argv[i]);
    }
    if (paths.size() != (role == Role::Replay ? 1u : 2u)) {
        error = role == Role::Replay ? "replay needs one recording file"
                                     : "transcript needs a recording file and an output file";
        return std::nullopt;
    }
    options.recording = paths[0];
    if (role == Role::Transcript)
        options.transcript = paths[1];
    if (options.recording.empty() || (role == Role::Transcript && options.transcript.empty())) {
        error = "empty file name";
        return std::nullopt;
    }
    return options;
}

// history DIR, find DIR TEXT (the words after DIR make the text).
std::optional<PeerOptions> ParseHistory(Role role, int argc, char** argv, std::string& error) {
    PeerOptions options;
    options.role = role;
    std::vector<std::string> words;
    for (int i = 2; i < argc; ++i) {
        if (const auto asked = AskedOnly(argv[i])) {
            options.role = *asked;
            return options;
        }
        words.emplace_back(argv[i]);
    }
    if (words.empty() || words[0].empty() || (role == Role::History && words.size() != 1) ||
        (role == Role::Find && words.size() < 2)) {
        error =
            role == Role::History ? "history needs one folder" : "find needs a folder and a text";
        return std::nullopt;
    }
    options.history = words[0];
    for (std::size_t i = 1; i < words.size(); ++i)
        options.findText += (i > 1 ? " " : "") + words[i];
    if (role == Role::Find && options.findText.empty()) {
        error = "find needs a text";
        return std::nullopt;
    }
    return options;
}

bool YesNo(std::string_view value, bool& out) {
    out = value == "yes";
    return value == "yes" || value == "no";
}

// Reads the flags after the role, each with its value but --json and the asked-only ones, which
// end the reading. `read` gives nothing for a flag it does not know, else whether the value is
// good. False, with the reason in `error`, when the options are wrong.
template <typename Read>
bool ReadFlags(int argc, char** argv, PeerOptions& options, std::string& error, Read read) {
    for (int i = 2; i < argc; ++i) {
        const std::string_view flag = argv[i];
        if (const auto asked = AskedOnly(flag)) {
            options.role = *asked;
            return true;
        }
        if (flag == "--json") {
            options.json = true;
            continue;
        }
        if (i + 1 >= argc) {
            error = std::string(flag) + " needs a value";
            return false;
        }
        const std::string value = argv[++i];
        const std::optional<bool> ok = read(flag, value);
        if (!ok)
            error = "unknown option " + std::string(flag);
        else if (!*ok)
            error = "bad value for " + std::string(flag) + ": " + value;
        if (!ok || !*ok)
            return false;
    }
    return true;
}

bool WasAskedOnly(const PeerOptions& options) {
    return options.role == Role::Help || options.role == Role::Version;
}

// search [--port P]... [--address ADDR]... [--wait MS] [--broadcast yes|no] [--json]
std::optional<PeerOptions> ParseSearch(int argc, char** argv, std::string& error) {
    PeerOptions options;
    options.role = Role::Search;
    const auto read = [&options](std::string_view flag,
                                 const std::string& value) -> std::optional<bool> {
        bool ok = true;
        if (flag == "--port") {
            std::uint16_t port = 0;
            ok = ParseNumber(value, port) && port != 0;
            options.searchPorts.push_back(port);
        } else if (flag == "--address") {
            // Dotted IPv4 only; the limited broadcast address is asked anyway when broadcasting.
            ok =
                Ipv4Value(value) != 0xFFFFFFFFu && std::count(value.begin(), value.end(), '.') == 3;
            options.searchAddresses.push_back(value);
        } else if (flag == "--wait")
            ok = ParseNumber(value, options.waitMs) && options.waitMs <= MAX_SEARCH_WAIT_MS;
        else if (flag == "--broadcast")
            ok = YesNo(value, options.broadcast);
        else
            return std::nullopt;
        return ok;
    };
    if (!ReadFlags(argc, argv, options, error, read))
        return std::nullopt;
    if (WasAskedOnly(options))
        return options;
    if (options.searchPorts.empty())
        options.searchPorts.push_back(SESSION_PORT);
    return options;
}

} // namespace

std::optional<PeerOptions> ParseOptions(int argc, char** argv, std::string& error) {
    if (argc < 2) {
        error = "host, join, search, replay, transcript, history or find?";
        return std::nullopt;
    }
    PeerOptions options;
    const std::string_view role = argv[1];
    if (const auto asked = AskedOnly(role)) {
        options.role = *asked;
        return options;
    }
    if (role == "host")
        options.role = Role::Host;
    else if (role == "join")
        options.role = Role::Join;
    else if (role == "search")
        return ParseSearch(argc, argv, error);
    else if (role == "history" || role == "find")
        return ParseHistory(role == "history" ? Role::History : Role::Find, argc, argv, error);
    else if (role == "replay" || role == "transcript")
        return ParseReplay(role == "replay" ? Role::Replay : Role::Transcript, argc, argv, error);
    else {
        error = "unknown role '" + std::string(role) + "'";
        return std::nullopt;
    }

    const auto read = [&options](std::string_view flag,
                                 const std::string& value) -> std::optional<bool> {
        bool ok = true;
        if (flag == "--name")
            options.name = value;
        else if (flag == "--topic" && options.role == Role::Host)
            options.topic = value;
        else if (flag == "--port")
            ok = ParseNumber(value, options.port);
        else if (flag == "--bind")
            options.bind = value;
        else if (flag == "--own-address")
            options.ownAddress = value;
        else if (flag == "--max" && options.role == Role::Host) {
            // The same limits as the settings, so that a later settings command still passes.
            std::uint16_t max = 0;
            ok = ParseNumber(value, max) && max >= MIN_MAX_CLIENTS && max <= MAX_MAX_CLIENTS;
            options.maxClients = max;
        } else if (flag == "--approve" && options.role == Role::Host) {
            if (value == "yes")
                options.approve = Approval::Yes;
            else if (value == "no")
                options.approve = Approval::No;
            else if (value == "off")
                options.approve = Approval::Off;
            else
                ok = false;
        } else if (flag == "--accept-files") {
            // Received files land there by name: it must be a folder that exists now.
            std::error_code ec;
            ok = value == "no" || std::filesystem::is_directory(value, ec);
            options.acceptFiles = value == "no" ? "" : value;
        } else if (flag == "--transfer-port")
            ok = ParseNumber(value, options.transferPort) && options.transferPort != 0;
        else if (flag == "--record")
            options.record = value;
        else if (flag == "--history")
            ok = !(options.history = value).empty();
        else if (flag == "--search" && options.role == Role::Host)
            ok = YesNo(value, options.search);
        else if (flag == "--code" && options.role == Role::Join) {
            std::uint32_t code = 0;
            ok = ParseNumber(value, code);
            options.code = code;
        } else if (flag == "--address" && options.role == Role::Join)
            options.address = value;
        else
            return std::nullopt;
        return ok;
    };
    if (!ReadFlags(argc, argv, options, error, read))
        return std::nullopt;
    if (WasAskedOnly(options))
        return options;

    if (options.name.empty())
        error = "--name is required";
    else if (options.role == Role::Host && options.topic.empty())
        error = "--topic is required";
    else if (options.role == Role::Join && options.code.has_value() == !options.address.empty())
        error = "join needs exactly one of --code and --address";
    if (!error.empty())
        return std::nullopt;
    return options;
}

} // namespace kolvena::peer
