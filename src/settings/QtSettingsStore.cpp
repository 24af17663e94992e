#include "settings/QtSettingsStore.h"

#include <QFile>
#include <QStandardPaths>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <limits>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kelvora {

namespace {

constexpr const char* kNotRegular = "not a regular file";

QString keyOf(std::string_view section, std::string_view entry) {
    return QString::fromUtf8(section.data(), static_cast<qsizetype>(section.size())) + '/' +
           QString::fromUtf8(entry.data(), static_cast<qsizetype>(entry.size()));
}

std::string errnoText(int error) {
    return std::strerror(error);
}

// Why the file cannot be read; empty when it can, or is not there yet. Only
// a regular file is opened: a FIFO would block, a device could act on it.
std::string readProblem(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        return errno == ENOENT ? std::string() : errnoText(errno);
    }
    if (S_ISDIR(info.st_mode)) {
        return errnoText(EISDIR);
    }
    if (!S_ISREG(info.st_mode)) {
        return kNotRegular;
    }
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        return errnoText(errno);
    }
    ::close(fd);
    return {};
}

// Why the file cannot be written, found after QSettings failed to, which
// does not say; empty when nothing stands in the way. QSettings replaces
// the file through a new one (and a lock file) in its folder.
std::string writeProblem(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0) {
        if (S_ISDIR(info.st_mode)) {
            return errnoText(EISDIR);
        }
        if (!S_ISREG(info.st_mode)) {
            return kNotRegular;
        }
        const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NONBLOCK);
        if (fd < 0) {
            return errnoText(errno);
        }
        ::close(fd);
    } else if (errno != ENOENT) {
        return errnoText(errno);
    }
    const std::filesystem::path folder = std::filesystem::path(path).parent_path();
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error) {
        return error.message();
    }
    if (::access(folder.c_str(), W_OK | X_OK) != 0) {
        return errnoText(errno);
    }
    return {};
}

} // namespace

QString QtSettingsStore::fileNameFor(const QString& application) {
    // Where QSettings puts the native user file of Vantrell/<application>.
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + '/' +
           QLatin1String(kOrganisation) + '/' + application + QStringLiteral(".conf");
}

QtSettingsStore::QtSettingsStore(const QString& application, std::ostream& log)
    : fileName_(fileNameFor(application)), log_(log) {
    const std::string path = QFile::encodeName(fileName_).toStdString();
    unusable_ = readProblem(path);
    if (!unusable_.empty()) {
        log_ << "kelvora: cannot read the settings file " << path << " (" << unusable_
             << "); using the defaults, and the settings will not be saved\n";
        return;
    }
    // The file alone: QSettings' search path would also read the folder's
    // Vantrell.conf and the system's copies, each of which could block too.
    settings_.emplace(fileName_, QSettings::NativeFormat);
    // Sections are parsed on first use: all of them now, so damage shows.
    settings_->allKeys();
    if (settings_->status() == QSettings::FormatError) {
        log_ << "kelvora: the settings file " << path
             << " is damaged; what cannot be read takes its default\n";
    }
}

QtSettingsStore::~QtSettingsStore() {
    flush();
}

std::int32_t QtSettingsStore::readInt(std::string_view section, std::string_view entry,
                                      std::int32_t defaultValue) {
    if (!settings_) {
        return defaultValue;
    }
    const QVariant value = settings_->value(keyOf(section, entry));
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
    pending_ = true;
    if (settings_) {
        settings_->setValue(keyOf(section, entry), value);
    }
}

void QtSettingsStore::flush() {
    if (!pending_) {
        return;
    }
    pending_ = false;
    const std::string path = QFile::encodeName(fileName_).toStdString();
    std::string reason = unusable_;
    if (settings_) {
        settings_->sync();
        // A damage found on reading stays the status after a good write.
        if (settings_->status() == QSettings::NoError) {
            return;
        }
        reason = writeProblem(path);
        if (reason.empty()) {
            if (settings_->status() != QSettings::AccessError) {
                return;
            }
            reason = "the write failed";
        }
    }
    log_ << "kelvora: cannot write the settings file " << path << " (" << reason
         << "); the settings of this session are not saved\n";
}

} // namespace kelvora
