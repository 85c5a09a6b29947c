// libtiff on a VxFile: the client procedures, the per-handle message
// handlers, and what reading and writing share.
#include <tiffio.h>

#include <cstdarg>
#include <cstdio>
#include <string>

#include "codecs/tiff/vx_image_tif.h"
#include "core/vx_codec.h"

namespace {

tsize_t ReadProc(thandle_t h, tdata_t buf, tsize_t size) {
    if (size <= 0) return 0;
    return tsize_t(static_cast<VxFile*>(h)->Read(buf, 1, size_t(size)));
}

tsize_t WriteProc(thandle_t h, tdata_t buf, tsize_t size) {
    if (size <= 0) return 0;
    return tsize_t(static_cast<VxFile*>(h)->Write(buf, 1, size_t(size)));
}

toff_t SeekProc(thandle_t h, toff_t off, int whence) {
    VxFile* f = static_cast<VxFile*>(h);
    const toff_t fail = toff_t(-1);
    if (off == 0xFFFFFFFFu) return fail;
    // Offsets arrive as 64-bit unsigned: relative moves backwards are wrapped.
    const int64_t delta = int64_t(off);
    int64_t base = 0;
    if (whence == SEEK_CUR)
        base = f->Tell64();
    else if (whence == SEEK_END)
        base = f->Size64();
    else if (whence != SEEK_SET)
        return fail;
    if (base < 0) return fail;
    if (whence == SEEK_SET ? (off > toff_t(INT64_MAX)) : (delta > INT64_MAX - base))
        return fail;
    const int64_t target = whence == SEEK_SET ? int64_t(off) : base + delta;
    if (target < 0) return fail;
    if (!f->Seek64(target, SEEK_SET)) return fail;
    return toff_t(target);
}

int CloseProc(thandle_t) { return 0; }

toff_t SizeProc(thandle_t h) {
    const int64_t n = static_cast<VxFile*>(h)->Size64();
    return n < 0 ? 0 : toff_t(n);
}

int MapProc(thandle_t, tdata_t*, toff_t*) { return 0; }

void UnmapProc(thandle_t, tdata_t, toff_t) {}

}  // namespace

struct TifHandlers {
    static int Error(TIFF*, void* user, const char*, const char* fmt, va_list ap) {
        auto* codec = static_cast<VxImageTIF*>(user);
        // The first complaint names the cause; later ones are its consequences.
        if (codec && codec->tiffError.empty()) {
            char buf[256];
            std::vsnprintf(buf, sizeof(buf), fmt, ap);
            codec->tiffError = buf;
        }
        return 1;
    }
    static int Warning(TIFF*, void*, const char*, const char*, va_list) { return 1; }
};

VxImageTIF::~VxImageTIF() {
    if (outTiff) TIFFClose(outTiff);
    outTiff = nullptr;
}

TIFF* VxImageTIF::TIFFOpenEx(VxFile* file, const char* mode) {
    if (!file) return nullptr;
    TIFFOpenOptions* opts = TIFFOpenOptionsAlloc();
    if (!opts) return nullptr;
    TIFFOpenOptionsSetErrorHandlerExtR(opts, &TifHandlers::Error, this);
    TIFFOpenOptionsSetWarningHandlerExtR(opts, &TifHandlers::Warning, this);
    TIFF* tif =
        TIFFClientOpenExt("TIFF IMAGE", mode, static_cast<thandle_t>(file), ReadProc, WriteProc,
                          SeekProc, CloseProc, SizeProc, MapProc, UnmapProc, opts);
    TIFFOpenOptionsFree(opts);
    return tif;
}

void VxImageTIF::TIFFCloseEx(TIFF* tif) {
    if (tif) TIFFClose(tif);
}

void VxImageTIF::Fail(const std::string& text) { throw VxCodecFailure(text.c_str()); }

std::string VxImageTIF::Detail() const { return tiffError.empty() ? "" : ": " + tiffError; }
