#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "core/vx_image.h"
#include "tests/support/hostile_sweep.h"
#include "tests/support/reference_decoder.h"
#include "tests/support/test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Header(uint8_t type, uint16_t w, uint16_t h, uint8_t depth, uint8_t desc = 0,
             uint8_t mapType = 0, uint16_t first = 0, uint16_t length = 0, uint8_t entryBits = 0,
             uint8_t idLength = 0) {
    Bytes b(18, 0);
    b[0] = idLength;
    b[1] = mapType;
    b[2] = type;
    vx::StoreLE16(&b[3], first);
    vx::StoreLE16(&b[5], length);
    b[7] = entryBits;
    vx::StoreLE16(&b[12], w);
    vx::StoreLE16(&b[14], h);
    b[16] = depth;
    b[17] = desc;
    return b;
}

void Append(Bytes& b, std::initializer_list<int> values) {
    for (int v : values) b.push_back(uint8_t(v));
}

bool DecodeBytes(std::vector<uint8_t> bytes, VxImage& img) {
    return vt::DecodeBytes(std::move(bytes), VX_FORMAT_TGA, img);
}

Bytes EncodeBytes(VxImage& img, bool* ok) { return vt::EncodeBytes(img, VX_FORMAT_TGA, ok); }

// Top-down RGB of pixel (x, y) as the file's viewer sees it.
RGBQUAD At(const VxImage& img, int x, int yFromTop) {
    return img.GetPixelColor(x, int32_t(img.GetHeight()) - 1 - yFromTop, false);
}

// Pillow misreads 15-bit colour maps; netpbm's reader stands in for those files.
std::optional<vt::Rgba> Reference(const std::string& path, const vt::TempDir& dir) {
    if (path.find("cmap16") == std::string::npos)
        return vt::DecodeWithReference(path, vt::Reference::Pillow);
    const std::string ppm = dir.file("ref.ppm");
    if (vt::RunCommand("tgatoppm " + vt::ShellQuote(path) + " > " + vt::ShellQuote(ppm) +
                       " 2>/dev/null") != 0)
        return std::nullopt;
    return vt::DecodeWithReference(ppm, vt::Reference::Pillow);
}

TEST(Tga, FixturesMatchIndependentDecoders) {
    if (!vt::ReferenceAvailable(vt::Reference::Pillow)) GTEST_SKIP() << "no Pillow";
    vt::TempDir dir;
    const auto files = vt::FixtureFiles("tga", {".tga"});
    ASSERT_GE(files.size(), 13u);
    for (const auto& path : files) {
        VxImage img(0);
        ASSERT_TRUE(img.Load(path.c_str(), VX_FORMAT_TGA)) << path << ": " << img.GetLastError();
        const auto ref = Reference(path, dir);
        ASSERT_TRUE(ref) << path;
        // 5-bit channels: this reader leaves the low three bits zero, the others scale
        // them to 0..255, so the two agree to within 7.
        const bool fiveBit = path.find("rgb16") != std::string::npos ||
                             path.find("cmap16") != std::string::npos;
        EXPECT_LE(vt::MaxChannelDiff(vt::ToRgba(img), *ref), fiveBit ? 7 : 0) << path;
        if (path.find("rgba32") != std::string::npos) {
            EXPECT_TRUE(img.AlphaIsValid()) << path;
        }
        if (path.find("grey") != std::string::npos || path.find("mapped") != std::string::npos) {
            EXPECT_EQ(img.GetBpp(), 8) << path;
        }
    }
}

TEST(Tga, OriginsLoadToTheSamePicture) {
    VxImage up(0), down(0);
    ASSERT_TRUE(up.Load(vt::DataPath("tga/pil_rgba32.tga").c_str(), VX_FORMAT_TGA));
    ASSERT_TRUE(down.Load(vt::DataPath("tga/pil_rgba32_topleft.tga").c_str(), VX_FORMAT_TGA));
    const auto a = vt::ToRgba(up), b = vt::ToRgba(down);
    EXPECT_EQ(vt::MaxChannelDiff(a, b), 0);
    // The alpha values are not constant, so a missed alpha flip would show.
    EXPECT_NE(a.at(0, 0)[3], a.at(0, a.height - 1)[3]);
}

// 7 x 5, bottom-up: a 24-pixel repeat packet covers three rows and three pixels
// of the fourth, then an 11-pixel raw packet finishes row four and fills row five.
Bytes CrossingRows(uint8_t desc) {
    Bytes b = Header(10, 7, 5, 24, desc);
    Append(b, {0x80 | 23, 10, 200, 30});
    b.push_back(10);
    for (int i = 0; i < 11; ++i) Append(b, {i * 20, 100, 255 - i * 20});
    return b;
}

RGBQUAD CrossingExpected(int fileIndex) {
    if (fileIndex < 24) return vx::MakeRGBQUAD(30, 200, 10);
    const int i = fileIndex - 24;
    return vx::MakeRGBQUAD(uint8_t(255 - i * 20), 100, uint8_t(i * 20));
}

TEST(Tga, RunLengthPacketsCrossRowEnds) {
    for (uint8_t desc : {0x00, 0x10, 0x20, 0x30}) {
        VxImage img(0);
        ASSERT_TRUE(DecodeBytes(CrossingRows(desc), img)) << img.GetLastError();
        ASSERT_EQ(img.GetWidth(), 7u);
        for (int fileRow = 0; fileRow < 5; ++fileRow)
            for (int fileX = 0; fileX < 7; ++fileX) {
                const int x = (desc & 0x10) ? 6 - fileX : fileX;
                const int y = (desc & 0x20) ? 4 - fileRow : fileRow;  // bottom-up row
                EXPECT_EQ(img.GetPixelColor(x, y, false), CrossingExpected(fileRow * 7 + fileX))
                    << int(desc) << " " << fileX << "," << fileRow;
            }
    }
}

TEST(Tga, RunLengthAlphaAndGreyAcrossRows) {
    // 3 x 2, 32 bits, top-down: a 4-pixel repeat packet then a 2-pixel raw packet.
    Bytes b = Header(10, 3, 2, 32, 0x28);
    Append(b, {0x83, 1, 2, 3, 40, 0x01, 4, 5, 6, 50, 7, 8, 9, 60});
    VxImage img(0);
    ASSERT_TRUE(DecodeBytes(b, img)) << img.GetLastError();
    ASSERT_TRUE(img.AlphaIsValid());
    const uint8_t alpha[2][3] = {{40, 40, 40}, {40, 50, 60}};
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x) EXPECT_EQ(img.AlphaGet(x, 1 - y), alpha[y][x]) << x << y;
    EXPECT_EQ(At(img, 2, 1), vx::MakeRGBQUAD(9, 8, 7));

    // Grey, run-length: one run of 5 spanning both rows of a 3 x 2 picture, then 1 raw.
    Bytes g = Header(11, 3, 2, 8);
    Append(g, {0x84, 77, 0x00, 200});
    VxImage grey(0);
    ASSERT_TRUE(DecodeBytes(g, grey)) << grey.GetLastError();
    EXPECT_EQ(grey.GetPixelIndex(2, 0), 77);
    EXPECT_EQ(grey.GetPixelIndex(1, 1), 77);
    EXPECT_EQ(grey.GetPixelIndex(2, 1), 200);
    EXPECT_EQ(grey.GetPaletteColor(200), vx::MakeRGBQUAD(200, 200, 200));
}

TEST(Tga, ColourMapsUseTheirEntrySizeAndFirstEntry) {
    // 32-bit entries for indices 10..12, with a 3-byte identification field before them.
    Bytes b = Header(1, 3, 1, 8, 0, 1, 10, 3, 32, 3);
    Append(b, {'a', 'b', 'c'});
    Append(b, {1, 2, 3, 0xFF, 4, 5, 6, 0xFF, 7, 8, 9, 0xFF});
    Append(b, {12, 10, 11});
    VxImage img(0);
    ASSERT_TRUE(DecodeBytes(b, img)) << img.GetLastError();
    EXPECT_EQ(img.GetPixelColor(0, 0, false), vx::MakeRGBQUAD(9, 8, 7));
    EXPECT_EQ(img.GetPixelColor(1, 0, false), vx::MakeRGBQUAD(3, 2, 1));
    EXPECT_EQ(img.GetPixelColor(2, 0, false), vx::MakeRGBQUAD(6, 5, 4));

    // 16-bit entries: 0x7FFF is white, 0x001F pure blue.
    Bytes c = Header(1, 2, 1, 8, 0, 1, 0, 2, 16);
    Append(c, {0xFF, 0x7F, 0x1F, 0x00, 1, 0});
    VxImage img16(0);
    ASSERT_TRUE(DecodeBytes(c, img16)) << img16.GetLastError();
    EXPECT_EQ(img16.GetPixelColor(0, 0, false), vx::MakeRGBQUAD(0, 0, 255));
    EXPECT_EQ(img16.GetPixelColor(1, 0, false), vx::MakeRGBQUAD(255, 255, 255));

    // A colour map that cannot fit 8-bit indices.
    Bytes big = Header(1, 1, 1, 8, 0, 1, 200, 100, 24);
    big.resize(big.size() + 300 + 1);
    VxImage refused(0);
    EXPECT_FALSE(DecodeBytes(big, refused));
    EXPECT_STREQ(refused.GetLastError(), "bad TGA header");
}

TEST(Tga, SixteenBitPixelsAndGreyWithMap) {
    Bytes b = Header(2, 2, 1, 16);
    Append(b, {0xFF, 0x7F, 0x63, 0x0C});
    VxImage img(0);
    ASSERT_TRUE(DecodeBytes(b, img));
    EXPECT_EQ(img.GetBpp(), 24);
    EXPECT_EQ(img.GetPixelColor(0, 0, false), vx::MakeRGBQUAD(255, 255, 255));
    EXPECT_EQ(img.GetPixelColor(1, 0, false), vx::MakeRGBQUAD(24, 24, 24));

    // A grey file keeps the grey ramp even with a colour map in it.
    Bytes g = Header(3, 2, 1, 8, 0, 1, 0, 2, 24);
    Append(g, {0, 0, 255, 0, 255, 0, 1, 100});
    VxImage grey(0);
    ASSERT_TRUE(DecodeBytes(g, grey));
    EXPECT_TRUE(grey.IsGrayScale());
    EXPECT_EQ(grey.GetPixelColor(1, 0, false), vx::MakeRGBQUAD(100, 100, 100));
}

// 16-bit grey is grey then alpha, raw and run-length, every origin; a
// run-length packet cut by the end of the file fails.
TEST(Tga, GreyAlphaOriginsAndCutPackets) {
    const struct { uint8_t type, desc; Bytes data; } cases[] = {  // 2 x 2 pixels, file order
        {3, 0x00, {10, 1, 20, 2, 30, 3, 40, 4}}, {3, 0x10, {10, 1, 20, 2, 30, 3, 40, 4}},
        {11, 0x20, {1, 10, 1, 20, 2, 1, 30, 3, 40, 4}}, {11, 0x30, {0, 10, 1, 2, 20, 2, 30, 3, 40, 4}},
        {11, 0, {1, 10, 1, 20, 2, 1, 30, 3, 40}}, {11, 0, {1, 10, 1, 20, 2, 0x81, 30}}, {11, 0, {3, 10, 1, 20, 2, 30, 3}}};
    for (const auto& c : cases) {
        Bytes b = Header(c.type, 2, 2, 16, c.desc | 8);
        b.insert(b.end(), c.data.begin(), c.data.end());
        VxImage img(0);
        const bool whole = c.data.size() % 2 == 0;  // the cut ones are odd
        ASSERT_EQ(DecodeBytes(b, img), whole) << img.GetLastError();
        for (int i = 0; whole && i < 4; ++i) {  // x, y: where file pixel i lands, bottom-up
            const int x = (c.desc & 0x10) ? 1 - i % 2 : i % 2, y = (c.desc & 0x20) ? 1 - i / 2 : i / 2;
            EXPECT_EQ(img.GetPixelIndex(x, y) * 100 + img.AlphaGet(x, y), 1000 * (i + 1) + i + 1) << int(c.desc);
        }
    }
}

TEST(Tga, ShortLastRowLeavesZeros) {
    Bytes b = Header(2, 4, 2, 24);
    for (int i = 0; i < 12; ++i) b.push_back(0x11);
    Append(b, {0x22, 0x22, 0x22, 0x33});
    VxImage img(0);
    ASSERT_TRUE(DecodeBytes(b, img)) << img.GetLastError();
    EXPECT_EQ(img.GetPixelColor(0, 1, false), vx::MakeRGBQUAD(0x22, 0x22, 0x22));
    EXPECT_EQ(img.GetPixelColor(2, 1, false), vx::MakeRGBQUAD(0, 0, 0));
}

TEST(Tga, BadFilesFailWithTheirText) {
    struct Case {
        Bytes bytes;
        const char* text;
    };
    Bytes rows = Header(2, 4, 3, 24);
    rows.resize(rows.size() + 12);  // one row of three
    Bytes huge = Header(2, 0xFFFF, 0xFFFF, 32);
    huge.resize(huge.size() + 64);
    Bytes hugeRle = Header(10, 0xFFFF, 0xFFFF, 8 + 16);
    Append(hugeRle, {0xFF, 1, 2, 3});
    const Case cases[] = {
        {{}, "Not a TGA"},
        {Bytes(10, 0), "Not a TGA"},
        {Header(5, 1, 1, 24), "Unknown TGA image type"},
        {Header(2, 0, 1, 24), "bad TGA header"},
        {Header(2, 1, 0, 24), "bad TGA header"},
        {Header(2, 1, 1, 0), "bad TGA header"},
        {Header(2, 1, 1, 12), "bad TGA header"},
        {Header(1, 1, 1, 8, 0, 1, 0, 300, 24), "bad TGA header"},
        {Header(1, 1, 1, 8, 0, 1, 0, 2, 20), "bad TGA header"},
        {Header(2, 1, 1, 24), "corrupted TGA"},
        {rows, "corrupted TGA"},
        {huge, "corrupted TGA"},
        {hugeRle, "corrupted TGA"},
    };
    for (const auto& c : cases) {
        VxImage img(0);
        img.SetMaxPixels(0);  // the format's own texts; the limit's come first otherwise
        EXPECT_FALSE(DecodeBytes(c.bytes, img)) << c.text;
        EXPECT_STREQ(img.GetLastError(), c.text) << c.bytes.size();
    }
    Bytes ok = Header(2, 1, 1, 24);
    Append(ok, {1, 2, 3});
    VxImage cancelled(0);
    cancelled.SetEscape(1);
    EXPECT_FALSE(DecodeBytes(ok, cancelled));
    EXPECT_STREQ(cancelled.GetLastError(), "Cancelled");
}

TEST(Tga, EncoderLayoutAndRefusals) {
    bool ok = true;
    VxImage one(4, 4, 1, 0);
    EncodeBytes(one, &ok);
    EXPECT_FALSE(ok);
    EXPECT_STREQ(one.GetLastError(), "图像位深只能为 8 或 24");
    VxImage four(4, 4, 4, 0);
    EncodeBytes(four, &ok);
    EXPECT_FALSE(ok);

    VxImage eight(13, 5, 8, 0);
    eight.SetGrayPalette();
    eight.SetPixelIndex(3, 0, 9);
    const Bytes b = EncodeBytes(eight, &ok);
    ASSERT_TRUE(ok);
    ASSERT_EQ(b.size(), 18u + 768u + 13u * 5u);
    EXPECT_EQ(b[1], 1);
    EXPECT_EQ(b[2], 1);
    EXPECT_EQ(vx::LoadLE16(&b[5]), 256);
    EXPECT_EQ(b[7], 24);
    EXPECT_EQ(b[16], 8);
    EXPECT_EQ(b[18 + 768 + 3], 9);  // bottom row first, no padding

    // Alpha scaled by AlphaMax, truncated.
    VxImage rgba = vt::MakeGradient24(5, 3);
    rgba.AlphaCreate();
    rgba.AlphaSet(1, 0, 100);
    rgba.SetAlphaMax(128);
    const Bytes c = EncodeBytes(rgba, &ok);
    ASSERT_TRUE(ok);
    ASSERT_EQ(c.size(), 18u + 5u * 3u * 4u);
    EXPECT_EQ(c[16], 32);
    EXPECT_EQ(c[18 + 3], 128);       // 255 -> 128
    EXPECT_EQ(c[18 + 4 + 3], 50);    // 100 * 128 / 255
}

TEST(Tga, WrittenFilesReadBackInPillow) {
    if (!vt::ReferenceAvailable(vt::Reference::Pillow)) GTEST_SKIP() << "no Pillow";
    vt::TempDir dir;
    VxImage rgb = vt::MakeGradient24(31, 9);
    VxImage rgba = vt::MakeGradient24(17, 12);
    rgba.AlphaCreate();
    for (int y = 0; y < 12; ++y)
        for (int x = 0; x < 17; ++x) rgba.AlphaSet(x, y, uint8_t(x * 15 + y));
    VxImage mapped = vt::MakeGradient24(19, 7);
    ASSERT_TRUE(mapped.DecreaseBpp(8, false));
    VxImage* pictures[] = {&rgb, &rgba, &mapped};
    for (VxImage* img : pictures) {
        const std::string path = dir.file("out" + std::to_string(img->GetWidth()) + ".tga");
        ASSERT_TRUE(img->Save(path.c_str(), VX_FORMAT_TGA)) << img->GetLastError();
        const auto ref = vt::DecodeWithReference(path, vt::Reference::Pillow);
        ASSERT_TRUE(ref) << path;
        EXPECT_EQ(vt::MaxChannelDiff(vt::ToRgba(*img), *ref), 0) << path;
        VxImage back(0);
        ASSERT_TRUE(back.Load(path.c_str(), VX_FORMAT_TGA));
        EXPECT_EQ(vt::MaxChannelDiff(vt::ToRgba(back), vt::ToRgba(*img)), 0) << path;
    }
}

TEST(Tga, HostileInput) {
    std::vector<Bytes> inputs;
    for (const auto& path : vt::FixtureFiles("tga", {".tga"})) inputs.push_back(vt::ReadFileBytes(path));
    inputs.push_back(CrossingRows(0x30));
    for (const auto& bytes : inputs) {
        const auto stats = vt::HostileSweep(bytes, VX_FORMAT_TGA);
        EXPECT_GT(stats.decodes, 0);
    }
}

}  // namespace
