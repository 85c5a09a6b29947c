// Entry points of the vskin module, looked up by name with dlsym.
#pragma once

#include <cstdint>

extern "C" {
// Names the theme file Skin_Attach reads: a module loaded through a descriptor
// cannot find its own folder. Default: "vskin.dat" beside the module.
using SkinSetThemeFileFn = int (*)(const char* path);
// Themes the application from the theme file. 1 on success.
using SkinAttachFn = int (*)();
// Shifts the theme's colours: hue in degrees, saturation and value on 0..255.
using SkinAdjustHsvFn = int (*)(int hue, int saturation, int value);
// Non-zero turns the glass look on; 0 leaves it off.
using SkinSetAeroFn = int (*)(int enabled);
// Opacity 0..255 of the top-level window with this native id.
using SkinSetWindowAlphaFn = int (*)(uintptr_t window, int alpha);
}
