#include "codecs/svg/vector_canvas.h"

#include <cmath>
#include <new>
#include <string>
#include <vector>

#include "core/vx_codec.h"
#include "core/vx_rgba_rows.h"

namespace vx::vector {

uint64_t PixelSide(double units, double scale) {
    const double v = units * scale;
    if (!std::isfinite(v) || v <= 0) return 0;
    // A side a rounding error past a whole number stays that number.
    const double up = std::ceil(v - 1e-6);
    return up >= 1e12 ? uint64_t(1e12) : uint64_t(std::max(1.0, up));
}

void RenderSize(const VxImage& img, uint64_t& width, uint64_t& height) {
    if (img.GetRenderWidth() && img.GetRenderHeight()) {
        width = img.GetRenderWidth();
        height = img.GetRenderHeight();
    }
}

void RequireCanvas(VxImage& img, const char* fmt, uint64_t width, uint64_t height) {
    if (width == 0 || height == 0) throw VxCodecFailure(fmt, ": the drawing has no size");
    // The limit first: its text says how large the resolution made the drawing.
    VxRequirePicture(img, width, height, 32);
    if (width > kMaxSide || height > kMaxSide) {
        const std::string text = ": the drawing is " + std::to_string(width) + " x " + std::to_string(height) +
                                 " pixels; at most " + std::to_string(kMaxSide) + " a side can be rendered";
        throw VxCodecFailure(fmt, text.c_str());
    }
}

cairo_surface_t* NewSurface(uint32_t width, uint32_t height) {
    cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, int(width), int(height));
    if (cairo_surface_status(s) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(s);
        throw std::bad_alloc();
    }
    return s;  // cairo clears new image surfaces
}

void StoreSurface(VxImage& img, cairo_surface_t* surface, uint32_t type) {
    cairo_surface_flush(surface);
    const uint32_t w = uint32_t(cairo_image_surface_get_width(surface));
    const uint32_t h = uint32_t(cairo_image_surface_get_height(surface));
    const size_t stride = size_t(cairo_image_surface_get_stride(surface));
    const uint8_t* data = cairo_image_surface_get_data(surface);
    if (!data) throw std::bad_alloc();
    std::vector<uint8_t> row(size_t(w) * 4);
    bool clear = false;
    for (uint32_t y = 0; y < h && !clear; ++y) {
        const uint32_t* p = reinterpret_cast<const uint32_t*>(data + y * stride);
        for (uint32_t x = 0; x < w; ++x)
            if ((p[x] >> 24) != 255) {
                clear = true;
                break;
            }
    }
    if (!img.Create(w, h, 24, type)) throw VxCodecFailure(img.GetLastError());
    if (clear && !img.AlphaCreate()) throw std::bad_alloc();
    for (uint32_t y = 0; y < h; ++y) {
        // Native-endian words 0xAARRGGBB, colour premultiplied by alpha.
        const uint32_t* p = reinterpret_cast<const uint32_t*>(data + y * stride);
        uint8_t* d = row.data();
        for (uint32_t x = 0; x < w; ++x, d += 4) {
            const uint32_t v = p[x], a = v >> 24;
            const uint32_t c[3] = {(v >> 16) & 255, (v >> 8) & 255, v & 255};
            for (int i = 0; i < 3; ++i) d[i] = a == 0 ? 0 : uint8_t(std::min<uint32_t>(255, (c[i] * 255 + a / 2) / a));
            d[3] = uint8_t(a);
        }
        vx::StoreRow(img, y, row.data(), 4);
    }
}

}  // namespace vx::vector
