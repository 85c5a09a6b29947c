#include <gtest/gtest.h>

#include "tests/codecs/jpeg/jpeg_test_util.h"
#include "tests/support/hostile_sweep.h"

namespace {

// Every fixture, damaged EXIF blocks among them, cut at every length and
// mutated: false with a reason or a real picture, nothing else.
TEST(JpegHostile, SweepOverEveryFixture) {
    const auto files = vt::FixtureFiles("jpeg", {".jpg"});
    ASSERT_GE(files.size(), 20u);
    for (const auto& path : files) {
        SCOPED_TRACE(path);
        const auto bytes = vt::ReadFileBytes(path);
        const vt::SweepStats stats = vt::HostileSweep(bytes, VX_FORMAT_JPG, 11, 200);
        EXPECT_GT(stats.decodes, 0);
        // Cuts past the scan header decode with the inserted end marker.
        EXPECT_GT(stats.successes, 0);
    }
}

// Dimensions forged to the format's limit with almost no data behind them:
// refused or decoded, within the picture size limit, without a crash.
TEST(JpegHostile, ForgedHugeFrame) {
    auto bytes = vt::ReadFileBytes(vt::DataPath("jpeg/progressive.jpg"));
    size_t pos = 2;
    while (pos + 9 < bytes.size() && !(bytes[pos] == 0xFF && bytes[pos + 1] == 0xC2))
        pos += 2 + size_t((bytes[pos + 2] << 8) | bytes[pos + 3]);
    ASSERT_LT(pos + 9, bytes.size());
    bytes[pos + 5] = 0xFF;  // height 0xFFxx
    bytes[pos + 7] = 0xFF;  // width 0xFFxx
    bytes.resize(pos + 400);
    VxImageJPG img;
    EXPECT_FALSE(jt::DecodeBytes(bytes, img));
    EXPECT_STRNE(img.GetLastError(), "");
}

}  // namespace
