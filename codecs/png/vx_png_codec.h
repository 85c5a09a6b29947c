// PNG reader over libpng and writer of its own (vx_png_encode.cpp: rows
// filtered here, compressed with libdeflate, chunks written directly).
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
    VxPngCodec() : VxImage(VX_FORMAT_PNG) {}
    // Only deep grey pictures are written as grey samples.
    static bool WritesGrey(const VxImage& img);
    bool Decode(VxFile* file);
    bool Encode(VxFile* file);

    // True when `bytes` start with the 8-byte PNG signature.
    static bool IsPngSignature(const uint8_t* bytes, size_t size);

    struct ChunkWatch;

private:
    struct ReadState;
    enum class ReadOutcome { Done, Dimensions, LibraryError, Cancelled, Failed };

    // Holds the library's jump target: no object with a destructor may live in it.
    ReadOutcome ReadImage(VxFile* file, ReadState* st);
    ReadOutcome ReadDeep(ReadState* st, bool trnsToAlpha);
    bool WriteImage(VxFile* file);

    void ApplyResolution(bool metre, uint32_t xppu, uint32_t yppu);
    // The file's iCCP profile and eXIf block, carried on the picture.
    void KeepMetadata(png_struct_def* png, png_info_def* info);
    // iCCP: an RGB profile, or a grey one with deep grey samples.
    bool WriteProfile(VxFile* file) const;
    void SwapWithFirstEntry(uint32_t index);
    uint32_t LargestIndexUsed() const;
    void BuildRgbaRow(uint32_t storedRow, uint8_t* out, bool transColour) const;
};
