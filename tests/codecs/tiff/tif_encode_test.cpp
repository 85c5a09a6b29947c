// Writing: every layout Vellumar writes must read back in an independent
// decoder, with the tags the layout calls for.
#include <gtest/gtest.h>
#include <tiffio.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "codecs/tiff/vx_image_tif.h"
#include "tests/support/reference_decoder.h"
#include "tests/support/test_support.h"

namespace {

struct Tags {
    uint16_t photometric = 0, compression = 0, predictor = 1, spp = 0, bps = 0, subfile = 0;
    uint16_t extraCount = 0, page = 0, pages = 0;
    uint32_t rowsPerStrip = 0;
    float xres = 0;
    std::vector<uint16_t> red, green, blue;
    int directories = 0;
};

Tags ReadTags(const std::string& path, int dir = 0) {
    Tags t;
    TIFF* tif = TIFFOpen(path.c_str(), "r");
    if (!tif) return t;
    t.directories = TIFFNumberOfDirectories(tif);
    TIFFSetDirectory(tif, tdir_t(dir));
    TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &t.photometric);
    TIFFGetField(tif, TIFFTAG_COMPRESSION, &t.compression);
    TIFFGetField(tif, TIFFTAG_PREDICTOR, &t.predictor);
    TIFFGetField(tif, TIFFTAG_SAMPLESPERPIXEL, &t.spp);
    TIFFGetField(tif, TIFFTAG_BITSPERSAMPLE, &t.bps);
    TIFFGetField(tif, TIFFTAG_ROWSPERSTRIP, &t.rowsPerStrip);
    TIFFGetField(tif, TIFFTAG_XRESOLUTION, &t.xres);
    uint32_t subfile = 0;
    TIFFGetField(tif, TIFFTAG_SUBFILETYPE, &subfile);
    t.subfile = uint16_t(subfile);
    TIFFGetField(tif, TIFFTAG_PAGENUMBER, &t.page, &t.pages);
    uint16_t* extra = nullptr;
    TIFFGetField(tif, TIFFTAG_EXTRASAMPLES, &t.extraCount, &extra);
    uint16_t *r = nullptr, *g = nullptr, *b = nullptr;
    if (t.photometric == PHOTOMETRIC_PALETTE && TIFFGetField(tif, TIFFTAG_COLORMAP, &r, &g, &b)) {
        const size_t n = size_t(1) << t.bps;
        t.red.assign(r, r + n);
        t.green.assign(g, g + n);
        t.blue.assign(b, b + n);
    }
    TIFFClose(tif);
    return t;
}

// Indexed picture with a diagonal pattern over all its colours.
VxImage MakeIndexed(int bpp, bool grey, int w = 37, int h = 23) {
    VxImage img(uint32_t(w), uint32_t(h), uint32_t(bpp), 0);
    const int n = 1 << bpp;
    for (int i = 0; i < n; ++i) {
        if (grey)
            img.SetPaletteColor(
                uint8_t(i), vx::MakeRGBQUAD(uint8_t(i * 255 / (n - 1)), uint8_t(i * 255 / (n - 1)),
                                            uint8_t(i * 255 / (n - 1))));
        else
            img.SetPaletteColor(uint8_t(i), vx::MakeRGBQUAD(uint8_t(i * 37), uint8_t(255 - i * 11),
                                                            uint8_t(i * 5 + 60)));
    }
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) img.SetPixelIndex(x, y, uint8_t((x + 2 * y) % n));
    return img;
}

void AddAlpha(VxImage& img) {
    ASSERT_TRUE(img.AlphaCreate());
    for (int y = 0; y < int(img.GetHeight()); ++y)
        for (int x = 0; x < int(img.GetWidth()); ++x)
            img.AlphaSet(x, y, uint8_t((x * 19 + y * 7) % 256));
}

// Saves, reads back with Pillow and compares with the picture as it is now.
void ExpectReadBack(VxImage& img, const std::string& path, double minPsnr = -1) {
    ASSERT_TRUE(img.Save(path.c_str(), VX_FORMAT_TIF)) << img.GetLastError();
    if (!vt::ReferenceAvailable(vt::Reference::Pillow)) GTEST_SKIP();
    const auto ref = vt::DecodeWithReference(path, vt::Reference::Pillow);
    ASSERT_TRUE(ref.has_value()) << path;
    if (minPsnr < 0)
        EXPECT_EQ(vt::MaxChannelDiff(vt::ToRgba(img), *ref, true), 0) << path;
    else
        EXPECT_GE(vt::Psnr(vt::ToRgba(img), *ref), minPsnr) << path;
}

TEST(TifEncode, BlackFirstBilevelIsNormalisedToMinIsWhiteGroup4) {
    VxImage img = MakeIndexed(1, true);
    ASSERT_EQ(img.GetPaletteColor(0).rgbRed, 0);
    const vt::Rgba before = vt::ToRgba(img);
    const uint8_t firstIndex = img.GetPixelIndex(0, 0);
    vt::TempDir dir;
    ExpectReadBack(img, dir.file("bw.tif"));
    // The caller's picture was normalised too, and still looks the same.
    EXPECT_EQ(img.GetPaletteColor(0).rgbRed, 255);
    EXPECT_EQ(img.GetPaletteColor(1).rgbRed, 0);
    EXPECT_EQ(img.GetPixelIndex(0, 0), 1 - firstIndex);
    EXPECT_EQ(vt::MaxChannelDiff(before, vt::ToRgba(img)), 0);
    const Tags t = ReadTags(dir.file("bw.tif"));
    EXPECT_EQ(t.photometric, PHOTOMETRIC_MINISWHITE);
    EXPECT_EQ(t.compression, COMPRESSION_CCITTFAX4);
    EXPECT_EQ(t.subfile, 0);
}

TEST(TifEncode, TwoColourPaletteKeepsItsColours) {
    VxImage img = MakeIndexed(1, false);
    vt::TempDir dir;
    ExpectReadBack(img, dir.file("duo.tif"));
    EXPECT_EQ(ReadTags(dir.file("duo.tif")).photometric, PHOTOMETRIC_PALETTE);
}

TEST(TifEncode, FourBitGreyAndPalette) {
    vt::TempDir dir;
    VxImage grey = MakeIndexed(4, true);
    ExpectReadBack(grey, dir.file("g4.tif"));
    Tags t = ReadTags(dir.file("g4.tif"));
    EXPECT_EQ(t.photometric, PHOTOMETRIC_MINISBLACK);
    EXPECT_EQ(t.bps, 4);
    EXPECT_EQ(t.compression, COMPRESSION_LZW);
    EXPECT_EQ(t.predictor, 1);

    VxImage pal = MakeIndexed(4, false);
    ExpectReadBack(pal, dir.file("p4.tif"));
    t = ReadTags(dir.file("p4.tif"));
    EXPECT_EQ(t.photometric, PHOTOMETRIC_PALETTE);
    ASSERT_EQ(t.red.size(), 16u);
    EXPECT_EQ(t.red[3], 3 * 37 * 257);
}

TEST(TifEncode, EightBitGreyIsMinIsBlackLzwWithPredictor) {
    vt::TempDir dir;
    VxImage grey = MakeIndexed(8, true, 300, 20);
    ExpectReadBack(grey, dir.file("g8.tif"));
    const Tags t = ReadTags(dir.file("g8.tif"));
    EXPECT_EQ(t.photometric, PHOTOMETRIC_MINISBLACK);
    EXPECT_EQ(t.compression, COMPRESSION_LZW);
    EXPECT_EQ(t.predictor, PREDICTOR_HORIZONTAL);
    // The predictor works on a scratch row: the picture is untouched.
    EXPECT_EQ(grey.GetPixelIndex(5, 0), 5);
}

TEST(TifEncode, EightBitColourWritesFullColorMap) {
    vt::TempDir dir;
    VxImage pal = MakeIndexed(8, false);
    ExpectReadBack(pal, dir.file("p8.tif"));
    const Tags t = ReadTags(dir.file("p8.tif"));
    EXPECT_EQ(t.photometric, PHOTOMETRIC_PALETTE);
    ASSERT_EQ(t.red.size(), 256u);
    for (int i : {0, 1, 100, 255}) {
        const RGBQUAD c = pal.GetPaletteColor(uint8_t(i));
        EXPECT_EQ(t.red[i], c.rgbRed * 257);
        EXPECT_EQ(t.green[i], c.rgbGreen * 257);
        EXPECT_EQ(t.blue[i], c.rgbBlue * 257);
    }
}

TEST(TifEncode, TrueColourDefaultsToJpegWithQuality) {
    vt::TempDir dir;
    VxImage img = vt::MakeGradient24(90, 61);
    img.SetJpegQuality(95);
    ExpectReadBack(img, dir.file("q95.tif"), 35.0);
    const Tags t = ReadTags(dir.file("q95.tif"));
    EXPECT_EQ(t.compression, COMPRESSION_JPEG);
    EXPECT_EQ(t.photometric, PHOTOMETRIC_RGB);
    EXPECT_EQ(t.rowsPerStrip % 8, 0u);
    img.SetJpegQuality(20);
    ASSERT_TRUE(img.Save(dir.file("q20.tif").c_str(), VX_FORMAT_TIF));
    EXPECT_LT(vt::ReadFileBytes(dir.file("q20.tif")).size(),
              vt::ReadFileBytes(dir.file("q95.tif")).size());
}

TEST(TifEncode, TrueColourLosslessWhenAsked) {
    vt::TempDir dir;
    VxImage img = vt::MakeGradient24(45, 33);
    img.SetCodecOption(COMPRESSION_ADOBE_DEFLATE, VX_FORMAT_TIF);
    ExpectReadBack(img, dir.file("zip.tif"));
    EXPECT_EQ(ReadTags(dir.file("zip.tif")).compression, COMPRESSION_ADOBE_DEFLATE);
}

// Alpha is written losslessly whatever was asked: a JPEG-coded RGBA page is
// shown with wrong colours by common readers.
TEST(TifEncode, AlphaPlaneBecomesUnassociatedAlphaSampleLosslessly) {
    vt::TempDir dir;
    const struct {
        uint32_t option;
        uint16_t written;
    } cases[] = {
        {0, COMPRESSION_LZW},
        {COMPRESSION_JPEG, COMPRESSION_LZW},
        {COMPRESSION_ADOBE_DEFLATE, COMPRESSION_ADOBE_DEFLATE},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.option);
        VxImage img = vt::MakeGradient24(45, 33);
        AddAlpha(img);
        img.SetCodecOption(c.option, VX_FORMAT_TIF);
        const std::string path = dir.file("rgba" + std::to_string(c.option) + ".tif");
        ExpectReadBack(img, path);
        const Tags t = ReadTags(path);
        EXPECT_EQ(t.compression, c.written);
        EXPECT_EQ(t.spp, 4);
        EXPECT_EQ(t.extraCount, 1);
        if (c.written == COMPRESSION_LZW) {
            EXPECT_EQ(t.predictor, PREDICTOR_HORIZONTAL);
        }
    }
}

TEST(TifEncode, GreyWithAlphaWritesTwoSamples) {
    vt::TempDir dir;
    VxImage img = MakeIndexed(8, true);
    AddAlpha(img);
    ExpectReadBack(img, dir.file("la.tif"));
    EXPECT_EQ(ReadTags(dir.file("la.tif")).spp, 2);
}

TEST(TifEncode, CompressionOfTheLoadedFileIsKept) {
    vt::TempDir dir;
    for (const char* name : {"rgb_lzw.tif", "g4_miniswhite.tif", "rgb_packbits.tif"}) {
        VxImage img(0);
        ASSERT_TRUE(img.Load(vt::DataPath(std::string("tiff/") + name).c_str(), VX_FORMAT_TIF));
        const uint32_t option = img.GetCodecOption(VX_FORMAT_TIF);
        ExpectReadBack(img, dir.file(name));
        EXPECT_EQ(ReadTags(dir.file(name)).compression, option) << name;
    }
}

TEST(TifEncode, SchemeLibtiffCannotWriteFallsBackToDefault) {
    vt::TempDir dir;
    VxImage img(0);
    ASSERT_TRUE(img.Load(vt::DataPath("tiff/rgb_none.tif").c_str(), VX_FORMAT_TIF));
    for (uint32_t option : {uint32_t(COMPRESSION_OJPEG), uint32_t(COMPRESSION_CCITTFAX4), 40000u}) {
        img.SetCodecOption(option, VX_FORMAT_TIF);
        const std::string path = dir.file("fallback" + std::to_string(option) + ".tif");
        ExpectReadBack(img, path, 35.0);
        EXPECT_EQ(ReadTags(path).compression, COMPRESSION_JPEG);
    }
    // A JPEG option on a palette page would destroy the indices.
    VxImage pal = MakeIndexed(8, false);
    pal.SetCodecOption(COMPRESSION_JPEG, VX_FORMAT_TIF);
    ExpectReadBack(pal, dir.file("paljpeg.tif"));
    EXPECT_EQ(ReadTags(dir.file("paljpeg.tif")).compression, COMPRESSION_LZW);
}

TEST(TifEncode, ResolutionIsWrittenInInches) {
    vt::TempDir dir;
    VxImage img = MakeIndexed(8, true);
    img.SetXDPI(300);
    img.SetYDPI(150);
    ASSERT_TRUE(img.Save(dir.file("dpi.tif").c_str(), VX_FORMAT_TIF));
    EXPECT_FLOAT_EQ(ReadTags(dir.file("dpi.tif")).xres, 300.0f);
    VxImage back(0);
    ASSERT_TRUE(back.Load(dir.file("dpi.tif").c_str(), VX_FORMAT_TIF));
    EXPECT_EQ(back.GetXDPI(), 300);
    EXPECT_EQ(back.GetYDPI(), 150);
}

TEST(TifEncode, MultiPageThroughTheDispatch) {
    vt::TempDir dir;
    VxImage rgb = vt::MakeGradient24(40, 30);
    rgb.SetCodecOption(COMPRESSION_LZW, VX_FORMAT_TIF);
    VxImage pal = MakeIndexed(8, false, 25, 17);
    VxImage bw = MakeIndexed(1, true, 33, 9);
    VxImage* pages[] = {&rgb, &pal, &bw};
    const std::string path = dir.file("pages.tif");
    FILE* fp = std::fopen(path.c_str(), "w+b");
    ASSERT_TRUE(fp);
    VxImage holder(0);
    const bool ok = holder.Encode(fp, pages, 3, VX_FORMAT_TIF);
    std::fclose(fp);
    ASSERT_TRUE(ok) << holder.GetLastError();

    for (int i = 0; i < 3; ++i) {
        const Tags t = ReadTags(path, i);
        EXPECT_EQ(t.directories, 3);
        EXPECT_EQ(t.subfile, FILETYPE_PAGE);
        EXPECT_EQ(t.page, i);
        EXPECT_EQ(t.pages, 3);
        if (vt::ReferenceAvailable(vt::Reference::Pillow)) {
            const auto ref = vt::DecodeWithReference(path, vt::Reference::Pillow, i);
            ASSERT_TRUE(ref.has_value()) << i;
            EXPECT_EQ(vt::MaxChannelDiff(vt::ToRgba(*pages[i]), *ref), 0) << i;
        }
        VxImage back(0);
        back.SetFrame(i);
        ASSERT_TRUE(back.Load(path.c_str(), VX_FORMAT_TIF));
        EXPECT_EQ(back.GetNumFrames(), 3);
        EXPECT_EQ(vt::MaxChannelDiff(vt::ToRgba(*pages[i]), vt::ToRgba(back)), 0) << i;
    }
}

TEST(TifEncode, AppendKeepsTheHandleOpenUntilTheCodecGoes) {
    VxMemFile file;
    ASSERT_TRUE(file.Open());
    {
        VxImageTIF codec;
        ASSERT_TRUE(codec.Create(20, 10, 24));
        codec.SetCodecOption(COMPRESSION_LZW, VX_FORMAT_TIF);
        ASSERT_TRUE(codec.Encode(&file, true)) << codec.GetLastError();
        ASSERT_TRUE(codec.Encode(&file, true)) << codec.GetLastError();
    }
    VxImage back(0);
    back.SetFrame(1);
    ASSERT_TRUE(back.Decode(file.GetBuffer(false), uint32_t(file.Size()), VX_FORMAT_TIF))
        << back.GetLastError();
    EXPECT_EQ(back.GetNumFrames(), 2);
    EXPECT_EQ(back.GetWidth(), 20u);
}

// A stream that accepts only so many bytes, like a full disk.
class FullDisk : public VxMemFile {
public:
    explicit FullDisk(int32_t limit) : limit_(limit) { Open(); }
    size_t Write(const void* buffer, size_t size, size_t count) override {
        if (Tell() + int64_t(size * count) > limit_) return 0;
        return VxMemFile::Write(buffer, size, count);
    }

private:
    int32_t limit_;
};

TEST(TifEncode, FailuresAreReported) {
    VxImage empty(0);
    uint8_t* buf = nullptr;
    int32_t size = 0;
    EXPECT_FALSE(empty.Encode(buf, size, VX_FORMAT_TIF));
    EXPECT_STREQ(empty.GetLastError(), "没有图像!!!");

    VxImage img = vt::MakeGradient24(64, 64);
    img.SetCodecOption(COMPRESSION_NONE, VX_FORMAT_TIF);
    FullDisk disk(2000);
    EXPECT_FALSE(img.Encode(&disk, VX_FORMAT_TIF));
    EXPECT_NE(std::string(img.GetLastError()).find("Error saving TIFF"), std::string::npos)
        << img.GetLastError();

    VxImage holder(0);
    EXPECT_FALSE(holder.Encode(&disk, static_cast<VxImage**>(nullptr), 0, VX_FORMAT_TIF));
    EXPECT_STREQ(holder.GetLastError(), "multipage TIFF, no images!");
    VxImage* pages[] = {&img, nullptr};
    VxMemFile mem;
    ASSERT_TRUE(mem.Open());
    EXPECT_FALSE(holder.Encode(&mem, pages, 2, VX_FORMAT_TIF));
    EXPECT_STREQ(holder.GetLastError(), "Bad image pointer");
}

}  // namespace
