#include <gtest/gtest.h>
#include <lcms2.h>

#include <cstdlib>
#include <cstring>

#include "app/batch/batch_engine.h"
#include "app/batch/metadata_step.h"
#include "app/batch/picture_steps.h"
#include "core/vx_image.h"
#include "tests/support/reference_metadata.h"
#include "tests/support/test_profiles.h"
#include "tests/support/test_support.h"

namespace {

struct Format {
    uint32_t code;
    const char* pillow;
    const char* ext;
};
const Format kCarriers[] = {
    {VX_FORMAT_JPG, "JPEG", ".jpg"}, {VX_FORMAT_PNG, "PNG", ".png"}, {VX_FORMAT_TIF, "TIFF", ".tif"}};

bool LcmsReadsRgb(const std::vector<uint8_t>& icc) {
    cmsHPROFILE p = cmsOpenProfileFromMem(icc.data(), cmsUInt32Number(icc.size()));
    const bool rgb = p && cmsGetColorSpace(p) == cmsSigRgbData;
    if (p) cmsCloseProfile(p);
    return rgb;
}

class Metadata : public ::testing::Test {
protected:
    void SetUp() override {
        if (!vt::WriteWithPillow(dir.file("probe.png"), "PNG", profile, 6))
            GTEST_SKIP() << "Pillow is not available";
    }
    std::string Source(const Format& f, int orientation = 6) {
        const std::string path = dir.file(std::string("src") + f.ext);
        EXPECT_TRUE(vt::WriteWithPillow(path, f.pillow, profile, orientation));
        return path;
    }
    vt::TempDir dir;
    const std::vector<uint8_t> profile = vt::MakeProfile(vt::ProfileKind::LinearRgb);
};

// Every carrier reads what Pillow embedded and writes what Pillow reads back.
TEST_F(Metadata, ProfileAndExifRoundTripThroughEveryCarrier) {
    for (const Format& from : kCarriers) {
        const std::string src = Source(from);
        const auto ref = vt::ReadMetadataWithPillow(src);
        ASSERT_TRUE(ref) << src;
        VxImage img;
        ASSERT_TRUE(img.Load(src.c_str(), from.code)) << from.ext;
        const auto icc = img.GetIccProfile();
        EXPECT_EQ(std::vector<uint8_t>(icc.begin(), icc.end()), profile) << from.ext;
        if (from.code != VX_FORMAT_TIF) {
            const auto exif = img.GetExif();
            EXPECT_EQ(std::vector<uint8_t>(exif.begin(), exif.end()), ref->exif) << from.ext;
        }
        for (const Format& to : kCarriers) {
            SCOPED_TRACE(std::string(from.ext) + " to " + to.ext);
            const std::string out = dir.file(std::string("out") + to.ext);
            ASSERT_TRUE(img.Save(out.c_str(), to.code));
            auto back = vt::ReadMetadataWithPillow(out);
            ASSERT_TRUE(back);
            EXPECT_EQ(back->icc, profile);
            EXPECT_TRUE(LcmsReadsRgb(back->icc));
            if (from.code != VX_FORMAT_TIF) {
                EXPECT_EQ(back->tags, ref->tags);
                EXPECT_EQ(back->tags[274], "6");
                EXPECT_EQ(back->tags[100002], "(52, 30, 15)");
            }
        }
    }
}

// A grey picture keeps a grey profile where the samples are written as grey,
// and PNG (whose grey pictures are written as palettes) gets sRGB greys.
TEST_F(Metadata, GreyProfilesGoWithGreySamples) {
    const auto grey = vt::MakeProfile(vt::ProfileKind::LinearGrey);
    for (const Format& to : kCarriers) {
        VxImage img;
        ASSERT_TRUE(img.Create(8, 4, 8, VX_FORMAT_BMP));
        img.SetGrayPalette();
        for (uint32_t y = 0; y < 4; ++y) std::memset(img.GetBits(y), 128, 8);
        img.SetIccProfile(grey);
        vellumar::batch::SettleMetadata(img, to.code, false);
        const std::string out = dir.file(std::string("grey") + to.ext);
        ASSERT_TRUE(img.Save(out.c_str(), to.code));
        auto back = vt::ReadMetadataWithPillow(out);
        ASSERT_TRUE(back);
        VxImage read;
        ASSERT_TRUE(read.Load(out.c_str(), to.code));
        const int v = read.GetPixelColor(2, 2).rgbGreen;
        if (to.code == VX_FORMAT_PNG) {
            EXPECT_TRUE(back->icc.empty());
            EXPECT_NEAR(v, vt::SrgbOfLinear(128), 1);
        } else {
            EXPECT_EQ(back->icc, grey) << to.ext;
            EXPECT_NEAR(v, 128, 1) << to.ext;
        }
    }
}

// Through a batch row: carriers keep the profile and the pixels, every other
// target gets sRGB pixels; stripping gives sRGB pixels without profile or EXIF.
TEST_F(Metadata, RowsKeepOrConvert) {
    const std::string src = Source(kCarriers[1], 1);
    const int converted = vt::SrgbOfLinear(128);
    struct Case {
        uint32_t target;
        const char* ext;
        bool strip;
        bool keeps;
    } cases[] = {
        {VX_FORMAT_PNG, ".png", false, true},  {VX_FORMAT_JPG, ".jpg", false, true},
        {VX_FORMAT_TIF, ".tif", false, true},  {VX_FORMAT_BMP, ".bmp", false, false},
        {VX_FORMAT_GIF, ".gif", false, false}, {VX_FORMAT_TGA, ".tga", false, false},
        {VX_FORMAT_PNG, ".png", true, false},  {VX_FORMAT_JPG, ".jpg", true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.ext) + (c.strip ? " stripped" : ""));
        const std::string out = dir.file(std::string("row") + c.ext);
        VxImage* handle = nullptr;
        vellumar::batch::RowResult r;
        ASSERT_TRUE(vellumar::batch::DecodeAndFit(&handle, src, c.target, r)) << r.error;
        if (c.strip) vellumar::batch::SettleMetadata(*handle, c.target, true);
        ASSERT_TRUE(handle->Save(out.c_str(), c.target));
        delete handle;
        VxImage read;
        ASSERT_TRUE(read.Load(out.c_str(), c.target));
        EXPECT_TRUE(read.GetIccProfile().empty() != c.keeps);
        EXPECT_EQ(read.GetExif().empty(), !c.keeps || c.target == VX_FORMAT_TIF);
        const RGBQUAD grey = read.GetPixelColor(10, 4), red = read.GetPixelColor(3, 4);
        EXPECT_NEAR(grey.rgbGreen, c.keeps ? 128 : converted, c.target == VX_FORMAT_JPG ? 4 : 2);
        EXPECT_GT(red.rgbRed, red.rgbGreen + 80);  // the column stays red (JPEG blurs it)
    }
}

// Turning the picture upright makes the EXIF block say so, with the new size.
TEST_F(Metadata, UprightPictureSaysOrientationOne) {
    VxImage img;
    ASSERT_TRUE(img.Load(Source(kCarriers[0]).c_str(), VX_FORMAT_JPG));
    ASSERT_EQ(img.GetOrientation(), 6);
    std::string error;
    ASSERT_TRUE(vellumar::batch::ShapePicture(img, {}, error)) << error;
    ASSERT_EQ(img.GetWidth(), 8u);
    for (const Format& to : kCarriers) {
        const std::string out = dir.file(std::string("up") + to.ext);
        ASSERT_TRUE(img.Save(out.c_str(), to.code));
        auto back = vt::ReadMetadataWithPillow(out);
        ASSERT_TRUE(back);
        EXPECT_EQ(back->tags[274], "1") << to.ext;
        EXPECT_EQ(back->tags[271], "Vellumar test") << to.ext;
    }
}

}  // namespace
