#include <gtest/gtest.h>

#include "app/batch/fit_depth.h"
#include "tests/support/test_support.h"

namespace {

using vellumar::batch::FitDepth;

ImageHandle Load(const char* fixture) {
    ImageHandle h = nullptr;
    EXPECT_TRUE(ImageFacade::DecodeFromFile(&h, vt::DataPath(fixture).c_str(), 1));
    return h;
}

TEST(FitDepth, GifTargetReducesOnlyTrueColour) {
    ImageHandle h = Load("bmp/bits24.bmp");
    FitDepth(&h, VX_FORMAT_GIF);
    EXPECT_EQ(h->GetBpp(), 8);
    EXPECT_EQ(h->GetPaletteColor(246).rgbBlue, 0xF0);  // the standard palette
    ImageFacade::Free(&h);

    h = Load("bmp/bits4.bmp");
    const RGBQUAD before = h->GetPaletteColor(3);
    FitDepth(&h, VX_FORMAT_GIF);
    EXPECT_EQ(h->GetBpp(), 4);
    EXPECT_TRUE(h->GetPaletteColor(3) == before);
    ImageFacade::Free(&h);
}

TEST(FitDepth, ColourPalettesWidenForTrueColourTargets) {
    for (ImageFormat target : {VX_FORMAT_JPG, VX_FORMAT_JP2, VX_FORMAT_JPC, VX_FORMAT_PNM,
                               VX_FORMAT_RAS}) {
        ImageHandle h = Load("bmp/bits8.bmp");
        const auto before = vt::ToRgba(*h);
        FitDepth(&h, target);
        EXPECT_EQ(h->GetBpp(), 24) << target;
        EXPECT_EQ(vt::MaxChannelDiff(before, vt::ToRgba(*h)), 0);
        ImageFacade::Free(&h);
    }
    // A grey picture is taken as it is.
    ImageHandle grey = new VxImage(4, 4, 8, 0);
    grey->SetGrayPalette();
    FitDepth(&grey, VX_FORMAT_JPG);
    EXPECT_EQ(grey->GetBpp(), 8);
    ImageFacade::Free(&grey);
}

TEST(FitDepth, TgaPgxAndWbmp) {
    ImageHandle h = Load("bmp/bits4.bmp");
    FitDepth(&h, VX_FORMAT_TGA);
    EXPECT_EQ(h->GetBpp(), 8);
    ImageFacade::Free(&h);

    h = Load("bmp/bits24.bmp");
    VxImage src(*h);
    FitDepth(&h, VX_FORMAT_PGX);
    ASSERT_EQ(h->GetBpp(), 8);
    EXPECT_TRUE(h->IsGrayScale());
    EXPECT_EQ(h->GetPixelIndex(5, 3), src.GetPixelGray(5, 3));
    ImageFacade::Free(&h);

    h = Load("bmp/bits24.bmp");
    FitDepth(&h, VX_FORMAT_WBMP);
    EXPECT_EQ(h->GetBpp(), 1);
    ImageFacade::Free(&h);

    h = Load("bmp/bits24.bmp");
    FitDepth(&h, VX_FORMAT_PNG);
    EXPECT_EQ(h->GetBpp(), 24);
    ImageFacade::Free(&h);
}

}  // namespace
