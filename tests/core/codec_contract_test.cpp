// The rules every codec shares: the registry, and the picture limit as each
// decoder applies it.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "app/format_table/format_table.h"
#include "core/vx_codec.h"
#include "core/vx_image.h"
#include "tests/support/test_support.h"

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
                                            VX_FORMAT_HEIF, VX_FORMAT_JXL, VX_FORMAT_QOI,
                                            VX_FORMAT_PSD, VX_FORMAT_EXR, VX_FORMAT_SVG, VX_FORMAT_PDF,
                                            VX_FORMAT_RAW};
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
        const VxFormatCaps* caps = VxFindFormatCaps(code);
        if (!caps || !caps->writes) continue;  // WMF's test is the metafile's, PSD's the bomb's
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

// Every fixture, read by the format its name gives: the header-only answer
// is what the full decode gives and makes no picture. The depth is the
// decoded one except where only the pixels tell: a GIF's screen is composed
// from its frames, and OpenJPEG applies a JP2 file's palette and channel
// boxes as it decodes.
TEST(DimensionsOnly, EveryDecoderAnswersFromTheHeaderAsItsDecodeDoes) {
    std::vector<std::string> files;
    for (const auto& e : std::filesystem::recursive_directory_iterator(vt::DataPath("")))
        if (e.is_regular_file()) files.push_back(e.path().string());
    std::sort(files.begin(), files.end());
    std::vector<int> compared(kVxFormatCount, 0);
    for (const std::string& file : files) {
        const ImageFormat named = vellumar::FormatFromExtension(file);
        VxImage full(0);
        full.SetMaxPixels(0);
        if (!full.Load(file.c_str(), named)) continue;
        SCOPED_TRACE(file);
        VxImage head(0);
        head.SetEscape(-1);
        head.SetMaxPixels(0);
        ASSERT_TRUE(head.Load(file.c_str(), named)) << head.GetLastError();
        const ImageFormat type = full.GetType();
        ASSERT_LT(type, kVxFormatCount);
        EXPECT_FALSE(head.IsValid());
        EXPECT_FALSE(head.AlphaIsValid());
        EXPECT_EQ(head.GetType(), type);
        EXPECT_EQ(head.GetWidth(), full.GetWidth());
        EXPECT_EQ(head.GetHeight(), full.GetHeight());
        if (VxFindCodec(type)->reportsFrames) {
            EXPECT_EQ(head.GetNumFrames(), full.GetNumFrames());
        }
        if (type != VX_FORMAT_GIF && type != VX_FORMAT_JP2 && type != VX_FORMAT_JPC) {
            EXPECT_EQ(head.GetBpp(), full.GetBpp());
        }
        EXPECT_EQ(head.GetXDPI(), full.GetXDPI());
        EXPECT_EQ(head.GetYDPI(), full.GetYDPI());
        ++compared[type];
    }
    size_t count = 0;
    const VxCodecEntry* entries = VxCodecEntries(&count);
    for (size_t i = 0; i < count; ++i)
        EXPECT_GT(compared[entries[i].code], 0) << entries[i].name << ": no fixture decoded";
}

// The probe asks a codec's Claims test before it creates the codec (which may
// load a module): the test must take every fixture the codec reads.
TEST(Claims, TakeEveryFileTheirCodecReads) {
    std::vector<int> checked(kVxFormatCount, 0);
    for (const auto& e : std::filesystem::recursive_directory_iterator(vt::DataPath(""))) {
        if (!e.is_regular_file()) continue;
        const std::string file = e.path().string();
        const ImageFormat named = vellumar::FormatFromExtension(file);
        const VxCodecOps* ops = VxFindCodec(named);
        if (!ops || !ops->claims) continue;
        VxImage img(0);
        img.SetEscape(-1);
        img.SetMaxPixels(0);
        if (!img.Load(file.c_str(), named)) continue;
        const std::vector<uint8_t> bytes = vt::ReadFileBytes(file);
        EXPECT_TRUE(ops->claims(bytes.data(), std::min<size_t>(bytes.size(), ops->claimsReach))) << file;
        ++checked[named];
    }
    size_t count = 0;
    const VxCodecEntry* entries = VxCodecEntries(&count);
    for (size_t i = 0; i < count; ++i)
        if (entries[i].ops.claims && entries[i].probed) {
            EXPECT_GT(checked[entries[i].code], 0) << entries[i].name << ": no fixture read";
        }
}

struct PieceCounter {
    int calls = 0, cancelAt = 0;  // 0: never
    std::atomic<int32_t> cancel{0};
};

void CountPiece(void* context) {
    auto* c = static_cast<PieceCounter*>(context);
    if (++c->calls == c->cancelAt) c->cancel = 1;
}

// Noise, so that the lossless file is several pieces long.
std::vector<uint8_t> NoiseFile(ImageFormat code) {
    VxImage pic(256, 256, 24, 0);
    uint32_t seed = 1;
    for (uint32_t y = 0; y < 256; ++y)
        for (uint32_t i = 0; i < 256 * 3; ++i) pic.GetBits(y)[i] = uint8_t((seed = seed * 1103515245u + 12345u) >> 24);
    pic.SetJpegQuality(100);
    return vt::EncodeBytes(pic, code);
}

// The decoders that hand their library a piece at a time (or read a tile at
// a time) see a cancel raised between pieces: the decode fails there, half
// way, and the probe does not run a decoder over the file again.
TEST(Cancel, LongDecodesStopBetweenPiecesAndAreNotProbedAgain) {
    vt::TempDir dir;
    ASSERT_TRUE(vt::WriteFileBytes(dir.file("noise.jxl"), NoiseFile(VX_FORMAT_JXL)));
    ASSERT_TRUE(vt::WriteFileBytes(dir.file("noise.webp"), NoiseFile(VX_FORMAT_WEBP)));
    const struct {
        std::string file;
        ImageFormat code;
        bool pages = false;  // a document's pages are its pieces
    } cases[] = {{dir.file("noise.jxl"), VX_FORMAT_JXL},
                 {dir.file("noise.webp"), VX_FORMAT_WEBP},
                 {vt::DataPath("jpeg2000/tiled.jp2"), VX_FORMAT_JP2},
                 {vt::DataPath("heif/two.heic"), VX_FORMAT_HEIF},
                 {vt::DataPath("pdf/pages.pdf"), VX_FORMAT_PDF, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        const auto load = [&](VxImage& img, PieceCounter& n) {
            img.SetPieceHook(CountPiece, &n);
            img.SetCancelRequest(&n.cancel);
            img.SetWantAnimation(c.pages);
            img.SetWantPages(c.pages);
            return img.Load(c.file.c_str(), c.code);
        };
        PieceCounter whole, cut;
        VxImage img(0), part(0);
        ASSERT_TRUE(load(img, whole)) << img.GetLastError();
        ASSERT_GE(whole.calls, 2);
        cut.cancelAt = (whole.calls + 1) / 2;
        EXPECT_FALSE(load(part, cut));
        EXPECT_FALSE(part.IsValid());
        EXPECT_NE(std::string(part.GetLastError()).find("cancel"), std::string::npos)
            << part.GetLastError();
        EXPECT_EQ(cut.calls, cut.cancelAt);
    }
}

}  // namespace
