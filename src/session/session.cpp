#include "session.h"

#include "gbk.h"
#include "text.h"
#include "time_text.h"

namespace kolvena {
namespace {

std::string Bracketed(std::string_view name) {
    std::string out = "<";
    out.append(name);
    out.push_back('>');
    return out;
}

} // namespace

std::string_view MessageWindowHeader() {
    return KOLVENA_TEXT("                  *********** 会话消息窗口 ***********\r\n");
}

Session::Session(const Clock& clock, Prompter& prompter) : clock_(clock), prompter_(prompter) {}

std::uint16_t Session::AddBuddy(Buddy buddy) {
    buddy.id = static_cast<std::uint32_t>(roster.size() + 1);
    buddy.joinTime = static_cast<std::uint32_t>(clock_.Now());
    roster.push_back(buddy);
    return GetBuddyCount();
}

void Session::AppendBuddy(const Buddy& buddy) {
    roster.push_back(buddy);
}

std::uint16_t Session::GetBuddyCount() const {
    std::uint16_t count = 0;
    for (const Buddy& b : roster)
        if (b.IsPresent())
            ++count;
    return count;
}

const Buddy* Session::PresentAt(ActiveIndex index) const {
    std::uint16_t seen = 0;
    if (!index.IsNobody())
        for (const Buddy& b : roster)
            if (b.IsPresent() && ++seen == index.value)
                return &b;
    return nullptr;
}

Buddy* Session::GetBuddy(ActiveIndex index) {
    if (const Buddy* present = PresentAt(index))
        return const_cast<Buddy*>(present);
    prompter_.Inform(Notice::Fault, "", "获得Friend失败，数量越界!", BoxIcon::Stop);
    return roster.empty() ? nullptr : &roster.back();
}

ActiveIndex Session::CheckBuddyIndex(ActiveIndex index) const {
    return index.value >= 1 && index.value <= GetBuddyCount() ? index : ActiveIndex();
}

ActiveIndex Session::GetSelfIndex() const {
    return ActiveIndexOf(selfId);
}

Buddy* Session::BuddyById(BuddyId id) {
    return id.value >= 1 && id.value <= roster.size() ? &roster[id.value - 1u] : nullptr;
}

const Buddy* Session::BuddyById(BuddyId id) const {
    return id.value >= 1 && id.value <= roster.size() ? &roster[id.value - 1u] : nullptr;
}

ActiveIndex Session::ActiveIndexOf(BuddyId id) const {
    const Buddy* own = BuddyById(id);
    if (own == nullptr || !own->IsPresent())
        return {};
    std::uint16_t index = 0;
    for (std::size_t i = 0; i < id.value; ++i)
        if (roster[i].IsPresent())
            ++index;
    return index;
}

void Session::RemoveBuddy(ActiveIndex index) {
    std::uint16_t seen = 0;
    if (index.IsNobody())
        return;
    for (std::size_t p = 0; p < roster.size(); ++p) {
        if (roster[p].IsPresent() && ++seen == index.value) {
            MarkBuddyLeft(p);
            return;
        }
    }
}

void Session::MarkBuddyLeft(std::size_t position) {
    if (position >= roster.size())
        return;
    roster[position].state = BuddyState::Left;
    roster[position].leaveTime = static_cast<std::uint32_t>(clock_.Now());
}

std::uint16_t Session::CountMarkedBuddies() const {
    std::uint16_t count = 0;
    for (const Buddy& b : roster)
        if (b.IsPresent() && b.olFlag != 0)
            ++count;
    return count;
}

std::string Session::MakeBuddyIDStream(std::uint16_t length) {
    if (length == 0 || length > CountMarkedBuddies())
        prompter_.Inform(Notice::Fault, "", "Session::MakeBuddyIDStream()-密友OLIndex流大小出错.",
                         BoxIcon::None);
    std::string stream;
    std::uint16_t index = 0;
    for (const Buddy& b : roster) {
        if (!b.IsPresent())
            continue;
        ++index;
        if (b.olFlag != 0 && stream.size() < length)
            stream.push_back(static_cast<char>(index));
    }
    return stream;
}

bool Session::StreamHasSelf(std::string_view stream) const {
    const int self = GetSelfIndex().value;
    for (char c : stream)
        if (static_cast<signed char>(c) == self)
            return true;
    return false;
}

void Session::AddLine(std::string text, std::uint32_t stamp, std::uint32_t packetStamp,
                      LineFacts facts) {
    lines.push_back(
        LineRecord{std::move(text), packetStamp, clock_.Now(), stamp, std::move(facts)});
}

std::string Session::LineSuffix(const LineRecord& line) const {
    if (!settings.showTimeOnChat || line.stamp == 0 || replayFlag)
        return {};
    return "  (" + FormatClock(line.time) + ")";
}

std::string Session::RenderLines() const {
    std::string text;
    for (const LineRecord& line : lines) {
        text += line.text;
        text += LineSuffix(line);
        text += "\r\n";
    }
    text += "\r\n";
    return text;
}

void Session::RecordMessage(std::string_view text, LineFacts facts) {
    if (facts.kind == LineKind::Notice)
        notices.push_back(NoticeRecord{messageText.size(), clock_.Now(), std::move(facts)});
    messageText += "Massage: ";
    messageText += text;
    if (settings.showTimeOnMessages)
        messageText += "  (" + NowClock(clock_) + ")";
    messageText += "\r\n";
    ++counters.messageTotal;
}

void Session::ClearPanes() {
    lines.clear();
    messageText = std::string(MessageWindowHeader());
    notices.clear();
}

std::optional<LineRecord> Session::ComposeChatLine(const ChatLine& chat) {
    const ActiveIndex selfIndex = GetSelfIndex();
    const bool fromSelf = chat.sender == selfId;
    const Buddy* speaker = BuddyById(chat.sender);
    if (!fromSelf && speaker == nullptr)
        return std::nullopt;
    // Only a present member can be addressed. The own entry only counts while the own member is
    // present, so that a line to everyone never reads as addressed to the user.
    const bool toSelf = !selfIndex.IsNobody() && chat.target == selfIndex;
    const Buddy* addressee = nullptr;
    if (!chat.target.IsNobody() && !toSelf) {
        if (CheckBuddyIndex(chat.target).IsNobody())
            return std::nullopt;
        addressee = GetBuddy(chat.target);
    }

    // The text is shown up to its first zero byte.
    const std::string_view text = ShownText(chat.text);

    ++counters.chatLineTotal;
    std::string line = fromSelf ? KOLVENA_TEXT("<你>") : Bracketed(speaker->Name());
    if (fromSelf)
        ++counters.ownSayTotal;

    bool shortForm = true;
    std::string to;
    if (toSelf && fromSelf) {
        to = KOLVENA_TEXT("自己");
        ++counters.relatedSayTotal;
    } else if (toSelf) {
        to = KOLVENA_TEXT("<你>");
        ++counters.relatedSayTotal;
        shortForm = false;
    } else if (chat.target.IsNobody()) {
        to = KOLVENA_TEXT("大家");
    } else {
        to = Bracketed(addressee->Name());
        shortForm = false;
    }

    if (shortForm) {
        line += KOLVENA_TEXT(" 对");
        line += to;
        line += KOLVENA_TEXT("说");
    } else {
        line += KOLVENA_TEXT(" 对 ");
        line += to;
        line += " ";
        line += KOLVENA_TEXT("说");
    }
    if (chat.whisper != 0)
        line += KOLVENA_TEXT("(悄悄话)");
    line += ": ";
    line += text;

    LineRecord record;
    record.text = std::move(line);
    record.packetStamp = chat.stamp;
    const Buddy* named = toSelf ? BuddyById(selfId) : addressee;
    record.facts = {LineKind::Chat,
                    chat.sender,
                    std::string(speaker ? speaker->Name() : ""),
                    chat.target,
                    std::string(named ? named->Name() : ""),
                    chat.whisper != 0,
                    std::string(text),
                    toSelf};
    return record;
}

} // namespace kolvena
