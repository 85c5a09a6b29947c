// Format code -> codec. One line per format; a format without a codec in this
// build answers like an unknown format.
#include "codecs/bmp/vx_bmp_codec.h"
#include "codecs/gif/vx_image_gif.h"

#include "codecs/jpeg/vx_image_jpg.h"

#include "codecs/png/vx_png_codec.h"

#include "codecs/ico/vx_ico_codec.h"

#include "codecs/tiff/vx_image_tif.h"

#include "codecs/tga/vx_tga_codec.h"

#include "codecs/pcx/vx_pcx_codec.h"

#include "codecs/wbmp/vx_wbmp_codec.h"

#include "codecs/metafile/vx_metafile_codec.h"

#include "codecs/jpeg2000/vx_jpeg2000_codec.h"

#include "core/vx_format.h"

const VxCodecOps* VxFindCodec(ImageFormat type) {
    switch (type) {
        case VX_FORMAT_BMP: return &VxBmpCodec::kOps;

        case VX_FORMAT_GIF: return &VxImageGIF::kOps;

        case VX_FORMAT_JPG: return &VxImageJPG::kOps;

        case VX_FORMAT_PNG: return &VxPngCodec::kOps;

        case VX_FORMAT_ICO: return &VxIcoCodec::kOps;

        case VX_FORMAT_TIF: return &VxImageTIF::kOps;

        case VX_FORMAT_TGA: return &VxTgaCodec::kOps;

        case VX_FORMAT_PCX: return &VxPcxCodec::kOps;

        case VX_FORMAT_WBMP: return &VxWbmpCodec::kOps;

        case VX_FORMAT_WMF: return &VxMetafileCodec::kOps;

        case VX_FORMAT_JP2:
        case VX_FORMAT_JPC:
        case VX_FORMAT_PGX:
        case VX_FORMAT_PNM:
        case VX_FORMAT_RAS: return &VxJpeg2000Codec::kOps;

        default: return nullptr;
    }
}
