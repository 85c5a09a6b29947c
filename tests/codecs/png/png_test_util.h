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

// The IDAT chunks' stream inflated by zlib: the filtered rows. Empty when the
// stream is not one valid zlib stream.
std::vector<uint8_t> InflatedIdat(const std::vector<Chunk>& chunks);
// The file's pixels written again by libpng with its default settings (same
// header, palette and transparency). Empty when libpng refuses the file.
std::vector<uint8_t> RewriteWithLibpng(const std::vector<uint8_t>& file);
// True when pngcheck is installed and finds nothing wrong with the file.
bool PngcheckAccepts(const std::string& path);

}  // namespace pngt
