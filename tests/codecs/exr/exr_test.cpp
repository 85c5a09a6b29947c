#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include <half.h>

#include "core/vx_deep.h"
#include "core/vx_light.h"
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


// Scanline, tiled, float and an offset data window, against oiiotool's 16-bit
// sRGB decode; one stop of exposure against oiiotool's doubled samples.
TEST(Exr, DecodesAsAnIndependentReaderDoes) {
    const std::tuple<const char*, const char*, int32_t> cases[] = {
        {"rgb_half_scan.exr", ".png", 0}, {"rgba_float_tiled.exr", ".png", 0},
        {"rgba_half_window.exr", ".png", 0}, {"rgb_half_scan.exr", ".ev1.png", 100}};
    for (const auto& [name, ref, exposure] : cases) {
        const std::string path = vt::DataPath(std::string("exr/") + name);
        VxImage img(0), want(0);
        img.SetCodecOption(uint32_t(exposure), VX_FORMAT_EXR);
        ASSERT_TRUE(vt::DecodeBytes(vt::ReadFileBytes(path), exposure ? uint32_t(VX_FORMAT_EXR) : 0u, img)) << img.GetLastError();
        ASSERT_TRUE(vt::DecodeBytes(vt::ReadFileBytes(path + ref), VX_FORMAT_PNG, want)) << name;
        ASSERT_TRUE(img.GetDeep() && want.GetDeep() && img.GetType() == VX_FORMAT_EXR) << name;
        const bool alpha = img.GetDeep()->HasAlpha();
        if (!alpha) {
            EXPECT_LE(vt::DeepDiff(*img.GetDeep(), *want.GetDeep()), 40) << name << ref;  // half precision
        }
        EXPECT_LE(OpaqueDiff(vt::ToRgba(img), vt::ToRgba(want)), 1) << name << ref;
    }
    EXPECT_GT(vt::HostileSweep(vt::ReadFileBytes(vt::DataPath("exr/rgba_half_window.exr")), VX_FORMAT_EXR, 1, 150).decodes, 0);
}

// 8-bit with alpha and 16-bit pictures come back; the bytes are the same every
// time, and the library's own tool reads the header we meant.
TEST(Exr, WritesHalfRgbaThatReadsBack) {
    for (const bool deep : {false, true}) {
        VxImage pic = vt::MakeGradient24(40, 9);
        ASSERT_TRUE(pic.AlphaCreate());
        for (int32_t x = 0; x < 40; ++x) pic.AlphaSet(x, 2, uint8_t(x * 6 + 10));
        if (deep) {
            ASSERT_TRUE(vx::SetDeepPicture(pic, vx::DeepFromBlock(pic)));
        }
        const Bytes file = vt::EncodeBytes(pic, VX_FORMAT_EXR);
        EXPECT_EQ(vt::EncodeBytes(pic, VX_FORMAT_EXR), file);
        VxImage back(0);
        ASSERT_TRUE(vt::DecodeBytes(file, VX_FORMAT_EXR, back)) << back.GetLastError();
        EXPECT_LE(vt::MaxChannelDiff(vt::ToRgba(back), vt::ToRgba(pic)), 1) << deep;
        vt::TempDir dir;
        ASSERT_TRUE(vt::WriteFileBytes(dir.file("o.exr"), file));
        ASSERT_EQ(vt::RunCommand("exrheader " + vt::ShellQuote(dir.file("o.exr")) + " > " + vt::ShellQuote(dir.file("h"))), 0);
        const Bytes log = vt::ReadFileBytes(dir.file("h"));
        const std::string text(log.begin(), log.end());
        for (const char* want : {"A, 16-bit floating-point", "compression (type compression): zip", "(0 0) - (39 8)"})
            EXPECT_NE(text.find(want), std::string::npos) << want << "\n" << text;
        EXPECT_EQ(text.find("Date"), std::string::npos) << text;
    }
}

// EXR into EXR and into float TIFF keeps the light itself, beyond white as it
// is (the fixtures go to 4); OpenImageIO's statistics read each copy as they
// read the source, and the TIFF comes back with the same light and samples.
TEST(Exr, LightBeyondWhiteSurvivesIntoExrAndFloatTiff) {
    for (const char* name : {"rgb_half_scan.exr", "rgba_float_tiled.exr", "rgba_half_window.exr"}) {
        VxImage img(0);
        ASSERT_TRUE(vt::DecodeBytes(vt::ReadFileBytes(vt::DataPath(std::string("exr/") + name)), VX_FORMAT_EXR, img));
        ASSERT_TRUE(img.GetDeep() && vx::LightBeyondWhite(*img.GetDeep())) << name;
        for (const auto& [format, ext] : {std::pair{VX_FORMAT_EXR, ".exr"}, std::pair{VX_FORMAT_TIF, ".tif"}}) {
            VxImage back(0);
            const Bytes file = vt::EncodeBytes(img, format);
            ASSERT_TRUE(vt::DecodeBytes(file, format, back)) << name << ext;
            EXPECT_TRUE(back.GetDeep() && back.GetDeep()->light == img.GetDeep()->light) << name << ext;
            EXPECT_EQ(vt::DeepDiff(*back.GetDeep(), *img.GetDeep()), 0) << name << ext;
            vt::TempDir dir;
            ASSERT_TRUE(vt::WriteFileBytes(dir.file(std::string("o") + ext), file));
            const std::string stats = " --stats " + vt::ShellQuote(dir.file(std::string("o") + ext)) + " | grep Max: > " + vt::ShellQuote(dir.file("s"));
            ASSERT_EQ(vt::RunCommand("oiiotool" + stats), 0);
            const Bytes s = vt::ReadFileBytes(dir.file("s"));
            EXPECT_EQ(std::string(s.begin(), s.end()).rfind("    Stats Max: 4.0", 0), 0u) << name << ext;
        }
    }
}

// Every half comes back from its float, and floats round as the library's own
// half does (to nearest, ties to even), subnormals and infinities included.
TEST(Exr, HalfConversionsMatchTheLibrary) {
    for (uint32_t h = 0; h < 0x10000; ++h)
        if ((h & 0x7C00) != 0x7C00 || (h & 0x3FF) == 0) {
            ASSERT_EQ(vx::FloatToHalf(vx::HalfToFloat(uint16_t(h))), h);
        }
    for (uint64_t bits = 0; bits < 0x100000000; bits += 4099) {
        float f;
        const uint32_t b = uint32_t(bits);
        std::memcpy(&f, &b, 4);
        if (std::isnan(f)) continue;
        ASSERT_EQ(vx::FloatToHalf(f), half(f).bits()) << std::hex << b;
    }
}

// A one-attribute header whose value is `size` bytes of `fill`.
Bytes Attribute(const std::string& type, uint32_t size, uint8_t fill = 0) {
    std::string b = std::string("v/1\x01\x02", 5) + std::string(3, '\0') + "x" + '\0' + type + '\0';
    for (int i = 0; i < 4; ++i) b += char(size >> (8 * i));
    b += std::string(size, char(fill)) + '\0';
    return Bytes(b.begin(), b.end());
}

Bytes Taller(Bytes file) {
    const std::string key = std::string("dataWindow") + '\0' + "box2i" + '\0';
    const auto at = std::search(file.begin(), file.end(), key.begin(), key.end());
    if (at != file.end()) *(at + long(key.size()) + 4 + 12 + 2) = 0x10;  // ymax past 2^20
    return file;
}

TEST(Exr, BadFilesFailWithTheirText) {
    Bytes file = vt::ReadFileBytes(vt::DataPath("exr/rgb_half_scan.exr"));
    const std::pair<Bytes, const char*> cases[] = {
        {Bytes(file.begin(), file.begin() + 40), "EXR: "}, {Bytes{0x76, 0x2f, 0x31, 0x01, 2, 0, 0, 0}, "EXR: "},
        {Bytes{'v', '/', '1', 0}, "Not an EXR"},
        // An attribute declaring 1.4 GB in a file of a few bytes: refused before anything is allocated.
        {Bytes{0x76, 0x2f, 0x31, 0x01, 2, 0, 0, 0, 'x', 0, 't', 0, 0x55, 0x55, 0x55, 0x55, 0},
         "EXR: a header attribute runs past the end of the file"},
        // The library reads a box by its type whatever it declares: the walks would part.
        {Attribute("box2i", 242), "EXR: a header attribute's size does not match its type"},
        {Attribute("stringvector", 8, 0x7f), "EXR: a header attribute's size does not match its type"},
        {Attribute("idmanifest", 19), "EXR: an ID manifest attribute, which the library misreads"},
        // A data window of 2^20 rows, within the picture limit, needs an offset table larger than the file.
        {Taller(file), "EXR: the header declares more pieces than the file holds"}};
    for (const auto& [bytes, text] : cases) {
        VxImage img(0);
        EXPECT_TRUE(!vt::DecodeBytes(bytes, VX_FORMAT_EXR, img) && std::string(img.GetLastError()).rfind(text, 0) == 0)
            << text << " / " << img.GetLastError();
    }
}

}  // namespace
