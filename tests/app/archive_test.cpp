// What archive runs rely on: resuming an interrupted run, the report of every
// row, checking each written file, names that do not clash with what is there,
// and a file size aimed at.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>

#include "app/batch/row_output.h"
#include "app/batch/run_driver.h"
#include "tests/support/test_support.h"

namespace {

namespace fs = std::filesystem;
namespace batch = vellumar::batch;

std::map<std::string, std::vector<uint8_t>> Files(const std::string& dir) {
    std::map<std::string, std::vector<uint8_t>> out;
    if (fs::is_directory(dir))
        for (const auto& e : fs::directory_iterator(dir))
            out[e.path().filename()] = vt::ReadFileBytes(e.path());
    return out;
}

int RunCli(std::vector<std::string> args, int killAfterFiles = 0, int sig = 0,
           const std::string& watch = {}) {
    args.insert(args.begin(), VELLUMAR_CLI);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    EXPECT_EQ(posix_spawn(&pid, VELLUMAR_CLI, &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    if (sig) {
        for (int polls = 0; polls < 100000; ++polls) {
            if (waitpid(pid, &status, WNOHANG) == pid) return status;
            if (int(Files(watch).size()) >= killAfterFiles) break;
            usleep(200);
        }
        kill(pid, sig);
    }
    EXPECT_EQ(waitpid(pid, &status, 0), pid);
    return status;
}

// A run cut short by SIGINT or SIGKILL and run again with --if-exists skip
// ends with the files of a run that was never interrupted.
TEST(ArchiveRun, InterruptedRunResumedWithSkip) {
    vt::TempDir dir;
    std::vector<std::string> sources;
    for (int i = 0; i < 24; ++i) {
        VxImage img = vt::MakeGradient24(1000 + i, 800);
        sources.push_back(dir.file("s" + std::to_string(i) + ".bmp"));
        ASSERT_TRUE(img.Save(sources.back().c_str(), VX_FORMAT_BMP));
    }
    auto args = [&](const std::string& out, bool skip) {
        std::vector<std::string> a = {"--to", "PNG", "--jobs", "2", "--out-dir", out};
        if (skip) a.insert(a.end(), {"--if-exists", "skip"});
        a.insert(a.end(), sources.begin(), sources.end());
        return a;
    };
    ASSERT_EQ(RunCli(args(dir.file("whole"), false)), 0);
    const auto whole = Files(dir.file("whole"));
    ASSERT_EQ(whole.size(), sources.size());
    for (const int sig : {SIGINT, SIGKILL}) {
        const std::string out = dir.file("cut" + std::to_string(sig));
        RunCli(args(out, false), 6, sig, out);
        EXPECT_EQ(WEXITSTATUS(RunCli(args(out, true))), 0);
        EXPECT_EQ(Files(out), whole) << "signal " << sig;
    }
}

// One report line per row, each status as the files on the disk show it.
TEST(ArchiveRun, ReportMatchesTheFiles) {
    vt::TempDir dir;
    const std::string out = dir.file("out");
    fs::create_directory(out);
    ASSERT_TRUE(vt::WriteFileBytes(out + "/main2.PNG", {'o', 'l', 'd'}));
    ASSERT_TRUE(vt::WriteFileBytes(dir.file("bad.png"), std::vector<uint8_t>(40, 'x')));
    for (const char* name : {"r.jsonl", "r.csv"}) {
        const std::string report = dir.file(name);
        RunCli({"--to", "PNG", "--keep-going", "--if-exists", "skip", "--out-dir", out,
                "--report", report, vt::DataPath("bmp/bits24.bmp"), vt::DataPath("bmp/rle8.bmp"),
                dir.file("bad.png")});
        std::ifstream in(report);
        std::vector<std::string> lines;
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        const bool csv = std::string(name) == "r.csv";
        ASSERT_EQ(lines.size(), csv ? 4u : 3u) << name;
        const std::vector<std::string> want = {"converted", "skipped", "failed"};
        for (size_t row = 0; row < 3; ++row) {
            const std::string& line = lines[row + (csv ? 1 : 0)];
            EXPECT_NE(line.find(csv ? "," + want[row] + "," : "\"status\": \"" + want[row] + "\""),
                      std::string::npos)
                << line;
        }
        const auto size = std::to_string(fs::file_size(out + "/main1.PNG"));
        EXPECT_NE(lines[csv ? 1 : 0].find(csv ? "," + size + "," : "\"output_bytes\": " + size),
                  std::string::npos);
        EXPECT_EQ(vt::ReadFileBytes(out + "/main2.PNG"), (std::vector<uint8_t>{'o', 'l', 'd'}));
        fs::remove(out + "/main1.PNG");
    }
}

struct Outcome {
    std::vector<batch::RowResult> rows;
    batch::RunSummary summary;
};

Outcome RunRowsOf(const std::vector<std::string>& files, batch::RunOptions opt) {
    Outcome o;
    batch::RunCallbacks cb;
    cb.onRowDone = [&](int, const batch::RowResult& r) { o.rows.push_back(r); };
    o.summary = batch::RunRows(files, opt, cb);
    return o;
}

batch::RunOptions Options(const std::string& out, ImageFormat target, const char* ext) {
    batch::RunOptions opt;
    opt.target = target;
    opt.extension = ext;
    opt.outDir = out;
    opt.keepGoing = true;
    return opt;
}

// --verify reads each file back: a damaged one fails its row and is not put
// in place, the file it would have replaced stays; good files pass, lossy
// ones with their PSNR.
TEST(ArchiveRun, VerifyCatchesADamagedFile) {
    vt::TempDir dir;
    const std::string photo = VELLUMAR_SOURCE_DIR "/samples/sunset.jpg";
    ASSERT_TRUE(vt::WriteFileBytes(dir.file("main1.PNG"), {'o', 'l', 'd'}));
    for (const auto& [target, ext] : {std::pair{VX_FORMAT_PNG, ".PNG"}, {VX_FORMAT_JPG, ".JPG"},
                                      {VX_FORMAT_WEBP, ".WEBP"}, {VX_FORMAT_GIF, ".GIF"}}) {
        batch::RunOptions opt = Options(dir.path(), target, ext);
        opt.verify = true;
        opt.prefix = "good";
        const Outcome good = RunRowsOf({photo}, opt);
        ASSERT_EQ(good.summary.converted, 1) << ext << good.rows[0].error;
        EXPECT_GE(good.rows[0].psnr, batch::kVerifyFloorDb) << ext;
        opt.prefix = "main";
        opt.afterEncode = [](const std::string& tmp) {
            auto bytes = vt::ReadFileBytes(tmp);
            bytes.resize(bytes.size() / 2);
            ASSERT_TRUE(vt::WriteFileBytes(tmp, bytes));
        };
        const Outcome bad = RunRowsOf({photo}, opt);
        EXPECT_EQ(bad.summary.failed, 1) << ext;
        EXPECT_NE(bad.rows[0].error.find("verification failed"), std::string::npos)
            << bad.rows[0].error;
    }
    EXPECT_EQ(vt::ReadFileBytes(dir.file("main1.PNG")), (std::vector<uint8_t>{'o', 'l', 'd'}));
    EXPECT_FALSE(vt::FileExists(dir.file("main1.JPG")));
}

// A translucent picture into lossy JPEG XL verifies: colours count as much as
// they show, so the coder's freedom under nearly clear pixels (alpha 0 read
// back as 1) is not a difference.
TEST(ArchiveRun, VerifyWeighsColoursByTheirAlpha) {
    vt::TempDir dir;
    batch::RunOptions opt = Options(dir.path(), VX_FORMAT_JXL, ".JXL");
    opt.verify = true;
    const Outcome out = RunRowsOf({vt::DataPath("png/pal4_alpha.png")}, opt);
    ASSERT_EQ(out.summary.converted, 1) << out.rows[0].error;
    EXPECT_GE(out.rows[0].psnr, batch::kVerifyFloorDb);
}

// A deep picture is checked sample for sample: one bit changed below the
// top eight fails the row.
TEST(ArchiveRun, VerifyComparesDeepSamples) {
    vt::TempDir dir;
    batch::RunOptions opt = Options(dir.path(), VX_FORMAT_PNM, ".PNM");
    opt.verify = true;
    opt.afterEncode = [](const std::string& tmp) {
        auto bytes = vt::ReadFileBytes(tmp);
        bytes.back() ^= 1;  // the low byte of the last sample
        ASSERT_TRUE(vt::WriteFileBytes(tmp, bytes));
    };
    const Outcome out = RunRowsOf({vt::DataPath("png/rgb16.png")}, opt);
    ASSERT_EQ(out.summary.failed, 1);
    EXPECT_NE(out.rows[0].error.find("in its 16-bit samples"), std::string::npos)
        << out.rows[0].error;
}

// rename writes beside what is there; newer converts only newer sources.
TEST(ArchiveRun, ExistingFilesRenamedOrKeptWhenNewer) {
    vt::TempDir dir;
    ASSERT_TRUE(vt::WriteFileBytes(dir.file("main1.BMP"), {'a'}));
    ASSERT_TRUE(vt::WriteFileBytes(dir.file("main1 (2).BMP"), {'b'}));
    batch::RunOptions opt = Options(dir.path(), VX_FORMAT_BMP, ".BMP");
    opt.ifExists = batch::IfExists::Rename;
    const auto src = vt::DataPath("bmp/bits8.bmp");
    EXPECT_EQ(RunRowsOf({src, src}, opt).summary.converted, 2);
    EXPECT_TRUE(vt::FileExists(dir.file("main1 (3).BMP")));
    EXPECT_TRUE(vt::FileExists(dir.file("main2.BMP")));
    EXPECT_EQ(vt::ReadFileBytes(dir.file("main1.BMP")), std::vector<uint8_t>{'a'});
    // The outputs are newer than the fixture: nothing to do, until the source is touched.
    opt.ifExists = batch::IfExists::Newer;
    opt.prefix = "main";
    const std::string copy = dir.file("src.bmp");
    fs::copy_file(src, copy);
    fs::last_write_time(copy, fs::last_write_time(dir.file("main2.BMP")) - std::chrono::hours(1));
    EXPECT_EQ(RunRowsOf({src, copy}, opt).summary.skipped, 2);
    fs::last_write_time(copy, fs::last_write_time(dir.file("main2.BMP")) + std::chrono::hours(1));
    EXPECT_EQ(RunRowsOf({src, copy}, opt).summary.converted, 1);
}

// --target-size: the file fits in at most eight encodes, at the highest
// quality that fits; one that cannot fit says how close it came.
TEST(ArchiveRun, TargetSizeIsMetWithinABoundedSearch) {
    vt::TempDir dir;
    const std::string photo = VELLUMAR_SOURCE_DIR "/samples/sunset.jpg";
    for (const auto& [target, ext] :
         {std::pair{VX_FORMAT_JPG, ".JPG"}, {VX_FORMAT_WEBP, ".WEBP"}, {VX_FORMAT_JXL, ".JXL"}}) {
        for (const uint64_t bytes : {uint64_t(4000), uint64_t(12000)}) {
            batch::RunOptions opt = Options(dir.path(), target, ext);
            opt.targetSize = bytes;
            opt.prefix = std::to_string(bytes);
            const Outcome o = RunRowsOf({photo}, opt);
            ASSERT_EQ(o.summary.converted, 1) << ext << " " << o.rows[0].error;
            EXPECT_LE(o.rows[0].outputBytes, bytes) << ext;
            EXPECT_LE(o.rows[0].encodes, 8) << ext;
            EXPECT_EQ(fs::file_size(o.rows[0].output), o.rows[0].outputBytes);
            if (o.rows[0].quality < 100) {
                // One step up would not have fitted.
                VxImage img(0), up(0);
                ASSERT_TRUE(img.Load(photo.c_str(), VX_FORMAT_JPG));
                img.SetJpegQuality(uint8_t(o.rows[0].quality + 1));
                uint8_t* buffer = nullptr;
                int32_t size = 0;
                ASSERT_TRUE(img.Encode(buffer, size, target));
                std::free(buffer);
                EXPECT_GT(uint64_t(size), bytes) << ext;
            }
        }
    }
    batch::RunOptions opt = Options(dir.path(), VX_FORMAT_JPG, ".JPG");
    opt.targetSize = 100;
    const Outcome o = RunRowsOf({photo}, opt);
    ASSERT_EQ(o.summary.failed, 1);
    EXPECT_NE(o.rows[0].error.find("the smallest is"), std::string::npos) << o.rows[0].error;
}

}  // namespace

namespace {

// Several formats and sizes from one decode of each source: each output a
// row of its own, named by {size} and {ext}; no size larger than the picture.
TEST(ArchiveRun, SeveralOutputsFromOneDecode) {
    vt::TempDir dir;
    const std::string photo = VELLUMAR_SOURCE_DIR "/samples/sunset.jpg";  // 320 x 200
    const std::string small = vt::DataPath("bmp/bits24.bmp");
    batch::RunOptions opt = Options(dir.path(), VX_FORMAT_WEBP, ".WEBP");
    opt.alsoTo = {{VX_FORMAT_PNG, ".PNG"}};
    ASSERT_TRUE(vx::ParseResizeRequest("300x", opt.steps.resize));
    opt.alsoSizes.resize(1);
    ASSERT_TRUE(vx::ParseResizeRequest("100x", opt.alsoSizes[0]));
    opt.nameTemplate = "{row:02}-{name}-{size}.{ext}";
    const Outcome o = RunRowsOf({photo, small}, opt);
    EXPECT_EQ(o.summary.decodes, 2);
    // The small picture (37 wide) has neither size: its four rows are skipped.
    EXPECT_EQ(o.summary.converted, 4);
    EXPECT_EQ(o.summary.skipped, 4);
    std::vector<std::string> names;
    for (const auto& [name, bytes] : Files(dir.path())) names.push_back(name);
    EXPECT_EQ(names, (std::vector<std::string>{"01-sunset-300.webp", "02-sunset-300.png",
                                               "03-sunset-100.webp", "04-sunset-100.png"}));
    VxImage png(0);
    ASSERT_TRUE(png.Load(dir.file("04-sunset-100.png").c_str(), VX_FORMAT_PNG));
    EXPECT_EQ(png.GetWidth(), 100u);
    for (const auto& r : o.rows) {
        if (r.outcome == batch::RowOutcome::Skipped) {
            EXPECT_NE(r.error.find("sizes never enlarge"), std::string::npos) << r.error;
        }
    }
}

}  // namespace
