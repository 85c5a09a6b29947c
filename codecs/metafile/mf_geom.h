// Plain geometry shared by the metafile player: points, affine maps, paths.
#pragma once

#include <cstdint>
#include <vector>

namespace vx::mf {

struct Pt {
    double x = 0, y = 0;
};

// x' = a*x + c*y + e, y' = b*x + d*y + f (the layout of the EMF XFORM record).
struct Affine {
    double a = 1, b = 0, c = 0, d = 1, e = 0, f = 0;

    Pt Apply(Pt p) const { return {a * p.x + c * p.y + e, b * p.x + d * p.y + f}; }
    // Length of a transformed vector, for widths and font heights.
    Pt ApplyVector(Pt p) const { return {a * p.x + c * p.y, b * p.x + d * p.y}; }
    double Det() const { return a * d - b * c; }
    // `this` first, then `next`.
    Affine Then(const Affine& next) const;
    bool Finite() const;
    double ScaleX() const;
    double ScaleY() const;
    double MeanScale() const;
};

enum class PathOp : uint8_t { Move, Line, Curve, Close };

// A path in one coordinate space; curves carry three points each.
struct Path {
    std::vector<PathOp> ops;
    std::vector<Pt> pts;

    void MoveTo(Pt p);
    void LineTo(Pt p);
    void CurveTo(Pt c1, Pt c2, Pt p);
    void Close();
    bool Empty() const { return ops.empty(); }
    void Clear() {
        ops.clear();
        pts.clear();
    }
    void Transform(const Affine& m);
    void Append(const Path& other);
    // Bounding box of all points; false for an empty path.
    bool Bounds(double& x0, double& y0, double& x1, double& y1) const;
    // Rough length of all segments (control polygons for curves).
    double Length() const;
};

// Cubic Bézier approximation of an elliptic arc from angle t0 to t1 (radians,
// parameter angles of the ellipse centred at c with radii rx, ry). Appends to
// `path`, starting with a move when `move` is set, else a line to the start.
void AppendEllipticArc(Path& path, Pt c, double rx, double ry, double t0, double t1, bool move);

}  // namespace vx::mf
