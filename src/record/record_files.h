#pragma once

#include <fstream>
#include <string>

#include "session/session.h"

namespace kolvena {

// The outcome of saving or opening a file for a command. error is UTF-8 and ready for a box;
// it is empty when the user has already been told (a recording's format error).
struct FileResult {
    bool ok = false;
    std::string error;
};

// Whether the message window holds anything beyond its header; without it there is nothing
// to save ("没有任何会话记录.").
bool HasSessionRecord(const Session& session);

// "abc(6-18-2001)": the topic and the local date of createdAt, the default name of both
// recordings and transcripts. GBK like the topic; a '/' or NUL in the topic, which cannot be part
// of a file name, becomes '_'.
std::string DefaultFileName(const Session& session);

// Opens path for reading in binary; a folder or a missing file is a clear error.
FileResult OpenForReading(const std::string& path, std::ifstream& in);

// The failures, naming the file and, where the system says, the reason (from errno).
FileResult CannotCreate(const std::string& path);
FileResult CannotWrite(const std::string& path);
FileResult CannotOpen(const std::string& path);
FileResult CannotRead(const std::string& path);

} // namespace kolvena
