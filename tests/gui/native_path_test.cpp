// Dialog texts back to the bytes that name the files.
#include <QFile>

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <string>
#include <vector>

#include "app/gui/native_path.h"
#include "tests/support/test_support.h"

namespace {

using vellumar::gui::NativeNames;

// A folder of GBK names, in a GBK-named folder: every name is found, and the
// folders are read once each, not once per name.
TEST(NativeNames, FindsEveryLostNameReadingEachFolderOnce) {
    vt::TempDir root;
    const std::string folder = root.file("\xD0\xC2\xBD\xA8");  // 新建
    ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
    std::vector<std::string> names;
    for (int i = 0; i < 40; ++i) names.push_back("\xD6\xD0" + std::to_string(i) + ".bmp");  // 中<i>.bmp
    names.push_back("plain.bmp");
    // 你.bmp and 是.bmp read the same once their bytes are replaced.
    names.push_back("\xC4\xE3.bmp");
    names.push_back("\xCA\xC7.bmp");
    for (const std::string& n : names) vt::WriteFileBytes(folder + "/" + n, {'x'});

    NativeNames resolve;
    for (size_t i = 0; i < names.size(); ++i) {
        SCOPED_TRACE(i);
        const std::string bytes = folder + "/" + names[i];
        const QString shown = QFile::decodeName(bytes.c_str());
        ASSERT_TRUE(shown.contains(QChar::ReplacementCharacter));
        const std::string got = resolve.Resolve(shown);
        if (i + 2 < names.size()) {
            EXPECT_EQ(got, bytes);
        } else {
            EXPECT_FALSE(vt::FileExists(got)) << "a guess among two files";
        }
    }
    EXPECT_EQ(resolve.FoldersRead(), 2);
    // Names that decode cleanly are taken as they are, reading nothing.
    const std::string plain = root.file("a.bmp");
    EXPECT_EQ(resolve.Resolve(QFile::decodeName(plain.c_str())), plain);
    EXPECT_EQ(resolve.FoldersRead(), 2);
}

}  // namespace
