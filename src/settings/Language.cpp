#include "settings/Language.h"

#include "settings/Resources.h"

#include <QLocale>

#include <atomic>

namespace kelvora {

namespace {

// One writer, the user-interface thread; any thread may read it.
std::atomic<int> current{0};

QLocale localeOf(int languageIndex) {
    switch (languageVariant(languageIndex)) {
    case 0:
        return QLocale(QLocale::Japanese, QLocale::Japan);
    case 2:
        return QLocale(QLocale::Chinese, QLocale::TraditionalChineseScript, QLocale::Taiwan);
    case 3:
        return QLocale(QLocale::Chinese, QLocale::SimplifiedChineseScript, QLocale::China);
    case 4:
        return QLocale(QLocale::Korean, QLocale::SouthKorea);
    default:
        return QLocale(QLocale::English, QLocale::UnitedStates);
    }
}

} // namespace

void applyLanguage(int languageIndex) {
    current.store(languageIndex, std::memory_order_relaxed);
    QLocale::setDefault(localeOf(languageIndex));
}

int currentLanguage() {
    return current.load(std::memory_order_relaxed);
}

} // namespace kelvora
