#include "shell/StartFailureText.h"

namespace kelvora {

std::string_view startFailureText(StartFailure reason) {
    switch (reason) {
    case StartFailure::CannotOpen:
        return "指定COMポートが開けません";
    case StartFailure::CannotSetBuffers:
        return "送受信バッファが初期化できません";
    case StartFailure::CannotPurge:
        return "入出力バッファをクリアできません";
    case StartFailure::LineSettingsFailed:
        return "UART 設定に失敗しました";
    case StartFailure::TimeoutsFailed:
        return "待ち時間設定に失敗しました";
    }
    return {};
}

} // namespace kelvora
