// fontconfig keeps a small one-time allocation until it is shut down; releasing
// the font libraries after the last test lets the leak checker see real leaks only.
#include <cairo.h>
#include <fontconfig/fontconfig.h>
#include <gtest/gtest.h>

namespace {

class FontLibraries : public ::testing::Environment {
public:
    void TearDown() override {
        cairo_debug_reset_static_data();
        FcFini();
    }
};

[[maybe_unused]] ::testing::Environment* const kFontLibraries =
    ::testing::AddGlobalTestEnvironment(new FontLibraries);

}  // namespace
