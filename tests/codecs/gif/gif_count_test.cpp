// Frame counting reads each frame's codes without making pixels; these files
// end their frame data in every way the decoder tells apart, and the count and
// the frames must come out as a full decode of every frame gives them.
#include <gtest/gtest.h>

#include "tests/codecs/gif/gif_test_util.h"
#include "tests/support/test_support.h"

namespace {

using gt::Bytes;

// 3-bit codes (code size 2: clear 4, end 5), packed first bit lowest.
Bytes Pack(const std::vector<int>& codes) {
    Bytes out;
    uint32_t acc = 0;
    int bits = 0;
    for (int c : codes) {
        acc |= uint32_t(c) << bits;
        bits += 3;
        while (bits >= 8) {
            out.push_back(uint8_t(acc));
            acc >>= 8;
            bits -= 8;
        }
    }
    if (bits) out.push_back(uint8_t(acc));
    return out;
}

// Code size byte, `payload` cut into sub-blocks of `blockSize`, `tail` blocks
// (already framed) and, unless `terminate` is false, the terminator.
Bytes Data(const Bytes& payload, size_t blockSize, const Bytes& tail = {}, bool terminate = true) {
    Bytes out{2};
    for (size_t i = 0; i < payload.size(); i += blockSize) {
        const size_t n = std::min(blockSize, payload.size() - i);
        out.push_back(uint8_t(n));
        out.insert(out.end(), payload.begin() + long(i), payload.begin() + long(i + n));
    }
    out.insert(out.end(), tail.begin(), tail.end());
    if (terminate) out.push_back(0);
    return out;
}

// Pixels of a 4x2 frame as codes: every pair after a clear keeps codes 3 bits wide.
std::vector<int> Codes(const std::vector<int>& pixels, bool withEnd = true) {
    std::vector<int> codes;
    for (size_t i = 0; i < pixels.size(); ++i) {
        if (i % 2 == 0) codes.push_back(4);
        codes.push_back(pixels[i]);
    }
    if (withEnd) codes.push_back(5);
    return codes;
}

const std::vector<uint32_t> kTable = {0x000000, 0xFF0000, 0x00FF00, 0x0000FF};
const std::vector<int> kFirst = {1, 2, 3, 0, 0, 1, 2, 3};
const std::vector<int> kSecond = {3, 3, 2, 2, 1, 1, 0, 0};

// Frame pixels (top row first) as palette indices.
std::vector<int> Indices(const VxImage& img) {
    std::vector<int> out;
    for (int y = int(img.GetHeight()) - 1; y >= 0; --y)
        for (int x = 0; x < int(img.GetWidth()); ++x) out.push_back(img.GetPixelIndex(x, y));
    return out;
}

struct Decoded {
    int frames = -1;
    std::vector<int> first, second;
};

Decoded DecodeBoth(const Bytes& file) {
    Decoded d;
    VxImage a, b;
    if (!gt::DecodeGif(file, a, 0)) return d;
    d.frames = a.GetNumFrames();
    d.first = Indices(a);
    if (gt::DecodeGif(file, b, 1)) d.second = Indices(b);
    return d;
}

Bytes TwoFrames(const Bytes& firstData) {
    return gt::Builder(4, 2, kTable)
        .Image(0, 0, 4, 2, firstData)
        .Image(0, 0, 4, 2, Data(Pack(Codes(kSecond)), 255))
        .Done();
}

TEST(GifCount, EndCodeBeforeTheLastSubBlock) {
    // The end code sits mid-block; bytes after it, and whole blocks holding
    // what looks like an introducer and an extension, still belong to the frame.
    Bytes payload = Pack(Codes(kFirst));
    payload.insert(payload.end(), {0x00, 0x2C, 0x21, 0xF9});
    const Decoded d = DecodeBoth(TwoFrames(Data(payload, 3, {4, 0x2C, 0x00, 0x2C, 0x21, 1, 0x3B})));
    EXPECT_EQ(d.frames, 2);
    EXPECT_EQ(d.first, kFirst);
    EXPECT_EQ(d.second, kSecond);
}

TEST(GifCount, DataRunsIntoTheTerminator) {
    // No end code: the codes stop where the sub-blocks do.
    const Decoded d = DecodeBoth(TwoFrames(Data(Pack(Codes(kFirst, false)), 2)));
    EXPECT_EQ(d.frames, 2);
    EXPECT_EQ(d.first, kFirst);
    EXPECT_EQ(d.second, kSecond);
}

TEST(GifCount, MoreCodesThanTheFrameHolds) {
    // Three rows of codes for two rows of frame: the rest is skipped.
    std::vector<int> pixels = kFirst;
    pixels.insert(pixels.end(), {3, 2, 1, 0, 3, 2, 1, 0});
    const Decoded d = DecodeBoth(TwoFrames(Data(Pack(Codes(pixels)), 1)));
    EXPECT_EQ(d.frames, 2);
    EXPECT_EQ(d.first, kFirst);
    EXPECT_EQ(d.second, kSecond);
}

TEST(GifCount, ACodeBeyondTheTableAndABadCodeSize) {
    // Code 7 before entry 7 exists: the decoder's own recovery decides.
    std::vector<int> codes = Codes(kFirst, false);
    codes.insert(codes.end() - 1, 7);
    codes.push_back(5);
    Decoded d = DecodeBoth(TwoFrames(Data(Pack(codes), 255)));
    EXPECT_EQ(d.frames, 2);
    EXPECT_EQ(d.second, kSecond);

    Bytes badSize = Data(Pack(Codes(kFirst)), 255);
    badSize[0] = 12;
    d = DecodeBoth(TwoFrames(badSize));
    EXPECT_EQ(d.frames, 2);
    EXPECT_EQ(d.second, kSecond);
}

TEST(GifCount, CutInsideTheLastFrame) {
    Bytes file = TwoFrames(Data(Pack(Codes(kFirst)), 255));
    file.resize(file.size() - 4);  // into the second frame's only sub-block
    const Decoded d = DecodeBoth(file);
    EXPECT_EQ(d.frames, 2);
    EXPECT_EQ(d.first, kFirst);
    // Its one block is cut, so no code of it is read: the frame stays clear.
    EXPECT_EQ(d.second, std::vector<int>(8, 0));

    // Cut right after a sub-block length: nothing of its bytes is there.
    Bytes lengthOnly = gt::Builder(4, 2, kTable).Image(0, 0, 4, 2, Data(Pack(Codes(kFirst)), 255)).b;
    lengthOnly.insert(lengthOnly.end(), {0x2C, 0, 0, 0, 0, 4, 0, 2, 0, 0, 2, 9});
    const Decoded cut = DecodeBoth(lengthOnly);
    EXPECT_EQ(cut.frames, 2);
    EXPECT_EQ(cut.first, kFirst);
}

}  // namespace
