#pragma once

#include "settings/SettingsStore.h"

#include <QSettings>
#include <QString>

#include <iostream>
#include <optional>
#include <string>

namespace kelvora {

// The store in the user's configuration folder:
// $XDG_CONFIG_HOME/Vantrell/<application>.conf, one group per section.
//
// A file that cannot be read (no permission, a folder or a FIFO in its
// place, `Vantrell` a file) is left alone: every entry reads as its default
// and nothing is written to it. What goes wrong is told on `log`, one line
// each: at construction when the file cannot be read or is damaged, at flush
// when it cannot be written.
class QtSettingsStore final : public SettingsStore {
public:
    static constexpr const char* kOrganisation = "Vantrell";

    // application: the program's executable name without extension.
    explicit QtSettingsStore(const QString& application, std::ostream& log = std::cerr);
    ~QtSettingsStore() override;
    QtSettingsStore(const QtSettingsStore&) = delete;
    QtSettingsStore& operator=(const QtSettingsStore&) = delete;

    std::int32_t readInt(std::string_view section, std::string_view entry,
                         std::int32_t defaultValue) override;
    void writeInt(std::string_view section, std::string_view entry, std::int32_t value) override;
    // Writes pending values out (the destructor does too).
    void sync() { flush(); }
    void flush() override;
    QString fileName() const { return fileName_; }

    // The file the store of `application` keeps, without opening it.
    static QString fileNameFor(const QString& application);

private:
    QString fileName_;
    std::ostream& log_;
    // Why the file is left alone; empty when it is in use.
    std::string unusable_;
    // Only for a usable file: QSettings would block on a FIFO for ever.
    std::optional<QSettings> settings_;
    bool pending_ = false; // written to since the last flush
};

} // namespace kelvora
