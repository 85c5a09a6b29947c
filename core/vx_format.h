// Format codes the dispatch works with. Their codecs are listed in
// codecs/registry.cpp (core/vx_codec.h says what a codec does).
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
    VX_FORMAT_WEBP = 16,
    VX_FORMAT_HEIF = 17,  // HEIC and other HEIF files whose pictures are not AV1
    VX_FORMAT_AVIF = 18,
    VX_FORMAT_JXL = 19,
    VX_FORMAT_QOI = 20,
    VX_FORMAT_PSD = 21,  // read only
    VX_FORMAT_EXR = 22,
    VX_FORMAT_SVG = 23,  // read only
    VX_FORMAT_PDF = 24,  // read only
    VX_FORMAT_RAW = 25,  // camera raw, read only
};
// The codec option of VX_FORMAT_RAW that reads the embedded preview instead
// of developing the mosaic.
constexpr uint32_t kVxRawPreview = 1;
constexpr uint32_t kVxFormatCount = 26;

// "BMP", "GIF", ... for the codes the registry lists; "" otherwise.
const char* VxFormatName(ImageFormat type);
