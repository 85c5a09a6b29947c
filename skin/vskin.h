// Entry points of the vskin module, looked up by name with dlsym.
#pragma once

#include <cstdint>

extern "C" {
// Themes the application from "vskin.dat" beside the module. 1 on success.
using SkinAttachFn = int (*)();
// Shifts the theme's colours: hue in degrees, saturation and value on 0..255.
using SkinAdjustHsvFn = int (*)(int hue, int saturation, int value);
// Non-zero turns the glass look on; 0 leaves it off.
using SkinSetAeroFn = int (*)(int enabled);
// Opacity 0..255 of the top-level window with this native id.
using SkinSetWindowAlphaFn = int (*)(uintptr_t window, int alpha);
}
