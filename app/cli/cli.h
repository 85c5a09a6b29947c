#pragma once

#include <iosfwd>

namespace vellumar::cli {

// The whole command line, with its streams passed in so tests can drive it.
// Returns the exit status: 0 all converted, 1 a file failed, 2 bad usage.
int Run(int argc, const char* const* argv, std::ostream& out, std::ostream& err,
        bool progressToTerminal);

}  // namespace vellumar::cli
