// Helpers shared by the PNG tests: the picture as a reader sees it, and a
// chunk-level view of written files.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/vx_image.h"
#include "tests/support/test_support.h"

namespace pngt {

// Top-down RGBA with every kind of transparency the image carries folded into
// alpha: the alpha plane, the transparent index, palette alpha.
vt::Rgba Visible(const VxImage& img);

struct Chunk {
    std::string type;
    std::vector<uint8_t> data;
};
// The chunks of a PNG file; empty when the signature is wrong.
std::vector<Chunk> Chunks(const std::vector<uint8_t>& file);
const Chunk* Find(const std::vector<Chunk>& chunks, const std::string& type);
uint32_t BE32(const uint8_t* p);

}  // namespace pngt
