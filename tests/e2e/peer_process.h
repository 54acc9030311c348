#pragma once

#include <QProcess>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace kolvena::test {

// A free TCP port on 127.0.0.1, found by binding to port 0.
std::uint16_t FreePort();

// One kolvena-peer process: commands go to its standard input, every line it prints is kept.
class PeerProcess {
public:
    explicit PeerProcess(const std::vector<std::string>& arguments);
    ~PeerProcess();

    // The peer for a host on 127.0.0.1 at the port.
    static std::unique_ptr<PeerProcess> Host(std::uint16_t port, const std::string& name,
                                             std::vector<std::string> extra = {});
    static std::unique_ptr<PeerProcess> Join(std::uint16_t port, const std::string& name,
                                             std::vector<std::string> extra = {});

    void Command(const std::string& line);
    void CloseInput();

    // Waits (bounded) until a line printed since the last mark contains the text; true if one
    // did. The mark then moves past that line.
    bool WaitFor(const std::string& text, std::chrono::milliseconds timeout = std::chrono::seconds(10));
    // Whether any line printed so far, from the first, contains the text.
    bool Printed(const std::string& text) const;
    // Lines printed so far that start with the prefix.
    std::vector<std::string> Lines(const std::string& prefix) const;
    // Waits (bounded) for the process to end; its exit code, or -1.
    int WaitForExit(std::chrono::milliseconds timeout = std::chrono::seconds(10));
    std::string Output() const;

private:
    void Collect();

    QProcess process_;
    std::string partial_;
    std::vector<std::string> lines_;
    std::size_t mark_ = 0;
};

} // namespace kolvena::test
