#include <gtest/gtest.h>

#include <csignal>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <thread>
#include <tuple>

#include "net/event_loop.h"
#include "protocol/core_harness.h"
#include "record/record_test_util.h"
#include "support/child_process.h"
#include "support/raw_socket.h"
#include "transfer/file_transfers.h"
#include "transfer/transfer_files.h"
#include "transfer/transfer_stream.h"

namespace kolvena {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using test::RawSocket;
using test::WaitFor;
using Lines = std::vector<std::string>;

constexpr char kFilter[] = "All files (*.*) | *.* ||";

// One program's transfer side, on fakes, and the progress it showed.
struct Peer final : TransferView {
    explicit Peer(std::uint16_t port) : transfers(h.p, *this, port) {
        // As the core does: busy until the transfer reports its end.
        transfers.WhenEnded([this] { h.s.transfer.busy = false; });
    }
    void OpenProgress(const std::string& line, std::uint32_t chunks, std::uint64_t) override {
        opened.push_back(line + " /" + std::to_string(chunks));
    }
    void ShowProgress(std::uint32_t chunk, std::uint32_t, double) override {
        shown.push_back(chunk);
        if (chunk == giveUpAt)
            transfers.GiveUp();
    }
    void CloseProgress() override { ++closes; }
    // The save dialogs asked for: name, extension and whether the filter was the usual one.
    Lines Asked() const {
        Lines out;
        for (const auto& r : h.p.fileRequests)
            out.push_back(r.initialName + " ." + r.defaultExtension +
                          (r.filter == kFilter ? "" : " " + r.filter));
        return out;
    }
    bool Idle() { return !h.s.transfer.busy && !transfers.Running(); }
    // The offerer alone, connecting to whatever listens on the port.
    void Send(const fs::path& source, std::uint32_t size, const std::string& address = "127.0.0.1",
              const std::string& name = "数据.bin") {
        h.s.transfer.path = source.string();
        h.s.transfer.busy = true;
        transfers.StartSending({1, 2, ToGbk(name), size}, address, h.s.transfer.path);
    }
    bool Receive(std::uint32_t size, const std::string& name = "数据.bin") {
        h.s.transfer.busy = true;
        return transfers.StartReceiving({1, 2, ToGbk(name), size});
    }

    test::Core h;
    FileTransfers transfers;
    Lines opened;
    std::vector<std::uint32_t> shown;
    int closes = 0;
    std::uint32_t giveUpAt = 0; // the chunk whose showing gives up
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

// Every test runs under a TMPDIR of its own, so that a temporary file left behind shows.
class Transfer : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        fs::create_directories(Spool());
        ::setenv("TMPDIR", Spool().c_str(), 1);
    }
    static void TearDownTestSuite() {
        ::setenv("TMPDIR", root.parent_path().c_str(), 1);
        fs::remove_all(root);
    }
    static fs::path Spool() { return root / "spool"; }
    void SetUp() override {
        dir = root / ::testing::UnitTest::GetInstance()->current_test_info()->name();
        fs::create_directories(dir);
    }
    void TearDown() override {
        EXPECT_TRUE(fs::is_empty(Spool())) << "a temporary file was left behind";
    }
    fs::path Source(std::size_t size, const std::string& name = "source.bin") {
        std::ofstream(dir / name, std::ios::binary) << Pattern(size);
        return dir / name;
    }

    static inline const fs::path root =
        fs::temp_directory_path() / ("kolvena-transfer-" + std::to_string(::getpid()));
    std::uint16_t port = test::FreePort();
    fs::path dir;
};

enum class Quit { None, Offerer, Recipient };

// Sizes around the chunk boundaries, either side giving up at chunk 2, the save dialog cancelled
// or naming a missing folder, a name climbing out: nothing is saved but the whole file, there.
TEST_F(Transfer, WholeTransfersSaveTheFileOrNothing) {
    const std::string done = "文件传输完毕!", save = "文件传输完毕! 请选择保存路径.";
    const std::string missing = (dir / "missing" / "x.bin").string();
    const std::string notMade = "无法创建文件: " + missing + " (文件或文件夹不存在)",
                      discard = "放弃已接收的文件?";
    const struct {
        std::uint32_t size;
        Quit quit = Quit::None;
        std::string saveAs = "saved"; // under dir; "" cancels the dialog
        Lines offererBoxes, recipientBoxes;
        std::vector<std::uint32_t> offererShown = {}; // empty: 1 to the last chunk
        std::string offered = "数据.bin";
        Lines asked = {"数据.bin .bin"};
        std::string retryAs = ""; // answered No to the discard question, saved here after
    } cases[] = {
        // An empty file sends no chunk and so hears no last answer.
        {0, Quit::None, "saved", {}, {save}},
        {1, Quit::None, "saved", {done}, {save}},
        {10240, Quit::None, "saved", {done}, {save}},
        {10241, Quit::None, "saved", {done}, {save}},
        {25000, Quit::None, "saved", {done}, {save}},
        // Chunk 2 answered with a give-up is not counted.
        {45000, Quit::Offerer, "", {}, {"对方已经终止传输."}, {1, 2}, "数据.bin", {}},
        {45000, Quit::Recipient, "", {"对方已经中断了传输."}, {}, {1}, "数据.bin", {}},
        // Nothing is thrown away unasked; No opens the dialog again.
        {20000, Quit::None, "", {done}, {save, discard}},
        {20000, Quit::None, missing, {done}, {save, notMade, discard}},
        {20000,
         Quit::None,
         missing,
         {done},
         {save, notMade, discard},
         {},
         "数据.bin",
         {"数据.bin .bin", "数据.bin .bin"},
         "saved"},
        {300, Quit::None, "passwd", {done}, {save}, {}, "../../etc/passwd", {"passwd .swd"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.size) + " " + c.saveAs);
        Peer from(port), to(port);
        Peer* quitter = c.quit == Quit::Offerer ? &from : c.quit == Quit::Recipient ? &to : nullptr;
        from.transfers.SetLockstep(quitter != nullptr);
        to.transfers.SetLockstep(quitter != nullptr);
        if (quitter)
            quitter->giveUpAt = 2;
        const fs::path saved = c.saveAs == missing ? fs::path(missing) : dir / (c.saveAs + "-");
        if (!c.saveAs.empty())
            to.h.p.paths.push_back(saved.string());
        const fs::path retried = dir / (c.retryAs + "-");
        if (!c.retryAs.empty()) {
            to.h.p.paths.push_back(retried.string());
            to.h.p.answers = {BoxAnswer::No};
        }
        const fs::path source = Source(c.size);
        to.Receive(c.size, c.offered);
        from.Send(source, c.size, "127.0.0.1", c.offered);
        ASSERT_TRUE(WaitFor([&] { return from.Idle() && to.Idle(); }));

        EXPECT_EQ(from.h.Boxes(false), c.offererBoxes);
        EXPECT_EQ(to.h.Boxes(false), c.recipientBoxes);
        EXPECT_EQ(to.Asked(), c.asked);
        const bool kept = c.recipientBoxes == Lines{save} && !c.saveAs.empty();
        EXPECT_EQ(test::ReadFileBytes(saved.string()), kept ? Pattern(c.size) : "");
        EXPECT_EQ(fs::exists(saved), kept);
        for (const auto& entry : fs::directory_iterator(dir))
            EXPECT_TRUE(entry.path() == source || (kept && entry.path() == saved) ||
                        (!c.retryAs.empty() && entry.path() == retried))
                << entry.path();
        fs::remove(saved);
        if (!c.retryAs.empty()) {
            EXPECT_EQ(test::ReadFileBytes(retried.string()), Pattern(c.size));
            fs::remove(retried);
        }
        const std::uint32_t chunks = ChunkCount(c.size);
        EXPECT_TRUE(!quitter || from.shown == c.offererShown);
        for (Peer* peer : {&from, &to}) {
            EXPECT_EQ(peer->closes, 1);
            EXPECT_EQ(peer->opened,
                      Lines{FileLine(c.offered, c.size) + " /" + std::to_string(chunks)});
            if (chunks > 0 && !quitter) {
                ASSERT_FALSE(peer->shown.empty());
                EXPECT_EQ(std::pair(peer->shown.front(), peer->shown.back()),
                          std::pair(1u, chunks));
            }
        }
    }
}

// The offerer cannot reach the recipient; before the offerer connects the recipient may give
// up, or be closed, quietly and at once; the recipient cannot listen on a port taken.
TEST_F(Transfer, StartingFailsOrEndsQuietly) {
    for (const char* address : {"127.0.0.1", "not an address"}) {
        Peer from(port);
        from.Send(Source(10), 10, address);
        ASSERT_TRUE(WaitFor([&] { return from.Idle(); }));
        EXPECT_EQ(from.h.Boxes(false), Lines{"与会话主机连接没有成功，请重新连接。"});
        EXPECT_EQ(from.closes, 1);
    }
    {
        Peer to(port);
        to.Receive(10);
        to.transfers.GiveUp();
        ASSERT_TRUE(WaitFor([&] { return to.Idle(); }, 3s));
        EXPECT_EQ(to.h.Boxes(false), Lines{});
        EXPECT_EQ(to.closes, 1);
    }
    const auto start = std::chrono::steady_clock::now();
    {
        Peer to(port);
        to.Receive(10);
        ASSERT_TRUE(to.transfers.Running());
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
    const RawSocket occupant = RawSocket::Listen(port);
    ASSERT_TRUE(occupant.Open());
    Peer to(port);
    EXPECT_FALSE(to.Receive(10));
    EXPECT_FALSE(to.transfers.Running());
    EXPECT_EQ(to.h.Boxes(false), Lines{"Could not bind server socket."});
    EXPECT_TRUE(to.opened.empty());
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
        to.h.p.paths.push_back((dir / "saved").string());
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
        EXPECT_EQ(to.h.Boxes(false), c.boxes);
        const bool all = at == bytes.size();
        EXPECT_EQ(acks, (all ? Lines{Ack(ACK_CHUNK), Ack(ACK_CHUNK), Ack(ACK_DONE)}
                             : Lines{Ack(ACK_CHUNK)}));
        EXPECT_EQ(test::ReadFileBytes((dir / "saved").string()), all ? bytes : "");
        EXPECT_EQ(fs::exists(dir / "saved"), all);
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
        EXPECT_EQ(from.h.Boxes(false), answer < 0 ? Lines{} : Lines{"对方已经中断了传输."});
    }
}

// Refused before any dialog (no session, a replay, oneself, busy), then files that cannot be
// sent; else the offer command asks for the file and offers it to the target, as host or client.
TEST_F(Transfer, TheOfferCommandRefusesOrOffersToTheTarget) {
    test::Core h;
    h.cmd.OfferFile(); // no session: the target is everyone
    EXPECT_EQ(h.Boxes(), Lines{"无法传输文件|传输文件目标不正确."});
    h.Host({"B"});                          // clears the boxes
    h.recorder.state = ReplayState::Paused; // a replay comes before the target
    h.cmd.OfferFile();
    h.recorder.state = ReplayState::NoReplay;
    h.s.target = 1;
    h.cmd.OfferFile();
    h.s.target = 2;
    h.s.transfer.busy = true;
    h.cmd.OfferFile();
    EXPECT_TRUE(h.p.fileRequests.empty());
    h.s.transfer.busy = false;
    h.cmd.OfferFile();
    const std::string missing = (dir / "missing.bin").string();
    const fs::path big = dir / "big.bin";
    std::ofstream(big, std::ios::binary).close();
    fs::resize_file(big, 671078401); // sparse: costs no disk
    for (const std::string& path : {missing, dir.string(), big.string()}) {
        h.p.paths.push_back(path);
        h.cmd.OfferFile();
    }
    EXPECT_EQ(h.Boxes(),
              (Lines{"无法传输文件|你目前未进入会话.", "无法传输文件|传输文件目标不正确.",
                     "Kolvena v1.0|目前正在进行文件传输.",
                     "|无法打开文件: " + missing + " (文件或文件夹不存在)",
                     "|无法打开文件: " + dir.string() + " (这是一个文件夹)",
                     "无法传输文件|文件太大, 无法传输: 文件最大为 671078400 字节."}));
    EXPECT_TRUE(h.net.sent.empty());
    EXPECT_TRUE(h.s.transfer.path.empty());

    const fs::path source = Source(1234, "报告.txt");
    for (const bool host : {true, false}) {
        test::Core c;
        host ? c.Host({"B"}) : c.Client();
        c.s.target = host ? 2 : 1;
        c.p.paths.push_back(source.string());
        c.cmd.OfferFile();
        ASSERT_EQ(c.p.fileRequests.size(), 1u);
        const auto& r = c.p.fileRequests[0];
        EXPECT_EQ(std::tie(r.defaultExtension, r.initialName, r.filter),
                  std::make_tuple("*", "*.*", kFilter));
        EXPECT_TRUE(c.p.boxes.empty());
        const FilePacket offer{host ? std::uint16_t{1} : std::uint16_t{3}, c.s.target,
                               ToGbk("报告.txt"), 1234};
        const PacketType type = host ? PacketType::FileOffer : PacketType::FileOfferToHost;
        EXPECT_EQ(c.TakeSent(), (test::SentList{{host ? 1u : 0u, BuildFilePacket(type, offer)}}));
        const auto& t = c.s.transfer;
        EXPECT_EQ(std::tie(t.path, t.name, t.size, t.peer, t.busy),
                  std::make_tuple(source.string(), ToGbk("报告.txt"), 1234u, c.s.target, false));
    }
}

// A fresh folder under parent (none if it cannot be made), removed with everything in it.
struct Folder {
    explicit Folder(const fs::path& parent) : path((parent / "kolvena-move-XXXXXX").string()) {
        if (::mkdtemp(path.data()) == nullptr)
            path.clear();
    }
    ~Folder() {
        std::error_code ignored;
        fs::remove_all(path, ignored);
    }
    std::string File(const std::string& name) const { return path + "/" + name; }
    std::string path;
};

dev_t DeviceOf(const std::string& path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 ? status.st_dev : 0;
}

// A folder on another file system than /dev/shm, where the received file waits: the temporary
// folder, the working folder (the build's) or /var/tmp, whichever is on the disk.
fs::path DiskFolder() {
    for (const fs::path& candidate :
         {fs::temp_directory_path(), fs::current_path(), fs::path("/var/tmp")})
        if (DeviceOf(candidate.string()) != DeviceOf("/dev/shm"))
            return candidate;
    return {};
}

// The received file waits on a RAM file system and moves across or beside; a folder in the way or
// missing, or a copy cut short as on a full disk, keeps it and leaves nothing half written.
TEST(MoveIntoTest, MovesOrKeepsTheReceivedFile) {
    const Folder spool("/dev/shm"), disk(DiskFolder());
    ASSERT_TRUE(!spool.path.empty() && !disk.path.empty()) << "no folder on a file system apart";
    ASSERT_NE(DeviceOf(spool.path), DeviceOf(disk.path));
    fs::create_directory(disk.File("folder"));
    test::WriteFileBytes(disk.File("folder/kept"), "kept");
    const std::string bytes = std::string(70000, 'k') + "end";
    const struct {
        const char* name;
        bool sameDevice; // the received file waits beside the target
        const char* to;
        const char* reason; // nullptr: moved; "": any reason
        rlim_t limit = RLIM_INFINITY;
    } cases[] = {
        {"across", false, "saved.bin", nullptr},
        {"beside", true, "saved.bin", nullptr},
        {"folder across", false, "folder", "这是一个文件夹"},
        {"folder beside", true, "folder", "这是一个文件夹"},
        {"missing folder", false, "none/saved.bin", "文件或文件夹不存在"},
        {"cut short", false, "saved.bin", "", 4096},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string from = (c.sameDevice ? disk : spool).File("received"),
                          to = disk.File(c.to);
        test::WriteFileBytes(from, bytes);
        // Writes past the limit fail, as on a full disk, instead of raising SIGXFSZ.
        rlimit saved{};
        ::getrlimit(RLIMIT_FSIZE, &saved);
        const rlimit limited{c.limit, saved.rlim_max};
        const auto previous = std::signal(SIGXFSZ, SIG_IGN);
        ::setrlimit(RLIMIT_FSIZE, &limited);
        const FileResult moved = MoveInto(from, to);
        ::setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, previous);
        EXPECT_EQ(moved.ok, c.reason == nullptr) << moved.error;
        EXPECT_EQ(test::ReadFileBytes(c.reason ? from : to), bytes);
        EXPECT_NE(fs::exists(from), c.reason == nullptr);
        EXPECT_TRUE(!c.reason || moved.error.starts_with("无法创建文件: " + to + " (" + c.reason))
            << moved.error;
        EXPECT_EQ(fs::exists(disk.File("saved.bin")), c.reason == nullptr && c.to[0] == 's');
        EXPECT_EQ(test::ReadFileBytes(disk.File("folder/kept")), "kept");
        fs::remove(from);
        fs::remove(disk.File("saved.bin"));
    }
}

TEST(TransferStream, ChunksTheirSizesAndTheLargestFile) {
    const struct {
        std::uint32_t size, chunks, chunk, chunkSize;
    } cases[] = {{0, 0, 1, 0},         {1, 1, 1, 1},         {10240, 1, 1, 10240},
                 {10241, 2, 1, 10240}, {10241, 2, 2, 1},     {10241, 2, 3, 0},
                 {10241, 2, 0, 0},     {20480, 2, 2, 10240}, {25000, 3, 3, 4520}};
    for (const auto& c : cases) {
        EXPECT_EQ(ChunkCount(c.size), c.chunks) << c.size;
        EXPECT_EQ(ChunkSizeAt(c.size, c.chunk), c.chunkSize) << c.size << " chunk " << c.chunk;
    }
    EXPECT_TRUE(FitsTransfer(671078400));
    EXPECT_EQ(ChunkCount(671078400), MAX_CHUNKS);
    EXPECT_FALSE(FitsTransfer(671078401));
    EXPECT_EQ(ChunkCount(671078401), MAX_CHUNKS + 1);
    EXPECT_FALSE(FitsTransfer(0xFFFFFFFFu));
}

// Only the last part of a name is kept, read as GBK: 嘰 is 87 5C and 乗 is 81 5C, and their
// second byte is no separator; a lead byte before a real separator does not swallow it.
TEST(TransferStream, SafeFileNameKeepsOnlyTheLastPartAndTheExtensionItsLastThree) {
    EXPECT_EQ(SafeFileName("../../etc/passwd"), "passwd");
    EXPECT_EQ(SafeFileName("a\\b\\c.txt"), "c.txt");
    EXPECT_EQ(SafeFileName("/abs/x"), "x");
    EXPECT_EQ(SafeFileName("plain.txt"), "plain.txt");
    for (const char* empty : {"", ".", "..", "dir/", "a\\..", "../"})
        EXPECT_EQ(SafeFileName(empty), "file") << empty;
    EXPECT_EQ(SafeFileName(std::string("a\0b", 3)), "a_b");
    const std::string ji = ToGbk("嘰.txt");
    ASSERT_EQ(ji.substr(0, 2), "\x87\x5C");
    EXPECT_EQ(SafeFileName(ji), ji);
    EXPECT_EQ(SafeFileName(ToGbk("目录\\乗嘰表.txt")), ToGbk("乗嘰表.txt"));
    EXPECT_EQ(SafeFileName(ToGbk("表.txt")), ToGbk("表.txt"));
    EXPECT_EQ(SafeFileName("\x81/x"), "x");
    // The save dialog's default extension: the last three characters, whole ones in any script.
    EXPECT_EQ(DefaultExtension("report.txt"), "txt");
    EXPECT_EQ(DefaultExtension("ab"), "ab");
    EXPECT_EQ(DefaultExtension("报告.文本档"), "文本档");
}

} // namespace
} // namespace kolvena
