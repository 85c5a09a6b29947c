// The numbered command layer through which the front ends drive one image object.
#pragma once

#include <cstdint>

#include "core/vx_image.h"

using ImageHandle = VxImage*;

namespace ImageFacade {

// Command numbers as the command set counts them.
enum Command : int32_t {
    kFree = 0,
    kDecodeFromFile = 3,
    kEncodeToFile = 5,
    kDecreaseBpp = 14,
    kGetBpp = 46,
    kGetFrame = 54,
    kGetHeight = 56,
    kGetWidth = 57,
    kGetLastError = 60,
    kGetNumFrames = 63,
    kGetType = 76,
    kGetXDPI = 79,
    kGetYDPI = 80,
    kSetFrame = 85,
    kSetJpegQuality = 88,
};

void Free(ImageHandle* handle);
bool DecodeFromFile(ImageHandle* handle, const char* fileName, int32_t format);
bool EncodeToFile(ImageHandle* handle, const char* fileName, int32_t format);
// `palette` may be null (omitted); `paletteBytes` is the byte array's element count.
bool DecreaseBpp(ImageHandle* handle, int32_t bits, int32_t diffuseError,
                 const uint8_t* palette = nullptr, int32_t paletteBytes = 0,
                 int32_t importantColors = 0);
int16_t GetBpp(ImageHandle* handle);

// Further commands the command line uses for its options and --info; each is 0,
// empty or false on a null handle.
int32_t GetWidth(ImageHandle* handle);
int32_t GetHeight(ImageHandle* handle);
int32_t GetNumFrames(ImageHandle* handle);
int32_t GetType(ImageHandle* handle);
int32_t GetXDPI(ImageHandle* handle);
int32_t GetYDPI(ImageHandle* handle);
const char* GetLastError(ImageHandle* handle);
// Creates the object like DecodeFromFile does, so settings can precede the first load.
void SetFrame(ImageHandle* handle, int32_t frame);
void SetJpegQuality(ImageHandle* handle, int32_t quality);
// The picture limit the next loads apply, in pixels (0: none).
void SetMaxPixels(ImageHandle* handle, uint64_t pixels);
// JPEG files are read at 1/`denominator` of their size (1, 2, 4 or 8).
void SetJpegScale(ImageHandle* handle, int32_t denominator);

}  // namespace ImageFacade
