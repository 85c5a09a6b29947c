#include "codecs/jpeg2000/vx_openjpeg_coder.h"

#include "codecs/jpeg2000/vx_j2k_siz.h"

#include <openjpeg.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

namespace vxj2k {

namespace {

const char kBadData[] = "error: cannot load image data";
const char kEncodeFailed[] = "error: cannot encode image\n";

// The library's messages stay with the call instead of reaching stderr.
struct Messages {
    std::string lastError;
};

void OnError(const char* msg, void* data) {
    if (msg && data) static_cast<Messages*>(data)->lastError = msg;
}
void OnQuiet(const char*, void*) {}

void RouteMessages(opj_codec_t* codec, Messages* m) {
    opj_set_error_handler(codec, OnError, m);
    opj_set_warning_handler(codec, OnQuiet, m);
    opj_set_info_handler(codec, OnQuiet, m);
}

// Library stream positions count from where the codec found the data.
struct StreamContext {
    VxFile* file;
    int64_t start;
    bool writing;
    // Reading: the library reads a tile's data before it decodes it, so a
    // cancel seen here ends the decode at the next tile.
    const VxImage* reader = nullptr;
};

OPJ_SIZE_T ReadFn(void* buffer, OPJ_SIZE_T n, void* data) {
    auto* s = static_cast<StreamContext*>(data);
    if (s->reader && s->reader->CancelledBetweenPieces()) return OPJ_SIZE_T(-1);
    const size_t got = s->file->Read(buffer, 1, n);
    return got ? OPJ_SIZE_T(got) : OPJ_SIZE_T(-1);
}

OPJ_SIZE_T WriteFn(void* buffer, OPJ_SIZE_T n, void* data) {
    auto* s = static_cast<StreamContext*>(data);
    const size_t put = s->file->Write(buffer, 1, n);
    return put == n ? OPJ_SIZE_T(put) : OPJ_SIZE_T(-1);
}

OPJ_BOOL SeekFn(OPJ_OFF_T pos, void* data) {
    auto* s = static_cast<StreamContext*>(data);
    if (pos < 0 || pos > INT64_MAX - s->start) return OPJ_FALSE;
    return s->file->Seek64(s->start + int64_t(pos), SEEK_SET) ? OPJ_TRUE : OPJ_FALSE;
}

OPJ_OFF_T SkipFn(OPJ_OFF_T n, void* data) {
    auto* s = static_cast<StreamContext*>(data);
    const int64_t here = s->file->Tell64();
    if (here < 0 || n > INT64_MAX - here || here + int64_t(n) < 0) return -1;
    const int64_t target = here + int64_t(n);
    const int64_t size = s->file->Size64();
    if (s->writing && target > size) {
        // Skipping past the end of a file being written leaves zeros behind.
        if (size < 0 || !s->file->Seek64(0, SEEK_END)) return -1;
        static const uint8_t zeros[256] = {};
        for (int64_t left = target - size; left > 0;) {
            const size_t k = size_t(left < 256 ? left : 256);
            if (s->file->Write(zeros, 1, k) != k) return -1;
            left -= int64_t(k);
        }
        return n;
    }
    return s->file->Seek64(target, SEEK_SET) ? n : -1;
}

struct CodecHolder {
    opj_codec_t* codec = nullptr;
    opj_stream_t* stream = nullptr;
    ~CodecHolder() {
        if (stream) opj_stream_destroy(stream);
        if (codec) opj_destroy_codec(codec);
    }
};

// Always said, so that the library never takes a count from the environment.
// Its output does not depend on it (checked by the tests); a library built
// without threads refuses and works alone.
void SetThreads(opj_codec_t* codec, uint32_t threads) {
    opj_codec_set_threads(codec, threads > 1 ? int(std::min<uint32_t>(threads, 64)) : 0);
}

uint32_t CeilDiv(uint32_t a, uint32_t b) { return uint32_t((uint64_t(a) + b - 1) / b); }

}  // namespace

bool LooksLikeJp2(const uint8_t* head, size_t n) {
    static const uint8_t sig[12] = {0, 0, 0, 0x0C, 'j', 'P', ' ', ' ', 0x0D, 0x0A, 0x87, 0x0A};
    return n >= 12 && std::memcmp(head, sig, 12) == 0;
}

bool LooksLikeJpc(const uint8_t* head, size_t n) {
    return n >= 4 && head[0] == 0xFF && head[1] == 0x4F && head[2] == 0xFF && head[3] == 0x51;
}

void ReadJpeg2000(VxFile* file, bool jp2, VxImage& codec, Planes& out) {
    Messages messages;
    StreamContext ctx{file, file->Tell64(), false, &codec};
    // The library asserts that its reads stay inside the length it was told,
    // so a stream that cannot tell its length is refused here.
    const int64_t length = file->Remaining();
    if (ctx.start < 0 || length < 0) throw VxCodecFailure("error: cannot open standard input");
    CodecHolder h;
    h.codec = opj_create_decompress(jp2 ? OPJ_CODEC_JP2 : OPJ_CODEC_J2K);
    if (!h.codec) throw VxCodecFailure("cannot initialize jpeg2000");
    RouteMessages(h.codec, &messages);
    opj_dparameters_t params;
    opj_set_default_decoder_parameters(&params);
    if (!opj_setup_decoder(h.codec, &params)) throw VxCodecFailure("cannot initialize jpeg2000");
    SetThreads(h.codec, codec.GetThreads());

    // Reads of 16 KiB: a cancel waits for no more than that, or one tile's data.
    h.stream = opj_stream_create(size_t(16) << 10, OPJ_TRUE);
    if (!h.stream) throw VxCodecFailure("error: cannot open standard input");
    opj_stream_set_user_data(h.stream, &ctx, nullptr);
    opj_stream_set_user_data_length(h.stream, OPJ_UINT64(length));
    opj_stream_set_read_function(h.stream, ReadFn);
    opj_stream_set_skip_function(h.stream, SkipFn);
    opj_stream_set_seek_function(h.stream, SeekFn);

    SizFacts siz;
    if (!ReadSiz(file, jp2, siz)) throw VxCodecFailure(kBadData);
    if (siz.components > 64) throw VxCodecFailure("error: too much components");
    // Every tile of a whole stream has a tile-part header of 14 bytes or more.
    if (siz.tiles > uint64_t(length) / 14 + 1)
        throw VxCodecFailure("error: the code stream declares more tiles than it holds");
    // What the library keeps for each tile and each of its components (a
    // few megabytes at most for 64 tiles, which any picture may have).
    if (siz.tiles > 64) VxRequireBuffer(codec, siz.tiles * (8192 + 1280 * uint64_t(siz.components)), 16);

    opj_image_t* raw = nullptr;
    if (!opj_read_header(h.stream, h.codec, &raw) || !raw) {
        if (raw) opj_image_destroy(raw);
        throw VxCodecFailure(kBadData);
    }
    std::shared_ptr<opj_image_t> image(raw, opj_image_destroy);

    if (image->numcomps == 0 || !image->comps) throw VxCodecFailure(kBadData);
    if (image->numcomps > 64) throw VxCodecFailure("error: too much components");
    if (image->x1 <= image->x0 || image->y1 <= image->y0) throw VxCodecFailure(kBadData);
    const opj_image_comp_t& first = image->comps[0];
    if (first.dx == 0 || first.dy == 0) throw VxCodecFailure(kBadData);
    if (first.prec == 0 || first.prec > 31) throw VxCodecFailure(kBadData);
    if (SizeOnly(codec, jp2 ? VX_FORMAT_JP2 : VX_FORMAT_JPC,
                 CeilDiv(image->x1, first.dx) - CeilDiv(image->x0, first.dx),
                 CeilDiv(image->y1, first.dy) - CeilDiv(image->y0, first.dy), image->numcomps,
                 first.prec, (1u << first.prec) - 1))
        return;
    // The header alone decides how much the library will allocate: the limit
    // is checked before it decodes anything.
    VxRequirePicture(codec, image->x1 - image->x0, image->y1 - image->y0, 8);
    uint64_t samples = 0;
    for (uint32_t i = 0; i < image->numcomps; ++i) {
        const opj_image_comp_t& c = image->comps[i];
        if (c.dx == 0 || c.dy == 0) throw VxCodecFailure(kBadData);
        const uint64_t w = CeilDiv(image->x1, c.dx) - CeilDiv(image->x0, c.dx);
        const uint64_t hgt = CeilDiv(image->y1, c.dy) - CeilDiv(image->y0, c.dy);
        samples += w * hgt;
    }
    VxRequireBuffer(codec, samples * sizeof(int32_t), kPlaneBytesPerPixel);

    if (!opj_decode(h.codec, h.stream, image.get()) || !opj_end_decompress(h.codec, h.stream))
        throw VxCodecFailure(codec.Cancelled() ? "error: cancelled" : kBadData);

    out.comps.clear();
    out.comps.resize(image->numcomps);
    for (uint32_t i = 0; i < image->numcomps; ++i) {
        const opj_image_comp_t& c = image->comps[i];
        if (!c.data || c.w == 0 || c.h == 0 || c.prec == 0 || c.prec > 31) throw VxCodecFailure(kBadData);
        Plane& p = out.comps[i];
        p.width = c.w;
        p.height = c.h;
        p.dx = c.dx;
        p.dy = c.dy;
        p.prec = c.prec;
        p.sgnd = c.sgnd != 0;
        p.maxval = (1u << c.prec) - 1;
        p.alpha = c.alpha != 0;
        p.data = c.data;
    }
    switch (image->color_space) {
        case OPJ_CLRSPC_SRGB: out.space = ColourSpace::SRGB; break;
        case OPJ_CLRSPC_GRAY: out.space = ColourSpace::Gray; break;
        case OPJ_CLRSPC_SYCC: out.space = ColourSpace::SYCC; break;
        case OPJ_CLRSPC_CMYK: out.space = ColourSpace::CMYK; break;
        case OPJ_CLRSPC_UNSPECIFIED:
        case OPJ_CLRSPC_UNKNOWN: out.space = ColourSpace::Unspecified; break;
        default: out.space = ColourSpace::Other; break;
    }
    // A Lab description arrives as a buffer with length 0: only a real ICC
    // profile is passed on.
    if (image->icc_profile_buf && image->icc_profile_len > 0) {
        out.icc = image->icc_profile_buf;
        out.iccLength = image->icc_profile_len;
    }
    out.owner = image;
}

double PsnrForQuality(int quality) { return 25.0 + 0.25 * quality; }

void WriteJpeg2000(VxFile* file, bool jp2, const Planes& in, int quality, uint32_t threads) {
    const uint32_t n = uint32_t(in.comps.size());
    if (n == 0 || n > 4) throw VxCodecFailure(kEncodeFailed);
    const uint32_t w = in.comps[0].width;
    const uint32_t hgt = in.comps[0].height;
    opj_image_cmptparm_t parms[4];
    std::memset(parms, 0, sizeof(parms));
    for (uint32_t i = 0; i < n; ++i) {
        parms[i].dx = parms[i].dy = 1;
        parms[i].w = w;
        parms[i].h = hgt;
        parms[i].prec = in.comps[i].prec;
        parms[i].sgnd = 0;
    }
    const OPJ_COLOR_SPACE space = in.space == ColourSpace::Gray ? OPJ_CLRSPC_GRAY : OPJ_CLRSPC_SRGB;
    std::unique_ptr<opj_image_t, void (*)(opj_image_t*)> image(opj_image_create(n, parms, space),
                                                               opj_image_destroy);
    if (!image) throw VxCodecFailure("error : jpeg2000_image_create");
    image->x0 = image->y0 = 0;
    image->x1 = w;
    image->y1 = hgt;
    for (uint32_t i = 0; i < n; ++i) {
        if (!image->comps[i].data) throw VxCodecFailure("error : jpeg2000_image_writecmpt");
        // Marked opacity gets a channel definition box in JP2 files.
        image->comps[i].alpha = in.comps[i].alpha ? 1 : 0;
        std::memcpy(image->comps[i].data, in.comps[i].data, size_t(w) * hgt * sizeof(int32_t));
    }

    opj_cparameters_t params;
    opj_set_default_encoder_parameters(&params);
    params.tcp_numlayers = 1;
    if (quality >= 100) {
        params.irreversible = 0;
        params.cp_disto_alloc = 1;
        params.tcp_rates[0] = 0;  // 0: keep every bit
    } else {
        // A target quality rather than a target size: a picture that codes
        // small losslessly must not grow when a lower quality is asked for.
        params.irreversible = 1;
        params.cp_fixed_quality = 1;
        params.tcp_distoratio[0] = float(PsnrForQuality(quality < 0 ? 0 : quality));
    }
    // Each resolution level halves the picture; the smallest side bounds them.
    int levels = 1;
    for (uint32_t side = w < hgt ? w : hgt; side > 1 && levels < 6; side >>= 1) ++levels;
    params.numresolution = levels;
    params.tcp_mct = n >= 3 ? 1 : 0;  // the colour transform takes components 0 to 2

    Messages messages;
    StreamContext ctx{file, file->Tell64(), true};
    if (ctx.start < 0) throw VxCodecFailure("error: cannot open standard output");
    CodecHolder h;
    h.codec = opj_create_compress(jp2 ? OPJ_CODEC_JP2 : OPJ_CODEC_J2K);
    if (!h.codec) throw VxCodecFailure("cannot initialize jpeg2000");
    RouteMessages(h.codec, &messages);
    if (!opj_setup_encoder(h.codec, &params, image.get())) throw VxCodecFailure(kEncodeFailed);
    SetThreads(h.codec, threads);
    h.stream = opj_stream_create(OPJ_J2K_STREAM_CHUNK_SIZE, OPJ_FALSE);
    if (!h.stream) throw VxCodecFailure("error: cannot open standard output");
    opj_stream_set_user_data(h.stream, &ctx, nullptr);
    opj_stream_set_write_function(h.stream, WriteFn);
    opj_stream_set_skip_function(h.stream, SkipFn);
    opj_stream_set_seek_function(h.stream, SeekFn);
    if (!opj_start_compress(h.codec, image.get(), h.stream) || !opj_encode(h.codec, h.stream) ||
        !opj_end_compress(h.codec, h.stream))
        throw VxCodecFailure(kEncodeFailed);
    if (!file->Flush()) throw VxCodecFailure(kEncodeFailed);
}

}  // namespace vxj2k
