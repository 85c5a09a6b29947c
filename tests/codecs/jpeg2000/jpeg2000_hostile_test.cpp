// Hostile input over the five formats: cuts, seeded mutations and headers that
// ask for more than any file of their size can hold.
#include <gtest/gtest.h>

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
