#pragma once

#include <string>

#include "event_log.h"
#include "record_files.h"
#include "session/prompter.h"
#include "session/session.h"

namespace kolvena {

// Creates (or truncates) the file at path, takes the topic (its first 40 bytes, no character
// split), the roster length and the chat and notice totals from the session into the header
// and writes the log. A file that cannot be created leaves the header as it was.
FileResult SaveRecording(EventLog& log, const Session& session, const std::string& path);

// Reads the recording at path into the log. A format error has been told to the user by
// ReadLog (the result is shown); either failure leaves the log as it was.
FileResult LoadRecording(EventLog& log, const std::string& path);

// The dialogs of the save and open commands.
FileDialogRequest RecordingSaveRequest(const Session& session);
FileDialogRequest RecordingOpenRequest();

} // namespace kolvena
