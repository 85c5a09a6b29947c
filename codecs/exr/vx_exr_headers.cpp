#include "codecs/exr/vx_exr_headers.h"

#include <algorithm>
#include <cstring>
#include <string_view>
#include <utility>

namespace vx::exr {
namespace {

constexpr const char kPastEnd[] = "EXR: a header attribute runs past the end of the file";
constexpr const char kBadSize[] = "EXR: a header attribute's size does not match its type";
constexpr const char kBadTiles[] = "EXR: a bad tile description";
// The library reads 4 bytes more of an ID manifest than it declares.
constexpr const char kIdManifest[] = "EXR: an ID manifest attribute, which the library misreads";
constexpr const char kTooManyPieces[] = "EXR: the header declares more pieces than the file holds";
// The library reads a name up to 255 characters and then stops, ended or not.
constexpr size_t kLongestName = 254;

uint32_t U32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// What the library reads of a value of a fixed-size type, whatever the
// attribute declares; 0 for types read by their declared size or their content.
size_t FixedSize(std::string_view type) {
    static constexpr std::pair<std::string_view, size_t> kSizes[] = {
        {"box2i", 16}, {"box2f", 16}, {"chromaticities", 32}, {"compression", 1}, {"deepImageState", 1},
        {"double", 8}, {"envmap", 1},  {"float", 4},          {"int", 4},         {"keycode", 28},
        {"lineOrder", 1}, {"m33f", 36}, {"m33d", 72},         {"m44f", 64},       {"m44d", 128},
        {"rational", 8}, {"tiledesc", 9}, {"timecode", 8},    {"v2i", 8},         {"v2f", 8},
        {"v2d", 16},   {"v3i", 12},    {"v3f", 12},          {"v3d", 24}};
    for (const auto& [name, size] : kSizes)
        if (name == type) return size;
    return 0;
}

// The length of a name ending inside [p, p + n), or SIZE_MAX.
size_t NameLength(const uint8_t* p, size_t n) {
    const void* end = std::memchr(p, 0, std::min(n, kLongestName + 1));
    return end ? size_t(static_cast<const uint8_t*>(end) - p) : SIZE_MAX;
}

// A channel list is read entry by entry up to an empty name; `bytes` is the
// size of a pixel of all its channels.
bool ChannelList(const uint8_t* v, size_t n, uint64_t* bytes = nullptr) {
    uint64_t sum = 0;
    for (size_t at = 0;;) {
        const size_t len = NameLength(v + at, n - at);
        if (len == SIZE_MAX) return false;
        at += len + 1;
        if (len == 0) {
            if (bytes) *bytes = sum;
            return at == n;
        }
        if (n - at < 16) return false;  // type, linear, reserved, sampling
        sum += U32(v + at) == 1 ? 2 : 4;  // half, else 32-bit
        at += 16;
    }
}

// Each string is a length and its bytes; the library allocates the length.
bool StringVectorFits(const uint8_t* v, size_t n) {
    for (size_t at = 0; at < n;) {
        if (n - at < 4) return false;
        const uint32_t len = U32(v + at);
        at += 4;
        if (len > n - at) return false;
        at += len;
    }
    return true;
}

bool PreviewFits(const uint8_t* v, size_t n) {
    if (n < 8) return false;
    const uint64_t pixels = uint64_t(U32(v)) * U32(v + 4);
    return pixels <= (n - 8) / 4 && pixels * 4 == n - 8;
}

bool ValueFits(std::string_view type, const uint8_t* v, size_t n) {
    if (const size_t fixed = FixedSize(type)) return n == fixed;
    if (type == "chlist") return ChannelList(v, n);
    if (type == "stringvector") return StringVectorFits(v, n);
    if (type == "preview") return PreviewFits(v, n);
    if (type == "floatvector") return n % 4 == 0;
    return true;                              // string, opaque: read by the declared size
}

struct Part {
    bool hasWindow = false, tiled = false, hasTiles = false;
    int64_t width = 0, height = 0;
    uint8_t compression = 0, tileMode = 0;
    uint32_t tileWidth = 0, tileHeight = 0;
    int64_t declaredPieces = 0;  // the chunkCount of a part of several
    uint64_t pixelBytes = 0;     // all channels of a pixel
};

uint64_t LinesPerPiece(uint8_t compression) {
    switch (compression) {
    case 3: case 5: return 16;          // zip, pxr24
    case 4: case 6: case 7: case 8: return 32;  // piz, b44, b44a, dwaa
    case 9: return 256;                 // dwab
    default: return 1;
    }
}

uint64_t LevelSize(uint64_t size, uint32_t level, bool roundUp) {
    const uint64_t s = roundUp ? (size + (uint64_t(1) << level) - 1) >> level : size >> level;
    return std::max<uint64_t>(1, s);
}

uint32_t Levels(uint64_t size, bool roundUp) {
    uint32_t floorLog = 0;
    for (uint64_t s = size; s > 1; s >>= 1) ++floorLog;
    return floorLog + 1 + ((roundUp && (size & (size - 1))) ? 1 : 0);
}

// The offset table the library allocates for a part: one entry per piece.
// Negative when the tile description is not one the library reads.
double Pieces(const Part& p) {
    if (!p.hasWindow || p.width <= 0 || p.height <= 0) return 0;
    const uint64_t w = uint64_t(p.width), h = uint64_t(p.height);
    double n = 0;
    if (!p.tiled) {
        n = double((h + LinesPerPiece(p.compression) - 1) / LinesPerPiece(p.compression));
    } else {
        if (!p.hasTiles || p.tileWidth == 0 || p.tileHeight == 0 || (p.tileMode & 15) > 2 || (p.tileMode >> 4) > 1)
            return -1;
        const bool up = (p.tileMode >> 4) == 1;
        const auto across = [&](uint64_t size, uint64_t tile, uint32_t level) {
            return double((LevelSize(size, level, up) + tile - 1) / tile);
        };
        switch (p.tileMode & 15) {
        case 0: n = across(w, p.tileWidth, 0) * across(h, p.tileHeight, 0); break;
        case 1:
            for (uint32_t l = 0; l < Levels(std::max(w, h), up); ++l)
                n += across(w, p.tileWidth, l) * across(h, p.tileHeight, l);
            break;
        default: {
            double x = 0, y = 0;
            for (uint32_t l = 0; l < Levels(w, up); ++l) x += across(w, p.tileWidth, l);
            for (uint32_t l = 0; l < Levels(h, up); ++l) y += across(h, p.tileHeight, l);
            n = x * y;
        }
        }
    }
    return std::max(n, double(p.declaredPieces));
}

void Note(Part& part, std::string_view name, std::string_view type, const uint8_t* v, size_t n) {
    if (name == "dataWindow" && type == "box2i") {
        const auto at = [&](int i) { return int64_t(int32_t(U32(v + 4 * i))); };
        part.hasWindow = true;
        part.width = at(2) - at(0) + 1;
        part.height = at(3) - at(1) + 1;
    } else if (name == "channels" && type == "chlist") {
        ChannelList(v, n, &part.pixelBytes);
    } else if (name == "compression" && type == "compression") {
        part.compression = v[0];
    } else if (name == "tiles" && type == "tiledesc") {
        part.hasTiles = true;
        part.tileWidth = U32(v);
        part.tileHeight = U32(v + 4);
        part.tileMode = v[8];
    } else if (name == "type" && type == "string") {
        const std::string_view t(reinterpret_cast<const char*>(v), n);
        part.tiled = t == "tiledimage" || t == "deeptile";
    } else if (name == "chunkCount" && type == "int") {
        part.declaredPieces = int32_t(U32(v));
    }
}

}  // namespace

const char* CheckHeaders(const uint8_t* b, size_t size, HeaderFacts& facts) {
    facts = {};
    if (size < 8) return kPastEnd;
    const bool multipart = (b[5] & 0x10) != 0;  // version flag bit 12
    const bool singleTiled = (b[5] & 0x02) != 0;  // bit 9
    size_t at = 8;
    double pieces = 0;
    for (uint32_t headers = 0;; ++headers) {
        if (headers == 100000) return kTooManyPieces;
        Part part;
        part.tiled = !multipart && singleTiled;
        for (;;) {
            if (at >= size) return kPastEnd;
            const size_t nameLength = NameLength(b + at, size - at);
            if (nameLength == SIZE_MAX) return kPastEnd;
            if (nameLength == 0) {
                ++at;  // the end of this header
                break;
            }
            const std::string_view name(reinterpret_cast<const char*>(b + at), nameLength);
            at += nameLength + 1;
            const size_t typeLength = at < size ? NameLength(b + at, size - at) : SIZE_MAX;
            if (typeLength == SIZE_MAX) return kPastEnd;
            const std::string_view type(reinterpret_cast<const char*>(b + at), typeLength);
            at += typeLength + 1;
            if (size - at < 4) return kPastEnd;
            const uint32_t length = U32(b + at);
            at += 4;
            if (length > size - at) return kPastEnd;
            if (type == "idmanifest") return kIdManifest;
            if (!ValueFits(type, b + at, length)) return kBadSize;
            Note(part, name, type, b + at, length);
            at += length;
        }
        if (headers == 0) {
            facts.width = part.hasWindow ? part.width : 0;
            facts.height = part.hasWindow ? part.height : 0;
        }
        const double n = Pieces(part);
        if (n < 0) return kBadTiles;
        pieces += n;
        // The library holds a piece's pixels, every channel of them, at once.
        const double piecePixels = part.tiled ? double(part.tileWidth) * part.tileHeight
                                              : double(std::max<int64_t>(part.width, 0)) *
                                                    double(std::min<int64_t>(std::max<int64_t>(part.height, 0),
                                                                             int64_t(LinesPerPiece(part.compression))));
        facts.pieceBytes = std::max(facts.pieceBytes, piecePixels * double(part.pixelBytes));
        // Several parts: their headers end with an empty one.
        if (!multipart) break;
        if (at < size && b[at] == 0) {
            ++at;
            break;
        }
    }
    // Every piece has an 8-byte offset after the headers.
    if (pieces > double(size - std::min(at, size)) / 8) return kTooManyPieces;
    return nullptr;
}

}  // namespace vx::exr
