// Where a save lands and how it replaces what is there: a temporary file
// beside the name, which keeps the permission bits of the file it replaces,
// the rename over the name (a symbolic link is replaced, never written
// through), and texts that say why a step failed.
#pragma once

#include <functional>
#include <string>

// Whether `file` may be replaced by a save: nothing there, a regular file or a
// symbolic link (the link itself is replaced). False otherwise, with the
// reason in `why` ("cannot replace the output file: Is a directory").
bool VxReplaceable(const std::string& file, std::string& why);

// A new empty file in the folder of `file` (a short name, so every name the
// file system takes for `file` itself works), open for writing and locked
// (flock) until it is closed, so that VxRemoveDeadTemporaries can tell it is
// in use. It gets the permission bits of the regular file `file` names when
// there is one, else those of a new file. Returns the descriptor, or -1 with
// errno set. A non-empty `tag` (letters and digits) goes into the name, so
// that a run can find the files its lost processes left (VxRemoveTemporaries).
int VxCreateTemporaryBeside(const std::string& file, std::string& tmpPath,
                            const std::string& tag = {});

// Removes the temporary files with `tag` in `folder`; returns how many. Only
// for a run that knows none of its saves is still going.
int VxRemoveTemporaries(const std::string& folder, const std::string& tag);

// Removes the temporary files in `folder` that no process holds locked (those
// a killed process left); returns how many. Only for a caller that knows no
// finished-but-uncommitted temporary file of a live run is there (one that
// holds the folder's run lock). Names for which `keep` says true stay.
int VxRemoveDeadTemporaries(const std::string& folder,
                            const std::function<bool(const std::string&)>& keep = {});

// Whether `name` (a file name, no folder) is one of the temporary names.
bool VxIsTemporaryName(const std::string& name);

// Makes the entries of `folder` (a rename into it) survive a power loss.
bool VxSyncFolder(const std::string& folder);

// The folder part of `path` ("." for a bare name).
std::string VxFolderOf(const std::string& path);

// "cannot write the output file: No space left on device".
std::string VxSaveErrorText(const char* step, int err);
