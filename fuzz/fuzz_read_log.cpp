// ReadLog on arbitrary bytes; whatever it accepts must write back and read again unchanged.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

#include "record/event_log.h"

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
    if (!log.ReadLog(in))
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
