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

bool DecodeBytes(std::vector<uint8_t> bytes, VxImage& img) {
    return vt::DecodeBytes(std::move(bytes), VX_FORMAT_PCX, img);
}

Bytes EncodeBytes(VxImage& img) { return vt::EncodeBytes(img, VX_FORMAT_PCX); }

Bytes Header(uint8_t bits, uint8_t planes, uint16_t w, uint16_t h, uint16_t bpl) {
    Bytes b(128, 0);
    b[0] = 10;
    b[1] = 5;
    b[2] = 1;
    b[3] = bits;
    vx::StoreLE16(&b[8], uint16_t(w - 1));
    vx::StoreLE16(&b[10], uint16_t(h - 1));
    b[65] = planes;
    vx::StoreLE16(&b[66], bpl);
    return b;
}

// Plain run-length expansion of the data after the header, for layout checks.
Bytes Expand(const Bytes& file, size_t count) {
    Bytes out;
    size_t i = 128;
    while (out.size() < count && i < file.size()) {
        const uint8_t b = file[i++];
        if (b < 0xC0) {
            out.push_back(b);
        } else if (i < file.size()) {
            out.insert(out.end(), b & 0x3F, file[i++]);
        }
    }
    return out;
}

// Pillow reads most PCX forms; 3 bit planes and packed 2/4-bit pixels only ImageMagick.
std::optional<vt::Rgba> Reference(const std::string& path) {
    if (auto ref = vt::DecodeWithReference(path, vt::Reference::Pillow)) return ref;
    return vt::DecodeWithReference(path, vt::Reference::ImageMagick);
}

TEST(Pcx, FixturesMatchIndependentDecoders) {
    if (!vt::ReferenceAvailable(vt::Reference::Pillow) ||
        !vt::ReferenceAvailable(vt::Reference::ImageMagick))
        GTEST_SKIP() << "no reference decoder";
    const auto files = vt::FixtureFiles("pcx", {".pcx"});
    ASSERT_GE(files.size(), 13u);
    for (const auto& path : files) {
        VxImage img(0);
        ASSERT_TRUE(img.Load(path.c_str(), VX_FORMAT_PCX)) << path << ": " << img.GetLastError();
        const auto ref = Reference(path);
        ASSERT_TRUE(ref) << path;
        EXPECT_EQ(vt::MaxChannelDiff(vt::ToRgba(img), *ref), 0) << path;
    }
}

TEST(Pcx, PictureDepthsFollowTheFile) {
    const struct {
        const char* file;
        int bpp;
    } cases[] = {{"pil_1bit.pcx", 1},         {"netpbm_packed2.pcx", 4}, {"netpbm_packed4.pcx", 4},
                 {"netpbm_2planes.pcx", 4},   {"netpbm_3planes.pcx", 4}, {"netpbm_4planes.pcx", 4},
                 {"pil_8bit.pcx", 8},         {"pil_rgb24.pcx", 24}};
    for (const auto& c : cases) {
        VxImage img(0);
        ASSERT_TRUE(img.Load(vt::DataPath(std::string("pcx/") + c.file).c_str(), VX_FORMAT_PCX));
        EXPECT_EQ(img.GetBpp(), c.bpp) << c.file;
    }
    // Three bit planes keep their third bit: indices 4..7 appear.
    VxImage three(0);
    ASSERT_TRUE(three.Load(vt::DataPath("pcx/netpbm_3planes.pcx").c_str(), VX_FORMAT_PCX));
    int high = 0;
    for (uint32_t y = 0; y < three.GetHeight(); ++y)
        for (uint32_t x = 0; x < three.GetWidth(); ++x) high |= three.GetPixelIndex(int(x), int(y));
    EXPECT_EQ(high, 7);
    // Packed 2-bit: the first four header colours.
    const Bytes raw = vt::ReadFileBytes(vt::DataPath("pcx/netpbm_packed2.pcx"));
    VxImage cga(0);
    ASSERT_TRUE(DecodeBytes(raw, cga));
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(cga.GetPaletteColor(uint8_t(i)),
                  vx::MakeRGBQUAD(raw[16 + 3 * i], raw[17 + 3 * i], raw[18 + 3 * i]));
}

TEST(Pcx, ResolutionWordsBecomeDpi) {
    Bytes raw = vt::ReadFileBytes(vt::DataPath("pcx/pil_rgb24.pcx"));
    vx::StoreLE16(&raw[12], 300);
    vx::StoreLE16(&raw[14], 150);
    VxImage img(0);
    ASSERT_TRUE(DecodeBytes(raw, img));
    EXPECT_EQ(img.GetXDPI(), 300);
    EXPECT_EQ(img.GetYDPI(), 150);
    // The picture's header carries both, so formats that write it keep them.
    VxImage bmp(0);
    ASSERT_TRUE(vt::DecodeBytes(vt::EncodeBytes(img, VX_FORMAT_BMP), VX_FORMAT_BMP, bmp));
    EXPECT_EQ(bmp.GetXDPI(), 300);
    EXPECT_EQ(bmp.GetYDPI(), 150);
}

TEST(Pcx, EncoderRunsAndPadBytes) {
    VxImage three(3, 1, 8, 0);
    three.SetGrayPalette();
    for (int x = 0; x < 3; ++x) three.SetPixelIndex(x, 0, 5);
    const Bytes a = EncodeBytes(three);
    ASSERT_EQ(a.size(), 128u + 3u + 769u);
    EXPECT_EQ(vx::LoadLE16(&a[66]), 4);
    EXPECT_EQ(a[3], 8);
    EXPECT_EQ(a[65], 1);
    EXPECT_EQ(a[128], 0xC3);
    EXPECT_EQ(a[129], 0x05);
    EXPECT_EQ(a[130], 0x00);
    EXPECT_EQ(a[131], 0x0C);
    EXPECT_EQ(a[131 + 1 + 3 * 255], 255);

    VxImage single(1, 1, 8, 0);
    single.SetPixelIndex(0, 0, 0xC5);
    const Bytes b = EncodeBytes(single);
    ASSERT_GE(b.size(), 131u);
    EXPECT_EQ(b[128], 0xC1);
    EXPECT_EQ(b[129], 0xC5);
    EXPECT_EQ(b[130], 0x00);

    VxImage hundred(100, 1, 8, 0);
    for (int x = 0; x < 100; ++x) hundred.SetPixelIndex(x, 0, 7);
    const Bytes c = EncodeBytes(hundred);
    ASSERT_EQ(c.size(), 128u + 4u + 769u);
    EXPECT_EQ(c[128], 0xFF);
    EXPECT_EQ(c[129], 7);
    EXPECT_EQ(c[130], 0xE5);
    EXPECT_EQ(c[131], 7);

    // 20 pixels of 1 bit: 3 bytes per plane line, padded to 4 with a 0 byte.
    VxImage bits(20, 2, 4, 0);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 20; ++x) bits.SetPixelIndex(x, y, 15);
    const Bytes d = EncodeBytes(bits);
    ASSERT_FALSE(d.empty());
    EXPECT_EQ(d[65], 4);
    EXPECT_EQ(vx::LoadLE16(&d[66]), 4);
    const Bytes lines = Expand(d, 2 * 4 * 4);
    ASSERT_EQ(lines.size(), 32u);
    for (size_t line = 0; line < 8; ++line) {
        EXPECT_EQ(lines[line * 4 + 2], 0xF0) << line;
        EXPECT_EQ(lines[line * 4 + 3], 0x00) << line;
    }
}

TEST(Pcx, EncoderRoundTrips) {
    // 1 bit with index 0 white: bits are inverted so that the look survives.
    VxImage mono(13, 4, 1, 0);
    mono.SetPaletteColor(0, 255, 255, 255);
    mono.SetPaletteColor(1, 0, 0, 0);
    for (int x = 0; x < 13; ++x) mono.SetPixelIndex(x, x % 4, 1);
    VxImage back(0);
    ASSERT_TRUE(DecodeBytes(EncodeBytes(mono), back));
    EXPECT_EQ(back.GetBpp(), 1);
    EXPECT_EQ(back.GetPaletteColor(0), vx::MakeRGBQUAD(0, 0, 0));
    EXPECT_EQ(back.GetPaletteColor(1), vx::MakeRGBQUAD(255, 255, 255));
    EXPECT_EQ(vt::MaxChannelDiff(vt::ToRgba(back), vt::ToRgba(mono)), 0);

    // 4 bits: 4 planes, the 16 colours in the header map.
    VxImage sixteen(11, 5, 4, 0);
    for (int i = 0; i < 16; ++i)
        sixteen.SetPaletteColor(uint8_t(i), uint8_t(i * 16), uint8_t(255 - i * 9), uint8_t(i * 3));
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 11; ++x) sixteen.SetPixelIndex(x, y, uint8_t((x + y * 3) % 16));
    const Bytes s = EncodeBytes(sixteen);
    ASSERT_FALSE(s.empty());
    EXPECT_EQ(s[65], 4);
    EXPECT_EQ(s[16 + 3 * 15], 240);
    VxImage back4(0);
    ASSERT_TRUE(DecodeBytes(s, back4));
    EXPECT_EQ(back4.GetBpp(), 4);
    EXPECT_EQ(vt::MaxChannelDiff(vt::ToRgba(back4), vt::ToRgba(sixteen)), 0);

    // 24 bits with alpha: 4 planes, alpha plane back as it was.
    VxImage rgba = vt::MakeGradient24(9, 6);
    rgba.AlphaCreate();
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 9; ++x) rgba.AlphaSet(x, y, uint8_t(x * 25 + y));
    const Bytes r = EncodeBytes(rgba);
    ASSERT_FALSE(r.empty());
    EXPECT_EQ(r[65], 4);
    VxImage backA(0);
    ASSERT_TRUE(DecodeBytes(r, backA));
    ASSERT_TRUE(backA.AlphaIsValid());
    EXPECT_EQ(vt::MaxChannelDiff(vt::ToRgba(backA), vt::ToRgba(rgba)), 0);
}

TEST(Pcx, WrittenFilesReadBackElsewhere) {
    if (!vt::ReferenceAvailable(vt::Reference::Pillow) ||
        !vt::ReferenceAvailable(vt::Reference::ImageMagick))
        GTEST_SKIP() << "no reference decoder";
    vt::TempDir dir;
    VxImage rgb = vt::MakeGradient24(23, 9);
    VxImage mapped = vt::MakeGradient24(17, 7);
    ASSERT_TRUE(mapped.DecreaseBpp(8, false));
    VxImage sixteen = vt::MakeGradient24(21, 6);
    ASSERT_TRUE(sixteen.DecreaseBpp(4, false));
    VxImage mono = vt::MakeGradient24(19, 5);
    ASSERT_TRUE(mono.DecreaseBpp(1, false));
    // Two colours that are not black and white keep their colours.
    VxImage duo = vt::MakeGradient24(19, 5);
    ASSERT_TRUE(duo.DecreaseBpp(1, false));
    duo.SetPaletteColor(0, 200, 30, 40);
    duo.SetPaletteColor(1, 20, 90, 250);
    VxImage* pictures[] = {&rgb, &mapped, &sixteen, &mono, &duo};
    for (VxImage* img : pictures) {
        const bool planar = img->GetBpp() == 4 || img == &duo;
        const std::string path = dir.file("out" + std::to_string(img->GetBpp()) +
                                          (planar ? "p" : "") + ".pcx");
        ASSERT_TRUE(img->Save(path.c_str(), VX_FORMAT_PCX)) << img->GetLastError();
        // Pillow reads bit planes as if lines had no pad byte; the even line
        // length the format asks for makes ImageMagick the reader for those.
        const auto tool = planar ? vt::Reference::ImageMagick : vt::Reference::Pillow;
        const auto ref = vt::DecodeWithReference(path, tool);
        ASSERT_TRUE(ref) << path;
        EXPECT_EQ(vt::MaxChannelDiff(vt::ToRgba(*img), *ref), 0) << path;
    }
    // Four planes of 8 bits: ImageMagick keeps the alpha channel.
    VxImage rgba = vt::MakeGradient24(15, 4);
    rgba.AlphaCreate();
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 15; ++x) rgba.AlphaSet(x, y, uint8_t(x * 17 + y));
    const std::string path = dir.file("alpha.pcx");
    ASSERT_TRUE(rgba.Save(path.c_str(), VX_FORMAT_PCX));
    const auto ref = vt::DecodeWithReference(path, vt::Reference::ImageMagick);
    ASSERT_TRUE(ref);
    EXPECT_EQ(vt::MaxChannelDiff(vt::ToRgba(rgba), *ref), 0);
}

TEST(Pcx, BadFilesFailWithTheirText) {
    struct Case {
        Bytes bytes;
        const char* text;
    };
    auto with = [](Bytes b, std::initializer_list<int> tail) {
        for (int v : tail) b.push_back(uint8_t(v));
        return b;
    };
    Bytes notPcx = Header(8, 1, 2, 2, 2);
    notPcx[0] = 11;
    Bytes encoding = Header(8, 1, 2, 2, 2);
    encoding[2] = 0;
    Bytes inverted = Header(8, 3, 2, 2, 2);
    vx::StoreLE16(&inverted[4], 5);  // x min above x max
    Bytes huge = Header(8, 3, 0xFFFF, 0xFFFF, 0xFFFF);
    const Case cases[] = {
        {{}, "Can't read PCX image"},
        {Bytes(100, 10), "Can't read PCX image"},
        {notPcx, "Error: Not a PCX file"},
        {encoding, "PCX file has unknown encoding scheme"},
        {Header(1, 5, 8, 1, 2), "Can't handle image with more than 4 planes"},
        {Header(8, 2, 8, 1, 8), "Can't handle more than 1 bit per pixel"},
        {Header(8, 1, 9, 1, 8), "Invalid PCX image size"},
        {Header(1, 1, 17, 1, 2), "Invalid PCX image size"},
        {inverted, "Invalid PCX image size"},
        {with(Header(8, 3, 2, 2, 2), {1, 2, 3}), "corrupted PCX"},
        {huge, "corrupted PCX"},
        {with(Header(1, 1, 8, 1, 2), {0xC3, 0}), "repeat count spans end of image"},
        {with(Header(8, 1, 2, 1, 2), {1, 2, 11}), "bad color map signature"},
    };
    for (const auto& c : cases) {
        VxImage img(0);
        img.SetMaxPixels(0);  // the format's own texts; the limit's come first otherwise
        EXPECT_FALSE(DecodeBytes(c.bytes, img)) << c.text;
        EXPECT_STREQ(img.GetLastError(), c.text) << c.bytes.size();
    }
    VxImage cancelled(0);
    cancelled.SetEscape(1);
    EXPECT_FALSE(DecodeBytes(vt::ReadFileBytes(vt::DataPath("pcx/pil_rgb24.pcx")), cancelled));
    EXPECT_STREQ(cancelled.GetLastError(), "Cancelled");
}

TEST(Pcx, HostileInput) {
    for (const auto& path : vt::FixtureFiles("pcx", {".pcx"})) {
        const auto stats = vt::HostileSweep(vt::ReadFileBytes(path), VX_FORMAT_PCX);
        EXPECT_GT(stats.decodes, 0) << path;
    }
}

}  // namespace
