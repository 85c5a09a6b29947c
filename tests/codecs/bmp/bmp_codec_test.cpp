#include <gtest/gtest.h>

#include <cstring>

#include "codecs/bmp/vx_bmp_codec.h"
#include "tests/support/hostile_sweep.h"
#include "tests/support/reference_decoder.h"
#include "tests/support/test_support.h"

namespace {

struct Fixture {
    const char* file;
    int bpp;  // depth after decoding
};

// Files written by ImageMagick and Pillow (see tests/data/bmp/make_fixtures.sh).
const Fixture kFixtures[] = {
    {"bits1.bmp", 1},     {"pil1.bmp", 1},     {"bits4.bmp", 4},      {"os2_4.bmp", 4},
    {"rle4.bmp", 4},      {"bits8.bmp", 8},    {"pil8.bmp", 8},       {"rle8.bmp", 8},
    {"rgb555.bmp", 24},   {"rgb565.bmp", 24},  {"bits24.bmp", 24},    {"topdown24.bmp", 24},
    {"v5_24.bmp", 24},    {"os2_24.bmp", 24},  {"bits32.bmp", 24},
};

void PrintTo(const Fixture& f, std::ostream* os) { *os << f.file; }

class BmpFixture : public ::testing::TestWithParam<Fixture> {};

TEST_P(BmpFixture, DecodesLikeAnIndependentDecoder) {
    if (!vt::ReferenceAvailable(vt::Reference::Pillow)) GTEST_SKIP() << "Pillow missing";
    const std::string path = vt::DataPath(std::string("bmp/") + GetParam().file);
    VxImage img(0);
    ASSERT_TRUE(img.Load(path.c_str(), VX_FORMAT_BMP)) << img.GetLastError();
    EXPECT_EQ(img.GetType(), VX_FORMAT_BMP);
    EXPECT_EQ(img.GetBpp(), GetParam().bpp);
    const auto ref = vt::DecodeWithReference(path);
    ASSERT_TRUE(ref.has_value());
    // 16-bit pixels widen by shifting (0x1F -> 0xF8); the reference replicates
    // the high bits into the low ones, so only the low 3 bits may differ there.
    const int tolerance = std::string(GetParam().file).rfind("rgb5", 0) == 0 ? 7 : 0;
    EXPECT_LE(vt::MaxChannelDiff(vt::ToRgba(img), *ref, false), tolerance);
    if (img.IsIndexed()) {
        for (uint32_t i = 0; i < img.GetNumColors(); ++i)
            ASSERT_EQ(img.GetPaletteColor(uint8_t(i)).rgbReserved, 0);
    }
}

TEST_P(BmpFixture, WhatWeWriteReadsBackInAnIndependentDecoder) {
    if (!vt::ReferenceAvailable(vt::Reference::Pillow)) GTEST_SKIP() << "Pillow missing";
    VxImage img(0);
    ASSERT_TRUE(img.Load(vt::DataPath(std::string("bmp/") + GetParam().file).c_str(), 1));
    vt::TempDir dir;
    const std::string out = dir.file("out.bmp");
    ASSERT_TRUE(img.Save(out.c_str(), VX_FORMAT_BMP)) << img.GetLastError();
    const auto ref = vt::DecodeWithReference(out);
    ASSERT_TRUE(ref.has_value());
    EXPECT_EQ(vt::MaxChannelDiff(vt::ToRgba(img), *ref, false), 0);
    // Always bottom-up, uncompressed, 40-byte header.
    const auto bytes = vt::ReadFileBytes(out);
    const BITMAPINFOHEADER h = vx::LoadInfoHeader(bytes.data() + 14);
    EXPECT_EQ(h.biSize, 40u);
    EXPECT_GT(h.biHeight, 0);
    EXPECT_EQ(h.biCompression, 0u);
}

INSTANTIATE_TEST_SUITE_P(Fixtures, BmpFixture, ::testing::ValuesIn(kFixtures),
                         [](const auto& info) {
                             std::string n = info.param.file;
                             return n.substr(0, n.find('.'));
                         });

// Builds a bare 40-byte-header bitmap plus pixel bytes.
std::vector<uint8_t> Dib(int w, int h, int bpp, uint32_t compression, const std::vector<uint8_t>& table,
                         const std::vector<uint8_t>& pixels) {
    std::vector<uint8_t> out(40);
    BITMAPINFOHEADER bih;
    bih.biSize = 40;
    bih.biWidth = w;
    bih.biHeight = h;
    bih.biPlanes = 1;
    bih.biBitCount = uint16_t(bpp);
    bih.biCompression = compression;
    bih.biClrUsed = uint32_t(table.size() / 4);
    vx::StoreInfoHeader(out.data(), bih);
    out.insert(out.end(), table.begin(), table.end());
    out.insert(out.end(), pixels.begin(), pixels.end());
    return out;
}

TEST(BmpDecode, BareHeaderWithoutFileHeader) {
    std::vector<uint8_t> table = {0, 0, 0, 0, 255, 255, 255, 0};
    auto bytes = Dib(3, 2, 1, 0, table, {0xA0, 0, 0, 0, 0x40, 0, 0, 0});
    VxImage img(bytes.data(), uint32_t(bytes.size()), VX_FORMAT_BMP);
    ASSERT_TRUE(img.IsValid()) << img.GetLastError();
    EXPECT_EQ(img.GetPixelIndex(0, 0), 1);
    EXPECT_EQ(img.GetPixelIndex(2, 0), 1);
    EXPECT_EQ(img.GetPixelIndex(1, 1), 1);
    EXPECT_EQ(img.GetPaletteColor(1).rgbRed, 255);
}

TEST(BmpDecode, SixteenBitMasks) {
    // 5-5-5 without masks: 0x7FFF is white-ish 0xF8.
    auto five55 = Dib(1, 1, 16, 0, {}, {0xFF, 0x7F, 0, 0});
    VxImage a(five55.data(), uint32_t(five55.size()), 1);
    ASSERT_TRUE(a.IsValid());
    EXPECT_EQ(a.GetPixelColor(0, 0).rgbBlue, 0xF8);
    EXPECT_EQ(a.GetPixelColor(0, 0).rgbGreen, 0xF8);
    EXPECT_EQ(a.GetPixelColor(0, 0).rgbRed, 0xF8);

    std::vector<uint8_t> masks(12);
    vx::StoreLE32(&masks[0], 0xF800);
    vx::StoreLE32(&masks[4], 0x07E0);
    vx::StoreLE32(&masks[8], 0x001F);
    auto five65 = Dib(1, 1, 16, 3, masks, {0xFF, 0xFF, 0, 0});
    vx::StoreLE32(&five65[32], 0);  // the masks are not a colour table
    VxImage b(five65.data(), uint32_t(five65.size()), 1);
    ASSERT_TRUE(b.IsValid());
    EXPECT_EQ(b.GetPixelColor(0, 0).rgbBlue, 0xF8);
    EXPECT_EQ(b.GetPixelColor(0, 0).rgbGreen, 0xFC);
    EXPECT_EQ(b.GetPixelColor(0, 0).rgbRed, 0xF8);

    // Masks that would need negative shifts decode without undefined behaviour.
    vx::StoreLE32(&masks[0], 0x0001);
    vx::StoreLE32(&masks[4], 0x0000);
    vx::StoreLE32(&masks[8], 0xFFFF);
    auto odd = Dib(1, 1, 16, 3, masks, {0xFF, 0xFF, 0, 0});
    vx::StoreLE32(&odd[32], 0);
    VxImage c(odd.data(), uint32_t(odd.size()), 1);
    EXPECT_TRUE(c.IsValid());
}

TEST(BmpDecode, HeaderRules) {
    auto v4 = Dib(2, 2, 24, 0, {}, std::vector<uint8_t>(16, 7));
    vx::StoreLE32(&v4[0], 108);
    v4.insert(v4.begin() + 40, 68, 0);
    VxImage img(0);
    EXPECT_FALSE(img.Decode(v4.data(), uint32_t(v4.size()), 1));
    EXPECT_STREQ(img.GetLastError(), "Error reading BMP info");  // image size 0
    vx::StoreLE32(&v4[20], 16);
    ASSERT_TRUE(img.Decode(v4.data(), uint32_t(v4.size()), 1)) << img.GetLastError();
    EXPECT_EQ(img.GetPixelColor(1, 1).rgbRed, 7);

    auto shortHeader = Dib(2, 2, 24, 0, {}, {});
    vx::StoreLE32(&shortHeader[0], 20);
    EXPECT_FALSE(img.Decode(shortHeader.data(), uint32_t(shortHeader.size()), 1));

    uint8_t tiny[5] = {'B', 'M', 0, 0, 0};
    EXPECT_FALSE(img.Decode(tiny, sizeof(tiny), 1));
    EXPECT_STREQ(img.GetLastError(), "Not a BMP");

    auto rle24 = Dib(2, 2, 24, 1, {}, std::vector<uint8_t>(16));
    EXPECT_FALSE(img.Decode(rle24.data(), uint32_t(rle24.size()), 1));
    EXPECT_STREQ(img.GetLastError(), "unknown compression");
    auto jpeg8 = Dib(2, 2, 8, 4, {}, std::vector<uint8_t>(8));
    EXPECT_FALSE(img.Decode(jpeg8.data(), uint32_t(jpeg8.size()), 1));
    EXPECT_STREQ(img.GetLastError(), "compression type not supported");
    EXPECT_EQ(img.GetWidth(), 2u);  // the last good picture is still there
}

TEST(BmpDecode, DimensionsOnlyRequest) {
    const auto bytes = vt::ReadFileBytes(vt::DataPath("bmp/bits24.bmp"));
    VxImage img(0);
    img.SetEscape(-1);
    ASSERT_TRUE(img.Decode(const_cast<uint8_t*>(bytes.data()), uint32_t(bytes.size()), 1));
    EXPECT_FALSE(img.IsValid());
    EXPECT_EQ(img.GetWidth(), 13u);
    EXPECT_EQ(img.GetHeight(), 7u);
    EXPECT_STREQ(img.GetLastError(), "output dimensions returned");

    VxImage cancelled(0);
    cancelled.SetEscape(1);
    EXPECT_FALSE(cancelled.Decode(const_cast<uint8_t*>(bytes.data()), uint32_t(bytes.size()), 1));
    EXPECT_STREQ(cancelled.GetLastError(), "Cancelled");
}

TEST(BmpDecode, RunLengthStaysInsideThePicture) {
    std::vector<uint8_t> table(256 * 4);
    // A run past the row end stops decoding; what came before stays.
    auto rle = Dib(4, 2, 8, 1, table, {2, 9, 0, 0, 200, 5, 0, 1});
    VxImage img(rle.data(), uint32_t(rle.size()), 1);
    ASSERT_TRUE(img.IsValid());
    EXPECT_EQ(img.GetPixelIndex(1, 0), 9);
    EXPECT_EQ(img.GetPixelIndex(0, 1), 5);
    EXPECT_EQ(img.GetPixelIndex(3, 1), 5);

    // Deltas and lines beyond the picture are dropped, never written.
    auto far = Dib(4, 2, 8, 1, table, {0, 2, 0, 5, 3, 7, 0, 0, 0, 0, 0, 0, 4, 8, 0, 1});
    VxImage f(far.data(), uint32_t(far.size()), 1);
    ASSERT_TRUE(f.IsValid());
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 4; ++x) EXPECT_EQ(f.GetPixelIndex(x, y), 0);

    // An absolute run longer than the row writes only what fits.
    std::vector<uint8_t> abs = {0, 7, 1, 2, 3, 4, 5, 6, 7, 0, 0, 1};
    auto longAbs = Dib(4, 1, 8, 1, table, abs);
    VxImage a(longAbs.data(), uint32_t(longAbs.size()), 1);
    ASSERT_TRUE(a.IsValid());
    EXPECT_EQ(a.GetPixelIndex(3, 0), 4);

    // RLE4 counts pixels: an absolute run after an odd run starts mid-byte and
    // still takes its first data nibble first, and consumes (n+1)/2 bytes plus
    // the word padding.
    std::vector<uint8_t> table16(16 * 4);
    auto r4 = Dib(9, 2, 4, 2, table16,
                  {3, 0x12, 0, 4, 0xAB, 0xCD, 2, 0x55, 0, 0, 1, 0x34, 0, 1});
    VxImage b(r4.data(), uint32_t(r4.size()), 1);
    ASSERT_TRUE(b.IsValid());
    const int row0[9] = {1, 2, 1, 0xA, 0xB, 0xC, 0xD, 5, 5};
    for (int x = 0; x < 9; ++x) EXPECT_EQ(b.GetPixelIndex(x, 0), row0[x]) << x;
    EXPECT_EQ(b.GetPixelIndex(0, 1), 3);
}

TEST(BmpEncode, OneBitLayout) {
    VxImage img(3, 2, 1, 0);
    img.SetPixelIndex(0, 0, 1);
    uint8_t* buf = nullptr;
    int32_t size = 0;
    ASSERT_TRUE(img.Encode(buf, size, VX_FORMAT_BMP));
    ASSERT_EQ(size, 14 + 56);
    const BITMAPFILEHEADER fh = vx::LoadFileHeader(buf);
    EXPECT_EQ(fh.bfType, 0x4D42);
    EXPECT_EQ(fh.bfSize, 70u);
    EXPECT_EQ(fh.bfOffBits, 62u);
    EXPECT_EQ(buf[62], 0x80);
    std::free(buf);
}

TEST(BmpEncode, TopDownComesBackBottomUpAndDpiTravels) {
    VxImage img(0);
    ASSERT_TRUE(img.Load(vt::DataPath("bmp/topdown24.bmp").c_str(), 1));
    VxImage ref(0);
    ASSERT_TRUE(ref.Load(vt::DataPath("bmp/bits24.bmp").c_str(), 1));
    EXPECT_EQ(vt::MaxChannelDiff(vt::ToRgba(img), vt::ToRgba(ref)), 0);
    img.SetXDPI(300);
    uint8_t* buf = nullptr;
    int32_t size = 0;
    ASSERT_TRUE(img.Encode(buf, size, VX_FORMAT_BMP));
    const BITMAPINFOHEADER h = vx::LoadInfoHeader(buf + 14);
    EXPECT_EQ(h.biHeight, 7);
    EXPECT_EQ(h.biXPelsPerMeter, 11811);
    VxImage back(buf, uint32_t(size), 1);
    EXPECT_EQ(back.GetXDPI(), 300);
    std::free(buf);
}

TEST(BmpHostile, EveryFixtureCutAndMutated) {
    int files = 0;
    for (const auto& path : vt::FixtureFiles("bmp", {".bmp"})) {
        SCOPED_TRACE(path);
        const auto stats = vt::HostileSweep(vt::ReadFileBytes(path), VX_FORMAT_BMP, 7, 200);
        EXPECT_GT(stats.decodes, 0);
        ++files;
    }
    EXPECT_GE(files, 15);
}

TEST(BmpHostile, LyingHeadersStayBounded) {
    std::vector<uint8_t> table(8);
    // Huge colour counts, negative sizes and absurd offsets.
    auto a = Dib(3, 2, 1, 0, table, {});
    vx::StoreLE32(&a[32], 0xFFFFFFFF);
    auto b = Dib(-5, 2, 8, 0, {}, {});
    auto c = Dib(3, int32_t(0x80000000u), 24, 0, {}, {});
    auto d = Dib(40000, 40000, 24, 0, {}, {1, 2, 3});
    // Run-length kinds paired with the wrong depth (found by fuzzing: RLE4 on a
    // 1-bit picture wrote past its narrow rows).
    auto e = Dib(40, 2, 1, 2, table, {80, 0x11, 0, 1});
    auto f = Dib(40, 2, 1, 1, table, {80, 0x11, 0, 1});
    for (auto* bytes : {&a, &b, &c, &d, &e, &f}) {
        VxImage img(0);
        if (!img.Decode(bytes->data(), uint32_t(bytes->size()), 1)) {
            EXPECT_STRNE(img.GetLastError(), "");
        }
    }
}

}  // namespace
