// Text records: fonts found through fontconfig, drawn with cairo-ft.
#include <cairo-ft.h>
#include <fontconfig/fontconfig.h>
#include <iconv.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <set>

#include "codecs/metafile/mf_player.h"
#include "core/vx_types.h"

namespace vx::mf {

namespace {

constexpr size_t kMaxFaces = 64;
// A font look-up costs as much as filling a megapixel; charged as a share of
// the budget, a file can ask for this many faces whatever the picture size,
// and thousands of text records under distinct face names cannot stall.
constexpr double kLookupsPerBudget = 1024;
constexpr double kMaxFontPixels = 2048;

const char* CodePage(int charset) {
    switch (charset) {
        case 128: return "CP932";
        case 129: return "CP949";
        case 134: return "GBK";
        case 136: return "BIG5";
        case 161: return "CP1253";
        case 162: return "CP1254";
        case 177: return "CP1255";
        case 178: return "CP1256";
        case 186: return "CP1257";
        case 204: return "CP1251";
        case 222: return "CP874";
        case 238: return "CP1250";
        default: return "CP1252";
    }
}

bool IsCjk(char32_t c) {
    return (c >= 0x2E80 && c <= 0x9FFF) || (c >= 0xAC00 && c <= 0xD7AF) ||
           (c >= 0xF900 && c <= 0xFAFF) || (c >= 0xFF00 && c <= 0xFFEF) || c >= 0x20000;
}

// Glyphs by number, each after the advance of the one before. A number the
// face does not have becomes glyph 0 (the missing-glyph box): cairo would put
// the shared scaled font into an error state for good.
cairo_glyph_t* IndexedGlyphs(cairo_scaled_font_t* sf, const std::u32string& indices) {
    FT_Face ft = cairo_ft_scaled_font_lock_face(sf);
    if (!ft) return nullptr;
    const unsigned long glyphsInFace = ft->num_glyphs > 0 ? (unsigned long)(ft->num_glyphs) : 0;
    cairo_ft_scaled_font_unlock_face(sf);
    cairo_glyph_t* glyphs = cairo_glyph_allocate(int(indices.size()));
    if (!glyphs) return nullptr;
    double x = 0;
    for (size_t i = 0; i < indices.size(); ++i) {
        glyphs[i].index = indices[i] < glyphsInFace ? indices[i] : 0;
        glyphs[i].x = x;
        glyphs[i].y = 0;
        cairo_text_extents_t te;
        cairo_scaled_font_glyph_extents(sf, &glyphs[i], 1, &te);
        if (std::isfinite(te.x_advance)) x += te.x_advance;
    }
    return glyphs;
}

}  // namespace

void AppendUtf8(std::string& out, char32_t c) {
    if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) c = 0xFFFD;
    if (c < 0x80) {
        out += char(c);
    } else if (c < 0x800) {
        out += char(0xC0 | (c >> 6));
        out += char(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += char(0xE0 | (c >> 12));
        out += char(0x80 | ((c >> 6) & 0x3F));
        out += char(0x80 | (c & 0x3F));
    } else {
        out += char(0xF0 | (c >> 18));
        out += char(0x80 | ((c >> 12) & 0x3F));
        out += char(0x80 | ((c >> 6) & 0x3F));
        out += char(0x80 | (c & 0x3F));
    }
}


std::u32string DecodeAnsi(const uint8_t* bytes, size_t count, int charset) {
    std::u32string out;
    if (count == 0) return out;
    if (charset == 2) {
        // Symbol fonts: the byte is the glyph's code point.
        for (size_t i = 0; i < count; ++i) out += char32_t(bytes[i]);
        return out;
    }
    iconv_t cd = iconv_open("UTF-32LE", CodePage(charset));
    if (cd == iconv_t(-1)) {
        for (size_t i = 0; i < count; ++i) out += char32_t(bytes[i]);
        return out;
    }
    std::vector<char> in(bytes, bytes + count);
    std::vector<char> buf(count * 4 + 4);
    char* src = in.data();
    size_t srcLeft = count;
    char* dst = buf.data();
    size_t dstLeft = buf.size();
    while (srcLeft > 0) {
        if (iconv(cd, &src, &srcLeft, &dst, &dstLeft) != size_t(-1)) break;
        // An invalid or cut sequence: one replacement character for its first byte.
        if (dstLeft < 4) break;
        const uint32_t repl = 0xFFFD;
        std::memcpy(dst, &repl, 4);
        dst += 4;
        dstLeft -= 4;
        ++src;
        --srcLeft;
    }
    iconv_close(cd);
    const size_t produced = (buf.size() - dstLeft) / 4;
    for (size_t i = 0; i < produced; ++i) out += char32_t(vx::LoadLE32(reinterpret_cast<const uint8_t*>(buf.data()) + i * 4));
    return out;
}

std::u32string DecodeUtf16(const uint8_t* bytes, size_t units) {
    std::u32string out;
    for (size_t i = 0; i < units; ++i) {
        const char32_t u = bytes[2 * i] | (bytes[2 * i + 1] << 8);
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units) {
            const char32_t v = bytes[2 * i + 2] | (bytes[2 * i + 3] << 8);
            if (v >= 0xDC00 && v <= 0xDFFF) {
                out += char32_t(0x10000 + ((u - 0xD800) << 10) + (v - 0xDC00));
                ++i;
                continue;
            }
        }
        out += (u >= 0xD800 && u <= 0xDFFF) ? char32_t(0xFFFD) : u;
    }
    return out;
}

std::u32string GlyphIndices(const uint8_t* bytes, size_t count, bool narrow) {
    std::u32string out;
    out.reserve(count);
    for (size_t i = 0; i < count; ++i)
        out += narrow ? char32_t(bytes[i]) : char32_t(bytes[2 * i] | (bytes[2 * i + 1] << 8));
    return out;
}

Player::~Player() {
    for (auto& [key, face] : faces_) cairo_font_face_destroy(face);
}

cairo_font_face_t* Player::FaceFor(const Font& font, const std::u32string& text) {
    std::set<char32_t> special;
    for (char32_t c : text) {
        if (c >= 0x80 && special.size() < 64) special.insert(c);
    }
    std::string key = font.face + "|" + std::to_string(font.weight >= 600) + "|" +
                      std::to_string(font.italic) + "|";
    for (char32_t c : special) AppendUtf8(key, c);
    auto it = faces_.find(key);
    if (it != faces_.end()) return it->second;
    canvas_.Charge(canvas_.Budget() / kLookupsPerBudget);
    if (canvas_.Exhausted()) return nullptr;
    ++fontLookups_;
    if (faces_.size() >= kMaxFaces) {
        for (auto& [k, f] : faces_) cairo_font_face_destroy(f);
        faces_.clear();
    }

    FcPattern* pat = FcPatternCreate();
    if (!pat) return nullptr;
    if (!font.face.empty())
        FcPatternAddString(pat, FC_FAMILY, reinterpret_cast<const FcChar8*>(font.face.c_str()));
    FcPatternAddInteger(pat, FC_WEIGHT, font.weight >= 600 ? FC_WEIGHT_BOLD : FC_WEIGHT_REGULAR);
    FcPatternAddInteger(pat, FC_SLANT, font.italic ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
    // The characters decide the font when the named family lacks them.
    FcCharSet* cs = FcCharSetCreate();
    bool cjk = false;
    for (char32_t c : text) {
        if (c >= 0x20 && c != 0xFFFD) FcCharSetAddChar(cs, FcChar32(c));
        cjk = cjk || IsCjk(c);
        if (FcCharSetCount(cs) > 256) break;
    }
    FcPatternAddCharSet(pat, FC_CHARSET, cs);
    FcCharSetDestroy(cs);
    if (cjk) {
        FcLangSet* ls = FcLangSetCreate();
        FcLangSetAdd(ls, reinterpret_cast<const FcChar8*>("zh-cn"));
        FcPatternAddLangSet(pat, FC_LANG, ls);
        FcLangSetDestroy(ls);
    }
    FcConfigSubstitute(nullptr, pat, FcMatchPattern);
    FcDefaultSubstitute(pat);
    FcResult result;
    FcPattern* match = FcFontMatch(nullptr, pat, &result);
    FcPatternDestroy(pat);
    if (!match) return nullptr;
    cairo_font_face_t* face = cairo_ft_font_face_create_for_pattern(match);
    FcPatternDestroy(match);
    if (cairo_font_face_status(face) != CAIRO_STATUS_SUCCESS) {
        cairo_font_face_destroy(face);
        return nullptr;
    }
    faces_[key] = face;
    return face;
}

void Player::Text(Pt ref, const std::u32string& text, const std::vector<double>& dx,
                  uint32_t options, const Rect* rect) {
    if (canvas_.Exhausted()) return;
    ApplyClip();
    const DcState& s = dc_.S();
    const Affine& m = dc_.Full();
    Path box;
    if (rect) {
        box = RectPath(*rect);
        box.Transform(m);
        if (options & kEtoOpaque) canvas_.FillColor(box, false, s.bkColor);
    }
    if (text.empty()) return;
    const bool byIndex = (options & kEtoGlyphIndex) != 0;
    // Glyph numbers say nothing about the characters: the named family alone decides.
    cairo_font_face_t* face = FaceFor(s.font, byIndex ? std::u32string() : text);
    if (!face) return;

    const Pt origin = (s.textAlign & kTaUpdateCp) ? s.cur : ref;
    const Pt o = m.Apply(origin);
    // Text anchored far outside the picture cannot reach it.
    constexpr double kFar = 1e6;
    if (!std::isfinite(o.x) || !std::isfinite(o.y) || std::fabs(o.x) > kFar || std::fabs(o.y) > kFar)
        return;
    const double scaleX = m.ScaleX(), scaleY = m.ScaleY();
    cairo_t* cr = canvas_.Cr();
    cairo_save(cr);
    if (rect && (options & kEtoClipped)) {
        cairo_new_path(cr);
        canvas_.AddPath(box);
        cairo_clip(cr);
    }
    cairo_set_font_face(cr, face);
    cairo_font_options_t* fo = cairo_font_options_create();
    cairo_font_options_set_antialias(fo, CAIRO_ANTIALIAS_GRAY);
    cairo_font_options_set_hint_metrics(fo, CAIRO_HINT_METRICS_OFF);
    cairo_set_font_options(cr, fo);
    cairo_font_options_destroy(fo);

    double px;
    if (s.font.height == 0) {
        px = 16 * dc_.Base().ScaleY();
    } else {
        px = std::fabs(double(s.font.height)) * scaleY;
        if (s.font.height > 0) {
            // A positive height is the cell height: ascent plus descent.
            cairo_set_font_size(cr, 1);
            cairo_font_extents_t fe;
            cairo_font_extents(cr, &fe);
            if (fe.ascent + fe.descent > 0.1) px /= fe.ascent + fe.descent;
        }
    }
    if (!std::isfinite(px) || px < 0.5) {
        cairo_restore(cr);
        return;
    }
    px = std::min(px, kMaxFontPixels);
    cairo_set_font_size(cr, px);

    cairo_scaled_font_t* sf = cairo_get_scaled_font(cr);
    cairo_glyph_t* glyphs = nullptr;
    int count = 0;
    if (byIndex) {
        glyphs = IndexedGlyphs(sf, text);
        count = glyphs ? int(text.size()) : 0;
    } else {
        std::string utf8;
        for (char32_t c : text) AppendUtf8(utf8, c);
        if (cairo_scaled_font_text_to_glyphs(sf, 0, 0, utf8.data(), int(utf8.size()), &glyphs, &count,
                                             nullptr, nullptr, nullptr) != CAIRO_STATUS_SUCCESS)
            glyphs = nullptr;
    }
    if (!glyphs) {
        cairo_restore(cr);
        return;
    }
    canvas_.Charge(double(count) * px * px);
    double advance;
    if (!dx.empty() && size_t(count) == text.size() && dx.size() >= text.size()) {
        double x = 0;
        for (int i = 0; i < count; ++i) {
            glyphs[i].x = x;
            const double step = dx[size_t(i)] * scaleX;
            x += std::isfinite(step) ? std::clamp(step, -1e6, 1e6) : 0;
        }
        advance = x;
    } else {
        cairo_text_extents_t te;
        cairo_scaled_font_glyph_extents(sf, glyphs, count, &te);
        advance = te.x_advance;
    }
    if (!std::isfinite(advance) || std::fabs(advance) > kFar) {
        cairo_glyph_free(glyphs);
        cairo_restore(cr);
        return;
    }
    cairo_font_extents_t fe;
    cairo_font_extents(cr, &fe);
    double ax = 0, ay = 0;
    const uint32_t h = s.textAlign & kTaCenter;
    if (h == kTaCenter) ax = -advance / 2;
    else if (h == kTaRight) ax = -advance;
    const uint32_t v = s.textAlign & kTaBaseline;
    if (v == kTaBaseline) ay = 0;
    else if (v == kTaBottom) ay = -fe.descent;
    else ay = fe.ascent;

    cairo_translate(cr, o.x, o.y);
    const double angle = -double(s.font.escapement) * M_PI / 1800.0;
    if (std::isfinite(angle)) cairo_rotate(cr, angle);
    cairo_translate(cr, ax, ay);
    if (s.bkMode == kOpaque && !(rect && (options & kEtoOpaque))) {
        cairo_set_source_rgb(cr, (s.bkColor & 0xFF) / 255.0, ((s.bkColor >> 8) & 0xFF) / 255.0,
                             ((s.bkColor >> 16) & 0xFF) / 255.0);
        cairo_rectangle(cr, 0, -fe.ascent, advance, fe.ascent + fe.descent);
        cairo_fill(cr);
    }
    cairo_set_source_rgb(cr, (s.textColor & 0xFF) / 255.0, ((s.textColor >> 8) & 0xFF) / 255.0,
                         ((s.textColor >> 16) & 0xFF) / 255.0);
    cairo_show_glyphs(cr, glyphs, count);
    const double thick = std::max(1.0, px / 14);
    if (s.font.underline) {
        cairo_rectangle(cr, 0, fe.descent / 2, advance, thick);
        cairo_fill(cr);
    }
    if (s.font.strikeout) {
        cairo_rectangle(cr, 0, -fe.ascent / 3, advance, thick);
        cairo_fill(cr);
    }
    cairo_glyph_free(glyphs);
    cairo_restore(cr);

    if (s.textAlign & kTaUpdateCp) {
        const double logical = scaleX > 0 ? advance / scaleX : 0;
        if (std::isfinite(logical)) dc_.S().cur.x += h == kTaRight ? -logical : logical;
    }
}

}  // namespace vx::mf
