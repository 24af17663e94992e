#pragma once

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace kelvora::test {

// The whole file as bytes; empty when it cannot be read.
inline std::string readAll(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

} // namespace kelvora::test
