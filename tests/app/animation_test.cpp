#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <sstream>

#include "tests/support/reference_decoder.h"
#include "tests/support/test_support.h"

namespace {

// An animation as Pillow composes it (djxl first for JPEG XL).
struct Shown {
    int width = 0, height = 0;
    uint32_t plays = 0;
    std::vector<uint32_t> delays;
    std::vector<vt::Rgba> frames;
};

std::optional<Shown> ShownByReference(const std::string& path, const vt::TempDir& dir) {
    const std::string tool = std::string(VELLUMAR_TEST_SUPPORT_DIR) + "/animation_tool.py";
    const std::string cmd = "/usr/bin/python3 " + vt::ShellQuote(tool) + " " + vt::ShellQuote(path) +
                            " " + vt::ShellQuote(dir.path()) + " 2>/dev/null";
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(cmd.c_str(), "r"), pclose);
    if (!pipe) return std::nullopt;
    char line[4096] = {};
    if (!std::fgets(line, sizeof line, pipe.get())) return std::nullopt;
    std::istringstream in(line);
    Shown s;
    size_t count = 0;
    if (!(in >> s.width >> s.height >> count >> s.plays)) return std::nullopt;
    for (size_t i = 0; i < count; ++i) {
        uint32_t d = 0;
        in >> d;
        s.delays.push_back(d);
        std::ifstream raw(dir.file("frame" + std::to_string(i) + ".rgba"), std::ios::binary);
        vt::Rgba f{s.width, s.height, {std::istreambuf_iterator<char>(raw), {}}};
        // TIFF pages have sizes of their own (FrameDiff compares them).
        if (f.px.empty()) return std::nullopt;
        s.frames.push_back(std::move(f));
    }
    return s;
}

// Largest channel difference of `got` from `want`; pixels clear on both
// sides are equal whatever colour they carry. `onOff`: a target that keeps
// only on/off transparency, clear below half opacity.
int FrameDiff(const vt::Rgba& want, const vt::Rgba& got, bool onOff) {
    if (want.px.size() != got.px.size()) return 999;
    int most = 0;
    for (size_t i = 0; i < want.px.size(); i += 4) {
        uint8_t a = want.px[i + 3];
        if (onOff) a = a >= 128 ? 255 : 0;
        if (a == 0 && got.px[i + 3] == 0) continue;
        for (size_t c = 0; c < 3; ++c) most = std::max(most, std::abs(want.px[i + c] - got.px[i + c]));
        most = std::max(most, std::abs(a - got.px[i + 3]));
    }
    return most;
}

struct Case {
    const char* source;
    const char* to;
    const char* options;  // beyond --to and --quality 100
    int tolerance;        // largest channel difference from the source's frame
    int frame = -1;       // --frame N: that one frame only
};
const Case kCases[] = {
    {"gif/anim_local.gif", "GIF", "", 0},
    {"gif/anim_offsets.gif", "GIF", "", 0},
    {"gif/anim_clear.gif", "GIF", "", 0},
    {"gif/anim_local.gif", "GIF", "", 0, 2},
    // True colour, some of it half clear, into a palette of each frame's own.
    {"webp/anim.webp", "GIF", "--palette adaptive --dither floyd-steinberg", 0},
    {"webp/anim.webp", "GIF", "", 64},
    {"gif/anim_clear.gif", "WEBP", "", 0},
    {"gif/anim_offsets.gif", "WEBP", "", 0},
    {"webp/anim.webp", "WEBP", "", 0},
    {"webp/anim_lossy.webp", "WEBP", "", 0},
    {"png/anim.png", "PNG", "", 0},
    {"png/anim.png", "WEBP", "", 0},
    {"png/anim.png", "PNG", "", 0, 3},
    {"gif/anim_clear.gif", "PNG", "", 0},
    {"webp/anim.webp", "PNG", "", 0},
    {"jxl/anim.jxl", "JXL", "", 0},
    {"jxl/anim.jxl", "GIF", "--palette adaptive", 0},
    {"gif/anim_clear.gif", "JXL", "", 0},
    {"png/anim.png", "JXL", "", 0},
    // Pages each at its own size, frames as pages; --strict fails a row that notes a loss.
    {"tiff/pages3.tif", "TIF", "--strict", 0},
    {"tiff/pages3.tif", "TIF", "--strict", 0, 1},
    {"gif/anim_offsets.gif", "TIF", "--strict", 0},
    {"webp/anim.webp", "TIF", "--strict", 0},
};

TEST(Animation, EveryFrameItsDelayAndThePlayCountReachAnimatedTargets) {
    if (!vt::ReferenceAvailable(vt::Reference::Pillow)) GTEST_SKIP() << "Pillow is not installed";
    for (const Case& c : kCases) {
        const std::string label = std::string(c.source) + " -> " + c.to + " " + c.options +
                                  (c.frame >= 0 ? " --frame " + std::to_string(c.frame) : "");
        vt::TempDir out, fromDir, toDir;
        const bool onOff = std::string(c.to) == "GIF";
        const std::string cmd = vt::ShellQuote(VELLUMAR_CLI) + " --quiet --to " + c.to +
                                " --quality 100 " + c.options +
                                (c.frame >= 0 ? " --frame " + std::to_string(c.frame) : "") +
                                " --out-dir " + vt::ShellQuote(out.path()) + " " +
                                vt::ShellQuote(vt::DataPath(c.source));
        ASSERT_EQ(vt::RunCommand(cmd), 0) << label;
        const auto from = ShownByReference(vt::DataPath(c.source), fromDir);
        const auto to = ShownByReference(out.file(std::string("main1.") + c.to), toDir);
        ASSERT_TRUE(from && to) << label;
        ASSERT_GT(from->frames.size(), 1u) << label;
        if (c.frame >= 0) {
            ASSERT_EQ(to->frames.size(), 1u) << label;
            EXPECT_LE(FrameDiff(from->frames[size_t(c.frame)], to->frames[0], onOff), c.tolerance)
                << label;
            continue;
        }
        if (std::string(c.to) != "TIF") {  // TIFF keeps no delays
            EXPECT_EQ(to->plays, from->plays) << label;
            EXPECT_EQ(to->delays, from->delays) << label;
        }
        ASSERT_EQ(to->frames.size(), from->frames.size()) << label;
        for (size_t i = 0; i < from->frames.size(); ++i)
            EXPECT_LE(FrameDiff(from->frames[i], to->frames[i], onOff), c.tolerance)
                << label << " #" << i;
    }
}

// Its pages hold 1200, 480 and 1200 pixels: each passes a limit of 2000, all
// three together do not.
TEST(Animation, TiffPagesKeptTogetherPassThePictureLimitTogether) {
    for (const auto& [frame, fits] : {std::pair{"", false}, {" --frame 0", true}}) {
        vt::TempDir out;
        const std::string cmd = vt::ShellQuote(VELLUMAR_CLI) + " --quiet --to TIF --max-pixels 2000" +
                                frame + " --out-dir " + vt::ShellQuote(out.path()) + " " +
                                vt::ShellQuote(vt::DataPath("tiff/pages3.tif")) + " 2>/dev/null";
        EXPECT_EQ(vt::RunCommand(cmd) == 0, fits) << frame;
    }
}

// Every page is found from the file's start: past the cap a file converts
// its chosen page alone, saying so, instead of taking time that grows with
// the square of its pages.
TEST(Animation, TooManyTiffPagesConvertTheChosenPageAlone) {
    vt::TempDir dir;
    const std::string one = dir.file("one.tif"), many = dir.file("many.tif");
    ASSERT_EQ(vt::RunCommand("convert -size 1x1 xc:gray " + vt::ShellQuote(one) + " && tiffcp $(yes " +
                             vt::ShellQuote(one) + " | head -1025) " + vt::ShellQuote(many)), 0);
    const std::string cmd = vt::ShellQuote(VELLUMAR_CLI) + " --to TIF --out-dir " +
                            vt::ShellQuote(dir.path()) + " " + vt::ShellQuote(many) + " 2>&1";
    EXPECT_EQ(vt::RunCommand(cmd + " | grep -q 'kept page 1 of 1025: no more than 1024 pages'"), 0);
    EXPECT_EQ(vt::RunCommand("test $(tiffinfo " + vt::ShellQuote(dir.file("main1.TIF")) +
                             " 2>/dev/null | grep -c 'TIFF Directory') -eq 1"), 0);
}

}  // namespace
