// Reading: fixtures written by independent tools must decode to what an
// independent decoder sees, and hostile bytes must fail cleanly.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "codecs/tiff/vx_image_tif.h"
#include "tests/support/hostile_sweep.h"
#include "tests/support/reference_decoder.h"
#include "tests/support/test_support.h"

namespace {

std::string Fixture(const std::string& name) { return vt::DataPath("tiff/" + name); }

VxImage Load(const std::string& name, int frame = 0) {
    VxImage img(0);
    img.SetFrame(frame);
    EXPECT_TRUE(img.Load(Fixture(name).c_str(), VX_FORMAT_TIF))
        << name << ": " << img.GetLastError();
    return img;
}

void ExpectLikeReference(const std::string& name, vt::Reference tool, int tolerance,
                         int frame = 0) {
    if (!vt::ReferenceAvailable(tool)) GTEST_SKIP() << "reference decoder missing";
    const VxImage img = Load(name, frame);
    const auto ref = vt::DecodeWithReference(Fixture(name), tool, frame);
    ASSERT_TRUE(ref.has_value()) << name;
    EXPECT_LE(vt::MaxChannelDiff(vt::ToRgba(img), *ref, true), tolerance) << name;
}

struct RefCase {
    const char* file;
    vt::Reference tool;
    int tolerance;
};

class TifFixture : public ::testing::TestWithParam<RefCase> {};

TEST_P(TifFixture, PixelsEqualIndependentDecoder) {
    ExpectLikeReference(GetParam().file, GetParam().tool, GetParam().tolerance);
}

// 16 and 12-bit pages are narrowed by taking the high bits; the reference
// rounds, hence one level. 8-bit Lab is coarse and both sides approximate
// the colour model (each is 16+ levels off the source picture).
INSTANTIATE_TEST_SUITE_P(
    Fixtures, TifFixture,
    ::testing::Values(RefCase{"g4_miniswhite.tif", vt::Reference::Pillow, 0},
                      RefCase{"bilevel_minisblack.tif", vt::Reference::Pillow, 0},
                      RefCase{"palette2.tif", vt::Reference::Pillow, 0},
                      RefCase{"palette4.tif", vt::Reference::Pillow, 0},
                      RefCase{"palette8.tif", vt::Reference::Pillow, 0},
                      RefCase{"grey2.tif", vt::Reference::Pillow, 0},
                      RefCase{"grey8_lzw_pred.tif", vt::Reference::Pillow, 0},
                      RefCase{"rgb_none.tif", vt::Reference::Pillow, 0},
                      RefCase{"rgb_lzw.tif", vt::Reference::Pillow, 0},
                      RefCase{"rgb_deflate.tif", vt::Reference::Pillow, 0},
                      RefCase{"rgb_packbits.tif", vt::Reference::Pillow, 0},
                      RefCase{"rgba.tif", vt::Reference::Pillow, 0},
                      RefCase{"planar_separate.tif", vt::Reference::Pillow, 0},
                      RefCase{"planar_rgba.tif", vt::Reference::Pillow, 0},
                      RefCase{"tiled_rgb.tif", vt::Reference::Pillow, 0},
                      RefCase{"tiled_grey.tif", vt::Reference::Pillow, 0},
                      RefCase{"tiled_palette4.tif", vt::Reference::Pillow, 0},
                      RefCase{"res_cm.tif", vt::Reference::Pillow, 0},
                      RefCase{"cmyk.tif", vt::Reference::ImageMagick, 1},
                      RefCase{"grey12.tif", vt::Reference::ImageMagick, 1},
                      RefCase{"grey16.tif", vt::Reference::ImageMagick, 1},
                      RefCase{"rgb16.tif", vt::Reference::ImageMagick, 1},
                      RefCase{"rgb16_bigendian.tif", vt::Reference::ImageMagick, 1},
                      RefCase{"grey12_bigendian.tif", vt::Reference::ImageMagick, 1},
                      RefCase{"cielab.tif", vt::Reference::ImageMagick, 6}),
    [](const auto& info) {
        std::string n = info.param.file;
        return n.substr(0, n.find('.'));
    });

TEST(TifDecode, JpegCompressedPageMatchesByPsnr) {
    if (!vt::ReferenceAvailable(vt::Reference::Pillow)) GTEST_SKIP();
    const VxImage img = Load("rgb_jpeg.tif");
    EXPECT_EQ(img.GetBpp(), 24);
    EXPECT_EQ(img.GetCodecOption(VX_FORMAT_TIF), 7u);
    const auto ref = vt::DecodeWithReference(Fixture("rgb_jpeg.tif"), vt::Reference::Pillow);
    ASSERT_TRUE(ref);
    EXPECT_GE(vt::Psnr(vt::ToRgba(img), *ref), 40.0);
}

TEST(TifDecode, PagesAreSelectedByFrame) {
    if (!vt::ReferenceAvailable(vt::Reference::Pillow)) GTEST_SKIP();
    const VxImage first = Load("two_pages.tif");
    EXPECT_EQ(first.GetNumFrames(), 2);
    EXPECT_EQ(first.GetBpp(), 24);
    ExpectLikeReference("two_pages.tif", vt::Reference::Pillow, 0, 1);
    EXPECT_EQ(Load("two_pages.tif", 1).GetBpp(), 8);

    VxImage img(0);
    img.SetFrame(2);
    EXPECT_FALSE(img.Load(Fixture("two_pages.tif").c_str(), VX_FORMAT_TIF));
    EXPECT_STREQ(img.GetLastError(), "Error: page not present in TIFF file");
    EXPECT_EQ(img.GetNumFrames(), 2);
    EXPECT_FALSE(img.IsValid());
}

TEST(TifDecode, ResolutionInCentimetresBecomesDpi) {
    const VxImage img = Load("res_cm.tif");
    EXPECT_EQ(img.GetXDPI(), 300);
    EXPECT_EQ(img.GetYDPI(), 300);
}

TEST(TifDecode, BilevelPalettesFollowPhotometric) {
    const VxImage white = Load("g4_miniswhite.tif");
    ASSERT_EQ(white.GetBpp(), 1);
    EXPECT_EQ(white.GetPaletteColor(0).rgbRed, 255);
    EXPECT_EQ(white.GetPaletteColor(1).rgbRed, 0);
    EXPECT_EQ(white.GetCodecOption(VX_FORMAT_TIF), 4u);
    const VxImage black = Load("bilevel_minisblack.tif");
    ASSERT_EQ(black.GetBpp(), 1);
    EXPECT_EQ(black.GetPaletteColor(0).rgbRed, 0);
    EXPECT_EQ(black.GetPaletteColor(1).rgbGreen, 255);
}

TEST(TifDecode, ColorMapScalingDependsOnItsValues) {
    // Standard 16-bit map: scaled down.
    const VxImage wide = Load("palette8.tif");
    EXPECT_EQ(wide.GetBpp(), 8);
    // Map whose values all fit a byte (red (30 i) mod 256, green 255 - i, blue 7): unscaled.
    const VxImage narrow = Load("palette_cmap8bit.tif");
    ASSERT_EQ(narrow.GetBpp(), 8);
    for (int i : {0, 3, 7}) {
        const RGBQUAD c = narrow.GetPaletteColor(uint8_t(i));
        EXPECT_EQ(c.rgbRed, (i * 30) % 256);
        EXPECT_EQ(c.rgbGreen, 255 - i);
        EXPECT_EQ(c.rgbBlue, 7);
    }
    // Top-left pixel is index 0, the next row starts at index 3.
    const int h = int(narrow.GetHeight());
    EXPECT_EQ(narrow.GetPixelIndex(0, h - 1), 0);
    EXPECT_EQ(narrow.GetPixelIndex(0, h - 2), 3);
}

TEST(TifDecode, TwoBitPagesWidenToFourBits) {
    const VxImage grey = Load("grey2.tif");
    ASSERT_EQ(grey.GetBpp(), 4);
    const int levels[4] = {0, 85, 170, 255};
    for (int i = 0; i < 4; ++i) EXPECT_EQ(grey.GetPaletteColor(uint8_t(i)).rgbRed, levels[i]);
    EXPECT_EQ(Load("palette2.tif").GetBpp(), 4);
}

TEST(TifDecode, TwelveBitPalettePageUsesTheWholeColorMap) {
    // Written by hand: index (x * 257 + y * 1000) mod 4096; the map is
    // red = 16 i, green = 16 (4095 - i), blue = 16 (7 i mod 4096); bytes are the high halves.
    const VxImage img = Load("palette12.tif");
    ASSERT_EQ(img.GetBpp(), 24);
    const int w = int(img.GetWidth()), h = int(img.GetHeight());
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const int i = (x * 257 + y * 1000) % 4096;
            const RGBQUAD c = img.GetPixelColor(x, h - 1 - y);
            ASSERT_EQ(c.rgbRed, (i * 16) >> 8) << x << "," << y;
            ASSERT_EQ(c.rgbGreen, ((4095 - i) * 16) >> 8);
            ASSERT_EQ(c.rgbBlue, ((i * 7 % 4096) * 16) >> 8);
        }
}

TEST(TifDecode, AlphaPlaneOnlyForAlphaSamples) {
    const VxImage rgba = Load("rgba.tif");
    EXPECT_EQ(rgba.GetBpp(), 24);
    EXPECT_TRUE(rgba.AlphaIsValid());
    const VxImage cmyk = Load("cmyk.tif");
    EXPECT_EQ(cmyk.GetBpp(), 24);
    EXPECT_FALSE(cmyk.AlphaIsValid());
}

TEST(TifDecode, DimensionsOnlyRequest) {
    VxImage img(0);
    img.SetEscape(-1);
    ASSERT_TRUE(img.Load(Fixture("rgb_lzw.tif").c_str(), VX_FORMAT_TIF));
    EXPECT_FALSE(img.IsValid());
    EXPECT_EQ(img.GetWidth(), 41u);
    EXPECT_EQ(img.GetHeight(), 29u);

    VxImage cancelled(0);
    cancelled.SetEscape(1);
    EXPECT_FALSE(cancelled.Load(Fixture("rgb_lzw.tif").c_str(), VX_FORMAT_TIF));
    EXPECT_STREQ(cancelled.GetLastError(), "Cancelled");
}

// Float grey and RGB, strips and tiles (tests/data/tiff/make_float.py), clamped, NaN 0: grey is
// levels 0..1, colour without a profile linear light (0.5 is sRGB 188).
TEST(TifDecode, FloatSamplesMapZeroToOne) {
    for (const std::string name : {"float_grey_strip", "float_grey_tile", "float_rgb_strip", "float_rgb_tile"}) {
        const VxImage img = Load(name + ".tif");
        const int expect[] = {0, 255, name[6] == 'r' ? 188 : 128, 0, 255, 0};
        for (int i = 0; i < 6; ++i) {
            const RGBQUAD q = img.GetPixelColor(i % 3, 1 - i / 3, false);
            EXPECT_EQ(q.rgbRed * 1000 + q.rgbBlue, expect[i] * 1000 + expect[(i + (name[6] == 'r' ? 2 : 0)) % 6]) << name;
        }
    }
}

// The orientation tag must come out the way an independent viewer shows it.
class TifOrientation : public ::testing::TestWithParam<const char*> {};

TEST_P(TifOrientation, MatchesAutoOrientedReference) {
    if (!vt::ReferenceAvailable(vt::Reference::ImageMagick)) GTEST_SKIP();
    const std::string path = Fixture(GetParam());
    vt::TempDir dir;
    const std::string raw = dir.file("ref.rgba");
    const std::string size = dir.file("size.txt");
    ASSERT_EQ(vt::RunCommand("convert " + vt::ShellQuote(path) + " -auto-orient -depth 8 rgba:" +
                             vt::ShellQuote(raw) + " && convert " + vt::ShellQuote(path) +
                             " -auto-orient -format '%w %h' info: > " + vt::ShellQuote(size)),
              0);
    vt::Rgba ref;
    FILE* f = std::fopen(size.c_str(), "r");
    ASSERT_TRUE(f);
    ASSERT_EQ(std::fscanf(f, "%d %d", &ref.width, &ref.height), 2);
    std::fclose(f);
    const auto bytes = vt::ReadFileBytes(raw);
    ref.px.assign(bytes.begin(), bytes.end());
    ASSERT_EQ(ref.px.size(), size_t(ref.width) * ref.height * 4);

    const VxImage img = Load(GetParam());
    EXPECT_EQ(vt::MaxChannelDiff(vt::ToRgba(img), ref, true), 0) << GetParam();
}

INSTANTIATE_TEST_SUITE_P(Tags, TifOrientation,
                         ::testing::Values("orient1.tif", "orient2.tif", "orient3.tif",
                                           "orient4.tif", "orient5.tif", "orient6.tif",
                                           "orient7.tif", "orient8.tif", "orient6_grey.tif"),
                         [](const auto& info) {
                             std::string n = info.param;
                             return n.substr(0, n.find('.'));
                         });

TEST(TifDecode, LibraryNeverWritesToTheTerminal) {
    // A damaged strip and a broken header both make libtiff complain; the
    // complaint must end up in LastError, not on stderr.
    auto bytes = vt::ReadFileBytes(Fixture("rgb_lzw.tif"));
    ASSERT_GT(bytes.size(), 2000u);
    // The strip data of this file starts right after the 8-byte header.
    std::memset(bytes.data() + 16, 0xFF, 1000);
    vt::TempDir dir;
    const std::string errPath = dir.file("stderr.txt");
    std::fflush(stderr);
    const int saved = dup(2);
    const int fd = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(fd, 0);
    dup2(fd, 2);
    VxImage cut(0);
    const bool cutOk = cut.Decode(bytes.data(), uint32_t(bytes.size()), VX_FORMAT_TIF);
    uint8_t junk[64] = {'I', 'I', 42, 0, 0xFF, 0xFF, 0xFF, 0x7F};
    VxImage bad(0);
    const bool badOk = bad.Decode(junk, sizeof(junk), VX_FORMAT_TIF);
    std::fflush(stderr);
    dup2(saved, 2);
    close(saved);
    close(fd);
    EXPECT_FALSE(cutOk);
    EXPECT_NE(std::string(cut.GetLastError()).find("Corrupted TIFF file!"), std::string::npos)
        << cut.GetLastError();
    EXPECT_FALSE(badOk);
    EXPECT_STRNE(bad.GetLastError(), "");
    EXPECT_TRUE(vt::ReadFileBytes(errPath).empty())
        << std::string(reinterpret_cast<const char*>(vt::ReadFileBytes(errPath).data()));
}

TEST(TifDecode, ClaimedSizeFarBeyondTheFileIsRefused) {
    // A 30-byte file claiming 1,000,000 x 1,000,000 pixels.
    std::vector<uint8_t> t = {'I', 'I', 42, 0, 8, 0, 0, 0, 4, 0};
    auto entry = [&](uint16_t tag, uint16_t type, uint32_t value) {
        const uint8_t e[12] = {uint8_t(tag),
                               uint8_t(tag >> 8),
                               uint8_t(type),
                               0,
                               1,
                               0,
                               0,
                               0,
                               uint8_t(value),
                               uint8_t(value >> 8),
                               uint8_t(value >> 16),
                               uint8_t(value >> 24)};
        t.insert(t.end(), e, e + 12);
    };
    entry(256, 4, 20000);
    entry(257, 4, 20000);
    entry(273, 4, 8);
    entry(279, 4, 4);
    t.insert(t.end(), {0, 0, 0, 0});
    VxImage img(0);
    img.SetMaxPixels(0);  // the rule of its own, not the picture limit
    EXPECT_FALSE(img.Decode(t.data(), uint32_t(t.size()), VX_FORMAT_TIF));
    EXPECT_STREQ(img.GetLastError(),
                 "Corrupted TIFF file!: picture size does not fit the file size");
}

class TifHostile : public ::testing::TestWithParam<std::string> {};

TEST_P(TifHostile, CutAndMutatedFilesFailCleanly) {
    const auto bytes = vt::ReadFileBytes(GetParam());
    ASSERT_FALSE(bytes.empty());
    std::vector<uint8_t> copy = bytes;
    VxImage whole(0);
    EXPECT_TRUE(whole.Decode(copy.data(), uint32_t(copy.size()), VX_FORMAT_TIF));
    const vt::SweepStats stats = vt::HostileSweep(bytes, VX_FORMAT_TIF, 7, 200);
    EXPECT_GT(stats.decodes, 0);
}

INSTANTIATE_TEST_SUITE_P(Fixtures, TifHostile,
                         ::testing::ValuesIn(vt::FixtureFiles("tiff", {".tif"})),
                         [](const auto& info) {
                             std::string n = info.param.substr(info.param.rfind('/') + 1);
                             n = n.substr(0, n.find('.'));
                             for (char& c : n)
                                 if (!isalnum(static_cast<unsigned char>(c))) c = '_';
                             return n;
                         });

}  // namespace
