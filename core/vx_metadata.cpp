#include "core/vx_metadata.h"

#include "core/vx_image.h"

namespace vx {

namespace {

VxMetadataRef Settle(std::shared_ptr<VxMetadata> m) {
    if (m->Empty()) return nullptr;
    return m;
}

std::shared_ptr<VxMetadata> CopyOf(const VxMetadataRef& from) {
    return from ? std::make_shared<VxMetadata>(*from) : std::make_shared<VxMetadata>();
}

}  // namespace

VxMetadataRef WithIcc(const VxMetadataRef& from, std::span<const uint8_t> icc) {
    auto m = CopyOf(from);
    m->icc.assign(icc.begin(), icc.end());
    return Settle(std::move(m));
}

VxMetadataRef WithExif(const VxMetadataRef& from, std::span<const uint8_t> exif) {
    auto m = CopyOf(from);
    m->exif.assign(exif.begin(), exif.end());
    return Settle(std::move(m));
}

VxMetadataRef WithXmp(const VxMetadataRef& from, std::span<const uint8_t> xmp) {
    auto m = CopyOf(from);
    m->xmp.assign(xmp.begin(), xmp.end());
    return Settle(std::move(m));
}

VxMetadataRef WithIptc(const VxMetadataRef& from, std::span<const uint8_t> iptc) {
    auto m = CopyOf(from);
    m->iptc.assign(iptc.begin(), iptc.end());
    return Settle(std::move(m));
}

bool IptcValid(std::span<const uint8_t> iptc) {
    if (iptc.empty()) return false;
    size_t at = 0;
    // Writers pad the block to an even or 4-byte length with zeros.
    while (at < iptc.size() && iptc[at] == 0x1C) {
        if (iptc.size() - at < 5) return false;
        const size_t length = size_t(iptc[at + 3]) << 8 | iptc[at + 4];
        if (length & 0x8000) return false;
        if (iptc.size() - at - 5 < length) return false;
        at += 5 + length;
    }
    for (; at < iptc.size(); ++at)
        if (iptc[at] != 0) return false;
    return true;
}

}  // namespace vx

std::span<const uint8_t> VxImage::GetIccProfile() const {
    if (!Info.Meta) return {};
    return Info.Meta->icc;
}

std::span<const uint8_t> VxImage::GetExif() const {
    if (!Info.Meta) return {};
    return Info.Meta->exif;
}

std::span<const uint8_t> VxImage::GetXmp() const {
    if (!Info.Meta) return {};
    return Info.Meta->xmp;
}

std::span<const uint8_t> VxImage::GetIptc() const {
    if (!Info.Meta) return {};
    return Info.Meta->iptc;
}
