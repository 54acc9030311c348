#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
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

// The first of `who` hosts, the others join in turn, awaited at themselves and every peer before;
// the peers that got in, up to the first that did not.
using Who = std::pair<std::string, std::vector<std::string>>;
inline std::vector<std::unique_ptr<PeerProcess>> StartSession(std::uint16_t port,
                                                              const std::vector<Who>& who) {
    std::vector<std::unique_ptr<PeerProcess>> peers;
    std::string members = "members: 全体";
    for (const auto& [name, extra] : who) {
        const bool host = peers.empty();
        members += ", " + name + (host ? "(组长)" : "");
        auto peer = std::make_unique<PeerProcess>(SessionArguments(host, port, name, extra));
        bool in = peer->WaitFor(host ? "等待客人登陆中" : members + "(您)");
        for (const auto& p : peers)
            in = in && p->WaitFor(name + " 加入会话");
        if (!in) {
            ADD_FAILURE() << name << " did not get in:\n" << peer->Output();
            break;
        }
        peers.push_back(std::move(peer));
    }
    return peers;
}

} // namespace kolvena::test
