// Every codec of this build, one line each, in the order the probe tries them
// on a file whose format is unknown. Cheap, certain signatures go first so
// that a file is not half-read by a decoder that accepts almost anything:
// - BMP first: the fallback of unknown extensions, and its header test fails
//   fast on anything else.
// - JPEG, ICO, GIF, PNG, TIFF: signatures a few bytes long.
// - TGA, PCX, WBMP have no signature worth the name and accept more than they
//   should, so they come after every format that has one.
// - The metafile player reads whole records before it can refuse.
// - The JPEG-2000 family codec recognises its five formats by content; it is
//   entered once, through JP2.
// Formats added later go after these: the order of the old ones is what
// users' files have been read by.
// - WebP, HEIF and JPEG XL have certain signatures. The HEIF codec, entered
//   once, reads HEIC and AVIF alike.
#include <iterator>

#include "codecs/bmp/vx_bmp_codec.h"
#include "codecs/gif/vx_image_gif.h"
#include "codecs/heif/vx_heif_codec.h"
#include "codecs/ico/vx_ico_codec.h"
#include "codecs/jpeg/vx_image_jpg.h"
#include "codecs/jpeg2000/vx_jpeg2000_codec.h"
#include "codecs/jxl/vx_jxl_codec.h"
#include "codecs/metafile/vx_metafile_codec.h"
#include "codecs/pcx/vx_pcx_codec.h"
#include "codecs/png/vx_png_codec.h"
#include "codecs/tga/vx_tga_codec.h"
#include "codecs/tiff/vx_image_tif.h"
#include "codecs/wbmp/vx_wbmp_codec.h"
#include "codecs/webp/vx_webp_codec.h"
#include "core/vx_codec.h"

namespace {

constexpr VxCodecEntry kCodecs[] = {
    {VX_FORMAT_BMP, "BMP", VxCodecOpsFor<VxBmpCodec>(), true},
    {VX_FORMAT_JPG, "JPG", VxCodecOpsFor<VxImageJPG>(), true},
    {VX_FORMAT_ICO, "ICO", VxCodecOpsFor<VxIcoCodec>(), true},
    {VX_FORMAT_GIF, "GIF", VxCodecOpsFor<VxImageGIF>(), true},
    {VX_FORMAT_PNG, "PNG", VxCodecOpsFor<VxPngCodec>(), true},
    {VX_FORMAT_TIF, "TIF", VxCodecOpsFor<VxImageTIF>(), true},
    {VX_FORMAT_TGA, "TGA", VxCodecOpsFor<VxTgaCodec>(), true},
    {VX_FORMAT_PCX, "PCX", VxCodecOpsFor<VxPcxCodec>(), true},
    {VX_FORMAT_WBMP, "WBMP", VxCodecOpsFor<VxWbmpCodec>(), true},
    {VX_FORMAT_WMF, "WMF", VxCodecOpsFor<VxMetafileCodec>(), true},
    {VX_FORMAT_JP2, "JP2", VxCodecOpsFor<VxJpeg2000Codec>(), true},
    {VX_FORMAT_JPC, "JPC", VxCodecOpsFor<VxJpeg2000Codec>(), false},
    {VX_FORMAT_PGX, "PGX", VxCodecOpsFor<VxJpeg2000Codec>(), false},
    {VX_FORMAT_PNM, "PNM", VxCodecOpsFor<VxJpeg2000Codec>(), false},
    {VX_FORMAT_RAS, "RAS", VxCodecOpsFor<VxJpeg2000Codec>(), false},
    {VX_FORMAT_WEBP, "WEBP", VxCodecOpsFor<VxWebpCodec>(), true},
    {VX_FORMAT_HEIF, "HEIC", VxCodecOpsFor<VxHeifCodec>(), true},
    {VX_FORMAT_AVIF, "AVIF", VxCodecOpsFor<VxHeifCodec>(), false},
    {VX_FORMAT_JXL, "JXL", VxCodecOpsFor<VxJxlCodec>(), true},
};

}  // namespace

const VxCodecEntry* VxCodecEntries(size_t* count) {
    *count = std::size(kCodecs);
    return kCodecs;
}

const VxCodecEntry* VxFindCodecEntry(ImageFormat type) {
    for (const VxCodecEntry& e : kCodecs)
        if (e.code == type) return &e;
    return nullptr;
}

const VxCodecOps* VxFindCodec(ImageFormat type) {
    const VxCodecEntry* e = VxFindCodecEntry(type);
    return e ? &e->ops : nullptr;
}

const char* VxFormatName(ImageFormat type) {
    const VxCodecEntry* e = VxFindCodecEntry(type);
    return e ? e->name : "";
}
