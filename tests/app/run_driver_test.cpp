#include "app/batch/run_driver.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <mutex>

#include <sys/stat.h>
#include <unistd.h>

#include "app/batch/commit_journal.h"
#include "app/batch/memory_budget.h"
#include "core/vx_save_path.h"
#include "tests/codecs/metafile/mf_test_builder.h"
#include "tests/support/test_support.h"

namespace {

namespace batch = vellumar::batch;

std::vector<std::string> Entries(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

struct Record {
    std::atomic<int> begun{0};
    int begunWhenStopped = -1;
    std::vector<int> started;
    std::vector<std::pair<int, batch::RowOutcome>> done;
    std::vector<std::string> errors;
    batch::RunSummary summary;
};

// Runs `files` into `dir` named <prefix><row>.BMP (or .GIF); `onDone` may act on each report.
std::unique_ptr<Record> RunInto(const std::string& dir, const std::string& prefix,
                                const std::vector<std::string>& files, int jobs, bool keepGoing,
                                const batch::CancelFlag* cancel = nullptr,
                                std::function<void(int)> onDone = nullptr,
                                ImageFormat target = VX_FORMAT_BMP) {
    auto rec = std::make_unique<Record>();
    batch::RunOptions opt;
    opt.target = target;
    opt.extension = target == VX_FORMAT_GIF ? ".GIF" : ".BMP";
    opt.outDir = dir;
    opt.prefix = prefix;
    opt.jobs = jobs;
    opt.keepGoing = keepGoing;
    batch::RunCallbacks cb;
    cb.onRowBegun = [r = rec.get()](int) { ++r->begun; };
    cb.onRowStart = [r = rec.get()](int row) { r->started.push_back(row); };
    cb.onRowDone = [r = rec.get(), onDone](int row, const batch::RowResult& res) {
        r->done.emplace_back(row, res.outcome);
        r->errors.push_back(res.error);
        if (res.outcome != batch::RowOutcome::Done && r->begunWhenStopped < 0)
            r->begunWhenStopped = r->begun;
        if (onDone) onDone(row);
    };
    rec->summary = batch::RunRows(files, opt, cb, cancel);
    return rec;
}

class RunDriver : public ::testing::TestWithParam<int> {
protected:
    RunDriver() { vt::WriteFileBytes(bad, std::vector<uint8_t>(100, 'z')); }
    std::vector<std::string> Good(int n) const {
        std::vector<std::string> files;
        for (int i = 0; i < n; ++i)
            files.push_back(vt::DataPath(i % 3 == 0   ? "bmp/bits24.bmp"
                                         : i % 3 == 1 ? "bmp/rle8.bmp"
                                                      : "bmp/bits1.bmp"));
        return files;
    }
    vt::TempDir src;
    vt::TempDir out;
    const std::string bad = src.file("broken.bmp");
};

INSTANTIATE_TEST_SUITE_P(Jobs, RunDriver, ::testing::Values(1, 3));

TEST_P(RunDriver, StopsAtTheFirstFailureOrKeepsGoing) {
    auto files = Good(9);
    files[2] = bad;
    for (const bool keepGoing : {false, true}) {
        const std::string p = keepGoing ? "k" : "s";
        const auto rec = RunInto(out.path(), p, files, GetParam(), keepGoing);
        EXPECT_EQ(rec->summary.failed, 1);
        EXPECT_EQ(rec->summary.converted, keepGoing ? 8 : 2);
        EXPECT_EQ(rec->summary.stoppedEarly, !keepGoing);
        ASSERT_EQ(rec->done.size(), keepGoing ? 9u : 3u);
        for (size_t k = 0; k < rec->done.size(); ++k) {
            EXPECT_EQ(rec->done[k].first, int(k) + 1) << "reported in row order";
            EXPECT_EQ(rec->done[k].second, k == 2 ? batch::RowOutcome::DecodeFailed
                                                  : batch::RowOutcome::Done);
        }
        EXPECT_FALSE(rec->errors[2].empty());
        for (size_t k = 0; k < rec->started.size(); ++k) EXPECT_EQ(rec->started[k], int(k) + 1);
        EXPECT_EQ(rec->started.size(), rec->done.size());
        if (!keepGoing) {
            EXPECT_EQ(rec->begun, rec->begunWhenStopped) << "no row begins after a failure";
        }
    }
    // No file of a row after the stop, and no temporary file, remains.
    std::vector<std::string> expected = {"s1.BMP", "s2.BMP"};
    for (int row : {1, 2, 4, 5, 6, 7, 8, 9}) expected.push_back("k" + std::to_string(row) + ".BMP");
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(Entries(out.path()), expected);
}

TEST_P(RunDriver, SameBytesWhateverTheWorkers) {
    const auto files = Good(7);
    RunInto(out.path(), "one", files, 1, false, nullptr, nullptr, VX_FORMAT_GIF);
    const auto rec = RunInto(out.path(), "par", files, GetParam() + 1, false, nullptr, nullptr,
                             VX_FORMAT_GIF);
    EXPECT_EQ(rec->summary.converted, 7);
    for (int row = 1; row <= 7; ++row) {
        const std::string n = std::to_string(row) + ".GIF";
        EXPECT_EQ(vt::ReadFileBytes(out.file("one" + n)), vt::ReadFileBytes(out.file("par" + n)));
    }
}

// A failure found only when the file is put in place (its name is taken by a
// folder) stops the run like any other.
TEST_P(RunDriver, FailedCommitStopsTheRun) {
    std::filesystem::create_directory(out.file("c2.BMP"));
    const auto rec = RunInto(out.path(), "c", Good(8), GetParam(), false);
    ASSERT_EQ(rec->done.size(), 2u);
    EXPECT_EQ(rec->done[1].second, batch::RowOutcome::EncodeFailed);
    EXPECT_NE(rec->errors[1].find("Is a directory"), std::string::npos) << rec->errors[1];
    EXPECT_EQ(rec->begun, rec->begunWhenStopped);
    EXPECT_EQ(Entries(out.path()), (std::vector<std::string>{"c1.BMP", "c2.BMP"}));
}

// A cancel keeps the rows already reported and leaves nothing of the others.
TEST_P(RunDriver, CancelKeepsFinishedRowsOnly) {
    batch::CancelFlag cancel;
    const auto rec = RunInto(out.path(), "x", Good(12), GetParam(), false, &cancel,
                             [&](int row) {
                                 if (row == 3) cancel.Request();
                             });
    EXPECT_TRUE(rec->summary.cancelled);
    EXPECT_EQ(rec->summary.converted, 3);
    EXPECT_EQ(rec->done.size(), 3u);
    EXPECT_EQ(Entries(out.path()), (std::vector<std::string>{"x1.BMP", "x2.BMP", "x3.BMP"}));
}

// Twelve pictures main1 ... main12 converted into their own folder, listed as
// a shell sorts them (main1, main10, main11, main12, main2, ...): row k's
// output main<k> replaces a file a later row has still to read. Every row
// reads its source as it was when the run started.
TEST_P(RunDriver, FolderConvertedIntoItselfLosesNothing) {
    std::vector<std::vector<uint8_t>> original(13);
    for (int i = 1; i <= 12; ++i) {
        VxImage img = vt::MakeGradient24(6 + i, 5);
        const std::string path = out.file("main" + std::to_string(i) + ".BMP");
        ASSERT_TRUE(img.Save(path.c_str(), VX_FORMAT_BMP));
        original[size_t(i)] = vt::ReadFileBytes(path);
    }
    std::vector<std::string> names = Entries(out.path());
    ASSERT_EQ(names.size(), 12u);
    std::vector<std::string> files;
    for (const std::string& n : names) files.push_back(out.file(n));
    const auto rec = RunInto(out.path(), "main", files, GetParam(), false);
    EXPECT_EQ(rec->summary.converted, 12);
    for (int row = 1; row <= 12; ++row) {
        // BMP to BMP writes the same bytes: row k now holds what its source held.
        const int was = std::stoi(names[size_t(row - 1)].substr(4));
        EXPECT_EQ(vt::ReadFileBytes(out.file("main" + std::to_string(row) + ".BMP")),
                  original[size_t(was)])
            << "row " << row;
    }
    EXPECT_EQ(Entries(out.path()).size(), 12u);
}

// Names from the template: sub-folders made, and a row naming an earlier
// row's file fails (naming both) instead of replacing it, with any worker count.
TEST_P(RunDriver, TemplateNamesFoldersAndClashes) {
    auto files = Good(3);
    // Row 4 has row 1's file name but another picture.
    files.push_back(src.file("bits24.bmp"));
    ASSERT_TRUE(vt::WriteFileBytes(files[3], vt::ReadFileBytes(files[1])));
    batch::RunOptions opt;
    opt.target = VX_FORMAT_BMP;
    opt.extension = ".BMP";
    opt.outDir = out.path();
    opt.jobs = GetParam();
    opt.keepGoing = true;
    opt.nameTemplate = "{dir}/{name}{EXT}";
    opt.sourceDirs = {"a/b", "", "a/b", "a/b"};
    std::vector<std::pair<int, std::string>> failures;
    batch::RunCallbacks cb;
    cb.onRowDone = [&](int row, const batch::RowResult& r) {
        if (r.outcome != batch::RowOutcome::Done) failures.emplace_back(row, r.error);
    };
    const auto summary = batch::RunRows(files, opt, cb);
    EXPECT_EQ(summary.converted, 3);
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_EQ(failures[0].first, 4);
    EXPECT_NE(failures[0].second.find("row 4 would write row 1's"), std::string::npos)
        << failures[0].second;
    EXPECT_EQ(Entries(out.path()), (std::vector<std::string>{"a", "rle8.BMP"}));
    EXPECT_EQ(Entries(out.file("a/b")), (std::vector<std::string>{"bits1.BMP", "bits24.BMP"}));
    // Row 1's picture, not row 4's, is in the file.
    VxImage written, row1, row4;
    ASSERT_TRUE(written.Load(out.file("a/b/bits24.BMP").c_str(), VX_FORMAT_BMP));
    ASSERT_TRUE(row1.Load(files[0].c_str(), VX_FORMAT_BMP));
    ASSERT_TRUE(row4.Load(files[3].c_str(), VX_FORMAT_BMP));
    ASSERT_NE(row1.GetBpp(), row4.GetBpp());
    EXPECT_EQ(written.GetBpp(), row1.GetBpp());
}

// A row keeping every page of a TIFF reserves for all of them (each page as
// decoded and as fitted, 4 bytes a pixel each), not for copies of its first.
TEST(RunDriverPages, BudgetCountsEveryPage) {
    vt::TempDir dir;
    batch::RunOptions opt;
    opt.target = VX_FORMAT_TIF;
    opt.extension = ".TIF";
    opt.outDir = dir.path();
    opt.maxMemory = uint64_t(256) << 20;  // small enough for sizes to be read ahead
    const auto summary = batch::RunRows({vt::DataPath("tiff/grow2.tif")}, opt, {});
    EXPECT_EQ(summary.converted, 1);
    EXPECT_GE(summary.peakReserved, uint64_t(1000 * 1000) * 8);
}

// --jobs keeps its meaning beyond the cores; --threads bounds the rows and
// shares what they leave with each one.
TEST(RunDriverThreads, JobsAndThreadsShareTheCores) {
    const struct {
        int jobs, threads, sources, wantJobs, wantRowThreads;
    } cases[] = {{4, 0, 4, 4, -1}, {4, 2, 4, 2, 1}, {0, 4, 1, 1, 4}, {0, 6, 3, 3, 2}, {2, 1, 3, 1, 1}};
    for (const auto& c : cases) {
        vt::TempDir dir;
        batch::RunOptions opt;
        opt.target = VX_FORMAT_BMP;
        opt.extension = ".BMP";
        opt.outDir = dir.path();
        opt.jobs = c.jobs;
        opt.threads = c.threads;
        const auto summary = batch::RunRows(
            std::vector<std::string>(size_t(c.sources), vt::DataPath("bmp/bits24.bmp")), opt, {});
        EXPECT_EQ(summary.jobs, c.wantJobs) << c.jobs << " " << c.threads;
        // Without --threads the share depends on the machine's cores.
        if (c.wantRowThreads > 0) {
            EXPECT_EQ(summary.rowThreads, c.wantRowThreads) << c.jobs << " " << c.threads;
        }
    }
}

TEST_P(RunDriver, MemoryBudget) {
    const auto files = Good(6);
    batch::RunOptions opt;
    opt.target = VX_FORMAT_BMP;
    opt.extension = ".BMP";
    opt.outDir = out.path();
    opt.jobs = GetParam();
    // Room for one row at a time: the others wait, and the files stay the same.
    opt.maxMemory = batch::RowMemoryEstimate(37, 23, VX_FORMAT_BMP, VX_FORMAT_BMP) * 3 / 2;
    opt.prefix = "m";
    const auto summary = batch::RunRows(files, opt, {});
    EXPECT_EQ(summary.converted, 6);
    EXPECT_GT(summary.peakReserved, 0u) << "sizes were read ahead";
    EXPECT_LE(summary.peakReserved, opt.maxMemory);
    RunInto(out.path(), "one", files, 1, false);
    for (int row = 1; row <= 6; ++row) {
        const std::string n = std::to_string(row) + ".BMP";
        EXPECT_EQ(vt::ReadFileBytes(out.file("m" + n)), vt::ReadFileBytes(out.file("one" + n)));
    }

    // A picture that alone needs more than the budget fails with the budget's text.
    opt.maxMemory = 1 << 20;
    opt.prefix = "tiny";
    std::string why;
    batch::RunCallbacks cb;
    cb.onRowDone = [&](int, const batch::RowResult& r) { why = r.error; };
    EXPECT_EQ(batch::RunRows({files[0]}, opt, cb).failed, 1);
    EXPECT_NE(why.find("memory budget of 1 MiB"), std::string::npos) << why;

    // A header over the picture limit fails with the limit's text: its decoder
    // refuses it before allocating, so the budget is not what stops it.
    const std::string bomb = out.file("bomb.pgm");
    ASSERT_TRUE(vt::WriteFileBytes(bomb, {'P', '5', ' ', '9', '9', '9', '9', '9', ' ', '9', '9', '9',
                                          '9', '9', ' ', '2', '5', '5', '\n', 1, 2, 3}));
    opt.maxMemory = 64 << 20;
    EXPECT_EQ(batch::RunRows({bomb}, opt, cb).failed, 1);
    EXPECT_NE(why.find("above the limit"), std::string::npos) << why;
}

// Links in the output folder are replaced, never written through: not a file
// outside the folder, not one file for two rows, not a pipe, not a later
// row's source. A pipe standing where a file goes is refused.
TEST_P(RunDriver, LinksInTheOutputFolderAreReplacedNotFollowed) {
    namespace fs = std::filesystem;
    vt::TempDir elsewhere;
    const std::vector<uint8_t> old = {'o', 'l', 'd'};
    ASSERT_TRUE(vt::WriteFileBytes(elsewhere.file("x"), old));
    ASSERT_EQ(mkfifo(elsewhere.file("fifo").c_str(), 0600), 0);
    auto files = Good(7);
    files[5] = src.file("six.bmp");
    ASSERT_TRUE(vt::WriteFileBytes(files[5], vt::ReadFileBytes(files[0])));
    fs::create_symlink(elsewhere.file("x"), out.file("l1.BMP"));
    fs::create_symlink(elsewhere.file("x"), out.file("l2.BMP"));
    fs::create_symlink(elsewhere.file("x"), out.file("l3.BMP"));
    fs::create_symlink(elsewhere.file("fifo"), out.file("l4.BMP"));
    fs::create_symlink(files[5], out.file("l5.BMP"));
    ASSERT_EQ(mkfifo(out.file("l7.BMP").c_str(), 0600), 0);
    const auto rec = RunInto(out.path(), "l", files, GetParam(), true);
    EXPECT_EQ(rec->summary.converted, 6);
    ASSERT_EQ(rec->done.size(), 7u);
    EXPECT_NE(rec->errors[6].find("not a regular file"), std::string::npos) << rec->errors[6];
    EXPECT_EQ(vt::ReadFileBytes(elsewhere.file("x")), old);
    EXPECT_TRUE(fs::is_fifo(elsewhere.file("fifo")));
    EXPECT_EQ(vt::ReadFileBytes(files[5]), vt::ReadFileBytes(files[0]));
    for (int row = 1; row <= 6; ++row) {
        const std::string name = out.file("l" + std::to_string(row) + ".BMP");
        EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(name))) << name;
        VxImage back(0), want(0);
        ASSERT_TRUE(back.Load(name.c_str(), VX_FORMAT_BMP)) << name;
        ASSERT_TRUE(want.Load(files[size_t(row - 1)].c_str(), VX_FORMAT_BMP));
        EXPECT_EQ(vt::MaxChannelDiff(vt::ToRgba(back), vt::ToRgba(want)), 0) << name;
    }
}

// Replacing one name of a file with many names changes none of the others:
// forty links converted into their own names all convert. A name listed twice
// fails its second row (one file for two rows), and the first still converts:
// its file holds the picture the second would have read.
TEST_P(RunDriver, HardLinksConvertIntoTheirOwnNames) {
    const std::string first = out.file("f1.bmp");
    ASSERT_TRUE(vt::WriteFileBytes(first, vt::ReadFileBytes(Good(1)[0])));
    std::vector<std::string> files = {first};
    for (int i = 2; i <= 40; ++i) {
        files.push_back(out.file("f" + std::to_string(i) + ".bmp"));
        ASSERT_EQ(link(first.c_str(), files.back().c_str()), 0);
    }
    batch::RunOptions opt;
    opt.target = VX_FORMAT_BMP;
    opt.extension = ".bmp";
    opt.outDir = out.path();
    opt.nameTemplate = "{name}{EXT}";
    opt.jobs = GetParam();
    opt.keepGoing = true;
    files.push_back(first);
    EXPECT_EQ(batch::RunRows(files, opt, {}).converted, 40);
}

// What a killed run left in a folder is finished by the next run into it: a
// journal's renames (some done already), temporary files nobody holds are
// removed, one a live writer holds stays.
TEST(RunDriverRecovery, TheNextRunFinishesWhatAKilledRunLeft) {
    vt::TempDir dir;
    std::vector<std::string> tmp(2);
    for (int i = 0; i < 2; ++i) {
        const int fd = VxCreateTemporaryBeside(dir.file("t"), tmp[size_t(i)]);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(write(fd, i ? "BB" : "AA", 2), 2);
        close(fd);
    }
    ASSERT_TRUE(vt::WriteFileBytes(dir.file("a"), {'a'}));
    ASSERT_TRUE(vt::WriteFileBytes(dir.file("b"), {'b'}));
    const auto name = [](const std::string& p) { return p.substr(p.rfind('/') + 1); };
    std::string why;
    {
        auto journal = batch::CommitJournal::Write(
            dir.path(), {{name(tmp[0]), "b"}, {name(tmp[1]), "a"}}, why);
        ASSERT_TRUE(journal) << why;
        // Died after the first rename.
        ASSERT_EQ(rename(tmp[0].c_str(), dir.file("b").c_str()), 0);
    }
    std::string dead, live;
    close(VxCreateTemporaryBeside(dir.file("t"), dead));
    const int holder = VxCreateTemporaryBeside(dir.file("t"), live);
    ASSERT_GE(holder, 0);

    batch::RunOptions opt;
    opt.target = VX_FORMAT_BMP;
    opt.extension = ".BMP";
    opt.outDir = dir.path();
    EXPECT_EQ(batch::RunRows({vt::DataPath("bmp/bits1.bmp")}, opt, {}).converted, 1);
    EXPECT_EQ(vt::ReadFileBytes(dir.file("a")), (std::vector<uint8_t>{'B', 'B'}));
    EXPECT_EQ(vt::ReadFileBytes(dir.file("b")), (std::vector<uint8_t>{'A', 'A'}));
    EXPECT_FALSE(vt::FileExists(dead));
    EXPECT_TRUE(vt::FileExists(live));
    close(holder);
    EXPECT_EQ(Entries(dir.path()), (std::vector<std::string>{name(live), "a", "b", "main1.BMP"}));
}

// Small files of large pictures, and a small picture enlarged: the budget
// counts each before it is decoded.
TEST(RunMemory, EveryFormatAndAnEnlargingResizeCountAgainstTheBudget) {
    vt::TempDir dir;
    std::vector<uint8_t> tga(18, 0);  // 2000 x 2000, 24-bit, run-length
    tga[2] = 10;
    tga[12] = tga[14] = 0xD0;
    tga[13] = tga[15] = 0x07;
    tga[16] = 24;
    for (int i = 0; i < 2000 * 2000 / 128; ++i) tga.insert(tga.end(), {0xFF, 9, 9, 9});
    std::vector<uint8_t> pcx(128, 0);  // 2000 x 2000, 8-bit, runs of 63
    pcx[0] = 10, pcx[1] = 5, pcx[2] = 1, pcx[3] = 8, pcx[65] = 1;
    pcx[8] = pcx[10] = 0xCF, pcx[9] = pcx[11] = 0x07, pcx[66] = 0xD0, pcx[67] = 0x07;
    for (int i = 0; i < 2000 * 2000 / 63; ++i) pcx.insert(pcx.end(), {0xFF, 7});
    pcx.insert(pcx.end(), {0xC0 | 2000 * 2000 % 63, 7});
    ASSERT_TRUE(vt::WriteFileBytes(dir.file("big.tga"), tga));
    ASSERT_TRUE(vt::WriteFileBytes(dir.file("big.pcx"), pcx));
    ASSERT_TRUE(vt::WriteFileBytes(dir.file("big.wmf"), mft::Wmf().Build(0, 0, 4000, 4000, 96)));
    vx::ResizeRequest enlarge;
    ASSERT_TRUE(vx::ParseResizeRequest("8000x8000+", enlarge));
    const struct {
        std::string file;
        vx::ResizeRequest resize;
        uint64_t maxPixels;
    } cases[] = {{dir.file("big.tga"), {}, 0},
                 {dir.file("big.pcx"), {}, 0},
                 {dir.file("big.wmf"), {}, 0},
                 // A limit that alone would not make the run read sizes ahead.
                 {vt::DataPath("bmp/bits24.bmp"), enlarge, 100}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        batch::RunOptions opt;
        opt.target = VX_FORMAT_BMP;
        opt.extension = ".BMP";
        opt.outDir = dir.path();
        opt.maxMemory = 8 << 20;
        opt.maxPixels = c.maxPixels;
        opt.steps.resize = c.resize;
        std::string why;
        batch::RunCallbacks cb;
        cb.onRowDone = [&](int, const batch::RowResult& r) { why = r.error; };
        EXPECT_EQ(batch::RunRows({c.file}, opt, cb).failed, 1);
        EXPECT_NE(why.find("more than the memory budget of 8 MiB"), std::string::npos) << why;
        EXPECT_FALSE(vt::FileExists(dir.file("main1.BMP")));
    }
}

// A row that keeps an animation reserves for every frame: a budget with room
// for the picture alone refuses it, not the one frame --frame picks.
TEST(RunMemory, AnimatedRowsReserveForEveryFrame) {
    const uint64_t still =
        batch::AnimationMemoryEstimate(30, 22, 30, 22, VX_FORMAT_GIF, VX_FORMAT_GIF, 1);
    EXPECT_EQ(still, batch::RowMemoryEstimate(30, 22, VX_FORMAT_GIF, VX_FORMAT_GIF));
    EXPECT_GE(batch::AnimationMemoryEstimate(30, 22, 30, 22, VX_FORMAT_GIF, VX_FORMAT_GIF, 4),
              still + 4 * 30 * 22 * 8);
    EXPECT_EQ(batch::AnimationMemoryEstimate(1 << 20, 1 << 20, 1, 1, 0, 0, uint64_t(1) << 40),
              UINT64_MAX);
    for (const bool picked : {false, true}) {
        vt::TempDir dir;
        batch::RunOptions opt;
        opt.target = VX_FORMAT_GIF;
        opt.extension = ".GIF";
        opt.outDir = dir.path();
        opt.maxMemory = still + 1000;
        opt.frameGiven = picked;
        std::string why;
        batch::RunCallbacks cb;
        cb.onRowDone = [&](int, const batch::RowResult& r) { why = r.error; };
        const auto summary = batch::RunRows({vt::DataPath("gif/anim_local.gif")}, opt, cb);
        EXPECT_EQ(summary.converted, picked ? 1 : 0) << why;
        if (!picked) {
            EXPECT_NE(why.find("more than the memory budget"), std::string::npos) << why;
        }
    }
}

TEST(RunMemory, EstimatesGrowWithThePictureAndNeverOverflow) {
    using batch::RowMemoryEstimate;
    EXPECT_LT(RowMemoryEstimate(100, 100, VX_FORMAT_BMP, VX_FORMAT_PNG),
              RowMemoryEstimate(1000, 1000, VX_FORMAT_BMP, VX_FORMAT_PNG));
    EXPECT_LT(RowMemoryEstimate(4000, 3000, VX_FORMAT_BMP, VX_FORMAT_BMP),
              RowMemoryEstimate(4000, 3000, VX_FORMAT_JP2, VX_FORMAT_JP2));
    EXPECT_EQ(RowMemoryEstimate(uint64_t(1) << 40, uint64_t(1) << 40, 0, VX_FORMAT_JP2), UINT64_MAX);
    // A format code added without its own figures would be counted as free.
    const uint64_t overhead = RowMemoryEstimate(0, 0, 0, 0);
    for (ImageFormat f = 1; f < kVxFormatCount; ++f) {
        SCOPED_TRACE(f);
        EXPECT_GE(RowMemoryEstimate(1000, 1000, f, VX_FORMAT_WMF) - overhead, 2000000u);
        EXPECT_LE(RowMemoryEstimate(1000, 1000, f, VX_FORMAT_WMF),
                  RowMemoryEstimate(1000, 1000, 0, VX_FORMAT_WMF));
        if (VxFindFormatCaps(f) && VxFindFormatCaps(f)->writes) {
            EXPECT_GE(RowMemoryEstimate(1000, 1000, VX_FORMAT_WBMP, f) - overhead, 3000000u);
        }
    }
}

}  // namespace
