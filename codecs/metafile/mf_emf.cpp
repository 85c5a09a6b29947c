// Records of the enhanced metafile.
#include <algorithm>
#include <cmath>

#include "codecs/metafile/mf_dib.h"
#include "codecs/metafile/mf_play.h"
#include "codecs/metafile/mf_records.h"

namespace vx::mf {

namespace {

constexpr size_t kMaxRegionRects = 10000;

class EmfReader {
public:
    EmfReader(Player& player, const uint8_t* data, size_t size) : pl_(player), data_(data), size_(size) {}
    void Play(int width, int height);

private:
    void Record(uint32_t type, const RecordView& r);
    std::vector<Pt> Points(const RecordView& r, size_t off, size_t count, bool small) const;
    void PolyPoly(const RecordView& r, bool small, bool polygon);
    void Poly(uint32_t type, const RecordView& r, bool small);
    Rect RectAt(const RecordView& r, size_t off) const {
        return {double(r.S32(off)), double(r.S32(off + 4)), double(r.S32(off + 8)), double(r.S32(off + 12))};
    }
    Pt PointAt(const RecordView& r, size_t off) const { return {double(r.S32(off)), double(r.S32(off + 4))}; }
    std::shared_ptr<Bitmap> BitmapAt(const RecordView& r, size_t offBmi, size_t cbBmi, size_t offBits,
                                     size_t cbBits, uint32_t usage) const;
    std::vector<Rect> RegionAt(const RecordView& r, size_t off, size_t cb) const;
    bool SelectStock(uint32_t index);
    void TextW(const RecordView& r, bool wide);
    void SmallText(const RecordView& r);
    void SetTransform(const RecordView& r, uint32_t mode);

    Player& pl_;
    const uint8_t* data_;
    size_t size_;
};

std::vector<Pt> EmfReader::Points(const RecordView& r, size_t off, size_t count, bool small) const {
    std::vector<Pt> pts;
    const size_t each = small ? 4 : 8;
    if (count > r.n / each || !r.Has(off, count * each)) return pts;
    pts.reserve(count);
    for (size_t i = 0; i < count; ++i) {
        if (small) pts.push_back({double(r.S16(off + 4 * i)), double(r.S16(off + 4 * i + 2))});
        else pts.push_back(PointAt(r, off + 8 * i));
    }
    return pts;
}

void EmfReader::Play(int width, int height) {
    const RecordView h{data_, size_};
    DeviceContext& dc = pl_.Dc();
    const double devX = h.S32(72), devY = h.S32(76), mmX = h.S32(80), mmY = h.S32(84);
    const double ppmX = devX > 0 && mmX > 0 ? devX / mmX : 96 / 25.4;
    const double ppmY = devY > 0 && mmY > 0 ? devY / mmY : 96 / 25.4;
    // The frame (hundredths of a millimetre) is what the picture fills; the
    // bounds stand in when it is empty.
    double l = h.S32(24) * ppmX / 100, t = h.S32(28) * ppmY / 100;
    double r = h.S32(32) * ppmX / 100, b = h.S32(36) * ppmY / 100;
    if (!(r - l > 0) || !(b - t > 0)) {
        l = h.S32(8);
        t = h.S32(12);
        r = h.S32(16);
        b = h.S32(20);
    }
    Affine base;
    base.a = (r - l > 0) ? width / (r - l) : 1;
    base.d = (b - t > 0) ? height / (b - t) : 1;
    base.e = -l * base.a;
    base.f = -t * base.d;
    dc.Reset(base, ppmX, ppmY);
    dc.InitObjects(h.U16(56));

    size_t end = size_;
    const uint32_t declared = h.U32(48);
    if (declared >= 88 && declared < end) end = declared;
    size_t off = h.U32(4);
    while (off + 8 <= end && !pl_.Stopped()) {
        const uint32_t type = LoadLE32(data_ + off);
        const uint32_t bytes = LoadLE32(data_ + off + 4);
        if (bytes < 8 || bytes > end - off) break;
        if (type == emr::kEof) break;
        Record(type, RecordView{data_ + off, bytes});
        pl_.Out().Charge(16);
        off += bytes;
    }
}

std::shared_ptr<Bitmap> EmfReader::BitmapAt(const RecordView& r, size_t offBmi, size_t cbBmi,
                                            size_t offBits, size_t cbBits, uint32_t usage) const {
    if (cbBmi == 0 || !r.Has(offBmi, cbBmi) || !r.Has(offBits, cbBits)) return nullptr;
    return DecodeDib(r.p + offBmi, cbBmi, r.p + offBits, cbBits, usage);
}

std::vector<Rect> EmfReader::RegionAt(const RecordView& r, size_t off, size_t cb) const {
    std::vector<Rect> rects;
    if (cb < 32 || !r.Has(off, cb)) return rects;
    const size_t count = r.U32(off + 8);
    if (count > (cb - 32) / 16) return rects;
    for (size_t i = 0; i < count && i < kMaxRegionRects; ++i) rects.push_back(RectAt(r, off + 32 + 16 * i));
    return rects;
}

bool EmfReader::SelectStock(uint32_t index) {
    DcState& s = pl_.Dc().S();
    switch (index & 0x7FFFFFFF) {
        case 0: s.brush = Brush{kBsSolid, 0xFFFFFF, 0, nullptr}; break;
        case 1: s.brush = Brush{kBsSolid, 0xC0C0C0, 0, nullptr}; break;
        case 2: s.brush = Brush{kBsSolid, 0x808080, 0, nullptr}; break;
        case 3: s.brush = Brush{kBsSolid, 0x404040, 0, nullptr}; break;
        case 4: s.brush = Brush{kBsSolid, 0, 0, nullptr}; break;
        case 5: s.brush = Brush{kBsNull, 0, 0, nullptr}; break;
        case 6: s.pen = Pen{}; s.pen.color = 0xFFFFFF; break;
        case 7: s.pen = Pen{}; break;
        case 8: s.pen = Pen{}; s.pen.style = kPsNull; break;
        case 10: case 11: case 12: case 13: case 14: case 16: case 17: s.font = Font{}; break;
        default: return false;
    }
    return true;
}

void EmfReader::PolyPoly(const RecordView& r, bool small, bool polygon) {
    const size_t polys = r.U32(24);
    const size_t total = r.U32(28);
    if (polys > r.n / 4 || !r.Has(32, polys * 4)) return;
    std::vector<uint32_t> counts(polys);
    uint64_t sum = 0;
    for (size_t i = 0; i < polys; ++i) sum += counts[i] = r.U32(32 + 4 * i);
    if (sum != total) return;
    std::vector<Pt> pts = Points(r, 32 + polys * 4, total, small);
    if (pts.size() != total) return;
    if (polygon) pl_.PolyPolygon(pts, counts);
    else pl_.PolyPolyline(pts, counts);
}

void EmfReader::Poly(uint32_t type, const RecordView& r, bool small) {
    const size_t count = r.U32(24);
    std::vector<Pt> pts = Points(r, 28, count, small);
    if (pts.size() != count || count == 0) return;
    switch (type) {
        case emr::kPolyBezier: pl_.PolyBezier(pts); break;
        case emr::kPolygon: pl_.Polygon(pts); break;
        case emr::kPolyline: pl_.Polyline(pts); break;
        case emr::kPolyBezierTo: pl_.PolyBezierTo(pts); break;
        case emr::kPolylineTo: pl_.PolylineTo(pts); break;
        default: break;
    }
}

void EmfReader::SetTransform(const RecordView& r, uint32_t mode) {
    Affine x{r.F32(8), r.F32(12), r.F32(16), r.F32(20), r.F32(24), r.F32(28)};
    DcState& s = pl_.Dc().S();
    switch (mode) {
        case emr::kWorldIdentity: s.world = Affine{}; break;
        case emr::kWorldLeftMultiply: x = x.Then(s.world); [[fallthrough]];
        case emr::kWorldSet:
            if (!x.Finite() || x.Det() == 0) return;
            s.world = x;
            break;
        case emr::kWorldRightMultiply:
            x = s.world.Then(x);
            if (!x.Finite() || x.Det() == 0) return;
            s.world = x;
            break;
        default: return;
    }
    pl_.Dc().Invalidate();
}

void EmfReader::TextW(const RecordView& r, bool wide) {
    const Pt ref = PointAt(r, 36);
    const size_t chars = r.U32(44);
    const size_t offString = r.U32(48);
    const uint32_t options = r.U32(52);
    const Rect rect = RectAt(r, 56);
    const size_t offDx = r.U32(72);
    const size_t unit = wide ? 2 : 1;
    if (chars > r.n || !r.Has(offString, chars * unit)) return;
    const std::u32string text = (options & kEtoGlyphIndex) ? GlyphIndices(r.p + offString, chars, !wide)
                                : wide ? DecodeUtf16(r.p + offString, chars)
                                       : DecodeAnsi(r.p + offString, chars, pl_.Dc().S().font.charset);
    std::vector<double> dx;
    const size_t per = (options & 0x2000) ? 2 : 1;  // ETO_PDY: x and y advances
    if (offDx && text.size() == chars && r.Has(offDx, chars * 4 * per)) {
        dx.reserve(chars);
        for (size_t i = 0; i < chars; ++i) dx.push_back(r.S32(offDx + 4 * per * i));
    }
    const bool useRect = (options & (kEtoOpaque | kEtoClipped)) != 0;
    pl_.Text(ref, text, dx, options, useRect ? &rect : nullptr);
}

void EmfReader::SmallText(const RecordView& r) {
    const Pt ref = PointAt(r, 8);
    const size_t chars = r.U32(16);
    const uint32_t options = r.U32(20);
    size_t off = 36;
    Rect rect;
    const bool hasRect = !(options & 0x100);  // ETO_NO_RECT
    if (hasRect) {
        rect = RectAt(r, off);
        off += 16;
    }
    const bool narrow = options & 0x200;  // ETO_SMALL_CHARS
    if (chars > r.n || !r.Has(off, chars * (narrow ? 1 : 2))) return;
    const std::u32string text = (options & kEtoGlyphIndex) ? GlyphIndices(r.p + off, chars, narrow)
                                : narrow ? DecodeAnsi(r.p + off, chars, pl_.Dc().S().font.charset)
                                         : DecodeUtf16(r.p + off, chars);
    pl_.Text(ref, text, {}, options, hasRect && (options & (kEtoOpaque | kEtoClipped)) ? &rect : nullptr);
}

void EmfReader::Record(uint32_t type, const RecordView& r) {
    DeviceContext& dc = pl_.Dc();
    DcState& s = dc.S();
    switch (type) {
        case emr::kPolyBezier:
        case emr::kPolygon:
        case emr::kPolyline:
        case emr::kPolyBezierTo:
        case emr::kPolylineTo: Poly(type, r, false); break;
        case emr::kPolyBezier16:
        case emr::kPolygon16:
        case emr::kPolyline16:
        case emr::kPolyBezierTo16:
        case emr::kPolylineTo16: Poly(type - emr::kSmallPointShift, r, true); break;
        case emr::kPolyPolyline: PolyPoly(r, false, false); break;
        case emr::kPolyPolygon: PolyPoly(r, false, true); break;
        case emr::kPolyPolyline16: PolyPoly(r, true, false); break;
        case emr::kPolyPolygon16: PolyPoly(r, true, true); break;
        case emr::kPolyDraw:
        case emr::kPolyDraw16: {
            const bool small = type == emr::kPolyDraw16;
            const size_t count = r.U32(24);
            std::vector<Pt> pts = Points(r, 28, count, small);
            const size_t typesOff = 28 + count * (small ? 4 : 8);
            if (pts.size() != count || !r.Has(typesOff, count)) break;
            pl_.PolyDraw(pts, std::vector<uint8_t>(r.p + typesOff, r.p + typesOff + count));
            break;
        }
        case emr::kSetWindowExtEx: dc.SetWindowExt(r.S32(8), r.S32(12)); break;
        case emr::kSetWindowOrgEx: dc.SetWindowOrg(r.S32(8), r.S32(12)); break;
        case emr::kSetViewportExtEx: dc.SetViewportExt(r.S32(8), r.S32(12)); break;
        case emr::kSetViewportOrgEx: dc.SetViewportOrg(r.S32(8), r.S32(12)); break;
        case emr::kSetPixelV: pl_.SetPixel(PointAt(r, 8), r.U32(16) & 0xFFFFFF); break;
        case emr::kSetMapMode: dc.SetMapMode(r.S32(8)); break;
        case emr::kSetBkMode: s.bkMode = r.S32(8); break;
        case emr::kSetPolyFillMode: s.polyFill = r.S32(8); break;
        case emr::kSetRop2: s.rop2 = r.S32(8); break;
        case emr::kSetTextAlign: s.textAlign = r.U32(8); break;
        case emr::kSetTextColor: s.textColor = r.U32(8) & 0xFFFFFF; break;
        case emr::kSetBkColor: s.bkColor = r.U32(8) & 0xFFFFFF; break;
        case emr::kMoveToEx: pl_.MoveTo(PointAt(r, 8)); break;
        case emr::kExcludeClipRect: pl_.ExcludeClipRect(RectAt(r, 8)); break;
        case emr::kIntersectClipRect: pl_.IntersectClipRect(RectAt(r, 8)); break;
        case emr::kScaleViewportExtEx:
        case emr::kScaleWindowExtEx: {
            const double xn = r.S32(8), xd = r.S32(12), yn = r.S32(16), yd = r.S32(20);
            if (xd == 0 || yd == 0) break;
            if (type == emr::kScaleViewportExtEx) dc.SetViewportExt(s.vpExtX * xn / xd, s.vpExtY * yn / yd);
            else dc.SetWindowExt(s.winExtX * xn / xd, s.winExtY * yn / yd);
            break;
        }
        case emr::kSaveDc: dc.Save(); break;
        case emr::kRestoreDc: dc.Restore(r.S32(8)); break;
        case emr::kSetWorldTransform: SetTransform(r, emr::kWorldSet); break;
        case emr::kModifyWorldTransform: SetTransform(r, r.U32(32)); break;
        case emr::kSelectObject: {
            const uint32_t ih = r.U32(8);
            if (ih & 0x80000000u) SelectStock(ih);
            else if (const GdiObject* o = dc.Object(ih)) dc.SelectObject(*o);
            break;
        }
        case emr::kCreatePen: {
            GdiObject o;
            o.kind = GdiObject::kPen;
            const uint32_t style = r.U32(12);
            o.pen.style = int(style & 0x0F);
            o.pen.width = std::fabs(double(r.S32(16)));
            o.pen.cosmetic = o.pen.width == 0;
            o.pen.color = r.U32(24) & 0xFFFFFF;
            dc.SetObject(r.U32(8), std::move(o));
            break;
        }
        case emr::kExtCreatePen: {
            GdiObject o;
            o.kind = GdiObject::kPen;
            const uint32_t style = r.U32(28);
            o.pen.style = int(style & 0x0F);
            o.pen.cosmetic = (style & 0xF0000) == 0;
            o.pen.width = o.pen.cosmetic ? 0 : double(r.U32(32));
            o.pen.cap = int((style >> 8) & 0x0F);
            o.pen.join = int((style >> 12) & 0x0F);
            o.pen.color = r.U32(40) & 0xFFFFFF;
            if (r.U32(36) == kBsNull) o.pen.style = kPsNull;
            // At most 16 entries, as GDI takes them.
            const uint32_t entries = r.U32(48);
            if (o.pen.style == kPsUserStyle && entries <= 16 && r.Has(52, size_t(entries) * 4))
                for (uint32_t i = 0; i < entries; ++i) o.pen.userStyle.push_back(double(r.U32(52 + 4 * i)));
            dc.SetObject(r.U32(8), std::move(o));
            break;
        }
        case emr::kCreateBrushIndirect: {
            GdiObject o;
            o.kind = GdiObject::kBrush;
            o.brush.style = int(r.U32(12));
            o.brush.color = r.U32(16) & 0xFFFFFF;
            o.brush.hatch = int(r.U32(20));
            if (o.brush.style != kBsSolid && o.brush.style != kBsNull && o.brush.style != kBsHatched)
                o.brush.style = kBsSolid;
            dc.SetObject(r.U32(8), std::move(o));
            break;
        }
        case emr::kCreateMonoBrush:
        case emr::kCreateDibPatternBrushPt: {
            GdiObject o;
            o.kind = GdiObject::kBrush;
            o.brush.style = kBsDibPatternPt;
            o.brush.color = 0x808080;
            o.brush.pattern = BitmapAt(r, r.U32(16), r.U32(20), r.U32(24), r.U32(28), r.U32(12));
            dc.SetObject(r.U32(8), std::move(o));
            break;
        }
        case emr::kExtCreateFontIndirectW: {
            GdiObject o;
            o.kind = GdiObject::kFont;
            Font& f = o.font;
            f.height = r.S32(12);
            f.width = r.S32(16);
            f.escapement = r.S32(20);
            f.weight = r.S32(28);
            f.italic = r.U8(32) != 0;
            f.underline = r.U8(33) != 0;
            f.strikeout = r.U8(34) != 0;
            f.charset = r.U8(35);
            size_t len = 0;
            while (len < 32 && r.Has(40 + 2 * len, 2) && r.U16(40 + 2 * len) != 0) ++len;
            for (char32_t c : DecodeUtf16(r.p + 40, len))
                if (c >= 0x20 && c != 0xFFFD) AppendUtf8(f.face, c);
            dc.SetObject(r.U32(8), std::move(o));
            break;
        }
        case emr::kCreatePalette: {
            GdiObject o;
            o.kind = GdiObject::kOther;
            dc.SetObject(r.U32(8), std::move(o));
            break;
        }
        case emr::kDeleteObject: dc.DeleteObject(r.U32(8)); break;
        case emr::kAngleArc: {
            const Pt c = PointAt(r, 8);
            pl_.AngleArc(c, double(r.U32(16)), r.F32(20), r.F32(24));
            break;
        }
        case emr::kEllipse: pl_.Ellipse(RectAt(r, 8)); break;
        case emr::kRectangle: pl_.Rectangle(RectAt(r, 8)); break;
        case emr::kRoundRect: pl_.RoundRect(RectAt(r, 8), r.S32(24), r.S32(28)); break;
        case emr::kArc:
        case emr::kChord:
        case emr::kPie:
        case emr::kArcTo:
            pl_.Arc(RectAt(r, 8), PointAt(r, 24), PointAt(r, 32),
                    type == emr::kArc     ? ArcKind::kArc
                    : type == emr::kChord ? ArcKind::kChord
                    : type == emr::kPie   ? ArcKind::kPie
                                          : ArcKind::kArcTo);
            break;
        case emr::kLineTo: pl_.LineTo(PointAt(r, 8)); break;
        case emr::kSetArcDirection: s.arcClockwise = r.U32(8) == 2; break;
        case emr::kBeginPath: pl_.BeginPath(); break;
        case emr::kEndPath: pl_.EndPath(); break;
        case emr::kCloseFigure: pl_.CloseFigure(); break;
        case emr::kFillPath: pl_.FillPath(); break;
        case emr::kStrokeAndFillPath: pl_.StrokeAndFillPath(); break;
        case emr::kStrokePath: pl_.StrokePath(); break;
        case emr::kSelectClipPath: pl_.SelectClipPath(r.S32(8)); break;
        case emr::kAbortPath: pl_.AbortPath(); break;
        case emr::kFillRgn: {
            const uint32_t ih = r.U32(28);
            Brush brush;
            if (ih & 0x80000000u) {
                const Brush keep = s.brush;
                if (!SelectStock(ih)) break;
                brush = s.brush;
                s.brush = keep;
            } else {
                const GdiObject* o = dc.Object(ih);
                if (!o || o->kind != GdiObject::kBrush) break;
                brush = o->brush;
            }
            pl_.FillRegion(RegionAt(r, 32, r.U32(24)), brush, true);
            break;
        }
        case emr::kPaintRgn: pl_.FillRegion(RegionAt(r, 28, r.U32(24)), s.brush, true); break;
        case emr::kExtSelectClipRgn: {
            const size_t cb = r.U32(8);
            const int mode = r.S32(12);
            if (cb == 0) {
                if (mode == 5) dc.ResetClip();
                break;
            }
            pl_.ClipRegion(RegionAt(r, 16, cb), mode, false);
            break;
        }
        case emr::kBitBlt:
        case emr::kStretchBlt: {
            const double x = r.S32(24), y = r.S32(28), cx = r.S32(32), cy = r.S32(36);
            const uint32_t rop = r.U32(40);
            if (r.U32(88) == 0) {
                pl_.Blit(x, y, cx, cy, nullptr, 0, 0, 0, 0, rop);
                break;
            }
            const bool stretch = type == emr::kStretchBlt;
            const double sw = stretch ? r.S32(100) : cx, sh = stretch ? r.S32(104) : cy;
            auto bmp = BitmapAt(r, r.U32(84), r.U32(88), r.U32(92), r.U32(96), r.U32(80));
            if (bmp) pl_.Blit(x, y, cx, cy, bmp.get(), r.S32(44), r.S32(48), sw, sh, rop);
            break;
        }
        case emr::kSetDiBitsToDevice:
        case emr::kStretchDiBits: {
            auto bmp = BitmapAt(r, r.U32(48), r.U32(52), r.U32(56), r.U32(60), r.U32(64));
            if (!bmp) break;
            const double sx = r.S32(32), sw = r.S32(40), sh = r.S32(44);
            const bool topDown = r.Has(r.U32(48), 12) && r.U32(r.U32(48)) >= 40 &&
                                 r.S32(r.U32(48) + 8) < 0;
            const double sy = DibSourceTop(bmp->height, topDown, r.S32(36), sh);
            const bool stretch = type == emr::kStretchDiBits;
            const double dw = stretch ? r.S32(72) : sw, dh = stretch ? r.S32(76) : sh;
            pl_.Blit(r.S32(24), r.S32(28), dw, dh, bmp.get(), sx, sy, sw, sh,
                     stretch ? r.U32(68) : 0x00CC0020);
            break;
        }
        case emr::kExtTextOutA: TextW(r, false); break;
        case emr::kExtTextOutW: TextW(r, true); break;
        case emr::kSmallTextOut: SmallText(r); break;
        default: break;  // records without a drawing effect here are skipped
    }
}

}  // namespace

void PlayEmf(Player& player, const uint8_t* data, size_t size, int width, int height) {
    EmfReader(player, data, size).Play(width, height);
}

}  // namespace vx::mf
