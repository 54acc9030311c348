#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "session/address_code.h"

namespace kolvena {

class Session;
class Transport;

// Finding sessions on the local network: a searcher sends a query datagram on UDP to the session
// port number, every host that hears it answers to its source. Little-endian, texts GBK in
// fixed NUL-padded fields, as on the session wire. The session protocol itself is untouched.
//
//   query  (128): "KVQ1", query id u32, 120 zero bytes
//   answer  (80): "KVA1", query id u32, address code u32, TCP port u16, present u16, limit u16,
//                 flags u8, zero u8, topic 40, leader's name 20
inline constexpr std::size_t SEARCH_QUERY_SIZE = 128;
inline constexpr std::size_t SEARCH_ANSWER_SIZE = 80;
inline constexpr std::string_view SEARCH_QUERY_MAGIC = "KVQ1";
inline constexpr std::string_view SEARCH_ANSWER_MAGIC = "KVA1";
inline constexpr std::uint8_t SEARCH_FLAG_ADMITS = 0x01;   // newcomers are admitted
inline constexpr std::uint8_t SEARCH_FLAG_APPROVAL = 0x02; // notices need the leader's approval
// A member limit never exceeds what the settings allow.
inline constexpr std::uint16_t SEARCH_LIMIT_MAX = 100;

std::string BuildSearchQuery(std::uint32_t queryId);
// The query's id; nothing unless the datagram is exactly a query: size, magic and zero padding.
std::optional<std::uint32_t> ReadSearchQuery(std::string_view datagram);

// Whether a found session takes a newcomer now.
enum class SearchState : std::uint8_t { Open, Closed, Full };

// One answer's fields. Counts are members besides the leader, as the settings dialog counts
// them: present 0..limit, limit 1..100.
struct SearchAnswer {
    std::uint32_t queryId = 0;
    AddressCode code = 0;
    std::uint16_t port = 0; // the session's TCP port
    std::uint16_t present = 0;
    std::uint16_t limit = 0;
    bool admits = false;
    bool approval = false;
    std::string topic;  // GBK, at most 40 bytes
    std::string leader; // GBK, at most 20 bytes

    friend bool operator==(const SearchAnswer&, const SearchAnswer&) = default;
};

std::string BuildSearchAnswer(const SearchAnswer& answer);
// Nothing for a datagram of another size or magic, a non-zero zero byte, or port 0. A stranger
// wrote the rest, so it is made safe rather than trusted: the limit is clamped to 1..100 and the
// present count to the limit; a text ends at its first NUL, or fills its field without splitting
// a character at the end.
std::optional<SearchAnswer> ReadSearchAnswer(std::string_view datagram);

// Full when the count has reached the limit, whatever the flags claim; otherwise as the flag says.
SearchState StateOf(const SearchAnswer& answer);

// The answer for a query, from the session and its endpoint as they are at this moment; nothing
// unless the session is hosted here and searching is allowed.
std::optional<SearchAnswer> AnswerFor(const Session& session, const Transport& transport,
                                      std::uint32_t queryId);

// Keeps answering within bounds however many queries arrive from however many sources: at most
// one answer per source address per 100 ms and at most 200 answers in any second. It remembers
// only the answers of the last second, which the overall bound keeps to 200, so its memory is
// fixed. The caller gives the time from a monotonic clock.
class SearchRateLimiter {
public:
    using TimePoint = std::chrono::steady_clock::time_point;
    static constexpr std::chrono::milliseconds PER_SOURCE{100};
    static constexpr std::chrono::milliseconds WINDOW{1000};
    static constexpr std::size_t PER_WINDOW = 200;

    // True, counting the answer, when one may go to the source now.
    bool Allow(std::uint32_t source, TimePoint now);

private:
    struct Answered {
        TimePoint at;
        std::uint32_t source = 0;
    };
    // A ring of the answers of the last window, oldest first from head_.
    std::array<Answered, PER_WINDOW> answered_{};
    std::size_t head_ = 0;
    std::size_t count_ = 0;
};

} // namespace kolvena
