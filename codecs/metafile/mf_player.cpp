#include "codecs/metafile/mf_player.h"

#include <algorithm>
#include <cmath>

namespace vx::mf {

namespace {

Path Translated(const Path& p, double dx, double dy) {
    Path out = p;
    for (Pt& q : out.pts) {
        q.x += dx;
        q.y += dy;
    }
    return out;
}

void AddEllipse(Path& path, double cx, double cy, double rx, double ry) {
    AppendEllipticArc(path, {cx, cy}, rx, ry, 0, 2 * M_PI, true);
    path.Close();
}

}  // namespace

double Player::PenWidth() const {
    const Pen& pen = dc_.S().pen;
    if (pen.cosmetic || pen.width <= 0) return 1;
    return pen.width * dc_.Full().MeanScale();
}

void Player::DrawPathNow(const Path& out, bool fill, bool stroke, bool evenOdd) {
    if (out.Empty()) return;
    ApplyClip();
    const DcState& s = dc_.S();
    if (fill) canvas_.Fill(out, evenOdd, s.brush, s.bkColor, s.bkMode, s.rop2);
    if (stroke && s.pen.style != kPsNull) {
        const double w = PenWidth();
        const Pen* pen = &s.pen;
        Pen scaled;
        if (pen->style == kPsUserStyle && !pen->cosmetic && !pen->userStyle.empty()) {
            // A geometric pen's user style is in logical units.
            scaled = *pen;
            for (double& d : scaled.userStyle) d *= dc_.Full().MeanScale();
            pen = &scaled;
        }
        // A thin line belongs to the pixel row it names, not to the edge between two rows.
        if (w <= 1.5) canvas_.Stroke(Translated(out, 0.5, 0.5), *pen, w, s.bkColor, s.bkMode, s.rop2);
        else canvas_.Stroke(out, *pen, w, s.bkColor, s.bkMode, s.rop2);
    }
}

void Player::AddToRecording(const Path& out, bool joinCurrent) {
    if (out.Empty()) return;
    if (joinCurrent && pathHasFigure_ && !out.ops.empty() && out.ops[0] == PathOp::Move) {
        // Continue the open figure: the leading move becomes a line.
        Path p = out;
        p.ops[0] = PathOp::Line;
        path_.Append(p);
    } else {
        path_.Append(out);
    }
    pathHasFigure_ = path_.ops.back() != PathOp::Close;
    // The path is bounded by the file's own size; keep a hostile one from growing further.
    if (path_.pts.size() > 4000000) path_.Clear();
}

void Player::Shape(Path logical, bool closed, bool evenOdd) {
    logical.Transform(dc_.Full());
    if (pathOpen_) {
        if (closed) logical.Close();
        AddToRecording(logical, false);
        if (closed) pathHasFigure_ = false;
        return;
    }
    if (closed) {
        logical.Close();
        DrawPathNow(logical, true, true, evenOdd);
    } else {
        DrawPathNow(logical, false, true, false);
    }
}

void Player::MoveTo(Pt p) {
    dc_.S().cur = p;
    if (pathOpen_) pathHasFigure_ = false;
}

void Player::LineTo(Pt p) { PolylineTo({p}); }

void Player::Polyline(const std::vector<Pt>& pts) {
    if (pts.size() < 2) return;
    Path path;
    path.MoveTo(pts[0]);
    for (size_t i = 1; i < pts.size(); ++i) path.LineTo(pts[i]);
    if (pathOpen_) pathHasFigure_ = false;
    Shape(std::move(path), false, false);
}

void Player::PolylineTo(const std::vector<Pt>& pts) {
    if (pts.empty()) return;
    Path path;
    path.MoveTo(dc_.S().cur);
    for (const Pt& p : pts) path.LineTo(p);
    dc_.S().cur = pts.back();
    if (pathOpen_) {
        path.Transform(dc_.Full());
        AddToRecording(path, true);
        return;
    }
    Shape(std::move(path), false, false);
}

void Player::Polygon(const std::vector<Pt>& pts) {
    if (pts.size() < 2) return;
    Path path;
    path.MoveTo(pts[0]);
    for (size_t i = 1; i < pts.size(); ++i) path.LineTo(pts[i]);
    Shape(std::move(path), true, dc_.S().polyFill != kWinding);
}

namespace {

// One figure per count, from consecutive points; figures of fewer than two
// points draw nothing, and counts past the points end the list.
Path PolyPath(const std::vector<Pt>& pts, const std::vector<uint32_t>& counts, bool close) {
    Path path;
    size_t k = 0;
    for (uint32_t n : counts) {
        if (n > pts.size() - k) break;
        if (n >= 2) {
            path.MoveTo(pts[k]);
            for (uint32_t i = 1; i < n; ++i) path.LineTo(pts[k + i]);
            if (close) path.Close();
        }
        k += n;
    }
    return path;
}

}  // namespace

void Player::PolyPolygon(const std::vector<Pt>& pts, const std::vector<uint32_t>& counts) {
    Path path = PolyPath(pts, counts, true);
    if (path.Empty()) return;
    Shape(std::move(path), true, dc_.S().polyFill != kWinding);
}

void Player::PolyPolyline(const std::vector<Pt>& pts, const std::vector<uint32_t>& counts) {
    Path path = PolyPath(pts, counts, false);
    if (path.Empty()) return;
    if (pathOpen_) pathHasFigure_ = false;
    Shape(std::move(path), false, false);
}

void Player::PolyBezier(const std::vector<Pt>& pts) {
    if (pts.size() < 4) return;
    Path path;
    path.MoveTo(pts[0]);
    for (size_t i = 1; i + 2 < pts.size(); i += 3) path.CurveTo(pts[i], pts[i + 1], pts[i + 2]);
    if (pathOpen_) pathHasFigure_ = false;
    Shape(std::move(path), false, false);
}

void Player::PolyBezierTo(const std::vector<Pt>& pts) {
    if (pts.size() < 3) return;
    Path path;
    path.MoveTo(dc_.S().cur);
    size_t i = 0;
    for (; i + 2 < pts.size(); i += 3) path.CurveTo(pts[i], pts[i + 1], pts[i + 2]);
    dc_.S().cur = pts[i - 1];
    if (pathOpen_) {
        path.Transform(dc_.Full());
        AddToRecording(path, true);
        return;
    }
    Shape(std::move(path), false, false);
}

void Player::PolyDraw(const std::vector<Pt>& pts, const std::vector<uint8_t>& types) {
    Path path;
    path.MoveTo(dc_.S().cur);
    const size_t n = std::min(pts.size(), types.size());
    for (size_t i = 0; i < n; ++i) {
        const uint8_t t = types[i] & 0x06;
        if (t == 6) {
            path.MoveTo(pts[i]);
        } else if (t == 4 && i + 2 < n) {
            path.CurveTo(pts[i], pts[i + 1], pts[i + 2]);
            i += 2;
        } else {
            path.LineTo(pts[i]);
        }
        if (types[i] & 1) path.Close();
        dc_.S().cur = pts[i];
    }
    if (pathOpen_) {
        path.Transform(dc_.Full());
        AddToRecording(path, true);
        return;
    }
    Shape(std::move(path), false, false);
}

Path Player::RectPath(const Rect& r) const {
    Path path;
    path.MoveTo({r.left, r.top});
    path.LineTo({r.right, r.top});
    path.LineTo({r.right, r.bottom});
    path.LineTo({r.left, r.bottom});
    path.Close();
    return path;
}

void Player::Rectangle(const Rect& r) { Shape(RectPath(r), true, false); }

void Player::RoundRect(const Rect& r, double cw, double ch) {
    const double l = std::min(r.left, r.right), rr = std::max(r.left, r.right);
    const double t = std::min(r.top, r.bottom), b = std::max(r.top, r.bottom);
    const double rx = std::min(std::fabs(cw) / 2, (rr - l) / 2);
    const double ry = std::min(std::fabs(ch) / 2, (b - t) / 2);
    if (rx <= 0 || ry <= 0) {
        Rectangle(r);
        return;
    }
    Path path;
    AppendEllipticArc(path, {rr - rx, t + ry}, rx, ry, -M_PI / 2, 0, true);
    AppendEllipticArc(path, {rr - rx, b - ry}, rx, ry, 0, M_PI / 2, false);
    AppendEllipticArc(path, {l + rx, b - ry}, rx, ry, M_PI / 2, M_PI, false);
    AppendEllipticArc(path, {l + rx, t + ry}, rx, ry, M_PI, 1.5 * M_PI, false);
    Shape(std::move(path), true, false);
}

void Player::Ellipse(const Rect& r) {
    Path path;
    AddEllipse(path, (r.left + r.right) / 2, (r.top + r.bottom) / 2, std::fabs(r.right - r.left) / 2,
               std::fabs(r.bottom - r.top) / 2);
    Shape(std::move(path), true, false);
}

void Player::Arc(const Rect& r, Pt start, Pt end, ArcKind kind) {
    const double cx = (r.left + r.right) / 2, cy = (r.top + r.bottom) / 2;
    const double rx = std::fabs(r.right - r.left) / 2, ry = std::fabs(r.bottom - r.top) / 2;
    if (rx <= 0 || ry <= 0) return;
    const double t0 = std::atan2((start.y - cy) / ry, (start.x - cx) / rx);
    double t1 = std::atan2((end.y - cy) / ry, (end.x - cx) / rx);
    // Counter-clockwise as seen in the output; a mirroring map turns the parameter round.
    const bool visualCcw = !dc_.S().arcClockwise;
    const bool decreasing = visualCcw != (dc_.Full().Det() < 0);
    if (decreasing) {
        while (t1 >= t0) t1 -= 2 * M_PI;
    } else {
        while (t1 <= t0) t1 += 2 * M_PI;
    }
    Path path;
    if (kind == ArcKind::kArcTo) path.MoveTo(dc_.S().cur);
    AppendEllipticArc(path, {cx, cy}, rx, ry, t0, t1, kind != ArcKind::kArcTo);
    if (kind == ArcKind::kArcTo) {
        dc_.S().cur = path.pts.back();
        if (pathOpen_) {
            path.Transform(dc_.Full());
            AddToRecording(path, true);
            return;
        }
    }
    if (kind == ArcKind::kPie) path.LineTo({cx, cy});
    const bool closed = kind == ArcKind::kChord || kind == ArcKind::kPie;
    Shape(std::move(path), closed, false);
}

void Player::AngleArc(Pt c, double radius, double startDeg, double sweepDeg) {
    if (!std::isfinite(startDeg) || !std::isfinite(sweepDeg) || radius <= 0) return;
    sweepDeg = std::clamp(sweepDeg, -3600.0, 3600.0);
    startDeg = std::fmod(startDeg, 360.0);
    // Angles count counter-clockwise on a y-down page.
    const double t0 = -startDeg * M_PI / 180, t1 = -(startDeg + sweepDeg) * M_PI / 180;
    Path path;
    path.MoveTo(dc_.S().cur);
    AppendEllipticArc(path, c, radius, radius, t0, t1, false);
    dc_.S().cur = path.pts.back();
    if (pathOpen_) {
        path.Transform(dc_.Full());
        AddToRecording(path, true);
        return;
    }
    Shape(std::move(path), false, false);
}

void Player::SetPixel(Pt p, uint32_t color) {
    const Pt o = dc_.Full().Apply(p);
    Path px;
    const double x = std::floor(o.x), y = std::floor(o.y);
    px.MoveTo({x, y});
    px.LineTo({x + 1, y});
    px.LineTo({x + 1, y + 1});
    px.LineTo({x, y + 1});
    px.Close();
    ApplyClip();
    canvas_.FillColor(px, false, color);
}

void Player::Blit(double dx, double dy, double dw, double dh, const Bitmap* bmp, double sx,
                  double sy, double sw, double sh, uint32_t rop) {
    ApplyClip();
    if (bmp) {
        canvas_.DrawBitmap(*bmp, sx, sy, sw, sh, dc_.Full(), dx, dy, dw, dh, rop);
        return;
    }
    Path area = RectPath({dx, dy, dx + dw, dy + dh});
    area.Transform(dc_.Full());
    const DcState& s = dc_.S();
    canvas_.PatBlt(area, s.brush, s.bkColor, s.bkMode, rop);
}

void Player::BeginPath() {
    path_.Clear();
    pathOpen_ = true;
    pathHasFigure_ = false;
}

void Player::AbortPath() {
    path_.Clear();
    pathOpen_ = false;
}

void Player::CloseFigure() {
    if (pathOpen_) {
        path_.Close();
        pathHasFigure_ = false;
    }
}

void Player::FillPath() {
    DrawPathNow(path_, true, false, dc_.S().polyFill != kWinding);
    AbortPath();
}

void Player::StrokePath() {
    DrawPathNow(path_, false, true, false);
    AbortPath();
}

void Player::StrokeAndFillPath() {
    DrawPathNow(path_, true, true, dc_.S().polyFill != kWinding);
    AbortPath();
}

void Player::SelectClipPath(int mode) {
    ClipStep step{path_, dc_.S().polyFill != kWinding, false};
    AbortPath();
    switch (mode) {
        case 5: dc_.ResetClip(); dc_.AddClip(std::move(step)); break;  // RGN_COPY
        case 1: dc_.AddClip(std::move(step)); break;                    // RGN_AND
        case 4: step.exclude = true; dc_.AddClip(std::move(step)); break;  // RGN_DIFF
        default: break;  // a union cannot narrow the clip; keep it
    }
}

void Player::IntersectClipRect(const Rect& r) {
    Path p = RectPath(r);
    p.Transform(dc_.Full());
    dc_.AddClip({std::move(p), false, false});
}

void Player::ExcludeClipRect(const Rect& r) {
    Path p = RectPath(r);
    p.Transform(dc_.Full());
    dc_.AddClip({std::move(p), false, true});
}

void Player::ClipRegion(const std::vector<Rect>& rects, int mode, bool logical) {
    Path p;
    for (const Rect& r : rects) p.Append(RectPath(r));
    p.Transform(logical ? dc_.Full() : dc_.Base());
    switch (mode) {
        case 5:
            dc_.ResetClip();
            if (!p.Empty()) dc_.AddClip({std::move(p), false, false});
            break;
        case 1: dc_.AddClip({std::move(p), false, false}); break;
        case 4:
            if (!p.Empty()) dc_.AddClip({std::move(p), false, true});
            break;
        default: break;
    }
}

void Player::FillRegion(const std::vector<Rect>& rects, const Brush& brush, bool logical) {
    Path p;
    for (const Rect& r : rects) p.Append(RectPath(r));
    p.Transform(logical ? dc_.Full() : dc_.Base());
    ApplyClip();
    const DcState& s = dc_.S();
    canvas_.Fill(p, false, brush, s.bkColor, s.bkMode, s.rop2);
}

}  // namespace vx::mf
