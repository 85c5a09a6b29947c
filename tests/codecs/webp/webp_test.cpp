// WebP: fixtures written by cwebp, img2webp and webpmux decode as dwebp and
// Pillow decode them, files we write are read back by dwebp, damaged files
// fail with a reason.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/vx_image.h"
#include "core/vx_srgb.h"
#include "tests/support/hostile_sweep.h"
#include "tests/support/reference_decoder.h"
#include "tests/support/test_support.h"

namespace {

using vt::Reference;

TEST(WebpDecode, StillPicturesAsDwebpDecodesThem) {
    if (!vt::ReferenceAvailable(Reference::Dwebp)) GTEST_SKIP() << "dwebp absent";
    // Lossy files go through the same library: no difference is allowed there either.
    const struct {
        const char* file;
        bool alpha;
    } cases[] = {{"lossy.webp", false},
                 {"lossless.webp", false},
                 {"alpha_lossless.webp", true},
                 {"alpha_lossy.webp", true}};
    for (const auto& c : cases) {
        const std::string path = vt::DataPath(std::string("webp/") + c.file);
        EXPECT_EQ(vt::DiffFromReference(path, VX_FORMAT_WEBP, Reference::Dwebp), 0) << c.file;
        VxImage img(0);
        ASSERT_TRUE(img.Load(path.c_str(), VX_FORMAT_WEBP));
        EXPECT_EQ(img.AlphaIsValid(), c.alpha) << c.file;
        EXPECT_EQ(img.GetType(), VX_FORMAT_WEBP);
        EXPECT_EQ(img.GetNumFrames(), 1);
    }
}

// Frame N is the canvas after frames 0..N, as Pillow (a viewer) composes it.
TEST(WebpDecode, AnimationFramesComposedAsAViewerShowsThem) {
    if (!vt::ReferenceAvailable(Reference::Pillow)) GTEST_SKIP() << "Pillow absent";
    for (const char* file : {"anim.webp", "anim_lossy.webp"}) {
        const std::string path = vt::DataPath(std::string("webp/") + file);
        for (int frame = 0; frame < 3; ++frame)
            EXPECT_EQ(vt::DiffFromReference(path, VX_FORMAT_WEBP, Reference::Pillow, frame), 0)
                << file << " #" << frame;
        VxImage img(0);
        img.SetFrame(1);
        ASSERT_TRUE(img.Load(path.c_str(), VX_FORMAT_WEBP));
        EXPECT_EQ(img.GetNumFrames(), 3);
        EXPECT_EQ(img.GetFrameDelay(), std::string(file) == "anim.webp" ? 20u : 10u);
        img.SetFrame(3);
        EXPECT_FALSE(img.Load(path.c_str(), VX_FORMAT_WEBP));
        EXPECT_EQ(img.GetNumFrames(), 3);  // the caller learns the count
    }
}

TEST(WebpDecode, EmbeddedProfileComesWithThePicture) {
    if (!vt::ReferenceAvailable(Reference::Pillow)) GTEST_SKIP() << "Pillow absent";
    VxImage img(0);
    ASSERT_TRUE(img.Load(vt::DataPath("webp/icc.webp").c_str(), VX_FORMAT_WEBP));
    // The picture keeps the profile; converted, it shows what a viewer shows.
    ASSERT_FALSE(img.GetIccProfile().empty());
    ASSERT_TRUE(vx::ConvertToSrgb(img));
    const auto expected = vt::DecodeWithReference(vt::DataPath("webp/icc_expected.png"));
    ASSERT_TRUE(expected);
    // Pillow's conversion rounds differently in places.
    EXPECT_LE(vt::MaxChannelDiff(vt::ToRgba(img), *expected), 2);
    VxImage plain(0);
    ASSERT_TRUE(plain.Load(vt::DataPath("webp/lossless.webp").c_str(), VX_FORMAT_WEBP));
    EXPECT_GT(vt::MaxChannelDiff(vt::ToRgba(img), vt::ToRgba(plain)), 10);
}

// A palette picture whose transparency is one index, a 24-bit picture with an
// alpha plane and one without: what dwebp reads back, at 100 exactly.
TEST(WebpEncode, DwebpReadsWhatWeWrite) {
    if (!vt::ReferenceAvailable(Reference::Dwebp)) GTEST_SKIP() << "dwebp absent";
    VxImage rgb = vt::MakeSmooth24(45, 37);
    VxImage alpha = vt::MakeSmooth24(45, 37);
    ASSERT_TRUE(alpha.AlphaCreate());
    for (int y = 0; y < 37; ++y)
        for (int x = 0; x < 45; ++x) alpha.AlphaSet(x, y, uint8_t(x * 5));
    VxImage pal(rgb);
    ASSERT_TRUE(pal.DecreaseBpp(8, false));
    pal.SetTransIndex(pal.GetPixelIndex(0, 0));
    vt::TempDir dir;
    for (int quality : {100, 80}) {
        for (VxImage* img : {&rgb, &alpha, &pal}) {
            SCOPED_TRACE(std::to_string(quality) + (img == &rgb ? " rgb" : img == &alpha ? " alpha" : " palette"));
            img->SetJpegQuality(uint8_t(quality));
            const std::string path = dir.file("out.webp");
            ASSERT_TRUE(img->Save(path.c_str(), VX_FORMAT_WEBP)) << img->GetLastError();
            const auto back = vt::DecodeWithReference(path, Reference::Dwebp);
            ASSERT_TRUE(back);
            vt::Rgba source = vt::ToRgba(*img);
            if (img == &pal)  // the transparent index becomes clear pixels
                for (int y = 0; y < 37; ++y)
                    for (int x = 0; x < 45; ++x)
                        source.px[(size_t(y) * 45 + x) * 4 + 3] =
                            pal.GetPixelIndex(x, 36 - y) == pal.GetTransIndex() ? 0 : 255;
            if (quality == 100) {
                EXPECT_EQ(vt::MaxChannelDiff(source, *back), 0);
            } else {
                // Colours under clear pixels may change: only the others count.
                if (img != &pal) {
                    EXPECT_GT(vt::Psnr(source, *back), 30.0);
                }
                // Alpha stays lossless in lossy files.
                for (size_t i = 3; i < source.px.size(); i += 4) ASSERT_EQ(source.px[i], back->px[i]) << i;
            }
        }
    }
}

TEST(WebpHostile, SweepOverEveryFixture) {
    vt::QuietSweepOverFixtures("webp", {".webp"}, VX_FORMAT_WEBP, 7, 5, 200);
}

}  // namespace
