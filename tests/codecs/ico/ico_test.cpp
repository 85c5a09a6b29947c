#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/vx_image.h"
#include "tests/support/hostile_sweep.h"
#include "tests/support/reference_decoder.h"
#include "tests/support/test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;

bool DecodeBytes(std::vector<uint8_t> bytes, VxImage& img) {
    return vt::DecodeBytes(std::move(bytes), VX_FORMAT_ICO, img);
}

Bytes EncodeBytes(VxImage& img) { return vt::EncodeBytes(img, VX_FORMAT_ICO); }

// One bitmap entry: header, palette, pixel rows (bottom first, as given), mask.
Bytes Dib(int w, int h, int bpp, const std::vector<RGBQUAD>& pal, const Bytes& pixels,
          const Bytes& mask) {
    Bytes b(40, 0);
    BITMAPINFOHEADER bih;
    bih.biSize = 40;
    bih.biWidth = w;
    bih.biHeight = 2 * h;
    bih.biPlanes = 1;
    bih.biBitCount = uint16_t(bpp);
    vx::StoreInfoHeader(b.data(), bih);
    for (const auto& c : pal) {
        b.push_back(c.rgbBlue);
        b.push_back(c.rgbGreen);
        b.push_back(c.rgbRed);
        b.push_back(0);
    }
    b.insert(b.end(), pixels.begin(), pixels.end());
    b.insert(b.end(), mask.begin(), mask.end());
    return b;
}

struct Entry {
    uint8_t w, h;
    Bytes image;
};

Bytes Icon(const std::vector<Entry>& entries, uint16_t type = 1) {
    Bytes b(6, 0);
    vx::StoreLE16(&b[2], type);
    vx::StoreLE16(&b[4], uint16_t(entries.size()));
    uint32_t offset = uint32_t(6 + 16 * entries.size());
    for (const auto& e : entries) {
        Bytes d(16, 0);
        d[0] = e.w;
        d[1] = e.h;
        vx::StoreLE32(&d[8], uint32_t(e.image.size()));
        vx::StoreLE32(&d[12], offset);
        b.insert(b.end(), d.begin(), d.end());
        offset += uint32_t(e.image.size());
    }
    for (const auto& e : entries) b.insert(b.end(), e.image.begin(), e.image.end());
    return b;
}

// Top-down RGBA in which every transparent pixel, however the picture marks it
// (alpha plane, transparent index, transparent colour), has alpha 0.
vt::Rgba Visible(const VxImage& img) {
    vt::Rgba out = vt::ToRgba(img);
    const int32_t t = img.GetTransIndex();
    if (t < 0) return out;
    const RGBQUAD tc = img.GetTransColor();
    for (int y = 0; y < out.height; ++y)
        for (int x = 0; x < out.width; ++x) {
            const int by = out.height - 1 - y;
            const bool clear = img.GetBpp() <= 8
                                   ? img.GetPixelIndex(x, by) == t
                                   : (img.GetPixelColor(x, by, false).rgbRed == tc.rgbRed &&
                                      img.GetPixelColor(x, by, false).rgbGreen == tc.rgbGreen &&
                                      img.GetPixelColor(x, by, false).rgbBlue == tc.rgbBlue);
            if (clear) out.px[(size_t(y) * out.width + x) * 4 + 3] = 0;
        }
    return out;
}

// Largest difference, where the colour of pixels both sides call transparent is free.
int VisibleDiff(const vt::Rgba& a, const vt::Rgba& b) {
    if (a.width != b.width || a.height != b.height) return -1;
    int worst = 0;
    for (int y = 0; y < a.height; ++y)
        for (int x = 0; x < a.width; ++x) {
            const uint8_t* p = a.at(x, y);
            const uint8_t* q = b.at(x, y);
            if (p[3] == 0 && q[3] == 0) continue;
            for (int c = 0; c < 4; ++c) worst = std::max(worst, std::abs(int(p[c]) - int(q[c])));
        }
    return worst;
}

TEST(Ico, FixturesMatchIndependentDecoders) {
    if (!vt::ReferenceAvailable(vt::Reference::Pillow) ||
        !vt::ReferenceAvailable(vt::Reference::ImageMagick))
        GTEST_SKIP() << "no reference decoder";
    // Pillow ignores a cursor's mask and shows only the largest entry: ImageMagick
    // is the reference for those.
    const struct {
        const char* file;
        vt::Reference tool;
        int frame;
    } cases[] = {{"netpbm_1bit.ico", vt::Reference::Pillow, 0},
                 {"netpbm_4bit_mask.ico", vt::Reference::Pillow, 0},
                 {"netpbm_8bit_mask.ico", vt::Reference::Pillow, 0},
                 {"magick_32bit.ico", vt::Reference::Pillow, 0},
                 {"cursor.cur", vt::Reference::ImageMagick, 0},
                 {"netpbm_three.ico", vt::Reference::ImageMagick, 0},
                 {"netpbm_three.ico", vt::Reference::ImageMagick, 1},
                 {"netpbm_three.ico", vt::Reference::ImageMagick, 2}};
    for (const auto& c : cases) {
        const std::string path = vt::DataPath(std::string("ico/") + c.file);
        VxImage img(0);
        img.SetFrame(c.frame);
        ASSERT_TRUE(img.Load(path.c_str(), VX_FORMAT_ICO)) << path << ": " << img.GetLastError();
        const auto ref = vt::DecodeWithReference(path, c.tool, c.frame);
        ASSERT_TRUE(ref) << path;
        EXPECT_EQ(VisibleDiff(Visible(img), *ref), 0) << path << " frame " << c.frame;
    }
}

TEST(Ico, MaskBecomesTheSimplestTransparency) {
    // 5 of 16 colours used: the lowest free index carries the mask, no alpha plane.
    VxImage four(0);
    ASSERT_TRUE(four.Load(vt::DataPath("ico/netpbm_4bit_mask.ico").c_str(), VX_FORMAT_ICO));
    EXPECT_EQ(four.GetBpp(), 4);
    EXPECT_FALSE(four.AlphaIsValid());
    EXPECT_EQ(four.GetTransIndex(), 5);
    EXPECT_EQ(four.GetPixelIndex(0, 15), 5);   // top-left corner is masked
    EXPECT_EQ(four.GetPixelIndex(6, 15), 5);   // the stripe at x % 7 == 6
    EXPECT_NE(four.GetPixelIndex(5, 0), 5);

    // Two colours, both used: the mask stays an alpha plane.
    VxImage mono(0);
    ASSERT_TRUE(mono.Load(vt::DataPath("ico/netpbm_1bit.ico").c_str(), VX_FORMAT_ICO));
    EXPECT_EQ(mono.GetBpp(), 1);
    ASSERT_TRUE(mono.AlphaIsValid());
    EXPECT_EQ(mono.AlphaGet(0, 15), 0);
    EXPECT_EQ(mono.AlphaGet(5, 0), 255);

    // 24 bits, both masked pixels of one colour: a transparent colour.
    const Bytes px = {1, 2, 3, 9, 8, 7, 4, 5, 6, 0, 0, 0,  // bottom row + pad
                      9, 8, 7, 10, 11, 12, 13, 14, 15, 0, 0, 0};
    const Bytes mask = {0x40, 0, 0, 0, 0x80, 0, 0, 0};
    VxImage rgb(0);
    ASSERT_TRUE(DecodeBytes(Icon({{3, 2, Dib(3, 2, 24, {}, px, mask)}}), rgb)) << rgb.GetLastError();
    EXPECT_EQ(rgb.GetBpp(), 24);
    EXPECT_FALSE(rgb.AlphaIsValid());
    EXPECT_EQ(rgb.GetTransIndex(), 0);
    EXPECT_EQ(rgb.GetTransColor(), vx::MakeRGBQUAD(7, 8, 9));

    // 8 bits with every index in use: the alpha plane stays.
    Bytes all(256);
    for (int i = 0; i < 256; ++i) all[size_t(i)] = uint8_t(i);
    std::vector<RGBQUAD> pal(256);
    for (int i = 0; i < 256; ++i) pal[size_t(i)] = vx::MakeRGBQUAD(uint8_t(i), 0, uint8_t(255 - i));
    Bytes m8(16 * 4, 0);
    m8[0] = 0x80;
    VxImage full(0);
    ASSERT_TRUE(DecodeBytes(Icon({{16, 16, Dib(16, 16, 8, pal, all, m8)}}), full));
    EXPECT_EQ(full.GetTransIndex(), -1);
    ASSERT_TRUE(full.AlphaIsValid());
    EXPECT_EQ(full.AlphaGet(0, 0), 0);
    EXPECT_EQ(full.AlphaGet(1, 0), 255);
}

TEST(Ico, ThirtyTwoBitIconsUseTheirAlpha) {
    // 2 x 2, alpha bytes 10, 20, 255, 255 (bottom row first).
    const Bytes px = {1, 2, 3, 10, 4, 5, 6, 20, 7, 8, 9, 255, 11, 12, 13, 255};
    Bytes zeroAlpha = px;
    for (size_t i = 3; i < zeroAlpha.size(); i += 4) zeroAlpha[i] = 0;
    const struct {
        const char* what;
        Bytes pixels, mask;
        uint8_t alpha[4];  // (0,0), (1,0), (0,1), (1,1)
    } cases[] = {
        // The mask of an entry with alpha does not matter, all ones included.
        {"mask on (1, 1)", px, {0, 0, 0, 0, 0x40, 0, 0, 0}, {10, 20, 255, 255}},
        {"all-ones mask", px, Bytes(8, 0xFF), {10, 20, 255, 255}},
        // Without alpha the mask decides; no mask at all is opaque.
        {"zero alpha, mask", zeroAlpha, {0, 0, 0, 0, 0x40, 0, 0, 0}, {255, 255, 255, 0}},
        {"zero alpha, no mask", zeroAlpha, {}, {255, 255, 255, 255}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        VxImage img(0);
        ASSERT_TRUE(DecodeBytes(Icon({{2, 2, Dib(2, 2, 32, {}, c.pixels, c.mask)}}), img))
            << img.GetLastError();
        EXPECT_EQ(img.GetBpp(), 24);
        EXPECT_EQ(img.GetTransIndex(), -1);
        const vt::Rgba rgba = vt::ToRgba(img);  // top-down
        EXPECT_EQ(rgba.at(0, 1)[3], c.alpha[0]);
        EXPECT_EQ(rgba.at(1, 1)[3], c.alpha[1]);
        EXPECT_EQ(rgba.at(0, 0)[3], c.alpha[2]);
        EXPECT_EQ(rgba.at(1, 0)[3], c.alpha[3]);
        EXPECT_EQ(img.GetPixelColor(1, 1, false), vx::MakeRGBQUAD(13, 12, 11));
    }
}

TEST(Ico, AllOnesMaskShowsTheNegative) {
    const Bytes mask(8 * 4, 0xFF);
    // Colour palette: the entries are inverted, the pixels stay.
    std::vector<RGBQUAD> pal(16);
    for (int i = 0; i < 16; ++i) pal[size_t(i)] = vx::MakeRGBQUAD(uint8_t(i * 10), 200, 7);
    Bytes px(8 * 4);
    for (size_t i = 0; i < px.size(); ++i) px[i] = uint8_t(0x12 + i % 3);
    VxImage img(0);
    ASSERT_TRUE(DecodeBytes(Icon({{8, 8, Dib(8, 8, 4, pal, px, mask)}}), img)) << img.GetLastError();
    EXPECT_EQ(img.GetTransIndex(), 0);
    EXPECT_FALSE(img.AlphaIsValid());
    EXPECT_EQ(img.GetPaletteColor(3), vx::MakeRGBQUAD(225, 55, 248));
    EXPECT_EQ(img.GetPixelIndex(0, 0), 1);

    // Grey ramp: the indices are inverted.
    std::vector<RGBQUAD> ramp(256);
    for (int i = 0; i < 256; ++i) ramp[size_t(i)] = vx::MakeRGBQUAD(uint8_t(i), uint8_t(i), uint8_t(i));
    Bytes px8(8 * 8, 40);
    VxImage grey(0);
    ASSERT_TRUE(DecodeBytes(Icon({{8, 8, Dib(8, 8, 8, ramp, px8, mask)}}), grey));
    EXPECT_EQ(grey.GetPixelIndex(3, 3), 215);

    // 24 bits: every byte inverted.
    Bytes px24(8 * 24, 0x30);
    VxImage rgb(0);
    ASSERT_TRUE(DecodeBytes(Icon({{8, 8, Dib(8, 8, 24, {}, px24, mask)}}), rgb));
    EXPECT_EQ(rgb.GetPixelColor(7, 7, false), vx::MakeRGBQUAD(0xCF, 0xCF, 0xCF));
}

TEST(Ico, EntriesChosenByFrame) {
    VxImage img(0);
    ASSERT_TRUE(img.Load(vt::DataPath("ico/netpbm_three.ico").c_str(), VX_FORMAT_ICO));
    EXPECT_EQ(img.GetNumFrames(), 3);
    EXPECT_EQ(img.GetWidth(), 16u);
    img.SetFrame(1);
    ASSERT_TRUE(img.Load(vt::DataPath("ico/netpbm_three.ico").c_str(), VX_FORMAT_ICO));
    EXPECT_EQ(img.GetWidth(), 32u);
    EXPECT_EQ(img.GetNumFrames(), 3);
    VxImage out(0);
    out.SetFrame(3);
    EXPECT_FALSE(out.Load(vt::DataPath("ico/netpbm_three.ico").c_str(), VX_FORMAT_ICO));
    EXPECT_EQ(out.GetNumFrames(), 3);

    // A cursor reads like its icon twin; the hot spot does not matter.
    VxImage cur(0), ico(0);
    ASSERT_TRUE(cur.Load(vt::DataPath("ico/cursor.cur").c_str(), VX_FORMAT_ICO));
    ASSERT_TRUE(ico.Load(vt::DataPath("ico/netpbm_4bit_mask.ico").c_str(), VX_FORMAT_ICO));
    EXPECT_EQ(vt::MaxChannelDiff(vt::ToRgba(cur), vt::ToRgba(ico)), 0);
    EXPECT_EQ(cur.GetTransIndex(), ico.GetTransIndex());
}

TEST(Ico, ZeroSizeMeans256) {
    Bytes px(32 * 256, 0);
    px[0] = 0x80;
    const Bytes mask(32 * 256, 0);
    VxImage img(0);
    ASSERT_TRUE(DecodeBytes(Icon({{0, 0, Dib(256, 256, 1, {vx::MakeRGBQUAD(0, 0, 0),
                                                             vx::MakeRGBQUAD(255, 255, 255)},
                                             px, mask)}}),
                            img))
        << img.GetLastError();
    EXPECT_EQ(img.GetWidth(), 256u);
    EXPECT_EQ(img.GetHeight(), 256u);
    EXPECT_EQ(img.GetPixelIndex(0, 0), 1);
}

TEST(Ico, PngEntriesGoThroughThePngCodec) {
    const std::string path = vt::DataPath("ico/pil_png_entry.ico");
    VxImage img(0);
    const bool ok = img.Load(path.c_str(), VX_FORMAT_ICO);
    if (!VxFindCodec(VX_FORMAT_PNG)) {
        // Without a PNG codec in the build the entry is refused, with a reason.
        EXPECT_FALSE(ok);
        EXPECT_NE(std::string(img.GetLastError()).find("PNG"), std::string::npos)
            << img.GetLastError();
        return;
    }
    ASSERT_TRUE(ok) << img.GetLastError();
    EXPECT_EQ(img.GetType(), uint32_t(VX_FORMAT_ICO));
    EXPECT_EQ(img.GetNumFrames(), 1);
    const auto ref = vt::DecodeWithReference(path, vt::Reference::Pillow);
    ASSERT_TRUE(ref);
    EXPECT_EQ(VisibleDiff(Visible(img), *ref), 0);

    // The caller's settings survive the nested decode, and a dimensions-only
    // request is answered without pixels.
    VxImage settings(0);
    settings.SetJpegQuality(20);
    settings.SetCodecOption(5, VX_FORMAT_TIF);
    ASSERT_TRUE(settings.Load(path.c_str(), VX_FORMAT_ICO)) << settings.GetLastError();
    EXPECT_EQ(settings.GetJpegQuality(), 20);
    EXPECT_EQ(settings.GetCodecOption(VX_FORMAT_TIF), 5u);
    VxImage size(0);
    size.SetEscape(-1);
    ASSERT_TRUE(size.Load(path.c_str(), VX_FORMAT_ICO)) << size.GetLastError();
    EXPECT_FALSE(size.IsValid());
    EXPECT_EQ(size.GetWidth(), 32u);
    EXPECT_EQ(size.GetHeight(), 32u);
}

TEST(Ico, BadFilesFailWithText) {
    const Bytes good = vt::ReadFileBytes(vt::DataPath("ico/netpbm_4bit_mask.ico"));
    auto patched = [&](size_t at, std::initializer_list<int> values) {
        Bytes b = good;
        for (int v : values) b[at++] = uint8_t(v);
        return b;
    };
    Bytes halfMask = good;
    halfMask.resize(good.size() - 20);
    Bytes noPixels = good;
    noPixels.resize(22 + 40 + 64 + 50);
    Bytes noMask = good;
    noMask.resize(good.size() - 64);
    vx::StoreLE32(&noMask[14], vx::LoadLE32(&noMask[14]) - 64);
    const Bytes cases[] = {
        {},
        Bytes(good.begin(), good.begin() + 4),
        patched(0, {1}),                       // reserved word
        patched(2, {3}),                       // type
        patched(4, {0, 0}),                    // no entries: frame 0 missing
        patched(18, {0xF0, 0xFF, 0, 0}),       // offset beyond the file
        patched(14, {0xFF, 0xFF, 0, 0}),       // size beyond the file
        patched(22 + 14, {2}),                 // 2 bits per pixel
        Bytes(good.begin(), good.begin() + 30),  // directory cut
        noPixels,
        halfMask,
        patched(14, {good[14] - 1}),           // length short of the mask
        patched(14, {0xE7, 0}),                // length short of the pixels
    };
    for (const auto& bytes : cases) {
        VxImage img(0);
        EXPECT_FALSE(DecodeBytes(bytes, img)) << bytes.size();
        EXPECT_STRNE(img.GetLastError(), "") << bytes.size();
    }
    // A missing mask is allowed: the picture has no transparency then.
    VxImage img(0);
    ASSERT_TRUE(DecodeBytes(noMask, img)) << img.GetLastError();
    EXPECT_EQ(img.GetTransIndex(), -1);
    EXPECT_FALSE(img.AlphaIsValid());
}

TEST(Ico, EncoderLayout) {
    for (const auto& [w, h] : {std::pair{257, 16}, std::pair{16, 257}}) {
        VxImage big(uint32_t(w), uint32_t(h), 24, 0);
        EXPECT_TRUE(EncodeBytes(big).empty());
        EXPECT_NE(std::string(big.GetLastError()).find("256"), std::string::npos)
            << big.GetLastError();
    }
    VxImage edge(255, 255, 4, 0);
    const Bytes e = EncodeBytes(edge);
    ASSERT_FALSE(e.empty());
    EXPECT_EQ(e[6], 0xFF);
    EXPECT_EQ(e[7], 0xFF);
    EXPECT_EQ(e[8], 16);

    VxImage eight(32, 32, 8, 0);
    const Bytes b = EncodeBytes(eight);
    ASSERT_EQ(b.size(), 22u + 40u + 1024u + 1024u + 128u);
    EXPECT_EQ(vx::LoadLE16(&b[2]), 1);
    EXPECT_EQ(vx::LoadLE16(&b[4]), 1);
    EXPECT_EQ(b[8], 0);                              // 256 colours
    EXPECT_EQ(vx::LoadLE16(&b[12]), 8);
    EXPECT_EQ(vx::LoadLE32(&b[14]), 40u + 1024u + 1024u + 128u);
    EXPECT_EQ(vx::LoadLE32(&b[18]), 22u);
    EXPECT_EQ(int32_t(vx::LoadLE32(&b[22 + 8])), 64);  // XOR and AND heights

    // 24 bits with alpha: a 32-bit icon, masked where alpha is 0.
    VxImage rgba = vt::MakeGradient24(5, 3);
    rgba.AlphaCreate();
    rgba.AlphaSet(2, 0, 0);
    rgba.AlphaSet(3, 0, 77);
    const Bytes c = EncodeBytes(rgba);
    ASSERT_EQ(c.size(), 22u + 40u + 5u * 3u * 4u + 4u * 3u);
    EXPECT_EQ(vx::LoadLE16(&c[12]), 32);
    EXPECT_EQ(c[62 + 3 * 4 + 3], 77);
    EXPECT_EQ(c[62 + 60], 0x20);  // bottom row mask: pixel 2
    // Without alpha: 24 bits, mask only where the transparent colour is.
    VxImage rgb = vt::MakeGradient24(5, 3);
    rgb.SetTransIndex(0);
    rgb.SetTransColor(rgb.GetPixelColor(4, 2, false));
    const Bytes d = EncodeBytes(rgb);
    ASSERT_EQ(d.size(), 22u + 40u + 16u * 3u + 4u * 3u);
    EXPECT_EQ(vx::LoadLE16(&d[12]), 24);
    EXPECT_EQ(d[62 + 48 + 8], 0x08);
    EXPECT_EQ(d[62 + 48], 0x00);
}

TEST(Ico, WrittenFilesReadBackInPillow) {
    if (!vt::ReferenceAvailable(vt::Reference::Pillow)) GTEST_SKIP() << "no Pillow";
    vt::TempDir dir;
    VxImage rgba = vt::MakeGradient24(24, 20);
    rgba.AlphaCreate();
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 24; ++x) rgba.AlphaSet(x, y, uint8_t(x < 3 ? 0 : x * 10 + y));
    VxImage rgb = vt::MakeGradient24(16, 16);
    rgb.SetTransIndex(0);
    rgb.SetTransColor(rgb.GetPixelColor(0, 0, false));
    VxImage mapped = vt::MakeGradient24(32, 32);
    ASSERT_TRUE(mapped.DecreaseBpp(8, false));
    VxImage sixteen = vt::MakeGradient24(13, 11);
    ASSERT_TRUE(sixteen.DecreaseBpp(4, false));
    sixteen.SetTransIndex(sixteen.GetPixelIndex(2, 2));
    VxImage loaded(0);
    ASSERT_TRUE(loaded.Load(vt::DataPath("ico/netpbm_8bit_mask.ico").c_str(), VX_FORMAT_ICO));
    // The largest icon: its directory says 0 for 256.
    VxImage largest = vt::MakeGradient24(256, 256);
    largest.AlphaCreate();
    largest.AlphaSet(255, 0, 0);
    largest.AlphaSet(0, 255, 99);
    VxImage* pictures[] = {&rgba, &rgb, &mapped, &sixteen, &loaded, &largest};
    int n = 0;
    for (VxImage* img : pictures) {
        const std::string path = dir.file("out" + std::to_string(n++) + ".ico");
        ASSERT_TRUE(img->Save(path.c_str(), VX_FORMAT_ICO)) << img->GetLastError();
        if (img == &largest) {
            const Bytes bytes = vt::ReadFileBytes(path);
            ASSERT_GT(bytes.size(), 8u);
            EXPECT_EQ(bytes[6], 0);
            EXPECT_EQ(bytes[7], 0);
        }
        const auto ref = vt::DecodeWithReference(path, vt::Reference::Pillow);
        ASSERT_TRUE(ref) << path;
        EXPECT_EQ(VisibleDiff(Visible(*img), *ref), 0) << path;
    }
}

TEST(Ico, HostileInput) {
    std::vector<Bytes> inputs;
    for (const auto& path : vt::FixtureFiles("ico", {".ico", ".cur"}))
        inputs.push_back(vt::ReadFileBytes(path));
    const Bytes px = {1, 2, 3, 10, 4, 5, 6, 20, 7, 8, 9, 255, 11, 12, 13, 255};
    inputs.push_back(Icon({{2, 2, Dib(2, 2, 32, {}, px, Bytes(8, 0x40))}}));
    for (const auto& bytes : inputs) {
        const auto stats = vt::HostileSweep(bytes, VX_FORMAT_ICO);
        EXPECT_GT(stats.decodes, 0);
    }
}

}  // namespace
