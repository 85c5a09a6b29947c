#include "core/vx_quiet_stderr.h"

#include <sys/types.h>
#include <unistd.h>

#include <cstdio>

namespace vx {

namespace {

thread_local int tQuiet = 0;
FILE* gStderr = nullptr;

ssize_t Write(void*, const char* data, size_t size) {
    if (tQuiet > 0) return ssize_t(size);
    const size_t done = std::fwrite(data, 1, size, gStderr);
    return done == 0 && size > 0 ? -1 : ssize_t(done);
}

// Runs before main, while no other thread can be using stderr. The C library
// lets `stderr` be assigned; code that copied the old pointer keeps writing
// where it always did. The new stream reports descriptor 2 as its own, so
// that code asking for stderr's descriptor (isatty, iostreams not synced with
// stdio) still finds the terminal and writes there directly.
bool Install() {
    cookie_io_functions_t io{};
    io.write = Write;
    FILE* routed = fopencookie(nullptr, "w", io);
    if (!routed) return false;
    std::setvbuf(routed, nullptr, _IONBF, 0);
    routed->_fileno = STDERR_FILENO;
    gStderr = stderr;
    stderr = routed;
    return true;
}

const bool gInstalled = Install();

}  // namespace

QuietStderr::QuietStderr() { ++tQuiet; }

QuietStderr::~QuietStderr() {
    --tQuiet;
    (void)gInstalled;
}

}  // namespace vx
