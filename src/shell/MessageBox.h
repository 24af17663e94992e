#pragma once

#include "link/StartFailure.h"

#include <QString>

class QWidget;

namespace kelvora {

// The program's title; the caption of its message boxes.
inline constexpr const char* kApplicationTitle = "Kelvora";

// A modal message box with one OK button and the program's title, above
// `parent` (stay-on-top when its window is).
void showMessageBox(QWidget* parent, const QString& text);

// The start-failure message for a port that did not open, in a language:
// the plain message, then a line naming the port, its device and the cause.
QString portOpenFailureText(const PortOpenFailure& failure, int languageIndex);

} // namespace kelvora
