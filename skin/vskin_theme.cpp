#include "vskin_theme.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace vskin {

namespace {

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
    return s;
}

std::string_view NextWord(std::string_view& s) {
    s = Trim(s);
    size_t n = 0;
    while (n < s.size() && s[n] != ' ' && s[n] != '\t') ++n;
    std::string_view word = s.substr(0, n);
    s.remove_prefix(n);
    s = Trim(s);
    return word;
}

bool ParseHexColor(std::string_view text, uint32_t& rgb) {
    if (text.size() != 6) return false;
    uint32_t v = 0;
    auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), v, 16);
    if (ec != std::errc() || ptr != text.data() + text.size()) return false;
    rgb = v;
    return true;
}

bool ParseInt(std::string_view text, int lo, int hi, int& value) {
    int v = 0;
    auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (ec != std::errc() || ptr != text.data() + text.size() || v < lo || v > hi) return false;
    value = v;
    return true;
}

}  // namespace

bool ParseTheme(std::string_view bytes, Theme& out) {
    out = Theme{};
    if (bytes.size() > kMaxThemeBytes) return false;
    size_t pos = 0;
    bool first = true;
    while (pos < bytes.size()) {
        size_t end = bytes.find('\n', pos);
        if (end == std::string_view::npos) end = bytes.size();
        std::string_view line = bytes.substr(pos, end - pos);
        pos = end + 1;
        if (first) {
            first = false;
            if (line.substr(0, 4) != ".VSK") return false;
            line.remove_prefix(4);
            if (!ParseInt(Trim(line), 1, 999, out.version)) return false;
            continue;
        }
        const size_t hash = line.find('#');
        if (hash != std::string_view::npos) line = line.substr(0, hash);
        std::string_view rest = line;
        const std::string_view key = NextWord(rest);
        if (key == "style") {
            if (!rest.empty()) out.style = std::string(rest);
        } else if (key == "font") {
            int points = 0;
            const std::string_view size = NextWord(rest);
            if (ParseInt(size, 4, 72, points) && !rest.empty()) {
                out.fontPoints = points;
                out.fontFamily = std::string(rest);
            }
        } else if (key == "color") {
            const std::string_view role = NextWord(rest);
            uint32_t rgb = 0;
            if (!role.empty() && ParseHexColor(rest, rgb)) out.colors.push_back({std::string(role), rgb});
        }
    }
    return !first;
}

uint32_t ShiftHsv(uint32_t rgb, int hue, int sat, int val) {
    const double r = ((rgb >> 16) & 0xFF) / 255.0;
    const double g = ((rgb >> 8) & 0xFF) / 255.0;
    const double b = (rgb & 0xFF) / 255.0;
    const double mx = std::max({r, g, b});
    const double mn = std::min({r, g, b});
    const double d = mx - mn;
    double h = 0;
    if (d > 0) {
        if (mx == r) h = 60.0 * std::fmod((g - b) / d, 6.0);
        else if (mx == g) h = 60.0 * ((b - r) / d + 2.0);
        else h = 60.0 * ((r - g) / d + 4.0);
    }
    double s = mx > 0 ? d / mx : 0;
    double v = mx;
    // Grey stays grey: a hue has no meaning there and saturation would tint it.
    if (d > 0) {
        h = std::fmod(h + hue, 360.0);
        if (h < 0) h += 360.0;
        s = std::clamp(s + sat / 255.0, 0.0, 1.0);
    }
    v = std::clamp(v + val / 255.0, 0.0, 1.0);
    const double c = v * s;
    const double x = c * (1 - std::fabs(std::fmod(h / 60.0, 2.0) - 1));
    const double m = v - c;
    double rr = 0, gg = 0, bb = 0;
    switch (int(h / 60.0) % 6) {
        case 0: rr = c; gg = x; break;
        case 1: rr = x; gg = c; break;
        case 2: gg = c; bb = x; break;
        case 3: gg = x; bb = c; break;
        case 4: rr = x; bb = c; break;
        default: rr = c; bb = x; break;
    }
    auto to8 = [](double u) { return uint32_t(std::lround(std::clamp(u, 0.0, 1.0) * 255.0)); };
    return (to8(rr + m) << 16) | (to8(gg + m) << 8) | to8(bb + m);
}

}  // namespace vskin
