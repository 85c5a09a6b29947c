#include "codecs/exr/vx_exr_codec.h"

#include <ImfArray.h>
#include <ImfChannelList.h>
#include <ImfHeader.h>
#include <ImfRgbaFile.h>
#include <ImfThreading.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <exception>
#include <vector>

#include "codecs/exr/vx_exr_headers.h"
#include "codecs/exr/vx_exr_streams.h"
#include "core/vx_codec.h"
#include "core/vx_codec_guard.h"
#include "core/vx_deep.h"
#include "core/vx_file.h"
#include "core/vx_light.h"
#include "core/vx_stream_bytes.h"

namespace {

const char kNoMemory[] = "Can't allocate memory";

float ToLinear(double srgb) {
    return float(srgb <= 0.04045 ? srgb / 12.92 : std::pow((srgb + 0.055) / 1.055, 2.4));
}

void Premultiply(Imf::Rgba& p) {
    const float a = float(p.a);
    p.r = float(p.r) * a;
    p.g = float(p.g) * a;
    p.b = float(p.b) * a;
}

}  // namespace

bool VxExrCodec::Decode(VxFile* file) {
    if (!file) return false;
    const int64_t start = file->Tell64();
    return vx::RunCodec(*this, kNoMemory, [&] {
        uint8_t sig[4] = {};
        if (file->Read(sig, 1, 4) != 4 || !Claims(sig, 4)) throw VxCodecFailure("Not an EXR");
        file->Seek64(start, SEEK_SET);
        std::vector<uint8_t> bytes;
        vx::ReadUpTo(file, bytes, SIZE_MAX);
        vx::exr::HeaderFacts facts;
        const char* bad = vx::exr::CheckHeaders(bytes.data(), bytes.size(), facts);
        // A window over the limit says so before the file's other faults.
        if (facts.width > 0 && facts.height > 0 && !DimensionsOnly())
            VxRequirePicture(*this, uint64_t(facts.width), uint64_t(facts.height), 24);
        if (bad) throw VxCodecFailure(bad);
        // The piece in hand and its compressed copy, in floats of every channel.
        VxRequireBuffer(*this, uint64_t(std::min(facts.pieceBytes * 2, 1e18)), 16);
        char text[200] = {};
        try {
            vx::exr::MemoryIn stream(bytes);
            // No worker threads: the samples must not depend on the machine.
            Imf::RgbaInputFile in(stream, 0);
            const Imath::Box2i dw = in.dataWindow();
            const int64_t width = int64_t(dw.max.x) - dw.min.x + 1, height = int64_t(dw.max.y) - dw.min.y + 1;
            if (width <= 0 || height <= 0 || width > UINT32_MAX || height > UINT32_MAX)
                throw VxCodecFailure("bad EXR header: data window");
            const bool alpha = (in.channels() & Imf::WRITE_A) != 0;
            if ((in.channels() & (Imf::WRITE_RGB | Imf::WRITE_Y)) == 0)
                throw VxCodecFailure("EXR: no colour or luminance channels");
            const uint8_t channels = alpha ? 4 : 3;
            if (DimensionsOnly()) {
                vx::AnswerDeep(*this, channels, 16, true);
                return AnswerDimensions(VX_FORMAT_EXR, uint64_t(width), uint64_t(height), 24);
            }
            VxRequirePicture(*this, uint64_t(width), uint64_t(height), 24);
            VxRequireBuffer(*this, uint64_t(width) * uint64_t(height) * sizeof(Imf::Rgba), 8);
            const float gain = float(std::exp2(int32_t(GetCodecOption(VX_FORMAT_EXR)) / 100.0));

            auto plane = vx::NewDeepPlane(*this, uint32_t(width), uint32_t(height), channels, 16);
            if (!plane) throw VxCodecFailure(GetLastError());
            // The light itself rides along for a writer of floats (EXR to EXR).
            plane->light.resize(plane->samples.size());
            plane->hasLight = true;
            // A band of rows at a time bounds the half-float copy as the picture does.
            const int64_t band = std::max<int64_t>(1, std::min<int64_t>(height, (int64_t(1) << 20) / width));
            std::vector<Imf::Rgba> rows(size_t(band * width));
            for (int64_t y0 = 0; y0 < height; y0 += band) {
                if (Cancelled()) throw VxCodecFailure("Cancelled");
                const int64_t n = std::min(band, height - y0);
                const int64_t origin = -(int64_t(dw.min.x) + (int64_t(dw.min.y) + y0) * width);
                // The library addresses the buffer by data-window coordinates.
                in.setFrameBuffer(reinterpret_cast<Imf::Rgba*>(reinterpret_cast<intptr_t>(rows.data()) +
                                                               intptr_t(origin * int64_t(sizeof(Imf::Rgba)))),
                                  1, size_t(width));
                in.readPixels(int(dw.min.y + y0), int(dw.min.y + y0 + n - 1));
                for (int64_t r = 0; r < n; ++r) {
                    uint16_t* d = plane->Row(uint32_t(y0 + r));
                    uint16_t* l = plane->light.data() + size_t(y0 + r) * plane->RowSamples();
                    const Imf::Rgba* s = rows.data() + r * width;
                    for (int64_t x = 0; x < width; ++x, ++s) {
                        *l++ = half(float(s->r) * gain).bits();
                        *l++ = half(float(s->g) * gain).bits();
                        *l++ = half(float(s->b) * gain).bits();
                        if (alpha) *l++ = s->a.bits();
                        // The file's colour is premultiplied; the picture's alpha is straight.
                        const float a = float(s->a);
                        const float k = alpha && a > 0.0f && a < 1.0f ? gain / a : gain;
                        *d++ = vx::LinearToSrgb16(float(s->r) * k);
                        *d++ = vx::LinearToSrgb16(float(s->g) * k);
                        *d++ = vx::LinearToSrgb16(float(s->b) * k);
                        if (alpha) *d++ = vx::Clip16(a);
                    }
                }
            }
            if (!vx::SetDeepPicture(*this, std::move(plane), VX_FORMAT_EXR)) throw VxCodecFailure(GetLastError());
            file->Seek64(start + int64_t(bytes.size()), SEEK_SET);
            return true;
        } catch (const std::bad_alloc&) {
            throw;
        } catch (const std::exception& e) {
            std::snprintf(text, sizeof(text), "EXR: %s", e.what());
        }
        throw VxCodecFailure(text);
    });
}

bool VxExrCodec::Encode(VxFile* file) {
    if (EncodeSafeCheck(file)) return false;
    const uint32_t width = GetWidth(), height = GetHeight();
    if (width > INT32_MAX || height > INT32_MAX) {
        SetLastError("EXR: the picture is too large");
        return false;
    }
    const VxDeepPlane* plane = vx::DeepToWrite(*this, 16);
    const bool withAlpha = plane ? plane->HasAlpha() : AlphaIsValid();
    // An EXR source's own light, beyond white as it may be, when nothing changed it.
    const std::vector<uint16_t>* light = plane && plane->Colour() ? vx::LightToWrite(*this) : nullptr;
    // One table from 8-bit sRGB levels to linear light.
    float linear8[256];
    for (int i = 0; i < 256; ++i) linear8[i] = ToLinear(i / 255.0);
    try {
        Imf::Header header{int(width), int(height)};
        header.compression() = Imf::ZIP_COMPRESSION;
        vx::exr::MemoryOut out;
        {
            Imf::RgbaOutputFile exr(out, header, withAlpha ? Imf::WRITE_RGBA : Imf::WRITE_RGB, 0);
            std::vector<Imf::Rgba> row(width);
            exr.setFrameBuffer(row.data(), 1, 0);  // every row from the same buffer
            const uint32_t alphaMax = GetAlphaMax();
            for (uint32_t y = 0; y < height; ++y) {
                if (light) {
                    const uint16_t* s = light->data() + size_t(y) * plane->RowSamples();
                    for (uint32_t x = 0; x < width; ++x, s += plane->channels) {
                        row[x].r.setBits(s[0]);
                        row[x].g.setBits(s[1]);
                        row[x].b.setBits(s[2]);
                        if (plane->HasAlpha()) row[x].a.setBits(s[3]);
                        else row[x].a = 1.0f;
                    }
                } else if (plane) {
                    const uint16_t* s = plane->Row(y);
                    for (uint32_t x = 0; x < width; ++x) {
                        if (plane->Colour()) {
                            row[x] = Imf::Rgba(ToLinear(s[0] / 65535.0), ToLinear(s[1] / 65535.0),
                                               ToLinear(s[2] / 65535.0));
                        } else {
                            const float v = ToLinear(s[0] / 65535.0);
                            row[x] = Imf::Rgba(v, v, v);
                        }
                        row[x].a = plane->HasAlpha() ? float(s[plane->channels - 1]) / 65535.0f : 1.0f;
                        Premultiply(row[x]);
                        s += plane->channels;
                    }
                } else {
                    const int32_t r = int32_t(height - 1 - y);
                    for (uint32_t x = 0; x < width; ++x) {
                        const RGBQUAD c = GetPixelColor(int32_t(x), r, false);
                        row[x] = Imf::Rgba(linear8[c.rgbRed], linear8[c.rgbGreen], linear8[c.rgbBlue]);
                        row[x].a = withAlpha ? float(AlphaGet(int32_t(x), r) * alphaMax / 255) / 255.0f : 1.0f;
                        Premultiply(row[x]);
                    }
                }
                exr.writePixels(1);
            }
        }
        const auto& bytes = out.Bytes();
        if (file->Write(bytes.data(), 1, bytes.size()) != bytes.size()) {
            SetLastError("Error writing EXR file");
            return false;
        }
        return true;
    } catch (const std::bad_alloc&) {
        SetLastError(kNoMemory);
    } catch (const std::exception& e) {
        char text[200];
        std::snprintf(text, sizeof(text), "EXR: %s", e.what());
        SetLastError(text);
    }
    return false;
}
