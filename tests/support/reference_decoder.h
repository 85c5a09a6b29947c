// Independent decoders (Pillow, ImageMagick) for interoperability checks.
#pragma once

#include <optional>
#include <string>

#include "tests/support/test_support.h"

namespace vt {

enum class Reference { Pillow, ImageMagick };

// Decodes `path` (frame `frame`) with the reference tool into top-down RGBA.
// Empty when the tool refuses the file.
std::optional<Rgba> DecodeWithReference(const std::string& path, Reference tool = Reference::Pillow,
                                        int frame = 0);

// True when the tool is installed (tests skip, never pass, without it).
bool ReferenceAvailable(Reference tool);

}  // namespace vt
