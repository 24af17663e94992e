// The per-language resources compiled from res/: that every number the
// program uses exists in every language, the variant rule (a one-variant
// resource serves every language, an unknown language is English), the
// exact texts, the menus' order, the dialog templates and their units, and
// the current language.
#include "settings/Resources.h"
#include "settings/Language.h"
#include "support/TestNames.h"

#include <gtest/gtest.h>

#include <QLocale>

#include <climits>
#include <set>
#include <string>
#include <vector>

namespace kelvora {
// Readable failures: the text itself, not its bytes.
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}
inline void PrintTo(const QRect& r, std::ostream* out) {
    *out << '(' << r.x() << ", " << r.y() << ", " << r.width() << ", " << r.height() << ')';
}
inline void PrintTo(const QSize& s, std::ostream* out) {
    *out << s.width() << " x " << s.height();
}
} // namespace kelvora

namespace kelvora::test {
namespace {

// Every language index the program may hold: the five, and values that
// behave as English.
const std::vector<int> kLanguages = {0, 1, 2, 3, 4, -1, 5, 7, INT_MIN, INT_MAX};

QString u(const char* text) {
    return QString::fromUtf8(text);
}

// What the program looks up, by kind, and in which languages each exists.
// 41000 is our own: the context menu's "Size" submenu.
const std::vector<int> kStrings = {101, 40000, 40001, 40002, 40003, 40004, 41000};
const std::vector<int> kMenus = {150, 154};
const std::vector<int> kDialogs = {100, 102, 151, 152};
const QStringList kAllFolders = {"jpn", "eng", "cht", "chs", "kor"};
const QStringList kJapaneseOnly = {"jpn"};

TEST(ResourceSet, EveryNumberResolvesInEveryLanguage) {
    for (int language : kLanguages) {
        SCOPED_TRACE("language " + std::to_string(language));
        for (int id : kStrings) {
            EXPECT_FALSE(resourceString(id, language).isEmpty()) << "string " << id;
        }
        for (int id : kMenus) {
            EXPECT_FALSE(resourceMenu(id, language).empty()) << "menu " << id;
        }
        for (int id : kDialogs) {
            const DialogTemplate dialog = resourceDialog(id, language);
            EXPECT_FALSE(dialog.isNull()) << "dialog " << id;
            EXPECT_FALSE(dialog.title.isEmpty()) << "dialog " << id;
            EXPECT_FALSE(dialog.fontFamily.isEmpty()) << "dialog " << id;
            EXPECT_GT(dialog.fontPointSize, 0) << "dialog " << id;
            EXPECT_TRUE(dialog.units.isValid() && !dialog.units.isEmpty()) << "dialog " << id;
            EXPECT_TRUE(dialog.baseUnits == QSize(7, 12) || dialog.baseUnits == QSize(6, 13))
                << "dialog " << id;
        }
        for (Message m :
             {Message::AlreadyRunning, Message::CannotOpenFile, Message::PortOpenFailed,
              Message::BufferSetupFailed, Message::PurgeFailed, Message::UartSetupFailed,
              Message::TimeoutSetupFailed, Message::EnterNumber, Message::EnterInteger,
              Message::TextTooLong, Message::TrayTip, Message::VersionLine, Message::ManualFile,
              Message::VelocityTrigger0013, Message::VelocityTrigger0020,
              Message::VelocityTrigger0100, Message::VelocityTriggerOff, Message::VelocityTriggerIs,
              Message::VelocityTriggerIsOff}) {
            EXPECT_FALSE(messageText(m, language).isEmpty()) << "message " << static_cast<int>(m);
        }
        for (int c = static_cast<int>(FaceCaption::Title);
             c <= static_cast<int>(FaceCaption::UnitPressure); ++c) {
            EXPECT_FALSE(faceCaption(static_cast<FaceCaption>(c), language).isEmpty())
                << "background caption " << c;
        }
    }
}

TEST(ResourceSet, VariantsAreExactlyThoseOfTheResourceTable) {
    struct Case {
        ResourceKind kind;
        int id;
        QStringList folders;
    };
    const std::vector<Case> cases = {
        {ResourceKind::String, 101, kAllFolders},   {ResourceKind::String, 40000, kAllFolders},
        {ResourceKind::String, 40001, kAllFolders}, {ResourceKind::String, 40002, kAllFolders},
        {ResourceKind::String, 40003, kAllFolders}, {ResourceKind::String, 40004, kAllFolders},
        {ResourceKind::String, 41000, kAllFolders}, {ResourceKind::Menu, 150, kAllFolders},
        {ResourceKind::Menu, 154, kAllFolders},     {ResourceKind::Dialog, 152, kAllFolders},
        {ResourceKind::Dialog, 100, kJapaneseOnly}, {ResourceKind::Dialog, 102, kJapaneseOnly},
        {ResourceKind::Dialog, 151, kJapaneseOnly},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(resourceFolders(c.kind, c.id), c.folders) << c.id;
    }
    // Nothing the program does not know of: a stray number is a typo.
    EXPECT_EQ(resourceIds(ResourceKind::String), kStrings);
    EXPECT_EQ(resourceIds(ResourceKind::Menu), kMenus);
    EXPECT_EQ(resourceIds(ResourceKind::Dialog), kDialogs);
    EXPECT_TRUE(resourceFolders(ResourceKind::String, 40005).isEmpty());
}

TEST(LanguageVariant, EveryOtherIndexIsEnglish) {
    const std::vector<std::pair<int, int>> cases = {{0, 0},       {1, 1},      {2, 2}, {3, 3},
                                                    {4, 4},       {-1, 1},     {5, 1}, {7, 1},
                                                    {INT_MIN, 1}, {INT_MAX, 1}};
    const QStringList folders = {"jpn", "eng", "cht", "chs", "kor"};
    for (const auto& [index, variant] : cases) {
        EXPECT_EQ(languageVariant(index), variant) << index;
        EXPECT_EQ(languageFolder(index), folders.at(variant)) << index;
        EXPECT_EQ(resourceString(40003, index), resourceString(40003, variant)) << index;
        EXPECT_EQ(resourceDialog(152, index).title, resourceDialog(152, variant).title) << index;
    }
    EXPECT_EQ(resourceString(40003, -1), u("Receive Start"));
    EXPECT_EQ(resourceMenu(150, 9).front().text, u("Show/Hide Window Frame"));
}

TEST(LanguageVariant, AOneVariantResourceServesEveryLanguage) {
    const DialogTemplate japanese = resourceDialog(151, 0);
    ASSERT_FALSE(japanese.isNull());
    EXPECT_EQ(japanese.title, u("Langage Select"));
    for (int language : kLanguages) {
        SCOPED_TRACE("language " + std::to_string(language));
        for (int id : {100, 102, 151}) {
            const DialogTemplate dialog = resourceDialog(id, language);
            const DialogTemplate stored = resourceDialog(id, 0);
            EXPECT_EQ(dialog.title, stored.title) << id;
            EXPECT_EQ(dialog.units, stored.units) << id;
            ASSERT_EQ(dialog.controls.size(), stored.controls.size()) << id;
            for (std::size_t i = 0; i < dialog.controls.size(); ++i) {
                EXPECT_EQ(dialog.controls[i].caption, stored.controls[i].caption) << id;
            }
        }
    }
}

TEST(LanguageVariant, LanguageNamesExistOnlyForTheFive) {
    const std::vector<std::pair<int, const char*>> cases = {{0, "日本語 (jpn)"},
                                                            {1, "English (eng)"},
                                                            {2, "繁體中文 (cht)"},
                                                            {3, "简体中文 (chs)"},
                                                            {4, "한국어 (kor)"},
                                                            {-1, ""},
                                                            {5, ""}};
    for (const auto& [index, name] : cases) {
        EXPECT_EQ(languageDisplayName(index), u(name)) << index;
    }
}

struct TextCase {
    int id;
    const char* texts[5]; // jpn, eng, cht, chs, kor
};

TEST(ResourceText, StringsAreExactlyAsWritten) {
    // Double spaces, the "(&A)" access keys and the trailing dots matter.
    const std::vector<TextCase> cases = {
        {101,
         {"バージョン情報 - Kelvora (&A)...", "Version Information - Kelvora (&A)...",
          "版本資訊 - Kelvora (&A)...", "版本信息 - Kelvora (&A)...",
          "버전 정보 - Kelvora (&A)..."}},
        {40000,
         {"バージョン情報 - Kelvora", "Version Information - Kelvora", "版本資訊 - Kelvora",
          "版本信息 - Kelvora", "버전 정보 - Kelvora"}},
        {40001,
         {".\\Images\\Language\\jpn\\kelvora_bg.bmp", ".\\Images\\Language\\eng\\kelvora_bg.bmp",
          ".\\Images\\Language\\cht\\kelvora_bg.bmp", ".\\Images\\Language\\chs\\kelvora_bg.bmp",
          ".\\Images\\Language\\kor\\kelvora_bg.bmp"}},
        {40002,
         {"言語選択  (Language)", "Language Select", "語言選擇  (Language)", "语言选择  (Language)",
          "언어 선택  (Language)"}},
        {40003, {"受信開始", "Receive Start", "開始接收", "开始接收", "수신 시작"}},
        {40004, {"受信停止", "Receive Stop", "停止接收", "停止接收", "수신 정지"}},
    };
    for (const TextCase& c : cases) {
        for (int language = 0; language < 5; ++language) {
            EXPECT_EQ(resourceString(c.id, language), u(c.texts[language]))
                << "string " << c.id << ", language " << language;
        }
    }
}

// The Japanese texts are those the program always had, byte for byte.
TEST(ResourceText, JapaneseMessagesStayAsTheyWere) {
    const std::vector<std::pair<Message, const char*>> cases = {
        {Message::AlreadyRunning, "このアプリは起動済みです。"},
        {Message::CannotOpenFile, "ファイルを開けません。"},
        {Message::PortOpenFailed, "指定COMポートが開けません"},
        {Message::BufferSetupFailed, "送受信バッファが初期化できません"},
        {Message::PurgeFailed, "入出力バッファをクリアできません"},
        {Message::UartSetupFailed, "UART 設定に失敗しました"},
        {Message::TimeoutSetupFailed, "待ち時間設定に失敗しました"},
        {Message::EnterNumber, "数字を入力してください。"},
        {Message::EnterInteger, "整数を入力してください。"},
        {Message::TextTooLong, "%1 文字以内で入力してください。"},
        {Message::EnterColour, "#RRGGBB の形式で入力してください。"},
        {Message::TrayTip, "Kelvora\nダブルクリックでメインウインドウを表示します"},
        {Message::VersionLine, "Kelvora, Version 1.13"},
        {Message::ManualFile, "取扱説明書.txt"},
        {Message::VelocityTrigger0013, "波形保存開始速度を、0.013以上に設定"},
        {Message::VelocityTrigger0020, "波形保存開始速度を、0.020以上に設定"},
        {Message::VelocityTrigger0100, "波形保存開始速度を、0.100以上に設定"},
        {Message::VelocityTriggerOff, "波形保存開始速度は、無効になりました"},
        {Message::VelocityTriggerIs, "波形保存開始速度は、%1以上に設定されています"},
        {Message::VelocityTriggerIsOff, "波形保存開始速度は、無効になっています"},
    };
    for (const auto& [message, text] : cases) {
        EXPECT_EQ(messageText(message, 0), u(text)) << "message " << static_cast<int>(message);
    }
    // Not words: the same in every language.
    for (int language : kLanguages) {
        EXPECT_EQ(messageText(Message::VersionLine, language), u("Kelvora, Version 1.13"));
        EXPECT_EQ(messageText(Message::ManualFile, language), u("取扱説明書.txt"));
    }
}

struct MessageCase {
    Message message;
    const char* name;
};

// Every message the program words, with its name in res/strings.json.
const MessageCase kWordedMessages[] = {
    {Message::AlreadyRunning, "already-running"},
    {Message::CannotOpenFile, "cannot-open-file"},
    {Message::PortOpenFailed, "port-open-failed"},
    {Message::BufferSetupFailed, "buffer-setup-failed"},
    {Message::PurgeFailed, "purge-failed"},
    {Message::UartSetupFailed, "uart-setup-failed"},
    {Message::TimeoutSetupFailed, "timeout-setup-failed"},
    {Message::PortUnmapped, "port-unmapped"},
    {Message::PortNoDevice, "port-no-device"},
    {Message::PortPermissionDenied, "port-permission-denied"},
    {Message::PortHeld, "port-held"},
    {Message::PortNotSerial, "port-not-serial"},
    {Message::EnterNumber, "enter-number"},
    {Message::EnterInteger, "enter-integer"},
    {Message::TextTooLong, "text-too-long"},
    {Message::EnterColour, "enter-colour"},
    {Message::TrayTip, "tray-tip"},
    {Message::VelocityTrigger0013, "velocity-trigger-0.013"},
    {Message::VelocityTrigger0020, "velocity-trigger-0.020"},
    {Message::VelocityTrigger0100, "velocity-trigger-0.100"},
    {Message::VelocityTriggerOff, "velocity-trigger-off"},
    {Message::VelocityTriggerIs, "velocity-trigger-is"},
    {Message::VelocityTriggerIsOff, "velocity-trigger-is-off"},
    {Message::AlertTitle, "alert-title"},
    {Message::AlertReadingJma, "alert-reading-jma"},
    {Message::AlertReadingMercalli, "alert-reading-mercalli"},
    {Message::AlertAt, "alert-at"},
};

struct LanguageMessageCase {
    int language;
    MessageCase message;
    std::string name;
};

void PrintTo(const LanguageMessageCase& c, std::ostream* out) {
    *out << c.name;
}

std::vector<LanguageMessageCase> languageMessageCases() {
    const char* folders[] = {"jpn", "eng", "cht", "chs", "kor"};
    std::vector<LanguageMessageCase> cases;
    for (int language = 0; language < 5; ++language) {
        for (const MessageCase& message : kWordedMessages) {
            cases.push_back(
                {language, message, std::string(folders[language]) + "_" + message.name});
        }
    }
    return cases;
}

bool hasKana(const QString& text) {
    for (const QChar c : text) {
        if (c.unicode() >= 0x3040 && c.unicode() <= 0x30FF) {
            return true;
        }
    }
    return false;
}

bool hasCjk(const QString& text) {
    for (const QChar c : text) {
        if (c.unicode() >= 0x2E80) {
            return true;
        }
    }
    return false;
}

// The %1, %2, %3 a text fills in.
std::set<int> placeholders(const QString& text) {
    std::set<int> found;
    for (qsizetype i = 0; i + 1 < text.size(); ++i) {
        if (text[i] == '%' && text[i + 1].isDigit()) {
            found.insert(text[i + 1].digitValue());
        }
    }
    return found;
}

class MessageInLanguage : public ::testing::TestWithParam<LanguageMessageCase> {};

TEST_P(MessageInLanguage, IsWrittenInItAndFillsTheSameBlanks) {
    const int language = GetParam().language;
    const Message message = GetParam().message.message;
    const QString text = messageText(message, language);
    const QString japanese = messageText(message, 0);
    ASSERT_FALSE(text.isEmpty());
    EXPECT_EQ(placeholders(text), placeholders(japanese)) << text.toStdString();
    if (language != 0) {
        EXPECT_NE(text, japanese) << "still the Japanese text";
        EXPECT_FALSE(hasKana(text)) << text.toStdString();
    }
    if (language == 1) {
        EXPECT_FALSE(hasCjk(text)) << text.toStdString();
    }
    if (message == Message::TrayTip) {
        // Two lines, within the longest tooltip every tray shows whole.
        EXPECT_EQ(text.count('\n'), 1) << text.toStdString();
        EXPECT_LE(text.size(), 127);
    }
    if (message == Message::PortPermissionDenied) {
        EXPECT_TRUE(text.contains(u("sudo adduser $USER dialout"))) << "the README's hint";
    }
}

INSTANTIATE_TEST_SUITE_P(EveryLanguage, MessageInLanguage,
                         ::testing::ValuesIn(languageMessageCases()), CaseName{});

// A menu as text: "32772 text | - | ..." with "-" for a separator.
std::string describe(const std::vector<MenuItem>& menu) {
    std::string out;
    for (const MenuItem& item : menu) {
        if (!out.empty()) {
            out += " | ";
        }
        out += item.separator ? std::string("-")
                              : std::to_string(item.command) + ' ' + item.text.toStdString();
        if (item.separator && (item.command != 0 || !item.text.isEmpty())) {
            out += "(separator with content)";
        }
    }
    return out;
}

TEST(ResourceMenu, ContextMenuOrderWithItsTwoSeparators) {
    EXPECT_EQ(describe(resourceMenu(150, 0)),
              "32772 フレーム枠の表示切り替え | 32771 移動 | - | 32774 言語 (Language) | "
              "32775 設定 | - | 32773 終了");
    EXPECT_EQ(describe(resourceMenu(150, 1)),
              "32772 Show/Hide Window Frame | 32771 Move | - | 32774 Language | "
              "32775 Settings | - | 32773 Exit");
    EXPECT_EQ(
        describe(resourceMenu(150, 4)),
        "32772 창 테두리 표시 전환 | 32771 이동 | - | 32774 언어 (Language) | 32775 설정 | - | "
        "32773 종료");
    // Every language: the same commands in the same places.
    for (int language = 0; language < 5; ++language) {
        std::vector<int> commands;
        for (const MenuItem& item : resourceMenu(150, language)) {
            commands.push_back(item.separator ? 0 : item.command);
        }
        EXPECT_EQ(commands, (std::vector<int>{32772, 32771, 0, 32774, 32775, 0, 32773}))
            << language;
    }
    EXPECT_EQ(resourceMenuTitle(150, 1), u("Settings"));
    EXPECT_EQ(resourceMenuTitle(150, 2), u("設定"));
    EXPECT_EQ(resourceMenuTitle(150, 3), u("设置"));
}

TEST(ResourceMenu, TrayMenuInEveryLanguage) {
    const std::vector<std::pair<int, const char*>> cases = {
        {0, "32777 メインウインドウを表示 | - | 32776 終了"},
        {1, "32777 Show Main Window | - | 32776 Exit"},
        {2, "32777 顯示主視窗 | - | 32776 結束"},
        {3, "32777 显示主窗口 | - | 32776 退出"},
        {4, "32777 메인 창 표시 | - | 32776 종료"},
        {-1, "32777 Show Main Window | - | 32776 Exit"},
    };
    for (const auto& [language, menu] : cases) {
        EXPECT_EQ(describe(resourceMenu(154, language)), menu) << language;
    }
    EXPECT_TRUE(resourceMenu(151, 0).empty()) << "no such menu";
}

TEST(DialogUnits, MapAsTheDialogManagerDoes) {
    const QSize mainUnits(7, 12);
    const QSize shellUnits(6, 13);
    struct Case {
        QRect units;
        QSize base;
        QRect pixels;
    };
    const std::vector<Case> cases = {
        {{0, 0, 234, 137}, mainUnits, {0, 0, 410, 206}},    // the main window: 409.5, 205.5
        {{16, 27, 55, 53}, mainUnits, {28, 41, 96, 80}},    // the class image: 40.5, 79.5
        {{172, 29, 48, 12}, mainUnits, {301, 44, 84, 18}},  // read-out 1001
        {{110, 77, 19, 12}, mainUnits, {193, 116, 33, 18}}, // read-out 1005: 192.5, 33.25
        {{56, 118, 45, 14}, mainUnits, {98, 177, 79, 21}},  // start button: 78.75
        {{0, 0, 323, 301}, shellUnits, {0, 0, 485, 489}},   // settings dialog: 484.5, 489.1
        {{-2, -1, 2, 1}, mainUnits, {-4, -2, 4, 2}},        // halves away from zero
        {{1, 1, 1, 1}, shellUnits, {2, 2, 2, 2}},           // 1.5, 1.625
    };
    for (const Case& c : cases) {
        EXPECT_EQ(dialogUnitsToPixels(c.units, c.base), c.pixels);
    }
    const DialogTemplate window = resourceDialog(102, 0);
    EXPECT_EQ(window.pixelSize(), QSize(410, 206));
    ASSERT_NE(window.control(1000), nullptr);
    EXPECT_EQ(window.pixelRect(*window.control(1000)), QRect(28, 41, 96, 80));
    ASSERT_NE(window.control(1012), nullptr);
    EXPECT_EQ(window.pixelRect(*window.control(1012)), QRect(236, 177, 79, 21));
    EXPECT_TRUE(window.control(1012)->hasStyle("disabled"));
    EXPECT_FALSE(window.control(1011)->hasStyle("disabled"));
}

TEST(DialogTemplates, MainWindowHoldsItsThirteenControls) {
    const DialogTemplate window = resourceDialog(102, 3);
    EXPECT_EQ(window.title, u("Kelvora"));
    EXPECT_EQ(window.fontFamily, u("MS UI Gothic"));
    EXPECT_EQ(window.fontPointSize, 9);
    EXPECT_EQ(window.units, QSize(234, 137));
    for (int id = 1001; id <= 1010; ++id) {
        const DialogControl* field = window.control(id);
        ASSERT_NE(field, nullptr) << id;
        EXPECT_EQ(field->kind, u("edit")) << id;
        EXPECT_TRUE(field->hasStyle("readonly") && field->hasStyle("right") &&
                    field->hasStyle("noborder"))
            << id;
    }
    EXPECT_EQ(window.control(1011)->caption, u("受信開始"));
    EXPECT_EQ(window.control(1012)->caption, u("受信停止"));
    EXPECT_EQ(window.controls.size(), 13u);
    // Both buttons lie below the 172-pixel background, inside the client area.
    for (int id : {1011, 1012}) {
        const QRect button = window.pixelRect(*window.control(id));
        EXPECT_GE(button.top(), 172) << id;
        EXPECT_LE(button.bottom(), 205) << id;
    }
}

TEST(DialogTemplates, AboutBoxAndLanguageDialog) {
    const DialogTemplate about = resourceDialog(100, 1);
    EXPECT_EQ(about.units, QSize(170, 62));
    EXPECT_EQ(about.fontFamily, u("MS UI Gothic"));
    ASSERT_NE(about.control(1), nullptr);
    EXPECT_TRUE(about.control(1)->hasStyle("default"));
    EXPECT_EQ(about.control(1)->unitsRect, QRect(113, 41, 50, 14));
    bool version = false;
    for (const DialogControl& c : about.controls) {
        version = version || (c.kind == "static" && c.caption == u("Kelvora, Version 1.13") &&
                              c.unitsRect == QRect(42, 14, 114, 8));
    }
    EXPECT_TRUE(version);

    const DialogTemplate language = resourceDialog(151, 2);
    EXPECT_EQ(language.units, QSize(227, 63));
    EXPECT_EQ(language.fontFamily, u("MS Shell Dlg"));
    EXPECT_EQ(language.fontPointSize, 8);
    ASSERT_NE(language.control(1013), nullptr);
    EXPECT_EQ(language.control(1013)->unitsRect, QRect(128, 14, 81, 30));
    EXPECT_TRUE(language.control(1013)->hasStyle("dropdownlist"));
    EXPECT_EQ(language.control(1018)->caption, u("Langage Select"));
    EXPECT_EQ(language.control(1018)->unitsRect, QRect(19, 17, 105, 8));
    EXPECT_TRUE(language.control(1)->hasStyle("default"));
    EXPECT_EQ(language.control(2)->unitsRect, QRect(134, 42, 50, 14));
}

const std::vector<int> kSettingsControls = {1,    2,    1013, 1014, 1015, 1016, 1017, 1021, 1022,
                                            1023, 1024, 1025, 1026, 1027, 1028, 1029, 1030, 1031,
                                            1032, 1033, 1034, 1035, 1036, 1037, 1038, 1039};

TEST(DialogTemplates, SettingsDialogInBothGeometries) {
    const DialogTemplate english = resourceDialog(152, 1);
    const DialogTemplate japanese = resourceDialog(152, 0);
    EXPECT_EQ(english.units, QSize(323, 301));
    EXPECT_EQ(english.fontFamily, u("MS Shell Dlg"));
    EXPECT_EQ(english.baseUnits, QSize(6, 13));
    EXPECT_EQ(japanese.units, QSize(277, 326));
    EXPECT_EQ(japanese.fontFamily, u("MS UI Gothic"));
    EXPECT_EQ(japanese.baseUnits, QSize(7, 12));
    struct Case {
        int id;
        QRect english;
        QRect japanese;
    };
    const std::vector<Case> cases = {
        {1013, {98, 19, 56, 30}, {84, 21, 48, 30}},
        {1026, {116, 63, 38, 12}, {100, 69, 33, 12}},
        {1033, {98, 236, 56, 12}, {84, 257, 49, 12}},
        {1014, {189, 20, 9, 10}, {162, 22, 9, 10}},
        {1035, {265, 21, 40, 8}, {231, 23, 25, 8}},
        // Wider than drawn for the original fonts, so the caption fits ours.
        {1037, {201, 161, 107, 8}, {173, 174, 92, 8}},
        {1025, {188, 254, 11, 9}, {161, 274, 9, 10}},
        {1, {60, 281, 50, 14}, {53, 304, 42, 15}},
        {1038, {174, 281, 101, 14}, {149, 304, 86, 15}},
    };
    for (const Case& c : cases) {
        ASSERT_NE(english.control(c.id), nullptr) << c.id;
        ASSERT_NE(japanese.control(c.id), nullptr) << c.id;
        EXPECT_EQ(english.control(c.id)->unitsRect, c.english) << c.id;
        EXPECT_EQ(japanese.control(c.id)->unitsRect, c.japanese) << c.id;
    }
    ASSERT_NE(english.labelOf(1029), nullptr);
    EXPECT_EQ(english.labelOf(1029)->unitsRect, QRect(17, 143, 74, 8));
    EXPECT_EQ(japanese.labelOf(1029)->unitsRect, QRect(15, 156, 55, 8));
    EXPECT_EQ(english.labelOf(1023)->unitsRect, QRect(203, 221, 101, 8));
    EXPECT_TRUE(english.control(1014)->hasStyle("group"));
    EXPECT_TRUE(english.control(1016)->hasStyle("group"));
    EXPECT_FALSE(english.control(1015)->hasStyle("group"));
    EXPECT_TRUE(english.control(1)->hasStyle("default"));
    EXPECT_TRUE(english.control(1013)->hasStyle("dropdownlist"));
}

TEST(DialogTemplates, SettingsDialogTextsPerLanguage) {
    struct Case {
        int language;
        QString title;
        QString save;
        QString firstGroupTitle;
        QString intensityCaption; // 1036
        QString label1031;
    };
    const std::vector<Case> cases = {
        {0, u("設定"), u("保存する"), u(" 通信設定"), u("JMA 震度階級 (日本)"),
         u("テキスト色 (無効時)")},
        {1, u("Settings"), u("Save"), u(" Communication settings"),
         u("JMA intensity scale (Japan)"), u("Text color (Disabled)")},
        {2, u("設定"), u("儲存"), u("  通訊設定"), u("JMA 地震強度等級 (日本)"),
         u("文字顏色 (停用時)")},
        {3, u("设置"), u("保存"), u("  通讯设置"), u("JMA 地震烈度等级 (日本)"),
         u("文本颜色 (禁用时)")},
        {4, u("설정"), u("저장"), u(" 통신 설정"), u("JMA 진도 계급 (일본)"),
         u("텍스트 색상 (비활성)")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("language " + std::to_string(c.language));
        const DialogTemplate dialog = resourceDialog(152, c.language);
        EXPECT_EQ(dialog.title, c.title);
        EXPECT_EQ(dialog.control(1)->caption, c.save);
        EXPECT_EQ(dialog.control(1036)->caption, c.intensityCaption);
        ASSERT_NE(dialog.labelOf(1031), nullptr);
        EXPECT_EQ(dialog.labelOf(1031)->caption, c.label1031);
        QStringList titles;
        for (const DialogControl& control : dialog.controls) {
            if (control.hasStyle("grouptitle")) {
                titles.append(control.caption);
            }
        }
        ASSERT_EQ(titles.size(), 8);
        EXPECT_EQ(titles.front(), c.firstGroupTitle);
    }
}

// The English dialog reads as English: the captions a reader stumbled on,
// as they read now.
TEST(DialogTemplates, EnglishSettingsCaptionsReadAsEnglish) {
    QStringList captions;
    for (const DialogControl& control : resourceDialog(152, 1).controls) {
        captions.append(control.caption);
    }
    for (const char* caption :
         {"Wave record start SI", "Wave record stop SI", "Auto receive start at startup",
          "Receive (for 1 sec)", "Display always on top", "Use received data (SI gal)",
          "Use received data (velocity)", " Waveform recording"}) {
        EXPECT_TRUE(captions.contains(u(caption))) << caption;
    }
    for (const QString& caption : captions) {
        for (const char* typo : {"recoad", "Receice", "receve", "in top", "data."}) {
            EXPECT_FALSE(caption.contains(u(typo))) << caption.toStdString();
        }
    }
    // And the Chinese ones say "save" and "received", not "keep" and "hosted".
    EXPECT_EQ(resourceDialog(152, 2).control(1)->caption, u("儲存"));
    EXPECT_EQ(resourceDialog(152, 3).control(1)->caption, u("保存"));
    EXPECT_EQ(resourceDialog(152, 3).labelOf(1032)->caption, u("接收次数 (1秒钟)"));
}

// Chinese and Korean keep the English geometry; only the widths of their
// texts are fitted, and no fitted text runs into the control it labels or
// out of its group box.
TEST(DialogTemplates, TranslatedSettingsKeepTheEnglishGeometry) {
    const DialogTemplate english = resourceDialog(152, 1);
    for (int language : {2, 3, 4}) {
        SCOPED_TRACE("language " + std::to_string(language));
        const DialogTemplate dialog = resourceDialog(152, language);
        EXPECT_EQ(dialog.units, english.units);
        EXPECT_EQ(dialog.baseUnits, english.baseUnits);
        EXPECT_EQ(dialog.fontFamily, english.fontFamily);
        ASSERT_EQ(dialog.controls.size(), english.controls.size());
        std::vector<QRect> boxes;
        for (std::size_t i = 0; i < dialog.controls.size(); ++i) {
            const DialogControl& c = dialog.controls[i];
            const DialogControl& e = english.controls[i];
            EXPECT_EQ(c.id, e.id);
            EXPECT_EQ(c.kind, e.kind);
            EXPECT_EQ(c.unitsRect.topLeft(), e.unitsRect.topLeft()) << c.caption.toStdString();
            EXPECT_EQ(c.unitsRect.height(), e.unitsRect.height());
            if (c.kind != "static") {
                EXPECT_EQ(c.unitsRect.width(), e.unitsRect.width()) << c.id;
            }
            if (c.kind == "groupbox") {
                boxes.push_back(c.unitsRect);
            }
        }
        for (const DialogControl& c : dialog.controls) {
            if (c.kind != "static") {
                continue;
            }
            bool inside = false;
            for (const QRect& box : boxes) {
                inside = inside || box.contains(c.unitsRect);
            }
            EXPECT_TRUE(inside) << c.caption.toStdString();
            if (c.labelFor != 0 && c.id == -1) {
                const DialogControl* target = dialog.control(c.labelFor);
                ASSERT_NE(target, nullptr);
                if (target->unitsRect.x() > c.unitsRect.x()) {
                    EXPECT_LT(c.unitsRect.right(), target->unitsRect.left())
                        << c.caption.toStdString();
                }
            }
        }
    }
}

TEST(DialogTemplates, EveryLanguageHasEveryControlOfTheSettingsDialog) {
    for (int language = 0; language < 5; ++language) {
        const DialogTemplate dialog = resourceDialog(152, language);
        std::set<int> ids;
        for (const DialogControl& c : dialog.controls) {
            if (c.id != -1) {
                EXPECT_TRUE(ids.insert(c.id).second) << "duplicate id " << c.id;
            }
        }
        EXPECT_EQ(ids, std::set<int>(kSettingsControls.begin(), kSettingsControls.end()))
            << language;
        // Each check box has its own caption beside it, none of its own.
        for (int box : {1021, 1022, 1023, 1024, 1025, 1039}) {
            EXPECT_TRUE(dialog.control(box)->caption.isEmpty()) << box;
            ASSERT_NE(dialog.labelOf(box), nullptr) << box;
            EXPECT_FALSE(dialog.labelOf(box)->caption.isEmpty()) << box;
        }
    }
}

TEST(CurrentLanguage, ApplySetsTheIndexAndTheDefaultLocale) {
    const std::vector<std::tuple<int, const char*, const char*>> cases = {
        {0, "ja_JP", "受信開始"},      {1, "en_US", "Receive Start"},
        {2, "zh_TW", "開始接收"},      {3, "zh_CN", "开始接收"},
        {4, "ko_KR", "수신 시작"},     {-1, "en_US", "Receive Start"},
        {9, "en_US", "Receive Start"}, {0, "ja_JP", "受信開始"},
    };
    for (const auto& [index, locale, start] : cases) {
        applyLanguage(index);
        EXPECT_EQ(currentLanguage(), index);
        EXPECT_EQ(QLocale().name(), u(locale)) << index;
        EXPECT_EQ(resourceString(40003), u(start)) << index;
        EXPECT_EQ(resourceMenu(150).size(), 7u);
        EXPECT_EQ(resourceDialog(152).title, resourceDialog(152, index).title);
    }
}

} // namespace
} // namespace kelvora::test
