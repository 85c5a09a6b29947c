// Pictures described by an embedded ICC profile, converted to sRGB with
// Little CMS, for targets that cannot carry the profile (or when it is to be
// dropped).
#pragma once

#include <cstdint>
#include <span>

class VxImage;

namespace vx {

enum class IccSpace { Unknown, Rgb, Grey };

// The colour space the profile's header declares ('RGB ' or 'GRAY'); Unknown
// for other spaces and for bytes too short to be a profile.
IccSpace IccColourSpace(std::span<const uint8_t> icc);

// Whether a writer may embed the profile beside samples of this kind: a grey
// profile with grey samples, an RGB one with colour samples.
bool ProfileFits(std::span<const uint8_t> icc, bool greySamples);

// Whether the profile is one to pass on: its header's size field gives its
// length and Little CMS can open it.
bool ProfileSound(std::span<const uint8_t> icc);

// An 8-bit picture whose palette is the identity grey ramp: what the JPEG,
// TIFF and JPEG-2000 writers store as grey.
bool IsGreyPicture(const VxImage& img);

// Converts the pixels from the picture's own profile to sRGB and removes the
// profile. RGB profiles convert 24-bit pixels or palette entries; a grey
// picture whose greys stay neutral keeps its grey ramp (its indices change
// instead). Grey profiles map each sample through the profile's tone curve
// onto sRGB's, so grey pictures stay grey. False, with the picture and the
// profile unchanged, when the profile cannot be read or is of another space.
// A picture without a profile is left alone (true). A deep picture converts
// its samples at 16 bits and keeps them.
bool ConvertToSrgb(VxImage& img);

}  // namespace vx
