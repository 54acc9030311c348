#include "text.h"

namespace kolvena {

std::string Fill(std::string_view pattern, std::initializer_list<std::string_view> values) {
    std::string out;
    out.reserve(pattern.size() + 32);
    auto next = values.begin();
    std::size_t pos = 0;
    while (pos < pattern.size()) {
        const std::size_t mark = pattern.find('%', pos);
        if (mark == std::string_view::npos || mark + 1 >= pattern.size()) {
            out.append(pattern.substr(pos));
            break;
        }
        out.append(pattern.substr(pos, mark - pos));
        std::size_t width = 0;
        if (pattern.substr(mark, 2) == "%s" || pattern.substr(mark, 2) == "%d")
            width = 2;
        else if (pattern.substr(mark, 3) == "%lu")
            width = 3;
        if (width == 0 || next == values.end()) {
            out.push_back('%');
            pos = mark + 1;
            continue;
        }
        out.append(*next++);
        pos = mark + width;
    }
    return out;
}

std::string_view Trim(std::string_view text) {
    constexpr std::string_view blanks = " \t\r\n";
    const std::size_t first = text.find_first_not_of(blanks);
    if (first == std::string_view::npos)
        return {};
    const std::size_t last = text.find_last_not_of(blanks);
    return text.substr(first, last - first + 1);
}

} // namespace kolvena
