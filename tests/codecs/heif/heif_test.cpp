// HEIC and AVIF: fixtures written by heif-enc and avifenc decode as
// heif-convert and avifdec decode them, files we write are read back by
// those tools, damaged files fail with a reason.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "codecs/heif/vx_heif_codec.h"
#include "core/vx_image.h"
#include "core/vx_srgb.h"
#include "tests/support/hostile_sweep.h"
#include "tests/support/reference_decoder.h"
#include "tests/support/test_support.h"

namespace {

using vt::Reference;

vt::Rgba Source() {
    // What the fixture script drew (tests/data/make_newer_fixtures.py: rgb()).
    vt::Rgba s{48, 32, std::vector<uint8_t>(48 * 32 * 4)};
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 48; ++x) {
            uint8_t* p = &s.px[(size_t(y) * 48 + x) * 4];
            p[0] = uint8_t(x * 5);
            p[1] = uint8_t(y * 8);
            p[2] = uint8_t(x * y * 3 + 40);
            p[3] = 255;
        }
    return s;
}

// The reference decoders share libheif (heif-convert) or convert YUV to RGB
// their own way (avifdec, libavif): lossy AVIF may differ by a rounding step.
// Deep samples are scaled by both sides; lossless files equal the source.
TEST(HeifDecode, AsTheReferenceDecodersDecodeThem) {
    const struct {
        const char* file;
        Reference tool;
        int frame;
        int tolerance;
        ImageFormat type;
        bool lossless;
    } cases[] = {
        {"lossy.heic", Reference::HeifConvert, 0, 0, VX_FORMAT_HEIF, false},
        {"alpha.heic", Reference::HeifConvert, 0, 0, VX_FORMAT_HEIF, false},
        // heif-enc's lossless mode still rounds on its way to YCbCr: not the source exactly.
        {"lossless.heic", Reference::HeifConvert, 0, 0, VX_FORMAT_HEIF, false},
        {"two.heic", Reference::HeifConvert, 0, 0, VX_FORMAT_HEIF, false},
        {"two.heic", Reference::HeifConvert, 1, 0, VX_FORMAT_HEIF, false},
        {"deep10.heic", Reference::HeifConvert, 0, 1, VX_FORMAT_HEIF, false},
        {"lossy.avif", Reference::Avifdec, 0, 2, VX_FORMAT_AVIF, false},
        {"alpha.avif", Reference::Avifdec, 0, 2, VX_FORMAT_AVIF, false},
        {"lossless.avif", Reference::Avifdec, 0, 0, VX_FORMAT_AVIF, true},
        {"deep10.avif", Reference::Avifdec, 0, 2, VX_FORMAT_AVIF, false},
        {"deep12.avif", Reference::Avifdec, 0, 2, VX_FORMAT_AVIF, false},
        {"turned.avif", Reference::HeifConvert, 0, 0, VX_FORMAT_AVIF, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.file) + " #" + std::to_string(c.frame));
        if (!vt::ReferenceAvailable(c.tool)) GTEST_SKIP() << "reference decoder absent";
        const std::string path = vt::DataPath(std::string("heif/") + c.file);
        EXPECT_LE(vt::DiffFromReference(path, c.type, c.tool, c.frame), c.tolerance);
        // Either code reads either kind; the picture's type is its content's.
        VxImage img(0);
        img.SetFrame(c.frame);
        ASSERT_TRUE(img.Load(path.c_str(), VX_FORMAT_HEIF)) << img.GetLastError();
        EXPECT_EQ(img.GetType(), c.type);
        EXPECT_EQ(img.GetNumFrames(), std::string(c.file) == "two.heic" ? 2 : 1);
        if (c.lossless) {
            EXPECT_EQ(vt::MaxChannelDiff(vt::ToRgba(img), Source()), 0);
        }
    }
}

// avifenc --irot 1 --imir 0: a quarter turn anticlockwise, then the rows
// upside down (mirrored about the horizontal axis).
TEST(HeifDecode, RotationAndMirroringApplied) {
    VxImage img(0);
    ASSERT_TRUE(img.Load(vt::DataPath("heif/turned.avif").c_str(), VX_FORMAT_AVIF));
    const vt::Rgba got = vt::ToRgba(img), src = Source();
    ASSERT_EQ(got.width, 32);
    ASSERT_EQ(got.height, 48);
    int worst = 0;
    for (int y = 0; y < 48; ++y)
        for (int x = 0; x < 32; ++x) {
            // Rotation: (x, y) shows source (47 - y', x) with y' the unmirrored row.
            const int ry = 47 - y;
            const uint8_t* s = src.at(47 - ry, x);
            for (int ch = 0; ch < 3; ++ch) worst = std::max(worst, std::abs(int(got.at(x, y)[ch]) - s[ch]));
        }
    EXPECT_EQ(worst, 0);
}

// Luma-only AVIF of either range and any depth reads back as the full-range
// ramp it was made from (tests/data/heif/make_grey_range.py); a file selecting
// one layer (a property renamed to make one) fails, the first operating point does not.
TEST(HeifDecode, GreyRangeAndSelectedLayers) {
    for (const char* name : {"grey8_limited", "grey10_limited", "grey12_limited", "grey8_full", "grey12_full"}) {
        VxImage img(0);
        ASSERT_TRUE(img.Load(vt::DataPath(std::string("heif/") + name + ".avif").c_str(), VX_FORMAT_AVIF));
        const vt::Rgba got = vt::ToRgba(img);
        for (int i = 0; i < got.width * got.height; ++i)
            ASSERT_LE(std::abs(got.px[size_t(i) * 4] - (i % 32 * 8 + i / 32 * 3) % 256), 2) << name << i;
    }
    auto bytes = vt::ReadFileBytes(vt::DataPath("heif/lossy.avif"));
    const auto at = std::search(bytes.begin(), bytes.end(), std::begin("pixi"), std::end("pixi") - 1);
    for (const char* box : {"lsel", "a1op"}) {
        std::copy(box, box + 4, at);
        VxImage img(0);
        EXPECT_EQ(vt::DecodeBytes(bytes, VX_FORMAT_AVIF, img), box[0] == 'a') << img.GetLastError();
    }
}

TEST(HeifDecode, EmbeddedProfileComesWithThePicture) {
    if (!vt::ReferenceAvailable(Reference::Pillow)) GTEST_SKIP() << "Pillow absent";
    VxImage img(0);
    ASSERT_TRUE(img.Load(vt::DataPath("heif/icc.avif").c_str(), VX_FORMAT_AVIF));
    // The picture keeps the profile; converted, it shows what a viewer shows.
    ASSERT_FALSE(img.GetIccProfile().empty());
    ASSERT_TRUE(vx::ConvertToSrgb(img));
    const auto expected = vt::DecodeWithReference(vt::DataPath("heif/icc_expected.png"));
    ASSERT_TRUE(expected);
    EXPECT_LE(vt::MaxChannelDiff(vt::ToRgba(img), *expected), 2);
}

TEST(HeifDecode, PictureOutOfRangeKeepsTheCount) {
    VxImage img(0);
    img.SetFrame(2);
    EXPECT_FALSE(img.Load(vt::DataPath("heif/two.heic").c_str(), VX_FORMAT_HEIF));
    EXPECT_EQ(img.GetNumFrames(), 2);
    EXPECT_NE(std::string(img.GetLastError()).find("HEIF"), std::string::npos);
}

// The container says 64 x 64, the HEVC or AV1 stream codes 1024 x 1024: the
// stream's size is what the decoder would allocate, and the limit sees it;
// the header-only answer gives it too.
TEST(HeifDecode, TheStreamsOwnSizeMeetsTheLimit) {
    for (const char* file : {"lying.heic", "lying.avif"}) {
        SCOPED_TRACE(file);
        const std::string path = vt::DataPath(std::string("heif/") + file);
        VxImage img(0);
        img.SetEscape(-1);
        ASSERT_TRUE(img.Load(path.c_str(), VX_FORMAT_HEIF));
        EXPECT_EQ(img.GetWidth(), 1024u);
        img.SetEscape(0);
        img.SetMaxPixels(100000);
        EXPECT_FALSE(img.Load(path.c_str(), VX_FORMAT_HEIF));
        EXPECT_NE(std::string(img.GetLastError()).find("1024 x 1024 pixels is above the limit of 100000"),
                  std::string::npos)
            << img.GetLastError();
        img.SetMaxPixels(0);
        EXPECT_TRUE(img.Load(path.c_str(), VX_FORMAT_HEIF)) << img.GetLastError();
    }
}

// A fuzzer's file: an identity picture of item 1 with a grid alpha of item 3.
// libheif aborts the process when a derived picture's input is no picture;
// such files fail with a reason, and a sound input still reaches the library.
TEST(HeifDecode, DerivedPictureOfANonPictureFails) {
    const std::vector<uint8_t> base = vt::ReadFileBytes(vt::DataPath("fuzz/avif/iden-of-unknown-item.bin"));
    ASSERT_EQ(base.size(), 1203u);
    const size_t typeOf[] = {0, 0xED, 0x102, 0x117, 0x12C};  // item id -> its infe type field
    struct Case {
        const char* item1;
        const char* item3;
        bool refused;
    } cases[] = {
        {"hvc0", "hvc1", true},   // as the fuzzer left it: an unknown codec
        {"mime", "hvc1", true},   // a metadata item
        {"hvc1", "Exif", true},   // the alpha grid's tile
        {"hvc1", "hvc1", false},  // both inputs pictures
    };
    const char* text = "a derived picture is made of an item that is not a picture";
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.item1) + "/" + c.item3);
        std::vector<uint8_t> bytes = base;
        std::copy_n(c.item1, 4, bytes.begin() + long(typeOf[1]));
        std::copy_n(c.item3, 4, bytes.begin() + long(typeOf[3]));
        VxImage img(0);
        const bool decoded = img.Decode(bytes.data(), uint32_t(bytes.size()), VX_FORMAT_AVIF);
        const std::string error = img.GetLastError();
        if (c.refused) {
            EXPECT_FALSE(decoded);
            EXPECT_NE(error.find(text), std::string::npos) << error;
        } else {
            EXPECT_EQ(error.find(text), std::string::npos) << error;
        }
    }
    // A later find: the same reference behind a 'dimg' header whose size is
    // damaged, which libheif ignores while reading the list.
    auto damaged = vt::ReadFileBytes(vt::DataPath("fuzz/avif/dimg-with-damaged-size.bin"));
    VxImage img(0);
    EXPECT_FALSE(img.Decode(damaged.data(), uint32_t(damaged.size()), VX_FORMAT_AVIF));
    EXPECT_NE(std::string(img.GetLastError()).find(text), std::string::npos) << img.GetLastError();
}

// Colour and alpha, read back by each format's reference decoder.
TEST(HeifEncode, ReferenceDecodersReadWhatWeWrite) {
    VxImage rgb = vt::MakeSmooth24(45, 37);
    VxImage alpha = vt::MakeSmooth24(45, 37);
    ASSERT_TRUE(alpha.AlphaCreate());
    for (int y = 0; y < 37; ++y)
        for (int x = 0; x < 45; ++x) alpha.AlphaSet(x, y, uint8_t(x < 10 ? 0 : 255));
    vt::TempDir dir;
    const struct {
        ImageFormat type;
        Reference tool;
        const char* ext;
    } targets[] = {{VX_FORMAT_HEIF, Reference::HeifConvert, ".heic"},
                   {VX_FORMAT_AVIF, Reference::Avifdec, ".avif"}};
    for (const auto& t : targets) {
        if (!VxHeifCodec::CanWrite(t.type)) {
            VxImage img = vt::MakeGradient24(8, 8);
            EXPECT_FALSE(img.Save(dir.file(std::string("x") + t.ext).c_str(), t.type));
            EXPECT_NE(std::string(img.GetLastError()).find("cannot be written"), std::string::npos);
            continue;
        }
        if (!vt::ReferenceAvailable(t.tool)) GTEST_SKIP() << "reference decoder absent";
        for (VxImage* img : {&rgb, &alpha}) {
            SCOPED_TRACE(t.ext);
            img->SetJpegQuality(90);
            const std::string path = dir.file(std::string("out") + t.ext);
            ASSERT_TRUE(img->Save(path.c_str(), t.type)) << img->GetLastError();
            const auto back = vt::DecodeWithReference(path, t.tool);
            ASSERT_TRUE(back);
            const vt::Rgba source = vt::ToRgba(*img);
            EXPECT_GT(vt::Psnr(source, *back), 30.0);
            for (size_t i = 3; i < source.px.size(); i += 4)
                ASSERT_NEAR(source.px[i], back->px[i], 8) << "alpha at " << i / 4;
            VxImage ours(0);
            ASSERT_TRUE(ours.Load(path.c_str(), VX_FORMAT_HEIF));
            EXPECT_EQ(ours.GetType(), t.type);
        }
    }
}

// The command line writes the same HEIC and AVIF bytes when the CPU topology
// is hidden (no /sys) or says one CPU, each in a mount namespace of its own.
TEST(HeifEncode, SameBytesWhateverTheCpuTopologySays) {
    if (!VxHeifCodec::CanWrite(VX_FORMAT_HEIF)) GTEST_SKIP() << "no HEVC encoder";
    vt::TempDir dir;
    const std::string one = dir.file("online");
    ASSERT_TRUE(vt::WriteFileBytes(one, {'0', '\n'}));
    const std::string ns = "unshare --mount --propagation private ";
    if (vt::RunCommand(ns + "mount -t tmpfs none /sys >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "no mount namespace here (needs root)";
    const struct {
        const char* name;
        std::string setup;
    } machines[] = {{"as it is", "true"},
                    {"without /sys", "mount -t tmpfs none /sys"},
                    {"one CPU", "mount --bind " + vt::ShellQuote(one) + " /sys/devices/system/cpu/online"}};
    for (const char* to : {"HEIC", "AVIF"}) {
        std::vector<uint8_t> first;
        for (const auto& m : machines) {
            SCOPED_TRACE(std::string(to) + ", " + m.name);
            const std::string out = dir.file(std::string(to) + "-" + m.name);
            const std::string run = vt::ShellQuote(VELLUMAR_CLI) + " --quiet --to " + to +
                                    " --out-dir " + vt::ShellQuote(out) + " " +
                                    vt::ShellQuote(vt::DataPath("../../samples/sunset.jpg"));
            const std::string inside = vt::ShellQuote(m.setup + " && " + run);
            ASSERT_EQ(vt::RunCommand(ns + "sh -c " + inside + " 2>/dev/null"), 0);
            const auto bytes = vt::ReadFileBytes(out + "/main1." + to);
            ASSERT_FALSE(bytes.empty());
            if (first.empty()) first = bytes;
            EXPECT_EQ(bytes, first);
        }
    }
}

TEST(HeifHostile, SweepOverEveryFixture) {
    vt::QuietSweepOverFixtures("heif", {".heic", ".avif"}, VX_FORMAT_HEIF, 14, 9, 120);
}

}  // namespace
