// Where the programs keep their own files: beside a portable program, in the
// user's XDG folders otherwise.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "app/batch/file_places.h"
#include "tests/support/test_support.h"

namespace {

using vellumar::ChooseFilePlaces;
using vellumar::MakePrivateFolder;
using vellumar::PlacesFor;
using vellumar::UserFolders;

unsigned Mode(const std::string& path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0 ? unsigned(st.st_mode & 07777) : 0;
}

TEST(FilePlaces, UserFoldersFollowTheXdgRules) {
    vt::TempDir home;
    const std::string run = home.file("run"), open = home.file("open");
    ASSERT_EQ(mkdir(run.c_str(), 0700), 0);
    ASSERT_EQ(mkdir(open.c_str(), 0700), 0);
    ASSERT_EQ(chmod(open.c_str(), 0755), 0);
    const std::string h = home.path();
    struct Case {
        const char *data, *config, *cache, *runtime;
        UserFolders expect;
    };
    const Case cases[] = {
        {nullptr, nullptr, nullptr, nullptr,
         {h + "/.local/share", h + "/.config", h + "/.cache", ""}},
        {"/d", "/c", "/k", run.c_str(), {"/d", "/c", "/k", run}},
        // Relative values are invalid and ignored.
        {"d", "c", "k", "run", {h + "/.local/share", h + "/.config", h + "/.cache", ""}},
        // A runtime folder others can reach, or none at all, is not used.
        {nullptr, nullptr, nullptr, open.c_str(),
         {h + "/.local/share", h + "/.config", h + "/.cache", ""}},
        {nullptr, nullptr, nullptr, "/no/such/folder",
         {h + "/.local/share", h + "/.config", h + "/.cache", ""}},
    };
    const vt::ScopedEnv homeVar("HOME", h.c_str());
    for (const Case& c : cases) {
        const vt::ScopedEnv d("XDG_DATA_HOME", c.data), cf("XDG_CONFIG_HOME", c.config),
            k("XDG_CACHE_HOME", c.cache), r("XDG_RUNTIME_DIR", c.runtime);
        const UserFolders u = UserFolders::FromEnvironment();
        const std::string label = c.runtime ? c.runtime : "(unset)";
        EXPECT_EQ(u.dataHome, c.expect.dataHome) << label;
        EXPECT_EQ(u.configHome, c.expect.configHome) << label;
        EXPECT_EQ(u.cacheHome, c.expect.cacheHome) << label;
        EXPECT_EQ(u.runtimeDir, c.expect.runtimeDir) << label;
    }
}

TEST(FilePlaces, PortableProgramKeepsItsFilesBesideItselfElseTheUsersFolders) {
    const UserFolders u{"/d", "/c", "/k", "/r"};
    auto p = ChooseFilePlaces("/opt/v", true, u);
    EXPECT_TRUE(p.portable);
    EXPECT_EQ(p.base, "/opt/v");
    EXPECT_EQ(p.skinData, "/opt/v");
    p = ChooseFilePlaces("/usr/bin", false, u);
    EXPECT_FALSE(p.portable);
    EXPECT_EQ(p.base, "/d/vellumar");
    EXPECT_EQ(p.skinData, "/c/vellumar");
    EXPECT_EQ(p.privateDir, "/r/vellumar");
    EXPECT_EQ(ChooseFilePlaces("/usr/bin", false, {"/d", "/c", "/k", ""}).privateDir,
              "/k/vellumar");

    // This build is a portable one: a writable folder is used, an unusable one is not.
    vt::TempDir prog;
    EXPECT_TRUE(PlacesFor(prog.path()).portable);
    EXPECT_FALSE(PlacesFor(prog.file("missing")).portable);
}

TEST(FilePlaces, PrivateFolderIsMadeOrTightenedOrRefused) {
    vt::TempDir t;
    EXPECT_TRUE(MakePrivateFolder(t.file("a/b")));
    EXPECT_EQ(Mode(t.file("a/b")), 0700u);

    const std::string open = t.file("open");
    ASSERT_EQ(mkdir(open.c_str(), 0700), 0);
    ASSERT_EQ(chmod(open.c_str(), 0775), 0);
    EXPECT_TRUE(MakePrivateFolder(open));
    EXPECT_EQ(Mode(open), 0700u);

    // A link is refused and its target left alone; so is a file.
    const std::string target = t.file("target"), link = t.file("link");
    ASSERT_EQ(mkdir(target.c_str(), 0700), 0);
    ASSERT_EQ(chmod(target.c_str(), 0755), 0);
    ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0);
    EXPECT_FALSE(MakePrivateFolder(link));
    EXPECT_EQ(Mode(target), 0755u);
    ASSERT_TRUE(vt::WriteFileBytes(t.file("file"), {1}));
    EXPECT_FALSE(MakePrivateFolder(t.file("file")));

    // Someone else's folder is never taken over.
    if (geteuid() == 0) {
        const std::string theirs = t.file("theirs");
        ASSERT_EQ(mkdir(theirs.c_str(), 0700), 0);
        ASSERT_EQ(chown(theirs.c_str(), 65534, 65534), 0);
        EXPECT_FALSE(MakePrivateFolder(theirs));
    }
}

}  // namespace
