#include "codecs/png/png_xmp_text.h"

#include <algorithm>
#include <cstring>

namespace vx::png {

namespace {

// Keyword with its terminator.
constexpr char kKeyword[] = "XML:com.adobe.xmp";

}  // namespace

std::span<const uint8_t> XmpOfText(std::span<const uint8_t> data) {
    // keyword NUL, compression flag, method, language NUL, translated keyword NUL, text
    if (data.size() < sizeof(kKeyword) + 2 || std::memcmp(data.data(), kKeyword, sizeof(kKeyword)))
        return {};
    if (data[sizeof(kKeyword)] != 0) return {};
    auto rest = data.subspan(sizeof(kKeyword) + 2);
    for (int field = 0; field < 2; ++field) {
        const auto nul = std::find(rest.begin(), rest.end(), uint8_t(0));
        if (nul == rest.end()) return {};
        rest = rest.subspan(size_t(nul - rest.begin()) + 1);
    }
    return rest;
}

std::vector<uint8_t> XmpText(std::span<const uint8_t> xmp) {
    if (xmp.empty()) return {};
    std::vector<uint8_t> out(kKeyword, kKeyword + sizeof(kKeyword));
    out.insert(out.end(), {0, 0, 0, 0});  // uncompressed, method, no language, no translation
    out.insert(out.end(), xmp.begin(), xmp.end());
    return out;
}

}  // namespace vx::png
