// The search datagrams byte for byte, the answers hosts give, and the answering rate limits.
#include <gtest/gtest.h>

#include "core_harness.h"
#include "protocol/search_datagrams.h"

namespace kolvena::test {
namespace {

using namespace std::chrono_literals;

std::string Bytes(std::initializer_list<int> values) {
    std::string out;
    for (int v : values)
        out.push_back(static_cast<char>(v));
    return out;
}
std::string Padded(const std::string& text, std::size_t width) {
    return text + std::string(width - text.size(), '\0');
}

const SearchAnswer kAnswer{0x11223344, 0xA0B0C0D0,    6636,         2, 20, true,
                           true,       ToGbk("闲聊"), ToGbk("组长")};
const std::string kAnswerBytes =
    "KVA1" +
    Bytes({0x44, 0x33, 0x22, 0x11, 0xD0, 0xC0, 0xB0, 0xA0, 0xEC, 0x19, 2, 0, 20, 0, 0x03, 0}) +
    Padded(ToGbk("闲聊"), 40) + Padded(ToGbk("组长"), 20);

TEST(SearchDatagrams, QueryAndAnswerAreTheirByteLayouts) {
    const std::string query = "KVQ1" + Bytes({0x01, 0x02, 0x03, 0x04}) + std::string(120, '\0');
    EXPECT_EQ(BuildSearchQuery(0x04030201), query);
    EXPECT_EQ(ReadSearchQuery(query), 0x04030201u);
    ASSERT_EQ(kAnswerBytes.size(), 80u);
    EXPECT_EQ(BuildSearchAnswer(kAnswer), kAnswerBytes);
    EXPECT_EQ(ReadSearchAnswer(kAnswerBytes), kAnswer);
}

TEST(SearchDatagrams, AnythingButAQueryIsRefused) {
    const std::string good = BuildSearchQuery(7);
    auto with = [&](std::size_t at, char byte) {
        std::string bytes = good;
        bytes[at] = byte;
        return bytes;
    };
    for (const std::string& bad :
         {good.substr(0, 127), good + '\0', std::string(), with(3, '2'), with(0, 'k'), with(8, 1),
          with(127, 1), BuildSearchAnswer(kAnswer)})
        EXPECT_EQ(ReadSearchQuery(bad), std::nullopt) << bad.size();
}

// A stranger's answer: refused when its frame is wrong, clamped where its counts or texts are.
TEST(SearchDatagrams, AnswersAreClampedOrRefusedNeverTrusted) {
    struct Row {
        std::size_t at;
        std::string bytes;
        std::optional<std::tuple<int, int, SearchState>> read; // present, limit, state
        std::size_t topicSize = 4, leaderSize = 4;
    };
    const auto Full = SearchState::Full, Open = SearchState::Open, Closed = SearchState::Closed;
    const std::vector<Row> rows = {
        {0, "KVA1", {{2, 20, Open}}},
        {0, "KVQ1", std::nullopt},
        {19, Bytes({1}), std::nullopt},                // the zero byte
        {12, Bytes({0, 0}), std::nullopt},             // port 0
        {14, Bytes({30, 0, 20, 0}), {{20, 20, Full}}}, // more present than the limit
        {16, Bytes({0xF4, 0x01}), {{2, 100, Open}}},   // a limit of 500
        {16, Bytes({0, 0}), {{1, 1, Full}}},
        {18, Bytes({0xFC}), {{2, 20, Closed}}}, // unknown flag bits only
        {20, std::string(40, 'A'), {{2, 20, Open}}, 40},
        {60, std::string(19, 'B') + '\xC4', {{2, 20, Open}}, 4, 20}, // a cut lead byte kept
    };
    for (const Row& row : rows) {
        std::string bytes = kAnswerBytes;
        bytes.replace(row.at, row.bytes.size(), row.bytes);
        const auto read = ReadSearchAnswer(bytes);
        ASSERT_EQ(read.has_value(), row.read.has_value()) << row.at;
        if (!read)
            continue;
        EXPECT_EQ(std::tuple(int(read->present), int(read->limit), StateOf(*read)), *row.read);
        EXPECT_EQ(std::pair(read->topic.size(), read->leader.size()),
                  std::pair(row.topicSize, row.leaderSize));
    }
    for (std::size_t size : {0, 79, 81, 128})
        EXPECT_EQ(
            ReadSearchAnswer(Padded(kAnswerBytes.substr(0, std::min<std::size_t>(size, 80)), size)),
            std::nullopt);
}

// The answer reads the session at the moment of the query; settings carry the permission,
// which lasts for the run.
TEST(SearchAnswers, TellTheSessionAsItStandsAndOnlyWhileAllowed) {
    Core c;
    EXPECT_EQ(c.f.core.AnswerSearch(1), std::nullopt); // not hosting
    c.Host({"Bob", "Cat"});
    EXPECT_EQ(c.f.core.AnswerSearch(5),
              (SearchAnswer{5, c.net.code, SESSION_PORT, 2, 20, true, true, "Topic", "Leader"}));
    const auto facts = [&] {
        const SearchAnswer a = c.f.core.AnswerSearch(5).value_or(SearchAnswer{});
        return std::tuple(int(a.limit), a.admits, a.approval);
    };
    c.s.settings.maxClients = 3;
    EXPECT_EQ(facts(), std::tuple(3, true, true));
    c.net.Connect(); // a newcomer waiting for its Login counts toward the limit
    EXPECT_EQ(facts(), std::tuple(3, false, true));
    c.net.pending.clear();
    c.net.accepting = false;
    EXPECT_EQ(facts(), std::tuple(3, false, true));
    c.net.accepting = true;
    c.s.settings.verifyMessages = false;
    EXPECT_EQ(facts(), std::tuple(3, true, false));

    const auto allow = [&](bool search) {
        SettingsValues values = c.cmd.OpenSettings();
        values.search = search;
        c.cmd.ApplySettings(values);
    };
    allow(false);
    EXPECT_EQ(c.f.core.AnswerSearch(5), std::nullopt);
    c.cmd.Leave();
    c.Host();
    EXPECT_FALSE(c.cmd.OpenSettings().search);
    EXPECT_EQ(c.f.core.AnswerSearch(5), std::nullopt);
    allow(true);
    EXPECT_TRUE(c.f.core.AnswerSearch(5));
}

// Rows of (time, source, answered), then floods from many sources and from one.
TEST(SearchRateLimiter, OnePerSourcePer100MsAnd200ASecondWhateverTheFlood) {
    const auto t0 = SearchRateLimiter::TimePoint{} + 1h;
    SearchRateLimiter limiter;
    const std::vector<std::tuple<std::chrono::milliseconds, std::uint32_t, bool>> rows = {
        {0ms, 1, true},   {0ms, 2, true},   {50ms, 1, false},  {99ms, 1, false}, {100ms, 1, true},
        {100ms, 2, true}, {150ms, 3, true}, {199ms, 2, false}, {250ms, 3, true}, {260ms, 1, true},
    };
    for (const auto& [at, source, allowed] : rows)
        EXPECT_EQ(limiter.Allow(source, t0 + at), allowed) << at.count() << " " << source;
    // One query every 0.1 ms for 10 s: from 100,000 sources, 200 answers a second; from one, 10.
    SearchRateLimiter many, one;
    std::size_t answered = 0, inFirstSecond = 0, fromOne = 0;
    for (std::uint32_t i = 0; i < 100000; ++i) {
        const auto at = t0 + std::chrono::microseconds(100) * i;
        const bool allowed = many.Allow(1000 + i, at);
        answered += allowed;
        inFirstSecond += allowed && i < 10000;
        fromOne += one.Allow(9, at);
    }
    EXPECT_EQ(std::tuple(inFirstSecond, answered, fromOne), std::tuple(200u, 2000u, 100u));
}

} // namespace
} // namespace kolvena::test
