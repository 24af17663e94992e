#pragma once

#include <filesystem>
#include <string>

namespace kelvora::assets {

// Writes the five built-in backgrounds where the program looks for its
// background files, Images/Language/<folder>/kelvora_bg.bmp below root, as
// 24-bit BMP files a user can edit or replace. Needs a QGuiApplication for
// the fonts. Returns an empty text on success, else what failed.
std::string writeRuntimeImages(const std::filesystem::path& root);

} // namespace kelvora::assets
