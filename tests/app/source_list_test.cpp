#include "app/batch/source_list.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "tests/support/test_support.h"

namespace {

namespace batch = vellumar::batch;

TEST(SourceList, FoldersBecomeTheirFilesInByteOrder) {
    vt::TempDir tmp;
    const std::string root = tmp.file("in");
    std::filesystem::create_directories(root + "/sub/deeper");
    std::filesystem::create_directories(root + "/empty");
    // Byte order puts upper case, '.', '/' and UTF-8 where no locale would.
    for (const char* name : {"b.png", "B.png", "a.png", "\xC3\xA9.png", "sub.png", "sub/z.png",
                             "sub/deeper/1.png"})
        ASSERT_TRUE(vt::WriteFileBytes(root + "/" + name, {1}));
    ASSERT_EQ(mkfifo((root + "/pipe").c_str(), 0600), 0);  // would stall a decoder
    std::filesystem::create_directory_symlink(root + "/sub", root + "/loop");
    const std::string single = tmp.file("single.jpg");
    ASSERT_TRUE(vt::WriteFileBytes(single, {1}));

    const auto rows = batch::ListSources({single, root + "/"}, true);
    std::vector<std::pair<std::string, std::string>> got;
    for (const auto& r : rows) got.emplace_back(r.path, r.dir);
    const std::vector<std::pair<std::string, std::string>> expected = {
        {single, ""},
        {root + "/B.png", ""},
        {root + "/a.png", ""},
        {root + "/b.png", ""},
        {root + "/sub.png", ""},
        {root + "/sub/deeper/1.png", "sub/deeper"},
        {root + "/sub/z.png", "sub"},
        {root + "/\xC3\xA9.png", ""},
    };
    EXPECT_EQ(got, expected);

    // Without --recursive a folder is a row of its own (which then fails).
    const auto flat = batch::ListSources({root}, false);
    ASSERT_EQ(flat.size(), 1u);
    EXPECT_EQ(flat[0].path, root);
}

}  // namespace
