#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

namespace kolvena {

// Fills a pattern's placeholders (%s, %d, %lu) in order with the given texts, which the caller
// has already formatted. Works on GBK patterns: '%' is never the second byte of a character.
std::string Fill(std::string_view pattern, std::initializer_list<std::string_view> values);

// A counted text as shown: up to its first zero byte.
inline std::string_view ShownText(std::string_view text) {
    return text.substr(0, text.find('\0'));
}

// The text without leading and trailing blanks (space, tab, CR, LF).
std::string_view Trim(std::string_view text);

} // namespace kolvena
