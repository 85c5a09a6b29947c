#include <gtest/gtest.h>

#include "core/vx_image.h"
#include "tests/support/hostile_sweep.h"
#include "tests/support/test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;

// The hand-assembled fixtures (tests/data/qoi/make_fixtures.py), pixel by pixel from the top.
TEST(Qoi, HandAssembledStreamsDecodeAsTheirOpsSay) {
    const struct {
        const char* file;
        bool alpha;
        std::vector<uint8_t> rgba;
    } cases[] = {
        {"qoi/hand_every_op.qoi", true, {10, 20, 30, 255, 11, 19, 30, 255, 18, 29, 45, 255, 200, 100, 50, 128,
                                         10, 20, 30, 255, 10, 20, 30, 255, 10, 20, 30, 255, 10, 20, 30, 255}},
        {"qoi/hand_rgb_linear.qoi", false, {255, 0, 0, 255, 0, 255, 0, 255, 0, 255, 0, 255}},
    };
    for (const auto& c : cases) {
        const Bytes file = vt::ReadFileBytes(vt::DataPath(c.file));
        VxImage img(0);
        ASSERT_TRUE(vt::DecodeBytes(file, VX_FORMAT_QOI, img)) << c.file << ": " << img.GetLastError();
        EXPECT_EQ(img.AlphaIsValid(), c.alpha) << c.file;
        EXPECT_EQ(vt::ToRgba(img).px, c.rgba) << c.file;
        // The first uses each op where the writer would, so the writer gives its bytes back.
        if (c.alpha) {
            EXPECT_EQ(vt::EncodeBytes(img, VX_FORMAT_QOI), file);
        }
    }
}

// Long runs, the index and every delta, in 3 and 4 channels; palettes come out as colour.
TEST(Qoi, WrittenPicturesReadBackExactly) {
    for (const int kind : {0, 1, 2}) {
        VxImage pic = vt::MakeGradient24(300, 70);
        for (uint32_t x = 0; x < 200; ++x) pic.SetPixelColor(int32_t(x), 5, vx::MakeRGBQUAD(9, 9, 9));
        if (kind == 1) {
            ASSERT_TRUE(pic.AlphaCreate());
            for (uint32_t x = 0; x < 300; ++x) pic.AlphaSet(int32_t(x), 3, uint8_t(x * 7));
        }
        if (kind == 2) {
            ASSERT_TRUE(pic.DecreaseBpp(8, false));
        }
        bool ok = false;
        const Bytes file = vt::EncodeBytes(pic, VX_FORMAT_QOI, &ok);
        ASSERT_TRUE(ok) << kind << ": " << pic.GetLastError();
        EXPECT_EQ(file.at(12), kind == 1 ? 4 : 3) << kind;
        VxImage back(0);
        ASSERT_TRUE(vt::DecodeBytes(file, VX_FORMAT_QOI, back)) << kind << ": " << back.GetLastError();
        EXPECT_EQ(back.GetBpp(), 24u);
        EXPECT_EQ(vt::MaxChannelDiff(vt::ToRgba(back), vt::ToRgba(pic)), 0) << kind;
        EXPECT_GT(vt::HostileSweep(file, VX_FORMAT_QOI, uint32_t(kind) + 1, 100).decodes, 0);
    }
}

TEST(Qoi, BadFilesFailWithTheirText) {
    const Bytes head = {'q', 'o', 'i', 'f', 0, 0, 0, 2, 0, 0, 0, 1, 3, 0};
    const auto with = [&](std::initializer_list<uint8_t> ops, size_t at = 0, uint8_t value = 0) {
        Bytes b = head;
        b.insert(b.end(), ops);
        if (at) b[at] = value;
        return b;
    };
    const struct {
        Bytes bytes;
        const char* text;
    } cases[] = {
        {{'q', 'o', 'i', 'x', 0, 0, 0, 1, 0, 0, 0, 1, 3, 0}, "Not a QOI"},
        {with({}, 12, 2), "bad QOI header: channels"},
        {with({}, 13, 2), "bad QOI header: colour space"},
        {with({}, 7, 0), "bad QOI header: empty picture"},
        {with({0xC0}), "QOI data ends before the last pixel"},
        {with({0xC0, 0xFE, 1, 2, 3, 0, 0, 0, 0, 0, 0, 0}), "QOI data ends before the last pixel"},
        {with({0xC2, 0, 0, 0, 0, 0, 0, 0, 1}), "Corrupted QOI: a run goes past the last pixel"},
        {with({0xC1, 0, 0, 0, 0, 0, 0, 0, 2}), "Corrupted QOI: no end marker"},
        // A huge picture with a few bytes behind it: refused before anything is reserved.
        {with({0xC1, 0, 0, 0, 0, 0, 0, 0, 1}, 5, 0x10), "QOI data ends before the last pixel"},
    };
    for (const auto& c : cases) {
        VxImage img(0);
        img.SetMaxPixels(0);
        EXPECT_FALSE(vt::DecodeBytes(c.bytes, VX_FORMAT_QOI, img)) << c.text;
        EXPECT_STREQ(img.GetLastError(), c.text);
    }
    EXPECT_GT(vt::HostileSweep(vt::ReadFileBytes(vt::DataPath("qoi/hand_every_op.qoi")), VX_FORMAT_QOI).decodes, 0);
}

}  // namespace
