#include "codecs/tiff/tiff_jpeg_transcode.h"

#include <tiffio.h>
#include <turbojpeg.h>

#include <memory>

#include "codecs/jpeg/vx_jpeg_lossless.h"
#include "codecs/tiff/tiff_exif_write.h"
#include "codecs/tiff/tiff_xmp_iptc.h"
#include "codecs/tiff/vx_image_tif.h"
#include "core/vx_file.h"

namespace vx::tiff {
namespace {

struct TjClose {
    void operator()(void* h) const { tjDestroy(h); }
};
struct TiffClose {
    void operator()(TIFF* t) const { TIFFClose(t); }
};

// The YCbCrSubsampling a TIFF page states for a JPEG's sampling; false for
// those TIFF cannot state (chroma taller than wide) or that are not YCbCr.
bool SubsamplingOf(int subsamp, uint16_t& h, uint16_t& v) {
    switch (subsamp) {
        case TJSAMP_444: h = 1; v = 1; return true;
        case TJSAMP_422: h = 2; v = 1; return true;
        case TJSAMP_420: h = 2; v = 2; return true;
        case TJSAMP_411: h = 4; v = 1; return true;
        default: return false;
    }
}

}  // namespace

bool TiffFromJpeg(std::span<const uint8_t> in, const VxTranscodeSteps& steps,
                  std::vector<uint8_t>& out, std::string& note) {
    std::vector<uint8_t> jpeg;
    std::string turned;
    // Readers of JPEG-compressed TIFF are not all sure to decode progressive strips.
    VxTranscodeSteps sequential = steps;
    sequential.sequential = true;
    if (!vx::jpeg::JpegLossless(in, sequential, jpeg, turned)) {
        note = turned;
        return false;
    }
    const std::unique_ptr<void, TjClose> tj(tjInitDecompress());
    int width = 0, height = 0, subsamp = 0, space = 0;
    if (!tj || tjDecompressHeader3(tj.get(), jpeg.data(), jpeg.size(), &width, &height,
                                   &subsamp, &space) != 0) {
        note = "the copied coefficients do not read back";
        return false;
    }
    uint16_t subH = 1, subV = 1;
    const bool grey = space == TJCS_GRAY;
    if (!grey && !(space == TJCS_YCbCr && SubsamplingOf(subsamp, subH, subV))) {
        note = "a JPEG-compressed TIFF page cannot state this JPEG's colour space or sampling";
        return false;
    }
    vx::jpeg::JpegHeader header;
    vx::jpeg::ReadJpegHeader(jpeg, header);

    VxMemFile file;
    VxImageTIF codec;
    if (!file.Open()) {
        note = "out of memory";
        return false;
    }
    const std::unique_ptr<TIFF, TiffClose> tif(codec.TIFFOpenEx(&file, "a"));
    if (!tif) {
        note = "the TIFF writer cannot start";
        return false;
    }
    TIFF* t = tif.get();
    const ExifLinks links = WriteExifDirectories(t, header.exif);
    TIFFSetField(t, TIFFTAG_SUBFILETYPE, 0);
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, uint32_t(width));
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, uint32_t(height));
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, grey ? 1 : 3);
    TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_JPEG);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, grey ? PHOTOMETRIC_MINISBLACK : PHOTOMETRIC_YCBCR);
    if (!grey) {
        TIFFSetField(t, TIFFTAG_YCBCRSUBSAMPLING, subH, subV);
        float reference[6] = {0, 255, 128, 255, 128, 255};
        TIFFSetField(t, TIFFTAG_REFERENCEBLACKWHITE, reference);
    }
    TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, uint32_t(height));
    TIFFSetField(t, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
    TIFFSetField(t, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
    TIFFSetField(t, TIFFTAG_XRESOLUTION, float(header.xDpi > 0 ? header.xDpi : 72));
    TIFFSetField(t, TIFFTAG_YRESOLUTION, float(header.yDpi > 0 ? header.yDpi : 72));
    if (!header.icc.empty()) TIFFSetField(t, TIFFTAG_ICCPROFILE, uint32_t(header.icc.size()), header.icc.data());
    SetExifPageFields(t, header.exif, links);
    SetXmpAndIptc(t, header.xmp, header.iptc);
    if (TIFFWriteRawStrip(t, 0, jpeg.data(), tmsize_t(jpeg.size())) != tmsize_t(jpeg.size()) ||
        !TIFFFlush(t)) {
        note = "the TIFF page could not be written";
        return false;
    }
    const int64_t size = file.Size64();
    const uint8_t* bytes = file.GetBuffer(false);
    if (size <= 0 || !bytes) {
        note = "the TIFF page could not be written";
        return false;
    }
    out.assign(bytes, bytes + size);
    note = turned;
    return true;
}

bool JpegFromTiff(std::span<const uint8_t> in, const VxTranscodeSteps& steps,
                  std::vector<uint8_t>& out, std::string& note) {
    note = "the page is not one whole JPEG in one strip";
    if (in.size() > uint64_t(INT32_MAX)) return false;
    VxMemFile file(const_cast<uint8_t*>(in.data()), uint32_t(in.size()));
    VxImageTIF codec;
    const std::unique_ptr<TIFF, TiffClose> tif(codec.TIFFOpenEx(&file, "r"));
    if (!tif) return false;
    TIFF* t = tif.get();
    uint16_t compression = 0, orientation = ORIENTATION_TOPLEFT, planar = PLANARCONFIG_CONTIG;
    TIFFGetField(t, TIFFTAG_COMPRESSION, &compression);
    TIFFGetField(t, TIFFTAG_ORIENTATION, &orientation);
    TIFFGetField(t, TIFFTAG_PLANARCONFIG, &planar);
    uint32_t tableSize = 0;
    void* tables = nullptr;
    if (compression != COMPRESSION_JPEG || orientation != ORIENTATION_TOPLEFT ||
        planar != PLANARCONFIG_CONTIG || TIFFIsTiled(t) || TIFFNumberOfStrips(t) != 1 ||
        TIFFNumberOfDirectories(t) != 1 ||
        (TIFFGetField(t, TIFFTAG_JPEGTABLES, &tableSize, &tables) && tableSize > 0))
        return false;
    const uint64_t* offsets = nullptr;
    const uint64_t* counts = nullptr;
    if (!TIFFGetField(t, TIFFTAG_STRIPOFFSETS, &offsets) ||
        !TIFFGetField(t, TIFFTAG_STRIPBYTECOUNTS, &counts) || !offsets || !counts ||
        offsets[0] > in.size() || counts[0] > in.size() - offsets[0])
        return false;
    const std::span<const uint8_t> strip = in.subspan(size_t(offsets[0]), size_t(counts[0]));
    vx::jpeg::JpegHeader header;
    if (!vx::jpeg::ReadJpegHeader(strip, header)) return false;
    // Metadata only the page's tags hold would be lost.
    uint32_t n = 0;
    void* data = nullptr;
    uint64_t exifAt = 0;
    const bool lost = (TIFFGetField(t, TIFFTAG_ICCPROFILE, &n, &data) && n && header.icc.empty()) ||
                      (TIFFGetField(t, TIFFTAG_XMLPACKET, &n, &data) && n && header.xmp.empty()) ||
                      (TIFFGetField(t, TIFFTAG_RICHTIFFIPTC, &n, &data) && n && header.iptc.empty()) ||
                      (TIFFGetField(t, TIFFTAG_EXIFIFD, &exifAt) && exifAt && header.exif.empty());
    if (lost && !steps.strip) {
        note = "the page holds metadata its JPEG does not";
        return false;
    }
    return vx::jpeg::JpegLossless(strip, steps, out, note);
}

}  // namespace vx::tiff
