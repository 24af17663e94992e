#pragma once

#include <QFont>
#include <QString>

namespace kelvora {

// The program asks for fonts by the names its templates and drawing use:
// "MS UI Gothic", "ＭＳ ゴシック", "MS Shell Dlg", "Arial", "Courier New".
// This maps each to installed fonts: Noto Sans CJK JP and Noto Sans Mono
// CJK JP (fonts-noto-cjk), Liberation Sans and Liberation Mono
// (fonts-liberation2), with a CJK font after each Latin one so Japanese
// texts never show missing-glyph boxes. Call once, after the
// QGuiApplication exists; calling again changes nothing.
void installFontSubstitutions();

// The Noto Sans CJK family whose glyph forms suit the language: "Noto Sans
// CJK JP" for Japanese, "... TC", "... SC", "... KR" for Traditional and
// Simplified Chinese and Korean; JP for English and any other index, whose
// only CJK texts are the Japanese ones.
QString cjkFontFamily(int languageIndex);

// `family` at `pointSize`, falling back to the language's CJK family for
// the characters it lacks, so that Han characters take the language's
// regional forms (a dialog template's "MS Shell Dlg" in Traditional Chinese
// draws its Chinese with Noto Sans CJK TC, not JP).
QFont languageFont(const QString& family, double pointSize, int languageIndex);

} // namespace kelvora
