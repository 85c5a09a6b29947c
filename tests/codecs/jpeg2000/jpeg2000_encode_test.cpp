// Writing the five formats: independent decoders read what Vellumar writes,
// quality trades size for fidelity with 100 lossless, and the refusals.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "codecs/jpeg2000/vx_jpeg2000_codec.h"
#include "tests/support/reference_decoder.h"
#include "tests/support/test_support.h"

namespace {

const uint32_t kFamily[] = {VX_FORMAT_JP2, VX_FORMAT_JPC, VX_FORMAT_PGX, VX_FORMAT_PNM,
                            VX_FORMAT_RAS};

const char* Extension(uint32_t format) {
    switch (format) {
        case VX_FORMAT_JP2: return ".jp2";
        case VX_FORMAT_JPC: return ".j2k";
        case VX_FORMAT_PGX: return ".pgx";
        case VX_FORMAT_PNM: return ".pnm";
        default: return ".ras";
    }
}

VxImage MakeGrey(int w, int h) {
    VxImage img(uint32_t(w), uint32_t(h), 8, 0);
    img.SetGrayPalette();
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) img.SetPixelIndex(x, y, uint8_t((x * 11 + y * 29) & 0xFF));
    return img;
}

std::vector<uint8_t> EncodeToBytes(VxImage& img, uint32_t format) {
    uint8_t* buf = nullptr;
    int32_t size = 0;
    if (!img.Encode(buf, size, format)) return {};
    std::vector<uint8_t> out(buf, buf + size);
    std::free(buf);
    return out;
}

// Every format at quality 100 is exact: an independent decoder sees our pixels.
TEST(Jpeg2000Encode, IndependentDecodersReadWhatWeWrite) {
    if (!vt::ReferenceAvailable(vt::Reference::ImageMagick)) GTEST_SKIP() << "ImageMagick absent";
    vt::TempDir dir;
    VxImage colour = vt::MakeGradient24(45, 37);
    VxImage grey = MakeGrey(45, 37);
    colour.SetJpegQuality(100);
    grey.SetJpegQuality(100);
    for (uint32_t format : kFamily) {
        for (VxImage* img : {&colour, &grey}) {
            if (format == VX_FORMAT_PGX && img == &colour) continue;
            const std::string path =
                dir.file(std::string("out") + (img == &grey ? "_grey" : "_rgb") + Extension(format));
            ASSERT_TRUE(img->Save(path.c_str(), format)) << path << ": " << img->GetLastError();
            const auto ref = vt::DecodeWithReference(path, vt::Reference::ImageMagick);
            ASSERT_TRUE(ref.has_value()) << path;
            EXPECT_EQ(vt::MaxChannelDiff(*ref, vt::ToRgba(*img), false), 0) << path;

            VxImage back(0);
            ASSERT_TRUE(back.Load(path.c_str(), format)) << back.GetLastError();
            EXPECT_EQ(back.GetType(), format);
            EXPECT_EQ(back.GetBpp(), img == &grey ? 8 : 24) << path;
            EXPECT_EQ(vt::MaxChannelDiff(vt::ToRgba(back), vt::ToRgba(*img)), 0) << path;
        }
    }
}

// A second independent reader for the JPEG-2000 files (Pillow's OpenJPEG path)
// and netpbm for the PNM and Sun raster files.
TEST(Jpeg2000Encode, PillowAndNetpbmReadOurFiles) {
    if (!vt::ReferenceAvailable(vt::Reference::Pillow)) GTEST_SKIP() << "Pillow absent";
    vt::TempDir dir;
    VxImage colour = vt::MakeGradient24(40, 33);
    colour.SetJpegQuality(100);
    for (uint32_t format : {VX_FORMAT_JP2, VX_FORMAT_JPC, VX_FORMAT_PNM, VX_FORMAT_RAS}) {
        const std::string path = dir.file(std::string("p") + Extension(format));
        ASSERT_TRUE(colour.Save(path.c_str(), format));
        const auto ref = vt::DecodeWithReference(path, vt::Reference::Pillow);
        ASSERT_TRUE(ref.has_value()) << path;
        EXPECT_EQ(vt::MaxChannelDiff(*ref, vt::ToRgba(colour), false), 0) << path;
    }
    if (vt::RunCommand("command -v rasttopnm >/dev/null 2>&1") != 0) GTEST_SKIP() << "netpbm absent";
    const std::string ras = dir.file("p.ras");
    const std::string ppm = dir.file("p_netpbm.ppm");
    ASSERT_EQ(vt::RunCommand("rasttopnm " + vt::ShellQuote(ras) + " > " + vt::ShellQuote(ppm) +
                             " 2>/dev/null"),
              0);
    const auto viaNetpbm = vt::DecodeWithReference(ppm, vt::Reference::Pillow);
    ASSERT_TRUE(viaNetpbm.has_value());
    EXPECT_EQ(vt::MaxChannelDiff(*viaNetpbm, vt::ToRgba(colour), false), 0);
}

TEST(Jpeg2000Encode, OpenJpegToolsReadOurJp2AndPgx) {
    if (vt::RunCommand("command -v opj_decompress >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "OpenJPEG tools absent";
    vt::TempDir dir;
    VxImage grey = MakeGrey(50, 20);
    grey.SetJpegQuality(100);
    const std::string jp2 = dir.file("g.jp2");
    ASSERT_TRUE(grey.Save(jp2.c_str(), VX_FORMAT_JP2));
    const std::string pgm = dir.file("g.pgm");
    ASSERT_EQ(vt::RunCommand("opj_decompress -i " + vt::ShellQuote(jp2) + " -o " + vt::ShellQuote(pgm) +
                             " >/dev/null 2>&1"),
              0);
    const auto ref = vt::DecodeWithReference(pgm, vt::Reference::Pillow);
    ASSERT_TRUE(ref.has_value());
    EXPECT_EQ(vt::MaxChannelDiff(*ref, vt::ToRgba(grey), false), 0);

    // PGX in, code stream out: OpenJPEG's encoder accepts our PGX.
    const std::string pgx = dir.file("g.pgx");
    const std::string j2k = dir.file("g_from_pgx.j2k");
    ASSERT_TRUE(grey.Save(pgx.c_str(), VX_FORMAT_PGX));
    ASSERT_EQ(vt::RunCommand("opj_compress -i " + vt::ShellQuote(pgx) + " -o " + vt::ShellQuote(j2k) +
                             " -n 3 >/dev/null 2>&1"),
              0);
    VxImage back(0);
    ASSERT_TRUE(back.Load(j2k.c_str(), VX_FORMAT_JPC)) << back.GetLastError();
    EXPECT_EQ(vt::MaxChannelDiff(vt::ToRgba(back), vt::ToRgba(grey)), 0);
}

// Opacity goes out as one more component, black and white as grey; the
// reference tool (Pillow: ImageMagick takes two components for colours) and
// this reader both get them back.
TEST(Jpeg2000Encode, OpacityAndBlackAndWhite) {
    if (!vt::ReferenceAvailable(vt::Reference::Pillow)) GTEST_SKIP() << "Pillow absent";
    vt::TempDir dir;
    VxImage rgba = vt::MakeGradient24(31, 17);
    VxImage greyAlpha = MakeGrey(31, 17);
    for (VxImage* img : {&rgba, &greyAlpha}) {
        ASSERT_TRUE(img->AlphaCreate());
        for (int y = 0; y < 17; ++y)
            for (int x = 0; x < 31; ++x) img->AlphaSet(x, y, uint8_t(x * 8 + y * 5));
    }
    // White first: the grey levels, not the indices, are written.
    VxImage bw(31, 17, 1, 0);
    bw.SetPaletteColor(0, 255, 255, 255);
    bw.SetPaletteColor(1, 0, 0, 0);
    for (int y = 0; y < 17; ++y)
        for (int x = 0; x < 31; ++x) bw.SetPixelIndex(x, y, uint8_t((x + y / 3) & 1));
    const struct {
        VxImage* img;
        uint32_t format;
        int bpp;  // read back
    } cases[] = {
        {&rgba, VX_FORMAT_JP2, 24},      {&rgba, VX_FORMAT_JPC, 24}, {&greyAlpha, VX_FORMAT_JP2, 8},
        {&greyAlpha, VX_FORMAT_JPC, 8}, {&bw, VX_FORMAT_JP2, 8},     {&bw, VX_FORMAT_JPC, 8},
        {&bw, VX_FORMAT_PNM, 8},        {&bw, VX_FORMAT_RAS, 8},
    };
    int n = 0;
    for (const auto& c : cases) {
        const std::string path = dir.file("o" + std::to_string(n++) + Extension(c.format));
        SCOPED_TRACE(path);
        c.img->SetJpegQuality(100);
        ASSERT_TRUE(c.img->Save(path.c_str(), c.format)) << c.img->GetLastError();
        const auto ref = vt::DecodeWithReference(path, vt::Reference::Pillow);
        ASSERT_TRUE(ref.has_value());
        EXPECT_EQ(vt::MaxChannelDiff(*ref, vt::ToRgba(*c.img), true), 0);
        VxImage back(0);
        ASSERT_TRUE(back.Load(path.c_str(), c.format)) << back.GetLastError();
        EXPECT_EQ(back.GetBpp(), c.bpp);
        EXPECT_EQ(back.AlphaIsValid(), c.img->AlphaIsValid());
        EXPECT_EQ(vt::MaxChannelDiff(vt::ToRgba(back), vt::ToRgba(*c.img), true), 0);
    }
}

// Lower quality, smaller file, lower fidelity; 100 is exact.
TEST(Jpeg2000Encode, QualityTradesSizeForFidelity) {
    for (uint32_t format : {VX_FORMAT_JP2, VX_FORMAT_JPC}) {
        VxImage img = vt::MakeGradient24(128, 96);
        const vt::Rgba original = vt::ToRgba(img);
        size_t lastSize = SIZE_MAX;
        double lastPsnr = INFINITY;
        for (int q : {100, 90, 75, 50, 25, 5}) {
            img.SetJpegQuality(uint8_t(q));
            const std::vector<uint8_t> bytes = EncodeToBytes(img, format);
            ASSERT_FALSE(bytes.empty()) << q << ": " << img.GetLastError();
            VxImage back(0);
            std::vector<uint8_t> copy = bytes;
            ASSERT_TRUE(back.Decode(copy.data(), uint32_t(copy.size()), format)) << back.GetLastError();
            const double psnr = vt::Psnr(vt::ToRgba(back), original);
            if (q == 100) {
                EXPECT_EQ(vt::MaxChannelDiff(vt::ToRgba(back), original), 0);
            }
            if (q == 90) {
                EXPECT_GE(psnr, 40.0);
            }
            EXPECT_LT(bytes.size(), lastSize) << "quality " << q;
            EXPECT_LE(psnr, lastPsnr) << "quality " << q;
            lastSize = bytes.size();
            lastPsnr = psnr;
        }
    }
}

// Sides under 32 pixels need fewer resolution levels than the library's default.
TEST(Jpeg2000Encode, TinyPicturesRoundTrip) {
    for (auto [w, h] : {std::pair{1, 1}, {3, 2}, {33, 1}, {1, 40}}) {
        for (uint32_t format : kFamily) {
            VxImage img = MakeGrey(w, h);
            img.SetJpegQuality(100);
            const auto bytes = EncodeToBytes(img, format);
            ASSERT_FALSE(bytes.empty()) << w << "x" << h << " " << format << ": " << img.GetLastError();
            std::vector<uint8_t> copy = bytes;
            VxImage back(0);
            ASSERT_TRUE(back.Decode(copy.data(), uint32_t(copy.size()), format)) << back.GetLastError();
            EXPECT_EQ(vt::MaxChannelDiff(vt::ToRgba(back), vt::ToRgba(img)), 0)
                << w << "x" << h << " " << format;
        }
        VxImage colour = vt::MakeGradient24(w, h);
        colour.SetJpegQuality(60);
        EXPECT_FALSE(EncodeToBytes(colour, VX_FORMAT_JP2).empty()) << colour.GetLastError();
    }
}

TEST(Jpeg2000Encode, RefusesWhatTheFormatsCannotHold) {
    VxImage colour = vt::MakeGradient24(8, 8);
    EXPECT_TRUE(EncodeToBytes(colour, VX_FORMAT_PGX).empty());
    EXPECT_STREQ(colour.GetLastError(), "PGX can save only GrayScale images");
    VxImage grey = MakeGrey(8, 8);
    EXPECT_FALSE(EncodeToBytes(grey, VX_FORMAT_PGX).empty()) << grey.GetLastError();

    VxImage palette(8, 8, 8, 0);
    palette.SetPaletteColor(1, 200, 10, 10);
    for (uint32_t format : kFamily) {
        palette.SetLastError("");
        EXPECT_TRUE(EncodeToBytes(palette, format).empty());
        EXPECT_STREQ(palette.GetLastError(), "Jpeg2000 只能保存为RGB或灰度图像") << format;
    }
    VxImage empty(0);
    EXPECT_TRUE(EncodeToBytes(empty, VX_FORMAT_JP2).empty());
}

// A stream that stops taking bytes: the save must fail, not pass for done.
class FullDisk : public VxMemFile {
public:
    explicit FullDisk(size_t room) : room_(room) { Open(); }
    size_t Write(const void* b, size_t size, size_t count) override {
        const size_t bytes = size * count;
        if (written_ + bytes > room_) return 0;
        written_ += bytes;
        return VxMemFile::Write(b, size, count);
    }

private:
    size_t room_;
    size_t written_ = 0;
};

TEST(Jpeg2000Encode, WriteFailuresAreReported) {
    VxImage img = vt::MakeGradient24(64, 64);
    for (uint32_t format : {VX_FORMAT_JP2, VX_FORMAT_JPC, VX_FORMAT_PNM, VX_FORMAT_RAS}) {
        FullDisk disk(100);
        img.SetLastError("");
        EXPECT_FALSE(img.Encode(&disk, format)) << format;
        EXPECT_STREQ(img.GetLastError(), "error: cannot encode image\n") << format;
    }
}

// Writing after other bytes keeps the file's internal offsets right.
TEST(Jpeg2000Encode, Jp2WrittenAfterAPrefixReadsBack) {
    VxImage img = vt::MakeGradient24(30, 20);
    img.SetJpegQuality(100);
    VxMemFile file;
    ASSERT_TRUE(file.Open());
    ASSERT_EQ(file.Write("prefix", 1, 6), 6u);
    ASSERT_TRUE(img.Encode(&file, VX_FORMAT_JP2)) << img.GetLastError();
    file.Seek(6, SEEK_SET);
    VxJpeg2000Codec back;
    ASSERT_TRUE(back.Decode(&file, VX_FORMAT_JP2)) << back.GetLastError();
    EXPECT_EQ(vt::MaxChannelDiff(vt::ToRgba(back), vt::ToRgba(img)), 0);
}

// Library messages are kept inside the codec.
TEST(Jpeg2000Encode, LibraryMessagesAreNotPrinted) {
    auto bytes = vt::ReadFileBytes(vt::DataPath("jpeg2000/rgb8_lossless.jp2"));
    bytes.resize(bytes.size() / 2);
    testing::internal::CaptureStderr();
    VxImage img(0);
    const bool ok = img.Decode(bytes.data(), uint32_t(bytes.size()), VX_FORMAT_JP2);
    const std::string printed = testing::internal::GetCapturedStderr();
    EXPECT_FALSE(ok);
    EXPECT_STREQ(img.GetLastError(), "error: cannot load image data");
    EXPECT_EQ(printed, "");
}

// The command line names the family formats it reads.
TEST(Jpeg2000Encode, InfoNamesTheFormat) {
    vt::TempDir dir;
    VxImage img = vt::MakeGradient24(10, 10);
    const std::string out = dir.file("x.ras");
    ASSERT_TRUE(img.Save(out.c_str(), VX_FORMAT_RAS));
    const std::string log = dir.file("info.txt");
    ASSERT_EQ(vt::RunCommand(std::string(VELLUMAR_CLI) + " --info " + vt::ShellQuote(out) + " > " +
                             vt::ShellQuote(log)),
              0);
    const auto text = vt::ReadFileBytes(log);
    EXPECT_NE(std::string(text.begin(), text.end()).find(": RAS 10x10"), std::string::npos);
}

}  // namespace
