#include "tests/support/hostile_sweep.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>

#include "core/vx_image.h"
#include "tests/support/test_support.h"

namespace vt {

namespace {

// Decodes from an exactly sized heap copy, so that a read past the end is an
// AddressSanitizer report rather than a silent read of neighbouring bytes.
bool DecodeExact(const uint8_t* data, size_t size, uint32_t format, VxImage& img) {
    uint8_t* copy = static_cast<uint8_t*>(std::malloc(size ? size : 1));
    if (size) std::memcpy(copy, data, size);
    const bool ok = img.Decode(copy, uint32_t(size), format);
    std::free(copy);
    return ok;
}

void CheckOne(const uint8_t* data, size_t size, uint32_t format, SweepStats& stats,
              const char* what, size_t detail) {
    VxImage img(0);
    // Animated fixtures are read whole, every frame, as a row into an animated target reads them.
    img.SetWantAnimation(true);
    const bool ok = DecodeExact(data, size, format, img);
    ++stats.decodes;
    if (ok) {
        ++stats.successes;
        EXPECT_TRUE(img.IsValid()) << what << " " << detail << ": success without a picture";
    } else {
        EXPECT_STRNE(img.GetLastError(), "") << what << " " << detail << ": failure without a text";
    }
}

}  // namespace

SweepStats HostileSweep(const std::vector<uint8_t>& bytes, uint32_t format, uint32_t seed,
                        int mutations) {
    SweepStats stats;
    // Every length for small files; an even spread of 1500 cuts for large ones.
    const size_t n = bytes.size();
    const size_t step = std::max<size_t>(1, n / 1500);
    for (size_t len = 0; len < n; len += step)
        CheckOne(bytes.data(), len, format, stats, "cut at", len);

    std::mt19937 rng(seed);
    std::vector<uint8_t> work;
    for (int m = 0; m < mutations && n > 0; ++m) {
        work = bytes;
        const int changes = 1 + int(rng() % 8);
        for (int c = 0; c < changes; ++c) {
            const size_t pos = rng() % n;
            switch (rng() % 4) {
                case 0: work[pos] = uint8_t(rng()); break;
                case 1: work[pos] = 0xFF; break;
                case 2: work[pos] = 0x00; break;
                default: work[pos] ^= uint8_t(1u << (rng() % 8)); break;
            }
        }
        CheckOne(work.data(), work.size(), format, stats, "mutation", size_t(m));
    }
    return stats;
}

std::vector<std::string> FixtureFiles(const std::string& dir,
                                      const std::vector<std::string>& extensions) {
    std::vector<std::string> out;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(DataPath(dir), ec)) {
        std::string ext = entry.path().extension().string();
        std::transform(ext.begin(), ext.end(), ext.begin(), ::tolower);
        if (std::find(extensions.begin(), extensions.end(), ext) != extensions.end())
            out.push_back(entry.path().string());
    }
    std::sort(out.begin(), out.end());
    return out;
}

void QuietSweepOverFixtures(const std::string& dir, const std::vector<std::string>& extensions,
                            uint32_t format, size_t min_files, uint32_t seed, int mutations) {
    const auto files = FixtureFiles(dir, extensions);
    ASSERT_GE(files.size(), min_files) << dir;
    testing::internal::CaptureStderr();
    for (const std::string& path : files) {
        SCOPED_TRACE(path);
        const SweepStats stats = HostileSweep(ReadFileBytes(path), format, seed, mutations);
        EXPECT_GT(stats.decodes, mutations);  // at least one cut besides the mutations
    }
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

}  // namespace vt
