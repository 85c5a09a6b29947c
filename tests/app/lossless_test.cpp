// JPEG files into JPEG XL by their coefficients and back to the same bytes,
// checked with the format's own tools; rows that need the pixels take them.
#include <gtest/gtest.h>

#include <filesystem>

#include "app/batch/run_driver.h"
#include "core/vx_format.h"
#include "tests/support/test_support.h"

namespace {

namespace batch = vellumar::batch;
namespace fs = std::filesystem;

struct Row {
    bool converted;
    std::string method;
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
    row.converted = batch::RunRows({src}, opt, cb).converted == 1;
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
    }
    const std::string fromPixels = dir.file("pixels" + std::to_string(n)) + "/main1.jxl";
    const Row r = Convert(fromPixels, VX_FORMAT_JPG, ".jpg", dir.file("fallback"));
    EXPECT_TRUE(r.converted);
    EXPECT_EQ(r.method, "pixels (JPEG XL: the file keeps no original JPEG to rebuild)");
}

}  // namespace
