// kelvora-assets: writes the generated files of the runtime folder, the
// folder Kelvora runs in: today the 27 alert and notice sounds.
#include "RuntimeSounds.h"

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
    const std::string error = kelvora::assets::writeRuntimeSounds(output);
    if (!error.empty()) {
        std::fprintf(stderr, "kelvora-assets: %s\n", error.c_str());
        return 1;
    }
    return 0;
}
