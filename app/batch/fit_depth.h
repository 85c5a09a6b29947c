// Depth fitting between decode and encode: what each target's encoder takes.
#pragma once

#include "core/vx_colour_reduce.h"
#include "facade/image_facade.h"

namespace vellumar::batch {

// Brings a decoded picture into a form the target's encoder takes, as the
// target's registry line says (core/vx_format_caps.h: its forms, depths and
// alpha form): 8 bits for GIF, 24 bits for colour palettes going to JPEG and
// the JPEG-2000 family, 8 bits for TGA, grey for PGX, 1 bit for WBMP.
// Transparency goes where the target keeps it: one palette entry in GIF
// (pixels below half opacity), the writer's own form in PNG and ICO, a 24-bit
// picture with an alpha plane in TGA and TIFF; every other target gets the
// picture composited on white. Pictures the encoder takes as they are stay
// unchanged. `colours` chooses the palette and dithering where colours are
// reduced (GIF, WBMP); the default is the fixed palette, nearest colour.
void FitDepth(ImageHandle* handle, ImageFormat target, const vx::ColourReduction& colours = {});

// --depth 16: an 8-bit picture gets deep samples of its own for a target
// that stores them.
void WidenSamples(VxImage& img, ImageFormat target);

}  // namespace vellumar::batch
