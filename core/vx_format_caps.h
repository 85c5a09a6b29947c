// What a format can do. Each registry line (codecs/registry.cpp) carries one
// of these; the batch logic, the front ends and the documentation checks read
// it there instead of naming formats themselves, so that a new format, or a
// format that learns more, changes one line.
#pragma once

#include <cstdint>
#include <initializer_list>

// Bits per sample a writer takes as they are, as a set: bit n - 1 stands for
// n bits. Palette pictures count the bits of their index. Build one with
// VxDepths({1, 4, 8}).
using VxDepthSet = uint32_t;

constexpr VxDepthSet VxDepths(std::initializer_list<unsigned> bits) {
    VxDepthSet set = 0;
    for (const unsigned b : bits) set |= VxDepthSet(1) << (b - 1);
    return set;
}

constexpr bool VxHasDepth(VxDepthSet set, unsigned bits) {
    return bits >= 1 && bits <= 32 && (set >> (bits - 1) & 1) != 0;
}

// The kinds of picture a writer takes as they are.
enum VxColourForm : uint8_t {
    kVxBilevel = 1,     // a 1-bit black and white palette
    kVxGreyRamp = 2,    // a grey palette whose entry i is level i
    kVxPalette = 4,     // any palette (the two above included)
    kVxTrueColour = 8,  // 8 bits a sample, red, green and blue
};

// How a writer keeps what is transparent.
enum class VxAlphaForm : uint8_t {
    None,         // it cannot: the picture is composited on white
    AsItIs,       // every form the decoders give (alpha plane, palette alpha, index)
    MaskOrPlane,  // on/off transparency of a palette picture as its mask, else 32-bit
    Plane,        // a 24-bit picture with an alpha plane
    PlaneOrGrey,  // the same, or an 8-bit grey picture with an alpha plane
    OneIndex,     // one transparent palette entry
};

// What several pictures in one file are, and which side handles them.
enum VxPictureSet : uint8_t {
    kVxReadsFrames = 1,   // animation frames, read one at a time (Frame)
    kVxReadsPages = 2,    // pages or independent pictures, read one at a time
    kVxWritesFrames = 4,  // an animation from several pictures
    kVxWritesPages = 8,   // a page each
    // The format holds animations (or sequences) its writer here does not
    // make: a row that keeps one frame of several says it is this build's limit.
    kVxHoldsFrames = 16,
};

// Metadata a writer embeds.
enum VxMetadataKind : uint8_t {
    kVxIcc = 1,
    kVxExif = 2,
    kVxXmp = 4,
    kVxIptc = 8,
};

// Whether a writer may change the pixels it is given.
enum class VxLossiness : uint8_t {
    Never,     // what is written reads back as it was given
    Below100,  // lossy below quality 100, exact at 100
    Always,    // lossy at any quality (or by default)
};

struct VxFormatCaps {
    // Its place in the list of targets, from 1 (the window's list, --to, the
    // format list of the documentation).
    uint8_t listed = 0;
    bool writes = true;  // false: its writer only refuses (WMF)
    // The pictures the writer takes as they are; others are brought to the
    // nearest it takes before they are written (app/batch/fit_depth.cpp).
    uint8_t forms = kVxPalette | kVxTrueColour;
    VxDepthSet depths = VxDepths({1, 4, 8});
    // The most bits a sample (grey, colour or alpha) the writer stores; above
    // 8 it writes a picture's deep samples (core/vx_deep.h) at up to this.
    uint8_t sampleBits = 8;
    VxAlphaForm alpha = VxAlphaForm::None;
    uint8_t pictures = 0;  // VxPictureSet
    uint8_t metadata = 0;  // VxMetadataKind
    // The largest side, in pixels, the format can store; 0: no limit of its own.
    uint32_t maxSide = 0;
    // Bytes per pixel a row takes at its peak beside the stream buffers, the
    // decoder's when this is the source and the encoder's (beyond the decoded
    // picture) when it is the target.
    uint8_t decodeBytes = 0;
    uint8_t encodeBytes = 0;
    // The decoder can read the picture at 1/2, 1/4 or 1/8 of its size
    // (JpegScale), which a shrinking resize uses.
    bool readsScaled = false;
    // The decoder keeps linear light beside the deep samples (core/vx_deep.h)
    // and the writer writes it.
    bool keepsLight = false;
    // The decoder draws the picture and can draw it at any size
    // (VxImage::SetRenderSize), which a resize uses instead of resampling.
    bool rendersToSize = false;
    VxLossiness lossy = VxLossiness::Never;
    // Its file size follows its quality, so that a file size can be aimed at
    // by choosing the quality (--target-size).
    bool sizedByQuality = false;
};
