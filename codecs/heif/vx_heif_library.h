// What the HEIF reader and writer share: the library's start and its objects'
// owners.
#pragma once

#include <libheif/heif.h>

#include "core/vx_codec.h"
#include "core/vx_format.h"

namespace vxheif {

// Starts libheif once per process (it registers its codec plugins).
void EnsureStarted();

// "HEIF: " or "AVIF: ", then what went wrong.
[[noreturn]] void Fail(ImageFormat type, const char* what, const heif_error* error = nullptr);

inline const char* NoMemoryText(ImageFormat type) {
    return type == VX_FORMAT_AVIF ? "AVIF: out of memory" : "HEIF: out of memory";
}

// Owner of one library object, released with `Release`.
template <class T, auto Release>
struct Owned {
    T* p = nullptr;
    Owned() = default;
    explicit Owned(T* object) : p(object) {}
    ~Owned() {
        if (p) Release(p);
    }
    Owned(const Owned&) = delete;
    Owned& operator=(const Owned&) = delete;
};

using Context = Owned<heif_context, heif_context_free>;
using Handle = Owned<heif_image_handle, heif_image_handle_release>;
using Image = Owned<heif_image, heif_image_release>;
using Encoder = Owned<heif_encoder, heif_encoder_release>;
using DecodingOptions = Owned<heif_decoding_options, heif_decoding_options_free>;
using EncodingOptions = Owned<heif_encoding_options, heif_encoding_options_free>;
using Nclx = Owned<heif_color_profile_nclx, heif_nclx_color_profile_free>;

}  // namespace vxheif
