// Format code -> codec. One line per format; a format without a codec in this
// build answers like an unknown format.
#include "codecs/bmp/vx_bmp_codec.h"
// gif

// jpeg

// png

// ico

#include "codecs/tiff/vx_image_tif.h"

// tga

// pcx

// wbmp

// metafile

// jpeg2000

#include "core/vx_format.h"

const VxCodecOps* VxFindCodec(ImageFormat type) {
    switch (type) {
        case VX_FORMAT_BMP: return &VxBmpCodec::kOps;

        case VX_FORMAT_GIF: return nullptr;

        case VX_FORMAT_JPG: return nullptr;

        case VX_FORMAT_PNG: return nullptr;

        case VX_FORMAT_ICO: return nullptr;

        case VX_FORMAT_TIF: return &VxImageTIF::kOps;

        case VX_FORMAT_TGA: return nullptr;

        case VX_FORMAT_PCX: return nullptr;

        case VX_FORMAT_WBMP: return nullptr;

        case VX_FORMAT_WMF: return nullptr;

        case VX_FORMAT_JP2:
        case VX_FORMAT_JPC:
        case VX_FORMAT_PGX:
        case VX_FORMAT_PNM:
        case VX_FORMAT_RAS: return nullptr;

        default: return nullptr;
    }
}
