// Output raster of the metafile player: cairo drawing in output pixels, the
// clip, and a work budget that keeps hostile files from running for long.
#pragma once

#include <cairo.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "codecs/metafile/mf_dc.h"

namespace vx::mf {

class Canvas {
public:
    Canvas() = default;
    ~Canvas();
    Canvas(const Canvas&) = delete;
    Canvas& operator=(const Canvas&) = delete;

    // A width x height surface filled with `background` (COLORREF).
    bool Init(int width, int height, uint32_t background);
    int Width() const { return width_; }
    int Height() const { return height_; }
    cairo_t* Cr() { return cr_; }

    // Work is counted in touched output pixels; once the budget is spent the
    // player stops and keeps what it drew.
    bool Exhausted() const { return spent_ > budget_; }
    double Spent() const { return spent_; }
    double Budget() const { return budget_; }
    void Charge(double units);
    // Pixels of the output the box covers (0 when outside).
    double CoveredArea(double x0, double y0, double x1, double y1) const;

    void ApplyClip(const std::shared_ptr<const std::vector<ClipStep>>& clip);

    void Fill(const Path& path, bool evenOdd, const Brush& brush, uint32_t bkColor, int bkMode,
              int rop2);
    // `width` in output pixels.
    void Stroke(const Path& path, const Pen& pen, double width, uint32_t bkColor, int bkMode,
                int rop2);
    void FillColor(const Path& path, bool evenOdd, uint32_t color);
    // Draws the source rectangle of `bmp` onto the logical destination
    // rectangle, `toOutput` mapping logical units to output pixels.
    void DrawBitmap(const Bitmap& bmp, double sx, double sy, double sw, double sh,
                    const Affine& toOutput, double dx, double dy, double dw, double dh,
                    uint32_t rop);
    // Raster operations without a source bitmap (PatBlt).
    void PatBlt(const Path& area, const Brush& brush, uint32_t bkColor, int bkMode, uint32_t rop);

    // Pixel (x, y) of the result as 0x00RRGGBB, row 0 at the top.
    const uint8_t* Row(int y) const;

    // Adds `path` to the cairo context, coordinates kept inside cairo's range.
    void AddPath(const Path& path);

private:
    bool SetBrushSource(const Brush& brush, uint32_t bkColor, int bkMode);
    void SetColor(uint32_t color);
    // Operator for a binary raster operation; false when nothing is drawn.
    bool SetRop2(int rop2, uint32_t& color);

    cairo_surface_t* surface_ = nullptr;
    cairo_t* cr_ = nullptr;
    int width_ = 0, height_ = 0;
    double budget_ = 0, spent_ = 0;
    std::shared_ptr<const std::vector<ClipStep>> appliedClip_;
    bool clipApplied_ = false;
};

}  // namespace vx::mf
