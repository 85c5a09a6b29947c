#include "codecs/png/deflate_join.h"

#include <cstring>

namespace vx::png {

namespace {

constexpr int kMaxBits = 15;

// Least significant bit first, as deflate packs its bits. Reading past the
// end yields zeros; Refill fails once the walk is clearly beyond the data.
class BitReader {
public:
    BitReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    // At least 56 bits in the buffer afterwards.
    bool Refill() {
        if (pos_ <= size_ && size_ - pos_ >= 8) {
            uint64_t v;
            std::memcpy(&v, data_ + pos_, 8);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
            v = __builtin_bswap64(v);
#endif
            buf_ |= v << count_;
            pos_ += (63 - count_) >> 3;
            count_ |= 56;
            return true;
        }
        while (count_ <= 56) {
            const uint64_t byte = pos_ < size_ ? data_[pos_] : 0;
            buf_ |= byte << count_;
            ++pos_;
            count_ += 8;
        }
        return pos_ <= size_ + 16;
    }
    uint32_t Peek(unsigned n) const { return uint32_t(buf_ & ((uint64_t(1) << n) - 1)); }
    uint64_t Window() const { return buf_; }
    void Drop(unsigned n) {
        buf_ >>= n;
        count_ -= n;
    }
    uint32_t Take(unsigned n) {
        const uint32_t v = Peek(n);
        Drop(n);
        return v;
    }
    size_t BitPosition() const { return pos_ * 8 - count_; }
    // Continues at byte `at` with an empty buffer.
    void Restart(size_t at) {
        pos_ = at;
        buf_ = 0;
        count_ = 0;
    }

private:
    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
    uint64_t buf_ = 0;
    unsigned count_ = 0;
};

// A canonical Huffman code: codes up to kFastBits long resolve in one table
// look-up; longer (rare) ones are counted out bit by bit.
class HuffmanCode {
public:
    static constexpr unsigned kFastBits = 11;

    bool Build(const uint8_t* lengths, unsigned n) {
        std::memset(count_, 0, sizeof(count_));
        for (unsigned s = 0; s < n; ++s) ++count_[lengths[s]];
        int left = 1;
        for (int len = 1; len <= kMaxBits; ++len) {
            left = 2 * left - count_[len];
            if (left < 0) return false;  // more codes than the lengths allow
        }
        uint16_t offset[kMaxBits + 2] = {};
        uint32_t next[kMaxBits + 2] = {};
        uint32_t code = 0;
        for (int len = 1; len <= kMaxBits; ++len) {
            offset[len + 1] = uint16_t(offset[len] + count_[len]);
            code = (code + (len > 1 ? count_[len - 1] : 0)) << 1;
            next[len] = code;
        }
        std::memset(fast_, 0, sizeof(fast_));
        for (unsigned s = 0; s < n; ++s) {
            const unsigned len = lengths[s];
            if (len == 0) continue;
            sorted_[offset[len]++] = uint16_t(s);
            const uint32_t c = next[len]++;
            if (len > kFastBits) continue;
            uint32_t reversed = 0;
            for (unsigned b = 0; b < len; ++b) reversed |= ((c >> b) & 1) << (len - 1 - b);
            for (uint32_t j = reversed; j < (1u << kFastBits); j += 1u << len)
                fast_[j] = uint16_t((s << 4) | len);
        }
        return true;
    }

    // The next symbol, or -1 for a bit pattern that is no code. The reader
    // must hold at least 15 bits.
    int Decode(BitReader& in) const {
        const uint16_t e = fast_[in.Peek(kFastBits)];
        if (e != 0) {
            in.Drop(e & 15);
            return e >> 4;
        }
        uint64_t bits = in.Window();
        int code = 0, first = 0, index = 0;
        for (int len = 1; len <= kMaxBits; ++len) {
            code |= int(bits & 1);
            bits >>= 1;
            const int n = count_[len];
            if (code - first < n) {
                in.Drop(unsigned(len));
                return sorted_[index + code - first];
            }
            index += n;
            first = (first + n) << 1;
            code <<= 1;
        }
        return -1;
    }

private:
    uint16_t fast_[1u << kFastBits];
    uint16_t count_[kMaxBits + 1];
    uint16_t sorted_[288];
};

constexpr uint8_t kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                      2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr uint8_t kDistanceExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                        6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
constexpr uint8_t kLengthOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

// Skips the symbols of one Huffman-coded block up to its end-of-block code.
bool SkipSymbols(BitReader& in, const HuffmanCode& lit, const HuffmanCode& dist) {
    for (;;) {
        // 56 bits hold three literal codes; most symbols in image data are literals.
        if (!in.Refill()) return false;
        int sym = lit.Decode(in);
        if (unsigned(sym) < 256) {
            sym = lit.Decode(in);
            if (unsigned(sym) < 256) {
                sym = lit.Decode(in);
                if (unsigned(sym) < 256) continue;
            }
        }
        if (sym == 256) return true;
        if (sym < 0 || sym > 285) return false;
        // And then a length's extra bits, a distance code and its extra bits.
        if (!in.Refill()) return false;
        in.Drop(kLengthExtra[sym - 257]);
        const int d = dist.Decode(in);
        if (d < 0 || d >= 30) return false;
        in.Drop(kDistanceExtra[d]);
    }
}

bool ReadDynamicCodes(BitReader& in, HuffmanCode& lit, HuffmanCode& dist) {
    if (!in.Refill()) return false;
    const unsigned nlit = in.Take(5) + 257, ndist = in.Take(5) + 1, ncode = in.Take(4) + 4;
    if (nlit > 286 || ndist > 30) return false;
    uint8_t lengths[286 + 30] = {};
    for (unsigned i = 0; i < ncode; ++i) {
        if (!in.Refill()) return false;
        lengths[kLengthOrder[i]] = uint8_t(in.Take(3));
    }
    HuffmanCode lengthCode;
    if (!lengthCode.Build(lengths, 19)) return false;
    std::memset(lengths, 0, 19);
    for (unsigned i = 0; i < nlit + ndist;) {
        if (!in.Refill()) return false;
        const int sym = lengthCode.Decode(in);
        if (sym < 0) return false;
        if (sym < 16) {
            lengths[i++] = uint8_t(sym);
            continue;
        }
        uint8_t value = 0;
        unsigned repeat;
        if (sym == 16) {
            if (i == 0) return false;
            value = lengths[i - 1];
            repeat = 3 + in.Take(2);
        } else if (sym == 17) {
            repeat = 3 + in.Take(3);
        } else {
            repeat = 11 + in.Take(7);
        }
        if (i + repeat > nlit + ndist) return false;
        while (repeat--) lengths[i++] = value;
    }
    if (lengths[256] == 0) return false;  // no end-of-block code
    return lit.Build(lengths, nlit) && dist.Build(lengths + nlit, ndist);
}

void FixedCodes(HuffmanCode& lit, HuffmanCode& dist) {
    uint8_t lengths[288];
    std::memset(lengths, 8, 144);
    std::memset(lengths + 144, 9, 112);
    std::memset(lengths + 256, 7, 24);
    std::memset(lengths + 280, 8, 8);
    lit.Build(lengths, 288);
    std::memset(lengths, 5, 30);
    dist.Build(lengths, 30);
}

}  // namespace

std::optional<DeflateEnd> WalkDeflate(const uint8_t* data, size_t size) {
    BitReader in(data, size);
    HuffmanCode lit, dist;
    for (;;) {
        const size_t header = in.BitPosition();
        if (!in.Refill()) return std::nullopt;
        const bool final = in.Take(1) != 0;
        const unsigned type = in.Take(2);
        if (type == 0) {
            const size_t at = (in.BitPosition() + 7) / 8;
            if (at + 4 > size) return std::nullopt;
            const unsigned len = data[at] | unsigned(data[at + 1]) << 8;
            const unsigned nlen = data[at + 2] | unsigned(data[at + 3]) << 8;
            if ((len ^ nlen) != 0xFFFF || at + 4 + len > size) return std::nullopt;
            in.Restart(at + 4 + len);
        } else if (type == 1 || type == 2) {
            if (type == 1) FixedCodes(lit, dist);
            else if (!ReadDynamicCodes(in, lit, dist)) return std::nullopt;
            if (!SkipSymbols(in, lit, dist)) return std::nullopt;
        } else {
            return std::nullopt;
        }
        if (in.BitPosition() > size * 8) return std::nullopt;
        if (final) return DeflateEnd{header, in.BitPosition()};
    }
}

size_t MakeJoinable(uint8_t* data, size_t size) {
    const std::optional<DeflateEnd> end = WalkDeflate(data, size);
    if (!end) return 0;
    data[end->finalHeaderBit / 8] &= uint8_t(~(1u << (end->finalHeaderBit % 8)));
    size_t n = (end->endBit + 7) / 8;
    const unsigned used = unsigned(end->endBit % 8);
    if (used) data[n - 1] &= uint8_t((1u << used) - 1);
    // The next block header (not final, stored) takes three zero bits: the
    // padding of the last byte when it has three, else one more zero byte.
    // The stored block then starts on a byte boundary and holds nothing.
    const unsigned pad = used ? 8 - used : 0;
    if (pad < 3) data[n++] = 0;
    data[n++] = 0;
    data[n++] = 0;
    data[n++] = 0xFF;
    data[n++] = 0xFF;
    return n;
}

}  // namespace vx::png
