// Helpers for the GIF tests: in-memory encode/decode and a small GIF builder
// for files no ordinary writer produces.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "codecs/gif/vx_image_gif.h"
#include "core/vx_image.h"

namespace gt {

using Bytes = std::vector<uint8_t>;

// Encodes through the save dispatch (a ghost codec, as Save does).
Bytes EncodeGif(VxImage& img);
// Encodes with the codec object itself (comment, loops, disposal settings).
Bytes EncodeWith(VxImageGIF& codec);
Bytes EncodePages(VxImageGIF& codec, std::vector<VxImage*> pages, bool local = false);
// Decodes through the load dispatch; `frame` selects the frame.
bool DecodeGif(const Bytes& bytes, VxImage& out, int frame = 0, int escape = 0);
// Decodes with a codec object, to read its loop count and comment.
bool DecodeCodec(const Bytes& bytes, VxImageGIF& codec, int frame = 0);

// An indexed picture with the given depth, a distinct palette and a pattern.
VxImage MakeIndexed(int width, int height, int bpp, int seed = 0);

// Data sub-block lengths starting at `pos` (the first length byte); `end`
// receives the position after the terminator.
std::vector<int> SubBlocks(const Bytes& b, size_t pos, size_t* end = nullptr);

// The code size byte, data sub-blocks and terminator of a one-picture file
// written by Vellumar (global table, graphic control, descriptor, data, ';').
Bytes FrameData(const Bytes& file);

// Hand-made files.
struct Builder {
    Bytes b;
    Builder(int width, int height, const std::vector<uint32_t>& globalTable = {});
    Builder& Control(uint8_t flags, uint16_t delay, uint8_t transIndex, uint8_t length = 4);
    Builder& Loop(uint16_t count);
    Builder& Image(int l, int t, int w, int h, const Bytes& data,
                   const std::vector<uint32_t>& localTable = {}, bool interlaced = false);
    Builder& Raw(const Bytes& more);
    Bytes Done();
};

// Table of 2^k entries from 0xRRGGBB values (padded with black).
std::vector<uint32_t> Table(std::vector<uint32_t> rgb, int entries);

// Temporary file holding `bytes`; removed by the TempDir.
std::string WriteTemp(const std::string& dir, const std::string& name, const Bytes& bytes);

}  // namespace gt
