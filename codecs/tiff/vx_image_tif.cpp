// TIFF reading: one page per decode, through strips, tiles or libtiff's RGBA
// interface.
#include <tiffio.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "codecs/tiff/vx_image_tif.h"
#include "codecs/tiff/tiff_xmp_iptc.h"
#include "core/vx_codec.h"
#include "core/vx_deep.h"
#include "core/vx_light.h"
#include "core/vx_frames.h"
#include "core/vx_orientation.h"
#include "core/vx_row_index.h"

namespace {

// A hostile header can claim a huge picture in a few bytes. No real encoder
// gets anywhere near this many pixels per byte of file (a blank CCITT page
// costs about one bit per row), so anything beyond it is refused up front.
constexpr uint64_t kPixelsPerFileByte = 1u << 17;
constexpr uint64_t kPixelFloor = 1u << 24;
constexpr uint64_t kMaxTileBytes = 1u << 28;

// Sample i of a row: 8 and 16 bits as libtiff hands them over (16 in host
// order), other depths packed most significant bit first.
inline uint32_t Sample(const uint8_t* row, size_t i, unsigned bps) {
    if (bps == 8) return row[i];
    if (bps == 16) {
        uint16_t v;
        std::memcpy(&v, row + 2 * i, 2);
        return v;
    }
    const uint64_t bit = uint64_t(i) * bps;
    const size_t first = size_t(bit >> 3);
    const unsigned off = unsigned(bit & 7);
    const unsigned nbytes = (off + bps + 7) / 8;
    uint32_t acc = 0;
    for (unsigned k = 0; k < nbytes; ++k) acc = (acc << 8) | row[first + k];
    return (acc >> (nbytes * 8 - off - bps)) & ((1u << bps) - 1);
}

// A float sample of 0..1 to 0..255, rounded; beyond the range clamped, NaN black.
inline uint32_t FloatTo8(const uint8_t* row, size_t i) {
    float f;
    std::memcpy(&f, row + 4 * i, 4);
    if (!(f > 0.0f)) return 0;
    if (f >= 1.0f) return 255;
    return uint32_t(f * 255.0f + 0.5f);
}

// Float colour without a profile is linear light (scRGB), as the renderers
// and photo tools that write floats mean it; with a profile, the profile says
// what the samples are, and they are read as levels (0..1).
bool LinearFloats(TIFF* tif, uint16_t photometric, uint16_t bps) {
    uint16_t sampleFormat = SAMPLEFORMAT_UINT;
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLEFORMAT, &sampleFormat);
    uint32_t iccLength = 0;
    const void* icc = nullptr;
    return sampleFormat == SAMPLEFORMAT_IEEEFP && bps == 32 && photometric == PHOTOMETRIC_RGB &&
           !(TIFFGetField(tif, TIFFTAG_ICCPROFILE, &iccLength, &icc) && icc && iccLength);
}

// Any depth to 0..255, keeping black and white at the ends.
inline uint8_t To8(uint32_t v, unsigned bps) {
    if (bps == 8) return uint8_t(v);
    if (bps > 8) return uint8_t(v >> (bps - 8));
    const uint32_t max = (1u << bps) - 1;
    return uint8_t((v * 255 + max / 2) / max);
}

inline uint8_t Unpremultiply(uint8_t c, uint8_t a) {
    if (a == 0 || a == 255) return c;
    return uint8_t(std::min(255, (int(c) * 255 + a / 2) / a));
}

// CIE L*a*b* (D65) to sRGB; bytes as TIFF stores them: L 0..255 for 0..100,
// a and b signed.
RGBQUAD LabToRgb(uint8_t L, int8_t a, int8_t b) {
    auto finv = [](double t) {
        constexpr double d = 6.0 / 29.0;
        return t > d ? t * t * t : 3 * d * d * (t - 4.0 / 29.0);
    };
    const double p = (L / 2.55 + 16) / 116;
    const double X = finv(p + a * 0.002) * 0.95047;
    const double Y = finv(p);
    const double Z = finv(p - b * 0.005) * 1.08883;
    const double lin[3] = {3.240479 * X - 1.53715 * Y - 0.498535 * Z,
                           -0.969256 * X + 1.875992 * Y + 0.041556 * Z,
                           0.055648 * X - 0.204043 * Y + 1.057311 * Z};
    uint8_t out[3];
    for (int i = 0; i < 3; ++i) {
        double c = lin[i];
        c = c > 0.0031308 ? 1.055 * std::pow(c, 1 / 2.4) - 0.055 : 12.92 * c;
        out[i] = uint8_t(std::clamp(int(std::lround(c * 255)), 0, 255));
    }
    return vx::MakeRGBQUAD(out[0], out[1], out[2], 0);
}

int32_t ToInt(double v) {
    if (!std::isfinite(v)) return 0;
    if (v >= double(INT32_MAX)) return INT32_MAX;
    if (v <= double(INT32_MIN)) return INT32_MIN;
    return int32_t(v);
}

// The depth of a picture read band by band.
uint32_t BandDepth(uint16_t photometric, uint16_t spp, uint16_t bps) {
    if (photometric == PHOTOMETRIC_MINISWHITE || photometric == PHOTOMETRIC_MINISBLACK ||
        photometric == PHOTOMETRIC_PALETTE)
        return (photometric == PHOTOMETRIC_PALETTE && bps > 8) ? 24 : bps == 1 ? 1 : bps <= 4 ? 4 : 8;
    return photometric == PHOTOMETRIC_CIELAB && spp == 1 ? 8 : 24;
}

struct RgbaImageGuard {
    TIFFRGBAImage* img = nullptr;
    ~RgbaImageGuard() {
        if (img) TIFFRGBAImageEnd(img);
    }
};

}  // namespace

void VxImageTIF::TileToStrip(unsigned char* out, const unsigned char* in, unsigned long rows,
                             unsigned long cols, int outSkew, int inSkew) {
    for (unsigned long r = 0; r < rows; ++r) {
        std::memcpy(out, in, cols);
        out += cols + long(outSkew);
        in += cols + long(inSkew);
    }
}

bool VxImageTIF::Decode(VxFile* file) {
    TIFF* tif = nullptr;
    tiffError.clear();
    const int64_t start = file ? file->Tell64() : 0;
    try {
        tif = TIFFOpenEx(file);
        if (!tif) Fail("Error encountered while opening TIFF file" + Detail());

        const tdir_t dirs = TIFFNumberOfDirectories(tif);
        Info.NumFrames = int32_t(std::min<uint64_t>(dirs, INT32_MAX));
        if (Info.Frame < 0 || tdir_t(Info.Frame) >= dirs ||
            !TIFFSetDirectory(tif, tdir_t(Info.Frame)))
            Fail("Error: page not present in TIFF file");

        uint32_t width = 0, height = 0, rowsPerStrip = 0xFFFFFFFFu;
        uint16_t spp = 1, bps = 1, photometric = 0, orientation = 1;
        TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width);
        TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height);
        TIFFGetField(tif, TIFFTAG_SAMPLESPERPIXEL, &spp);
        TIFFGetField(tif, TIFFTAG_BITSPERSAMPLE, &bps);
        TIFFGetField(tif, TIFFTAG_ROWSPERSTRIP, &rowsPerStrip);
        TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric);
        TIFFGetField(tif, TIFFTAG_ORIENTATION, &orientation);

        uint16_t resUnit = RESUNIT_INCH;
        TIFFGetFieldDefaulted(tif, TIFFTAG_RESOLUTIONUNIT, &resUnit);
        int32_t xdpi = 0, ydpi = 0;
        float fval = 0;
        if (TIFFGetField(tif, TIFFTAG_XRESOLUTION, &fval))
            xdpi = ToInt(resUnit == RESUNIT_CENTIMETER ? fval * 2.54 + 0.5 : fval);
        if (TIFFGetField(tif, TIFFTAG_YRESOLUTION, &fval))
            ydpi = ToInt(resUnit == RESUNIT_CENTIMETER ? fval * 2.54 + 0.5 : fval);
        int32_t xoff = 0, yoff = 0;
        if (TIFFGetField(tif, TIFFTAG_XPOSITION, &fval)) xoff = ToInt(fval);
        if (TIFFGetField(tif, TIFFTAG_YPOSITION, &fval)) yoff = ToInt(fval);

        if (width == 0 || height == 0) Fail("Corrupted TIFF file!: empty picture");
        // A camera's undeveloped mosaic is no picture here; the probe passes
        // the file on to the camera raw reader.
        if (photometric == PHOTOMETRIC_CFA || photometric == 34892 /* LinearRaw */)
            Fail("TIFF: a camera raw mosaic, read as RAW");
        if (!DimensionsOnly()) VxRequirePicture(*this, width, height, 24);
        const int64_t fileSize = file->Size64();
        const uint64_t pixelLimit =
            std::max(kPixelFloor, uint64_t(std::max<int64_t>(fileSize, 0)) * kPixelsPerFileByte);
        if (uint64_t(width) * height > pixelLimit)
            Fail("Corrupted TIFF file!: picture size does not fit the file size");

        uint32_t iccLength = 0;
        const uint8_t* icc = nullptr;
        if (!DimensionsOnly() && TIFFGetField(tif, TIFFTAG_ICCPROFILE, &iccLength, &icc) && icc &&
            iccLength)
            SetIccProfile({icc, iccLength});
        if (!DimensionsOnly()) vx::tiff::KeepXmpAndIptc(tif, *this);

        Info.TransIndex = -1;
        if (rowsPerStrip > height) {
            rowsPerStrip = height;
            TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, rowsPerStrip);
        }

        uint16_t sampleFormat = SAMPLEFORMAT_UINT;
        TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLEFORMAT, &sampleFormat);
        const bool uintSamples = sampleFormat == SAMPLEFORMAT_UINT;
        const bool floatSamples = sampleFormat == SAMPLEFORMAT_IEEEFP && bps == 32;
        bool band = false;
        switch (photometric) {
            case PHOTOMETRIC_MINISWHITE:
            case PHOTOMETRIC_MINISBLACK:
                band = (uintSamples && bps >= 1 && bps <= 16 && spp >= 1 && spp <= 8) ||
                       (floatSamples && spp >= 1 && spp <= 8);
                break;
            case PHOTOMETRIC_PALETTE:
                band = uintSamples && bps >= 1 && bps <= 16 && spp >= 1 && spp <= 8;
                break;
            case PHOTOMETRIC_RGB:
                band = (uintSamples || floatSamples) && (bps == 8 || bps == 16 || floatSamples) &&
                       spp >= 3 && spp <= 8;
                break;
            case PHOTOMETRIC_CIELAB:
                band = (uintSamples || sampleFormat == SAMPLEFORMAT_INT) &&
                       (bps == 8 || bps == 16) && (spp == 1 || (spp >= 3 && spp <= 8));
                break;
            default: break;
        }
        if (DimensionsOnly()) {
            // The memory budget sizes a row keeping every page by all of them.
            const uint64_t pagesPixels =
                Info.WantPages && dirs > 1 && dirs <= kVxMaxPagesKept ? CheckPagesFit(tif, dirs) : 0;
            TIFFCloseEx(tif);
            SetXDPI(xdpi);
            SetYDPI(ydpi);
            // Orientations 5 to 8 turn the picture a quarter.
            const bool turned = orientation >= ORIENTATION_LEFTTOP && orientation <= ORIENTATION_LEFTBOT;
            const bool grey = photometric == PHOTOMETRIC_MINISWHITE || photometric == PHOTOMETRIC_MINISBLACK;
            const bool light = band && LinearFloats(tif, photometric, bps);
            const bool deep = band && ((uintSamples && ((grey && bps > 8) || (photometric == PHOTOMETRIC_RGB && bps == 16))) || light);
            if (deep) vx::AnswerDeep(*this, uint8_t(std::min<uint16_t>(spp, grey ? 2 : 4)), light ? 16 : uint8_t(bps), light);
            // Deep grey with alpha comes out as colour with alpha (vx::SetDeepPicture).
            AnswerDimensions(VX_FORMAT_TIF, turned ? height : width, turned ? width : height,
                             band && !(deep && grey && spp >= 2) ? BandDepth(photometric, spp, bps) : 24);
            Info.PagesPixels = pagesPixels;
            return true;
        }

        if (Cancelled()) Fail("Cancelled");
        uint16_t compression = COMPRESSION_NONE;
        TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &compression);

        // Width and height travel through the image members from here on.
        HeaderRef().biWidth = int32_t(width);
        HeaderRef().biHeight = int32_t(height);
        if (band)
            ReadBandPage(tif, photometric, spp, bps);
        else
            ReadRgbaPage(tif);

        Info.CodecOption[VX_FORMAT_TIF] = compression;
        SetXDPI(xdpi);
        SetYDPI(ydpi);
        SetOffset(xoff, yoff);
        SyncHeaderToDib();
        // Tag values name where row 0 and column 0 of the file belong on screen,
        // as EXIF orientations do.
        vx::ApplyOrientation(*this, orientation);
        const bool allPages = WantsPages() && dirs > 1 && dirs <= kVxMaxPagesKept;
        if (allPages) CheckPagesFit(tif, dirs);
        TIFFCloseEx(tif);
        tif = nullptr;
        if (allPages) ReadAllPages(file, start, dirs);
        return true;
    } catch (const VxCodecFailure& f) {
        TIFFCloseEx(tif);
        Destroy();
        SetLastError(f.text);
        return false;
    } catch (const std::bad_alloc&) {
        TIFFCloseEx(tif);
        Destroy();
        SetLastError("VxImageTIF can't allocate memory");
        return false;
    }
}

uint64_t VxImageTIF::CheckPagesFit(TIFF* tif, tdir_t dirs) {
    // Pages keep their own sizes, so the limit bounds their pixels together.
    const uint64_t limit = GetMaxPixels();
    uint64_t total = 0;
    for (tdir_t d = 0; d < dirs; ++d) {
        if (Cancelled()) Fail("Cancelled");
        uint32_t w = 0, h = 0;
        if (!TIFFSetDirectory(tif, d)) Fail("Error: page " + std::to_string(d + 1) + " of the TIFF file cannot be read" + Detail());
        TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &w);
        TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &h);
        total += uint64_t(w) * h;
        if (limit != 0 && total > limit)
            Fail("the TIFF file's " + std::to_string(dirs) + " pages pass the picture limit of " +
                 std::to_string(limit) + " pixels together; --frame N converts one page");
    }
    return total;
}

void VxImageTIF::ReadAllPages(VxFile* file, int64_t start, tdir_t dirs) {
    auto pages = std::make_shared<VxFrames>();
    pages->plays = 1;
    pages->frames.reserve(dirs);
    for (tdir_t d = 0; d < dirs; ++d) {
        if (Cancelled()) Fail("Cancelled");
        if (int32_t(d) == Info.Frame) {
            pages->frames.push_back({std::make_shared<VxImage>(*this), 0});
            if (!pages->frames.back().picture->IsValid()) throw std::bad_alloc();
            continue;
        }
        auto page = std::make_shared<VxImageTIF>();
        page->CopyInfo(*this);
        page->Info.ForgetPicture();
        page->Info.Frame = int32_t(d);
        page->Info.WantAnimation = false;
        page->Info.WantPages = false;
        if (!file->Seek64(start, SEEK_SET) || !page->Decode(file))
            Fail("Error: page " + std::to_string(d + 1) + " of the TIFF file: " + page->GetLastError());
        pages->frames.push_back({std::move(page), 0});
    }
    SetAnimation(std::move(pages));
}

void VxImageTIF::ReadRgbaPage(TIFF* tif) {
    const uint32_t w = GetWidth(), h = GetHeight();
    char emsg[1024] = "";
    TIFFRGBAImage img;
    std::memset(&img, 0, sizeof(img));
    if (!TIFFRGBAImageOK(tif, emsg) || !TIFFRGBAImageBegin(&img, tif, 1, emsg))
        Fail(std::string("Corrupted TIFF file!: ") + emsg);
    RgbaImageGuard guard{&img};
    // Rows come in the file's own order; orientation is applied afterwards
    // for both reading paths alike.
    img.req_orientation = img.orientation;

    if (!Create(w, h, 24, VX_FORMAT_TIF))
        Fail(std::string("VxImageTIF can't create image: ") + GetLastError());
    const bool alpha = img.alpha != 0;
    if (alpha && !AlphaCreate()) Fail("VxImageTIF can't allocate memory");

    const size_t count = size_t(w) * h;
    std::unique_ptr<uint32_t, decltype(&std::free)> raster(
        static_cast<uint32_t*>(std::calloc(count, sizeof(uint32_t))), &std::free);
    if (!raster) Fail("No space for raster buffer");
    if (!TIFFRGBAImageGet(&img, raster.get(), w, h)) Fail("Corrupted TIFF file!" + Detail());

    for (uint32_t y = 0; y < h; ++y) {
        if (Cancelled()) Fail("Cancelled");
        const uint32_t stored = h - 1 - y;
        const uint32_t* src = raster.get() + size_t(y) * w;
        uint8_t* dst = GetBits(stored);
        uint8_t* a = alpha ? AlphaGetPointer(0, int32_t(stored)) : nullptr;
        for (uint32_t x = 0; x < w; ++x) {
            const uint32_t p = src[x];
            // The RGBA reader hands out premultiplied colour; the alpha plane
            // is straight alpha.
            const uint8_t av = uint8_t(TIFFGetA(p));
            dst[3 * x + 0] = alpha ? Unpremultiply(uint8_t(TIFFGetB(p)), av) : uint8_t(TIFFGetB(p));
            dst[3 * x + 1] = alpha ? Unpremultiply(uint8_t(TIFFGetG(p)), av) : uint8_t(TIFFGetG(p));
            dst[3 * x + 2] = alpha ? Unpremultiply(uint8_t(TIFFGetR(p)), av) : uint8_t(TIFFGetR(p));
            if (a) a[x] = av;
        }
    }
}

void VxImageTIF::ReadBandPage(TIFF* tif, uint16_t photometric, uint16_t spp, uint16_t bps) {
    const uint32_t w = GetWidth(), h = GetHeight();
    const bool grey =
        photometric == PHOTOMETRIC_MINISWHITE || photometric == PHOTOMETRIC_MINISBLACK;
    const bool palette = photometric == PHOTOMETRIC_PALETTE;
    const bool lab = photometric == PHOTOMETRIC_CIELAB;
    const bool rgb = photometric == PHOTOMETRIC_RGB;

    // Layout of the picture.
    const uint32_t bpp = BandDepth(photometric, spp, bps);
    const bool withAlpha = ((grey || palette) && spp >= 2) || ((rgb || lab) && spp >= 4);
    uint16_t extraCount = 0;
    uint16_t* extraTypes = nullptr;
    TIFFGetFieldDefaulted(tif, TIFFTAG_EXTRASAMPLES, &extraCount, &extraTypes);
    const bool associated =
        withAlpha && extraCount > 0 && extraTypes && extraTypes[0] == EXTRASAMPLE_ASSOCALPHA;

    // Band geometry.
    uint16_t planar = PLANARCONFIG_CONTIG;
    TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &planar);
    const bool separate = planar == PLANARCONFIG_SEPARATE && spp > 1;
    const uint32_t planes = separate ? spp : 1;
    const uint32_t planeSamples = separate ? 1 : spp;
    const uint64_t line = (uint64_t(planeSamples) * bps * w + 7) / 8;
    const bool tiled = TIFFIsTiled(tif) != 0;
    uint32_t tileW = 0, tileL = 0, bandRows = 0;
    uint64_t tileRow = 0, tileBytes = 0;
    if (tiled) {
        TIFFGetField(tif, TIFFTAG_TILEWIDTH, &tileW);
        TIFFGetField(tif, TIFFTAG_TILELENGTH, &tileL);
        tileRow = uint64_t(TIFFTileRowSize64(tif));
        tileBytes = uint64_t(TIFFTileSize64(tif));
        if (tileW == 0 || tileL == 0 || tileBytes == 0 || tileBytes > kMaxTileBytes ||
            (uint64_t(tileW) * planeSamples * bps) % 8 != 0 ||
            tileRow != (uint64_t(tileW) * planeSamples * bps) / 8 || tileBytes < tileRow * tileL)
            Fail("Corrupted tiled TIFF file!: bad tile layout");
        bandRows = tileL;
    } else {
        uint32_t rps = h;
        TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &rps);
        bandRows = rps == 0 ? h : rps;
    }
    bandRows = std::min(bandRows, h);
    const uint64_t planeBytes = line * bandRows;
    if (line > uint64_t(INT32_MAX) || planeBytes * planes > (uint64_t(1) << 34))
        Fail("VxImageTIF can't allocate memory");
    // A strip of many deep samples can dwarf the picture it makes.
    VxRequireBuffer(*this, planeBytes * planes + (tiled ? tileBytes : 0));

    if (!Create(w, h, bpp, VX_FORMAT_TIF))
        Fail(std::string("VxImageTIF can't create image: ") + GetLastError());
    if (withAlpha && !AlphaCreate()) Fail("VxImageTIF can't allocate memory");

    // Palette, or the colour map of a deep palette page.
    std::vector<RGBQUAD> pal(256, vx::MakeRGBQUAD(0, 0, 0, 0));
    std::vector<RGBQUAD> deepMap;
    if (grey) {
        const uint32_t levels = bps <= 8 ? (1u << bps) : 256;
        for (uint32_t i = 0; i < levels; ++i) {
            uint8_t g = uint8_t((i * 255 + (levels - 1) / 2) / (levels - 1));
            if (photometric == PHOTOMETRIC_MINISWHITE) g = uint8_t(255 - g);
            pal[i] = vx::MakeRGBQUAD(g, g, g, 0);
        }
    } else if (palette) {
        uint16_t *r = nullptr, *g = nullptr, *b = nullptr;
        if (TIFFGetField(tif, TIFFTAG_COLORMAP, &r, &g, &b) && r && g && b) {
            const uint32_t n = 1u << bps;
            bool wide = false;
            for (uint32_t i = 0; i < n && !wide; ++i) wide = r[i] > 255 || g[i] > 255 || b[i] > 255;
            // The high byte: maps written as c * 257 and as c * 256 both give c.
            auto scale = [wide](uint16_t v) { return uint8_t(wide ? v >> 8 : v & 0xFF); };
            std::vector<RGBQUAD>& dst = bps > 8 ? deepMap : pal;
            dst.resize(std::max<size_t>(dst.size(), n));
            for (uint32_t i = 0; i < n; ++i)
                dst[i] = vx::MakeRGBQUAD(scale(r[i]), scale(g[i]), scale(b[i]), 0);
        } else if (bps > 8) {
            deepMap.assign(size_t(1) << bps, vx::MakeRGBQUAD(0, 0, 0, 0));
        }
    } else if (lab && spp == 1) {
        for (uint32_t i = 0; i < 256; ++i) pal[i] = LabToRgb(uint8_t(i), 0, 0);
    }
    if (bpp <= 8) SetPalette(pal.data(), GetNumColors());

    std::vector<uint8_t> bandBuf(size_t(planeBytes * planes));
    std::vector<uint8_t> tileBuf(tiled ? size_t(tileBytes) : 0);

    // Float samples come out of `sample` as 8-bit values already.
    uint16_t sampleFormat = SAMPLEFORMAT_UINT;
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLEFORMAT, &sampleFormat);
    const bool floats = sampleFormat == SAMPLEFORMAT_IEEEFP && bps == 32;
    const unsigned ubps = floats ? 8 : bps;
    // Deep grey and colour samples are kept beside the 8-bit picture.
    std::shared_ptr<VxDeepPlane> deep;
    const bool light = LinearFloats(tif, photometric, bps);
    if (light || (!floats && ((grey && bps > 8) || (rgb && bps == 16)))) {
        const uint8_t colours = grey ? 1 : 3;
        deep = vx::NewDeepPlane(*this, w, h, uint8_t(colours + (withAlpha ? 1 : 0)), light ? 16 : uint8_t(bps));
        if (!deep) Fail(GetLastError());
        if (light) {
            // The light rides along for a writer of floats, as an EXR source's does.
            VxRequireBuffer(*this, deep->samples.size() * 2, vx::kDeepBytesPerPixel);
            deep->light.resize(deep->samples.size());
            deep->hasLight = true;
        }
    }
    const uint32_t deepMax = deep && !light ? (1u << bps) - 1 : 0;  // integers only up to 16 bits
    for (uint32_t ys = 0; ys < h; ys += bandRows) {
        if (Cancelled()) Fail("Cancelled");
        const uint32_t nrow = std::min(bandRows, h - ys);
        for (uint32_t p = 0; p < planes; ++p) {
            uint8_t* bandPlane = bandBuf.data() + size_t(planeBytes * p);
            if (tiled) {
                for (uint32_t col = 0; col < w; col += tileW) {
                    if (TIFFReadTile(tif, tileBuf.data(), col, ys, 0, uint16_t(p)) < 0)
                        Fail("Corrupted tiled TIFF file!" + Detail());
                    const uint64_t colb = uint64_t(col) * planeSamples * bps / 8;
                    // The last tile column may reach past the picture: copy only
                    // what lies inside it.
                    const uint64_t cols = std::min<uint64_t>(tileRow, line - colb);
                    TileToStrip(bandPlane + colb, tileBuf.data(), nrow, (unsigned long)cols,
                                int(line - cols), int(tileRow - cols));
                    if (col > UINT32_MAX - tileW) break;
                }
            } else {
                const tmsize_t want = tmsize_t(line * nrow);
                const tmsize_t got = TIFFReadEncodedStrip(
                    tif, TIFFComputeStrip(tif, ys, uint16_t(p)), bandPlane, want);
                if (got < 0) Fail("Corrupted TIFF file!" + Detail());
                if (got < want) std::memset(bandPlane + got, 0, size_t(want - got));
            }
        }

        for (uint32_t r = 0; r < nrow; ++r) {
            const uint32_t stored = h - 1 - ys - r;
            uint8_t* dst = GetBits(stored);
            uint8_t* alpha = withAlpha ? AlphaGetPointer(0, int32_t(stored)) : nullptr;
            const uint8_t* rows[8];
            for (uint32_t p = 0; p < planes; ++p)
                rows[p] = bandBuf.data() + size_t(planeBytes * p + line * r);
            // Sample s of pixel x, wherever the planar layout keeps it.
            auto sample = [&](uint32_t x, uint32_t s) -> uint32_t {
                const uint8_t* from = separate ? rows[s] : rows[0];
                const size_t at = separate ? x : size_t(x) * spp + s;
                return floats ? FloatTo8(from, at) : Sample(from, at, ubps);
            };

            auto lightAt = [&](uint32_t x, uint32_t s) {
                float f;
                std::memcpy(&f, (separate ? rows[s] : rows[0]) + 4 * (separate ? x : size_t(x) * spp + s), 4);
                return f;
            };
            if (light) {
                uint16_t* d = deep->Row(ys + r);
                uint16_t* l = deep->light.data() + size_t(ys + r) * deep->RowSamples();
                for (uint32_t x = 0; x < w; ++x) {
                    const float a = withAlpha ? lightAt(x, 3) : 1.0f;
                    // The light is kept premultiplied; the samples are straight.
                    const float toLight = associated ? 1.0f : a, toStraight = associated && a > 0.0f && a < 1.0f ? 1 / a : 1.0f;
                    for (uint32_t k = 0; k < 3; ++k) {
                        const float v = lightAt(x, k);
                        *l++ = vx::FloatToHalf(v * toLight);
                        *d++ = vx::LinearToSrgb16(v * toStraight);
                    }
                    if (withAlpha) {
                        *l++ = vx::FloatToHalf(a);
                        *d++ = vx::Clip16(a);
                    }
                }
            } else if (deep) {
                uint16_t* d = deep->Row(ys + r);
                const unsigned ch = deep->channels, colours = deep->Colours();
                for (uint32_t x = 0; x < w; ++x, d += ch) {
                    const uint32_t a = withAlpha ? sample(x, colours) : deepMax;
                    for (unsigned k = 0; k < colours; ++k) {
                        uint32_t v = sample(x, k);
                        if (photometric == PHOTOMETRIC_MINISWHITE) v = deepMax - v;
                        if (associated) v = a == 0 ? v : std::min<uint32_t>(deepMax, (v * uint64_t(deepMax) + a / 2) / a);
                        d[k] = vx::WidenSample(v, bps);
                    }
                    if (withAlpha) d[colours] = vx::WidenSample(a, bps);
                }
            } else if ((grey || palette) && bpp <= 8) {
                if (spp == 1 && ubps == bpp && !floats) {
                    std::memcpy(dst, rows[0], size_t(std::min<uint64_t>(line, GetEffWidth())));
                } else {
                    for (uint32_t x = 0; x < w; ++x) {
                        const uint32_t v = sample(x, 0);
                        vx::SetRowIndex(dst, bpp, int32_t(x), uint8_t(ubps > 8 ? v >> (ubps - 8) : v));
                    }
                }
                if (alpha)
                    for (uint32_t x = 0; x < w; ++x) alpha[x] = To8(sample(x, 1), ubps);
            } else if (palette) {
                for (uint32_t x = 0; x < w; ++x) {
                    const RGBQUAD c = deepMap[sample(x, 0)];
                    dst[3 * x] = c.rgbBlue;
                    dst[3 * x + 1] = c.rgbGreen;
                    dst[3 * x + 2] = c.rgbRed;
                    if (alpha) alpha[x] = To8(sample(x, 1), ubps);
                }
            } else if (rgb) {
                for (uint32_t x = 0; x < w; ++x) {
                    const uint8_t a = alpha ? To8(sample(x, 3), ubps) : 255;
                    uint8_t R = To8(sample(x, 0), ubps), G = To8(sample(x, 1), ubps),
                            B = To8(sample(x, 2), ubps);
                    if (associated) {
                        R = Unpremultiply(R, a);
                        G = Unpremultiply(G, a);
                        B = Unpremultiply(B, a);
                    }
                    dst[3 * x] = B;
                    dst[3 * x + 1] = G;
                    dst[3 * x + 2] = R;
                    if (alpha) alpha[x] = a;
                }
            } else if (lab && spp == 1) {
                for (uint32_t x = 0; x < w; ++x) dst[x] = To8(sample(x, 0), ubps);
            } else {
                for (uint32_t x = 0; x < w; ++x) {
                    const RGBQUAD c =
                        LabToRgb(To8(sample(x, 0), ubps), int8_t(To8(sample(x, 1), ubps)),
                                 int8_t(To8(sample(x, 2), ubps)));
                    dst[3 * x] = c.rgbBlue;
                    dst[3 * x + 1] = c.rgbGreen;
                    dst[3 * x + 2] = c.rgbRed;
                    if (alpha) alpha[x] = To8(sample(x, 3), ubps);
                }
            }
        }
    }
    if (deep && !vx::SetDeepPicture(*this, std::move(deep), VX_FORMAT_TIF)) Fail(GetLastError());
}

