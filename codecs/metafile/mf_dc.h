// The device-context model both metafile readers play into: drawing state,
// the object table, the save stack and the logical-to-output mapping.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "codecs/metafile/mf_geom.h"

namespace vx::mf {

// GDI constants the readers and the drawing share.
enum : int {
    kMmText = 1, kMmLoMetric, kMmHiMetric, kMmLoEnglish, kMmHiEnglish, kMmTwips, kMmIsotropic,
    kMmAnisotropic
};
enum : int { kPsSolid = 0, kPsDash, kPsDot, kPsDashDot, kPsDashDotDot, kPsNull, kPsInsideFrame,
             kPsUserStyle, kPsAlternate };
enum : int { kBsSolid = 0, kBsNull = 1, kBsHatched = 2, kBsPattern = 3, kBsDibPattern = 5,
             kBsDibPatternPt = 6 };
enum : int { kTransparent = 1, kOpaque = 2 };
enum : int { kAlternate = 1, kWinding = 2 };
enum : uint32_t { kTaUpdateCp = 1, kTaRight = 2, kTaCenter = 6, kTaBottom = 8, kTaBaseline = 24 };
// With kEtoGlyphIndex a text record holds glyph numbers of the font, not characters.
enum : uint32_t { kEtoOpaque = 2, kEtoClipped = 4, kEtoGlyphIndex = 0x10 };

// A decoded bitmap ready for drawing: 32-bit pixels, premultiplied, cairo layout.
struct Bitmap {
    int width = 0, height = 0;
    std::vector<uint32_t> px;  // row 0 at the top
};

struct Pen {
    int style = kPsSolid;
    double width = 0;  // logical units; 0 is one device pixel
    uint32_t color = 0;
    int cap = 0;   // 0 round, 1 square, 2 flat
    int join = 0;  // 0 round, 1 bevel, 2 miter
    bool cosmetic = true;
    // Dash and gap lengths of a user style: pixels for a cosmetic pen,
    // logical units for a geometric one. Empty draws a solid line.
    std::vector<double> userStyle;
};

struct Brush {
    int style = kBsSolid;
    uint32_t color = 0xFFFFFF;
    int hatch = 0;
    std::shared_ptr<const Bitmap> pattern;
};

struct Font {
    int height = 0, width = 0, escapement = 0, weight = 400;
    bool italic = false, underline = false, strikeout = false;
    int charset = 0;
    std::string face;  // UTF-8
};

struct Rect {
    double left = 0, top = 0, right = 0, bottom = 0;
};

struct GdiObject {
    enum Kind { kEmpty, kPen, kBrush, kFont, kRegion, kOther } kind = kEmpty;
    Pen pen;
    Brush brush;
    Font font;
    std::vector<Rect> region;  // logical (WMF) rectangles
};

// One clip step in output pixels: the drawing keeps the inside of `path`, or
// its outside when `exclude` is set. The clip is the intersection of all steps.
struct ClipStep {
    ClipStep(Path p, bool eo, bool ex)
        : path(std::make_shared<const Path>(std::move(p))), evenOdd(eo), exclude(ex) {}
    // Shared: saved states and later clip steps copy the list, never the points.
    std::shared_ptr<const Path> path;
    bool evenOdd = false;
    bool exclude = false;
};

struct DcState {
    int mapMode = kMmText;
    double winOrgX = 0, winOrgY = 0, winExtX = 1, winExtY = 1;
    double vpOrgX = 0, vpOrgY = 0, vpExtX = 1, vpExtY = 1;
    Affine world;
    Pen pen;
    Brush brush;
    Font font;
    uint32_t textColor = 0, bkColor = 0xFFFFFF;
    int bkMode = kOpaque;
    int polyFill = kAlternate;
    uint32_t textAlign = 0;
    bool arcClockwise = false;
    int rop2 = 13;  // R2_COPYPEN
    Pt cur;  // logical
    std::shared_ptr<const std::vector<ClipStep>> clip;  // shared between saved states
};

class DeviceContext {
public:
    // `base` maps device units of the metafile onto output pixels;
    // `pixelsPerMm` gives the device resolution for the metric mapping modes.
    void Reset(const Affine& base, double pixelsPerMmX, double pixelsPerMmY);

    DcState& S() { return state_; }
    const DcState& S() const { return state_; }

    // Logical -> output pixels.
    const Affine& Full() const;
    // Device units -> output pixels.
    const Affine& Base() const { return base_; }
    void Invalidate() { fullValid_ = false; }

    void Save();
    // GDI's relative (negative) and absolute (positive) restore levels.
    void Restore(int32_t level);

    void SetMapMode(int mode);
    void SetWindowOrg(double x, double y);
    void SetWindowExt(double x, double y);
    void SetViewportOrg(double x, double y);
    void SetViewportExt(double x, double y);

    void AddClip(ClipStep step);
    void ResetClip();

    // Object table (WMF: first free slot; EMF: index from the record).
    void InitObjects(uint32_t count);
    int32_t AddObject(GdiObject obj);  // -1 when the table is full
    bool SetObject(uint32_t index, GdiObject obj);
    const GdiObject* Object(uint32_t index) const;
    void DeleteObject(uint32_t index);
    void SelectObject(const GdiObject& obj);

private:
    DcState state_;
    std::vector<DcState> saved_;
    std::vector<GdiObject> objects_;
    size_t firstFree_ = 0;  // no free slot below this index
    Affine base_;
    double ppmX_ = 96 / 25.4, ppmY_ = 96 / 25.4;
    mutable Affine full_;
    mutable bool fullValid_ = false;
};

}  // namespace vx::mf
