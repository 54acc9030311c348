#include "peer_json.h"

#include <cstdio>

namespace kolvena::peer {
namespace {

// The length of the well-formed UTF-8 sequence that starts the text, or 0: no overlong forms,
// no surrogates, nothing past U+10FFFF, nothing cut off at the end.
std::size_t SequenceLength(std::string_view text) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(0);
    if (lead < 0x80)
        return 1;
    std::size_t length = 0;
    unsigned char low = 0x80, high = 0xBF; // the range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : low;
        high = lead == 0xED ? 0x9F : high;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : low;
        high = lead == 0xF4 ? 0x8F : high;
    } else {
        return 0;
    }
    if (text.size() < length || byte(1) < low || byte(1) > high)
        return 0;
    for (std::size_t i = 2; i < length; ++i)
        if ((byte(i) & 0xC0) != 0x80)
            return 0;
    return length;
}

} // namespace

std::string JsonString(std::string_view utf8) {
    std::string out = "\"";
    while (!utf8.empty()) {
        const char c = utf8.front();
        const std::size_t length = SequenceLength(utf8);
        if (length == 0) {
            out += "\xEF\xBF\xBD";
            utf8.remove_prefix(1);
            continue;
        }
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
            out += escaped;
        } else {
            out.append(utf8.substr(0, length));
        }
        utf8.remove_prefix(length);
    }
    out += '"';
    return out;
}

JsonObject& JsonObject::Key(std::string_view key) {
    text_ += text_.empty() ? '{' : ',';
    text_ += JsonString(key);
    text_ += ':';
    return *this;
}

JsonObject& JsonObject::Text(std::string_view key, std::string_view utf8) {
    return Raw(key, JsonString(utf8));
}

JsonObject& JsonObject::Number(std::string_view key, std::int64_t value) {
    return Raw(key, std::to_string(value));
}

JsonObject& JsonObject::Flag(std::string_view key, bool value) {
    return Raw(key, value ? "true" : "false");
}

JsonObject& JsonObject::Null(std::string_view key) {
    return Raw(key, "null");
}

JsonObject& JsonObject::Raw(std::string_view key, std::string_view json) {
    Key(key).text_ += json;
    return *this;
}

} // namespace kolvena::peer
