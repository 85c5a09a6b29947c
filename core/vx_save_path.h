// Where a save lands and how it replaces what is there: the file a target
// names through symbolic links, a temporary file beside it that keeps its
// permission bits, the rename over it, and texts that say why a step failed.
#pragma once

#include <string>

// The file `path` stands for once the symbolic links that name it are
// followed (a dangling link gives the path it points to), so that saving
// replaces that file and keeps the link. False with errno set on a loop.
bool VxFollowLinks(const std::string& path, std::string& file);

// A new empty file in the folder of `file` (a short name, so every name the
// file system takes for `file` itself works), open for writing. It gets the
// permission bits `file` has when it exists, else those of a new file.
// Returns the descriptor, or -1 with errno set. A non-empty `tag` (letters
// and digits) goes into the name, so that a run can find the files its lost
// processes left (VxRemoveTemporaries).
int VxCreateTemporaryBeside(const std::string& file, std::string& tmpPath,
                            const std::string& tag = {});

// Removes the temporary files with `tag` in `folder`; returns how many. Only
// for a run that knows none of its saves is still going.
int VxRemoveTemporaries(const std::string& folder, const std::string& tag);

// "cannot write the output file: No space left on device".
std::string VxSaveErrorText(const char* step, int err);
