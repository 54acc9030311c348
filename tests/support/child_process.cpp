#include "support/child_process.h"
#include "support/raw_socket.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>

extern char** environ;

namespace kolvena::test {

namespace {

using SteadyClock = std::chrono::steady_clock;

void Close(int& fd) {
    if (fd >= 0)
        ::close(std::exchange(fd, -1));
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
    const RawSocket socket = RawSocket::Listen(0);
    sockaddr_in address{};
    socklen_t length = sizeof address;
    ::getsockname(socket.Fd(), reinterpret_cast<sockaddr*>(&address), &length);
    return ntohs(address.sin_port); // 0 when it could not bind
}

bool ChildProcess::Start(const std::string& program, const std::vector<std::string>& arguments,
                         const ChildOptions& options) {
    std::signal(SIGPIPE, SIG_IGN);
    int in[2] = {-1, -1}, out[2] = {-1, -1};
    if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0) {
        for (int* fd : {in, in + 1, out, out + 1})
            Close(*fd);
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

    std::vector<std::string> argv = {program}, envp = options.environment;
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string entry = *e, name = entry.substr(0, entry.find('=') + 1);
        if (std::ranges::none_of(envp, [&](const std::string& s) { return s.starts_with(name); }))
            envp.push_back(entry);
    }
    auto argvPointers = Pointers(argv);
    auto envpPointers = Pointers(envp);
    const int failed = ::posix_spawn(&pid_, program.c_str(), &actions, &attributes,
                                     argvPointers.data(), envpPointers.data());
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    Close(in[0]);
    Close(out[1]);
    in_ = in[1];
    out_ = out[0];
    for (const int fd : {in_, out_})
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    reaped_ = false;
    if (failed == 0)
        return true;
    pid_ = -1;
    Close(in_);
    Close(out_);
    return false;
}

void ChildProcess::Write(const std::string& line) {
    input_ += line + '\n';
    FlushInput();
}

void ChildProcess::FlushInput() {
    while (!input_.empty() && in_ >= 0) {
        const ssize_t n = ::write(in_, input_.data(), input_.size());
        if (n > 0)
            input_.erase(0, static_cast<std::size_t>(n));
        else if (n < 0 && errno != EAGAIN && errno != EINTR)
            input_.clear(); // the child has gone: nobody reads any more
        else if (n == 0 || errno == EAGAIN)
            return;
    }
}

void ChildProcess::CloseInput() {
    FlushInput();
    Close(in_);
    input_.clear();
}

void ChildProcess::Signal(int signal) {
    if (pid_ > 0 && !reaped_)
        ::kill(pid_, signal);
}

bool ChildProcess::ReadOutput(std::vector<std::string>& lines) {
    char buffer[16384];
    for (int i = 0; i < 16 && out_ >= 0; ++i) {
        const ssize_t n = ::read(out_, buffer, sizeof buffer);
        if (n < 0 && (errno == EAGAIN || errno == EINTR))
            break;
        if (n <= 0)
            Close(out_);
        else
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

// Waits up to the time for output (or room for queued input), then reads and writes.
void ChildProcess::Pump(std::chrono::milliseconds wait) {
    pollfd polls[] = {{out_, POLLIN, 0}, {InputPending() ? in_ : -1, POLLOUT, 0}};
    ::poll(polls, 2, static_cast<int>(wait.count()));
    Collect();
}

std::optional<std::string> ChildProcess::WaitForLine(const std::string& text,
                                                     std::chrono::milliseconds timeout) {
    for (const auto deadline = SteadyClock::now() + timeout;;) {
        Collect();
        for (; mark_ < lines_.size(); ++mark_)
            if (lines_[mark_].find(text) != std::string::npos)
                return lines_[mark_++];
        if (out_ < 0 || SteadyClock::now() >= deadline)
            return std::nullopt;
        Pump(std::chrono::milliseconds(20));
    }
}

bool ChildProcess::Printed(const std::string& text) const {
    return std::ranges::any_of(
        lines_, [&](const std::string& line) { return line.find(text) != std::string::npos; });
}

std::vector<std::string> ChildProcess::Lines(const std::string& prefix) const {
    std::vector<std::string> out;
    std::ranges::copy_if(lines_, std::back_inserter(out),
                         [&](const std::string& line) { return line.starts_with(prefix); });
    return out;
}

std::string ChildProcess::Output() const {
    std::string out;
    for (const std::string& line : lines_)
        out += line + "\n";
    return out;
}

bool ChildProcess::Reap(bool block) {
    if (reaped_ || pid_ <= 0)
        return reaped_;
    pid_t done;
    while ((done = ::waitpid(pid_, &status_, block ? 0 : WNOHANG)) < 0 && errno == EINTR) {
    }
    return reaped_ = done == pid_;
}

int ChildProcess::WaitForExit(std::chrono::milliseconds timeout) {
    const auto deadline = SteadyClock::now() + timeout;
    while (!Reap(false) && SteadyClock::now() < deadline)
        Pump(std::chrono::milliseconds(10));
    Collect(); // what it printed last
    return reaped_ && WIFEXITED(status_) ? WEXITSTATUS(status_) : -1;
}

std::string ChildProcess::Finish(std::chrono::milliseconds timeout) {
    if (pid_ <= 0)
        return {};
    CloseInput();
    WaitForExit(timeout);
    const bool quit = reaped_;
    if (!quit && ::kill(pid_, SIGKILL) == 0)
        Reap(true);
    pid_ = -1;
    Close(out_);
    if (!quit)
        return "did not quit; killed";
    if (WIFSIGNALED(status_))
        return "died of signal " + std::to_string(WTERMSIG(status_));
    return WEXITSTATUS(status_) == 0 ? "" : "exited with " + std::to_string(WEXITSTATUS(status_));
}

} // namespace kolvena::test
