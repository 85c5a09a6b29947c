// Hostile input: cut and mutated fixtures, and records built to make the player
// read outside the file, loop or allocate without bound.
#include <gtest/gtest.h>

#include "codecs/metafile/mf_canvas.h"
#include "codecs/metafile/mf_play.h"
#include "core/vx_image.h"
#include "tests/codecs/metafile/mf_test_builder.h"
#include "tests/support/hostile_sweep.h"
#include "tests/support/test_support.h"

namespace {

using mft::Bytes;

TEST(MetafileHostile, SweepEveryFixture) {
    const auto files = vt::FixtureFiles("metafile", {".wmf", ".emf"});
    ASSERT_GE(files.size(), 5u);
    for (const std::string& path : files) {
        SCOPED_TRACE(path);
        const Bytes bytes = vt::ReadFileBytes(path);
        const vt::SweepStats stats = vt::HostileSweep(bytes, VX_FORMAT_WMF, 7, 300);
        EXPECT_GT(stats.successes, 0);
    }
}

bool Decodes(const Bytes& bytes) {
    VxImage img;
    Bytes copy = bytes;
    return img.Decode(copy.data(), uint32_t(copy.size()), VX_FORMAT_WMF);
}

// The player's work on an EMF, in output pixels touched, and its budget.
struct Work {
    double spent, budget;
};
Work PlayEmfWork(const Bytes& emf, int width, int height) {
    vx::mf::Canvas canvas;
    EXPECT_TRUE(canvas.Init(width, height, 0xFFFFFF));
    {
        vx::mf::Player player(canvas);
        vx::mf::PlayEmf(player, emf.data(), emf.size(), width, height);
    }
    return {canvas.Spent(), canvas.Budget()};
}

TEST(MetafileHostile, ManyFullPictureFillsEndWithinTheBudget) {
    // 4000 x 4000 and thousands of records each painting all of it.
    mft::Emf e;
    e.Brush(1, 0, 0x0000FF).Select(1);
    for (int i = 0; i < 20000; ++i) e.Rectangle(-100, -100, 5000, 5000);
    const Bytes emf = e.Build(0, 0, 4000, 4000);
    EXPECT_TRUE(Decodes(emf));
    // The budget stops the fills: at most one fill's pixels past it, where
    // drawing them all would touch 20000 pictures' worth.
    const Work w = PlayEmfWork(emf, 4000, 4000);
    EXPECT_GT(w.spent, w.budget);
    EXPECT_LE(w.spent, w.budget + 4000.0 * 4000.0 * 2);
}

TEST(MetafileHostile, HugeCoordinatesCountsAndFonts) {
    mft::Emf e;
    e.Pen(1, 1, 100000000, 0).Select(1);  // dashed and absurdly wide
    e.Points(4, {{-2000000000, -2000000000}, {2000000000, 2000000000}});
    e.Rec(3, {0, 0, -1, -1, 0x7FFFFFFF, 1, 2});  // polygon count far beyond the record
    e.Rec(8, {0, 0, -1, -1, 0x40000000, 4, 4});   // poly-polygon count far beyond the record
    e.Font(2, -2000000000, u"x").Select(2).TextW(0, 0, u"WW");
    e.Rec(44, {0, 0, 100, 100, 2000000000, 2000000000});
    Bytes xf;
    for (float f : {1e30f, 0.0f, 0.0f, 1e30f, 0.0f, 0.0f}) mft::PutF(xf, f);
    mft::Put32(xf, 4);
    e.Rec(36, {}, xf);
    e.Ellipse(0, 0, 50, 50);
    for (int i = 0; i < 3000; ++i) e.Rec(33, {});  // SaveDC far deeper than any drawing needs
    e.Rec(34, {-2000000000});
    e.Rec(34, {2000000000});
    EXPECT_TRUE(Decodes(e.Build(0, 0, 200, 200)));
}

// Every text record under a face name of its own: each asks fontconfig for a
// font, and the look-ups are charged until the budget ends them.
TEST(MetafileHostile, FontLookUpsEndWithinTheBudget) {
    mft::Emf e;
    const int records = 5000;
    for (int i = 0; i < records; ++i) {
        const std::string name = "NoSuchFace" + std::to_string(i);
        e.Font(1, -8, std::u16string(name.begin(), name.end())).Select(1).TextW(0, 0, u"x");
    }
    const Bytes emf = e.Build(0, 0, 200, 200);
    vx::mf::Canvas canvas;
    ASSERT_TRUE(canvas.Init(200, 200, 0xFFFFFF));
    vx::mf::Player player(canvas);
    vx::mf::PlayEmf(player, emf.data(), emf.size(), 200, 200);
    EXPECT_TRUE(canvas.Exhausted());
    EXPECT_GT(player.FontLookups(), 100u);  // a legitimate document's fonts all fit
    EXPECT_LE(player.FontLookups(), 1025u);
}

TEST(MetafileHostile, BitmapsThatLieAboutTheirSize) {
    // A DIB header claiming 30000 x 30000 pixels in a few bytes.
    Bytes dib = mft::Dib24(2, 2, {0, 0, 0, 0});
    dib[4] = 0x30, dib[5] = 0x75, dib[8] = 0x30, dib[9] = 0x75;
    mft::Emf e;
    e.StretchDIBits(0, 0, 50, 50, 0, 0, 30000, 30000, dib);
    Bytes rle = mft::Dib24(2, 2, {0, 0, 0, 0});
    rle[14] = 8, rle[16] = 1;  // 8-bit RLE without a colour table
    e.StretchDIBits(0, 0, 50, 50, 0, 0, 2, 2, rle);
    mft::Wmf w;
    w.Rec(0x0F43, {0x0020, 0x00CC, 0, 2, 2, 0, 0, 40, 60, 20, 30}, Bytes(dib.begin(), dib.begin() + 30));
    EXPECT_TRUE(Decodes(e.Build(0, 0, 60, 60)));
    EXPECT_TRUE(Decodes(w.Build(0, 0, 60, 60, 96)));
}

TEST(MetafileHostile, RegionsAndPathsThatRunLong) {
    mft::Emf e;
    // A clip region whose rectangle count exceeds its data.
    e.Rec(75, {64, 5, 32, 1, 100000, 0, 0, 0, 10, 10});
    e.Rec(59, {});
    for (int i = 0; i < 2000; ++i) e.Points(6, {{0, 0}, {100, 100}, {0, 100}});
    e.Rec(60, {}).Rec(67, {1}).Rec(62, {0, 0, -1, -1});
    EXPECT_TRUE(Decodes(e.Build(0, 0, 100, 100)));

    mft::Wmf w;
    // CREATEREGION whose scan counts run past the record.
    w.Rec(0x06FF, {0, 6, 0, 0, 100, 5000, 10, 0, 0, 10, 10, 60000, 0, 5});
    w.Rec(0x012C, {0});
    w.Rectangle(0, 0, 50, 50);
    EXPECT_TRUE(Decodes(w.Build(0, 0, 60, 60, 96)));
}

TEST(MetafileHostile, ComplexClipReappliedOverAndOver) {
    // A clip path of many points, then thousands of clip changes each followed by a draw.
    mft::Emf e;
    e.Rec(59, {});
    Bytes tail;
    for (int v : {0, 0, -1, -1, 20000}) mft::Put32(tail, uint32_t(v));
    for (int i = 0; i < 20000; ++i) {
        mft::Put32(tail, uint32_t(i % 2 ? 990 : 10));
        mft::Put32(tail, uint32_t(i / 20));
    }
    e.Rec(4, {}, tail).Rec(60, {}).Rec(67, {5});
    e.Brush(1, 0, 0x00FF00).Select(1);
    for (int i = 0; i < 20000; ++i) {
        e.Rec(33, {}).Rec(30, {i % 500, 0, 1000, 1000}).Rectangle(500, 500, 502, 502).Rec(34, {-1});
    }
    const Bytes emf = e.Build(0, 0, 1000, 1000);
    EXPECT_TRUE(Decodes(emf));
    // Each clip change is charged: the work stays within the budget and one
    // picture's worth past it.
    const Work w = PlayEmfWork(emf, 1000, 1000);
    EXPECT_LE(w.spent, w.budget + 1000.0 * 1000.0);
}

}  // namespace
