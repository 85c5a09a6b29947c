#include <gtest/gtest.h>

#include <cmath>

#include "core/vx_image.h"
#include "core/vx_resize.h"
#include "tests/support/reference_decoder.h"
#include "tests/support/test_support.h"

namespace {

TEST(Resize, RequestsAndTheSizesTheyGive) {
    struct Case {
        const char* text;
        uint32_t w, h, ow, oh;
    };
    const Case cases[] = {
        {"800x600", 4000, 3000, 800, 600},   {"800x800", 4000, 3000, 800, 600},
        {"800x800", 3000, 4000, 600, 800},   {"5000x5000", 4000, 3000, 4000, 3000},
        {"5000x5000+", 4000, 3000, 5000, 3750}, {"50%", 4000, 3000, 2000, 1500},
        {"200%", 10, 7, 20, 14},             {"x300", 4000, 3000, 400, 300},
        {"1000x", 4000, 3000, 1000, 750},    {"1x1", 4000, 3, 1, 1},
        {"33%", 1, 1, 1, 1},
    };
    for (const Case& c : cases) {
        vx::ResizeRequest r;
        ASSERT_TRUE(vx::ParseResizeRequest(c.text, r)) << c.text;
        uint32_t ow, oh;
        vx::ResizedSize(r, c.w, c.h, ow, oh);
        EXPECT_EQ(ow, c.ow) << c.text << " " << c.w << "x" << c.h;
        EXPECT_EQ(oh, c.oh) << c.text << " " << c.w << "x" << c.h;
    }
    for (const char* bad : {"", "x", "800", "0x600", "800x600x2", "-5%", "0%", "1001%", "axb", "800 x600", "%"}) {
        vx::ResizeRequest r;
        EXPECT_FALSE(vx::ParseResizeRequest(bad, r)) << bad;
    }
}

// A JPEG may be decoded smaller only while it stays twice the target size,
// whichever way an EXIF turn leaves its sides.
TEST(Resize, DecodeReductionKeepsTwiceTheTarget) {
    struct Case {
        const char* text;
        uint32_t w, h, reduction;
    };
    const Case cases[] = {
        {"800x800", 4000, 3000, 2},  {"1280x1280", 4000, 3000, 1}, {"10%", 4000, 3000, 4},
        {"5%", 4000, 3000, 8},       {"1%", 4000, 3000, 8},        {"50%", 4000, 3000, 1},
        {"800x200", 1000, 3000, 2},  // 4 upright, 2 once turned
        {"5000x5000", 4000, 3000, 1}, {"8x8", 15, 15, 1},
    };
    for (const Case& c : cases) {
        vx::ResizeRequest r;
        ASSERT_TRUE(vx::ParseResizeRequest(c.text, r)) << c.text;
        EXPECT_EQ(vx::DecodeReduction(r, c.w, c.h), c.reduction) << c.text << " " << c.w << "x" << c.h;
    }
    EXPECT_EQ(vx::DecodeReduction(vx::ResizeRequest{}, 4000, 3000), 1u);
}

TEST(Resize, FlatColourStaysExact) {
    VxImage img(37, 23, 24, 0);
    for (int y = 0; y < 23; ++y)
        for (int x = 0; x < 37; ++x) img.SetPixelColor(x, y, vx::MakeRGBQUAD(200, 17, 90));
    for (auto [w, h] : {std::pair{10u, 6u}, std::pair{80u, 50u}, std::pair{37u, 5u}}) {
        VxImage copy(img, true);
        ASSERT_TRUE(vx::Resample(copy, w, h));
        ASSERT_EQ(copy.GetWidth(), w);
        for (uint32_t y = 0; y < h; ++y)
            for (uint32_t x = 0; x < w; ++x)
                ASSERT_EQ(copy.GetPixelColor(int32_t(x), int32_t(y)), vx::MakeRGBQUAD(200, 17, 90));
    }
}

// Against ImageMagick's Lanczos (three lobes) in linear light on stripes, soft
// rings and a hard edge, shrinking and enlarging. ImageMagick clamps between its
// two passes and treats the border its own way, so two-dimensional ringing and
// the outer pixels are left out of the comparison.
TEST(Resize, MatchesImageMagickLanczosInLinearLight) {
    if (!vt::ReferenceAvailable(vt::Reference::ImageMagick)) GTEST_SKIP() << "no ImageMagick";
    vt::TempDir dir;
    VxImage src(96, 64, 24, 0);
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 96; ++x) {
            const int r = (x / 3) % 2 ? 255 : 0;
            const int g = int(127 + 120 * std::cos(std::hypot(x - 48, y - 32) / 6));
            const int b = y > 30 ? 255 : 0;
            src.SetPixelColor(x, y, vx::MakeRGBQUAD(uint8_t(r), uint8_t(g), uint8_t(b)));
        }
    ASSERT_TRUE(src.Save(dir.file("src.png").c_str(), VX_FORMAT_PNG));
    for (auto [w, h] : {std::pair{31u, 21u}, std::pair{48u, 32u}, std::pair{150u, 100u}}) {
        const std::string size = std::to_string(w) + "x" + std::to_string(h);
        const std::string ref = dir.file("ref" + size + ".png");
        ASSERT_EQ(vt::RunCommand("/usr/bin/convert " + vt::ShellQuote(dir.file("src.png")) +
                                 " -colorspace RGB -filter Lanczos -resize " + size +
                                 "! -colorspace sRGB " + vt::ShellQuote(ref)),
                  0);
        VxImage img(src, true), expected;
        ASSERT_TRUE(vx::Resample(img, w, h));
        ASSERT_TRUE(expected.Load(ref.c_str(), VX_FORMAT_PNG));
        const vt::Rgba a = vt::ToRgba(img), b = vt::ToRgba(expected);
        ASSERT_EQ(a.width, b.width);
        ASSERT_EQ(a.height, b.height);
        int worst = 0;
        for (int y = 4; y < a.height - 4; ++y)
            for (int x = 4; x < a.width - 4; ++x)
                for (int c = 0; c < 3; ++c) worst = std::max(worst, std::abs(a.at(x, y)[c] - b.at(x, y)[c]));
        EXPECT_LE(worst, 2) << size;
        EXPECT_GT(vt::Psnr(a, b), 40) << size;
    }
}

TEST(Resize, PalettesAndAlpha) {
    // A black and white picture comes back as 8-bit grey with the grey between.
    VxImage bw(64, 8, 1, 0);
    bw.SetPaletteColor(0, 0, 0, 0);
    bw.SetPaletteColor(1, 255, 255, 255);
    for (int x = 0; x < 64; ++x)
        for (int y = 0; y < 8; ++y) bw.SetPixelIndex(x, y, uint8_t(x & 1));
    ASSERT_TRUE(vx::Resample(bw, 32, 4));
    EXPECT_EQ(bw.GetBpp(), 8);
    EXPECT_TRUE(bw.IsGrayScale());
    const uint8_t mid = bw.GetPixelIndex(16, 2);
    EXPECT_NEAR(mid, 188, 3);  // half-way in linear light, not 128

    // Colour under transparent pixels must not bleed into opaque ones.
    VxImage img(40, 10, 24, 0);
    ASSERT_TRUE(img.AlphaCreate());
    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 40; ++x) {
            img.SetPixelColor(x, y, x < 20 ? vx::MakeRGBQUAD(0, 255, 0) : vx::MakeRGBQUAD(255, 0, 0));
            img.AlphaSet(x, y, x < 20 ? 0 : 255);
        }
    ASSERT_TRUE(vx::Resample(img, 20, 5));
    ASSERT_TRUE(img.AlphaIsValid());
    for (int x = 0; x < 20; ++x) {
        const RGBQUAD c = img.GetPixelColor(x, 2);
        if (img.AlphaGet(x, 2) > 0) {
            EXPECT_EQ(c.rgbGreen, 0) << x;
        }
    }
    EXPECT_EQ(img.AlphaGet(0, 2), 0);
    EXPECT_EQ(img.AlphaGet(19, 2), 255);
}

}  // namespace
