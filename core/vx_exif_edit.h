// Reading and adjusting an EXIF block (from its TIFF header on) without a
// library: every offset and count is checked against the block.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <vector>

namespace vx {

// "II*\0" or "MM\0*" followed by a first-directory offset inside the block.
bool ExifHeaderValid(std::span<const uint8_t> exif);

// The block with the orientation tag set to `orientation` (1..8; other values
// leave it) and the EXIF pixel dimensions set to the picture's size, where
// the block has those tags. A block that cannot be read comes back unchanged.
std::vector<uint8_t> ExifFitted(std::span<const uint8_t> exif, int32_t orientation,
                                uint32_t width, uint32_t height);

// The block without main-directory orientation tags whose value is outside
// 1..8 (the rest as it was); unchanged when it has none or cannot be read.
std::vector<uint8_t> ExifWithoutBadOrientation(std::span<const uint8_t> exif);

// One directory entry. `value` holds count x size-of-type bytes in the
// block's byte order (empty for a type this reader does not know).
struct ExifEntry {
    uint16_t tag = 0;
    uint16_t type = 0;
    uint32_t count = 0;
    std::span<const uint8_t> value;
};

// Which directory an entry comes from.
enum class ExifDir { Main, Exif, Gps };

// Calls `visit` for every entry of the main directory, the EXIF directory and
// the GPS directory (each read once; links to them are not passed on). False
// when the block cannot be read; entries whose value lies outside the block
// are skipped.
bool ForEachExifEntry(std::span<const uint8_t> exif,
                      const std::function<void(ExifDir, const ExifEntry&)>& visit);

// The block's byte order.
bool ExifBigEndian(std::span<const uint8_t> exif);

// The main directory's orientation tag (1..8); 0 when it has none or another
// value.
int32_t ExifOrientation(std::span<const uint8_t> exif);

// The block as a container chunk holds it: from the TIFF header on, or after
// the "Exif\0\0" that some writers keep from JPEG. Empty when neither starts a
// readable header.
std::span<const uint8_t> ExifInChunk(std::span<const uint8_t> stored);

// The block in an ISO-box Exif item (HEIF, JPEG XL): a 4-byte big-endian
// count of bytes to skip after it, then the block (as in ExifInChunk). Empty
// when the count points past the end or no header follows.
std::span<const uint8_t> ExifAfterOffset(std::span<const uint8_t> stored);

}  // namespace vx
