#pragma once

#include <sstream>
#include <string>
#include <string_view>
#include <vector>

namespace kelvora::test {

// The lines of a text without their newlines; a last line without one counts.
inline std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

// The parts between separators, empty ones included: n separators, n + 1 parts.
inline std::vector<std::string> split(const std::string& text, std::string_view separator) {
    std::vector<std::string> parts;
    std::string::size_type start = 0;
    for (;;) {
        const auto at = text.find(separator, start);
        parts.push_back(text.substr(start, at - start));
        if (at == std::string::npos) {
            return parts;
        }
        start = at + separator.size();
    }
}

inline std::vector<std::string> split(const std::string& text, char separator) {
    return split(text, std::string_view(&separator, 1));
}

} // namespace kelvora::test
