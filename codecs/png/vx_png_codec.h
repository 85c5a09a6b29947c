// PNG reader over libpng and writer of its own (vx_png_encode.cpp: rows
// filtered here, compressed with libdeflate, chunks written directly). The
// frames of an animated PNG are read around libpng (apng_frames.h) and
// written here.
//
// Other codecs that carry PNG data inside their own container (PNG-compressed
// icon entries) position a stream at the PNG signature and call
// `VxImage::Decode(file, VX_FORMAT_PNG)`: the reader starts at the stream's
// current position, never seeks, and stops right after the IEND chunk.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/vx_image.h"

struct png_struct_def;
struct png_info_def;

class VxPngCodec : public VxImage {
public:
    static constexpr bool kReportsFrames = true;

    VxPngCodec() : VxImage(VX_FORMAT_PNG) {}
    // Only deep grey pictures are written as grey samples.
    static bool WritesGrey(const VxImage& img);
    bool Decode(VxFile* file);
    bool Encode(VxFile* file);
    // An animated PNG of pictures of one size, each shown for its FrameDelay.
    bool Encode(VxFile* file, VxImage** pages, int32_t count);

    // True when `bytes` start with the 8-byte PNG signature.
    static bool IsPngSignature(const uint8_t* bytes, size_t size);

    struct ChunkWatch;

private:
    struct ReadState;
    enum class ReadOutcome { Done, Dimensions, LibraryError, Cancelled, Failed };

    // Holds the library's jump target: no object with a destructor may live in it.
    ReadOutcome ReadImage(VxFile* file, ReadState* st);
    // Every frame of an animated PNG from `start` to where the still image
    // ended; frame `wanted` becomes the picture.
    bool ReadAnimation(VxFile* file, int64_t start, int32_t wanted);
    ReadOutcome ReadDeep(ReadState* st, bool trnsToAlpha);
    bool WriteImage(VxFile* file);
    // acTL, then each frame's fcTL and data (the first as IDAT), then IEND.
    bool WriteFrames(VxFile* file, const VxFrames& anim, bool rgba);

    void ApplyResolution(bool metre, uint32_t xppu, uint32_t yppu);
    // The file's iCCP profile and eXIf block, carried on the picture.
    void KeepMetadata(png_struct_def* png, png_info_def* info);
    // iCCP: an RGB profile, or a grey one with deep grey samples.
    bool WriteProfile(VxFile* file) const;
    void SwapWithFirstEntry(uint32_t index);
    uint32_t LargestIndexUsed() const;
    void BuildRgbaRow(uint32_t storedRow, uint8_t* out, bool transColour) const;
};
