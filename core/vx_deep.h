// Samples deeper than 8 bits. A deep picture keeps its 8-bit block as every
// picture does (what 8-bit writers and the steps that know nothing deeper
// see, rounded from the deep samples) and, beside it, this plane, which the
// writers that store more than 8 bits a sample write instead. Anything that
// changes the block without the plane drops the plane (Create does), so a
// plane never describes other pixels than the block's.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

class VxImage;

struct VxDeepPlane {
    uint32_t width = 0, height = 0;
    // 1 grey, 2 grey and alpha, 3 red green blue, 4 with alpha (straight).
    uint8_t channels = 0;
    // The bits a sample the source held (9 to 16); the samples themselves
    // always span 0..65535, so that 10 and 12 bits come back exactly.
    uint8_t bits = 16;
    std::vector<uint16_t> samples;  // top row first, channels interleaved
    // High-dynamic-range sources: the linear light the samples were made
    // from, as half floats (their binary16 bits), colour premultiplied by
    // alpha as OpenEXR stores it, laid out as `samples`. It may pass white,
    // where the samples clip. Empty for other pictures; a plane made anew
    // from another leaves it empty, so only an unchanged picture keeps it.
    std::vector<uint16_t> light;
    // The plane has `light`, or (a dimensions-only answer) would have.
    bool hasLight = false;

    bool HasAlpha() const { return channels == 2 || channels == 4; }
    bool Colour() const { return channels >= 3; }
    uint8_t Colours() const { return Colour() ? 3 : 1; }
    size_t RowSamples() const { return size_t(width) * channels; }
    uint16_t* Row(uint32_t y) { return samples.data() + y * RowSamples(); }
    const uint16_t* Row(uint32_t y) const { return samples.data() + y * RowSamples(); }
};

using VxDeepRef = std::shared_ptr<const VxDeepPlane>;

namespace vx {

// Bytes a pixel of the deepest plane takes (four 16-bit samples).
constexpr uint32_t kDeepBytesPerPixel = 8;

// A zero-filled plane; null when `img`'s picture limit or memory refuses it
// (the reason in its LastError).
std::shared_ptr<VxDeepPlane> NewDeepPlane(VxImage& img, uint32_t width, uint32_t height,
                                          uint8_t channels, uint8_t bits);

// The dimensions-only answer of a deep picture (core/vx_codec.h): a plane
// of its shape without samples, which nothing writes (DeepToWrite skips it).
void AnswerDeep(VxImage& img, uint8_t channels, uint8_t bits, bool light = false);
// Bytes a pixel of the picture's deep plane takes (its light included), 0
// without one; from the dimensions-only answer too (the memory budget reads
// it there).
uint32_t DeepBytesPerPixel(const VxImage& img);

// `v` of `bits` bits to 16 bits and back, rounded.
inline uint16_t WidenSample(uint32_t v, unsigned bits) {
    if (bits >= 16) return uint16_t(v);
    const uint32_t max = (1u << bits) - 1;
    return uint16_t((uint64_t(v) * 65535 + max / 2) / max);
}
inline uint32_t NarrowSample(uint16_t v, unsigned bits) {
    if (bits >= 16) return v;
    const uint32_t max = (1u << bits) - 1;
    return uint32_t((uint64_t(v) * max + 32767) / 65535);
}

// The plane a writer of up to `maxBits` bits a sample should write, or null
// for the 8-bit block: the picture has a plane of its own size and the
// writer stores more than 8 bits.
const VxDeepPlane* DeepToWrite(const VxImage& img, unsigned maxBits);
// The plane's light when `img` still has it for its own pixels, else null.
const std::vector<uint16_t>* LightToWrite(const VxImage& img);
// True when that light has colour outside black to white (what 16-bit
// samples clip).
bool LightBeyondWhite(const VxDeepPlane& p);
// The bits a sample `img` holds: its plane's, else 8.
unsigned SampleBits(const VxImage& img);

// Makes `img`'s 8-bit block anew from `deep` (grey: an 8-bit grey ramp;
// colour, and grey with alpha: 24-bit; alpha in the alpha plane), samples
// rounded, and keeps the plane with it; the block's format is `type` (0: the
// picture's own). The settings (resolution, metadata) stay.
bool SetDeepPicture(VxImage& img, VxDeepRef deep, uint32_t type = 0);

// A plane of the 8-bit picture's samples, widened (--depth 16).
VxDeepRef DeepFromBlock(VxImage& img);

// The plane turned as the block is: top-bottom, left-right, a quarter turn.
VxDeepRef DeepFlipped(const VxDeepPlane& p);
VxDeepRef DeepMirrored(const VxDeepPlane& p);
VxDeepRef DeepTurned(const VxDeepPlane& p, bool clockwise);

// The plane without alpha, drawn over white (as CompositeOnWhite does the
// block).
VxDeepRef DeepOverWhite(const VxDeepPlane& p);

}  // namespace vx
