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

namespace {
bool makeFolder(const std::string& path) {
    if (::mkdir(path.c_str(), 0777) == 0) {
        return true;
    }
    struct stat st {};
    return errno == EEXIST && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}
} // namespace

bool createOutputFolders(const std::string& workingFolder) {
    const bool accelerograms = makeFolder(accelerogramFolder(workingFolder));
    const bool observations = makeFolder(observationFolder(workingFolder));
    return accelerograms && observations;
}

} // namespace kelvora
