#include <gtest/gtest.h>

#include "core/vx_image.h"
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
