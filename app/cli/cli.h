#pragma once

#include <iosfwd>

#include "app/batch/run_driver.h"

namespace vellumar::cli {

// The whole command line, with its streams passed in so tests can drive it.
// Returns the exit status: 0 all converted, 1 a file failed (or the run was
// cancelled through `cancel`), 2 bad usage.
int Run(int argc, const char* const* argv, std::ostream& out, std::ostream& err,
        bool progressToTerminal, const batch::CancelFlag* cancel = nullptr);

}  // namespace vellumar::cli
