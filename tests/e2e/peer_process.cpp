#include "peer_process.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QTcpServer>

namespace kolvena::test {

std::uint16_t FreePort() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

PeerProcess::PeerProcess(const std::vector<std::string>& arguments) {
    QStringList list;
    for (const std::string& a : arguments)
        list << QString::fromStdString(a);
    process_.setProcessChannelMode(QProcess::MergedChannels);
    process_.start(QStringLiteral(KOLVENA_PEER_PATH), list);
    process_.waitForStarted(5000);
}

PeerProcess::~PeerProcess() {
    if (process_.state() != QProcess::NotRunning) {
        process_.kill();
        process_.waitForFinished(5000);
    }
}

std::unique_ptr<PeerProcess> PeerProcess::Host(std::uint16_t port, const std::string& name,
                                               std::vector<std::string> extra) {
    std::vector<std::string> args = {"host",
                                     "--name",
                                     name,
                                     "--topic",
                                     "测试会话",
                                     "--port",
                                     std::to_string(port),
                                     "--bind",
                                     "127.0.0.1",
                                     "--own-address",
                                     "127.0.0.1"};
    args.insert(args.end(), extra.begin(), extra.end());
    return std::make_unique<PeerProcess>(args);
}

std::unique_ptr<PeerProcess> PeerProcess::Join(std::uint16_t port, const std::string& name,
                                               std::vector<std::string> extra) {
    std::vector<std::string> args = {"join",   "--address",          "127.0.0.1",
                                     "--port", std::to_string(port), "--name",
                                     name,     "--own-address",      "127.0.0.1"};
    args.insert(args.end(), extra.begin(), extra.end());
    return std::make_unique<PeerProcess>(args);
}

void PeerProcess::Command(const std::string& line) {
    const std::string text = line + "\n";
    process_.write(text.data(), static_cast<qint64>(text.size()));
    process_.waitForBytesWritten(1000);
}

void PeerProcess::CloseInput() {
    process_.closeWriteChannel();
}

void PeerProcess::Collect() {
    partial_ += process_.readAll().toStdString();
    std::size_t end;
    while ((end = partial_.find('\n')) != std::string::npos) {
        lines_.push_back(partial_.substr(0, end));
        partial_.erase(0, end + 1);
    }
}

bool PeerProcess::WaitFor(const std::string& text, std::chrono::milliseconds timeout) {
    QElapsedTimer clock;
    clock.start();
    while (true) {
        Collect();
        for (; mark_ < lines_.size(); ++mark_) {
            if (lines_[mark_].find(text) != std::string::npos) {
                ++mark_;
                return true;
            }
        }
        if (clock.elapsed() >= timeout.count())
            return false;
        process_.waitForReadyRead(50);
    }
}

bool PeerProcess::Printed(const std::string& text) const {
    for (const std::string& line : lines_)
        if (line.find(text) != std::string::npos)
            return true;
    return false;
}

std::vector<std::string> PeerProcess::Lines(const std::string& prefix) const {
    std::vector<std::string> out;
    for (const std::string& line : lines_)
        if (line.rfind(prefix, 0) == 0)
            out.push_back(line);
    return out;
}

int PeerProcess::WaitForExit(std::chrono::milliseconds timeout) {
    if (!process_.waitForFinished(static_cast<int>(timeout.count())))
        return -1;
    Collect();
    return process_.exitStatus() == QProcess::NormalExit ? process_.exitCode() : -1;
}

std::string PeerProcess::Output() const {
    std::string out;
    for (const std::string& line : lines_)
        out += line + "\n";
    return out;
}

} // namespace kolvena::test
