// One picture to GIF through the engine's colour reduction, for
// bench/gif_quality.py:  vellumar_reduce IN OUT.gif standard|adaptive none|floyd-steinberg
#include <cstdio>

#include "core/vx_colour_reduce.h"
#include "core/vx_image.h"

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: %s IN OUT.gif standard|adaptive none|floyd-steinberg\n", argv[0]);
        return 2;
    }
    VxImage img;
    if (!img.Load(argv[1], 0)) {
        std::fprintf(stderr, "%s: %s\n", argv[1], img.GetLastError());
        return 1;
    }
    vx::ColourReduction how;
    if (!vx::ParsePaletteChoice(argv[3], how.palette) || !vx::ParseDitherChoice(argv[4], how.dither)) {
        std::fprintf(stderr, "%s: unknown palette or dither\n", argv[0]);
        return 2;
    }
    if (img.GetBpp() > 8 && !vx::ReduceColours(img, 8, how)) return 1;
    return img.Save(argv[2], VX_FORMAT_GIF) ? 0 : 1;
}
