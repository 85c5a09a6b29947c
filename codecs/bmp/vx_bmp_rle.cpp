// Run-length bitmaps (RLE8, RLE4). Writes that would land outside the picture
// are dropped; the stream is consumed as the format describes either way. The
// data must say where it ends (end of bitmap) or reach the last row: a file cut
// short would otherwise pass for a picture with empty rows.
#include <algorithm>
#include <cstring>

#include "codecs/bmp/vx_bmp_codec.h"
#include "core/vx_codec.h"

namespace {

constexpr char kRleShort[] = "BMP run-length data ends before the last row";
constexpr char kRleOutside[] = "BMP run-length data runs past the edge of the picture";

void RequireLastRow(int64_t line, int64_t height) {
    if (line < height - 1) throw VxCodecFailure(kRleShort);
}

// What follows a zero count: end of line, end of bitmap, a move, or a run of
// absolute pixels. The first and the move are done here, on `line` and `x`.
enum : int32_t { kEndOfData = -2, kEndOfBitmap = -1, kMoved = 0 };
int32_t Escape(VxFile* file, int64_t& line, int64_t& x) {
    const int32_t escape = file->GetC();
    if (escape == 1) return kEndOfBitmap;
    if (escape < 0) return kEndOfData;
    if (escape == 0) {
        ++line;
        x = 0;
        return kMoved;
    }
    if (escape == 2) {
        const int32_t dx = file->GetC();
        const int32_t dy = file->GetC();
        if (dx < 0 || dy < 0) return kEndOfData;
        x += dx;
        line += dy;
        return kMoved;
    }
    return escape;  // absolute pixels
}

}  // namespace

void VxBmpCodec::DecodeRle8(VxFile* file) {
    const int64_t height = GetHeight();
    const int64_t stride = Info.EffWidth;
    uint8_t* base = GetBits(0);
    int64_t line = 0;
    int64_t column = 0;
    uint8_t buf[256];
    for (;;) {
        const int32_t count = file->GetC();
        if (count < 0) return RequireLastRow(line, height);
        if (count != 0) {
            const int32_t colour = file->GetC();
            if (colour < 0) return RequireLastRow(line, height);
            for (int32_t i = 0; i < count; ++i) {
                // A run past the row's end stops the picture there.
                if (column >= stride) return RequireLastRow(line, height);
                if (line < height) base[line * stride + column] = uint8_t(colour);
                ++column;
            }
            continue;
        }
        const int32_t escape = Escape(file, line, column);
        if (escape == kEndOfBitmap) return;
        if (escape == kEndOfData) return RequireLastRow(line, height);
        if (escape != kMoved) {
            const size_t got = file->Read(buf, 1, size_t(escape));
            if (got < size_t(escape)) return RequireLastRow(line, height);
            if (escape & 1) file->GetC();
            if (line < height && column < stride) {
                const int64_t n = std::min<int64_t>(escape, stride - column);
                std::memcpy(base + line * stride + column, buf, size_t(n));
            }
            column += escape;
        }
        if (line > height + 1) line = height + 1;  // keep the counter from running away
        if (column > stride + 256) column = stride + 256;
    }
}

// RLE4 counts in pixels: run pixels alternate the two nibbles of their byte
// starting with the high one, absolute pixels take the data nibbles in order,
// whatever the pixel's position in its byte.
void VxBmpCodec::DecodeRle4(VxFile* file) {
    const int64_t height = GetHeight();
    const int64_t width = GetWidth();
    const int64_t stride = Info.EffWidth;
    uint8_t* base = GetBits(0);
    int64_t line = 0;
    int64_t x = 0;
    // A run may fill the pad nibble of an odd row, nothing beyond it. The
    // bound on the byte column matters when a file pairs RLE4 with 1 bit.
    const int64_t rowEnd = (width + 1) & ~int64_t(1);
    auto store = [&](uint8_t nibble) {
        if (line >= height || x >= rowEnd) throw VxCodecFailure(kRleOutside);
        if (x < width && (x >> 1) < stride) {
            uint8_t& b = base[line * stride + (x >> 1)];
            if (x & 1) b = uint8_t((b & 0xF0) | nibble);
            else b = uint8_t((b & 0x0F) | (nibble << 4));
        }
        ++x;
    };
    uint8_t buf[128];
    for (;;) {
        const int32_t count = file->GetC();
        if (count < 0) return RequireLastRow(line, height);
        if (count != 0) {
            const int32_t c = file->GetC();
            if (c < 0) return RequireLastRow(line, height);
            for (int32_t i = 0; i < count; ++i) store(uint8_t((i & 1) ? (c & 0x0F) : (c >> 4)));
        } else {
            const int32_t escape = Escape(file, line, x);
            if (escape == kEndOfBitmap) return;
            if (escape == kEndOfData) return RequireLastRow(line, height);
            if (escape != kMoved) {
                const size_t bytes = size_t(escape + 1) / 2;
                if (file->Read(buf, 1, bytes) < bytes) return RequireLastRow(line, height);
                for (int32_t i = 0; i < escape; ++i)
                    store(uint8_t((i & 1) ? (buf[i >> 1] & 0x0F) : (buf[i >> 1] >> 4)));
                if (bytes & 1) file->GetC();
            }
        }
        if (line > height + 1) line = height + 1;
        if (x > width + 256) x = width + 256;
    }
}
