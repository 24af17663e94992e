#include "shell/WorkingFolder.h"

#include <ostream>
#include <string>

namespace kelvora {

namespace fs = std::filesystem;

namespace {

// Copies beside the target and renames into place, so a start cut short
// never leaves a truncated file that later starts would take for the user's.
bool copyOneFile(const fs::path& source, const fs::path& target, std::error_code& error) {
    const fs::path partial = target.parent_path() / ("." + target.filename().string() + ".part");
    std::error_code ignored;
    if (!fs::copy_file(source, partial, fs::copy_options::overwrite_existing, error)) {
        fs::remove(partial, ignored);
        return false;
    }
    fs::rename(partial, target, error);
    if (error) {
        fs::remove(partial, ignored);
        return false;
    }
    return true;
}

} // namespace

bool holdsRuntimeData(const fs::path& folder) {
    std::error_code error;
    return fs::is_directory(folder / "Sounds", error) && fs::is_directory(folder / "Images", error);
}

bool copyMissingFiles(const fs::path& from, const fs::path& to, std::error_code& error) {
    error.clear();
    if (!fs::is_directory(from, error)) {
        if (!error) {
            error = std::make_error_code(std::errc::not_a_directory);
        }
        return false;
    }
    fs::create_directories(to, error);
    if (error) {
        return false;
    }
    fs::recursive_directory_iterator entry(from, error);
    for (; !error && entry != fs::recursive_directory_iterator(); entry.increment(error)) {
        const fs::path target = to / entry->path().lexically_relative(from);
        const fs::file_status source = entry->status(error);
        if (error) {
            return false;
        }
        if (fs::is_directory(source)) {
            // A file where the folder belongs is the user's: it fails here.
            fs::create_directories(target, error);
        } else if (fs::is_regular_file(source)) {
            const fs::file_status existing = fs::symlink_status(target, error);
            if (existing.type() == fs::file_type::not_found) {
                error.clear();
                copyOneFile(entry->path(), target, error);
            }
        }
        if (error) {
            return false;
        }
    }
    return !error;
}

fs::path enterWorkingFolder(WorkingFolder& platform, std::ostream& log) {
    const WorkingFolderPlaces places = platform.places();
    if (holdsRuntimeData(places.current) || places.installedData.empty() ||
        places.userFolder.empty() || !holdsRuntimeData(places.installedData)) {
        return places.current;
    }
    std::error_code error;
    if (!copyMissingFiles(places.installedData, places.userFolder, error)) {
        log << "kelvora: cannot prepare the working folder " << places.userFolder.string() << " ("
            << error.message() << "); working in " << places.current.string() << "\n";
        return places.current;
    }
    if (!platform.enter(places.userFolder)) {
        log << "kelvora: cannot enter the working folder " << places.userFolder.string()
            << "; working in " << places.current.string() << "\n";
        return places.current;
    }
    return places.userFolder;
}

} // namespace kelvora
