// A picture's EXIF block written into a TIFF page: the EXIF and GPS
// directories as libtiff's own, the main directory's text tags and
// orientation on the page.
#pragma once

#include <cstdint>
#include <span>

typedef struct tiff TIFF;

namespace vx::tiff {

struct ExifLinks {
    uint64_t exif = 0;  // offsets of the written directories; 0: none
    uint64_t gps = 0;
};

// Writes the block's EXIF and GPS directories (the tags libtiff knows) ahead
// of the page, then starts the page's own directory. Call before any field
// of the page is set.
ExifLinks WriteExifDirectories(TIFF* tif, std::span<const uint8_t> exif);

// The page's links to those directories, the block's text tags (Make, Model,
// ...) and its orientation (the pixels stand as the block says).
void SetExifPageFields(TIFF* tif, std::span<const uint8_t> exif, const ExifLinks& links);

}  // namespace vx::tiff
