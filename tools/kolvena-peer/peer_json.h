#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kolvena::peer {

// The text as a JSON string, quotes included. Whatever the bytes, the result is one line of
// valid UTF-8: quotes, backslashes and control characters are escaped, and bytes that are not
// UTF-8 become U+FFFD.
std::string JsonString(std::string_view utf8);

// One JSON object on one line, the fields in the order added.
class JsonObject {
public:
    JsonObject() = default;
    // An event: {"event":NAME,...}.
    static JsonObject Event(std::string_view name) { return JsonObject().Text("event", name); }

    JsonObject& Text(std::string_view key, std::string_view utf8);
    JsonObject& Number(std::string_view key, std::int64_t value);
    JsonObject& Flag(std::string_view key, bool value);
    JsonObject& Null(std::string_view key);
    // A value already in JSON (an array built by the caller).
    JsonObject& Raw(std::string_view key, std::string_view json);

    // The object, closed, without a line break.
    std::string Done() const { return (text_.empty() ? "{" : text_) + "}"; }

private:
    JsonObject& Key(std::string_view key);

    std::string text_;
};

} // namespace kolvena::peer
