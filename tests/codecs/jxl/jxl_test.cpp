// JPEG XL: fixtures written by cjxl decode as djxl decodes them, animation
// frames as the source frames, files we write are read back by djxl, damaged
// files fail with a reason.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "codecs/jxl/vx_jxl_codec.h"
#include "core/vx_image.h"
#include "core/vx_srgb.h"
#include "tests/support/hostile_sweep.h"
#include "tests/support/reference_decoder.h"
#include "tests/support/test_support.h"

namespace {

using vt::Reference;

// Lossy files decode through the same library as djxl's; 16-bit samples are
// scaled by both sides.
TEST(JxlDecode, AsDjxlDecodesThem) {
    if (!vt::ReferenceAvailable(Reference::Djxl)) GTEST_SKIP() << "djxl absent";
    const struct {
        const char* file;
        int tolerance;
        uint16_t bpp;
        bool alpha;
    } cases[] = {{"lossless.jxl", 0, 24, false}, {"lossy.jxl", 1, 24, false},
                 {"alpha.jxl", 0, 24, true},     {"grey.jxl", 0, 8, false},
                 {"deep16.jxl", 0, 24, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        const std::string path = vt::DataPath(std::string("jxl/") + c.file);
        EXPECT_LE(vt::DiffFromReference(path, VX_FORMAT_JXL, Reference::Djxl), c.tolerance);
        VxImage img(0);
        ASSERT_TRUE(img.Load(path.c_str(), VX_FORMAT_JXL));
        EXPECT_EQ(img.GetBpp(), c.bpp);
        EXPECT_EQ(img.AlphaIsValid(), c.alpha);
        EXPECT_EQ(img.GetNumFrames(), 1);
    }
}

TEST(JxlDecode, AnimationFramesEqualTheSourceFrames) {
    if (!vt::ReferenceAvailable(Reference::Pillow)) GTEST_SKIP() << "Pillow absent";
    const std::string path = vt::DataPath("jxl/anim.jxl");
    const uint32_t delays[] = {10, 20, 30};
    for (int frame = 0; frame < 3; ++frame) {
        VxImage img(0);
        img.SetFrame(frame);
        ASSERT_TRUE(img.Load(path.c_str(), VX_FORMAT_JXL)) << img.GetLastError();
        EXPECT_EQ(img.GetNumFrames(), 3);
        EXPECT_EQ(img.GetFrameDelay(), delays[frame]);
        const auto expected = vt::DecodeWithReference(
            vt::DataPath("jxl/anim_frame" + std::to_string(frame) + ".png"));
        ASSERT_TRUE(expected);
        EXPECT_EQ(vt::MaxChannelDiff(vt::ToRgba(img), *expected), 0) << "frame " << frame;
    }
    VxImage past(0);
    past.SetFrame(3);
    EXPECT_FALSE(past.Load(path.c_str(), VX_FORMAT_JXL));
    EXPECT_EQ(past.GetNumFrames(), 3);
}

TEST(JxlDecode, EmbeddedProfileComesWithThePicture) {
    if (!vt::ReferenceAvailable(Reference::Pillow)) GTEST_SKIP() << "Pillow absent";
    VxImage img(0);
    ASSERT_TRUE(img.Load(vt::DataPath("jxl/icc.jxl").c_str(), VX_FORMAT_JXL));
    // The picture keeps the profile; converted, it shows what a viewer shows.
    ASSERT_FALSE(img.GetIccProfile().empty());
    ASSERT_TRUE(vx::ConvertToSrgb(img));
    const auto expected = vt::DecodeWithReference(vt::DataPath("jxl/icc_expected.png"));
    ASSERT_TRUE(expected);
    EXPECT_LE(vt::MaxChannelDiff(vt::ToRgba(img), *expected), 2);
}

// A lossy file whose colour space is named by parameters (linear light here)
// comes out in that space with its profile, as djxl gives it, not clipped to
// sRGB.
TEST(JxlDecode, LossyFileKeepsTheColourSpaceItNames) {
    if (!vt::ReferenceAvailable(Reference::Djxl)) GTEST_SKIP() << "djxl absent";
    vt::TempDir dir;
    const std::string path = dir.file("linear.jxl");
    ASSERT_EQ(vt::RunCommand("cjxl " + vt::ShellQuote(vt::DataPath("jxl/anim_frame0.png")) + " " +
                             vt::ShellQuote(path) + " -d 1 -x color_space=RGB_D65_SRG_Rel_Lin >/dev/null 2>&1"),
              0);
    VxImage img(0);
    ASSERT_TRUE(img.Load(path.c_str(), VX_FORMAT_JXL));
    EXPECT_FALSE(img.GetIccProfile().empty());
    EXPECT_LE(vt::DiffFromReference(path, VX_FORMAT_JXL, Reference::Djxl), 1);
}

TEST(JxlEncode, QualityMapsToDistanceLikeCjxl) {
    EXPECT_EQ(VxJxlCodec::DistanceFor(100), 0.0f);
    EXPECT_NEAR(VxJxlCodec::DistanceFor(90), 1.0f, 1e-5);
    EXPECT_NEAR(VxJxlCodec::DistanceFor(30), 6.4f, 1e-5);
    EXPECT_NEAR(VxJxlCodec::DistanceFor(29), 6.4f + 1.2011f / 6.25f, 1e-3);
    for (int q = 1; q < 100; ++q) EXPECT_GT(VxJxlCodec::DistanceFor(q), VxJxlCodec::DistanceFor(q + 1));
}

// Colour, alpha and grey pictures: lossless at 100 (djxl sees our pixels),
// close below.
TEST(JxlEncode, DjxlReadsWhatWeWrite) {
    if (!vt::ReferenceAvailable(Reference::Djxl)) GTEST_SKIP() << "djxl absent";
    VxImage rgb = vt::MakeSmooth24(45, 37);
    VxImage alpha = vt::MakeSmooth24(45, 37);
    ASSERT_TRUE(alpha.AlphaCreate());
    for (int y = 0; y < 37; ++y)
        for (int x = 0; x < 45; ++x) alpha.AlphaSet(x, y, uint8_t(y * 7));
    VxImage grey(rgb);
    ASSERT_TRUE(grey.DecreaseBpp(8, false));
    grey.SetGrayPalette();
    vt::TempDir dir;
    for (int quality : {100, 85}) {
        for (VxImage* img : {&rgb, &alpha, &grey}) {
            SCOPED_TRACE(std::to_string(quality) + (img == &rgb ? " rgb" : img == &alpha ? " alpha" : " palette"));
            img->SetJpegQuality(uint8_t(quality));
            const std::string path = dir.file("out.jxl");
            ASSERT_TRUE(img->Save(path.c_str(), VX_FORMAT_JXL)) << img->GetLastError();
            const auto back = vt::DecodeWithReference(path, Reference::Djxl);
            ASSERT_TRUE(back);
            const vt::Rgba source = vt::ToRgba(*img);
            if (quality == 100) {
                EXPECT_EQ(vt::MaxChannelDiff(source, *back), 0);
            } else {
                EXPECT_GT(vt::Psnr(source, *back), 30.0);
            }
            VxImage ours(0);
            ASSERT_TRUE(ours.Load(path.c_str(), VX_FORMAT_JXL));
            EXPECT_EQ(ours.GetBpp(), img == &grey ? 8 : 24);  // grey stays grey
        }
    }
}

TEST(JxlHostile, SweepOverEveryFixture) {
    vt::QuietSweepOverFixtures("jxl", {".jxl"}, VX_FORMAT_JXL, 7, 3, 200);
}

}  // namespace
