#pragma once

#include "link/StartFailure.h"

#include <string_view>

namespace kelvora {

// The message box text of a failed reception start (UTF-8). The same
// Japanese text in every interface language, as the sensor's users know it.
std::string_view startFailureText(StartFailure reason);

} // namespace kelvora
