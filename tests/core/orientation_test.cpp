#include <gtest/gtest.h>

#include "core/vx_image.h"
#include "core/vx_orientation.h"
#include "tests/support/test_support.h"

namespace {

// Each fixture stores one upright picture turned for its tag; ImageMagick's
// -auto-orient of it is the expected result.
TEST(Orientation, EveryTagMatchesImageMagickAutoOrient) {
    for (int n = 1; n <= 8; ++n) {
        const std::string base = vt::DataPath("jpeg/orient/orient" + std::to_string(n));
        VxImage img, ref;
        ASSERT_TRUE(img.Load((base + ".jpg").c_str(), VX_FORMAT_JPG)) << n;
        ASSERT_TRUE(ref.Load((base + ".png").c_str(), VX_FORMAT_PNG)) << n;
        EXPECT_EQ(img.GetOrientation(), n);
        ASSERT_TRUE(vx::ApplyOrientation(img, img.GetOrientation()));
        EXPECT_EQ(img.GetOrientation(), 1);
        const vt::Rgba a = vt::ToRgba(img), b = vt::ToRgba(ref);
        ASSERT_EQ(a.width, 24) << n;
        ASSERT_EQ(a.height, 16) << n;
        EXPECT_LE(vt::MaxChannelDiff(a, b, false), 12) << "orientation " << n;
    }
}

TEST(Orientation, DecodersWithoutTheTagLeaveItUnset) {
    VxImage img;
    ASSERT_TRUE(img.Load(vt::DataPath("jpeg/orient/orient6.jpg").c_str(), VX_FORMAT_JPG));
    ASSERT_EQ(img.GetOrientation(), 6);
    // A later file without a tag must not inherit the earlier one's.
    ASSERT_TRUE(img.Load(vt::DataPath("jpeg/orient/orient1.png").c_str(), VX_FORMAT_PNG));
    EXPECT_EQ(img.GetOrientation(), 0);
}

}  // namespace
