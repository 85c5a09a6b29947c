// Every format of this build, one line each: its code, name, extensions,
// codec and what it can do (core/vx_format_caps.h). The lines stand in the
// order the probe tries them on a file whose format is unknown. Cheap, certain signatures go first so
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
// - QOI has a four-byte signature; so have PSD/PSB ("8BPS", version 1 or 2)
//   and EXR (76 2f 31 01).
// - SVG is text: markup with an <svg element near the start (or gzip holding
//   such text), tried after every binary format; PDF ("%PDF-" near the start)
//   comes last.
// - Camera raw after them: most raw files are TIFF-shaped, and a file that reads as
//   TIFF stays TIFF; only a raw maker's signature lets the probe try it.
// The codecs over large libraries are modules loaded on their first file
// (codecs/codec_modules.h); so are the direct ways into and out of JPEG XL.
#include <iterator>

#include "codecs/bmp/vx_bmp_codec.h"
#include "codecs/codec_modules.h"
#include "codecs/exr/vx_exr_codec.h"
#include "codecs/gif/vx_image_gif.h"
#include "codecs/heif/vx_heif_codec.h"
#include "codecs/ico/vx_ico_codec.h"
#include "codecs/jpeg/vx_image_jpg.h"
#include "codecs/jpeg/vx_jpeg_lossless.h"
#include "codecs/jpeg2000/vx_jpeg2000_codec.h"
#include "codecs/jxl/vx_jxl_codec.h"
#include "codecs/metafile/vx_metafile_codec.h"
#include "codecs/pcx/vx_pcx_codec.h"
#include "codecs/png/vx_png_codec.h"
#include "codecs/pdf/vx_pdf_codec.h"
#include "codecs/psd/vx_psd_codec.h"
#include "codecs/qoi/vx_qoi_codec.h"
#include "codecs/svg/vx_svg_codec.h"
#include "codecs/raw/vx_raw_codec.h"
#include "codecs/tga/vx_tga_codec.h"
#include "codecs/tiff/tiff_jpeg_transcode.h"
#include "codecs/tiff/vx_image_tif.h"
#include "codecs/wbmp/vx_wbmp_codec.h"
#include "codecs/webp/vx_webp_codec.h"
#include "core/vx_codec.h"

namespace {

constexpr VxDepthSet kEightBits = VxDepths({8});
constexpr uint8_t kGreyOrColour = kVxGreyRamp | kVxTrueColour;
constexpr uint8_t kGreyBilevelOrColour = kVxBilevel | kVxGreyRamp | kVxTrueColour;
constexpr uint8_t kIccAndExif = kVxIcc | kVxExif;
constexpr uint8_t kAllMetadata = kVxIcc | kVxExif | kVxXmp | kVxIptc;

// Bytes per pixel at a row's peak, from the peak resident size of one-row runs
// on a 12-megapixel picture (docs/performance.md), rounded up with room for
// what those runs did not reach: alpha planes, the RGBA path of unusual TIFFs,
// composed GIF frames, four-component JPEG-2000. Decoding: a picture takes 3
// to 4, progressive JPEG keeps its coefficients (+3), OpenJPEG and the
// PNM/PGX/raster readers 4 bytes per sample. Encoding, beyond the decoded
// picture: JPEG-2000 about 34 (4 bytes per sample, twice), PCX 9, PNM and
// raster 12, PGX 5, a depth-fitted copy 1 to 3. The newer formats, from the
// peak resident size of their libraries' own tools (dwebp, heif-convert, djxl,
// cwebp, heif-enc, cjxl) on a 2-megapixel photo: decoding WebP 4 (an animation
// keeps two canvases), HEIF and AVIF 9, JPEG XL 20, plus the 16-bit rows the
// codecs take; encoding lossless WebP 40, HEIC and AVIF 25, JPEG XL 50
// (lossless 68).
constexpr VxCodecEntry kCodecs[] = {
    {VX_FORMAT_BMP, "BMP", "bmp", VxCodecOpsFor<VxBmpCodec>(), true,
     {.listed = 5, .decodeBytes = 4, .encodeBytes = 1}},
    {VX_FORMAT_JPG, "JPG", "jpg jpeg", VxCodecOpsFor<VxImageJPG>(), true,
     {.listed = 4, .forms = kGreyOrColour, .metadata = kAllMetadata, .decodeBytes = 7,
      .encodeBytes = 3, .readsScaled = true, .lossy = VxLossiness::Always, .sizedByQuality = true}},
    {VX_FORMAT_ICO, "ICO", "ico cur", VxCodecOpsFor<VxIcoCodec>(), true,
     {.listed = 2, .alpha = VxAlphaForm::MaskOrPlane, .pictures = kVxReadsPages,
      .maxSide = VxIcoCodec::kMaxSide, .decodeBytes = 5, .encodeBytes = 4}},
    {VX_FORMAT_GIF, "GIF", "gif", VxCodecOpsFor<VxImageGIF>(), true,
     {.listed = 6, .forms = kVxPalette, .alpha = VxAlphaForm::OneIndex,
      .pictures = kVxReadsFrames | kVxWritesFrames, .decodeBytes = 8, .encodeBytes = 2}},
    {VX_FORMAT_PNG, "PNG", "png", VxCodecOpsFor<VxPngCodec>(), true,
     {.listed = 1, .sampleBits = 16, .alpha = VxAlphaForm::AsItIs, .pictures = kVxReadsFrames | kVxWritesFrames,
      .metadata = kIccAndExif | kVxXmp, .decodeBytes = 5, .encodeBytes = 6}},
    {VX_FORMAT_TIF, "TIF", "tif tiff", VxCodecOpsFor<VxImageTIF>(), true,
     {.listed = 7, .sampleBits = 16, .alpha = VxAlphaForm::PlaneOrGrey, .pictures = kVxReadsPages | kVxWritesPages,
      .metadata = kAllMetadata, .decodeBytes = 8, .encodeBytes = 4, .keepsLight = true,
      .lossy = VxLossiness::Below100}},
    {VX_FORMAT_TGA, "TGA", "tga", VxCodecOpsFor<VxTgaCodec>(), true,
     {.listed = 3, .depths = kEightBits, .alpha = VxAlphaForm::Plane, .decodeBytes = 5,
      .encodeBytes = 4}},
    {VX_FORMAT_PCX, "PCX", "pcx", VxCodecOpsFor<VxPcxCodec>(), true,
     {.listed = 8, .decodeBytes = 5, .encodeBytes = 10}},
    {VX_FORMAT_WBMP, "WBMP", "wbmp", VxCodecOpsFor<VxWbmpCodec>(), true,
     {.listed = 9, .forms = kVxPalette, .depths = VxDepths({1}),
      .maxSide = VxWbmpCodec::kMaxSide, .decodeBytes = 2, .encodeBytes = 2}},
    {VX_FORMAT_WMF, "WMF", "wmf emf", VxModuleOpsFor<VxMetafileCodec, VxModule::Metafile>(), true,
     {.listed = 10, .writes = false, .decodeBytes = 8}},
    {VX_FORMAT_JP2, "JP2", "jp2 j2k", VxCodecOpsFor<VxJpeg2000Codec>(), true,
     {.listed = 11, .forms = kGreyBilevelOrColour, .sampleBits = 16, .alpha = VxAlphaForm::PlaneOrGrey,
      .decodeBytes = 20, .encodeBytes = 40, .lossy = VxLossiness::Below100}},
    {VX_FORMAT_JPC, "JPC", "jpc j2c", VxCodecOpsFor<VxJpeg2000Codec>(), false,
     {.listed = 12, .forms = kGreyBilevelOrColour, .sampleBits = 16, .alpha = VxAlphaForm::PlaneOrGrey,
      .decodeBytes = 20, .encodeBytes = 40, .lossy = VxLossiness::Below100}},
    {VX_FORMAT_PGX, "PGX", "pgx", VxCodecOpsFor<VxJpeg2000Codec>(), false,
     {.listed = 13, .forms = kVxGreyRamp, .sampleBits = 16, .decodeBytes = 20, .encodeBytes = 6}},
    {VX_FORMAT_PNM, "PNM", "pnm pgm ppm", VxCodecOpsFor<VxJpeg2000Codec>(), false,
     {.listed = 14, .forms = kGreyBilevelOrColour, .sampleBits = 16, .decodeBytes = 20, .encodeBytes = 13}},
    {VX_FORMAT_RAS, "RAS", "ras", VxCodecOpsFor<VxJpeg2000Codec>(), false,
     {.listed = 15, .forms = kGreyBilevelOrColour, .decodeBytes = 20, .encodeBytes = 13}},
    {VX_FORMAT_WEBP, "WEBP", "webp", VxCodecOpsFor<VxWebpCodec>(), true,
     {.listed = 16, .alpha = VxAlphaForm::AsItIs, .pictures = kVxReadsFrames | kVxWritesFrames,
      .metadata = kIccAndExif | kVxXmp, .maxSide = VxWebpCodec::kMaxSide, .decodeBytes = 12,
      .encodeBytes = 44, .lossy = VxLossiness::Below100, .sizedByQuality = true}},
    {VX_FORMAT_HEIF, "HEIC", "heic heif hif", VxModuleOpsFor<VxHeifCodec, VxModule::Heif>(), true,
     {.listed = 17, .sampleBits = 12, .alpha = VxAlphaForm::AsItIs, .pictures = kVxReadsPages | kVxHoldsFrames,
      .metadata = kIccAndExif | kVxXmp, .decodeBytes = 16, .encodeBytes = 32,
      .lossy = VxLossiness::Always, .sizedByQuality = true}},
    {VX_FORMAT_AVIF, "AVIF", "avif", VxModuleOpsFor<VxHeifCodec, VxModule::Heif>(), false,
     {.listed = 18, .sampleBits = 12, .alpha = VxAlphaForm::AsItIs, .pictures = kVxReadsPages | kVxHoldsFrames,
      .metadata = kIccAndExif | kVxXmp, .decodeBytes = 16, .encodeBytes = 32,
      .lossy = VxLossiness::Always, .sizedByQuality = true}},
    {VX_FORMAT_JXL, "JXL", "jxl", VxModuleOpsFor<VxJxlCodec, VxModule::Jxl>(), true,
     {.listed = 19, .sampleBits = 16, .alpha = VxAlphaForm::AsItIs, .pictures = kVxReadsFrames | kVxWritesFrames,
      .metadata = kIccAndExif | kVxXmp, .decodeBytes = 32, .encodeBytes = 72,
      .lossy = VxLossiness::Below100, .sizedByQuality = true}},
    {VX_FORMAT_QOI, "QOI", "qoi", VxCodecOpsFor<VxQoiCodec>(), true,
     {.listed = 20, .forms = kVxTrueColour, .alpha = VxAlphaForm::Plane,
      .decodeBytes = 4, .encodeBytes = 1}},
    // Decoding keeps the used channels' planes (up to 10 bytes) beside the picture.
    {VX_FORMAT_PSD, "PSD", "psd psb", VxCodecOpsFor<VxPsdCodec>(), true,
     {.listed = 21, .writes = false, .decodeBytes = 24}},
    // Half floats do not hold every 16-bit level: lossy by the tests' rule.
    // Decoding keeps a band of half RGBA beside the 16-bit plane; encoding the
    // file in memory, half RGBA (8) compressed.
    {VX_FORMAT_EXR, "EXR", "exr", VxModuleOpsFor<VxExrCodec, VxModule::Exr>(), true,
     {.listed = 22, .forms = kVxTrueColour, .sampleBits = 16, .alpha = VxAlphaForm::Plane,
      .decodeBytes = 12, .encodeBytes = 12, .keepsLight = true, .lossy = VxLossiness::Always}},
    // Decoding: cairo's surface (4) beside the picture (4) and the unpremultiplied row.
    {VX_FORMAT_SVG, "SVG", "svg svgz", VxModuleOpsFor<VxSvgCodec, VxModule::Svg>(), true,
     {.listed = 23, .writes = false, .decodeBytes = 9, .rendersToSize = true}},
    {VX_FORMAT_PDF, "PDF", "pdf", VxModuleOpsFor<VxPdfCodec, VxModule::Pdf>(), true,
     {.listed = 24, .writes = false, .pictures = kVxReadsPages, .decodeBytes = 9,
      .rendersToSize = true}},
    // "raw" is older cameras' own extension, and what the target item *.RAW
    // names. Decoding holds the file, libraw's mosaic and four 16-bit samples a
    // pixel, its 16-bit RGB copy and the deep plane beside the picture.
    {VX_FORMAT_RAW, "RAW", "dng cr2 cr3 nef arw orf rw2 raf pef raw", VxModuleOpsFor<VxRawCodec, VxModule::Raw>(), true,
     {.listed = 25, .writes = false, .decodeBytes = 36}},
};

}  // namespace

constexpr VxTranscoder kTranscoders[] = {
    {VX_FORMAT_JPG, VX_FORMAT_JXL, &VxModuleWay<VxModule::Jxl, 0>, true, false, "coefficients, reversible"},
    {VX_FORMAT_JXL, VX_FORMAT_JPG, &VxModuleWay<VxModule::Jxl, 1>, false, false, "rebuilt original"},
    {VX_FORMAT_JPG, VX_FORMAT_JPG, &vx::jpeg::JpegLossless, false, true, "coefficients"},
    {VX_FORMAT_JPG, VX_FORMAT_TIF, &vx::tiff::TiffFromJpeg, false, true, "coefficients", true},
    {VX_FORMAT_TIF, VX_FORMAT_JPG, &vx::tiff::JpegFromTiff, false, true, "coefficients", true},
};

const VxTranscoder* VxFindTranscoder(ImageFormat from, ImageFormat to) {
    for (const VxTranscoder& t : kTranscoders)
        if (t.from == from && t.to == to) return &t;
    return nullptr;
}

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

const VxFormatCaps* VxFindFormatCaps(ImageFormat type) {
    const VxCodecEntry* e = VxFindCodecEntry(type);
    return e ? &e->caps : nullptr;
}

const char* VxFormatName(ImageFormat type) {
    const VxCodecEntry* e = VxFindCodecEntry(type);
    return e ? e->name : "";
}
