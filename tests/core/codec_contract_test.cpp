// The rules every codec shares: the registry, and the picture limit as each
// decoder applies it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "core/vx_codec.h"
#include "core/vx_image.h"

namespace {

TEST(Registry, ListsEveryFormatOnceWithItsNameAndRole) {
    size_t count = 0;
    const VxCodecEntry* entries = VxCodecEntries(&count);
    std::vector<ImageFormat> probed;
    std::vector<int> seen(kVxFormatCount, 0);
    for (size_t i = 0; i < count; ++i) {
        const VxCodecEntry& e = entries[i];
        ASSERT_LT(e.code, kVxFormatCount);
        ++seen[e.code];
        EXPECT_STREQ(VxFormatName(e.code), e.name);
        EXPECT_EQ(VxFindCodec(e.code), &e.ops);
        if (e.probed) probed.push_back(e.code);
    }
    for (ImageFormat code = 1; code < kVxFormatCount; ++code) EXPECT_EQ(seen[code], 1) << code;
    EXPECT_EQ(seen[0], 0);
    const std::vector<ImageFormat> order = {VX_FORMAT_BMP, VX_FORMAT_JPG, VX_FORMAT_ICO,
                                            VX_FORMAT_GIF, VX_FORMAT_PNG, VX_FORMAT_TIF,
                                            VX_FORMAT_TGA, VX_FORMAT_PCX, VX_FORMAT_WBMP,
                                            VX_FORMAT_WMF, VX_FORMAT_JP2, VX_FORMAT_WEBP,
                                            VX_FORMAT_HEIF, VX_FORMAT_JXL};
    EXPECT_EQ(probed, order);
    EXPECT_STREQ(VxFormatName(0), "");
    EXPECT_EQ(VxFindCodec(kVxFormatCount), nullptr);
}

// What a line says its format can do is what its codec does: the frames or
// pages its decoder reports and its encoder writes, the largest side its
// writer takes; and no extension or place in the target list is taken twice.
TEST(Registry, EachLineSaysWhatItsCodecDoes) {
    size_t count = 0;
    const VxCodecEntry* entries = VxCodecEntries(&count);
    std::set<std::string> extensions;
    std::set<int> places;
    for (size_t i = 0; i < count; ++i) {
        const VxCodecEntry& e = entries[i];
        SCOPED_TRACE(e.name);
        const uint8_t many = e.caps.pictures;
        EXPECT_EQ(e.ops.reportsFrames, (many & (kVxReadsFrames | kVxReadsPages)) != 0);
        EXPECT_EQ(e.ops.encodePages != nullptr, (many & (kVxWritesFrames | kVxWritesPages)) != 0);
        std::istringstream words(e.extensions);
        for (std::string ext; words >> ext;) EXPECT_TRUE(extensions.insert(ext).second) << ext;
        if (e.caps.listed) {
            EXPECT_TRUE(places.insert(e.caps.listed).second);
        }
        if (!e.caps.maxSide) continue;
        // A picture of a form the writer takes, at the limit and one past it, both ways.
        const uint32_t bpp = (e.caps.forms & kVxTrueColour) ? 24 : 1;
        for (const uint32_t side : {e.caps.maxSide, e.caps.maxSide + 1})
            for (const bool wide : {true, false}) {
                VxImage img(wide ? side : 1, wide ? 1 : side, bpp, 0);
                VxMemFile out;
                ASSERT_TRUE(out.Open());
                EXPECT_EQ(img.Encode(&out, e.code), side == e.caps.maxSide)
                    << side << (wide ? " wide" : " high") << ": " << img.GetLastError();
            }
    }
    ASSERT_FALSE(places.empty());
    EXPECT_EQ(*places.begin(), 1);
    EXPECT_EQ(size_t(*places.rbegin()), places.size());
}

TEST(PictureFits, LimitBytesLeftAndBlockSize) {
    std::vector<uint8_t> bytes(100);
    struct Case {
        uint64_t limit, width, height, leastBytes;
        const char* shortText;
        bool ok;
        const char* text;  // a part of LastError on failure
    } cases[] = {
        {1000, 40, 25, 0, nullptr, true, ""},
        {1000, 41, 25, 0, nullptr, false, "limit of 1000 pixels"},
        {0, 60000, 60000, 0, nullptr, false, "超过规定"},  // no limit, but no block either
        {0, 20000, 20000, 0, nullptr, true, ""},
        {1000, uint64_t(1) << 33, 1, 0, nullptr, false, "limit of 1000"},
        {1000, 10, 10, 100, nullptr, true, ""},
        {1000, 10, 10, 101, nullptr, false, "needs 101 bytes, 100 are left"},
        {1000, 10, 10, 101, "corrupted XYZ", false, "corrupted XYZ"},
        {10, 10, 10, 101, "corrupted XYZ", false, "limit of 10 pixels"},  // the limit first
        {10, 0, 10, 0, nullptr, true, ""},  // Create reports empty pictures
    };
    for (const Case& c : cases) {
        VxMemFile file(bytes.data(), uint32_t(bytes.size()));
        VxImage img(0);
        img.SetMaxPixels(c.limit);
        const bool ok = img.PictureFits(c.width, c.height, 24, &file, c.leastBytes, c.shortText);
        EXPECT_EQ(ok, c.ok) << c.width << "x" << c.height;
        if (!c.ok) {
            EXPECT_NE(std::string(img.GetLastError()).find(c.text), std::string::npos)
                << img.GetLastError();
        }
    }
}

// Every format that can be written is read back under a limit one pixel
// short of the picture: each decoder refuses with the limit's text, and
// accepts the picture at the limit and with no limit.
TEST(PictureLimit, EveryDecoderAppliesIt) {
    VxImage src(20, 10, 24, 0);
    for (uint32_t y = 0; y < 10; ++y)
        for (uint32_t x = 0; x < 20; ++x)
            src.SetPixelColor(int32_t(x), int32_t(y), vx::MakeRGBQUAD(uint8_t(x * 12), uint8_t(y * 25), 0));
    for (ImageFormat code = 1; code < kVxFormatCount; ++code) {
        if (code == VX_FORMAT_WMF) continue;  // cannot be written; its test is the metafile's
        VxImage pic(src);
        if (code == VX_FORMAT_GIF || code == VX_FORMAT_WBMP || code == VX_FORMAT_PGX) {
            ASSERT_TRUE(pic.DecreaseBpp(code == VX_FORMAT_WBMP ? 1 : 8, false));
        }
        if (code == VX_FORMAT_PGX) pic.SetGrayPalette();
        uint8_t* buffer = nullptr;
        int32_t size = 0;
        ASSERT_TRUE(pic.Encode(buffer, size, code)) << VxFormatName(code) << pic.GetLastError();
        for (uint64_t limit : {uint64_t(199), uint64_t(200), uint64_t(0)}) {
            VxImage back(0);
            back.SetMaxPixels(limit);
            const bool ok = back.Decode(buffer, uint32_t(size), code);
            EXPECT_EQ(ok, limit != 199) << VxFormatName(code) << " " << back.GetLastError();
            if (limit == 199) {
                EXPECT_NE(std::string(back.GetLastError()).find("limit of 199 pixels"),
                          std::string::npos)
                    << VxFormatName(code) << ": " << back.GetLastError();
            }
        }
        std::free(buffer);
    }
}

}  // namespace
