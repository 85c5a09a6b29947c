#include <algorithm>
#include <new>
#include <span>
#include <string>

#include "codecs/heif/vx_heif_codec.h"
#include "codecs/heif/vx_heif_library.h"
#include "core/vx_codec_guard.h"
#include "core/vx_deep.h"
#include "core/vx_quiet_stderr.h"
#include "core/vx_rgba_rows.h"
#include "core/vx_srgb.h"
#include "core/vx_transparency.h"

namespace {

// Speed settings, measured on photos (docs/heif.md): x265's "medium" preset
// and AV1 speed 8 cost a fraction of the libraries' defaults for files a few
// per cent larger.
constexpr const char* kHevcPreset = "medium";
constexpr int kAv1Speed = 8;

heif_compression_format CompressionOf(ImageFormat type) {
    return type == VX_FORMAT_AVIF ? heif_compression_AV1 : heif_compression_HEVC;
}

// x265 sizes its thread pool from the CPU topology it reads from /sys; where
// it finds none (a root without /sys) it makes no pool, which turns
// wavefront coding off and changes the bytes. The pool is named here, as
// large as the threads the picture may use: its size does not change the
// bytes (checked from 1 to 4), only whether there is one; a still picture
// needs one frame thread.
void PinX265Threads(heif_encoder* encoder, uint32_t threads) {
    const unsigned cores = std::clamp(threads, 1u, 64u);
    heif_encoder_set_parameter_string(encoder, "x265:pools", std::to_string(cores).c_str());
    heif_encoder_set_parameter_string(encoder, "x265:frame-threads", "1");
}

heif_error WriteToFile(heif_context*, const void* data, size_t size, void* userdata) {
    auto* file = static_cast<VxFile*>(userdata);
    if (size == 0 || file->Write(data, 1, size) == size) return heif_error{heif_error_Ok, heif_suberror_Unspecified, ""};
    return heif_error{heif_error_Encoding_error, heif_suberror_Cannot_write_output_data,
                      "cannot write the file"};
}

}  // namespace

bool VxHeifCodec::CanWrite(ImageFormat type) {
    vxheif::EnsureStarted();
    return heif_have_encoder_for_format(CompressionOf(type)) != 0;
}

bool VxHeifCodec::Encode(VxFile* file, ImageFormat requested) {
    if (EncodeSafeCheck(file)) return false;
    const ImageFormat type = requested == VX_FORMAT_AVIF ? VX_FORMAT_AVIF : VX_FORMAT_HEIF;
    const vx::QuietStderr quiet;
    return vx::RunCodec(*this, [&] { return vxheif::NoMemoryText(type); }, [&] {
        vxheif::EnsureStarted();
        vxheif::Context ctx(heif_context_alloc());
        if (!ctx.p) vxheif::Fail(type, "out of memory");
        vxheif::Encoder encoder;
        heif_error err = heif_context_get_encoder_for_format(ctx.p, CompressionOf(type), &encoder.p);
        if (err.code != heif_error_Ok || !encoder.p)
            vxheif::Fail(type, type == VX_FORMAT_AVIF
                                   ? "this system's libheif has no AV1 encoder, AVIF cannot be written"
                                   : "this system's libheif has no HEVC encoder, HEIC cannot be written");
        const int quality = Info.JpegQuality;
        heif_encoder_set_lossy_quality(encoder.p, quality);
        if (type == VX_FORMAT_AVIF) {
            heif_encoder_set_parameter_integer(encoder.p, "speed", kAv1Speed);
            // libaom's bytes change with its thread count.
            heif_encoder_set_parameter_integer(encoder.p, "threads", 1);
        } else {
            heif_encoder_set_parameter_string(encoder.p, "preset", kHevcPreset);
            PinX265Threads(encoder.p, GetThreads());
        }

        const uint32_t w = GetWidth(), h = GetHeight();
        // Deep samples go in at 10 or 12 bits, the depths the coders take.
        // AVIF always at 12: libaom 3.6 under libheif 1.15 aborts on 10-bit
        // input (its colour configuration asserts the sampling of another
        // profile), and 12 bits hold 10-bit samples exactly.
        const VxDeepPlane* deep = vx::DeepToWrite(*this, 12);
        const bool alpha = deep ? deep->HasAlpha() : vx::HasTransparency(*this);
        const int bits = !deep ? 8 : deep->bits <= 10 && type != VX_FORMAT_AVIF ? 10 : 12;
        const heif_chroma chroma =
            deep ? (alpha ? heif_chroma_interleaved_RRGGBBAA_LE : heif_chroma_interleaved_RRGGBB_LE)
                 : (alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB);
        vxheif::Image image;
        err = heif_image_create(int(w), int(h), heif_colorspace_RGB, chroma, &image.p);
        if (err.code != heif_error_Ok) vxheif::Fail(type, "out of memory", &err);
        err = heif_image_add_plane(image.p, heif_channel_interleaved, int(w), int(h), bits);
        if (err.code != heif_error_Ok) vxheif::Fail(type, "out of memory", &err);
        // Say what the pixels are (sRGB, BT.601 full-range YCbCr) instead of
        // leaving readers to guess.
        vxheif::Nclx nclx(heif_nclx_color_profile_alloc());
        if (!nclx.p) vxheif::Fail(type, "out of memory");
        heif_nclx_color_profile_set_color_primaries(nclx.p, heif_color_primaries_ITU_R_BT_709_5);
        heif_nclx_color_profile_set_transfer_characteristics(
            nclx.p, heif_transfer_characteristic_IEC_61966_2_1);
        heif_nclx_color_profile_set_matrix_coefficients(nclx.p,
                                                        heif_matrix_coefficients_ITU_R_BT_601_6);
        nclx.p->full_range_flag = 1;
        err = heif_image_set_nclx_color_profile(image.p, nclx.p);
        if (err.code != heif_error_Ok) vxheif::Fail(type, "out of memory", &err);
        // A carried profile describes the RGB samples. The library then
        // writes it in place of the nclx box; the coded stream still tells
        // readers the YCbCr matrix.
        const std::span<const uint8_t> icc = GetIccProfile();
        if (vx::ProfileFits(icc, false)) {
            err = heif_image_set_raw_color_profile(image.p, "prof", icc.data(), icc.size());
            if (err.code != heif_error_Ok) vxheif::Fail(type, "out of memory", &err);
        }
        int stride = 0;
        uint8_t* plane = heif_image_get_plane(image.p, heif_channel_interleaved, &stride);
        if (!plane) vxheif::Fail(type, "out of memory");
        if (deep) {
            const unsigned ch = alpha ? 4 : 3, colours = deep->Colours();
            for (uint32_t y = 0; y < h; ++y) {
                const uint16_t* s = deep->Row(y);
                uint8_t* d = plane + size_t(y) * size_t(stride);
                for (uint32_t x = 0; x < w; ++x, s += deep->channels)
                    for (unsigned c = 0; c < ch; ++c) {
                        // Grey fills all three colours.
                        const uint16_t v = c < 3 ? s[colours == 1 ? 0 : c] : s[colours];
                        const uint32_t n = vx::NarrowSample(v, unsigned(bits));
                        d[2 * (size_t(x) * ch + c)] = uint8_t(n);
                        d[2 * (size_t(x) * ch + c) + 1] = uint8_t(n >> 8);
                    }
            }
        } else {
            vx::LoadRows(*this, plane, size_t(stride), alpha ? 4 : 3);
        }

        vxheif::EncodingOptions options(heif_encoding_options_alloc());
        if (!options.p) vxheif::Fail(type, "out of memory");
        vxheif::Handle handle;
        err = heif_context_encode_image(ctx.p, image.p, encoder.p, options.p, &handle.p);
        if (err.code != heif_error_Ok) vxheif::Fail(type, "the encoder failed", &err);
        // The library puts the 4-byte offset to the TIFF header in front.
        const std::span<const uint8_t> exif = GetExif();
        if (!exif.empty() && exif.size() < (size_t(1) << 30)) {
            err = heif_context_add_exif_metadata(ctx.p, handle.p, exif.data(), int(exif.size()));
            if (err.code != heif_error_Ok) vxheif::Fail(type, "cannot add the EXIF block", &err);
        }
        const std::span<const uint8_t> xmp = GetXmp();
        if (!xmp.empty() && xmp.size() < (size_t(1) << 30)) {
            err = heif_context_add_XMP_metadata(ctx.p, handle.p, xmp.data(), int(xmp.size()));
            if (err.code != heif_error_Ok) vxheif::Fail(type, "cannot add the XMP packet", &err);
        }
        heif_writer writer{1, WriteToFile};
        err = heif_context_write(ctx.p, &writer, file);
        if (err.code != heif_error_Ok) vxheif::Fail(type, "cannot write the file", &err);
        return true;
    });
}
