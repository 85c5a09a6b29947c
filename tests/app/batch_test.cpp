#include <gtest/gtest.h>

#include <filesystem>

#include "app/batch/batch_engine.h"
#include "tests/support/test_support.h"

namespace {

struct Recorder {
    std::vector<int> started;
    std::vector<std::pair<int, vellumar::batch::RowOutcome>> done;
};

TEST(BatchRun, StopsAtTheFirstFailureUnlessToldToGoOn) {
    vt::TempDir dir;
    const std::string bad = dir.file("broken.bmp");
    ASSERT_TRUE(vt::WriteFileBytes(bad, std::vector<uint8_t>(100, 'z')));
    const std::vector<std::string> files = {vt::DataPath("bmp/bits8.bmp"), bad,
                                            vt::DataPath("bmp/bits1.bmp")};
    for (bool keepGoing : {false, true}) {
        Recorder rec;
        ImageHandle h = nullptr;
        vellumar::batch::RunOptions opt;
        opt.keepGoing = keepGoing;
        vellumar::batch::RunCallbacks cb;
        cb.outputPath = [&](int row) {
            return vellumar::batch::OutputPath(dir.path(), keepGoing ? "k" : "s", row, ".BMP");
        };
        cb.onRowStart = [&](int row) { rec.started.push_back(row); };
        cb.onRowDone = [&](int row, const vellumar::batch::RowResult& r) {
            rec.done.emplace_back(row, r.outcome);
            if (r.outcome != vellumar::batch::RowOutcome::Done) {
                EXPECT_FALSE(r.error.empty());
            }
        };
        const auto summary = vellumar::batch::Run(&h, files, VX_FORMAT_BMP, opt, cb);
        ImageFacade::Free(&h);
        const std::string p = keepGoing ? "k" : "s";
        EXPECT_TRUE(vt::FileExists(dir.file(p + "1.BMP")));
        EXPECT_FALSE(vt::FileExists(dir.file(p + "2.BMP")));
        EXPECT_EQ(vt::FileExists(dir.file(p + "3.BMP")), keepGoing);
        EXPECT_EQ(summary.failed, 1);
        EXPECT_EQ(summary.converted, keepGoing ? 2 : 1);
        EXPECT_EQ(summary.stoppedEarly, !keepGoing);
        EXPECT_EQ(rec.started.size(), keepGoing ? 3u : 2u);
        ASSERT_GE(rec.done.size(), 2u);
        EXPECT_EQ(rec.done[1].second, vellumar::batch::RowOutcome::DecodeFailed);
    }
}

TEST(BatchRun, ARowsOutputDoesNotDependOnTheRowBefore) {
    vt::TempDir dir;
    ImageHandle h = nullptr;
    // A loaded TIFF leaves its compression in the image's TIFF option.
    const auto first = vellumar::batch::ConvertRow(&h, vt::DataPath("bmp/bits1.bmp"), VX_FORMAT_TIF,
                                                   [&] { return dir.file("a.TIF"); });
    ASSERT_EQ(first.outcome, vellumar::batch::RowOutcome::Done);
    h->SetCodecOption(32773, VX_FORMAT_TIF);  // what a PackBits source leaves behind
    vellumar::batch::ConvertRow(&h, vt::DataPath("bmp/bits1.bmp"), VX_FORMAT_TIF,
                                [&] { return dir.file("after.TIF"); });
    ImageFacade::Free(&h);
    vellumar::batch::ConvertRow(&h, vt::DataPath("bmp/bits1.bmp"), VX_FORMAT_TIF,
                                [&] { return dir.file("fresh.TIF"); });
    ImageFacade::Free(&h);
    EXPECT_EQ(vt::ReadFileBytes(dir.file("after.TIF")), vt::ReadFileBytes(dir.file("fresh.TIF")));
}

// A batch holds one picture at a time: each is freed once its row is written
// (or has failed), while the object keeps the run's settings.
TEST(BatchRun, EachPictureIsReleasedAfterItsRow) {
    vt::TempDir dir;
    ImageHandle h = nullptr;
    vellumar::batch::RunOptions opt;
    opt.quality = 55;
    vellumar::batch::RunCallbacks cb;
    cb.outputPath = [&](int row) { return vellumar::batch::OutputPath(dir.path(), "r", row, ".JPG"); };
    int released = 0;
    cb.onRowDone = [&](int, const vellumar::batch::RowResult& r) {
        EXPECT_EQ(r.outcome, vellumar::batch::RowOutcome::Done);
        ASSERT_NE(h, nullptr);
        if (!h->IsValid() && !h->AlphaIsValid()) ++released;
    };
    const std::vector<std::string> files = {vt::DataPath("bmp/bits24.bmp"),
                                            vt::DataPath("png/rgba8.png")};
    const auto summary = vellumar::batch::Run(&h, files, VX_FORMAT_JPG, opt, cb);
    EXPECT_EQ(summary.converted, 2);
    EXPECT_EQ(released, 2);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(h->GetJpegQuality(), 55);
    // The second picture came out whole after the first was freed.
    VxImage back(0);
    ASSERT_TRUE(back.Load(dir.file("r2.JPG").c_str(), VX_FORMAT_JPG));
    EXPECT_EQ(back.GetWidth(), 37u);
    EXPECT_EQ(back.GetHeight(), 23u);

    // A failed encode frees the picture too.
    const auto r = vellumar::batch::ConvertRow(&h, vt::DataPath("bmp/bits8.bmp"), VX_FORMAT_BMP,
                                               [&] { return dir.file("missing/x1.BMP"); });
    EXPECT_EQ(r.outcome, vellumar::batch::RowOutcome::EncodeFailed);
    EXPECT_FALSE(h->IsValid());
    ImageFacade::Free(&h);
}

TEST(BatchRun, MissingFolderIsAnEncodeFailure) {
    vt::TempDir dir;
    ImageHandle h = nullptr;
    const auto r = vellumar::batch::ConvertRow(&h, vt::DataPath("bmp/bits8.bmp"), VX_FORMAT_BMP,
                                               [&] { return dir.file("missing/x1.BMP"); });
    EXPECT_EQ(r.outcome, vellumar::batch::RowOutcome::EncodeFailed);
    // A later row that cannot even be opened never shows the earlier reason.
    const auto r2 = vellumar::batch::ConvertRow(&h, dir.file("none.bmp"), VX_FORMAT_BMP,
                                                [&] { return dir.file("y.BMP"); });
    EXPECT_EQ(r2.outcome, vellumar::batch::RowOutcome::DecodeFailed);
    EXPECT_EQ(r2.error, "");
    ImageFacade::Free(&h);
}

}  // namespace

namespace {

TEST(ParallelRun, SameFilesAndReportsAsOneWorker) {
    vt::TempDir dir;
    const std::string bad = dir.file("broken.bmp");
    ASSERT_TRUE(vt::WriteFileBytes(bad, std::vector<uint8_t>(100, 'z')));
    std::vector<std::string> files;
    for (int i = 0; i < 9; ++i)
        files.push_back(vt::DataPath(i % 3 == 0 ? "bmp/bits24.bmp" : i % 3 == 1 ? "bmp/rle8.bmp"
                                                                                 : "bmp/bits1.bmp"));
    auto runWith = [&](const std::string& prefix, int jobs, bool keepGoing,
                       const std::vector<std::string>& sources) {
        vellumar::batch::RunOptions opt;
        opt.jobs = jobs;
        opt.keepGoing = keepGoing;
        vellumar::batch::RunCallbacks cb;
        std::vector<int> order;
        cb.outputPath = [&, prefix](int row) {
            return vellumar::batch::OutputPath(dir.path(), prefix, row, ".GIF");
        };
        cb.onRowDone = [&](int row, const vellumar::batch::RowResult&) { order.push_back(row); };
        const auto summary = vellumar::batch::RunParallel(sources, VX_FORMAT_BMP, opt, cb);
        for (size_t k = 0; k < order.size(); ++k) EXPECT_EQ(order[k], int(k) + 1);
        return summary;
    };
    ImageHandle h = nullptr;
    vellumar::batch::RunCallbacks one;
    one.outputPath = [&](int row) { return vellumar::batch::OutputPath(dir.path(), "one", row, ".GIF"); };
    vellumar::batch::Run(&h, files, VX_FORMAT_BMP, {}, one);
    ImageFacade::Free(&h);
    runWith("par", 4, false, files);
    for (int row = 1; row <= 9; ++row) {
        const std::string n = std::to_string(row) + ".GIF";
        EXPECT_EQ(vt::ReadFileBytes(dir.file("one" + n)), vt::ReadFileBytes(dir.file("par" + n)));
    }

    // A failure in row 3 of 9: rows 1-2 committed, nothing after row 3 written.
    auto withBad = files;
    withBad[2] = bad;
    const auto stopped = runWith("stop", 4, false, withBad);
    EXPECT_EQ(stopped.converted, 2);
    EXPECT_EQ(stopped.failed, 1);
    EXPECT_TRUE(stopped.stoppedEarly);
    size_t entries = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir.path()))
        if (e.path().filename().string().rfind("stop", 0) == 0) ++entries;
    EXPECT_EQ(entries, 2u) << "later rows and temporary files must not remain";

    const auto all = runWith("keep", 3, true, withBad);
    EXPECT_EQ(all.converted, 8);
    EXPECT_TRUE(vt::FileExists(dir.file("keep9.GIF")));
}

}  // namespace
