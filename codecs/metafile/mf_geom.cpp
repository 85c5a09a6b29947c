#include "codecs/metafile/mf_geom.h"

#include <algorithm>
#include <cmath>

namespace vx::mf {

Affine Affine::Then(const Affine& n) const {
    Affine r;
    r.a = n.a * a + n.c * b;
    r.b = n.b * a + n.d * b;
    r.c = n.a * c + n.c * d;
    r.d = n.b * c + n.d * d;
    r.e = n.a * e + n.c * f + n.e;
    r.f = n.b * e + n.d * f + n.f;
    return r;
}

bool Affine::Finite() const {
    return std::isfinite(a) && std::isfinite(b) && std::isfinite(c) && std::isfinite(d) &&
           std::isfinite(e) && std::isfinite(f);
}

double Affine::ScaleX() const { return std::hypot(a, b); }
double Affine::ScaleY() const { return std::hypot(c, d); }
double Affine::MeanScale() const { return std::sqrt(std::fabs(Det())); }

void Path::MoveTo(Pt p) {
    ops.push_back(PathOp::Move);
    pts.push_back(p);
}

void Path::LineTo(Pt p) {
    if (ops.empty()) {
        MoveTo(p);
        return;
    }
    ops.push_back(PathOp::Line);
    pts.push_back(p);
}

void Path::CurveTo(Pt c1, Pt c2, Pt p) {
    if (ops.empty()) MoveTo(c1);
    ops.push_back(PathOp::Curve);
    pts.push_back(c1);
    pts.push_back(c2);
    pts.push_back(p);
}

void Path::Close() {
    if (!ops.empty() && ops.back() != PathOp::Close) ops.push_back(PathOp::Close);
}

void Path::Transform(const Affine& m) {
    for (Pt& p : pts) p = m.Apply(p);
}

void Path::Append(const Path& other) {
    ops.insert(ops.end(), other.ops.begin(), other.ops.end());
    pts.insert(pts.end(), other.pts.begin(), other.pts.end());
}

bool Path::Bounds(double& x0, double& y0, double& x1, double& y1) const {
    if (pts.empty()) return false;
    x0 = x1 = pts[0].x;
    y0 = y1 = pts[0].y;
    for (const Pt& p : pts) {
        x0 = std::min(x0, p.x);
        x1 = std::max(x1, p.x);
        y0 = std::min(y0, p.y);
        y1 = std::max(y1, p.y);
    }
    return true;
}

double Path::Length() const {
    double len = 0;
    for (size_t i = 1; i < pts.size(); ++i)
        len += std::hypot(pts[i].x - pts[i - 1].x, pts[i].y - pts[i - 1].y);
    return len;
}

void AppendEllipticArc(Path& path, Pt c, double rx, double ry, double t0, double t1, bool move) {
    const double sweep = t1 - t0;
    if (!std::isfinite(sweep) || std::fabs(sweep) > 40 * M_PI) return;
    // At most a quarter turn per curve keeps the approximation within a fraction of a pixel.
    const int segments = std::max(1, int(std::ceil(std::fabs(sweep) / (M_PI / 2) - 1e-9)));
    const double step = sweep / segments;
    const double k = 4.0 / 3.0 * std::tan(step / 4);
    auto at = [&](double t) { return Pt{c.x + rx * std::cos(t), c.y + ry * std::sin(t)}; };
    const Pt start = at(t0);
    if (move) path.MoveTo(start);
    else path.LineTo(start);
    double t = t0;
    for (int i = 0; i < segments; ++i) {
        const double u = t + step;
        const Pt p0 = at(t), p3 = at(u);
        const Pt c1{p0.x - k * rx * std::sin(t), p0.y + k * ry * std::cos(t)};
        const Pt c2{p3.x + k * rx * std::sin(u), p3.y - k * ry * std::cos(u)};
        path.CurveTo(c1, c2, p3);
        t = u;
    }
}

}  // namespace vx::mf
