// Decoding fixtures written by independent tools, compared with an independent
// decoder; the component, frame and detection rules of the family codec.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "codecs/jpeg2000/vx_jpeg2000_codec.h"
#include "tests/support/reference_decoder.h"
#include "tests/support/test_support.h"

namespace {

struct Fixture {
    const char* file;
    uint32_t format;
    int bpp;
    double minPsnr;             // 0: compare by the largest difference
    int maxDiff = 0;            // largest channel difference allowed
    const char* ref = nullptr;  // another file with the same picture, for the reference decoder
};

bool DecodeFile(VxImage& img, const std::string& path, uint32_t type) {
    std::vector<uint8_t> bytes = vt::ReadFileBytes(path);
    return img.Decode(bytes.data(), uint32_t(bytes.size()), type);
}

class FixtureDecode : public ::testing::TestWithParam<Fixture> {};

TEST_P(FixtureDecode, MatchesIndependentDecoder) {
    if (!vt::ReferenceAvailable(vt::Reference::ImageMagick)) GTEST_SKIP() << "ImageMagick absent";
    const Fixture& f = GetParam();
    const std::string path = vt::DataPath(std::string("jpeg2000/") + f.file);
    VxImage img(0);
    ASSERT_TRUE(DecodeFile(img, path, f.format)) << img.GetLastError();
    EXPECT_EQ(img.GetType(), f.format);
    EXPECT_EQ(img.GetBpp(), f.bpp);
    const auto ref = vt::DecodeWithReference(
        f.ref ? vt::DataPath(std::string("jpeg2000/") + f.ref) : path, vt::Reference::ImageMagick);
    ASSERT_TRUE(ref.has_value());
    const vt::Rgba mine = vt::ToRgba(img);
    if (f.minPsnr == 0) {
        const int diff = vt::MaxChannelDiff(mine, *ref, false);
        EXPECT_GE(diff, 0);
        EXPECT_LE(diff, f.maxDiff);
    } else {
        ASSERT_EQ(vt::MaxChannelDiff(mine, *ref, false) >= 0, true);
        EXPECT_GE(vt::Psnr(mine, *ref), f.minPsnr);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Fixtures, FixtureDecode,
    ::testing::Values(Fixture{"rgb8_lossless.jp2", VX_FORMAT_JP2, 24, 0},
                      Fixture{"rgb8_lossy.j2k", VX_FORMAT_JPC, 24, 40},
                      Fixture{"grey8_lossy.jp2", VX_FORMAT_JP2, 8, 40},
                      Fixture{"grey8_lossless.j2k", VX_FORMAT_JPC, 8, 0},
                      Fixture{"rgb16_lossless.jp2", VX_FORMAT_JP2, 24, 0},
                      Fixture{"rgb16_lossy.j2k", VX_FORMAT_JPC, 24, 40},
                      Fixture{"rgb8_icc.jp2", VX_FORMAT_JP2, 24, 45},
                      // rounding of the YCbCr matrix differs by one at most
                      Fixture{"sycc420.jp2", VX_FORMAT_JP2, 24, 0, 1},
                      Fixture{"grey8.pgx", VX_FORMAT_PGX, 8, 0},
                      // the reference rounds twice (through 16 bits) for maxvals 4095 and 100
                      Fixture{"grey12.pgx", VX_FORMAT_PGX, 8, 0, 1, "grey12_source.pgm"},
                      Fixture{"grey12_source.pgm", VX_FORMAT_PNM, 8, 0, 1},
                      Fixture{"p1.pbm", VX_FORMAT_PNM, 1, 0},
                      Fixture{"p2_max100.pgm", VX_FORMAT_PNM, 8, 0, 1},
                      Fixture{"p3.ppm", VX_FORMAT_PNM, 24, 0},
                      Fixture{"p4.pbm", VX_FORMAT_PNM, 1, 0},
                      Fixture{"p5.pgm", VX_FORMAT_PNM, 8, 0},
                      Fixture{"p6.ppm", VX_FORMAT_PNM, 24, 0},
                      Fixture{"p6_16bit.ppm", VX_FORMAT_PNM, 24, 0},
                      Fixture{"mono1.ras", VX_FORMAT_RAS, 1, 0},
                      Fixture{"grey8.ras", VX_FORMAT_RAS, 24, 0},
                      Fixture{"map8.ras", VX_FORMAT_RAS, 24, 0},
                      Fixture{"map8_rle.ras", VX_FORMAT_RAS, 24, 0},
                      Fixture{"rgb24.ras", VX_FORMAT_RAS, 24, 0},
                      Fixture{"rgba32.ras", VX_FORMAT_RAS, 24, 0}),
    [](const ::testing::TestParamInfo<Fixture>& info) {
        std::string name = info.param.file;
        for (char& c : name)
            if (!isalnum(static_cast<unsigned char>(c))) c = '_';
        return name;
    });

// The content decides: every fixture is read whatever family code is asked for,
// also when probing (code 0), and its type names what was found.
TEST(Jpeg2000Detect, ContentDecidesTheFormat) {
    const struct {
        const char* file;
        uint32_t format;
    } files[] = {{"rgb8_lossless.jp2", VX_FORMAT_JP2}, {"grey8_lossless.j2k", VX_FORMAT_JPC},
                 {"grey8.pgx", VX_FORMAT_PGX},         {"p6.ppm", VX_FORMAT_PNM},
                 {"rgb24.ras", VX_FORMAT_RAS}};
    for (const auto& f : files) {
        const std::string path = vt::DataPath(std::string("jpeg2000/") + f.file);
        for (uint32_t asked : {11u, 12u, 13u, 14u, 15u}) {
            VxImage img(0);
            ASSERT_TRUE(DecodeFile(img, path, asked))
                << f.file << " as " << asked << ": " << img.GetLastError();
            EXPECT_EQ(img.GetType(), f.format) << f.file << " as " << asked;
        }
        // The probe calls the codec with code 0 (directly here: the probe tries
        // the other codecs first).
        std::vector<uint8_t> bytes = vt::ReadFileBytes(path);
        VxMemFile file(bytes.data(), uint32_t(bytes.size()));
        VxJpeg2000Codec codec;
        ASSERT_TRUE(codec.Decode(&file, 0)) << f.file << ": " << codec.GetLastError();
        EXPECT_EQ(codec.GetType(), f.format) << f.file;
    }
}

TEST(Jpeg2000Detect, BmpGivenAsJp2GoesThroughTheBmpCodec) {
    VxImage src = vt::MakeGradient24(9, 5);
    uint8_t* bmp = nullptr;
    int32_t size = 0;
    ASSERT_TRUE(src.Encode(bmp, size, VX_FORMAT_BMP));
    VxImage img(0);
    const bool ok = img.Decode(bmp, uint32_t(size), VX_FORMAT_JP2);
    std::free(bmp);
    ASSERT_TRUE(ok) << img.GetLastError();
    EXPECT_EQ(img.GetType(), VX_FORMAT_BMP);
    EXPECT_EQ(vt::MaxChannelDiff(vt::ToRgba(img), vt::ToRgba(src)), 0);
}

TEST(Jpeg2000Detect, UnknownContentFailsWithTheLoadText) {
    uint8_t junk[64];
    for (size_t i = 0; i < sizeof(junk); ++i) junk[i] = uint8_t(i * 7 + 3);
    VxJpeg2000Codec codec;
    VxMemFile file(junk, sizeof(junk));
    EXPECT_FALSE(codec.Decode(&file, VX_FORMAT_JP2));
    EXPECT_STREQ(codec.GetLastError(), "error: cannot load image data");
    EXPECT_FALSE(codec.Decode(static_cast<VxFile*>(nullptr), VX_FORMAT_JP2));
}

// Data that starts after other bytes: the library's seeks must stay relative
// to where the picture begins.
TEST(Jpeg2000Detect, DecodesFromTheMiddleOfAStream) {
    std::vector<uint8_t> bytes(37, 0xAB);
    const auto jp2 = vt::ReadFileBytes(vt::DataPath("jpeg2000/rgb8_lossless.jp2"));
    bytes.insert(bytes.end(), jp2.begin(), jp2.end());
    VxMemFile file(bytes.data(), uint32_t(bytes.size()));
    file.Seek(37, SEEK_SET);
    VxJpeg2000Codec codec;
    ASSERT_TRUE(codec.Decode(&file, 0)) << codec.GetLastError();
    VxImage whole(0);
    ASSERT_TRUE(DecodeFile(whole, vt::DataPath("jpeg2000/rgb8_lossless.jp2"), VX_FORMAT_JP2));
    EXPECT_EQ(vt::MaxChannelDiff(vt::ToRgba(codec), vt::ToRgba(whole)), 0);
}

// Opacity (marked by a JP2 file, the last component of a bare code stream)
// becomes the alpha plane; CMYK becomes RGB.
TEST(Jpeg2000Components, OpacityAndInks) {
    if (!vt::ReferenceAvailable(vt::Reference::ImageMagick)) GTEST_SKIP() << "ImageMagick absent";
    const struct {
        const char* file;
        const char* reference;  // the reference tool's reading when it cannot read `file`
        int bpp;
        bool alpha;
        int tolerance;
    } cases[] = {
        {"rgba_lossless.jp2", nullptr, 24, true, 0},
        {"rgba_lossy.j2k", nullptr, 24, true, 0},
        {"greya_lossless.jp2", nullptr, 8, true, 0},
        // OpenJPEG's decoder truncates where this one rounds.
        {"cmyk.jp2", "cmyk_reference.png", 24, false, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        const std::string path = vt::DataPath(std::string("jpeg2000/") + c.file);
        VxImage img(0);
        ASSERT_TRUE(DecodeFile(img, path, VX_FORMAT_JP2)) << img.GetLastError();
        EXPECT_EQ(img.GetBpp(), c.bpp);
        EXPECT_EQ(img.AlphaIsValid(), c.alpha);
        EXPECT_EQ(img.GetNumFrames(), 0);
        const auto ref = vt::DecodeWithReference(
            c.reference ? vt::DataPath(std::string("jpeg2000/") + c.reference) : path,
            vt::Reference::ImageMagick);
        ASSERT_TRUE(ref.has_value());
        EXPECT_LE(vt::MaxChannelDiff(vt::ToRgba(img), *ref, c.alpha), c.tolerance);
    }
}

// Components nothing marks beyond a colour space's own are read one at a
// time as frames: grey pictures of the selected component.
TEST(Jpeg2000Components, UnmarkedExtraComponentsAreFramesOfGrey) {
    if (!vt::ReferenceAvailable(vt::Reference::ImageMagick)) GTEST_SKIP() << "ImageMagick absent";
    const std::string path = vt::DataPath("jpeg2000/four_unmarked.jp2");
    const auto ref = vt::DecodeWithReference(path, vt::Reference::ImageMagick);
    ASSERT_TRUE(ref.has_value());
    const vt::Rgba& rgba = *ref;
    for (int frame : {0, 3}) {
        VxImage img(0);
        img.SetFrame(frame);
        ASSERT_TRUE(DecodeFile(img, path, VX_FORMAT_JP2)) << img.GetLastError();
        EXPECT_EQ(img.GetBpp(), 8);
        EXPECT_EQ(img.GetNumFrames(), 4);
        EXPECT_TRUE(img.IsGrayScale());
        // Component 0 is red, component 3 what the reference calls alpha.
        int worst = 0;
        for (int y = 0; y < rgba.height; ++y)
            for (int x = 0; x < rgba.width; ++x) {
                const int want = rgba.at(x, y)[frame == 0 ? 0 : 3];
                worst = std::max(worst, std::abs(want - img.GetPixelIndex(x, rgba.height - 1 - y)));
            }
        EXPECT_EQ(worst, 0) << "frame " << frame;
    }
    VxImage img(0);
    img.SetFrame(4);
    EXPECT_FALSE(DecodeFile(img, path, VX_FORMAT_JP2));
    EXPECT_STREQ(img.GetLastError(), "wrong frame!");
}

// sYCC with opacity keeps colour and alpha wherever the channels list the opacity.
TEST(Jpeg2000Components, SyccOpacityInAnyChannelOrder) {
    for (const char* name : {"jpeg2000/sycc_alpha_last.jp2", "jpeg2000/sycc_alpha_first.jp2"}) {
        VxImage img(0);
        ASSERT_TRUE(DecodeFile(img, vt::DataPath(name), VX_FORMAT_JP2) && img.AlphaIsValid()) << name;
        for (int x = 0; x < 8; ++x) EXPECT_EQ(img.AlphaGet(x, 3), 50 + 20 * x) << name;
        EXPECT_GT(img.GetPixelColor(4, 3, false).rgbRed, img.GetPixelColor(4, 3, false).rgbBlue + 100);  // Cb 90, Cr 170
    }
}

// A main header of tiny tiles over a large picture: the library would keep
// parameters for each of its 51984 tiles and 64 components (4 GB) before
// reading any data. Bare, and as a JP2 file's last box.
std::vector<uint8_t> ManyTiles(bool jp2) {
    std::vector<uint8_t> b;
    const auto put = [&b](uint64_t v, int n) {
        for (int i = n - 1; i >= 0; --i) b.push_back(uint8_t(v >> (8 * i)));
    };
    if (jp2) {
        put(0x0000000C6A502020, 8), put(0x0D0A870A, 4);                     // signature
        put(20, 4), put(0x66747970, 4), put(0x6A703220, 4), put(0, 4), put(0x6A703220, 4);  // ftyp
        put(0, 4), put(0x6A703263, 4);                                      // jp2c, to the end
    }
    put(0xFF4FFF51, 4), put(38 + 3 * 64, 2), put(0, 2), put(2048, 4), put(2048, 4), put(0, 8);
    put(9, 4), put(9, 4), put(0, 8), put(64, 2);
    for (int c = 0; c < 64; ++c) put(0x070101, 3);
    put(0xFFD9, 2);
    return b;
}

TEST(Jpeg2000Components, HeadersThatWouldCostGigabytesAreRefused) {
    const std::tuple<std::vector<uint8_t>, uint32_t, const char*> cases[] = {
        {vt::ReadFileBytes(vt::DataPath("jpeg2000/comps65.j2k")), VX_FORMAT_JPC, "error: too much components"},
        {ManyTiles(false), VX_FORMAT_JPC, "error: the code stream declares more tiles than it holds"},
        {ManyTiles(true), VX_FORMAT_JP2, "error: the code stream declares more tiles than it holds"}};
    for (const auto& [bytes, format, text] : cases) {
        VxImage img(0);
        img.SetEscape(-1);  // the size-only pass too
        EXPECT_FALSE(vt::DecodeBytes(bytes, format, img)) << text;
        EXPECT_STREQ(img.GetLastError(), text);
    }
}

VxImage DecodeBytes(const std::string& bytes, bool expectOk = true) {
    VxImage img(0);
    std::vector<uint8_t> copy(bytes.begin(), bytes.end());
    const bool ok = img.Decode(copy.data(), uint32_t(copy.size()), VX_FORMAT_PGX);
    EXPECT_EQ(ok, expectOk) << img.GetLastError();
    return img;
}

TEST(Jpeg2000Pgx, DepthsSignsAndByteOrders) {
    // 1-bit samples give a 1-bit picture.
    VxImage one = DecodeBytes(std::string("PG ML + 1 3 2\n") + std::string("\1\0\1\0\1\0", 6));
    ASSERT_TRUE(one.IsValid());
    EXPECT_EQ(one.GetBpp(), 1);
    EXPECT_EQ(one.GetPixelColor(0, 1).rgbRed, 255);  // top-left
    EXPECT_EQ(one.GetPixelColor(1, 1).rgbRed, 0);
    EXPECT_EQ(one.GetPixelColor(1, 0).rgbRed, 255);  // bottom row: 0 1 0

    // Signed 8-bit: -128 is black, 127 white.
    VxImage sgnd = DecodeBytes(std::string("PG ML -8 2 1\n") + std::string("\x80\x7F", 2));
    ASSERT_TRUE(sgnd.IsValid());
    EXPECT_EQ(sgnd.GetPixelColor(0, 0).rgbRed, 0);
    EXPECT_EQ(sgnd.GetPixelColor(1, 0).rgbRed, 255);

    // 16 bits little-endian: 0xFFFF is white, 0x8000 mid grey.
    VxImage le = DecodeBytes(std::string("PG LM + 16 2 1\n") + std::string("\xFF\xFF\x00\x80", 4));
    ASSERT_TRUE(le.IsValid());
    EXPECT_EQ(le.GetBpp(), 8);
    EXPECT_EQ(le.GetPixelColor(0, 0).rgbRed, 255);
    EXPECT_EQ(le.GetPixelColor(1, 0).rgbRed, 128);

    // A short file fails.
    DecodeBytes(std::string("PG ML + 8 4 4\n") + std::string("\1\2\3", 3), false);
}

TEST(Jpeg2000Pnm, CommentsAndOddMaxvals) {
    VxImage img(0);
    std::string pgm = "P2\n# a comment\n3 1 # more\n7\n0 7 3\n";
    std::vector<uint8_t> bytes(pgm.begin(), pgm.end());
    ASSERT_TRUE(img.Decode(bytes.data(), uint32_t(bytes.size()), VX_FORMAT_PNM)) << img.GetLastError();
    EXPECT_EQ(img.GetBpp(), 8);
    EXPECT_EQ(img.GetPixelColor(0, 0).rgbRed, 0);
    EXPECT_EQ(img.GetPixelColor(1, 0).rgbRed, 255);
    EXPECT_EQ(img.GetPixelColor(2, 0).rgbRed, 109);  // 3 of 7

    // Samples above maxval stay white rather than wrapping.
    std::string raw = std::string("P5 2 1 15\n") + std::string("\x0F\x30", 2);
    bytes.assign(raw.begin(), raw.end());
    ASSERT_TRUE(img.Decode(bytes.data(), uint32_t(bytes.size()), VX_FORMAT_PNM));
    EXPECT_EQ(img.GetBpp(), 4);
    EXPECT_EQ(img.GetPixelColor(0, 0).rgbRed, 255);
    EXPECT_EQ(img.GetPixelColor(1, 0).rgbRed, 255);

    img.SetMaxPixels(0);  // a short file's text, not the limit's
    for (const char* bad : {"P5 0 1 255\n", "P5 1 1 0\n\1", "P5 1 1 65536\n\1\1", "P2 2 1 255\n1",
                            "P1 2 2\n0 1 2 0", "P6 99999 99999 255\n"}) {
        bytes.assign(bad, bad + std::strlen(bad));
        EXPECT_FALSE(img.Decode(bytes.data(), uint32_t(bytes.size()), VX_FORMAT_PNM)) << bad;
        EXPECT_STREQ(img.GetLastError(), "error: cannot load image data") << bad;
    }
}

std::vector<uint8_t> RasHeader(uint32_t w, uint32_t h, uint32_t depth, uint32_t type,
                               uint32_t mapType, uint32_t mapLength) {
    std::vector<uint8_t> b(32);
    const uint32_t v[8] = {0x59A66A95, w, h, depth, 0, type, mapType, mapLength};
    for (int i = 0; i < 8; ++i) vx::StoreBE32(&b[4 * i], v[i]);
    return b;
}

TEST(Jpeg2000Ras, ByteEncodedRunsAndEscapes) {
    // 5x2 grey, rows padded to 6 bytes: a literal 0x80 escape and runs across rows.
    std::vector<uint8_t> b = RasHeader(5, 2, 8, 2, 0, 0);
    const uint8_t body[] = {0x80, 0x00, 0x10, 0x80, 0x05, 0x20, 0x30, 0x80, 0x01, 0x40, 0x00};
    b.insert(b.end(), body, body + sizeof(body));
    VxImage img(0);
    ASSERT_TRUE(img.Decode(b.data(), uint32_t(b.size()), VX_FORMAT_RAS)) << img.GetLastError();
    ASSERT_EQ(img.GetBpp(), 8);
    const uint8_t top[5] = {0x80, 0x10, 0x20, 0x20, 0x20};
    const uint8_t bottom[5] = {0x20, 0x20, 0x30, 0x40, 0x40};
    for (int x = 0; x < 5; ++x) {
        EXPECT_EQ(img.GetPixelColor(x, 1).rgbRed, top[x]) << x;
        EXPECT_EQ(img.GetPixelColor(x, 0).rgbRed, bottom[x]) << x;
    }

    // A run cut short fails instead of inventing pixels.
    std::vector<uint8_t> cut = RasHeader(5, 2, 8, 2, 0, 0);
    cut.push_back(0x80);
    cut.push_back(0x03);
    VxImage bad(0);
    EXPECT_FALSE(bad.Decode(cut.data(), uint32_t(cut.size()), VX_FORMAT_RAS));
    EXPECT_STREQ(bad.GetLastError(), "error: cannot load image data");
}

}  // namespace
