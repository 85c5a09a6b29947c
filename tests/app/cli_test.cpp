#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <zlib.h>
#include <sys/wait.h>

#include <algorithm>
#include <filesystem>

#include "tests/support/drawing_compare.h"
#include "tests/support/reference_decoder.h"
#include "tests/support/reference_metadata.h"
#include "tests/support/test_profiles.h"
#include "tests/support/test_support.h"

namespace {

struct Result {
    int status;
    std::string out;
    std::string err;
};

Result Cli(const vt::TempDir& dir, const std::string& args, const std::string& exe = VELLUMAR_CLI) {
    const std::string out = dir.file("stdout.txt"), err = dir.file("stderr.txt");
    Result r;
    r.status = vt::RunCommand(vt::ShellQuote(exe) + " " + args + " >" + vt::ShellQuote(out) +
                              " 2>" + vt::ShellQuote(err));
    const auto o = vt::ReadFileBytes(out), e = vt::ReadFileBytes(err);
    r.out.assign(o.begin(), o.end());
    r.err.assign(e.begin(), e.end());
    return r;
}

std::string Q(const std::string& s) { return vt::ShellQuote(s); }

TEST(Cli, StopsAfterTheFailedRowAndKeepsGoingWhenAsked) {
    vt::TempDir dir;
    const std::string bad = dir.file("bad.png");
    ASSERT_TRUE(vt::WriteFileBytes(bad, std::vector<uint8_t>(64, '?')));
    const std::string files =
        Q(vt::DataPath("bmp/bits24.bmp")) + " " + Q(bad) + " " + Q(vt::DataPath("bmp/bits8.bmp"));
    const std::string out = dir.file("out");

    Result r = Cli(dir, "--to bmp --out-dir " + Q(out) + " " + files);
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(vt::FileExists(out + "/main1.BMP"));
    EXPECT_FALSE(vt::FileExists(out + "/main2.BMP"));
    EXPECT_FALSE(vt::FileExists(out + "/main3.BMP"));
    EXPECT_NE(r.err.find("row 2"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("decoding failed"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(bad), std::string::npos) << r.err;

    r = Cli(dir, "--to BMP --keep-going --prefix k --quiet --out-dir " + Q(out) + " " + files);
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(vt::FileExists(out + "/k3.BMP"));
    EXPECT_EQ(r.out, "");

    r = Cli(dir, "--to bmp --out-dir " + Q(out) + " " + Q(vt::DataPath("bmp/rle8.bmp")));
    EXPECT_EQ(r.status, 0) << r.err;
    if (vt::ReferenceAvailable(vt::Reference::Pillow)) {
        const auto a = vt::DecodeWithReference(vt::DataPath("bmp/rle8.bmp"));
        const auto b = vt::DecodeWithReference(out + "/main1.BMP");
        ASSERT_TRUE(a && b);
        EXPECT_EQ(vt::MaxChannelDiff(*a, *b), 0);
    }
}

void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v, bool big) {
    for (int i = 0; i < 4; ++i) b.at(at + size_t(i)) = uint8_t(v >> (big ? 24 - 8 * i : 8 * i));
}

// A 15000 x 15000 PNG whose pixel data is rubbish: only its header can be read.
std::vector<uint8_t> HugePng() {
    std::vector<uint8_t> b = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0, 13, 'I', 'H',
                              'D', 'R', 0, 0, 0, 0, 0, 0, 0, 0, 8, 2, 0, 0, 0, 0, 0, 0, 0,
                              0, 0, 0, 16, 'I', 'D', 'A', 'T'};
    Put32(b, 16, 15000, true);
    Put32(b, 20, 15000, true);
    Put32(b, 29, uint32_t(crc32(0, &b[12], 17)), true);
    b.resize(b.size() + 20, 0xA5);
    return b;
}

// The huge PNG with an animation control chunk declaring five frames.
std::vector<uint8_t> DeclaredAnimation() {
    std::vector<uint8_t> b = HugePng(), chunk = {0, 0, 0, 8, 'a', 'c', 'T', 'L', 0, 0, 0, 5,
                                                 0, 0, 0, 0, 0, 0, 0, 0};
    Put32(chunk, 16, uint32_t(crc32(0, &chunk[4], 12)), true);
    b.insert(b.begin() + 33, chunk.begin(), chunk.end());
    return b;
}

// 108 bytes: an animation on a 16383 x 16383 canvas, two frames of rubbish.
std::vector<uint8_t> HugeWebp() {
    std::vector<uint8_t> b = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'E', 'B', 'P',
                              'V', 'P', '8', 'X', 10, 0, 0, 0, 0x02, 0, 0, 0,
                              0xFE, 0x3F, 0, 0xFE, 0x3F, 0, 'A', 'N', 'I', 'M', 6, 0, 0, 0};
    b.resize(b.size() + 6, 0);
    for (int frame = 0; frame < 2; ++frame) {
        const std::vector<uint8_t> anmf = {'A', 'N', 'M', 'F', 24, 0, 0, 0};
        b.insert(b.end(), anmf.begin(), anmf.end());
        b.resize(b.size() + 24, 0x5A);
    }
    Put32(b, 4, uint32_t(b.size() - 8), false);
    return b;
}

// --info reads headers alone: frame counts, a still picture's one frame, and
// pictures that could not be decoded at all or only at great cost.
TEST(Cli, Info) {
    vt::TempDir dir;
    ASSERT_TRUE(vt::WriteFileBytes(dir.file("huge.png"), HugePng()));
    ASSERT_TRUE(vt::WriteFileBytes(dir.file("huge.webp"), HugeWebp()));
    ASSERT_TRUE(vt::WriteFileBytes(dir.file("anim.png"), DeclaredAnimation()));
    const struct {
        std::string file, line;
    } cases[] = {
        {vt::DataPath("bmp/bits4.bmp"), "BMP 13x7 4 bpp, 1 frame, 0x0 dpi"},
        {vt::DataPath("gif/anim_local.gif"), "GIF 30x22 4 bpp, 4 frames, 96x96 dpi"},
        {vt::DataPath("jxl/anim.jxl"), "JXL 40x30 24 bpp, 3 frames, 96x96 dpi"},
        {vt::DataPath("tiff/two_pages.tif"), "TIF 41x29 24 bpp, 2 frames, 96x96 dpi"},
        {vt::DataPath("png/rgba16.png"), "PNG 37x23 24 bpp, 16-bit samples, 1 frame, 96x96 dpi"},
        {vt::DataPath("raw/bggr_turned.dng"),
         "RAW 32x48 24 bpp, 16-bit samples, 1 frame, 96x96 dpi, camera \"Vellumar Test Mosaic\""},
        {dir.file("huge.png"), "PNG 15000x15000 24 bpp, 1 frame, 96x96 dpi"},
        {dir.file("huge.webp"), "WEBP 16383x16383 24 bpp, 2 frames, 96x96 dpi"},
        {dir.file("anim.png"), "PNG 15000x15000 24 bpp, 5 frames, 96x96 dpi"},
        {dir.file("missing.bmp"), "error: cannot open the file: No such file or directory"},
    };
    std::string args = "--info";
    for (const auto& c : cases) args += " " + Q(c.file);
    Result r = Cli(dir, args);
    EXPECT_EQ(r.status, 1);
    for (const auto& c : cases)
        EXPECT_NE(r.out.find(c.file + ": " + c.line + "\n"), std::string::npos) << r.out;
    // The limit holds as a decode holds it.
    r = Cli(dir, "--info --max-pixels 268402688 " + Q(dir.file("huge.webp")));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("16383 x 16383 pixels is above the limit of 268402688"), std::string::npos)
        << r.out;
}

// --max-pixels reaches the decoders of --info and of a run; 0 lifts the limit.
TEST(Cli, MaxPixels) {
    vt::TempDir dir;
    const std::string f = Q(vt::DataPath("bmp/bits4.bmp"));  // 13 x 7
    Result r = Cli(dir, "--info --max-pixels 90 " + f);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("limit of 90 pixels"), std::string::npos) << r.out;
    r = Cli(dir, "--to PNG --max-pixels 90 --out-dir " + Q(dir.file("a")) + " " + f);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("limit of 90 pixels"), std::string::npos) << r.err;
    for (const char* ok : {"91", "0"}) {
        r = Cli(dir, std::string("--to PNG --max-pixels ") + ok + " --out-dir " + Q(dir.file(ok)) +
                         " " + f);
        EXPECT_EQ(r.status, 0) << ok << r.err;
        EXPECT_TRUE(vt::FileExists(dir.file(ok) + "/main1.PNG")) << ok;
    }
}

// The newer formats through the command line: read by their content whatever
// the name says, written by --to, named by --info.
TEST(Cli, NewerFormatsBothWays) {
    vt::TempDir dir;
    const struct {
        const char* fixture;
        const char* name;
        const char* ext;
    } cases[] = {{"webp/lossless.webp", "WEBP", ".WEBP"},
                 {"heif/lossy.heic", "HEIC", ".HEIC"},
                 {"heif/lossless.avif", "AVIF", ".AVIF"},
                 {"jxl/lossless.jxl", "JXL", ".JXL"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fixture);
        const std::string misnamed = dir.file("photo.jpg");
        ASSERT_TRUE(vt::WriteFileBytes(misnamed, vt::ReadFileBytes(vt::DataPath(c.fixture))));
        Result r = Cli(dir, "--info " + Q(misnamed));
        EXPECT_EQ(r.status, 0) << r.out;
        EXPECT_NE(r.out.find(std::string(": ") + c.name + " 48x32 24 bpp, 1 frame,"), std::string::npos)
            << r.out;
        const std::string out = dir.file("out");
        r = Cli(dir, std::string("--to ") + c.name + " --out-dir " + Q(out) + " " + Q(misnamed));
        EXPECT_EQ(r.status, 0) << r.err;
        const std::string written = out + "/main1" + c.ext;
        r = Cli(dir, "--info " + Q(written));
        EXPECT_NE(r.out.find(std::string(": ") + c.name + " 48x32"), std::string::npos) << r.out;
    }
}

TEST(Cli, BadUsage) {
    vt::TempDir dir;
    const std::string f = Q(vt::DataPath("bmp/bits4.bmp"));
    const std::vector<std::string> cases = {
        "", "--to XYZ " + f, "--to PNG", f, "--to PNG --quality 0 " + f,
        "--to PNG --frame -1 " + f, "--info --to PNG " + f, "--bogus " + f,
        // A prefix is a name: it must not lead out of the output folder.
        "--to PNG --prefix ../x " + f, "--to PNG --max-memory 0 " + f,
        "--to PNG --max-memory 12X " + f, "--to GIF --palette best " + f,
        "--to GIF --dither yes " + f, "--to PNG --resize 0x0 " + f, "--to PNG --resize big " + f,
        "--to PNG --name '{nam}' " + f, "--to PNG --name fixed.png " + f,
        "--to PNG --recursive=yes " + f,
        "--to PNG --max-pixels -1 " + f, "--to PNG --max-pixels 1e6 " + f,
        "--to PNG --max-memory 17179869184G " + f,  // 2^64 bytes
        "--to PNG --quality 101 " + f, "--to PNG --jobs=0 " + f, "--to PNG --strip=1 " + f,
        "--to wmf " + f, "--to PNG --exposure 20.01 " + f, "--to PNG --exposure 1.234 " + f,
        "--to PNG --exposure=- " + f, "--to PNG --exposure 1e2 " + f};
    for (const std::string& args : cases) {
        const Result r = Cli(dir, args);
        EXPECT_EQ(r.status, 2) << args;
        EXPECT_NE(r.err.find("usage:"), std::string::npos) << args;
    }
    EXPECT_NE(Cli(dir, "--to PNG --strip=1 " + f).err.find("--strip takes no value"),
              std::string::npos);
    EXPECT_NE(Cli(dir, "--to WMF " + f).err.find("can be read but not written"), std::string::npos);
    const Result info = Cli(dir, "--info --quality 50 --strip --frame 0 " + f);
    EXPECT_EQ(info.status, 0);
    EXPECT_EQ(info.err, "vellumar-convert: --info ignores --quality\n"
                        "vellumar-convert: --info ignores --strip\n");
}

TEST(Cli, HelpAnywhereAndWhatItPrintsIsClean) {
    vt::TempDir dir;
    Result r = Cli(dir, "--to PNG " + Q(vt::DataPath("bmp/bits4.bmp")) + " --help");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.rfind("usage:", 0), 0u) << r.out;
    r = Cli(dir, "--to PNG -- --help");
    EXPECT_EQ(r.status, 1) << "after --, --help is a file name";

    // Control characters in names are escaped; a decoder's own "error:" is not doubled.
    const std::string odd = dir.file("a\x1b[31mred\nline.j2k");
    ASSERT_TRUE(vt::WriteFileBytes(odd, {'x', 'x'}));
    r = Cli(dir, "--info " + Q(odd) + " " + Q(vt::DataPath("jpeg2000/comps65.j2k")));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out.find('\x1b'), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("a\\x1b[31mred\\x0aline.j2k: error: "), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("error: error"), std::string::npos) << r.out;
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 2) << r.out;

    // --info that cannot print its answer fails.
    EXPECT_EQ(vt::RunCommand(Q(VELLUMAR_CLI) + " --info " + Q(vt::DataPath("bmp/bits4.bmp")) +
                             " >/dev/full 2>/dev/null"),
              1);
}

TEST(Cli, DefaultFolderIsDataBesideTheProgram) {
    vt::TempDir dir;
    const std::string exe = dir.file("vellumar-convert");
    std::filesystem::copy_file(VELLUMAR_CLI, exe);
    std::filesystem::permissions(exe, std::filesystem::perms::owner_all);
    const Result r = Cli(dir, Q(vt::DataPath("bmp/bits1.bmp")) + " --to=bmp", exe);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(vt::FileExists(dir.file("DATA/main1.BMP")));
    EXPECT_NE(r.out.find(dir.file("DATA")), std::string::npos) << r.out;
}

// A signal in the middle of a run: the rows already converted stay whole, the
// rows in progress leave nothing, and the program ends by that signal.
TEST(Cli, SignalMidRunLeavesNoHalfWrittenFile) {
    vt::TempDir dir;
    VxImage big = vt::MakeGradient24(1600, 1200);
    const std::string src = dir.file("big.bmp");
    ASSERT_TRUE(big.Save(src.c_str(), VX_FORMAT_BMP));
    struct Case { int sig; const char* jobs; };
    for (const Case c : {Case{SIGINT, "1"}, Case{SIGTERM, "2"}, Case{SIGHUP, "2"}}) {
        SCOPED_TRACE(c.sig);
        const std::string out = dir.file("out" + std::to_string(c.sig));
        std::filesystem::create_directory(out);
        std::vector<std::string> args = {VELLUMAR_CLI, "--to", "PNG", "--jobs", c.jobs, "--quiet",
                                         "--out-dir", out};
        for (int i = 0; i < 40; ++i) args.push_back(src);
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        pid_t pid = 0;
        ASSERT_EQ(posix_spawn(&pid, VELLUMAR_CLI, &actions, nullptr, argv.data(), environ), 0);
        posix_spawn_file_actions_destroy(&actions);
        // Signalled once the first row is in place, while later rows are in progress.
        for (int polls = 0; polls < 60000 && !vt::FileExists(out + "/main1.PNG"); ++polls)
            usleep(1000);
        kill(pid, c.sig);
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFSIGNALED(status)) << "exit status " << WEXITSTATUS(status);
        EXPECT_EQ(WTERMSIG(status), c.sig);
        int converted = 0;
        for (const auto& e : std::filesystem::directory_iterator(out)) {
            const std::string name = e.path().filename().string();
            ASSERT_EQ(name.rfind("main", 0), 0u) << "left behind: " << name;
            VxImage back(0);
            EXPECT_TRUE(back.Load(e.path().c_str(), VX_FORMAT_PNG)) << name;
            ++converted;
        }
        EXPECT_GE(converted, 1);
        EXPECT_LT(converted, 40);
    }
}

// Each picture option through the command line, seen in the written file.
TEST(Cli, PictureOptions) {
    vt::TempDir dir;
    const std::string out = dir.file("out");
    auto convert = [&](const std::string& args, const std::string& source, VxImage& result) {
        const Result r = Cli(dir, "--to " + args + " --out-dir " + Q(out) + " " + Q(source));
        ASSERT_EQ(r.status, 0) << args << ": " << r.err;
        const std::string ext = args.substr(0, args.find(' '));
        ASSERT_TRUE(result.Load((out + "/main1." + ext).c_str(), 0)) << args;
    };
    // Stored 16 x 24 with orientation 6.
    const std::string turned = vt::DataPath("jpeg/orient/orient6.jpg");
    const struct {
        const char* args;
        uint32_t w, h;
    } sizes[] = {
        {"PNG", 24, 16},           {"PNG --keep-orientation", 16, 24},
        {"PNG --resize 12x12", 12, 8}, {"PNG --resize 50%", 12, 8},
        {"PNG --resize 100x100", 24, 16}, {"PNG --resize 48x48+", 48, 32},
        {"JPG --resize x8", 12, 8},
    };
    for (const auto& c : sizes) {
        VxImage img;
        convert(c.args, turned, img);
        EXPECT_EQ(img.GetWidth(), c.w) << c.args;
        EXPECT_EQ(img.GetHeight(), c.h) << c.args;
    }
    // A 24 x 16 preview stored with orientation 8 is turned by the row, the
    // developed 32 x 48 picture by libraw: each once.
    const std::tuple<const char*, uint32_t, uint32_t> raws[] = {
        {"PNG --raw-preview", 16, 24}, {"PNG --raw-preview --keep-orientation", 24, 16}, {"PNG", 32, 48}};
    for (const auto& [args, w, h] : raws) {
        VxImage img;
        convert(args, vt::DataPath("raw/preview_jpeg.dng"), img);
        EXPECT_TRUE(img.GetWidth() == w && img.GetHeight() == h) << args << img.GetWidth();
    }

    // One stop brighter, as the library's own tool doubles the samples; the
    // option survives the codec options each row starts afresh with.
    const std::string exr = vt::DataPath("exr/rgb_half_scan.exr");
    VxImage brighter, doubled;
    convert("PNG --exposure 1.0", exr, brighter);
    ASSERT_TRUE(doubled.Load((exr + ".ev1.png").c_str(), VX_FORMAT_PNG));
    const int off = vt::MaxChannelDiff(vt::ToRgba(brighter), vt::ToRgba(doubled));
    EXPECT_TRUE(off >= 0 && off <= 1) << off;  // -1: the sizes differ

    // --dpi reaches the drawing readers; a resize draws at the final size (a
    // resampled raster would blur the edges far past the tolerance).
    const std::tuple<const char*, const char*, const char*> drawn[] = {
        {"PNG --dpi 72", "pdf/pages.pdf", "pdf/pages.pdf.1.72.png"},
        {"PNG --resize 30x20", "pdf/pages.pdf", "pdf/pages.pdf.1.72.png"},
        {"PNG --dpi 192", "svg/shapes.svg", "svg/shapes.svg.z2.png"},
        {"PNG --dpi 48 --resize 200%", "svg/shapes.svg", "svg/shapes.svg.png"}};
    for (const auto& [args, file, ref] : drawn) {
        VxImage got, want;
        convert(args, vt::DataPath(file), got);
        ASSERT_TRUE(want.Load(vt::DataPath(ref).c_str(), VX_FORMAT_PNG));
        EXPECT_LE(vt::CoverageDiff(vt::ToRgba(got), vt::ToRgba(want)), 2) << args;
    }

    // Reduced colours: an adaptive, dithered palette is closer to the source.
    const std::string photo = vt::DataPath("jpeg/baseline_444.jpg");
    VxImage source, standard, adaptive;
    ASSERT_TRUE(source.Load(photo.c_str(), VX_FORMAT_JPG));
    convert("GIF", photo, standard);
    convert("GIF --palette adaptive --dither floyd-steinberg", photo, adaptive);
    const vt::Rgba s = vt::ToRgba(source);
    EXPECT_GT(vt::Psnr(s, vt::ToRgba(adaptive)), vt::Psnr(s, vt::ToRgba(standard)) + 2);

    // Profiles and EXIF stay unless stripped; stripped pixels are sRGB.
    const std::string tagged = dir.file("tagged.png");
    if (!vt::WriteWithPillow(tagged, "PNG", vt::MakeProfile(vt::ProfileKind::LinearRgb), 1))
        GTEST_SKIP() << "Pillow is not available";
    for (const bool strip : {false, true}) {
        VxImage img;
        convert(strip ? "PNG --strip" : "PNG", tagged, img);
        EXPECT_EQ(img.GetIccProfile().empty(), strip);
        EXPECT_EQ(img.GetExif().empty(), strip);
        EXPECT_NEAR(img.GetPixelColor(10, 4).rgbGreen, strip ? vt::SrgbOfLinear(128) : 128, 1);
    }
}

// A folder tree under the source names and sub-folders; a second tree whose
// names clash with the first fails row by row, naming the earlier row.
// The codec modules load on their first file and not before: files the probe
// has to place (unknown bytes; a QOI file, which it reaches after the HEIF,
// JPEG XL and metafile lines) load none. The loader's own log names what it maps.
TEST(Cli, CodecModulesLoadOnlyForTheirOwnFiles) {
    vt::TempDir dir;
    const std::string junk = dir.file("junk.png"), qoi = dir.file("picture.dat");
    ASSERT_TRUE(vt::WriteFileBytes(junk, std::vector<uint8_t>(8192, '?')));
    ASSERT_TRUE(vt::WriteFileBytes(qoi, vt::ReadFileBytes(vt::DataPath("qoi/hand_every_op.qoi"))));
    const struct {
        std::vector<std::string> files;
        const char* library;  // what the module brings; null: no module loads
    } cases[] = {
        {{junk, qoi}, nullptr},
        {{vt::DataPath("heif/lossy.heic")}, "libheif.so"},
        {{qoi, vt::DataPath("svg/shapes.svg")}, "librsvg-2.so"},
    };
    for (const auto& c : cases) {
        std::string files;
        for (const std::string& f : c.files) files += " " + Q(f);
        const Result r = Cli(dir, "LD_DEBUG=files " + Q(VELLUMAR_CLI) + " --to BMP --keep-going --quiet --out-dir " +
                                      Q(dir.file("out")) + files, "/usr/bin/env");
        SCOPED_TRACE(files);
        EXPECT_EQ(r.status, c.library ? 0 : 1);
        const bool loaded = r.err.find("/proc/self/fd/") != std::string::npos;
        EXPECT_EQ(loaded, c.library != nullptr) << r.err.substr(0, 2000);
        if (c.library) {
            EXPECT_NE(r.err.find(c.library), std::string::npos);
        }
    }
}

TEST(Cli, NamesAndFolders) {
    vt::TempDir dir;
    const std::string in = dir.file("holiday"), out = dir.file("out");
    std::filesystem::create_directories(in + "/day1");
    const std::string bmp = vt::DataPath("bmp/bits24.bmp");
    for (const char* name : {"IMG.2.bmp", "day1/IMG_0001.bmp", "notes.txt"})
        ASSERT_TRUE(vt::WriteFileBytes(in + "/" + name, vt::ReadFileBytes(bmp)));
    ASSERT_TRUE(vt::WriteFileBytes(in + "/broken.bmp", std::vector<uint8_t>(40, 'x')));

    Result r = Cli(dir, "--to PNG --recursive --keep-going --name '{dir}/{row}-{name}.{ext}' "
                        "--out-dir " + Q(out) + " " + Q(in));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("row 2: " + in + "/broken.bmp: decoding failed"), std::string::npos)
        << r.err;
    // Rows in byte order: IMG.2.bmp, broken.bmp, day1/IMG_0001.bmp, notes.txt (probed).
    for (const char* made : {"1-IMG.2.png", "day1/3-IMG_0001.png", "4-notes.png"})
        EXPECT_TRUE(vt::FileExists(out + "/" + made)) << made;

    const std::string other = dir.file("other");
    std::filesystem::create_directories(other);
    ASSERT_TRUE(vt::WriteFileBytes(other + "/IMG.2.gif", vt::ReadFileBytes(bmp)));
    r = Cli(dir, "--to PNG --name '{name}{EXT}' --out-dir " + Q(out) + " " + Q(in + "/IMG.2.bmp") +
                     " " + Q(other + "/IMG.2.gif"));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("row 2 would write row 1's output file " + out + "/IMG.2.PNG"),
              std::string::npos)
        << r.err;

    // Without --recursive a folder is a failed row, as any unreadable file.
    r = Cli(dir, "--to PNG --out-dir " + Q(out) + " " + Q(other));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("row 1: " + other + ": decoding failed"), std::string::npos) << r.err;
}

}  // namespace

namespace {

// Short of descriptors, a row that failed beside others is tried again alone:
// the outcome is that of one worker, and the reason names the shortage. The
// limits go from none converting to all, whatever the test itself holds open.
TEST(Cli, SameOutcomeWhateverTheJobsWhenShortOfDescriptors) {
#if defined(__SANITIZE_ADDRESS__)
    // The sanitizers' own checks need descriptors and report the shortage as faults.
    GTEST_SKIP() << "not under the sanitizers";
#endif
    vt::TempDir dir;
    std::string files;
    for (int i = 0; i < 8; ++i) files += " " + Q(vt::DataPath("bmp/bits24.bmp"));
    bool someConverted = false;
    for (int limit = 6; limit <= 12; ++limit) {
        std::vector<std::string> seen;
        for (const char* jobs : {"1", "2", "4"}) {
            const std::string out = dir.file("out" + std::to_string(limit) + jobs);
            const std::string err = dir.file("err");
            // The shell's own redirections need descriptors: made before the limit.
            const int status = vt::RunCommand(
                "exec 2>" + Q(err) + "; ulimit -n " + std::to_string(limit) + "; exec " +
                Q(VELLUMAR_CLI) + " --to PNG --keep-going --quiet --jobs " + jobs + " --out-dir " +
                Q(out) + files);
            std::vector<std::string> names;
            if (std::filesystem::is_directory(out))
                for (const auto& e : std::filesystem::directory_iterator(out))
                    names.push_back(e.path().filename().string());
            std::sort(names.begin(), names.end());
            someConverted = someConverted || names.size() == 8;
            std::string outcome = std::to_string(status) + ":";
            for (const std::string& n : names) outcome += n + " ";
            const auto said = vt::ReadFileBytes(err);
            seen.push_back(outcome + std::string(said.begin(), said.end()));
        }
        EXPECT_EQ(seen[0], seen[1]) << "limit " << limit;
        EXPECT_EQ(seen[0], seen[2]) << "limit " << limit;
    }
    EXPECT_TRUE(someConverted);
}

}  // namespace

namespace {

// Reasons a user can act on, in the command line's language, and no empty
// output folder left by a run that wrote nothing.
TEST(Cli, ReasonsSayWhatIsWrong) {
    vt::TempDir dir;
    ASSERT_TRUE(vt::WriteFileBytes(dir.file("notes.png"), {'h', 'i', '\n'}));
    ASSERT_TRUE(vt::WriteFileBytes(dir.file("empty.bmp"), {}));
    std::filesystem::create_directory(dir.file("folder.jpg"));
    struct Case { std::string args, said; };
    const Case cases[] = {
        {"--to PNG " + Q(dir.file("notes.png")), "not an image file: it holds text"},
        {"--to PNG " + Q(dir.file("empty.bmp")), "the file is empty"},
        {"--to PNG " + Q(dir.file("folder.jpg")), "cannot open the file: Is a directory"},
        {"--to WBMP " + Q(VELLUMAR_SOURCE_DIR "/samples/sunset.bmp"),
         "cannot save the picture as WBMP: width and height cannot be above 255 pixels"},
        {"--to PNG --max-memory 1 " + Q(vt::DataPath("bmp/bits1.bmp")),
         "more than the memory budget of 1 byte"},
    };
    for (const Case& c : cases) {
        const Result r = Cli(dir, "--out-dir " + Q(dir.file("out/deep")) + " " + c.args);
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find(c.said), std::string::npos) << r.err;
        EXPECT_FALSE(vt::FileExists(dir.file("out"))) << c.args;
    }
    EXPECT_NE(vt::RunCommand(Q(VELLUMAR_CLI) + " --to PNG --out-dir " + Q(dir.file("o")) + " " +
                             Q(vt::DataPath("bmp/bits1.bmp")) + " >/dev/full 2>/dev/null"),
              0);
}

}  // namespace
