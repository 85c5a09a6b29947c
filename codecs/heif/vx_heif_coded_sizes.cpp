#include "codecs/heif/vx_heif_coded_sizes.h"

#include <algorithm>

#include "codecs/heif/vx_heif_boxes.h"

namespace vxheif {

namespace {

// Bits, most significant first, as the HEVC and AV1 headers are written.
class Bits {
public:
    Bits(const uint8_t* p, size_t n) : p_(p), n_(n) {}
    uint32_t U(int bits) {
        uint32_t v = 0;
        for (int i = 0; i < bits; ++i) {
            if (pos_ >= n_ * 8) {
                ok_ = false;
                return 0;
            }
            v = (v << 1) | ((p_[pos_ / 8] >> (7 - pos_ % 8)) & 1u);
            ++pos_;
        }
        return v;
    }
    void Skip(int bits) {
        pos_ += size_t(bits);
        if (pos_ > n_ * 8) ok_ = false;
    }
    // Exp-Golomb (HEVC ue(v)); AV1's uvlc() is the same code.
    uint32_t Golomb() {
        int zeros = 0;
        while (U(1) == 0) {
            if (!ok_ || ++zeros > 31) {
                ok_ = false;
                return 0;
            }
        }
        return (uint32_t(1) << zeros) - 1 + U(zeros);
    }
    bool ok() const { return ok_; }

private:
    const uint8_t* p_;
    size_t n_;
    size_t pos_ = 0;
    bool ok_ = true;
};

void ReadLocations(const Box& iloc, std::vector<Item>& items) {
    Bytes b(iloc.body, iloc.size);
    const uint32_t version = uint32_t(b.U(1));
    b.Skip(3);
    const uint32_t sizes = uint32_t(b.U(2));
    const size_t offsetSize = sizes >> 12, lengthSize = (sizes >> 8) & 15, baseSize = (sizes >> 4) & 15;
    const size_t indexSize = version >= 1 ? (sizes & 15) : 0;
    const uint32_t count = uint32_t(b.U(version < 2 ? 2 : 4));
    for (uint32_t i = 0; i < count && b.ok(); ++i) {
        const uint32_t id = uint32_t(b.U(version < 2 ? 2 : 4));
        const int method = version >= 1 ? int(b.U(2) & 15) : 0;
        b.Skip(2);
        const uint64_t base = b.U(baseSize);
        const uint32_t extents = uint32_t(b.U(2));
        uint64_t offset = 0, length = 0;
        for (uint32_t e = 0; e < extents && b.ok(); ++e) {
            b.Skip(indexSize);
            const uint64_t o = b.U(offsetSize), l = b.U(lengthSize);
            if (e == 0) offset = o, length = l;
        }
        if (!b.ok() || extents == 0) break;
        for (Item& item : items)
            if (item.id == id) {
                item.method = method;
                item.offset = base + offset;
                item.length = length;
                item.located = true;
            }
    }
}

// Property index (1-based, into ipco) of the first property of `type` that
// ipma gives the item.
const Box* PropertyOf(uint32_t id, uint32_t type, const std::vector<Box>& ipco, const Box* ipma) {
    if (!ipma) return nullptr;
    Bytes b(ipma->body, ipma->size);
    const uint32_t version = uint32_t(b.U(1));
    const uint32_t flags = uint32_t(b.U(3));
    const uint32_t entries = uint32_t(b.U(4));
    for (uint32_t i = 0; i < entries && b.ok(); ++i) {
        const uint32_t item = uint32_t(b.U(version < 1 ? 2 : 4));
        const uint32_t n = uint32_t(b.U(1));
        for (uint32_t k = 0; k < n && b.ok(); ++k) {
            const uint32_t index = (flags & 1) ? uint32_t(b.U(2) & 0x7FFF) : uint32_t(b.U(1) & 0x7F);
            if (item == id && index >= 1 && index <= ipco.size() && ipco[index - 1].type == type)
                return &ipco[index - 1];
        }
    }
    return nullptr;
}

bool SpsSize(const uint8_t* nal, size_t n, CodedSize& out) {
    // Drop the two-byte NAL header and the emulation prevention bytes.
    std::vector<uint8_t> rbsp;
    for (size_t i = 2; i < n && rbsp.size() < 256; ++i) {
        if (i >= 4 && nal[i] == 3 && nal[i - 1] == 0 && nal[i - 2] == 0) continue;
        rbsp.push_back(nal[i]);
    }
    Bits b(rbsp.data(), rbsp.size());
    b.Skip(4);
    const int subLayers = int(b.U(3));
    b.Skip(1 + 88 + 8);
    bool profile[8] = {}, level[8] = {};
    for (int i = 0; i < subLayers; ++i) {
        profile[i] = b.U(1) != 0;
        level[i] = b.U(1) != 0;
    }
    if (subLayers > 0) b.Skip(2 * (8 - subLayers));
    for (int i = 0; i < subLayers; ++i) b.Skip((profile[i] ? 88 : 0) + (level[i] ? 8 : 0));
    b.Golomb();
    if (b.Golomb() == 3) b.Skip(1);
    out.width = b.Golomb();
    out.height = b.Golomb();
    return b.ok() && out.width > 0 && out.height > 0;
}

bool HevcSize(const Box& hvcc, CodedSize& out) {
    Bytes b(hvcc.body, hvcc.size);
    b.Skip(22);
    const uint32_t arrays = uint32_t(b.U(1));
    for (uint32_t a = 0; a < arrays && b.ok(); ++a) {
        const uint32_t nalType = uint32_t(b.U(1) & 0x3F);
        const uint32_t nalus = uint32_t(b.U(2));
        for (uint32_t k = 0; k < nalus && b.ok(); ++k) {
            const size_t len = size_t(b.U(2));
            if (len > b.left()) return false;
            if (nalType == 33 && SpsSize(b.here(), len, out)) return true;
            b.Skip(len);
        }
    }
    return false;
}

bool SequenceHeaderSize(const uint8_t* p, size_t n, CodedSize& out) {
    Bits b(p, n);
    b.Skip(3 + 1);
    if (b.U(1)) {  // reduced still picture header
        b.Skip(5);
    } else {
        bool decoderModel = false;
        int delayBits = 0;
        if (b.U(1)) {  // timing info
            b.Skip(64);
            if (b.U(1)) b.Golomb();
            decoderModel = b.U(1) != 0;
            if (decoderModel) {
                delayBits = int(b.U(5)) + 1;
                b.Skip(32 + 5 + 5);
            }
        }
        const bool displayDelay = b.U(1) != 0;
        const int points = int(b.U(5)) + 1;
        for (int i = 0; i < points && b.ok(); ++i) {
            b.Skip(12);
            if (b.U(5) > 7) b.Skip(1);
            if (decoderModel && b.U(1)) b.Skip(2 * delayBits + 1);
            if (displayDelay && b.U(1)) b.Skip(4);
        }
    }
    const int wBits = int(b.U(4)) + 1, hBits = int(b.U(4)) + 1;
    out.width = b.U(wBits) + 1;
    out.height = b.U(hBits) + 1;
    return b.ok();
}

// The first sequence header among the OBUs of a range.
bool Av1Size(const uint8_t* p, size_t n, CodedSize& out) {
    Bytes b(p, n);
    while (b.left() > 0 && b.ok()) {
        const uint32_t header = uint32_t(b.U(1));
        const uint32_t type = (header >> 3) & 15;
        if (header & 4) b.Skip(1);
        uint64_t size = b.left();
        if (header & 2) {
            size = 0;
            for (int i = 0; i < 8; ++i) {
                const uint64_t byte = b.U(1);
                size |= (byte & 0x7F) << (7 * i);
                if (!(byte & 0x80)) break;
            }
        }
        if (!b.ok() || size > b.left()) return false;
        if (type == 1) return SequenceHeaderSize(b.here(), size_t(size), out);
        b.Skip(size_t(size));
    }
    return false;
}

// Canvas of a grid ('grid') or overlay ('iovl') item from its data.
bool CanvasSize(uint32_t type, const uint8_t* p, size_t n, CodedSize& out) {
    Bytes b(p, n);
    b.Skip(1);
    const bool wide = (b.U(1) & 1) != 0;
    b.Skip(type == Tag("grid") ? 2 : 8);
    out.width = uint32_t(b.U(wide ? 4 : 2));
    out.height = uint32_t(b.U(wide ? 4 : 2));
    return b.ok();
}

}  // namespace

bool ReadCodedSizes(const uint8_t* file, size_t size, std::vector<CodedSize>& out) {
    out.clear();
    const std::vector<Box> inMeta = MetaChildren(file, size);
    if (inMeta.empty()) return true;  // libheif refuses such a file itself
    std::vector<Item> items;
    if (const Box* iinf = Find(inMeta, Tag("iinf"))) ReadItemInfo(*iinf, items);
    if (const Box* iloc = Find(inMeta, Tag("iloc"))) ReadLocations(*iloc, items);
    const Box* idat = Find(inMeta, Tag("idat"));
    std::vector<Box> ipco;
    Box ipmaBox;
    const Box* ipma = nullptr;
    if (const Box* iprp = Find(inMeta, Tag("iprp"))) {
        const std::vector<Box> inIprp = Children(iprp->body, iprp->size);
        if (const Box* c = Find(inIprp, Tag("ipco"))) ipco = Children(c->body, c->size);
        if (const Box* m = Find(inIprp, Tag("ipma"))) {
            ipmaBox = *m;
            ipma = &ipmaBox;
        }
    }
    for (const Item& item : items) {
        const bool hevc = item.type == Tag("hvc1"), av1 = item.type == Tag("av01");
        const bool canvas = item.type == Tag("grid") || item.type == Tag("iovl");
        if (!hevc && !av1 && !canvas) continue;
        // The item's first extent, where its configuration or canvas begins.
        const uint8_t* data = nullptr;
        size_t length = 0;
        if (item.located) {
            const uint8_t* base = item.method == 1 && idat ? idat->body : file;
            const size_t limit = item.method == 1 && idat ? idat->size : size;
            if (item.method <= 1 && item.offset < limit) {
                data = base + item.offset;
                length = item.length == 0 ? limit - size_t(item.offset)
                                          : size_t(std::min<uint64_t>(item.length, limit - item.offset));
            }
        }
        CodedSize s;
        bool found = false;
        if (hevc) {
            const Box* hvcc = PropertyOf(item.id, Tag("hvcC"), ipco, ipma);
            found = hvcc && HevcSize(*hvcc, s);
            s.coded = true;
            s.grey = hvcc && hvcc->size > 16 && (hvcc->body[16] & 3) == 0;
        } else if (av1) {
            const Box* av1c = PropertyOf(item.id, Tag("av1C"), ipco, ipma);
            found = (av1c && av1c->size > 4 && Av1Size(av1c->body + 4, av1c->size - 4, s)) ||
                    (data && Av1Size(data, length, s));
            s.coded = true;
            s.grey = av1c && av1c->size > 2 && (av1c->body[2] & 0x10) != 0;
            const Box* op = PropertyOf(item.id, Tag("a1op"), ipco, ipma);
            const Box* layer = PropertyOf(item.id, Tag("lsel"), ipco, ipma);
            s.partLayer = (op && op->size >= 1 && op->body[0] != 0) ||
                          (layer && layer->size >= 2 && (layer->body[0] != 0xFF || layer->body[1] != 0xFF));
        } else {
            found = data && CanvasSize(item.type, data, length, s);
        }
        if (!found) return false;
        out.push_back(s);
    }
    return true;
}

}  // namespace vxheif
