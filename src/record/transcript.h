#pragma once

#include <string>

#include "record_files.h"
#include "session/prompter.h"
#include "session/session.h"

namespace kolvena {

// The transcript file's bytes (GBK): banner, topic, session time, member count, the whole
// message window and the whole chat area. While the session goes on, now is its end time.
std::string BuildTranscript(const Session& session, CalendarTime now);

// Creates (or truncates) the file at path and writes the transcript into it.
FileResult WriteTranscript(const Session& session, CalendarTime now, const std::string& path);

// The text a text record file adds to the chat area as one line: its bytes up to the first NUL.
FileResult ReadTextRecord(const std::string& path, std::string& text);

// The dialogs of the two commands.
FileDialogRequest TranscriptSaveRequest(const Session& session);
FileDialogRequest TextRecordOpenRequest();

} // namespace kolvena
