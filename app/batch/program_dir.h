#pragma once

#include <string>

namespace vellumar {

// Folder of the running executable, without a trailing '/'. Never the current
// directory: output and skin files belong beside the program.
std::string ProgramDirectory();

}  // namespace vellumar
