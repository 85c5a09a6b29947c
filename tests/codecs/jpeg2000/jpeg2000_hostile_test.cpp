// Hostile input over the five formats: cuts, seeded mutations and headers that
// ask for more than any file of their size can hold.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "core/vx_image.h"
#include "tests/support/hostile_sweep.h"
#include "tests/support/test_support.h"

namespace {

struct SweepCase {
    const char* file;
    uint32_t format;
};

class Jpeg2000Sweep : public ::testing::TestWithParam<SweepCase> {};

TEST_P(Jpeg2000Sweep, NeverCrashesAndAlwaysExplains) {
    const auto bytes = vt::ReadFileBytes(vt::DataPath(std::string("jpeg2000/") + GetParam().file));
    ASSERT_FALSE(bytes.empty());
    const vt::SweepStats stats = vt::HostileSweep(bytes, GetParam().format);
    EXPECT_GT(stats.decodes, 300);
    EXPECT_GT(stats.successes, 0);  // the untouched tail cuts and light mutations still decode
}

INSTANTIATE_TEST_SUITE_P(Family, Jpeg2000Sweep,
                         ::testing::Values(SweepCase{"rgb8_lossy.j2k", VX_FORMAT_JPC},
                                           SweepCase{"grey8_lossy.jp2", VX_FORMAT_JP2},
                                           SweepCase{"rgba_lossy.j2k", VX_FORMAT_JPC},
                                           SweepCase{"grey12.pgx", VX_FORMAT_PGX},
                                           SweepCase{"p2_max100.pgm", VX_FORMAT_PNM},
                                           SweepCase{"p6_16bit.ppm", VX_FORMAT_PNM},
                                           SweepCase{"p4.pbm", VX_FORMAT_PNM},
                                           SweepCase{"map8_rle.ras", VX_FORMAT_RAS},
                                           SweepCase{"mono1.ras", VX_FORMAT_RAS}),
                         [](const ::testing::TestParamInfo<SweepCase>& info) {
                             std::string name = info.param.file;
                             for (char& c : name)
                                 if (!isalnum(static_cast<unsigned char>(c))) c = '_';
                             return name;
                         });

void ExpectRefused(std::vector<uint8_t> bytes, uint32_t format, const char* what) {
    VxImage img(0);
    EXPECT_FALSE(img.Decode(bytes.data(), uint32_t(bytes.size()), format)) << what;
    EXPECT_STRNE(img.GetLastError(), "") << what;
}

std::vector<uint8_t> Text(const std::string& s) { return {s.begin(), s.end()}; }

// Headers that promise gigantic pictures fail before memory is taken for them.
TEST(Jpeg2000Hostile, HugeHeadersAreRefusedCheaply) {
    ExpectRefused(Text("P6 2000000000 2000000000 255\n\1\2\3"), VX_FORMAT_PNM, "PPM");
    ExpectRefused(Text("P3 60000 60000 65535\n1 2 3"), VX_FORMAT_PNM, "plain PPM");
    ExpectRefused(Text("P1 99999999999 1\n0"), VX_FORMAT_PNM, "overflowing width");
    ExpectRefused(Text("PG ML + 16 65535 65535\n\1\2"), VX_FORMAT_PGX, "PGX");
    ExpectRefused(Text("PG ML + 17 2 2\n\1\2\3\4\5\6\7\10"), VX_FORMAT_PGX, "PGX over 16 bits");

    std::vector<uint8_t> ras(32, 0);
    const uint32_t v[8] = {0x59A66A95, 50000, 50000, 24, 0, 2, 0, 0};
    for (int i = 0; i < 8; ++i) vx::StoreBE32(&ras[4 * i], v[i]);
    ras.insert(ras.end(), {0x80, 0xFF, 0x00, 0x80, 0xFF, 0x00});
    ExpectRefused(ras, VX_FORMAT_RAS, "run-length raster");
    vx::StoreBE32(&ras[28], 0xFFFFFFF0u);
    vx::StoreBE32(&ras[24], 1);
    ExpectRefused(ras, VX_FORMAT_RAS, "colour map longer than the file");

    // A code stream whose size header claims 2^31 x 2^31.
    auto j2k = vt::ReadFileBytes(vt::DataPath("jpeg2000/grey8_lossless.j2k"));
    ASSERT_GT(j2k.size(), 16u);
    vx::StoreBE32(&j2k[8], 0x7FFFFFFF);   // Xsiz
    vx::StoreBE32(&j2k[12], 0x7FFFFFFF);  // Ysiz
    ExpectRefused(j2k, VX_FORMAT_JPC, "code stream");
}

}  // namespace

namespace {

// Sets a code stream's picture and tile size (one tile); `siz` is where its SIZ marker stands.
void SetSiz(std::vector<uint8_t>& b, size_t siz, uint32_t side) {
    for (const size_t field : {6, 10, 22, 26}) vx::StoreBE32(&b.at(siz + field), side);
}

// A dimensions-only pass reads the header alone: a picture far over the
// limit, whose file holds no samples for it, still reports its size and
// makes no picture.
TEST(Jpeg2000Hostile, DimensionsOnlyReadsTheHeaderAlone) {
    constexpr uint32_t kSide = 30000;
    std::vector<uint8_t> ras(32, 0);
    const uint32_t v[8] = {0x59A66A95, kSide, kSide, 24, 0, 1, 0, 0};
    for (int i = 0; i < 8; ++i) vx::StoreBE32(&ras[4 * i], v[i]);
    auto j2k = vt::ReadFileBytes(vt::DataPath("jpeg2000/grey8_lossless.j2k"));
    SetSiz(j2k, 2, kSide);
    auto jp2 = vt::ReadFileBytes(vt::DataPath("jpeg2000/rgb8_lossless.jp2"));
    const uint8_t sizMarker[] = {0xFF, 0x4F, 0xFF, 0x51}, ihdr[] = {'i', 'h', 'd', 'r'};
    const auto siz = std::search(jp2.begin(), jp2.end(), sizMarker, sizMarker + 4);
    const auto box = std::search(jp2.begin(), jp2.end(), ihdr, ihdr + 4);
    ASSERT_TRUE(siz != jp2.end() && box != jp2.end());
    SetSiz(jp2, size_t(siz - jp2.begin()) + 2, kSide);
    vx::StoreBE32(&*box + 4, kSide);
    vx::StoreBE32(&*box + 8, kSide);
    const struct {
        const char* name;
        uint32_t format;
        std::vector<uint8_t> bytes;
    } cases[] = {
        {"PPM", VX_FORMAT_PNM, Text("P6 30000 30000 255\n\1\2\3")},
        {"PGX", VX_FORMAT_PGX, Text("PG ML + 8 30000 30000\n\1\2")},
        {"raster", VX_FORMAT_RAS, ras},
        {"code stream", VX_FORMAT_JPC, j2k},
        {"JP2", VX_FORMAT_JP2, jp2},
    };
    for (const auto& c : cases) {
        for (const uint32_t format : {c.format, uint32_t(0)}) {
            SCOPED_TRACE(std::string(c.name) + (format ? "" : " through the probe"));
            std::vector<uint8_t> bytes = c.bytes;
            VxImage img(0);
            img.SetEscape(-1);
            ASSERT_TRUE(img.Decode(bytes.data(), uint32_t(bytes.size()), format)) << img.GetLastError();
            EXPECT_EQ(img.GetWidth(), kSide);
            EXPECT_EQ(img.GetHeight(), kSide);
            EXPECT_FALSE(img.IsValid());
        }
    }
}

}  // namespace
