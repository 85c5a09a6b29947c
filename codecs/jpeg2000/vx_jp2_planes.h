// The component planes every coder of the JPEG-2000 family exchanges with the
// codec: the shape the library's images have, shared by the project's own PGX,
// PNM and Sun raster coders so that one colour path serves all five formats.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "core/vx_codec.h"
#include "core/vx_deep.h"
#include "core/vx_file.h"
#include "core/vx_image.h"

namespace vxj2k {

enum class ColourSpace { Unspecified, SRGB, Gray, SYCC, CMYK, Other };

struct Plane {
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t dx = 1;  // sub-sampling against the picture grid
    uint32_t dy = 1;
    uint32_t prec = 8;
    bool sgnd = false;
    // The sample value that means full intensity: 2^prec - 1 except for PNM
    // files whose maxval is not a power of two minus one.
    uint32_t maxval = 255;
    bool alpha = false;             // the file marks it as opacity
    const int32_t* data = nullptr;  // width * height samples, row 0 at the top
    std::vector<int32_t> store;     // owns `data` for the project's own coders

    void Allocate(uint32_t w, uint32_t h, uint32_t precision) {
        width = w;
        height = h;
        prec = precision;
        maxval = precision >= 32 ? 0xFFFFFFFFu : (1u << precision) - 1;
        store.assign(size_t(w) * h, 0);
        data = store.data();
    }
    int32_t* Row(uint32_t y) { return store.data() + size_t(y) * width; }
};

struct Planes {
    std::vector<Plane> comps;
    ColourSpace space = ColourSpace::Unspecified;
    const uint8_t* icc = nullptr;  // an embedded ICC profile, when there is one
    size_t iccLength = 0;
    std::shared_ptr<void> owner;  // keeps a library image alive while `data` points into it
};

// Bytes per pixel the planes of a picture at the picture limit may take: four
// components of 32-bit samples.
constexpr uint32_t kPlaneBytesPerPixel = 16;

// A dimensions-only pass ends a reader once it has the picture's size and
// components: the answer is the depth their count and precision give. True
// when the reader stops here.
inline bool SizeOnly(VxImage& codec, uint32_t format, uint32_t width, uint32_t height,
                     uint32_t components, uint32_t prec, uint32_t maxval) {
    if (!codec.DimensionsOnly()) return false;
    const bool native = (prec == 1 || prec == 4 || prec == 8) && maxval == (1u << prec) - 1;
    codec.AnswerDimensions(format, width, height, components >= 3 ? 24 : native ? prec : 8);
    if (prec > 8 && prec <= 16) vx::AnswerDeep(codec, uint8_t(components >= 4 ? 4 : components), uint8_t(prec));
    return true;
}

// Bytes left between the stream position and its end (0 when unknown).
inline uint64_t Remaining(VxFile* file) {
    const int64_t left = file->Remaining();
    return left > 0 ? uint64_t(left) : 0;
}

}  // namespace vxj2k
