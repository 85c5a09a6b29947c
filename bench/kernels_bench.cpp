// Micro-benchmarks of the engine's hot kernels on a photo-sized picture.
// Optional: VELLUMAR_BENCH_PHOTO=<24-bit BMP> uses a real photo instead of the
// built-in synthetic one. Codec round trips run in memory, so they time the
// codec's own loops (and its library's) without the disk.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <random>

#include "core/vx_format.h"
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

// The photo reduced to the standard palette: the GIF coder's and the
// palette paths' input.
const VxImage& Photo8() {
    static VxImage photo8 = [] {
        VxImage img(Photo());
        img.DecreaseBpp(8, false);
        return img;
    }();
    return photo8;
}

struct Encoded {
    uint8_t* data = nullptr;
    int32_t size = 0;
    ~Encoded() { std::free(data); }
};

bool HasCodec(uint32_t format) { return VxFindCodec(format) != nullptr; }

// Encodes a copy of the picture (made outside the timing: encoders may touch
// the palette) into memory, once per iteration.
void EncodeLoop(benchmark::State& state, const VxImage& source, uint32_t format) {
    if (!HasCodec(format)) {
        state.SkipWithError("codec not in this build");
        return;
    }
    int64_t bytes = 0;
    for (auto _ : state) {
        state.PauseTiming();
        VxImage work(source);
        Encoded out;
        state.ResumeTiming();
        if (!work.Encode(out.data, out.size, format)) {
            state.SkipWithError(work.GetLastError());
            return;
        }
        bytes = out.size;
        benchmark::DoNotOptimize(out.data);
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * source.GetWidth() * source.GetHeight());
    state.counters["file_MB"] = double(bytes) / 1e6;
}

// Decodes the picture's encoding in that format from memory, once per iteration.
void DecodeLoop(benchmark::State& state, const VxImage& source, uint32_t format) {
    if (!HasCodec(format)) {
        state.SkipWithError("codec not in this build");
        return;
    }
    VxImage work(source);
    Encoded in;
    if (!work.Encode(in.data, in.size, format)) {
        state.SkipWithError(work.GetLastError());
        return;
    }
    for (auto _ : state) {
        VxImage back(0);
        if (!back.Decode(in.data, uint32_t(in.size), format)) {
            state.SkipWithError(back.GetLastError());
            return;
        }
        benchmark::DoNotOptimize(back.GetBits(0));
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * source.GetWidth() * source.GetHeight());
}

// 24-bit photo: the row loops of BMP, TGA and PCX and the colour swaps of the
// library glue (JPEG, PNG, TIFF).
#define PHOTO_CODEC_BENCH(Name, format)                                                     \
    void BM_##Name##Encode(benchmark::State& s) { EncodeLoop(s, Photo(), format); }         \
    BENCHMARK(BM_##Name##Encode)->Unit(benchmark::kMillisecond);                             \
    void BM_##Name##Decode(benchmark::State& s) { DecodeLoop(s, Photo(), format); }         \
    BENCHMARK(BM_##Name##Decode)->Unit(benchmark::kMillisecond);

PHOTO_CODEC_BENCH(Bmp, VX_FORMAT_BMP)
PHOTO_CODEC_BENCH(Tga, VX_FORMAT_TGA)
PHOTO_CODEC_BENCH(Pcx, VX_FORMAT_PCX)
PHOTO_CODEC_BENCH(Jpeg, VX_FORMAT_JPG)
PHOTO_CODEC_BENCH(Png, VX_FORMAT_PNG)
PHOTO_CODEC_BENCH(Tiff, VX_FORMAT_TIF)

// 8-bit photo: the GIF LZW coder and decoder, and the palette row loops.
#define PALETTE_CODEC_BENCH(Name, format)                                                   \
    void BM_##Name##Encode8(benchmark::State& s) { EncodeLoop(s, Photo8(), format); }       \
    BENCHMARK(BM_##Name##Encode8)->Unit(benchmark::kMillisecond);                            \
    void BM_##Name##Decode8(benchmark::State& s) { DecodeLoop(s, Photo8(), format); }       \
    BENCHMARK(BM_##Name##Decode8)->Unit(benchmark::kMillisecond);

PALETTE_CODEC_BENCH(GifLzw, VX_FORMAT_GIF)
PALETTE_CODEC_BENCH(Bmp, VX_FORMAT_BMP)
PALETTE_CODEC_BENCH(Tga, VX_FORMAT_TGA)
PALETTE_CODEC_BENCH(Pcx, VX_FORMAT_PCX)

}  // namespace

BENCHMARK_MAIN();
