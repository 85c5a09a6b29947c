// Part of the program itself, not of the SVG module: the probe asks it
// before it loads the module.
#include <algorithm>
#include <cstring>
#include <string_view>

#include "codecs/svg/vx_svg_codec.h"

bool VxSvgCodec::LooksLikeSvg(const uint8_t* text, size_t size) {
    const size_t n = std::min<size_t>(size, kClaimsReach);
    size_t at = n >= 3 && std::memcmp(text, "\xEF\xBB\xBF", 3) == 0 ? 3 : 0;
    while (at < n && std::strchr(" \t\r\n", text[at])) ++at;
    if (at >= n || text[at] != '<') return false;
    for (size_t i = at; i < n; ++i)
        if (text[i] < 0x09 || (text[i] > 0x0D && text[i] < 0x20)) return false;
    const std::string_view head(reinterpret_cast<const char*>(text), n);
    return head.find("<svg") != std::string_view::npos || head.find(":svg") != std::string_view::npos;
}
