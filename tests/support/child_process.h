#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

// Free ports and child processes for the tests and the benchmarks; plain POSIX, so that it
// serves programs with and without Qt.
namespace kolvena::test {

// A TCP port on 127.0.0.1 that was free a moment ago (bound to port 0 and released).
std::uint16_t FreePort();

struct ChildOptions {
    std::vector<std::string> environment; // "NAME=value" entries that replace or extend ours
    std::string errorPath;                // standard error's file; empty joins it to the output
    bool discardOutput = false;           // standard output (and joined error) to /dev/null
};

// One child process: lines go to its standard input, its output comes back as lines, and every
// wait is bounded. Starting one ignores SIGPIPE here, so that writing to a child that has gone
// fails instead of killing us; the child starts with default signal handling, nothing blocked.
class ChildProcess {
public:
    ChildProcess() = default;
    ChildProcess(const std::string& program, const std::vector<std::string>& arguments,
                 const ChildOptions& options = {}) {
        Start(program, arguments, options);
    }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    ~ChildProcess() { Finish(std::chrono::milliseconds(0)); }

    bool Start(const std::string& program, const std::vector<std::string>& arguments,
               const ChildOptions& options = {});

    pid_t Pid() const { return pid_; }
    int InputFd() const { return in_; }
    int OutputFd() const { return out_; }
    bool InputPending() const { return !input_.empty() && in_ >= 0; }
    bool OutputOpen() const { return out_ >= 0; }

    void Write(const std::string& line); // and a line break; what the pipe won't take waits
    void FlushInput();
    void CloseInput(); // after what is queued, as end of file
    void Signal(int signal);

    // The complete lines that have arrived, without waiting, for callers that keep them
    // themselves; false once the output has ended. Collect keeps them here instead.
    bool ReadOutput(std::vector<std::string>& lines);
    void Collect();
    // The next kept line (after the last one returned) with the text, waiting at most the time.
    std::optional<std::string> WaitForLine(const std::string& text,
                                           std::chrono::milliseconds timeout);
    bool Printed(const std::string& text) const;                     // in any kept line
    std::vector<std::string> Lines(const std::string& prefix) const; // kept lines starting so
    std::string Output() const;

    // The exit code, reading the output meanwhile; -1 when it died of a signal or still runs.
    int WaitForExit(std::chrono::milliseconds timeout);
    // Ends the input, waits and kills the child when it takes longer; empty for a clean exit,
    // otherwise what went wrong ("did not quit; killed", "died of signal 11", ...).
    std::string Finish(std::chrono::milliseconds timeout);

private:
    void Pump(std::chrono::milliseconds wait);
    bool Reap(bool block);

    pid_t pid_ = -1;
    int in_ = -1, out_ = -1, status_ = 0;
    bool reaped_ = false;
    std::string input_, partial_;
    std::vector<std::string> lines_;
    std::size_t mark_ = 0;
};

} // namespace kolvena::test
