#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "tests/support/drawing_compare.h"
#include "tests/support/hostile_sweep.h"
#include "tests/support/test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;

bool DecodeSvg(const Bytes& bytes, uint32_t format, VxImage& img, uint32_t dpi = 0) {
    img.SetCodecOption(dpi, VX_FORMAT_SVG);
    return vt::DecodeBytes(bytes, format, img);
}

// Plain and compressed files, CSS pixels, physical units and a bare viewBox,
// at 96 and 192 dpi and at a render size, against rsvg-convert's PNGs; the
// probe finds them too, and the size-only pass gives the same size.
TEST(Svg, RendersAsTheReferenceRenderer) {
    const std::tuple<const char*, uint32_t, uint32_t, const char*> cases[] = {
        {"shapes.svg", 0, 0, "shapes.svg.png"},   {"shapes.svgz", 0, 0, "shapes.svg.png"},
        {"shapes.svg", 192, 0, "shapes.svg.z2.png"}, {"shapes.svg", 0, 80, "shapes.svg.z2.png"},
        {"viewbox.svg", 0, 0, "viewbox.svg.png"}, {"units.svg", 0, 0, "units.svg.png"}};
    for (const auto& [name, dpi, renderWidth, ref] : cases) {
        SCOPED_TRACE(std::string(name) + " " + std::to_string(dpi));
        const Bytes file = vt::ReadFileBytes(vt::DataPath(std::string("svg/") + name));
        VxImage want(0);
        ASSERT_TRUE(vt::DecodeBytes(vt::ReadFileBytes(vt::DataPath(std::string("svg/") + ref)), VX_FORMAT_PNG, want));
        for (const uint32_t format : {uint32_t(VX_FORMAT_SVG), 0u}) {
            VxImage img(0);
            if (renderWidth) img.SetRenderSize(renderWidth, want.GetHeight());
            ASSERT_TRUE(DecodeSvg(file, format, img, dpi)) << img.GetLastError();
            EXPECT_EQ(img.GetType(), uint32_t(VX_FORMAT_SVG));
            EXPECT_LE(vt::CoverageDiff(vt::ToRgba(img), vt::ToRgba(want)), 1);
            VxImage size(0);
            size.SetEscape(-1);
            ASSERT_TRUE(DecodeSvg(file, format, size, dpi));
            EXPECT_EQ(size.GetWidth() * (renderWidth ? 2 : 1), want.GetWidth());
        }
    }
}

// A picture beside the file is never loaded, named by address, by path or
// relative to the file; one inside the document (a data: address) is drawn.
TEST(Svg, NothingOutsideTheFileIsLoaded) {
    vt::TempDir dir;
    ASSERT_TRUE(vt::WriteFileBytes(dir.file("x.png"), vt::ReadFileBytes(vt::DataPath("svg/viewbox.svg.png"))));
    const std::pair<std::string, int> cases[] = {
        {"file://" + dir.file("x.png"), 0}, {dir.file("x.png"), 0}, {"x.png", 0},
        {"data:image/png;base64,iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAIAAACQd1PeAAAADElEQVR4nGP4z8AAAAMBAQDJ/pLvAAAAAElFTkSuQmCC", 255}};
    for (const auto& [href, alpha] : cases) {
        const std::string text = "<svg xmlns='http://www.w3.org/2000/svg' xmlns:xlink='http://www.w3.org/1999/xlink' width='8' "
                                 "height='8'><image width='8' height='8' preserveAspectRatio='none' xlink:href='" + href + "'/></svg>";
        ASSERT_TRUE(vt::WriteFileBytes(dir.file("a.svg"), Bytes(text.begin(), text.end())));
        VxImage img(0);
        ASSERT_TRUE(img.Load(dir.file("a.svg").c_str(), VX_FORMAT_SVG)) << img.GetLastError();
        EXPECT_EQ(vt::ToRgba(img).at(4, 4)[3], alpha) << href;
    }
}

TEST(Svg, BadAndHugeDrawingsFailWithTheirText) {
    const Bytes shapes = vt::ReadFileBytes(vt::DataPath("svg/shapes.svg"));
    Bytes packed = vt::ReadFileBytes(vt::DataPath("svg/shapes.svgz"));
    packed.resize(packed.size() - 30);
    const auto text = [](const char* s) { return Bytes(s, s + std::strlen(s)); };
    const uint64_t usual = kVxDefaultMaxPixels;
    // bytes, dpi, picture limit (0: none), the text's start
    const std::tuple<Bytes, uint32_t, uint64_t, const char*> cases[] = {
        {text("hello <svg"), 0, usual, "Not an SVG"},
        {text("<svg xmlns='http://www.w3.org/2000/svg'/>"), 0, usual, "SVG: the drawing gives no size"},
        {text("<svg xmlns='http://www.w3.org/2000/svg' width='4' height='4'><rect"), 0, usual, "SVG: "},
        {packed, 0, usual, "SVG: the compressed drawing is damaged"},
        {shapes, 96 * 1000, usual, "picture of 40000 x 30000 pixels is above the limit"},
        {shapes, 96 * 1000, 0, "SVG: the drawing is 40000 x 30000 pixels; at most 32767"},
        {shapes, 96 * 10, 100000, "picture of 400 x 300 pixels is above the limit of 100000"}};
    for (const auto& [bytes, dpi, limit, want] : cases) {
        VxImage img(0);
        img.SetMaxPixels(limit);
        EXPECT_FALSE(DecodeSvg(bytes, VX_FORMAT_SVG, img, dpi));
        EXPECT_EQ(std::string(img.GetLastError()).rfind(want, 0), 0u) << want << " / " << img.GetLastError();
    }
    vt::QuietSweepOverFixtures("svg", {".svg", ".svgz"}, VX_FORMAT_SVG, 4, 7, 120);
}

}  // namespace
