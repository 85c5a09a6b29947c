// The colour profile, EXIF block, XMP packet and IPTC records a decoder found
// in a file, carried with the picture so that an encoder can write them again.
//
// A decoder sets them with VxImage::SetIccProfile / SetExif; every load starts
// without them. An encoder that can hold them reads GetIccProfile / GetExif
// and writes them as its format stores them; one that cannot ignores them, and
// whoever drives the conversion decides whether the pixels must be converted
// to sRGB first (core/vx_srgb.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

struct VxMetadata {
    // The ICC profile as embedded (header, tag table, tags).
    std::vector<uint8_t> icc;
    // The EXIF block from its TIFF header on ("II*\0" or "MM\0*"): what PNG's
    // eXIf chunk holds, and a JPEG APP1 segment after its "Exif\0\0".
    std::vector<uint8_t> exif;
    // The XMP packet as stored (UTF-8 XML, no terminator).
    std::vector<uint8_t> xmp;
    // IPTC-IIM datasets (0x1C tag records), as TIFF's tag 33723 holds them and
    // a JPEG's APP13 resource 0x0404 wraps them.
    std::vector<uint8_t> iptc;

    bool Empty() const { return icc.empty() && exif.empty() && xmp.empty() && iptc.empty(); }
};

// Pictures share one block; it is never changed once made, so copying a
// picture's settings copies a pointer.
using VxMetadataRef = std::shared_ptr<const VxMetadata>;

namespace vx {

// A copy of `from` (or of nothing) with the profile or the EXIF block
// replaced; null when nothing is left.
VxMetadataRef WithIcc(const VxMetadataRef& from, std::span<const uint8_t> icc);
VxMetadataRef WithExif(const VxMetadataRef& from, std::span<const uint8_t> exif);
VxMetadataRef WithXmp(const VxMetadataRef& from, std::span<const uint8_t> xmp);
VxMetadataRef WithIptc(const VxMetadataRef& from, std::span<const uint8_t> iptc);

// Whether bytes look like IPTC-IIM datasets: each a 0x1C tag record whose
// length stays inside the block (extended lengths refused), nothing after.
bool IptcValid(std::span<const uint8_t> iptc);

}  // namespace vx
