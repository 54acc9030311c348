#pragma once

#include <cstdint>
#include <fstream>
#include <string>
#include <system_error>
#include <utility>

#include "session/session.h"

namespace kolvena {

// The outcome of saving or opening a file for a command. A failure always carries its text,
// UTF-8 and ready for a box; shown says that the box has been shown already (a recording's
// format error, which ReadLog tells itself), so the caller tells the user nothing more.
struct FileResult {
    bool ok = false;
    std::string error;
    bool shown = false;

    static FileResult Done() { return {true, {}, false}; }
    static FileResult Failed(std::string error) { return {false, std::move(error), false}; }
    static FileResult AlreadyShown(std::string error) { return {false, std::move(error), true}; }
};

// errno as the call that has just failed left it: streams tell why they failed only there.
// Clear errno before the call, so that a failure the system did not report names no reason.
std::error_code LastSystemError();

// Whether the message window holds anything beyond its header; without it there is nothing
// to save ("没有任何会话记录.").
bool HasSessionRecord(const Session& session);

// "abc(6-18-2001)": the topic and the local date of createdAt, the default name of both
// recordings and transcripts. GBK like the topic; a '/' or NUL in the topic, which cannot be part
// of a file name, becomes '_'.
std::string DefaultFileName(const Session& session);

// Opens path for reading in binary; a folder or a missing file is a clear error.
FileResult OpenForReading(const std::string& path, std::ifstream& in);
// The size of the file at path; a failure is told as a read failure.
FileResult ReadFileSize(const std::string& path, std::uint64_t& size);

// The failures, naming the file and, when there is one, the reason; an empty reason (a file that
// has become shorter) adds none.
FileResult CannotCreate(const std::string& path, std::error_code reason);
FileResult CannotWrite(const std::string& path, std::error_code reason);
FileResult CannotOpen(const std::string& path, std::error_code reason);
FileResult CannotRead(const std::string& path, std::error_code reason);

} // namespace kolvena
