// Format codes the dispatch works with, and the table through which it finds codecs.
#pragma once

#include <cstdint>

using ImageFormat = uint32_t;

enum : ImageFormat {
    VX_FORMAT_UNKNOWN = 0,
    VX_FORMAT_BMP = 1,
    VX_FORMAT_GIF = 2,
    VX_FORMAT_JPG = 3,
    VX_FORMAT_PNG = 4,
    VX_FORMAT_ICO = 5,
    VX_FORMAT_TIF = 6,
    VX_FORMAT_TGA = 7,
    VX_FORMAT_PCX = 8,
    VX_FORMAT_WBMP = 9,
    VX_FORMAT_WMF = 10,
    VX_FORMAT_JP2 = 11,
    VX_FORMAT_JPC = 12,
    VX_FORMAT_PGX = 13,
    VX_FORMAT_PNM = 14,
    VX_FORMAT_RAS = 15,
};
constexpr uint32_t kVxFormatCount = 16;

class VxImage;
class VxFile;

// One entry per format code. A codec object is a VxImage subclass built by
// `create`; `decode`/`encode` run its own Decode/Encode with the call shape the
// format needs (the metafile size limits, the JPEG-2000 family's format code,
// TIFF's append flag). `encodePages` is null for single-image formats.
struct VxCodecOps {
    const char* name;  // short name as the command line prints it ("BMP", "JP2", ...)
    VxImage* (*create)();
    bool (*decode)(VxImage* codec, VxFile* file, uint32_t type);
    bool (*encode)(VxImage* codec, VxFile* file, uint32_t type);
    bool (*encodePages)(VxImage* codec, VxFile* file, VxImage** pages, int32_t count);
};

// Null when the format has no codec in this build.
const VxCodecOps* VxFindCodec(ImageFormat type);
// "BMP", "GIF", ... for 1..15; "" otherwise.
const char* VxFormatName(ImageFormat type);
