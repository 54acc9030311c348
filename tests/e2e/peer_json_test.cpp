#include <gtest/gtest.h>

#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>
#include <filesystem>
#include <regex>

#include "kolvena-peer/peer_json.h"
#include "peer_process.h"
#include "record/event_log.h"
#include "record/record_test_util.h"

namespace kolvena {
namespace {

using test::ChildProcess;
using test::Contains;
using test::PeerProcess;
using test::SessionArguments;
using namespace std::chrono_literals;

TEST(PeerJson, StringsStayOneLineOfValidUtf8) {
    EXPECT_EQ(peer::JsonString("a\"b\\c/中文😀"), R"("a\"b\\c/中文😀")");
    EXPECT_EQ(peer::JsonString(std::string("\n\r\t\x01\x1f\x7f\0", 7)),
              R"("\n\r\t\u0001\u001f\u007f\u0000")");
    // Not UTF-8: a stray byte, a cut-off, an overlong form, a surrogate, past U+10FFFF. Each
    // byte that starts no well-formed sequence becomes U+FFFD.
    const std::string r = "\xEF\xBF\xBD";
    EXPECT_EQ(peer::JsonString("\xff|\xe4\xb8|\xc0\xaf|\xed\xa0\x80|\xf4\x90\x80\x80"),
              "\"" + r + "|" + r + r + "|" + r + r + "|" + r + r + r + "|" + r + r + r + r + "\"");
}

// A part of standard output and of standard error each, or "" where nothing may be printed.
struct CommandCase {
    const char* program;
    std::string out, err;
    int code;
    std::vector<std::string> arguments;
};

TEST(CommandLine, HelpVersionMistakesAndUnusableFiles) {
    const char* peer = KOLVENA_PEER_PATH;
    const char* app = KOLVENA_APP_PATH;
    const test::TempDir dir;
    const std::uint16_t port = test::FreePort();
    const std::string none = dir.File("none.prs"), empty = dir.File("empty.prs"),
                      cut = dir.File("cut.prs"), out = dir.File("out.txt");
    const std::string recording = RecordingHeader{}.Encode() + std::string("[END]\0", 6);
    test::WriteFileBytes(empty, recording);
    test::WriteFileBytes(cut, recording.substr(0, recording.size() - 3)); // inside the end mark
    const std::string failed = "chat: -->> 连接指定会话没有成功，请您重新登陆.";
    const CommandCase cases[] = {
        {peer, "usage:\n  kolvena-peer --help", "", 0, {"--help"}},
        {peer, "\ncommands, one a line", "", 0, {"host", "--name", "a", "-h"}},
        {peer, "kolvena-peer " KOLVENA_VERSION "\n", "", 0, {"--version"}},
        {peer, "", "usage:", 2, {"--bogus"}},
        {peer, "", "option --jsn\nusage:", 2, {"host", "--jsn", "x"}},
        {peer, "", "usage:", 2, {"replay", "--json"}},
        {peer, "", "--max needs a value\nusage:", 2, SessionArguments(true, port, "A", {"--max"})},
        {peer, "", "--max: 0\nusage:", 2, SessionArguments(true, port, "A", {"--max", "0"})},
        {peer, "", "--max: 101\nusage:", 2, SessionArguments(true, port, "A", {"--max", "101"})},
        {peer, failed, "", 1, SessionArguments(false, port, "Bob")},
        {peer, "box: Kolvena | 无法打开文件: " + none, "", 1, {"replay", none}},
        {peer, "box: 播放结束 | 当前会话记录已经重放结束.", "", 0, {"replay", empty}},
        // An empty session leaves nothing to write: refused as in the window.
        {peer, "box: Kolvena | 没有任何会话记录.", "", 1, {"transcript", empty, out}},
        {peer, "box: Kolvena | 文件格式错误.", "", 1, {"replay", cut}},
        {peer, "box: Kolvena | 文件格式错误.", "", 1, {"transcript", cut, out}},
        {peer, "", "one recording file\nusage:", 2, {"replay"}},
        {peer, "", "one recording file\nusage:", 2, {"replay", "a.prs", "b.txt"}},
        {peer, "", "and an output file\nusage:", 2, {"transcript", "a.prs"}},
        {peer, "", "empty file name\nusage:", 2, {"transcript", "a.prs", ""}},
        {app, "usage: kolvena", "", 0, {"--help"}},
        {app, "kolvena " KOLVENA_VERSION "\n", "", 0, {"-platform", "offscreen", "--version"}},
        // Qt takes its own options out first; only what it leaves is wrong, before any window.
        {app, "", "'--bogus'\nusage:", 2, {"-platform", "offscreen", "-reverse", "--bogus"}},
    };
    for (const CommandCase& c : cases) {
        test::ChildOptions options;
        options.errorPath = dir.File("err");
        options.environment = {"QT_QPA_PLATFORM=offscreen", "XDG_RUNTIME_DIR=" + dir.Path()};
        ChildProcess child(c.program, c.arguments, options);
        const std::string what = std::string(c.program) + " " + c.arguments.back();
        EXPECT_EQ(child.WaitForExit(10s), c.code) << what;
        const std::string err = test::ReadFileBytes(dir.File("err"));
        for (const auto& [stream, part] : {std::pair(child.Output(), c.out), std::pair(err, c.err)})
            EXPECT_TRUE(part.empty() ? stream.empty() : Contains(stream, part))
                << what << ": " << stream;
    }
    EXPECT_FALSE(std::filesystem::exists(out));
}

// Every line parsed; a line that is not one JSON object fails the test.
std::vector<QJsonObject> Events(const PeerProcess& peer) {
    std::vector<QJsonObject> events;
    for (const std::string& line : peer.Lines("")) {
        const QJsonDocument json = QJsonDocument::fromJson(QByteArray::fromStdString(line));
        const QJsonObject event = json.object();
        EXPECT_TRUE(json.isObject() && event["event"].isString()) << line;
        const QJsonValue time = event["time"]; // seconds since 1970, null, or none
        EXPECT_TRUE(time.isUndefined() || time.isNull() || time.toDouble() > 1.6e9) << line;
        events.push_back(event);
    }
    return events;
}

// Whether an event has every field of `fields` (a JSON object) with the same value.
bool Has(const std::vector<QJsonObject>& events, const char* fields) {
    const QJsonObject wanted = QJsonDocument::fromJson(fields).object();
    EXPECT_FALSE(wanted.isEmpty()) << fields;
    const QStringList keys = wanted.keys();
    return std::any_of(events.begin(), events.end(), [&](const QJsonObject& event) {
        return std::all_of(keys.begin(), keys.end(),
                           [&](const QString& key) { return event[key] == wanted[key]; });
    });
}

TEST(PeerJson, SessionEventsCarryTheirFields) {
    const std::uint16_t port = test::FreePort();
    auto host = std::make_unique<PeerProcess>(SessionArguments(true, port, "组长", {"--json"}));
    ASSERT_TRUE(host->WaitFor(R"("event":"members")")) << host->Output();
    auto member = std::make_unique<PeerProcess>(SessionArguments(false, port, "游客", {"--json"}));
    ASSERT_TRUE(member->WaitFor(R"("event":"joined")")) << member->Output();
    // The member stays until the host's lines are in; its own go out in order on one connection.
    host->Write(R"(say 引号"和\反斜杠 中文)");
    host->Write("notice 公告");
    ASSERT_TRUE(member->WaitFor(R"("event":"notice","from")")) << member->Output();
    for (const char* command : {"whisper 1 悄悄", "rename 新名", "sleep", "wake", "leave"})
        member->Write(command);
    ASSERT_TRUE(host->WaitFor(R"("event":"left")")) << host->Output();
    EXPECT_EQ(member->WaitForExit(10s), 0);
    host->Write("members-detail");
    ASSERT_TRUE(host->WaitFor(R"("event":"member","name":"新名")")) << host->Output();
    host->Write("leave");
    EXPECT_EQ(host->WaitForExit(10s), 0);

    const auto atHost = Events(*host);
    const auto atMember = Events(*member);
    const std::pair<const std::vector<QJsonObject>*, const char*> expected[] = {
        {&atMember, R"({"event":"joined","name":"游客","id":2,"index":2})"},
        {&atMember, R"({"event":"chat","from":"组长","from_id":1,"to":null,"to_index":0,
                        "whisper":false,"text":"引号\"和\\反斜杠 中文"})"},
        {&atHost, R"({"event":"chat","from":"游客","from_id":2,"to":"组长","to_index":1,
                      "whisper":true,"text":"悄悄"})"},
        {&atMember, R"({"event":"notice","from":"组长","from_id":1,"text":"公告"})"},
        {&atHost, R"({"event":"renamed","name":"游客","id":2,"index":2,"new_name":"新名"})"},
        {&atHost, R"({"event":"members","members":[{"name":"组长","id":1,"index":1,
                      "role":"leader","asleep":false,"self":true},{"name":"新名","id":2,
                      "index":2,"role":"member","asleep":true,"self":false}]})"},
        {&atHost, R"({"event":"asleep","name":"新名","id":2,"index":2})"},
        {&atHost, R"({"event":"awake","name":"新名","id":2,"index":2})"},
        {&atHost, R"({"event":"left","name":"新名","id":2,"index":2})"},
        {&atHost, R"({"event":"box","caption":"发送消息","answer":"Yes"})"},
        {&atMember, R"({"event":"ended"})"},
        {&atHost, R"({"event":"member","name":"组长","id":1,"index":1,"address":"127.0.0.1",
                      "says":1,"messages":1,"status":"online","leader":true})"},
        {&atHost, R"({"event":"member","name":"新名","id":2,"index":0,"says":1,"messages":0,
                      "status":"left","leader":false})"},
    };
    for (const auto& [events, fields] : expected)
        EXPECT_TRUE(Has(*events, fields)) << fields;
}

#ifdef KOLVENA_PYTHON
// Both scripts of examples/ in a real session: the bot answers a guest, the logger appends.
TEST(Examples, BotAnswersAndLoggerAppends) {
    const test::TempDir dir;
    const std::uint16_t port = test::FreePort();
    auto host = std::make_unique<PeerProcess>(SessionArguments(true, port, "组长"));
    ASSERT_TRUE(host->WaitFor("members: "));
    const auto run = [&](const char* script, std::vector<std::string> arguments, const char* name) {
        arguments.insert(arguments.begin(), {std::string(KOLVENA_EXAMPLES) + "/" + script, "--peer",
                                             KOLVENA_PEER_PATH});
        arguments.insert(arguments.end(), {"--", "join", "--address", "127.0.0.1", "--port",
                                           std::to_string(port), "--name", name});
        return std::make_unique<ChildProcess>(KOLVENA_PYTHON, arguments);
    };
    auto bot = run("bot.py", {}, "机器人");
    ASSERT_TRUE(host->WaitFor("-->> 机器人 加入会话"));
    const std::string log = dir.File("会话.log");
    test::WriteFileBytes(log, "earlier line\n"); // appended to, never replaced
    auto logger = run("logger.py", {"--log", log}, "记录员");
    ASSERT_TRUE(host->WaitFor("-->> 记录员 加入会话"));
    auto guest = std::make_unique<PeerProcess>(SessionArguments(false, port, "游客"));
    ASSERT_TRUE(guest->WaitFor("现在您便可以与您的朋友进行对话了"));

    guest->Write("say !who");
    EXPECT_TRUE(guest->WaitFor("<机器人> 对大家说: 成员: 组长, 机器人, 记录员, 游客"))
        << guest->Output() << bot->Output();
    guest->Write("whisper 2 !time");
    const auto time = guest->WaitForLine("<机器人> 对 <你> 说(悄悄话): 现在时间: ", 10s);
    ASSERT_TRUE(time) << guest->Output();
    EXPECT_TRUE(std::regex_search(*time, std::regex(R"(: \d{4}-\d\d-\d\d \d\d:\d\d:\d\d$)")));

    // The session's end ends both scripts.
    host->Write("leave");
    EXPECT_EQ(bot->WaitForExit(10s), 0) << bot->Output();
    EXPECT_EQ(logger->WaitForExit(10s), 0) << logger->Output();
    const std::string logged = test::ReadFileBytes(log);
    for (const char* part :
         {"earlier line\n", " 游客 加入会话\n", " 游客 对 大家 说: !who\n",
          " 机器人 对 大家 说: 成员: 组长, 机器人, 记录员, 游客\n", " 会话结束\n"})
        EXPECT_TRUE(Contains(logged, part)) << part << " not in:\n" << logged;
    // The whispers went between the guest and the bot only.
    EXPECT_FALSE(Contains(logged, "!time")) << logged;
}
#endif

} // namespace
} // namespace kolvena
