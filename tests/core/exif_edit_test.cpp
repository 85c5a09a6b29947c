#include <gtest/gtest.h>

#include <map>
#include <random>

#include "core/vx_exif_edit.h"

namespace {

// A block with Make, Orientation 6 and an EXIF directory holding the pixel
// size (X as LONG, Y as SHORT), in either byte order.
std::vector<uint8_t> Block(bool big) {
    std::vector<uint8_t> b;
    auto u16 = [&](uint32_t v) {
        if (big) b.insert(b.end(), {uint8_t(v >> 8), uint8_t(v)});
        else b.insert(b.end(), {uint8_t(v), uint8_t(v >> 8)});
    };
    auto u32 = [&](uint32_t v) {
        if (big) u16(v >> 16), u16(v & 0xFFFF);
        else u16(v & 0xFFFF), u16(v >> 16);
    };
    auto entry = [&](uint16_t tag, uint16_t type, uint32_t count, uint32_t value) {
        u16(tag), u16(type), u32(count);
        if (type == 3 && count == 1) u16(value), u16(0);
        else u32(value);
    };
    b.insert(b.end(), big ? "MM" : "II", (big ? "MM" : "II") + 2);
    u16(42), u32(8);
    // Main directory at 8: 3 entries, next-directory link, then Make's text.
    u16(3);
    entry(0x010F, 2, 8, 8 + 2 + 3 * 12 + 4);
    entry(0x0112, 3, 1, 6);
    entry(0x8769, 4, 1, 8 + 2 + 3 * 12 + 4 + 8);
    u32(0);
    b.insert(b.end(), {'C', 'a', 'm', 'e', 'r', 'a', 'X', 0});
    u16(2);
    entry(0xA002, 4, 1, 4000);
    entry(0xA003, 3, 1, 3000);
    u32(0);
    return b;
}

std::map<uint16_t, uint32_t> Values(const std::vector<uint8_t>& block) {
    std::map<uint16_t, uint32_t> out;
    const bool big = vx::ExifBigEndian(block);
    vx::ForEachExifEntry(block, [&](vx::ExifDir, const vx::ExifEntry& e) {
        uint32_t v = 0;
        if (e.type == 3 && e.value.size() == 2)
            v = big ? uint32_t(e.value[0] << 8 | e.value[1]) : uint32_t(e.value[1] << 8 | e.value[0]);
        if (e.type == 4 && e.value.size() == 4)
            for (int i = 0; i < 4; ++i) v |= uint32_t(e.value[big ? 3 - i : i]) << (8 * i);
        out[e.tag] = v;
    });
    return out;
}

TEST(ExifEdit, FittedBlockSaysUprightAndTheNewSize) {
    for (const bool big : {false, true}) {
        const std::vector<uint8_t> block = Block(big);
        ASSERT_EQ(Values(block).at(0x0112), 6u);
        struct {
            int32_t orientation;
            uint32_t w, h;
            uint32_t wantOrientation, wantX, wantY;
        } cases[] = {
            {1, 3000, 4000, 1, 3000, 4000},
            {0, 1500, 2000, 6, 1500, 2000},         // 0 leaves the tag
            {1, 70000, 70000, 1, 70000, 3000},      // SHORT cannot hold it: kept
        };
        for (const auto& c : cases) {
            const std::vector<uint8_t> out = vx::ExifFitted(block, c.orientation, c.w, c.h);
            ASSERT_EQ(out.size(), block.size());
            const auto v = Values(out);
            EXPECT_EQ(v.at(0x0112), c.wantOrientation) << big;
            EXPECT_EQ(v.at(0xA002), c.wantX) << big;
            EXPECT_EQ(v.at(0xA003), c.wantY) << big;
            EXPECT_EQ(std::string(out.begin() + 50, out.begin() + 57), "CameraX");
        }
    }
}

// Cut and damaged blocks never read outside themselves (the sanitizer build
// checks) and come back the same length.
TEST(ExifEdit, DamagedBlocksStayInBounds) {
    const std::vector<uint8_t> block = Block(false);
    std::mt19937 rng(7);
    int readable = 0;
    for (int i = 0; i < 400; ++i) {
        std::vector<uint8_t> b = block;
        if (i < int(block.size())) b.resize(size_t(i));
        else b[rng() % b.size()] = uint8_t(rng());
        const std::vector<uint8_t> out = vx::ExifFitted(b, 1, 10, 10);
        EXPECT_EQ(out.size(), b.size());
        readable += vx::ForEachExifEntry(b, [](vx::ExifDir, const vx::ExifEntry&) {});
    }
    EXPECT_EQ(vx::ForEachExifEntry(std::vector<uint8_t>(block.begin(), block.begin() + 9),
                                   [](vx::ExifDir, const vx::ExifEntry&) {}),
              false);
    EXPECT_GT(readable, 0);
}

}  // namespace

namespace {

// Containers' framings around the block: the ISO-box offset and JPEG's prefix.
TEST(ExifEdit, BlockFoundInsideContainerFramings) {
    for (const bool big : {false, true}) {
        const std::vector<uint8_t> block = Block(big);
        EXPECT_EQ(vx::ExifOrientation(block), 6);
        auto framed = [&](std::vector<uint8_t> head) {
            head.insert(head.end(), block.begin(), block.end());
            return head;
        };
        const std::vector<uint8_t> prefixed = framed({'E', 'x', 'i', 'f', 0, 0});
        struct Case {
            std::vector<uint8_t> stored;
            bool afterOffset;
            bool found;
        } cases[] = {
            {block, false, true},
            {prefixed, false, true},
            {framed({0, 0, 0, 0}), true, true},
            {framed({0, 0, 0, 6, 'E', 'x', 'i', 'f', 0, 0}), true, true},
            {framed({0, 0, 0, 2, 'x', 'x'}), true, true},
            {framed({0, 0, 0, 1}), true, false},         // skips into the header
            {framed({0xFF, 0xFF, 0xFF, 0xF0}), true, false},  // past the end
            {{0, 0, 0}, true, false},
            {{'E', 'x', 'i', 'f', 0, 0}, false, false},
        };
        for (const Case& c : cases) {
            const auto got = c.afterOffset ? vx::ExifAfterOffset(c.stored) : vx::ExifInChunk(c.stored);
            EXPECT_EQ(std::vector<uint8_t>(got.begin(), got.end()),
                      c.found ? block : std::vector<uint8_t>());
        }
    }
    EXPECT_EQ(vx::ExifOrientation(vx::ExifFitted(Block(true), 3, 1, 1)), 3);
    EXPECT_EQ(vx::ExifOrientation(std::vector<uint8_t>(8, 0)), 0);
}

// Orientations outside 1..8 go; the rest of the block still reads.
TEST(ExifEdit, BadOrientationIsDropped) {
    for (const bool big : {false, true})
        for (const uint32_t v : {0u, 1u, 8u, 9u, 255u, 65535u}) {
            std::vector<uint8_t> block = Block(big);
            block[big ? 30 : 31] = uint8_t(v >> 8), block[big ? 31 : 30] = uint8_t(v);  // Orientation's value
            auto values = Values(vx::ExifWithoutBadOrientation(block));
            EXPECT_EQ(values[0x0112], v >= 1 && v <= 8 ? v : 0u) << v;
            EXPECT_EQ(values[0xA002], 4000u);
        }
}

}  // namespace

