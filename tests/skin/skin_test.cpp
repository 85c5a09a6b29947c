// The skin file format, its colour shift, the module's four entry points and
// the writing of the carried files.
#include <QApplication>
#include <QPalette>
#include <QWidget>

#include <dlfcn.h>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <random>

#include "app/gui/skin_loader.h"
#include "skin/vskin.h"
#include "skin/vskin_theme.h"
#include "tests/support/test_support.h"

namespace {

using vskin::ParseTheme;
using vskin::ShiftHsv;
using vskin::Theme;

std::string Text(const std::vector<uint8_t>& b) { return std::string(b.begin(), b.end()); }

TEST(SkinTheme, ParsesTheShippedTheme) {
    const std::string bytes = Text(vt::ReadFileBytes(VSKIN_DATA));
    ASSERT_EQ(bytes.substr(0, 4), ".VSK");
    Theme t;
    ASSERT_TRUE(ParseTheme(bytes, t));
    EXPECT_EQ(t.version, 1);
    EXPECT_EQ(t.style, "Fusion");
    EXPECT_EQ(t.fontFamily, "WenQuanYi Micro Hei");
    EXPECT_EQ(t.fontPoints, 9);
    ASSERT_GE(t.colors.size(), 10u);
    EXPECT_EQ(t.colors[0].role, "Window");
}

TEST(SkinTheme, SkipsMalformedLinesAndRefusesBadHeaders) {
    Theme t;
    ASSERT_TRUE(ParseTheme(".VSK 2\r\n"
                           "color Window 112233  # trailing note\n"
                           "color Base 12345\n"      // five digits
                           "color Text GG0000\n"     // not hex
                           "color 112233\n"          // no role
                           "font 0 Tiny\n"           // size out of range
                           "font 12\n"               // no family
                           "bogus line\n"
                           "color Button ABCDEF",   // no final newline
                           t));
    EXPECT_EQ(t.version, 2);
    ASSERT_EQ(t.colors.size(), 2u);
    EXPECT_EQ(t.colors[0].role, "Window");
    EXPECT_EQ(t.colors[0].rgb, 0x112233u);
    EXPECT_EQ(t.colors[1].rgb, 0xABCDEFu);
    EXPECT_TRUE(t.fontFamily.empty());

    for (const char* bad : {"", "VSK 1\n", ".VSK\n", ".VSK x\n", ".VSK 0\n", "\n.VSK 1\n"})
        EXPECT_FALSE(ParseTheme(bad, t)) << bad;
    std::string huge = ".VSK 1\n" + std::string(vskin::kMaxThemeBytes, '#');
    EXPECT_FALSE(ParseTheme(huge, t));
}

TEST(SkinTheme, HostileBytesNeverCrash) {
    const std::string good = Text(vt::ReadFileBytes(VSKIN_DATA));
    std::mt19937 rng(7);
    Theme t;
    for (size_t cut = 0; cut <= good.size(); ++cut) ParseTheme(std::string_view(good).substr(0, cut), t);
    for (int i = 0; i < 2000; ++i) {
        std::string m = good;
        for (int k = 0; k < 8; ++k) m[rng() % m.size()] = char(rng() & 0xFF);
        if (ParseTheme(m, t)) {
            for (const auto& c : t.colors) EXPECT_LE(c.rgb, 0xFFFFFFu);
        }
    }
}

TEST(SkinTheme, HsvShift) {
    // No shift changes nothing (round trip through HSV).
    for (uint32_t c : {0x000000u, 0xFFFFFFu, 0x123456u, 0xD0D6E0u, 0xFF8800u})
        EXPECT_EQ(ShiftHsv(c, 0, 0, 0), c);
    // Hue turns: red by 120 degrees is green, by -120 blue.
    EXPECT_EQ(ShiftHsv(0xFF0000, 120, 0, 0), 0x00FF00u);
    EXPECT_EQ(ShiftHsv(0xFF0000, -120, 0, 0), 0x0000FFu);
    EXPECT_EQ(ShiftHsv(0xFF0000, 360, 0, 0), 0xFF0000u);
    // Value rises and clamps; grey stays grey.
    EXPECT_EQ(ShiftHsv(0x808080, 4, 33, 30), 0x9E9E9Eu);
    EXPECT_EQ(ShiftHsv(0xF0F0F0, 4, 33, 30), 0xFFFFFFu);
    EXPECT_EQ(ShiftHsv(0x101010, 0, 0, -255), 0x000000u);
    // Saturation rises: the channels spread apart.
    const uint32_t s = ShiftHsv(0x8090A0, 0, 60, 0);
    EXPECT_LT(s >> 16, 0x80u);
    EXPECT_EQ(s & 0xFF, 0xA0u);
}

// A copy of the built module beside the given theme text.
class SkinModule : public ::testing::Test {
protected:
    void Install(const std::string& theme) {
        ASSERT_TRUE(vt::WriteFileBytes(dir.file("vskin.so"), vt::ReadFileBytes(VSKIN_MODULE)));
        if (!theme.empty()) {
            ASSERT_TRUE(vt::WriteFileBytes(dir.file("vskin.dat"), {theme.begin(), theme.end()}));
        }
        lib = dlopen(dir.file("vskin.so").c_str(), RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(lib, nullptr) << dlerror();
        attach = reinterpret_cast<SkinAttachFn>(dlsym(lib, "Skin_Attach"));
        adjust = reinterpret_cast<SkinAdjustHsvFn>(dlsym(lib, "Skin_AdjustHSV"));
        aero = reinterpret_cast<SkinSetAeroFn>(dlsym(lib, "Skin_SetAero"));
        alpha = reinterpret_cast<SkinSetWindowAlphaFn>(dlsym(lib, "Skin_SetWindowAlpha"));
        ASSERT_TRUE(attach && adjust && aero && alpha);
    }
    vt::TempDir dir;
    void* lib = nullptr;
    SkinAttachFn attach = nullptr;
    SkinAdjustHsvFn adjust = nullptr;
    SkinSetAeroFn aero = nullptr;
    SkinSetWindowAlphaFn alpha = nullptr;
};

TEST_F(SkinModule, AttachThemesTheApplicationAndHsvShiftsIt) {
    Install(".VSK 1\ncolor Window 405060\ncolor Button 808080\n");
    ASSERT_EQ(attach(), 1);
    EXPECT_EQ(QApplication::palette().color(QPalette::Active, QPalette::Window), QColor(0x40, 0x50, 0x60));
    ASSERT_EQ(adjust(4, 33, 30), 1);
    const uint32_t want = ShiftHsv(0x405060, 4, 33, 30);
    EXPECT_EQ(QApplication::palette().color(QPalette::Window).rgb() & 0xFFFFFF, want);
    EXPECT_EQ(QApplication::palette().color(QPalette::Button), QColor(0x9E, 0x9E, 0x9E));
    EXPECT_EQ(aero(0), 1);

    QWidget w;
    w.show();
    EXPECT_EQ(alpha(uintptr_t(w.winId()), 220), 1);
    EXPECT_NEAR(w.windowOpacity(), 220 / 255.0, 0.005);
    // Out-of-range opacities are clamped; unknown windows are refused.
    EXPECT_EQ(alpha(uintptr_t(w.winId()), 999), 1);
    EXPECT_DOUBLE_EQ(w.windowOpacity(), 1.0);
    EXPECT_EQ(alpha(uintptr_t(0xDEADBEEF), 220), 0);
}

TEST_F(SkinModule, AttachFailsQuietlyWithoutAThemeOrWithABadOne) {
    Install("");
    EXPECT_EQ(attach(), 0);
    EXPECT_EQ(adjust(4, 33, 30), 0);
    vt::WriteFileBytes(dir.file("vskin.dat"), {'M', 'Z', 0, 1, 2});
    EXPECT_EQ(attach(), 0);
    // A theme named elsewhere is read instead of the one beside the module.
    auto themeFile = reinterpret_cast<SkinSetThemeFileFn>(dlsym(lib, "Skin_SetThemeFile"));
    ASSERT_NE(themeFile, nullptr);
    const std::string theme = ".VSK 1\ncolor Window 123456\n";
    ASSERT_TRUE(vt::WriteFileBytes(dir.file("elsewhere.dat"), {theme.begin(), theme.end()}));
    EXPECT_EQ(themeFile(dir.file("elsewhere.dat").c_str()), 1);
    adjust(0, 0, 0);  // the module may be the one an earlier test shifted
    EXPECT_EQ(attach(), 1);
    EXPECT_EQ(QApplication::palette().color(QPalette::Window), QColor(0x12, 0x34, 0x56));
    themeFile("");
}

TEST(SkinFiles, EmbeddedBytesAreTheBuiltModuleAndTheme) {
    const auto so = vellumar::gui::EmbeddedSkinLibrary();
    const auto dat = vellumar::gui::EmbeddedSkinData();
    EXPECT_EQ(std::vector<uint8_t>(so.begin(), so.end()), vt::ReadFileBytes(VSKIN_MODULE));
    EXPECT_EQ(std::vector<uint8_t>(dat.begin(), dat.end()), vt::ReadFileBytes(VSKIN_DATA));
}

TEST(SkinFiles, AtomicWriteReplacesAndCleansUp) {
    vt::TempDir dir;
    const std::string path = dir.file("vskin.so");
    const unsigned char a[] = {1, 2, 3}, b[] = {9};
    ASSERT_TRUE(vellumar::gui::WriteFileAtomically(path, a, 0755));
    ASSERT_TRUE(vellumar::gui::WriteFileAtomically(path, b, 0755));
    EXPECT_EQ(vt::ReadFileBytes(path), (std::vector<uint8_t>{9}));
    struct stat st {};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0755u);
    EXPECT_FALSE(vellumar::gui::WriteFileAtomically(dir.file("missing/vskin.so"), a, 0644));
    // Only the one file is there: no temporary left behind.
    int entries = 0;
    for (const char* name : {"vskin.so"}) entries += vt::FileExists(dir.file(name));
    EXPECT_EQ(entries, 1);
    EXPECT_EQ(vt::RunCommand("test $(ls -A " + vt::ShellQuote(dir.path()) + " | wc -l) -eq 1"), 0);
}

std::vector<uint8_t> EmbeddedModule() {
    const auto so = vellumar::gui::EmbeddedSkinLibrary();
    return {so.begin(), so.end()};
}

TEST(SkinFiles, OnlyAnUnchangeableCopyOfTheEmbeddedModuleIsTrusted) {
    vt::TempDir dir;
    std::vector<uint8_t> longer = EmbeddedModule(), changed = EmbeddedModule();
    longer.push_back(0);
    changed[changed.size() / 2] ^= 1;
    const struct { const char* name; std::vector<uint8_t> bytes; unsigned mode; bool trusted; } files[] = {
        {"genuine.so", EmbeddedModule(), 0755, true},
        {"planted.so", vt::ReadFileBytes(PLANTED_MODULE), 0755, false},
        {"longer.so", longer, 0755, false},
        {"changed.so", changed, 0755, false},
        {"shared.so", EmbeddedModule(), 0775, false},  // others could change it after the check
    };
    for (const auto& f : files) {
        ASSERT_TRUE(vt::WriteFileBytes(dir.file(f.name), f.bytes));
        ASSERT_EQ(chmod(dir.file(f.name).c_str(), f.mode), 0);
    }
    ASSERT_EQ(symlink(dir.file("genuine.so").c_str(), dir.file("link.so").c_str()), 0);
    std::vector<std::pair<std::string, bool>> cases = {{"link.so", false}, {"missing.so", false}};
    for (const auto& f : files) cases.emplace_back(f.name, f.trusted);
    if (geteuid() == 0) {
        ASSERT_TRUE(vt::WriteFileBytes(dir.file("theirs.so"), EmbeddedModule()));
        ASSERT_EQ(chown(dir.file("theirs.so").c_str(), 65534, 65534), 0);
        cases.emplace_back("theirs.so", false);
    }
    for (const auto& [name, trusted] : cases) {
        const int fd = vellumar::gui::OpenTrustedModule(dir.file(name), EmbeddedModule());
        EXPECT_EQ(fd >= 0, trusted) << name;
        if (fd >= 0) close(fd);
    }
}

// A library planted in a program folder the user cannot write is never
// loaded: the embedded module goes to the user's private folder instead. Run
// in a child as an unprivileged user when the tests run as root.
TEST(SkinFilesDeathTest, PlantedModuleInAnUnwritableProgramFolderNeverRuns) {
    vt::TempDir prog, user;
    const std::string planted = prog.file("vskin.so"), mark = user.file("planted-ran");
    const std::string run = user.file("run");
    ASSERT_TRUE(vt::WriteFileBytes(planted, vt::ReadFileBytes(PLANTED_MODULE)));
    ASSERT_EQ(chmod(planted.c_str(), 0755), 0);
    ASSERT_EQ(mkdir(run.c_str(), 0700), 0);
    ASSERT_EQ(chmod(prog.path().c_str(), 0555), 0);
    ASSERT_EQ(chmod(user.path().c_str(), 0755), 0);
    const bool root = geteuid() == 0;
    if (root) {
        for (const std::string& d : {user.path(), run})
            ASSERT_EQ(chown(d.c_str(), 65534, 65534), 0);
    }
    EXPECT_EXIT(
        {
            if (root && (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0))
                _exit(2);
            setenv("XDG_DATA_HOME", user.file("data").c_str(), 1);
            setenv("XDG_CONFIG_HOME", user.file("config").c_str(), 1);
            setenv("XDG_RUNTIME_DIR", run.c_str(), 1);
            setenv("VELLUMAR_PLANTED_MARK", mark.c_str(), 1);
            vellumar::gui::SkinEngine skin;
            const bool loaded = skin.Load(vellumar::PlacesFor(prog.path()));
            std::fprintf(stderr, "loaded %d from %s, mark %d\n", int(loaded),
                         skin.ModulePath().c_str(), int(vt::FileExists(mark)));
            _exit(loaded && skin.ModulePath() == run + "/vellumar/vskin.so" && !vt::FileExists(mark)
                      ? 0
                      : 1);
        },
        ::testing::ExitedWithCode(0), "loaded 1");
    EXPECT_FALSE(vt::FileExists(mark));
    EXPECT_EQ(vt::ReadFileBytes(planted), vt::ReadFileBytes(PLANTED_MODULE));
    chmod(prog.path().c_str(), 0700);
}

}  // namespace
