#include <gtest/gtest.h>

#include <climits>
#include <cstring>

#include "core/vx_image.h"

namespace {

// Exposes the protected pieces the dispatch and codecs use.
class Probe : public VxImage {
public:
    using VxImage::VxImage;
    using VxImage::CopyInfo;
    using VxImage::Ghost;
    const uint8_t* Raw() const { return Dib; }
};

TEST(ImageLayout, StridesPaletteAndBlockSizes) {
    VxImage a(3, 2, 1, 0);
    EXPECT_EQ(a.GetEffWidth(), 4u);
    EXPECT_EQ(a.GetHeader().biSizeImage, 8u);
    EXPECT_EQ(a.GetNumColors(), 2u);
    EXPECT_EQ(a.GetSize(), 56u);

    VxImage b(3, 2, 24, 0);
    EXPECT_EQ(b.GetEffWidth(), 12u);
    EXPECT_EQ(b.GetNumColors(), 0u);
    EXPECT_EQ(b.GetPalette(), nullptr);

    // Depths round up to the next stored one.
    EXPECT_EQ(VxImage(5, 5, 16, 0).GetBpp(), 24);
    EXPECT_EQ(VxImage(5, 5, 2, 0).GetBpp(), 4);
    EXPECT_EQ(VxImage(5, 5, 32, 0).GetBpp(), 24);
    EXPECT_EQ(VxImage(5, 5, 0, 0).GetBpp(), 1);
}

TEST(ImageLayout, BlockStartsWithTheHeaderAndIsZeroFilled) {
    Probe img(7, 5, 8, 3);
    const uint8_t* raw = img.Raw();
    ASSERT_NE(raw, nullptr);
    EXPECT_EQ(vx::LoadLE32(raw), 40u);
    EXPECT_EQ(int32_t(vx::LoadLE32(raw + 4)), 7);
    EXPECT_EQ(int32_t(vx::LoadLE32(raw + 8)), 5);
    EXPECT_EQ(vx::LoadLE16(raw + 14), 8);
    EXPECT_EQ(vx::LoadLE32(raw + 32), 256u);
    EXPECT_EQ(img.GetType(), 3u);
    for (uint32_t i = 40; i < img.GetSize(); ++i) ASSERT_EQ(raw[i], 0) << "byte " << i;
}

TEST(ImageCreate, RefusesEmptyAndOversizedPictures) {
    VxImage img(0);
    EXPECT_EQ(img.Create(0, 10, 8, 0), nullptr);
    EXPECT_STREQ(img.GetLastError(), "创建图像对象: 高度和宽度必须大于零");
    EXPECT_FALSE(img.IsValid());

    EXPECT_EQ(img.Create(100000, 100000, 24, 0), nullptr);
    EXPECT_STREQ(img.GetLastError(), "超过规定的图像数据占用的内存大小");
    EXPECT_FALSE(img.IsValid());

    // Under the weight limit but beyond what 32-bit size fields describe.
    EXPECT_EQ(img.Create(0x7FFFFFFF, 3, 8, 0), nullptr);
    EXPECT_FALSE(img.IsValid());
}

TEST(ImageAccessors, SettersFollowTheirRules) {
    VxImage img(4, 4, 4, 0);
    img.SetClrImportant(300);
    EXPECT_EQ(img.GetClrImportant(), 0u);
    img.SetClrImportant(40);
    EXPECT_EQ(img.GetClrImportant(), 16u);

    img.SetXDPI(0);
    EXPECT_EQ(img.GetXDPI(), 96);
    EXPECT_EQ(img.GetHeader().biXPelsPerMeter, 3780);
    img.SetYDPI(300);
    EXPECT_EQ(img.GetHeader().biYPelsPerMeter, 11811);
    // A resolution a file may claim (found by fuzzing JPEG EXIF data).
    img.SetXDPI(1300000000);
    EXPECT_EQ(img.GetXDPI(), 1300000000);
    EXPECT_EQ(img.GetHeader().biXPelsPerMeter, INT32_MAX);

    img.SetFlags(0x12345678);
    EXPECT_EQ(img.GetFlags(), 0x5678u);
    img.SetFlags(0x12345678, false);
    EXPECT_EQ(img.GetFlags(), 0x12345678u);

    EXPECT_FALSE(img.SetCodecOption(1, kVxFormatCount));
    EXPECT_EQ(img.GetCodecOption(kVxFormatCount), 0u);
    EXPECT_TRUE(img.SetCodecOption(7, 4));
    EXPECT_EQ(img.GetCodecOption(4), 7u);

    RGBQUAD c = vx::MakeRGBQUAD(1, 2, 3, 99);
    img.SetTransColor(c);
    EXPECT_EQ(img.GetTransColor().rgbReserved, 0);

    EXPECT_EQ(img.GetBits(3), img.GetBits(0) + 3 * img.GetEffWidth());
    EXPECT_EQ(img.GetBits(4), nullptr);
    EXPECT_STREQ(img.GetVersion(), "VxImage 1.1");
}

TEST(ImagePixels, PackingOfEveryDepth) {
    VxImage one(10, 2, 1, 0);
    one.SetPixelIndex(0, 1, 1);
    one.SetPixelIndex(9, 1, 1);
    EXPECT_EQ(one.GetBits(1)[0], 0x80);
    EXPECT_EQ(one.GetBits(1)[1], 0x40);
    EXPECT_EQ(one.GetPixelIndex(9, 1), 1);
    EXPECT_EQ(one.GetPixelIndex(8, 1), 0);

    VxImage four(3, 1, 4, 0);
    four.SetPixelIndex(0, 0, 0x1A);  // only the low nibble counts
    four.SetPixelIndex(1, 0, 0x05);
    four.SetPixelIndex(2, 0, 0x0F);
    EXPECT_EQ(four.GetBits(0)[0], 0xA5);
    EXPECT_EQ(four.GetBits(0)[1], 0xF0);

    VxImage rgb(2, 1, 24, 0);
    rgb.SetPixelColor(1, 0, vx::MakeRGBQUAD(10, 20, 30));
    EXPECT_EQ(rgb.GetBits(0)[3], 30);  // blue first
    EXPECT_EQ(rgb.GetBits(0)[5], 10);
    EXPECT_EQ(rgb.GetPixelGray(1, 0), (20 * 601 + 10 * 306 + 30 * 117) >> 10);
}

TEST(ImagePixels, OutsideReadsFollowTheTransparentIndex) {
    VxImage img(4, 4, 8, 0);
    img.SetPixelIndex(0, 0, 42);
    EXPECT_EQ(img.GetPixelIndex(-1, 0), 42);  // first pixel byte
    img.SetTransIndex(5);
    EXPECT_EQ(img.GetPixelIndex(-1, 0), 5);
    img.SetPaletteColor(5, 9, 8, 7);
    EXPECT_EQ(img.GetPixelColor(100, 100).rgbRed, 9);

    img.SetPixelIndex(4, 0, 1);  // outside: ignored
    img.Clear(3);
    EXPECT_EQ(img.GetPixelIndex(3, 3), 3);

    VxImage four(3, 1, 4, 0);
    four.Clear(0x12);
    EXPECT_EQ(four.GetBits(0)[0], 0x22);
    VxImage one(3, 1, 1, 0);
    one.Clear(2);
    EXPECT_EQ(one.GetBits(0)[0], 0xFF);
}

TEST(ImageNearest, TiesGoLowAndTheCacheFollowsPaletteChanges) {
    VxImage img(1, 1, 4, 0);
    img.SetPaletteColor(3, 10, 10, 10);
    img.SetPaletteColor(4, 30, 30, 30);
    img.SetPaletteColor(0, 200, 200, 200);
    for (uint8_t i = 5; i < 16; ++i) img.SetPaletteColor(i, 250, 0, 250);
    img.SetPaletteColor(1, 250, 0, 250);
    img.SetPaletteColor(2, 250, 0, 250);
    // 20 is equally far from 10 and 30: the lower index wins.
    EXPECT_EQ(img.GetNearestIndex(vx::MakeRGBQUAD(20, 20, 20)), 3);
    // Changing the palette must not let the cache answer from the old one.
    img.SetPaletteColor(4, 20, 20, 20);
    EXPECT_EQ(img.GetNearestIndex(vx::MakeRGBQUAD(20, 20, 20)), 4);
    img.SetGrayPalette();
    EXPECT_EQ(img.GetNearestIndex(vx::MakeRGBQUAD(20, 20, 20)), 1);  // 17

    // biClrImportant limits the search.
    VxImage eight(1, 1, 8, 0);
    eight.SetGrayPalette();
    eight.SetClrImportant(10);
    EXPECT_EQ(eight.GetNearestIndex(vx::MakeRGBQUAD(200, 200, 200)), 9);
}

TEST(ImagePalette, SetGrayPaletteRampsByDepth) {
    VxImage four(1, 1, 4, 0);
    four.SetGrayPalette();
    EXPECT_EQ(four.GetPaletteColor(1).rgbRed, 17);
    EXPECT_EQ(four.GetPaletteColor(15).rgbBlue, 255);
    VxImage one(1, 1, 1, 0);
    one.SetGrayPalette();
    EXPECT_EQ(one.GetPaletteColor(1).rgbGreen, 255);
    EXPECT_FALSE(one.IsGrayScale());  // not the identity ramp
    VxImage eight(1, 1, 8, 0);
    eight.SetGrayPalette();
    EXPECT_TRUE(eight.IsGrayScale());
    eight.SetPaletteColor(0, 255, 255, 255);  // an out-of-range index is ignored
    uint8_t r = 0;
    EXPECT_TRUE(eight.GetPaletteColor(0, &r, nullptr, nullptr));
    EXPECT_EQ(r, 255);
    EXPECT_FALSE(eight.IsGrayScale());
}

TEST(ImageCopy, CopyGhostAndTransfer) {
    Probe src(5, 4, 8, 2);
    src.SetPaletteColor(7, 1, 2, 3);
    src.SetPixelIndex(4, 3, 7);
    src.AlphaCreate();
    src.AlphaSet(1, 1, 9);
    src.SetTransIndex(7);

    VxImage copy(src);
    EXPECT_EQ(copy.GetPixelIndex(4, 3), 7);
    EXPECT_EQ(copy.AlphaGet(1, 1), 9);
    EXPECT_EQ(copy.GetTransIndex(), 7);
    EXPECT_NE(copy.GetDIB(), src.GetDIB());

    VxImage paletteOnly(src, false, false, false);
    EXPECT_EQ(paletteOnly.GetPaletteColor(7).rgbBlue, 3);
    EXPECT_EQ(paletteOnly.GetPixelIndex(4, 3), 0);
    EXPECT_FALSE(paletteOnly.AlphaIsValid());

    // A ghost shares every buffer, owns none and cannot be rebuilt.
    {
        Probe ghost(0);
        ghost.Ghost(&src);
        EXPECT_EQ(ghost.GetDIB(), src.GetDIB());
        EXPECT_FALSE(ghost.Destroy());
        EXPECT_EQ(ghost.Create(2, 2, 8, 0), nullptr);
        EXPECT_EQ(ghost.GetDIB(), src.GetDIB());
    }
    EXPECT_EQ(src.GetPixelIndex(4, 3), 7);  // still alive after the ghost died

    VxImage dst(1, 1, 24, 0);
    ASSERT_TRUE(dst.Transfer(src));
    EXPECT_EQ(dst.GetWidth(), 5u);
    EXPECT_EQ(dst.GetPixelIndex(4, 3), 7);
    EXPECT_FALSE(src.IsValid());
    EXPECT_EQ(src.GetWidth(), 0u);
    EXPECT_EQ(src.GetTransIndex(), 0);
    EXPECT_FALSE(src.AlphaIsValid());
}

TEST(ImageCopy, CopyInfoOnlyWhileEmpty) {
    Probe a(0), b(2, 2, 8, 0);
    VxImage src(0);
    src.SetJpegQuality(33);
    src.SetFrame(4);
    a.CopyInfo(src);
    EXPECT_EQ(a.GetJpegQuality(), 33);
    EXPECT_EQ(a.GetFrame(), 4);
    b.CopyInfo(src);
    EXPECT_EQ(b.GetJpegQuality(), 90);
}

TEST(ImageGeometry, FlipMirrorRotateKeepPixelsAndAlpha) {
    VxImage img(3, 2, 24, 0);
    // Bottom-up: (0,0) is the bottom-left pixel.
    img.SetPixelColor(0, 0, vx::MakeRGBQUAD(255, 0, 0));
    img.SetPixelColor(2, 1, vx::MakeRGBQUAD(0, 0, 255));
    img.AlphaCreate();
    img.AlphaSet(0, 0, 7);

    VxImage f(img);
    ASSERT_TRUE(f.Flip());
    EXPECT_EQ(f.GetPixelColor(0, 1, false).rgbRed, 255);
    EXPECT_EQ(f.AlphaGet(0, 1), 7);

    VxImage m(img);
    ASSERT_TRUE(m.Mirror());
    EXPECT_EQ(m.GetPixelColor(2, 0, false).rgbRed, 255);
    EXPECT_EQ(m.AlphaGet(2, 0), 7);

    // Counter-clockwise: the bottom-left corner goes to the bottom-right.
    VxImage l(img);
    ASSERT_TRUE(l.RotateLeft());
    EXPECT_EQ(l.GetWidth(), 2u);
    EXPECT_EQ(l.GetHeight(), 3u);
    EXPECT_EQ(l.GetPixelColor(1, 0, false).rgbRed, 255);
    EXPECT_EQ(l.GetPixelColor(0, 2, false).rgbBlue, 255);
    EXPECT_EQ(l.AlphaGet(1, 0), 7);

    // Clockwise: the bottom-left corner goes to the top-left.
    VxImage r(img);
    ASSERT_TRUE(r.RotateRight());
    EXPECT_EQ(r.GetPixelColor(0, 2, false).rgbRed, 255);
    EXPECT_EQ(r.GetPixelColor(1, 0, false).rgbBlue, 255);

    VxImage pal(9, 3, 1, 0);
    pal.SetPixelIndex(0, 0, 1);
    ASSERT_TRUE(pal.RotateRight());
    EXPECT_EQ(pal.GetPixelIndex(0, 8), 1);
    EXPECT_EQ(pal.GetPaletteColor(1).rgbRed, 0);
}

TEST(ImageNegative, GreyIndicesPalettesAndTrueColour) {
    VxImage grey(2, 1, 8, 0);
    grey.SetGrayPalette();
    grey.SetPixelIndex(0, 0, 10);
    grey.Negative();
    EXPECT_EQ(grey.GetPixelIndex(0, 0), 245);

    VxImage pal(2, 1, 4, 0);
    pal.SetPaletteColor(1, 10, 20, 30);
    pal.SetPixelIndex(0, 0, 1);
    pal.Negative();
    EXPECT_EQ(pal.GetPixelIndex(0, 0), 1);
    EXPECT_EQ(pal.GetPaletteColor(1).rgbRed, 245);

    VxImage rgb(1, 1, 24, 0);
    rgb.SetPixelColor(0, 0, vx::MakeRGBQUAD(0, 100, 255));
    rgb.SetTransColor(vx::MakeRGBQUAD(1, 1, 1));
    rgb.Negative();
    EXPECT_EQ(rgb.GetPixelColor(0, 0).rgbGreen, 155);
    EXPECT_EQ(rgb.GetTransColor().rgbRed, 254);
}

TEST(LastError, CutsNeverSplitUtf8) {
    VxImage img(0);
    std::string text(254, 'a');
    text += "中";  // 3 bytes, only 1 fits
    img.SetLastError(text.c_str());
    EXPECT_EQ(std::strlen(img.GetLastError()), 254u);
    std::string fits(252, 'b');
    fits += "中";
    img.SetLastError(fits.c_str());
    EXPECT_EQ(std::string(img.GetLastError()), fits);
}

}  // namespace
