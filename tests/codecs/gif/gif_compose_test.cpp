// Animations built from known frames: every frame must be the picture a
// browser shows, computed here from the frames themselves.
#include <gtest/gtest.h>

#include "tests/codecs/gif/gif_test_util.h"
#include "tests/support/test_support.h"

namespace {

using gt::Bytes;
using Table = std::vector<uint32_t>;

struct Frame {
    int l, t, w, h;
    int seed;             // pixel pattern
    Table local{};        // empty: the global table
    int trans = -1;       // transparent index, -1 none
    int disposal = 0;
};

struct Case {
    const char* name;
    Table global;
    std::vector<Frame> frames;
    const char* depth;  // per frame: 'P' a palette picture, 'T' 24-bit, '?' either
};

const Table kGrey = gt::Table({0x000000, 0x555555, 0xAAAAAA, 0xFFFFFF}, 4);
const Table kWarm = gt::Table({0x800000, 0xFF0000, 0xFF8000, 0xFFFF00}, 4);
const Table kCool = gt::Table({0x000080, 0x0000FF, 0x0080FF, 0x00FFFF}, 4);

int PixelIndex(const Frame& f, int x, int y) { return (x * 3 + y * 5 + f.seed) % 4; }

Bytes Build(const Case& c, int screenW, int screenH) {
    gt::Builder b(screenW, screenH, c.global);
    for (const Frame& f : c.frames) {
        VxImage px(uint32_t(f.w), uint32_t(f.h), 4, 0);
        for (int y = 0; y < f.h; ++y)
            for (int x = 0; x < f.w; ++x) px.SetPixelIndex(x, f.h - 1 - y, uint8_t(PixelIndex(f, x, y)));
        b.Control(uint8_t((f.disposal << 2) | (f.trans >= 0 ? 1 : 0)), 10, uint8_t(std::max(f.trans, 0)));
        b.Image(f.l, f.t, f.w, f.h, gt::FrameData(gt::EncodeGif(px)), f.local);
    }
    return b.Done();
}

// The screen after frame n, drawn the way browsers draw it.
vt::Rgba Expected(const Case& c, size_t n, int screenW, int screenH) {
    vt::Rgba screen{screenW, screenH, std::vector<uint8_t>(size_t(screenW) * screenH * 4, 0)};
    vt::Rgba saved;
    for (size_t i = 0; i <= n; ++i) {
        const Frame& f = c.frames[i];
        if (i > 0) {
            const Frame& p = c.frames[i - 1];
            if (p.disposal == 2)
                for (int y = p.t; y < p.t + p.h; ++y)
                    for (int x = p.l; x < p.l + p.w; ++x)
                        std::fill_n(&screen.px[(size_t(y) * screenW + x) * 4], 4, 0);
            if (p.disposal == 3) screen = saved;
        }
        if (f.disposal == 3) saved = screen;
        const Table& table = f.local.empty() ? c.global : f.local;
        for (int y = 0; y < f.h; ++y)
            for (int x = 0; x < f.w; ++x) {
                const int i = PixelIndex(f, x, y);
                if (i == f.trans) continue;
                uint8_t* p = &screen.px[(size_t(y + f.t) * screenW + x + f.l) * 4];
                const uint32_t rgb = table[size_t(i)];
                p[0] = uint8_t(rgb >> 16), p[1] = uint8_t(rgb >> 8), p[2] = uint8_t(rgb), p[3] = 255;
            }
    }
    return screen;
}

// Our picture as shown: the transparent index, like the alpha plane, shows nothing.
vt::Rgba Shown(const VxImage& img) {
    vt::Rgba px = vt::ToRgba(img);
    if (img.GetBpp() <= 8 && img.GetTransIndex() >= 0)
        for (int y = 0; y < px.height; ++y)
            for (int x = 0; x < px.width; ++x)
                if (img.GetPixelIndex(x, px.height - 1 - y) == img.GetTransIndex())
                    px.px[(size_t(y) * px.width + x) * 4 + 3] = 0;
    for (size_t i = 0; i < px.px.size(); i += 4)
        if (px.px[i + 3] == 0) std::fill_n(&px.px[i], 3, 0);  // colour under clear pixels is free
    return px;
}

TEST(GifCompose, EveryFrameIsWhatABrowserShows) {
    const int W = 12, H = 9;
    const Case cases[] = {
        {"a frame without a local table uses the global one, not the last local one",
         kGrey,
         {{0, 0, W, H, 0}, {2, 1, 5, 4, 1, kWarm}, {6, 4, 5, 4, 2}},
         "PTT"},
        {"frames of one palette stay palette pictures; unpainted pixels are clear",
         kGrey,
         {{1, 1, 4, 3, 0}, {6, 5, 6, 4, 3}, {0, 0, 3, 9, 1}},
         "PPP"},
        {"disposal 1 keeps, 2 clears its own area",
         kGrey,
         {{0, 0, W, H, 0, {}, -1, 1}, {3, 2, 6, 5, 1, {}, -1, 2}, {8, 0, 4, 4, 2}},
         "PPP"},
        {"disposal 3 restores what was under the frame",
         kGrey,
         {{0, 0, W, H, 0}, {2, 2, 7, 5, 1, kWarm, -1, 3}, {5, 3, 6, 6, 2, {}, 1}},
         "PT?"},
        {"each frame's transparent index is its own",
         kGrey,
         {{0, 0, W, H, 0, {}, 2}, {0, 0, W, H, 1, {}, 1}, {4, 4, 8, 5, 3, {}, 3}},
         "PPP"},
        {"a frame covering everything in its own palette needs no true colour",
         {},
         {{0, 0, W, H, 0, kWarm}, {0, 0, W, H, 1, kCool}, {2, 2, 4, 4, 2, kWarm, 0}},
         "PPT"},
        {"an animation without a global table starting small is drawn frame by frame",
         {},
         {{1, 1, 4, 3, 0, kWarm}, {6, 4, 5, 4, 1, kCool}},
         "PT"},
    };
    for (const Case& c : cases) {
        const Bytes gif = Build(c, W, H);
        for (size_t n = 0; n < c.frames.size(); ++n) {
            VxImage img;
            ASSERT_TRUE(gt::DecodeGif(gif, img, int(n))) << c.name << " #" << n;
            EXPECT_EQ(img.GetNumFrames(), int(c.frames.size())) << c.name;
            if (c.depth[n] != '?') {
                EXPECT_EQ(img.GetBpp() == 24, c.depth[n] == 'T') << c.name << " #" << n;
            }
            EXPECT_EQ(vt::MaxChannelDiff(Shown(img), Expected(c, n, W, H)), 0) << c.name << " #" << n;
        }
    }
}

}  // namespace
