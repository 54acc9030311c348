#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "record_files.h"

namespace kolvena {

// A file replaced as a whole or not at all. The bytes go to a temporary file beside the target
// (".NAME.XXXXXX.tmp", which no listing of recordings takes for one), are flushed to disk and
// renamed over the target, and the folder is flushed too. Until Commit the target is untouched;
// a SafeFile dropped before a successful Commit removes its temporary file.
//
// A target that exists and is not a regular file (/dev/null, a pipe) is written in place: it
// cannot be replaced by renaming, and it holds nothing a failed write could destroy.
class SafeFile {
public:
    SafeFile() = default;
    SafeFile(const SafeFile&) = delete;
    SafeFile& operator=(const SafeFile&) = delete;
    ~SafeFile();

    FileResult Open(const std::string& target);
    FileResult Write(std::string_view bytes);
    FileResult Commit();

    // Why the last step failed.
    std::error_code Reason() const { return reason_; }

private:
    void Discard();

    std::string target_; // as the user named it, for the texts
    std::string final_;  // where the rename goes: a symbolic link's target
    std::string temp_;
    int fd_ = -1;
    bool inPlace_ = false;
    std::error_code reason_;
};

// Writes bytes to path through a SafeFile.
FileResult WriteFileSafely(const std::string& path, std::string_view bytes);

// The steps a fault can be injected into.
enum class SafeWriteStep { Create, Write, Sync, Rename };
// A test seam: the function answers an errno value to fail the step with, or 0 to go on. It may
// also end the process there, as a crash would. An empty function removes the fault.
void SetSafeWriteFault(std::function<int(SafeWriteStep)> fault);

} // namespace kolvena
