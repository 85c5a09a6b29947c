#include "codecs/heif/vx_heif_library.h"

#include <string>

namespace vxheif {

void EnsureStarted() {
    static const bool started = [] {
        heif_init(nullptr);
        return true;
    }();
    (void)started;
}

void Fail(ImageFormat type, const char* what, const heif_error* error) {
    const char* prefix = type == VX_FORMAT_AVIF ? "AVIF: " : "HEIF: ";
    std::string text = std::string(prefix) + what;
    if (error && error->message && *error->message) text += std::string(" (") + error->message + ")";
    throw VxCodecFailure(text.c_str());
}

}  // namespace vxheif
