#include "commands.h"

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <vector>

#include "client_handler.h"
#include "packets.h"
#include "record/record_files.h"
#include "record/recording_file.h"
#include "record/transcript.h"
#include "replay_engine.h"
#include "session/bytes.h"
#include "session/gbk.h"
#include "session/text.h"
#include "session/time_text.h"

namespace kolvena {
namespace {

// Every chat line this program sends carries this stamp, so that its receivers may show the
// line's time when they turn the time suffix on.
constexpr std::uint32_t SENT_CHAT_STAMP = 1;
constexpr char DEFAULT_LEADER_NAME[] = "会话组长";
constexpr char DEFAULT_TOPIC[] = "自由主题";
// A new session admits this many members besides the leader; its creation box says so.
constexpr std::uint16_t NEW_SESSION_MAX_CLIENTS = 20;
// Creating a session asks before clearing a chat area that holds more than the welcome banner.
constexpr std::size_t BANNER_LINE_COUNT = 4;
// The join dialog takes at most this many characters of a dotted address.
constexpr std::size_t MAX_ADDRESS_TEXT = 15;

std::string Number(std::uint64_t value) {
    return std::to_string(value);
}

} // namespace

Commands::Commands(CoreParts& core, ClientHandler& client, ReplayEngine& replay)
    : core_(core), client_(client), replay_(replay) {
    core_.session.reserved = SENT_CHAT_STAMP;
}

Buddy* Commands::OwnRecord() {
    if (!core_.session.inSession)
        return nullptr;
    return core_.session.BuddyById(core_.session.selfId);
}

void Commands::StopReplay() {
    core_.recorder.log.ClearLog();
    core_.recorder.state = ReplayState::NoReplay;
    replay_.Stop();
    // The title no longer names a replay; the control window closes.
    core_.view.RefreshTitle();
    core_.view.ReplayChanged();
}

// --- create ---

bool Commands::CreateBegin() {
    core_.recorder.Suspend();
    if (core_.session.inSession) {
        core_.prompter.Inform(Notice::Refused, "无法创建新会话", "要创建新会话，先退出当前会话。",
                              BoxIcon::Information);
        return false;
    }
    if (core_.joining) {
        core_.prompter.Inform(Notice::Refused, "无法创建新会话", "您目前正在登陆一个指定会话.",
                              BoxIcon::Information);
        return false;
    }
    return core_.transport.Init();
}

CreateDialogStart Commands::CreateDialogValues() const {
    return {core_.transport.OwnAddressText(), SESSION_PORT, DEFAULT_LEADER_NAME, DEFAULT_TOPIC};
}

void Commands::CreateCancel() {
    core_.recorder.Resume();
    core_.transport.Shutdown();
}

bool Commands::ValidateHostDetails(const std::string& name, const std::string& topic) {
    if (Trim(name).empty()) {
        core_.prompter.Inform(Notice::Refused, "", "请输入您的名称", BoxIcon::None);
        return false;
    }
    if (Trim(topic).empty()) {
        core_.prompter.Inform(Notice::Refused, "", "请输入会话主题", BoxIcon::None);
        return false;
    }
    return true;
}

bool Commands::CreateFinish(const std::string& nameTyped, const std::string& topicTyped) {
    Session& s = core_.session;
    if (s.inSession || core_.joining)
        return false;
    if (!core_.transport.Serve())
        return false;

    // Names and topics are fixed-width fields everywhere they travel; cut them once here so
    // that the leader and its members see the same texts.
    const std::string name(GbkFit(Trim(nameTyped), NAME_SIZE));
    const std::string topic(GbkFit(Trim(topicTyped), TOPIC_SIZE));
    const std::string ownAddress = core_.transport.OwnAddressText();
    const AddressCode code = core_.transport.Code();

    s.isHost = true;
    s.inSession = true;
    s.asleep = false;
    s.topic = topic;
    s.EmptyRoster();
    s.AddBuddy(Buddy::Make(name, ownAddress, BuddyRole::Leader));
    s.selfId = static_cast<std::uint16_t>(s.roster.size());
    s.createdAt = core_.clock.Now();
    core_.control = {};

    StopReplay();
    if (s.lines.size() > BANNER_LINE_COUNT)
        Clear();

    core_.show.Say(Fill(KOLVENA_TEXT("-->> 新建会话地址编码: %lu，主机地址: %s，监听端口: %d"),
                        {Number(code), ownAddress, Number(core_.transport.OwnPort())}));
    core_.show.Say(KOLVENA_TEXT("-->> 创建新的会话，等待客人登陆中..."));
    core_.view.RefreshChat();
    s.RecordMessage(Fill(KOLVENA_TEXT("欢迎您加入会话，会话主题是 '%s ' "), {topic}));
    s.target = 0;
    core_.view.RefreshMessages();
    core_.view.RefreshMembers();
    core_.view.RefreshTarget();
    s.settings.maxClients = NEW_SESSION_MAX_CLIENTS;
    core_.view.RefreshCommands();

    core_.prompter.Inform(Notice::Done, "创建会话成功!",
                          "恭喜您! 您的会话已经创建成功了。\n这个会话的最大客户成员容量是20人。"
                          "当然，您也可以通过\"设置\"来改变这个限制。",
                          BoxIcon::Information);
    core_.prompter.Inform(
        Notice::Done, "让朋友们加入您的会话! ",
        "下一步: \n您的会话地址已经复制到了剪切板上! \n请把您的会话地址通过粘贴(ctrl+v)"
        "告诉您的朋友，让他们能够加入您创建的会话中来!\n(强烈推荐只公布您的地址编码!!)",
        BoxIcon::Information);
    core_.prompter.SetClipboard(
        Fill("欢迎您使用Kolvena加入我的会话! 会话地址编码:%lu", {Number(code)}));
    core_.view.RefreshTitle();

    EventLog& log = core_.recorder.log;
    log.header.version = RECORDING_VERSION;
    log.header.startTime = static_cast<std::uint32_t>(core_.clock.Now());
    std::string created;
    ByteWriter writer(created);
    writer.Field(name, NAME_SIZE);
    writer.Field(ownAddress, ADDRESS_SIZE);
    log.AppendEvent(EventKind::EvSessionCreated, created);

    core_.view.SetWindowMode(WindowMode::Live);
    return true;
}

// --- join ---

bool Commands::JoinBegin() {
    core_.recorder.Suspend();
    if (core_.session.inSession) {
        core_.prompter.Inform(Notice::Refused, "无法加入会话",
                              "要加入一个新的会话，请先离开当前会话.", BoxIcon::Information);
        return false;
    }
    if (core_.joining) {
        core_.prompter.Inform(Notice::Refused, "正在连接", "正在连接会话主机，请稍候.",
                              BoxIcon::Information);
        return false;
    }
    return true;
}

std::string Commands::ProposedJoinName() const {
    const std::time_t now = static_cast<std::time_t>(core_.clock.Now());
    std::tm local{};
    localtime_r(&now, &local);
    return KOLVENA_TEXT("游客") + std::to_string(local.tm_hour) + ":" +
           std::to_string(local.tm_min) + ":" + std::to_string(local.tm_sec);
}

bool Commands::ValidateJoinName(const std::string& name) {
    if (!Trim(name).empty())
        return true;
    core_.prompter.Inform(Notice::Refused, "", "请输入您的名称", BoxIcon::None);
    return false;
}

void Commands::Note(const std::string& text) {
    core_.show.SayNow(text);
}

void Commands::JoinCancel() {
    core_.recorder.Resume();
}

void Commands::JoinFinish(const JoinRequest& request) {
    Session& s = core_.session;
    if (s.inSession || core_.joining)
        return;
    if (!ValidateJoinName(request.name)) {
        JoinCancel();
        return;
    }
    StopReplay();
    if (!core_.transport.Init())
        return;

    core_.pendingName = request.name;
    s.asleep = false;
    core_.show.SayNow(KOLVENA_TEXT("-->> 正在登陆会话主机 请稍候 ..."));
    s.EmptyRoster();
    core_.view.RefreshMembers();
    core_.view.SetJoinTimer(true);
    core_.joining = true;
    core_.view.RefreshCommands();
    core_.view.SetWindowMode(WindowMode::Live);

    // Connecting comes last: an outcome reported at once (an address that is no address)
    // must find the join fully under way, or the joining state would outlive it.
    const std::string address(GbkFit(Trim(request.address), MAX_ADDRESS_TEXT));
    core_.transport.StartConnect(request.mode, request.code, address, request.connectPort);
}

void Commands::OnConnectResult(bool connected) {
    Session& s = core_.session;
    if (!core_.joining)
        return;
    core_.joining = false;
    if (!connected) {
        core_.show.SayNow(KOLVENA_TEXT("-->> 连接指定会话没有成功，请您重新登陆."));
        core_.transport.Shutdown();
        core_.view.SetJoinTimer(false);
        return;
    }

    s.inSession = true;
    s.isHost = false;
    client_.Reset();
    // A member's recording starts when it joins, so that its summary shows this session's time.
    EventLog& log = core_.recorder.log;
    log.ClearLog();
    log.header.version = RECORDING_VERSION;
    log.header.startTime = static_cast<std::uint32_t>(core_.clock.Now());

    core_.transport.SendToHost(BuildLogin(core_.pendingName));
    core_.show.SayNow(KOLVENA_TEXT("-->> 登陆会话主机成功，正在传回会话成员名单..."));
    core_.view.SetJoinTimer(false);
    core_.view.RefreshCommands();
}

void Commands::JoinTick() {
    Session& s = core_.session;
    if (!core_.joining || s.lines.empty())
        return;
    s.lines.back().text += '.';
    core_.view.RefreshChat();
}

// --- leave, sleep, rename ---

void Commands::Leave() {
    Session& s = core_.session;
    if (!s.inSession) {
        core_.prompter.Inform(Notice::Refused, "退出出错", "您还未进入会话?", BoxIcon::Question);
        return;
    }
    const bool host = s.isHost;
    const BoxAnswer answer =
        host
            ? core_.prompter.Ask(Question::CloseSession, "您准备退出吗?",
                                 "您确定要关闭当前会话吗？！\n这样会使所有的成员强行退出会话！",
                                 BoxButtons::OkCancel, BoxIcon::Question)
            : core_.prompter.Ask(Question::LeaveSession, "退出当前会话", "您确定要退出当前会话吗？",
                                 BoxButtons::OkCancel, BoxIcon::Question);
    // The host may have gone while the question was open; then the session has ended already.
    if (answer != BoxAnswer::Ok || !s.inSession)
        return;

    // A recording saved from the prompt below describes the session as it was: its members
    // and chat lines, not the emptied roster and the reset totals of the moment after.
    std::vector<Buddy> roster = s.roster;
    const std::uint16_t chatLines = s.counters.chatLineTotal;

    core_.transport.Shutdown();
    s.inSession = false;
    s.isHost = false;
    s.EmptyRoster();
    if (host) {
        s.RecordMessage(Fill(KOLVENA_TEXT("会话 '%s ' 关闭"), {s.topic}));
        core_.show.SayEnded(Fill(KOLVENA_TEXT("-->> 会话 '%s ' 关闭, 所有成员退出。"), {s.topic}));
    } else {
        s.RecordMessage(Fill(KOLVENA_TEXT("您已经退出会话 '%s ' 。"), {s.topic}));
        core_.show.SayEnded(Fill(KOLVENA_TEXT("-->> 您已经退出了会话 '%s ' 。"), {s.topic}));
    }
    core_.view.RefreshChat();
    core_.view.RefreshMessages();
    core_.view.RefreshMembers();
    core_.view.RefreshTitle();
    s.counters.chatLineTotal = 0;
    s.counters.ownSayTotal = 0;
    s.counters.relatedSayTotal = 0;
    s.endedAt = core_.clock.Now();
    // The end is recorded first, so that a recording saved at the question below is complete.
    core_.recorder.log.AppendEvent(EventKind::EvSessionEnded);

    if (core_.prompter.Ask(Question::SaveOnLeave, "是否保存会话记录?",
                           "即将离开会话，您要保存当前会话记录吗？", BoxButtons::YesNo,
                           BoxIcon::Question) == BoxAnswer::Yes) {
        Session figures = s;
        figures.roster = std::move(roster);
        figures.counters.chatLineTotal = chatLines;
        SaveRecordingOf(figures);
    }
    Clear();
    // Whoever leaves asleep comes back awake: the next session starts with the sleep command.
    s.asleep = false;
    core_.view.RefreshCommands();
    core_.view.SetWindowMode(WindowMode::Idle);
}

void Commands::SleepOrWake() {
    Session& s = core_.session;
    if (OwnRecord() == nullptr)
        return;
    const bool goingToSleep = !s.asleep;
    const BoxAnswer answer =
        goingToSleep ? core_.prompter.Ask(Question::Sleep, "暂时离开", "您要暂时离开一会儿吗?",
                                          BoxButtons::OkCancel, BoxIcon::Question)
                     : core_.prompter.Ask(Question::Wake, "返回会话", "您要立即返回会话吗?",
                                          BoxButtons::OkCancel, BoxIcon::Question);
    if (answer != BoxAnswer::Ok)
        return;
    // Look the own record up again: the session may have ended while the question was open.
    Buddy* own = OwnRecord();
    if (own == nullptr)
        return;

    const PresencePacket presence{s.selfId};
    if (s.isHost) {
        const std::string packet =
            BuildPresence(goingToSleep ? PacketType::Sleep : PacketType::Wake, presence);
        core_.transport.Broadcast(packet);
        core_.recorder.log.AppendEvent(goingToSleep ? EventKind::EvAsleep : EventKind::EvAwake,
                                       packet);
    } else {
        core_.transport.SendToHost(BuildPresence(
            goingToSleep ? PacketType::SleepToHost : PacketType::WakeToHost, presence));
    }
    core_.show.ShowPresence(*own, goingToSleep);
    s.asleep = goingToSleep;
    core_.view.RefreshCommands();
}

bool Commands::RenameBegin() {
    if (OwnRecord() == nullptr) {
        core_.prompter.Inform(Notice::Refused, "", "您还未参与会话，请新建或加入一个会话.",
                              BoxIcon::None);
        return false;
    }
    return true;
}

bool Commands::ValidateRename(const std::string& name) {
    if (Trim(name).empty()) {
        core_.prompter.Inform(Notice::Refused, "", "请输入您的新名字", BoxIcon::None);
        return false;
    }
    return true;
}

void Commands::RenameFinish(const std::string& typed) {
    Session& s = core_.session;
    // The name as the 20-byte field will carry it, so the line and the own record agree with
    // what the others see.
    const std::string name(GbkFit(Trim(typed), NAME_SIZE));
    Buddy* own = OwnRecord();
    if (name.empty() || own == nullptr)
        return;

    const RenamePacket rename{s.selfId, name};
    if (s.isHost) {
        const std::string packet = BuildRename(PacketType::Rename, rename);
        core_.transport.Broadcast(packet);
        core_.recorder.log.AppendEvent(EventKind::EvNameChanged, packet);
    } else {
        core_.transport.SendToHost(BuildRename(PacketType::RenameToHost, rename));
    }
    core_.show.ShowRename(*own, name);
}

// --- send and clear ---

bool Commands::RefuseTooLong(std::size_t length, std::size_t limit, bool notice) {
    if (length <= limit)
        return false;
    const char* pattern =
        notice ? "消息内容太长，无法发送。\n一条消息最多 %d 字节，现在是 %d 字节，请分几次发送。"
               : "对话内容太长，无法发送。\n一条对话最多 %d 字节，现在是 %d 字节，请分几次发送。";
    core_.prompter.Inform(Notice::Refused, "发送错误",
                          Fill(pattern, {Number(limit), Number(length)}), BoxIcon::Information);
    return true;
}

SendOutcome Commands::Send(const SendInput& input) {
    Session& s = core_.session;
    if (core_.recorder.state != ReplayState::NoReplay)
        return {input.text, input.asNotice};
    const std::string text(Trim(input.text));
    if (text.empty()) {
        core_.prompter.Inform(Notice::Refused, "发送错误", "不能发送空内容", BoxIcon::Information);
        return {text, input.asNotice};
    }
    s.lastLine.text = text;
    // Until the host's roster has arrived there is no own record to speak for.
    if (OwnRecord() == nullptr) {
        core_.show.SayNow(KOLVENA_TEXT("-->> 您还未进入会话。"));
        return {text, input.asNotice};
    }

    if (input.asNotice) {
        if (RefuseTooLong(text.size(), MAX_NOTICE_TEXT, true))
            return {text, input.asNotice};
        const std::string shown = FromGbk(text);
        const std::string question =
            s.isHost ? Fill("你要发送消息: \n <%s> ?", {shown})
                     : Fill("你要发送消息: \n<%s> ?\n(需要通过会话组长验证)", {shown});
        if (core_.prompter.Ask(Question::SendNotice, "发送消息", question, BoxButtons::YesNo,
                               BoxIcon::Question) != BoxAnswer::Yes)
            return {input.text, input.asNotice};
        // The session may have ended while the question was open.
        if (OwnRecord() == nullptr) {
            core_.show.SayNow(KOLVENA_TEXT("-->> 您还未进入会话。"));
            return {text, input.asNotice};
        }
        SendNotice(text);
        return {};
    }

    const std::size_t recipients = s.CountMarkedBuddies();
    if (RefuseTooLong(text.size(), MAX_CHAT_TEXT - std::min(recipients, MAX_CHAT_TEXT), false))
        return {text, input.asNotice};
    SendChat(text, input.whisper);
    return {};
}

void Commands::SendNotice(const std::string& text) {
    Session& s = core_.session;
    const NoticePacket notice{s.selfId, text};
    if (!s.isHost) {
        // The own notice shows when the host sends it back, once approved.
        core_.transport.SendToHost(BuildNotice(PacketType::NoticeToHost, notice));
        return;
    }
    const std::string packet = BuildNotice(PacketType::Notice, notice);
    core_.transport.Broadcast(packet);
    core_.show.ShowNotice(notice);
    core_.recorder.log.AppendEvent(EventKind::EvNotice, packet);
}

void Commands::SendChat(const std::string& text, bool whisper) {
    Session& s = core_.session;
    // A target left behind by departures names the last present member, as the target field
    // shows it.
    if (s.target > ActiveIndex(s.GetBuddyCount())) {
        s.target = s.GetBuddyCount();
        core_.view.RefreshTarget();
    }
    ChatLine line;
    const std::uint16_t marked = s.CountMarkedBuddies();
    if (marked != 0)
        line.recipients = s.MakeBuddyIDStream(marked);
    line.target = s.target;
    line.sender = s.selfId;
    line.whisper = whisper ? 1 : 0;
    line.stamp = s.reserved;
    line.text = text;

    const std::string packet = BuildChat(s.isHost ? PacketType::Say : PacketType::SayToHost, line);
    if (!s.isHost) {
        core_.transport.SendToHost(packet);
    } else if (!line.target.IsNobody() && whisper) {
        // A whisper to the own leader stays here.
        if (const auto slot = SlotFor(line.target))
            core_.transport.Send(*slot, packet);
    } else {
        core_.transport.Broadcast(packet);
    }
    // Shown before it is recorded, as a received line is: the kept history's figures then
    // count it.
    if (const auto composed = core_.show.ComposeChat(line))
        core_.show.ShowChatLine(*composed);
    core_.recorder.log.AppendEvent(EventKind::EvChatLine, packet);
}

bool Commands::ChooseTarget(ActiveIndex target) {
    Session& s = core_.session;
    if (!target.IsNobody() && s.CheckBuddyIndex(target).IsNobody())
        return false;
    s.target = target;
    core_.view.RefreshTarget();
    return true;
}

void Commands::Clear() {
    Session& s = core_.session;
    if (core_.prompter.Ask(Question::ClearWindow, "清空窗口内容?", "是否要清空当前对话窗口?",
                           BoxButtons::OkCancel, BoxIcon::Question) != BoxAnswer::Ok)
        return;
    s.ClearPanes();
    core_.view.RefreshChat();
    core_.view.RefreshMessages();
    core_.show.ShowWelcomeBanner();
}

// --- file offer ---

void Commands::OfferFileAt(const std::optional<std::string>& dropped) {
    Session& session = core_.session;
    Prompter& prompter = core_.prompter;
    if (core_.recorder.state != ReplayState::NoReplay) {
        prompter.Inform(Notice::Refused, "无法传输文件", "你目前未进入会话.", BoxIcon::None);
        return;
    }
    const ActiveIndex target = session.target;
    const auto wrongTarget = [&] {
        prompter.Inform(Notice::Refused, "无法传输文件", "传输文件目标不正确.", BoxIcon::None);
    };
    if (target.IsNobody() || target == session.GetSelfIndex() ||
        session.CheckBuddyIndex(target).IsNobody())
        return wrongTarget();
    if (session.transfer.busy) {
        prompter.Inform(Notice::TransferBusy, "Kolvena v1.0", "目前正在进行文件传输.",
                        BoxIcon::None);
        return;
    }
    const std::optional<std::string> path =
        dropped ? dropped : prompter.ChooseOpenFile({"*", "*.*", "All files (*.*) | *.* ||"});
    if (!path)
        return;

    std::ifstream in;
    if (const FileResult opened = OpenForReading(*path, in); !opened.ok) {
        prompter.Inform(Notice::Failed, "", opened.error, BoxIcon::Information);
        return;
    }
    std::uint64_t size = 0;
    if (const FileResult sized = ReadFileSize(*path, size); !sized.ok) {
        prompter.Inform(Notice::Failed, "", sized.error, BoxIcon::Information);
        return;
    }
    if (size > MAX_OFFER_SIZE) {
        prompter.Inform(Notice::Refused, "无法传输文件",
                        "文件太大, 无法传输: 文件最大为 671078400 字节.", BoxIcon::Information);
        return;
    }
    // The target may have left while the dialog was open.
    if (session.target != target || session.CheckBuddyIndex(target).IsNobody() ||
        !session.inSession)
        return wrongTarget();

    // The name is kept as the offer carries it, so that the acceptance names the same file.
    const std::string name(
        GbkFit(ToGbk(std::filesystem::path(*path).filename().string()), MAX_FILE_NAME));
    session.transfer.path = *path;
    session.transfer.name = name;
    session.transfer.size = static_cast<std::uint32_t>(size);
    session.transfer.peer = target;
    const FilePacket offer{session.GetSelfIndex(), target, name, session.transfer.size};
    if (!session.isHost)
        core_.transport.SendToHost(BuildFilePacket(PacketType::FileOfferToHost, offer));
    else if (const auto slot = SlotFor(target))
        core_.transport.Send(*slot, BuildFilePacket(PacketType::FileOffer, offer));
}

// --- settings ---

SettingsValues Commands::OpenSettings() const {
    const Session& s = core_.session;
    SettingsValues values;
    values.hosting = s.isHost;
    values.showTimeOnChat = s.settings.showTimeOnChat;
    values.showTimeOnMessages = s.settings.showTimeOnMessages;
    values.verify = s.settings.verifyMessages;
    values.sound = s.settings.soundOn;
    values.search = s.settings.searchAllowed;
    if (values.hosting) {
        const std::uint16_t present = s.GetBuddyCount();
        values.currentClients = present > 0 ? present - 1 : 0;
        values.maxClients = s.settings.maxClients;
        values.listen = core_.transport.Accepting();
    } else {
        values.maxClients = NEW_SESSION_MAX_CLIENTS;
    }
    return values;
}

bool Commands::ValidateSettings(const SettingsValues& values) {
    if (values.maxClients < MIN_MAX_CLIENTS || values.maxClients > MAX_MAX_CLIENTS) {
        core_.prompter.Inform(Notice::Refused, "", "最大客户数量必须在 1 到 100 之间，请重新输入。",
                              BoxIcon::Warning);
        return false;
    }
    if (!values.hosting)
        return true;
    if (values.maxClients < values.currentClients) {
        core_.prompter.Inform(Notice::Refused, "",
                              Fill("最大客户数量不能小于当前客户人数(%d人)! 请重新设置.",
                                   {Number(values.currentClients)}),
                              BoxIcon::None);
        return false;
    }
    if (values.maxClients == values.currentClients)
        core_.prompter.Inform(Notice::Done, "会话关闭", "当前会话人数已满，会话暂时对外关闭。",
                              BoxIcon::Information);
    return true;
}

void Commands::ApplySettings(const SettingsValues& values) {
    Session& s = core_.session;
    s.settings.showTimeOnChat = values.showTimeOnChat;
    s.settings.showTimeOnMessages = values.showTimeOnMessages;
    s.settings.verifyMessages = values.verify;
    s.settings.maxClients =
        static_cast<std::uint16_t>(std::clamp(values.maxClients, MIN_MAX_CLIENTS, MAX_MAX_CLIENTS));
    s.settings.soundOn = values.sound;
    s.settings.searchAllowed = values.search;

    // The door is the host's only while it still hosts the session the dialog was opened for.
    if (values.hosting && s.isHost) {
        const std::uint16_t present = s.GetBuddyCount();
        const bool full = (present > 0 ? present - 1 : 0) >= s.settings.maxClients;
        Transport& link = core_.transport;
        if ((!values.listen && link.Accepting()) || full) {
            link.SetAccepting(false);
            core_.show.Say(KOLVENA_TEXT("-->> 会话暂时对外关闭。"));
        } else if (values.listen && !link.Accepting()) {
            link.SetAccepting(true);
            core_.show.Say(KOLVENA_TEXT("-->> 会话重新对外开放。"));
        }
    }
    core_.view.RefreshChat();
    core_.view.RefreshMessages();
}

// --- recording ---

void Commands::SaveRecording() {
    SaveRecordingOf(core_.session);
}

void Commands::SaveRecordingOf(const Session& s) {
    if (!HasSessionRecord(s)) {
        core_.prompter.Inform(Notice::Refused, "", "没有任何会话记录.", BoxIcon::None);
        return;
    }
    const auto path = core_.prompter.ChooseSaveFile(RecordingSaveRequest(s));
    if (!path)
        return;
    const FileResult result = ::kolvena::SaveRecording(core_.recorder.log, s, *path);
    if (!result.ok)
        core_.prompter.Inform(Notice::Failed, "", result.error, BoxIcon::Information);
}

// --- recordings and transcripts ---

void Commands::OpenRecording() {
    OpenRecordingFrom(nullptr);
}

bool Commands::OpenRecordingFile(const std::string& path) {
    return OpenRecordingFrom(&path);
}

bool Commands::OpenRecordingFrom(const std::string* given) {
    Session& s = core_.session;
    Recorder& recorder = core_.recorder;
    // Nothing plays while the questions are open.
    const ReplayState remembered = recorder.state;
    recorder.state = ReplayState::Paused;
    const auto refuse = [&] {
        recorder.state = remembered;
        return false;
    };

    if (s.inSession &&
        core_.prompter.Ask(
            Question::OpenRecording, "载入会话记录",
            "载入对话记录将中断当前会话!(建议先保存当前会话记录)    \r\n要打开记录吗?",
            BoxButtons::YesNo, BoxIcon::Question) != BoxAnswer::Yes)
        return refuse();
    const auto path = given != nullptr ? std::optional<std::string>(*given)
                                       : core_.prompter.ChooseOpenFile(RecordingOpenRequest());
    if (!path)
        return refuse();
    // The log is replaced only by a recording read whole; a file that cannot be read or is
    // malformed leaves the log, the replay and a live session as they were.
    const FileResult loaded = LoadRecording(recorder.log, *path);
    if (!loaded.ok) {
        if (!loaded.shown)
            core_.prompter.Inform(Notice::Failed, "", loaded.error, BoxIcon::Information);
        return refuse();
    }

    const RecordingHeader& header = recorder.log.header;
    core_.prompter.Inform(
        Notice::Done, "成功载入记录",
        Fill("成功载入会话记录! \r\n\r\n主题: %s  \r\n会话时间: %s   \r\n记录长度: %s        "
             "事件数目: %d  ",
             {FromGbk(header.topic), FormatClockAndDate(header.startTime),
              FormatDuration(recorder.log.RecordedLength()), Number(header.eventCount)}),
        BoxIcon::None);

    // Whatever session was going on ends here, without a word to its members.
    core_.transport.Shutdown();
    if (core_.joining) {
        core_.joining = false;
        core_.view.SetJoinTimer(false);
    }
    s.inSession = false;
    s.isHost = false;
    s.asleep = false;
    s.EmptyRoster();
    Clear();
    core_.view.RefreshMessages();
    core_.view.RefreshMembers();
    core_.view.RefreshTarget();
    core_.view.RefreshCommands();
    replay_.Begin();
    return true;
}

bool Commands::HistoryPropertiesBegin() {
    if (core_.recorder.state == ReplayState::NoReplay) {
        core_.prompter.Inform(Notice::Refused, "Kolvena v1.0", "目前未载入历史记录", BoxIcon::None);
        return false;
    }
    return true;
}

bool Commands::SaveTranscript() {
    Session& s = core_.session;
    if (!HasSessionRecord(s)) {
        core_.prompter.Inform(Notice::Refused, "", "没有任何会话记录.", BoxIcon::None);
        return false;
    }
    const auto path = core_.prompter.ChooseSaveFile(TranscriptSaveRequest(s));
    if (!path)
        return false;
    const FileResult result = WriteTranscript(s, core_.clock.Now(), *path);
    if (!result.ok) {
        core_.prompter.Inform(Notice::Failed, "", result.error, BoxIcon::Information);
        return false;
    }
    core_.prompter.Inform(Notice::Done, "", "会话记录保存完毕!", BoxIcon::None);
    s.unsaved = false;
    return true;
}

void Commands::OpenTextRecord() {
    const auto path = core_.prompter.ChooseOpenFile(TextRecordOpenRequest());
    if (!path)
        return;
    std::string text;
    const FileResult result = ReadTextRecord(*path, text);
    if (!result.ok) {
        core_.prompter.Inform(Notice::Failed, "", result.error, BoxIcon::Information);
        return;
    }
    // Shown here only: neither sent nor recorded, and never with a time suffix.
    core_.session.AddLine(std::move(text), 0);
    core_.view.RefreshChat();
}

} // namespace kolvena
