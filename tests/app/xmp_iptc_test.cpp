// XMP packets and IPTC records through every target that holds them, written
// and read back by exiftool, and source dates kept with keepDates.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/batch/run_driver.h"
#include "core/vx_format.h"
#include "tests/support/test_support.h"

namespace {

namespace batch = vellumar::batch;

const char kCreator[] = "Ana Lima";
const char kCaption[] = "Harbour at dawn";

// What exiftool reads of the two fields: "creator|caption", a side empty when
// the file lacks it.
std::string Fields(const vt::TempDir& dir, const std::string& file) {
    const std::string out = dir.file("fields.txt");
    vt::RunCommand("exiftool -q -s3 -f -XMP-dc:Creator -IPTC:Caption-Abstract " +
                   vt::ShellQuote(file) + " > " + vt::ShellQuote(out) + " 2>/dev/null");
    std::ifstream in(out);
    std::string creator, caption;
    std::getline(in, creator);
    std::getline(in, caption);
    if (creator == "-") creator.clear();
    if (caption == "-") caption.clear();
    return creator + "|" + caption;
}

bool Convert(const std::string& src, ImageFormat target, const char* ext, const std::string& out,
             bool strip, bool keepDates = false) {
    std::filesystem::create_directories(out);
    batch::RunOptions opt;
    opt.target = target;
    opt.extension = ext;
    opt.outDir = out;
    opt.steps.strip = strip;
    opt.keepDates = keepDates;
    opt.qualityGiven = true;  // the writers under test, not a JPEG's way into JPEG XL
    batch::RunCallbacks cb;
    std::string why;
    cb.onRowDone = [&](int, const batch::RowResult& r) { why = r.error; };
    const batch::RunSummary s = batch::RunRows({src}, opt, cb);
    EXPECT_EQ(s.refusal + why, "");
    return s.converted == 1;
}

struct Target {
    ImageFormat format;
    const char* ext;
    bool iptc;
};
const Target kTargets[] = {
    {VX_FORMAT_JPG, ".jpg", true},   {VX_FORMAT_TIF, ".tif", true},
    {VX_FORMAT_PNG, ".png", false},  {VX_FORMAT_WEBP, ".webp", false},
    {VX_FORMAT_HEIF, ".heic", false}, {VX_FORMAT_AVIF, ".avif", false},
    {VX_FORMAT_JXL, ".jxl", false},  {VX_FORMAT_BMP, ".bmp", false},
};

// Each target keeps what it can hold; converting its file back to JPEG
// shows that the reader finds the packet again; strip drops everything.
TEST(XmpIptc, CarriedWhereTheTargetHoldsThem) {
    vt::TempDir dir;
    const std::string src = dir.file("src.jpg");
    if (vt::RunCommand("convert -size 32x24 gradient:red-blue " + vt::ShellQuote(src) +
                       " && exiftool -q -overwrite_original -XMP-dc:Creator='" + kCreator +
                       "' -IPTC:Caption-Abstract='" + kCaption + "' " + vt::ShellQuote(src)) != 0)
        GTEST_SKIP() << "ImageMagick or exiftool is not available";
    ASSERT_EQ(Fields(dir, src), std::string(kCreator) + "|" + kCaption);
    for (const Target& t : kTargets) {
        SCOPED_TRACE(t.ext);
        const std::string out = dir.file(std::string("out") + (t.ext + 1));
        ASSERT_TRUE(Convert(src, t.format, t.ext, out, false));
        const std::string file = out + "/main1" + t.ext;
        const bool xmp = t.format != VX_FORMAT_BMP;
        const std::string want =
            std::string(xmp ? kCreator : "") + "|" + (t.iptc ? kCaption : "");
        EXPECT_EQ(Fields(dir, file), want);
        ASSERT_TRUE(Convert(file, VX_FORMAT_JPG, ".jpg", out + "/back", false));
        EXPECT_EQ(Fields(dir, out + "/back/main1.jpg"), want);
        ASSERT_TRUE(Convert(src, t.format, t.ext, out + "/strip", true));
        EXPECT_EQ(Fields(dir, out + "/strip/main1" + t.ext), "|");
    }
}

TEST(XmpIptc, KeepDatesGivesTheSourcesTimes) {
    vt::TempDir dir;
    const std::string src = dir.file("old.png");
    VxImage img = vt::MakeGradient24(8, 8);
    ASSERT_TRUE(img.Save(src.c_str(), VX_FORMAT_PNG));
    const timespec times[2] = {{1000000000, 0}, {1200000000, 500}};
    ASSERT_EQ(utimensat(AT_FDCWD, src.c_str(), times, 0), 0);
    for (const bool keep : {true, false}) {
        const std::string out = dir.file(keep ? "kept" : "plain");
        ASSERT_TRUE(Convert(src, VX_FORMAT_BMP, ".bmp", out, false, keep));
        struct stat st {};
        ASSERT_EQ(stat((out + "/main1.bmp").c_str(), &st), 0);
        EXPECT_EQ(st.st_mtim.tv_sec == 1200000000 && st.st_mtim.tv_nsec == 500, keep);
    }
}

}  // namespace
