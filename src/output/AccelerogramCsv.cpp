#include "output/AccelerogramCsv.h"

#include <array>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string_view>

namespace kelvora {

namespace {

constexpr std::size_t kColumns = 9;

std::string_view trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) {
        return {};
    }
    const auto last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

// `pattern` holds 'd' for a digit and the literal separators.
bool matchesDigits(std::string_view text, std::string_view pattern) {
    if (text.size() != pattern.size()) {
        return false;
    }
    for (std::size_t i = 0; i < text.size(); ++i) {
        const bool ok =
            pattern[i] == 'd' ? (text[i] >= '0' && text[i] <= '9') : text[i] == pattern[i];
        if (!ok) {
            return false;
        }
    }
    return true;
}

bool parseNumber(std::string_view text, double& out) {
    const std::string copy(text);
    if (copy.empty()) {
        return false;
    }
    char* end = nullptr;
    errno = 0;
    out = std::strtod(copy.c_str(), &end);
    return errno == 0 && end == copy.c_str() + copy.size() &&
           std::isfinite(static_cast<float>(out));
}

int digitsAt(std::string_view text, std::size_t at, std::size_t count) {
    int value = 0;
    for (std::size_t i = at; i < at + count; ++i) {
        value = value * 10 + (text[i] - '0');
    }
    return value;
}

// Empty on success, else what is wrong with the row.
std::string parseRow(std::string_view line, AccelerogramRow& row, LocalTime& time) {
    std::array<std::string_view, kColumns> fields{};
    std::size_t count = 0;
    for (std::size_t start = 0;;) {
        const auto comma = line.find(',', start);
        if (count < kColumns) {
            fields[count] = trimmed(line.substr(start, comma - start));
        }
        ++count;
        if (comma == std::string_view::npos) {
            break;
        }
        start = comma + 1;
    }
    if (count != kColumns) {
        return "expected 9 columns (date, time, ms, intensity, siGal, X, Y, Z, pgv), found " +
               std::to_string(count);
    }
    if (!matchesDigits(fields[0], "dddd-dd-dd") || !matchesDigits(fields[1], "dd:dd:dd") ||
        !matchesDigits(fields[2], "ddd")) {
        return "expected a time stamp YYYY-MM-DD,HH:MM:SS,mmm";
    }
    static constexpr std::array<const char*, 6> kNames = {"intensity", "siGal", "X",
                                                          "Y",         "Z",     "pgv"};
    time = {digitsAt(fields[0], 0, 4), digitsAt(fields[0], 5, 2), digitsAt(fields[0], 8, 2),
            digitsAt(fields[1], 0, 2), digitsAt(fields[1], 3, 2), digitsAt(fields[1], 6, 2),
            digitsAt(fields[2], 0, 3)};
    std::array<double, 6> values{};
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (!parseNumber(fields[i + 3], values[i])) {
            return std::string("column ") + std::to_string(i + 4) + " (" + kNames[i] +
                   ") is not a finite number: '" + std::string(fields[i + 3]) + "'";
        }
    }
    row = {values[0], values[1], values[2], values[3], values[4], values[5]};
    return {};
}

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

enum class LineRead { Line, End, TooLong, Failed };

// The next line without its LF and a CR before it. Reading stops one byte past
// the limit (two when that may be a CR), so an endless line costs no more.
LineRead readLine(std::FILE* file, std::string& line) {
    line.clear();
    for (;;) {
        const int c = getc_unlocked(file);
        if (c == EOF) {
            if (std::ferror(file)) {
                return LineRead::Failed;
            }
            if (line.empty()) {
                return LineRead::End;
            }
            break;
        }
        if (c == '\n') {
            break;
        }
        line.push_back(static_cast<char>(c));
        if (line.size() > kLongestAccelerogramLine + 1 ||
            (line.size() == kLongestAccelerogramLine + 1 && line.back() != '\r')) {
            return LineRead::TooLong;
        }
    }
    if (!line.empty() && line.back() == '\r') {
        line.pop_back();
    }
    return LineRead::Line;
}

} // namespace

bool readAccelerogramCsv(const std::string& path, Accelerogram& accelerogram, std::string& error) {
    std::vector<AccelerogramRow>& rows = accelerogram.rows;
    rows.clear();
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) {
        error = "'" + path + "' is a folder";
        return false;
    }
    const std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
    if (!file) {
        error = "cannot read '" + path + "': " + std::strerror(errno);
        return false;
    }
    std::string line;
    line.reserve(kLongestAccelerogramLine + 2);
    for (long lineNumber = 1;; ++lineNumber) {
        const LineRead read = readLine(file.get(), line);
        if (read == LineRead::End) {
            break;
        }
        if (read == LineRead::Failed) {
            error = "cannot read '" + path + "': " + std::strerror(errno);
            return false;
        }
        if (read == LineRead::TooLong) {
            error = "'" + path + "' line " + std::to_string(lineNumber) + ": longer than " +
                    std::to_string(kLongestAccelerogramLine) +
                    " bytes, too long for an accelerogram row";
            return false;
        }
        // The header, with the byte order mark if there is one.
        if (lineNumber == 1 || trimmed(line).empty()) {
            continue;
        }
        AccelerogramRow row;
        LocalTime time;
        if (const std::string problem = parseRow(line, row, time); !problem.empty()) {
            error = "'" + path + "' line " + std::to_string(lineNumber) + ": " + problem;
            return false;
        }
        if (rows.empty()) {
            accelerogram.start = time;
        }
        rows.push_back(row);
    }
    if (rows.empty()) {
        error = "'" + path + "' holds no rows after its header";
        return false;
    }
    return true;
}

} // namespace kelvora
