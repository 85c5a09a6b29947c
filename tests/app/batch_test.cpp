#include <gtest/gtest.h>

#include <filesystem>

#include "app/batch/batch_engine.h"
#include "tests/support/test_support.h"

namespace {

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

// A row frees its picture once it is written (or has failed), while the
// object keeps the run's settings for the next row.
TEST(BatchRun, EachPictureIsReleasedAfterItsRow) {
    vt::TempDir dir;
    ImageHandle h = nullptr;
    ImageFacade::SetJpegQuality(&h, 55);
    const auto ok = vellumar::batch::ConvertRow(&h, vt::DataPath("png/rgba8.png"), VX_FORMAT_JPG,
                                                [&] { return dir.file("r.JPG"); });
    EXPECT_EQ(ok.outcome, vellumar::batch::RowOutcome::Done);
    EXPECT_FALSE(h->IsValid() || h->AlphaIsValid());
    EXPECT_EQ(h->GetJpegQuality(), 55);
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
    // A later row that cannot even be opened says so, never the earlier reason.
    const auto r2 = vellumar::batch::ConvertRow(&h, dir.file("none.bmp"), VX_FORMAT_BMP,
                                                [&] { return dir.file("y.BMP"); });
    EXPECT_EQ(r2.outcome, vellumar::batch::RowOutcome::DecodeFailed);
    EXPECT_EQ(r2.error, "cannot open the file: No such file or directory");
    ImageFacade::Free(&h);
}

}  // namespace

