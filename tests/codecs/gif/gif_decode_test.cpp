// Decoder behaviour on hand-made files: frame selection, extensions,
// interlace order, compositing, damaged and hostile streams.
#include <gtest/gtest.h>

#include <array>
#include <tuple>


#include "tests/codecs/gif/gif_test_util.h"
#include "tests/support/test_support.h"

namespace {

using gt::Builder;
using gt::Bytes;

const std::vector<uint32_t> kGrey16 = [] {
    std::vector<uint32_t> t;
    for (uint32_t i = 0; i < 16; ++i) t.push_back(i * 0x111111u);
    return t;
}();

// Data of a picture whose top-down row r holds index rowValue(r) everywhere.
Bytes RowsData(int w, int h, int bpp, const std::vector<int>& rowValue) {
    VxImage img(uint32_t(w), uint32_t(h), uint32_t(bpp), 0);
    for (int r = 0; r < h; ++r)
        for (int x = 0; x < w; ++x) img.SetPixelIndex(x, h - 1 - r, uint8_t(rowValue[size_t(r)]));
    return gt::FrameData(gt::EncodeGif(img));
}

Bytes SolidData(int w, int h, int bpp, int index) {
    return RowsData(w, h, bpp, std::vector<int>(size_t(h), index));
}

// Top-down index at (x, y).
int IndexAt(const VxImage& img, int x, int y) {
    return img.GetPixelIndex(x, int(img.GetHeight()) - 1 - y);
}

TEST(GifDecode, InterlacedRowsLandInPassOrder) {
    // Transmission row k goes to display row order[k].
    const int order[10] = {0, 8, 4, 2, 6, 1, 3, 5, 7, 9};
    std::vector<int> sent(10);
    for (int k = 0; k < 10; ++k) sent[size_t(k)] = k;
    const Bytes gif =
        Builder(3, 10, kGrey16).Image(0, 0, 3, 10, RowsData(3, 10, 4, sent), {}, true).Done();
    VxImage img;
    ASSERT_TRUE(gt::DecodeGif(gif, img)) << img.GetLastError();
    for (int k = 0; k < 10; ++k)
        for (int x = 0; x < 3; ++x) EXPECT_EQ(IndexAt(img, x, order[k]), k) << "row sent " << k;

    // Heights that end inside a pass: rows a pass would put at the height are skipped.
    for (int h : {1, 2, 3, 4, 5, 9}) {
        std::vector<int> rows(static_cast<size_t>(h));
        std::vector<int> expect(static_cast<size_t>(h), -1);
        int k = 0;
        for (int pass = 0; pass < 4; ++pass) {
            const int start[4] = {0, 4, 2, 1}, step[4] = {8, 8, 4, 2};
            for (int r = start[pass]; r < h; r += step[pass]) {
                rows[size_t(k)] = k + 1;
                expect[size_t(r)] = k + 1;
                ++k;
            }
        }
        const Bytes g =
            Builder(2, h, kGrey16).Image(0, 0, 2, h, RowsData(2, h, 4, rows), {}, true).Done();
        VxImage out;
        ASSERT_TRUE(gt::DecodeGif(g, out)) << "height " << h;
        for (int r = 0; r < h; ++r) EXPECT_EQ(IndexAt(out, 1, r), expect[size_t(r)]) << h << "/" << r;
    }
}

TEST(GifDecode, HeaderOnlyRequestGivesScreenSize) {
    const Bytes gif = Builder(321, 123, kGrey16).Image(0, 0, 4, 4, SolidData(4, 4, 4, 1)).Done();
    VxImage img;
    ASSERT_TRUE(gt::DecodeGif(gif, img, 0, -1));
    EXPECT_EQ(img.GetWidth(), 321u);
    EXPECT_EQ(img.GetHeight(), 123u);
    EXPECT_FALSE(img.IsValid());
}

Bytes ThreeFrames() {
    Builder b(6, 4, kGrey16);
    for (int f = 0; f < 3; ++f) b.Control(0, uint16_t(10 * (f + 1)), 0).Image(0, 0, 6, 4, SolidData(6, 4, 4, 3 + f));
    return b.Done();
}

TEST(GifDecode, FrameSelectionAndCount) {
    const Bytes gif = ThreeFrames();
    VxImage img;
    ASSERT_TRUE(gt::DecodeGif(gif, img));
    EXPECT_EQ(img.GetNumFrames(), 3);
    EXPECT_EQ(IndexAt(img, 0, 0), 3);
    EXPECT_EQ(img.GetFrameDelay(), 10u);

    VxImage second;
    ASSERT_TRUE(gt::DecodeGif(gif, second, 2));
    EXPECT_EQ(IndexAt(second, 5, 3), 5);
    EXPECT_EQ(second.GetFrameDelay(), 30u);

    for (int bad : {3, 7, -1}) {
        VxImage out;
        EXPECT_FALSE(gt::DecodeGif(gif, out, bad));
        EXPECT_EQ(out.GetNumFrames(), 3) << "frame " << bad;
        EXPECT_STRNE(out.GetLastError(), "");
    }
}

TEST(GifDecode, FrameOutsideTheScreenIsNeitherCountedNorShown) {
    const Bytes gif = Builder(6, 4, kGrey16)
                          .Image(0, 0, 6, 4, SolidData(6, 4, 4, 2))
                          .Image(3, 0, 4, 4, SolidData(4, 4, 4, 9))  // 3 + 4 > 6
                          .Image(0, 0, 6, 4, SolidData(6, 4, 4, 7))
                          .Done();
    VxImage img;
    ASSERT_TRUE(gt::DecodeGif(gif, img, 1));
    EXPECT_EQ(img.GetNumFrames(), 2);
    EXPECT_EQ(IndexAt(img, 4, 2), 7);
}

// A first frame larger than the screen grows it; later frames must fit.
TEST(GifDecode, FirstFrameLargerThanTheScreenGrowsIt) {
    for (const auto& [sw, sh, l, t, w, h] : {std::array{1, 1, 0, 0, 5, 3}, {0, 0, 2, 1, 3, 2}, {8, 2, 1, 0, 4, 4}}) {
        const Bytes gif = Builder(sw, sh, kGrey16).Image(l, t, w, h, SolidData(w, h, 4, 9))
                              .Image(0, 0, w + 9, 1, SolidData(w + 9, 1, 4, 3)).Done();
        VxImage img, size;
        ASSERT_TRUE(gt::DecodeGif(gif, img) && gt::DecodeGif(gif, size, 0, -1)) << img.GetLastError();
        EXPECT_EQ(std::tuple(img.GetWidth(), size.GetHeight(), img.GetNumFrames(), IndexAt(img, l + w - 1, t + h - 1)),
                  std::tuple(uint32_t(std::max(sw, l + w)), uint32_t(std::max(sh, t + h)), 1, 9));
    }
}

TEST(GifDecode, GraphicControlOfWrongLengthEndsTheScan) {
    const Bytes gif = Builder(6, 4, kGrey16)
                          .Image(0, 0, 6, 4, SolidData(6, 4, 4, 2))
                          .Control(0, 0, 0, 5)
                          .Image(0, 0, 6, 4, SolidData(6, 4, 4, 7))
                          .Done();
    VxImage img;
    ASSERT_TRUE(gt::DecodeGif(gif, img, 1));
    EXPECT_EQ(img.GetNumFrames(), 2);
    EXPECT_EQ(IndexAt(img, 0, 0), 2) << "the scan stops before the second frame";
}

TEST(GifDecode, LoopCountAndCommentAreRead) {
    Bytes gif = Builder(4, 4, kGrey16).Loop(5).Image(0, 0, 4, 4, SolidData(4, 4, 4, 1)).Done();
    VxImageGIF codec;
    ASSERT_TRUE(gt::DecodeCodec(gif, codec));
    EXPECT_EQ(codec.GetLoops(), 5);

    // Another application's block is not a loop count.
    Bytes other = gif;
    const char id[] = "XYZWRITER1.0";
    std::copy(id, id + 11, other.begin() + 13 + 48 + 3);
    VxImageGIF codec2;
    ASSERT_TRUE(gt::DecodeCodec(other, codec2));
    EXPECT_EQ(codec2.GetLoops(), 0);

    Bytes withComment = Builder(4, 4, kGrey16)
                            .Raw({0x21, 0xFE, 0})  // an empty comment must not eat the frame
                            .Raw({0x21, 0xFE, 5, 'h', 'e', 'l', 'l', 'o', 0})
                            .Image(0, 0, 4, 4, SolidData(4, 4, 4, 1))
                            .Done();
    VxImageGIF codec3;
    ASSERT_TRUE(gt::DecodeCodec(withComment, codec3));
    char text[256];
    codec3.GetComment(text);
    EXPECT_STREQ(text, "hello");
    EXPECT_EQ(codec3.GetNumFrames(), 1);
}

TEST(GifDecode, TransparencyBelongsToItsOwnFrame) {
    // Frame 1 is transparent on index 4; frame 2 has no transparency, so its
    // index-4 pixels must be drawn.
    Builder b(4, 2, kGrey16);
    b.Image(0, 0, 4, 2, SolidData(4, 2, 4, 1));
    b.Control(0x01, 0, 4).Image(0, 0, 4, 2, SolidData(4, 2, 4, 4));
    b.Control(0x00, 0, 0).Image(0, 0, 2, 2, SolidData(2, 2, 4, 4));
    const Bytes gif = b.Done();
    VxImage f1, f2;
    ASSERT_TRUE(gt::DecodeGif(gif, f1, 1));
    EXPECT_EQ(IndexAt(f1, 0, 0), 1);
    ASSERT_TRUE(gt::DecodeGif(gif, f2, 2));
    EXPECT_EQ(IndexAt(f2, 0, 0), 4);
    EXPECT_EQ(IndexAt(f2, 3, 0), 1);
    EXPECT_EQ(f2.GetTransIndex(), -1);
}

TEST(GifDecode, DisposalToBackgroundClearsOnlyThePreviousAreaWhateverTheBackgroundIndex) {
    Builder b(6, 4, kGrey16);
    b.b[11] = 9;  // background index: viewers show nothing there, not entry 9
    b.Control(0, 0, 0).Image(0, 0, 6, 4, SolidData(6, 4, 4, 1));
    b.Control(2 << 2, 0, 0).Image(1, 1, 2, 2, SolidData(2, 2, 4, 5));
    b.Control(0, 0, 0).Image(5, 3, 1, 1, SolidData(1, 1, 4, 6));
    const Bytes gif = b.Done();
    VxImage img;
    ASSERT_TRUE(gt::DecodeGif(gif, img, 2));
    ASSERT_GE(img.GetTransIndex(), 0);
    EXPECT_EQ(IndexAt(img, 0, 0), 1);
    EXPECT_EQ(IndexAt(img, 1, 1), img.GetTransIndex());
    EXPECT_EQ(IndexAt(img, 2, 2), img.GetTransIndex());
    EXPECT_EQ(IndexAt(img, 3, 2), 1);
    EXPECT_EQ(IndexAt(img, 5, 3), 6);
}

TEST(GifDecode, SmallFirstFrameWithoutGlobalTableMergesInTrueColour) {
    const auto red = gt::Table({0xFF0000, 0x00FF00}, 2);
    const auto blue = gt::Table({0x0000FF, 0xFFFF00}, 2);
    const Bytes gif = Builder(8, 6)
                          .Image(1, 1, 3, 2, SolidData(3, 2, 1, 0), red)
                          .Image(4, 3, 4, 3, SolidData(4, 3, 1, 1), blue)
                          .Done();
    VxImage img;
    ASSERT_TRUE(gt::DecodeGif(gif, img));
    ASSERT_EQ(img.GetBpp(), 24);
    ASSERT_EQ(img.GetWidth(), 8u);
    ASSERT_EQ(img.GetHeight(), 6u);
    const vt::Rgba px = vt::ToRgba(img);
    EXPECT_EQ(px.at(1, 1)[0], 255);
    EXPECT_EQ(px.at(3, 2)[0], 255);
    EXPECT_EQ(px.at(4, 3)[0], 255);
    EXPECT_EQ(px.at(7, 5)[1], 255);
    EXPECT_EQ(px.at(7, 5)[2], 0);
}

TEST(GifDecode, LoopingCodeChainEndsTheFrame) {
    // Codes 4,0,7,7 (3 bits) then 7 (4 bits) make entry 7 its own prefix;
    // walking it would never end.
    const Bytes data = {0x02, 0x03, 0xC4, 0x7F, 0x05, 0x00};
    const Bytes gif = Builder(4, 4, gt::Table({0, 0xFFFFFF}, 2)).Image(0, 0, 4, 4, data).Done();
    VxImage img;
    ASSERT_TRUE(gt::DecodeGif(gif, img));
    EXPECT_EQ(img.GetWidth(), 4u);
}

TEST(GifDecode, DamagedAndCutStreamsStillDecode) {
    VxImage src = gt::MakeIndexed(40, 30, 8, 3);
    const Bytes whole = gt::EncodeGif(src);
    VxImage ref;
    ASSERT_TRUE(gt::DecodeGif(whole, ref));
    // Cut inside the image data: earlier rows survive, the rest stays zero.
    Bytes cut(whole.begin(), whole.begin() + long(whole.size() * 2 / 3));
    VxImage part;
    ASSERT_TRUE(gt::DecodeGif(cut, part));
    EXPECT_EQ(IndexAt(part, 0, 0), IndexAt(ref, 0, 0));
    EXPECT_EQ(IndexAt(part, 39, 5), IndexAt(ref, 39, 5));
    EXPECT_EQ(IndexAt(part, 39, 29), 0);
}

TEST(GifDecode, HostileSizesFailFastWithAText) {
    // A 65535 x 65535 screen with four bytes of data.
    const Bytes gif = Builder(65535, 65535, kGrey16).Image(0, 0, 1, 1, SolidData(1, 1, 4, 1)).Done();
    VxImage img;
    EXPECT_FALSE(gt::DecodeGif(gif, img));
    EXPECT_STRNE(img.GetLastError(), "");

    // Nearly the whole allowance in one screen: counted once, so it loads.
    const Bytes wide = Builder(7900, 7900, kGrey16).Image(0, 0, 1, 1, SolidData(1, 1, 4, 1)).Done();
    VxImage loaded;
    EXPECT_TRUE(gt::DecodeGif(wide, loaded)) << loaded.GetLastError();

    // Many tiny frames disposed to background on a large screen: bounded work.
    Builder many(3000, 3000, kGrey16);
    const Bytes one = SolidData(1, 1, 4, 2);
    for (int i = 0; i < 3000; ++i) many.Control(2 << 2, 0, 0).Image(i, i, 1, 1, one);
    const Bytes anim = many.Done();
    VxImage last;
    ASSERT_TRUE(gt::DecodeGif(anim, last, 2999)) << last.GetLastError();
    EXPECT_EQ(last.GetNumFrames(), 3000);
    EXPECT_EQ(IndexAt(last, 2999, 2999), 2);
    EXPECT_EQ(IndexAt(last, 2998, 2998), last.GetTransIndex()) << "disposed: shows nothing";

    // Large frames with next to no data: refused once the work outgrows the
    // file. The text is the work counter's: it stopped the decode.
    Builder big(4000, 4000, kGrey16);
    for (int i = 0; i < 400; ++i) big.Image(0, 0, 4000, 4000, one);
    const Bytes bigGif = big.Done();
    VxImage refused;
    EXPECT_FALSE(gt::DecodeGif(bigGif, refused, 399));
    EXPECT_STREQ(refused.GetLastError(), "GIF: picture too large for the data in the file");
}

TEST(GifDecode, FramesWiderThan32767Pixels) {
    VxImage wide(40000, 2, 8, 0);
    for (int x = 0; x < 40000; ++x) {
        wide.SetPixelIndex(x, 0, uint8_t(x % 7));
        wide.SetPixelIndex(x, 1, uint8_t(x % 11));
    }
    const Bytes gif = gt::EncodeGif(wide);
    VxImage back;
    ASSERT_TRUE(gt::DecodeGif(gif, back)) << back.GetLastError();
    ASSERT_EQ(back.GetWidth(), 40000u);
    EXPECT_EQ(IndexAt(back, 39999, 0), 39999 % 11);
    EXPECT_EQ(IndexAt(back, 39999, 1), 39999 % 7);
    EXPECT_EQ(IndexAt(back, 32768, 1), 32768 % 7);
}

}  // namespace
