// Files of 2 GiB and more, made sparse so that nothing large is written:
// positions and sizes past 32 bits reach the streams and the codecs whole.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "core/vx_file.h"
#include "core/vx_image.h"
#include "tests/support/test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;
constexpr int64_t kGiB = int64_t(1) << 30;

// `head` at 0, `tail` at `at`, a hole between; false when the file system
// cannot hold such a file.
bool WriteSparse(const std::string& path, const Bytes& head, int64_t at, const Bytes& tail) {
    const int fd = open(path.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0600);
    if (fd < 0) return false;
    bool ok = pwrite(fd, head.data(), head.size(), 0) == ssize_t(head.size()) &&
              (tail.empty() ? ftruncate(fd, at) == 0
                            : pwrite(fd, tail.data(), tail.size(), at) == ssize_t(tail.size()));
    return close(fd) == 0 && ok;
}

Bytes Written(ImageFormat code) {
    VxImage pic(20, 10, 24, 0);
    pic.SetPixelColor(3, 4, vx::MakeRGBQUAD(200, 10, 90));
    uint8_t* buffer = nullptr;
    int32_t size = 0;
    EXPECT_TRUE(pic.Encode(buffer, size, code)) << pic.GetLastError();
    Bytes b(buffer, buffer + size);
    std::free(buffer);
    return b;
}

void BE32(Bytes& b, size_t at, uint64_t v) {
    for (int i = 0; i < 4; ++i) b.at(at + size_t(i)) = uint8_t(v >> (24 - 8 * i));
}

TEST(LargeFile, StreamsKeepPositionsPast32BitsAndNeverTruncate) {
    vt::TempDir dir;
    const std::string path = dir.file("big");
    const int64_t at = 3 * kGiB + 5;
    ASSERT_TRUE(WriteSparse(path, {1, 2}, at, {42, 43}));
    FILE* fp = std::fopen(path.c_str(), "rb");
    ASSERT_NE(fp, nullptr);
    VxIOFile file(fp);
    EXPECT_EQ(file.Size64(), at + 2);
    EXPECT_EQ(file.Size(), -1);  // the 32-bit size cannot say it
    EXPECT_EQ(file.Remaining(), at + 2);
    ASSERT_TRUE(file.Seek64(at, SEEK_SET));
    EXPECT_EQ(file.Tell64(), at);
    EXPECT_EQ(file.Tell(), -1);
    EXPECT_EQ(file.GetC(), 42);
    ASSERT_TRUE(file.Seek(-3, SEEK_CUR));
    EXPECT_EQ(file.Tell64(), at - 2);
    EXPECT_EQ(file.Remaining(), 4);
    std::fclose(fp);
}

// JPEG-2000 and icon files whose picture lies, or which run on, past 2 GiB.
TEST(LargeFile, JpegTwoThousandAndIconFilesConvertOrFailWithAText) {
    const Bytes jp2 = Written(VX_FORMAT_JP2), jpc = Written(VX_FORMAT_JPC),
                png = Written(VX_FORMAT_PNG);
    // A JP2 with a free box of 2.5 GiB before its code stream.
    Bytes jp2Free;
    const size_t jp2c = size_t(std::search(jp2.begin(), jp2.end(), "jp2c", "jp2c" + 4) - jp2.begin()) - 4;
    const int64_t freeBytes = 5 * kGiB / 2;
    Bytes freeBox(8, 0);
    BE32(freeBox, 0, uint64_t(freeBytes));
    freeBox[4] = 'f', freeBox[5] = 'r', freeBox[6] = 'e', freeBox[7] = 'e';
    jp2Free.assign(jp2.begin(), jp2.begin() + long(jp2c));
    jp2Free.insert(jp2Free.end(), freeBox.begin(), freeBox.end());
    const int64_t jp2cAt = int64_t(jp2c) + freeBytes;
    const Bytes jp2Rest(jp2.begin() + long(jp2c), jp2.end());
    // An icon whose PNG entry starts at 3 GiB.
    Bytes ico(22, 0);
    ico[2] = 1, ico[4] = 1, ico[8] = 1, ico[10] = 1, ico[12] = 32;
    for (int i = 0; i < 4; ++i) {
        ico[14 + size_t(i)] = uint8_t(png.size() >> (8 * i));
        ico[18 + size_t(i)] = uint8_t(uint64_t(3 * kGiB) >> (8 * i));
    }
    ico[6] = 20, ico[7] = 10;
    struct Case {
        const char* name;
        ImageFormat code;
        const Bytes& head;
        int64_t at;
        const Bytes& tail;
        bool converts;
    } cases[] = {
        {"JP2 with a free box of 2.5 GiB", VX_FORMAT_JP2, jp2Free, jp2cAt, jp2Rest, true},
        {"JP2 followed by 2.5 GiB of zeros", VX_FORMAT_JP2, jp2, freeBytes, {}, true},
        {"code stream followed by 2.5 GiB of zeros", VX_FORMAT_JPC, jpc, freeBytes, {}, true},
        {"icon entry at 3 GiB", VX_FORMAT_ICO, ico, 3 * kGiB, png, true},
    };
    vt::TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir.file("big");
        ASSERT_TRUE(WriteSparse(path, c.head, c.at, c.tail));
        for (ImageFormat code : {c.code, ImageFormat(0)}) {
            VxImage img(0);
            const bool ok = img.Load(path.c_str(), code);
            EXPECT_EQ(ok, c.converts) << img.GetLastError();
            if (ok) {
                EXPECT_EQ(img.GetWidth(), 20u);
                EXPECT_NEAR(img.GetPixelColor(3, 4).rgbRed, 200, 12);  // lossy JPEG-2000
            } else {
                EXPECT_STRNE(img.GetLastError(), "");
            }
        }
        unlink(path.c_str());
    }
}

}  // namespace

namespace {

// A GIF read from a stream that stands past 4 GiB (a container holding it
// there): the reader's seeks back to the frame data must not be cut to 32 bits.
TEST(LargeFile, GifReadFromAStreamPastFourGiB) {
    VxImage pic(20, 10, 8, 0);
    pic.SetGrayPalette();
    pic.SetPixelIndex(3, 4, 200);
    uint8_t* buffer = nullptr;
    int32_t size = 0;
    ASSERT_TRUE(pic.Encode(buffer, size, VX_FORMAT_GIF)) << pic.GetLastError();
    const Bytes gif(buffer, buffer + size);
    std::free(buffer);

    vt::TempDir dir;
    const std::string path = dir.file("big");
    const int64_t at = 4 * kGiB + 7;
    ASSERT_TRUE(WriteSparse(path, {0}, at, gif));
    FILE* fp = std::fopen(path.c_str(), "rb");
    ASSERT_NE(fp, nullptr);
    VxIOFile file(fp);
    ASSERT_TRUE(file.Seek64(at, SEEK_SET));
    VxImage img(0);
    ASSERT_TRUE(img.Decode(&file, VX_FORMAT_GIF)) << img.GetLastError();
    EXPECT_EQ(img.GetWidth(), 20u);
    EXPECT_EQ(img.GetPixelIndex(3, 4), 200);
    std::fclose(fp);
}

}  // namespace
