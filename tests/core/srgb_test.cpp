#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

#include "core/vx_deep.h"
#include "core/vx_image.h"
#include "core/vx_srgb.h"
#include "tests/support/test_profiles.h"

namespace {

using vt::ProfileKind;

enum class Layout { Rgb24, GreyRamp, ColourPalette };

// Every pixel 128 in each channel (the palette's entry 1 for the palette
// picture, whose entry 0 is pure red).
VxImage Picture(Layout layout) {
    VxImage img;
    const uint32_t bpp = layout == Layout::Rgb24 ? 24 : 8;
    EXPECT_TRUE(img.Create(6, 4, bpp, VX_FORMAT_BMP));
    if (layout == Layout::GreyRamp) img.SetGrayPalette();
    if (layout == Layout::ColourPalette) {
        img.SetPaletteColor(0, 255, 0, 0);
        img.SetPaletteColor(1, 128, 128, 128);
    }
    const uint8_t fill = layout == Layout::ColourPalette ? 1 : 128;
    for (uint32_t y = 0; y < img.GetHeight(); ++y)
        for (uint32_t x = 0; x < img.GetWidth() * bpp / 8; ++x) img.GetBits(y)[x] = fill;
    return img;
}

TEST(Srgb, ConvertsEveryLayoutThroughTheProfile) {
    const int linear128 = vt::SrgbOfLinear(128);
    ASSERT_EQ(linear128, 188);
    struct Case {
        Layout layout;
        ProfileKind profile;
        int expected;  // each channel of every pixel afterwards
        bool staysGrey;
    } cases[] = {
        {Layout::Rgb24, ProfileKind::Srgb, 128, false},
        {Layout::Rgb24, ProfileKind::LinearRgb, linear128, false},
        {Layout::Rgb24, ProfileKind::LinearGrey, linear128, false},
        {Layout::GreyRamp, ProfileKind::LinearGrey, linear128, true},
        {Layout::GreyRamp, ProfileKind::LinearRgb, linear128, true},
        {Layout::ColourPalette, ProfileKind::LinearRgb, linear128, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(int(c.layout) * 10 + int(c.profile));
        VxImage img = Picture(c.layout);
        img.SetIccProfile(vt::MakeProfile(c.profile));
        ASSERT_TRUE(vx::ConvertToSrgb(img));
        EXPECT_TRUE(img.GetIccProfile().empty());
        EXPECT_EQ(vx::IsGreyPicture(img), c.staysGrey);
        for (uint32_t y = 0; y < img.GetHeight(); ++y)
            for (uint32_t x = 0; x < img.GetWidth(); ++x) {
                const RGBQUAD p = img.GetPixelColor(int32_t(x), int32_t(y));
                ASSERT_LE(std::abs(p.rgbRed - c.expected), 1) << x << "," << y;
                ASSERT_LE(std::abs(p.rgbGreen - c.expected), 1);
                ASSERT_LE(std::abs(p.rgbBlue - c.expected), 1);
            }
        if (c.layout == Layout::ColourPalette) {
            const RGBQUAD red = img.GetPaletteColor(0);
            EXPECT_EQ(red.rgbRed, 255);
            EXPECT_LE(red.rgbGreen + red.rgbBlue, 2);
        }
    }
}

// Deep samples convert at 16 bits and stay: neighbours one step apart stay
// apart, alpha is copied, and the block is remade from them.
TEST(Srgb, DeepSamplesConvertAtSixteenBits) {
    const double srgbHalf = 65535 * (1.055 * std::pow(0.5, 1 / 2.4) - 0.055);
    for (const auto& [channels, profile] : {std::pair{uint8_t(4), ProfileKind::LinearRgb},
                                            {uint8_t(1), ProfileKind::LinearGrey}}) {
        SCOPED_TRACE(int(channels));
        VxImage img;
        auto plane = vx::NewDeepPlane(img, 2, 1, channels, 16);
        ASSERT_TRUE(plane);
        for (uint32_t x = 0; x < 2; ++x)
            for (uint8_t c = 0; c < channels; ++c)
                plane->Row(0)[x * channels + c] = c == 3 ? 1234 : uint16_t(32768 + 4 * x);
        ASSERT_TRUE(vx::SetDeepPicture(img, plane, VX_FORMAT_PNG));
        img.SetIccProfile(vt::MakeProfile(profile));
        ASSERT_TRUE(vx::ConvertToSrgb(img));
        EXPECT_TRUE(img.GetIccProfile().empty());
        const VxDeepRef& deep = img.GetDeep();
        ASSERT_TRUE(deep);
        const uint16_t* row = deep->Row(0);
        EXPECT_NEAR(row[0], srgbHalf, 64);
        EXPECT_GT(row[channels], row[0]);
        if (channels == 4) {
            EXPECT_EQ(row[3], 1234);
        }
        EXPECT_NEAR(img.GetPixelColor(0, 0).rgbGreen, srgbHalf / 257, 1);
    }
}

TEST(Srgb, UnusableProfilesLeaveThePictureAndProfileAlone) {
    std::vector<uint8_t> broken = vt::MakeProfile(ProfileKind::LinearRgb);
    broken.resize(200);  // header says RGB, the tag table is cut off
    const std::vector<std::vector<uint8_t>> profiles = {
        vt::MakeProfile(ProfileKind::Lab), broken, std::vector<uint8_t>(20, 'x')};
    for (const auto& icc : profiles) {
        VxImage img = Picture(Layout::Rgb24);
        img.SetIccProfile(icc);
        EXPECT_FALSE(vx::ConvertToSrgb(img));
        EXPECT_EQ(img.GetIccProfile().size(), icc.size());
        EXPECT_EQ(img.GetBits(0)[0], 128);
    }
}

TEST(Srgb, ProfilesFitSamplesOfTheirOwnKind) {
    const auto rgb = vt::MakeProfile(ProfileKind::LinearRgb);
    const auto grey = vt::MakeProfile(ProfileKind::LinearGrey);
    EXPECT_TRUE(vx::ProfileFits(rgb, false));
    EXPECT_FALSE(vx::ProfileFits(rgb, true));
    EXPECT_TRUE(vx::ProfileFits(grey, true));
    EXPECT_FALSE(vx::ProfileFits(grey, false));
    EXPECT_FALSE(vx::ProfileFits(vt::MakeProfile(ProfileKind::Lab), false));
    EXPECT_FALSE(vx::ProfileFits({}, false));
}

// Passed on only when the size field gives the length and Little CMS opens it.
TEST(Srgb, OnlySoundProfilesArePassedOn) {
    const std::vector<uint8_t> good = vt::MakeProfile(ProfileKind::LinearRgb);
    for (const uint32_t size : {0u, 0xFFFFFFFFu, uint32_t(good.size()) - 1, uint32_t(good.size()), 100u}) {
        std::vector<uint8_t> p(good.begin(), good.begin() + (size == 100 ? 100 : long(good.size())));
        for (int i = 0; i < 4 && size != 100; ++i) p[size_t(i)] = uint8_t(size >> (24 - 8 * i));
        EXPECT_EQ(vx::ProfileSound(p), size == good.size()) << size;
    }
}

}  // namespace

