// The skin file format (".VSK") and the colour arithmetic of the skin engine.
// No Qt here so that both the module and the tests can use it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vskin {

struct ThemeColor {
    std::string role;  // palette role name, e.g. "Window"
    uint32_t rgb = 0;  // 0xRRGGBB
};

struct Theme {
    int version = 0;
    std::string style;       // widget style name, empty = keep the current one
    std::string fontFamily;  // empty = keep the current font
    int fontPoints = 0;
    std::vector<ThemeColor> colors;
};

// Largest skin file read; anything longer is not a skin file.
inline constexpr size_t kMaxThemeBytes = 64 * 1024;

// Text form: first line ".VSK <version>", then lines "style NAME",
// "font POINTS FAMILY..." and "color ROLE RRGGBB"; '#' starts a comment.
// Unknown keys and malformed lines are skipped. False when the header is wrong
// or the text is too long.
bool ParseTheme(std::string_view bytes, Theme& out);

// Hue rotated by `hue` degrees; saturation and value moved by `sat` and `val`
// on a 0..255 scale and clamped.
uint32_t ShiftHsv(uint32_t rgb, int hue, int sat, int val);

}  // namespace vskin
