#pragma once

#include <string>

namespace kelvora {

// The folders below the working folder that the recorder and the observation
// log write into.
std::string accelerogramFolder(const std::string& workingFolder);
std::string observationFolder(const std::string& workingFolder);

// Creates both when missing; false when either could not be made. The window
// does this once when it opens; the writers never create folders themselves.
bool createOutputFolders(const std::string& workingFolder);

} // namespace kelvora
