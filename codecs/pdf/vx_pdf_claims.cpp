// Part of the program itself, not of the PDF module: the probe asks it
// before it loads the module.
#include <string_view>

#include "codecs/pdf/vx_pdf_codec.h"

bool VxPdfCodec::Claims(const uint8_t* head, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(head), size);
    return text.find("%PDF-") != std::string_view::npos;
}
