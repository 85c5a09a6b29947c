#include <gtest/gtest.h>

#include <vector>

#include "core/vx_transparency.h"

namespace {

struct Reserve {
    const char* name;
    int bpp;
    std::vector<int> opaque;  // indices of opaque pixels
    int clearIndex;           // index under the one clear pixel
    int preferred;
    int expect;
    int expectBpp;
};

TEST(Transparency, OneEntryCarriesEveryClearPixel) {
    std::vector<int> all(256);
    for (int i = 0; i < 256; ++i) all[size_t(i)] = i;
    const Reserve cases[] = {
        {"the preferred entry when free", 8, {1, 2, 3}, 7, 5, 5, 8},
        {"else one only clear pixels use", 8, {1, 2, 5}, 7, 5, 7, 8},
        {"else the lowest unused", 4, {0, 1, 2, 5}, 1, -1, 3, 4},
        {"a full 1-bit picture widens", 1, {0, 1}, 0, -1, 2, 8},
        // FE0000 (40) lies next to FF0000 (249) and shows as few pixels as any.
        {"all 256 showing: the entry nearest another gives way", 8, all, 5, -1, 40, 8},
    };
    for (const Reserve& c : cases) {
        const int w = int(c.opaque.size()) + 1;
        VxImage img(uint32_t(w), 1, uint32_t(c.bpp), 0);
        if (c.bpp == 8) img.SetStdPalette();
        ASSERT_TRUE(img.AlphaCreate());
        for (int x = 0; x + 1 < w; ++x) img.SetPixelIndex(x, 0, uint8_t(c.opaque[size_t(x)]));
        img.SetPixelIndex(w - 1, 0, uint8_t(c.clearIndex));
        img.AlphaSet(w - 1, 0, 0);

        ASSERT_TRUE(vx::ReserveTransparentIndex(img, c.preferred)) << c.name;
        EXPECT_EQ(img.GetTransIndex(), c.expect) << c.name;
        EXPECT_EQ(img.GetBpp(), c.expectBpp) << c.name;
        EXPECT_FALSE(img.AlphaIsValid()) << c.name;
        EXPECT_EQ(img.GetPixelIndex(w - 1, 0), c.expect) << c.name;
        for (int x = 0; x + 1 < w; ++x) {
            const int was = c.opaque[size_t(x)];
            EXPECT_EQ(img.GetPixelIndex(x, 0), was == 40 && c.expect == 40 ? 249 : was) << c.name;
        }
    }
}

}  // namespace
