// The XMP packet (tag 700) and IPTC records (tag 33723) of a TIFF page.
#pragma once

#include <cstdint>
#include <span>

#include <tiffio.h>

class VxImage;

namespace vx::tiff {

// Copies the current directory's packet and records onto the picture.
void KeepXmpAndIptc(TIFF* tif, VxImage& img);
// Sets both tags on the directory being written; empty spans set nothing.
void SetXmpAndIptc(TIFF* tif, std::span<const uint8_t> xmp, std::span<const uint8_t> iptc);

}  // namespace vx::tiff
