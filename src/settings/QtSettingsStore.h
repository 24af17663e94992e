#pragma once

#include "settings/SettingsStore.h"

#include <QSettings>
#include <QString>

namespace kelvora {

// The store in the user's configuration folder:
// $XDG_CONFIG_HOME/Vantrell/<application>.conf, one group per section.
class QtSettingsStore final : public SettingsStore {
public:
    static constexpr const char* kOrganisation = "Vantrell";

    // application: the program's executable name without extension.
    explicit QtSettingsStore(const QString& application);

    std::int32_t readInt(std::string_view section, std::string_view entry,
                         std::int32_t defaultValue) override;
    void writeInt(std::string_view section, std::string_view entry, std::int32_t value) override;
    // Writes pending values out (the destructor does too).
    void sync() { settings_.sync(); }
    void flush() override { sync(); }
    QString fileName() const { return settings_.fileName(); }

private:
    QSettings settings_;
};

} // namespace kelvora
