// Independent decoders (Pillow, ImageMagick, and each newer format's own
// reference tool) for interoperability checks.
#pragma once

#include <optional>
#include <string>

#include "tests/support/test_support.h"

namespace vt {

enum class Reference { Pillow, ImageMagick, Dwebp, HeifConvert, Avifdec, Djxl };

// Decodes `path` (frame `frame`) with the reference tool into top-down RGBA.
// Empty when the tool refuses the file.
std::optional<Rgba> DecodeWithReference(const std::string& path, Reference tool = Reference::Pillow,
                                        int frame = 0);

// Top-down red, green, blue, alpha at 16 bits (0..65535), as
// reference_deep.py's `tool` (pil, png, tiff, djxl, opj, pnm) reads `path`;
// empty when it refuses the file.
struct Rgba16 {
    int width = 0, height = 0;
    std::vector<uint16_t> px;
};
std::optional<Rgba16> DecodeDeepWithReference(const std::string& path, const std::string& tool);

// True when the tool is installed (tests skip, never pass, without it).
bool ReferenceAvailable(Reference tool);

// Largest channel difference (alpha included) between Vellumar's decode of
// `path` with `format` and the tool's, frame `frame`; -1 with a test failure
// when either side cannot decode or the sizes differ.
int DiffFromReference(const std::string& path, uint32_t format, Reference tool, int frame = 0);

}  // namespace vt
