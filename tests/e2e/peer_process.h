#pragma once

#include <chrono>
#include <string>
#include <string_view>
#include <vector>

#include "support/child_process.h"

namespace kolvena::test {

// One kolvena-peer process: commands go to its standard input, every line it prints is kept.
struct PeerProcess : ChildProcess {
    explicit PeerProcess(const std::vector<std::string>& args)
        : ChildProcess(KOLVENA_PEER_PATH, args) {}
    bool WaitFor(const std::string& text,
                 std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
        return WaitForLine(text, timeout).has_value();
    }
};

inline bool Contains(std::string_view text, std::string_view part) {
    return text.find(part) != std::string_view::npos;
}

// The arguments of a host on 127.0.0.1 at the port, or of a member joining it there.
inline std::vector<std::string> SessionArguments(bool host, std::uint16_t port,
                                                 const std::string& name,
                                                 const std::vector<std::string>& extra = {}) {
    const std::string role = host ? "host" : "join", at = host ? "--bind" : "--address";
    std::vector<std::string> args = {role,       at,       "127.0.0.1",          "--name",
                                     name,       "--port", std::to_string(port), "--own-address",
                                     "127.0.0.1"};
    if (host)
        args.insert(args.end(), {"--topic", "测试会话"});
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
}

} // namespace kolvena::test
