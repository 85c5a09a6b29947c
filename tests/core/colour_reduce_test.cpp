#include <gtest/gtest.h>

#include <cmath>
#include <set>

#include "core/vx_adaptive_palette.h"
#include "core/vx_colour_reduce.h"
#include "core/vx_image.h"
#include "tests/support/test_support.h"

namespace {

using vx::ColourReduction;
using vx::DitherChoice;
using vx::PaletteChoice;

// A smooth photo-like field: gradients in all three channels.
VxImage Field(int w, int h) {
    VxImage img(uint32_t(w), uint32_t(h), 24, 0);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            img.SetPixelColor(x, y, vx::MakeRGBQUAD(uint8_t(x * 255 / (w - 1)), uint8_t(y * 255 / (h - 1)),
                                                    uint8_t(128 + 100 * std::sin(x * 0.05 + y * 0.03))));
    return img;
}

double PsnrAfter(const ColourReduction& how, uint32_t bits = 8) {
    VxImage src = Field(128, 96);
    VxImage img(src, true);
    EXPECT_TRUE(vx::ReduceColours(img, bits, how));
    EXPECT_EQ(img.GetBpp(), bits);
    return vt::Psnr(vt::ToRgba(src), vt::ToRgba(img));
}

TEST(ColourReduce, AdaptiveBeatsStandardAndDitherKeepsLocalMeans) {
    const double standard = PsnrAfter({});
    const double adaptive = PsnrAfter({PaletteChoice::Adaptive, DitherChoice::None});
    EXPECT_GT(adaptive, standard + 6) << standard;
    EXPECT_GT(PsnrAfter({PaletteChoice::Adaptive, DitherChoice::None}, 4),
              PsnrAfter({PaletteChoice::Standard, DitherChoice::None}, 4));

    // Error diffusion trades per-pixel error for faithful averages: the mean of
    // every 8 x 8 block stays closer to the source's than nearest colour gives.
    auto blockError = [](const ColourReduction& how) {
        VxImage src = Field(128, 96), img(src, true);
        EXPECT_TRUE(vx::ReduceColours(img, 8, how));
        const vt::Rgba a = vt::ToRgba(src), b = vt::ToRgba(img);
        double total = 0;
        for (int by = 0; by < 96; by += 8)
            for (int bx = 0; bx < 128; bx += 8)
                for (int c = 0; c < 3; ++c) {
                    double d = 0;
                    for (int y = by; y < by + 8; ++y)
                        for (int x = bx; x < bx + 8; ++x) d += a.at(x, y)[c] - b.at(x, y)[c];
                    total += std::fabs(d / 64);
                }
        return total;
    };
    for (PaletteChoice p : {PaletteChoice::Standard, PaletteChoice::Adaptive})
        EXPECT_LT(blockError({p, DitherChoice::FloydSteinberg}), blockError({p, DitherChoice::None}))
            << int(p);
}

TEST(ColourReduce, FewColoursAreKeptExactly) {
    // 200 distinct colours (more than the standard palette matches) survive
    // adaptive reduction unchanged, dithered or not.
    for (DitherChoice d : {DitherChoice::None, DitherChoice::FloydSteinberg}) {
        VxImage src(40, 20, 24, 0);
        for (int y = 0; y < 20; ++y)
            for (int x = 0; x < 40; ++x) {
                const int k = (x / 2 + y * 20) % 200;
                src.SetPixelColor(x, y, vx::MakeRGBQUAD(uint8_t(k * 37), uint8_t(k * 11 + 3), uint8_t(k)));
            }
        VxImage img(src, true);
        ASSERT_TRUE(vx::ReduceColours(img, 8, {PaletteChoice::Adaptive, d}));
        EXPECT_EQ(vt::MaxChannelDiff(vt::ToRgba(src), vt::ToRgba(img), false), 0) << int(d);
    }
    VxImage img = Field(64, 64);
    EXPECT_LE(vx::BuildAdaptivePalette(img, 16).colours.size(), 16u);
    EXPECT_FALSE(vx::BuildAdaptivePalette(img, 16).exact);
}

TEST(ColourReduce, TransparentPixelsGetTheirOwnEntry) {
    for (DitherChoice d : {DitherChoice::None, DitherChoice::FloydSteinberg}) {
        VxImage img = Field(64, 32);
        ASSERT_TRUE(img.AlphaCreate());
        for (int y = 0; y < 32; ++y)
            for (int x = 0; x < 64; ++x) img.AlphaSet(x, y, x < 20 ? 0 : x < 24 ? 127 : 128);
        ASSERT_TRUE(vx::ReduceColours(img, 8, {PaletteChoice::Adaptive, d}));
        const int t = img.GetTransIndex();
        ASSERT_GE(t, 0);
        ASSERT_LT(t, 256);
        for (int y = 0; y < 32; ++y)
            for (int x = 0; x < 64; ++x)
                ASSERT_EQ(img.GetPixelIndex(x, y) == t, x < 24) << x << "," << y << " dither " << int(d);
    }
}

}  // namespace
