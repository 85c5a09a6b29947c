#include "codecs/raw/vx_raw_codec.h"

#include <omp.h>
#include <libraw/libraw.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "codecs/raw/vx_raw_exif.h"
#include "codecs/raw/vx_raw_file_stream.h"
#include "core/vx_codec.h"
#include "core/vx_codec_guard.h"
#include "core/vx_deep.h"
#include "core/vx_file.h"
#include "core/vx_quiet_stderr.h"
#include "core/vx_stream_bytes.h"

namespace {

const char kNoMemory[] = "Can't allocate memory";

// libraw's flip (bit 0 mirror, bit 1 flip, bit 2 transpose) as an EXIF orientation.
int32_t ExifFromFlip(int flip) { return "12435867"[flip & 7] - '0'; }

int Progress(void* data, enum LibRaw_progress, int, int) {
    return static_cast<const VxImage*>(data)->CancelledBetweenPieces() ? 1 : 0;
}

void NoMemoryText(void*, const char*, const char*) {}
void NoDataText(void*, const char*, const int) {}

[[noreturn]] void Fail(int code, const char* cancelledText = "Cancelled") {
    if (code == LIBRAW_CANCELLED_BY_CALLBACK) throw VxCodecFailure(cancelledText);
    if (code == LIBRAW_UNSUFFICIENT_MEMORY) throw VxCodecFailure("RAW: ", "the library's memory limit or the system refused");
    throw VxCodecFailure("RAW: ", libraw_strerror(code));
}

struct ImageFree {
    void operator()(libraw_processed_image_t* p) const { LibRaw::dcraw_clear_mem(p); }
};

vx::raw::CameraFacts FactsOf(const LibRaw& r, int32_t orientation) {
    const libraw_data_t& d = r.imgdata;
    vx::raw::CameraFacts f;
    f.make.assign(d.idata.make, strnlen(d.idata.make, sizeof d.idata.make));
    f.model.assign(d.idata.model, strnlen(d.idata.model, sizeof d.idata.model));
    f.artist.assign(d.other.artist, strnlen(d.other.artist, sizeof d.other.artist));
    f.orientation = orientation;
    f.shutter = d.other.shutter;
    f.aperture = d.other.aperture;
    f.iso = d.other.iso_speed;
    f.focal = d.other.focal_len;
    return f;
}

}  // namespace

bool VxRawCodec::Decode(VxFile* file, ImageFormat type) {
    if (!file) return false;
    const int64_t start = file->Tell64();
    vx::QuietStderr quiet;
    return vx::RunCodec(*this, kNoMemory, [&] {
        uint8_t head[16] = {};
        const size_t got = file->Read(head, 1, sizeof head);
        if (type == 0 && !Claims(head, got)) throw VxCodecFailure("Not a camera raw file");
        file->Seek64(start, SEEK_SET);
        const int64_t length = std::max<int64_t>(file->Size64() - start, 0);
        if (length == 0) throw VxCodecFailure("Not a camera raw file");
        // The header and the preview are read where they lie; the mosaic
        // from the whole file in memory, libraw's fastest stream.
        const bool wantsPreview = GetCodecOption(VX_FORMAT_RAW) & kPreview;
        vx::raw::FileStream stream(file, start);
        std::vector<uint8_t> bytes;

        // One object a decode: libraw's state is its own, not shared.
        auto raw = std::make_unique<LibRaw>(LIBRAW_OPIONS_NO_MEMERR_CALLBACK | LIBRAW_OPIONS_NO_DATAERR_CALLBACK);
        raw->set_memerror_handler(&NoMemoryText, nullptr);
        raw->set_dataerror_handler(&NoDataText, nullptr);
        raw->set_progress_handler(&Progress, this);
        libraw_output_params_t& p = raw->imgdata.params;
        // What libraw may allocate follows the picture limit: its four 16-bit
        // samples a pixel, twice over (the mosaic and the developed copy).
        if (const uint64_t limit = GetMaxPixels())
            p.max_raw_memory_mb = unsigned(std::clamp<uint64_t>(limit * 16 >> 20, 64, LIBRAW_MAX_ALLOC_MB_DEFAULT));
        p.use_camera_wb = 1;
        p.output_bps = 16;
        p.output_color = 1;  // sRGB primaries
        p.gamm[0] = 1 / 2.4;  // and the sRGB curve
        p.gamm[1] = 12.92;

        const auto openWhole = [&] {
            vx::ReadUpTo(file, bytes, SIZE_MAX);
            if (bytes.empty()) throw VxCodecFailure("Not a camera raw file");
            if (const int rc = raw->open_buffer(bytes.data(), bytes.size())) Fail(rc);
        };
        if (DimensionsOnly() || wantsPreview) {
            if (const int rc = raw->open_datastream(&stream)) Fail(rc);
        } else {
            openWhole();
        }
        const libraw_image_sizes_t& s = raw->imgdata.sizes;
        if (s.width == 0 || s.height == 0) throw VxCodecFailure("RAW: no picture size");
        const int32_t fileOrientation = ExifFromFlip(s.flip);
        const libraw_iparams_t& id = raw->imgdata.idata;
        // Set last: a nested decode of the preview replaces the metadata.
        const std::vector<uint8_t> xmp(id.xmpdata, id.xmpdata + (id.xmpdata ? id.xmplen : 0));

        const libraw_thumbnail_t& t = raw->imgdata.thumbnail;
        // libraw tells an uncompressed preview's form only once it is read.
        // Forms it cannot hand over as 8-bit RGB or JPEG are developed instead.
        bool preview = wantsPreview && t.tlength > 0;
        if (preview) {
            const int rc = raw->unpack_thumb();
            if (rc == LIBRAW_CANCELLED_BY_CALLBACK) Fail(rc);
            preview = rc == 0 && t.thumb && (t.tformat == LIBRAW_THUMBNAIL_JPEG || t.tformat == LIBRAW_THUMBNAIL_BITMAP);
        }
        if (preview) {
            if (t.tformat == LIBRAW_THUMBNAIL_JPEG) {
                VxMemFile mem(reinterpret_cast<uint8_t*>(t.thumb), t.tlength);
                if (!VxImage::Decode(&mem, VX_FORMAT_JPG))
                    throw VxCodecFailure("RAW preview: ", *GetLastError() ? GetLastError() : "cannot be decoded");
            } else {
                const uint64_t w = t.twidth, h = t.theight;
                if (w == 0 || h == 0 || (t.tcolors != 1 && t.tcolors != 3) || uint64_t(t.tlength) < w * h * uint64_t(t.tcolors))
                    throw VxCodecFailure("RAW: bad preview size");
                if (DimensionsOnly()) {
                    AnswerDimensions(VX_FORMAT_RAW, w, h, 24);
                } else {
                    VxRequirePicture(*this, w, h, 24);
                    if (!Create(uint32_t(w), uint32_t(h), 24, VX_FORMAT_RAW)) throw VxCodecFailure(GetLastError());
                    const uint8_t* src = reinterpret_cast<const uint8_t*>(t.thumb);
                    for (uint32_t y = 0; y < h; ++y) {
                        uint8_t* d = GetBits(uint32_t(h - 1 - y));  // the block is bottom-up
                        for (uint32_t x = 0; x < w; ++x, src += t.tcolors, d += 3) {
                            const uint8_t r = src[0], g = src[t.tcolors == 3 ? 1 : 0], b = src[t.tcolors == 3 ? 2 : 0];
                            d[0] = b;
                            d[1] = g;
                            d[2] = r;
                        }
                    }
                }
            }
            Info.Type = VX_FORMAT_RAW;
            // The preview is stored as the sensor saw it: the engine turns it.
            SetOrientation(fileOrientation);
            SetExif(vx::raw::BuildExif(FactsOf(*raw, fileOrientation)));
            SetXmp(xmp);
            file->Seek64(start + length, SEEK_SET);
            return true;
        }

        if (DimensionsOnly()) {
            // Sizes as developed: pixel aspect and turn applied, nothing unpacked.
            if (const int rc = raw->adjust_sizes_info_only()) Fail(rc);
            vx::AnswerDeep(*this, raw->imgdata.idata.colors == 1 ? 1 : 3, 16);
            AnswerDimensions(VX_FORMAT_RAW, s.iwidth, s.iheight, 24);
            SetOrientation(1);
            SetExif(vx::raw::BuildExif(FactsOf(*raw, 1)));
            SetXmp(xmp);
            return true;
        }
        if (bytes.empty()) {
            // Opened for its preview, which it lacks: the mosaic is read from
            // the whole file in memory. libraw keeps its settings over recycle().
            raw->recycle();
            file->Seek64(start, SEEK_SET);
            openWhole();
        }
        // Before the mosaic is unpacked: the picture as the sensor holds it,
        // and the library's four samples a pixel.
        VxRequirePicture(*this, std::max(s.width, s.raw_width), std::max(s.height, s.raw_height), 24);
        VxRequireBuffer(*this, uint64_t(s.width) * s.height * 8, 8);
        // The library's OpenMP regions take this thread's count: the threads
        // the picture may use, not one per core in every row at once.
        omp_set_num_threads(int(std::min(GetThreads(), 64u)));
        if (const int rc = raw->unpack()) Fail(rc);
        if (Cancelled()) throw VxCodecFailure("Cancelled");
        if (const int rc = raw->dcraw_process()) Fail(rc);
        int rc = 0;
        std::unique_ptr<libraw_processed_image_t, ImageFree> img(raw->dcraw_make_mem_image(&rc));
        if (!img) Fail(rc ? rc : LIBRAW_UNSUFFICIENT_MEMORY);
        const uint32_t w = img->width, h = img->height, colors = img->colors;
        if (img->type != LIBRAW_IMAGE_BITMAP || img->bits != 16 || (colors != 1 && colors != 3) ||
            uint64_t(img->data_size) < uint64_t(w) * h * colors * 2)
            throw VxCodecFailure("RAW: the library gave an unexpected picture");
        VxRequirePicture(*this, w, h, 24);
        // libraw turned the picture upright.
        const std::vector<uint8_t> exif = vx::raw::BuildExif(FactsOf(*raw, 1));
        raw->recycle();  // the mosaic and the working copy are no longer needed
        auto plane = vx::NewDeepPlane(*this, w, h, uint8_t(colors), 16);
        if (!plane) throw VxCodecFailure(GetLastError());
        std::memcpy(plane->samples.data(), img->data, size_t(w) * h * colors * 2);
        img.reset();
        if (!vx::SetDeepPicture(*this, std::move(plane), VX_FORMAT_RAW)) throw VxCodecFailure(GetLastError());
        SetOrientation(1);
        SetExif(exif);
        SetXmp(xmp);
        file->Seek64(start + length, SEEK_SET);
        return true;
    });
}

bool VxRawCodec::Encode(VxFile*) {
    SetLastError("camera raw files can only be read");
    return false;
}
