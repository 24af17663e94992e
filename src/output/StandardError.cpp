#include "output/StandardError.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace kelvora {

void sayOnStandardError(const char* format, ...) {
    constexpr char kPrefix[] = "kelvora: ";
    char line[1024];
    std::memcpy(line, kPrefix, sizeof kPrefix - 1);
    std::size_t length = sizeof kPrefix - 1;
    va_list arguments;
    va_start(arguments, format);
    const int written = std::vsnprintf(line + length, sizeof line - length - 1, format, arguments);
    va_end(arguments);
    if (written > 0) {
        length += std::min(static_cast<std::size_t>(written), sizeof line - length - 2);
    }
    line[length++] = '\n';
    [[maybe_unused]] const auto done = ::write(STDERR_FILENO, line, length);
}

} // namespace kelvora
