#include "output/OutputFolders.h"

#include "core/NativePath.h"

#include <cerrno>
#include <sys/stat.h>

namespace kelvora {

std::string accelerogramFolder(const std::string& workingFolder) {
    return workingFolder + nativePath("\\Accelerogram");
}

std::string observationFolder(const std::string& workingFolder) {
    return workingFolder + nativePath("\\Observation");
}

bool makeFolder(const char* path) {
    if (::mkdir(path, 0777) == 0) {
        return true;
    }
    if (errno != EEXIST) {
        return false;
    }
    struct stat st {};
    if (::stat(path, &st) != 0) {
        return false;
    }
    if (!S_ISDIR(st.st_mode)) {
        errno = ENOTDIR;
        return false;
    }
    return true;
}

bool createOutputFolders(const std::string& workingFolder) {
    const bool accelerograms = makeFolder(accelerogramFolder(workingFolder).c_str());
    const bool observations = makeFolder(observationFolder(workingFolder).c_str());
    return accelerograms && observations;
}

} // namespace kelvora
