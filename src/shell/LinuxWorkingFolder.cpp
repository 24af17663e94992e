#include "shell/LinuxWorkingFolder.h"

#include "link/PortMap.h"

// Where the installed runtime data lies relative to the installed program:
// the build passes the relative path between its install folders.
#ifndef KELVORA_INSTALLED_DATA_FROM_PROGRAM
#error "KELVORA_INSTALLED_DATA_FROM_PROGRAM is set by src/shell/CMakeLists.txt"
#endif

namespace kelvora {

namespace fs = std::filesystem;

fs::path LinuxWorkingFolder::installedData(const fs::path& dataFromProgram) {
    std::error_code error;
    const fs::path program = fs::read_symlink("/proc/self/exe", error);
    if (error || program.empty()) {
        return {};
    }
    return (program.parent_path() / dataFromProgram).lexically_normal();
}

fs::path LinuxWorkingFolder::userFolder() {
    return PortMap::userDataFolder();
}

WorkingFolderPlaces LinuxWorkingFolder::places() const {
    std::error_code error;
    WorkingFolderPlaces places;
    places.current = fs::current_path(error);
    places.installedData = installedData(KELVORA_INSTALLED_DATA_FROM_PROGRAM);
    places.userFolder = userFolder();
    return places;
}

bool LinuxWorkingFolder::enter(const fs::path& folder) {
    std::error_code error;
    fs::current_path(folder, error);
    return !error;
}

} // namespace kelvora
