#include "peer.h"

#include <QCoreApplication>
#include <charconv>
#include <unistd.h>

#include "session/gbk.h"

namespace kolvena::peer {
namespace {

LinkOptions MakeLinkOptions(const PeerOptions& options) {
    LinkOptions link;
    link.port = options.port;
    if (!options.bind.empty())
        link.bindAddress = QHostAddress(QString::fromStdString(options.bind));
    link.ownAddress = options.ownAddress;
    return link;
}

// The first word and the rest of a command line.
std::pair<std::string_view, std::string_view> SplitWord(std::string_view line) {
    const std::size_t space = line.find(' ');
    if (space == std::string_view::npos)
        return {line, {}};
    return {line.substr(0, space), line.substr(space + 1)};
}

} // namespace

Peer::Peer(PeerOptions options)
    : options_(std::move(options)), report_(options_.json), output_(options_),
      link_(output_, MakeLinkOptions(options_)),
      transfers_(output_, report_, options_.transferPort),
      core_(clock_, output_, link_, output_, transfers_),
      input_(STDIN_FILENO, QSocketNotifier::Read) {
    output_.Attach(core_);
    output_.Attach(report_);
    report_.WatchIdle([this] { return !core_.TransferBusy(); });
    link_.SetListener(&core_);
    output_.OnJoinTimer([this](bool running) {
        joinTicker_.Set(running);
        // The join has ended; without a session it failed.
        if (!running && !core_.session().inSession)
            Finish(1);
    });
    connect(&input_, &QSocketNotifier::activated, this, [this] { ReadInput(); });
}

int Peer::Start() {
    core_.Start();
    if (!options_.history.empty()) {
        core_.KeepHistory(options_.history, historyTimer_);
        historyTimer_.OnFire([this] { core_.history()->OnTimer(); });
    }
    Commands& commands = core_.commands();
    if (options_.role == Role::Host) {
        const std::string name = ToGbk(options_.name);
        const std::string topic = ToGbk(options_.topic);
        if (!commands.CreateBegin() || !commands.ValidateHostDetails(name, topic) ||
            !commands.CreateFinish(name, topic))
            return 1;
        SettingsValues values = commands.OpenSettings();
        if (options_.maxClients)
            values.maxClients = *options_.maxClients;
        if (options_.approve == Approval::Off)
            values.verify = false;
        values.search = options_.search;
        if (!commands.ValidateSettings(values))
            return 1;
        commands.ApplySettings(values);
        return 0;
    }
    if (!commands.JoinBegin())
        return 1;
    JoinRequest request;
    request.name = ToGbk(options_.name);
    request.mode = options_.code ? JoinMode::ByCode : JoinMode::ByAddress;
    request.code = options_.code.value_or(0);
    request.address = options_.address;
    request.port = options_.port;
    commands.JoinFinish(request);
    return 0;
}

void Peer::ReadInput() {
    char buffer[4096];
    const ssize_t count = ::read(STDIN_FILENO, buffer, sizeof buffer);
    if (count <= 0) {
        input_.setEnabled(false);
        if (!pending_.empty())
            Execute(std::exchange(pending_, {}));
        Finish(0);
        return;
    }
    pending_.append(buffer, static_cast<std::size_t>(count));
    std::size_t end;
    while (!finished_ && (end = pending_.find('\n')) != std::string::npos) {
        std::string line = pending_.substr(0, end);
        pending_.erase(0, end + 1);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        Execute(line);
    }
}

void Peer::Execute(std::string_view line) {
    const auto [word, rest] = SplitWord(line);
    Commands& commands = core_.commands();
    if (word.empty())
        return;
    if (word == "say") {
        if (SetTarget("0"))
            Send(rest, false, false);
    } else if (word == "to" || word == "whisper") {
        const auto [index, text] = SplitWord(rest);
        if (SetTarget(index))
            Send(text, false, word == "whisper");
    } else if (word == "notice") {
        Send(rest, true, false);
    } else if (word == "sleep" || word == "wake") {
        if (core_.session().asleep != (word == "wake"))
            output_.Error("already " + std::string(word == "sleep" ? "asleep" : "awake"));
        else
            commands.SleepOrWake();
    } else if (word == "rename") {
        const std::string name = ToGbk(rest);
        if (commands.RenameBegin() && commands.ValidateRename(name))
            commands.RenameFinish(name);
    } else if (word == "settings") {
        ApplySettings(rest);
    } else if (word == "save-recording") {
        WithPath(std::string(rest), &Commands::SaveRecording, true);
    } else if (word == "save-transcript") {
        WithPath(std::string(rest), &Commands::SaveTranscript);
    } else if (word == "offer") {
        Offer(rest);
    } else if (word == "giveup") {
        GiveUp();
    } else if (word == "kick" || word == "ban" || word == "mute" || word == "unmute") {
        Manage(word, rest);
    } else if (word == "unban") {
        core_.members().Unrefuse(std::string(rest));
    } else if (word == "members-detail") {
        if (core_.members().Begin())
            output_.PrintMembersDetail();
    } else if (word == "leave") {
        Finish(0);
    } else {
        output_.Error("unknown command: " + std::string(word));
    }
}

bool Peer::SetTarget(std::string_view index) {
    std::uint16_t target = 0;
    const auto [ptr, ec] = std::from_chars(index.data(), index.data() + index.size(), target);
    if (ec != std::errc() || ptr != index.data() + index.size() ||
        !core_.commands().ChooseTarget(target)) {
        output_.Error("no member " + std::string(index));
        return false;
    }
    return true;
}

void Peer::Manage(std::string_view command, std::string_view index) {
    std::uint16_t number = 0;
    const auto [ptr, ec] = std::from_chars(index.data(), index.data() + index.size(), number);
    if (ec != std::errc() || ptr != index.data() + index.size()) {
        output_.Error("no member " + std::string(index));
        return;
    }
    // Past the list this names nobody, which the command refuses with its box.
    const BuddyId id = PresentId(core_.session(), number);
    MemberCommands& members = core_.members();
    if (command == "kick")
        members.Remove(id);
    else if (command == "ban")
        members.RemoveAndRefuse(id);
    else
        members.Mute(id, command == "mute");
}

void Peer::Send(std::string_view text, bool asNotice, bool whisper) {
    SendInput input;
    input.text = ToGbk(text);
    input.asNotice = asNotice;
    input.whisper = whisper;
    core_.commands().Send(input);
}

void Peer::ApplySettings(std::string_view arguments) {
    SettingsValues values = core_.commands().OpenSettings();
    while (!arguments.empty()) {
        const auto [setting, rest] = SplitWord(arguments);
        arguments = rest;
        const std::size_t equals = setting.find('=');
        const std::string_view key = setting.substr(0, equals);
        const std::string_view value =
            equals == std::string_view::npos ? std::string_view{} : setting.substr(equals + 1);
        std::uint32_t number = 0;
        const auto [ptr, ec] = std::from_chars(value.data(), value.data() + value.size(), number);
        if (ec != std::errc() || ptr != value.data() + value.size()) {
            output_.Error("bad setting " + std::string(setting));
            return;
        }
        if (key == "max")
            values.maxClients = number;
        else if (key == "listen")
            values.listen = number != 0;
        else if (key == "verify")
            values.verify = number != 0;
        else if (key == "search")
            values.search = number != 0;
        else {
            output_.Error("unknown setting " + std::string(key));
            return;
        }
    }
    if (core_.commands().ValidateSettings(values))
        core_.commands().ApplySettings(values);
}

void Peer::Offer(std::string_view arguments) {
    const auto [index, path] = SplitWord(arguments);
    if (path.empty()) {
        output_.Error("offer needs a member and a file");
        return;
    }
    if (!SetTarget(index))
        return;
    report_.SetOffering(true);
    WithPath(std::string(path), &Commands::OfferFile);
    report_.SetOffering(false);
}

void Peer::GiveUp() {
    if (!transfers_.Running()) {
        output_.Error("no transfer running");
        return;
    }
    if (!ConfirmGiveUp(output_))
        return;
    report_.GaveUp();
    transfers_.GiveUp();
}

void Peer::Finish(int code) {
    if (finished_)
        return;
    finished_ = true;
    joinTicker_.Set(false);
    // With --record the recording is saved as the window saves it: at the leave's question,
    // while it still describes the session, or at once when the session has already ended.
    const std::optional<std::string> record =
        options_.record.empty() ? std::nullopt : std::optional(options_.record);
    if (core_.session().inSession) {
        output_.SetNextPath(record, true);
        core_.commands().Leave();
        output_.SetNextPath(std::nullopt);
    } else if (record) {
        WithPath(*record, &Commands::SaveRecording, true);
    }
    link_.Shutdown();
    QCoreApplication::exit(code);
}

} // namespace kolvena::peer
