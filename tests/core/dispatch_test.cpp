#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include <cstdlib>
#include <climits>
#include <cstring>
#include <filesystem>
#include <thread>
#include <vector>

#include "core/vx_image.h"
#include "core/vx_save_path.h"
#include "tests/support/test_support.h"

namespace {

const char kProbeFailed[] = "解码: 未知或错误的图像格式";

std::vector<std::string> FilesIn(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir))
        names.push_back(e.path().filename().string());
    return names;
}

TEST(Dispatch, WrongExtensionFallsBackToTheProbe) {
    vt::TempDir dir;
    const std::string named = dir.file("picture.gif");
    ASSERT_TRUE(vt::WriteFileBytes(named, vt::ReadFileBytes(vt::DataPath("bmp/bits24.bmp"))));
    VxImage img(0);
    ASSERT_TRUE(img.Load(named.c_str(), VX_FORMAT_GIF));
    EXPECT_EQ(img.GetType(), VX_FORMAT_BMP);
    EXPECT_EQ(img.GetWidth(), 13u);
}

TEST(Dispatch, NamedFormatFailureKeepsTheCodecsText) {
    vt::TempDir dir;
    const std::string text = dir.file("notes.bmp");
    ASSERT_TRUE(vt::WriteFileBytes(text, std::vector<uint8_t>(200, 'x')));
    VxImage img(0);
    EXPECT_FALSE(img.Load(text.c_str(), VX_FORMAT_BMP));
    EXPECT_STREQ(img.GetLastError(), "Error reading BMP info");
    EXPECT_FALSE(img.Load(text.c_str(), 0));
    EXPECT_STREQ(img.GetLastError(), kProbeFailed);
    EXPECT_FALSE(img.Load(dir.file("missing.bmp").c_str(), 1));
}

TEST(Dispatch, FailedDecodeLeavesThePictureAlone) {
    VxImage img(4, 3, 8, 0);
    img.SetPaletteColor(2, 1, 2, 3);
    img.SetPixelIndex(1, 1, 2);
    uint8_t junk[30] = {'B', 'M'};
    EXPECT_FALSE(img.Decode(junk, sizeof(junk), 0));
    EXPECT_EQ(img.GetWidth(), 4u);
    EXPECT_EQ(img.GetPixelIndex(1, 1), 2);
    EXPECT_EQ(img.GetPaletteColor(2).rgbBlue, 3);
    EXPECT_FALSE(img.Decode(junk, sizeof(junk), kVxFormatCount));
    EXPECT_STREQ(img.GetLastError(), kProbeFailed);
}

TEST(Dispatch, APreviousPicturesTransparencyAndResolutionDoNotCarryOver) {
    VxImage img(2, 2, 8, 0);
    img.SetTransIndex(5);
    img.SetTransColor(vx::MakeRGBQUAD(1, 2, 3));
    img.AlphaPaletteEnable(true);
    img.SetXDPI(300);
    img.SetJpegQuality(40);
    img.SetCodecOption(7, VX_FORMAT_PNG);
    const auto bytes = vt::ReadFileBytes(vt::DataPath("bmp/pil8.bmp"));
    ASSERT_TRUE(img.Decode(const_cast<uint8_t*>(bytes.data()), uint32_t(bytes.size()), 1));
    EXPECT_EQ(img.GetTransIndex(), -1);
    EXPECT_FALSE(img.AlphaPaletteIsEnabled());
    EXPECT_EQ(img.GetInfo().TransColor.rgbBlue, 0);
    EXPECT_EQ(img.GetXDPI(), 96);  // the file's own 3780 pels per metre
    // Settings still travel.
    EXPECT_EQ(img.GetJpegQuality(), 40);
    EXPECT_EQ(img.GetCodecOption(VX_FORMAT_PNG), 7u);
}

TEST(Dispatch, UnknownEncodeTypeAndEmptyImage) {
    VxImage empty(0);
    uint8_t* buf = nullptr;
    int32_t size = 0;
    EXPECT_FALSE(empty.Encode(buf, size, 1));
    EXPECT_STREQ(empty.GetLastError(), "没有图像!!!");
    EXPECT_EQ(buf, nullptr);

    VxImage img(2, 2, 24, 0);
    EXPECT_FALSE(img.Encode(buf, size, 0));
    EXPECT_STREQ(img.GetLastError(), "编码: 未知的图像格式");
    EXPECT_FALSE(img.Encode(buf, size, kVxFormatCount));

    uint8_t dummy = 0;
    uint8_t* taken = &dummy;
    EXPECT_FALSE(img.Encode(taken, size, 1));
    EXPECT_STREQ(img.GetLastError(), "缓冲区指针必须为空");
    EXPECT_EQ(taken, &dummy);

    VxImage* pages[1] = {&img};
    VxMemFile mem;
    ASSERT_TRUE(mem.Open());
    EXPECT_FALSE(img.Encode(&mem, pages, 1, VX_FORMAT_BMP));
    EXPECT_STREQ(img.GetLastError(), "多页编码: 这个格式不支持");
    EXPECT_FALSE(img.Encode(static_cast<VxFile*>(nullptr), VX_FORMAT_BMP));
    EXPECT_STREQ(img.GetLastError(), "文件句柄为空的");
}

TEST(Dispatch, MemoryRoundTrip) {
    VxImage img = vt::MakeGradient24(9, 5);
    uint8_t* buf = nullptr;
    int32_t size = 0;
    ASSERT_TRUE(img.Encode(buf, size, VX_FORMAT_BMP));
    ASSERT_NE(buf, nullptr);
    EXPECT_EQ(size, int32_t(img.GetSize() + 14));
    VxImage back(buf, uint32_t(size), 0);
    std::free(buf);
    ASSERT_TRUE(back.IsValid());
    EXPECT_EQ(vt::MaxChannelDiff(vt::ToRgba(img), vt::ToRgba(back)), 0);
}

// A failed save must leave no file and keep an existing one intact.
TEST(Save, NeverLeavesABrokenFileBehind) {
    vt::TempDir dir;
    const std::string target = dir.file("out.bmp");
    VxImage img(3, 3, 8, 0);
    EXPECT_FALSE(img.Save(target.c_str(), 0));
    EXPECT_STREQ(img.GetLastError(), "编码: 未知的图像格式");
    EXPECT_TRUE(FilesIn(dir.path()).empty());

    ASSERT_TRUE(vt::WriteFileBytes(target, {'o', 'l', 'd'}));
    VxImage empty(0);
    EXPECT_FALSE(empty.Save(target.c_str(), VX_FORMAT_BMP));
    EXPECT_STREQ(empty.GetLastError(), "没有图像!!!");
    EXPECT_EQ(vt::ReadFileBytes(target), (std::vector<uint8_t>{'o', 'l', 'd'}));
    EXPECT_EQ(FilesIn(dir.path()).size(), 1u);

    EXPECT_FALSE(img.Save(dir.file("no/such/dir/x.bmp").c_str(), VX_FORMAT_BMP));

    ASSERT_TRUE(img.Save(target.c_str(), VX_FORMAT_BMP));
    EXPECT_EQ(vt::ReadFileBytes(target).size(), img.GetSize() + 14);
    EXPECT_EQ(FilesIn(dir.path()).size(), 1u);
    struct stat st {};
    ASSERT_EQ(stat(target.c_str(), &st), 0);
    EXPECT_NE(st.st_mode & S_IRGRP, 0u) << "saved files get the usual permissions";
}

// A run removes only its own leftovers: another run's temporary files (tagged
// or not), files that merely start alike and finished files stay.
TEST(Save, TaggedTemporariesAreRemovedByTheirRunOnly) {
    vt::TempDir dir;
    VxImage img(3, 3, 24, 0);
    std::string mine1, mine2, other, untagged;
    ASSERT_TRUE(img.SaveToTemporary(dir.file("a.bmp").c_str(), VX_FORMAT_BMP, mine1, "run1"));
    ASSERT_TRUE(img.SaveToTemporary(dir.file("b.bmp").c_str(), VX_FORMAT_BMP, mine2, "run1"));
    ASSERT_TRUE(img.SaveToTemporary(dir.file("c.bmp").c_str(), VX_FORMAT_BMP, other, "run12"));
    ASSERT_TRUE(img.SaveToTemporary(dir.file("d.bmp").c_str(), VX_FORMAT_BMP, untagged));
    ASSERT_TRUE(vt::WriteFileBytes(dir.file(".vxtmp-run1-toolong"), {1}));
    ASSERT_TRUE(img.Save(dir.file("e.bmp").c_str(), VX_FORMAT_BMP));

    EXPECT_EQ(VxRemoveTemporaries(dir.path(), "run1"), 2);
    EXPECT_FALSE(vt::FileExists(mine1) || vt::FileExists(mine2));
    EXPECT_TRUE(vt::FileExists(other) && vt::FileExists(untagged));
    EXPECT_EQ(FilesIn(dir.path()).size(), 4u);
    EXPECT_EQ(VxRemoveTemporaries(dir.file("missing"), "run1"), 0);
}

// Saving replaces the name: the file's permission bits stay, a symbolic link
// is replaced by the file and what it pointed to stays as it was, and any
// name the file system takes works (the temporary file beside it has a short
// name of its own).
TEST(Save, ReplacesWhatTheNameStandsFor) {
    vt::TempDir dir;
    VxImage img(3, 3, 24, 0);
    const size_t written = img.GetSize() + 14;
    for (const mode_t mode : {0600, 0640, 0755}) {
        const std::string path = dir.file("m.bmp");
        ASSERT_TRUE(vt::WriteFileBytes(path, {'o', 'l', 'd'}));
        ASSERT_EQ(chmod(path.c_str(), mode), 0);
        ASSERT_TRUE(img.Save(path.c_str(), VX_FORMAT_BMP));
        struct stat st {};
        ASSERT_EQ(stat(path.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, mode);
        EXPECT_EQ(size_t(st.st_size), written);
    }
    // A link to a file, and a link to a name nothing holds yet.
    ASSERT_TRUE(vt::WriteFileBytes(dir.file("real.bmp"), {'o', 'l', 'd'}));
    ASSERT_EQ(symlink("real.bmp", dir.file("link.bmp").c_str()), 0);
    ASSERT_EQ(symlink(dir.file("made.bmp").c_str(), dir.file("dangling.bmp").c_str()), 0);
    for (const char* link : {"link.bmp", "dangling.bmp"}) {
        ASSERT_TRUE(img.Save(dir.file(link).c_str(), VX_FORMAT_BMP)) << img.GetLastError();
        struct stat st {};
        ASSERT_EQ(lstat(dir.file(link).c_str(), &st), 0);
        EXPECT_TRUE(S_ISREG(st.st_mode)) << link;
        EXPECT_EQ(size_t(st.st_size), written);
    }
    EXPECT_EQ(vt::ReadFileBytes(dir.file("real.bmp")).size(), 3u);
    EXPECT_FALSE(vt::FileExists(dir.file("made.bmp")));

    const std::string longest(NAME_MAX - 4, 'n');
    EXPECT_TRUE(img.Save(dir.file(longest + ".bmp").c_str(), VX_FORMAT_BMP)) << img.GetLastError();
    for (const std::string& name : FilesIn(dir.path()))
        EXPECT_EQ(name.find(".vxtmp"), std::string::npos) << name;
}

// A save that fails says why, in the system's words.
TEST(Save, FailuresSayWhy) {
    vt::TempDir dir;
    std::filesystem::create_directory(dir.file("folder.bmp"));
    VxImage img(3, 3, 24, 0);
    struct Case { std::string path; const char* why; };
    const Case cases[] = {
        {dir.file("no/such/x.bmp"), "cannot create the output file: No such file or directory"},
        {dir.file("folder.bmp"), "cannot replace the output file: Is a directory"},
        {dir.file(std::string(NAME_MAX + 1, 'n')), "File name too long"},
    };
    for (const Case& c : cases) {
        EXPECT_FALSE(img.Save(c.path.c_str(), VX_FORMAT_BMP));
        EXPECT_NE(std::string(img.GetLastError()).find(c.why), std::string::npos)
            << img.GetLastError();
    }
    EXPECT_EQ(FilesIn(dir.path()), std::vector<std::string>{"folder.bmp"});

    // A write the system refuses halfway (here a file size limit, as a full
    // disk would): the encoder's own text gives way to the system's reason.
    int pipe_fd[2];
    ASSERT_EQ(pipe(pipe_fd), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit small{4096, 4096};
        setrlimit(RLIMIT_FSIZE, &small);
        VxImage big = vt::MakeGradient24(200, 100);
        const bool saved = big.Save(dir.file("big.bmp").c_str(), VX_FORMAT_BMP);
        const std::string text = saved ? "saved" : big.GetLastError();
        (void)!write(pipe_fd[1], text.data(), text.size());
        _exit(0);
    }
    close(pipe_fd[1]);
    char buf[256] = {};
    (void)!read(pipe_fd[0], buf, sizeof(buf) - 1);
    close(pipe_fd[0]);
    waitpid(child, nullptr, 0);
    EXPECT_STREQ(buf, "cannot write the output file: File too large");
    EXPECT_EQ(FilesIn(dir.path()), std::vector<std::string>{"folder.bmp"});
}

// A cancel raised from another thread reaches the codec working for the image.
TEST(Dispatch, CancelRequestReachesTheCodec) {
    std::atomic<int32_t> request{1};
    VxImage img(0);
    img.SetCancelRequest(&request);
    EXPECT_FALSE(img.Load(vt::DataPath("bmp/bits24.bmp").c_str(), VX_FORMAT_BMP));
    EXPECT_STREQ(img.GetLastError(), "Cancelled");
    request = 0;
    EXPECT_TRUE(img.Load(vt::DataPath("bmp/bits24.bmp").c_str(), VX_FORMAT_BMP));
}

TEST(Dispatch, EncodeToRgbaUsesPaletteReservedOrAlpha) {
    VxImage pal(2, 1, 1, 0);
    pal.SetPaletteColor(1, 10, 20, 30, 40);
    pal.SetPixelIndex(1, 0, 1);
    uint8_t* buf = nullptr;
    int32_t size = 0;
    ASSERT_TRUE(pal.Encode2RGBA(buf, size));
    ASSERT_EQ(size, 8);
    EXPECT_EQ(std::vector<uint8_t>(buf, buf + 8), (std::vector<uint8_t>{0, 0, 0, 0, 10, 20, 30, 40}));
    std::free(buf);

    VxImage rgb(1, 1, 24, 0);
    rgb.SetPixelColor(0, 0, vx::MakeRGBQUAD(1, 2, 3));
    rgb.AlphaCreate();
    rgb.AlphaSet(0, 0, 77);
    buf = nullptr;
    ASSERT_TRUE(rgb.Encode2RGBA(buf, size));
    EXPECT_EQ(std::vector<uint8_t>(buf, buf + 4), (std::vector<uint8_t>{1, 2, 3, 77}));
    std::free(buf);
}

// Saves from several threads at once (as --jobs runs them) all get the mode
// fopen would give: reading the umask must not let one thread see another's
// temporary 0 and make a file anyone may write.
TEST(Save, ModeFromManyThreadsAtOnce) {
    vt::TempDir dir;
    const mode_t mask = umask(022);
    std::vector<std::thread> threads;
    for (int t = 0; t < 6; ++t)
        threads.emplace_back([&, t] {
            VxImage img(5, 4, 24, 0);
            for (int i = 0; i < 25; ++i) {
                const std::string name = dir.file("t" + std::to_string(t) + "_" + std::to_string(i) + ".bmp");
                EXPECT_TRUE(img.Save(name.c_str(), VX_FORMAT_BMP));
            }
        });
    for (auto& th : threads) th.join();
    umask(mask);
    int files = 0;
    for (const std::string& name : FilesIn(dir.path())) {
        struct stat st {};
        ASSERT_EQ(stat(dir.file(name).c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0644u) << name;
        ++files;
    }
    EXPECT_EQ(files, 150);
}

// Pictures larger than the stream buffer cross it many times each way.
TEST(Save, LargePictureRoundTripsThroughTheStreams) {
    vt::TempDir dir;
    VxImage img = vt::MakeGradient24(401, 300);
    for (const uint32_t format : {VX_FORMAT_BMP, VX_FORMAT_TGA, VX_FORMAT_PNG, VX_FORMAT_TIF}) {
        const std::string path = dir.file("big" + std::to_string(format));
        ASSERT_TRUE(img.Save(path.c_str(), format)) << format;
        VxImage back(0);
        ASSERT_TRUE(back.Load(path.c_str(), format)) << format;
        const auto a = vt::ToRgba(img), b = vt::ToRgba(back);
        // 24-bit TIFF is JPEG-compressed; the others keep every pixel.
        if (format == VX_FORMAT_TIF) EXPECT_GT(vt::Psnr(a, b), 30.0);
        else EXPECT_EQ(vt::MaxChannelDiff(a, b, false), 0) << format;
    }
    EXPECT_EQ(vt::ReadFileBytes(dir.file("big" + std::to_string(VX_FORMAT_BMP))).size(),
              size_t(1204) * 300 + 54);
}

}  // namespace
