#include <gtest/gtest.h>

#include <string>

#include "tests/codecs/jpeg/jpeg_test_util.h"
#include "tests/support/reference_decoder.h"

namespace {

// Smooth ramps with one hard-edged block: what q90 should keep at well over 38 dB.
VxImage Source() {
    VxImage img(64, 48, 24, 0);
    for (int y = 0; y < 48; ++y)
        for (int x = 0; x < 64; ++x) {
            const bool block = x >= 20 && x < 40 && y >= 12 && y < 30;
            img.SetPixelColor(x, y,
                              block ? vx::MakeRGBQUAD(200, 40, 40)
                                    : vx::MakeRGBQUAD(uint8_t(x * 4), uint8_t(y * 5),
                                                      uint8_t(128 + (x - y))));
        }
    return img;
}

// Runs the codec on a view of `src` with the given option word, as Save would.
std::vector<uint8_t> EncodeWith(const VxImage& src, uint32_t options, uint8_t quality = 90) {
    VxImage copy(src);
    copy.SetCodecOption(options, VX_FORMAT_JPG);
    copy.SetJpegQuality(quality);
    uint8_t* buffer = nullptr;
    int32_t size = 0;
    if (!copy.Encode(buffer, size, VX_FORMAT_JPG)) return {};
    std::vector<uint8_t> out(buffer, buffer + size);
    std::free(buffer);
    return out;
}

std::optional<vt::Rgba> ReadBack(const std::vector<uint8_t>& bytes, vt::TempDir& dir,
                                 const std::string& name) {
    const std::string path = dir.file(name);
    if (!vt::WriteFileBytes(path, bytes)) return {};
    return vt::DecodeWithReference(path, vt::Reference::Pillow);
}

// Component count of the first frame header.
int FrameComponents(const std::vector<uint8_t>& b) {
    size_t pos = 2;
    while (pos + 10 <= b.size() && b[pos] == 0xFF) {
        const int m = b[pos + 1];
        if (m >= 0xC0 && m <= 0xCF && m != 0xC4 && m != 0xC8 && m != 0xCC) return b[pos + 9];
        pos += 2 + ((b[pos + 2] << 8) | b[pos + 3]);
    }
    return -1;
}

bool HasMarker(const std::vector<uint8_t>& b, int marker) {
    for (int m : jt::Markers(b))
        if (m == marker) return true;
    return false;
}

// First quantisation table: precision and its first (DC) entry.
std::pair<int, int> FirstQuantTable(const std::vector<uint8_t>& b) {
    size_t pos = 2;
    while (pos + 8 <= b.size() && b[pos] == 0xFF) {
        if (b[pos + 1] == 0xDB) {
            const int pq = b[pos + 4] >> 4;
            return {pq, pq ? (b[pos + 5] << 8) | b[pos + 6] : b[pos + 5]};
        }
        pos += 2 + ((b[pos + 2] << 8) | b[pos + 3]);
    }
    return {-1, -1};
}

class JpegWrite : public ::testing::Test {
protected:
    void SetUp() override {
        if (!vt::ReferenceAvailable(vt::Reference::Pillow)) GTEST_SKIP() << "Pillow missing";
        src_ = Source();
        ASSERT_TRUE(src_.IsValid());
    }
    VxImage src_{0};
    vt::TempDir dir_;
};

TEST_F(JpegWrite, ColourFileCarriesDpiAndQualityNinety) {
    src_.SetXDPI(300);
    src_.SetYDPI(150);
    const std::string path = dir_.file("out.jpg");
    ASSERT_TRUE(src_.Save(path.c_str(), VX_FORMAT_JPG)) << src_.GetLastError();
    const auto bytes = vt::ReadFileBytes(path);
    const auto jfif = jt::ReadJfif(bytes);
    ASSERT_TRUE(jfif.has_value());
    EXPECT_EQ(jfif->unit, 1);
    EXPECT_EQ(jfif->x, 300);
    EXPECT_EQ(jfif->y, 150);
    EXPECT_EQ(FrameComponents(bytes), 3);
    // Standard luminance table scaled for quality 90: 16 * 20 / 100 rounded.
    EXPECT_EQ(FirstQuantTable(bytes), std::make_pair(0, 3));
    const auto ref = vt::DecodeWithReference(path, vt::Reference::Pillow);
    ASSERT_TRUE(ref.has_value());
    EXPECT_GT(vt::Psnr(vt::ToRgba(src_), *ref), 30.0);

    // The command-line encoder at quality 90 with its defaults makes the same
    // picture: colour order, subsampling and tables all agree.
    const vt::Rgba rgba = vt::ToRgba(src_);
    std::vector<uint8_t> ppm;
    const std::string head = "P6\n64 48\n255\n";
    ppm.assign(head.begin(), head.end());
    for (size_t i = 0; i < rgba.px.size(); i += 4) ppm.insert(ppm.end(), &rgba.px[i], &rgba.px[i + 3]);
    ASSERT_TRUE(vt::WriteFileBytes(dir_.file("src.ppm"), ppm));
    if (vt::RunCommand("cjpeg -quality 90 " + vt::ShellQuote(dir_.file("src.ppm")) + " > " +
                       vt::ShellQuote(dir_.file("cjpeg.jpg")) + " 2>/dev/null") != 0)
        GTEST_SKIP() << "cjpeg missing";
    const auto theirs = vt::DecodeWithReference(dir_.file("cjpeg.jpg"), vt::Reference::Pillow);
    ASSERT_TRUE(theirs.has_value());
    EXPECT_EQ(vt::MaxChannelDiff(*ref, *theirs), 0);
}

TEST_F(JpegWrite, GreyPictureWritesOneComponent) {
    VxImage grey(64, 48, 8, 0);
    grey.SetGrayPalette();
    for (int y = 0; y < 48; ++y)
        for (int x = 0; x < 64; ++x) grey.SetPixelIndex(x, y, uint8_t((x * 4 + y * 2) & 0xFF));
    grey.SetXDPI(200);
    grey.SetYDPI(200);
    uint8_t* buffer = nullptr;
    int32_t size = 0;
    ASSERT_TRUE(grey.Encode(buffer, size, VX_FORMAT_JPG)) << grey.GetLastError();
    const std::vector<uint8_t> bytes(buffer, buffer + size);
    std::free(buffer);
    EXPECT_EQ(FrameComponents(bytes), 1);
    EXPECT_EQ(jt::ReadJfif(bytes)->x, 200);
    const auto ref = ReadBack(bytes, dir_, "grey.jpg");
    ASSERT_TRUE(ref.has_value());
    EXPECT_GT(vt::Psnr(vt::ToRgba(grey), *ref), 38.0);
}

TEST_F(JpegWrite, ProgressiveArithmeticAndOptimisedKeepTheCoefficients) {
    const auto plain = EncodeWith(src_, 0);
    const auto progressive = EncodeWith(src_, VxImageJPG::EncodeProgressive);
    const auto optimised = EncodeWith(src_, VxImageJPG::EncodeOptimize);
    const auto arithmetic = EncodeWith(src_, VxImageJPG::EncodeArithmetic);
    ASSERT_FALSE(plain.empty());
    EXPECT_TRUE(HasMarker(plain, 0xC0));
    EXPECT_TRUE(HasMarker(progressive, 0xC2));
    EXPECT_TRUE(HasMarker(arithmetic, 0xC9));
    EXPECT_LT(optimised.size(), plain.size());
    const auto a = ReadBack(plain, dir_, "plain.jpg");
    ASSERT_TRUE(a.has_value());
    // Entropy coding changes the bytes, never the pixels.
    for (const auto* bytes : {&progressive, &optimised, &arithmetic}) {
        const auto b = ReadBack(*bytes, dir_, "variant.jpg");
        ASSERT_TRUE(b.has_value());
        EXPECT_EQ(vt::MaxChannelDiff(*a, *b), 0);
        EXPECT_EQ(jt::ReadJfif(*bytes)->unit, 1);
    }
}

TEST_F(JpegWrite, GreyscaleFlagAndQualityByte) {
    const auto grey = EncodeWith(src_, VxImageJPG::EncodeGrayscale);
    EXPECT_EQ(FrameComponents(grey), 1);
    const auto low = EncodeWith(src_, 0, 30);
    const auto high = EncodeWith(src_, 0, 90);
    EXPECT_LT(low.size(), high.size());
    // Quality 5 needs 16-bit tables unless baseline is forced.
    EXPECT_EQ(FirstQuantTable(EncodeWith(src_, 0, 5)).first, 1);
    const auto forced = FirstQuantTable(EncodeWith(src_, VxImageJPG::EncodeBaseline, 5));
    EXPECT_EQ(forced.first, 0);
    EXPECT_LE(forced.second, 255);
}

TEST(JpegEncode, RefusesColourPalettes) {
    VxImage pal(8, 8, 8, 0);
    pal.SetStdPalette();
    uint8_t* buffer = nullptr;
    int32_t size = 0;
    EXPECT_FALSE(pal.Encode(buffer, size, VX_FORMAT_JPG));
    EXPECT_STREQ(pal.GetLastError(), "JPEG 只能保存为RGB或灰度图像");
    VxImage mono(8, 8, 1, 0);
    EXPECT_FALSE(mono.Encode(buffer, size, VX_FORMAT_JPG));
    EXPECT_STREQ(mono.GetLastError(), "JPEG 只能保存为RGB或灰度图像");
    EXPECT_EQ(buffer, nullptr);
}

TEST(JpegEncode, WriteFailureIsReported) {
    VxImage img = vt::MakeGradient24(200, 150);
    for (size_t budget : {size_t(0), size_t(100), size_t(5000)}) {
        jt::ShortWriteFile f(budget);
        VxImage* view = &img;
        // Through the dispatch, which gives the codec a view of the picture.
        EXPECT_FALSE(view->Encode(&f, VX_FORMAT_JPG)) << budget;
        EXPECT_STREQ(view->GetLastError(), "Output file write error --- out of disk space?") << budget;
    }
}

}  // namespace
