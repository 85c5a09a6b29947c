// Byte layout of what the encoder writes.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "tests/codecs/gif/gif_test_util.h"
#include "tests/support/test_support.h"

namespace {

using gt::Bytes;

TEST(GifEncode, ThreeByTwoPictureLayout) {
    VxImage img = gt::MakeIndexed(3, 2, 8);
    const Bytes b = gt::EncodeGif(img);
    ASSERT_GT(b.size(), 13u + 768 + 8 + 10 + 1 + 2);
    EXPECT_EQ(std::string(b.begin(), b.begin() + 6), "GIF89a");
    EXPECT_EQ(Bytes(b.begin() + 6, b.begin() + 13), (Bytes{3, 0, 2, 0, 0xE7, 0, 0}));
    const RGBQUAD* pal = img.GetPalette();
    for (int i = 0; i < 256; ++i) {
        ASSERT_EQ(b[size_t(13 + 3 * i)], pal[i].rgbRed);
        ASSERT_EQ(b[size_t(14 + 3 * i)], pal[i].rgbGreen);
        ASSERT_EQ(b[size_t(15 + 3 * i)], pal[i].rgbBlue);
    }
    size_t p = 13 + 768;
    EXPECT_EQ(Bytes(b.begin() + long(p), b.begin() + long(p) + 8),
              (Bytes{0x21, 0xF9, 4, 0, 0, 0, 0xFF, 0}));
    p += 8;
    EXPECT_EQ(Bytes(b.begin() + long(p), b.begin() + long(p) + 11),
              (Bytes{0x2C, 0, 0, 0, 0, 3, 0, 2, 0, 0, 8}));
    size_t end = 0;
    const auto blocks = gt::SubBlocks(b, p + 11, &end);
    EXPECT_FALSE(blocks.empty());
    EXPECT_EQ(end + 1, b.size());
    EXPECT_EQ(b.back(), 0x3B);
    EXPECT_EQ(b[end - 1], 0);
}

TEST(GifEncode, OneBitPictureUsesCodeSizeTwo) {
    VxImage img = gt::MakeIndexed(9, 3, 1);
    const Bytes b = gt::EncodeGif(img);
    ASSERT_GT(b.size(), 40u);
    EXPECT_EQ(b[10], 0x80);
    // 6-byte table, graphic control, descriptor, then the code size.
    EXPECT_EQ(b[13 + 6], 0x21);
    EXPECT_EQ(b[13 + 6 + 8], 0x2C);
    EXPECT_EQ(b[13 + 6 + 8 + 10], 2);
    // First code: the clear code 4 in 3 bits.
    EXPECT_EQ(b[13 + 6 + 8 + 12] & 0x07, 4);

    VxImage four = gt::MakeIndexed(5, 5, 4);
    EXPECT_EQ(gt::EncodeGif(four)[10], 0xE3);
}

TEST(GifEncode, GraphicControlFlags) {
    VxImageGIF codec;
    ASSERT_TRUE(codec.Create(4, 4, 8, VX_FORMAT_GIF));
    Bytes b = gt::EncodeWith(codec);
    EXPECT_EQ(Bytes(b.begin() + 781, b.begin() + 789), (Bytes{0x21, 0xF9, 4, 0, 0, 0, 0xFF, 0}));

    codec.SetTransIndex(5);
    codec.SetDisposalMethod(2);
    codec.SetFrameDelay(0x1234);
    b = gt::EncodeWith(codec);
    EXPECT_EQ(Bytes(b.begin() + 781, b.begin() + 789),
              (Bytes{0x21, 0xF9, 4, 0x09, 0x34, 0x12, 5, 0}));
}

TEST(GifEncode, CommentIsCutAt255AndEmptyWritesNothing) {
    VxImageGIF codec;
    ASSERT_TRUE(codec.Create(4, 4, 1, VX_FORMAT_GIF));
    const Bytes plain = gt::EncodeWith(codec);
    EXPECT_EQ(plain[13 + 6 + 8], 0x2C);

    codec.SetComment(std::string(300, 'c').c_str());
    char back[256];
    codec.GetComment(back);
    EXPECT_EQ(std::string(back), std::string(255, 'c'));
    const Bytes b = gt::EncodeWith(codec);
    const size_t p = 13 + 6 + 8;
    ASSERT_EQ(b[p], 0x21);
    EXPECT_EQ(b[p + 1], 0xFE);
    EXPECT_EQ(gt::SubBlocks(b, p + 2), std::vector<int>{255});

    VxImageGIF reader;
    ASSERT_TRUE(gt::DecodeCodec(b, reader));
    reader.GetComment(back);
    EXPECT_EQ(std::string(back), std::string(255, 'c'));
}

// All data sub-block lengths of every image in a file.
std::vector<int> AllDataBlocks(const Bytes& b) {
    std::vector<int> out;
    size_t p = 13;
    if (b[10] & 0x80) p += size_t(3) << ((b[10] & 7) + 1);
    while (p < b.size() && b[p] != 0x3B) {
        if (b[p] == 0x21) {
            gt::SubBlocks(b, p + 2, &p);
        } else if (b[p] == 0x2C) {
            const uint8_t f = b[p + 9];
            p += 10;
            if (f & 0x80) p += size_t(3) << ((f & 7) + 1);
            const auto blocks = gt::SubBlocks(b, p + 1, &p);
            out.insert(out.end(), blocks.begin(), blocks.end());
        } else {
            ADD_FAILURE() << "unexpected byte " << int(b[p]) << " at " << p;
            break;
        }
    }
    return out;
}

TEST(GifEncode, SubBlockLengthsPerCoder) {
    // Noise, so that every coder writes many blocks.
    VxImage img(200, 120, 8, 0);
    uint32_t s = 12345;
    for (int y = 0; y < 120; ++y)
        for (int x = 0; x < 200; ++x) {
            s = s * 1103515245u + 12345u;
            img.SetPixelIndex(x, y, uint8_t((s >> 16) & ((x / 20) % 2 ? 0xFF : 0x03)));
        }
    const int limit[3] = {254, 254, 255};
    for (int option : {0, 1, 2}) {
        img.SetCodecOption(uint32_t(option), VX_FORMAT_GIF);
        const Bytes b = gt::EncodeGif(img);
        const auto blocks = AllDataBlocks(b);
        ASSERT_GT(blocks.size(), 3u) << "coder " << option;
        EXPECT_EQ(*std::max_element(blocks.begin(), blocks.end()), limit[option]) << "coder " << option;
        VxImage back;
        ASSERT_TRUE(gt::DecodeGif(b, back)) << "coder " << option;
        EXPECT_EQ(vt::MaxChannelDiff(vt::ToRgba(back), vt::ToRgba(img)), 0) << "coder " << option;
    }
}

TEST(GifEncode, TrueColourPictureIsWrittenAsTiles) {
    VxImage img = vt::MakeGradient24(40, 20);
    const Bytes b = gt::EncodeGif(img);
    ASSERT_GT(b.size(), 13u);
    EXPECT_EQ(b[10], 0x11);
    struct Tile {
        int l, t, w, h;
    };
    const Tile expect[6] = {{0, 0, 17, 15}, {17, 0, 17, 15}, {34, 0, 6, 15},
                            {0, 15, 17, 5}, {17, 15, 17, 5}, {34, 15, 6, 5}};
    size_t p = 13;
    for (const Tile& t : expect) {
        ASSERT_LT(p + 18, b.size());
        ASSERT_EQ(b[p], 0x21);
        ASSERT_EQ(b[p + 1], 0xF9);
        p += 8;
        ASSERT_EQ(b[p], 0x2C);
        EXPECT_EQ(b[p + 1] | (b[p + 2] << 8), t.l);
        EXPECT_EQ(b[p + 3] | (b[p + 4] << 8), t.t);
        EXPECT_EQ(b[p + 5] | (b[p + 6] << 8), t.w);
        EXPECT_EQ(b[p + 7] | (b[p + 8] << 8), t.h);
        EXPECT_EQ(b[p + 9], 0x87) << "256-entry local table";
        p += 10 + 768;
        gt::SubBlocks(b, p + 1, &p);
    }
    EXPECT_EQ(p + 1, b.size());
    EXPECT_EQ(b[p], 0x3B);

    // The decoder merges such a file back into one true-colour picture.
    VxImage back;
    ASSERT_TRUE(gt::DecodeGif(b, back));
    EXPECT_EQ(back.GetBpp(), 24);
    EXPECT_EQ(vt::MaxChannelDiff(vt::ToRgba(back), vt::ToRgba(img), false), 0);

    // Pixels an alpha plane clears take each tile's transparent entry.
    ASSERT_TRUE(img.AlphaCreate());
    for (int x = 0; x < 40; ++x) img.AlphaSet(x, 7, 100);
    VxImage clear;
    ASSERT_TRUE(gt::DecodeGif(gt::EncodeGif(img), clear));
    ASSERT_TRUE(clear.AlphaIsValid());
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 40; ++x) {
            ASSERT_EQ(clear.AlphaGet(x, y), y == 7 ? 0 : 255) << x << "," << y;
            if (y != 7) {
                ASSERT_TRUE(clear.GetPixelColor(x, y, false) == img.GetPixelColor(x, y, false));
            }
        }
}

TEST(GifEncode, AnimationLoopCounts) {
    VxImage a = gt::MakeIndexed(8, 6, 8, 1), c = gt::MakeIndexed(8, 6, 8, 2);
    VxImageGIF codec;
    codec.SetLoops(5);
    Bytes b = gt::EncodePages(codec, {&a, &c});
    const size_t p = 13 + 768;
    ASSERT_EQ(Bytes(b.begin() + long(p), b.begin() + long(p) + 3), (Bytes{0x21, 0xFF, 11}));
    EXPECT_EQ(std::string(b.begin() + long(p) + 3, b.begin() + long(p) + 14), "NETSCAPE2.0");
    EXPECT_EQ(Bytes(b.begin() + long(p) + 14, b.begin() + long(p) + 19), (Bytes{3, 1, 4, 0, 0}));
    VxImageGIF reader;
    ASSERT_TRUE(gt::DecodeCodec(b, reader));
    EXPECT_EQ(reader.GetLoops(), 4) << "read back unchanged";
    EXPECT_EQ(reader.GetNumFrames(), 2);

    codec.SetLoops(0);
    b = gt::EncodePages(codec, {&a, &c});
    EXPECT_EQ(Bytes(b.begin() + long(p) + 14, b.begin() + long(p) + 19), (Bytes{3, 1, 0, 0, 0}));

    codec.SetLoops(1);
    b = gt::EncodePages(codec, {&a, &c});
    EXPECT_EQ(b[p + 1], 0xF9) << "no application extension";
}

TEST(GifEncode, AnimationRefusals) {
    VxImage a = gt::MakeIndexed(8, 6, 8), rgb = vt::MakeGradient24(8, 6);
    VxImageGIF codec;
    VxMemFile f;
    f.Open();
    VxImage* none[1] = {nullptr};
    EXPECT_FALSE(codec.Encode(&f, none, 1));
    EXPECT_STREQ(codec.GetLastError(), "multipage GIF, no images!");
    EXPECT_FALSE(codec.Encode(&f, nullptr, 0));
    VxImage* withNull[2] = {&a, nullptr};
    EXPECT_FALSE(codec.Encode(&f, withNull, 2));
    EXPECT_STREQ(codec.GetLastError(), "Bad image pointer");
    VxImage* deep[2] = {&a, &rgb};
    EXPECT_FALSE(codec.Encode(&f, deep, 2));
    EXPECT_EQ(f.Size(), 0) << "nothing written for a refused call";
    EXPECT_FALSE(codec.Encode(static_cast<VxFile*>(nullptr), deep, 2));
    EXPECT_STREQ(codec.GetLastError(), "invalid file pointer");
}

TEST(GifEncode, AnimationThroughTheDispatch) {
    VxImage a = gt::MakeIndexed(8, 6, 8, 1), c = gt::MakeIndexed(8, 6, 4, 2);
    VxImage* pages[2] = {&a, &c};
    VxMemFile f;
    f.Open();
    ASSERT_TRUE(a.Encode(&f, pages, 2, VX_FORMAT_GIF)) << a.GetLastError();
    Bytes b(f.GetBuffer(false), f.GetBuffer(false) + f.Size());
    VxImage second;
    ASSERT_TRUE(gt::DecodeGif(b, second, 1));
    EXPECT_EQ(second.GetNumFrames(), 2);
    // The 16-colour page differs from the global table and brings its own.
    EXPECT_EQ(vt::MaxChannelDiff(vt::ToRgba(second), vt::ToRgba(c), false), 0);
}

}  // namespace
