#include <gtest/gtest.h>

#include <QCoreApplication>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "protocol/core_harness.h"
#include "protocol/packets.h"
#include "record/record_test_util.h"
#include "session/gbk.h"
#include "support/child_process.h"
#include "support/raw_socket.h"
#include "transfer/file_transfers.h"

namespace kolvena {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using test::RawSocket;

constexpr char kFilter[] = "All files (*.*) | *.* ||";

// Every test runs under a private TMPDIR, so that a temporary file left behind shows.
fs::path& Root() {
    static fs::path root;
    return root;
}
fs::path Spool() {
    return Root() / "spool";
}

class QtEnvironment final : public ::testing::Environment {
public:
    void SetUp() override {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        Root() =
            fs::temp_directory_path() / ("kolvena-transfer-test-" + std::to_string(::getpid()));
        fs::create_directories(Spool());
        ::setenv("TMPDIR", Spool().c_str(), 1);
        app_ = std::make_unique<QCoreApplication>(argc_, argv_);
    }
    void TearDown() override {
        app_.reset();
        std::error_code ignored;
        fs::remove_all(Root(), ignored);
    }

private:
    int argc_ = 1;
    char name_[16] = "transfer_tests";
    char* argv_[2] = {name_, nullptr};
    std::unique_ptr<QCoreApplication> app_;
};

[[maybe_unused]] const ::testing::Environment* const kQtEnvironment =
    ::testing::AddGlobalTestEnvironment(new QtEnvironment);

bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds limit = 10s) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

std::string ReadAll(const fs::path& path) {
    return test::ReadFileBytes(path.string());
}

class RecordingView final : public TransferView {
public:
    void OpenProgress(const std::string& line, std::uint32_t chunks) override {
        opened.push_back({line, chunks});
    }
    void ShowProgress(std::uint32_t chunk, std::uint32_t, double) override {
        shown.push_back(chunk);
        if (onShow)
            onShow(chunk);
    }
    void CloseProgress() override { ++closes; }

    std::vector<std::pair<std::string, std::uint32_t>> opened;
    std::vector<std::uint32_t> shown;
    int closes = 0;
    std::function<void(std::uint32_t)> onShow;
};

// One program's transfer side, on fakes.
struct Peer {
    explicit Peer(std::uint16_t port) : transfers(fake.prompter, view, port) {
        // As the core does: busy until the transfer reports its end.
        transfers.WhenEnded([this] { test::SessionOf(fake.core).transfer.busy = false; });
    }
    std::vector<std::string> Boxes() const {
        std::vector<std::string> out;
        for (const auto& box : fake.prompter.boxes)
            out.push_back(box.text);
        return out;
    }
    bool Idle() const { return !test::SessionOf(fake.core).transfer.busy && !transfers.Running(); }

    test::FakeCore fake;
    RecordingView view;
    FileTransfers transfers;
};

// Bytes that put the give-up byte where a chunk starts, so that data is never taken for it.
std::string Pattern(std::size_t size) {
    std::string bytes(size, '\0');
    for (std::size_t k = 0; k < size; ++k)
        bytes[k] = k % CHUNK_SIZE == 0 ? SENDER_ABORT : static_cast<char>(k * 7 + 3);
    return bytes;
}

class Transfer : public ::testing::Test {
protected:
    void SetUp() override {
        dir = Root() / ::testing::UnitTest::GetInstance()->current_test_info()->name();
        fs::create_directories(dir);
    }
    void TearDown() override {
        EXPECT_TRUE(fs::is_empty(Spool())) << "a temporary file was left behind";
    }

    fs::path Source(std::size_t size, const std::string& name = "source.bin") {
        const fs::path path = dir / name;
        std::ofstream(path, std::ios::binary) << Pattern(size);
        return path;
    }
    // The recipient listens, then the offerer connects, as the core starts them.
    void Start(Peer& from, Peer& to, const FilePacket& offer, const fs::path& source) {
        test::SessionOf(to.fake.core).transfer.busy = true;
        to.transfers.StartReceiving(offer);
        test::SessionOf(from.fake.core).transfer.path = source.string();
        test::SessionOf(from.fake.core).transfer.busy = true;
        from.transfers.StartSending(offer, "127.0.0.1",
                                    test::SessionOf(from.fake.core).transfer.path);
    }
    // The offerer alone, connecting to whatever listens on the port.
    static void StartSending(Peer& from, const fs::path& source, std::uint32_t size,
                             const std::string& address = "127.0.0.1") {
        test::SessionOf(from.fake.core).transfer.path = source.string();
        test::SessionOf(from.fake.core).transfer.busy = true;
        from.transfers.StartSending(Offer(size), address,
                                    test::SessionOf(from.fake.core).transfer.path);
    }
    static void StartReceiving(Peer& to, std::uint32_t size) {
        test::SessionOf(to.fake.core).transfer.busy = true;
        to.transfers.StartReceiving(Offer(size));
    }
    static FilePacket Offer(std::uint32_t size, std::string nameUtf8 = "数据.bin") {
        return {1, 2, ToGbk(nameUtf8), size};
    }

    std::uint16_t port = test::FreePort();
    fs::path dir;
};

TEST_F(Transfer, FilesArriveByteForByte) {
    for (const std::uint32_t size : {0u, 1u, 10240u, 20480u, 25000u}) {
        SCOPED_TRACE(size);
        Peer from(port), to(port);
        const fs::path source = Source(size);
        const fs::path saved = dir / ("saved-" + std::to_string(size));
        to.fake.prompter.paths.push_back(saved.string());
        Start(from, to, Offer(size), source);
        ASSERT_TRUE(WaitFor([&] { return from.Idle() && to.Idle(); }));

        EXPECT_EQ(ReadAll(saved), ReadAll(source));
        EXPECT_EQ(fs::file_size(saved), size);
        EXPECT_EQ(to.Boxes(), std::vector<std::string>{"文件传输完毕! 请选择保存路径."});
        ASSERT_EQ(to.fake.prompter.fileRequests.size(), 1u);
        const FileDialogRequest& request = to.fake.prompter.fileRequests[0];
        EXPECT_EQ(request.defaultExtension, "bin");
        EXPECT_EQ(request.initialName, "数据.bin");
        EXPECT_EQ(request.filter, kFilter);
        // An empty file sends no chunk and so hears no last answer.
        EXPECT_EQ(from.Boxes(), size == 0 ? std::vector<std::string>{}
                                          : std::vector<std::string>{"文件传输完毕!"});
        const std::uint32_t chunks = ChunkCount(size);
        for (Peer* peer : {&from, &to}) {
            ASSERT_EQ(peer->view.opened.size(), 1u);
            EXPECT_EQ(peer->view.opened[0].first, FileLine("数据.bin", size));
            EXPECT_EQ(peer->view.opened[0].second, chunks);
            EXPECT_EQ(peer->view.closes, 1);
            if (chunks > 0) {
                ASSERT_FALSE(peer->view.shown.empty());
                EXPECT_EQ(peer->view.shown.front(), 1u);
                EXPECT_EQ(peer->view.shown.back(), chunks);
            }
        }
    }
}

// Either side gives up as chunk 2 is shown; the other is told, nothing is saved, both close.
TEST_F(Transfer, GivingUpMidStream) {
    const struct {
        bool offerer; // who gives up
        std::vector<std::string> offererBoxes, recipientBoxes;
        std::vector<std::uint32_t> offererShown; // chunk 2 answered with a give-up is not counted
    } cases[] = {{true, {}, {"对方已经终止传输."}, {1, 2}},
                 {false, {"对方已经中断了传输."}, {}, {1}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.offerer ? "offerer" : "recipient");
        Peer from(port), to(port);
        from.transfers.SetLockstep(true);
        to.transfers.SetLockstep(true);
        Peer& quitter = c.offerer ? from : to;
        quitter.view.onShow = [&quitter](std::uint32_t chunk) {
            if (chunk == 2)
                quitter.transfers.GiveUp();
        };
        Start(from, to, Offer(45000), Source(45000));
        ASSERT_TRUE(WaitFor([&] { return from.Idle() && to.Idle(); }));
        EXPECT_EQ(from.Boxes(), c.offererBoxes);
        EXPECT_EQ(to.Boxes(), c.recipientBoxes);
        EXPECT_EQ(from.view.shown, c.offererShown);
        EXPECT_TRUE(to.fake.prompter.fileRequests.empty());
        EXPECT_EQ(from.view.closes + to.view.closes, 2);
    }
}

TEST_F(Transfer, SavingCancelledOrFailingKeepsNothing) {
    {
        Peer from(port), to(port);
        Start(from, to, Offer(20000), Source(20000));
        ASSERT_TRUE(WaitFor([&] { return from.Idle() && to.Idle(); }));
        EXPECT_EQ(to.fake.prompter.fileRequests.size(), 1u);
    }
    {
        Peer from(port), to(port);
        const std::string bad = (dir / "missing" / "x.bin").string();
        to.fake.prompter.paths.push_back(bad);
        Start(from, to, Offer(20000), Source(20000));
        ASSERT_TRUE(WaitFor([&] { return from.Idle() && to.Idle(); }));
        EXPECT_EQ(to.Boxes(),
                  (std::vector<std::string>{"文件传输完毕! 请选择保存路径.",
                                            "无法创建文件: " + bad + " (文件或文件夹不存在)"}));
    }
    {
        // A name that climbs out of any folder is offered as its last part only.
        Peer from(port), to(port);
        fs::create_directories(dir / "inbox");
        to.fake.prompter.paths.push_back((dir / "inbox" / "passwd").string());
        Start(from, to, Offer(300, "../../etc/passwd"), Source(300));
        ASSERT_TRUE(WaitFor([&] { return from.Idle() && to.Idle(); }));
        ASSERT_EQ(to.fake.prompter.fileRequests.size(), 1u);
        EXPECT_EQ(to.fake.prompter.fileRequests[0].initialName, "passwd");
        EXPECT_EQ(to.fake.prompter.fileRequests[0].defaultExtension, "swd");
        EXPECT_EQ(fs::file_size(dir / "inbox" / "passwd"), 300u);
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), {}), 2) << "only source.bin and inbox";
}

TEST_F(Transfer, OffererCannotConnect) {
    for (const char* address : {"127.0.0.1", "not an address"}) {
        Peer from(port);
        StartSending(from, Source(10), 10, address);
        ASSERT_TRUE(WaitFor([&] { return from.Idle(); }));
        EXPECT_EQ(from.Boxes(), std::vector<std::string>{"与会话主机连接没有成功，请重新连接。"});
        EXPECT_EQ(from.view.closes, 1);
    }
}

TEST_F(Transfer, RecipientCannotListenOnABusyPort) {
    const RawSocket occupant = RawSocket::Listen(port);
    ASSERT_TRUE(occupant.Open());
    Peer to(port);
    EXPECT_FALSE(to.transfers.StartReceiving(Offer(10)));
    EXPECT_FALSE(to.transfers.Running());
    EXPECT_EQ(to.Boxes(), std::vector<std::string>{"Could not bind server socket."});
    EXPECT_TRUE(to.view.opened.empty());
}

TEST_F(Transfer, RecipientReadsTheStreamAsItComes) {
    Peer to(port);
    const std::string bytes = Pattern(25000);
    to.fake.prompter.paths.push_back((dir / "saved").string());
    StartReceiving(to, 25000);
    RawSocket raw = RawSocket::Connect(port);
    ASSERT_TRUE(raw.Open());
    // Chunk 1 starts with a lone byte 1 that more data follows: data, not a give-up.
    raw.Send(bytes.substr(0, 1));
    std::this_thread::sleep_for(50ms);
    raw.Send(bytes.substr(1, 10239));
    EXPECT_EQ(raw.Receive(1), std::string(1, ACK_CHUNK));
    // Chunk 2 in three reads, one of a single byte in the middle.
    raw.Send(bytes.substr(10240, 5000));
    std::this_thread::sleep_for(50ms);
    raw.Send(bytes.substr(15240, 1));
    std::this_thread::sleep_for(50ms);
    raw.Send(bytes.substr(15241, 5239));
    EXPECT_EQ(raw.Receive(1), std::string(1, ACK_CHUNK));
    raw.Send(bytes.substr(20480));
    EXPECT_EQ(raw.Receive(1), std::string(1, ACK_DONE));
    ASSERT_TRUE(WaitFor([&] { return to.Idle(); }));
    EXPECT_EQ(ReadAll(dir / "saved"), bytes);
}

TEST_F(Transfer, RecipientSeesTheOffererGo) {
    // The give-up byte where a chunk starts, then the close; and a close in mid-chunk.
    for (const std::size_t sent : {std::size_t{1}, std::size_t{4000}}) {
        Peer to(port);
        StartReceiving(to, 25000);
        RawSocket raw = RawSocket::Connect(port);
        ASSERT_TRUE(raw.Open());
        raw.Send(Pattern(10240));
        EXPECT_EQ(raw.Receive(1), std::string(1, ACK_CHUNK));
        raw.Send(Pattern(sent));
        raw.Close();
        ASSERT_TRUE(WaitFor([&] { return to.Idle(); }));
        EXPECT_EQ(to.Boxes(), std::vector<std::string>{"对方已经终止传输."});
        EXPECT_TRUE(to.fake.prompter.fileRequests.empty());
    }
}

TEST_F(Transfer, OffererHearsEachAnswer) {
    const std::string bytes = Pattern(45000);
    const fs::path source = Source(45000);
    // The recipient gives up after chunk 2; then it closes without an answer.
    for (const bool answers : {true, false}) {
        RawSocket listener = RawSocket::Listen(port);
        ASSERT_TRUE(listener.Open());
        Peer from(port);
        StartSending(from, source, 45000);
        RawSocket raw = listener.Accept();
        ASSERT_TRUE(raw.Open());
        EXPECT_EQ(raw.Receive(10240), bytes.substr(0, 10240));
        raw.Send(std::string(1, ACK_CHUNK));
        EXPECT_EQ(raw.Receive(10240), bytes.substr(10240, 10240));
        if (answers)
            raw.Send(std::string(1, ACK_ABORT));
        raw.Close();
        ASSERT_TRUE(WaitFor([&] { return from.Idle(); }));
        EXPECT_EQ(from.Boxes(), std::vector<std::string>{"对方已经中断了传输."});
    }
    {
        // Giving up: the single byte 1 where chunk 2 would start, then the end of the stream.
        RawSocket listener = RawSocket::Listen(port);
        Peer from(port);
        StartSending(from, source, 45000);
        RawSocket raw = listener.Accept();
        ASSERT_TRUE(raw.Open());
        EXPECT_EQ(raw.Receive(10240).size(), 10240u);
        from.transfers.GiveUp();
        raw.Send(std::string(1, ACK_CHUNK));
        EXPECT_EQ(raw.Receive(2), std::string(1, SENDER_ABORT));
        raw.Close();
        ASSERT_TRUE(WaitFor([&] { return from.Idle(); }));
        EXPECT_EQ(from.Boxes(), std::vector<std::string>{});
    }
}

TEST_F(Transfer, GivingUpOrClosingWhileWaitingForTheOfferer) {
    {
        Peer to(port);
        StartReceiving(to, 10);
        to.transfers.GiveUp();
        ASSERT_TRUE(WaitFor([&] { return to.Idle(); }, 3s));
        EXPECT_EQ(to.Boxes(), std::vector<std::string>{});
        EXPECT_EQ(to.view.closes, 1);
    }
    const auto start = std::chrono::steady_clock::now();
    {
        auto to = std::make_unique<Peer>(port);
        StartReceiving(*to, 10);
        ASSERT_TRUE(to->transfers.Running());
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
}

// --- the offer command ---

struct OfferHarness : test::Core {
    std::vector<std::string> Boxes() const {
        std::vector<std::string> out;
        for (const auto& box : p.boxes)
            out.push_back(box.caption + "|" + box.text);
        return out;
    }
};

TEST_F(Transfer, OfferRefusals) {
    OfferHarness h;
    h.f.core.commands().OfferFile(); // no session: the target is everyone
    EXPECT_EQ(h.Boxes(), std::vector<std::string>{"无法传输文件|传输文件目标不正确."});
    h.Host({"B"});
    h.recorder.state = ReplayState::Paused; // a replay comes before the target
    h.f.core.commands().OfferFile();
    h.recorder.state = ReplayState::NoReplay;
    h.s.target = 1; // oneself
    h.f.core.commands().OfferFile();
    h.s.target = 2;
    h.s.transfer.busy = true;
    h.f.core.commands().OfferFile();
    EXPECT_EQ(h.Boxes(), (std::vector<std::string>{"无法传输文件|你目前未进入会话.",
                                                   "无法传输文件|传输文件目标不正确.",
                                                   "Kolvena v1.0|目前正在进行文件传输."}));
    EXPECT_TRUE(h.p.fileRequests.empty());
    EXPECT_TRUE(h.f.transport.sent.empty());
}

TEST_F(Transfer, OfferGoesToTheTarget) {
    const fs::path source = Source(1234, "报告.txt");
    for (const bool host : {true, false}) {
        OfferHarness h;
        host ? h.Host({"B"}) : h.Client();
        h.s.target = host ? 2 : 1;
        h.p.paths.push_back(source.string());
        h.f.core.commands().OfferFile();
        ASSERT_EQ(h.p.fileRequests.size(), 1u);
        EXPECT_EQ(h.p.fileRequests[0].defaultExtension, "*");
        EXPECT_EQ(h.p.fileRequests[0].initialName, "*.*");
        EXPECT_EQ(h.p.fileRequests[0].filter, kFilter);
        EXPECT_TRUE(h.p.boxes.empty());
        const FilePacket offer{host ? std::uint16_t{1} : std::uint16_t{3}, h.s.target,
                               ToGbk("报告.txt"), 1234};
        EXPECT_EQ(h.TakeSent(), (test::SentList{{host ? 1u : 0u,
                                                 BuildFilePacket(host ? PacketType::FileOffer
                                                                      : PacketType::FileOfferToHost,
                                                                 offer)}}));
        const auto& t = h.s.transfer;
        EXPECT_EQ(std::tie(t.path, t.name, t.size, t.peer, t.busy),
                  std::make_tuple(source.string(), ToGbk("报告.txt"), 1234u, h.s.target, false));
    }
}

TEST_F(Transfer, OfferRefusesFilesItCannotSend) {
    OfferHarness h;
    h.Host({"B"});
    h.s.target = 2;
    h.f.core.commands().OfferFile(); // the dialog is cancelled
    const std::string missing = (dir / "missing.bin").string();
    const fs::path big = dir / "big.bin";
    std::ofstream(big, std::ios::binary).close();
    fs::resize_file(big, 671078401); // sparse: costs no disk
    for (const std::string& path : {missing, dir.string(), big.string()}) {
        h.p.paths.push_back(path);
        h.f.core.commands().OfferFile();
    }
    EXPECT_EQ(h.Boxes(), (std::vector<std::string>{
                             "|无法打开文件: " + missing + " (文件或文件夹不存在)",
                             "|无法打开文件: " + dir.string() + " (这是一个文件夹)",
                             "无法传输文件|文件太大, 无法传输: 文件最大为 671078400 字节."}));
    EXPECT_TRUE(h.f.transport.sent.empty());
    EXPECT_TRUE(h.s.transfer.path.empty());
}

} // namespace
} // namespace kolvena
