// Bringing a picture down to a palette of 2, 16 or 256 colours: which palette
// (the fixed standard one or one made for the picture) and whether the
// rounding error is diffused (Floyd-Steinberg) or dropped (nearest colour).
#pragma once

#include <cstdint>
#include <string_view>

#include "core/vx_types.h"

class VxImage;

namespace vx {

enum class PaletteChoice { Standard, Adaptive };
enum class DitherChoice { None, FloydSteinberg };

struct ColourReduction {
    PaletteChoice palette = PaletteChoice::Standard;
    DitherChoice dither = DitherChoice::None;
    bool IsDefault() const {
        return palette == PaletteChoice::Standard && dither == DitherChoice::None;
    }
};

// "standard" / "adaptive" and "none" / "floyd-steinberg"; false for anything
// else, leaving `out` alone.
bool ParsePaletteChoice(std::string_view text, PaletteChoice& out);
bool ParseDitherChoice(std::string_view text, DitherChoice& out);

// Reduces a picture deeper than `bits` (1, 4 or 8) to that depth. The default
// choice is exactly DecreaseBpp(bits, false). An adaptive palette only applies
// to 4 and 8 bits (1 bit stays black and white). When the alpha plane makes
// some pixels transparent (alpha below 128), the adaptive palette keeps one
// entry for them and the picture's TransIndex names it.
bool ReduceColours(VxImage& img, uint32_t bits, const ColourReduction& how);

// Maps a 24-bit picture onto the first `count` entries of `palette`, giving a
// `bits`-deep picture; `transIndex` >= 0 is used for pixels whose alpha is
// below 128. The picture is unchanged when false is returned.
bool MapToPalette(VxImage& img, uint32_t bits, const RGBQUAD* palette, uint32_t count,
                  DitherChoice dither, int32_t transIndex = -1);

}  // namespace vx
