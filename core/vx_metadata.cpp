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

}  // namespace vx

std::span<const uint8_t> VxImage::GetIccProfile() const {
    if (!Info.Meta) return {};
    return Info.Meta->icc;
}

std::span<const uint8_t> VxImage::GetExif() const {
    if (!Info.Meta) return {};
    return Info.Meta->exif;
}
