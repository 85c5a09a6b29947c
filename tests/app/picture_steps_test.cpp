#include <gtest/gtest.h>

#include "app/batch/batch_engine.h"
#include "app/batch/fit_depth.h"
#include "app/batch/picture_steps.h"
#include "core/vx_image.h"
#include "tests/support/test_support.h"

namespace {

using vellumar::batch::PictureSteps;

TEST(PictureSteps, OrientationThenSize) {
    struct Case {
        const char* file;
        bool keep;
        const char* resize;
        uint32_t w, h;
        int32_t orientation;
    };
    const Case cases[] = {
        {"orient6.jpg", false, "", 24, 16, 1},      // stored 16 x 24, turned upright
        {"orient6.jpg", true, "", 16, 24, 6},       // left as stored, tag kept
        {"orient8.jpg", false, "12x12", 12, 8, 1},  // upright first, then fitted
        {"orient1.jpg", false, "50%", 12, 8, 1},
        {"orient1.jpg", false, "100x100", 24, 16, 1},  // never enlarged
        {"orient1.jpg", false, "48x48+", 48, 32, 1},
    };
    for (const Case& c : cases) {
        VxImage img;
        ASSERT_TRUE(img.Load(vt::DataPath(std::string("jpeg/orient/") + c.file).c_str(), VX_FORMAT_JPG));
        PictureSteps steps;
        steps.keepOrientation = c.keep;
        if (*c.resize) {
            ASSERT_TRUE(vx::ParseResizeRequest(c.resize, steps.resize)) << c.resize;
        }
        std::string error;
        ASSERT_TRUE(vellumar::batch::ShapePicture(img, steps, error)) << error;
        EXPECT_EQ(img.GetWidth(), c.w) << c.file << " " << c.resize;
        EXPECT_EQ(img.GetHeight(), c.h) << c.file << " " << c.resize;
        EXPECT_EQ(img.GetOrientation(), c.orientation) << c.file;
    }
}

// A GIF target reduces with the chosen palette.
TEST(PictureSteps, GifPaletteChoice) {
    const VxImage src = vt::MakeGradient24(96, 64);
    double psnr[2];
    for (int adaptive = 0; adaptive < 2; ++adaptive) {
        ImageHandle handle = new VxImage(src, true);
        vx::ColourReduction how;
        if (adaptive) how.palette = vx::PaletteChoice::Adaptive;
        vellumar::batch::FitDepth(&handle, VX_FORMAT_GIF, how);
        EXPECT_EQ(handle->GetBpp(), 8);
        psnr[adaptive] = vt::Psnr(vt::ToRgba(src), vt::ToRgba(*handle));
        ImageFacade::Free(&handle);
    }
    EXPECT_GT(psnr[1], psnr[0] + 6);

    // Clear pixels keep an entry of their own that no opaque pixel shares.
    ImageHandle handle = new VxImage(src, true);
    ASSERT_TRUE(handle->AlphaCreate());
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 96; ++x) handle->AlphaSet(x, y, x < 30 ? 0 : 255);
    vellumar::batch::FitDepth(&handle, VX_FORMAT_GIF,
                              {vx::PaletteChoice::Adaptive, vx::DitherChoice::FloydSteinberg});
    const int t = handle->GetTransIndex();
    ASSERT_GE(t, 0);
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 96; ++x) ASSERT_EQ(handle->GetPixelIndex(x, y) == t, x < 30) << x << "," << y;
    ImageFacade::Free(&handle);
}

// A JPEG shrunk to half its size or less is read smaller (DCT scaling) and
// comes out at the size of a full-size read, and close to its pixels.
TEST(PictureSteps, JpegsReadSmallerBeforeAResize) {
    vt::TempDir dir;
    const std::string photo = dir.file("photo.jpg");
    ASSERT_TRUE(vt::MakeSmooth24(401, 299).Save(photo.c_str(), VX_FORMAT_JPG));
    struct Case {
        std::string file;
        const char* resize;
        uint8_t scale;
    };
    const Case cases[] = {
        {photo, "24%", 2},
        {photo, "45x45", 4},
        {photo, "60%", 1},
        {vt::DataPath("jpeg/orient/orient6.jpg"), "4x4", 2},  // stored 16 x 24, upright 24 x 16
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.resize);
        PictureSteps steps;
        ASSERT_TRUE(vx::ParseResizeRequest(c.resize, steps.resize));
        VxImage full;
        ASSERT_TRUE(full.Load(c.file.c_str(), VX_FORMAT_JPG));
        std::string error;
        ASSERT_TRUE(vellumar::batch::ShapePicture(full, steps, error)) << error;

        ImageHandle handle = nullptr;
        vellumar::batch::RowResult result;
        ASSERT_TRUE(vellumar::batch::DecodeAndFit(&handle, c.file, VX_FORMAT_PNG, result, {}, steps))
            << result.error;
        EXPECT_EQ(handle->GetJpegScale(), c.scale);
        EXPECT_EQ(handle->GetWidth(), full.GetWidth());
        EXPECT_EQ(handle->GetHeight(), full.GetHeight());
        if (c.file == photo) {
            EXPECT_GT(vt::Psnr(vt::ToRgba(full), vt::ToRgba(*handle)), 40);
        }
        ImageFacade::Free(&handle);
    }
}

}  // namespace
