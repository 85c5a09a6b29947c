// Walks the marker sections at the head of a JPEG stream, parses EXIF and
// comments, keeps only the EXIF block and writes it into a fresh stream.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "codecs/jpeg/vx_exif_info.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > (1u << 20)) return 0;
    std::vector<uint8_t> copy(data, data + size);
    VxMemFile in(copy.data(), uint32_t(copy.size()));
    VxExifInfo exif;
    if (exif.DecodeExif(&in, VxExifInfo::ReadModeExif)) {
        exif.DiscardAllButExif();
        VxMemFile out;
        if (out.Open()) exif.EncodeExif(&out);
    }
    return 0;
}
