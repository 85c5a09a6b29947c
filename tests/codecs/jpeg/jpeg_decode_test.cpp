#include <gtest/gtest.h>

#include <tuple>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <ostream>
#include <string>

#include "tests/codecs/jpeg/jpeg_test_util.h"
#include "tests/support/reference_decoder.h"

namespace {

using jt::DecodePath;

struct DecodeCase {
    const char* file;
    int bpp;
    int maxDiff;  // against Pillow, which runs the same libjpeg-turbo IDCT
};

void PrintTo(const DecodeCase& c, std::ostream* os) { *os << c.file; }

class JpegFixtureDecode : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(JpegFixtureDecode, PixelsMatchAnIndependentDecoder) {
    if (!vt::ReferenceAvailable(vt::Reference::Pillow)) GTEST_SKIP() << "Pillow missing";
    const DecodeCase c = GetParam();
    const std::string path = vt::DataPath(std::string("jpeg/") + c.file);
    VxImageJPG img;
    ASSERT_TRUE(DecodePath(path, img)) << img.GetLastError();
    EXPECT_EQ(img.GetBpp(), c.bpp);
    EXPECT_EQ(img.GetWidth(), 64u);
    EXPECT_EQ(img.GetHeight(), 48u);
    const auto ref = vt::DecodeWithReference(path, vt::Reference::Pillow);
    ASSERT_TRUE(ref.has_value());
    EXPECT_LE(vt::MaxChannelDiff(vt::ToRgba(img), *ref), c.maxDiff);
}

// CMYK goes through Pillow's own rounded conversion, hence 1.
INSTANTIATE_TEST_SUITE_P(
    Fixtures, JpegFixtureDecode,
    ::testing::Values(DecodeCase{"baseline_420.jpg", 24, 0}, DecodeCase{"baseline_444.jpg", 24, 0},
                      DecodeCase{"progressive.jpg", 24, 0}, DecodeCase{"grey.jpg", 8, 0},
                      DecodeCase{"arithmetic.jpg", 24, 0}, DecodeCase{"restart.jpg", 24, 0},
                      DecodeCase{"cmyk_adobe.jpg", 24, 1}, DecodeCase{"exif_intel.jpg", 24, 0},
                      DecodeCase{"many_sections.jpg", 24, 0}),
    [](const auto& info) {
        std::string n = info.param.file;
        return n.substr(0, n.find('.'));
    });

TEST(JpegDecode, ImageMagickAgreesByPsnr) {
    if (!vt::ReferenceAvailable(vt::Reference::ImageMagick)) GTEST_SKIP() << "ImageMagick missing";
    for (const char* f : {"baseline_420.jpg", "progressive.jpg", "cmyk_adobe.jpg", "arithmetic.jpg"}) {
        const std::string path = vt::DataPath(std::string("jpeg/") + f);
        VxImageJPG img;
        ASSERT_TRUE(DecodePath(path, img)) << f << ": " << img.GetLastError();
        const auto ref = vt::DecodeWithReference(path, vt::Reference::ImageMagick);
        ASSERT_TRUE(ref.has_value()) << f;
        EXPECT_GT(vt::Psnr(vt::ToRgba(img), *ref), 40.0) << f;
    }
}

TEST(JpegDecode, GreyFileGivesIdentityGreyPalette) {
    VxImageJPG img;
    ASSERT_TRUE(DecodePath(vt::DataPath("jpeg/grey.jpg"), img));
    EXPECT_EQ(img.GetNumColors(), 256u);
    EXPECT_TRUE(img.IsGrayScale());
}

TEST(JpegDecode, CmykUsesTheMultiplicationRule) {
    // The samples as libjpeg delivers them (Adobe files store them inverted;
    // Pillow undoes that on load, the script redoes it).
    vt::TempDir dir;
    const std::string path = vt::DataPath("jpeg/cmyk_adobe.jpg");
    const std::string raw = dir.file("cmyk.raw");
    const std::string py =
        "from PIL import Image; import sys; im = Image.open(sys.argv[1]); "
        "open(sys.argv[2], 'wb').write(bytes(255 - b for b in im.tobytes()))";
    if (vt::RunCommand("/usr/bin/python3 -c " + vt::ShellQuote(py) + " " + vt::ShellQuote(path) +
                       " " + vt::ShellQuote(raw) + " 2>/dev/null") != 0)
        GTEST_SKIP() << "Pillow missing";
    const auto s = vt::ReadFileBytes(raw);
    ASSERT_EQ(s.size(), size_t(64 * 48 * 4));

    VxImageJPG img;
    ASSERT_TRUE(DecodePath(path, img));
    const vt::Rgba got = vt::ToRgba(img);
    for (int i = 0; i < 64 * 48; ++i) {
        const unsigned c = s[4 * i], m = s[4 * i + 1], y = s[4 * i + 2], k = s[4 * i + 3];
        ASSERT_EQ(got.px[4 * i + 0], k * c / 255) << i;
        ASSERT_EQ(got.px[4 * i + 1], k * m / 255) << i;
        ASSERT_EQ(got.px[4 * i + 2], k * y / 255) << i;
    }
}

TEST(JpegDecode, DensityGivesDpi) {
    struct {
        const char* file;
        int dpi;
    } cases[] = {
        {"density_dpi72.jpg", 72},
        {"density_dpcm118.jpg", 300},  // 118 per cm
        // Unit 0 is an aspect ratio (here 1:1), not a resolution: the default stays.
        {"density_unit0.jpg", 96},
    };
    for (const auto& c : cases) {
        VxImageJPG img;
        img.SetXDPI(600);  // a caller's earlier value must not leak through
        img.SetYDPI(600);
        ASSERT_TRUE(DecodePath(vt::DataPath(std::string("jpeg/") + c.file), img)) << c.file;
        EXPECT_EQ(img.GetXDPI(), c.dpi) << c.file;
        EXPECT_EQ(img.GetYDPI(), c.dpi) << c.file;
    }
}

TEST(JpegDecode, ZeroDensityBecomesDefault) {
    auto bytes = vt::ReadFileBytes(vt::DataPath("jpeg/density_dpi72.jpg"));
    ASSERT_EQ(jt::ReadJfif(bytes)->unit, 1);
    bytes[14] = bytes[15] = 0;  // X density 0
    bytes[16] = 0;
    bytes[17] = 150;
    VxImageJPG img;
    ASSERT_TRUE(jt::DecodeBytes(bytes, img)) << img.GetLastError();
    EXPECT_EQ(img.GetXDPI(), 96);
    EXPECT_EQ(img.GetYDPI(), 150);
}

TEST(JpegDecode, TruncatedFileCompletesWithInsertedEndMarker) {
    const auto full = vt::ReadFileBytes(vt::DataPath("jpeg/baseline_420.jpg"));
    VxImageJPG whole, cut;
    ASSERT_TRUE(jt::DecodeBytes(full, whole));
    cut.SetAllowTruncated(true);
    ASSERT_TRUE(DecodePath(vt::DataPath("jpeg/truncated.jpg"), cut)) << cut.GetLastError();
    ASSERT_EQ(cut.GetWidth(), 64u);
    ASSERT_EQ(cut.GetHeight(), 48u);
    // The rows before the cut are the full decode's rows.
    const vt::Rgba a = vt::ToRgba(whole), b = vt::ToRgba(cut);
    EXPECT_EQ(std::memcmp(a.px.data(), b.px.data(), 64 * 8 * 4), 0);
    EXPECT_NE(a.px, b.px);
}

// Coded data cut short fails unless allowed; only the end marker missing (0%) is whole.
TEST(JpegDecode, CutFilesFailUnlessAllowed) {
    for (const auto& [file, keep, allow] : {std::tuple{"baseline_420", 33, false}, {"baseline_420", 90, false},
             {"progressive", 50, false}, {"restart", 60, false}, {"baseline_420", 33, true},
             {"progressive", 50, true}, {"baseline_420", 0, false}, {"progressive", 0, false}}) {
        auto bytes = vt::ReadFileBytes(vt::DataPath(std::string("jpeg/") + file + ".jpg"));
        bytes.resize(keep ? bytes.size() * size_t(keep) / 100 : bytes.size() - 2);
        VxImageJPG img;
        img.SetAllowTruncated(allow);
        EXPECT_EQ(jt::DecodeBytes(bytes, img), allow || !keep) << file << keep << img.GetLastError();
    }
}

TEST(JpegDecode, FailuresCarryTheLibraryMessage) {
    VxImageJPG notJpeg;
    const std::vector<uint8_t> junk = {'G', 'I', 'F', '8', '9', 'a', 0, 0, 0, 0};
    EXPECT_FALSE(jt::DecodeBytes(junk, notJpeg));
    EXPECT_STREQ(notJpeg.GetLastError(), "Not a JPEG file: starts with 0x47 0x49");
    EXPECT_FALSE(notJpeg.GetExifInfo().isExif);

    VxImageJPG empty;
    uint8_t none = 0;
    VxMemFile f(&none, 0);
    EXPECT_FALSE(empty.Decode(&f));
    EXPECT_STREQ(empty.GetLastError(), "Empty input file");

    // Header only: the frame is declared, the scan never comes.
    auto bytes = vt::ReadFileBytes(vt::DataPath("jpeg/baseline_420.jpg"));
    bytes.resize(40);
    VxImageJPG cut;
    EXPECT_FALSE(jt::DecodeBytes(bytes, cut));
    EXPECT_STRNE(cut.GetLastError(), "");
}

TEST(JpegDecode, LibraryMessagesNeverReachTheTerminal) {
    fflush(stderr);
    fflush(stdout);
    vt::TempDir dir;
    const std::string capture = dir.file("err.txt");
    FILE* sink = std::fopen(capture.c_str(), "w");
    ASSERT_NE(sink, nullptr);
    const int savedErr = dup(2), savedOut = dup(1);
    dup2(fileno(sink), 2);
    dup2(fileno(sink), 1);
    for (const char* f : {"truncated.jpg", "exif_bad_format.jpg", "exif_bad_cycle.jpg"}) {
        VxImageJPG img;
        DecodePath(vt::DataPath(std::string("jpeg/") + f), img);
    }
    auto bytes = vt::ReadFileBytes(vt::DataPath("jpeg/baseline_420.jpg"));
    for (size_t i = 600; i < 700; ++i) bytes[i] ^= 0x5A;  // corrupt entropy data: warnings
    VxImageJPG damaged;
    jt::DecodeBytes(bytes, damaged);
    fflush(stderr);
    fflush(stdout);
    dup2(savedErr, 2);
    dup2(savedOut, 1);
    close(savedErr);
    close(savedOut);
    std::fclose(sink);
    EXPECT_TRUE(vt::ReadFileBytes(capture).empty());
}

TEST(JpegDecode, ScaleByteFollowsTheOldLibrarySteps) {
    const std::string path = vt::DataPath("jpeg/baseline_444.jpg");
    struct {
        uint8_t scale;
        uint32_t w, h;
    } cases[] = {{0, 64, 48}, {1, 64, 48}, {2, 32, 24}, {3, 32, 24},
                 {4, 16, 12}, {7, 16, 12}, {8, 8, 6},   {255, 8, 6}};
    for (const auto& c : cases) {
        VxImageJPG img;
        img.SetJpegScale(c.scale);
        ASSERT_TRUE(DecodePath(path, img)) << int(c.scale);
        EXPECT_EQ(img.GetWidth(), c.w) << int(c.scale);
        EXPECT_EQ(img.GetHeight(), c.h) << int(c.scale);
    }
}

TEST(JpegDecode, ScaledPixelsMatchTheCommandLineDecoder) {
    vt::TempDir dir;
    const std::string path = vt::DataPath("jpeg/baseline_420.jpg");
    const std::string ppm = dir.file("half.ppm");
    if (vt::RunCommand("djpeg -scale 1/2 -pnm " + vt::ShellQuote(path) + " > " +
                       vt::ShellQuote(ppm) + " 2>/dev/null") != 0)
        GTEST_SKIP() << "djpeg missing";
    const auto ref = vt::DecodeWithReference(ppm, vt::Reference::Pillow);
    ASSERT_TRUE(ref.has_value());
    VxImageJPG img;
    img.SetJpegScale(2);
    ASSERT_TRUE(DecodePath(path, img));
    EXPECT_EQ(vt::MaxChannelDiff(vt::ToRgba(img), *ref), 0);
}

TEST(JpegDecode, SizeOnlyRequestCreatesNoPixels) {
    VxImageJPG img;
    img.SetEscape(-1);
    img.SetJpegScale(4);
    ASSERT_TRUE(DecodePath(vt::DataPath("jpeg/progressive.jpg"), img));
    EXPECT_FALSE(img.IsValid());
    EXPECT_EQ(img.GetWidth(), 16u);
    EXPECT_EQ(img.GetHeight(), 12u);
}

TEST(JpegDecode, CancelFailsWithoutPicture) {
    VxImage target(0);
    target.SetEscape(1);
    EXPECT_FALSE(target.Load(vt::DataPath("jpeg/baseline_420.jpg").c_str(), VX_FORMAT_JPG));
    EXPECT_FALSE(target.IsValid());
}

// The command-line decoder applies the same library options: its output is the reference.
std::optional<vt::Rgba> Djpeg(const std::string& args, const std::string& path, vt::TempDir& dir) {
    const std::string out = dir.file("djpeg.pnm");
    if (vt::RunCommand("djpeg " + args + " -pnm " + vt::ShellQuote(path) + " > " +
                       vt::ShellQuote(out) + " 2>/dev/null") != 0)
        return {};
    return vt::DecodeWithReference(out, vt::Reference::Pillow);
}

TEST(JpegDecode, OptionWordSelectsGreyAndQuantisedOutput) {
    vt::TempDir dir;
    const std::string path = vt::DataPath("jpeg/baseline_444.jpg");
    const auto greyRef = Djpeg("-grayscale", path, dir);
    if (!greyRef) GTEST_SKIP() << "djpeg missing";

    VxImageJPG grey;
    grey.SetCodecOption(VxImageJPG::DecodeGrayscale, VX_FORMAT_JPG);
    ASSERT_TRUE(DecodePath(path, grey)) << grey.GetLastError();
    EXPECT_EQ(grey.GetBpp(), 8);
    EXPECT_TRUE(grey.IsGrayScale());
    EXPECT_EQ(vt::MaxChannelDiff(vt::ToRgba(grey), *greyRef), 0);

    // Two-pass quantiser with Floyd-Steinberg dithering, djpeg's default too.
    VxImageJPG quant;
    quant.SetJpegQuality(64);  // the colour count
    quant.SetCodecOption(VxImageJPG::DecodeQuantize, VX_FORMAT_JPG);
    ASSERT_TRUE(DecodePath(path, quant)) << quant.GetLastError();
    EXPECT_EQ(quant.GetBpp(), 8);
    int maxIndex = 0;
    for (uint32_t y = 0; y < quant.GetHeight(); ++y)
        for (uint32_t x = 0; x < quant.GetWidth(); ++x)
            maxIndex = std::max<int>(maxIndex, quant.GetPixelIndex(int(x), int(y)));
    EXPECT_LT(maxIndex, 64);
    const auto quantRef = Djpeg("-colors 64", path, dir);
    ASSERT_TRUE(quantRef.has_value());
    EXPECT_EQ(vt::MaxChannelDiff(vt::ToRgba(quant), *quantRef), 0);

    // One pass, ordered dither, no fancy upsampling.
    VxImageJPG onePass;
    onePass.SetJpegQuality(27);
    onePass.SetDitherMode(1);  // ordered
    onePass.SetCodecOption(VxImageJPG::DecodeQuantize | VxImageJPG::DecodeOnePass |
                               VxImageJPG::DecodeDither | VxImageJPG::DecodeNoSmooth,
                           VX_FORMAT_JPG);
    const std::string p420 = vt::DataPath("jpeg/baseline_420.jpg");
    ASSERT_TRUE(DecodePath(p420, onePass)) << onePass.GetLastError();
    const auto oneRef = Djpeg("-colors 27 -onepass -dither ordered -nosmooth", p420, dir);
    ASSERT_TRUE(oneRef.has_value());
    EXPECT_EQ(vt::MaxChannelDiff(vt::ToRgba(onePass), *oneRef), 0);

    // A grey file quantised: the palette holds the quantiser's levels, not a ramp.
    VxImageJPG greyQuant;
    greyQuant.SetJpegQuality(16);
    greyQuant.SetCodecOption(VxImageJPG::DecodeQuantize, VX_FORMAT_JPG);
    const std::string pgrey = vt::DataPath("jpeg/grey.jpg");
    ASSERT_TRUE(DecodePath(pgrey, greyQuant)) << greyQuant.GetLastError();
    const auto greyQuantRef = Djpeg("-colors 16", pgrey, dir);
    ASSERT_TRUE(greyQuantRef.has_value());
    EXPECT_EQ(vt::MaxChannelDiff(vt::ToRgba(greyQuant), *greyQuantRef), 0);
}

TEST(JpegDecode, UnknownFormatProbeFindsJpeg) {
    VxImage img(0);
    ASSERT_TRUE(img.Load(vt::DataPath("jpeg/progressive.jpg").c_str(), 0)) << img.GetLastError();
    EXPECT_EQ(img.GetWidth(), 64u);
    EXPECT_EQ(img.GetBpp(), 24);
}

}  // namespace
