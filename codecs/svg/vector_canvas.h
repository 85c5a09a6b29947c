// What the drawing readers (SVG, PDF) share: the pixel size a drawing gets at a
// scale, checked against cairo's and the picture's limits, and cairo's
// premultiplied surface turned into the picture.
#pragma once

#include <cairo.h>

#include <cstdint>

#include "core/vx_image.h"

namespace vx::vector {

// cairo's image surfaces hold at most this many pixels a side.
inline constexpr uint32_t kMaxSide = 32767;

// Whole pixels for a side of `units` at `scale` (pixels a unit): fractional
// coverage rounds up, as the reference renderers do. 0 when not finite or
// not positive.
uint64_t PixelSide(double units, double scale);

// The size a drawing is rendered at: the picture's render size when one was
// asked for (a resize that renders at the final size), else `width` x `height`.
void RenderSize(const VxImage& img, uint64_t& width, uint64_t& height);

// Throws VxCodecFailure when the picture limit refuses the picture, or
// ("FMT: ...") when a side is 0 or passes kMaxSide.
void RequireCanvas(VxImage& img, const char* fmt, uint64_t width, uint64_t height);

// A cleared ARGB32 surface; throws std::bad_alloc when cairo cannot make it.
cairo_surface_t* NewSurface(uint32_t width, uint32_t height);

// The surface's pixels, un-premultiplied, as a 24-bit picture of `type` with
// an alpha plane when any pixel is not fully opaque.
void StoreSurface(VxImage& img, cairo_surface_t* surface, uint32_t type);

struct SurfaceGuard {
    cairo_surface_t* s = nullptr;
    ~SurfaceGuard() {
        if (s) cairo_surface_destroy(s);
    }
};

}  // namespace vx::vector
