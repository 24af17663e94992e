#include "monitor/Fonts.h"

#include "settings/Resources.h"

#include <QStringList>

namespace kelvora {

namespace {

const QString kSans = QStringLiteral("Liberation Sans");
const QString kMono = QStringLiteral("Liberation Mono");
const QString kCjk = QStringLiteral("Noto Sans CJK JP");
const QString kCjkMono = QStringLiteral("Noto Sans Mono CJK JP");

void substitute(const QString& family, const QStringList& substitutes) {
    // insertSubstitutions appends: start afresh so a second call adds nothing.
    QFont::removeSubstitutions(family);
    QFont::insertSubstitutions(family, substitutes);
}

} // namespace

void installFontSubstitutions() {
    substitute(QStringLiteral("MS UI Gothic"), {kCjk, kSans});
    substitute(QString::fromUtf8("ＭＳ ゴシック"), {kCjkMono, kMono, kCjk});
    substitute(QStringLiteral("MS Shell Dlg"), {kSans, kCjk});
    substitute(QStringLiteral("Arial"), {kSans, kCjk});
    substitute(QStringLiteral("Courier New"), {kMono, kCjkMono});
}

QString cjkFontFamily(int languageIndex) {
    switch (languageVariant(languageIndex)) {
    case 2:
        return QStringLiteral("Noto Sans CJK TC");
    case 3:
        return QStringLiteral("Noto Sans CJK SC");
    case 4:
        return QStringLiteral("Noto Sans CJK KR");
    default:
        return kCjk;
    }
}

QFont languageFont(const QString& family, double pointSize, int languageIndex) {
    QFont font;
    font.setFamilies({family, cjkFontFamily(languageIndex)});
    font.setPointSizeF(pointSize);
    return font;
}

} // namespace kelvora
