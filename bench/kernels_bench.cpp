// Micro-benchmarks of the engine's hot kernels on a photo-sized picture.
// Optional: VELLUMAR_BENCH_PHOTO=<24-bit BMP> uses a real photo instead of the
// built-in synthetic one.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdlib>
#include <random>

#include "core/vx_image.h"

namespace {

const VxImage& Photo() {
    static VxImage photo = [] {
        VxImage img(0);
        if (const char* path = std::getenv("VELLUMAR_BENCH_PHOTO")) {
            if (img.Load(path, VX_FORMAT_BMP) && img.GetBpp() == 24) return img;
        }
        // 4000 x 3000: smooth colour fields plus sensor-like noise, so that
        // neighbouring pixels rarely repeat exactly, as in a real photo.
        img.Create(4000, 3000, 24, 0);
        std::mt19937 rng(1);
        std::normal_distribution<float> noise(0.f, 6.f);
        for (uint32_t y = 0; y < 3000; ++y) {
            uint8_t* row = img.GetBits(y);
            for (uint32_t x = 0; x < 4000; ++x) {
                const float r = 128 + 100 * std::sin(x / 150.f) * std::cos(y / 230.f) + noise(rng);
                const float g = 128 + 90 * std::sin((x + y) / 310.f) + noise(rng);
                const float b = 128 + 80 * std::cos(x / 90.f) * std::sin(y / 120.f) + noise(rng);
                row[3 * x] = uint8_t(std::clamp(b, 0.f, 255.f));
                row[3 * x + 1] = uint8_t(std::clamp(g, 0.f, 255.f));
                row[3 * x + 2] = uint8_t(std::clamp(r, 0.f, 255.f));
            }
        }
        return img;
    }();
    return photo;
}

void BM_DecreaseBpp8(benchmark::State& state) {
    const VxImage& photo = Photo();
    for (auto _ : state) {
        state.PauseTiming();
        VxImage work(photo);
        state.ResumeTiming();
        work.DecreaseBpp(8, false);
        benchmark::DoNotOptimize(work.GetBits(0));
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * photo.GetWidth() * photo.GetHeight());
}
BENCHMARK(BM_DecreaseBpp8)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_GetNearestIndex(benchmark::State& state) {
    VxImage pal(1, 1, 8, 0);
    pal.SetStdPalette();
    std::mt19937 rng(2);
    uint32_t sink = 0;
    for (auto _ : state) {
        const uint32_t c = rng();
        sink += pal.GetNearestIndex(vx::MakeRGBQUAD(uint8_t(c), uint8_t(c >> 8), uint8_t(c >> 16)));
    }
    benchmark::DoNotOptimize(sink);
}
BENCHMARK(BM_GetNearestIndex);

void BM_BmpEncodeDecode(benchmark::State& state) {
    const VxImage& photo = Photo();
    for (auto _ : state) {
        VxImage work(photo);
        uint8_t* buf = nullptr;
        int32_t size = 0;
        work.Encode(buf, size, VX_FORMAT_BMP);
        VxImage back(buf, uint32_t(size), VX_FORMAT_BMP);
        std::free(buf);
        benchmark::DoNotOptimize(back.GetBits(0));
    }
}
BENCHMARK(BM_BmpEncodeDecode)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
