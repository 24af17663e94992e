// The manual as the build stages it beside the program: the file F1 opens.

#include "support/Files.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <string>
#include <string_view>

namespace {

using kelvora::test::readAll;

// Strict UTF-8: no stray continuation bytes, no overlong forms, no surrogates,
// nothing above U+10FFFF. Returns the offset of the first bad byte, or npos.
std::size_t firstInvalidUtf8(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        std::size_t length = 0;
        char32_t code = 0;
        char32_t smallest = 0;
        if (lead < 0x80) {
            ++i;
            continue;
        } else if ((lead & 0xE0) == 0xC0) {
            length = 2, code = lead & 0x1F, smallest = 0x80;
        } else if ((lead & 0xF0) == 0xE0) {
            length = 3, code = lead & 0x0F, smallest = 0x800;
        } else if ((lead & 0xF8) == 0xF0) {
            length = 4, code = lead & 0x07, smallest = 0x10000;
        } else {
            return i;
        }
        if (i + length > text.size()) {
            return i;
        }
        for (std::size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80) {
                return i;
            }
            code = (code << 6) | (next & 0x3F);
        }
        if (code < smallest || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
            return i;
        }
        i += length;
    }
    return std::string_view::npos;
}

// A term counts only as a whole word: "F1" must not be found inside "F10".
bool mentions(std::string_view text, std::string_view term) {
    const auto isWordByte = [](char c) {
        const auto b = static_cast<unsigned char>(c);
        return (b >= '0' && b <= '9') || (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z');
    };
    for (auto at = text.find(term); at != std::string_view::npos; at = text.find(term, at + 1)) {
        const bool startsWord = at == 0 || !isWordByte(text[at - 1]) || !isWordByte(term.front());
        const auto end = at + term.size();
        const bool endsWord =
            end == text.size() || !isWordByte(text[end]) || !isWordByte(term.back());
        if (startsWord && endsWord) {
            return true;
        }
    }
    return false;
}

// Japanese first, then the English section under a line "English".
struct Sections {
    std::string japanese;
    std::string english;
    bool found = false;
};

Sections splitSections(const std::string& text) {
    const std::string heading = "\nEnglish";
    for (auto at = text.find(heading); at != std::string::npos; at = text.find(heading, at + 1)) {
        const auto end = at + heading.size();
        if (end < text.size() && (text[end] == '\r' || text[end] == '\n')) {
            return {text.substr(0, at + 1), text.substr(end), true};
        }
    }
    return {};
}

class ManualTest : public ::testing::Test {
protected:
    void SetUp() override {
        text_ = readAll(KELVORA_MANUAL_PATH);
        ASSERT_FALSE(text_.empty()) << "no staged manual at " << KELVORA_MANUAL_PATH;
    }

    std::string text_;
};

TEST_F(ManualTest, IsUtf8WithoutByteOrderMark) {
    EXPECT_NE(text_.substr(0, 3), "\xEF\xBB\xBF");
    const auto bad = firstInvalidUtf8(text_);
    EXPECT_EQ(bad, std::string_view::npos)
        << "invalid UTF-8 at byte " << bad << ": "
        << text_.substr(bad == std::string_view::npos ? 0 : bad, 16);
}

TEST_F(ManualTest, EveryLineEndsInCrLf) {
    ASSERT_GE(text_.size(), 2u);
    EXPECT_EQ(text_.substr(text_.size() - 2), "\r\n") << "the last line has no CR LF";
    std::size_t line = 1;
    for (std::size_t i = 0; i < text_.size(); ++i) {
        if (text_[i] == '\n') {
            ASSERT_TRUE(i > 0 && text_[i - 1] == '\r') << "bare LF ending line " << line;
            ++line;
        } else if (text_[i] == '\r') {
            ASSERT_TRUE(i + 1 < text_.size() && text_[i + 1] == '\n') << "bare CR in line " << line;
        }
    }
}

TEST_F(ManualTest, JapaneseSectionComesFirstThenEnglish) {
    const auto parts = splitSections(text_);
    ASSERT_TRUE(parts.found) << "no line \"English\" starts the English section";
    // Words of the running text, not of names the program shows in both.
    EXPECT_TRUE(mentions(parts.japanese, "受信を開始します"));
    EXPECT_TRUE(mentions(parts.japanese, "設定ダイアログを開きます"));
    EXPECT_TRUE(mentions(parts.english, "start reception"));
    EXPECT_TRUE(mentions(parts.english, "open the settings dialog"));
    EXPECT_FALSE(mentions(parts.english, "受信を開始します"));
}

// Each section stands on its own: a reader of either finds every key, every
// file and every message the program shows (in Japanese in every language).
TEST_F(ManualTest, EachSectionNamesEveryKeyFileAndMessage) {
    const std::string_view required[] = {
        // keys
        "F1", "F2", "F3", "F4", "F8", "F9", "Escape", "Ctrl+Alt+V", "Ctrl+Alt+S",
        // files, links and the shared block
        "取扱説明書.txt", "Accelerogram/YYYYMMDD-hhmmss.csv", "Observation/YYYYMMDD.txt",
        "~/.config/Vantrell/", "~/.local/share/Vantrell/Kelvora/ports/COM5",
        "/dev/shm/KELVORA_GAL_READ_MEM_110", "include/kelvora/publication_block.h", "kelvora-shm",
        "kelvora-sim", "Sounds/SiAlert/01.wav", "Sounds/SiNotice/jma_01.wav",
        "Sounds/SiNotice/mmi_01.wav",
        // where an installed Kelvora keeps its files, and the working folder of each user
        "<prefix>/bin/kelvora", "<prefix>/share/kelvora/", "com.vantrell.kelvora.desktop",
        "~/.local/share/Vantrell/Kelvora/", "$XDG_DATA_HOME/Vantrell/Kelvora/",
        "~/.config/Vantrell/kelvora.conf", "[Receive]", "Reconnect=0", "[Alert]", "NotifyClass=3",
        "RaiseWindow=1", "[Display]", "Scale=200",
        // Linux devices and the group that may open them
        "/dev/ttyUSB0", "COM33", "sudo adduser $USER dialout",
        // the accelerogram header, byte for byte
        "日付,時間,ms, 震度, 合成GAL(フィルタ有), X軸(E-W), Y軸(N-S), Z軸(U-D), 合成速度",
        // messages
        "指定COMポートが開けません", "送受信バッファが初期化できません",
        "入出力バッファをクリアできません", "UART 設定に失敗しました", "待ち時間設定に失敗しました",
        "このアプリは起動済みです。", "ファイルを開けません。", "数字を入力してください。",
        "整数を入力してください。", "#RRGGBB の形式で入力してください。",
        "波形保存開始速度を、0.013以上に設定", "波形保存開始速度を、0.020以上に設定",
        "波形保存開始速度を、0.100以上に設定", "波形保存開始速度は、無効になりました",
        "波形保存開始速度は、    0.013以上に設定されています",
        "波形保存開始速度は、無効になっています", "ダブルクリックでメインウインドウを表示します",
        "メインウインドウを表示"};
    const auto parts = splitSections(text_);
    ASSERT_TRUE(parts.found) << "no line \"English\" starts the English section";
    for (const auto& [name, section] :
         {std::pair{"Japanese", &parts.japanese}, std::pair{"English", &parts.english}}) {
        for (const auto term : required) {
            EXPECT_TRUE(mentions(*section, term)) << name << " section lacks: " << term;
        }
    }
}

} // namespace
