#include <gtest/gtest.h>
#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "codecs/png/deflate_join.h"
#include "codecs/png/zlib_pieces.h"

namespace {

using vx::png::CompressPiece;
using vx::png::ThreadCompressor;
using vx::png::WalkDeflate;

std::vector<uint8_t> Inflate(const std::vector<uint8_t>& stream, size_t expected) {
    std::vector<uint8_t> out(expected + 1);
    uLongf n = uLongf(out.size());
    if (uncompress(out.data(), &n, stream.data(), uLong(stream.size())) != Z_OK) return {};
    out.resize(n);
    return out;
}

// Noise compresses to stored blocks, small inputs to the fixed code, the
// rest (repetitive, skewed) to dynamic codes.
std::vector<uint8_t> MakeData(const std::string& kind, size_t size, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> d(size);
    for (size_t i = 0; i < size; ++i) {
        if (kind == "noise") d[i] = uint8_t(rng());
        else if (kind == "skewed") d[i] = uint8_t(std::min<uint32_t>(rng() % 64, rng() % 64));
        else d[i] = uint8_t("the quick brown fox jumps over the lazy dog "[(i * 7 + rng() % 3) % 44]);
    }
    return d;
}

TEST(DeflateJoin, PiecesFormOneZlibStream) {
    struct Case {
        const char* kind;
        size_t size;
        std::vector<size_t> cuts;  // piece sizes, the rest is the last piece
        int level;
    };
    const std::vector<Case> cases = {
        {"noise", 200000, {70000, 70000}, 6},  // stored blocks longer than one block allows
        {"skewed", 300000, {1, 2, 1000, 100000}, 6},
        {"text", 50000, {10, 20, 30, 40, 5000}, 1},
        {"skewed", 3000000, {1 << 20, 1 << 20}, 6},
        {"text", 400000, {123457, 33}, 12},
        {"skewed", 5, {}, 6},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.kind) + " " + std::to_string(c.size) + " level " + std::to_string(c.level));
        const std::vector<uint8_t> data = MakeData(c.kind, c.size, uint32_t(c.size));
        vx::png::ZlibPieces zlib(c.level);
        std::vector<uint8_t> stream;
        size_t at = 0;
        for (size_t i = 0; i <= c.cuts.size(); ++i) {
            const bool last = i == c.cuts.size();
            const size_t n = last ? data.size() - at : c.cuts[i];
            ASSERT_TRUE(zlib.Add(data.data() + at, n, last));
            stream.insert(stream.end(), zlib.Output().begin(), zlib.Output().end());
            at += n;
        }
        EXPECT_EQ(Inflate(stream, data.size()), data);
        // Each cut costs the window and a few bytes, never a fall back to stored blocks.
        auto* whole = libdeflate_alloc_compressor(c.level);
        std::vector<uint8_t> one(libdeflate_zlib_compress_bound(whole, data.size()));
        const size_t oneSize = libdeflate_zlib_compress(whole, data.data(), data.size(), one.data(), one.size());
        libdeflate_free_compressor(whole);
        EXPECT_LE(stream.size(), oneSize + oneSize / 50 + c.cuts.size() * 300 + 16);
    }
}

std::vector<uint8_t> InflateRaw(const std::vector<uint8_t>& stream, size_t expected) {
    std::vector<uint8_t> out(expected + 1);
    z_stream z{};
    if (inflateInit2(&z, -15) != Z_OK) return {};
    z.next_in = const_cast<uint8_t*>(stream.data());
    z.avail_in = uInt(stream.size());
    z.next_out = out.data();
    z.avail_out = uInt(out.size());
    const int rc = inflate(&z, Z_FINISH);
    out.resize(z.total_out);
    inflateEnd(&z);
    return rc == Z_STREAM_END ? out : std::vector<uint8_t>{};
}

// The walk must find the end of every stream libdeflate writes (all three
// block kinds), and the join must hold wherever in its last byte a stream ends.
TEST(DeflateJoin, EveryStreamEndJoinsItsSuccessor) {
    int types[3] = {}, ends[8] = {};
    std::mt19937 rng(7);
    std::vector<uint8_t> prevData, prevRaw;
    for (int i = 0; i < 300; ++i) {
        const char* kind = i % 3 == 0 ? "noise" : i % 3 == 1 ? "skewed" : "text";
        const size_t most = i % 10 == 0 ? 200000 : i % 10 == 5 ? 40 : 3000;
        const std::vector<uint8_t> data = MakeData(kind, 1 + rng() % most, uint32_t(i));
        std::vector<uint8_t> raw;
        ASSERT_TRUE(CompressPiece(ThreadCompressor(1 + i % 9), data.data(), data.size(), true, raw));
        const auto end = WalkDeflate(raw.data(), raw.size());
        ASSERT_TRUE(end.has_value()) << i;
        EXPECT_EQ((end->endBit + 7) / 8, raw.size()) << i;
        EXPECT_EQ(raw[end->finalHeaderBit / 8] >> (end->finalHeaderBit % 8) & 1, 1) << i;
        ++types[(raw[0] >> 1) & 3];
        ++ends[end->endBit % 8];

        std::vector<uint8_t> joined = raw;
        joined.resize(raw.size() + vx::png::kJoinSlack);
        joined.resize(vx::png::MakeJoinable(joined.data(), raw.size()));
        ASSERT_GT(joined.size(), raw.size()) << i;
        joined.insert(joined.end(), prevRaw.begin(), prevRaw.end());
        std::vector<uint8_t> both = data;
        both.insert(both.end(), prevData.begin(), prevData.end());
        if (!prevRaw.empty()) {
            EXPECT_EQ(InflateRaw(joined, both.size()), both) << i;
        }
        prevData = data;
        prevRaw = raw;
    }
    for (int t = 0; t < 3; ++t) EXPECT_GT(types[t], 0) << "block type " << t;
    for (int b = 0; b < 8; ++b) EXPECT_GT(ends[b], 0) << "end at bit " << b;
}

TEST(DeflateJoin, DamagedStreamsAreRefusedWithinTheirBytes) {
    const std::vector<uint8_t> data = MakeData("skewed", 20000, 3);
    std::vector<uint8_t> raw;
    ASSERT_TRUE(CompressPiece(ThreadCompressor(6), data.data(), data.size(), true, raw));
    // Every cut short of the whole stream loses the end of the final block.
    for (size_t n = 0; n < raw.size(); n += 1 + n / 16)
        EXPECT_FALSE(WalkDeflate(raw.data(), n).has_value()) << n;
    std::mt19937 rng(11);
    for (int i = 0; i < 2000; ++i) {
        // Flipped bits in a real stream, or a few random bytes.
        std::vector<uint8_t> junk = raw;
        if (i % 2) junk.resize(1 + rng() % 64);
        for (size_t k = 0; k < (i % 2 ? junk.size() : 4); ++k)
            junk[i % 2 ? k : rng() % junk.size()] ^= uint8_t(i % 2 ? rng() : 1u << (rng() % 8));
        const auto end = WalkDeflate(junk.data(), junk.size());
        if (end) {
            EXPECT_LE(end->endBit, junk.size() * 8);
        }
    }
    EXPECT_EQ(vx::png::MakeJoinable(raw.data(), 3), 0u);
}

}  // namespace
