#pragma once

#include <string>

namespace kelvora {

// The folders below the working folder that the recorder and the observation
// log write into.
std::string accelerogramFolder(const std::string& workingFolder);
std::string observationFolder(const std::string& workingFolder);

// Creates both when missing; false when either could not be made. The window
// does this when it opens; the writers make their own folder again when it
// has gone since (makeFolder).
bool createOutputFolders(const std::string& workingFolder);

// Makes the folder at path (not its parents) unless it is there already.
// False with errno set when it cannot be made, or ENOTDIR when something
// else stands in its place. Allocates nothing.
bool makeFolder(const char* path);

} // namespace kelvora
