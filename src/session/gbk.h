#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace kolvena {

// GBK (code page 936) is the encoding of every text the session, the wire and the files hold.
// Conversion happens only where text meets a person: typed text on the way in, screen and
// terminal output on the way out.

// UTF-8 to GBK. Every character GBK has keeps its GBK bytes; one GBK lacks (an emoji, a rare
// character) becomes its four-byte GB18030 sequence, GBK's superset; bytes that are not UTF-8
// become '?'.
std::string ToGbk(std::string_view utf8);

// GBK, with GB18030's four-byte sequences, to UTF-8. Bytes that are neither become U+FFFD;
// nothing is dropped silently.
std::string FromGbk(std::string_view gbk);

// Length of the longest prefix of at most maxBytes bytes that does not split a two- or
// four-byte character. A lead byte at the very end (a cut-off character) counts as one byte.
std::size_t GbkFitLength(std::string_view gbk, std::size_t maxBytes);

// The text cut to at most maxBytes bytes without splitting a character.
inline std::string_view GbkFit(std::string_view gbk, std::size_t maxBytes) {
    return gbk.substr(0, GbkFitLength(gbk, maxBytes));
}

} // namespace kolvena

// One of the program's own texts (UTF-8 in the source) as GBK, converted once at each place it
// is used: KOLVENA_TEXT("-->> %s 加入会话").
#define KOLVENA_TEXT(literal)                                                                      \
    ([]() -> const std::string& {                                                                  \
        static const std::string text = ::kolvena::ToGbk(literal);                                 \
        return text;                                                                               \
    }())
