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
    // $XDG_DATA_HOME/Vantrell/Kelvora (an absolute XDG_DATA_HOME only),
    // else $HOME/.local/share/Vantrell/Kelvora; empty without either.
    static std::filesystem::path userFolder();
};

} // namespace kelvora
