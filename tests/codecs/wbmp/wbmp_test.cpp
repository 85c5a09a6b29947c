#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "codecs/wbmp/vx_wbmp_codec.h"
#include "core/vx_image.h"
#include "tests/support/hostile_sweep.h"
#include "tests/support/reference_decoder.h"
#include "tests/support/test_support.h"

namespace {

bool DecodeBytes(std::vector<uint8_t> bytes, VxImage& img) {
    return vt::DecodeBytes(std::move(bytes), VX_FORMAT_WBMP, img);
}

std::vector<uint8_t> EncodeBytes(VxImage& img, bool* ok = nullptr) {
    return vt::EncodeBytes(img, VX_FORMAT_WBMP, ok);
}

// A 1-bit picture with the default black/white palette and a known pattern.
VxImage Pattern(uint32_t w, uint32_t h) {
    VxImage img(w, h, 1, 0);
    img.SetGrayPalette();
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x)
            img.SetPixelIndex(int32_t(x), int32_t(y), uint8_t((x * 3 + y * 5) % 7 < 3));
    return img;
}

TEST(Wbmp, FixturesMatchIndependentDecoder) {
    if (!vt::ReferenceAvailable(vt::Reference::ImageMagick)) GTEST_SKIP() << "no ImageMagick";
    const auto files = vt::FixtureFiles("wbmp", {".wbmp"});
    ASSERT_GE(files.size(), 7u);
    for (const auto& path : files) {
        VxImage img(0);
        ASSERT_TRUE(img.Load(path.c_str(), VX_FORMAT_WBMP)) << path << ": " << img.GetLastError();
        EXPECT_EQ(img.GetBpp(), 1) << path;
        EXPECT_EQ(img.GetPaletteColor(0), vx::MakeRGBQUAD(0, 0, 0)) << path;
        EXPECT_EQ(img.GetPaletteColor(1), vx::MakeRGBQUAD(255, 255, 255)) << path;
        const auto ref = vt::DecodeWithReference(path, vt::Reference::ImageMagick);
        ASSERT_TRUE(ref) << path;
        EXPECT_EQ(vt::MaxChannelDiff(vt::ToRgba(img), *ref), 0) << path;
    }
}

TEST(Wbmp, WidthsOf128AndMoreUseMultiByteSizes) {
    VxImage img(0);
    ASSERT_TRUE(img.Load(vt::DataPath("wbmp/netpbm_200x40.wbmp").c_str(), VX_FORMAT_WBMP));
    EXPECT_EQ(img.GetWidth(), 200u);
    EXPECT_EQ(img.GetHeight(), 40u);
    ASSERT_TRUE(img.Load(vt::DataPath("wbmp/netpbm_33x130.wbmp").c_str(), VX_FORMAT_WBMP));
    EXPECT_EQ(img.GetWidth(), 33u);
    EXPECT_EQ(img.GetHeight(), 130u);
}

TEST(Wbmp, SmallPictureWrittenByteForByte) {
    VxImage img = Pattern(10, 2);
    bool ok = false;
    const auto bytes = EncodeBytes(img, &ok);
    ASSERT_TRUE(ok) << img.GetLastError();
    ASSERT_EQ(bytes.size(), 8u);
    EXPECT_EQ(bytes[0], 0);
    EXPECT_EQ(bytes[1], 0);
    EXPECT_EQ(bytes[2], 10);
    EXPECT_EQ(bytes[3], 2);
    // Top row first, most significant bit leftmost, padding bits clear.
    for (int row = 0; row < 2; ++row) {
        const int y = 1 - row;
        uint16_t expect = 0;
        for (int x = 0; x < 10; ++x)
            if (img.GetPixelIndex(x, y)) expect = uint16_t(expect | (0x8000 >> x));
        EXPECT_EQ(bytes[4 + 2 * row], expect >> 8) << row;
        EXPECT_EQ(bytes[5 + 2 * row], expect & 0xFF) << row;
    }

    VxImage back(0);
    ASSERT_TRUE(DecodeBytes(bytes, back)) << back.GetLastError();
    ASSERT_EQ(back.GetWidth(), 10u);
    ASSERT_EQ(back.GetHeight(), 2u);
    EXPECT_EQ(back.GetPaletteColor(0), vx::MakeRGBQUAD(0, 0, 0));
    EXPECT_EQ(back.GetPaletteColor(1), vx::MakeRGBQUAD(255, 255, 255));
    EXPECT_EQ(vt::MaxChannelDiff(vt::ToRgba(back), vt::ToRgba(img)), 0);
}

TEST(Wbmp, WrittenFilesReadBackElsewhere) {
    if (!vt::ReferenceAvailable(vt::Reference::ImageMagick)) GTEST_SKIP() << "no ImageMagick";
    vt::TempDir dir;
    for (uint32_t w : {1u, 9u, 127u, 128u, 200u, 255u}) {
        VxImage img = Pattern(w, w == 255 ? 255 : 7);
        const std::string path = dir.file("p" + std::to_string(w) + ".wbmp");
        ASSERT_TRUE(img.Save(path.c_str(), VX_FORMAT_WBMP)) << img.GetLastError();
        const auto ref = vt::DecodeWithReference(path, vt::Reference::ImageMagick);
        ASSERT_TRUE(ref) << w;
        EXPECT_EQ(vt::MaxChannelDiff(vt::ToRgba(img), *ref), 0) << w;
    }
    // Index 0 white, index 1 black: the file keeps the look, not the indices.
    VxImage inverted = Pattern(20, 5);
    inverted.SetPaletteColor(0, 255, 255, 255);
    inverted.SetPaletteColor(1, 0, 0, 0);
    const std::string path = dir.file("inv.wbmp");
    ASSERT_TRUE(inverted.Save(path.c_str(), VX_FORMAT_WBMP));
    const auto ref = vt::DecodeWithReference(path, vt::Reference::ImageMagick);
    ASSERT_TRUE(ref);
    EXPECT_EQ(vt::MaxChannelDiff(vt::ToRgba(inverted), *ref), 0);
}

TEST(Wbmp, EncoderRefusals) {
    VxImage eight(8, 8, 8, 0);
    bool ok = true;
    EncodeBytes(eight, &ok);
    EXPECT_FALSE(ok);
    EXPECT_STREQ(eight.GetLastError(), "不能保存图像为WBMP格式");
    VxImage wide = Pattern(256, 2);
    EncodeBytes(wide, &ok);
    EXPECT_FALSE(ok);
    EXPECT_NE(std::string(wide.GetLastError()).find("255"), std::string::npos)
        << wide.GetLastError();
    VxImage tall = Pattern(3, 256);
    EncodeBytes(tall, &ok);
    EXPECT_FALSE(ok);
    VxImage edge = Pattern(255, 255);
    const auto bytes = EncodeBytes(edge, &ok);
    EXPECT_TRUE(ok);
    EXPECT_EQ(bytes.size(), 2u + 2u + 2u + 32u * 255u);
}

TEST(Wbmp, BadFilesFailWithTheirText) {
    struct Case {
        std::vector<uint8_t> bytes;
        const char* text;
    };
    const Case cases[] = {
        {{}, "Not a WBMP"},
        {{1, 0, 8, 1, 0xFF}, "Unsupported WBMP type"},
        {{0, 0, 0, 1}, "Corrupted WBMP"},
        {{0, 0, 8, 0}, "Corrupted WBMP"},
        {{0, 0, 8}, "Corrupted WBMP"},
        // A size whose continuation never ends.
        {{0, 0, 0x81, 0x81, 0x81, 0x81, 0x81, 0x01, 1, 0}, "Corrupted WBMP"},
        // Two rows declared, one present.
        {{0, 0, 8, 2, 0xFF}, "Corrupted WBMP"},
        // Huge declared size with no pixels behind it: refused, nothing reserved.
        {{0, 0, 0x8F, 0xFF, 0xFF, 0x7F, 0x8F, 0xFF, 0xFF, 0x7F}, "Corrupted WBMP"},
    };
    for (const auto& c : cases) {
        VxImage img(0);
        img.SetMaxPixels(0);  // the format's own texts; the limit's come first otherwise
        EXPECT_FALSE(DecodeBytes(c.bytes, img));
        EXPECT_STREQ(img.GetLastError(), c.text) << c.bytes.size();
    }
}

TEST(Wbmp, HostileInput) {
    for (const auto& path : vt::FixtureFiles("wbmp", {".wbmp"})) {
        const auto stats = vt::HostileSweep(vt::ReadFileBytes(path), VX_FORMAT_WBMP);
        EXPECT_GT(stats.decodes, 0) << path;
    }
}

}  // namespace
