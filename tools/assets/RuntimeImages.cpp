#include "RuntimeImages.h"

#include "monitor/BackgroundImage.h"

#include <QFile>
#include <QImage>
#include <QString>

#include <system_error>

namespace kelvora::assets {

std::string writeRuntimeImages(const std::filesystem::path& root) {
    const QString folder = QString::fromStdString(root.string());
    for (int language = 0; language < 5; ++language) {
        // The very path the program reads, from the same string 40001.
        const std::filesystem::path path = backgroundPath(language, folder).toStdString();
        std::error_code error;
        std::filesystem::create_directories(path.parent_path(), error);
        if (error) {
            return "cannot create " + path.parent_path().string() + ": " + error.message();
        }
        // Three bytes a pixel: Qt writes a 24-bit BMP for an image without alpha.
        const QImage image = builtInBackground(language).convertToFormat(QImage::Format_RGB888);
        std::filesystem::path partial = path;
        partial += ".part";
        if (!image.save(QString::fromStdString(partial.string()), "BMP")) {
            std::filesystem::remove(partial, error);
            return "cannot write " + path.string();
        }
        std::filesystem::rename(partial, path, error);
        if (error) {
            std::filesystem::remove(partial, error);
            return "cannot write " + path.string();
        }
    }
    return {};
}

} // namespace kelvora::assets
