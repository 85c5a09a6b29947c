// What the player draws: shapes at their places in their colours, text, bitmaps.
#include <cairo-ft.h>
#include <fontconfig/fontconfig.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <functional>

#include "core/vx_image.h"
#include "tests/codecs/metafile/mf_test_builder.h"
#include "tests/support/test_support.h"

namespace {

using mft::Bytes;
using mft::Rgb;

constexpr uint32_t kWhite = 0xFFFFFF, kBlack = 0, kRed = 0x0000FF, kGreen = 0x00A000,
                   kBlue = 0xFF0000, kYellow = 0x00C8FF;

vt::Rgba Render(Bytes bytes) {
    VxImage img;
    EXPECT_TRUE(img.Decode(bytes.data(), uint32_t(bytes.size()), VX_FORMAT_WMF)) << img.GetLastError();
    return vt::ToRgba(img);
}

// COLORREF (red in the low byte) at (x, y), top-down.
::testing::AssertionResult Px(const vt::Rgba& im, int x, int y, uint32_t c, int tol = 0) {
    if (x < 0 || y < 0 || x >= im.width || y >= im.height)
        return ::testing::AssertionFailure() << "(" << x << "," << y << ") outside";
    const uint8_t* p = im.at(x, y);
    const int r = c & 0xFF, g = (c >> 8) & 0xFF, b = (c >> 16) & 0xFF;
    if (std::abs(p[0] - r) <= tol && std::abs(p[1] - g) <= tol && std::abs(p[2] - b) <= tol)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "(" << x << "," << y << ") is " << int(p[0]) << "," << int(p[1])
                                         << "," << int(p[2]) << " not " << r << "," << g << "," << b;
}

// Pixels in the box that are clearly not white.
int Ink(const vt::Rgba& im, int x0, int y0, int x1, int y1) {
    int n = 0;
    for (int y = std::max(0, y0); y < std::min(im.height, y1); ++y)
        for (int x = std::max(0, x0); x < std::min(im.width, x1); ++x) {
            const uint8_t* p = im.at(x, y);
            if (p[0] + p[1] + p[2] < 600) ++n;
        }
    return n;
}

// A 16-bit metafile whose logical units are output pixels.
Bytes Wmf96(mft::Wmf& m, int w = 120, int h = 80) { return m.Build(0, 0, int16_t(w), int16_t(h), 96); }

const int kNullPen = 5;

TEST(MetafileDrawing, NothingPaintedStaysWhite) {
    mft::Wmf m;
    const vt::Rgba im = Render(Wmf96(m));
    EXPECT_EQ(Ink(im, 0, 0, im.width, im.height), 0);
    EXPECT_TRUE(Px(im, 0, 0, kWhite));
    EXPECT_TRUE(Px(im, 119, 79, kWhite));
    const vt::Rgba e = Render(mft::Emf().Build(0, 0, 50, 40));
    EXPECT_EQ(Ink(e, 0, 0, e.width, e.height), 0);
}

TEST(MetafileDrawing, WmfRectangleEllipseAndPolygonInPlace) {
    mft::Wmf m;
    m.Pen(kNullPen, 0, 0).Brush(0, kRed).Brush(0, kBlue).Brush(0, kGreen);
    m.Select(0).Select(1).Rectangle(10, 10, 50, 40);
    m.Select(2).Ellipse(60, 10, 100, 50);
    m.Select(3).Poly(0x0324, {{10, 50}, {50, 50}, {30, 78}});
    const vt::Rgba im = Render(Wmf96(m));
    EXPECT_TRUE(Px(im, 30, 25, kRed));
    EXPECT_TRUE(Px(im, 10, 10, kRed));
    EXPECT_TRUE(Px(im, 49, 39, kRed));
    EXPECT_TRUE(Px(im, 9, 25, kWhite));
    EXPECT_TRUE(Px(im, 51, 25, kWhite));
    EXPECT_TRUE(Px(im, 30, 41, kWhite));
    EXPECT_TRUE(Px(im, 80, 30, kBlue));
    EXPECT_TRUE(Px(im, 62, 12, kWhite));  // corner of the box, outside the ellipse
    EXPECT_TRUE(Px(im, 80, 12, kBlue));
    EXPECT_TRUE(Px(im, 30, 58, kGreen));
    EXPECT_TRUE(Px(im, 14, 74, kWhite));  // beside the triangle's point
}

TEST(MetafileDrawing, WmfPenOutlinesAndNullBrush) {
    mft::Wmf m;
    m.Pen(0, 3, kBlack).Brush(1, 0);
    m.Select(0).Select(1).Rectangle(20, 20, 80, 60);
    m.Rec(0x0214, {70, 10}).Rec(0x0213, {70, 110});  // MoveTo(10, 70), LineTo(110, 70)
    const vt::Rgba im = Render(Wmf96(m));
    EXPECT_TRUE(Px(im, 20, 40, kBlack));
    EXPECT_TRUE(Px(im, 50, 20, kBlack));
    EXPECT_TRUE(Px(im, 50, 40, kWhite));  // null brush: the inside is not painted
    EXPECT_TRUE(Px(im, 60, 70, kBlack));
    EXPECT_TRUE(Px(im, 60, 75, kWhite));
    EXPECT_TRUE(Px(im, 5, 70, kWhite));
}

TEST(MetafileDrawing, WmfDashedPenLeavesGaps) {
    mft::Wmf m;
    m.Pen(1, 0, kBlack).Select(0);  // PS_DASH, one pixel
    m.Rec(0x0102, {1});             // transparent gaps
    m.Rec(0x0214, {40, 0}).Rec(0x0213, {40, 119});
    const vt::Rgba im = Render(Wmf96(m));
    int ink = 0, gap = 0;
    for (int x = 0; x < 119; ++x) (Px(im, x, 40, kBlack) ? ink : gap)++;
    EXPECT_GT(ink, 40);
    EXPECT_GT(gap, 15);
}

TEST(MetafileDrawing, WmfPolyPolygonFillModes) {
    for (int mode : {1, 2}) {
        mft::Wmf m;
        m.Pen(kNullPen, 0, 0).Brush(0, kBlue).Select(0).Select(1);
        m.Rec(0x0106, {mode});
        Bytes tail;
        mft::Put16(tail, 4);
        mft::Put16(tail, 4);
        for (int v : {10, 10, 90, 10, 90, 70, 10, 70, 30, 30, 70, 30, 70, 50, 30, 50}) mft::Put16(tail, uint32_t(v));
        m.Rec(0x0538, {2}, tail);
        const vt::Rgba im = Render(Wmf96(m));
        EXPECT_TRUE(Px(im, 15, 15, kBlue)) << mode;
        // Alternate leaves the inner square open; winding (same direction) fills it.
        EXPECT_TRUE(Px(im, 50, 40, mode == 1 ? kWhite : kBlue)) << mode;
    }
}

TEST(MetafileDrawing, WmfHatchedBrushShowsLinesAndBackground) {
    mft::Wmf m;
    m.Pen(kNullPen, 0, 0).Brush(0, kYellow).Brush(2, kRed, 4);
    m.Select(0).Select(1).Rectangle(0, 0, 120, 80);
    m.Select(2).Rec(0x0102, {1}).Rectangle(10, 10, 50, 50);  // transparent: yellow shows through
    m.Rec(0x0102, {2}).Rec(0x0201, {int32_t(kBlue & 0xFFFF), int32_t(kBlue >> 16)});
    m.Rectangle(60, 10, 100, 50);  // opaque: blue between the lines
    const vt::Rgba im = Render(Wmf96(m));
    int red = 0, yellow = 0, blue = 0;
    for (int y = 10; y < 50; ++y)
        for (int x = 10; x < 50; ++x) {
            red += Px(im, x, y, kRed);
            yellow += Px(im, x, y, kYellow);
        }
    for (int y = 10; y < 50; ++y)
        for (int x = 60; x < 100; ++x) blue += Px(im, x, y, kBlue);
    EXPECT_GT(red, 200);
    EXPECT_GT(yellow, 800);
    EXPECT_GT(blue, 800);
    EXPECT_EQ(red + yellow, 1600);
    EXPECT_TRUE(Px(im, 55, 30, kYellow));
}

TEST(MetafileDrawing, WmfArcsChordsAndPies) {
    mft::Wmf m;
    m.Pen(kNullPen, 0, 0).Brush(0, kRed).Select(0).Select(1);
    // Pie from the right-hand radial counter-clockwise to the top one: the upper right quarter.
    m.Rec(0x081A, {0, 20, 20, 40, 40, 40, 0, 0});
    // Chord through the left and right points going counter-clockwise: the upper half.
    m.Rec(0x0830, {20, 40, 20, 80, 40, 80, 0, 40});
    const vt::Rgba im = Render(Wmf96(m));
    EXPECT_TRUE(Px(im, 28, 12, kRed));
    EXPECT_TRUE(Px(im, 12, 12, kWhite));
    EXPECT_TRUE(Px(im, 28, 28, kWhite));
    EXPECT_TRUE(Px(im, 12, 28, kWhite));
    EXPECT_TRUE(Px(im, 60, 12, kRed));
    EXPECT_TRUE(Px(im, 60, 28, kWhite));
}

TEST(MetafileDrawing, WmfRoundRectCornersStayOpen) {
    mft::Wmf m;
    m.Pen(kNullPen, 0, 0).Brush(0, kGreen).Select(0).Select(1);
    m.Rec(0x061C, {30, 30, 70, 110, 10, 10});
    const vt::Rgba im = Render(Wmf96(m));
    EXPECT_TRUE(Px(im, 11, 11, kWhite));
    EXPECT_TRUE(Px(im, 108, 68, kWhite));
    EXPECT_TRUE(Px(im, 60, 11, kGreen));
    EXPECT_TRUE(Px(im, 11, 40, kGreen));
}

TEST(MetafileDrawing, WmfWindowMapsOntoTheBitmap) {
    // A window twice the placeable box halves everything.
    mft::Wmf m;
    m.Rec(0x0103, {8}).Rec(0x020B, {0, 0}).Rec(0x020C, {160, 240});
    m.Pen(kNullPen, 0, 0).Brush(0, kBlue).Select(0).Select(1).Rectangle(40, 40, 120, 120);
    const vt::Rgba im = Render(Wmf96(m));
    EXPECT_TRUE(Px(im, 40, 40, kBlue));
    EXPECT_TRUE(Px(im, 21, 21, kBlue));
    EXPECT_TRUE(Px(im, 18, 40, kWhite));
    EXPECT_TRUE(Px(im, 62, 40, kWhite));

    // Window origin shifts.
    mft::Wmf o;
    o.Rec(0x020B, {-10, -20});
    o.Pen(kNullPen, 0, 0).Brush(0, kBlue).Select(0).Select(1).Rectangle(0, 0, 10, 10);
    const vt::Rgba io = Render(o.Build(-20, -10, 100, 70, 96));
    EXPECT_TRUE(Px(io, 25, 15, kBlue));
    EXPECT_TRUE(Px(io, 5, 5, kWhite));
}

TEST(MetafileDrawing, WmfClipRectanglesAndSaveRestore) {
    mft::Wmf m;
    m.Pen(kNullPen, 0, 0).Brush(0, kRed).Brush(0, kBlue).Select(0).Select(1);
    m.Rec(0x001E, {});                   // SaveDC
    m.Rec(0x0416, {60, 60, 20, 20});     // IntersectClipRect(20, 20, 60, 60)
    m.Rec(0x0415, {45, 45, 35, 35});     // ExcludeClipRect(35, 35, 45, 45)
    m.Select(2);
    m.Rectangle(0, 0, 120, 80);
    m.Rec(0x0127, {-1});                 // RestoreDC: red brush, no clip
    m.Rectangle(80, 10, 110, 30);
    const vt::Rgba im = Render(Wmf96(m));
    EXPECT_TRUE(Px(im, 25, 25, kBlue));
    EXPECT_TRUE(Px(im, 10, 10, kWhite));
    EXPECT_TRUE(Px(im, 70, 50, kWhite));
    EXPECT_TRUE(Px(im, 40, 40, kWhite));  // excluded hole
    EXPECT_TRUE(Px(im, 95, 20, kRed));    // after the restore: red and unclipped
}

TEST(MetafileDrawing, WmfTextIsDrawnWhereItBelongs) {
    mft::Wmf m;
    m.Font(-24, "Arial").Select(0).TextColor(kRed).Rec(0x0102, {1});
    m.TextOut(10, 10, "HIH");
    const vt::Rgba im = Render(Wmf96(m));
    // Top-left alignment: the letters hang below (10, 10).
    EXPECT_GT(Ink(im, 10, 10, 70, 36), 60);
    EXPECT_EQ(Ink(im, 0, 0, 120, 8), 0);
    EXPECT_EQ(Ink(im, 0, 40, 120, 80), 0);
    EXPECT_EQ(Ink(im, 80, 0, 120, 80), 0);
    int reddish = 0;
    for (int y = 10; y < 36; ++y)
        for (int x = 10; x < 70; ++x) reddish += Px(im, x, y, kRed, 40);
    EXPECT_GT(reddish, 20);

    // Right and bottom alignment put the text to the left of and above the point.
    mft::Wmf r;
    r.Font(-24, "Arial").Select(0).Rec(0x012E, {2 | 8});
    r.TextOut(110, 70, "HIH");
    const vt::Rgba ir = Render(Wmf96(r));
    EXPECT_GT(Ink(ir, 50, 44, 110, 70), 60);
    EXPECT_EQ(Ink(ir, 0, 0, 120, 40), 0);
    EXPECT_EQ(Ink(ir, 111, 0, 120, 80), 0);
}

TEST(MetafileDrawing, WmfChineseTextInItsCodePage) {
    mft::Wmf m;
    m.Font(-30, "\xCB\xCE\xCC\xE5", 134).Select(0).Rec(0x0102, {1});  // 宋体 in GBK
    m.TextOut(10, 10, "\xD6\xD0\xCE\xC4");                           // 中文 in GBK
    const vt::Rgba im = Render(Wmf96(m));
    EXPECT_GT(Ink(im, 10, 10, 80, 44), 80);
    EXPECT_EQ(Ink(im, 85, 0, 120, 80), 0);
}

TEST(MetafileDrawing, WmfStretchDibDrawsTheBitmap) {
    const Bytes dib = mft::Dib24(2, 2, {0xFF0000, 0x0000FF, 0x00A000, 0xFFC800});
    mft::Wmf m;
    // StretchDIB: rop, usage, srcH, srcW, ySrc, xSrc, destH, destW, yDst, xDst.
    m.Rec(0x0F43, {0x0020, 0x00CC, 0, 2, 2, 0, 0, 40, 60, 20, 30}, dib);
    const vt::Rgba im = Render(Wmf96(m));
    EXPECT_TRUE(Px(im, 40, 30, kRed));
    EXPECT_TRUE(Px(im, 80, 30, kBlue));
    EXPECT_TRUE(Px(im, 40, 50, kGreen));
    EXPECT_TRUE(Px(im, 80, 50, kYellow));
    EXPECT_TRUE(Px(im, 29, 30, kWhite));
    EXPECT_TRUE(Px(im, 91, 50, kWhite));
    EXPECT_TRUE(Px(im, 60, 61, kWhite));

    // DIBBitBlt: rop, ySrc, xSrc, height, width, yDst, xDst.
    mft::Wmf b;
    b.Rec(0x0940, {0x0020, 0x00CC, 0, 1, 1, 1, 5, 5}, dib);
    const vt::Rgba ib = Render(Wmf96(b));
    EXPECT_TRUE(Px(ib, 5, 5, kBlue));  // source pixel (1, 0): top right
    EXPECT_TRUE(Px(ib, 6, 5, kWhite));
}

TEST(MetafileDrawing, WmfUnknownAndDamagedRecordsAreSkipped) {
    mft::Wmf m;
    m.Pen(kNullPen, 0, 0).Brush(0, kRed).Select(0).Select(1);
    m.Rec(0x0777, {1, 2, 3, 4});          // no such record
    m.Rec(0x0324, {5000, 1, 1});          // polygon claiming more points than it has
    m.Rec(0x012D, {999});                 // select of a slot that does not exist
    m.Rectangle(10, 10, 30, 30);
    const vt::Rgba im = Render(Wmf96(m));
    EXPECT_TRUE(Px(im, 20, 20, kRed));

    // A record running past the end stops the play but keeps what was drawn.
    mft::Wmf t;
    t.Pen(kNullPen, 0, 0).Brush(0, kRed).Select(0).Select(1).Rectangle(10, 10, 30, 30);
    Bytes bad;
    mft::Put32(bad, 0x10000);
    mft::Put16(bad, 0x041B);
    t.Raw(bad);
    const vt::Rgba it = Render(t.Build(0, 0, 120, 80, 96, 16, false));
    EXPECT_TRUE(Px(it, 20, 20, kRed));
}

TEST(MetafileDrawing, WmfObjectSlotsAreReused) {
    mft::Wmf m;
    m.Pen(kNullPen, 0, 0).Brush(0, kRed).Rec(0x01F0, {1}).Brush(0, kBlue);  // blue takes slot 1
    m.Select(0).Select(1).Rectangle(10, 10, 30, 30);
    const vt::Rgba im = Render(m.Build(0, 0, 120, 80, 96, 2));
    EXPECT_TRUE(Px(im, 20, 20, kBlue));
}

TEST(MetafileDrawing, EmfShapesPathsAndClip) {
    mft::Emf e;
    e.Pen(1, 5, 0, 0).Brush(2, 0, kGreen).Brush(3, 0, kBlue);
    e.Select(1).Select(2).Rectangle(10, 10, 40, 30);
    // Path: a triangle filled through FillPath.
    e.Select(3).Rec(59, {}).Points(3, {{50, 10}, {90, 10}, {70, 40}}).Rec(60, {}).Rec(62, {0, 0, -1, -1});
    // Clip to a circle, then paint a square over it.
    e.Rec(59, {}).Ellipse(100, 10, 140, 50).Rec(60, {}).Rec(67, {5});
    e.Select(2).Rectangle(100, 10, 140, 50);
    e.Rec(75, {0, 5});  // clip back to everything
    e.Rectangle(10, 60, 20, 70);
    const vt::Rgba im = Render(e.Build(0, 0, 150, 80));
    EXPECT_TRUE(Px(im, 25, 20, kGreen));
    EXPECT_TRUE(Px(im, 70, 20, kBlue));
    EXPECT_TRUE(Px(im, 55, 35, kWhite));
    EXPECT_TRUE(Px(im, 120, 30, kGreen));
    EXPECT_TRUE(Px(im, 102, 12, kWhite));  // square corner outside the clip circle
    EXPECT_TRUE(Px(im, 15, 65, kGreen));
}

TEST(MetafileDrawing, EmfStrokePathAndBezier) {
    mft::Emf e;
    e.Pen(1, 0, 0, kRed).Select(1);
    e.Points(2, {{10, 70}, {10, 10}, {70, 10}, {70, 70}});  // Bézier arch
    e.Rec(59, {}).Rectangle(90, 10, 140, 60).Rec(60, {}).Rec(64, {0, 0, -1, -1});  // StrokePath
    const vt::Rgba im = Render(e.Build(0, 0, 150, 80));
    // The arch's top (t = 0.5) is at (40, 25).
    EXPECT_GT(Ink(im, 38, 22, 43, 29), 0);
    EXPECT_EQ(Ink(im, 30, 35, 50, 70), 0);
    EXPECT_EQ(Ink(im, 10, 0, 70, 20), 0);
    EXPECT_TRUE(Px(im, 90, 30, kRed) || Px(im, 91, 30, kRed));
    EXPECT_TRUE(Px(im, 115, 35, kWhite));  // a stroked path is not filled
}

TEST(MetafileDrawing, EmfWorldTransformAndSaveRestore) {
    mft::Emf e;
    e.Pen(1, 5, 0, 0).Brush(2, 0, kBlue).Select(1).Select(2);
    e.Rec(33, {});
    Bytes xf;
    for (float f : {2.0f, 0.0f, 0.0f, 2.0f, 50.0f, 10.0f}) mft::PutF(xf, f);
    mft::Put32(xf, 4);  // MWT_SET
    e.Rec(36, {}, xf);
    e.Rectangle(0, 0, 10, 10);  // becomes 50..70 x 10..30
    e.Rec(34, {-1});
    e.Rectangle(0, 40, 10, 50);
    const vt::Rgba im = Render(e.Build(0, 0, 100, 60));
    EXPECT_TRUE(Px(im, 68, 28, kBlue));
    EXPECT_TRUE(Px(im, 5, 5, kWhite));
    EXPECT_TRUE(Px(im, 5, 45, kBlue));
    EXPECT_TRUE(Px(im, 15, 45, kWhite));
}

TEST(MetafileDrawing, EmfMetricMappingTurnsTheYAxis) {
    mft::Emf e;
    e.Pen(1, 5, 0, 0).Brush(2, 0, kRed).Select(1).Select(2);
    e.Rec(17, {2});  // MM_LOMETRIC: tenths of a millimetre, y up
    e.Rec(12, {0, 80});  // viewport origin at the bottom left
    e.Rectangle(0, 0, 100, 100);  // 10 mm = 37.8 pixels up from the bottom
    const vt::Rgba im = Render(e.Build(0, 0, 100, 80));
    EXPECT_TRUE(Px(im, 18, 60, kRed));
    EXPECT_TRUE(Px(im, 18, 38, kWhite));
    EXPECT_TRUE(Px(im, 40, 60, kWhite));
}

TEST(MetafileDrawing, EmfStockObjects) {
    mft::Emf e;
    e.Select(0x80000008).Select(0x80000004).Rectangle(10, 10, 30, 30);  // null pen, black brush
    e.Select(0x80000007).Select(0x80000005).Rectangle(40, 10, 60, 30);  // black pen, null brush
    const vt::Rgba im = Render(e.Build(0, 0, 70, 40));
    EXPECT_TRUE(Px(im, 20, 20, kBlack));
    EXPECT_TRUE(Px(im, 50, 20, kWhite));
    EXPECT_TRUE(Px(im, 40, 20, kBlack));
}

TEST(MetafileDrawing, EmfUtf16TextAndBitmap) {
    mft::Emf e;
    e.Font(1, -28, u"WenQuanYi Micro Hei").Select(1).Rec(24, {int32_t(kBlue)}).Rec(18, {1});
    e.TextW(10, 10, u"中文 A");
    const Bytes dib = mft::Dib24(2, 1, {0xFF0000, 0x00A000});
    e.StretchDIBits(100, 10, 40, 20, 0, 0, 2, 1, dib);
    const vt::Rgba im = Render(e.Build(0, 0, 150, 60));
    EXPECT_GT(Ink(im, 10, 10, 95, 42), 80);
    EXPECT_EQ(Ink(im, 0, 45, 95, 60), 0);
    int bluish = 0;
    for (int y = 10; y < 42; ++y)
        for (int x = 10; x < 95; ++x) bluish += Px(im, x, y, kBlue, 40);
    EXPECT_GT(bluish, 20);
    EXPECT_TRUE(Px(im, 110, 20, kRed));
    EXPECT_TRUE(Px(im, 130, 20, kGreen));
    EXPECT_TRUE(Px(im, 120, 35, kWhite));
}

// Glyph numbers of `text` in the face fontconfig gives for `family`.
std::u16string GlyphNumbers(const char* family, const char* text) {
    FcPattern* pat = FcNameParse(reinterpret_cast<const FcChar8*>(family));
    FcConfigSubstitute(nullptr, pat, FcMatchPattern);
    FcDefaultSubstitute(pat);
    FcResult result;
    FcPattern* match = FcFontMatch(nullptr, pat, &result);
    FcPatternDestroy(pat);
    cairo_font_face_t* face = cairo_ft_font_face_create_for_pattern(match);
    FcPatternDestroy(match);
    cairo_matrix_t size, identity;
    cairo_matrix_init_scale(&size, 20, 20);
    cairo_matrix_init_identity(&identity);
    cairo_font_options_t* options = cairo_font_options_create();
    cairo_scaled_font_t* sf = cairo_scaled_font_create(face, &size, &identity, options);
    cairo_glyph_t* glyphs = nullptr;
    int count = 0;
    std::u16string out;
    if (cairo_scaled_font_text_to_glyphs(sf, 0, 0, text, -1, &glyphs, &count, nullptr, nullptr,
                                         nullptr) == CAIRO_STATUS_SUCCESS)
        for (int i = 0; i < count; ++i) out += char16_t(glyphs[i].index);
    cairo_glyph_free(glyphs);
    cairo_scaled_font_destroy(sf);
    cairo_font_options_destroy(options);
    cairo_font_face_destroy(face);
    return out;
}

// Text written by glyph number (as office suites and printer drivers write
// it) draws what the same text written as characters draws; a number the
// face lacks draws its missing-glyph box and spoils nothing after it.
TEST(MetafileDrawing, EmfTextByGlyphIndexDrawsTheGlyphs) {
    const std::u16string hello = GlyphNumbers("DejaVu Sans", "Hello");
    ASSERT_EQ(hello.size(), 5u);
    ASSERT_NE(hello, u"Hello");
    const auto render = [](const std::u16string& text, uint32_t options, bool bogusFirst) {
        mft::Emf e;
        e.Font(1, -24, u"DejaVu Sans").Select(1);
        if (bogusFirst) e.TextW(10, 40, u"\xFFFF", 0x10);
        e.TextW(10, 5, text, options);
        return Render(e.Build(0, 0, 120, 70));
    };
    const vt::Rgba chars = render(u"Hello", 0, false);
    EXPECT_GT(Ink(chars, 10, 5, 80, 30), 60);
    for (bool bogusFirst : {false, true}) {
        const vt::Rgba indexed = render(hello, 0x10, bogusFirst);
        const vt::Rgba top{indexed.width, 35, {indexed.px.begin(), indexed.px.begin() + 35 * indexed.width * 4}};
        const vt::Rgba want{chars.width, 35, {chars.px.begin(), chars.px.begin() + 35 * chars.width * 4}};
        EXPECT_EQ(vt::MaxChannelDiff(top, want), 0) << bogusFirst;
        if (bogusFirst) {
            EXPECT_GT(Ink(indexed, 10, 40, 40, 70), 10);
        }
    }
}

// Dotted and dashed thin lines as GDI draws them, pixel for pixel: stock
// styles, the one-on-one-off style and user styles (a geometric pen's in
// logical units, here a hundredth of a pixel).
TEST(MetafileDrawing, EmfThinPenStylesDrawTheirPattern) {
    const auto extPen = [](mft::Emf& e, int style, std::initializer_list<int32_t> entries) {
        std::vector<int32_t> v = {1, 0, 0, 0, 0, style, 1, 0, 0, 0, int32_t(entries.size())};
        v.insert(v.end(), entries);
        Bytes tail;
        for (int32_t x : v) mft::Put32(tail, uint32_t(x));
        e.Rec(95, {}, tail);
    };
    const struct {
        const char* name;
        std::function<void(mft::Emf&)> pen;
        bool hundredths;
        const char* row;
    } cases[] = {
        {"dot", [](mft::Emf& e) { e.Pen(1, 2, 0, kBlack); }, false, "###...###...###..."},
        {"dash", [](mft::Emf& e) { e.Pen(1, 1, 0, kBlack); }, false, "##################......##"},
        {"alternate", [&](mft::Emf& e) { extPen(e, 8, {}); }, false, "#.#.#.#.#.#."},
        {"user", [&](mft::Emf& e) { extPen(e, 7, {2, 4}); }, false, "##....##....##...."},
        {"geometric user", [&](mft::Emf& e) { extPen(e, 0x10000 | 7, {300, 500}); }, true, "###.....###....."},
        {"thin geometric dot", [](mft::Emf& e) { e.Pen(1, 2, 1, kBlack); }, true, "###...###...###..."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        mft::Emf e;
        const int k = c.hundredths ? 100 : 1;
        if (c.hundredths) e.Rec(17, {8}).Rec(9, {200 * k, 50 * k}).Rec(11, {200, 50});
        c.pen(e);
        e.Select(1).Rec(18, {1});  // transparent gaps
        e.Rec(27, {0, 20 * k}).Rec(54, {199 * k, 20 * k});
        const vt::Rgba im = Render(e.Build(0, 0, 200, 50));
        std::string row;
        for (int x = 0; x < int(std::strlen(c.row)); ++x) row += Px(im, x, 20, kBlack) ? '#' : '.';
        EXPECT_EQ(row, c.row);
    }
}

// Bitmaps with the longer headers, image size 0 and bit fields draw: one red
// and one green pixel, stretched.
TEST(MetafileDrawing, EmfBitmapsWithLongHeadersAndBitFields) {
    const struct {
        uint32_t headerSize, bpp, compression;
        std::vector<uint32_t> masks;  // in the header (52 bytes and more) or after it
        uint32_t red, green;
    } cases[] = {
        {124, 16, 3, {0xF800, 0x07E0, 0x001F, 0}, 0xF800, 0x07E0},
        {108, 32, 0, {}, 0xFF0000, 0x00FF00},
        {40, 32, 3, {0x3FF00000, 0x000FFC00, 0x000003FF}, 0x3FF00000, 0x000FFC00},
        {56, 32, 6, {0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000}, 0x80FF0000, 0x8000FF00},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.headerSize << " bytes, " << c.bpp << " bits");
        Bytes dib;
        for (uint32_t v : {c.headerSize, 2u, 1u}) mft::Put32(dib, v);
        mft::Put16(dib, 1);
        mft::Put16(dib, uint16_t(c.bpp));
        mft::Put32(dib, c.compression);
        while (dib.size() < 40) dib.push_back(0);  // image size 0, no colour table
        for (uint32_t m : c.masks) mft::Put32(dib, m);
        dib.resize(std::max<size_t>(dib.size(), c.headerSize), 0);
        const int header = int(dib.size());
        for (uint32_t px : {c.red, c.green})
            for (uint32_t i = 0; i < c.bpp / 8; ++i) dib.push_back(uint8_t(px >> (8 * i)));
        while ((dib.size() - size_t(header)) % 4) dib.push_back(0);
        mft::Emf e;
        e.StretchDIBits(10, 10, 40, 20, 0, 0, 2, 1, dib, 0x00CC0020, header);
        const vt::Rgba im = Render(e.Build(0, 0, 60, 40));
        EXPECT_TRUE(Px(im, 20, 20, kRed));
        EXPECT_TRUE(Px(im, 40, 20, 0x00FF00));
    }
}

TEST(MetafileDrawing, EmfBitBltAndUnknownRecords) {
    const Bytes dib = mft::Dib24(2, 2, {0xFF0000, 0x0000FF, 0x00A000, 0xFFC800});
    mft::Emf e;
    e.Rec(200, {1, 2, 3});  // no such record
    Bytes tail;
    for (float f : {1.0f, 0.0f, 0.0f, 1.0f, 0.0f, 0.0f}) mft::PutF(tail, f);
    for (int v : {0, 0, 100, 40, 140, int(dib.size() - 40)}) mft::Put32(tail, uint32_t(v));
    tail.insert(tail.end(), dib.begin(), dib.end());
    // BitBlt of the DIB's right column (source x 1) to (10, 10), two by two pixels.
    e.Rec(76, {0, 0, -1, -1, 10, 10, 1, 2, 0x00CC0020, 1, 0}, tail);
    // A BitBlt without a bitmap paints with the brush (PATCOPY).
    e.Brush(1, 0, kGreen).Select(1).Rec(76, {0, 0, -1, -1, 30, 10, 10, 10, 0x00F00021, 0, 0});
    const vt::Rgba im = Render(e.Build(0, 0, 60, 30));
    EXPECT_TRUE(Px(im, 10, 10, kBlue));
    EXPECT_TRUE(Px(im, 10, 11, kYellow));
    EXPECT_TRUE(Px(im, 11, 10, kWhite));
    EXPECT_TRUE(Px(im, 35, 15, kGreen));
    EXPECT_TRUE(Px(im, 45, 15, kWhite));
}

TEST(MetafileDrawing, WmfDibStretchBltMirrorsWithNegativeWidth) {
    const Bytes dib = mft::Dib24(2, 1, {0xFF0000, 0x0000FF});
    mft::Wmf m;
    // DIBStretchBlt: rop, srcH, srcW, ySrc, xSrc, destH, destW, yDst, xDst.
    m.Rec(0x0B41, {0x0020, 0x00CC, 1, 2, 0, 0, 20, 40, 10, 10}, dib);
    m.Rec(0x0B41, {0x0020, 0x00CC, 1, 2, 0, 0, 20, -40, 40, 90}, dib);  // mirrored into 50..90
    const vt::Rgba im = Render(Wmf96(m));
    EXPECT_TRUE(Px(im, 15, 20, kRed));
    EXPECT_TRUE(Px(im, 45, 20, kBlue));
    EXPECT_TRUE(Px(im, 55, 50, kBlue));
    EXPECT_TRUE(Px(im, 85, 50, kRed));
    EXPECT_TRUE(Px(im, 95, 50, kWhite));
}

// The fig2dev drawing: a red rectangle, a blue disc, a green polyline and a word,
// in 1200-dpi device units (see tests/data/metafile/make_fixtures.py).
TEST(MetafileDrawing, IndependentlyWrittenEmf) {
    VxImage img;
    ASSERT_TRUE(img.Load(vt::DataPath("metafile/fig_shapes.emf").c_str(), VX_FORMAT_WMF))
        << img.GetLastError();
    const vt::Rgba im = vt::ToRgba(img);
    ASSERT_EQ(im.width, 590);  // bounds 30..620 x 25..523
    ASSERT_EQ(im.height, 498);
    // fig point (x, y) lands near output pixel (x - 30, y - 25).
    EXPECT_TRUE(Px(im, 200 - 30, 160 - 25, kRed));
    EXPECT_TRUE(Px(im, 450 - 30, 160 - 25, kBlue));
    EXPECT_TRUE(Px(im, 450 - 30, 160 - 25 + 60, kBlue));
    EXPECT_TRUE(Px(im, 335 - 30, 160 - 25, kWhite));  // between rectangle and disc
    EXPECT_TRUE(Px(im, 250 - 30, 350 - 25, 0x00FF00));  // the polyline's bend
    EXPECT_TRUE(Px(im, 250 - 30, 250 - 25, kWhite));
    EXPECT_GT(Ink(im, 100 - 30, 400 - 25, 400 - 30, 470 - 25), 500);  // the word
    EXPECT_TRUE(Px(im, 3, 3, kWhite));
    EXPECT_TRUE(Px(im, 580, 480, kWhite));
}

}  // namespace
