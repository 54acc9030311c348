#include "net/net_test_support.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <gtest/gtest.h>
#include <thread>

#include "protocol/packets.h"

namespace kolvena::test {

namespace {

constexpr int kSliceMs = 5;
constexpr auto kIdleSleep = 1ms;

// Sockets need an application object; one for the whole test binary.
class QtEnvironment final : public ::testing::Environment {
public:
    void SetUp() override {
        if (!QCoreApplication::instance())
            app_ = std::make_unique<QCoreApplication>(argc_, argv_);
    }
    void TearDown() override { app_.reset(); }

private:
    int argc_ = 1;
    char name_[10] = "net_tests";
    char* argv_[2] = {name_, nullptr};
    std::unique_ptr<QCoreApplication> app_;
};

[[maybe_unused]] const ::testing::Environment* const kQtEnvironment =
    ::testing::AddGlobalTestEnvironment(new QtEnvironment);

} // namespace

bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > limit.count())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, kSliceMs);
        std::this_thread::sleep_for(kIdleSleep);
    }
    return true;
}

void Pump(std::chrono::milliseconds duration) {
    WaitFor([] { return false; }, duration);
}

LinkOptions LoopbackOptions(std::uint16_t port) {
    LinkOptions options;
    options.port = port;
    options.bindAddress = QHostAddress::LocalHost;
    options.ownAddress = "127.0.0.1";
    return options;
}

void RecordingListener::Count() {
    ++calls_;
    if (forbidden)
        calledWhileForbidden = true;
}

bool RecordingListener::OnConnectionPending() {
    Count();
    ++pendingCalls;
    return admit;
}

void RecordingListener::OnHostPacket(ConnectionId connection, std::string packet) {
    Count();
    hostPackets.emplace_back(connection, packet);
    if (promoteOnLogin && !packet.empty() &&
        static_cast<std::uint8_t>(packet[0]) == static_cast<std::uint8_t>(PacketType::Login))
        link_.Promote(connection);
    if (duringHostPacket)
        duringHostPacket(connection, packet);
}

void RecordingListener::OnMemberLeave(ConnectionId connection) {
    Count();
    leaves.push_back(connection);
    if (closeOnLeave)
        if (const auto slot = link_.SlotOf(connection))
            link_.CloseSlot(*slot);
}

void RecordingListener::OnClientPacket(std::string packet) {
    Count();
    clientPackets.push_back(std::move(packet));
}

void RecordingListener::OnHostGone() {
    Count();
    ++hostGone;
}

void RecordingListener::OnConnectResult(bool connected) {
    Count();
    connectResults.push_back(connected);
}

std::vector<std::string> RecordingListener::PacketsFrom(ConnectionId connection) const {
    std::vector<std::string> out;
    for (const auto& [id, packet] : hostPackets)
        if (id == connection)
            out.push_back(packet);
    return out;
}

bool RawPeer::Connect(std::uint16_t port) {
    socket_.connectToHost(QHostAddress::LocalHost, port);
    WaitFor([this] {
        const auto state = socket_.state();
        return state != QAbstractSocket::HostLookupState &&
               state != QAbstractSocket::ConnectingState;
    });
    return socket_.state() == QAbstractSocket::ConnectedState;
}

void RawPeer::Write(std::string_view bytes) {
    socket_.write(bytes.data(), static_cast<qint64>(bytes.size()));
    socket_.flush();
}

bool RawPeer::WaitClosed() {
    return WaitFor([this] { return Closed(); });
}

std::string RawPeer::Received() {
    const QByteArray bytes = socket_.readAll();
    received_.append(bytes.constData(), static_cast<std::size_t>(bytes.size()));
    return received_;
}

} // namespace kolvena::test
