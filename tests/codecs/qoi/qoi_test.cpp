#include <gtest/gtest.h>

#include "tests/support/hostile_sweep.h"
#include "tests/support/test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Hand-assembled streams, pixels from the top; the writer gives the first's bytes back.
TEST(Qoi, HandAssembledStreamsDecodeAsTheirOpsSay) {
    const std::tuple<const char*, bool, Bytes> cases[] = {
        {"qoi/hand_every_op.qoi", true, {10, 20, 30, 255, 11, 19, 30, 255, 18, 29, 45, 255, 200, 100, 50, 128,
                                         10, 20, 30, 255, 10, 20, 30, 255, 10, 20, 30, 255, 10, 20, 30, 255}},
        {"qoi/hand_rgb_linear.qoi", false, {255, 0, 0, 255, 0, 255, 0, 255, 0, 255, 0, 255}}};
    for (const auto& [name, alpha, rgba] : cases) {
        const Bytes file = vt::ReadFileBytes(vt::DataPath(name));
        VxImage img(0);
        ASSERT_TRUE(vt::DecodeBytes(file, VX_FORMAT_QOI, img)) << name << ": " << img.GetLastError();
        EXPECT_TRUE(vt::ToRgba(img).px == rgba && img.AlphaIsValid() == alpha) << name;
        EXPECT_EQ(vt::EncodeBytes(img, VX_FORMAT_QOI) == file, alpha) << name;
        EXPECT_GT(vt::HostileSweep(file, VX_FORMAT_QOI).decodes, 0) << name;
    }
}

// Long runs, the index and every delta, in 3 and 4 channels; a palette comes out as colour.
TEST(Qoi, WrittenPicturesReadBackExactly) {
    for (const int kind : {0, 1, 2}) {
        VxImage pic = vt::MakeGradient24(300, 70);
        for (int32_t x = 0; x < 200; ++x) pic.SetPixelColor(x, 5, vx::MakeRGBQUAD(9, 9, 9));
        ASSERT_TRUE(kind == 0 || (kind == 1 ? pic.AlphaCreate() : pic.DecreaseBpp(8, false)));
        for (int32_t x = 0; kind == 1 && x < 300; ++x) pic.AlphaSet(x, 3, uint8_t(x * 7));
        const Bytes file = vt::EncodeBytes(pic, VX_FORMAT_QOI);
        VxImage back(0);
        ASSERT_TRUE(vt::DecodeBytes(file, VX_FORMAT_QOI, back) && file[12] == (kind == 1 ? 4 : 3)) << kind;
        EXPECT_EQ(vt::MaxChannelDiff(vt::ToRgba(back), vt::ToRgba(pic)), 0) << kind;
    }
}

TEST(Qoi, BadFilesFailWithTheirText) {
    const auto with = [](Bytes ops, size_t at = 0, uint8_t value = 0) {  // 2x1 RGB, header byte `at` changed
        Bytes b = {'q', 'o', 'i', 'f', 0, 0, 0, 2, 0, 0, 0, 1, 3, 0};
        b.insert(b.end(), ops.begin(), ops.end());
        if (at) b[at] = value;
        return b;
    };
    const char* const cut = "QOI data ends before the last pixel";
    const std::pair<Bytes, const char*> cases[] = {
        {with({}, 3, 'x'), "Not a QOI"}, {with({}, 12, 2), "bad QOI header: channels"}, {with({0xC0}), cut},
        {with({}, 13, 2), "bad QOI header: colour space"}, {with({}, 7, 0), "bad QOI header: empty picture"},
        {with({0xC0, 0xFE, 1, 2, 3, 0, 0, 0, 0, 0, 0, 0}), cut}, {with({0xC1, 0, 0, 0, 0, 0, 0, 0, 2}), "Corrupted QOI: no end marker"},
        {with({0xC2, 0, 0, 0, 0, 0, 0, 0, 1}), "Corrupted QOI: a run goes past the last pixel"},
        {with({0xC1, 0, 0, 0, 0, 0, 0, 0, 1}, 5, 0x10), cut}};  // a million pixels in 9 bytes
    for (const auto& [bytes, text] : cases) {
        VxImage img(0);
        img.SetMaxPixels(0);
        EXPECT_TRUE(!vt::DecodeBytes(bytes, VX_FORMAT_QOI, img) && img.GetLastError() == std::string(text)) << text;
    }
}

}  // namespace
