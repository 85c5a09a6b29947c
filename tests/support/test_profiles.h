// ICC profiles made with Little CMS for the tests.
#pragma once

#include <cstdint>
#include <vector>

namespace vt {

enum class ProfileKind { Srgb, LinearRgb, LinearGrey, Lab };

// sRGB; sRGB's primaries with a straight tone curve; grey with a straight
// curve; and a Lab profile (a space no picture here is stored in).
std::vector<uint8_t> MakeProfile(ProfileKind kind);

// The sRGB code of a linear sample: 128 becomes 188.
int SrgbOfLinear(int v);

}  // namespace vt
