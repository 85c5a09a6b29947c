// The ISO box structure HEIF files are built of, read without trusting any
// size or count in it: what the checks run before libheif sees a file share.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vxheif {

inline constexpr uint32_t Tag(const char (&s)[5]) {
    return (uint32_t(uint8_t(s[0])) << 24) | (uint32_t(uint8_t(s[1])) << 16) |
           (uint32_t(uint8_t(s[2])) << 8) | uint32_t(uint8_t(s[3]));
}

// Big-endian fields of a byte range; a read past the end clears ok.
class Bytes {
public:
    Bytes(const uint8_t* p, size_t n) : p_(p), n_(n) {}
    uint64_t U(size_t bytes) {
        if (bytes > n_ - pos_) {
            ok_ = false;
            pos_ = n_;
            return 0;
        }
        uint64_t v = 0;
        for (size_t i = 0; i < bytes; ++i) v = (v << 8) | p_[pos_++];
        return v;
    }
    void Skip(size_t bytes) {
        if (bytes > n_ - pos_) {
            ok_ = false;
            pos_ = n_;
        } else {
            pos_ += bytes;
        }
    }
    bool ok() const { return ok_; }
    size_t pos() const { return pos_; }
    size_t left() const { return n_ - pos_; }
    const uint8_t* here() const { return p_ + pos_; }

private:
    const uint8_t* p_;
    size_t n_;
    size_t pos_ = 0;
    bool ok_ = true;
};

struct Box {
    uint32_t type = 0;
    const uint8_t* body = nullptr;
    size_t size = 0;
};

// The boxes directly inside a byte range; a malformed size ends the list.
inline std::vector<Box> Children(const uint8_t* p, size_t n) {
    std::vector<Box> out;
    Bytes b(p, n);
    while (b.left() >= 8) {
        const size_t start = b.pos();
        uint64_t size = b.U(4);
        const uint32_t type = uint32_t(b.U(4));
        if (size == 1) size = b.U(8);
        else if (size == 0) size = n - start;
        const size_t header = b.pos() - start;
        if (!b.ok() || size < header || size > n - start) break;
        out.push_back({type, p + start + header, size_t(size - header)});
        b.Skip(size_t(size - header));
    }
    return out;
}

inline const Box* Find(const std::vector<Box>& boxes, uint32_t type) {
    for (const Box& b : boxes)
        if (b.type == type) return &b;
    return nullptr;
}

// The boxes inside the file's top-level 'meta' box (none without one).
inline std::vector<Box> MetaChildren(const uint8_t* file, size_t size) {
    const std::vector<Box> top = Children(file, size);
    const Box* meta = Find(top, Tag("meta"));
    if (!meta || meta->size < 4) return {};
    return Children(meta->body + 4, meta->size - 4);
}

// An item from iinf, with where iloc places its first extent.
struct Item {
    uint32_t id = 0;
    uint32_t type = 0;
    int method = 0;  // 0: file offset, 1: inside idat
    uint64_t offset = 0;
    uint64_t length = 0;
    bool located = false;
};

inline void ReadItemInfo(const Box& iinf, std::vector<Item>& items) {
    Bytes b(iinf.body, iinf.size);
    const uint32_t version = uint32_t(b.U(1));
    b.Skip(3);
    b.Skip(version == 0 ? 2 : 4);
    if (!b.ok()) return;
    for (const Box& infe : Children(b.here(), b.left())) {
        if (infe.type != Tag("infe")) continue;
        Bytes e(infe.body, infe.size);
        const uint32_t v = uint32_t(e.U(1));
        e.Skip(3);
        Item item;
        item.id = uint32_t(e.U(v <= 2 ? 2 : 4));
        // Before version 2 an item has no type: it is never a picture.
        if (v >= 2) {
            e.Skip(2);
            item.type = uint32_t(e.U(4));
        }
        if (e.ok()) items.push_back(item);
    }
}

}  // namespace vxheif
