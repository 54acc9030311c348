#include "file_offers.h"

#include "session/gbk.h"
#include "session/text.h"

namespace kolvena {

OfferAnswer AnswerOffer(CoreParts& core, const FilePacket& offer,
                        const std::function<bool()>& stillThere) {
    Session& session = core.session;
    if (session.transfer.busy)
        return OfferAnswer::Busy;
    session.transfer.name = offer.fileName;
    session.transfer.size = offer.fileSize;
    const std::string offerer(session.GetBuddy(offer.offerer)->Name());
    const BoxAnswer answer = core.prompter.Ask(Question::AcceptFile, 
        "是否接受文件",
        FromGbk(Fill(KOLVENA_TEXT("成员' %s '请求向您发送文件 %s (%lu字节), 接受文件吗? "),
                     {offerer, offer.fileName, std::to_string(offer.fileSize)})),
        BoxButtons::YesNo, BoxIcon::Question);
    if (!stillThere())
        return OfferAnswer::None;
    // Another offer may have been accepted while the box was open.
    return answer == BoxAnswer::Yes && !session.transfer.busy ? OfferAnswer::Accept
                                                              : OfferAnswer::Refuse;
}

void TellBusy(CoreParts& core) {
    core.prompter.Inform(Notice::TransferBusy, "Kolvena v1.0", "目前正在进行文件传输.", BoxIcon::None);
}

bool IsOwnOffer(const Session& session, const FilePacket& answer) {
    const Session::Transfer& transfer = session.transfer;
    return transfer.peer == answer.recipient && transfer.name == answer.fileName &&
           !transfer.path.empty();
}

void StartReceiving(CoreParts& core, const FilePacket& offer) {
    // Busy already while the start runs: its boxes let other offers arrive.
    core.session.transfer.busy = true;
    core.session.transfer.busy = core.transfers.StartReceiving(offer);
}

void StartSendingIfOurs(CoreParts& core, const FilePacket& answer, const std::string& address) {
    Session::Transfer& transfer = core.session.transfer;
    if (!IsOwnOffer(core.session, answer) || transfer.busy)
        return;
    transfer.busy = true;
    transfer.busy = core.transfers.StartSending(answer, address, transfer.path);
}

void TellOfferRefused(CoreParts& core, ActiveIndex recipient) {
    Session& session = core.session;
    if (session.CheckBuddyIndex(recipient).IsNobody())
        return;
    const std::string name(session.GetBuddy(recipient)->Name());
    core.prompter.Inform(Notice::OfferRefused, 
        "无法传输文件",
        FromGbk(Fill(KOLVENA_TEXT("成员 '%s' 拒绝接受你的发送文件, 无法传输文件."), {name})),
        BoxIcon::None);
}

} // namespace kolvena
