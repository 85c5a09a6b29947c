// WebP reader and writer over libwebp. Still pictures (lossy, lossless,
// alpha) and animations: frame N (Frame) is the canvas as a viewer shows it
// after frames 0..N, composed by the library's animation decoder; asked for
// the animation, it gives every frame, and the writer makes an animation of
// a picture's frames. The ICC profile and EXIF block are read and written
// with the picture.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/vx_image.h"

struct WebPData;

class VxWebpCodec : public VxImage {
public:
    static constexpr bool kReportsFrames = true;
    static constexpr uint32_t kMaxSide = 16383;

    VxWebpCodec() : VxImage(VX_FORMAT_WEBP) {}
    bool Decode(VxFile* file);
    // Lossy at --quality below 100, lossless (every pixel kept) at 100.
    bool Encode(VxFile* file);
    // An animation of pictures of one size, each shown for its FrameDelay.
    bool Encode(VxFile* file, VxImage** pages, int32_t count);

    // True when `bytes` start a RIFF file of form WEBP (12 bytes needed).
    static bool IsWebpSignature(const uint8_t* bytes, size_t size);

private:
    // The dimensions-only answer, from the chunk headers of a RIFF file of
    // `total` bytes whose first 12 have been read.
    bool AnswerFromChunkHeaders(VxFile* file, uint64_t total);
    void DecodeStill(const uint8_t* data, size_t size, bool alpha);
    void DecodeAnimation(const uint8_t* data, size_t size, bool alpha);
    // The ICC profile and EXIF block go with the picture as stored; the
    // EXIF orientation is left for the caller to apply.
    void KeepMetadata(const uint8_t* data, size_t size);
    void EncodeAnimation(VxFile* file, const VxFrames& anim, int quality);
    void WriteAnimation(VxFile* file, const WebPData& assembled);
};
