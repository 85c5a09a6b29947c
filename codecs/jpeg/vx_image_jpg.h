// JPEG/JFIF reader and writer over libjpeg (6b interface), with the EXIF
// reader for camera data and its write-back.
#pragma once

#include <cstdint>
#include <cstdio>

#include "codecs/jpeg/vx_exif_info.h"
#include "core/vx_image.h"

class VxImageJPG : public VxImage {
public:
    using VxExifInfo = ::VxExifInfo;

    // Bits of CodecOption[3].
    enum CodecFlags : uint32_t {
        EncodeBaseline = 0x1,
        EncodeArithmetic = 0x2,
        EncodeGrayscale = 0x4,
        EncodeOptimize = 0x8,
        EncodeProgressive = 0x10,
        EncodeSmoothing = 0x40,
        DecodeGrayscale = 0x80,
        DecodeQuantize = 0x100,
        DecodeDither = 0x200,
        DecodeOnePass = 0x400,
        DecodeNoSmooth = 0x800,
    };

    VxImageJPG();
    ~VxImageJPG() override;
    VxImageJPG(const VxImageJPG&) = delete;
    VxImageJPG& operator=(const VxImageJPG&) = delete;

    bool Decode(VxFile* file);
    bool Encode(VxFile* file);
    bool DecodeExif(VxFile* file);

    const tag_ExifInfo& GetExifInfo() const { return exifData; }
    const VxExifInfo* GetExifReader() const { return exifReader; }
    void SetSmoothingFactor(int32_t f) { smoothingFactor = f; }
    void SetDitherMode(int32_t mode) { ditherMode = mode; }


    // libjpeg's working memory per operation; the picture itself is bounded by Create.
    static constexpr long kMaxLibraryMemory = 1L << 30;

private:
    struct DecodeState;
    struct EncodeState;
    bool RunDecode(DecodeState* st, bool haveExif);
    bool RunEncode(EncodeState* st);

    VxExifInfo* exifReader = nullptr;
    tag_ExifInfo exifData;
    int32_t smoothingFactor = 0;
    int32_t ditherMode = 2;  // JDITHER_FS, libjpeg's own default
};
