// Feeds the input to both search datagram readers, and as a stream of (time step, source) pairs
// to the answering rate limiter, whose answers are checked against the limits it promises.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <deque>
#include <map>
#include <string>
#include <string_view>

#include "protocol/search_datagrams.h"
#include "session/buddy.h"

namespace kolvena {
namespace {

void Check(bool condition) {
    if (!condition)
        std::abort();
}

void CheckQuery(std::string_view bytes) {
    const auto id = ReadSearchQuery(bytes);
    if (id)
        Check(BuildSearchQuery(*id) == bytes);
}

void CheckAnswer(std::string_view bytes) {
    const auto answer = ReadSearchAnswer(bytes);
    if (!answer)
        return;
    Check(answer->limit >= 1 && answer->limit <= SEARCH_LIMIT_MAX);
    Check(answer->present <= answer->limit && answer->port != 0);
    Check(answer->topic.size() <= TOPIC_SIZE && answer->leader.size() <= NAME_SIZE);
    Check(answer->topic.find('\0') == std::string::npos);
    Check(answer->leader.find('\0') == std::string::npos);
    // What was read builds again into an answer that reads the same.
    Check(ReadSearchAnswer(BuildSearchAnswer(*answer)) == answer);
}

// Each pair of bytes: how many milliseconds pass (the first byte) and from which of a few
// sources a query comes (the second).
void CheckLimiter(std::string_view bytes) {
    using namespace std::chrono;
    SearchRateLimiter limiter;
    auto now = steady_clock::time_point{} + hours(1);
    std::deque<steady_clock::time_point> window;
    std::map<std::uint32_t, steady_clock::time_point> last;
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        now += milliseconds(static_cast<unsigned char>(bytes[i]) % 128);
        const std::uint32_t source = static_cast<unsigned char>(bytes[i + 1]) % 16;
        if (!limiter.Allow(source, now))
            continue;
        while (!window.empty() && now - window.front() >= SearchRateLimiter::WINDOW)
            window.pop_front();
        Check(window.size() < SearchRateLimiter::PER_WINDOW);
        window.push_back(now);
        const auto seen = last.find(source);
        Check(seen == last.end() || now - seen->second >= SearchRateLimiter::PER_SOURCE);
        last[source] = now;
    }
}

// The input as the body of a datagram of the size and magic a reader takes, so that the fuzzer
// reaches the fields without first guessing the frame.
std::string Framed(std::string_view magic, std::size_t size, std::string_view body) {
    std::string out(magic);
    out += body.substr(0, size - magic.size());
    out.resize(size, '\0');
    return out;
}

} // namespace
} // namespace kolvena

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kolvena;
    // A copy of exactly the input, so that a read past its end is caught.
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    CheckQuery(bytes);
    CheckAnswer(bytes);
    CheckQuery(Framed(SEARCH_QUERY_MAGIC, SEARCH_QUERY_SIZE, bytes));
    CheckAnswer(Framed(SEARCH_ANSWER_MAGIC, SEARCH_ANSWER_SIZE, bytes));
    CheckLimiter(bytes);
    return 0;
}
