// Agreement with independent decoders in both directions, the hostile sweep
// over the fixtures, and the command line.
#include <gtest/gtest.h>

#include "tests/codecs/gif/gif_test_util.h"
#include "tests/support/hostile_sweep.h"
#include "tests/support/reference_decoder.h"
#include "tests/support/test_support.h"

namespace {

using gt::Bytes;
using vt::Reference;

bool LoadFixture(const std::string& name, VxImage& img, int frame = 0) {
    img.SetFrame(frame);
    return img.Load(vt::DataPath("gif/" + name).c_str(), VX_FORMAT_GIF);
}

// Equal colours wherever the reference is opaque; where it is transparent our
// pixel must carry the transparent index.
void ExpectSamePicture(const VxImage& ours, const vt::Rgba& ref, const std::string& what) {
    const vt::Rgba px = vt::ToRgba(ours);
    ASSERT_EQ(px.width, ref.width) << what;
    ASSERT_EQ(px.height, ref.height) << what;
    int bad = 0;
    for (int y = 0; y < ref.height; ++y)
        for (int x = 0; x < ref.width; ++x) {
            const uint8_t* r = ref.at(x, y);
            const uint8_t* o = px.at(x, y);
            if (r[3] == 0) {
                if (ours.GetBpp() <= 8 &&
                    ours.GetPixelIndex(x, int(ours.GetHeight()) - 1 - y) != ours.GetTransIndex())
                    ++bad;
                continue;
            }
            if (r[0] != o[0] || r[1] != o[1] || r[2] != o[2]) ++bad;
        }
    EXPECT_EQ(bad, 0) << what << ": pixels differing from the reference";
}

struct Still {
    const char* name;
    int bpp;
};

TEST(GifInterop, StillFixturesMatchTwoIndependentDecoders) {
    if (!vt::ReferenceAvailable(Reference::Pillow) || !vt::ReferenceAvailable(Reference::ImageMagick))
        GTEST_SKIP() << "reference decoders missing";
    const Still stills[] = {{"two_colors.gif", 1},  {"colors16.gif", 4}, {"colors256.gif", 8},
                            {"interlaced.gif", 8},  {"transparent.gif", 4}, {"comment.gif", 4}};
    for (const Still& s : stills) {
        VxImage img;
        ASSERT_TRUE(LoadFixture(s.name, img)) << s.name << ": " << img.GetLastError();
        EXPECT_EQ(img.GetBpp(), s.bpp) << s.name;
        EXPECT_EQ(img.GetNumFrames(), 1) << s.name;
        for (Reference tool : {Reference::Pillow, Reference::ImageMagick}) {
            const auto ref = vt::DecodeWithReference(vt::DataPath(std::string("gif/") + s.name), tool);
            ASSERT_TRUE(ref.has_value()) << s.name;
            ExpectSamePicture(img, *ref, std::string(s.name) + (tool == Reference::Pillow ? " pil" : " magick"));
        }
    }
    VxImage t;
    ASSERT_TRUE(LoadFixture("transparent.gif", t));
    EXPECT_EQ(t.GetTransIndex(), 3);

    VxImageGIF codec;
    VxIOFile f;
    ASSERT_TRUE(f.Open(vt::DataPath("gif/comment.gif").c_str(), "rb"));
    ASSERT_TRUE(codec.Decode(&f));
    char text[256];
    codec.GetComment(text);
    EXPECT_STREQ(text, "made for vellumar tests");
}

TEST(GifInterop, AnimatedFixturesMatchPillowFrameByFrame) {
    if (!vt::ReferenceAvailable(Reference::Pillow)) GTEST_SKIP() << "Pillow missing";
    struct Anim {
        const char* name;
        int frames;
    };
    for (const Anim& a : {Anim{"anim_local.gif", 4}, Anim{"anim_offsets.gif", 4}}) {
        for (int frame = 0; frame < a.frames; ++frame) {
            VxImage img;
            ASSERT_TRUE(LoadFixture(a.name, img, frame)) << a.name << " " << frame;
            EXPECT_EQ(img.GetNumFrames(), a.frames);
            const auto ref =
                vt::DecodeWithReference(vt::DataPath(std::string("gif/") + a.name), Reference::Pillow, frame);
            ASSERT_TRUE(ref.has_value()) << a.name << " frame " << frame;
            ExpectSamePicture(img, *ref, std::string(a.name) + " frame " + std::to_string(frame));
        }
    }
    VxImageGIF codec;
    VxIOFile f;
    ASSERT_TRUE(f.Open(vt::DataPath("gif/anim_local.gif").c_str(), "rb"));
    ASSERT_TRUE(codec.Decode(&f));
    EXPECT_EQ(codec.GetLoops(), 3);
    EXPECT_EQ(codec.GetFrameDelay(), 7u);
}

TEST(GifInterop, DamagedFirstFrameStillYieldsTheSecond) {
    if (!vt::ReferenceAvailable(Reference::Pillow)) GTEST_SKIP() << "Pillow missing";
    VxImage first;
    ASSERT_TRUE(LoadFixture("damaged.gif", first, 0)) << first.GetLastError();
    EXPECT_EQ(first.GetNumFrames(), 2);
    VxImage second;
    ASSERT_TRUE(LoadFixture("damaged.gif", second, 1)) << second.GetLastError();
    const auto ref = vt::DecodeWithReference(vt::DataPath("gif/damaged_source.gif"), Reference::Pillow, 1);
    ASSERT_TRUE(ref.has_value());
    ExpectSamePicture(second, *ref, "damaged frame 1");
}

TEST(GifInterop, EveryWrittenFileReadsBackInPillow) {
    if (!vt::ReferenceAvailable(Reference::Pillow)) GTEST_SKIP() << "Pillow missing";
    vt::TempDir dir;
    for (int bpp : {1, 4, 8}) {
        for (int coder : {0, 1, 2}) {
            VxImage img = gt::MakeIndexed(61, 37, bpp, coder);
            img.SetCodecOption(uint32_t(coder), VX_FORMAT_GIF);
            const std::string name = "c" + std::to_string(coder) + "_" + std::to_string(bpp) + ".gif";
            const std::string path = dir.file(name);
            ASSERT_TRUE(img.Save(path.c_str(), VX_FORMAT_GIF)) << img.GetLastError();
            const auto ref = vt::DecodeWithReference(path, Reference::Pillow);
            ASSERT_TRUE(ref.has_value()) << name;
            EXPECT_EQ(vt::MaxChannelDiff(vt::ToRgba(img), *ref, false), 0) << name;
            const auto magick = vt::DecodeWithReference(path, Reference::ImageMagick);
            ASSERT_TRUE(magick.has_value()) << name;
            EXPECT_EQ(vt::MaxChannelDiff(vt::ToRgba(img), *magick, false), 0) << name;
        }
    }
    // Long runs and a big table: the run-length and LZW coders across clears.
    VxImage runs(300, 200, 8, 0);
    for (int i = 0; i < 256; ++i) runs.SetPaletteColor(uint8_t(i), uint8_t(i), uint8_t(255 - i), uint8_t(i * 3));
    for (int y = 0; y < 200; ++y)
        for (int x = 0; x < 300; ++x) runs.SetPixelIndex(x, y, uint8_t(y < 100 ? (x / 40 + y / 10) : (x * y) & 255));
    for (int coder : {0, 1, 2}) {
        runs.SetCodecOption(uint32_t(coder), VX_FORMAT_GIF);
        const std::string path = dir.file("runs" + std::to_string(coder) + ".gif");
        ASSERT_TRUE(runs.Save(path.c_str(), VX_FORMAT_GIF));
        const auto ref = vt::DecodeWithReference(path, Reference::Pillow);
        ASSERT_TRUE(ref.has_value());
        EXPECT_EQ(vt::MaxChannelDiff(vt::ToRgba(runs), *ref, false), 0) << "coder " << coder;
    }

    // The tiler: every tile is a frame without disposal, so the last frame is the whole picture.
    VxImage rgb = vt::MakeGradient24(40, 33);
    const std::string tiled = dir.file("tiled.gif");
    ASSERT_TRUE(rgb.Save(tiled.c_str(), VX_FORMAT_GIF));
    const auto whole = vt::DecodeWithReference(tiled, Reference::Pillow, 3 * 3 - 1);
    ASSERT_TRUE(whole.has_value());
    EXPECT_EQ(vt::MaxChannelDiff(vt::ToRgba(rgb), *whole, false), 0);

    // An animation: each frame as Pillow composes it.
    VxImage a = gt::MakeIndexed(20, 14, 8, 1), b = gt::MakeIndexed(20, 14, 8, 5),
            c = gt::MakeIndexed(20, 14, 4, 9);
    b.SetPalette(a.GetPalette(), 256);
    VxImage* pages[3] = {&a, &b, &c};
    VxIOFile out;
    const std::string anim = dir.file("anim.gif");
    ASSERT_TRUE(out.Open(anim.c_str(), "wb"));
    ASSERT_TRUE(a.Encode(&out, pages, 3, VX_FORMAT_GIF));
    out.Close();
    for (int f = 0; f < 3; ++f) {
        const auto ref = vt::DecodeWithReference(anim, Reference::Pillow, f);
        ASSERT_TRUE(ref.has_value());
        EXPECT_EQ(vt::MaxChannelDiff(vt::ToRgba(*pages[f]), *ref, false), 0) << "frame " << f;
    }
}

TEST(GifInterop, HostileSweepOverFixtures) {
    const auto files = vt::FixtureFiles("gif", {".gif"});
    ASSERT_GE(files.size(), 9u);
    int successes = 0;
    for (const std::string& path : files) {
        const vt::SweepStats stats = vt::HostileSweep(vt::ReadFileBytes(path), VX_FORMAT_GIF);
        EXPECT_GT(stats.decodes, 0) << path;
        successes += stats.successes;
    }
    EXPECT_GT(successes, 0);
}

TEST(GifInterop, CommandLineGivesTheStandardPalettePicture) {
    vt::TempDir dir;
    VxImage photo = vt::MakeGradient24(97, 61);
    const std::string src = dir.file("photo.bmp");
    ASSERT_TRUE(photo.Save(src.c_str(), VX_FORMAT_BMP));
    const std::string cmd = std::string(VELLUMAR_CLI) + " --quiet --to GIF --out-dir " +
                            vt::ShellQuote(dir.path()) + " --prefix out " + vt::ShellQuote(src);
    ASSERT_EQ(vt::RunCommand(cmd), 0);
    VxImage gif;
    ASSERT_TRUE(gif.Load(dir.file("out1.GIF").c_str(), VX_FORMAT_GIF)) << gif.GetLastError();
    VxImage expect = photo;
    ASSERT_TRUE(expect.DecreaseBpp(8, false));
    EXPECT_EQ(gif.GetBpp(), 8);
    EXPECT_EQ(vt::MaxChannelDiff(vt::ToRgba(gif), vt::ToRgba(expect), false), 0);
    if (vt::ReferenceAvailable(Reference::Pillow)) {
        const auto ref = vt::DecodeWithReference(dir.file("out1.GIF"), Reference::Pillow);
        ASSERT_TRUE(ref.has_value());
        EXPECT_EQ(vt::MaxChannelDiff(vt::ToRgba(expect), *ref, false), 0);
    }
}

}  // namespace
