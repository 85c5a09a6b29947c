#include <gtest/gtest.h>

#include <random>

#include "core/vx_image.h"
#include "tests/support/test_support.h"

namespace {

RGBQUAD Hex(uint32_t rgb) { return vx::MakeRGBQUAD(uint8_t(rgb >> 16), uint8_t(rgb >> 8), uint8_t(rgb)); }

// The linear search every faster path must agree with.
uint8_t LinearNearest(const RGBQUAD* pal, int n, RGBQUAD c) {
    int best = 200000, idx = 0;
    for (int i = 0; i < n; ++i) {
        const int dr = pal[i].rgbRed - c.rgbRed, dg = pal[i].rgbGreen - c.rgbGreen,
                  db = pal[i].rgbBlue - c.rgbBlue;
        const int d = dr * dr + dg * dg + db * db;
        if (d == 0) return uint8_t(i);
        if (d < best) best = d, idx = i;
    }
    return uint8_t(idx);
}

TEST(StdPalette, KnownEntriesAndExactMatches) {
    const uint32_t colours[] = {0xFF0000, 0xFE0000, 0x808080, 0x000000, 0xFFFFFF,
                                0x00FF00, 0x0000FF, 0x6496C8};
    const int expected[] = {249, 40, 248, 0, 255, 250, 252, 121};
    VxImage img(8, 1, 24, 0);
    for (int i = 0; i < 8; ++i) img.SetPixelColor(i, 0, Hex(colours[i]));
    ASSERT_TRUE(img.DecreaseBpp(8, false));
    EXPECT_EQ(img.GetBpp(), 8);
    for (int i = 0; i < 8; ++i) EXPECT_EQ(img.GetPixelIndex(i, 0), expected[i]) << std::hex << colours[i];

    const RGBQUAD* pal = img.GetPalette();
    EXPECT_EQ(pal[8].rgbGreen, 0xDC);  // C0DCC0
    EXPECT_EQ(pal[10].rgbBlue, 0xD4);  // FFF0D4
    EXPECT_EQ(pal[226].rgbGreen, 0xF2);
    EXPECT_EQ(pal[245].rgbBlue, 0x0E);
    EXPECT_EQ(pal[246].rgbBlue, 0xF0); // FFFBF0
    EXPECT_EQ(pal[247].rgbBlue, 0xA4); // A0A0A4

    VxImage four(1, 1, 4, 0);
    four.SetStdPalette();
    EXPECT_EQ(four.GetPaletteColor(7).rgbGreen, 0xC0);
    EXPECT_EQ(four.GetPaletteColor(9).rgbRed, 0xFF);
}

TEST(DecreaseBpp, DepthRulesAndNoOps) {
    VxImage img(3, 3, 8, 0);
    EXPECT_FALSE(img.DecreaseBpp(24, false));
    EXPECT_TRUE(img.DecreaseBpp(8, false));
    VxImage rgb(3, 3, 24, 0);
    EXPECT_TRUE(rgb.DecreaseBpp(24, false));
    EXPECT_FALSE(rgb.DecreaseBpp(24, false, nullptr, 16));
    EXPECT_EQ(rgb.GetBpp(), 24);
    VxImage empty(0);
    EXPECT_FALSE(empty.DecreaseBpp(8, false));
}

TEST(DecreaseBpp, OneBitBlackWhiteWithTiesToBlack) {
    VxImage img(3, 1, 24, 0);
    img.SetPixelColor(0, 0, Hex(0x7F7F7F));
    img.SetPixelColor(1, 0, Hex(0x808080));
    img.SetPixelColor(2, 0, Hex(0xFF8000));
    img.AlphaCreate();
    img.AlphaSet(2, 0, 12);
    img.SetXDPI(300);
    ASSERT_TRUE(img.DecreaseBpp(1, false));
    EXPECT_EQ(img.GetPixelIndex(0, 0), 0);
    EXPECT_EQ(img.GetPixelIndex(1, 0), 1);
    EXPECT_EQ(img.GetPaletteColor(1).rgbRed, 255);
    EXPECT_EQ(img.AlphaGet(2, 0), 12);  // planes travel
    EXPECT_EQ(img.GetXDPI(), 300);      // so do settings
}

TEST(DecreaseBpp, GivenPaletteAndImportantColours) {
    VxImage img(2, 1, 24, 0);
    img.SetPixelColor(0, 0, Hex(0xF0F0F0));
    img.SetPixelColor(1, 0, Hex(0x101010));
    RGBQUAD pal[16] = {};
    pal[0] = Hex(0x000000);
    pal[1] = Hex(0xFFFFFF);
    pal[5] = Hex(0xEEEEEE);
    ASSERT_TRUE(img.DecreaseBpp(4, false, pal, 2));
    EXPECT_EQ(img.GetClrImportant(), 2u);
    EXPECT_EQ(img.GetPixelIndex(0, 0), 1);  // entry 5 lies beyond the important two
    EXPECT_EQ(img.GetPixelIndex(1, 0), 0);
}

TEST(DecreaseBpp, FastPathAgreesWithTheLinearSearch) {
    VxImage img(64, 48, 24, 0);
    std::mt19937 rng(5);
    for (int y = 0; y < 48; ++y)
        for (int x = 0; x < 64; ++x)
            img.SetPixelColor(x, y, Hex(rng() & 0xFFFFFF));
    VxImage copy(img);
    ASSERT_TRUE(copy.DecreaseBpp(8, false));
    const RGBQUAD* pal = copy.GetPalette();
    for (int y = 0; y < 48; ++y)
        for (int x = 0; x < 64; ++x)
            ASSERT_EQ(copy.GetPixelIndex(x, y), LinearNearest(pal, 256, img.GetPixelColor(x, y)))
                << x << "," << y;

    // A palette full of ties: equal distances must resolve to the lower index.
    RGBQUAD ties[16];
    for (int i = 0; i < 16; ++i) ties[i] = Hex(i % 2 ? 0x202020 : 0x000000);
    VxImage t(1, 1, 24, 0);
    t.SetPixelColor(0, 0, Hex(0x101010));
    ASSERT_TRUE(t.DecreaseBpp(4, false, ties));
    EXPECT_EQ(t.GetPixelIndex(0, 0), 0);
}

// The reduction rewrites the pixels inside the picture's own block; every
// width (odd strides, trailing bits) and every depth pair must come out as a
// fresh picture would: nearest indices, zero padding, the right layout.
TEST(DecreaseBpp, InPlaceEveryDepthPairAndWidth) {
    std::mt19937 rng(11);
    const uint32_t widths[] = {1, 2, 3, 5, 7, 8, 9, 31, 33, 257};
    const uint32_t heights[] = {1, 2, 5};
    const uint32_t pairs[][2] = {{24, 8}, {24, 4}, {24, 1}, {8, 8}, {8, 4}, {8, 1}, {4, 1}};
    for (const auto& pair : pairs) {
        for (uint32_t w : widths) {
            for (uint32_t h : heights) {
                VxImage src(w, h, pair[0], 0);
                if (pair[0] <= 8) {
                    for (uint32_t i = 0; i < src.GetNumColors(); ++i)
                        src.SetPaletteColor(uint8_t(i), Hex(rng() & 0xFFFFFF));
                    for (uint32_t y = 0; y < h; ++y)
                        for (uint32_t x = 0; x < w; ++x)
                            src.SetPixelIndex(int32_t(x), int32_t(y), uint8_t(rng() % src.GetNumColors()));
                } else {
                    for (uint32_t y = 0; y < h; ++y)
                        for (uint32_t x = 0; x < w; ++x)
                            src.SetPixelColor(int32_t(x), int32_t(y), Hex(rng() & 0xFFFFFF));
                }
                src.AlphaCreate();
                src.AlphaSet(int32_t(w - 1), int32_t(h - 1), 77);
                VxImage img(src);
                const uint32_t important = pair[0] == pair[1] ? 100 : 0;
                SCOPED_TRACE(testing::Message() << pair[0] << "->" << pair[1] << " " << w << "x" << h);
                ASSERT_TRUE(img.DecreaseBpp(pair[1], false, nullptr, important));
                ASSERT_EQ(img.GetBpp(), pair[1]);
                ASSERT_EQ(img.GetWidth(), w);
                ASSERT_EQ(img.GetHeight(), h);
                const uint32_t stride = (w * pair[1] + 31) / 32 * 4;
                EXPECT_EQ(img.GetEffWidth(), stride);
                EXPECT_EQ(img.GetHeader().biSizeImage, stride * h);
                EXPECT_EQ(img.GetBits(0), img.GetDIB() + 40 + img.GetPaletteSize());
                EXPECT_EQ(img.GetClrImportant(), important);
                EXPECT_EQ(img.AlphaGet(int32_t(w - 1), int32_t(h - 1)), 77);
                const uint32_t n = important ? important : img.GetNumColors();
                for (uint32_t y = 0; y < h; ++y) {
                    for (uint32_t x = 0; x < w; ++x)
                        ASSERT_EQ(img.GetPixelIndex(int32_t(x), int32_t(y)),
                                  LinearNearest(img.GetPalette(), int(n),
                                                src.GetPixelColor(int32_t(x), int32_t(y), false)))
                            << x << "," << y;
                    // Bits past the last pixel are zero, as in a new picture.
                    const uint8_t* row = img.GetBits(y);
                    const uint32_t usedBits = w * pair[1];
                    for (uint32_t bit = usedBits; bit < stride * 8; ++bit)
                        ASSERT_EQ((row[bit / 8] >> (7 - bit % 8)) & 1, 0) << "row " << y << " bit " << bit;
                }
            }
        }
    }
}

TEST(DecreaseBpp, CancelledReductionLeavesIndexZero) {
    VxImage img(40, 30, 24, 0);
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 40; ++x) img.SetPixelColor(x, y, Hex(0xFFFFFF));
    img.SetEscape(1);
    ASSERT_TRUE(img.DecreaseBpp(8, false));
    EXPECT_EQ(img.GetBpp(), 8);
    EXPECT_EQ(img.GetPaletteColor(255).rgbRed, 255);
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 40; ++x) ASSERT_EQ(img.GetPixelIndex(x, y), 0) << x << "," << y;
}

TEST(DecreaseBpp, ErrorDiffusionSpreadsIntoTheSource) {
    VxImage img(4, 2, 24, 0);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 4; ++x) img.SetPixelColor(x, y, Hex(0x606060));
    VxImage plain(img);
    ASSERT_TRUE(plain.DecreaseBpp(1, false));
    ASSERT_TRUE(img.DecreaseBpp(1, true));
    EXPECT_EQ(img.GetPaletteColor(0).rgbRed, 0);
    // Without diffusion every pixel of 0x60 is black; with it, the carried
    // error turns some pixels white.
    int whitePlain = 0, whiteDiffused = 0;
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 4; ++x) {
            whitePlain += plain.GetPixelIndex(x, y);
            whiteDiffused += img.GetPixelIndex(x, y);
        }
    EXPECT_EQ(whitePlain, 0);
    EXPECT_GT(whiteDiffused, 0);
    // Pixel (0,0): error 0x60 = 96; (1,0) gets 96*7/16 = 42 -> 138, rounds white.
    EXPECT_EQ(img.GetPixelIndex(0, 0), 0);
    EXPECT_EQ(img.GetPixelIndex(1, 0), 1);
}

TEST(IncreaseBpp, PaletteToTrueColourAndWider) {
    VxImage img(3, 1, 8, 0);
    img.SetPaletteColor(3, 10, 20, 30, 0);
    img.SetPaletteColor(4, 1, 2, 3, 128);
    img.SetPixelIndex(0, 0, 3);
    img.SetPixelIndex(1, 0, 4);
    img.SetTransIndex(3);
    ASSERT_TRUE(img.IncreaseBpp(24));
    EXPECT_EQ(img.GetBpp(), 24);
    EXPECT_EQ(img.GetTransColor().rgbBlue, 30);
    EXPECT_EQ(img.GetPixelColor(0, 0, false).rgbRed, 10);
    ASSERT_TRUE(img.AlphaIsValid());  // palette alpha becomes plane alpha
    EXPECT_EQ(img.AlphaGet(1, 0), 128);
    EXPECT_EQ(img.AlphaGet(0, 0), 0);

    VxImage four(5, 2, 4, 0);
    four.SetStdPalette();
    four.SetPixelIndex(4, 1, 13);
    ASSERT_TRUE(four.IncreaseBpp(8));
    EXPECT_EQ(four.GetPixelIndex(4, 1), 13);
    EXPECT_EQ(four.GetPaletteColor(13).rgbBlue, 0xFF);
    EXPECT_EQ(four.GetPaletteColor(200).rgbRed, 0);
    EXPECT_FALSE(four.IncreaseBpp(4));
    EXPECT_FALSE(four.IncreaseBpp(16));
    EXPECT_TRUE(four.IncreaseBpp(8));
}

}  // namespace
