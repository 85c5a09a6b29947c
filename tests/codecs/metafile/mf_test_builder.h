// Metafiles built record by record for the tests.
#pragma once

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

namespace mft {

using Bytes = std::vector<uint8_t>;

inline void Put16(Bytes& b, uint32_t v) {
    b.push_back(uint8_t(v));
    b.push_back(uint8_t(v >> 8));
}
inline void Put32(Bytes& b, uint32_t v) {
    Put16(b, v & 0xFFFF);
    Put16(b, v >> 16);
}
inline void PutF(Bytes& b, float f) {
    uint32_t v;
    std::memcpy(&v, &f, 4);
    Put32(b, v);
}
inline uint32_t Rgb(uint8_t r, uint8_t g, uint8_t b) { return r | (g << 8) | (uint32_t(b) << 16); }

// A 24-bit DIB (header and bits), rows given top to bottom as 0xRRGGBB.
inline Bytes Dib24(int w, int h, const std::vector<uint32_t>& topDown) {
    Bytes b;
    const int stride = (w * 3 + 3) & ~3;
    Put32(b, 40);
    Put32(b, uint32_t(w));
    Put32(b, uint32_t(h));
    Put16(b, 1);
    Put16(b, 24);
    Put32(b, 0);
    Put32(b, uint32_t(stride * h));
    for (int i = 0; i < 4; ++i) Put32(b, 0);
    for (int y = h - 1; y >= 0; --y) {
        for (int x = 0; x < w; ++x) {
            const uint32_t c = topDown[size_t(y * w + x)];
            b.push_back(uint8_t(c));
            b.push_back(uint8_t(c >> 8));
            b.push_back(uint8_t(c >> 16));
        }
        for (int p = w * 3; p < stride; ++p) b.push_back(0);
    }
    return b;
}

class Wmf {
public:
    // Parameters as 16-bit words in record order.
    Wmf& Rec(uint16_t fn, std::initializer_list<int32_t> words, const Bytes& tail = {}) {
        Bytes payload;
        for (int32_t w : words) Put16(payload, uint32_t(w) & 0xFFFF);
        payload.insert(payload.end(), tail.begin(), tail.end());
        if (payload.size() % 2) payload.push_back(0);
        Put32(recs_, uint32_t(3 + payload.size() / 2));
        Put16(recs_, fn);
        recs_.insert(recs_.end(), payload.begin(), payload.end());
        return *this;
    }
    Wmf& Raw(const Bytes& bytes) {
        recs_.insert(recs_.end(), bytes.begin(), bytes.end());
        return *this;
    }
    Wmf& Pen(int style, int width, uint32_t color) {
        return Rec(0x02FA, {style, width, 0, int32_t(color & 0xFFFF), int32_t(color >> 16)});
    }
    Wmf& Brush(int style, uint32_t color, int hatch = 0) {
        return Rec(0x02FC, {style, int32_t(color & 0xFFFF), int32_t(color >> 16), hatch});
    }
    Wmf& Font(int height, const std::string& face, int charset = 0) {
        Bytes tail;
        for (int v : {height, 0, 0, 0, 400}) Put16(tail, uint32_t(v) & 0xFFFF);
        for (int v : {0, 0, 0, charset, 0, 0, 0, 0}) tail.push_back(uint8_t(v));
        std::string name = face;
        name.resize(32, '\0');
        tail.insert(tail.end(), name.begin(), name.end());
        return Rec(0x02FB, {}, tail);
    }
    Wmf& Select(int i) { return Rec(0x012D, {i}); }
    Wmf& Rectangle(int l, int t, int r, int b) { return Rec(0x041B, {b, r, t, l}); }
    Wmf& Ellipse(int l, int t, int r, int b) { return Rec(0x0418, {b, r, t, l}); }
    Wmf& TextColor(uint32_t c) { return Rec(0x0209, {int32_t(c & 0xFFFF), int32_t(c >> 16)}); }
    Wmf& TextOut(int x, int y, const std::string& s) {
        Bytes tail(s.begin(), s.end());
        if (tail.size() % 2) tail.push_back(0);
        Put16(tail, uint32_t(y) & 0xFFFF);
        Put16(tail, uint32_t(x) & 0xFFFF);
        return Rec(0x0521, {int32_t(s.size())}, tail);
    }
    Wmf& Poly(uint16_t fn, std::initializer_list<std::pair<int, int>> pts) {
        Bytes tail;
        for (auto [x, y] : pts) {
            Put16(tail, uint32_t(x) & 0xFFFF);
            Put16(tail, uint32_t(y) & 0xFFFF);
        }
        return Rec(fn, {int32_t(pts.size())}, tail);
    }

    // Placeable header with the box and units per inch, then the metafile.
    Bytes Build(int16_t l, int16_t t, int16_t r, int16_t b, uint16_t upi, uint16_t objects = 16,
                bool eof = true) const {
        Bytes recs = recs_;
        if (eof) {
            Put32(recs, 3);
            Put16(recs, 0);
        }
        Bytes out;
        Put32(out, 0x9AC6CDD7);
        Put16(out, 0);
        for (int16_t v : {l, t, r, b}) Put16(out, uint16_t(v));
        Put16(out, upi);
        Put32(out, 0);
        uint16_t sum = 0;
        for (int i = 0; i < 10; ++i) sum ^= uint16_t(out[2 * i] | (out[2 * i + 1] << 8));
        Put16(out, sum);
        Put16(out, 1);
        Put16(out, 9);
        Put16(out, 0x300);
        Put32(out, uint32_t((18 + recs.size()) / 2));
        Put16(out, objects);
        Put32(out, 0);
        Put16(out, 0);
        out.insert(out.end(), recs.begin(), recs.end());
        return out;
    }

private:
    Bytes recs_;
};

class Emf {
public:
    Emf& Rec(uint32_t type, std::initializer_list<int32_t> ints, const Bytes& tail = {}) {
        Bytes payload;
        for (int32_t v : ints) Put32(payload, uint32_t(v));
        payload.insert(payload.end(), tail.begin(), tail.end());
        while (payload.size() % 4) payload.push_back(0);
        Put32(recs_, type);
        Put32(recs_, uint32_t(8 + payload.size()));
        recs_.insert(recs_.end(), payload.begin(), payload.end());
        ++count_;
        return *this;
    }
    Emf& Pen(int ih, int style, int width, uint32_t color) {
        return Rec(38, {ih, style, width, 0, int32_t(color)});
    }
    Emf& Brush(int ih, int style, uint32_t color, int hatch = 0) {
        return Rec(39, {ih, style, int32_t(color), hatch});
    }
    Emf& Select(uint32_t ih) { return Rec(37, {int32_t(ih)}); }
    Emf& Rectangle(int l, int t, int r, int b) { return Rec(43, {l, t, r, b}); }
    Emf& Ellipse(int l, int t, int r, int b) { return Rec(42, {l, t, r, b}); }
    Emf& Points(uint32_t type, std::initializer_list<std::pair<int, int>> pts) {
        Bytes tail;
        for (int v : {0, 0, -1, -1}) Put32(tail, uint32_t(v));
        Put32(tail, uint32_t(pts.size()));
        for (auto [x, y] : pts) {
            Put32(tail, uint32_t(x));
            Put32(tail, uint32_t(y));
        }
        return Rec(type, {}, tail);
    }
    Emf& Font(int ih, int height, const std::u16string& face) {
        Bytes tail;
        for (int v : {ih, height, 0, 0, 0, 400}) Put32(tail, uint32_t(v));
        for (int v : {0, 0, 0, 1, 0, 0, 0, 0}) tail.push_back(uint8_t(v));
        for (size_t i = 0; i < 32; ++i) Put16(tail, i < face.size() ? face[i] : 0);
        return Rec(82, {}, tail);
    }
    Emf& TextW(int x, int y, const std::u16string& s, uint32_t options = 0) {
        Bytes tail;
        for (int v : {0, 0, -1, -1, 1}) Put32(tail, uint32_t(v));
        PutF(tail, 1);
        PutF(tail, 1);
        for (int v : {x, y, int(s.size()), 76, int(options), 0, 0, 0, 0, 0}) Put32(tail, uint32_t(v));
        for (char16_t c : s) Put16(tail, c);
        return Rec(84, {}, tail);
    }
    // `header`: the bytes of the DIB's info header with its colour table or masks.
    Emf& StretchDIBits(int x, int y, int w, int h, int sx, int sy, int sw, int sh, const Bytes& dib,
                       uint32_t rop = 0x00CC0020, int header = 40) {
        Bytes tail;
        for (int v : {0, 0, -1, -1, x, y, sx, sy, sw, sh, 80, header, 80 + header,
                      int(dib.size()) - header, 0, int(rop), w, h})
            Put32(tail, uint32_t(v));
        tail.insert(tail.end(), dib.begin(), dib.end());
        return Rec(81, {}, tail);
    }

    // Bounds in pixels of a 96-dpi reference device; the frame matches them.
    Bytes Build(int l, int t, int r, int b, uint16_t handles = 16) const {
        Bytes recs = recs_;
        Put32(recs, 14);
        Put32(recs, 20);
        Put32(recs, 0);
        Put32(recs, 16);
        Put32(recs, 20);
        Bytes out;
        Put32(out, 1);
        Put32(out, 88);
        for (int v : {l, t, r, b}) Put32(out, uint32_t(v));
        for (int v : {l, t, r, b}) Put32(out, uint32_t(v * 2540 / 96));
        Put32(out, 0x464D4520);
        Put32(out, 0x10000);
        Put32(out, uint32_t(88 + recs.size()));
        Put32(out, count_ + 2);
        Put16(out, handles);
        Put16(out, 0);
        for (int i = 0; i < 3; ++i) Put32(out, 0);
        for (int v : {960, 960, 254, 254}) Put32(out, uint32_t(v));
        out.insert(out.end(), recs.begin(), recs.end());
        return out;
    }

private:
    Bytes recs_;
    uint32_t count_ = 0;
};

}  // namespace mft
