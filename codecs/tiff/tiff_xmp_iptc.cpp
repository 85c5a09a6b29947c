#include "codecs/tiff/tiff_xmp_iptc.h"

#include <vector>

#include "core/vx_image.h"
#include "core/vx_metadata.h"

namespace vx::tiff {

namespace {

// Writers disagree on the IPTC tag's type: LONG (counted in 4-byte units,
// the library's own definition) or UNDEFINED (in bytes).
size_t IptcUnit(TIFF* tif) {
    const TIFFField* field = TIFFFindField(tif, TIFFTAG_RICHTIFFIPTC, TIFF_ANY);
    return field && TIFFFieldDataType(field) == TIFF_LONG ? 4 : 1;
}

}  // namespace

void KeepXmpAndIptc(TIFF* tif, VxImage& img) {
    uint32_t count = 0;
    const uint8_t* data = nullptr;
    if (TIFFGetField(tif, TIFFTAG_XMLPACKET, &count, &data) && data && count)
        img.SetXmp({data, count});
    count = 0;
    data = nullptr;
    if (TIFFGetField(tif, TIFFTAG_RICHTIFFIPTC, &count, &data) && data && count) {
        const std::span<const uint8_t> iptc(data, size_t(count) * IptcUnit(tif));
        if (vx::IptcValid(iptc)) img.SetIptc(iptc);
    }
}

void SetXmpAndIptc(TIFF* tif, std::span<const uint8_t> xmp, std::span<const uint8_t> iptc) {
    if (!xmp.empty()) TIFFSetField(tif, TIFFTAG_XMLPACKET, uint32_t(xmp.size()), xmp.data());
    if (iptc.empty()) return;
    const size_t unit = IptcUnit(tif);
    // Zero padding to whole units, which readers of the records skip.
    std::vector<uint8_t> padded(iptc.begin(), iptc.end());
    padded.resize((padded.size() + unit - 1) / unit * unit, 0);
    TIFFSetField(tif, TIFFTAG_RICHTIFFIPTC, uint32_t(padded.size() / unit), padded.data());
}

}  // namespace vx::tiff
