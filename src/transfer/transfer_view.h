#pragma once

#include <cstdint>
#include <string>

namespace kolvena {

// What a front end shows of the running transfer: the window its progress window (dialog
// 148), the headless peer its "progress: " lines. Called on the thread that started the
// transfer, at most ten times a second besides the first and the last step.
class TransferView {
public:
    virtual ~TransferView() = default;
    // The core has started a transfer: sending the file at `sentPath`, or receiving (empty).
    // Whatever the transfer tells from here on belongs to it.
    virtual void Starting(const std::string& /*sentPath*/) {}
    // A transfer starts: a new progress window with the file line (UTF-8), range 0..chunks,
    // for a file of `size` bytes.
    virtual void OpenProgress(const std::string& fileLine, std::uint32_t chunks,
                              std::uint64_t size) = 0;
    // Chunk `chunk` of `chunks` has gone through.
    virtual void ShowProgress(std::uint32_t chunk, std::uint32_t chunks, double percent) = 0;
    virtual void CloseProgress() = 0;
    // A received file has been saved at `path` (UTF-8).
    virtual void Saved(const std::string& /*path*/) {}
};

} // namespace kolvena
