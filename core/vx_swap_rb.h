// Blue-green-red rows (the picture's order) to red-green-blue (most file
// formats' order) and back: the same exchange both ways.
#pragma once

#include <cstdint>

namespace vx {

// `out` may not overlap `src`.
void SwapRedBlue(const uint8_t* src, uint8_t* out, uint32_t width);

}  // namespace vx
