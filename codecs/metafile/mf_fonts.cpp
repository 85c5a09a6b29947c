// Font look-ups for text records.
#include "codecs/metafile/mf_fonts.h"

#include <cairo-ft.h>

#include <algorithm>

namespace vx::mf {

namespace {

constexpr size_t kMaxFaces = 64;
// A font look-up costs as much as filling a megapixel; charged as a share of
// the budget, a file can ask for this many faces whatever the picture size,
// and thousands of text records under distinct face names cannot stall.
constexpr double kLookupsPerBudget = 1024;
// Characters one look-up asks for, and of those the named face lacks, how
// many tell look-ups apart.
constexpr size_t kAskedChars = 256;
constexpr size_t kKeyChars = 64;

bool IsCjk(char32_t c) {
    return (c >= 0x2E80 && c <= 0x9FFF) || (c >= 0xAC00 && c <= 0xD7AF) ||
           (c >= 0xF900 && c <= 0xFAFF) || (c >= 0xFF00 && c <= 0xFFEF) || c >= 0x20000;
}

// The characters of `text` that need a glyph, sorted, each once.
std::u32string Drawable(const std::u32string& text) {
    std::u32string out;
    for (char32_t c : text) {
        const bool control = c < 0x20 || (c >= 0x7F && c <= 0x9F);
        if (!control && c != 0xFFFD && c <= 0x10FFFF) out += c;
    }
    std::sort(out.begin(), out.end());
    out.erase(std::unique(out.begin(), out.end()), out.end());
    return out;
}

bool Has(const FcCharSet* chars, char32_t c) {
    return chars && FcCharSetHasChar(chars, FcChar32(c));
}

void Release(cairo_font_face_t*& face, FcCharSet*& chars) {
    if (face) cairo_font_face_destroy(face);
    if (chars) FcCharSetDestroy(chars);
    face = nullptr;
    chars = nullptr;
}

}  // namespace

void FontCache::MarkUnavailable(Family& family, char32_t c) {
    if (!family.unavailable) family.unavailable = FcCharSetCreate();
    if (family.unavailable) FcCharSetAddChar(family.unavailable, FcChar32(c));
}

void FontCache::Drop(Family& family, bool named) {
    for (Matched& m : family.others) Release(m.face, m.chars);
    family.others.clear();
    family.byMissing.clear();
    if (named) {
        Release(family.named.face, family.named.chars);
        if (family.unavailable) FcCharSetDestroy(family.unavailable);
        family.unavailable = nullptr;
    }
}

void FontCache::Clear() {
    for (auto& [key, family] : families_) Drop(family, true);
    families_.clear();
    faceCount_ = 0;
}

FontCache::~FontCache() {
    Clear();
    if (installed_) FcCharSetDestroy(installed_);
}

bool FontCache::Installed(char32_t c, Canvas& canvas) {
    if (!installed_) {
        // Costs about a look-up; spares one for every character no font has.
        canvas.Charge(canvas.Budget() / kLookupsPerBudget);
        installed_ = FcCharSetCreate();
        for (FcSetName which : {FcSetSystem, FcSetApplication}) {
            const FcFontSet* set = FcConfigGetFonts(nullptr, which);
            for (int i = 0; set && installed_ && i < set->nfont; ++i) {
                FcCharSet* has = nullptr;
                if (FcPatternGetCharSet(set->fonts[i], FC_CHARSET, 0, &has) == FcResultMatch)
                    FcCharSetMerge(installed_, has, nullptr);
            }
        }
    }
    return Has(installed_, c);
}

bool FontCache::Covers(const Family& family, const Matched& m, const std::u32string& chars) const {
    for (char32_t c : chars)
        if (!Has(m.chars, c) && !Has(family.unavailable, c)) return false;
    return true;
}

FontCache::Matched FontCache::Lookup(const Font& font, const std::u32string& chars, Canvas& canvas) {
    canvas.Charge(canvas.Budget() / kLookupsPerBudget);
    if (canvas.Exhausted()) return {};
    ++lookups_;

    FcPattern* pat = FcPatternCreate();
    if (!pat) return {};
    if (!font.face.empty())
        FcPatternAddString(pat, FC_FAMILY, reinterpret_cast<const FcChar8*>(font.face.c_str()));
    FcPatternAddInteger(pat, FC_WEIGHT, font.weight >= 600 ? FC_WEIGHT_BOLD : FC_WEIGHT_REGULAR);
    FcPatternAddInteger(pat, FC_SLANT, font.italic ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
    // The characters decide the font when the named family lacks them.
    FcCharSet* cs = FcCharSetCreate();
    bool cjk = false;
    for (char32_t c : chars) {
        FcCharSetAddChar(cs, FcChar32(c));
        cjk = cjk || IsCjk(c);
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
    if (!match) return {};
    Matched m;
    FcCharSet* has = nullptr;
    if (FcPatternGetCharSet(match, FC_CHARSET, 0, &has) == FcResultMatch && has)
        m.chars = FcCharSetCopy(has);
    m.face = cairo_ft_font_face_create_for_pattern(match);
    FcPatternDestroy(match);
    if (cairo_font_face_status(m.face) != CAIRO_STATUS_SUCCESS) Release(m.face, m.chars);
    return m;
}

cairo_font_face_t* FontCache::Face(const Font& font, const std::u32string& text, Canvas& canvas) {
    const std::string key = font.face + "|" + std::to_string(font.weight >= 600) + "|" +
                            std::to_string(font.italic);
    auto it = families_.find(key);
    if (it == families_.end()) {
        Matched named = Lookup(font, {}, canvas);
        if (!named.face) return nullptr;
        if (faceCount_ >= kMaxFaces) Clear();
        it = families_.emplace(key, Family{}).first;
        it->second.named = named;
        ++faceCount_;
    }
    Family& family = it->second;
    const std::u32string chars = Drawable(text);
    if (Covers(family, family.named, chars)) return family.named.face;
    for (char32_t c : chars)
        if (!Has(family.named.chars, c) && !Installed(c, canvas)) MarkUnavailable(family, c);
    if (Covers(family, family.named, chars)) return family.named.face;

    // What the named face lacks and no look-up has failed to find.
    auto lacking = [&] {
        std::u32string out;
        for (char32_t c : chars) {
            if (out.size() == kKeyChars) break;
            if (!Has(family.named.chars, c) && !Has(family.unavailable, c)) out += c;
        }
        return out;
    };
    const std::u32string missing = lacking();
    if (auto found = family.byMissing.find(missing); found != family.byMissing.end())
        return family.others[found->second].face;
    for (const Matched& m : family.others)
        if (Covers(family, m, chars)) return m.face;

    const std::u32string asked = chars.substr(0, kAskedChars);
    Matched m = Lookup(font, asked, canvas);
    if (!m.face) return canvas.Exhausted() ? nullptr : family.named.face;
    bool helps = false;
    for (char32_t c : asked) {
        if (Has(m.chars, c)) helps = helps || !Has(family.named.chars, c);
        else if (!Has(family.named.chars, c)) MarkUnavailable(family, c);
    }
    // A match with none of what the named face lacks draws no more than it.
    if (!helps) {
        Release(m.face, m.chars);
        return family.named.face;
    }
    if (faceCount_ >= kMaxFaces) {
        // Room for the new face: every other family goes, then this one's other faces.
        for (auto other = families_.begin(); other != families_.end();) {
            if (&other->second == &family) {
                ++other;
                continue;
            }
            Drop(other->second, true);
            other = families_.erase(other);
        }
        if (family.others.size() + 1 >= kMaxFaces) Drop(family, false);
        faceCount_ = 1 + family.others.size();
    }
    family.others.push_back(m);
    ++faceCount_;
    family.byMissing[missing] = family.others.size() - 1;
    family.byMissing[lacking()] = family.others.size() - 1;
    return m.face;
}

}  // namespace vx::mf
