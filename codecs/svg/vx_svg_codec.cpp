#include "codecs/svg/vx_svg_codec.h"

#include <librsvg/rsvg.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "codecs/svg/vector_canvas.h"
#include "core/vx_codec_guard.h"
#include "core/vx_file.h"
#include "core/vx_quiet_stderr.h"
#include "core/vx_stream_bytes.h"

namespace {

const char kNoMemory[] = "SVG: can't allocate memory";

// The unpacked text of a gzip stream, at most `most` bytes; false when the
// stream is damaged (what it held up to there is kept).
bool Gunzip(const std::vector<uint8_t>& in, std::vector<uint8_t>& out, size_t most) {
    z_stream z{};
    if (inflateInit2(&z, 16 + MAX_WBITS) != Z_OK) return false;
    z.next_in = const_cast<Bytef*>(in.data());
    z.avail_in = uInt(std::min<size_t>(in.size(), UINT32_MAX));
    uint8_t buf[65536];
    int rc = Z_OK;
    while (rc == Z_OK && out.size() < most) {
        z.next_out = buf;
        z.avail_out = sizeof buf;
        rc = inflate(&z, Z_NO_FLUSH);
        out.insert(out.end(), buf, buf + (sizeof buf - z.avail_out));
        if (rc == Z_BUF_ERROR && z.avail_in == 0) break;
    }
    inflateEnd(&z);
    if (out.size() > most) throw VxCodecFailure("SVG: the compressed drawing unpacks to more than 64 MiB");
    return rc == Z_STREAM_END;
}

struct Handle {
    RsvgHandle* h = nullptr;
    ~Handle() {
        if (h) g_object_unref(h);
    }
};

}  // namespace

bool VxSvgCodec::Decode(VxFile* file) {
    if (!file) return false;
    const int64_t start = file->Tell64();
    return vx::RunCodec(*this, kNoMemory, [&] {
        std::vector<uint8_t> bytes;
        vx::ReadUpTo(file, bytes, kMaxText + 1);
        if (bytes.size() > kMaxText) throw VxCodecFailure("SVG: the file is larger than 64 MiB");
        const size_t consumed = bytes.size();
        if (IsGzip(bytes.data(), bytes.size())) {
            std::vector<uint8_t> text;
            const bool whole = Gunzip(bytes, text, kMaxText);
            if (!LooksLikeSvg(text.data(), text.size())) throw VxCodecFailure("Not an SVG");
            if (!whole) throw VxCodecFailure("SVG: the compressed drawing is damaged or cut short");
            bytes.swap(text);
        } else if (!LooksLikeSvg(bytes.data(), bytes.size())) {
            throw VxCodecFailure("Not an SVG");
        }
        if (Cancelled()) throw VxCodecFailure("Cancelled");

        vx::QuietStderr quiet;
        GError* error = nullptr;
        Handle doc;
        {
            // No base file or address: librsvg then refuses every reference
            // outside the document (files, network), keeping only data: URLs.
            GInputStream* in = g_memory_input_stream_new_from_data(bytes.data(), gssize(bytes.size()), nullptr);
            doc.h = rsvg_handle_new_from_stream_sync(in, nullptr, RSVG_HANDLE_FLAGS_NONE, nullptr, &error);
            g_object_unref(in);
        }
        if (!doc.h) {
            const std::string why = error && error->message ? error->message : "cannot be read";
            if (error) g_error_free(error);
            throw VxCodecFailure("SVG: ", why.c_str());
        }
        rsvg_handle_set_dpi(doc.h, double(kDefaultDpi));
        double w = 0, h = 0;
        if (!rsvg_handle_get_intrinsic_size_in_pixels(doc.h, &w, &h)) {
            gboolean hasW = FALSE, hasH = FALSE, hasBox = FALSE;
            RsvgLength lw{}, lh{};
            RsvgRectangle box{};
            rsvg_handle_get_intrinsic_dimensions(doc.h, &hasW, &lw, &hasH, &lh, &hasBox, &box);
            if (!hasBox) throw VxCodecFailure("SVG: the drawing gives no size (width and height, or a viewBox)");
            // Percentages of the viewBox, 100% when missing.
            w = box.width * (hasW && lw.unit == RSVG_UNIT_PERCENT ? lw.length : 1.0);
            h = box.height * (hasH && lh.unit == RSVG_UNIT_PERCENT ? lh.length : 1.0);
        }
        const uint32_t dpi = GetCodecOption(VX_FORMAT_SVG) ? GetCodecOption(VX_FORMAT_SVG) : kDefaultDpi;
        const double scale = double(dpi) / kDefaultDpi;
        uint64_t width = vx::vector::PixelSide(w, scale), height = vx::vector::PixelSide(h, scale);
        if (DimensionsOnly()) {
            if (width == 0 || height == 0) throw VxCodecFailure("SVG: the drawing has no size");
            SetXDPI(int32_t(dpi));
            SetYDPI(int32_t(dpi));
            return AnswerDimensions(VX_FORMAT_SVG, width, height, 32);
        }
        // At its own size the drawing keeps its fractional extent (a last row
        // partly covered); a render size is filled.
        RsvgRectangle viewport{0, 0, w * scale, h * scale};
        vx::vector::RenderSize(*this, width, height);
        if (width != vx::vector::PixelSide(w, scale) || height != vx::vector::PixelSide(h, scale))
            viewport = {0, 0, double(width), double(height)};
        vx::vector::RequireCanvas(*this, "SVG", width, height);
        if (Cancelled()) throw VxCodecFailure("Cancelled");
        vx::vector::SurfaceGuard surface{vx::vector::NewSurface(uint32_t(width), uint32_t(height))};
        cairo_t* cr = cairo_create(surface.s);
        const bool drawn = rsvg_handle_render_document(doc.h, cr, &viewport, &error);
        cairo_destroy(cr);
        if (!drawn) {
            const std::string why = error && error->message ? error->message : "cannot be drawn";
            if (error) g_error_free(error);
            throw VxCodecFailure("SVG: ", why.c_str());
        }
        if (Cancelled()) throw VxCodecFailure("Cancelled");
        vx::vector::StoreSurface(*this, surface.s, VX_FORMAT_SVG);
        SetXDPI(int32_t(dpi));
        SetYDPI(int32_t(dpi));
        file->Seek64(start + int64_t(consumed), SEEK_SET);
        return true;
    });
}

bool VxSvgCodec::Encode(VxFile*) {
    SetLastError("SVG files can only be read");
    return false;
}
