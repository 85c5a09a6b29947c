// fontconfig and cairo keep one-time allocations until they are shut down.
// Releasing them at exit (before the leak checker's own exit handler, which was
// registered first) keeps the fuzzers' leak reports to real leaks.
#include <cairo.h>
#include <fontconfig/fontconfig.h>

#include <cstdlib>

namespace {

void ReleaseFontLibraries() {
    cairo_debug_reset_static_data();
    FcFini();
}

[[maybe_unused]] const int kRegistered = std::atexit(ReleaseFontLibraries);

}  // namespace
