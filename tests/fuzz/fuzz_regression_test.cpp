// Inputs the fuzzers once crashed on, kept under tests/data/fuzz/<target>/ and
// decoded the way their target decodes them.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "core/vx_image.h"
#include "tests/support/test_support.h"

namespace {

const std::map<std::string, uint32_t> kTargets = {
    {"probe", 0}, {"bmp", 1},  {"gif", 2},       {"jpeg", 3}, {"png", 4},  {"ico", 5},
    {"tiff", 6},  {"tga", 7},  {"pcx", 8},       {"wbmp", 9}, {"metafile", 10},
    {"jp2", 11},  {"jpc", 12}, {"pgx", 13},      {"pnm", 14}, {"ras", 15},
    {"webp", 16}, {"heif", 17}, {"avif", 18},    {"jxl", 19},  {"exr", 22}, {"pdf", 24},
};

TEST(FuzzRegressions, EveryKeptInputDecodesOrFailsWithAReason) {
    int inputs = 0;
    for (const auto& [target, format] : kTargets) {
        const std::string dir = vt::DataPath("fuzz/" + target);
        std::error_code ec;
        for (const auto& entry : std::filesystem::directory_iterator(dir, ec)) {
            SCOPED_TRACE(entry.path().string());
            auto bytes = vt::ReadFileBytes(entry.path().string());
            VxImage img(0);
            if (img.Decode(bytes.data(), uint32_t(bytes.size()), format)) {
                EXPECT_TRUE(img.IsValid());
            } else {
                EXPECT_STRNE(img.GetLastError(), "");
            }
            ++inputs;
        }
    }
    EXPECT_GT(inputs, 0);
}

// The run driver reads sizes ahead with a dimensions-only pass; through the
// probe it must reach the codec that owns the data, not stop at the first one.
TEST(FuzzRegressions, DimensionsPassThroughTheProbeReachesTheOwningCodec) {
    auto bytes = vt::ReadFileBytes(vt::DataPath("fuzz/probe/gif-wide-screen.bin"));
    VxImage img(0);
    img.SetEscape(-1);
    ASSERT_TRUE(img.Decode(bytes.data(), uint32_t(bytes.size()), 0)) << img.GetLastError();
    EXPECT_EQ(img.GetWidth(), 5217u);
    EXPECT_EQ(img.GetHeight(), 3072u);
    EXPECT_FALSE(img.IsValid());
}

}  // namespace
