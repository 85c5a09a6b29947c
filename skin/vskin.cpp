// The skin engine module. It lives in the process of the window that loaded it
// and themes that application through Qt's palette, style and font.
#include <dlfcn.h>

#include <QApplication>
#include <QFont>
#include <QPalette>
#include <QStyle>
#include <QStyleFactory>
#include <QWidget>

#include <algorithm>
#include <cstdio>
#include <string>

#include "vskin.h"
#include "vskin_theme.h"

namespace {

struct State {
    bool attached = false;
    vskin::Theme theme;
    int hue = 0, saturation = 0, value = 0;
    bool aero = false;
    std::string themeFile;  // empty: vskin.dat beside the module
};

State& S() {
    static State s;
    return s;
}

std::string ModuleDirectory() {
    Dl_info info{};
    if (!dladdr(reinterpret_cast<void*>(&ModuleDirectory), &info) || !info.dli_fname) return {};
    std::string path = info.dli_fname;
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

bool ReadSkinFile(const std::string& path, std::string& bytes) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    bytes.assign(vskin::kMaxThemeBytes + 1, '\0');
    const size_t n = std::fread(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
    bytes.resize(n);
    return n <= vskin::kMaxThemeBytes;
}

bool RoleFromName(const std::string& name, QPalette::ColorRole& role) {
    static const struct { const char* name; QPalette::ColorRole role; } kRoles[] = {
        {"Window", QPalette::Window},         {"WindowText", QPalette::WindowText},
        {"Base", QPalette::Base},             {"AlternateBase", QPalette::AlternateBase},
        {"Text", QPalette::Text},             {"Button", QPalette::Button},
        {"ButtonText", QPalette::ButtonText}, {"Highlight", QPalette::Highlight},
        {"HighlightedText", QPalette::HighlightedText},
        {"Light", QPalette::Light},           {"Midlight", QPalette::Midlight},
        {"Mid", QPalette::Mid},               {"Dark", QPalette::Dark},
        {"Shadow", QPalette::Shadow},         {"ToolTipBase", QPalette::ToolTipBase},
        {"ToolTipText", QPalette::ToolTipText},
        {"PlaceholderText", QPalette::PlaceholderText},
    };
    for (const auto& r : kRoles) {
        if (name == r.name) {
            role = r.role;
            return true;
        }
    }
    return false;
}

QColor Shifted(uint32_t rgb) {
    const State& s = S();
    const uint32_t v = vskin::ShiftHsv(rgb, s.hue, s.saturation, s.value);
    return QColor(int((v >> 16) & 0xFF), int((v >> 8) & 0xFF), int(v & 0xFF));
}

void ApplyPalette() {
    QPalette pal = QApplication::style()->standardPalette();
    for (const vskin::ThemeColor& c : S().theme.colors) {
        QPalette::ColorRole role;
        if (!RoleFromName(c.role, role)) continue;
        const QColor color = Shifted(c.rgb);
        pal.setColor(QPalette::Active, role, color);
        pal.setColor(QPalette::Inactive, role, color);
        const bool isText = role == QPalette::WindowText || role == QPalette::Text ||
                            role == QPalette::ButtonText;
        // Disabled text fades toward the window colour so disabled buttons read as such.
        pal.setColor(QPalette::Disabled, role,
                     isText ? QColor::fromRgbF(float(color.redF() * 0.4 + 0.6 * 0.75),
                                               float(color.greenF() * 0.4 + 0.6 * 0.75),
                                               float(color.blueF() * 0.4 + 0.6 * 0.75))
                            : color);
    }
    QApplication::setPalette(pal);
}

bool HaveApplication() {
    return qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr;
}

}  // namespace

extern "C" {

__attribute__((visibility("default"))) int Skin_SetThemeFile(const char* path) {
    S().themeFile = path ? path : "";
    return 1;
}

__attribute__((visibility("default"))) int Skin_Attach() {
    if (!HaveApplication()) return 0;
    std::string bytes;
    std::string path = S().themeFile;
    if (path.empty()) {
        const std::string dir = ModuleDirectory();
        if (dir.empty()) return 0;
        path = dir + "/vskin.dat";
    }
    if (!ReadSkinFile(path, bytes)) return 0;
    vskin::Theme theme;
    if (!vskin::ParseTheme(bytes, theme)) return 0;
    State& s = S();
    s.theme = std::move(theme);
    if (!s.theme.style.empty()) {
        if (QStyle* style = QStyleFactory::create(QString::fromStdString(s.theme.style)))
            QApplication::setStyle(style);
    }
    if (!s.theme.fontFamily.empty())
        QApplication::setFont(QFont(QString::fromStdString(s.theme.fontFamily), s.theme.fontPoints));
    ApplyPalette();
    s.attached = true;
    return 1;
}

__attribute__((visibility("default"))) int Skin_AdjustHSV(int hue, int saturation, int value) {
    State& s = S();
    s.hue = std::clamp(hue, -360, 360);
    s.saturation = std::clamp(saturation, -255, 255);
    s.value = std::clamp(value, -255, 255);
    if (!s.attached || !HaveApplication()) return 0;
    ApplyPalette();
    return 1;
}

__attribute__((visibility("default"))) int Skin_SetAero(int enabled) {
    // No compositor-side blur is asked for on this platform; the flag is kept so
    // that a later attach could honour it.
    S().aero = enabled != 0;
    return 1;
}

__attribute__((visibility("default"))) int Skin_SetWindowAlpha(uintptr_t window, int alpha) {
    if (!HaveApplication()) return 0;
    QWidget* w = QWidget::find(WId(window));
    if (!w || !w->isWindow()) return 0;
    w->setWindowOpacity(std::clamp(alpha, 0, 255) / 255.0);
    return 1;
}

}  // extern "C"
