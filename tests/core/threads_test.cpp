// Codecs given spare threads write the same bytes, and read the same pixels,
// as with their caller's thread alone.
#include <gtest/gtest.h>

#include "core/vx_image.h"
#include "tests/support/test_support.h"


TEST(Threads, SpareThreadsChangeNoByteAndNoPixel) {
    // Large enough for several PNG pieces, JPEG XL groups, code-blocks and TIFF strips;
    // noise, so that no piece compresses to nothing.
    VxImage pic = vt::MakeGradient24(720, 600);
    uint32_t seed = 12345;
    for (int32_t y = 0; y < 600; y += 3)
        for (int32_t x = 0; x < 720; ++x) {
            seed = seed * 1664525u + 1013904223u;
            pic.SetPixelColor(x, y, RGBQUAD{uint8_t(seed >> 8), uint8_t(seed >> 16), uint8_t(seed >> 24), 0});
        }
    const struct {
        uint32_t format;
        int quality;
    } cases[] = {{VX_FORMAT_PNG, 90},  {VX_FORMAT_JXL, 90},  {VX_FORMAT_JXL, 100},
                 {VX_FORMAT_JP2, 90},  {VX_FORMAT_JP2, 100}, {VX_FORMAT_WEBP, 90},
                 {VX_FORMAT_WEBP, 100}, {VX_FORMAT_HEIF, 50},  {VX_FORMAT_TIF, 90},
                 {VX_FORMAT_TIF, 100}};
    for (const auto& c : cases) {
        pic.SetJpegQuality(uint8_t(c.quality));
        pic.SetThreads(1);
        const std::vector<uint8_t> alone = vt::EncodeBytes(pic, c.format);
        pic.SetThreads(4);
        const std::vector<uint8_t> shared = vt::EncodeBytes(pic, c.format);
        ASSERT_FALSE(alone.empty()) << c.format;
        EXPECT_TRUE(alone == shared) << c.format << " q" << c.quality;
        VxImage one(0), four(0);
        four.SetThreads(4);
        ASSERT_TRUE(vt::DecodeBytes(alone, c.format, one) && vt::DecodeBytes(alone, c.format, four))
            << c.format;
        EXPECT_TRUE(vt::ToRgba(one).px == vt::ToRgba(four).px) << c.format << " q" << c.quality;
    }
    // Animated WebP codes each frame with the same settings.
    VxImage anim(0);
    anim.SetWantAnimation(true);
    ASSERT_TRUE(vt::DecodeBytes(vt::ReadFileBytes(vt::DataPath("gif/anim_offsets.gif")), VX_FORMAT_GIF, anim));
    ASSERT_TRUE(anim.GetAnimation() && anim.GetAnimation()->frames.size() > 1);
    anim.SetThreads(1);
    const std::vector<uint8_t> alone = vt::EncodeBytes(anim, VX_FORMAT_WEBP);
    anim.SetThreads(4);
    EXPECT_TRUE(!alone.empty() && alone == vt::EncodeBytes(anim, VX_FORMAT_WEBP));
}
