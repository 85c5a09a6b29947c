#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "codecs/png/vx_png_codec.h"
#include "core/vx_image.h"
#include "tests/codecs/png/png_test_util.h"
#include "tests/support/hostile_sweep.h"
#include "tests/support/reference_decoder.h"
#include "tests/support/test_support.h"

namespace {

VxImage MakeIndexed(uint32_t w, uint32_t h, uint32_t bpp, uint32_t colours) {
    VxImage img(w, h, bpp, 0);
    for (uint32_t i = 0; i < img.GetNumColors(); ++i)
        img.SetPaletteColor(uint8_t(i), uint8_t(i * 37), uint8_t(255 - i * 11), uint8_t(i * 91));
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x) img.SetPixelIndex(int(x), int(y), uint8_t((x + 3 * y) % colours));
    return img;
}

struct Written {
    std::string path;
    std::vector<uint8_t> bytes;
    std::vector<pngt::Chunk> chunks;
};

Written Save(VxImage& img, const vt::TempDir& dir, const std::string& name) {
    Written w;
    w.path = dir.file(name);
    EXPECT_TRUE(img.Save(w.path.c_str(), VX_FORMAT_PNG)) << name << ": " << img.GetLastError();
    w.bytes = vt::ReadFileBytes(w.path);
    w.chunks = pngt::Chunks(w.bytes);
    return w;
}

uint8_t ColourType(const Written& w) { return pngt::Find(w.chunks, "IHDR")->data[9]; }
uint8_t BitDepth(const Written& w) { return pngt::Find(w.chunks, "IHDR")->data[8]; }
uint8_t Interlace(const Written& w) { return pngt::Find(w.chunks, "IHDR")->data[12]; }

void ExpectReferenceSees(const Written& w, const vt::Rgba& expected) {
    EXPECT_TRUE(pngt::PngcheckAccepts(w.path)) << w.path;
    for (vt::Reference tool : {vt::Reference::Pillow, vt::Reference::ImageMagick}) {
        const auto ref = vt::DecodeWithReference(w.path, tool);
        ASSERT_TRUE(ref.has_value()) << w.path << (tool == vt::Reference::Pillow ? " (Pillow)" : " (ImageMagick)");
        EXPECT_EQ(vt::MaxChannelDiff(expected, *ref, true), 0)
            << w.path << (tool == vt::Reference::Pillow ? " (Pillow)" : " (ImageMagick)");
    }
}

class PngEncode : public ::testing::Test {
protected:
    void SetUp() override {
        if (!vt::ReferenceAvailable(vt::Reference::Pillow) ||
            !vt::ReferenceAvailable(vt::Reference::ImageMagick) ||
            vt::RunCommand("command -v pngcheck >/dev/null") != 0)
            GTEST_SKIP() << "reference decoders missing";
    }
    vt::TempDir dir;
};

TEST_F(PngEncode, EveryLayoutReadsBackInIndependentDecoders) {
    struct Layout {
        const char* name;
        VxImage img;
        uint8_t colourType;
        uint8_t depth;
    };
    std::vector<Layout> layouts;
    layouts.push_back({"pal1.png", MakeIndexed(19, 7, 1, 2), 3, 1});
    layouts.push_back({"pal4.png", MakeIndexed(21, 9, 4, 16), 3, 4});
    layouts.push_back({"pal8.png", MakeIndexed(33, 17, 8, 200), 3, 8});
    VxImage grey(29, 11, 8, 0);
    grey.SetGrayPalette();
    for (int y = 0; y < 11; ++y)
        for (int x = 0; x < 29; ++x) grey.SetPixelIndex(x, y, uint8_t(x * 9 + y));
    layouts.push_back({"grey.png", grey, 3, 8});  // grey is a palette holding the ramp
    layouts.push_back({"rgb.png", vt::MakeGradient24(31, 13), 2, 8});
    VxImage alpha = vt::MakeGradient24(31, 13);
    alpha.AlphaCreate();
    for (int y = 0; y < 13; ++y)
        for (int x = 0; x < 31; ++x) alpha.AlphaSet(x, y, uint8_t(x * 8 + y));
    layouts.push_back({"alpha.png", alpha, 6, 8});
    VxImage keyed = MakeIndexed(25, 10, 8, 12);
    keyed.SetTransIndex(0);
    layouts.push_back({"keyed.png", keyed, 3, 8});
    // A palette picture with an alpha plane goes out as RGBA; its transparent
    // index stays transparent there.
    VxImage planePal = MakeIndexed(18, 6, 4, 9);
    planePal.AlphaCreate();
    for (int x = 0; x < 18; ++x) planePal.AlphaSet(x, 2, uint8_t(x * 14));
    planePal.SetTransIndex(4);
    layouts.push_back({"palette_plane.png", planePal, 6, 8});

    for (Layout& l : layouts) {
        SCOPED_TRACE(l.name);
        const vt::Rgba expected = pngt::Visible(l.img);
        const Written w = Save(l.img, dir, l.name);
        ASSERT_NE(pngt::Find(w.chunks, "IHDR"), nullptr);
        EXPECT_EQ(ColourType(w), l.colourType);
        EXPECT_EQ(BitDepth(w), l.depth);
        ExpectReferenceSees(w, expected);

        VxImage back(0);
        ASSERT_TRUE(back.Load(w.path.c_str(), VX_FORMAT_PNG)) << back.GetLastError();
        EXPECT_EQ(vt::MaxChannelDiff(pngt::Visible(back), expected), 0);
    }
}

// Smooth fields plus noise, as in photos, so that rows choose different filters.
VxImage MakeNoisy(uint32_t w, uint32_t h, uint32_t bpp, uint32_t seed) {
    VxImage img = bpp == 24 ? VxImage(w, h, 24, 0) : MakeIndexed(w, h, bpp, 1u << bpp);
    uint32_t state = seed;
    for (uint32_t y = 0; y < h; ++y) {
        for (uint32_t x = 0; x < w; ++x) {
            state = state * 1103515245u + 12345u;
            const uint32_t noise = (state >> 16) % 9;
            if (bpp == 24)
                img.SetPixelColor(int(x), int(y), RGBQUAD{uint8_t(x + noise), uint8_t(2 * y + x / 3 + noise),
                                                          uint8_t(x * y / 64 + noise), 0});
            else
                img.SetPixelIndex(int(x), int(y), uint8_t((x / 5 + y / 3 + noise / 7) % (1u << bpp)));
        }
    }
    return img;
}

// The written image data must inflate to exactly the rows libpng writes by
// default (adaptive filters on true colour, none on palettes; Adam7 passes,
// packed pixels), also when it spans several compressed pieces.
TEST_F(PngEncode, ImageDataMatchesLibpngDefaults) {
    struct Case {
        uint32_t w, h, bpp;
        bool alpha;
    };
    const Case cases[] = {{1, 1, 24, false},  {5, 3, 24, false},  {6, 7, 24, false}, {17, 9, 24, false},
                          {33, 5, 24, false}, {301, 21, 24, false}, {7, 5, 24, true}, {64, 9, 24, true},
                          {13, 5, 1, false},  {9, 9, 4, false},   {3, 2, 8, false},  {1201, 500, 24, false},
                          {700, 400, 24, true}};
    for (const Case& c : cases) {
        for (int interlace = 0; interlace < 2; ++interlace) {
            const std::string name = std::to_string(c.w) + "x" + std::to_string(c.h) + "_" +
                                     std::to_string(c.bpp) + (c.alpha ? "a" : "") + (interlace ? "_i" : "");
            SCOPED_TRACE(name);
            VxImage img = MakeNoisy(c.w, c.h, c.bpp, c.w * 31 + c.h);
            if (c.alpha) {
                img.AlphaCreate();
                for (uint32_t y = 0; y < c.h; ++y)
                    for (uint32_t x = 0; x < c.w; ++x) img.AlphaSet(int(x), int(y), uint8_t(x * 3 + y));
            }
            img.SetCodecOption(uint32_t(interlace), VX_FORMAT_PNG);
            const Written w = Save(img, dir, name + ".png");
            const std::vector<uint8_t> ours = pngt::InflatedIdat(w.chunks);
            ASSERT_FALSE(ours.empty());
            EXPECT_EQ(ours, pngt::InflatedIdat(pngt::Chunks(pngt::RewriteWithLibpng(w.bytes))));
            EXPECT_TRUE(pngt::PngcheckAccepts(w.path));
            if (ours.size() > (1u << 20)) {
                ExpectReferenceSees(w, pngt::Visible(img));
                size_t idats = 0;
                for (const pngt::Chunk& chunk : w.chunks)
                    if (chunk.type == "IDAT") idats += chunk.data.size() == 65536 ? 1 : 1000;
                EXPECT_GT(idats % 1000, 1u);  // full chunks and one shorter last one
                EXPECT_EQ(idats / 1000, 1u);
            }
        }
    }
}

TEST_F(PngEncode, InterlacedWritingAndTheFlagKeptFromLoadToSave) {
    VxImage img(0);
    ASSERT_TRUE(img.Load(vt::DataPath("png/rgba8_interlaced.png").c_str(), VX_FORMAT_PNG));
    const vt::Rgba expected = pngt::Visible(img);
    const Written w = Save(img, dir, "again.png");
    EXPECT_EQ(Interlace(w), 1);
    ExpectReferenceSees(w, expected);

    VxImage plain(0);
    ASSERT_TRUE(plain.Load(vt::DataPath("png/rgb8.png").c_str(), VX_FORMAT_PNG));
    EXPECT_EQ(Interlace(Save(plain, dir, "plain.png")), 0);

    // Small pictures leave some passes empty; sub-byte pixels need masking.
    for (uint32_t bpp : {1u, 4u, 8u}) {
        VxImage small = MakeIndexed(3, 2, bpp, bpp == 1 ? 2 : 5);
        small.SetCodecOption(1, VX_FORMAT_PNG);
        const Written s = Save(small, dir, "small" + std::to_string(bpp) + ".png");
        EXPECT_EQ(Interlace(s), 1);
        ExpectReferenceSees(s, pngt::Visible(small));
    }
}

TEST_F(PngEncode, PaletteShrinksToTheIndicesUsedOnSmallPictures) {
    VxImage small = MakeIndexed(100, 100, 8, 10);
    const Written a = Save(small, dir, "small.png");
    ASSERT_NE(pngt::Find(a.chunks, "PLTE"), nullptr);
    EXPECT_EQ(pngt::Find(a.chunks, "PLTE")->data.size(), 30u);
    ExpectReferenceSees(a, pngt::Visible(small));

    VxImage large = MakeIndexed(300, 300, 8, 10);
    const Written b = Save(large, dir, "large.png");
    EXPECT_EQ(pngt::Find(b.chunks, "PLTE")->data.size(), 768u);

    // Two-colour pictures keep both entries even when only one is used.
    VxImage mono = MakeIndexed(10, 10, 1, 1);
    EXPECT_EQ(pngt::Find(Save(mono, dir, "mono.png").chunks, "PLTE")->data.size(), 6u);
}

TEST_F(PngEncode, TransparentEntryMovesToTheFront) {
    VxImage img = MakeIndexed(40, 30, 8, 12);
    img.SetTransIndex(5);
    const RGBQUAD five = img.GetPaletteColor(5);
    const RGBQUAD zero = img.GetPaletteColor(0);
    const uint8_t pixel0 = img.GetPixelIndex(0, 0);  // holds index 0
    const uint8_t pixel5 = img.GetPixelIndex(5, 0);  // holds index 5
    ASSERT_EQ(pixel0, 0);
    ASSERT_EQ(pixel5, 5);
    const vt::Rgba expected = pngt::Visible(img);
    const std::vector<uint8_t> before(img.GetDIB(), img.GetDIB() + img.GetSize());

    const Written w = Save(img, dir, "swap.png");
    const pngt::Chunk* plte = pngt::Find(w.chunks, "PLTE");
    const pngt::Chunk* trns = pngt::Find(w.chunks, "tRNS");
    ASSERT_NE(plte, nullptr);
    ASSERT_NE(trns, nullptr);
    EXPECT_EQ(plte->data[0], five.rgbRed);
    EXPECT_EQ(plte->data[1], five.rgbGreen);
    EXPECT_EQ(plte->data[2], five.rgbBlue);
    EXPECT_EQ(trns->data, std::vector<uint8_t>{0});
    ExpectReferenceSees(w, expected);

    // The exchange happened on the encoder's copy: the caller's picture
    // (header, palette, pixels) and its transparent index are as they were.
    EXPECT_EQ(img.GetTransIndex(), 5);
    EXPECT_EQ(img.GetPaletteColor(0).rgbRed, zero.rgbRed);
    EXPECT_EQ(std::vector<uint8_t>(img.GetDIB(), img.GetDIB() + img.GetSize()), before);
}

TEST_F(PngEncode, PaletteAlphaAndTransparentIndexTogether) {
    VxImage img = MakeIndexed(20, 20, 4, 16);
    for (uint8_t i = 0; i < 16; ++i) {
        RGBQUAD c = img.GetPaletteColor(i);
        c.rgbReserved = uint8_t(255 - i * 10);
        img.SetPaletteColor(i, c);
    }
    img.AlphaPaletteEnable(true);
    img.SetTransIndex(3);
    const vt::Rgba expected = pngt::Visible(img);
    const Written w = Save(img, dir, "alpha_palette.png");
    ASSERT_NE(pngt::Find(w.chunks, "tRNS"), nullptr);
    EXPECT_EQ(pngt::Find(w.chunks, "tRNS")->data[0], 0);
    ExpectReferenceSees(w, expected);
}

TEST_F(PngEncode, TransparentColourOfTrueColourPictures) {
    VxImage img = vt::MakeGradient24(16, 8);
    const RGBQUAD key = img.GetPixelColor(3, 2, false);
    img.SetTransColor(key);
    img.SetTransIndex(0);
    vt::Rgba expected = vt::ToRgba(img);
    for (size_t i = 0; i < expected.px.size(); i += 4)
        if (expected.px[i] == key.rgbRed && expected.px[i + 1] == key.rgbGreen &&
            expected.px[i + 2] == key.rgbBlue)
            expected.px[i + 3] = 0;
    const Written w = Save(img, dir, "key.png");
    EXPECT_EQ(ColourType(w), 6);
    ExpectReferenceSees(w, expected);
    EXPECT_FALSE(img.AlphaIsValid());  // the caller gets no plane of its own

    // bKGD carries the transparent colour.
    const pngt::Chunk* bkgd = pngt::Find(w.chunks, "bKGD");
    ASSERT_NE(bkgd, nullptr);
    EXPECT_EQ(bkgd->data, (std::vector<uint8_t>{0, key.rgbRed, 0, key.rgbGreen, 0, key.rgbBlue}));
}

TEST_F(PngEncode, ResolutionAndBackgroundChunks) {
    VxImage img = vt::MakeGradient24(8, 8);
    img.SetXDPI(300);
    img.SetYDPI(72);
    const Written w = Save(img, dir, "phys.png");
    const pngt::Chunk* phys = pngt::Find(w.chunks, "pHYs");
    ASSERT_NE(phys, nullptr);
    EXPECT_EQ(pngt::BE32(&phys->data[0]), 11811u);
    EXPECT_EQ(pngt::BE32(&phys->data[4]), 2835u);
    EXPECT_EQ(phys->data[8], 1);
    const pngt::Chunk* bkgd = pngt::Find(w.chunks, "bKGD");
    ASSERT_NE(bkgd, nullptr);
    EXPECT_EQ(bkgd->data, (std::vector<uint8_t>{0, 255, 0, 255, 0, 255}));

    VxImage back(0);
    ASSERT_TRUE(back.Load(w.path.c_str(), VX_FORMAT_PNG));
    EXPECT_EQ(back.GetXDPI(), 300);
    EXPECT_EQ(back.GetYDPI(), 72);
}

TEST_F(PngEncode, FixturesSurviveARoundTrip) {
    for (const std::string& path : vt::FixtureFiles("png", {".png"})) {
        SCOPED_TRACE(path);
        VxImage img(0);
        ASSERT_TRUE(img.Load(path.c_str(), VX_FORMAT_PNG)) << img.GetLastError();
        const vt::Rgba expected = pngt::Visible(img);
        const Written w = Save(img, dir, "round.png");
        const auto ref = vt::DecodeWithReference(w.path, vt::Reference::Pillow);
        ASSERT_TRUE(ref.has_value());
        EXPECT_EQ(vt::MaxChannelDiff(expected, *ref, true), 0);
    }
}

// A stream that refuses writes after a few bytes (a full disk).
class FullDisk : public VxMemFile {
public:
    explicit FullDisk(size_t room) : room_(room) { Open(); }
    size_t Write(const void* buffer, size_t size, size_t count) override {
        if (size * count > room_) return 0;
        room_ -= size * count;
        return VxMemFile::Write(buffer, size, count);
    }

private:
    size_t room_;
};

TEST(PngEncodeFailure, WriteErrorsReportTheSaveTextSilently) {
    VxImage img = vt::MakeGradient24(64, 64);
    for (size_t room : {size_t(0), size_t(8), size_t(40), size_t(200)}) {
        FullDisk disk(room);
        testing::internal::CaptureStderr();
        const bool ok = img.Encode(&disk, VX_FORMAT_PNG);
        const std::string printed = testing::internal::GetCapturedStderr();
        EXPECT_FALSE(ok) << room;
        EXPECT_STREQ(img.GetLastError(), "Error saving PNG file");
        EXPECT_EQ(printed, "");
    }
    VxImage empty(0);
    VxMemFile mem;
    mem.Open();
    EXPECT_FALSE(empty.Encode(&mem, VX_FORMAT_PNG));
    EXPECT_STRNE(empty.GetLastError(), "");
}

}  // namespace
