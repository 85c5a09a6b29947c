// The XMP packet in an iTXt chunk with the keyword "XML:com.adobe.xmp".
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace vx::png {

// The packet of an iTXt chunk's data; empty when the chunk holds something
// else, is damaged, or is compressed (XMP writers leave it uncompressed so
// that scanners find the packet).
std::span<const uint8_t> XmpOfText(std::span<const uint8_t> data);

// The chunk data that carries the packet; empty for an empty packet.
std::vector<uint8_t> XmpText(std::span<const uint8_t> xmp);

}  // namespace vx::png
