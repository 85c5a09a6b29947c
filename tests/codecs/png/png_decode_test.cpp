#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "codecs/png/vx_png_codec.h"
#include "core/vx_image.h"
#include "tests/codecs/png/png_test_util.h"
#include "tests/support/reference_decoder.h"
#include "tests/support/test_support.h"

namespace {

VxImage LoadFixture(const std::string& name) {
    VxImage img(0);
    const std::string path = vt::DataPath("png/" + name);
    EXPECT_TRUE(img.Load(path.c_str(), VX_FORMAT_PNG)) << name << ": " << img.GetLastError();
    return img;
}

struct DecodeCase {
    const char* file;
    int bpp;
    bool alphaPlane;
    vt::Reference reference;
};

void PrintTo(const DecodeCase& c, std::ostream* os) { *os << c.file; }

// Pillow widens 16-bit grey wrongly (clips at 255), so those files are
// checked against ImageMagick; their samples are multiples of 257, so both
// 8-bit reductions agree exactly.
const DecodeCase kCases[] = {
    {"grey1.png", 1, false, vt::Reference::Pillow},
    {"grey2.png", 4, false, vt::Reference::Pillow},
    {"grey4.png", 4, false, vt::Reference::Pillow},
    {"grey8.png", 8, false, vt::Reference::Pillow},
    {"grey16.png", 8, false, vt::Reference::ImageMagick},
    {"grey8_trns.png", 8, false, vt::Reference::Pillow},
    {"rgb8.png", 24, false, vt::Reference::Pillow},
    {"rgb16.png", 24, false, vt::Reference::Pillow},
    {"rgb8_trns.png", 24, true, vt::Reference::Pillow},
    {"rgb16_trns.png", 24, true, vt::Reference::ImageMagick},
    {"pal1.png", 1, false, vt::Reference::Pillow},
    {"pal2.png", 4, false, vt::Reference::Pillow},
    {"pal4.png", 4, false, vt::Reference::Pillow},
    {"pal8.png", 8, false, vt::Reference::Pillow},
    {"pal8_trns0.png", 8, false, vt::Reference::Pillow},
    {"pal8_trns7.png", 8, false, vt::Reference::Pillow},
    {"pal4_alpha.png", 4, false, vt::Reference::Pillow},
    {"ga8.png", 24, true, vt::Reference::Pillow},
    {"ga16.png", 24, true, vt::Reference::ImageMagick},
    {"ga8_bkgd.png", 24, true, vt::Reference::Pillow},
    {"rgba8.png", 24, true, vt::Reference::Pillow},
    {"rgba16.png", 24, true, vt::Reference::Pillow},
    {"rgba8_bkgd.png", 24, true, vt::Reference::Pillow},
    {"rgb8_interlaced.png", 24, false, vt::Reference::Pillow},
    {"rgba8_interlaced.png", 24, true, vt::Reference::Pillow},
    {"grey2_interlaced.png", 4, false, vt::Reference::Pillow},
    {"pal4_interlaced.png", 4, false, vt::Reference::Pillow},
    {"rgb8_interlaced_3x2.png", 24, false, vt::Reference::Pillow},
    {"rgb8_interlaced_1x1.png", 24, false, vt::Reference::Pillow},
    {"rgb8_phys300.png", 24, false, vt::Reference::Pillow},
    {"rgb8_phys_aspect.png", 24, false, vt::Reference::Pillow},
};

class PngDecodeMatchesReference : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(PngDecodeMatchesReference, PixelsAndAlpha) {
    const DecodeCase& c = GetParam();
    if (!vt::ReferenceAvailable(c.reference)) GTEST_SKIP() << "reference decoder missing";
    const VxImage img = LoadFixture(c.file);
    ASSERT_TRUE(img.IsValid());
    EXPECT_EQ(img.GetBpp(), c.bpp);
    EXPECT_EQ(img.AlphaIsValid(), c.alphaPlane);
    EXPECT_EQ(img.GetType(), uint32_t(VX_FORMAT_PNG));
    const auto ref = vt::DecodeWithReference(vt::DataPath(std::string("png/") + c.file), c.reference);
    ASSERT_TRUE(ref.has_value());
    EXPECT_EQ(vt::MaxChannelDiff(pngt::Visible(img), *ref, true), 0);
}

INSTANTIATE_TEST_SUITE_P(Fixtures, PngDecodeMatchesReference, ::testing::ValuesIn(kCases),
                         [](const auto& info) {
                             std::string n = info.param.file;
                             for (char& ch : n)
                                 if (ch == '.') ch = '_';
                             return n;
                         });

TEST(PngDecode, TwoBitGreyWidensToFourBitsWithFourGreys) {
    const VxImage img = LoadFixture("grey2.png");
    ASSERT_EQ(img.GetBpp(), 4);
    const uint8_t greys[4] = {0, 85, 170, 255};
    for (uint8_t i = 0; i < 4; ++i) {
        const RGBQUAD c = img.GetPaletteColor(i);
        EXPECT_EQ(c.rgbRed, greys[i]);
        EXPECT_EQ(c.rgbGreen, greys[i]);
        EXPECT_EQ(c.rgbBlue, greys[i]);
    }
    // Every pixel index stays within the four greys.
    for (uint32_t y = 0; y < img.GetHeight(); ++y)
        for (uint32_t x = 0; x < img.GetWidth(); ++x) ASSERT_LT(img.GetPixelIndex(int(x), int(y)), 4);
}

TEST(PngDecode, SixteenBitGreyBecomesEightBitGreyRamp) {
    const VxImage img = LoadFixture("grey16.png");
    EXPECT_EQ(img.GetBpp(), 8);
    EXPECT_TRUE(img.IsGrayScale());
}

TEST(PngDecode, InterlacedEqualsItsTwinAndRecordsTheFlag) {
    const std::pair<const char*, const char*> twins[] = {
        {"rgb8_interlaced.png", "rgb8.png"},
        {"rgba8_interlaced.png", "rgba8.png"},
        {"grey2_interlaced.png", "grey2.png"},
    };
    for (const auto& [interlaced, plain] : twins) {
        const VxImage a = LoadFixture(interlaced);
        const VxImage b = LoadFixture(plain);
        EXPECT_EQ(a.GetCodecOption(VX_FORMAT_PNG), 1u) << interlaced;
        EXPECT_EQ(b.GetCodecOption(VX_FORMAT_PNG), 0u) << plain;
        EXPECT_EQ(vt::MaxChannelDiff(pngt::Visible(a), pngt::Visible(b)), 0) << interlaced;
    }
    // A caller's earlier interlace choice does not survive loading a plain file.
    VxImage img(0);
    img.SetCodecOption(1, VX_FORMAT_PNG);
    ASSERT_TRUE(img.Load(vt::DataPath("png/rgb8.png").c_str(), VX_FORMAT_PNG));
    EXPECT_EQ(img.GetCodecOption(VX_FORMAT_PNG), 0u);
}

TEST(PngDecode, PaletteTransparency) {
    const VxImage single = LoadFixture("pal8_trns0.png");
    EXPECT_EQ(single.GetTransIndex(), 0);
    EXPECT_FALSE(single.AlphaPaletteIsEnabled());

    const VxImage table = LoadFixture("pal8_trns7.png");
    EXPECT_EQ(table.GetTransIndex(), -1);
    EXPECT_TRUE(table.AlphaPaletteIsEnabled());
    EXPECT_EQ(table.GetPalette()[6].rgbReserved, 255);
    EXPECT_EQ(table.GetPalette()[7].rgbReserved, 0);
    EXPECT_EQ(table.GetPalette()[199].rgbReserved, 255);

    const VxImage grey = LoadFixture("grey8_trns.png");
    EXPECT_EQ(grey.GetTransIndex(), 77);
    EXPECT_FALSE(grey.AlphaIsValid());
}

TEST(PngDecode, CallerTransparencyDoesNotLeakIntoTheDecodedFile) {
    VxImage img(0);
    img.SetTransIndex(5);
    img.AlphaPaletteEnable(true);
    ASSERT_TRUE(img.Load(vt::DataPath("png/pal8.png").c_str(), VX_FORMAT_PNG));
    EXPECT_EQ(img.GetTransIndex(), -1);
    EXPECT_FALSE(img.AlphaPaletteIsEnabled());
}

TEST(PngDecode, Resolution) {
    const VxImage dense = LoadFixture("rgb8_phys300.png");
    EXPECT_EQ(dense.GetXDPI(), 300);
    EXPECT_EQ(dense.GetYDPI(), 150);
    EXPECT_EQ(dense.GetHeader().biXPelsPerMeter, 11811);

    // A unitless pHYs gives an aspect ratio only, and no chunk means the default.
    EXPECT_EQ(LoadFixture("rgb8_phys_aspect.png").GetXDPI(), 96);
    VxImage img(0);
    img.SetXDPI(600);
    ASSERT_TRUE(img.Load(vt::DataPath("png/rgb8.png").c_str(), VX_FORMAT_PNG));
    EXPECT_EQ(img.GetXDPI(), 96);
}

TEST(PngDecode, EmbeddedStreamThroughTheDispatch) {
    const std::vector<uint8_t> png = vt::ReadFileBytes(vt::DataPath("png/rgba8.png"));
    ASSERT_FALSE(png.empty());
    EXPECT_TRUE(VxPngCodec::IsPngSignature(png.data(), png.size()));
    EXPECT_FALSE(VxPngCodec::IsPngSignature(png.data() + 1, png.size() - 1));
    EXPECT_FALSE(VxPngCodec::IsPngSignature(png.data(), 7));

    // A container: 22 bytes of its own, the PNG, then more of its own data.
    std::vector<uint8_t> blob(22 + png.size() + 40, 0xCD);
    std::fill(blob.begin(), blob.begin() + 22, uint8_t(0xAB));
    std::copy(png.begin(), png.end(), blob.begin() + 22);
    VxMemFile file(blob.data(), uint32_t(blob.size()));
    ASSERT_TRUE(file.Seek(22, SEEK_SET));
    VxImage img(0);
    ASSERT_TRUE(img.Decode(&file, VX_FORMAT_PNG)) << img.GetLastError();
    EXPECT_EQ(file.Tell(), int32_t(22 + png.size()));  // stops right after IEND
    EXPECT_TRUE(img.AlphaIsValid());
    EXPECT_EQ(vt::MaxChannelDiff(pngt::Visible(img), pngt::Visible(LoadFixture("rgba8.png"))), 0);
}

TEST(PngDecode, DimensionsOnlyAndCancel) {
    VxImage probe(0);
    probe.SetEscape(-1);
    ASSERT_TRUE(probe.Load(vt::DataPath("png/rgb8.png").c_str(), VX_FORMAT_PNG));
    EXPECT_EQ(probe.GetWidth(), 37u);
    EXPECT_EQ(probe.GetHeight(), 23u);
    EXPECT_FALSE(probe.IsValid());

    const std::vector<uint8_t> bytes = vt::ReadFileBytes(vt::DataPath("png/rgb8.png"));
    std::vector<uint8_t> copy = bytes;
    VxPngCodec codec;
    codec.SetEscape(1);
    VxMemFile file(copy.data(), uint32_t(copy.size()));
    EXPECT_FALSE(codec.Decode(&file));
}

TEST(PngDecode, DamagedFilesFailWithTheLibraryText) {
    std::vector<uint8_t> bytes = vt::ReadFileBytes(vt::DataPath("png/rgb8.png"));
    ASSERT_GT(bytes.size(), 60u);

    std::vector<uint8_t> cut(bytes.begin(), bytes.begin() + 50);
    VxImage img(0);
    EXPECT_FALSE(img.Decode(cut.data(), uint32_t(cut.size()), VX_FORMAT_PNG));
    EXPECT_STREQ(img.GetLastError(), "Read Error");

    std::vector<uint8_t> header = bytes;
    header[20] ^= 0x01;  // inside IHDR: its CRC no longer matches
    EXPECT_FALSE(img.Decode(header.data(), uint32_t(header.size()), VX_FORMAT_PNG));
    EXPECT_STREQ(img.GetLastError(), "IHDR: CRC error");

    std::vector<uint8_t> junk(64, 'x');
    EXPECT_FALSE(img.Decode(junk.data(), uint32_t(junk.size()), VX_FORMAT_PNG));
    EXPECT_STRNE(img.GetLastError(), "");

    // A failed decode leaves the caller's picture as it was.
    VxImage keep = vt::MakeGradient24(5, 4);
    EXPECT_FALSE(keep.Decode(cut.data(), uint32_t(cut.size()), VX_FORMAT_PNG));
    EXPECT_EQ(keep.GetWidth(), 5u);
    EXPECT_TRUE(keep.IsValid());
}

TEST(PngDecode, LibraryWarningsStaySilent) {
    // A damaged ancillary chunk is only a warning: the file still decodes, and
    // nothing is printed.
    std::vector<uint8_t> bytes = vt::ReadFileBytes(vt::DataPath("png/rgb8_interlaced.png"));
    const auto chunks = pngt::Chunks(bytes);
    ASSERT_NE(pngt::Find(chunks, "gAMA"), nullptr);
    size_t p = 8;
    while (std::memcmp(&bytes[p + 4], "gAMA", 4) != 0) p += 12 + pngt::BE32(&bytes[p]);
    bytes[p + 8] ^= 0x40;
    testing::internal::CaptureStderr();
    VxImage img(0);
    const bool ok = img.Decode(bytes.data(), uint32_t(bytes.size()), VX_FORMAT_PNG);
    const std::string printed = testing::internal::GetCapturedStderr();
    EXPECT_TRUE(ok) << img.GetLastError();
    EXPECT_EQ(printed, "");
}

}  // namespace
