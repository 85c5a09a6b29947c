// Records of the 16-bit Windows metafile.
#include <algorithm>
#include <cmath>

#include "codecs/metafile/mf_dib.h"
#include "codecs/metafile/mf_play.h"
#include "codecs/metafile/mf_records.h"

namespace vx::mf {

namespace {

constexpr size_t kMaxRegionRects = 10000;

class WmfReader {
public:
    WmfReader(Player& player, const uint8_t* body, size_t size) : pl_(player), body_(body), size_(size) {}
    void Play(const WmfFrame& frame, int width, int height);

private:
    void Record(uint16_t fn, const RecordView& r);
    // Parameter i (16-bit) of the current record.
    int16_t P(const RecordView& r, int i) const { return r.S16(6 + 2 * size_t(i)); }
    std::vector<Pt> Points(const RecordView& r, size_t off, size_t count) const;
    void CreateRegion(const RecordView& r);
    void TextOut(const RecordView& r);
    void ExtTextOut(const RecordView& r);
    void StretchDib(const RecordView& r, size_t dibOff, double dx, double dy, double dw, double dh,
                    double sx, double sy, double sw, double sh, uint32_t rop, uint32_t usage,
                    bool dibCoords);

    Player& pl_;
    const uint8_t* body_;
    size_t size_;
};

Rect Ltrb(double l, double t, double r, double b) { return Rect{l, t, r, b}; }

std::vector<Pt> WmfReader::Points(const RecordView& r, size_t off, size_t count) const {
    std::vector<Pt> pts;
    if (!r.Has(off, count * 4)) return pts;
    pts.reserve(count);
    for (size_t i = 0; i < count; ++i) pts.push_back({double(r.S16(off + 4 * i)), double(r.S16(off + 4 * i + 2))});
    return pts;
}

void WmfReader::Play(const WmfFrame& frame, int width, int height) {
    DeviceContext& dc = pl_.Dc();
    dc.Reset(Affine{}, 96 / 25.4, 96 / 25.4);
    // The placeable box is the picture's window; the output bitmap is its viewport.
    dc.SetMapMode(kMmAnisotropic);
    dc.SetWindowOrg(frame.left, frame.top);
    dc.SetWindowExt(double(frame.right) - frame.left, double(frame.bottom) - frame.top);
    dc.SetViewportOrg(0, 0);
    dc.SetViewportExt(width, height);
    dc.InitObjects(size_ >= 12 ? LoadLE16(body_ + 10) : 0);

    const size_t headerBytes = 18;
    size_t off = headerBytes;
    while (off + 6 <= size_ && !pl_.Stopped()) {
        const uint64_t words = LoadLE32(body_ + off);
        const uint16_t fn = LoadLE16(body_ + off + 4);
        if (fn == wmr::kEof) break;
        if (words < 3 || words * 2 > size_ - off) break;
        const RecordView r{body_ + off, size_t(words * 2)};
        Record(fn, r);
        pl_.Out().Charge(16);
        off += size_t(words * 2);
    }
}

void WmfReader::Record(uint16_t fn, const RecordView& r) {
    DeviceContext& dc = pl_.Dc();
    DcState& s = dc.S();
    const size_t params = r.n - 6;
    switch (fn) {
        case wmr::kSetBkColor: s.bkColor = r.U32(6) & 0xFFFFFF; break;
        case wmr::kSetBkMode: s.bkMode = P(r, 0); break;
        case wmr::kSetMapMode: dc.SetMapMode(P(r, 0)); break;
        case wmr::kSetRop2: s.rop2 = P(r, 0); break;
        case wmr::kSetPolyFillMode: s.polyFill = P(r, 0); break;
        case wmr::kSetTextColor: s.textColor = r.U32(6) & 0xFFFFFF; break;
        case wmr::kSetTextAlign: s.textAlign = r.U16(6); break;
        case wmr::kSetWindowOrg: dc.SetWindowOrg(P(r, 1), P(r, 0)); break;
        case wmr::kSetWindowExt: dc.SetWindowExt(P(r, 1), P(r, 0)); break;
        case wmr::kOffsetWindowOrg: dc.SetWindowOrg(s.winOrgX + P(r, 1), s.winOrgY + P(r, 0)); break;
        case wmr::kScaleWindowExt: {  // yDenom, yNum, xDenom, xNum
            const double yd = P(r, 0), yn = P(r, 1), xd = P(r, 2), xn = P(r, 3);
            if (xd != 0 && yd != 0) dc.SetWindowExt(s.winExtX * xn / xd, s.winExtY * yn / yd);
            break;
        }
        case wmr::kMoveTo: pl_.MoveTo({double(P(r, 1)), double(P(r, 0))}); break;
        case wmr::kLineTo: pl_.LineTo({double(P(r, 1)), double(P(r, 0))}); break;
        case wmr::kExcludeClipRect: pl_.ExcludeClipRect(Ltrb(P(r, 3), P(r, 2), P(r, 1), P(r, 0))); break;
        case wmr::kIntersectClipRect: pl_.IntersectClipRect(Ltrb(P(r, 3), P(r, 2), P(r, 1), P(r, 0))); break;
        case wmr::kArc:
        case wmr::kPie:
        case wmr::kChord:
            if (params < 16) break;
            pl_.Arc(Ltrb(P(r, 7), P(r, 6), P(r, 5), P(r, 4)), {double(P(r, 3)), double(P(r, 2))},
                    {double(P(r, 1)), double(P(r, 0))},
                    fn == wmr::kArc ? ArcKind::kArc : fn == wmr::kPie ? ArcKind::kPie : ArcKind::kChord);
            break;
        case wmr::kEllipse:
            if (params >= 8) pl_.Ellipse(Ltrb(P(r, 3), P(r, 2), P(r, 1), P(r, 0)));
            break;
        case wmr::kRectangle:
            if (params >= 8) pl_.Rectangle(Ltrb(P(r, 3), P(r, 2), P(r, 1), P(r, 0)));
            break;
        case wmr::kRoundRect:
            if (params >= 12) pl_.RoundRect(Ltrb(P(r, 5), P(r, 4), P(r, 3), P(r, 2)), P(r, 1), P(r, 0));
            break;
        case wmr::kPatBlt:
            if (params >= 12)
                pl_.Blit(P(r, 5), P(r, 4), P(r, 3), P(r, 2), nullptr, 0, 0, 0, 0, r.U32(6));
            break;
        case wmr::kSaveDc: dc.Save(); break;
        case wmr::kRestoreDc: dc.Restore(P(r, 0)); break;
        case wmr::kSetPixel:
            if (params >= 8) pl_.SetPixel({double(P(r, 3)), double(P(r, 2))}, r.U32(6) & 0xFFFFFF);
            break;
        case wmr::kTextOut: TextOut(r); break;
        case wmr::kExtTextOut: ExtTextOut(r); break;
        case wmr::kPolygon:
        case wmr::kPolyline: {
            const size_t n = r.U16(6);
            std::vector<Pt> pts = Points(r, 8, n);
            if (pts.size() != n) break;
            if (fn == wmr::kPolygon) pl_.Polygon(pts);
            else pl_.Polyline(pts);
            break;
        }
        case wmr::kPolyPolygon: {
            const size_t polys = r.U16(6);
            if (!r.Has(8, polys * 2)) break;
            std::vector<uint32_t> counts(polys);
            size_t total = 0;
            for (size_t i = 0; i < polys; ++i) total += counts[i] = r.U16(8 + 2 * i);
            std::vector<Pt> pts = Points(r, 8 + polys * 2, total);
            if (pts.size() != total) break;
            pl_.PolyPolygon(pts, counts);
            break;
        }
        case wmr::kSelectObject: {
            if (const GdiObject* o = dc.Object(r.U16(6))) dc.SelectObject(*o);
            break;
        }
        case wmr::kDeleteObject: dc.DeleteObject(r.U16(6)); break;
        case wmr::kCreatePenIndirect: {
            GdiObject o;
            o.kind = GdiObject::kPen;
            const uint16_t style = r.U16(6);
            o.pen.style = style & 0x0F;
            o.pen.width = std::abs(P(r, 1));
            o.pen.cosmetic = o.pen.width <= 0;
            o.pen.color = r.U32(12) & 0xFFFFFF;
            o.pen.cap = (style >> 8) & 3;
            o.pen.join = (style >> 12) & 3;
            dc.AddObject(std::move(o));
            break;
        }
        case wmr::kCreateBrushIndirect: {
            GdiObject o;
            o.kind = GdiObject::kBrush;
            o.brush.style = r.U16(6);
            o.brush.color = r.U32(8) & 0xFFFFFF;
            o.brush.hatch = r.U16(12);
            if (o.brush.style != kBsSolid && o.brush.style != kBsNull && o.brush.style != kBsHatched)
                o.brush.style = kBsSolid;
            dc.AddObject(std::move(o));
            break;
        }
        case wmr::kCreateFontIndirect: {
            GdiObject o;
            o.kind = GdiObject::kFont;
            Font& f = o.font;
            f.height = P(r, 0);
            f.width = P(r, 1);
            f.escapement = P(r, 2);
            f.weight = P(r, 4);
            f.italic = r.U8(16) != 0;
            f.underline = r.U8(17) != 0;
            f.strikeout = r.U8(18) != 0;
            f.charset = r.U8(19);
            size_t len = 0;
            while (len < 32 && r.Has(24 + len, 1) && r.p[24 + len] != 0) ++len;
            const std::u32string face = r.Has(24, len) ? DecodeAnsi(r.p + 24, len, f.charset == 2 ? 0 : f.charset)
                                                       : std::u32string();
            for (char32_t c : face) {
                // Family names are plain text; keep them printable for fontconfig.
                if (c >= 0x20 && c != 0xFFFD) AppendUtf8(f.face, c);
            }
            dc.AddObject(std::move(o));
            break;
        }
        case wmr::kDibCreatePatternBrush: {
            GdiObject o;
            o.kind = GdiObject::kBrush;
            o.brush.style = kBsDibPattern;
            o.brush.color = 0x808080;
            if (r.n > 10) o.brush.pattern = DecodePackedDib(r.p + 10, r.n - 10, r.U16(8));
            dc.AddObject(std::move(o));
            break;
        }
        case wmr::kCreatePatternBrush:  // a device-dependent bitmap, drawn as grey
        {
            GdiObject o;
            o.kind = GdiObject::kBrush;
            o.brush.color = 0x808080;
            dc.AddObject(std::move(o));
            break;
        }
        case wmr::kCreatePalette: {  // occupies a slot
            GdiObject o;
            o.kind = GdiObject::kOther;
            dc.AddObject(std::move(o));
            break;
        }
        case wmr::kCreateRegion: CreateRegion(r); break;
        case wmr::kSelectClipRegion: {
            const GdiObject* o = dc.Object(r.U16(6));
            if (o && o->kind == GdiObject::kRegion) pl_.ClipRegion(o->region, 5, true);
            else dc.ResetClip();
            break;
        }
        case wmr::kFillRegion: {  // region, brush
            const GdiObject* rg = dc.Object(r.U16(6));
            const GdiObject* br = dc.Object(r.U16(8));
            if (rg && br && rg->kind == GdiObject::kRegion && br->kind == GdiObject::kBrush)
                pl_.FillRegion(rg->region, br->brush, true);
            break;
        }
        case wmr::kPaintRegion: {
            const GdiObject* rg = dc.Object(r.U16(6));
            if (rg && rg->kind == GdiObject::kRegion) pl_.FillRegion(rg->region, s.brush, true);
            break;
        }
        case wmr::kStretchDib:
            if (params >= 22)
                StretchDib(r, 28, P(r, 10), P(r, 9), P(r, 8), P(r, 7), P(r, 6), P(r, 5), P(r, 4),
                           P(r, 3), r.U32(6), r.U16(10), true);
            break;
        case wmr::kDibStretchBlt:
            if (params >= 20 + 40)
                StretchDib(r, 26, P(r, 9), P(r, 8), P(r, 7), P(r, 6), P(r, 5), P(r, 4), P(r, 3),
                           P(r, 2), r.U32(6), 0, false);
            else if (params >= 22)
                pl_.Blit(P(r, 10), P(r, 9), P(r, 8), P(r, 7), nullptr, 0, 0, 0, 0, r.U32(6));
            break;
        case wmr::kDibBitBlt:
            if (params >= 16 + 40)
                StretchDib(r, 22, P(r, 7), P(r, 6), P(r, 5), P(r, 4), P(r, 3), P(r, 2), P(r, 5),
                           P(r, 4), r.U32(6), 0, false);
            else if (params >= 18)
                pl_.Blit(P(r, 8), P(r, 7), P(r, 6), P(r, 5), nullptr, 0, 0, 0, 0, r.U32(6));
            break;
        case wmr::kSetDibToDev:
            if (params >= 18 + 40)
                StretchDib(r, 24, P(r, 8), P(r, 7), P(r, 6), P(r, 5), P(r, 4), P(r, 3), P(r, 6),
                           P(r, 5), 0x00CC0020, r.U16(6), true);
            break;
        default: break;  // records without a drawing effect here are skipped
    }
}

void WmfReader::CreateRegion(const RecordView& r) {
    GdiObject o;
    o.kind = GdiObject::kRegion;
    const size_t scans = r.U16(16);
    size_t off = 28;
    for (size_t i = 0; i < scans && o.region.size() < kMaxRegionRects; ++i) {
        if (!r.Has(off, 6)) break;
        const size_t count = r.U16(off);
        const double top = r.S16(off + 2), bottom = r.S16(off + 4);
        if (!r.Has(off + 6, count * 2 + 2)) break;
        for (size_t k = 0; k + 1 < count && o.region.size() < kMaxRegionRects; k += 2)
            o.region.push_back({double(r.S16(off + 6 + 2 * k)), top, double(r.S16(off + 8 + 2 * k)), bottom});
        off += 6 + count * 2 + 2;
    }
    pl_.Dc().AddObject(std::move(o));
}

void WmfReader::TextOut(const RecordView& r) {
    const size_t count = r.U16(6);
    const size_t padded = (count + 1) & ~size_t(1);
    if (!r.Has(8, padded + 4)) return;
    const Pt at{double(r.S16(8 + padded + 2)), double(r.S16(8 + padded))};
    pl_.Text(at, DecodeAnsi(r.p + 8, count, pl_.Dc().S().font.charset), {}, 0, nullptr);
}

void WmfReader::ExtTextOut(const RecordView& r) {
    if (!r.Has(6, 8)) return;
    const Pt at{double(P(r, 1)), double(P(r, 0))};
    const size_t count = r.U16(10);
    // Glyph numbers are read from EMF text only: 16-bit metafile text stays characters.
    const uint32_t options = r.U16(12) & ~kEtoGlyphIndex;
    size_t off = 14;
    Rect rect;
    bool hasRect = false;
    if ((options & (kEtoOpaque | kEtoClipped)) && r.Has(off, 8)) {
        rect = Ltrb(r.S16(off), r.S16(off + 2), r.S16(off + 4), r.S16(off + 6));
        hasRect = true;
        off += 8;
    }
    if (!r.Has(off, count)) return;
    std::u32string text = DecodeAnsi(r.p + off, count, pl_.Dc().S().font.charset);
    const size_t dxOff = off + ((count + 1) & ~size_t(1));
    std::vector<double> dx;
    // Advances are per byte; with a double-byte code page they only line up with
    // the characters when every character is one byte.
    if (count > 0 && r.Has(dxOff, count * 2) && text.size() == count) {
        dx.reserve(count);
        for (size_t i = 0; i < count; ++i) dx.push_back(r.S16(dxOff + 2 * i));
    }
    pl_.Text(at, text, dx, options, hasRect ? &rect : nullptr);
}

void WmfReader::StretchDib(const RecordView& r, size_t dibOff, double dx, double dy, double dw,
                           double dh, double sx, double sy, double sw, double sh, uint32_t rop,
                           uint32_t usage, bool dibCoords) {
    if (!r.Has(dibOff, 40)) return;
    std::shared_ptr<Bitmap> bmp = DecodePackedDib(r.p + dibOff, r.n - dibOff, usage);
    if (!bmp) return;
    const bool topDown = LoadLE32(r.p + dibOff) >= 40 && int32_t(LoadLE32(r.p + dibOff + 8)) < 0;
    if (dibCoords) sy = DibSourceTop(bmp->height, topDown, sy, sh);
    pl_.Blit(dx, dy, dw, dh, bmp.get(), sx, sy, sw, sh, rop);
}

}  // namespace

void PlayWmf(Player& player, const uint8_t* body, size_t size, const WmfFrame& frame, int width,
             int height) {
    WmfReader(player, body, size).Play(frame, width, height);
}

}  // namespace vx::mf
