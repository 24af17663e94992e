#pragma once

#include "shell/WorkingFolder.h"

namespace kelvora {

// The working folder's places on Linux. The installed runtime data is found
// from the program's own path (/proc/self/exe), so a prefix that was moved
// as a whole still finds its data; the per-user folder is the one the COM
// port links live in.
class LinuxWorkingFolder final : public WorkingFolder {
public:
    WorkingFolderPlaces places() const override;
    bool enter(const std::filesystem::path& folder) override;

    // <the program's folder>/<dataFromProgram>, normalised; empty when the
    // program's path cannot be read.
    static std::filesystem::path installedData(const std::filesystem::path& dataFromProgram);
    // The per-user data folder the COM port links live in
    // (PortMap::userDataFolder); empty when the environment names none.
    static std::filesystem::path userFolder();
};

} // namespace kelvora
