#include "settings/QtSettingsStore.h"

#include <limits>

namespace kelvora {

namespace {
QString keyOf(std::string_view section, std::string_view entry) {
    return QString::fromUtf8(section.data(), static_cast<qsizetype>(section.size())) + '/' +
           QString::fromUtf8(entry.data(), static_cast<qsizetype>(entry.size()));
}
} // namespace

QtSettingsStore::QtSettingsStore(const QString& application)
    : settings_(QSettings::NativeFormat, QSettings::UserScope, kOrganisation, application) {}

std::int32_t QtSettingsStore::readInt(std::string_view section, std::string_view entry,
                                      std::int32_t defaultValue) {
    const QVariant value = settings_.value(keyOf(section, entry));
    if (!value.isValid()) {
        return defaultValue;
    }
    bool ok = false;
    const qlonglong number = value.toLongLong(&ok);
    if (!ok || number < std::numeric_limits<std::int32_t>::min() ||
        number > std::numeric_limits<std::int32_t>::max()) {
        return defaultValue;
    }
    return static_cast<std::int32_t>(number);
}

void QtSettingsStore::writeInt(std::string_view section, std::string_view entry,
                               std::int32_t value) {
    settings_.setValue(keyOf(section, entry), value);
}

} // namespace kelvora
