// kelvora-assets run as a child process, as the build runs it: the five
// backgrounds it writes are 24-bit BMP files where the program looks for
// them, the built-in pictures pixel for pixel, and nothing else is left in
// the runtime folder.
#include "monitor/BackgroundImage.h"
#include "settings/Resources.h"
#include "support/ChildProcess.h"
#include "support/Files.h"
#include "support/TemporaryFolder.h"

#include <gtest/gtest.h>

#include <QImage>

#include <cstdint>
#include <filesystem>
#include <string>

namespace kelvora::test {
namespace {

namespace fs = std::filesystem;

std::uint32_t le(const std::string& bytes, std::size_t at, int size) {
    std::uint32_t v = 0;
    for (int i = size - 1; i >= 0; --i) {
        v = (v << 8) | static_cast<unsigned char>(bytes.at(at + static_cast<std::size_t>(i)));
    }
    return v;
}

class GeneratedImages : public ::testing::Test {
protected:
    void SetUp() override {
        // A display platform named in the environment must not matter.
        ChildOptions options;
        options.environment = {{"QT_QPA_PLATFORM", "xcb"}, {"DISPLAY", ":nowhere"}};
        const ToolRun run = runTool({KELVORA_ASSETS_PATH, "--output", runtime_.string()}, options);
        ASSERT_EQ(run.exitStatus, 0) << run.err;
    }

    QString runtime() const { return QString::fromStdString(runtime_.string()); }

    TemporaryFolder folder_{"kelvora-images"};
    fs::path runtime_ = folder_ / "runtime";
};

TEST_F(GeneratedImages, AreTwentyFourBitBitmapsOfTheBuiltInBackgrounds) {
    for (int language = 0; language < 5; ++language) {
        SCOPED_TRACE(languageFolder(language).toStdString());
        const fs::path file = backgroundPath(language, runtime()).toStdString();
        ASSERT_TRUE(fs::is_regular_file(file)) << file;
        EXPECT_EQ(file, runtime_ / "Images" / "Language" / languageFolder(language).toStdString() /
                            "kelvora_bg.bmp");
        const std::string bytes = readAll(file);
        ASSERT_GT(bytes.size(), 54u);
        EXPECT_EQ(bytes.substr(0, 2), "BM");
        EXPECT_EQ(le(bytes, 2, 4), bytes.size()) << "file size in the header";
        EXPECT_EQ(le(bytes, 18, 4), 410u) << "width";
        EXPECT_EQ(le(bytes, 22, 4), 172u) << "height, bottom-up";
        EXPECT_EQ(le(bytes, 28, 2), 24u) << "bits per pixel";
        EXPECT_EQ(le(bytes, 30, 4), 0u) << "no compression";
        // Rows of 410 * 3 bytes padded to 1232.
        EXPECT_EQ(bytes.size(), le(bytes, 10, 4) + 1232u * 172u);

        const QImage written(QString::fromStdString(file.string()));
        EXPECT_EQ(written.convertToFormat(QImage::Format_RGB32), builtInBackground(language));
        EXPECT_EQ(loadBackground(language, runtime()), builtInBackground(language));
    }
}

TEST_F(GeneratedImages, NothingElseIsLeftBehind) {
    int images = 0;
    int sounds = 0;
    for (const auto& entry : fs::recursive_directory_iterator(runtime_)) {
        if (!entry.is_regular_file()) {
            continue;
        }
        const fs::path relative = fs::relative(entry.path(), runtime_);
        if (*relative.begin() == "Images") {
            EXPECT_EQ(relative.filename(), "kelvora_bg.bmp") << relative;
            ++images;
        } else if (*relative.begin() == "Sounds") {
            EXPECT_EQ(relative.extension(), ".wav") << relative;
            ++sounds;
        } else {
            ADD_FAILURE() << "unexpected " << relative;
        }
    }
    EXPECT_EQ(images, 5);
    EXPECT_EQ(sounds, 27);
}

TEST_F(GeneratedImages, AreTheSameOnEveryRun) {
    const fs::path again = folder_ / "again";
    ASSERT_EQ(runTool({KELVORA_ASSETS_PATH, "--output", again.string()}).exitStatus, 0);
    for (int language = 0; language < 5; ++language) {
        const fs::path file = backgroundPath(language, runtime()).toStdString();
        EXPECT_EQ(readAll(file), readAll(again / fs::relative(file, runtime_))) << file;
    }
}

} // namespace
} // namespace kelvora::test
