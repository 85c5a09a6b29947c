#include "core/vx_adaptive_palette.h"

#include <algorithm>
#include <cstring>

#include "core/vx_image.h"

namespace vx {

namespace {

// Colours of the opaque pixels, or nothing once there are more than `limit`.
bool DistinctColours(const VxImage& img, uint32_t limit, std::vector<uint32_t>& out) {
    constexpr uint32_t kSlots = 1024;  // open addressing, more than twice 257 entries
    constexpr uint32_t kEmpty = 0xFFFFFFFF;
    uint32_t table[kSlots];
    std::fill(table, table + kSlots, kEmpty);
    out.clear();
    const uint32_t w = img.GetWidth(), h = img.GetHeight();
    uint32_t last = kEmpty;
    for (uint32_t y = 0; y < h; ++y) {
        const uint8_t* p = img.GetBits(y);
        const uint8_t* a = img.AlphaIsValid() ? img.AlphaGetPointer(0, int32_t(y)) : nullptr;
        for (uint32_t x = 0; x < w; ++x, p += 3) {
            if (a && a[x] < 128) continue;
            const uint32_t key = uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16);
            if (key == last) continue;
            last = key;
            uint32_t slot = (key * 2654435761u) >> 22;
            while (table[slot] != kEmpty && table[slot] != key) slot = (slot + 1) & (kSlots - 1);
            if (table[slot] == key) continue;
            if (out.size() == limit) return false;
            table[slot] = key;
            out.push_back(key);
        }
    }
    return true;
}

struct Point {
    double w;        // pixels in the histogram cell
    double c[3];     // their mean colour (blue, green, red)
};

struct Sums {
    double w = 0, s[3] = {0, 0, 0}, q = 0;
    void Add(const Point& p) {
        w += p.w;
        for (int k = 0; k < 3; ++k) {
            s[k] += p.w * p.c[k];
            q += p.w * p.c[k] * p.c[k];
        }
    }
    // Squared error of the points around their mean.
    double Error() const {
        if (w <= 0) return 0;
        return q - (s[0] * s[0] + s[1] * s[1] + s[2] * s[2]) / w;
    }
};

struct Box {
    uint32_t begin, end;
    Sums sums;
    double error;
};

constexpr int kBits = 5;  // histogram cells of 8 x 8 x 8 colours

std::vector<Point> Histogram(const VxImage& img) {
    constexpr uint32_t kCellCount = 1u << (3 * kBits);
    std::vector<uint32_t> count(kCellCount, 0);
    std::vector<uint64_t> sum(size_t(kCellCount) * 3, 0);
    const uint32_t w = img.GetWidth(), h = img.GetHeight();
    for (uint32_t y = 0; y < h; ++y) {
        const uint8_t* p = img.GetBits(y);
        const uint8_t* a = img.AlphaIsValid() ? img.AlphaGetPointer(0, int32_t(y)) : nullptr;
        for (uint32_t x = 0; x < w; ++x, p += 3) {
            if (a && a[x] < 128) continue;
            const uint32_t cell = (uint32_t(p[0] >> (8 - kBits)) << (2 * kBits)) |
                                  (uint32_t(p[1] >> (8 - kBits)) << kBits) |
                                  uint32_t(p[2] >> (8 - kBits));
            ++count[cell];
            uint64_t* s = &sum[size_t(cell) * 3];
            s[0] += p[0];
            s[1] += p[1];
            s[2] += p[2];
        }
    }
    std::vector<Point> pts;
    for (uint32_t cell = 0; cell < kCellCount; ++cell) {
        if (!count[cell]) continue;
        const double n = count[cell];
        const uint64_t* s = &sum[size_t(cell) * 3];
        pts.push_back(Point{n, {double(s[0]) / n, double(s[1]) / n, double(s[2]) / n}});
    }
    return pts;
}

// Splits `box` where the two halves' summed error is least, along the axis of
// widest spread; false when the box cannot be split.
bool Split(std::vector<Point>& pts, const Box& box, Box& lo, Box& hi) {
    if (box.end - box.begin < 2) return false;
    int axis = 0;
    double spread = -1;
    for (int k = 0; k < 3; ++k) {
        const double mean = box.sums.s[k] / box.sums.w;
        double v = 0;
        for (uint32_t i = box.begin; i < box.end; ++i) {
            const double d = pts[i].c[k] - mean;
            v += pts[i].w * d * d;
        }
        if (v > spread) {
            spread = v;
            axis = k;
        }
    }
    std::sort(pts.begin() + box.begin, pts.begin() + box.end,
              [axis](const Point& a, const Point& b) { return a.c[axis] < b.c[axis]; });
    Sums left;
    double best = -1;
    uint32_t cut = box.begin + 1;
    for (uint32_t i = box.begin; i + 1 < box.end; ++i) {
        left.Add(pts[i]);
        Sums r = box.sums;
        r.w -= left.w;
        for (int k = 0; k < 3; ++k) r.s[k] -= left.s[k];
        r.q -= left.q;
        const double e = left.Error() + r.Error();
        if (best < 0 || e < best) {
            best = e;
            cut = i + 1;
        }
    }
    lo = Box{box.begin, cut, {}, 0};
    hi = Box{cut, box.end, {}, 0};
    for (uint32_t i = lo.begin; i < lo.end; ++i) lo.sums.Add(pts[i]);
    for (uint32_t i = hi.begin; i < hi.end; ++i) hi.sums.Add(pts[i]);
    lo.error = lo.sums.Error();
    hi.error = hi.sums.Error();
    return true;
}

}  // namespace

AdaptivePalette BuildAdaptivePalette(const VxImage& img, uint32_t maxColours, int kmeansPasses) {
    AdaptivePalette result;
    maxColours = std::clamp<uint32_t>(maxColours, 1, 256);
    if (!img.IsValid() || img.GetBpp() != 24) return result;

    std::vector<uint32_t> distinct;
    if (DistinctColours(img, maxColours, distinct)) {
        std::sort(distinct.begin(), distinct.end());
        for (uint32_t key : distinct)
            result.colours.push_back(MakeRGBQUAD(uint8_t(key >> 16), uint8_t(key >> 8), uint8_t(key)));
        result.exact = true;
        return result;
    }

    std::vector<Point> pts = Histogram(img);
    std::vector<Box> boxes;
    Box all{0, uint32_t(pts.size()), {}, 0};
    for (const Point& p : pts) all.sums.Add(p);
    all.error = all.sums.Error();
    boxes.push_back(all);
    while (boxes.size() < maxColours) {
        size_t worst = boxes.size();
        for (size_t i = 0; i < boxes.size(); ++i)
            if (boxes[i].end - boxes[i].begin > 1 &&
                (worst == boxes.size() || boxes[i].error > boxes[worst].error))
                worst = i;
        if (worst == boxes.size()) break;
        Box lo, hi;
        if (!Split(pts, boxes[worst], lo, hi)) break;
        boxes[worst] = lo;
        boxes.push_back(hi);
    }

    std::vector<double> centre(boxes.size() * 3);
    for (size_t b = 0; b < boxes.size(); ++b)
        for (int k = 0; k < 3; ++k) centre[b * 3 + k] = boxes[b].sums.s[k] / boxes[b].sums.w;

    // Lloyd passes over the histogram cells: each cell joins its nearest
    // centre, each centre moves to the mean of its cells.
    const size_t n = boxes.size();
    std::vector<double> acc(n * 4);
    for (int pass = 0; pass < kmeansPasses; ++pass) {
        std::fill(acc.begin(), acc.end(), 0.0);
        for (const Point& p : pts) {
            size_t best = 0;
            double bestD = 1e300;
            for (size_t b = 0; b < n; ++b) {
                const double d0 = p.c[0] - centre[b * 3], d1 = p.c[1] - centre[b * 3 + 1],
                             d2 = p.c[2] - centre[b * 3 + 2];
                const double d = d0 * d0 + d1 * d1 + d2 * d2;
                if (d < bestD) {
                    bestD = d;
                    best = b;
                }
            }
            double* a = &acc[best * 4];
            a[0] += p.w;
            for (int k = 0; k < 3; ++k) a[1 + k] += p.w * p.c[k];
        }
        for (size_t b = 0; b < n; ++b)
            if (acc[b * 4] > 0)
                for (int k = 0; k < 3; ++k) centre[b * 3 + k] = acc[b * 4 + 1 + k] / acc[b * 4];
    }

    for (size_t b = 0; b < n; ++b) {
        auto q = [&](int k) { return uint8_t(std::clamp(centre[b * 3 + k] + 0.5, 0.0, 255.0)); };
        result.colours.push_back(MakeRGBQUAD(q(2), q(1), q(0)));
    }
    return result;
}

}  // namespace vx
