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
    // The reference: this file's pixels as the tool decodes them, or those of
    // `sameAs` (the same picture in a form the tool reads) when it cannot.
    vt::Reference tool = vt::Reference::Pillow;
    const char* sameAs = nullptr;
    bool alpha = false;  // compare alpha (absent planes count as opaque)
    int tolerance = 0;
};

using vt::Reference;
constexpr Reference kMagick = Reference::ImageMagick;
constexpr Reference kPillow = Reference::Pillow;

// Files written by ImageMagick and Pillow, and byte-built variants (see
// tests/data/bmp/make_fixtures.sh).
const Fixture kFixtures[] = {
    {"bits1.bmp", 1},
    {"pil1.bmp", 1},
    {"v4_1.bmp", 1},
    {"bits4.bmp", 4},
    {"os2_4.bmp", 4},
    {"rle4.bmp", 4},
    {"v5_pal4.bmp", 4},
    {"bits8.bmp", 8},
    {"pil8.bmp", 8},
    {"rle8.bmp", 8},
    {"v5_rle8.bmp", 8},
    // Files without masks keep the plain 5-5-5 shift (31 -> 248); the
    // reference scales (31 -> 255), so only the low 3 bits may differ.
    {"rgb555.bmp", 24, kPillow, nullptr, false, 7},
    {"v5_555.bmp", 24, kPillow, nullptr, false, 7},
    // Scaled by rounding here, by repeating the high bits there.
    {"rgb565.bmp", 24, kPillow, nullptr, false, 1},
    {"v5_565.bmp", 24, kPillow, nullptr, false, 1},
    {"v2_565.bmp", 24, kMagick, nullptr, false, 1},
    {"bits24.bmp", 24},
    {"topdown24.bmp", 24},
    {"v4_24.bmp", 24},
    {"v5_24.bmp", 24},
    {"os2_24.bmp", 24},
    {"bits32.bmp", 24},
    {"v5_argb32.bmp", 24, kPillow, nullptr, true},
    {"v3_argb32.bmp", 24, kPillow, "v5_argb32.bmp", true},
    {"alphafields_argb32.bmp", 24, kPillow, "v5_argb32.bmp", true},
    {"v5_zero_alpha32.bmp", 24, kPillow, "bits24.bmp", true},
    {"x10_r10g10b10a2.bmp", 24, kPillow, "bits24.bmp", true},
    // ImageMagick widens 4-bit fields by shifting (15 -> 240).
    {"v5_argb4444.bmp", 24, kMagick, nullptr, true, 15},
    // Its writer leaves every alpha bit 0 (opaque here, clear there).
    {"v5_argb1555.bmp", 24, kMagick, nullptr, false, 7},
};

void PrintTo(const Fixture& f, std::ostream* os) { *os << f.file; }

class BmpFixture : public ::testing::TestWithParam<Fixture> {};

TEST_P(BmpFixture, DecodesLikeAnIndependentDecoder) {
    const Fixture& f = GetParam();
    if (!vt::ReferenceAvailable(f.tool)) GTEST_SKIP() << "reference decoder missing";
    const std::string path = vt::DataPath(std::string("bmp/") + f.file);
    VxImage img(0);
    ASSERT_TRUE(img.Load(path.c_str(), VX_FORMAT_BMP)) << img.GetLastError();
    EXPECT_EQ(img.GetType(), VX_FORMAT_BMP);
    EXPECT_EQ(img.GetBpp(), f.bpp);
    const auto ref =
        vt::DecodeWithReference(f.sameAs ? vt::DataPath(std::string("bmp/") + f.sameAs) : path, f.tool);
    ASSERT_TRUE(ref.has_value());
    EXPECT_LE(vt::MaxChannelDiff(vt::ToRgba(img), *ref, f.alpha), f.tolerance);
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

// One 16-bit pixel decoded with the given compression and masks (none when empty).
RGBQUAD SixteenBitPixel(uint32_t compression, std::vector<uint32_t> masks, uint16_t pixel) {
    std::vector<uint8_t> table(masks.size() * 4);
    for (size_t i = 0; i < masks.size(); ++i) vx::StoreLE32(&table[4 * i], masks[i]);
    auto bytes = Dib(1, 1, 16, compression, table, {uint8_t(pixel), uint8_t(pixel >> 8), 0, 0});
    vx::StoreLE32(&bytes[32], 0);  // the masks are not a colour table
    VxImage img(bytes.data(), uint32_t(bytes.size()), 1);
    EXPECT_TRUE(img.IsValid()) << img.GetLastError();
    return img.IsValid() ? img.GetPixelColor(0, 0) : RGBQUAD{};
}

TEST(BmpDecode, SixteenBitMasks) {
    struct Case {
        uint32_t compression;
        std::vector<uint32_t> masks;
        uint16_t pixel;
        uint8_t red, green, blue;
    } cases[] = {
        // The 5-5-5 layout, implied or spelled out, repeats its top bits.
        {0, {}, 0x7FFF, 255, 255, 255},
        {3, {0x7C00, 0x03E0, 0x001F}, 0x7FFF, 255, 255, 255},
        {0, {}, 0x0C63, 24, 24, 24},
        // Other fields scale to 8 bits: 31 of 5 bits is 255, 32 of 6 is 130.
        {3, {0xF800, 0x07E0, 0x001F}, 0xFFFF, 255, 255, 255},
        {3, {0xF800, 0x07E0, 0x001F}, 0x0400, 0, 130, 0},
        {3, {0x001F, 0x07E0, 0xF800}, 0x001F, 255, 0, 0},
        {3, {0x0F00, 0x00F0, 0x000F}, 0x0F80, 255, 136, 0},
        // Empty and lopsided masks decode without undefined behaviour.
        {3, {0x0001, 0x0000, 0xFFFF}, 0xFFFF, 255, 0, 255},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.pixel << " compression " << c.compression);
        const RGBQUAD q = SixteenBitPixel(c.compression, c.masks, c.pixel);
        EXPECT_EQ(q.rgbRed, c.red);
        EXPECT_EQ(q.rgbGreen, c.green);
        EXPECT_EQ(q.rgbBlue, c.blue);
    }
}

TEST(BmpDecode, HeaderRules) {
    auto v4 = Dib(2, 2, 24, 0, {}, std::vector<uint8_t>(16, 7));
    vx::StoreLE32(&v4[0], 108);
    v4.insert(v4.begin() + 40, 68, 0);
    VxImage img(0);
    ASSERT_TRUE(img.Decode(v4.data(), uint32_t(v4.size()), 1)) << img.GetLastError();
    EXPECT_EQ(img.GetPixelColor(1, 1).rgbRed, 7);
    // Other long headers keep their old rule: uncompressed, the size exact.
    vx::StoreLE32(&v4[0], 100);
    EXPECT_FALSE(img.Decode(v4.data(), uint32_t(v4.size()), 1));
    EXPECT_STREQ(img.GetLastError(), "Error reading BMP info");
    vx::StoreLE32(&v4[20], 16);
    ASSERT_TRUE(img.Decode(v4.data(), uint32_t(v4.size()), 1)) << img.GetLastError();

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
    EXPECT_EQ(img.GetBpp(), 24);

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

// A file cut anywhere before the end of its last row's pixels fails with a
// text; only the last row's padding may be missing.
TEST(BmpDecode, CutFilesFailUnlessOnlyPaddingIsMissing) {
    for (const char* name : {"bits1.bmp", "bits4.bmp", "bits8.bmp", "bits24.bmp", "rgb565.bmp",
                             "v5_argb32.bmp", "os2_24.bmp"}) {
        SCOPED_TRACE(name);
        const auto bytes = vt::ReadFileBytes(vt::DataPath(std::string("bmp/") + name));
        ASSERT_GT(bytes.size(), 54u);
        const BITMAPINFOHEADER h = vx::LoadInfoHeader(bytes.data() + 14);
        const bool core = h.biSize == 12;
        const uint32_t w = core ? vx::LoadLE16(&bytes[18]) : uint32_t(h.biWidth);
        const uint32_t bpp = core ? vx::LoadLE16(&bytes[24]) : h.biBitCount;
        const size_t padding = ((w * bpp + 31) / 32 * 4) - (w * bpp + 7) / 8;
        const size_t complete = bytes.size() - padding;
        int failures = 0;
        for (size_t cut = 0; cut <= bytes.size(); ++cut) {
            VxImage img(0);
            const bool ok = vt::DecodeBytes({bytes.begin(), bytes.begin() + long(cut)}, 1, img);
            if (cut < complete) {
                EXPECT_FALSE(ok) << "cut at " << cut;
                EXPECT_STRNE(img.GetLastError(), "") << "cut at " << cut;
                ++failures;
            } else {
                EXPECT_TRUE(ok) << "cut at " << cut << ": " << img.GetLastError();
            }
        }
        EXPECT_EQ(failures, int(complete));
    }
}

// RLE4 past a row or the picture and colour counts beyond the palette fail; an odd row's pad nibble may be filled.
TEST(BmpDecode, DamagedRunLengthAndColourCountsAreRefused) {
    const std::vector<uint8_t> t16(16 * 4), t2(2 * 4), t3(3 * 4);
    const std::pair<std::vector<uint8_t>, bool> cases[] = {
        {Dib(4, 2, 4, 2, t16, {6, 0x12, 0, 0, 4, 0x34, 0, 1}), false}, {Dib(3, 1, 4, 2, t16, {4, 0x12, 0, 1}), true},
        {Dib(4, 1, 4, 2, t16, {0, 6, 0x12, 0x34, 0x56, 0, 0, 1}), false}, {Dib(2, 1, 1, 0, t2, {0x40, 0, 0, 0}), true},
        {Dib(4, 2, 4, 2, t16, {0, 2, 0, 2, 2, 0x11, 0, 1}), false}, {Dib(2, 1, 1, 0, t3, {0x40, 0, 0, 0}), false}};
    for (const auto& [file, decodes] : cases) {
        VxImage img(0);
        EXPECT_EQ(vt::DecodeBytes(file, 1, img), decodes) << file.size() << img.GetLastError();
    }
}

TEST(BmpDecode, RunLengthDataMustReachTheLastRow) {
    const auto bytes = vt::ReadFileBytes(vt::DataPath("bmp/v5_rle8.bmp"));
    const uint32_t offBits = vx::LoadLE32(&bytes[10]);
    ASSERT_EQ(bytes[bytes.size() - 2], 0);
    ASSERT_EQ(bytes[bytes.size() - 1], 1);  // the end-of-bitmap marker
    VxImage whole(0), noEnd(0), cut(0);
    ASSERT_TRUE(vt::DecodeBytes(bytes, 1, whole)) << whole.GetLastError();
    ASSERT_TRUE(vt::DecodeBytes({bytes.begin(), bytes.end() - 2}, 1, noEnd)) << noEnd.GetLastError();
    EXPECT_EQ(vt::MaxChannelDiff(vt::ToRgba(whole), vt::ToRgba(noEnd)), 0);
    const size_t halfway = offBits + (bytes.size() - offBits) / 2;
    EXPECT_FALSE(vt::DecodeBytes({bytes.begin(), bytes.begin() + long(halfway)}, 1, cut));
    EXPECT_STREQ(cut.GetLastError(), "BMP run-length data ends before the last row");

    // An end-of-bitmap marker ends the picture wherever it stands.
    std::vector<uint8_t> table(256 * 4);
    auto early = Dib(4, 3, 8, 1, table, {2, 9, 0, 1});
    VxImage e(0);
    ASSERT_TRUE(vt::DecodeBytes(early, 1, e)) << e.GetLastError();
    EXPECT_EQ(e.GetPixelIndex(1, 0), 9);
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

    // Without the picture limit, a few bytes declaring 36000 x 36000 pixels
    // still fail before anything is allocated for them.
    auto huge = Dib(36000, 36000, 24, 0, {}, std::vector<uint8_t>(24));
    VxImage img(0);
    img.SetMaxPixels(0);
    EXPECT_FALSE(img.Decode(huge.data(), uint32_t(huge.size()), 1));
    EXPECT_NE(std::strstr(img.GetLastError(), "too short"), nullptr) << img.GetLastError();
}

}  // namespace
