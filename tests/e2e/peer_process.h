#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "support/child_process.h"

namespace kolvena::test {

// One kolvena-peer process: commands go to its standard input, every line it prints is kept.
class PeerProcess : public ChildProcess {
public:
    explicit PeerProcess(const std::vector<std::string>& arguments) {
        Start(KOLVENA_PEER_PATH, arguments);
    }

    // A host on 127.0.0.1 at the port, and a member joining it there.
    static std::unique_ptr<PeerProcess> Host(std::uint16_t port, const std::string& name,
                                             std::vector<std::string> extra = {}) {
        return Make({"host", "--name", name, "--topic", "测试会话", "--port", std::to_string(port),
                     "--bind", "127.0.0.1", "--own-address", "127.0.0.1"},
                    extra);
    }
    static std::unique_ptr<PeerProcess> Join(std::uint16_t port, const std::string& name,
                                             std::vector<std::string> extra = {}) {
        return Make({"join", "--address", "127.0.0.1", "--port", std::to_string(port), "--name",
                     name, "--own-address", "127.0.0.1"},
                    extra);
    }

    void Command(const std::string& line) { Write(line); }
    bool WaitFor(const std::string& text,
                 std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
        return WaitForLine(text, timeout).has_value();
    }
    int WaitForExit(std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
        return ChildProcess::WaitForExit(timeout);
    }

private:
    static std::unique_ptr<PeerProcess> Make(std::vector<std::string> args,
                                             const std::vector<std::string>& extra) {
        args.insert(args.end(), extra.begin(), extra.end());
        return std::make_unique<PeerProcess>(args);
    }
};

} // namespace kolvena::test
