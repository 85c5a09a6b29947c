// Profiles and EXIF through WebP, HEIC, AVIF and JPEG XL, checked with the
// reference tools (exiftool, djxl, the formats' own encoders and decoders).
#include <gtest/gtest.h>
#include <lcms2.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iterator>

#include "app/batch/batch_engine.h"
#include "codecs/heif/vx_heif_codec.h"
#include "core/vx_exif_edit.h"
#include "core/vx_image.h"
#include "tests/support/reference_decoder.h"
#include "tests/support/reference_metadata.h"
#include "tests/support/test_profiles.h"
#include "tests/support/test_support.h"

namespace {

using vt::Reference;

struct Newer {
    uint32_t code;
    const char* ext;
    Reference decoder;
    // Writes the second file from the first, a JPEG, keeping its profile and
    // EXIF block.
    const char* encode;
};
const Newer kNewer[] = {
    {VX_FORMAT_WEBP, ".webp", Reference::Dwebp, "cwebp -quiet -metadata icc,exif %s -o %s"},
    {VX_FORMAT_HEIF, ".heic", Reference::HeifConvert, "heif-enc -q 90 %s -o %s"},
    {VX_FORMAT_AVIF, ".avif", Reference::Avifdec, "avifenc -s 8 %s %s"},
    {VX_FORMAT_JXL, ".jxl", Reference::Djxl, "cjxl %s %s"},
};

// Whether two profiles map the same colours to sRGB (libjxl stores a profile
// it can name by parameters as those parameters, not as the bytes).
bool SameColours(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    auto toSrgb = [](const std::vector<uint8_t>& icc, uint8_t* out) {
        cmsHPROFILE in = cmsOpenProfileFromMem(icc.data(), cmsUInt32Number(icc.size()));
        cmsHPROFILE srgb = cmsCreate_sRGBProfile();
        cmsHTRANSFORM t = in ? cmsCreateTransform(in, TYPE_RGB_8, srgb, TYPE_RGB_8, INTENT_RELATIVE_COLORIMETRIC, 0) : nullptr;
        uint8_t rgb[27 * 3];
        for (int i = 0; i < 27 * 3; ++i) rgb[i] = uint8_t((i / 3 / (i % 3 == 0 ? 1 : i % 3 == 1 ? 3 : 9)) % 3 * 127);
        if (t) cmsDoTransform(t, rgb, out, 27);
        if (t) cmsDeleteTransform(t);
        if (in) cmsCloseProfile(in);
        cmsCloseProfile(srgb);
        return t != nullptr;
    };
    uint8_t x[27 * 3], y[27 * 3];
    if (!toSrgb(a, x) || !toSrgb(b, y)) return false;
    for (int i = 0; i < 27 * 3; ++i)
        if (std::abs(int(x[i]) - int(y[i])) > 1) return false;
    return true;
}

class NewerMetadata : public ::testing::Test {
protected:
    void SetUp() override {
        if (!vt::WriteWithPillow(jpeg, "JPEG", profile, 6) || !vt::ReadMetadataWithTools(jpeg))
            GTEST_SKIP() << "Pillow, exiftool or djxl is not available";
    }
    // One batch row: decode, turn upright, fit, settle the metadata, write.
    void Convert(const std::string& src, uint32_t target, const std::string& out, bool strip) {
        VxImage* handle = nullptr;
        vellumar::batch::RowResult r;
        vellumar::batch::PictureSteps steps;
        steps.strip = strip;
        ASSERT_TRUE(vellumar::batch::DecodeAndFit(&handle, src, target, r, {}, steps)) << r.error;
        EXPECT_TRUE(handle->Save(out.c_str(), target)) << handle->GetLastError();
        delete handle;
    }
    vt::TempDir dir;
    const std::vector<uint8_t> profile = vt::MakeProfile(vt::ProfileKind::LinearRgb);
    const std::string jpeg = dir.file("src.jpg");
};

int Redness(const uint8_t* p) { return int(p[0]) - int(p[1]); }

// Pillow's picture is grey 128 (linear light) with a red column at x = 3,
// which its JPEG blurs into x = 2; orientation 6 shows it 8 wide, 16 tall,
// the line as row 3 (turned the other way it would be row 12).
void ExpectPicture(const vt::Rgba& img, bool tall, int grey, int tolerance) {
    ASSERT_EQ(img.width, tall ? 8 : 16);
    auto at = [&](int along, int across) { return tall ? img.at(across, along) : img.at(along, across); };
    EXPECT_GT(std::max(Redness(at(2, 5)), Redness(at(3, 5))), 40);
    EXPECT_LT(Redness(at(12, 5)), 20);
    EXPECT_NEAR(img.at(6, 6)[1], grey, tolerance);
}

// A JPEG with a profile and EXIF into each format: the file carries the
// profile, exiftool finds the EXIF block saying orientation 1, and the
// reference decoder sees the picture upright. --strip drops both and the
// pixels become sRGB.
TEST_F(NewerMetadata, JpegIntoEachFormat) {
    for (const Newer& f : kNewer) {
        if (f.code == VX_FORMAT_HEIF && !VxHeifCodec::CanWrite(VX_FORMAT_HEIF)) continue;
        for (const bool strip : {false, true}) {
            SCOPED_TRACE(std::string(f.ext) + (strip ? " stripped" : ""));
            const std::string out = dir.file(std::string(strip ? "bare" : "out") + f.ext);
            Convert(jpeg, f.code, out, strip);
            auto ref = vt::ReadMetadataWithTools(out);
            ASSERT_TRUE(ref);
            VxImage back;
            ASSERT_TRUE(back.Load(out.c_str(), f.code));
            if (strip) {
                EXPECT_TRUE(ref->tags.empty());
                EXPECT_TRUE(back.GetIccProfile().empty());
            } else {
                EXPECT_EQ(ref->tags[274], "1");
                EXPECT_EQ(ref->tags[271], "Vellumar test");
                EXPECT_TRUE(SameColours(ref->icc, profile));
                // Lossy JPEG XL stores a profile of bytes beside colours of
                // its own, which libjxl 0.7 gives back only as sRGB.
                const auto read = back.GetIccProfile();
                if (f.code == VX_FORMAT_JXL) {
                    EXPECT_TRUE(read.empty());
                    EXPECT_NEAR(back.GetPixelColor(6, 6).rgbGreen, vt::SrgbOfLinear(128), 6);
                } else {
                    EXPECT_TRUE(SameColours({read.begin(), read.end()}, profile));
                }
                if (f.code != VX_FORMAT_JXL) {
                    EXPECT_EQ(ref->icc, profile);
                }
            }
            const auto pixels = vt::DecodeWithReference(out, f.decoder);
            ASSERT_TRUE(pixels);
            ExpectPicture(*pixels, true, strip ? vt::SrgbOfLinear(128) : 128, 6);
        }
    }
}

// Each format, as its reference encoder writes it from that JPEG, converted
// to PNG and JPEG: the profile stays (Pillow reads it), the EXIF block says
// orientation 1, and the picture is turned once, as a viewer shows it. cwebp
// and heif-enc leave the pixels as stored (WebP's EXIF tag turns them;
// HEIF readers ignore it), avifenc and cjxl move the tag into the file's own
// orientation and keep the tag as well.
TEST_F(NewerMetadata, EachFormatIntoPngAndJpeg) {
    const bool tall[] = {true, false, true, true};
    for (size_t i = 0; i < std::size(kNewer); ++i) {
        const Newer& f = kNewer[i];
        const std::string src = dir.file(std::string("ref") + f.ext);
        char cmd[512];
        std::snprintf(cmd, sizeof(cmd), f.encode, vt::ShellQuote(jpeg).c_str(), vt::ShellQuote(src).c_str());
        ASSERT_EQ(vt::RunCommand(std::string(cmd) + " >/dev/null 2>&1"), 0) << cmd;
        for (const auto& [code, ext] : {std::pair{VX_FORMAT_PNG, ".png"}, std::pair{VX_FORMAT_JPG, ".jpg"}}) {
            SCOPED_TRACE(std::string(f.ext) + " to " + ext);
            const std::string out = dir.file(std::string("from") + ext);
            Convert(src, code, out, false);
            auto back = vt::ReadMetadataWithPillow(out);
            ASSERT_TRUE(back);
            EXPECT_TRUE(SameColours(back->icc, profile));
            EXPECT_EQ(back->tags[274], "1");
            EXPECT_EQ(back->tags[271], "Vellumar test");
            const auto pixels = vt::DecodeWithReference(out);
            ASSERT_TRUE(pixels);
            ExpectPicture(*pixels, tall[i], 128, 8);
        }
    }
}

// Fixtures from a JPEG whose EXIF says 6: the WebP leaves the turn to the
// batch; HEIC (heif-enc keeps the pixels as stored), AVIF (avifenc adds a
// rotation) and JPEG XL (cjxl moves the tag into the code stream and keeps a
// Brotli-packed copy) come as their readers show them, the tag set to 1.
TEST(NewerExif, EachReaderLeavesOneTurnAtMost) {
    const struct {
        const char* file;
        uint32_t code;
        int32_t orientation;  // what the batch still applies
        uint32_t width;
        int32_t tag;
    } cases[] = {
        {"webp/exif.webp", VX_FORMAT_WEBP, 6, 48, 6},
        {"heif/exif.heic", VX_FORMAT_HEIF, 0, 48, 1},
        {"heif/exif.avif", VX_FORMAT_AVIF, 0, 32, 1},
        {"jxl/exif.jxl", VX_FORMAT_JXL, 0, 32, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        VxImage img;
        ASSERT_TRUE(img.Load(vt::DataPath(c.file).c_str(), c.code)) << img.GetLastError();
        EXPECT_EQ(img.GetOrientation(), c.orientation);
        EXPECT_EQ(img.GetWidth(), c.width);
        EXPECT_EQ(vx::ExifOrientation(img.GetExif()), c.tag);
        bool make = false;
        vx::ForEachExifEntry(img.GetExif(), [&](vx::ExifDir, const vx::ExifEntry& e) {
            make |= e.tag == 271 && e.value.size() == 17 && std::memcmp(e.value.data(), "Vellumar fixture", 16) == 0;
        });
        EXPECT_TRUE(make);
    }
}

}  // namespace
