// Part of the program itself, not of the raw module: the probe asks it
// before it loads the module.
#include <cstring>

#include "codecs/raw/vx_raw_codec.h"

bool VxRawCodec::Claims(const uint8_t* b, size_t n) {
    const auto at = [&](size_t off, const char* s, size_t len) {
        return n >= off + len && std::memcmp(b + off, s, len) == 0;
    };
    return at(0, "II*\0", 4) || at(0, "MM\0*", 4) ||  // TIFF-shaped: DNG, NEF, CR2, ARW, PEF
           at(0, "IIRO", 4) || at(0, "IIRS", 4) || at(0, "MMOR", 4) ||  // ORF
           at(0, "IIU\0", 4) ||                                         // RW2
           at(0, "FUJIFILM", 8) ||                                      // RAF
           at(4, "ftypcrx ", 8);                                        // CR3
}

