#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "core/vx_image.h"
#include "tests/codecs/png/png_test_util.h"
#include "tests/support/hostile_sweep.h"
#include "tests/support/test_support.h"

namespace {

TEST(PngHostile, SweepOverEveryFixture) {
    const auto files = vt::FixtureFiles("png", {".png"});
    ASSERT_GE(files.size(), 30u);
    for (const std::string& path : files) {
        SCOPED_TRACE(path);
        const auto bytes = vt::ReadFileBytes(path);
        std::vector<uint8_t> whole = bytes;
        VxImage img(0);
        EXPECT_TRUE(img.Decode(whole.data(), uint32_t(whole.size()), VX_FORMAT_PNG));
        const vt::SweepStats stats = vt::HostileSweep(bytes, VX_FORMAT_PNG, 7, 200);
        // Every cut loses at least IEND, and the reader insists on it.
        EXPECT_EQ(stats.decodes, int(bytes.size()) + 200);
        EXPECT_LE(stats.successes, 200);
    }
}

}  // namespace

namespace {

// Most random damage is caught by the chunk CRCs before any real work. Here
// the CRCs are recomputed after the damage, so the header checks, the
// inflater, the row filters and the palette and transparency handling all see
// hostile values.
void FixCrcs(std::vector<uint8_t>& b) {
    size_t p = 8;
    while (p + 12 <= b.size()) {
        const uint32_t n = pngt::BE32(&b[p]);
        if (n > b.size() - p - 12) break;
        const uint32_t crc = uint32_t(crc32(0, &b[p + 4], uInt(n + 4)));
        for (int i = 0; i < 4; ++i) b[p + 8 + n + size_t(i)] = uint8_t(crc >> (24 - 8 * i));
        p += 12 + size_t(n);
    }
}

TEST(PngHostile, DamageBehindValidChecksums) {
    std::mt19937 rng(11);
    int decodes = 0;
    for (const std::string& path : vt::FixtureFiles("png", {".png"})) {
        SCOPED_TRACE(path);
        const auto bytes = vt::ReadFileBytes(path);
        for (int m = 0; m < 150; ++m) {
            std::vector<uint8_t> work = bytes;
            const int changes = 1 + int(rng() % 4);
            for (int c = 0; c < changes; ++c) {
                // Past the signature, and mostly inside IHDR, PLTE and tRNS.
                const size_t limit = rng() % 2 ? std::min<size_t>(work.size(), 120) : work.size();
                const size_t pos = 8 + rng() % (limit - 8);
                work[pos] = rng() % 3 ? uint8_t(rng()) : uint8_t(work[pos] ^ (1u << (rng() % 8)));
            }
            FixCrcs(work);
            VxImage img(0);
            if (img.Decode(work.data(), uint32_t(work.size()), VX_FORMAT_PNG)) {
                EXPECT_TRUE(img.IsValid());
                if (img.IsValid()) (void)vt::ToRgba(img);  // every stored pixel is readable
            } else {
                EXPECT_STRNE(img.GetLastError(), "") << "mutation " << m;
            }
            ++decodes;
        }
    }
    EXPECT_GT(decodes, 0);
}

// The zlib checksum is not checked again (the chunk CRCs cover the same
// bytes): a writer that got only the checksum wrong is still read, while
// damage to the compressed data is still refused.
TEST(PngHostile, ChunkCrcGuardsTheImageData) {
    const auto bytes = vt::ReadFileBytes(vt::DataPath("png/rgb8.png"));
    VxImage good(0);
    std::vector<uint8_t> whole = bytes;
    ASSERT_TRUE(good.Decode(whole.data(), uint32_t(whole.size()), VX_FORMAT_PNG));
    const auto chunks = pngt::Chunks(bytes);
    ASSERT_NE(pngt::Find(chunks, "IDAT"), nullptr);
    // The last IDAT chunk ends with the stream's Adler-32, just before its CRC.
    size_t p = 8, lastIdat = 0;
    while (p + 12 <= bytes.size()) {
        if (std::memcmp(&bytes[p + 4], "IDAT", 4) == 0) lastIdat = p;
        p += 12 + pngt::BE32(&bytes[p]);
    }
    ASSERT_GT(lastIdat, 0u);
    const size_t dataEnd = lastIdat + 8 + pngt::BE32(&bytes[lastIdat]);

    std::vector<uint8_t> badSum = bytes;
    badSum[dataEnd - 1] ^= 0x5A;
    FixCrcs(badSum);
    VxImage img(0);
    ASSERT_TRUE(img.Decode(badSum.data(), uint32_t(badSum.size()), VX_FORMAT_PNG)) << img.GetLastError();
    EXPECT_EQ(vt::MaxChannelDiff(vt::ToRgba(img), vt::ToRgba(good)), 0);

    for (const size_t back : {size_t(1), size_t(6), size_t(40)}) {
        std::vector<uint8_t> damaged = bytes;
        damaged[dataEnd - back] ^= 0x10;  // CRC left as it was
        VxImage bad(0);
        EXPECT_FALSE(bad.Decode(damaged.data(), uint32_t(damaged.size()), VX_FORMAT_PNG)) << back;
        EXPECT_STRNE(bad.GetLastError(), "");
    }
}

TEST(PngHostile, HugeDeclaredSizesAreRefusedBeforeAllocation) {
    std::vector<uint8_t> bytes = vt::ReadFileBytes(vt::DataPath("png/rgb8.png"));
    ASSERT_GT(bytes.size(), 33u);
    const uint32_t sizes[][2] = {{1000000, 1000000}, {0x7FFFFFFF, 1}, {0, 5}, {200000, 90000}};
    for (const auto& wh : sizes) {
        std::vector<uint8_t> work = bytes;
        for (int i = 0; i < 4; ++i) {
            work[16 + size_t(i)] = uint8_t(wh[0] >> (24 - 8 * i));
            work[20 + size_t(i)] = uint8_t(wh[1] >> (24 - 8 * i));
        }
        FixCrcs(work);
        VxImage img(0);
        EXPECT_FALSE(img.Decode(work.data(), uint32_t(work.size()), VX_FORMAT_PNG)) << wh[0];
        EXPECT_STRNE(img.GetLastError(), "");
    }
}

}  // namespace

namespace {

// A chunk declaring far more data than the file holds is refused when its
// header is read: the library would otherwise allocate the declared length
// first (1.3 GB for an eXIf, a text or a palette-suggestion chunk of 200 bytes).
// A genuine eXIf behind the image data is still read.
TEST(PngHostile, ChunksLongerThanTheFileAreRefusedBeforeTheirData) {
    const std::vector<uint8_t> base = vt::ReadFileBytes(vt::DataPath("png/rgb8.png"));
    const size_t idat = size_t(std::search(base.begin(), base.end(), "IDAT", "IDAT" + 4) - base.begin()) - 4;
    const size_t iend = base.size() - 12;
    auto withChunk = [&](size_t at, const char* type, std::vector<uint8_t> data, uint32_t declared) {
        std::vector<uint8_t> chunk = {uint8_t(declared >> 24), uint8_t(declared >> 16),
                                      uint8_t(declared >> 8), uint8_t(declared)};
        chunk.insert(chunk.end(), type, type + 4);
        chunk.insert(chunk.end(), data.begin(), data.end());
        const uint32_t crc = uint32_t(crc32(crc32(0, nullptr, 0), chunk.data() + 4, uInt(chunk.size() - 4)));
        for (int i = 3; i >= 0; --i) chunk.push_back(uint8_t(crc >> (8 * i)));
        std::vector<uint8_t> file(base.begin(), base.begin() + long(at));
        file.insert(file.end(), chunk.begin(), chunk.end());
        file.insert(file.end(), base.begin() + long(at), base.end());
        return file;
    };
    const std::vector<uint8_t> filler(40, 'k');
    for (const char* type : {"eXIf", "tEXt", "zTXt", "iTXt", "sPLT", "pCAL", "sCAL", "prVt"}) {
        for (const size_t at : {idat, iend}) {
            SCOPED_TRACE(std::string(type) + (at == idat ? " before" : " after") + " the image data");
            std::vector<uint8_t> file = withChunk(at, type, filler, 1300000000u);
            VxImage img(0);
            EXPECT_FALSE(img.Decode(file.data(), uint32_t(file.size()), VX_FORMAT_PNG));
            EXPECT_NE(std::strstr(img.GetLastError(), "past the end of the file"), nullptr)
                << img.GetLastError();
        }
    }
    const std::vector<uint8_t> exif = {'M', 'M', 0, 42, 0, 0, 0, 8, 0, 0, 0, 0, 0, 0};
    std::vector<uint8_t> file = withChunk(iend, "eXIf", exif, uint32_t(exif.size()));
    VxImage img(0);
    ASSERT_TRUE(img.Decode(file.data(), uint32_t(file.size()), VX_FORMAT_PNG)) << img.GetLastError();
    EXPECT_EQ(std::vector<uint8_t>(img.GetExif().begin(), img.GetExif().end()), exif);
}

}  // namespace
