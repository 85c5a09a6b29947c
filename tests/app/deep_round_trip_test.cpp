// Deep samples end to end, each side read by independent decoders: targets
// that store them keep every sample; 8-bit ones round and say so.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <tuple>
#include <utility>

#include "app/batch/batch_engine.h"
#include "core/vx_codec.h"
#include "core/vx_deep.h"
#include "core/vx_orientation.h"
#include "tests/support/reference_decoder.h"
#include "tests/support/test_support.h"

namespace {

const char* const kKinds[] = {"grey16", "ga16", "rgb16", "rgba16"};
constexpr int kAll = 15, kGrey = 1, kOpaque = 5;  // bits: kKinds taken as they are

struct DeepTarget {
    ImageFormat format;
    const char* ext;     // what the reader knows the file by
    const char* reader;  // reference_deep.py's tool
    int kinds;
};

const DeepTarget kDeepTargets[] = {
    {VX_FORMAT_PNG, "png", "png", kAll},  {VX_FORMAT_TIF, "tif", "tiff", kAll},
    {VX_FORMAT_PNM, "pnm", "pnm", kOpaque}, {VX_FORMAT_PGX, "pgx", "pgx", kGrey},
    {VX_FORMAT_JP2, "jp2", "opj", kAll},  {VX_FORMAT_JPC, "j2k", "opj", kAll},
    {VX_FORMAT_JXL, "jxl", "djxl", kAll},
};

vt::Rgba16 Source(const std::string& kind, const char* ext) {
    const auto ref = vt::DecodeDeepWithReference(vt::DataPath("deep/" + kind + "." + ext),
                                                 std::string(ext) == "tif" ? "tiff" : "png");
    EXPECT_TRUE(ref.has_value());
    return ref.value_or(vt::Rgba16{});
}

vellumar::batch::RowResult Convert(const std::string& source, ImageFormat to, const std::string& out,
                                   const vellumar::batch::PictureSteps& steps = {}) {
    ImageHandle h = nullptr;
    ImageFacade::SetJpegQuality(&h, 100);  // lossless where the target has a choice
    vellumar::batch::RowResult r;
    if (vellumar::batch::DecodeAndFit(&h, source, to, r, {}, steps) &&
        !ImageFacade::EncodeToFile(&h, out.c_str(), int32_t(to)))
        r.outcome = vellumar::batch::RowOutcome::EncodeFailed;
    ImageFacade::Free(&h);
    return r;
}

TEST(DeepRoundTrip, EveryDeepTargetKeepsEverySample) {
    vt::TempDir dir;
    for (const DeepTarget& t : kDeepTargets)
        for (int k = 0; k < 4; ++k)
            for (const char* ext : {"png", "tif"}) {
                const std::string kind = kKinds[k], source = vt::DataPath("deep/" + kind + "." + ext);
                if (!(t.kinds >> k & 1)) continue;
                SCOPED_TRACE(source + " > " + t.ext);
                const std::string out = dir.file(kind + ext + "." + t.ext);
                const auto r = Convert(source, t.format, out);
                ASSERT_EQ(r.outcome, vellumar::batch::RowOutcome::Done) << r.error;
                EXPECT_TRUE(r.notes.empty());
                const auto back = vt::DecodeDeepWithReference(out, t.reader);
                ASSERT_TRUE(back.has_value());
                const vt::Rgba16 want = Source(kind, ext);
                EXPECT_EQ(back->px, want.px);
                // Vellumar's own reader of the target keeps them too.
                ASSERT_EQ(Convert(out, VX_FORMAT_PNG, out + ".png").outcome,
                          vellumar::batch::RowOutcome::Done);
                EXPECT_EQ(vt::DecodeDeepWithReference(out + ".png", "png").value_or(vt::Rgba16{}).px, want.px);
            }
}

// Cut to 8 bits, samples are rounded; a row says so unless --depth 8 asked.
TEST(DeepRoundTrip, EightBitsAreRoundedAndSaidUnlessAsked) {
    vt::TempDir dir;
    const vt::Rgba16 deep = Source("rgba16", "png");
    vellumar::batch::PictureSteps asked;
    asked.depth = 8;
    for (const auto& [to, steps, note] : {std::tuple{VX_FORMAT_TGA, vellumar::batch::PictureSteps{}, true},
                                          {VX_FORMAT_PNG, asked, false}}) {
        const std::string out = dir.file(std::string("a.") + VxFormatName(to));
        const auto r = Convert(vt::DataPath("deep/rgba16.png"), to, out, steps);
        EXPECT_EQ(r.notes, note ? std::vector<std::string>{"kept 8 of 16 bits a sample: TGA stores no more"}
                                : std::vector<std::string>{});
        VxImage back(0);
        ASSERT_TRUE(back.Load(out.c_str(), to));
        const vt::Rgba got = vt::ToRgba(back);
        ASSERT_EQ(got.px.size(), deep.px.size());
        for (size_t i = 0; i < got.px.size(); ++i) ASSERT_EQ(got.px[i], (deep.px[i] * 255 + 32767) / 65535) << i;
    }
    asked.depth = 16;
    ASSERT_EQ(Convert(vt::DataPath("png/rgba8.png"), VX_FORMAT_PNG, dir.file("16.png"), asked).outcome,
              vellumar::batch::RowOutcome::Done);
    EXPECT_EQ(vt::ReadFileBytes(dir.file("16.png")).at(24), 16);  // IHDR bit depth
}

// Every turn moves the deep samples as it moves the 8-bit block.
TEST(DeepRoundTrip, OrientationsTurnTheSamplesWithTheBlock) {
    VxImage img(0);
    ASSERT_TRUE(img.Load(vt::DataPath("deep/rgba16.png").c_str(), VX_FORMAT_PNG));
    for (int32_t o = 2; o <= 8; ++o) {
        SCOPED_TRACE(o);
        VxImage turned(img);
        ASSERT_TRUE(vx::ApplyOrientation(turned, o));
        ASSERT_TRUE(turned.GetDeep());
        VxImage fromDeep(0);
        ASSERT_TRUE(vx::SetDeepPicture(fromDeep, turned.GetDeep(), VX_FORMAT_PNG));
        EXPECT_EQ(vt::ToRgba(fromDeep).px, vt::ToRgba(turned).px);
    }
}

// HEIC and AVIF are lossy: their 10 or 12 bits come back near the source.
TEST(DeepRoundTrip, HeifTargetsKeepMoreThanEightBits) {
    vt::TempDir dir;
    const vt::Rgba16 deep = Source("grey16", "png");
    for (const auto& [format, reader] : {std::pair{VX_FORMAT_HEIF, "heif"}, {VX_FORMAT_AVIF, "avifdec"}}) {
        SCOPED_TRACE(reader);
        const std::string out = dir.file(std::string("a.") + (format == VX_FORMAT_AVIF ? "avif" : "heic"));
        const auto r = Convert(vt::DataPath("deep/grey16.png"), format, out);
        ASSERT_EQ(r.outcome, vellumar::batch::RowOutcome::Done) << r.error;
        EXPECT_EQ(r.notes, std::vector<std::string>{"kept 12 of 16 bits a sample: " +
                                                    std::string(VxFormatName(format)) + " stores no more"});
        const auto back = vt::DecodeDeepWithReference(out, reader);
        ASSERT_TRUE(back.has_value());
        ASSERT_EQ(back->px.size(), deep.px.size());
        int worst = 0;
        for (size_t i = 0; i < deep.px.size(); ++i) worst = std::max(worst, std::abs(back->px[i] - deep.px[i]));
        EXPECT_LT(worst, 8192);
        EXPECT_TRUE(std::any_of(back->px.begin(), back->px.end(), [](uint16_t v) { return v % 257; }));
    }
}

// 10-bit sources (phone HEIC/AVIF, PNM maxval 1023) into both: the AV1
// coder here aborted on 10-bit input.
TEST(DeepRoundTrip, TenBitSourcesIntoHeifTargets) {
    vt::TempDir dir;
    std::string ppm = "P6\n16 16\n1023\n";
    for (int i = 0; i < 16 * 16 * 3; ++i) {
        const int v = (i * 37) % 1024;
        ppm += char(v >> 8);
        ppm += char(v & 0xFF);
    }
    const std::string src = dir.file("ten.ppm");
    ASSERT_TRUE(vt::WriteFileBytes(src, std::vector<uint8_t>(ppm.begin(), ppm.end())));
    for (const ImageFormat format : {VX_FORMAT_HEIF, VX_FORMAT_AVIF}) {
        const auto r = Convert(src, format, dir.file("ten" + std::to_string(format)));
        EXPECT_EQ(r.outcome, vellumar::batch::RowOutcome::Done) << r.error;
    }
}

// Resized, a picture stays deep (an 8-bit step leaves multiples of 257).
TEST(DeepRoundTrip, ResizeKeepsSixteenBits) {
    vt::TempDir dir;
    vellumar::batch::PictureSteps steps;
    ASSERT_TRUE(vx::ParseResizeRequest("7x", steps.resize));
    const auto r = Convert(vt::DataPath("deep/rgba16.png"), VX_FORMAT_PNG, dir.file("s.PNG"), steps);
    ASSERT_EQ(r.outcome, vellumar::batch::RowOutcome::Done) << r.error;
    const auto back = vt::DecodeDeepWithReference(dir.file("s.PNG"), "png");
    ASSERT_TRUE(back.has_value());
    EXPECT_EQ(back->width, 7);
    EXPECT_TRUE(std::any_of(back->px.begin(), back->px.end(), [](uint16_t v) { return v % 257; }));
}

}  // namespace
