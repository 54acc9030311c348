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

#include "offline_core.h"
#include "record/transcript.h"

namespace kolvena::fuzz {
namespace {

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
    OfflineCore o;
    o.prompter.paths.push_back(path);
    o.core.commands().OpenRecording();
    if (o.core.recorder().state == ReplayState::NoReplay)
        return;
    o.core.replay().TogglePause();
    PlayToEnd(o);

    // The text record file goes into the replayed chat area as one more line.
    o.prompter.paths.push_back(path);
    o.core.commands().OpenTextRecord();
    const std::string transcript = BuildTranscript(o.core.session(), o.clock.Now());
    Check(!transcript.empty());
}

} // namespace
} // namespace kolvena::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kolvena::fuzz;
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const std::string path = Folder().File("input.prs");
    Write(path, bytes);
    ReadAsTextRecord(path, bytes);
    ReplayAndTranscribe(path);
    std::filesystem::remove(path);
    return 0;
}
