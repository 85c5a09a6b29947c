// Faces for text records, found through fontconfig and kept per face name,
// weight and slant with the characters each face has, so that a document's
// many different texts share a few look-ups.
#pragma once

#include <cairo.h>
#include <fontconfig/fontconfig.h>

#include <map>
#include <string>
#include <vector>

#include "codecs/metafile/mf_canvas.h"
#include "codecs/metafile/mf_dc.h"

namespace vx::mf {

class FontCache {
public:
    FontCache() = default;
    ~FontCache();
    FontCache(const FontCache&) = delete;
    FontCache& operator=(const FontCache&) = delete;

    // A face of `font` that has the characters of `text` (empty: the named
    // family alone decides), or the closest fontconfig has. Each look-up is
    // charged to `canvas`; null once its budget is spent or nothing matches.
    cairo_font_face_t* Face(const Font& font, const std::u32string& text, Canvas& canvas);
    size_t Lookups() const { return lookups_; }

private:
    struct Matched {
        cairo_font_face_t* face = nullptr;
        FcCharSet* chars = nullptr;  // what the face has; null when fontconfig did not say
    };
    struct Family {
        Matched named;  // the match for the name alone
        // Matches for characters the named face lacks, in the order found.
        std::vector<Matched> others;
        // Characters the named face lacked (as asked for) -> index in `others`.
        std::map<std::u32string, size_t> byMissing;
        // Characters no look-up found: no longer a reason to look up again.
        FcCharSet* unavailable = nullptr;
    };

    bool Covers(const Family& family, const Matched& m, const std::u32string& chars) const;
    // Null face when there is no match or the budget is spent.
    Matched Lookup(const Font& font, const std::u32string& chars, Canvas& canvas);
    // Releases the family's faces: all, or all but the named one.
    static void MarkUnavailable(Family& family, char32_t c);
    static void Drop(Family& family, bool named);
    void Clear();
    // Whether any installed font has `c`; the first call gathers them.
    bool Installed(char32_t c, Canvas& canvas);

    std::map<std::string, Family> families_;
    FcCharSet* installed_ = nullptr;
    size_t faceCount_ = 0;
    size_t lookups_ = 0;
};

}  // namespace vx::mf
