// TIFF writing: one or more pages per save.
#include <tiffio.h>

#include <algorithm>
#include <functional>
#include <utility>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "codecs/tiff/vx_image_tif.h"
#include "codecs/tiff/tiff_exif_write.h"
#include "codecs/tiff/tiff_xmp_iptc.h"
#include "core/vx_codec.h"
#include "core/vx_deep.h"
#include "core/vx_frames.h"
#include "core/vx_light.h"
#include "core/vx_parallel.h"
#include "core/vx_srgb.h"
#include "core/vx_swap_rb.h"

bool VxImageTIF::CloseOutput(bool finish) {
    bool ok = true;
    if (outTiff) {
        if (finish) ok = TIFFFlush(outTiff) != 0;
        TIFFClose(outTiff);
    }
    outTiff = nullptr;
    multiPage = false;
    pagesWritten = 0;
    return ok;
}

bool VxImageTIF::Encode(VxFile* file, bool append) {
    tiffError.clear();
    try {
        if (!file) Fail("文件句柄为空的");
        if (!Dib) Fail("没有图像!!!");
        if (const VxFrames* anim = GetAnimation(); anim && anim->frames.size() > 1 && !append && !outTiff)
            return EncodeFrames(file, *anim);
        if (!outTiff) {
            outTiff = TIFFOpenEx(file, "a");
            if (!outTiff) Fail("initialization fail" + Detail());
        }
        multiPage = append || pagesWritten > 0;
        ++pagesWritten;
        if (!EncodeBody(outTiff, multiPage, pagesWritten - 1, pageTotal))
            Fail("Error saving TIFF file" + Detail());
        if (append) {
            if (!TIFFWriteDirectory(outTiff)) Fail("Error saving TIFF directory" + Detail());
        } else if (!CloseOutput(true)) {
            Fail("Error saving TIFF file" + Detail());
        }
        return true;
    } catch (const VxCodecFailure& f) {
        CloseOutput(false);
        SetLastError(f.text);
        return false;
    } catch (const std::bad_alloc&) {
        CloseOutput(false);
        SetLastError("Error saving TIFF file: out of memory");
        return false;
    }
}

bool VxImageTIF::Encode(VxFile* file, VxImage** images, int count) {
    tiffError.clear();
    try {
        if (!file) Fail("invalid file pointer");
        if (!images || count <= 0) Fail("multipage TIFF, no images!");
        VxImageTIF worker;
        worker.pageTotal = count;
        for (int i = 0; i < count; ++i) {
            if (!images[i]) Fail("Bad image pointer");
            worker.Ghost(images[i]);
            if (!worker.Encode(file, true)) {
                const std::string why = worker.GetLastError();
                Fail(why.rfind("Error saving TIFF", 0) == 0 ? why
                                                            : "Error saving TIFF file: " + why);
            }
        }
        // Finish the file here rather than in the destructor, where a failed
        // write could not be reported.
        if (!worker.CloseOutput(true)) Fail("Error saving TIFF file" + worker.Detail());
        return true;
    } catch (const VxCodecFailure& f) {
        SetLastError(f.text);
        return false;
    }
}

// Each frame becomes a page at its own size and depth, written with this
// picture's settings (compression, quality) rather than the ones its source
// page was read with.
bool VxImageTIF::EncodeFrames(VxFile* file, const VxFrames& anim) {
    VxImageTIF worker;
    worker.pageTotal = int(std::min<size_t>(anim.frames.size(), INT32_MAX));
    for (const VxFrame& f : anim.frames) {
        if (!f.picture || !f.picture->IsValid()) Fail("Error saving TIFF file: a page has no picture");
        if (Cancelled()) Fail("Cancelled");
        worker.Ghost(f.picture.get());
        std::copy(std::begin(Info.CodecOption), std::end(Info.CodecOption), worker.Info.CodecOption);
        worker.Info.JpegQuality = Info.JpegQuality;
        worker.Info.Animation.reset();
        if (!worker.Encode(file, true)) {
            const std::string why = worker.GetLastError();
            Fail(why.rfind("Error saving TIFF", 0) == 0 ? why : "Error saving TIFF file: " + why);
        }
    }
    if (!worker.CloseOutput(true)) Fail("Error saving TIFF file" + worker.Detail());
    return true;
}

namespace {

bool IsBlack(const RGBQUAD& c) { return c.rgbRed == 0 && c.rgbGreen == 0 && c.rgbBlue == 0; }
bool IsWhite(const RGBQUAD& c) { return c.rgbRed == 255 && c.rgbGreen == 255 && c.rgbBlue == 255; }
int Gray(const RGBQUAD& c) { return (306 * c.rgbRed + 601 * c.rgbGreen + 117 * c.rgbBlue) >> 10; }

bool Bilevel(const RGBQUAD* pal, uint32_t n) {
    return pal && n >= 2 &&
           ((IsBlack(pal[0]) && IsWhite(pal[1])) || (IsWhite(pal[0]) && IsBlack(pal[1])));
}

// The grey ramp a 4- or 8-bit page is stored as grey for.
bool FullRamp(const RGBQUAD* pal, uint32_t n, uint32_t bits) {
    const uint32_t full = 1u << bits;
    bool ramp = pal && n == full;
    for (uint32_t i = 0; ramp && i < n; ++i) {
        const uint32_t g = i * 255 / (full - 1);
        ramp = pal[i].rgbRed == g && pal[i].rgbGreen == g && pal[i].rgbBlue == g;
    }
    return ramp;
}

}  // namespace

bool VxImageTIF::WritesGrey(const VxImage& img) {
    const uint32_t bits = img.GetBpp();
    if (bits == 1) return Bilevel(img.GetPalette(), img.GetNumColors());
    return (bits == 4 || bits == 8) && FullRamp(img.GetPalette(), img.GetNumColors(), bits);
}

namespace {

// Schemes libtiff can write for this layout; anything else (decode-only
// schemes such as old-style JPEG, fax coding of deep pages, JPEG of palette
// indices) falls back to the default.
bool CompressionFits(uint32_t c, uint16_t photometric, uint16_t bps, uint16_t spp) {
    if (c > 0xFFFF || !TIFFIsCODECConfigured(uint16_t(c))) return false;
    switch (c) {
        case COMPRESSION_NONE:
        case COMPRESSION_LZW:
        case COMPRESSION_ADOBE_DEFLATE:
        case COMPRESSION_DEFLATE:
        case COMPRESSION_PACKBITS:
        case COMPRESSION_LZMA:
        case COMPRESSION_ZSTD: return true;
        case COMPRESSION_CCITTFAX3:
        case COMPRESSION_CCITTFAX4:
            return bps == 1 && spp == 1 && photometric == PHOTOMETRIC_MINISWHITE;
        // Not with alpha: common readers take JPEG-coded RGBA for YCbCr plus
        // an extra sample and show wrong colours.
        case COMPRESSION_JPEG:
            return bps == 8 && ((photometric == PHOTOMETRIC_MINISBLACK && spp == 1) ||
                                (photometric == PHOTOMETRIC_RGB && spp == 3));
        default: return false;
    }
}

}  // namespace

bool VxImageTIF::EncodeBody(TIFF* tif, bool multipage, int page, int pageCount) {
    // Pages of one file share no EXIF block: only a single picture takes it.
    const std::span<const uint8_t> exif = multipage ? std::span<const uint8_t>() : GetExif();
    const vx::tiff::ExifLinks exifLinks = vx::tiff::WriteExifDirectories(tif, exif);
    const uint32_t w = GetWidth(), h = GetHeight();
    const uint32_t bits = GetBpp();
    const bool hasAlpha = AlphaIsValid();
    uint16_t spp = 1, bps = uint16_t(bits);
    if (bits == 24 || bits == 32) {
        spp = (bits == 32 || hasAlpha) ? 4 : 3;
        bps = 8;
    }
    if (bits == 8 && hasAlpha) spp = 2;
    const VxDeepPlane* deep = vx::DeepToWrite(*this, 16);
    // Linear light from a float source is written as floats, beyond white as it is.
    const std::vector<uint16_t>* light = deep && deep->Colour() ? vx::LightToWrite(*this) : nullptr;
    if (deep) {
        spp = deep->channels;
        bps = light ? 32 : 16;
    }

    uint16_t photometric = PHOTOMETRIC_RGB;
    RGBQUAD* pal = GetPalette();
    if (deep) {
        photometric = deep->Colour() ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK;
    } else if (bits == 1) {
        if (Bilevel(pal, GetNumColors())) {
            // Fax coding wants 0 = white: swap the entries and invert the pixels
            // (of the shared picture, which looks the same afterwards).
            if (Gray(pal[0]) < Gray(pal[1])) {
                std::swap(pal[0], pal[1]);
                uint8_t* px = GetBits(0);
                for (uint32_t i = 0; i < Header.biSizeImage; ++i) px[i] = uint8_t(~px[i]);
                Info.LastNearestValid = false;
            }
            photometric = PHOTOMETRIC_MINISWHITE;
        } else {
            photometric = PHOTOMETRIC_PALETTE;  // two colours that are not black and white
        }
    } else if (bits == 4 || bits == 8) {
        photometric = FullRamp(pal, GetNumColors(), bits) ? PHOTOMETRIC_MINISBLACK
                                                            : PHOTOMETRIC_PALETTE;
    }

    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, w);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, h);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, spp);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, bps);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, photometric);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
    TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
    TIFFSetField(tif, TIFFTAG_XRESOLUTION, float(GetXDPI()));
    TIFFSetField(tif, TIFFTAG_YRESOLUTION, float(GetYDPI()));
    // The profile must describe the samples as written; floats without one
    // are read as linear light, as they are written.
    const std::span<const uint8_t> icc = GetIccProfile();
    const bool greyPage = photometric == PHOTOMETRIC_MINISBLACK || photometric == PHOTOMETRIC_MINISWHITE;
    if (light) TIFFSetField(tif, TIFFTAG_SAMPLEFORMAT, SAMPLEFORMAT_IEEEFP);
    if (!light && vx::ProfileFits(icc, greyPage))
        TIFFSetField(tif, TIFFTAG_ICCPROFILE, uint32_t(icc.size()), icc.data());
    vx::tiff::SetExifPageFields(tif, exif, exifLinks);
    // The first page speaks for the file, as readers take it.
    if (!multipage || page == 0) vx::tiff::SetXmpAndIptc(tif, GetXmp(), GetIptc());
    if (spp == 2 || spp == 4) {
        // Without this tag readers take the last sample for an unknown extra.
        const uint16_t extra = light ? EXTRASAMPLE_ASSOCALPHA : EXTRASAMPLE_UNASSALPHA;
        TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, &extra);
    }
    if (multipage) {
        char name[32];
        std::snprintf(name, sizeof(name), "Page %d", page + 1);
        TIFFSetField(tif, TIFFTAG_SUBFILETYPE, FILETYPE_PAGE);
        TIFFSetField(tif, TIFFTAG_PAGENUMBER, uint16_t(page), uint16_t(pageCount));
        TIFFSetField(tif, TIFFTAG_PAGENAME, name);
    } else {
        TIFFSetField(tif, TIFFTAG_SUBFILETYPE, 0);
    }

    if (photometric == PHOTOMETRIC_PALETTE) {
        std::vector<uint16_t> r(256, 0), g(256, 0), b(256, 0);
        const uint32_t n = std::min<uint32_t>(GetNumColors(), 256);
        for (uint32_t i = 0; i < n && pal; ++i) {
            r[i] = uint16_t(pal[i].rgbRed * 257);
            g[i] = uint16_t(pal[i].rgbGreen * 257);
            b[i] = uint16_t(pal[i].rgbBlue * 257);
        }
        TIFFSetField(tif, TIFFTAG_COLORMAP, r.data(), g.data(), b.data());
    }

    uint32_t compression = Info.CodecOption[VX_FORMAT_TIF];
    if (compression == 0 || !CompressionFits(compression, photometric, bps, spp)) {
        if (deep)
            compression = COMPRESSION_LZW;
        else if (bits == 1)
            compression =
                photometric == PHOTOMETRIC_MINISWHITE ? COMPRESSION_CCITTFAX4 : COMPRESSION_LZW;
        else if (bits == 4 || bits == 8)
            compression = COMPRESSION_LZW;
        else if (bits == 24 || bits == 32)
            // Alpha stays exact, and quality 100 means every pixel as given.
            compression = spp == 3 && GetJpegQuality() < 100 ? COMPRESSION_JPEG : COMPRESSION_LZW;
        else
            compression = COMPRESSION_NONE;
    }
    if (!TIFFSetField(tif, TIFFTAG_COMPRESSION, uint16_t(compression))) return false;
    if (compression == COMPRESSION_LZW && bps >= 8)
        TIFFSetField(tif, TIFFTAG_PREDICTOR, light ? PREDICTOR_FLOATINGPOINT : PREDICTOR_HORIZONTAL);
    uint32_t rps = TIFFDefaultStripSize(tif, 0xFFFFFFFFu);
    if (compression == COMPRESSION_JPEG) {
        if (!TIFFSetField(tif, TIFFTAG_JPEGQUALITY, int(GetJpegQuality()))) return false;
        rps = (rps + 7) / 8 * 8;
    }
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, rps);

    // Always from the top of the picture down; libtiff may change the row it
    // is given (predictor), so it gets a scratch copy.
    const size_t want = (size_t(w) * spp * bps + 7) / 8;
    const uint8_t* alphaPlane = hasAlpha ? AlphaGetPointer(0, 0) : nullptr;
    const auto fill = [&](uint32_t row, uint8_t* out) {
        const uint32_t stored = h - 1 - row;
        const uint8_t* src = GetBits(stored);
        const uint8_t* a = alphaPlane ? alphaPlane + size_t(stored) * w : nullptr;
        if (light) {
            const uint16_t* s = light->data() + size_t(row) * deep->RowSamples();
            for (size_t i = 0; i < deep->RowSamples(); ++i) {
                const float f = vx::HalfToFloat(s[i]);
                std::memcpy(out + 4 * i, &f, 4);
            }
        } else if (deep) {
            std::memcpy(out, deep->Row(row), deep->RowSamples() * 2);
        } else if (spp == 1) {
            std::memcpy(out, src, want);
        } else if (spp == 2) {
            for (uint32_t x = 0; x < w; ++x) {
                out[2 * x] = src[x];
                out[2 * x + 1] = a ? a[x] : 255;
            }
        } else if (spp == 3) {
            vx::SwapRedBlue(src, out, w);
        } else {
            for (uint32_t x = 0; x < w; ++x) {
                out[4 * x] = src[3 * x + 2];
                out[4 * x + 1] = src[3 * x + 1];
                out[4 * x + 2] = src[3 * x];
                out[4 * x + 3] = a ? a[x] : 255;
            }
        }
    };
    if (GetThreads() > 1 && compression != COMPRESSION_NONE && TIFFNumberOfStrips(tif) > 1)
        return WriteStripsSideBySide(tif, rps, want, fill);
    std::vector<uint8_t> buf(std::max<size_t>(want, size_t(TIFFScanlineSize64(tif))));
    for (uint32_t row = 0; row < h; ++row) {
        fill(row, buf.data());
        if (TIFFWriteScanline(tif, buf.data(), row, 0) == -1) return false;
    }
    return true;
}

namespace {

// A stream that keeps only what was written since the last Take(): the strip
// a handle of its own has just coded.
class StripSink : public VxFile {
public:
    bool Close() override { return true; }
    size_t Read(void*, size_t, size_t) override { return 0; }
    size_t Write(const void* buffer, size_t size, size_t count) override {
        const auto* p = static_cast<const uint8_t*>(buffer);
        bytes_.insert(bytes_.end(), p, p + size * count);
        pos_ += int64_t(size * count);
        end_ = std::max(end_, pos_);
        return count;
    }
    bool Seek(int32_t offset, int32_t origin) override { return Seek64(offset, origin); }
    bool Seek64(int64_t offset, int32_t origin) override {
        const int64_t to = origin == SEEK_SET ? offset : origin == SEEK_CUR ? pos_ + offset : end_ + offset;
        if (to < 0) return false;
        pos_ = to;
        return true;
    }
    int32_t Tell() override { return VxNarrowPosition(pos_); }
    int32_t Size() override { return VxNarrowPosition(end_); }
    int64_t Tell64() override { return pos_; }
    int64_t Size64() override { return end_; }
    bool Flush() override { return true; }
    bool Eof() override { return false; }
    int32_t Error() override { return 0; }
    int32_t GetC() override { return -1; }
    std::vector<uint8_t> Take() { return std::exchange(bytes_, {}); }

private:
    std::vector<uint8_t> bytes_;
    int64_t pos_ = 0, end_ = 0;
};

// The tags that decide a strip's coded bytes, read from the page being
// written (on its own thread: reading a handle's tags is no read-only act).
struct CodingTags {
    uint32_t w = 0, h = 0, rps = 0;
    uint16_t bps = 0, spp = 0, photometric = 0, planar = 0, compression = 0, format = SAMPLEFORMAT_UINT;
    uint16_t predictor = PREDICTOR_NONE;
    int quality = 75;
    std::vector<uint16_t> extra;

    explicit CodingTags(TIFF* from) {
        TIFFGetField(from, TIFFTAG_IMAGEWIDTH, &w);
        TIFFGetField(from, TIFFTAG_IMAGELENGTH, &h);
        TIFFGetField(from, TIFFTAG_ROWSPERSTRIP, &rps);
        TIFFGetField(from, TIFFTAG_BITSPERSAMPLE, &bps);
        TIFFGetField(from, TIFFTAG_SAMPLESPERPIXEL, &spp);
        TIFFGetField(from, TIFFTAG_PHOTOMETRIC, &photometric);
        TIFFGetField(from, TIFFTAG_PLANARCONFIG, &planar);
        TIFFGetField(from, TIFFTAG_COMPRESSION, &compression);
        TIFFGetFieldDefaulted(from, TIFFTAG_SAMPLEFORMAT, &format);
        uint16_t count = 0;
        uint16_t* types = nullptr;
        if (TIFFGetField(from, TIFFTAG_EXTRASAMPLES, &count, &types) && types) extra.assign(types, types + count);
        if (compression == COMPRESSION_JPEG) TIFFGetField(from, TIFFTAG_JPEGQUALITY, &quality);
        if (compression == COMPRESSION_LZW || compression == COMPRESSION_ADOBE_DEFLATE ||
            compression == COMPRESSION_DEFLATE || compression == COMPRESSION_ZSTD || compression == COMPRESSION_LZMA)
            TIFFGetField(from, TIFFTAG_PREDICTOR, &predictor);
    }

    bool Apply(TIFF* to) const {
        return TIFFSetField(to, TIFFTAG_IMAGEWIDTH, w) && TIFFSetField(to, TIFFTAG_IMAGELENGTH, h) &&
               TIFFSetField(to, TIFFTAG_BITSPERSAMPLE, bps) && TIFFSetField(to, TIFFTAG_SAMPLESPERPIXEL, spp) &&
               TIFFSetField(to, TIFFTAG_PHOTOMETRIC, photometric) && TIFFSetField(to, TIFFTAG_PLANARCONFIG, planar) &&
               TIFFSetField(to, TIFFTAG_SAMPLEFORMAT, format) && TIFFSetField(to, TIFFTAG_COMPRESSION, compression) &&
               TIFFSetField(to, TIFFTAG_ROWSPERSTRIP, rps) &&
               (extra.empty() || TIFFSetField(to, TIFFTAG_EXTRASAMPLES, uint16_t(extra.size()), extra.data())) &&
               (compression != COMPRESSION_JPEG || TIFFSetField(to, TIFFTAG_JPEGQUALITY, quality)) &&
               (predictor == PREDICTOR_NONE || TIFFSetField(to, TIFFTAG_PREDICTOR, predictor));
    }
};

}  // namespace

// Each strip is coded alone, so strips are coded side by side, each thread on
// a handle of its own with the page's coding tags, and written in order as
// they are: the same bytes as one thread writing rows.
bool VxImageTIF::WriteStripsSideBySide(TIFF* tif, uint32_t rps, size_t rowBytes,
                                       const std::function<void(uint32_t, uint8_t*)>& fill) {
    const uint32_t h = GetHeight(), strips = TIFFNumberOfStrips(tif), threads = GetThreads();
    const size_t stripBytes = size_t(TIFFStripSize64(tif));
    const size_t scratch = std::max(stripBytes, size_t(TIFFScanlineSize64(tif)));
    const CodingTags tags(tif);
    // A batch of strips at a time bounds the coded bytes held; each thread
    // takes a run of it.
    const uint32_t perBatch = uint32_t(std::clamp<uint64_t>((uint64_t(threads) << 24) / std::max<size_t>(stripBytes, 1),
                                                            threads, strips));
    std::vector<std::vector<uint8_t>> coded(perBatch);
    std::vector<uint8_t> tables;
    bool failed = false;
    for (uint32_t first = 0; first < strips && !failed; first += perBatch) {
        if (Cancelled()) return false;
        const uint32_t n = std::min(perBatch, strips - first);
        const uint32_t runs = std::min(threads, n);
        std::vector<char> ok(runs, 0);
        const auto codeRun = [&](size_t run) {
            VxImageTIF errors;  // libtiff's messages stay with this thread
            StripSink sink;
            const std::unique_ptr<TIFF, void (*)(TIFF*)> handle(errors.TIFFOpenEx(&sink, "w"), TIFFCleanup);
            TIFF* t = handle.get();
            if (!t) return false;
            std::vector<uint8_t> raw(scratch);
            bool good = tags.Apply(t);
            for (uint32_t i = uint32_t(run * n / runs); good && i < uint32_t((run + 1) * n / runs); ++i) {
                const uint32_t strip = first + i, y0 = strip * rps, rows = std::min(rps, h - y0);
                for (uint32_t r = 0; r < rows; ++r) fill(y0 + r, raw.data() + size_t(r) * rowBytes);
                sink.Take();
                good = TIFFWriteEncodedStrip(t, strip, raw.data(), tmsize_t(size_t(rows) * rowBytes)) >= 0;
                coded[i] = sink.Take();
                uint32_t count = 0;
                const void* data = nullptr;
                if (good && run == 0 && i == 0 && first == 0 && TIFFGetField(t, TIFFTAG_JPEGTABLES, &count, &data) && data)
                    tables.assign(static_cast<const uint8_t*>(data), static_cast<const uint8_t*>(data) + count);
            }
            return good;
        };
        VxParallelFor(runs, runs, [&](size_t run) noexcept {
            try {
                ok[run] = codeRun(run);
            } catch (...) {  // out of memory: the page fails
            }
        });
        for (uint32_t run = 0; run < runs; ++run) failed = failed || !ok[run];
        if (first == 0 && !tables.empty() && !TIFFSetField(tif, TIFFTAG_JPEGTABLES, uint32_t(tables.size()), tables.data()))
            failed = true;
        for (uint32_t i = 0; i < n && !failed; ++i) {
            failed = TIFFWriteRawStrip(tif, first + i, coded[i].data(), tmsize_t(coded[i].size())) < 0;
            coded[i] = {};
        }
    }
    return !failed;
}
