// What libjpeg's DCT scaling before a resize costs in quality and saves in
// time: each JPEG is resized once from its full-size decode and once from the
// smaller decode the batch uses (vx::DecodeReduction), and the two results are
// compared (PSNR) and timed. Optionally MARGIN replaces the batch's rule
// ("the decode stays at least twice the target size") by another multiple.
//
//   vellumar_prescale SIZE [MARGIN] FILE...   e.g. vellumar_prescale 800x800 photos/jpg/*.jpg
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/vx_image.h"
#include "core/vx_resize.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point from) {
    return std::chrono::duration<double>(Clock::now() - from).count();
}

// Decodes at 1/`denominator` and resamples to `w` x `h`; seconds taken, or -1.
double Shrink(const char* path, unsigned denominator, uint32_t w, uint32_t h, VxImage& img) {
    const Clock::time_point start = Clock::now();
    img.SetJpegScale(uint8_t(denominator));
    if (!img.Load(path, VX_FORMAT_JPG) || img.GetType() != VX_FORMAT_JPG ||
        !vx::Resample(img, w, h))
        return -1;
    return Seconds(start);
}

double Psnr(const VxImage& a, const VxImage& b) {
    double sum = 0;
    const uint32_t rowBytes = a.GetWidth() * 3;
    for (uint32_t y = 0; y < a.GetHeight(); ++y) {
        const uint8_t* p = a.GetBits(y);
        const uint8_t* q = b.GetBits(y);
        for (uint32_t i = 0; i < rowBytes; ++i) sum += double(p[i] - q[i]) * double(p[i] - q[i]);
    }
    const double mse = sum / (double(rowBytes) * a.GetHeight());
    return mse == 0 ? INFINITY : 10 * std::log10(255.0 * 255.0 / mse);
}

}  // namespace

int main(int argc, char** argv) {
    vx::ResizeRequest req;
    if (argc < 3 || !vx::ParseResizeRequest(argv[1], req)) {
        std::fprintf(stderr, "usage: %s SIZE [MARGIN] FILE...\n", argv[0]);
        return 2;
    }
    const bool ownMargin = std::strspn(argv[2], "0123456789") == std::strlen(argv[2]);
    const uint32_t margin = ownMargin ? uint32_t(std::atoi(argv[2])) : 2;
    if (margin < 1) return 2;
    std::printf("| file | size | target | scale | PSNR dB | full s | scaled s |\n");
    std::printf("|---|---|---|---|---:|---:|---:|\n");
    for (int i = ownMargin ? 3 : 2; i < argc; ++i) {
        VxImage probe(0);
        probe.SetEscape(-1);
        if (!probe.Load(argv[i], VX_FORMAT_JPG)) {
            std::fprintf(stderr, "%s: %s\n", argv[i], probe.GetLastError());
            continue;
        }
        const uint32_t width = probe.GetWidth(), height = probe.GetHeight();
        uint32_t w = 0, h = 0;
        vx::ResizedSize(req, width, height, w, h);
        unsigned d = ownMargin ? 8 : vx::DecodeReduction(req, width, height);
        while (ownMargin && d > 1 && (width / d < margin * w || height / d < margin * h)) d /= 2;
        VxImage full(0), scaled(0);
        const double fullTime = Shrink(argv[i], 1, w, h, full);
        const double scaledTime = d > 1 ? Shrink(argv[i], d, w, h, scaled) : -1;
        if (fullTime < 0 || full.GetBpp() != 24) continue;
        const char* name = std::strrchr(argv[i], '/') ? std::strrchr(argv[i], '/') + 1 : argv[i];
        if (scaledTime < 0) {
            std::printf("| %s | %ux%u | %ux%u | 1/1 | | %.3f | |\n", name, width, height, w, h,
                        fullTime);
            continue;
        }
        std::printf("| %s | %ux%u | %ux%u | 1/%u | %.1f | %.3f | %.3f |\n", name, width, height, w,
                    h, d, Psnr(full, scaled), fullTime, scaledTime);
    }
    return 0;
}
