#pragma once

#include <optional>
#include <string>

namespace kolvena {

enum class BoxIcon { None, Information, Question, Warning, Stop };
enum class BoxButtons { Ok, OkCancel, YesNo };
enum class BoxAnswer { Ok, Cancel, Yes, No };
enum class BeepKind { Default, Information };

// What a question asks. The window ignores it; the headless peer and the tests answer by it, so
// that rewording a box never changes how it is answered.
enum class Question {
    CloseSession, // the leader leaves, and every member with it
    LeaveSession,
    SaveOnLeave,
    Sleep,
    Wake,
    SendNotice,
    ApproveNotice, // the leader decides on a member's notice
    AcceptFile,
    GiveUpTransfer,
    ClearWindow,
    OpenRecording, // opening a recording ends the session going on
    ExitProgram,
    RemoveMember, // the leader removes a member from the session it hosts
    RefuseMember, // ... and refuses its address for the rest of the session
    MuteMember,
    UnmuteMember,
    DiscardReceived, // the save dialog of a received file was cancelled: throw the file away?
    DeleteRecording, // the history window removes a recording (to the trash where there is one)
};

// What a notice tells, for whoever reacts to it (the headless peer's transfer report, tests).
enum class Notice {
    Done,           // a command did what was asked: created, connected, saved, loaded
    Refused,        // a command cannot be carried out now, or its input cannot be taken
    Failed,         // a file, a connection or a recording failed; the text says which and why
    TransferSent,   // the own file has gone through
    TransferStored, // a file has arrived; where to save it comes next
    TransferBusy,   // an offer was refused because a transfer runs
    OfferRefused,   // the recipient refused the own offer
    PeerGaveUp,     // the other side of the transfer gave up
    NoticeRefused,  // the leader refused the own notice
    ReplayEnded,    // the replay has played the last event
    SessionEnded,   // the replayed session ends here
    LogFull,        // the recording holds no more events
    NotSearchable,  // the session runs, but searches of the local network cannot find it
    Fault,          // the program met a state it should never be in
};

// What a file dialog starts with. Texts are UTF-8; filter is the dialog's filter string as the
// program states it ("Text files (*.txt)|*.txt|All files (*.*) | *.* ||").
struct FileDialogRequest {
    std::string defaultExtension;
    std::string initialName;
    std::string filter;
};

// Every message box, question, file dialog, clipboard write and beep goes through here, so the
// window, the headless peer and the tests can each answer in their own way. All texts are
// UTF-8: the prompter is where text meets a person. An empty caption shows the program's name.
class Prompter {
public:
    virtual ~Prompter() = default;

    virtual void Inform(Notice notice, const std::string& caption, const std::string& text,
                        BoxIcon icon) = 0;
    virtual BoxAnswer Ask(Question question, const std::string& caption, const std::string& text,
                          BoxButtons buttons, BoxIcon icon) = 0;
    // The chosen path, or nothing when the user cancels.
    virtual std::optional<std::string> ChooseSaveFile(const FileDialogRequest& request) = 0;
    virtual std::optional<std::string> ChooseOpenFile(const FileDialogRequest& request) = 0;
    virtual void SetClipboard(const std::string& text) = 0;
    virtual void Beep(BeepKind kind) = 0;
};

} // namespace kolvena
