#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "core/vx_deep.h"
#include "tests/support/hostile_sweep.h"
#include "tests/support/test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Largest difference of alpha everywhere and of colour where both are opaque:
// what two readers must agree on whatever they do under transparency.
int OpaqueDiff(const vt::Rgba& a, const vt::Rgba& b) {
    int most = a.px.size() == b.px.size() ? 0 : 999;
    for (size_t i = 0; most < 999 && i < a.px.size(); ++i)
        if (i % 4 == 3 || (a.px[i | 3] == 255 && b.px[i | 3] == 255)) most = std::max(most, std::abs(a.px[i] - b.px[i]));
    return most;
}


// ImageMagick's files (Pillow's for the palette, which ImageMagick cannot read
// back) against that reader's RGBA; the probe must find them too.
TEST(Psd, CompositeMatchesAnIndependentDecoder) {
    const std::tuple<const char*, int, unsigned, bool> cases[] = {
        {"rgb8_rle.psd", 0, 8, false},   {"rgb8_raw.psd", 0, 8, false}, {"rgb16_rle.psd", 1, 16, false},
        {"grey8_rle.psd", 0, 8, false},  {"grey16_raw.psd", 1, 16, false},
        {"cmyk8_rle.psd", 1, 8, false},  {"rgba8_rle.psd", 0, 8, true}, {"rgba16_rle.psd", 1, 16, true},
        {"rgb8_rle.psb", 0, 8, false},   {"rgba8_raw.psb", 0, 8, true}, {"indexed8_rle.psd", 0, 8, false}};
    for (const auto& [name, tolerance, bits, alpha] : cases) {
        const std::string path = vt::DataPath(std::string("psd/") + name);
        const Bytes file = vt::ReadFileBytes(path), want = vt::ReadFileBytes(path + ".rgba");
        for (const uint32_t format : {uint32_t(VX_FORMAT_PSD), 0u}) {
            VxImage img(0);
            ASSERT_TRUE(vt::DecodeBytes(file, format, img)) << name << ": " << img.GetLastError();
            const vt::Rgba got = vt::ToRgba(img);
            vt::Rgba ref = {23, 13, want};
            EXPECT_LE(alpha ? OpaqueDiff(got, ref) : vt::MaxChannelDiff(got, ref), tolerance) << name;
            EXPECT_TRUE(vx::SampleBits(img) == bits && img.AlphaIsValid() == alpha && img.GetType() == VX_FORMAT_PSD) << name;
        }
    }
    for (const char* name : {"rgba8_rle.psd", "rgb16_rle.psd", "rgba8_raw.psb"})
        EXPECT_GT(vt::HostileSweep(vt::ReadFileBytes(vt::DataPath(std::string("psd/") + name)), VX_FORMAT_PSD).decodes, 0);
}

// A 2x1 raw document: version, channels, depth, mode, then the three
// sections (palette bytes, resources, layer section) and the planes.
Bytes Doc(uint16_t version, uint16_t channels, uint16_t depth, uint16_t mode, Bytes resources = {},
          int16_t layers = 0, uint16_t compression = 0, size_t cut = 0) {
    const auto be = [](Bytes& b, uint64_t v, int n) { for (int i = n - 1; i >= 0; --i) b.push_back(uint8_t(v >> (8 * i))); };
    Bytes b = {'8', 'B', 'P', 'S', 0, uint8_t(version), 0, 0, 0, 0, 0, 0};
    be(b, channels, 2), be(b, 1, 4), be(b, 2, 4), be(b, depth, 2), be(b, mode, 2), be(b, 0, 4), be(b, resources.size(), 4);
    b.insert(b.end(), resources.begin(), resources.end());
    const int len = version == 2 ? 8 : 4;
    be(b, len + 2, len), be(b, 2, len), be(b, uint16_t(layers), 2);
    be(b, compression, 2);
    for (uint16_t c = 0; c < channels; ++c) b.insert(b.end(), {uint8_t(40 * c + 10), uint8_t(40 * c + 20)});
    b.resize(b.size() - cut);
    return b;
}

TEST(Psd, ExtraChannelsAndResources) {
    const Bytes xmp = {'8', 'B', 'I', 'M', 0x04, 0x24, 0, 0, 0, 0, 0, 3, 'x', 'm', 'p', 0};
    // Red, green, blue and then: one extra (alpha), two unmarked (neither), two marked (the first).
    const std::tuple<Bytes, bool, uint8_t, size_t> cases[] = {
        {Doc(1, 4, 8, 3, xmp), true, 130, 3}, {Doc(1, 5, 8, 3), false, 255, 0}, {Doc(2, 5, 8, 3, {}, -1), true, 130, 0}};
    for (const auto& [bytes, alpha, level, xmpSize] : cases) {
        VxImage img(0);
        ASSERT_TRUE(vt::DecodeBytes(bytes, VX_FORMAT_PSD, img)) << img.GetLastError();
        const vt::Rgba got = vt::ToRgba(img);
        EXPECT_TRUE(img.AlphaIsValid() == alpha && got.at(0, 0)[3] == level && got.at(1, 0)[2] == 100) << int(level);
        EXPECT_EQ(img.GetXmp().size(), xmpSize);
    }
}

TEST(Psd, BadFilesFailWithTheirText) {
    const Bytes badResource = {'8', 'B', 'I', 'X', 0, 0, 0, 0, 0, 0, 0, 0};
    const std::pair<Bytes, const char*> cases[] = {
        {Doc(3, 3, 8, 3), "bad PSD header: version"}, {Doc(1, 0, 8, 3), "bad PSD header: channels"},
        {Doc(1, 3, 32, 3), "PSD: only 8 and 16-bit samples are read"},
        {Doc(1, 3, 8, 9), "PSD: only grey, indexed, RGB and CMYK documents are read"},
        {Doc(1, 2, 8, 3), "bad PSD header: too few channels"}, {Doc(1, 1, 8, 2), "Corrupted PSD: no palette"},
        {Doc(1, 3, 8, 3, badResource), "Corrupted PSD: image resource signature"},
        {Doc(1, 3, 8, 3, {}, 0, 2), "PSD: the composite is zip-coded, which is not read"},
        {Doc(1, 3, 8, 3, {}, 0, 0, 1), "PSD data ends early"}};
    for (const auto& [bytes, text] : cases) {
        VxImage img(0);
        EXPECT_TRUE(!vt::DecodeBytes(bytes, VX_FORMAT_PSD, img) && img.GetLastError() == std::string(text)) << text;
    }
}

}  // namespace
