#pragma once

#include <string>

#include "net/unique_fd.h"
#include "record/record_files.h"

namespace kolvena {

// Creates the file a receive streams into, in the system's temporary folder, under a name that
// cannot collide with another program's, nor with a second transfer of this one. path names the
// file, the last one tried when none could be created.
FileResult CreateReceivedFile(std::string& path, UniqueFd& file);

// Moves the complete file from `from` to `to`, flushed to disk: a rename where it can, a safe
// write (SafeFile) across file systems, after which `from` is gone as well. A folder at `to` is
// refused; a copy that fails leaves the file that was at `to` as it was. On failure `from` is
// kept.
FileResult MoveInto(const std::string& from, const std::string& to);

} // namespace kolvena
