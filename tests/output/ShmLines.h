#pragma once

// Reading back the lines kelvora-shm prints: flat JSON objects, or text lines
// of key=value fields. Numbers are parsed with strtod, so %.17g values compare
// exactly.
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

namespace kelvora::test {

// The text right after `"key":` (JSON) or ` key=` (text); none without the key.
inline std::optional<std::string> fieldText(const std::string& line, const std::string& key) {
    const bool json = !line.empty() && line.front() == '{';
    const std::string marker = json ? "\"" + key + "\":" : " " + key + "=";
    const auto at = line.find(marker);
    if (at == std::string::npos) {
        return std::nullopt;
    }
    return line.substr(at + marker.size());
}

inline std::optional<double> numberField(const std::string& line, const std::string& key) {
    const auto text = fieldText(line, key);
    if (!text || text->empty()) {
        return std::nullopt;
    }
    char* end = nullptr;
    const double v = std::strtod(text->c_str(), &end);
    if (end == text->c_str()) {
        return std::nullopt;
    }
    return v;
}

inline std::vector<double> arrayField(const std::string& line, const std::string& key) {
    std::vector<double> values;
    auto text = fieldText(line, key);
    if (!text) {
        return values;
    }
    const char* p = text->c_str();
    if (*p == '[') {
        ++p;
    }
    for (;;) {
        char* end = nullptr;
        const double v = std::strtod(p, &end);
        if (end == p) {
            break;
        }
        values.push_back(v);
        if (*end != ',') {
            break;
        }
        p = end + 1;
    }
    return values;
}

// "acceleration", "intensity" or "environment"; the first word of a text line.
inline std::string sectionOf(const std::string& line) {
    if (!line.empty() && line.front() == '{') {
        const auto text = fieldText(line, "section");
        if (!text || text->size() < 2) {
            return {};
        }
        return text->substr(1, text->find('"', 1) - 1);
    }
    return line.substr(0, line.find(' '));
}

} // namespace kelvora::test
