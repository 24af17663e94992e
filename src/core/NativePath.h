#pragma once

#include <string>
#include <string_view>

namespace kelvora {

// The program's own path texts use the backslash (".\Sounds\SiAlert\01.wav",
// "\Accelerogram"); this turns one into the platform's form.
inline std::string nativePath(std::string_view text) {
    std::string path(text);
#ifndef _WIN32
    for (char& c : path) {
        if (c == '\\') {
            c = '/';
        }
    }
#endif
    return path;
}

} // namespace kelvora
