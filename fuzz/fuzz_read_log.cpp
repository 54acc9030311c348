// ReadLog on arbitrary bytes; whatever it accepts must write back and read again unchanged. The
// history's summary and search read the same bytes as a file: what the summary lists as readable
// must open with ReadLog.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

#include "protocol/history_search.h"
#include "record/event_log.h"
#include "record/history_files.h"

namespace {

class FixedClock final : public kolvena::Clock {
public:
    kolvena::CalendarTime Now() const override { return 1000000000; }
};

class SilentPrompter final : public kolvena::Prompter {
public:
    void Inform(kolvena::Notice, const std::string&, const std::string&,
                kolvena::BoxIcon) override {}
    kolvena::BoxAnswer Ask(kolvena::Question, const std::string&, const std::string&,
                           kolvena::BoxButtons, kolvena::BoxIcon) override {
        return kolvena::BoxAnswer::Ok;
    }
    std::optional<std::string> ChooseSaveFile(const kolvena::FileDialogRequest&) override {
        return std::nullopt;
    }
    std::optional<std::string> ChooseOpenFile(const kolvena::FileDialogRequest&) override {
        return std::nullopt;
    }
    void SetClipboard(const std::string&) override {}
    void Beep(kolvena::BeepKind) override {}
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FixedClock clock;
    SilentPrompter prompter;
    kolvena::EventLog log(clock, prompter);
    std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
    const bool read = log.ReadLog(in);

    static const int file = ::memfd_create("recording", 0);
    if (::ftruncate(file, 0) != 0 || ::pwrite(file, data, size, 0) != static_cast<ssize_t>(size))
        std::abort();
    const std::string path = "/proc/self/fd/" + std::to_string(file);
    const kolvena::RecordingSummary summary = kolvena::ReadRecordingSummary(path);
    if (summary.status != kolvena::RecordingStatus::Unreadable && !read)
        std::abort();
    kolvena::SearchRecording(path, "a");
    if (!read)
        return 0;

    // The accessors must hold at every position a replay can reach.
    for (std::uint32_t position = 0; position <= log.events.size() + 1; ++position) {
        log.cursor = position;
        log.CurrentEvent();
        log.NextDelay();
        log.ElapsedAtCursor();
    }
    log.RecordedLength();

    std::ostringstream out;
    if (!log.WriteLog(out))
        std::abort();
    kolvena::EventLog again(clock, prompter);
    std::istringstream back(out.str());
    if (!again.ReadLog(back))
        std::abort();
    if (again.events != log.events || again.header != log.header)
        std::abort();
    return 0;
}
