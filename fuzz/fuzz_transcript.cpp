// Writes the input into a private temporary folder and opens it twice: as a text record file,
// whose text must be the bytes up to the first NUL, and as a recording through the open
// command; a recording that loads is played to its end and its transcript built. The folder
// goes when the process exits.
#include <stdlib.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

#include "protocol/offline.h"
#include "record/transcript.h"
#include "support/core_fakes.h"

namespace kolvena {
namespace {

constexpr std::size_t EXTRA_TICKS = 8;

void Check(bool condition) {
    if (!condition)
        std::abort();
}

class TempFolder {
public:
    TempFolder() {
        std::string name =
            (std::filesystem::temp_directory_path() / "kolvena-fuzz-XXXXXX").string();
        Check(mkdtemp(name.data()) != nullptr);
        path_ = name;
    }
    ~TempFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    std::string File(const char* name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

const TempFolder& Folder() {
    static const TempFolder folder;
    return folder;
}

void Write(const std::string& path, std::string_view bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    Check(static_cast<bool>(out));
}

void ReadAsTextRecord(const std::string& path, std::string_view bytes) {
    std::string text;
    const FileResult result = ReadTextRecord(path, text);
    if (!result.ok) {
        Check(!result.error.empty());
        return;
    }
    Check(text == bytes.substr(0, bytes.find('\0')));
}

void ReplayAndTranscribe(const std::string& path) {
    test::FakeClock clock{1000000000};
    test::ScriptedPrompter prompter;
    OfflineTransport transport;
    test::CountingView view;
    OfflineTransfers transfers;
    test::FakeReplayTimer timer;
    SessionCore core{clock, prompter, transport, view, transfers, timer};
    core.Start();

    prompter.paths.push_back(path);
    core.commands.OpenRecording();
    if (core.recorder.state == ReplayState::NoReplay)
        return;
    EventLog& log = core.recorder.log;
    core.replay.TogglePause();
    const std::size_t ticks = log.events.size() + EXTRA_TICKS;
    for (std::size_t i = 0; i < ticks && timer.running && !log.ended; ++i) {
        clock.Advance(1);
        core.replay.Tick();
    }
    Check(log.ended);

    // The text record file goes into the replayed chat area as one more line.
    prompter.paths.push_back(path);
    core.commands.OpenTextRecord();
    const std::string transcript = BuildTranscript(core.session, clock.Now());
    Check(!transcript.empty());
}

} // namespace
} // namespace kolvena

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kolvena;
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const std::string path = Folder().File("input.prs");
    Write(path, bytes);
    ReadAsTextRecord(path, bytes);
    ReplayAndTranscribe(path);
    std::filesystem::remove(path);
    return 0;
}
