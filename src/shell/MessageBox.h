#pragma once

#include <QString>

class QWidget;

namespace kelvora {

// The program's title; the caption of its message boxes.
inline constexpr const char* kApplicationTitle = "Kelvora";

// A modal message box with one OK button and the program's title, above
// `parent` (stay-on-top when its window is).
void showMessageBox(QWidget* parent, const QString& text);

} // namespace kelvora
