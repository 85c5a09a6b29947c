// The camera facts libraw parses, as an EXIF block: libraw keeps the values,
// not the file's own EXIF bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vx::raw {

struct CameraFacts {
    std::string make, model, artist;
    int32_t orientation = 1;
    double shutter = 0, aperture = 0, iso = 0, focal = 0;  // 0: not known
};

// A little-endian block with Make, Model, Orientation, Artist and, in its
// EXIF directory, exposure time, f-number, ISO and focal length where known.
std::vector<uint8_t> BuildExif(const CameraFacts& facts);

}  // namespace vx::raw
