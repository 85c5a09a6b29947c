#include "codecs/jpeg/vx_jpeg_app_segments.h"

#include <cstring>

#include "core/vx_metadata.h"

namespace vx::jpeg {

namespace {

constexpr uint16_t kIptcResource = 0x0404;

uint32_t Be32(const uint8_t* p) { return uint32_t(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3]; }

bool StartsWith(std::span<const uint8_t> bytes, const char* text, size_t size) {
    return bytes.size() >= size && std::memcmp(bytes.data(), text, size) == 0;
}

}  // namespace

std::span<const uint8_t> XmpOfSegment(std::span<const uint8_t> payload) {
    if (!StartsWith(payload, kXmpSignature, kXmpSignatureSize)) return {};
    return payload.subspan(kXmpSignatureSize);
}

bool IsIrbSegment(std::span<const uint8_t> payload) {
    return StartsWith(payload, kIrbSignature, kIrbSignatureSize);
}

std::vector<uint8_t> IptcOfResources(std::span<const uint8_t> res) {
    // Each resource: "8BIM", id, a Pascal name padded to even, a 32-bit size,
    // the data padded to even.
    size_t at = 0;
    while (res.size() - at >= 12 && std::memcmp(res.data() + at, "8BIM", 4) == 0) {
        const uint16_t id = uint16_t(res[at + 4] << 8 | res[at + 5]);
        size_t name = 1 + size_t(res[at + 6]);
        name += name & 1;
        if (res.size() - at - 6 < name + 4) break;
        const size_t sizeAt = at + 6 + name;
        const uint32_t size = Be32(res.data() + sizeAt);
        const size_t dataAt = sizeAt + 4;
        if (size > res.size() - dataAt) break;
        if (id == kIptcResource) {
            const auto data = res.subspan(dataAt, size);
            if (vx::IptcValid(data)) return {data.begin(), data.end()};
        }
        at = dataAt + size + (size & 1);
        if (at > res.size()) break;
    }
    return {};
}

std::vector<uint8_t> XmpSegment(std::span<const uint8_t> xmp) {
    if (xmp.empty() || xmp.size() > kSegmentCapacity - kXmpSignatureSize) return {};
    std::vector<uint8_t> out(kXmpSignature, kXmpSignature + kXmpSignatureSize);
    out.insert(out.end(), xmp.begin(), xmp.end());
    return out;
}

std::vector<uint8_t> IptcSegment(std::span<const uint8_t> iptc) {
    const size_t padded = iptc.size() + (iptc.size() & 1);
    if (iptc.empty() || padded > kSegmentCapacity - kIrbSignatureSize - 12) return {};
    std::vector<uint8_t> out(kIrbSignature, kIrbSignature + kIrbSignatureSize);
    const uint32_t size = uint32_t(iptc.size());
    const uint8_t head[] = {'8', 'B', 'I', 'M', kIptcResource >> 8, kIptcResource & 0xFF, 0, 0,
                            uint8_t(size >> 24), uint8_t(size >> 16), uint8_t(size >> 8),
                            uint8_t(size)};
    out.insert(out.end(), std::begin(head), std::end(head));
    out.insert(out.end(), iptc.begin(), iptc.end());
    if (iptc.size() & 1) out.push_back(0);
    return out;
}

}  // namespace vx::jpeg
