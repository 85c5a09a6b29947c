#include <gtest/gtest.h>

#include <map>

#include "app/batch/fit_depth.h"
#include "app/batch/batch_engine.h"
#include "tests/support/reference_decoder.h"
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
    // A grey picture is taken as it is; black and white too, except by JPEG.
    ImageHandle grey = new VxImage(4, 4, 8, 0);
    grey->SetGrayPalette();
    FitDepth(&grey, VX_FORMAT_JPG);
    EXPECT_EQ(grey->GetBpp(), 8);
    ImageFacade::Free(&grey);
    for (ImageFormat target : {VX_FORMAT_JPG, VX_FORMAT_JP2, VX_FORMAT_JPC, VX_FORMAT_PNM,
                               VX_FORMAT_RAS}) {
        ImageHandle bw = Load("bmp/bits1.bmp");
        ASSERT_TRUE(bw->IsBlackAndWhite());
        FitDepth(&bw, target);
        EXPECT_EQ(bw->GetBpp(), target == VX_FORMAT_JPG ? 24 : 1) << target;
        ImageFacade::Free(&bw);
    }
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

namespace alpha {

enum class Keeps { Exact, OnOff, Lossy, OverWhite };

struct Target {
    ImageFormat format;
    const char* ext;
    Keeps keeps;
};

// The first way output pixel `o` fails to show source pixel `s`, or "".
std::string Check(const uint8_t* s, const uint8_t* o, Keeps keeps, const RGBQUAD& gif) {
    if (keeps == Keeps::OverWhite) {
        for (int k = 0; k < 3; ++k)
            if (o[k] != (s[k] * s[3] + 255 * (255 - s[3]) + 127) / 255) return "not over white";
        return o[3] == 255 ? "" : "not opaque";
    }
    const int tolerance = keeps == Keeps::Lossy ? 24 : 0;
    const bool onOff = keeps == Keeps::OnOff;
    if (onOff ? (o[3] < 128) != (s[3] < 128) : std::abs(o[3] - s[3]) > tolerance) return "alpha";
    if (s[3] < 128) return "";
    const int want[3] = {onOff ? gif.rgbRed : s[0], onOff ? gif.rgbGreen : s[1], onOff ? gif.rgbBlue : s[2]};
    for (int k = 0; k < 3; ++k)
        if (std::abs(o[k] - want[k]) > tolerance) return "colour";
    return "";
}

}  // namespace alpha

TEST(FitDepth, TransparencyGoesWhereEachTargetKeepsIt) {
    if (!vt::ReferenceAvailable(vt::Reference::Pillow)) GTEST_SKIP() << "Pillow missing";
    using alpha::Keeps;
    vt::TempDir dir;
    // A true-colour picture keyed on one colour (an icon's mask over one colour).
    VxImage keyed = vt::MakeGradient24(20, 12);
    for (int x = 0; x < 20; ++x) keyed.SetPixelColor(x, 4, RGBQUAD{0, 0, 0, 0});
    keyed.SetTransColor(RGBQUAD{0, 0, 0, 0});
    keyed.SetTransIndex(0);
    ASSERT_TRUE(keyed.Save(dir.file("keyed.ico").c_str(), VX_FORMAT_ICO));

    const std::string pal = vt::DataPath("png/pal8_trns0.png"),
                      partial = vt::DataPath("png/pal4_alpha.png"), rgba = vt::DataPath("png/rgba8.png"),
                      key = dir.file("keyed.ico");
    // Every kind of source into GIF; each form of transparency into every other kind of target.
    const std::vector<std::string> all = {pal, partial, vt::DataPath("png/grey8_trns.png"),
                                          vt::DataPath("png/rgb8_trns.png"), rgba,
                                          vt::DataPath("tga/pil_rgba32.tga"),
                                          vt::DataPath("ico/magick_32bit.ico"),
                                          vt::DataPath("ico/netpbm_1bit.ico"),
                                          vt::DataPath("tiff/rgba.tif"), key};
    const std::vector<std::string> forms = {pal, partial, rgba, key};
    const std::pair<alpha::Target, const std::vector<std::string>*> rows[] = {
        {{VX_FORMAT_GIF, "gif", Keeps::OnOff}, &all},      {{VX_FORMAT_PNG, "png", Keeps::Exact}, &forms},
        {{VX_FORMAT_ICO, "ico", Keeps::Exact}, &forms},    {{VX_FORMAT_TGA, "tga", Keeps::Exact}, &forms},
        {{VX_FORMAT_TIF, "tif", Keeps::Exact}, &forms},    {{VX_FORMAT_BMP, "bmp", Keeps::OverWhite}, &forms},
        {{VX_FORMAT_JP2, "jp2", Keeps::Lossy}, &forms},    {{VX_FORMAT_JPC, "j2k", Keeps::Lossy}, &forms},
        {{VX_FORMAT_RAS, "ras", Keeps::OverWhite}, &forms},
    };
    VxImage standard(1, 1, 8, 0);
    standard.SetStdPalette();
    std::map<std::string, std::optional<vt::Rgba>> decoded;
    for (const auto& [t, sources] : rows) {
        for (const std::string& source : *sources) {
            if (!decoded.count(source)) decoded[source] = vt::DecodeWithReference(source);
            const auto& src = decoded[source];
            ASSERT_TRUE(src.has_value()) << source;
            VxImage ours;
            ASSERT_TRUE(ours.Load(source.c_str()));
            const std::string out = dir.file(std::string("out.") + t.ext);
            ImageHandle h = nullptr;
            const auto r = vellumar::batch::ConvertRow(&h, source, t.format, [&] { return out; });
            ImageFacade::Free(&h);
            ASSERT_EQ(r.outcome, vellumar::batch::RowOutcome::Done) << source << " " << t.ext;
            const auto got = vt::DecodeWithReference(out);
            ASSERT_TRUE(got.has_value()) << source << " " << t.ext;
            ASSERT_EQ(got->width, src->width);
            std::string bad;
            for (int y = 0; y < src->height && bad.empty(); ++y)
                for (int x = 0; x < src->width && bad.empty(); ++x) {
                    // GIF keeps a palette picture's colours, else the standard palette's nearest.
                    RGBQUAD gif = ours.GetPixelColor(x, int(ours.GetHeight()) - 1 - y, false);
                    if (ours.GetBpp() > 8) gif = standard.GetPaletteColor(standard.GetNearestIndex(gif));
                    bad = alpha::Check(src->at(x, y), got->at(x, y), t.keeps, gif);
                    if (!bad.empty()) bad += " at " + std::to_string(x) + "," + std::to_string(y);
                }
            EXPECT_EQ(bad, "") << source << " -> " << t.ext;
        }
    }
}

TEST(FitDepth, TargetsWithoutTransparencyAllGetThePictureOverWhite) {
    for (const char* source : {"png/rgba8.png", "png/pal4_alpha.png"}) {
        ImageHandle bmp = Load(source);
        FitDepth(&bmp, VX_FORMAT_BMP);
        const vt::Rgba overWhite = vt::ToRgba(*bmp);
        for (ImageFormat target : {VX_FORMAT_JPG, VX_FORMAT_PCX, VX_FORMAT_WBMP, VX_FORMAT_PGX,
                                   VX_FORMAT_PNM, VX_FORMAT_RAS}) {
            ImageHandle h = Load(source);
            FitDepth(&h, target);
            EXPECT_FALSE(h->AlphaIsValid() || h->GetTransIndex() >= 0) << source << " " << target;
            // WBMP and PGX change the colours themselves.
            if (target != VX_FORMAT_WBMP && target != VX_FORMAT_PGX) {
                EXPECT_EQ(vt::MaxChannelDiff(vt::ToRgba(*h), overWhite), 0) << source << " " << target;
            }
            ImageFacade::Free(&h);
        }
        ImageFacade::Free(&bmp);
    }
}

}  // namespace
