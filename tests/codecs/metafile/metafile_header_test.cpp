// Headers, size rules, error texts and saving.
#include <gtest/gtest.h>

#include "codecs/metafile/vx_metafile_codec.h"
#include "core/vx_image.h"
#include "tests/codecs/metafile/mf_test_builder.h"
#include "tests/support/hostile_sweep.h"
#include "tests/support/test_support.h"

namespace {

using mft::Bytes;

struct Probe : VxMetafileCodec {
    using VxMetafileCodec::IsPlaceableHeader;
    using VxMetafileCodec::LimitSize;
    using VxMetafileCodec::ScaleExtents;
};

bool DecodeBytes(std::vector<uint8_t> bytes, VxImage& img) {
    return vt::DecodeBytes(std::move(bytes), VX_FORMAT_WMF, img);
}

TEST(MetafileHeader, PlaceableSizeFollowsUnitsPerInchAt96Dpi) {
    VxImage img;
    ASSERT_TRUE(DecodeBytes(mft::Wmf().Build(0, 0, 1440, 720, 1440), img)) << img.GetLastError();
    EXPECT_EQ(img.GetWidth(), 96u);
    EXPECT_EQ(img.GetHeight(), 48u);
    EXPECT_EQ(img.GetBpp(), 24);
    EXPECT_EQ(img.GetType(), uint32_t(VX_FORMAT_WMF));

    // Integer division, and a box that does not start at zero.
    VxImage odd;
    ASSERT_TRUE(DecodeBytes(mft::Wmf().Build(-100, 50, 900, 349, 1000), odd));
    EXPECT_EQ(odd.GetWidth(), 96u);   // 1000 * 96 / 1000
    EXPECT_EQ(odd.GetHeight(), 28u);  // 299 * 96 / 1000 = 28.7
}

TEST(MetafileHeader, EnhancedSizeComesFromBoundsAndIsLimited) {
    VxImage img;
    ASSERT_TRUE(DecodeBytes(mft::Emf().Build(10, 10, 5010, 2010), img)) << img.GetLastError();
    EXPECT_EQ(img.GetWidth(), 4000u);
    EXPECT_EQ(img.GetHeight(), 1600u);

    VxImage small;
    ASSERT_TRUE(DecodeBytes(mft::Emf().Build(5, 7, 105, 57), small));
    EXPECT_EQ(small.GetWidth(), 100u);
    EXPECT_EQ(small.GetHeight(), 50u);
}

TEST(MetafileHeader, MaxSizeReplacesTheOwnSize) {
    Bytes wmf = mft::Wmf().Build(0, 0, 1440, 720, 1440);
    VxMetafileCodec codec;
    VxMemFile f(wmf.data(), uint32_t(wmf.size()));
    ASSERT_TRUE(codec.Decode(&f, 300, 0));
    EXPECT_EQ(codec.GetWidth(), 300u);
    EXPECT_EQ(codec.GetHeight(), 48u);

    VxMetafileCodec both;
    VxMemFile g(wmf.data(), uint32_t(wmf.size()));
    ASSERT_TRUE(both.Decode(&g, 10, 9000));  // 10 x 9000 limited to 4 x 4000
    EXPECT_EQ(both.GetWidth(), 4u);
    EXPECT_EQ(both.GetHeight(), 4000u);
}

TEST(MetafileHeader, LimitSizeKeepsProportions) {
    int32_t w = 5000, h = 2000;
    Probe::LimitSize(&w, &h);
    EXPECT_EQ(w, 4000);
    EXPECT_EQ(h, 1600);
    w = 8000, h = 10000;  // width first (4000 x 5000), then height
    Probe::LimitSize(&w, &h);
    EXPECT_EQ(w, 3200);
    EXPECT_EQ(h, 4000);
    w = 3000, h = 9000;
    Probe::LimitSize(&w, &h);
    EXPECT_EQ(w, 1333);
    EXPECT_EQ(h, 4000);
    w = 4000, h = 4000;
    Probe::LimitSize(&w, &h);
    EXPECT_EQ(w, 4000);
    EXPECT_EQ(h, 4000);
}

TEST(MetafileHeader, ExtentScalingEndsForEveryBox) {
    int32_t x = 96, y = 48;
    Probe::ScaleExtents(&x, &y);
    EXPECT_EQ(x, 9600);
    EXPECT_EQ(y, 4800);
    x = 7000, y = 10;  // x already large: untouched
    Probe::ScaleExtents(&x, &y);
    EXPECT_EQ(x, 7000);
    EXPECT_EQ(y, 10);
    x = 10, y = 7000;  // y already large: untouched
    Probe::ScaleExtents(&x, &y);
    EXPECT_EQ(x, 10);
    // Zero and negative extents would never reach 6554.
    x = 0, y = 5;
    Probe::ScaleExtents(&x, &y);
    EXPECT_EQ(x, 0);
    x = -3, y = -4;
    Probe::ScaleExtents(&x, &y);
    EXPECT_LT(x, 6554);
    x = 5, y = 0;
    Probe::ScaleExtents(&x, &y);
    EXPECT_EQ(y, 0);
}

TEST(MetafileHeader, BadPlaceableHeadersAreDamaged) {
    const Bytes good = mft::Wmf().Rectangle(0, 0, 10, 10).Build(0, 0, 96, 96, 96);
    uint8_t header[22];
    std::copy(good.begin(), good.begin() + 22, header);
    EXPECT_TRUE(Probe::IsPlaceableHeader(header));

    for (uint16_t upi : {uint16_t(0), uint16_t(3000)}) {
        VxImage img;
        EXPECT_FALSE(DecodeBytes(mft::Wmf().Build(0, 0, 96, 96, upi), img)) << upi;
        EXPECT_STREQ(img.GetLastError(), "损坏的WMF");
    }
    VxImage edge;
    EXPECT_TRUE(DecodeBytes(mft::Wmf().Build(0, 0, 2540, 2540, 2540), edge));
    EXPECT_EQ(edge.GetWidth(), 96u);

    Bytes sum = good;
    sum[20] ^= 1;
    VxImage img;
    EXPECT_FALSE(DecodeBytes(sum, img));
    EXPECT_STREQ(img.GetLastError(), "损坏的WMF");

    Bytes type = good;
    type[22] = 3;  // metafile type must be 1 or 2
    EXPECT_FALSE(DecodeBytes(type, img));
    EXPECT_STREQ(img.GetLastError(), "损坏的WMF");

    Bytes longer = good;
    longer[22 + 6] = 0xFF;  // word count beyond the stream
    longer[22 + 7] = 0xFF;
    EXPECT_FALSE(DecodeBytes(longer, img));
    EXPECT_STREQ(img.GetLastError(), "损坏的WMF");

    Bytes junk = {'h', 'e', 'l', 'l', 'o'};
    EXPECT_FALSE(DecodeBytes(junk, img));
    EXPECT_STREQ(img.GetLastError(), "损坏的WMF");

    Bytes emf = mft::Emf().Build(0, 0, 10, 10);
    emf[40] = 'X';  // signature
    EXPECT_FALSE(DecodeBytes(emf, img));
    EXPECT_STREQ(img.GetLastError(), "损坏的WMF");
}

TEST(MetafileHeader, EmptyAndReversedBoxesAreEmpty) {
    VxImage img;
    EXPECT_FALSE(DecodeBytes(mft::Wmf().Build(0, 0, 0, 96, 96), img));
    EXPECT_STREQ(img.GetLastError(), "空的WMF");
    // 10 units at 1440 per inch is less than a pixel.
    EXPECT_FALSE(DecodeBytes(mft::Wmf().Build(0, 0, 10, 10, 1440), img));
    EXPECT_STREQ(img.GetLastError(), "空的WMF");
    EXPECT_FALSE(DecodeBytes(mft::Wmf().Build(96, 0, 0, 96, 96), img));
    EXPECT_STREQ(img.GetLastError(), "空的WMF");
    EXPECT_FALSE(DecodeBytes(mft::Emf().Build(50, 50, 50, 80), img));
    EXPECT_STREQ(img.GetLastError(), "空的WMF");
    EXPECT_FALSE(DecodeBytes(mft::Emf().Build(50, 50, 80, 20), img));
    EXPECT_STREQ(img.GetLastError(), "空的WMF");
}

TEST(MetafileHeader, EscapeCancels) {
    Bytes wmf = mft::Wmf().Build(0, 0, 96, 96, 96);
    VxImage img;
    img.SetEscape(1);
    EXPECT_FALSE(DecodeBytes(wmf, img));
    EXPECT_STREQ(img.GetLastError(), "用户取消");
    EXPECT_FALSE(img.IsValid());
}

TEST(MetafileHeader, FailedDecodeKeepsThePicture) {
    VxImage img = vt::MakeGradient24(5, 4);
    Bytes junk(200, 0x11);
    EXPECT_FALSE(DecodeBytes(junk, img));
    EXPECT_EQ(img.GetWidth(), 5u);
    EXPECT_EQ(img.GetHeight(), 4u);
}

TEST(MetafileHeader, EveryFixtureIsFoundByProbing) {
    for (const std::string& path : vt::FixtureFiles("metafile", {".wmf", ".emf"})) {
        VxImage img;
        EXPECT_TRUE(img.Load(path.c_str(), 0)) << path << ": " << img.GetLastError();
        EXPECT_EQ(img.GetType(), uint32_t(VX_FORMAT_WMF)) << path;
    }
}

TEST(MetafileSave, EverySaveIsRefused) {
    VxImage img = vt::MakeGradient24(8, 8);
    uint8_t* buffer = nullptr;
    int32_t size = 0;
    EXPECT_FALSE(img.Encode(buffer, size, VX_FORMAT_WMF));
    EXPECT_STREQ(img.GetLastError(), "不支持保存WMF");
    EXPECT_EQ(buffer, nullptr);

    vt::TempDir dir;
    const std::string out = dir.file("x.wmf");
    EXPECT_FALSE(img.Save(out.c_str(), VX_FORMAT_WMF));
    EXPECT_STREQ(img.GetLastError(), "不支持保存WMF");
    EXPECT_FALSE(vt::FileExists(out));

    // A decoded metafile cannot be written back either.
    VxImage mf;
    Bytes wmf = mft::Wmf().Build(0, 0, 96, 96, 96);
    ASSERT_TRUE(mf.Decode(wmf.data(), uint32_t(wmf.size()), VX_FORMAT_WMF));
    EXPECT_FALSE(mf.Save(out.c_str(), VX_FORMAT_WMF));
    EXPECT_STREQ(mf.GetLastError(), "不支持保存WMF");

    VxMetafileCodec codec;
    EXPECT_FALSE(codec.Encode(nullptr));
}

}  // namespace
