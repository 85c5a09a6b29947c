#include <gtest/gtest.h>

#include "app/batch/batch_engine.h"
#include "app/format_table/format_table.h"

namespace {

using vellumar::FormatFromExtension;

TEST(FormatTable, OnlyTheTextAfterTheLastDotCounts) {
    EXPECT_EQ(FormatFromExtension("C:/pics/A.B.JPEG"), 3u);
    EXPECT_EQ(FormatFromExtension("/home/me/pics.old/readme"), 1u);
    EXPECT_EQ(FormatFromExtension("noextension"), 1u);
    EXPECT_EQ(FormatFromExtension("ends.with.dot."), 1u);
    EXPECT_EQ(FormatFromExtension("trailing.png "), 1u);  // no trimming
    EXPECT_EQ(FormatFromExtension("图片.PNG"), 4u);
    EXPECT_EQ(FormatFromExtension("x.ＰＮＧ"), 1u);  // only ASCII letters fold
}

TEST(FormatTable, EveryExtension) {
    const std::pair<const char*, ImageFormat> cases[] = {
        {"a.bmp", 1},  {"a.gif", 2},  {"a.jpg", 3},  {"a.jpeg", 3}, {"a.png", 4},  {"a.ico", 5},
        {"a.CUR", 5},  {"a.tif", 6},  {"a.tiff", 6}, {"a.tga", 7},  {"a.pcx", 8},  {"a.wbmp", 9},
        {"a.wmf", 10}, {"a.EMF", 10}, {"a.j2k", 11}, {"a.jp2", 11}, {"a.J2C", 12}, {"a.jpc", 12},
        {"a.pgx", 13}, {"a.pnm", 14}, {"a.pgm", 14}, {"a.PPM", 14}, {"a.ras", 15}, {"a.xyz", 1},
        {"a.webp", 16}, {"a.HEIC", 17}, {"a.heif", 17}, {"a.hif", 17}, {"a.avif", 18}, {"a.JXL", 19},
        {"a.dng", 25}, {"a.NEF", 25}, {"a.cr3", 25}, {"a.rw2", 25},
    };
    for (const auto& [name, code] : cases) EXPECT_EQ(FormatFromExtension(name), code) << name;
}

TEST(FormatTable, ComboItemsMapToTheirCodesAndExtensions) {
    const ImageFormat codes[] = {4, 5, 7, 3, 1, 2, 6, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23, 24, 25};
    const std::vector<const char*>& items = vellumar::TargetItems();
    ASSERT_EQ(std::size(codes), items.size());
    for (size_t i = 0; i < items.size(); ++i) {
        const auto t = vellumar::batch::TargetFromItem(items[i]);
        EXPECT_EQ(t.format, codes[i]) << items[i];
        EXPECT_EQ("*" + t.extension, items[i]);
    }
    EXPECT_EQ(vellumar::TargetExtension("*.WBMP"), ".WBMP");
    EXPECT_STREQ(vellumar::FindTargetItem("wbmp"), "*.WBMP");
    EXPECT_EQ(vellumar::FindTargetItem("jpeg"), nullptr);
}

TEST(FormatTable, OutputNames) {
    using vellumar::batch::OutputPath;
    EXPECT_EQ(OutputPath("/opt/v/DATA", "main", 3, ".PNG"), "/opt/v/DATA/main3.PNG");
    EXPECT_EQ(OutputPath("/opt/v/DATA", "", 12, ".TIF"), "/opt/v/DATA/12.TIF");
    EXPECT_EQ(OutputPath("/opt/v/", "x", 1, ".BMP"), "/opt/v//x1.BMP");  // nothing trimmed
}

}  // namespace
