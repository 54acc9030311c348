#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

// What the tests and the benchmarks share: free ports and child processes. Plain POSIX, so that
// it serves programs with and without Qt.
namespace kolvena::test {

// A TCP port on 127.0.0.1 that was free a moment ago (bound to port 0 and released).
std::uint16_t FreePort();

struct ChildOptions {
    // "NAME=value" entries that replace or extend this process's environment.
    std::vector<std::string> environment;
    // Where standard error goes: empty joins it to standard output, otherwise the file.
    std::string errorPath;
    // Standard output (and joined standard error) goes to /dev/null.
    bool discardOutput = false;
};

// One child process: lines go to its standard input, its standard output (and, by default, its
// standard error) comes back as lines. Every wait is bounded. Starting one ignores SIGPIPE in
// this process, so that writing to a child that has gone fails instead of killing us; the child
// itself starts with the default signal handling and nothing blocked.
class ChildProcess {
public:
    ChildProcess() = default;
    ChildProcess(const std::string& program, const std::vector<std::string>& arguments,
                 const ChildOptions& options = {}) {
        Start(program, arguments, options);
    }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    // Kills the child if it still runs.
    ~ChildProcess();

    bool Start(const std::string& program, const std::vector<std::string>& arguments,
               const ChildOptions& options = {});

    pid_t Pid() const { return pid_; }
    int InputFd() const { return in_; }
    int OutputFd() const { return out_; }
    bool InputPending() const { return !input_.empty() && in_ >= 0; }
    bool OutputOpen() const { return out_ >= 0; }

    // Queues the line and a line break and writes what the pipe takes now; the rest goes out
    // with later calls.
    void Write(const std::string& line);
    void FlushInput();
    // Ends the input (after what is queued), as end of file.
    void CloseInput();
    void Signal(int signal);

    // The complete lines that have arrived, without waiting; false once the output has ended.
    // For callers that keep the lines themselves (they are then not kept here).
    bool ReadOutput(std::vector<std::string>& lines);

    // --- kept lines ---
    // Reads what has arrived into the kept lines, without waiting.
    void Collect();
    // Waits (bounded) until a line printed since the last mark contains the text; that line.
    // The mark then moves past it.
    std::optional<std::string> WaitForLine(const std::string& text,
                                           std::chrono::milliseconds timeout);
    // Whether any kept line, from the first, contains the text.
    bool Printed(const std::string& text) const;
    // Kept lines that start with the prefix.
    std::vector<std::string> Lines(const std::string& prefix) const;
    std::string Output() const;

    // Waits (bounded) for the exit, reading the output meanwhile; the exit code, or -1 when it
    // died of a signal or still runs.
    int WaitForExit(std::chrono::milliseconds timeout);
    // Ends the input, waits (bounded) and kills the child when it takes longer; empty for a
    // clean exit, otherwise what went wrong ("did not quit; killed", "died of signal 11", ...).
    std::string Finish(std::chrono::milliseconds timeout);

private:
    // Waits up to the time for output (or room for queued input), then reads and writes.
    void Pump(std::chrono::milliseconds wait);
    bool Reap(bool block);
    void CloseOutput();

    pid_t pid_ = -1;
    int in_ = -1;
    int out_ = -1;
    int status_ = 0;
    bool reaped_ = false;
    std::string input_;
    std::string partial_;
    std::vector<std::string> lines_;
    std::size_t mark_ = 0;
};

} // namespace kolvena::test
