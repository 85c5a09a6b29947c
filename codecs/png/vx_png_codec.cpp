#include "codecs/png/vx_png_codec.h"

#include <png.h>

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "codecs/png/apng_frames.h"
#include "codecs/png/png_xmp_text.h"
#include "core/vx_deep.h"
#include "core/vx_exif_edit.h"

namespace {

const char kCreateFailed[] = "Failed to create PNG structure";
const char kInfoFailed[] = "Failed to initialize PNG info structure";
const char kNoStream[] = "PNG: no input stream";
const char kNoMemory[] = "PNG: can't allocate memory";
const char kLayout[] = "PNG: unsupported pixel layout";

// Largest DPI whose pixels-per-metre value still fits the 32-bit header field.
constexpr int32_t kMaxDpi = 54000000;

// Chunks whose data the library would read into a block of the declared
// length, and that nothing here uses: it skips them instead.
const png_byte kUnusedChunks[] = "tEXt\0zTXt\0sPLT\0pCAL\0sCAL";
constexpr int kUnusedChunkCount = 5;
// Kept as unknown chunks: the library's own eXIf handler allocates the
// declared length unchecked, the unknown-chunk path honours its size limit;
// iTXt is parsed here for the XMP packet only; acTL, the animation control
// chunk before the image data, for its frame count (the frames themselves
// are not read here).
const png_byte kKeptChunks[] = "eXIf\0iTXt\0acTL";
constexpr int kKeptChunkCount = 3;
const png_byte kExifChunk[] = "eXIf";
const png_byte kTextChunk[] = "iTXt";

// The frames an animation control chunk declares; 1 without a usable one.
int32_t DeclaredFrames(png_structp png, png_infop info) {
    png_unknown_chunkp chunks = nullptr;
    const int count = png_get_unknown_chunks(png, info, &chunks);
    for (int i = 0; i < count; ++i) {
        const png_unknown_chunk& c = chunks[i];
        if (std::memcmp(c.name, "acTL", 4) != 0 || !c.data || c.size != 8) continue;
        const uint32_t frames = uint32_t(c.data[0]) << 24 | uint32_t(c.data[1]) << 16 |
                                uint32_t(c.data[2]) << 8 | c.data[3];
        return frames == 0 ? 1 : int32_t(std::min<uint32_t>(frames, INT32_MAX));
    }
    return 1;
}

}  // namespace

// Watches the length field of every chunk that passes through ReadData.
struct VxPngCodec::ChunkWatch {
    VxFile* file = nullptr;
    uint64_t offset = 0;      // bytes handed to the library so far
    uint64_t nextHeader = 8;  // where the next chunk starts (after the signature)
    uint64_t end = UINT64_MAX;  // bytes the stream holds; UINT64_MAX when it cannot say
    uint8_t header[8] = {};
};

namespace {

// Some of the library's chunk handlers allocate the declared length before
// reading a byte of it: a length the stream cannot hold is refused here,
// before the library sees it. Image data is read in small pieces and left to
// the library, so that a cut file still reports its size.
void WatchChunks(png_structp png, VxPngCodec::ChunkWatch* w, const uint8_t* data, size_t n) {
    const uint64_t from = w->offset, to = from + n;
    w->offset = to;
    while (w->nextHeader < to) {
        const uint64_t headerEnd = w->nextHeader + sizeof(w->header);
        for (uint64_t p = std::max(from, w->nextHeader); p < std::min(to, headerEnd); ++p)
            w->header[p - w->nextHeader] = data[p - from];
        if (to < headerEnd) return;  // the rest of the header comes with the next read
        const uint32_t declared = vx::LoadBE32(w->header);
        w->nextHeader = headerEnd + uint64_t(declared) + 4;  // data and CRC
        if (w->nextHeader > w->end && std::memcmp(w->header + 4, "IDAT", 4) != 0)
            png_error(png, "PNG: a chunk runs past the end of the file");
    }
}

void ReadData(png_structp png, png_bytep data, size_t length) {
    auto* watch = static_cast<VxPngCodec::ChunkWatch*>(png_get_io_ptr(png));
    if (watch->file->Read(data, 1, length) != length) png_error(png, "Read Error");
    WatchChunks(png, watch, data, length);
}

// The library's message becomes the image's error text; the jump then lands
// in ReadImage.
void ReadErrorHandler(png_structp png, png_const_charp message) {
    if (auto* img = static_cast<VxImage*>(png_get_error_ptr(png)))
        img->SetLastError(message ? message : "PNG error");
    png_longjmp(png, 1);
}

// Library warnings must never reach the terminal.
void IgnoreWarning(png_structp, png_const_charp) {}

int32_t DpiFromMetre(uint32_t ppm) {
    const double dpi = std::floor(double(ppm) * 0.0254 + 0.5);
    return dpi > kMaxDpi ? kMaxDpi : int32_t(dpi);
}

// 2-bit samples, most significant first, to 4-bit samples (high nibble first).
void Widen2To4(const uint8_t* src, uint8_t* dst, uint32_t width) {
    for (uint32_t x = 0; x < width; ++x) {
        const uint8_t v = uint8_t((src[x >> 2] >> (6 - 2 * (x & 3))) & 3);
        if (x & 1) dst[x >> 1] = uint8_t((dst[x >> 1] & 0xF0) | v);
        else dst[x >> 1] = uint8_t(v << 4);
    }
}

void Narrow4To2(const uint8_t* src, uint8_t* dst, uint32_t width) {
    std::memset(dst, 0, (size_t(width) + 3) / 4);
    for (uint32_t x = 0; x < width; ++x) {
        const uint8_t v = uint8_t(((x & 1) ? src[x >> 1] : src[x >> 1] >> 4) & 3);
        dst[x >> 2] = uint8_t(dst[x >> 2] | (v << (6 - 2 * (x & 3))));
    }
}

}  // namespace

// Lives in Decode's frame, which no jump crosses; ReadImage keeps nothing
// with a destructor of its own.
struct VxPngCodec::ReadState {
    png_structp png = nullptr;
    png_infop info = nullptr;
    uint8_t* volatile row = nullptr;
    ChunkWatch watch;
    // 16-bit samples, filled as the file stores them (big-endian).
    std::shared_ptr<VxDeepPlane> deep;
};

bool VxPngCodec::IsPngSignature(const uint8_t* bytes, size_t size) {
    return bytes && size >= 8 && png_sig_cmp(bytes, 0, 8) == 0;
}

// ---------------------------------------------------------------------------
// reading

bool VxPngCodec::Decode(VxFile* file) {
    if (!file) {
        SetLastError(kNoStream);
        return false;
    }
    ReadState st;
    st.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, static_cast<VxImage*>(this),
                                    ReadErrorHandler, IgnoreWarning);
    if (!st.png) {
        SetLastError(kCreateFailed);
        return false;
    }
    st.info = png_create_info_struct(st.png);
    if (!st.info) {
        png_destroy_read_struct(&st.png, nullptr, nullptr);
        SetLastError(kInfoFailed);
        return false;
    }
    const int64_t start = file->Tell64();
    const int32_t wanted = Info.Frame;
    ReadOutcome outcome = ReadImage(file, &st);
    std::free(st.row);
    png_destroy_read_struct(&st.png, &st.info, nullptr);
    if (outcome == ReadOutcome::Done && Info.NumFrames > 1 && (WantsAnimation() || wanted > 0))
        return ReadAnimation(file, start, wanted);
    if (outcome == ReadOutcome::Done && st.deep) {
        for (uint16_t& v : st.deep->samples) {
            const auto* b = reinterpret_cast<const uint8_t*>(&v);
            v = uint16_t(b[0] << 8 | b[1]);
        }
        const uint32_t interlaced = Info.CodecOption[VX_FORMAT_PNG];
        if (!vx::SetDeepPicture(*this, std::move(st.deep), VX_FORMAT_PNG)) outcome = ReadOutcome::Failed;
        Info.CodecOption[VX_FORMAT_PNG] = interlaced;
    }
    return outcome == ReadOutcome::Done || outcome == ReadOutcome::Dimensions;
}

bool VxPngCodec::ReadAnimation(VxFile* file, int64_t start, int32_t wanted) {
    const int64_t end = file->Tell64();
    std::vector<uint8_t> bytes;
    if (start < 0 || end <= start || !file->Seek64(start, SEEK_SET)) {
        SetLastError("PNG: the animation's frames cannot be read from this stream");
        return false;
    }
    bytes.resize(size_t(end - start));
    if (file->Read(bytes.data(), 1, bytes.size()) != bytes.size()) {
        SetLastError("Read Error");
        return false;
    }
    const std::shared_ptr<VxFrames> frames = vx::png::ReadApngFrames(bytes, *this);
    if (!frames) {
        if (*GetLastError()) return false;
        return wanted == 0;  // fewer than two frames after all: the still picture
    }
    if (size_t(wanted) >= frames->frames.size()) {
        SetLastError("PNG: no such frame");
        return false;
    }
    // The frame shown takes the still picture's place; the file's settings stay.
    VxPngCodec shown;
    shown.Copy(*frames->frames[size_t(wanted)].picture);
    if (!shown.IsValid()) {
        SetLastError(kNoMemory);
        return false;
    }
    ImageInfo info = Info;
    info.EffWidth = shown.Info.EffWidth;
    info.Image = shown.Info.Image;
    info.TransIndex = -1;
    info.AlphaPaletteEnabled = false;
    info.LastNearestValid = false;
    info.Frame = wanted;
    info.NumFrames = int32_t(frames->frames.size());
    if (WantsAnimation()) info.Animation = frames;
    const int32_t xdpi = Info.XDPI, ydpi = Info.YDPI;
    shown.Info = info;
    Transfer(shown);
    SetXDPI(xdpi);
    SetYDPI(ydpi);
    return true;
}

void VxPngCodec::ApplyResolution(bool metre, uint32_t xppu, uint32_t yppu) {
    // Without a unit the values only give the aspect ratio, not a density.
    SetXDPI(metre ? DpiFromMetre(xppu) : 96);
    SetYDPI(metre ? DpiFromMetre(yppu) : 96);
    SyncHeaderToDib();
}

namespace {

// BGRA row -> BGR pixels and alpha bytes. Each pixel is copied as four bytes,
// the fourth overwritten by the next pixel; the last one goes alone so that
// nothing is written past the row.
void SplitAlpha(const uint8_t* bgra, uint8_t* bgr, uint8_t* alpha, uint32_t width) {
    if (width == 0) return;
    uint32_t x = 0;
    for (; x + 1 < width; ++x, bgra += 4, bgr += 3) {
        std::memcpy(bgr, bgra, 4);
        alpha[x] = bgra[3];
    }
    std::memcpy(bgr, bgra, 3);
    alpha[x] = bgra[3];
}

}  // namespace

VxPngCodec::ReadOutcome VxPngCodec::ReadImage(VxFile* file, ReadState* st) {
    png_structp png = st->png;
    png_infop info = st->info;
    if (setjmp(png_jmpbuf(png))) return ReadOutcome::LibraryError;

    st->watch.file = file;
    const int64_t left = file->Remaining();
    if (left >= 0) st->watch.end = uint64_t(left);
    png_set_read_fn(png, &st->watch, ReadData);
    png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, kUnusedChunks, kUnusedChunkCount);
    png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_ALWAYS, kKeptChunks, kKeptChunkCount);
    // Each IDAT chunk's CRC already covers the compressed bytes; zlib's Adler-32
    // over the inflated rows checks them a second time and costs as much as the
    // inflating of a flat small picture. Damaged data still fails on the CRC.
    png_set_option(png, PNG_IGNORE_ADLER32, PNG_OPTION_ON);
    png_read_info(png, info);

    png_uint_32 width = 0, height = 0;
    int bitDepth = 0, colorType = 0, interlace = 0;
    png_get_IHDR(png, info, &width, &height, &bitDepth, &colorType, &interlace, nullptr, nullptr);
    const bool hasTrns = png_get_valid(png, info, PNG_INFO_tRNS) != 0;
    const bool palette = colorType == PNG_COLOR_TYPE_PALETTE;
    const bool grey = colorType == PNG_COLOR_TYPE_GRAY;
    // A grey key up to 8 bits is a palette index; every other alpha source
    // goes to the alpha plane.
    const bool greyKey = hasTrns && grey && bitDepth <= 8;
    const bool alpha = (colorType & PNG_COLOR_MASK_ALPHA) != 0 || (hasTrns && !palette && !greyKey);
    const bool truecolour = alpha || colorType == PNG_COLOR_TYPE_RGB;

    // The still image stands for the first frame; the animation's frames
    // are read afterwards, when asked for (ReadAnimation).
    Info.NumFrames = DeclaredFrames(png, info);
    Info.Frame = 0;
    if (DimensionsOnly()) {
        png_uint_32 xppu = 0, yppu = 0;
        int unit = PNG_RESOLUTION_UNKNOWN;
        if (!png_get_pHYs(png, info, &xppu, &yppu, &unit)) unit = PNG_RESOLUTION_UNKNOWN;
        ApplyResolution(unit == PNG_RESOLUTION_METER, xppu, yppu);
        AnswerDimensions(VX_FORMAT_PNG, width, height, truecolour ? 24 : std::min(bitDepth, 8));
        if (bitDepth == 16 && !palette)
            vx::AnswerDeep(*this, uint8_t(png_get_channels(png, info) + (hasTrns ? 1 : 0)), 16);
        return ReadOutcome::Dimensions;
    }
    // Before the library sizes its row buffers.
    if (!PictureFits(width, height, 24)) return ReadOutcome::Failed;

    if (bitDepth == 16 && !palette) return ReadDeep(st, alpha && hasTrns &&
                                                   (colorType & PNG_COLOR_MASK_ALPHA) == 0);
    if (alpha) {
        if (hasTrns && (colorType & PNG_COLOR_MASK_ALPHA) == 0) png_set_tRNS_to_alpha(png);
        if ((colorType & PNG_COLOR_MASK_COLOR) == 0) png_set_gray_to_rgb(png);
    }
    if (truecolour) png_set_bgr(png);
    const int passes = png_set_interlace_handling(png);
    png_read_update_info(png, info);

    const size_t rowBytes = png_get_rowbytes(png, info);
    const int channels = png_get_channels(png, info);
    const int depth = png_get_bit_depth(png, info);
    const int wantChannels = alpha ? 4 : truecolour ? 3 : 1;
    const int wantDepth = truecolour || bitDepth == 16 ? 8 : bitDepth;
    if (channels != wantChannels || depth != wantDepth) {
        SetLastError(kLayout);
        return ReadOutcome::Failed;
    }

    const uint32_t bpp = truecolour ? 24 : depth == 2 ? 4 : uint32_t(depth);
    if (!Create(width, height, bpp, VX_FORMAT_PNG)) return ReadOutcome::Failed;

    png_uint_32 xppu = 0, yppu = 0;
    int unit = PNG_RESOLUTION_UNKNOWN;
    if (!png_get_pHYs(png, info, &xppu, &yppu, &unit)) unit = PNG_RESOLUTION_UNKNOWN;
    ApplyResolution(unit == PNG_RESOLUTION_METER, xppu, yppu);

    if (RGBQUAD* pal = GetPalette()) {
        const uint32_t size = Header.biClrUsed;
        png_colorp plte = nullptr;
        int count = 0;
        if (palette && png_get_PLTE(png, info, &plte, &count) && plte) {
            const uint32_t n = std::min<uint32_t>(size, uint32_t(std::max(count, 0)));
            for (uint32_t i = 0; i < n; ++i)
                pal[i] = vx::MakeRGBQUAD(plte[i].red, plte[i].green, plte[i].blue, 0);
        } else if (bitDepth == 2) {
            for (uint32_t i = 0; i < 4; ++i)
                pal[i] = vx::MakeRGBQUAD(uint8_t(i * 85), uint8_t(i * 85), uint8_t(i * 85), 0);
        } else {
            SetGrayPalette();
        }

        png_bytep trans = nullptr;
        int transCount = 0;
        png_color_16p transColour = nullptr;
        if (hasTrns && png_get_tRNS(png, info, &trans, &transCount, &transColour)) {
            if (palette && trans && transCount > 0) {
                const uint32_t n = std::min<uint32_t>(size, uint32_t(transCount));
                for (uint32_t i = 0; i < n; ++i) pal[i].rgbReserved = trans[i];
                if (transCount == 1 && trans[0] == 0) {
                    Info.TransIndex = 0;
                } else {
                    Info.AlphaPaletteEnabled = true;
                    for (uint32_t i = n; i < size; ++i) pal[i].rgbReserved = 255;
                }
            } else if (greyKey && transColour && transColour->gray < (1u << bitDepth)) {
                Info.TransIndex = transColour->gray;
            }
        }
        Info.LastNearestValid = false;
    }

    if (alpha && !AlphaCreate()) {
        SetLastError(kNoMemory);
        return ReadOutcome::Failed;
    }
    if (Cancelled()) return ReadOutcome::Cancelled;

    st->row = static_cast<uint8_t*>(std::calloc(1, rowBytes + 16));
    if (!st->row) {
        SetLastError(kNoMemory);
        return ReadOutcome::Failed;
    }
    Info.CodecOption[VX_FORMAT_PNG] = passes > 1 ? 1 : 0;

    uint8_t* buf = st->row;
    const size_t stride = Info.EffWidth;
    const size_t copyBytes = std::min(rowBytes, stride);
    const bool widen = !truecolour && depth == 2;
    for (int pass = 0; pass < passes; ++pass) {
        for (uint32_t y = 0; y < height; ++y) {
            if (Cancelled()) return ReadOutcome::Cancelled;
            const uint32_t stored = height - 1 - y;
            uint8_t* dst = GetBits(stored);
            // Later passes only fill in their own pixels: start from what the
            // earlier passes stored.
            if (alpha) {
                uint8_t* a = Alpha + size_t(stored) * width;
                if (pass > 0) {
                    for (uint32_t x = 0; x < width; ++x) {
                        std::memcpy(buf + 4 * size_t(x), dst + 3 * size_t(x), 3);
                        buf[4 * size_t(x) + 3] = a[x];
                    }
                }
                png_read_row(png, buf, nullptr);
                SplitAlpha(buf, dst, a, width);
            } else if (widen) {
                if (pass > 0) Narrow4To2(dst, buf, width);
                png_read_row(png, buf, nullptr);
                Widen2To4(buf, dst, width);
            } else {
                if (pass > 0) std::memcpy(buf, dst, copyBytes);
                png_read_row(png, buf, nullptr);
                std::memcpy(dst, buf, copyBytes);
            }
        }
    }
    // Given the info structure, the end also collects an eXIf chunk placed
    // after the image data.
    png_read_end(png, info);
    KeepMetadata(png, info);
    return ReadOutcome::Done;
}

// 16-bit grey, grey and alpha, colour, colour and alpha: kept as they are,
// beside an 8-bit block made from them once the file is read.
VxPngCodec::ReadOutcome VxPngCodec::ReadDeep(ReadState* st, bool trnsToAlpha) {
    png_structp png = st->png;
    png_infop info = st->info;
    if (trnsToAlpha) png_set_tRNS_to_alpha(png);
    const int passes = png_set_interlace_handling(png);
    png_read_update_info(png, info);
    const uint32_t width = png_get_image_width(png, info), height = png_get_image_height(png, info);
    const int channels = png_get_channels(png, info);
    if (png_get_bit_depth(png, info) != 16 || channels < 1 || channels > 4 ||
        png_get_rowbytes(png, info) != size_t(width) * channels * 2) {
        SetLastError(kLayout);
        return ReadOutcome::Failed;
    }
    png_uint_32 xppu = 0, yppu = 0;
    int unit = PNG_RESOLUTION_UNKNOWN;
    if (!png_get_pHYs(png, info, &xppu, &yppu, &unit)) unit = PNG_RESOLUTION_UNKNOWN;
    ApplyResolution(unit == PNG_RESOLUTION_METER, xppu, yppu);
    st->deep = vx::NewDeepPlane(*this, width, height, uint8_t(channels), 16);
    if (!st->deep) return ReadOutcome::Failed;
    Info.CodecOption[VX_FORMAT_PNG] = passes > 1 ? 1 : 0;
    for (int pass = 0; pass < passes; ++pass) {
        for (uint32_t y = 0; y < height; ++y) {
            if (Cancelled()) return ReadOutcome::Cancelled;
            png_read_row(png, reinterpret_cast<png_bytep>(st->deep->Row(y)), nullptr);
        }
    }
    png_read_end(png, info);
    KeepMetadata(png, info);
    return ReadOutcome::Done;
}

void VxPngCodec::KeepMetadata(png_structp png, png_infop info) {
    png_charp name = nullptr;
    int compression = 0;
    png_bytep profile = nullptr;
    png_uint_32 length = 0;
    if (png_get_iCCP(png, info, &name, &compression, &profile, &length) && profile && length)
        SetIccProfile({profile, length});
    png_unknown_chunkp chunks = nullptr;
    const int count = png_get_unknown_chunks(png, info, &chunks);
    // The first of each counts; a later one is a duplicate.
    bool haveExif = false, haveXmp = false;
    for (int i = 0; i < count; ++i) {
        const png_unknown_chunk& c = chunks[i];
        if (!c.data) continue;
        if (!haveExif && std::memcmp(c.name, kExifChunk, 4) == 0) {
            haveExif = true;
            if (vx::ExifHeaderValid({c.data, c.size})) SetExif({c.data, c.size});
        } else if (!haveXmp && std::memcmp(c.name, kTextChunk, 4) == 0) {
            const auto xmp = vx::png::XmpOfText({c.data, c.size});
            if (!xmp.empty()) {
                haveXmp = true;
                SetXmp(xmp);
            }
        }
    }
}
