// The message each start failure shows, word for word as the sensor's users
// know it.
#include "shell/StartFailureText.h"

#include <gtest/gtest.h>

#include <string_view>
#include <utility>

namespace kelvora::test {
namespace {

TEST(StartFailureText, EachReasonHasItsOwnText) {
    const std::pair<StartFailure, std::string_view> cases[] = {
        {StartFailure::CannotOpen, "指定COMポートが開けません"},
        {StartFailure::CannotSetBuffers, "送受信バッファが初期化できません"},
        {StartFailure::CannotPurge, "入出力バッファをクリアできません"},
        {StartFailure::LineSettingsFailed, "UART 設定に失敗しました"},
        {StartFailure::TimeoutsFailed, "待ち時間設定に失敗しました"},
    };
    for (const auto& [reason, text] : cases) {
        EXPECT_EQ(startFailureText(reason), text) << static_cast<int>(reason);
    }
}

} // namespace
} // namespace kelvora::test
