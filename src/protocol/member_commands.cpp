#include "member_commands.h"

#include <algorithm>

#include "host_handler.h"
#include "packets.h"
#include "session/gbk.h"
#include "session/text.h"

namespace kolvena {
namespace {

constexpr char CAPTION[] = "会话管理";

} // namespace

bool MemberCommands::Begin() {
    return Hosting();
}

std::vector<MemberRow> MemberCommands::Rows() const {
    return MemberRows(core_.session, core_.control, core_.clock.Now());
}

bool MemberCommands::Hosting() {
    if (core_.session.isHost && core_.session.inSession)
        return true;
    Refuse("目前您没有主持任何会话。您可以通过创建一个新的会话来管理会话成员.");
    return false;
}

void MemberCommands::Refuse(const char* text) const {
    core_.prompter.Inform(Notice::Refused, CAPTION, text, BoxIcon::Information);
}

const Buddy* MemberCommands::Manageable(BuddyId id) {
    if (!Hosting())
        return nullptr;
    const Buddy* member = core_.session.BuddyById(id);
    if (member == nullptr) {
        Refuse("会话中没有这个成员.");
        return nullptr;
    }
    if (id == core_.session.selfId) {
        Refuse("组长不能请出自己，也不能对自己禁言.");
        return nullptr;
    }
    if (!member->IsPresent()) {
        core_.prompter.Inform(Notice::Refused, CAPTION,
                              Fill("成员 %s 已经离开了会话.", {FromGbk(member->Name())}),
                              BoxIcon::Information);
        return nullptr;
    }
    return member;
}

bool MemberCommands::Confirm(Question question, const char* caption, const std::string& text,
                             BuddyId id) const {
    if (core_.prompter.Ask(question, caption, text, BoxButtons::YesNo, BoxIcon::Question) !=
        BoxAnswer::Yes)
        return false;
    // The box runs a nested event loop: the session may have ended, or the member left.
    const Session& s = core_.session;
    const Buddy* member = s.BuddyById(id);
    return s.isHost && s.inSession && member != nullptr && member->IsPresent();
}

void MemberCommands::Whisper(BuddyId id, const std::string& text) {
    Session& s = core_.session;
    ChatLine line;
    line.target = s.ActiveIndexOf(id);
    line.sender = s.selfId;
    line.whisper = 1;
    line.stamp = s.reserved;
    line.text = text;
    const auto slot = SlotFor(line.target);
    if (!slot)
        return;
    const std::string packet = BuildChat(PacketType::Say, line);
    core_.transport.Send(*slot, packet);
    core_.recorder.log.AppendEvent(EventKind::EvChatLine, packet);
    // Shown as any own whisper, so that the live session and its replay agree.
    if (const auto composed = core_.show.ComposeChat(line))
        core_.show.ShowChatLine(*composed);
}

bool MemberCommands::Remove(BuddyId id) {
    return RemoveMember(id, false);
}

bool MemberCommands::RemoveAndRefuse(BuddyId id) {
    return RemoveMember(id, true);
}

bool MemberCommands::RemoveMember(BuddyId id, bool refuse) {
    const Buddy* member = Manageable(id);
    if (member == nullptr)
        return false;
    const std::string name(member->Name());
    const std::string address(member->Address());
    const std::string question =
        refuse ? Fill("您确定要将成员 %s 请出会话，并在本次会话中禁止地址 %s 再加入吗？",
                      {FromGbk(name), address})
               : Fill("您确定要将成员 %s 请出会话吗？", {FromGbk(name)});
    if (!Confirm(refuse ? Question::RefuseMember : Question::RemoveMember,
                 refuse ? "请出并禁止再加入" : "请出会话", question, id))
        return false;

    MemberControl& control = core_.control;
    if (refuse && !control.IsRefused(address))
        control.refused.push_back(address);
    Whisper(id, KOLVENA_TEXT("您已被组长请出会话。"));
    control.removed.push_back(id);
    core_.show.Say(Fill(KOLVENA_TEXT("-->> 已将 %s 请出会话"), {name}));
    if (refuse)
        core_.show.Say(Fill(KOLVENA_TEXT("-->> 本次会话不再接受来自 %s 的连接"), {address}));
    // The whisper is queued first, so it goes out before the connection closes.
    host_.Depart(*SlotFor(core_.session.ActiveIndexOf(id)));
    core_.view.RefreshManagement();
    return true;
}

bool MemberCommands::Unrefuse(const std::string& address) {
    if (!Hosting())
        return false;
    MemberControl& control = core_.control;
    if (!control.IsRefused(address)) {
        core_.prompter.Inform(Notice::Refused, CAPTION,
                              Fill("地址 %s 不在禁止加入的名单中.", {address}),
                              BoxIcon::Information);
        return false;
    }
    std::erase(control.refused, address);
    control.refusalShown.erase(address);
    core_.show.SayNow(Fill(KOLVENA_TEXT("-->> 已解除对地址 %s 的禁止"), {address}));
    core_.view.RefreshManagement();
    return true;
}

bool MemberCommands::Mute(BuddyId id, bool muted) {
    const Buddy* member = Manageable(id);
    if (member == nullptr)
        return false;
    const std::string name = FromGbk(member->Name());
    const std::string gbkName(member->Name());
    MemberControl& control = core_.control;
    if (control.IsMuted(id) == muted) {
        core_.prompter.Inform(Notice::Refused, CAPTION,
                              Fill(muted ? "成员 %s 已经被禁言." : "成员 %s 没有被禁言.", {name}),
                              BoxIcon::Information);
        return false;
    }
    if (!Confirm(
            muted ? Question::MuteMember : Question::UnmuteMember, muted ? "禁言" : "解除禁言",
            Fill(muted ? "您确定要对成员 %s 禁言吗？" : "您确定要解除成员 %s 的禁言吗？", {name}),
            id))
        return false;
    // A second command may have done it while the box was open.
    if (control.IsMuted(id) == muted)
        return false;
    if (muted)
        control.muted.push_back(id);
    else
        std::erase(control.muted, id);
    Whisper(id, muted ? KOLVENA_TEXT("您已被组长禁言。") : KOLVENA_TEXT("组长已解除您的禁言。"));
    core_.show.SayNow(
        Fill(muted ? KOLVENA_TEXT("-->> 已对 %s 禁言") : KOLVENA_TEXT("-->> 已解除 %s 的禁言"),
             {gbkName}));
    core_.view.RefreshManagement();
    return true;
}

} // namespace kolvena
