// Where the program keeps the files it writes for itself (the DATA folder and
// the skin files): beside the program in a portable folder install, in the
// user's XDG folders when the program sits in a system folder.
#pragma once

#include <string>
#include <vector>

namespace vellumar {

// The XDG base folders of the current user, each an absolute path.
struct UserFolders {
    std::string dataHome;    // $XDG_DATA_HOME or ~/.local/share
    std::string configHome;  // $XDG_CONFIG_HOME or ~/.config
    std::string cacheHome;   // $XDG_CACHE_HOME or ~/.cache
    std::string runtimeDir;  // $XDG_RUNTIME_DIR; empty when unset or not private

    static UserFolders FromEnvironment();
};

struct FilePlaces {
    bool portable = true;
    std::string base;        // stands for the program's folder: DATA lives here
    std::string skinData;    // folder of vskin.dat
    std::string privateDir;  // a folder only this user can reach, for the skin module
};

// True in a build configured for a system-wide install: its files always go
// to the per-user places, even when run by a user who could write /usr/bin.
bool SystemInstall();

FilePlaces ChooseFilePlaces(const std::string& programDir, bool portable,
                            const UserFolders& user);
// The places of a program living in `programDir`: portable when the folder is
// writable and the build is not a system install.
FilePlaces PlacesFor(const std::string& programDir);

// mkdir -p: missing folders are made with `mode`; true when `dir` is a folder
// afterwards, and the folders made are added to `made`. On failure errno says
// why and no folder made on the way is left.
bool MakeDirectories(const std::string& dir, unsigned mode,
                     std::vector<std::string>* made = nullptr);

// Removes the folders of `made` that are empty, deepest first.
void RemoveEmptyFolders(const std::vector<std::string>& made);

// Makes `dir` if needed and checks that it is a real folder (not a link) owned
// by this user with no access for anyone else, tightening its mode if it is
// ours; false when it cannot be made private.
bool MakePrivateFolder(const std::string& dir);

}  // namespace vellumar
