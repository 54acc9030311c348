#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "core_parts.h"
#include "session/address_code.h"
#include "session/buddy.h"
#include "transport.h"

namespace kolvena {

class ClientHandler;
class ReplayEngine;

// What the create dialog (the own host's address and the port) and the host details dialog
// start with. Texts are UTF-8, ready for the dialogs.
struct CreateDialogStart {
    std::string hostAddress;
    std::uint16_t port = SESSION_PORT;
    std::string leaderName;
    std::string topic;
};

// What the join dialog collected. Texts are GBK.
struct JoinRequest {
    std::string name;
    JoinMode mode = JoinMode::ByCode;
    AddressCode code = 0;
    std::string address; // dotted text, at most 15 characters
    // Shown in the dialog; a typed join connects at the session port regardless.
    std::uint16_t port = SESSION_PORT;
    // Where a session found by a search listens; 0 for a typed join.
    std::uint16_t connectPort = 0;
};

// What the send command reads from the window. The text is GBK, as typed.
struct SendInput {
    std::string text;
    bool asNotice = false;
    bool whisper = false;
};

// What the window writes back into its controls after sending.
struct SendOutcome {
    std::string text; // GBK
    bool asNotice = false;
};

// The member limit a host may set (members besides the leader).
inline constexpr std::uint32_t MIN_MAX_CLIENTS = 1;
inline constexpr std::uint32_t MAX_MAX_CLIENTS = 100;

// The settings dialog's fields.
struct SettingsValues {
    bool hosting = false;
    bool verify = false;
    bool showTimeOnChat = false;
    bool sound = true;
    std::uint32_t maxClients = 0; // as typed; validation checks 1..100
    bool showTimeOnMessages = false;
    bool listen = false;
    std::uint16_t currentClients = 0;
    bool search = true; // "允许局域网搜索"
};

// The user's commands, shared by the window and the headless peer. Each checks its
// preconditions, asks through the prompter, changes the session, sends, records and refreshes.
// Where a command opens a dialog of the window, it is split: Begin checks and prepares (false:
// refused, show no dialog), Cancel undoes, Finish carries out what the dialog collected.
class Commands {
public:
    // Sets the stamp every sent chat line carries (the session's reserved), so that received
    // lines can show their time suffix.
    Commands(CoreParts& core, ClientHandler& client, ReplayEngine& replay);

    // Create: the create dialog and the host details dialog come between Begin and Finish.
    bool CreateBegin();
    // What the two dialogs show between CreateBegin and CreateFinish.
    CreateDialogStart CreateDialogValues() const;
    void CreateCancel();
    // The host details dialog's "确定": false (after its box) keeps the dialog open.
    bool ValidateHostDetails(const std::string& name, const std::string& topic);
    bool CreateFinish(const std::string& name, const std::string& topic);

    // Join: the join dialog comes between Begin and Finish.
    bool JoinBegin();
    // "游客" followed by the local time as H:M:S without leading zeros.
    std::string ProposedJoinName() const;
    // A blank name is refused with the same box as the host's.
    bool ValidateJoinName(const std::string& name);
    void JoinCancel();
    void JoinFinish(const JoinRequest& request);
    // The background connect's outcome: the join completion or the join failure.
    void OnConnectResult(bool connected);
    // The joining line gets one more dot.
    void JoinTick();

    // Leave, or close when hosting.
    void Leave();
    void SleepOrWake();
    // Rename: the rename dialog comes between Begin and Finish.
    bool RenameBegin();
    // The rename dialog's "确定": false (after its box) keeps the dialog open.
    bool ValidateRename(const std::string& name);
    void RenameFinish(const std::string& name);

    // The member the next line goes to (nobody: everyone); false, changing nothing, when no
    // member present has that index.
    bool ChooseTarget(ActiveIndex target);
    SendOutcome Send(const SendInput& input);
    void Clear();
    // A line of the program's own in the chat area (GBK), neither sent nor recorded.
    void Note(const std::string& text);

    // The offer command: its refusals, the open dialog, then the offer packet to the current
    // target. The transfer starts when the recipient accepts.
    // The file is chosen in the open dialog.
    void OfferFile() { OfferFileAt(std::nullopt); }
    // The file dropped on the target (UTF-8 path), or chosen in the open dialog when none.
    void OfferFileAt(const std::optional<std::string>& dropped);

    // Settings: fill the dialog, validate its OK (false keeps it open), apply it.
    SettingsValues OpenSettings() const;
    bool ValidateSettings(const SettingsValues& values);
    void ApplySettings(const SettingsValues& values);

    // Save the recording through the save dialog ("保存会话历史录象").
    void SaveRecording();
    // Open a recording for replay ("播放会话历史录象"): the question when a session goes on,
    // the open dialog, the load summary, leaving the session and starting the replay paused.
    // A file that cannot be read or is malformed changes nothing: the log, the replay and a
    // live session stay as they were.
    void OpenRecording();
    // The same for the recording at path, chosen elsewhere (the history window): the question,
    // the load and its summary, without the open dialog. True when it was loaded.
    bool OpenRecordingFile(const std::string& path);
    // The history properties command: false (after its box) when no recording is loaded.
    bool HistoryPropertiesBegin();
    // Save the session as a text transcript ("保存会话历史为文本").
    // True when the transcript was written.
    bool SaveTranscript();
    // Show a text file in the chat area ("打开会话文本记录"), locally only.
    void OpenTextRecord();

private:
    // The own member's record while in a session; nothing before the host's roster has arrived.
    Buddy* OwnRecord();
    // Ends a loaded replay for a new session: the log is emptied and nothing is loaded any more.
    // The replay timer and the replay control window join this when they exist.
    void StopReplay();
    // Saves the log with the topic and figures of the given session.
    void SaveRecordingOf(const Session& figures);
    // OpenRecording with the path given, or from the open dialog when there is none.
    bool OpenRecordingFrom(const std::string* given);
    void SendNotice(const std::string& text);
    void SendChat(const std::string& text, bool whisper);
    // The box for a text too long for one packet; false when the text fits.
    bool RefuseTooLong(std::size_t length, std::size_t limit, bool notice);

    CoreParts& core_;
    ClientHandler& client_;
    ReplayEngine& replay_;
};

} // namespace kolvena
