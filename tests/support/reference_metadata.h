// Colour profiles and EXIF blocks read and written by Pillow
// (support/metadata_tool.py), independently of the codecs under test.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace vt {

struct ReferenceMetadata {
    std::vector<uint8_t> icc;   // empty: none
    std::vector<uint8_t> exif;  // from the TIFF header on; empty: none
    // Make (271), Orientation (274), a few EXIF tags and GPS tags (100000 +
    // tag) as Pillow prints them.
    std::map<int, std::string> tags;
};

// Empty when Pillow cannot read the file.
std::optional<ReferenceMetadata> ReadMetadataWithPillow(const std::string& path);

// The profile and the Make (271) and Orientation (274) tags as exiftool reads
// them; a JPEG XL file's profile, coded inside its code stream, as djxl gives
// the original one. Empty when the tools are missing or refuse the file.
std::optional<ReferenceMetadata> ReadMetadataWithTools(const std::string& path);

// A 16 x 8 picture, grey 128 with a red column at x = 3, carrying `icc` and
// an EXIF block with Make "Vellumar test", `orientation`, an EXIF and a GPS
// directory. `format` is
// Pillow's name ("JPEG", "PNG", "TIFF").
bool WriteWithPillow(const std::string& path, const std::string& format,
                     const std::vector<uint8_t>& icc, int orientation);

}  // namespace vt
