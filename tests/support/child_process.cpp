#include "support/child_process.h"

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace kolvena::test {

namespace {

using SteadyClock = std::chrono::steady_clock;
constexpr auto kSlice = std::chrono::milliseconds(20);

void NonBlocking(int fd) {
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
}

// This process's environment with the entries replaced or added.
std::vector<std::string> Environment(const std::vector<std::string>& changes) {
    std::vector<std::string> out;
    const auto name = [](const std::string& entry) { return entry.substr(0, entry.find('=')); };
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string entry = *e;
        bool replaced = false;
        for (const std::string& change : changes)
            replaced = replaced || name(change) == name(entry);
        if (!replaced)
            out.push_back(entry);
    }
    out.insert(out.end(), changes.begin(), changes.end());
    return out;
}

std::vector<char*> Pointers(std::vector<std::string>& texts) {
    std::vector<char*> out;
    for (std::string& text : texts)
        out.push_back(text.data());
    out.push_back(nullptr);
    return out;
}

} // namespace

std::uint16_t FreePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    std::uint16_t port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    ::close(fd);
    return port;
}

ChildProcess::~ChildProcess() {
    if (pid_ > 0 && !Reap(false)) {
        ::kill(pid_, SIGKILL);
        Reap(true);
    }
    CloseInput();
    CloseOutput();
}

bool ChildProcess::Start(const std::string& program, const std::vector<std::string>& arguments,
                         const ChildOptions& options) {
    std::signal(SIGPIPE, SIG_IGN);
    int in[2], out[2];
    if (::pipe2(in, O_CLOEXEC) != 0)
        return false;
    if (::pipe2(out, O_CLOEXEC) != 0) {
        ::close(in[0]);
        ::close(in[1]);
        return false;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
    if (options.discardOutput)
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    else
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    if (!options.errorPath.empty())
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, options.errorPath.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
    else
        posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &all);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    std::vector<std::string> argv = {program};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    std::vector<std::string> envp = Environment(options.environment);
    auto argvPointers = Pointers(argv);
    auto envpPointers = Pointers(envp);
    const int failed = ::posix_spawn(&pid_, program.c_str(), &actions, &attributes,
                                     argvPointers.data(), envpPointers.data());
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    ::close(in[0]);
    ::close(out[1]);
    in_ = in[1];
    out_ = out[0];
    NonBlocking(in_);
    NonBlocking(out_);
    reaped_ = false;
    if (failed != 0) {
        pid_ = -1;
        CloseInput();
        CloseOutput();
        return false;
    }
    return true;
}

void ChildProcess::Write(const std::string& line) {
    input_ += line;
    input_ += '\n';
    FlushInput();
}

void ChildProcess::FlushInput() {
    while (!input_.empty() && in_ >= 0) {
        const ssize_t n = ::write(in_, input_.data(), input_.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN) { // the child has gone: nobody reads any more
            input_.clear();
            return;
        }
        if (n <= 0)
            return;
        input_.erase(0, static_cast<std::size_t>(n));
    }
}

void ChildProcess::CloseInput() {
    FlushInput();
    if (in_ >= 0)
        ::close(in_);
    in_ = -1;
    input_.clear();
}

void ChildProcess::Signal(int signal) {
    if (pid_ > 0 && !reaped_)
        ::kill(pid_, signal);
}

void ChildProcess::CloseOutput() {
    if (out_ >= 0)
        ::close(out_);
    out_ = -1;
}

bool ChildProcess::ReadOutput(std::vector<std::string>& lines) {
    char buffer[16384];
    for (int i = 0; i < 16 && out_ >= 0; ++i) {
        const ssize_t n = ::read(out_, buffer, sizeof buffer);
        if (n < 0 && (errno == EAGAIN || errno == EINTR))
            break;
        if (n <= 0) {
            CloseOutput();
            break;
        }
        partial_.append(buffer, static_cast<std::size_t>(n));
    }
    std::size_t start = 0, end;
    while ((end = partial_.find('\n', start)) != std::string::npos) {
        lines.emplace_back(partial_, start, end - start);
        start = end + 1;
    }
    partial_.erase(0, start);
    return out_ >= 0;
}

void ChildProcess::Collect() {
    FlushInput();
    ReadOutput(lines_);
}

void ChildProcess::Pump(std::chrono::milliseconds wait) {
    pollfd polls[2];
    nfds_t count = 0;
    if (out_ >= 0)
        polls[count++] = {out_, POLLIN, 0};
    if (InputPending())
        polls[count++] = {in_, POLLOUT, 0};
    if (count > 0)
        ::poll(polls, count, static_cast<int>(wait.count()));
    else
        ::usleep(static_cast<useconds_t>(wait.count() * 1000));
    Collect();
}

std::optional<std::string> ChildProcess::WaitForLine(const std::string& text,
                                                     std::chrono::milliseconds timeout) {
    const auto deadline = SteadyClock::now() + timeout;
    while (true) {
        Collect();
        for (; mark_ < lines_.size(); ++mark_)
            if (lines_[mark_].find(text) != std::string::npos)
                return lines_[mark_++];
        const auto left = deadline - SteadyClock::now();
        if (left <= SteadyClock::duration::zero() || (out_ < 0 && partial_.empty()))
            return std::nullopt;
        Pump(std::min(kSlice, std::chrono::duration_cast<std::chrono::milliseconds>(left) +
                                  std::chrono::milliseconds(1)));
    }
}

bool ChildProcess::Printed(const std::string& text) const {
    for (const std::string& line : lines_)
        if (line.find(text) != std::string::npos)
            return true;
    return false;
}

std::vector<std::string> ChildProcess::Lines(const std::string& prefix) const {
    std::vector<std::string> out;
    for (const std::string& line : lines_)
        if (line.rfind(prefix, 0) == 0)
            out.push_back(line);
    return out;
}

std::string ChildProcess::Output() const {
    std::string out;
    for (const std::string& line : lines_)
        out += line + "\n";
    return out;
}

bool ChildProcess::Reap(bool block) {
    if (reaped_)
        return true;
    if (pid_ <= 0)
        return false;
    pid_t done;
    while ((done = ::waitpid(pid_, &status_, block ? 0 : WNOHANG)) < 0 && errno == EINTR) {
    }
    reaped_ = done == pid_;
    return reaped_;
}

int ChildProcess::WaitForExit(std::chrono::milliseconds timeout) {
    const auto deadline = SteadyClock::now() + timeout;
    while (!Reap(false) && SteadyClock::now() < deadline)
        Pump(std::chrono::milliseconds(10));
    if (!reaped_)
        return -1;
    Collect(); // what it printed last
    return WIFEXITED(status_) ? WEXITSTATUS(status_) : -1;
}

std::string ChildProcess::Finish(std::chrono::milliseconds timeout) {
    if (pid_ <= 0)
        return {};
    CloseInput();
    std::vector<std::string> ignored;
    const auto deadline = SteadyClock::now() + timeout;
    while (!Reap(false) && SteadyClock::now() < deadline) {
        ReadOutput(ignored);
        ignored.clear();
        ::usleep(10000);
    }
    std::string outcome;
    if (!reaped_) {
        ::kill(pid_, SIGKILL);
        Reap(true);
        outcome = "did not quit; killed";
    } else if (WIFSIGNALED(status_)) {
        outcome = "died of signal " + std::to_string(WTERMSIG(status_));
    } else if (WIFEXITED(status_) && WEXITSTATUS(status_) != 0) {
        outcome = "exited with " + std::to_string(WEXITSTATUS(status_));
    }
    pid_ = -1;
    CloseOutput();
    return outcome;
}

} // namespace kolvena::test
