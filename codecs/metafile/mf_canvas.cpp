#include "codecs/metafile/mf_canvas.h"

#include <algorithm>
#include <cmath>

namespace vx::mf {

namespace {

// cairo keeps coordinates in 24.8 fixed point; far-away points are pulled in
// so that they cannot wrap around.
constexpr double kCoordLimit = 4.0e6;

double ClampCoord(double v) {
    if (!std::isfinite(v)) return 0;
    return std::clamp(v, -kCoordLimit, kCoordLimit);
}

double Red(uint32_t c) { return double(c & 0xFF) / 255.0; }
double Green(uint32_t c) { return double((c >> 8) & 0xFF) / 255.0; }
double Blue(uint32_t c) { return double((c >> 16) & 0xFF) / 255.0; }

// 8 x 8 hatch cells as GDI draws them, one bit per pixel, row 0 at the top.
const uint8_t kHatch[6][8] = {
    {0x00, 0x00, 0x00, 0x00, 0xFF, 0x00, 0x00, 0x00},  // horizontal
    {0x08, 0x08, 0x08, 0x08, 0x08, 0x08, 0x08, 0x08},  // vertical
    {0x80, 0x40, 0x20, 0x10, 0x08, 0x04, 0x02, 0x01},  // forward diagonal
    {0x01, 0x02, 0x04, 0x08, 0x10, 0x20, 0x40, 0x80},  // backward diagonal
    {0x08, 0x08, 0x08, 0x08, 0xFF, 0x08, 0x08, 0x08},  // cross
    {0x81, 0x42, 0x24, 0x18, 0x18, 0x24, 0x42, 0x81},  // diagonal cross
};

uint32_t Argb(uint32_t colorref) {
    return 0xFF000000u | ((colorref & 0xFF) << 16) | (colorref & 0xFF00) | ((colorref >> 16) & 0xFF);
}

cairo_surface_t* SurfaceFor(const Bitmap& bmp) {
    return cairo_image_surface_create_for_data(
        reinterpret_cast<unsigned char*>(const_cast<uint32_t*>(bmp.px.data())), CAIRO_FORMAT_RGB24,
        bmp.width, bmp.height, bmp.width * 4);
}

}  // namespace

Canvas::~Canvas() {
    if (cr_) cairo_destroy(cr_);
    if (surface_) cairo_surface_destroy(surface_);
}

bool Canvas::Init(int width, int height, uint32_t background) {
    surface_ = cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height);
    if (cairo_surface_status(surface_) != CAIRO_STATUS_SUCCESS) return false;
    cr_ = cairo_create(surface_);
    if (cairo_status(cr_) != CAIRO_STATUS_SUCCESS) return false;
    width_ = width;
    height_ = height;
    // Enough for dozens of full-picture fills, little enough to end quickly.
    budget_ = std::max(16.0e6, 48.0 * double(width) * double(height));
    cairo_set_antialias(cr_, CAIRO_ANTIALIAS_NONE);
    SetColor(background);
    cairo_paint(cr_);
    return true;
}

void Canvas::Charge(double units) {
    if (std::isfinite(units) && units > 0) spent_ += units;
    else if (!std::isfinite(units)) spent_ = budget_ + 1;
}

double Canvas::CoveredArea(double x0, double y0, double x1, double y1) const {
    const double l = std::clamp(std::min(x0, x1), 0.0, double(width_));
    const double r = std::clamp(std::max(x0, x1), 0.0, double(width_));
    const double t = std::clamp(std::min(y0, y1), 0.0, double(height_));
    const double b = std::clamp(std::max(y0, y1), 0.0, double(height_));
    return (r - l + 1) * (b - t + 1);
}

void Canvas::SetColor(uint32_t c) { cairo_set_source_rgb(cr_, Red(c), Green(c), Blue(c)); }

void Canvas::AddPath(const Path& path) {
    size_t k = 0;
    for (PathOp op : path.ops) {
        switch (op) {
            case PathOp::Move:
                cairo_move_to(cr_, ClampCoord(path.pts[k].x), ClampCoord(path.pts[k].y));
                ++k;
                break;
            case PathOp::Line:
                cairo_line_to(cr_, ClampCoord(path.pts[k].x), ClampCoord(path.pts[k].y));
                ++k;
                break;
            case PathOp::Curve:
                cairo_curve_to(cr_, ClampCoord(path.pts[k].x), ClampCoord(path.pts[k].y),
                               ClampCoord(path.pts[k + 1].x), ClampCoord(path.pts[k + 1].y),
                               ClampCoord(path.pts[k + 2].x), ClampCoord(path.pts[k + 2].y));
                k += 3;
                break;
            case PathOp::Close: cairo_close_path(cr_); break;
        }
    }
}

void Canvas::ApplyClip(const std::shared_ptr<const std::vector<ClipStep>>& clip) {
    if (clipApplied_ && clip == appliedClip_) return;
    cairo_reset_clip(cr_);
    if (clip) {
        for (const ClipStep& step : *clip) {
            cairo_new_path(cr_);
            if (step.exclude) {
                // Inside the picture and outside the shape.
                cairo_set_fill_rule(cr_, CAIRO_FILL_RULE_EVEN_ODD);
                cairo_rectangle(cr_, -1, -1, width_ + 2, height_ + 2);
            } else {
                cairo_set_fill_rule(cr_, step.evenOdd ? CAIRO_FILL_RULE_EVEN_ODD
                                                      : CAIRO_FILL_RULE_WINDING);
            }
            AddPath(*step.path);
            cairo_clip(cr_);
        }
        // Rectangles are cheap for cairo; any other shape costs a mask over its box.
        for (const ClipStep& step : *clip) {
            double x0, y0, x1, y1;
            const size_t n = step.path->pts.size();
            if (n > 5 && step.path->Bounds(x0, y0, x1, y1))
                Charge(CoveredArea(x0, y0, x1, y1) + double(n));
            else
                Charge(width_ + height_);
        }
    }
    cairo_new_path(cr_);
    appliedClip_ = clip;
    clipApplied_ = true;
}

bool Canvas::SetRop2(int rop2, uint32_t& color) {
    switch (rop2) {
        case 1: color = 0; break;                                      // R2_BLACK
        case 16: color = 0xFFFFFF; break;                              // R2_WHITE
        case 11: return false;                                         // R2_NOP
        case 6: color = 0xFFFFFF; cairo_set_operator(cr_, CAIRO_OPERATOR_DIFFERENCE); break;  // R2_NOT
        case 7: cairo_set_operator(cr_, CAIRO_OPERATOR_DIFFERENCE); break;  // R2_XORPEN
        case 9: cairo_set_operator(cr_, CAIRO_OPERATOR_MULTIPLY); break;    // R2_MASKPEN
        case 15: cairo_set_operator(cr_, CAIRO_OPERATOR_LIGHTEN); break;    // R2_MERGEPEN
        case 4: color = ~color & 0xFFFFFF; break;                          // R2_NOTCOPYPEN
        default: break;
    }
    return true;
}

bool Canvas::SetBrushSource(const Brush& brush, uint32_t bkColor, int bkMode) {
    switch (brush.style) {
        case kBsNull: return false;
        case kBsHatched: {
            const int h = brush.hatch >= 0 && brush.hatch < 6 ? brush.hatch : 0;
            cairo_surface_t* cell = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 8, 8);
            if (cairo_surface_status(cell) != CAIRO_STATUS_SUCCESS) {
                cairo_surface_destroy(cell);
                return false;
            }
            cairo_surface_flush(cell);
            uint8_t* data = cairo_image_surface_get_data(cell);
            const int stride = cairo_image_surface_get_stride(cell);
            const uint32_t ink = Argb(brush.color);
            const uint32_t back = bkMode == kOpaque ? Argb(bkColor) : 0;
            for (int y = 0; y < 8; ++y) {
                uint32_t* row = reinterpret_cast<uint32_t*>(data + y * stride);
                for (int x = 0; x < 8; ++x) row[x] = (kHatch[h][y] & (0x80 >> x)) ? ink : back;
            }
            cairo_surface_mark_dirty(cell);
            cairo_pattern_t* pat = cairo_pattern_create_for_surface(cell);
            cairo_pattern_set_extend(pat, CAIRO_EXTEND_REPEAT);
            cairo_pattern_set_filter(pat, CAIRO_FILTER_NEAREST);
            cairo_set_source(cr_, pat);
            cairo_pattern_destroy(pat);
            cairo_surface_destroy(cell);
            return true;
        }
        case kBsPattern:
        case kBsDibPattern:
        case kBsDibPatternPt:
            if (brush.pattern && brush.pattern->width > 0) {
                cairo_surface_t* s = SurfaceFor(*brush.pattern);
                cairo_pattern_t* pat = cairo_pattern_create_for_surface(s);
                cairo_pattern_set_extend(pat, CAIRO_EXTEND_REPEAT);
                cairo_pattern_set_filter(pat, CAIRO_FILTER_NEAREST);
                cairo_set_source(cr_, pat);
                cairo_pattern_destroy(pat);
                cairo_surface_destroy(s);
                return true;
            }
            SetColor(brush.color);
            return true;
        default: SetColor(brush.color); return true;
    }
}

void Canvas::Fill(const Path& path, bool evenOdd, const Brush& brush, uint32_t bkColor,
                  int bkMode, int rop2) {
    if (path.Empty() || Exhausted()) return;
    double x0, y0, x1, y1;
    if (!path.Bounds(x0, y0, x1, y1)) return;
    Charge(CoveredArea(x0, y0, x1, y1) + double(path.pts.size()));
    cairo_save(cr_);
    uint32_t color = brush.color;
    if (!SetRop2(rop2, color)) {
        cairo_restore(cr_);
        return;
    }
    Brush b = brush;
    b.color = color;
    if (SetBrushSource(b, bkColor, bkMode)) {
        cairo_new_path(cr_);
        AddPath(path);
        cairo_set_fill_rule(cr_, evenOdd ? CAIRO_FILL_RULE_EVEN_ODD : CAIRO_FILL_RULE_WINDING);
        cairo_fill(cr_);
    }
    cairo_restore(cr_);
}

void Canvas::FillColor(const Path& path, bool evenOdd, uint32_t color) {
    Brush b;
    b.color = color;
    Fill(path, evenOdd, b, 0, kTransparent, 13);
}

void Canvas::Stroke(const Path& path, const Pen& pen, double width, uint32_t bkColor, int bkMode,
                    int rop2) {
    if (path.Empty() || pen.style == kPsNull || Exhausted()) return;
    width = std::clamp(std::isfinite(width) ? width : 1.0, 1.0, 2.0 * (width_ + height_) + 8);
    double x0, y0, x1, y1;
    if (!path.Bounds(x0, y0, x1, y1)) return;
    const double length = path.Length();
    Charge(CoveredArea(x0 - width, y0 - width, x1 + width, y1 + width) * 0.25 +
           std::min(length, 1e9) * width * 0.5 + double(path.pts.size()));
    if (Exhausted()) return;

    cairo_save(cr_);
    uint32_t color = pen.color;
    if (!SetRop2(rop2, color)) {
        cairo_restore(cr_);
        return;
    }
    cairo_set_line_width(cr_, width);
    cairo_set_line_cap(cr_, pen.cap == 1   ? CAIRO_LINE_CAP_SQUARE
                            : pen.cap == 2 ? CAIRO_LINE_CAP_BUTT
                                           : CAIRO_LINE_CAP_ROUND);
    cairo_set_line_join(cr_, pen.join == 1   ? CAIRO_LINE_JOIN_BEVEL
                             : pen.join == 2 ? CAIRO_LINE_JOIN_MITER
                                             : CAIRO_LINE_JOIN_ROUND);
    cairo_new_path(cr_);
    AddPath(path);

    // GDI's patterns: a cosmetic pen's in pixels, a wide pen's in units of a
    // third of its width; a user style's entries are given in device pixels.
    static const double kDash[] = {18, 6};
    static const double kDot[] = {3, 3};
    static const double kDashDot[] = {9, 6, 3, 6};
    static const double kDashDotDot[] = {9, 3, 3, 3, 3, 3};
    static const double kAlternate[] = {1, 1};
    const double* dash = nullptr;
    size_t n = 0;
    double unit = width > 1.5 ? width / 3 : 1.0;
    switch (pen.style) {
        case kPsDash: dash = kDash; n = 2; break;
        case kPsDot: dash = kDot; n = 2; break;
        case kPsAlternate: dash = kAlternate; n = 2; unit = 1; break;
        case kPsDashDot: dash = kDashDot; n = 4; break;
        case kPsDashDotDot: dash = kDashDotDot; n = 6; break;
        case kPsUserStyle:
            dash = pen.userStyle.data();
            n = std::min<size_t>(pen.userStyle.size(), 16);
            unit = 1;
            break;
        default: break;
    }
    double scaled[16];
    double period = 0;
    for (size_t i = 0; i < n; ++i) {
        scaled[i] = dash[i] * unit;
        // cairo puts the context into an error state for a negative entry.
        if (!std::isfinite(scaled[i]) || scaled[i] < 0) n = 0;
        else period += scaled[i];
    }
    // A pattern too fine for its line would cost one segment per period.
    const bool dashed = n > 0 && period > 0 && length / period < 200000;
    if (width <= 1.5) {
        // Thin GDI lines have square ends that cover the end pixel; a dash
        // covers exactly the pixels it names. Without antialiasing cairo
        // fills the gaps of a level or upright dashed line unless its joins
        // are mitred.
        cairo_set_line_cap(cr_, dashed ? CAIRO_LINE_CAP_BUTT : CAIRO_LINE_CAP_SQUARE);
        if (dashed) cairo_set_line_join(cr_, CAIRO_LINE_JOIN_MITER);
    }
    if (dashed) {
        if (bkMode == kOpaque) {
            SetColor(bkColor);
            cairo_stroke_preserve(cr_);
        }
        // A thin line runs through pixel centres; half a pixel into the
        // pattern puts each centre inside a dash or a gap, never on an end.
        cairo_set_dash(cr_, scaled, int(n), width <= 1.5 ? 0.5 : 0);
    }
    SetColor(color);
    cairo_stroke(cr_);
    cairo_restore(cr_);
}

void Canvas::DrawBitmap(const Bitmap& bmp, double sx, double sy, double sw, double sh,
                        const Affine& m, double dx, double dy, double dw, double dh, uint32_t rop) {
    if (bmp.width <= 0 || bmp.height <= 0 || sw == 0 || sh == 0 || dw == 0 || dh == 0 ||
        Exhausted())
        return;
    Path area;
    area.MoveTo({dx, dy});
    area.LineTo({dx + dw, dy});
    area.LineTo({dx + dw, dy + dh});
    area.LineTo({dx, dy + dh});
    area.Close();
    area.Transform(m);
    double x0, y0, x1, y1;
    area.Bounds(x0, y0, x1, y1);
    Charge(CoveredArea(x0, y0, x1, y1) * 2);
    if (Exhausted()) return;

    cairo_save(cr_);
    const uint32_t op = rop >> 16;
    bool invertAfter = false;
    switch (op) {
        case 0xEE: cairo_set_operator(cr_, CAIRO_OPERATOR_LIGHTEN); break;     // SRCPAINT
        case 0x88: cairo_set_operator(cr_, CAIRO_OPERATOR_MULTIPLY); break;    // SRCAND
        case 0x66: cairo_set_operator(cr_, CAIRO_OPERATOR_DIFFERENCE); break;  // SRCINVERT
        case 0x33: invertAfter = true; break;                                  // NOTSRCCOPY
        case 0xAA: cairo_restore(cr_); return;                                 // destination kept
        default: break;
    }
    // Source pixels -> logical -> output. cairo refuses singular or absurd
    // matrices by failing the whole context, so they are checked here.
    Affine src;
    src.a = dw / sw;
    src.d = dh / sh;
    src.e = dx - sx * src.a;
    src.f = dy - sy * src.d;
    const Affine full = src.Then(m);
    const double det = full.Det();
    const bool usable = full.Finite() && std::isfinite(det) && std::fabs(det) > 1e-9 &&
                        std::fabs(full.a) + std::fabs(full.b) + std::fabs(full.c) + std::fabs(full.d) < 1e6 &&
                        std::fabs(full.e) < kCoordLimit && std::fabs(full.f) < kCoordLimit;
    if (usable) {
        cairo_matrix_t cm;
        cairo_matrix_init(&cm, full.a, full.b, full.c, full.d, full.e, full.f);
        cairo_set_matrix(cr_, &cm);
        cairo_surface_t* s = SurfaceFor(bmp);
        cairo_pattern_t* pat = cairo_pattern_create_for_surface(s);
        const double scale = std::fabs(det);
        cairo_pattern_set_filter(pat, scale >= 1 ? CAIRO_FILTER_NEAREST : CAIRO_FILTER_GOOD);
        cairo_pattern_set_extend(pat, CAIRO_EXTEND_PAD);
        cairo_set_source(cr_, pat);
        cairo_new_path(cr_);
        cairo_rectangle(cr_, sx, sy, sw, sh);
        cairo_fill(cr_);
        cairo_pattern_destroy(pat);
        cairo_surface_destroy(s);
    }
    cairo_restore(cr_);
    if (invertAfter) {
        cairo_save(cr_);
        cairo_set_operator(cr_, CAIRO_OPERATOR_DIFFERENCE);
        SetColor(0xFFFFFF);
        cairo_new_path(cr_);
        AddPath(area);
        cairo_fill(cr_);
        cairo_restore(cr_);
    }
}

void Canvas::PatBlt(const Path& area, const Brush& brush, uint32_t bkColor, int bkMode,
                    uint32_t rop) {
    switch (rop >> 16) {
        case 0x00: FillColor(area, false, 0); break;         // BLACKNESS
        case 0xFF: FillColor(area, false, 0xFFFFFF); break;  // WHITENESS
        case 0x55: Fill(area, false, Brush{}, 0, kTransparent, 6); break;  // DSTINVERT
        case 0x5A: Fill(area, false, brush, bkColor, bkMode, 7); break;    // PATINVERT
        case 0xAA: break;
        default: Fill(area, false, brush, bkColor, bkMode, 13); break;     // PATCOPY and the rest
    }
}

const uint8_t* Canvas::Row(int y) const {
    cairo_surface_flush(surface_);
    return cairo_image_surface_get_data(surface_) + size_t(y) * cairo_image_surface_get_stride(surface_);
}

}  // namespace vx::mf
