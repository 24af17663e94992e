#pragma once

#include <filesystem>
#include <iosfwd>
#include <system_error>

namespace kelvora {

// The folder the program works in: it reads Sounds/, Images/ and the manual
// from there and writes Observation/ and Accelerogram/ below it.
//
// A program started where the runtime data is (the build's runtime folder,
// the demo, the tests) works there, as it always has. An installed program
// started from a desktop menu finds no runtime data in its current directory
// (the home folder or "/"): it then works in the user's data folder, which it
// fills from the installed runtime data with the files it lacks.

// What the choice needs to know of the system.
struct WorkingFolderPlaces {
    std::filesystem::path current;
    // The installed runtime data that belongs to this program; empty when
    // there is none.
    std::filesystem::path installedData;
    // The per-user working folder; empty when the environment names none.
    std::filesystem::path userFolder;
};

// The platform's part of the choice.
class WorkingFolder {
public:
    virtual ~WorkingFolder() = default;
    virtual WorkingFolderPlaces places() const = 0;
    // Makes `folder` the current directory; false when it cannot.
    virtual bool enter(const std::filesystem::path& folder) = 0;
};

// Whether `folder` holds runtime data: its Sounds and Images folders.
bool holdsRuntimeData(const std::filesystem::path& folder);

// Copies every file below `from` that `to` lacks, creating the folders on
// the way. A file `to` already has, whatever it holds, is never replaced: the
// user may have put a sound of their own there. False at the first failure,
// with the reason in `error`.
bool copyMissingFiles(const std::filesystem::path& from, const std::filesystem::path& to,
                      std::error_code& error);

// Chooses the working folder, prepares it and makes it the current
// directory; returns the folder the program works in. A failure is told in
// one line on `log`, and the program stays in its current directory.
std::filesystem::path enterWorkingFolder(WorkingFolder& platform, std::ostream& log);

} // namespace kelvora
