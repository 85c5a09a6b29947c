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

namespace {

// A progressive file whose last scan repeats: libjpeg only warns about the
// bogus sequence, so without a limit each copy costs a pass over the picture.
std::vector<uint8_t> RepeatLastScan(int copies) {
    const auto bytes = vt::ReadFileBytes(vt::DataPath("jpeg/progressive.jpg"));
    size_t lastSos = 0;
    for (size_t i = 2; i + 1 < bytes.size(); ++i)
        if (bytes[i] == 0xFF && bytes[i + 1] == 0xDA) lastSos = i;
    const size_t end = bytes.size() - 2;  // before EOI
    std::vector<uint8_t> out(bytes.begin(), bytes.begin() + long(end));
    for (int c = 0; c < copies; ++c) out.insert(out.end(), bytes.begin() + long(lastSos), bytes.begin() + long(end));
    out.push_back(0xFF);
    out.push_back(0xD9);
    return out;
}

TEST(JpegHostile, ScanCountIsBounded) {
    VxImageJPG few;
    EXPECT_TRUE(jt::DecodeBytes(RepeatLastScan(20), few)) << few.GetLastError();
    VxImageJPG many;
    EXPECT_FALSE(jt::DecodeBytes(RepeatLastScan(1200), many));
    EXPECT_STREQ(many.GetLastError(), "JPEG: too many scans in the file");
}

}  // namespace
