// GDI drawing operations in logical coordinates, shared by the WMF and EMF
// readers: they turn records into these calls, the player turns the calls into
// output-pixel paths on the canvas under the device-context state.
#pragma once

#include <cairo.h>

#include <map>
#include <string>
#include <vector>

#include "codecs/metafile/mf_canvas.h"
#include "codecs/metafile/mf_dc.h"

namespace vx::mf {

enum class ArcKind { kArc, kChord, kPie, kArcTo };

class Player {
public:
    explicit Player(Canvas& canvas) : canvas_(canvas) {}
    ~Player();
    Player(const Player&) = delete;
    Player& operator=(const Player&) = delete;

    DeviceContext& Dc() { return dc_; }
    // Font look-ups (fontconfig matches) made so far.
    size_t FontLookups() const { return fontLookups_; }
    Canvas& Out() { return canvas_; }
    bool Stopped() const { return canvas_.Exhausted(); }

    void MoveTo(Pt p);
    void LineTo(Pt p);
    void Polyline(const std::vector<Pt>& pts);
    void PolylineTo(const std::vector<Pt>& pts);
    void Polygon(const std::vector<Pt>& pts);
    // `counts` splits `pts` into figures; the caller has checked the sum.
    void PolyPolygon(const std::vector<Pt>& pts, const std::vector<uint32_t>& counts);
    void PolyPolyline(const std::vector<Pt>& pts, const std::vector<uint32_t>& counts);
    void PolyBezier(const std::vector<Pt>& pts);
    void PolyBezierTo(const std::vector<Pt>& pts);
    // EMF PolyDraw: point types PT_MOVETO 6, PT_LINETO 2, PT_BEZIERTO 4, | PT_CLOSEFIGURE 1.
    void PolyDraw(const std::vector<Pt>& pts, const std::vector<uint8_t>& types);
    void Rectangle(const Rect& r);
    void RoundRect(const Rect& r, double cw, double ch);
    void Ellipse(const Rect& r);
    void Arc(const Rect& r, Pt start, Pt end, ArcKind kind);
    void AngleArc(Pt centre, double radius, double startDeg, double sweepDeg);
    void SetPixel(Pt p, uint32_t color);

    // `text` as UTF-32; `dx` (logical advances) may be empty.
    void Text(Pt ref, const std::u32string& text, const std::vector<double>& dx, uint32_t options,
              const Rect* rect);

    // Bitmap onto the logical destination; `bmp` null means a pattern-only operation.
    void Blit(double dx, double dy, double dw, double dh, const Bitmap* bmp, double sx, double sy,
              double sw, double sh, uint32_t rop);

    void BeginPath();
    void EndPath() { pathOpen_ = false; }
    void AbortPath();
    void CloseFigure();
    void FillPath();
    void StrokePath();
    void StrokeAndFillPath();
    void SelectClipPath(int mode);

    void IntersectClipRect(const Rect& r);
    void ExcludeClipRect(const Rect& r);
    // RGN_AND 1, RGN_OR 2, RGN_XOR 3, RGN_DIFF 4, RGN_COPY 5; rectangles in
    // logical units (`logical`) or in device units.
    void ClipRegion(const std::vector<Rect>& rects, int mode, bool logical);
    void FillRegion(const std::vector<Rect>& rects, const Brush& brush, bool logical);

private:
    double PenWidth() const;
    // Draws a closed or open figure built in logical units, or adds it to the open path.
    void Shape(Path logical, bool closed, bool evenOdd);
    void AddToRecording(const Path& out, bool joinCurrent);
    Path RectPath(const Rect& r) const;
    void ApplyClip() { canvas_.ApplyClip(dc_.S().clip); }
    void DrawPathNow(const Path& out, bool fill, bool stroke, bool evenOdd);
    cairo_font_face_t* FaceFor(const Font& font, const std::u32string& text);

    Canvas& canvas_;
    DeviceContext dc_;
    bool pathOpen_ = false;
    bool pathHasFigure_ = false;
    Path path_;  // output pixels
    std::map<std::string, cairo_font_face_t*> faces_;
    size_t fontLookups_ = 0;
};

}  // namespace vx::mf

namespace vx::mf {

// Text of the 8-bit records in the code page of the font's character set.
std::u32string DecodeAnsi(const uint8_t* bytes, size_t count, int charset);
// Text of the EMF wide records; unpaired surrogates become U+FFFD.
std::u32string DecodeUtf16(const uint8_t* bytes, size_t units);
// Glyph numbers of a record drawn by index: 16-bit units, or bytes when `narrow`.
std::u32string GlyphIndices(const uint8_t* bytes, size_t count, bool narrow);
void AppendUtf8(std::string& out, char32_t c);

}  // namespace vx::mf
