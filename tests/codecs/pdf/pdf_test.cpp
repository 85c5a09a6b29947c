#include <gtest/gtest.h>

#include <string>

#include "core/vx_frames.h"
#include "tests/support/drawing_compare.h"
#include "tests/support/hostile_sweep.h"
#include "tests/support/test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;

bool DecodePdf(const Bytes& bytes, uint32_t format, VxImage& img, int32_t page, uint32_t dpi) {
    img.SetFrame(page);
    img.SetCodecOption(dpi, VX_FORMAT_PDF);
    return vt::DecodeBytes(bytes, format, img);
}

vt::Rgba Reference(int page, int dpi) {
    VxImage want(0);
    const std::string name = "pdf/pages.pdf." + std::to_string(page + 1) + "." + std::to_string(dpi) + ".png";
    EXPECT_TRUE(vt::DecodeBytes(vt::ReadFileBytes(vt::DataPath(name)), VX_FORMAT_PNG, want)) << name;
    return vt::ToRgba(want);
}

// Both pages (of different sizes) at the default 150 dpi and at 72, against
// pdftocairo's transparent renders; the probe finds the file, the size-only
// pass counts the pages, and a row that keeps pages gets both at their sizes.
TEST(Pdf, PagesRenderAsTheReferenceRenderer) {
    const Bytes file = vt::ReadFileBytes(vt::DataPath("pdf/pages.pdf"));
    const std::tuple<int32_t, uint32_t, int> cases[] = {{0, 0, 150}, {1, 0, 150}, {0, 72, 72}, {1, 72, 72}};
    for (const auto& [page, dpi, refDpi] : cases) {
        SCOPED_TRACE(std::to_string(page) + " at " + std::to_string(refDpi));
        const vt::Rgba want = Reference(page, refDpi);
        for (const uint32_t format : {uint32_t(VX_FORMAT_PDF), 0u}) {
            VxImage img(0);
            ASSERT_TRUE(DecodePdf(file, format, img, page, dpi)) << img.GetLastError();
            EXPECT_TRUE(img.GetType() == VX_FORMAT_PDF && img.GetNumFrames() == 2 && img.AlphaIsValid());
            EXPECT_LE(vt::CoverageDiff(vt::ToRgba(img), want), 2);
            VxImage size(0);
            size.SetEscape(-1);
            ASSERT_TRUE(DecodePdf(file, format, size, page, dpi));
            EXPECT_TRUE(size.GetWidth() == uint32_t(want.width) && size.GetHeight() == uint32_t(want.height) &&
                        size.GetNumFrames() == 2);
        }
    }
    VxImage all(0);
    all.SetWantAnimation(true);
    all.SetWantPages(true);
    ASSERT_TRUE(DecodePdf(file, VX_FORMAT_PDF, all, 1, 0)) << all.GetLastError();
    ASSERT_TRUE(all.GetAnimation() && all.GetAnimation()->frames.size() == 2);
    for (int page = 0; page < 2; ++page)
        EXPECT_LE(vt::CoverageDiff(vt::ToRgba(*all.GetAnimation()->frames[size_t(page)].picture), Reference(page, 150)), 2);
}

Bytes Concat(Bytes b, const std::string& tail) {
    b.insert(b.end(), tail.begin(), tail.end());
    return b;
}

TEST(Pdf, BadLockedAndHugeFilesFailWithTheirText) {
    const Bytes pages = vt::ReadFileBytes(vt::DataPath("pdf/pages.pdf"));
    const Bytes locked = vt::ReadFileBytes(vt::DataPath("pdf/locked.pdf"));
    const uint64_t usual = kVxDefaultMaxPixels;
    // bytes, page, dpi, picture limit (0: none), pages kept, the text's start
    const std::tuple<Bytes, int32_t, uint32_t, uint64_t, bool, const char*> cases[] = {
        {Bytes{'%', 'P', 'S', '-'}, 0, 0, usual, false, "Not a PDF"},
        {Bytes(pages.begin(), pages.begin() + 200), 0, 0, usual, false, "PDF: "},
        {locked, 0, 0, usual, false, "PDF: the file is encrypted"},
        // poppler sizes its table by the largest object number, even rebuilding a broken one.
        {Concat(pages, " 33333333 0 obj "), 0, 0, usual, false, "PDF: an object number beyond what the file could hold"},
        {Concat(pages, " 33333 0 obj "), 0, 0, 2000, false, "a decoding buffer of 1599984 bytes is above"},
        {pages, 2, 0, usual, false, "PDF: page not present: the file has 2 pages"},
        {pages, 0, 72 * 1000, usual, false, "picture of 30000 x 20000 pixels is above the limit"},
        {pages, 0, 72 * 1200, 0, false, "PDF: the drawing is 36000 x 24000 pixels; at most 32767"},
        {pages, 0, 0, 2000, false, "picture of 63 x 42 pixels is above the limit of 2000"},
        {pages, 0, 0, 3000, true, "PDF: the file's pages pass the picture limit of 3000"}};
    for (const auto& [bytes, page, dpi, limit, kept, want] : cases) {
        VxImage img(0);
        img.SetMaxPixels(limit);
        img.SetWantAnimation(kept);
        img.SetWantPages(kept);
        EXPECT_FALSE(DecodePdf(bytes, VX_FORMAT_PDF, img, page, dpi));
        EXPECT_EQ(std::string(img.GetLastError()).rfind(want, 0), 0u) << want << " / " << img.GetLastError();
    }
    vt::QuietSweepOverFixtures("pdf", {".pdf"}, VX_FORMAT_PDF, 2, 11, 120);
}

}  // namespace
