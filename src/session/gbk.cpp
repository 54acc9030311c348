#include "gbk.h"

#include <cerrno>
#include <cstdint>
#include <iconv.h>
#include <stdexcept>

namespace kolvena {
namespace {

// One converter per direction and thread: iconv_open is costly and an iconv_t is not
// safe to share between threads.
class Converter {
public:
    Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {
        if (cd_ == reinterpret_cast<iconv_t>(-1))
            throw std::runtime_error("iconv cannot convert between GBK and UTF-8");
    }
    ~Converter() { iconv_close(cd_); }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    // Converts, calling onBad(in, left) to skip what cannot be converted; onBad returns how
    // many input bytes to skip and appends its own replacement.
    template <typename OnBad> std::string Run(std::string_view input, OnBad onBad) {
        std::string out;
        out.reserve(input.size() * 2 + 8);
        char* in = const_cast<char*>(input.data());
        std::size_t inLeft = input.size();
        char buffer[1024];
        iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        while (inLeft > 0) {
            char* outPtr = buffer;
            std::size_t outLeft = sizeof buffer;
            const std::size_t rc = iconv(cd_, &in, &inLeft, &outPtr, &outLeft);
            out.append(buffer, static_cast<std::size_t>(outPtr - buffer));
            if (rc != static_cast<std::size_t>(-1))
                continue;
            if (errno == E2BIG)
                continue;
            // EILSEQ or EINVAL: an invalid or cut-off sequence.
            const std::size_t skip = onBad(in, inLeft, out);
            in += skip;
            inLeft -= skip;
            iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        }
        return out;
    }

private:
    iconv_t cd_;
};

std::size_t Utf8SequenceLength(unsigned char lead) {
    if (lead >= 0xF0 && lead <= 0xF4)
        return 4;
    if (lead >= 0xE0)
        return 3;
    if (lead >= 0xC2)
        return 2;
    return 1;
}

std::uint8_t Byte(const char* at) {
    return static_cast<std::uint8_t>(*at);
}

bool IsLead(std::uint8_t c) {
    return c >= 0x81 && c <= 0xFE;
}

bool IsFourByteDigit(std::uint8_t c) {
    return c >= 0x30 && c <= 0x39;
}

// A GB18030 four-byte sequence starts here: lead, digit, lead, digit.
bool IsFourByte(const char* in, std::size_t left) {
    return left >= 4 && IsLead(Byte(in)) && IsFourByteDigit(Byte(in + 1)) &&
           IsLead(Byte(in + 2)) && IsFourByteDigit(Byte(in + 3));
}

bool IsAscii(std::string_view text) {
    for (char c : text)
        if (static_cast<unsigned char>(c) >= 0x80)
            return false;
    return true;
}

} // namespace

std::string ToGbk(std::string_view utf8) {
    if (IsAscii(utf8))
        return std::string(utf8);
    thread_local Converter converter("GBK", "UTF-8");
    return converter.Run(utf8, [](const char* in, std::size_t left, std::string& out) {
        const std::size_t n = Utf8SequenceLength(static_cast<unsigned char>(*in));
        // Skip the whole character when its continuation bytes are there, else one byte.
        for (std::size_t i = 1; i < n; ++i)
            if (i >= left || (static_cast<unsigned char>(in[i]) & 0xC0) != 0x80) {
                out.push_back('?');
                return std::size_t{1};
            }
        // A whole character GBK lacks: its GB18030 bytes, which are four for every such one.
        thread_local Converter wider("GB18030", "UTF-8");
        bool bad = false;
        const std::string four =
            n > 1 ? wider.Run(std::string_view(in, n),
                              [&bad](const char*, std::size_t rest, std::string&) {
                                  bad = true;
                                  return rest;
                              })
                  : std::string();
        if (!bad && IsFourByte(four.data(), four.size()) && four.size() == 4)
            out += four;
        else
            out.push_back('?');
        return n;
    });
}

std::string FromGbk(std::string_view gbk) {
    if (IsAscii(gbk))
        return std::string(gbk);
    thread_local Converter converter("UTF-8", "GBK");
    return converter.Run(gbk, [](const char* in, std::size_t left, std::string& out) {
        if (IsFourByte(in, left)) {
            thread_local Converter wider("UTF-8", "GB18030");
            bool bad = false;
            const std::string character = wider.Run(
                std::string_view(in, 4), [&bad](const char*, std::size_t rest, std::string&) {
                    bad = true;
                    return rest;
                });
            if (!bad) {
                out += character;
                return std::size_t{4};
            }
        }
        out.append("\xEF\xBF\xBD");
        return std::size_t{1};
    });
}

std::size_t GbkFitLength(std::string_view gbk, std::size_t maxBytes) {
    std::size_t pos = 0;
    while (pos < gbk.size()) {
        const auto lead = static_cast<unsigned char>(gbk[pos]);
        std::size_t width = (IsLead(lead) && pos + 1 < gbk.size()) ? 2 : 1;
        if (IsFourByte(gbk.data() + pos, gbk.size() - pos))
            width = 4;
        if (pos + width > maxBytes)
            break;
        pos += width;
    }
    return pos;
}

} // namespace kolvena
