// The XMP packet (APP1) and IPTC records (APP13) of a JPEG file.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace vx::jpeg {

// Signature in front of an XMP packet in APP1, and of the resource block in
// APP13; both end with their NUL.
inline constexpr char kXmpSignature[] = "http://ns.adobe.com/xap/1.0/";  // + NUL: 29 bytes
inline constexpr char kIrbSignature[] = "Photoshop 3.0";                 // + NUL: 14 bytes
inline constexpr size_t kXmpSignatureSize = sizeof(kXmpSignature);
inline constexpr size_t kIrbSignatureSize = sizeof(kIrbSignature);
// What one marker segment holds after its length field.
inline constexpr size_t kSegmentCapacity = 65533;

// The packet of an APP1 segment's payload, or empty when it is not XMP.
std::span<const uint8_t> XmpOfSegment(std::span<const uint8_t> payload);
// Whether an APP13 payload starts a resource block.
bool IsIrbSegment(std::span<const uint8_t> payload);
// The IPTC records (resource 0x0404) of a resource block that APP13 segments
// carried one after the other, signatures removed; empty when none is valid.
std::vector<uint8_t> IptcOfResources(std::span<const uint8_t> resources);

// Payloads to write: empty when the data does not fit in one segment.
std::vector<uint8_t> XmpSegment(std::span<const uint8_t> xmp);
std::vector<uint8_t> IptcSegment(std::span<const uint8_t> iptc);

}  // namespace vx::jpeg
