// HEIF reader and writer over libheif, for HEIC (HEVC pictures) and AVIF (AV1
// pictures) alike: one container, one library.
//
// Reading takes the primary picture as frame 0 and the file's other top-level
// pictures as frames 1, 2, ... (Frame), with the file's rotation, mirroring
// and cropping applied and alpha kept; deeper samples are scaled to 8 bits.
// An ICC profile and the EXIF block come with the picture (the EXIF
// orientation then says 1: the file's own rotation is applied already).
// The format code a decoded picture gets follows its content (AV1: AVIF),
// whichever of the two codes asked for it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/vx_image.h"

struct heif_image_handle;

class VxHeifCodec : public VxImage {
public:
    static constexpr bool kReportsFrames = true;

    VxHeifCodec() : VxImage(VX_FORMAT_HEIF) {}
    bool Decode(VxFile* file, ImageFormat type);
    // HEVC for VX_FORMAT_HEIF, AV1 for VX_FORMAT_AVIF, lossy at --quality.
    // Refused with a text where the library has no encoder for the format.
    bool Encode(VxFile* file, ImageFormat type);

    // True when `bytes` begin with an ISO file-type box (12 bytes needed).
    static bool Claims(const uint8_t* bytes, size_t size);
    static constexpr uint32_t kClaimsReach = 12;
    // Whether this system's libheif can write the format.
    static bool CanWrite(ImageFormat type);

private:
    void KeepMetadata(heif_image_handle* handle, size_t fileSize);
    // The dimensions-only answer from the boxes before the coded data; false
    // when the library needs more of the file.
    bool AnswerFromBoxes(VxFile* file, int64_t start);
};
