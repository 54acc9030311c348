#include <gtest/gtest.h>

#include <QCoreApplication>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>
#include <tuple>

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
using Lines = std::vector<std::string>;

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
        Root() = fs::temp_directory_path() / ("kolvena-transfer-" + std::to_string(::getpid()));
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
    for (const auto end = std::chrono::steady_clock::now() + limit; !done();) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

class RecordingView final : public TransferView {
public:
    void OpenProgress(const std::string& line, std::uint32_t chunks) override {
        opened.push_back(line + " /" + std::to_string(chunks));
    }
    void ShowProgress(std::uint32_t chunk, std::uint32_t, double) override {
        shown.push_back(chunk);
        if (onShow)
            onShow(chunk);
    }
    void CloseProgress() override { ++closes; }

    Lines opened;
    std::vector<std::uint32_t> shown;
    int closes = 0;
    std::function<void(std::uint32_t)> onShow;
};

// One program's transfer side, on fakes.
struct Peer {
    explicit Peer(std::uint16_t port) : transfers(fake.prompter, view, port) {
        // As the core does: busy until the transfer reports its end.
        transfers.WhenEnded([this] { S().transfer.busy = false; });
    }
    Session& S() { return test::SessionOf(fake.core); }
    Lines Boxes() const {
        Lines out;
        for (const auto& box : fake.prompter.boxes)
            out.push_back(box.text);
        return out;
    }
    // The save dialogs asked for: name, extension and whether the filter was the usual one.
    Lines Asked() const {
        Lines out;
        for (const auto& r : fake.prompter.fileRequests)
            out.push_back(r.initialName + " ." + r.defaultExtension +
                          (r.filter == kFilter ? "" : " " + r.filter));
        return out;
    }
    bool Idle() { return !S().transfer.busy && !transfers.Running(); }
    // The offerer alone, connecting to whatever listens on the port.
    void Send(const fs::path& source, std::uint32_t size, const std::string& address = "127.0.0.1",
              const std::string& name = "数据.bin") {
        S().transfer.path = source.string();
        S().transfer.busy = true;
        transfers.StartSending({1, 2, ToGbk(name), size}, address, S().transfer.path);
    }
    bool Receive(std::uint32_t size, const std::string& name = "数据.bin") {
        S().transfer.busy = true;
        return transfers.StartReceiving({1, 2, ToGbk(name), size});
    }

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

std::string Ack(std::uint8_t answer) {
    return std::string(1, static_cast<char>(answer));
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
        std::ofstream(dir / name, std::ios::binary) << Pattern(size);
        return dir / name;
    }

    std::uint16_t port = test::FreePort();
    fs::path dir;
};

enum class Quit { None, Offerer, Recipient };

// Whole transfers between two peers: every size around the chunk boundaries, either side giving
// up as chunk 2 is shown, the save dialog cancelled or naming a folder that is not there, and a
// name that climbs out of any folder. What each side was told and asked, what it showed, and
// the saved bytes are checked; nothing is saved but the whole file at the chosen path.
TEST_F(Transfer, WholeTransfersSaveTheFileOrNothing) {
    const std::string done = "文件传输完毕!", save = "文件传输完毕! 请选择保存路径.";
    const std::string missing = (dir / "missing" / "x.bin").string();
    const struct {
        std::uint32_t size;
        Quit quit = Quit::None;
        std::string saveAs = "saved"; // under dir; "" cancels the dialog
        Lines offererBoxes, recipientBoxes;
        std::vector<std::uint32_t> offererShown = {}; // empty: 1 to the last chunk
        std::string offered = "数据.bin";
        Lines asked = {"数据.bin .bin"};
    } cases[] = {
        // An empty file sends no chunk and so hears no last answer.
        {0, Quit::None, "saved", {}, {save}},
        {1, Quit::None, "saved", {done}, {save}},
        {10239, Quit::None, "saved", {done}, {save}},
        {10240, Quit::None, "saved", {done}, {save}},
        {10241, Quit::None, "saved", {done}, {save}},
        {20480, Quit::None, "saved", {done}, {save}},
        {25000, Quit::None, "saved", {done}, {save}},
        // Chunk 2 answered with a give-up is not counted.
        {45000, Quit::Offerer, "", {}, {"对方已经终止传输."}, {1, 2}, "数据.bin", {}},
        {45000, Quit::Recipient, "", {"对方已经中断了传输."}, {}, {1}, "数据.bin", {}},
        {20000, Quit::None, "", {done}, {save}},
        {20000,
         Quit::None,
         missing,
         {done},
         {save, "无法创建文件: " + missing + " (文件或文件夹不存在)"}},
        {300, Quit::None, "passwd", {done}, {save}, {}, "../../etc/passwd", {"passwd .swd"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.size) + " " + c.saveAs);
        Peer from(port), to(port);
        from.transfers.SetLockstep(c.quit != Quit::None);
        to.transfers.SetLockstep(c.quit != Quit::None);
        Peer& quitter = c.quit == Quit::Offerer ? from : to;
        if (c.quit != Quit::None)
            quitter.view.onShow = [&quitter](std::uint32_t chunk) {
                if (chunk == 2)
                    quitter.transfers.GiveUp();
            };
        const fs::path saved = c.saveAs == missing ? fs::path(missing) : dir / (c.saveAs + "-");
        if (!c.saveAs.empty())
            to.fake.prompter.paths.push_back(saved.string());
        const fs::path source = Source(c.size);
        to.Receive(c.size, c.offered);
        from.Send(source, c.size, "127.0.0.1", c.offered);
        ASSERT_TRUE(WaitFor([&] { return from.Idle() && to.Idle(); }));

        EXPECT_EQ(from.Boxes(), c.offererBoxes);
        EXPECT_EQ(to.Boxes(), c.recipientBoxes);
        EXPECT_EQ(to.Asked(), c.asked);
        const bool kept = c.recipientBoxes == Lines{save} && !c.saveAs.empty();
        EXPECT_EQ(fs::exists(saved), kept);
        if (kept) {
            EXPECT_EQ(test::ReadFileBytes(saved.string()), Pattern(c.size));
        }
        for (const auto& entry : fs::directory_iterator(dir))
            EXPECT_TRUE(entry.path() == source || (kept && entry.path() == saved)) << entry.path();
        fs::remove(saved);
        const std::uint32_t chunks = ChunkCount(c.size);
        if (!c.offererShown.empty()) {
            EXPECT_EQ(from.view.shown, c.offererShown);
        }
        for (Peer* peer : {&from, &to}) {
            EXPECT_EQ(peer->view.closes, 1);
            if (c.offered != "数据.bin")
                continue;
            EXPECT_EQ(peer->view.opened,
                      Lines{FileLine("数据.bin", c.size) + " /" + std::to_string(chunks)});
            if (chunks > 0 && c.quit == Quit::None) {
                ASSERT_FALSE(peer->view.shown.empty());
                EXPECT_EQ(std::pair(peer->view.shown.front(), peer->view.shown.back()),
                          std::pair(1u, chunks));
            }
        }
    }
}

// The offerer cannot reach the recipient, or the recipient cannot listen.
TEST_F(Transfer, StartingFails) {
    for (const char* address : {"127.0.0.1", "not an address"}) {
        Peer from(port);
        from.Send(Source(10), 10, address);
        ASSERT_TRUE(WaitFor([&] { return from.Idle(); }));
        EXPECT_EQ(from.Boxes(), Lines{"与会话主机连接没有成功，请重新连接。"});
        EXPECT_EQ(from.view.closes, 1);
    }
    const RawSocket occupant = RawSocket::Listen(port);
    ASSERT_TRUE(occupant.Open());
    Peer to(port);
    EXPECT_FALSE(to.Receive(10));
    EXPECT_FALSE(to.transfers.Running());
    EXPECT_EQ(to.Boxes(), Lines{"Could not bind server socket."});
    EXPECT_TRUE(to.view.opened.empty());
}

// The recipient against a raw offerer: chunks split across reads, a lone first byte 1 that is
// data, and the offerer's give-up byte or its close mid-chunk.
TEST_F(Transfer, RecipientReadsTheStreamAsItComes) {
    const std::string bytes = Pattern(25000);
    const struct {
        std::vector<std::size_t> pieces; // after the first chunk, then closed unless all sent
        Lines boxes;
    } cases[] = {
        {{1, 10239, 5000, 1, 5239, 4520}, {"文件传输完毕! 请选择保存路径."}},
        {{10240, 1}, {"对方已经终止传输."}},
        {{10240, 4000}, {"对方已经终止传输."}},
    };
    for (const auto& c : cases) {
        Peer to(port);
        to.fake.prompter.paths.push_back((dir / "saved").string());
        to.Receive(25000);
        RawSocket raw = RawSocket::Connect(port);
        ASSERT_TRUE(raw.Open());
        Lines acks;
        std::size_t at = 0;
        for (const std::size_t piece : c.pieces) {
            // The give-up case sends a chunk start, which is the byte 1, and no more.
            raw.Send(piece == 1 && at == 10240 && c.pieces.size() == 2 ? Pattern(1)
                                                                       : bytes.substr(at, piece));
            at += piece;
            std::this_thread::sleep_for(20ms);
            if (at % CHUNK_SIZE == 0 || at == bytes.size())
                acks.push_back(raw.Receive(1));
        }
        raw.Close();
        ASSERT_TRUE(WaitFor([&] { return to.Idle(); }));
        EXPECT_EQ(to.Boxes(), c.boxes);
        const bool all = at == bytes.size();
        EXPECT_EQ(acks, (all ? Lines{Ack(ACK_CHUNK), Ack(ACK_CHUNK), Ack(ACK_DONE)}
                             : Lines{Ack(ACK_CHUNK)}));
        EXPECT_EQ(fs::exists(dir / "saved"), all);
        if (all) {
            EXPECT_EQ(test::ReadFileBytes((dir / "saved").string()), bytes);
        }
        fs::remove(dir / "saved");
    }
}

// The offerer against a raw recipient: a refusal after chunk 2, a close without an answer, and
// the offerer's own give-up, which is the single byte 1 where chunk 2 would start.
TEST_F(Transfer, OffererHearsEachAnswer) {
    const std::string bytes = Pattern(45000);
    const fs::path source = Source(45000);
    for (const int answer : {int{ACK_ABORT}, 0, -1}) {
        RawSocket listener = RawSocket::Listen(port);
        ASSERT_TRUE(listener.Open());
        Peer from(port);
        from.Send(source, 45000);
        RawSocket raw = listener.Accept();
        ASSERT_TRUE(raw.Open());
        EXPECT_EQ(raw.Receive(10240), bytes.substr(0, 10240));
        if (answer < 0)
            from.transfers.GiveUp();
        raw.Send(Ack(ACK_CHUNK));
        EXPECT_EQ(raw.Receive(answer < 0 ? 2 : 10240),
                  answer < 0 ? Pattern(1) : bytes.substr(10240, 10240));
        if (answer > 0)
            raw.Send(Ack(static_cast<std::uint8_t>(answer)));
        raw.Close();
        ASSERT_TRUE(WaitFor([&] { return from.Idle(); }));
        EXPECT_EQ(from.Boxes(), answer < 0 ? Lines{} : Lines{"对方已经中断了传输."});
    }
}

// Before the offerer connects the recipient may give up, or be closed, quietly and at once.
TEST_F(Transfer, GivingUpOrClosingWhileWaitingForTheOfferer) {
    {
        Peer to(port);
        to.Receive(10);
        to.transfers.GiveUp();
        ASSERT_TRUE(WaitFor([&] { return to.Idle(); }, 3s));
        EXPECT_EQ(to.Boxes(), Lines{});
        EXPECT_EQ(to.view.closes, 1);
    }
    const auto start = std::chrono::steady_clock::now();
    {
        Peer to(port);
        to.Receive(10);
        ASSERT_TRUE(to.transfers.Running());
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
}

// --- the offer command ---

Lines Boxes(const test::Core& h) {
    Lines out;
    for (const auto& box : h.p.boxes)
        out.push_back(box.caption + "|" + box.text);
    return out;
}

// Refused before any dialog: no session, a replay, oneself, a transfer running; then files
// that cannot be sent: dialog cancelled, missing, a folder, one past the largest size.
TEST_F(Transfer, OfferRefusals) {
    test::Core h;
    h.f.core.commands().OfferFile(); // no session: the target is everyone
    EXPECT_EQ(Boxes(h), Lines{"无法传输文件|传输文件目标不正确."});
    h.Host({"B"});                          // clears the boxes
    h.recorder.state = ReplayState::Paused; // a replay comes before the target
    h.f.core.commands().OfferFile();
    h.recorder.state = ReplayState::NoReplay;
    h.s.target = 1;
    h.f.core.commands().OfferFile();
    h.s.target = 2;
    h.s.transfer.busy = true;
    h.f.core.commands().OfferFile();
    EXPECT_TRUE(h.p.fileRequests.empty());
    h.s.transfer.busy = false;
    h.f.core.commands().OfferFile();
    const std::string missing = (dir / "missing.bin").string();
    const fs::path big = dir / "big.bin";
    std::ofstream(big, std::ios::binary).close();
    fs::resize_file(big, 671078401); // sparse: costs no disk
    for (const std::string& path : {missing, dir.string(), big.string()}) {
        h.p.paths.push_back(path);
        h.f.core.commands().OfferFile();
    }
    EXPECT_EQ(Boxes(h), (Lines{"无法传输文件|你目前未进入会话.", "无法传输文件|传输文件目标不正确.",
                               "Kolvena v1.0|目前正在进行文件传输.",
                               "|无法打开文件: " + missing + " (文件或文件夹不存在)",
                               "|无法打开文件: " + dir.string() + " (这是一个文件夹)",
                               "无法传输文件|文件太大, 无法传输: 文件最大为 671078400 字节."}));
    EXPECT_TRUE(h.f.transport.sent.empty());
    EXPECT_TRUE(h.s.transfer.path.empty());
}

TEST_F(Transfer, OfferGoesToTheTarget) {
    const fs::path source = Source(1234, "报告.txt");
    for (const bool host : {true, false}) {
        test::Core h;
        host ? h.Host({"B"}) : h.Client();
        h.s.target = host ? 2 : 1;
        h.p.paths.push_back(source.string());
        h.f.core.commands().OfferFile();
        ASSERT_EQ(h.p.fileRequests.size(), 1u);
        const auto& r = h.p.fileRequests[0];
        EXPECT_EQ(std::tie(r.defaultExtension, r.initialName, r.filter),
                  std::make_tuple("*", "*.*", kFilter));
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

} // namespace
} // namespace kolvena
