// Transparency in every form a picture carries it (alpha plane, transparent
// palette index, transparent colour of a true-colour picture, palette alpha)
// and the conversions writers need: one alpha plane, a picture drawn over
// white, or one palette entry that stands for every clear pixel.
#pragma once

#include <cstdint>

#include "core/vx_image.h"

namespace vx {

// Below this opacity a pixel counts as clear where a writer can only say
// "shown" or "not shown".
constexpr uint8_t kHalfOpaque = 128;

enum class Clarity {
    Opaque,   // every pixel fully opaque
    OnOff,    // every pixel fully opaque or fully clear
    Partial,  // some pixel in between
};
Clarity ClarityOf(const VxImage& img);
inline bool HasTransparency(const VxImage& img) { return ClarityOf(img) != Clarity::Opaque; }

// Opacity of each pixel of one stored row (0 clear, 255 opaque), every form joined.
void OpacityRow(const VxImage& img, uint32_t storedRow, uint8_t* out);

// Moves every form into the alpha plane (made when missing), so that the plane
// alone says what shows. False when the plane cannot be made.
bool JoinIntoAlphaPlane(VxImage& img);

// Draws the picture over white and drops its transparency. A palette picture
// whose transparency belongs to its entries keeps its depth (the entries are
// blended); any other becomes 24-bit. False when memory runs out (unchanged then).
bool CompositeOnWhite(VxImage& img);

// The palette entry that can stand for every clear pixel without changing an
// opaque one: `preferred` when no opaque pixel uses it, else the lowest entry
// only clear pixels use, else the lowest unused one; -1 when every entry shows.
int32_t FreeEntry(const uint64_t* opaqueUse, const bool* clearUse, uint32_t entries,
                  int32_t preferred);

// A palette picture with an alpha plane: every pixel below half opacity takes
// one entry (FreeEntry's), which becomes the transparent index, and the plane
// goes. A picture below 8 bits widens to 8 when no entry is free; with all
// 256 entries showing, the entry closest to another (weighted by its pixels)
// gives way and its pixels take that other entry. With no clear pixel the
// index stays `preferred` when no opaque pixel uses it. False when memory runs out.
bool ReserveTransparentIndex(VxImage& img, int32_t preferred = -1);

}  // namespace vx
