#include "search_datagrams.h"

#include <algorithm>

#include "session/buddy.h"
#include "session/bytes.h"
#include "session/gbk.h"
#include "session/session.h"
#include "transport.h"

namespace kolvena {
namespace {

constexpr std::size_t ID_SIZE = 4;
constexpr std::size_t QUERY_PADDING = SEARCH_QUERY_SIZE - SEARCH_QUERY_MAGIC.size() - ID_SIZE;

} // namespace

std::string BuildSearchQuery(std::uint32_t queryId) {
    std::string out;
    out.reserve(SEARCH_QUERY_SIZE);
    ByteWriter writer(out);
    writer.Raw(SEARCH_QUERY_MAGIC);
    writer.U32(queryId);
    out.append(QUERY_PADDING, '\0');
    return out;
}

std::optional<std::uint32_t> ReadSearchQuery(std::string_view datagram) {
    if (datagram.size() != SEARCH_QUERY_SIZE || !datagram.starts_with(SEARCH_QUERY_MAGIC))
        return std::nullopt;
    const std::string_view padding = datagram.substr(SEARCH_QUERY_MAGIC.size() + ID_SIZE);
    if (padding.find_first_not_of('\0') != std::string_view::npos)
        return std::nullopt;
    return LoadU32(datagram.data() + SEARCH_QUERY_MAGIC.size());
}

std::string BuildSearchAnswer(const SearchAnswer& answer) {
    std::string out;
    out.reserve(SEARCH_ANSWER_SIZE);
    ByteWriter writer(out);
    writer.Raw(SEARCH_ANSWER_MAGIC);
    writer.U32(answer.queryId);
    writer.U32(answer.code);
    writer.U16(answer.port);
    writer.U16(answer.present);
    writer.U16(answer.limit);
    writer.U8(static_cast<std::uint8_t>((answer.admits ? SEARCH_FLAG_ADMITS : 0) |
                                        (answer.approval ? SEARCH_FLAG_APPROVAL : 0)));
    writer.U8(0);
    writer.Field(answer.topic, TOPIC_SIZE);
    writer.Field(answer.leader, NAME_SIZE);
    return out;
}

std::optional<SearchAnswer> ReadSearchAnswer(std::string_view datagram) {
    if (datagram.size() != SEARCH_ANSWER_SIZE || !datagram.starts_with(SEARCH_ANSWER_MAGIC))
        return std::nullopt;
    ByteReader reader(datagram.substr(SEARCH_ANSWER_MAGIC.size()));
    SearchAnswer answer;
    std::uint8_t flags = 0, zero = 0;
    std::string_view topic, leader;
    reader.U32(answer.queryId);
    reader.U32(answer.code);
    reader.U16(answer.port);
    reader.U16(answer.present);
    reader.U16(answer.limit);
    reader.U8(flags);
    reader.U8(zero);
    reader.Take(TOPIC_SIZE, topic);
    reader.Take(NAME_SIZE, leader);
    if (!reader.Ok() || zero != 0 || answer.port == 0)
        return std::nullopt;
    answer.limit = std::clamp<std::uint16_t>(answer.limit, 1, SEARCH_LIMIT_MAX);
    answer.present = std::min(answer.present, answer.limit);
    answer.admits = (flags & SEARCH_FLAG_ADMITS) != 0;
    answer.approval = (flags & SEARCH_FLAG_APPROVAL) != 0;
    answer.topic = FieldText(topic);
    answer.leader = FieldText(leader);
    return answer;
}

SearchState StateOf(const SearchAnswer& answer) {
    if (answer.present >= answer.limit)
        return SearchState::Full;
    return answer.admits ? SearchState::Open : SearchState::Closed;
}

std::optional<SearchAnswer> AnswerFor(const Session& session, const Transport& transport,
                                      std::uint32_t queryId) {
    if (!session.isHost || !session.inSession || !session.settings.searchAllowed ||
        !transport.IsServing())
        return std::nullopt;
    const std::uint16_t everyone = session.GetBuddyCount();
    const std::size_t limit = session.settings.maxClients;
    SearchAnswer answer;
    answer.queryId = queryId;
    answer.code = transport.Code();
    answer.port = transport.OwnPort();
    answer.present = everyone > 0 ? everyone - 1 : 0;
    answer.limit = static_cast<std::uint16_t>(std::min<std::size_t>(limit, SEARCH_LIMIT_MAX));
    // As the host's own full test counts: the connections still waiting for their Login too.
    answer.admits = transport.Accepting() && answer.present + transport.PendingCount() < limit;
    answer.approval = session.settings.verifyMessages;
    answer.topic = GbkFit(session.topic, TOPIC_SIZE);
    if (const Buddy* leader = session.PresentAt(LEADER_INDEX))
        answer.leader = leader->Name();
    return answer;
}

bool SearchRateLimiter::Allow(std::uint32_t source, TimePoint now) {
    while (count_ > 0 && now - answered_[head_].at >= WINDOW) {
        head_ = (head_ + 1) % PER_WINDOW;
        --count_;
    }
    if (count_ == PER_WINDOW)
        return false;
    // Newest first, back to the first answer older than the per-source spacing.
    for (std::size_t i = count_; i > 0; --i) {
        const Answered& entry = answered_[(head_ + i - 1) % PER_WINDOW];
        if (now - entry.at >= PER_SOURCE)
            break;
        if (entry.source == source)
            return false;
    }
    answered_[(head_ + count_) % PER_WINDOW] = {now, source};
    ++count_;
    return true;
}

} // namespace kolvena
