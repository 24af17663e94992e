// kelvora-assets: writes the generated files of the runtime folder, the
// folder Kelvora runs in: the 27 alert and notice sounds and the five
// background images.
#include "RuntimeSounds.h"

#ifdef KELVORA_ASSETS_IMAGES
#include "RuntimeImages.h"

#include <QGuiApplication>
#endif

#include <cstdio>
#include <cstring>
#include <string>

namespace {

const char* const kUsage =
    "Usage: kelvora-assets --output DIR\n"
    "Writes the files Kelvora reads from its working folder, made from scratch:\n"
    "  DIR/Sounds/SiAlert/01.wav ... 09.wav          alert sounds of classes 1 to 9\n"
    "  DIR/Sounds/SiNotice/jma_01.wav ... jma_09.wav notice sounds, JMA scale\n"
    "  DIR/Sounds/SiNotice/mmi_01.wav ... mmi_09.wav notice sounds, Mercalli scale\n"
#ifdef KELVORA_ASSETS_IMAGES
    "  DIR/Images/Language/jpn/kelvora_bg.bmp        the backgrounds of the five\n"
    "      ... eng, cht, chs, kor                    languages, 24-bit BMP\n"
#endif
    "Folders are created as needed; existing files are replaced.\n";

} // namespace

int main(int argc, char** argv) {
    const char* output = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (std::strcmp(argv[i], "--output") == 0 && i + 1 < argc && argv[i + 1][0] != '\0') {
            output = argv[++i];
            continue;
        }
        std::fprintf(stderr, "kelvora-assets: unexpected argument '%s'\n%s", argv[i], kUsage);
        return 2;
    }
    if (output == nullptr) {
        std::fprintf(stderr, "kelvora-assets: --output DIR is required\n%s", kUsage);
        return 2;
    }
    std::string error = kelvora::assets::writeRuntimeSounds(output);
#ifdef KELVORA_ASSETS_IMAGES
    if (error.empty()) {
        // Fonts need a QGuiApplication, and that a platform. The images are
        // drawn off screen, so a build without a display (or with
        // QT_QPA_PLATFORM naming one that is not there) still makes them.
        qputenv("QT_QPA_PLATFORM", "offscreen");
        // Qt's notes about the session (no XDG_RUNTIME_DIR in a build) are
        // no concern of a build step; only its failures are.
        qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& text) {
            if (type == QtCriticalMsg || type == QtFatalMsg) {
                std::fprintf(stderr, "kelvora-assets: %s\n", qPrintable(text));
            }
        });
        int qtArgc = 1;
        char* qtArgv[] = {argv[0], nullptr};
        QGuiApplication application(qtArgc, qtArgv);
        error = kelvora::assets::writeRuntimeImages(output);
    }
#endif
    if (!error.empty()) {
        std::fprintf(stderr, "kelvora-assets: %s\n", error.c_str());
        return 1;
    }
    return 0;
}
