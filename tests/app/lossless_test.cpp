// JPEG files into JPEG XL by their coefficients and back to the same bytes,
// checked with the format's own tools; rows that need the pixels take them.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "app/batch/run_driver.h"
#include "core/vx_format.h"
#include "tests/support/reference_decoder.h"
#include "tests/support/test_support.h"

namespace {

namespace batch = vellumar::batch;
namespace fs = std::filesystem;

struct Row {
    bool converted;
    std::string method;
    int decodes = 0;  // pixel decodes the run needed
};

Row Convert(const std::string& src, ImageFormat target, const char* ext, const std::string& out,
            const std::function<void(batch::RunOptions&)>& tweak = {}) {
    fs::create_directories(out);
    batch::RunOptions opt;
    opt.target = target;
    opt.extension = ext;
    opt.outDir = out;
    opt.verify = true;
    if (tweak) tweak(opt);
    Row row{false, ""};
    batch::RunCallbacks cb;
    cb.onRowDone = [&](int, const batch::RowResult& r) { row.method = r.method + r.error; };
    const batch::RunSummary summary = batch::RunRows({src}, opt, cb);
    row.converted = summary.converted == 1;
    row.decodes = summary.decodes;
    return row;
}

// JPEG kinds as cameras and editors write them, made by ImageMagick and cjpeg.
const struct {
    const char* name;
    const char* make;  // from SRC.ppm into DST.jpg
} kJpegs[] = {
    {"baseline 4:2:0", "cjpeg -quality 85 -sample 2x2 SRC > DST"},
    {"4:4:4", "cjpeg -quality 92 -sample 1x1 SRC > DST"},
    {"progressive", "cjpeg -progressive SRC > DST"},
    {"restart markers", "cjpeg -restart 2 SRC > DST"},
    {"grey", "cjpeg -grayscale SRC > DST"},
    {"odd size, oriented", "convert SRC -crop 37x29+0+0 -quality 80 DST && "
                           "exiftool -q -overwrite_original -Orientation#=6 DST"},
};

std::string Fill(std::string command, const std::string& src, const std::string& dst) {
    command.replace(command.find("SRC"), 3, vt::ShellQuote(src));
    for (size_t at; (at = command.find("DST")) != std::string::npos;)
        command.replace(at, 3, vt::ShellQuote(dst));
    return command;
}

TEST(LosslessJpeg, IntoJpegXlAndBackGivesTheSameBytes) {
    vt::TempDir dir;
    const std::string ppm = dir.file("src.ppm");
    if (vt::RunCommand("convert -size 64x48 gradient:orange-navy -swirl 90 " + vt::ShellQuote(ppm)) ||
        vt::RunCommand("command -v cjpeg djxl exiftool >/dev/null"))
        GTEST_SKIP() << "ImageMagick, cjpeg, djxl or exiftool is not available";
    int n = 0;
    for (const auto& kind : kJpegs) {
        SCOPED_TRACE(kind.name);
        const std::string jpg = dir.file("k" + std::to_string(++n) + ".jpg");
        ASSERT_EQ(vt::RunCommand(Fill(kind.make, ppm, jpg)), 0);
        const std::string out = dir.file("jxl" + std::to_string(n));
        const Row there = Convert(jpg, VX_FORMAT_JXL, ".jxl", out);
        ASSERT_TRUE(there.converted) << there.method;
        EXPECT_EQ(there.method, "coefficients, reversible");
        EXPECT_EQ(there.decodes, 0) << "a direct way needs no pixels";
        const std::string jxl = out + "/main1.jxl";
        ASSERT_EQ(vt::RunCommand("djxl " + vt::ShellQuote(jxl) + " " +
                                 vt::ShellQuote(out + "/djxl.jpg") + " >/dev/null 2>&1"),
                  0);
        EXPECT_EQ(vt::ReadFileBytes(out + "/djxl.jpg"), vt::ReadFileBytes(jpg));
        const Row back = Convert(jxl, VX_FORMAT_JPG, ".jpg", out + "/back");
        ASSERT_TRUE(back.converted) << back.method;
        EXPECT_EQ(back.method, "rebuilt original");
        EXPECT_EQ(vt::ReadFileBytes(out + "/back/main1.jpg"), vt::ReadFileBytes(jpg));
    }
    // A chosen quality, a new size or strip need the pixels; so does a JPEG XL
    // file coded from pixels on its way to JPEG.
    const std::string jpg = dir.file("k1.jpg");
    const std::function<void(batch::RunOptions&)> pixelRows[] = {
        [](batch::RunOptions& o) { o.qualityGiven = true; },
        [](batch::RunOptions& o) { o.steps.resize = {vx::ResizeRequest::Kind::Percent, 0, 0, 50}; },
        [](batch::RunOptions& o) { o.steps.strip = true; },
    };
    for (const auto& tweak : pixelRows) {
        const Row r = Convert(jpg, VX_FORMAT_JXL, ".jxl", dir.file("pixels" + std::to_string(++n)), tweak);
        EXPECT_TRUE(r.converted);
        EXPECT_EQ(r.method, "");
        EXPECT_EQ(r.decodes, 1);
    }
    const std::string fromPixels = dir.file("pixels" + std::to_string(n)) + "/main1.jxl";
    const Row r = Convert(fromPixels, VX_FORMAT_JPG, ".jpg", dir.file("fallback"));
    EXPECT_TRUE(r.converted);
    EXPECT_EQ(r.method, "pixels (JPEG XL: the file keeps no original JPEG to rebuild)");
}

// JPEG to JPEG turns by the coefficients: the pixels equal jpegtran's turn of
// the same file, the EXIF says upright, and sizes the turn cannot keep whole
// go through the pixels unless trimming is asked for.
TEST(LosslessJpeg, TurnsUprightAsJpegtranDoes) {
    vt::TempDir dir;
    const std::string ppm = dir.file("src.ppm");
    if (vt::RunCommand("convert -size 64x48 gradient:orange-navy -swirl 90 " + vt::ShellQuote(ppm)) ||
        vt::RunCommand("command -v cjpeg djpeg jpegtran exiftool >/dev/null"))
        GTEST_SKIP() << "ImageMagick, libjpeg's tools or exiftool is not available";
    const auto pixels = [&](const std::string& jpg) {
        const std::string out = jpg + ".ppm";
        EXPECT_EQ(vt::RunCommand("djpeg -ppm " + vt::ShellQuote(jpg) + " > " + vt::ShellQuote(out)), 0);
        return vt::ReadFileBytes(out);
    };
    const struct {
        int orientation;
        const char* crop;  // "" keeps 64x48, whole 16-pixel blocks
        bool trim;
        const char* turn;  // jpegtran's
        const char* method;
    } kCases[] = {
        {1, "", false, "", "coefficients"},
        {2, "", false, "-flip horizontal", "coefficients, turned upright"},
        {3, "", false, "-rotate 180", "coefficients, turned upright"},
        {4, "", false, "-flip vertical", "coefficients, turned upright"},
        {5, "", false, "-transpose", "coefficients, turned upright"},
        {6, "", false, "-rotate 90", "coefficients, turned upright"},
        {7, "", false, "-transverse", "coefficients, turned upright"},
        {8, "", false, "-rotate 270", "coefficients, turned upright"},
        {6, "37x29", true, "-rotate 90 -trim", "coefficients, turned upright, edge trimmed"},
        {3, "37x29", false, nullptr, "pixels (its size is not a whole number of blocks"},
    };
    int n = 0;
    for (const auto& c : kCases) {
        SCOPED_TRACE(std::to_string(c.orientation) + " " + c.crop);
        const std::string base = dir.file("t" + std::to_string(++n));
        std::string source = ppm;
        if (*c.crop) {
            source = base + "-crop.ppm";
            ASSERT_EQ(vt::RunCommand("convert " + vt::ShellQuote(ppm) + " -crop " + c.crop +
                                     "+0+0 +repage " + vt::ShellQuote(source)), 0);
        }
        const std::string jpg = base + ".jpg";
        ASSERT_EQ(vt::RunCommand("cjpeg -sample 2x2 -progressive " + vt::ShellQuote(source) +
                                 " > " + vt::ShellQuote(jpg) +
                                 " && exiftool -q -overwrite_original -Orientation#=" +
                                 std::to_string(c.orientation) + " " + vt::ShellQuote(jpg)), 0);
        const Row row = Convert(jpg, VX_FORMAT_JPG, ".jpg", base,
                                [&](batch::RunOptions& o) { o.losslessTrim = c.trim; });
        ASSERT_TRUE(row.converted) << row.method;
        EXPECT_EQ(row.method.rfind(c.method, 0), 0u) << row.method;
        if (!c.turn) continue;
        const std::string ours = base + "/main1.jpg", theirs = base + "-jpegtran.jpg";
        ASSERT_EQ(vt::RunCommand(std::string("jpegtran -copy none ") + c.turn + " " +
                                 vt::ShellQuote(jpg) + " > " + vt::ShellQuote(theirs)), 0);
        EXPECT_EQ(pixels(ours), pixels(theirs));
        EXPECT_EQ(vt::RunCommand("exiftool -n -s3 -Orientation " + vt::ShellQuote(ours) +
                                 " | grep -qx 1"), 0);
        // Progressive stays progressive (SOF2).
        const std::vector<uint8_t> bytes = vt::ReadFileBytes(ours);
        const uint8_t sof2[] = {0xFF, 0xC2};
        EXPECT_NE(std::search(bytes.begin(), bytes.end(), std::begin(sof2), std::end(sof2)), bytes.end());
    }
    // --strip leaves every segment out and stays lossless.
    const Row stripped = Convert(dir.file("t1.jpg"), VX_FORMAT_JPG, ".jpg", dir.file("strip"),
                                 [](batch::RunOptions& o) { o.steps.strip = true; });
    EXPECT_EQ(stripped.method, "coefficients, metadata left out");
    EXPECT_EQ(pixels(dir.file("strip") + "/main1.jpg"), pixels(dir.file("t1.jpg")));
    EXPECT_NE(vt::RunCommand("exiftool -q -EXIF:all " + vt::ShellQuote(dir.file("strip") + "/main1.jpg") +
                             " | grep -q ."), 0);
}

// --lossless: each row keeps every pixel or fails saying why.
TEST(LosslessJpeg, LosslessRunsKeepEveryPixelOrFail) {
    vt::TempDir dir;
    const std::string png = dir.file("src.png"), odd = dir.file("odd.jpg");
    if (vt::RunCommand("convert -size 40x30 gradient:orange-navy -swirl 90 -depth 8 " + vt::ShellQuote(png)) ||
        vt::RunCommand("convert " + vt::ShellQuote(png) + " -quality 80 " + vt::ShellQuote(odd) +
                       " && exiftool -q -overwrite_original -Orientation#=6 " + vt::ShellQuote(odd)))
        GTEST_SKIP() << "ImageMagick or exiftool is not available";
    const struct {
        const std::string& source;
        ImageFormat target;
        const char* ext;
        const char* failure;  // nullptr: converts, verified exact
    } kCases[] = {
        {png, VX_FORMAT_WEBP, ".webp", nullptr},
        {png, VX_FORMAT_TIF, ".tif", nullptr},
        {png, VX_FORMAT_JXL, ".jxl", nullptr},
        {png, VX_FORMAT_GIF, ".gif", "cannot be written losslessly: GIF cannot hold"},
        {png, VX_FORMAT_HEIF, ".heic", "cannot be written losslessly: HEIC is lossy"},
        {odd, VX_FORMAT_JPG, ".jpg", "cannot be written losslessly: JPG without decoding: its size"},
    };
    int n = 0;
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.ext);
        const Row row = Convert(c.source, c.target, c.ext, dir.file("out" + std::to_string(++n)),
                                [](batch::RunOptions& o) { o.steps.lossless = true; });
        EXPECT_EQ(row.converted, c.failure == nullptr) << row.method;
        if (c.failure) {
            EXPECT_NE(row.method.find(c.failure), std::string::npos) << row.method;
        }
    }
}

// --lossless JPEG into TIFF: the JPEG becomes the page's strip, which Pillow
// decodes to the JPEG's own pixels; without --lossless the pixels are coded
// again; a JPEG the page cannot state goes through the pixels.
TEST(LosslessJpeg, IntoTiffByItsCoefficients) {
    vt::TempDir dir;
    const std::string ppm = dir.file("src.ppm");
    if (vt::RunCommand("convert -size 64x48 gradient:orange-navy -swirl 90 " + vt::ShellQuote(ppm)) ||
        vt::RunCommand("command -v cjpeg exiftool >/dev/null") ||
        !vt::ReferenceAvailable(vt::Reference::Pillow))
        GTEST_SKIP() << "ImageMagick, cjpeg, exiftool or Pillow is not available";
    int n = 0;
    for (const auto& kind : kJpegs) {
        SCOPED_TRACE(kind.name);
        const std::string jpg = dir.file("k" + std::to_string(++n) + ".jpg");
        ASSERT_EQ(vt::RunCommand(Fill(kind.make, ppm, jpg)), 0);
        const std::string out = dir.file("tif" + std::to_string(n));
        const Row row = Convert(jpg, VX_FORMAT_TIF, ".tif", out,
                                [](batch::RunOptions& o) { o.steps.lossless = true; });
        ASSERT_TRUE(row.converted) << row.method;
        const bool odd = std::string(kind.name).find("odd") == 0;
        EXPECT_EQ(row.method.rfind(odd ? "pixels (its size" : "coefficients", 0), 0u) << row.method;
        if (odd) continue;
        const auto ours = vt::DecodeWithReference(out + "/main1.tif");
        const auto source = vt::DecodeWithReference(jpg);
        ASSERT_TRUE(ours && source);
        EXPECT_EQ(ours->px, source->px);
        const Row back = Convert(out + "/main1.tif", VX_FORMAT_JPG, ".jpg", out + "/back",
                                 [](batch::RunOptions& o) { o.steps.lossless = true; });
        EXPECT_EQ(back.method, "coefficients");
        EXPECT_EQ(vt::DecodeWithReference(out + "/back/main1.jpg")->px, source->px);
    }
    const std::string cmyk = dir.file("cmyk.jpg");
    ASSERT_EQ(vt::RunCommand("convert " + vt::ShellQuote(ppm) + " -colorspace CMYK " + vt::ShellQuote(cmyk)), 0);
    EXPECT_EQ(Convert(cmyk, VX_FORMAT_TIF, ".tif", dir.file("cmyk"),
                      [](batch::RunOptions& o) { o.steps.lossless = true; }).method.rfind("pixels (", 0), 0u);
    EXPECT_EQ(Convert(dir.file("k1.jpg"), VX_FORMAT_TIF, ".tif", dir.file("plain")).method, "");
}

}  // namespace
